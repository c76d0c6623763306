// Dependent files, N-up values, personalities and loaded papers: bare lists
// with their count and size handed back beside them.
#include <gtest/gtest.h>

#include "devcaps/named_lists.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using namespace devcaps_test;

using NamedQuery = void* (*)(LPCWSTR, LPCWSTR, const DEVMODEW*, DWORD*, DWORD*);
#define KV_ERASE(q) [](LPCWSTR d, LPCWSTR p, const DEVMODEW* m, DWORD* n, DWORD* s) -> void* { return q(d, p, m, n, s); }

TEST(DevCapsNamedLists, NullPrinterGivesEmptyListsAndMissingOutputsAreRefused) {
    const std::pair<NamedQuery, std::string> members[] = {
        {KV_ERASE(vlibPRINT_QueryDevCap_Files), "vlibPRINT_QueryDevCap_Files => DC_FILEDEPENDENCIES"},
        {KV_ERASE(vlibPRINT_QueryDevCap_NUP), "vlibPRINT_QueryDevCap_NUP => DC_NUP"},
        {KV_ERASE(vlibPRINT_QueryDevCap_Personality), "vlibPRINT_QueryDevCap_Personality => DC_PERSONALITY"},
        {KV_ERASE(vlibPRINT_QueryDevCap_MediaReady), "vlibPRINT_QueryDevCap_MediaReady => DC_MEDIAREADY"}};
    fake::FakePrintSystem fake;
    for (const auto& [query, firstLine] : members) {
        SCOPED_TRACE(firstLine);
        Trace trace;
        DWORD num = 7, size = 7;
        EXPECT_EQ(query(nullptr, L"FILE:", nullptr, &num, &size), nullptr);
        EXPECT_TRUE(num == 0 && size == 0);
        num = size = 7;  // bad parameters leave the output that was given untouched
        EXPECT_EQ(query(L"P", L"FILE:", nullptr, nullptr, &size), nullptr);
        EXPECT_EQ(query(L"P", L"FILE:", nullptr, &num, nullptr), nullptr);
        EXPECT_TRUE(num == 7 && size == 7);
        const std::string bad = firstLine.substr(0, firstLine.find("=> ") + 3) + "bad parameters";
        EXPECT_EQ(trace.Lines(), (std::vector<std::string>{firstLine, "using defaults", firstLine, bad, firstLine, bad}));
    }
    EXPECT_TRUE(fake.calls().empty());
}

TEST(DevCapsNamedLists, FilesAreCountedOnceNupTwiceAndAListIsDroppedWhenItCannotBeFetched) {
    const NamedQuery files = KV_ERASE(vlibPRINT_QueryDevCap_Files), nup = KV_ERASE(vlibPRINT_QueryDevCap_NUP);
    const std::string f = "vlibPRINT_QueryDevCap_Files => ", n = "vlibPRINT_QueryDevCap_NUP => ";
    struct Case { NamedQuery query; WORD index; int count, fetchAnswer; DWORD num, size; int calls;
                  std::vector<std::string> lines; } cases[] = {
        {files, DC_FILEDEPENDENCIES, INT_MIN, INT_MIN, 3, 384, 2, {f + "DC_FILEDEPENDENCIES", f + "number of files: 3",
         "\t\tfile 0: PSCRIPT5.DLL", "\t\tfile 1: PS5UI.DLL", "\t\tfile 2: " + std::string(64, 'F')}},  // a full slot
        {files, DC_FILEDEPENDENCIES, -1, INT_MIN, 0, 0, 1, {f + "DC_FILEDEPENDENCIES", f + "number of files: -1"}},
        {nup, DC_NUP, INT_MIN, 2, 0, 0, 3, {n + "DC_NUP", n + "number of NUP: 4", n + "numNUP changed, 4 => 2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines[1]);
        fake::FakePrintSystem fake;
        fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
        printer.SetNames(DC_FILEDEPENDENCIES, 64, {L"PSCRIPT5.DLL", L"PS5UI.DLL", std::wstring(64, L'F')});
        printer.SetValues(DC_NUP, {1, 2, 4, 6});
        if (c.count != INT_MIN) printer.Cap(c.index).counts = {c.count};
        printer.Cap(c.index).fetchAnswer = c.fetchAnswer;
        Trace trace;
        DWORD num = 7, size = 7;
        EXPECT_EQ(Block<void>(c.query(L"P", L"FILE:", nullptr, &num, &size)) != nullptr, c.num > 0);
        EXPECT_TRUE(num == c.num && size == c.size) << num << " " << size;
        EXPECT_EQ(fake.Count(fake::Op::DeviceCapabilities), c.calls);
        EXPECT_EQ(trace.Lines(), c.lines);
    }
}

}  // namespace
