// Paper, bin and media list queries: the built-in tables, block layouts and
// the driver quirks the queries must survive.
#include <gtest/gtest.h>

#include "devcaps/forms.h"
#include "devcaps/list_queries.h"
#include "devcaps/named_lists.h"
#include "devcaps/resolutions.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using namespace devcaps_test;
using fake::FakePrintSystem;
using fake::Op;
using Fields = std::vector<DWORD>;

// The header as little-endian 32-bit fields, compared whole.
template <class T>
Fields Header(const T* block) {
    return Fields(reinterpret_cast<const DWORD*>(block), reinterpret_cast<const DWORD*>(block + 1));
}

TEST(DevCapsLists, DefaultsAreTheBuiltInTablesWithoutAskingThePrintSystem) {
    FakePrintSystem fake;
    Trace trace;
    Block<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(nullptr, L"FILE:", nullptr));
    Block<BinBuffer> bins(vlibPRINT_QueryDevCap_Bins(nullptr, L"FILE:", nullptr));
    EXPECT_EQ(vlibPRINT_QueryDevCap_Medias(nullptr, L"FILE:", nullptr), nullptr);
    EXPECT_TRUE(fake.calls().empty());
    ASSERT_TRUE(papers && bins);
    EXPECT_EQ(Header(papers.get()), (Fields{16324, 118, 236, 15144, 118, 15104, 40, 118, 944, 15380}));
    EXPECT_EQ(Header(bins.get()), (Fields{678, 13, 26, 652, 13, 624, 28}));
    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 2u + 118 + 3 + 13 + 2);
    EXPECT_EQ(lines[2 + 8], "\t\tpaper   8: [  9] [2100 x 2970] A4 210 x 297 mm");
    EXPECT_EQ(lines[2 + 65], "\t\tpaper  65: [ 66] [2159 x 2794] A2 420 x 594 mm");  // Letter-sized all the same
    EXPECT_EQ(lines[123 + 11], "\t\tbin 11: [14] Cassette");
    for (size_t at : {1, 121, 137}) EXPECT_EQ(lines[at], "using defaults") << at;  // papers, bins, medias
}

TEST(DevCapsLists, PaperQueryTracesEveryStepAndCountsEachListTwice) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P");  // Letter and A4
    Trace trace;
    Block<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr));
    ASSERT_TRUE(papers);
    const std::string p = "vlibPRINT_QueryDevCap_Papers => ";
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{p, p + "Names: 2; Papers: 2; PaperSizes: 2", p + "Bytes Required: 316 (256 + 4)",
                                        p + "DC_PAPERNAMES", p + "querying paper names", p + "DC_PAPERS",
                                        p + "querying papers", p + "DC_PAPERSIZE", p + "querying papersizes",
                                        "\t\tpaper   0: [  1] [2159 x 2794] Letter", "\t\tpaper   1: [  9] [2100 x 2970] A4"}));
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 3 * 2 + 3);  // each list counted twice, fetched once
}

TEST(DevCapsLists, PaperListsKeepTheirOwnCountsAndAFaultingOrChangedFetchLeavesItsListZero) {
    FakePrintSystem fake;
    for (const wchar_t* name : {L"P", L"Q"})
        fake.AddPrinter(name).SetPapers({{DMPAPER_LETTER, L"Letter", 2159, 2794}, {DMPAPER_A4, L"A4", 2100, 2970},
                                         {DMPAPER_LEGAL, L"Legal", 2159, 3556}, {DMPAPER_A5, L"A5", 1480, 2100},
                                         {DMPAPER_EXECUTIVE, L"Executive", 1841, 2667}});
    fake.Find(L"P")->Cap(DC_PAPERSIZE).entries.resize(4 * 8);  // five names, five ids, four sizes
    fake::FakePrinter& q = *fake.Find(L"Q");
    q.Cap(DC_PAPERNAMES).counts = {5, 3};  // the second count is the one taken
    q.Cap(DC_PAPERS).faultOnCalls = {3};   // two counting calls, then the fetch
    q.Cap(DC_PAPERSIZE).fetchAnswer = 6;
    Trace trace;
    Block<PaperBuffer> four(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr));
    Block<PaperBuffer> faulted(vlibPRINT_QueryDevCap_Papers(L"Q", L"FILE:", nullptr));
    ASSERT_TRUE(four && faulted);
    EXPECT_EQ(Header(four.get()), (Fields{722, 5, 10, 680, 5, 640, 40, 4, 32, 690}));
    EXPECT_EQ(Header(faulted.get()), (Fields{474, 0, 10, 424, 3, 384, 40, 5, 40, 434}));
    const BYTE* bytes = reinterpret_cast<const BYTE*>(faulted.get());
    EXPECT_EQ(std::count(bytes + 424, bytes + 474, 0), 50);  // the ids and the sizes stay zero
    const std::string p = "vlibPRINT_QueryDevCap_Papers => ", w = p + "!WARNING! ";
    EXPECT_TRUE(Has(trace, {p + "Names: 5; Papers: 5; PaperSizes: 4", w + "papers != papernames != papersizes"}));
    // The dump runs to the id count; the missing fifth size prints as zeros.
    EXPECT_TRUE(Has(trace, {"\t\tpaper   3: [ 11] [1480 x 2100] A5", "\t\tpaper   4: [  7] [   0 x    0] Executive"}));
    EXPECT_TRUE(Has(trace, {p + "querying papers", "threw exception", w + "number of papers changed? = 5, 0"}));
    EXPECT_TRUE(Has(trace, {w + "number of papersizes changed? = 6, 5"}));
}

TEST(DevCapsLists, BinsCountOnceAndKeepTheirCountsAsAnswered) {
    FakePrintSystem fake;
    for (const wchar_t* name : {L"P", L"Q"})
        fake.AddPrinter(name).SetBins({{DMBIN_UPPER, L"Upper"}, {DMBIN_LOWER, L"Lower"}, {DMBIN_MANUAL, L"Manual"}});
    fake.Find(L"P")->Cap(DC_BINS).fetchAnswer = 2;  // three counted, two fetched
    fake.Find(L"Q")->Cap(DC_BINS).counts = {-1};
    Trace trace;
    Block<BinBuffer> bins(vlibPRINT_QueryDevCap_Bins(L"P", L"FILE:", nullptr));
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 2 + 2);  // each list counted once, fetched once
    Block<BinBuffer> noIds(vlibPRINT_QueryDevCap_Bins(L"Q", L"FILE:", nullptr));
    ASSERT_TRUE(bins && noIds);
    EXPECT_EQ(Header(bins.get()), (Fields{178, 3, 6, 172, 3, 144, 28}));
    EXPECT_EQ(std::count(BinIds(bins.get()), BinIds(bins.get()) + 3, 0), 3);  // the ids stay zero
    EXPECT_EQ(Header(noIds.get()), (Fields{172, 0, 0, 172, 3, 144, 28}));
    const std::string p = "vlibPRINT_QueryDevCap_Bins => ";
    EXPECT_TRUE(Has(trace, {p + "!WARNING! number of bins changed? = 2, 3"}));
    EXPECT_TRUE(Has(trace, {p + "Names: 3;Bins: -1", p + "!WARNING! bins != binnames"}));  // traced as it came
    EXPECT_EQ(Containing(trace, "querying bins"), 1);  // none for the -1
}

TEST(DevCapsLists, MediasStoreFullSlotNamesAndThirtyTwoBitIds) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P").SetMedia({{DMMEDIA_STANDARD, L"Plain"}, {0x10001, std::wstring(64, L'M')}});
    Trace trace;
    Block<MediaBuffer> medias(vlibPRINT_QueryDevCap_Medias(L"P", L"FILE:", nullptr));
    ASSERT_TRUE(medias);
    EXPECT_EQ(Header(medias.get()), (Fields{292, 2, 8, 284, 2, 256, 28}));
    EXPECT_EQ(trace.Lines().back(), "\t\tmedia 1: [65537] " + std::string(64, 'M'));  // no terminator of its own
}

// A count whose entries no block can hold fails the query as running out of
// memory does: no block, outputs 0, and a line that says why.
TEST(DevCapsLists, CountsTooLargeForOneBlockFailTheirQuery) {
    FakePrintSystem fake;
    fake::FakePrinter& p = fake.AddPrinter(L"P");
    p.Cap(DC_PAPERSIZE).counts = {0x10000000};  // 8 bytes each: 2 GiB
    p.Cap(DC_BINNAMES).counts = {0x7FFFFFFF};
    p.Cap(DC_FILEDEPENDENCIES).counts = {0x02000001};  // 128 bytes each: 4 GiB and 128 bytes
    p.Cap(DC_ENUMRESOLUTIONS).counts = {0x10000000};
    Trace trace;
    EXPECT_EQ(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr), nullptr);
    EXPECT_EQ(vlibPRINT_QueryDevCap_Bins(L"P", L"FILE:", nullptr), nullptr);
    DWORD num = 7, size = 7;
    EXPECT_EQ(vlibPRINT_QueryDevCap_Files(L"P", L"FILE:", nullptr, &num, &size), nullptr);
    EXPECT_TRUE(num == 0 && size == 0);
    num = size = 7;
    EXPECT_EQ(vlibPRINT_QueryDevCap_Resolutions(L"P", L"FILE:", L"winprint", nullptr, &num, &size), nullptr);
    EXPECT_TRUE(num == 0 && size == 0);
    // The forms table of a paper block that claims 2^24 sizes at 128 resolutions.
    const PaperBuffer claims = {40, 0, 0, 40, 0, 0, 40, 0x01000000, 0x08000000, 40};
    const ResolutionPair one = {300, 300};
    num = size = 7;
    EXPECT_EQ(vlibPRINT_QueryDevCap_Forms(L"P", L"FILE:", L"winprint", nullptr, &claims, &one, 128, 0, nullptr, 0, &num,
                                          &size, 0),
              nullptr);
    EXPECT_TRUE(num == 0 && size == 0);
    EXPECT_EQ(fake.OpenDCs() + fake.OpenPrinterHandles(), 0);
    const std::string w = " => !WARNING! ";
    for (const std::string& line :
         {"vlibPRINT_QueryDevCap_Papers" + w + "lists of 2, 2, 268435456 entries do not fit in one block",
          "vlibPRINT_QueryDevCap_Bins" + w + "lists of 2147483647, 2, 0 entries do not fit in one block",
          "vlibPRINT_QueryDevCap_Files" + w + "33554433 entries do not fit in one block",
          "vlibPRINT_QueryDevCap_Resolutions" + w + "268435456 resolutions do not fit in one block",
          "vlibPRINT_QueryDevCap_Forms" + w + "16777216 papers x 128 resolutions do not fit in one block"})
        EXPECT_TRUE(Has(trace, {line})) << line;
    EXPECT_EQ(Containing(trace, "couldn't allocate the memory, returning null"), 2);
}

}  // namespace
