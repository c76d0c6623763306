// The structural check of stored capability records: what the inspection
// tool and the end-to-end check rely on to refuse damaged or foreign bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "printer_fixture.h"
#include "records/caps4_check.h"

namespace {

using namespace printer_test;

std::string Why(const std::string& bytes) {
    WCHAR why[256] = {};
    const BOOL ok = vlibPRINT_CheckCaps4(bytes.data(), bytes.size(), why, 256);
    return (ok ? "ok: " : "") + testsupport::Narrow(why);
}

std::string With(std::string bytes, size_t offset, DWORD value) {
    std::memcpy(&bytes[offset], &value, 4);
    return bytes;
}

TEST(Caps4Check, SoundRecordsPassAndDamagedOrForeignOnesAreRefusedWithTheReason) {
    Env env;
    env.SetCacheMethod(2);
    env.fake.AddPrinter(L"Office").SetMedia({{DMMEDIA_STANDARD, L"Plain"}});
    CPrinter printer(nullptr, L"Office", 1, 0);
    printer.Query(1, nullptr, nullptr);
    const std::string record = Serialized(printer);
    Caps4Section s[kCaps4SectionCount];
    vlibPRINT_Caps4Sections(record.data(), s);
    const std::string size = std::to_string(record.size()), forms = std::to_string(s[13].offset);
    std::string bare(412, '\0');  // an empty printer: the header alone, every section at 412
    for (size_t at : {0, 4, 16, 60, 72, 92, 112, 124, 136, 160, 172, 184, 196, 208, 392}) bare = With(bare, at, 412);
    const std::pair<std::string, std::string> cases[] = {
        {record, "ok: ok"},
        {bare, "ok: ok"},
        {With(record, 400, 0), "ok: ok"},           // forms whose count dropped to 0 keep their space
        {With(With(bare, 20, 0), 24, 0xFFFFFFFF), "ok: ok"},  // a negative count with size 0 lists nothing
        {record.substr(0, 400), "400 bytes is shorter than the 412-byte record header"},
        {record.substr(0, record.size() - 1), "the record says it is " + size + " bytes long but " +
                                                   std::to_string(record.size() - 1) + " bytes are there"},
        {std::string(600, 'x'), "the first section is said to start at 2021161080 instead of 412 (not a capability record)"},
        {With(record, 408, 1), "dwEnd is 1 instead of 0"},
        {With(record, 400, 5), "the forms section holds 336 bytes, too few for 5 entries of 84 bytes"},  // two papers at two resolutions
        {With(record, 396, 0x7FFFFFF0), "the forms section (2147483632 bytes at " + forms + ") runs past the end of the record (" + size + " bytes)"},
        {With(record, 392, 0xFFFFFFF0), "the forms section (336 bytes at 4294967280) runs past the end of the record (" + size + " bytes)"},
        {With(record, 60, 16), "the resolutions section (16 bytes at 16) overlaps the record header"},
        {With(bare, 24, 1), "the bins section holds 0 bytes, too few for 1 entries of 2 bytes"},
        {With(record, 400, 0xFFFFFFFE), "the forms section holds 336 bytes but a negative count (-2)"},
    };
    for (const auto& c : cases) EXPECT_EQ(Why(c.first), c.second);
}

}  // namespace
