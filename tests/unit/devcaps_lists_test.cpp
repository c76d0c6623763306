// The device capability lists: paper, bin and media blocks, and the bare
// lists (dependent files, N-up values, personalities, loaded papers) handed
// back with their count and size beside them; the built-in tables, block
// layouts and the driver quirks the queries must survive.
#include <gtest/gtest.h>

#include "devcaps/forms.h"
#include "devcaps/list_queries.h"
#include "devcaps/named_lists.h"
#include "devcaps/resolutions.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"
#include "support/heap_counter.h"

namespace {

using namespace devcaps_test;
using fake::Op;
using Fields = std::vector<DWORD>;
using DevCapsLists = OnePrinter;

// The header as little-endian 32-bit fields, compared whole.
template <class T>
Fields Header(const T* block) {
    return Fields(reinterpret_cast<const DWORD*>(block), reinterpret_cast<const DWORD*>(block + 1));
}

using NamedQuery = void* (*)(LPCWSTR, LPCWSTR, const DEVMODEW*, DWORD*, DWORD*);
#define KV_ERASE(q) [](LPCWSTR d, LPCWSTR p, const DEVMODEW* m, DWORD* n, DWORD* s) -> void* { return q(d, p, m, n, s); }

// A null printer gives the built-in tables, or empty bare lists, without asking
// the print system; a bare list query without its outputs is refused.
TEST_F(DevCapsLists, NullPrinterGivesTheBuiltInTablesOrEmptyLists) {
    testsupport::HeapCounter heap;
    Block<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(nullptr, L"FILE:", nullptr));
    Block<BinBuffer> bins(vlibPRINT_QueryDevCap_Bins(nullptr, L"FILE:", nullptr));
    EXPECT_EQ(vlibPRINT_QueryDevCap_Medias(nullptr, L"FILE:", nullptr), nullptr);
    ASSERT_TRUE(papers && bins);
    EXPECT_EQ(heap.Live(), 2);  // the two blocks; the lists they were made from went back
    EXPECT_EQ(Header(papers.get()), (Fields{16324, 118, 236, 15144, 118, 15104, 40, 118, 944, 15380}));
    EXPECT_EQ(Header(bins.get()), (Fields{678, 13, 26, 652, 13, 624, 28}));
    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 2u + 118 + 3 + 13 + 2);
    EXPECT_EQ(lines[2 + 8], "\t\tpaper   8: [  9] [2100 x 2970] A4 210 x 297 mm");
    EXPECT_EQ(lines[2 + 65], "\t\tpaper  65: [ 66] [2159 x 2794] A2 420 x 594 mm");  // Letter-sized all the same
    EXPECT_EQ(lines[123 + 11], "\t\tbin 11: [14] Cassette");
    for (size_t at : {1, 121, 137}) EXPECT_EQ(lines[at], "using defaults") << at;  // papers, bins, medias
    const std::pair<NamedQuery, std::string> bare[] = {
        {KV_ERASE(vlibPRINT_QueryDevCap_Files), "vlibPRINT_QueryDevCap_Files => DC_FILEDEPENDENCIES"},
        {KV_ERASE(vlibPRINT_QueryDevCap_NUP), "vlibPRINT_QueryDevCap_NUP => DC_NUP"},
        {KV_ERASE(vlibPRINT_QueryDevCap_Personality), "vlibPRINT_QueryDevCap_Personality => DC_PERSONALITY"},
        {KV_ERASE(vlibPRINT_QueryDevCap_MediaReady), "vlibPRINT_QueryDevCap_MediaReady => DC_MEDIAREADY"}};
    for (const auto& [query, firstLine] : bare) {
        SCOPED_TRACE(firstLine);
        trace.Mark();
        DWORD num = 7, size = 7;
        EXPECT_EQ(query(nullptr, L"FILE:", nullptr, &num, &size), nullptr);
        EXPECT_TRUE(num == 0 && size == 0);
        num = size = 7;  // bad parameters leave the output that was given untouched
        EXPECT_EQ(query(L"P", L"FILE:", nullptr, nullptr, &size), nullptr);
        EXPECT_EQ(query(L"P", L"FILE:", nullptr, &num, nullptr), nullptr);
        EXPECT_TRUE(num == 7 && size == 7);
        const std::string bad = firstLine.substr(0, firstLine.find("=> ") + 3) + "bad parameters";
        EXPECT_EQ(trace.Since(), (std::vector<std::string>{firstLine, "using defaults", firstLine, bad, firstLine, bad}));
    }
    EXPECT_TRUE(fake.calls().empty());
}

TEST_F(DevCapsLists, PaperListsAreCountedTwiceKeepTheirOwnCountsAndAFaultingOrChangedFetchLeavesItsListZero) {
    fake::FakePrinter& q = fake.AddPrinter(L"Q");
    for (fake::FakePrinter* each : {&printer, &q})
        each->SetPapers({{DMPAPER_LETTER, L"Letter", 2159, 2794}, {DMPAPER_A4, L"A4", 2100, 2970},
                         {DMPAPER_LEGAL, L"Legal", 2159, 3556}, {DMPAPER_A5, L"A5", 1480, 2100},
                         {DMPAPER_EXECUTIVE, L"Executive", 1841, 2667}});
    printer.Cap(DC_PAPERSIZE).entries.resize(4 * 8);  // five names, five ids, four sizes
    q.Cap(DC_PAPERNAMES).counts = {5, 3};  // the second count sizes the array; the driver writes all five
    q.Cap(DC_PAPERS).faultOnCalls = {3};   // two counting calls, then the fetch
    q.Cap(DC_PAPERSIZE).fetchAnswer = 6;
    Block<PaperBuffer> four(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr));
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 3 * 2 + 3);  // each list counted twice, fetched once
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
    EXPECT_TRUE(Has(trace, {w + "number of papernames changed? = 5, 3"}) && Has(trace, {w + "number of papersizes changed? = 6, 5"}));
}

// The two-list blocks: bins are counted once, medias (as papers) twice.
TEST_F(DevCapsLists, BinAndMediaBlocksKeepTheirCountsAsAnsweredAndFullSlotNames) {
    fake::FakePrinter& q = fake.AddPrinter(L"Q");
    for (fake::FakePrinter* each : {&printer, &q})
        each->SetBins({{DMBIN_UPPER, L"Upper"}, {DMBIN_LOWER, L"Lower"}, {DMBIN_MANUAL, L"Manual"}});
    printer.Cap(DC_BINS).fetchAnswer = 2;  // three counted, two fetched
    q.Cap(DC_BINS).counts = {-1};
    printer.SetMedia({{DMMEDIA_STANDARD, L"Plain"}, {0x10001, std::wstring(64, L'M')}});
    Block<BinBuffer> bins(vlibPRINT_QueryDevCap_Bins(L"P", L"FILE:", nullptr));
    Block<BinBuffer> noIds(vlibPRINT_QueryDevCap_Bins(L"Q", L"FILE:", nullptr));
    Block<MediaBuffer> medias(vlibPRINT_QueryDevCap_Medias(L"P", L"FILE:", nullptr));
    ASSERT_TRUE(bins && noIds && medias);
    EXPECT_EQ(Header(bins.get()), (Fields{178, 3, 6, 172, 3, 144, 28}));
    EXPECT_EQ(std::count(BinIds(bins.get()), BinIds(bins.get()) + 3, 0), 3);  // the ids stay zero
    EXPECT_EQ(Header(noIds.get()), (Fields{172, 0, 0, 172, 3, 144, 28}));
    const std::string p = "vlibPRINT_QueryDevCap_Bins => ";
    EXPECT_TRUE(Has(trace, {p + "!WARNING! number of bins changed? = 2, 3"}));
    EXPECT_TRUE(Has(trace, {p + "Names: 3;Bins: -1", p + "!WARNING! bins != binnames"}));  // traced as it came
    EXPECT_EQ(Containing(trace, "querying bins"), 1);  // none for the -1
    // Bins of P: each list counted once, fetched once; of Q: only the names
    // are fetched; medias: each list counted twice, fetched once.
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 2 + 2 + 2 + 1 + 2 * 2 + 2);
    EXPECT_EQ(Header(medias.get()), (Fields{292, 2, 8, 284, 2, 256, 28}));  // 32-bit ids
    EXPECT_EQ(trace.Lines().back(), "\t\tmedia 1: [65537] " + std::string(64, 'M'));  // no terminator of its own
}

// A count whose entries no block can hold fails the query as running out of
// memory does: no block, outputs 0, and a line that says why.
TEST_F(DevCapsLists, CountsTooLargeForOneBlockFailTheirQuery) {
    printer.Cap(DC_PAPERSIZE).counts = {0x10000000};  // 8 bytes each: 2 GiB
    printer.Cap(DC_BINNAMES).counts = {44739242};  // 48 bytes each: fits alone, not with the header and ids
    printer.Cap(DC_FILEDEPENDENCIES).counts = {0x02000001};  // 128 bytes each: 4 GiB and 128 bytes
    printer.Cap(DC_ENUMRESOLUTIONS).counts = {0x10000000};
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
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 3 * 2 + 2 + 1 + 2);  // every list counted as usual, none fetched
    const std::string w = " => !WARNING! ";
    for (const std::string& line :
         {"vlibPRINT_QueryDevCap_Papers" + w + "lists of 2, 2, 268435456 entries do not fit in one block",
          "vlibPRINT_QueryDevCap_Bins" + w + "lists of 44739242, 2, 0 entries do not fit in one block",
          "vlibPRINT_QueryDevCap_Files" + w + "33554433 entries do not fit in one block",
          "vlibPRINT_QueryDevCap_Resolutions" + w + "268435456 resolutions do not fit in one block",
          "vlibPRINT_QueryDevCap_Forms" + w + "16777216 papers x 128 resolutions do not fit in one block"})
        EXPECT_TRUE(Has(trace, {line})) << line;
    EXPECT_EQ(Containing(trace, "couldn't allocate the memory, returning null"), 2);
}

TEST(DevCapsBareLists, FilesAreCountedOnceTheOtherBareListsTwiceAndAListIsDroppedWhenItCannotBeFetched) {
    const NamedQuery files = KV_ERASE(vlibPRINT_QueryDevCap_Files), nup = KV_ERASE(vlibPRINT_QueryDevCap_NUP),
                     personality = KV_ERASE(vlibPRINT_QueryDevCap_Personality),
                     ready = KV_ERASE(vlibPRINT_QueryDevCap_MediaReady);
    const std::string f = "vlibPRINT_QueryDevCap_Files => ", n = "vlibPRINT_QueryDevCap_NUP => ",
                      r = "vlibPRINT_QueryDevCap_Personality => ", m = "vlibPRINT_QueryDevCap_MediaReady => ";
    struct Case { NamedQuery query; WORD index; int count; DWORD num, size; int calls;
                  std::vector<std::string> lines; int faultingCall = 0; } cases[] = {
        {files, DC_FILEDEPENDENCIES, INT_MIN, 3, 384, 2, {f + "DC_FILEDEPENDENCIES", f + "number of files: 3",
         "\t\tfile 0: PSCRIPT5.DLL", "\t\tfile 1: PS5UI.DLL", "\t\tfile 2: " + std::string(64, 'F')}},  // a full slot
        {files, DC_FILEDEPENDENCIES, -1, 0, 0, 1, {f + "DC_FILEDEPENDENCIES", f + "number of files: -1"}},
        {files, DC_FILEDEPENDENCIES, 1, 0, 0, 2, {f + "DC_FILEDEPENDENCIES", f + "number of files: 1", "threw exception",
         f + "!WARNING! number of files changed 1 => 0"}, 2},  // the fetch faults
        {personality, DC_PERSONALITY, INT_MIN, 2, 128, 3, {r + "DC_PERSONALITY", r + "number of personality: 2",
         "\t\tpersonality 0: PCL", "\t\tpersonality 1: " + std::string(32, 'P')}},  // a full slot
        {ready, DC_MEDIAREADY, INT_MIN, 1, 128, 3, {m + "DC_MEDIAREADY", m + "number of MediaReady: 1", "\t\tmediaready 0: Letter"}},
        // Counted 3, the driver writes its 4 values all the same.
        {nup, DC_NUP, 3, 0, 0, 3, {n + "DC_NUP", n + "number of NUP: 3", n + "numNUP changed, 3 => 4"}},
        {nup, DC_NUP, -1, 0, 0, 1, {n + "DC_NUP", n + "number of NUP: 0"}},  // as Wine answers: not asked again
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines[1]);
        PrinterP p;
        p.printer.SetNames(DC_FILEDEPENDENCIES, 64, {L"PSCRIPT5.DLL", L"PS5UI.DLL", std::wstring(64, L'F')});
        p.printer.SetValues(DC_NUP, {1, 2, 4, 6});
        p.printer.SetNames(DC_PERSONALITY, 32, {L"PCL", std::wstring(32, L'P')});
        p.printer.SetNames(DC_MEDIAREADY, 64, {L"Letter"});
        if (c.count != INT_MIN) p.printer.Cap(c.index).counts = {c.count};
        if (c.faultingCall) p.printer.Cap(c.index).faultOnCalls = {c.faultingCall};
        DWORD num = 7, size = 7;
        EXPECT_EQ(Block<void>(c.query(L"P", L"FILE:", nullptr, &num, &size)) != nullptr, c.num > 0);
        EXPECT_TRUE(num == c.num && size == c.size) << num << " " << size;
        EXPECT_EQ(p.fake.Count(Op::DeviceCapabilities), c.calls);
        EXPECT_EQ(p.trace.Lines(), c.lines);
    }
}

}  // namespace
