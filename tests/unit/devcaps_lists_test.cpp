// Paper, bin and media list queries: block layouts, the built-in tables,
// and the driver quirks the queries must survive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "devcaps/default_tables.h"
#include "devcaps/list_queries.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using devcaps_test::HeapBlock;
using devcaps_test::LibraryTrace;
using devcaps_test::SlotText;
using fake::FakePrintSystem;
using fake::Op;

DWORD FieldAt(const BYTE* block, size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, block + offset, 4);
    return value;
}

int CountingCalls(const FakePrintSystem& fake, int index) {
    int n = 0;
    for (const auto& c : fake.calls()) n += c.op == Op::DeviceCapabilities && c.arg == index && !c.withOutput;
    return n;
}

std::vector<fake::FakePaper> FivePapers() {
    return {{DMPAPER_LETTER, L"Letter", 2159, 2794},
            {DMPAPER_A4, L"A4", 2100, 2970},
            {DMPAPER_LEGAL, L"Legal", 2159, 3556},
            {DMPAPER_A5, L"A5", 1480, 2100},
            {DMPAPER_EXECUTIVE, L"Executive", 1841, 2667}};
}

// ---------------------------------------------------------------- defaults

TEST(DevCapsListDefaults, PapersAnswerTheBuiltInTableWithoutAskingThePrintSystem) {
    FakePrintSystem fake;
    LibraryTrace trace;
    HeapBlock<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(nullptr, L"FILE:", nullptr));
    ASSERT_NE(papers.get(), nullptr);
    EXPECT_TRUE(fake.calls().empty());

    const BYTE* b = papers.bytes();
    const DWORD header[10] = {16324, 118, 236, 15144, 118, 15104, 40, 118, 944, 15380};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(FieldAt(b, i * 4u), header[i]) << "header field at " << i * 4;
    EXPECT_EQ(::HeapSize(::GetProcessHeap(), 0, papers.get()), 16324u);

    // Row 9 (index 8) is A4 with its own size; row 66 says A2 but is Letter.
    EXPECT_EQ(SlotText(PaperNameAt(papers.get(), 8), 64), L"A4 210 x 297 mm");
    WORD id = 0;
    PaperSize size{};
    ASSERT_TRUE(PaperIdAt(papers.get(), 8, &id));
    ASSERT_TRUE(PaperSizeAt(papers.get(), 8, &size));
    EXPECT_EQ(id, 9);
    EXPECT_EQ(size.width, 2100);
    EXPECT_EQ(size.length, 2970);
    EXPECT_EQ(SlotText(PaperNameAt(papers.get(), 65), 64), L"A2 420 x 594 mm");
    ASSERT_TRUE(PaperSizeAt(papers.get(), 65, &size));
    EXPECT_EQ(size.width, 2159);
    EXPECT_EQ(size.length, 2794);

    // Ids run 1..118; exactly 30 rows are not Letter-sized; names are
    // zero-terminated and zero-padded.
    int ownSizes = 0;
    for (DWORD i = 0; i < 118; ++i) {
        ASSERT_TRUE(PaperIdAt(papers.get(), i, &id));
        EXPECT_EQ(id, i + 1);
        ASSERT_TRUE(PaperSizeAt(papers.get(), i, &size));
        ownSizes += !(size.width == 2159 && size.length == 2794);
        const WCHAR* slot = PaperNameAt(papers.get(), i);
        const size_t length = SlotText(slot, 64).size();
        ASSERT_GT(length, 0u);
        for (size_t c = length; c < 64; ++c) ASSERT_EQ(slot[c], 0) << "row " << i + 1;
    }
    EXPECT_EQ(ownSizes, 30);
    EXPECT_EQ(SlotText(PaperNameAt(papers.get(), 21), 64), L"Envelope #12 4 \u00BE x 11");
    EXPECT_EQ(SlotText(PaperNameAt(papers.get(), 49), 64), L"Letter Extra 9 \u00BD x 12 in");
    EXPECT_EQ(SlotText(PaperNameAt(papers.get(), 50), 64), L"Legal Extra 9 \u00BD x 15 in");
    EXPECT_EQ(SlotText(PaperNameAt(papers.get(), 117), 64), L"PRC Envelope #10 Rotated 458 x 324 mm");
    ASSERT_TRUE(PaperSizeAt(papers.get(), 36, &size));  // Monarch, the last row with a size of its own
    EXPECT_EQ(size.width, 984);
    EXPECT_EQ(size.length, 1905);

    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 2u + 118u);
    EXPECT_EQ(lines[0], "vlibPRINT_QueryDevCap_Papers => ");
    EXPECT_EQ(lines[1], "using defaults");
    EXPECT_EQ(lines[2 + 8], "\t\tpaper   8: [  9] [2100 x 2970] A4 210 x 297 mm");
    EXPECT_EQ(lines[2 + 117], "\t\tpaper 117: [118] [2159 x 2794] PRC Envelope #10 Rotated 458 x 324 mm");
}

TEST(DevCapsListDefaults, BinsAnswerThirteenTraysAndMediasNothing) {
    FakePrintSystem fake;
    LibraryTrace trace;
    HeapBlock<BinBuffer> bins(vlibPRINT_QueryDevCap_Bins(nullptr, L"FILE:", nullptr));
    ASSERT_NE(bins.get(), nullptr);
    const DWORD header[7] = {678, 13, 26, 652, 13, 624, 28};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(FieldAt(bins.bytes(), i * 4u), header[i]) << "header field at " << i * 4;
    WORD id = 0;
    ASSERT_TRUE(BinIdAt(bins.get(), 11, &id));
    EXPECT_EQ(id, 14);
    EXPECT_EQ(SlotText(BinNameAt(bins.get(), 11), 24), L"Cassette");
    ASSERT_TRUE(BinIdAt(bins.get(), 12, &id));
    EXPECT_EQ(id, 15);
    EXPECT_EQ(SlotText(BinNameAt(bins.get(), 12), 24), L"Automatically Select");
    EXPECT_EQ(SlotText(BinNameAt(bins.get(), 0), 24), L"Upper Tray");
    EXPECT_FALSE(BinIdAt(bins.get(), 13, &id));

    HeapBlock<MediaBuffer> medias(vlibPRINT_QueryDevCap_Medias(nullptr, L"FILE:", nullptr));
    EXPECT_EQ(medias.get(), nullptr);
    EXPECT_TRUE(fake.calls().empty());

    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 3u + 13u + 2u);
    EXPECT_EQ(lines[0], "vlibPRINT_QueryDevCap_Bins => ");
    EXPECT_EQ(lines[1], "using defaults");
    EXPECT_EQ(lines[2], "vlibPRINT_QueryDevCap_Bins => DC_BINS");
    EXPECT_EQ(lines[3 + 11], "\t\tbin 11: [14] Cassette");
    EXPECT_EQ(lines[16], "vlibPRINT_QueryDevCap_Medias => DC_MEDIATYPENAMES");
    EXPECT_EQ(lines[17], "using defaults");
}

// ---------------------------------------------------------------- drivers

TEST(DevCapsListDrivers, WholePaperQueryTracesEveryStep) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P");  // Letter and A4
    LibraryTrace trace;
    HeapBlock<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr));
    ASSERT_NE(papers.get(), nullptr);
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
    // Each list is counted twice and fetched once.
    for (int index : {DC_PAPERNAMES, DC_PAPERS, DC_PAPERSIZE}) EXPECT_EQ(CountingCalls(fake, index), 2) << index;
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 9);
}

TEST(DevCapsListDrivers, PaperListsOfDifferentLengthsKeepTheirOwnCounts) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    printer.SetPapers(FivePapers());
    printer.Cap(DC_PAPERSIZE).entries.resize(4 * 8);  // the driver knows only four sizes
    LibraryTrace trace;
    HeapBlock<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr));
    ASSERT_NE(papers.get(), nullptr);

    EXPECT_EQ(papers->dwSize, 722u);  // 40 + 640 + 10 + 32
    EXPECT_EQ(papers->dwNumPaperNames, 5u);
    EXPECT_EQ(papers->dwNumPapers, 5u);
    EXPECT_EQ(papers->dwNumPaperSize, 4u);
    EXPECT_EQ(papers->dwOffsetToPaperNames, 40u);
    EXPECT_EQ(papers->dwOffsetToPapers, 680u);
    EXPECT_EQ(papers->dwSizeOfPapers, 10u);
    EXPECT_EQ(papers->dwOffsetToPaperSize, 690u);  // not 4-aligned after five 16-bit ids
    EXPECT_EQ(papers->dwSizeOfPaperSize, 32u);
    EXPECT_TRUE(trace.Has("vlibPRINT_QueryDevCap_Papers => !WARNING! papers != papernames != papersizes"));
    EXPECT_TRUE(trace.Has("vlibPRINT_QueryDevCap_Papers => Names: 5; Papers: 5; PaperSizes: 4"));

    const auto list = FivePapers();
    for (DWORD i = 0; i < 5; ++i) {
        WORD id = 0;
        ASSERT_TRUE(PaperIdAt(papers.get(), i, &id));
        EXPECT_EQ(id, list[i].id);
        EXPECT_EQ(SlotText(PaperNameAt(papers.get(), i), 64), list[i].name);
    }
    PaperSize size{};
    ASSERT_TRUE(PaperSizeAt(papers.get(), 3, &size));
    EXPECT_EQ(size.width, 1480);
    EXPECT_EQ(size.length, 2100);
    EXPECT_FALSE(PaperSizeAt(papers.get(), 4, &size));
    // The dump runs to the id count; the missing fifth size prints as zeros.
    EXPECT_TRUE(trace.Has("\t\tpaper   4: [  7] [   0 x    0] Executive"));
}

TEST(DevCapsListDrivers, PaperCountTakesTheSecondAnswerAndAFetchOfAnotherSizeLeavesZeros) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    printer.SetPapers(FivePapers());
    printer.Cap(DC_PAPERNAMES).counts = {5, 3};  // settles on 3 on the second call
    printer.Cap(DC_PAPERSIZE).fetchAnswer = 6;  // claims more than it was asked for
    LibraryTrace trace;
    HeapBlock<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr));
    ASSERT_NE(papers.get(), nullptr);
    EXPECT_EQ(papers->dwNumPaperNames, 3u);
    EXPECT_EQ(papers->dwSizeOfPaperNames, 3u * 128);
    EXPECT_EQ(SlotText(PaperNameAt(papers.get(), 2), 64), L"Legal");
    // Sizes: the count stays, the area stays zero.
    EXPECT_EQ(papers->dwNumPaperSize, 5u);
    EXPECT_TRUE(trace.Has("vlibPRINT_QueryDevCap_Papers => !WARNING! number of papersizes changed? = 6, 5"));
    const BYTE* sizes = PaperSizeBytes(papers.get());
    for (DWORD i = 0; i < papers->dwSizeOfPaperSize; ++i) ASSERT_EQ(sizes[i], 0) << i;
    EXPECT_EQ(papers.bytes() + papers->dwSize, sizes + papers->dwSizeOfPaperSize);
    // Names beyond the name count are printed empty.
    EXPECT_TRUE(trace.Has("\t\tpaper   3: [ 11] [   0 x    0] "));
}

TEST(DevCapsListDrivers, FaultDuringAFetchDropsOnlyThatList) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    printer.SetPapers(FivePapers());
    printer.Cap(DC_PAPERS).faultOnCalls = {3};  // two counting calls, then the fetch faults
    LibraryTrace trace;
    HeapBlock<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr));
    ASSERT_NE(papers.get(), nullptr);
    EXPECT_EQ(papers->dwNumPapers, 0u);
    EXPECT_EQ(papers->dwSizeOfPapers, 10u);  // the space stays reserved
    EXPECT_EQ(papers->dwSize, 40u + 640 + 10 + 40);
    const WORD* ids = PaperIds(papers.get());
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ids[i], 0);
    EXPECT_EQ(papers->dwNumPaperSize, 5u);
    PaperSize size{};
    ASSERT_TRUE(PaperSizeAt(papers.get(), 4, &size));
    EXPECT_EQ(size.width, 1841);

    const auto lines = trace.Lines();
    auto at = std::find(lines.begin(), lines.end(), "vlibPRINT_QueryDevCap_Papers => querying papers");
    ASSERT_NE(at, lines.end());
    ASSERT_GE(lines.end() - at, 3);
    EXPECT_EQ(at[1], "threw exception");
    EXPECT_EQ(at[2], "vlibPRINT_QueryDevCap_Papers => !WARNING! number of papers changed? = 5, 0");
    EXPECT_EQ(lines.back(), "vlibPRINT_QueryDevCap_Papers => querying papersizes");  // no rows: no ids left
}

TEST(DevCapsListDrivers, BinsCountOnceAndKeepTheCountWhenTheFetchShrinks) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    printer.SetBins({{DMBIN_UPPER, L"Upper"}, {DMBIN_LOWER, L"Lower"}, {DMBIN_MANUAL, L"Manual"}});
    printer.Cap(DC_BINS).fetchAnswer = 2;
    LibraryTrace trace;
    HeapBlock<BinBuffer> bins(vlibPRINT_QueryDevCap_Bins(L"P", L"FILE:", nullptr));
    ASSERT_NE(bins.get(), nullptr);
    EXPECT_EQ(CountingCalls(fake, DC_BINS), 1);
    EXPECT_EQ(CountingCalls(fake, DC_BINNAMES), 1);
    EXPECT_EQ(bins->dwSize, 28u + 144 + 6);
    EXPECT_EQ(bins->dwNumBins, 3u);
    const WORD* ids = BinIds(bins.get());
    EXPECT_EQ(ids[0], 0);
    EXPECT_EQ(ids[1], 0);
    EXPECT_EQ(ids[2], 0);
    EXPECT_EQ(bins->dwNumBinNames, 3u);
    EXPECT_EQ(SlotText(BinNameAt(bins.get(), 2), 24), L"Manual");
    EXPECT_TRUE(trace.Has("vlibPRINT_QueryDevCap_Bins => !WARNING! number of bins changed? = 2, 3"));
    EXPECT_TRUE(trace.Has("\t\tbin 2: [ 0] Manual"));
}

TEST(DevCapsListDrivers, BinCountOfMinusOneGivesAnEmptyIdList) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");  // two bins
    printer.Cap(DC_BINS).counts = {-1};
    LibraryTrace trace;
    HeapBlock<BinBuffer> bins(vlibPRINT_QueryDevCap_Bins(L"P", L"FILE:", nullptr));
    ASSERT_NE(bins.get(), nullptr);
    EXPECT_TRUE(trace.Has("vlibPRINT_QueryDevCap_Bins => Names: 2;Bins: -1"));
    EXPECT_TRUE(trace.Has("vlibPRINT_QueryDevCap_Bins => !WARNING! bins != binnames"));
    EXPECT_TRUE(trace.Has("vlibPRINT_QueryDevCap_Bins => Bytes Required: 124 (96 + 0)"));
    EXPECT_EQ(bins->dwSize, 124u);
    EXPECT_EQ(bins->dwSizeOfBins, 0u);
    EXPECT_EQ(bins->dwNumBins, 0u);
    EXPECT_EQ(bins->dwOffsetToBins, 124u);
    EXPECT_EQ(bins->dwNumBinNames, 2u);
    EXPECT_FALSE(trace.Has("vlibPRINT_QueryDevCap_Bins => querying bins"));
    EXPECT_EQ(CountingCalls(fake, DC_BINS), 1);
}

TEST(DevCapsListDrivers, MediasStoreFullSlotNamesAndThirtyTwoBitIds) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    const std::wstring full(64, L'M');  // fills its slot, no terminator
    printer.SetMedia({{DMMEDIA_STANDARD, L"Plain"}, {0x10001, full}});
    LibraryTrace trace;
    HeapBlock<MediaBuffer> medias(vlibPRINT_QueryDevCap_Medias(L"P", L"FILE:", nullptr));
    ASSERT_NE(medias.get(), nullptr);
    EXPECT_EQ(medias->dwSize, 28u + 256 + 8);
    EXPECT_EQ(medias->dwOffsetToMediaTypeNames, 28u);
    EXPECT_EQ(medias->dwOffsetToMediaTypes, 284u);
    DWORD id = 0;
    ASSERT_TRUE(MediaIdAt(medias.get(), 1, &id));
    EXPECT_EQ(id, 0x10001u);
    EXPECT_EQ(SlotText(MediaNameAt(medias.get(), 1), 64), full);
    EXPECT_EQ(CountingCalls(fake, DC_MEDIATYPES), 2);
    const std::vector<std::string> expected = {
        "vlibPRINT_QueryDevCap_Medias => DC_MEDIATYPENAMES",
        "vlibPRINT_QueryDevCap_Medias => Names: 2;Medias: 2",
        "vlibPRINT_QueryDevCap_Medias => Bytes Required: 292 (256 + 8)",
        "vlibPRINT_QueryDevCap_Medias => DC_MEDIANAMES",
        "vlibPRINT_QueryDevCap_Medias => querying media names",
        "vlibPRINT_QueryDevCap_Medias => DC_MEDIATYPES",
        "vlibPRINT_QueryDevCap_Medias => querying medias",
        "\t\tmedia 0: [ 1] Plain",
        "\t\tmedia 1: [65537] " + std::string(64, 'M'),
    };
    EXPECT_EQ(trace.Lines(), expected);
}

TEST(DevCapsListDrivers, PrinterWithoutListsGivesAHeaderOnlyBlock) {
    FakePrintSystem fake;
    fake.AddBarePrinter(L"Bare");  // answers 0 to every index
    LibraryTrace trace;
    HeapBlock<MediaBuffer> medias(vlibPRINT_QueryDevCap_Medias(L"Bare", L"FILE:", nullptr));
    ASSERT_NE(medias.get(), nullptr);
    EXPECT_EQ(medias->dwSize, 28u);
    EXPECT_EQ(medias->dwOffsetToMediaTypeNames, 28u);
    EXPECT_EQ(medias->dwOffsetToMediaTypes, 28u);
    EXPECT_EQ(medias->dwNumMediaTypes, 0u);
    // Zero first answers are not asked again; nothing is fetched.
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 2);
    EXPECT_FALSE(trace.Has("vlibPRINT_QueryDevCap_Medias => !WARNING! medias != medianames"));
}

TEST(DevCapsListAccess, CopyNameSlotTerminatesAFullSlot) {
    WCHAR slot[24];
    for (auto& c : slot) c = L'x';
    WCHAR out[25];
    for (auto& c : out) c = L'?';
    CopyNameSlot(out, slot, 24);
    EXPECT_EQ(std::wstring(out), std::wstring(24, L'x'));
    CopyNameSlot(out, nullptr, 24);
    EXPECT_EQ(out[0], 0);
}

}  // namespace
