// kvcaps' own readers of a record: the summary and the page report, whose
// tables are well formed (every row as wide as its head).
#include "records/caps4_check.h"
#include "tests/fuzz/fuzz_exports.h"
#include "tools/kvcaps/page_report.h"

int FuzzInput(const uint8_t* data, size_t size) {
    static FILE* quiet = (stdout = std::fopen("/dev/null", "w"));
    (void)quiet;
    FuzzLog();
    // The tool reads only a record that passes the check.
    const std::vector<BYTE> record(data, data + size);
    if (!vlibPRINT_CheckCaps4(reinterpret_cast<const caps4*>(record.data()), size, nullptr, 0)) return 0;
    kvcaps::PrintSummary(record);
    QueryBuffers set{};
    if (!kvcaps::Unpack(record, &set)) return 0;
    const kvcaps::PageReport report = kvcaps::BuildPageReport(&set, L"P");
    for (const kvcaps::ReportTable& table : report.tables)
        for (const auto& row : table.rows) FUZZ_EXPECT(row.size() == table.head.size());
    vlibPRINT_FreeQueryBuffers(&set);
    return 0;
}
