// kvcaps' own readers: the summary and the page report of a record, the
// info record summary, and the diff of two records. The top two bits of the
// input's first two bytes pick one of them (each unpacks and dumps the record
// anew: all of them took milliseconds per input), the other 14 give the
// length of the first file; the second file is the rest.
#include <unistd.h>

#include "records/caps4_check.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/kvcaps/kvcaps.h"
#include "tools/kvcaps/page_report.h"

namespace {

int Run(int (*command)(int, LPWSTR*), std::vector<std::wstring> args) {
    std::vector<LPWSTR> argv;
    for (std::wstring& arg : args) argv.push_back(arg.data());
    return command(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

int FuzzInput(const uint8_t* data, size_t size) {
    // What the tool prints goes nowhere; a broken property still reaches the log.
    static FILE* quiet = (stdout = stderr = std::fopen("/dev/null", "w"));
    (void)quiet;
    FuzzLog();
    const int command = size >= 2 ? Read<WORD>(data) >> 14 : 0;
    const size_t first = size >= 2 ? std::min<size_t>(Read<WORD>(data) & 0x3FFF, size - 2) : 0;
    const std::vector<BYTE> a(data + std::min<size_t>(size, 2), data + std::min<size_t>(size, 2) + first);
    fuzzFiles = {{L"a.kvp", a}, {L"b.kvp", std::vector<BYTE>(data + std::min<size_t>(size, 2) + first, data + size)}};

    // A record is the same as itself, and differs from another or not.
    if (command == 0) {
        const int same = Run(kvcaps::RunDiff, {L"kvcaps", L"--diff", L"a.kvp", L"a.kvp"});
        FUZZ_EXPECT(same == kvcaps::kOk || same == kvcaps::kDamaged);
    }
    if (command == 1) {
        const int other = Run(kvcaps::RunDiff, {L"kvcaps", L"--diff", L"--px", L"1", L"a.kvp", L"b.kvp"});
        FUZZ_EXPECT(other == kvcaps::kOk || other == kvcaps::kDifferent || other == kvcaps::kDamaged);
    }
    if (command == 2) Run(kvcaps::inforec::Run, {L"kvcaps", L"--full", L"--info", L"a.kvp"});
    if (command != 3) return 0;

    // The tool summarises only a record that passes the check.
    if (!vlibPRINT_CheckCaps4(reinterpret_cast<const caps4*>(a.data()), a.size(), nullptr, 0)) return 0;
    kvcaps::PrintSummary(a);
    QueryBuffers set{};
    if (!kvcaps::Unpack(a, &set)) return 0;
    const kvcaps::PageReport report = kvcaps::BuildPageReport(&set, L"P");
    for (const kvcaps::ReportTable& table : report.tables)
        for (const auto& row : table.rows) FUZZ_EXPECT(row.size() == table.head.size());
    vlibPRINT_FreeQueryBuffers(&set);
    return 0;
}
