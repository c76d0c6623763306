// Dependent files, N-up values, personalities and loaded papers: bare lists
// with their count and size handed back beside them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devcaps/named_lists.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using devcaps_test::HeapBlock;
using devcaps_test::LibraryTrace;
using devcaps_test::SlotText;
using fake::FakePrintSystem;
using fake::Op;

using NamedQuery = void* (*)(LPCWSTR, LPCWSTR, const DEVMODEW*, DWORD*, DWORD*);

#define KV_ERASE(query)                                                                                   \
    [](LPCWSTR device, LPCWSTR port, const DEVMODEW* dm, DWORD* num, DWORD* size) -> void* {              \
        return query(device, port, dm, num, size);                                                        \
    }

struct NamedMember {
    NamedQuery query;
    const char* firstLine;
    const char* badLine;
};

const std::vector<NamedMember>& NamedMembers() {
    static const std::vector<NamedMember> members = {
        {KV_ERASE(vlibPRINT_QueryDevCap_Files), "vlibPRINT_QueryDevCap_Files => DC_FILEDEPENDENCIES",
         "vlibPRINT_QueryDevCap_Files => bad parameters"},
        {KV_ERASE(vlibPRINT_QueryDevCap_NUP), "vlibPRINT_QueryDevCap_NUP => DC_NUP",
         "vlibPRINT_QueryDevCap_NUP => bad parameters"},
        {KV_ERASE(vlibPRINT_QueryDevCap_Personality), "vlibPRINT_QueryDevCap_Personality => DC_PERSONALITY",
         "vlibPRINT_QueryDevCap_Personality => bad parameters"},
        {KV_ERASE(vlibPRINT_QueryDevCap_MediaReady), "vlibPRINT_QueryDevCap_MediaReady => DC_MEDIAREADY",
         "vlibPRINT_QueryDevCap_MediaReady => bad parameters"},
    };
    return members;
}

int CountingCalls(const FakePrintSystem& fake, int index) {
    int n = 0;
    for (const auto& c : fake.calls()) n += c.op == Op::DeviceCapabilities && c.arg == index && !c.withOutput;
    return n;
}

TEST(DevCapsNamedListDefaults, NullPrinterGivesEmptyListsAndMissingOutputsAreRefused) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    for (const NamedMember& m : NamedMembers()) {
        LibraryTrace trace;
        DWORD num = 7, size = 7;
        EXPECT_EQ(m.query(nullptr, L"FILE:", nullptr, &num, &size), nullptr);
        EXPECT_EQ(num, 0u);
        EXPECT_EQ(size, 0u);
        const std::vector<std::string> expected = {m.firstLine, "using defaults"};
        EXPECT_EQ(trace.Lines(), expected);
    }
    for (const NamedMember& m : NamedMembers()) {
        LibraryTrace trace;
        DWORD size = 7;
        EXPECT_EQ(m.query(L"P", L"FILE:", nullptr, nullptr, &size), nullptr);
        EXPECT_EQ(size, 7u);  // left alone
        const std::vector<std::string> expected = {m.firstLine, m.badLine};
        EXPECT_EQ(trace.Lines(), expected);
    }
    EXPECT_TRUE(fake.calls().empty());
}

TEST(DevCapsNamedListDrivers, FilesAreCountedOnceAndDumped) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.SetNames(DC_FILEDEPENDENCIES, 64, {L"PSCRIPT5.DLL", L"PS5UI.DLL", std::wstring(64, L'F')});
    LibraryTrace trace;
    DWORD num = 0, size = 0;
    HeapBlock<WCHAR> files(vlibPRINT_QueryDevCap_Files(L"P", L"FILE:", nullptr, &num, &size));
    ASSERT_NE(files.get(), nullptr);
    EXPECT_EQ(num, 3u);
    EXPECT_EQ(size, 384u);
    EXPECT_EQ(::HeapSize(::GetProcessHeap(), 0, files.get()), 384u);
    EXPECT_EQ(SlotText(files.get() + 64, 64), L"PS5UI.DLL");
    EXPECT_EQ(CountingCalls(fake, DC_FILEDEPENDENCIES), 1);
    const std::vector<std::string> expected = {
        "vlibPRINT_QueryDevCap_Files => DC_FILEDEPENDENCIES",
        "vlibPRINT_QueryDevCap_Files => number of files: 3",
        "\t\tfile 0: PSCRIPT5.DLL",
        "\t\tfile 1: PS5UI.DLL",
        "\t\tfile 2: " + std::string(64, 'F'),  // a full slot, no terminator of its own
    };
    EXPECT_EQ(trace.Lines(), expected);
}

TEST(DevCapsNamedListDrivers, FilesAnsweringMinusOneGiveNothingWithoutAChangedLine) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.Cap(DC_FILEDEPENDENCIES).counts = {-1};
    LibraryTrace trace;
    DWORD num = 7, size = 7;
    EXPECT_EQ(vlibPRINT_QueryDevCap_Files(L"P", L"FILE:", nullptr, &num, &size), nullptr);
    EXPECT_EQ(num, 0u);
    EXPECT_EQ(size, 0u);
    const std::vector<std::string> expected = {"vlibPRINT_QueryDevCap_Files => DC_FILEDEPENDENCIES",
                                               "vlibPRINT_QueryDevCap_Files => number of files: -1"};
    EXPECT_EQ(trace.Lines(), expected);
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 1);
}

TEST(DevCapsNamedListDrivers, NupCountedTwiceAndDroppedWhenTheFetchShrinks) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.SetValues(DC_NUP, {1, 2, 4, 6});
    {
        LibraryTrace trace;
        DWORD num = 0, size = 0;
        HeapBlock<DWORD> nup(vlibPRINT_QueryDevCap_NUP(L"P", nullptr, nullptr, &num, &size));
        ASSERT_NE(nup.get(), nullptr);
        EXPECT_EQ(num, 4u);
        EXPECT_EQ(size, 16u);
        EXPECT_EQ(nup.get()[3], 6u);
        EXPECT_TRUE(trace.Has("\t\tNUP 3: 6"));
        EXPECT_EQ(CountingCalls(fake, DC_NUP), 2);
    }
    printer.Cap(DC_NUP).fetchAnswer = 2;
    LibraryTrace trace;
    DWORD num = 7, size = 7;
    EXPECT_EQ(vlibPRINT_QueryDevCap_NUP(L"P", nullptr, nullptr, &num, &size), nullptr);
    EXPECT_EQ(num, 0u);
    EXPECT_EQ(size, 0u);
    const std::vector<std::string> expected = {"vlibPRINT_QueryDevCap_NUP => DC_NUP",
                                               "vlibPRINT_QueryDevCap_NUP => number of NUP: 4",
                                               "vlibPRINT_QueryDevCap_NUP => numNUP changed, 4 => 2"};
    EXPECT_EQ(trace.Lines(), expected);
}

TEST(DevCapsNamedListDrivers, PersonalityTakesTheSecondCountAndPrintsFullSlots) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.SetNames(DC_PERSONALITY, 32, {L"PostScript", std::wstring(32, L'P'), L"PCL"});
    printer.Cap(DC_PERSONALITY).counts = {3, 2};  // the driver settles on two
    LibraryTrace trace;
    DWORD num = 0, size = 0;
    HeapBlock<WCHAR> list(vlibPRINT_QueryDevCap_Personality(L"P", nullptr, nullptr, &num, &size));
    ASSERT_NE(list.get(), nullptr);
    EXPECT_EQ(num, 2u);
    EXPECT_EQ(size, 128u);
    EXPECT_EQ(SlotText(list.get() + 32, 32), std::wstring(32, L'P'));
    const std::vector<std::string> expected = {
        "vlibPRINT_QueryDevCap_Personality => DC_PERSONALITY",
        "vlibPRINT_QueryDevCap_Personality => number of personality: 2",
        "\t\tpersonality 0: PostScript",
        "\t\tpersonality 1: " + std::string(32, 'P'),
    };
    EXPECT_EQ(trace.Lines(), expected);
}

TEST(DevCapsNamedListDrivers, MediaReadyFaultDropsTheList) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.SetNames(DC_MEDIAREADY, 64, {L"Letter", L"A4"});
    printer.Cap(DC_MEDIAREADY).faultOnCalls = {3};  // two counting calls, then the fetch
    LibraryTrace trace;
    DWORD num = 7, size = 7;
    EXPECT_EQ(vlibPRINT_QueryDevCap_MediaReady(L"P", nullptr, nullptr, &num, &size), nullptr);
    EXPECT_EQ(num, 0u);
    EXPECT_EQ(size, 0u);
    const std::vector<std::string> expected = {
        "vlibPRINT_QueryDevCap_MediaReady => DC_MEDIAREADY",
        "vlibPRINT_QueryDevCap_MediaReady => number of MediaReady: 2",
        "threw exception",
        "vlibPRINT_QueryDevCap_MediaReady => !WARNING! number of MediaReady changed 2 => 0",
    };
    EXPECT_EQ(trace.Lines(), expected);
}

TEST(DevCapsNamedListDrivers, NegativeSecondCountGivesNothing) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.SetNames(DC_MEDIAREADY, 64, {L"Letter"});
    printer.Cap(DC_MEDIAREADY).counts = {1, -1};
    DWORD num = 7, size = 7;
    EXPECT_EQ(vlibPRINT_QueryDevCap_MediaReady(L"P", nullptr, nullptr, &num, &size), nullptr);
    EXPECT_EQ(num, 0u);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 2);  // never fetched
}

}  // namespace
