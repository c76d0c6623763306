// Dependent files, N-up values, personalities and loaded papers: bare lists
// with their count and size handed back beside them.
#include <gtest/gtest.h>

#include "devcaps/named_lists.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using namespace devcaps_test;
using fake::FakePrintSystem;
using fake::Op;

using NamedQuery = void* (*)(LPCWSTR, LPCWSTR, const DEVMODEW*, DWORD*, DWORD*);
#define KV_ERASE(query) \
    [](LPCWSTR d, LPCWSTR p, const DEVMODEW* dm, DWORD* n, DWORD* s) -> void* { return query(d, p, dm, n, s); }

TEST(DevCapsNamedLists, NullPrinterGivesEmptyListsAndMissingOutputsAreRefused) {
    const std::pair<NamedQuery, std::string> members[] = {
        {KV_ERASE(vlibPRINT_QueryDevCap_Files), "vlibPRINT_QueryDevCap_Files => DC_FILEDEPENDENCIES"},
        {KV_ERASE(vlibPRINT_QueryDevCap_NUP), "vlibPRINT_QueryDevCap_NUP => DC_NUP"},
        {KV_ERASE(vlibPRINT_QueryDevCap_Personality), "vlibPRINT_QueryDevCap_Personality => DC_PERSONALITY"},
        {KV_ERASE(vlibPRINT_QueryDevCap_MediaReady), "vlibPRINT_QueryDevCap_MediaReady => DC_MEDIAREADY"}};
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    for (const auto& [query, firstLine] : members) {
        SCOPED_TRACE(firstLine);
        Trace trace;
        DWORD num = 7, size = 7;
        EXPECT_EQ(query(nullptr, L"FILE:", nullptr, &num, &size), nullptr);
        EXPECT_TRUE(num == 0 && size == 0);
        size = 7;
        EXPECT_EQ(query(L"P", L"FILE:", nullptr, nullptr, &size), nullptr);
        EXPECT_EQ(size, 7u);  // left alone
        EXPECT_EQ(query(L"P", L"FILE:", nullptr, &num, nullptr), nullptr);
        const std::string bad = firstLine.substr(0, firstLine.find("=> ") + 3) + "bad parameters";
        const std::vector<std::string> expected = {firstLine, "using defaults", firstLine, bad, firstLine, bad};
        EXPECT_EQ(trace.Lines(), expected);
    }
    EXPECT_TRUE(fake.calls().empty());
}

TEST(DevCapsNamedLists, FilesAreCountedOnceAndDumped) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.SetNames(DC_FILEDEPENDENCIES, 64, {L"PSCRIPT5.DLL", L"PS5UI.DLL", std::wstring(64, L'F')});
    {
        Trace trace;
        DWORD num = 0, size = 0;
        Block<WCHAR> files(vlibPRINT_QueryDevCap_Files(L"P", L"FILE:", nullptr, &num, &size));
        ASSERT_TRUE(files);
        EXPECT_TRUE(num == 3 && size == 384);
        EXPECT_EQ(SlotText(files.get() + 64, 64), L"PS5UI.DLL");
        EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 2);
        const std::vector<std::string> expected = {
            "vlibPRINT_QueryDevCap_Files => DC_FILEDEPENDENCIES", "vlibPRINT_QueryDevCap_Files => number of files: 3",
            "\t\tfile 0: PSCRIPT5.DLL", "\t\tfile 1: PS5UI.DLL",
            "\t\tfile 2: " + std::string(64, 'F')};  // a full slot, no terminator of its own
        EXPECT_EQ(trace.Lines(), expected);
    }
    // -1: nothing, and no "changed" line.
    printer.Cap(DC_FILEDEPENDENCIES).counts = {-1};
    Trace trace;
    DWORD num = 7, size = 7;
    EXPECT_EQ(vlibPRINT_QueryDevCap_Files(L"P", L"FILE:", nullptr, &num, &size), nullptr);
    EXPECT_TRUE(num == 0 && size == 0);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"vlibPRINT_QueryDevCap_Files => DC_FILEDEPENDENCIES",
                                                        "vlibPRINT_QueryDevCap_Files => number of files: -1"}));
}

TEST(DevCapsNamedLists, NupCountedTwiceAndDroppedWhenTheFetchShrinks) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.SetValues(DC_NUP, {1, 2, 4, 6});
    printer.Cap(DC_NUP).fetchAnswer = 2;
    Trace trace;
    DWORD num = 7, size = 7;
    EXPECT_EQ(vlibPRINT_QueryDevCap_NUP(L"P", nullptr, nullptr, &num, &size), nullptr);
    EXPECT_TRUE(num == 0 && size == 0);
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 3);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"vlibPRINT_QueryDevCap_NUP => DC_NUP",
                                                        "vlibPRINT_QueryDevCap_NUP => number of NUP: 4",
                                                        "vlibPRINT_QueryDevCap_NUP => numNUP changed, 4 => 2"}));
}

}  // namespace
