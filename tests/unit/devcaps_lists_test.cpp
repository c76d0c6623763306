// Paper, bin and media list queries: the built-in tables, block layouts and
// the driver quirks the queries must survive.
#include <gtest/gtest.h>

#include <cstring>

#include "devcaps/list_queries.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using namespace devcaps_test;
using fake::FakePrintSystem;
using fake::Op;

// The header as little-endian 32-bit fields, compared whole.
template <class T>
std::vector<DWORD> Header(const T* block) {
    std::vector<DWORD> fields(sizeof(T) / 4);
    std::memcpy(fields.data(), block, sizeof(T));
    return fields;
}

fake::FakePrinter& FivePaperPrinter(FakePrintSystem& fake) {
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    printer.SetPapers({{DMPAPER_LETTER, L"Letter", 2159, 2794}, {DMPAPER_A4, L"A4", 2100, 2970},
                       {DMPAPER_LEGAL, L"Legal", 2159, 3556}, {DMPAPER_A5, L"A5", 1480, 2100},
                       {DMPAPER_EXECUTIVE, L"Executive", 1841, 2667}});
    return printer;
}

TEST(DevCapsLists, DefaultsAreTheBuiltInTablesWithoutAskingThePrintSystem) {
    FakePrintSystem fake;
    Trace trace;
    Block<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(nullptr, L"FILE:", nullptr));
    Block<BinBuffer> bins(vlibPRINT_QueryDevCap_Bins(nullptr, L"FILE:", nullptr));
    EXPECT_EQ(vlibPRINT_QueryDevCap_Medias(nullptr, L"FILE:", nullptr), nullptr);
    EXPECT_TRUE(fake.calls().empty());
    ASSERT_TRUE(papers && bins);

    EXPECT_EQ(Header(papers.get()), (std::vector<DWORD>{16324, 118, 236, 15144, 118, 15104, 40, 118, 944, 15380}));
    // Ids run 1..118; exactly 30 rows have a size other than Letter.
    int ownSizes = 0;
    for (DWORD i = 0; i < 118; ++i) {
        WORD id = 0;
        PaperSize size{};
        ASSERT_TRUE(PaperIdAt(papers.get(), i, &id) && PaperSizeAt(papers.get(), i, &size));
        EXPECT_EQ(id, i + 1);
        ownSizes += !(size.width == 2159 && size.length == 2794);
    }
    EXPECT_EQ(ownSizes, 30);
    EXPECT_EQ(SlotText(PaperNameAt(papers.get(), 21), 64), L"Envelope #12 4 \u00BE x 11");

    EXPECT_EQ(Header(bins.get()), (std::vector<DWORD>{678, 13, 26, 652, 13, 624, 28}));

    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 2u + 118 + 3 + 13 + 2);
    EXPECT_EQ(lines[1], "using defaults");
    EXPECT_EQ(lines[2 + 8], "\t\tpaper   8: [  9] [2100 x 2970] A4 210 x 297 mm");
    EXPECT_EQ(lines[2 + 65], "\t\tpaper  65: [ 66] [2159 x 2794] A2 420 x 594 mm");  // Letter-sized all the same
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 120, lines.begin() + 123),
              (std::vector<std::string>{"vlibPRINT_QueryDevCap_Bins => ", "using defaults",
                                        "vlibPRINT_QueryDevCap_Bins => DC_BINS"}));
    EXPECT_EQ(lines[123 + 11], "\t\tbin 11: [14] Cassette");
    EXPECT_EQ(lines.back(), "using defaults");  // Medias
}

TEST(DevCapsLists, PaperQueryTracesEveryStepAndCountsEachListTwice) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P");  // Letter and A4
    Trace trace;
    Block<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr));
    ASSERT_TRUE(papers);
    const std::vector<std::string> expected = {
        "vlibPRINT_QueryDevCap_Papers => ",
        "vlibPRINT_QueryDevCap_Papers => Names: 2; Papers: 2; PaperSizes: 2",
        "vlibPRINT_QueryDevCap_Papers => Bytes Required: 316 (256 + 4)",
        "vlibPRINT_QueryDevCap_Papers => DC_PAPERNAMES",
        "vlibPRINT_QueryDevCap_Papers => querying paper names",
        "vlibPRINT_QueryDevCap_Papers => DC_PAPERS",
        "vlibPRINT_QueryDevCap_Papers => querying papers",
        "vlibPRINT_QueryDevCap_Papers => DC_PAPERSIZE",
        "vlibPRINT_QueryDevCap_Papers => querying papersizes",
        "\t\tpaper   0: [  1] [2159 x 2794] Letter",
        "\t\tpaper   1: [  9] [2100 x 2970] A4",
    };
    EXPECT_EQ(trace.Lines(), expected);
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 3 * 2 + 3);  // each list counted twice, fetched once
}

TEST(DevCapsLists, PaperListsOfDifferentLengthsKeepTheirOwnCounts) {
    FakePrintSystem fake;
    FivePaperPrinter(fake).Cap(DC_PAPERSIZE).entries.resize(4 * 8);  // the driver knows four sizes
    Trace trace;
    Block<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr));
    ASSERT_TRUE(papers);
    // 40 + 640 + 10 + 32; the sizes start after five 16-bit ids.
    EXPECT_EQ(Header(papers.get()), (std::vector<DWORD>{722, 5, 10, 680, 5, 640, 40, 4, 32, 690}));
    EXPECT_TRUE(Has(trace, "vlibPRINT_QueryDevCap_Papers => !WARNING! papers != papernames != papersizes"));
    // The dump runs to the id count; the missing fifth size prints as zeros.
    const auto lines = trace.Lines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"\t\tpaper   3: [ 11] [1480 x 2100] A5",
                                        "\t\tpaper   4: [  7] [   0 x    0] Executive"}));
}

TEST(DevCapsLists, SecondCountIsTakenAndAFaultingOrChangedFetchLeavesItsListZero) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = FivePaperPrinter(fake);
    printer.Cap(DC_PAPERNAMES).counts = {5, 3};
    printer.Cap(DC_PAPERS).faultOnCalls = {3};  // two counting calls, then the fetch
    printer.Cap(DC_PAPERSIZE).fetchAnswer = 6;
    Trace trace;
    Block<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr));
    ASSERT_TRUE(papers);
    // The faulted id list drops its count; the changed size list keeps it.
    EXPECT_EQ(Header(papers.get()), (std::vector<DWORD>{474, 0, 10, 424, 3, 384, 40, 5, 40, 434}));
    EXPECT_EQ(SlotText(PaperNameAt(papers.get(), 2), 64), L"Legal");
    const BYTE* bytes = reinterpret_cast<const BYTE*>(papers.get());
    EXPECT_EQ(std::count(bytes + 424, bytes + 474, 0), 50);
    const auto lines = trace.Lines();
    auto at = std::find(lines.begin(), lines.end(), "vlibPRINT_QueryDevCap_Papers => querying papers");
    ASSERT_GE(lines.end() - at, 3);
    EXPECT_EQ(at[1], "threw exception");
    EXPECT_EQ(at[2], "vlibPRINT_QueryDevCap_Papers => !WARNING! number of papers changed? = 5, 0");
    EXPECT_EQ(lines.back(), "vlibPRINT_QueryDevCap_Papers => !WARNING! number of papersizes changed? = 6, 5");
}

TEST(DevCapsLists, BinsCountOnceAndKeepTheirCountsAsAnswered) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    printer.SetBins({{DMBIN_UPPER, L"Upper"}, {DMBIN_LOWER, L"Lower"}, {DMBIN_MANUAL, L"Manual"}});
    printer.Cap(DC_BINS).fetchAnswer = 2;
    {
        Trace trace;
        Block<BinBuffer> bins(vlibPRINT_QueryDevCap_Bins(L"P", L"FILE:", nullptr));
        ASSERT_TRUE(bins);
        EXPECT_EQ(Header(bins.get()), (std::vector<DWORD>{178, 3, 6, 172, 3, 144, 28}));
        const WORD* ids = BinIds(bins.get());
        EXPECT_EQ(std::count(ids, ids + 3, 0), 3);
        EXPECT_EQ(SlotText(BinNameAt(bins.get(), 2), 24), L"Manual");
        EXPECT_TRUE(Has(trace, "vlibPRINT_QueryDevCap_Bins => !WARNING! number of bins changed? = 2, 3"));
        EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 2 + 2);  // each list counted once, fetched once
    }
    // An id count of -1 is traced as it came and gives an empty id list.
    printer.Cap(DC_BINS).counts = {-1};
    Trace trace;
    Block<BinBuffer> bins(vlibPRINT_QueryDevCap_Bins(L"P", L"FILE:", nullptr));
    ASSERT_TRUE(bins);
    EXPECT_EQ(Header(bins.get()), (std::vector<DWORD>{172, 0, 0, 172, 3, 144, 28}));
    EXPECT_TRUE(Has(trace, "vlibPRINT_QueryDevCap_Bins => Names: 3;Bins: -1"));
    EXPECT_TRUE(Has(trace, "vlibPRINT_QueryDevCap_Bins => !WARNING! bins != binnames"));
    EXPECT_FALSE(Has(trace, "vlibPRINT_QueryDevCap_Bins => querying bins"));
}

TEST(DevCapsLists, MediasStoreFullSlotNamesAndThirtyTwoBitIds) {
    FakePrintSystem fake;
    const std::wstring full(64, L'M');  // fills its slot, no terminator
    fake.AddPrinter(L"P").SetMedia({{DMMEDIA_STANDARD, L"Plain"}, {0x10001, full}});
    Trace trace;
    Block<MediaBuffer> medias(vlibPRINT_QueryDevCap_Medias(L"P", L"FILE:", nullptr));
    ASSERT_TRUE(medias);
    EXPECT_EQ(Header(medias.get()), (std::vector<DWORD>{292, 2, 8, 284, 2, 256, 28}));
    EXPECT_EQ(trace.Lines().back(), "\t\tmedia 1: [65537] " + std::string(64, 'M'));
}

}  // namespace
