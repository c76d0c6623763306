// The forms table and the resolution lists it is measured at: computed for
// defaults, and measured against the fake print system's drivers.
#include <gtest/gtest.h>

#include <new>

#include "devcaps/forms.h"
#include "devcaps/list_queries.h"
#include "devcaps/resolutions.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"
#include "platform/guard.h"
#include "support/heap_counter.h"

namespace {

using namespace devcaps_test;
using fake::FakePrintSystem;
using fake::Op;
using Pairs = std::vector<ResolutionPair>;
using PairList = std::vector<std::pair<LONG, LONG>>;
using Longs = std::vector<LONG>;
using Query = ResolutionPair* (*)(LPCWSTR, LPCWSTR, LPCWSTR, const DEVMODEW*, DWORD*, DWORD*);
using FormsMeasured = OnePrinter;

const fake::FakePaper kLetter = {DMPAPER_LETTER, L"Letter", 2159, 2794}, kA4 = {DMPAPER_A4, L"A4", 2100, 2970},
                      kLegal = {DMPAPER_LEGAL, L"Legal", 2159, 3556}, kSquare = {DMPAPER_USER, L"Square", 2000, 2000};
const std::vector<fake::FakePaper> kThree = {kLetter, kA4, kLegal};

// Runs a resolution query; the list it returned (empty for null) and its two outputs.
struct Result { bool null; PairList pairs; DWORD num, size; };
Result Ask(Query query, LPCWSTR device) {
    Result r = {true, {}, 0xDEAD, 0xDEAD};
    Block<ResolutionPair> list(query(device, L"FILE:", L"winprint", nullptr, &r.num, &r.size));
    r.null = !list;
    for (DWORD i = 0; list && i < r.num; ++i) r.pairs.emplace_back(list.get()[i].x, list.get()[i].y);
    return r;
}

// The forms of printer "P" for the block of its own paper query (whose calls
// are dropped from the record); a table of `count` forms and its size must
// come back. Always `count` entries, zeros past what came back.
std::vector<FormEntry> Forms(FakePrintSystem& fake, DWORD count, Pairs resolutions = {{300, 300}, {600, 600}},
                             bool indexedOnly = false, bool ignoreLogPixels = false,
                             Pairs indexed = {{150, 150}, {300, 300}, {600, 600}, {1200, 1200}}) {
    Block<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr));
    fake.ClearCalls();
    DWORD num = 0xDEAD, size = 0xDEAD;
    Block<FormEntry> forms(vlibPRINT_QueryDevCap_Forms(
        L"P", L"FILE:", L"winprint", nullptr, papers.get(), resolutions.empty() ? nullptr : resolutions.data(),
        static_cast<DWORD>(resolutions.size()), indexedOnly, indexed.data(), static_cast<DWORD>(indexed.size()),
        &num, &size, ignoreLogPixels));
    EXPECT_TRUE(forms && num == count && size == num * 84) << num << " " << size;
    std::vector<FormEntry> table(count);
    if (forms) std::copy_n(forms.get(), std::min(num, count), table.begin());
    return table;
}

Longs Values(const FormEntry& f) { return Longs(&f.formNo, &f.offY + 1); }

// Defaults and invalid arguments never reach the print system.
TEST(FormsDefaults, EveryDefaultPaperAtEveryDefaultResolution) {
    FakePrintSystem fake;
    for (Query query : {&vlibPRINT_QueryDevCap_Resolutions, &vlibPRINT_QueryDevCap_ResolutionsIndexed}) {
        EXPECT_EQ(Ask(query, nullptr).pairs, (PairList{{150, 150}, {300, 300}, {600, 600}, {1200, 1200}}));
        DWORD out = 0;
        EXPECT_EQ(query(L"P", nullptr, nullptr, nullptr, nullptr, &out), nullptr);
        EXPECT_EQ(query(L"P", nullptr, nullptr, nullptr, &out, nullptr), nullptr);
        testsupport::HeapCounter noRoom(0);  // the default list: none, and outputs of 0
        DWORD num = 7, size = 7;
        EXPECT_TRUE(!query(nullptr, nullptr, nullptr, nullptr, &num, &size) && num == 0 && size == 0) << num << " " << size;
    }
    Block<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(nullptr, nullptr, nullptr));
    DWORD numRes = 0, sizeRes = 0, num = 0, size = 0;
    Block<ResolutionPair> res(vlibPRINT_QueryDevCap_Resolutions(nullptr, nullptr, nullptr, nullptr, &numRes, &sizeRes));
    Block<FormEntry> forms(vlibPRINT_QueryDevCap_Forms(nullptr, nullptr, nullptr, nullptr, papers.get(), res.get(),
                                                       numRes, 0, res.get(), numRes, &num, &size, 0));
    ASSERT_TRUE(forms && num == 472 && size == 472 * 84) << num;
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(Values(forms.get()[0]),
              (Longs{0, 0, 1, 2159, 2794, 150, 150, 0, 215, 279, 1275, 1650, 150, 150, 150, 150, 212, 1275, 1650, 0, 0}));
    EXPECT_EQ(Values(forms.get()[118]), (Longs{118, 0, 1, 2159, 2794, 300, 300, 0, 215, 279, 2550, 3300, 300, 300,
                                               300, 300, 424, 2550, 3300, 0, 0}));
    for (DWORD f = 0; f < num; ++f) EXPECT_EQ(forms.get()[f].formNo, static_cast<LONG>(f));
}

TEST_F(FormsMeasured, IndexedOnlyPrintersWalkTheFourLevels) {
    printer.SetPapers(kThree);  // levels -1 to -4 print at 150, 300, 600 and 1200 dpi, whatever the list says
    const auto t = Forms(fake, 12, {{300, 300}}, true, false, {{75, 75}, {150, 150}, {360, 360}, {720, 720}});
    for (LONG f = 0; f < 12; ++f)
        EXPECT_EQ((Longs{t[f].formNo, t[f].paprI, t[f].resX, t[f].resY, t[f].resNo, t[f].logX}),
                  (Longs{f, kThree[f % 3].id, -1 - f / 3, 0, -1 - f / 3, 150 << (f / 3)}));
}

TEST(FormsOrientation, TheOrientationTestWaitsForAPageThatIsNotSquare) {
    for (bool ignoresOrientation : {false, true}) {
        SCOPED_TRACE(ignoresOrientation);
        PrinterP p;
        p.printer.SetPapers({kSquare, kLetter, kA4});
        p.printer.ignoresOrientation = ignoresOrientation;
        const auto t = Forms(p.fake, 6);
        for (int f = 0; f < 6; ++f) EXPECT_EQ(t[f].orientFlag, ignoresOrientation && f > 0 ? 0 : 1) << f;
        // Square form 0, form 1, then the one test on form 1's page turned over.
        std::vector<fake::Call> dcs = CallsOf(p.fake, Op::CreateDC);
        ASSERT_EQ(dcs.size(), 6u + 1);
        const DEVMODEW* turned = fake::AsDevmode(dcs[2].devmode);
        EXPECT_TRUE(turned->dmPaperSize == DMPAPER_LETTER && turned->dmOrientation == DMORIENT_LANDSCAPE);
        EXPECT_EQ(fake::AsDevmode(dcs[3].devmode)->dmOrientation, DMORIENT_PORTRAIT);
    }
}

// On its own the orientation test runs under its caller's guard: a fault or a
// throw at its first read leaves no device context behind.
TEST_F(FormsMeasured, TheOrientationTestGivesItsDeviceContextBackOnTheWayOut) {
    auto turn = [&] { OrientationChangesPage(L"P", L"winprint", fake::AsDevmode(printer.devmode), 1, 2, 3, 4); };
    fake.FaultOnDriverCall(fake.DriverCalls() + 2);
    EXPECT_FALSE(platform::Guarded(turn));
    fake.ThrowOnDriverCall(fake.DriverCalls() + 2);
    EXPECT_THROW(platform::Guarded(turn), std::bad_alloc);
    EXPECT_EQ(fake.OpenDCs(), 0);
}

TEST_F(FormsMeasured, IgnoreLogPixelsTakesTheListsWhateverTheDriverReports) {
    // A DEVMODE older than the merge's first gate: the driver stays at its
    // default Letter page at 300 dpi for every form.
    fake::AsDevmode(printer.devmode)->dmSpecVersion = 0x030A;
    const auto t = Forms(fake, 4, {{300, 300}, {600, 600}}, false, true);
    for (int f = 0; f < 4; ++f)
        EXPECT_EQ((Longs{t[f].logX, t[f].logY, t[f].physW}), (Longs{300 << f / 2, 300 << f / 2, 2550})) << f;
    for (const int index : ArgsOf(fake, Op::GetDeviceCaps)) EXPECT_NE(index, LOGPIXELSX);
    // Indexed levels take the indexed list, full 32-bit values.
    const auto indexed = Forms(fake, 8, {}, true, true, {{75, 75}, {150, 150}, {360, 360}, {100000, 50000}});
    EXPECT_TRUE(indexed[7].logX == 100000 && indexed[7].logY == 50000);
    EXPECT_EQ(Containing(trace, "Indexed Resolution: LogX = 100000, LogY = 50000"), 1);
}

// A form that cannot be measured takes the fixed page; the measurement of a
// first paper stands for its resolution (600 dpi when it faulted). Letter, A4
// and Legal at 300 and 360 dpi; GetDeviceCaps reads: form 0 13 and its
// orientation test 4, forms 1 and 2 8 each, form 3 13, form 4 8.
TEST(FormsFaults, AFormThatCannotBeMeasuredTakesTheFixedPage) {
    const std::string f = "vlibPRINT_QueryDevCap_Forms => ";
    struct Case { const char* what; int read; bool openable, devmode; int first, last; LONG log, aspXY;
                  int createDCs, documentProperties; std::string line; } cases[] = {
        {"a fault on form 5", 17 + 8 + 8 + 13 + 8 + 2, true, true, 5, 5, 360, 509, 7, 18, "EXCEPTION: "},
        // The orientation test is asked again on form 1.
        {"a fault in the orientation test on form 0", 13 + 2, true, true, 0, 0, 600, 848, 8, 18, "EXCEPTION: "},
        // Every form is measured with the printer's defaults, then the pending
        // orientation test has no DEVMODE to turn over.
        {"no printer handle", 0, false, true, 0, 5, 600, 848, 6, 0, f + "couldn't get a handle to the printer"},
        {"no DEVMODE", 0, true, false, 0, 5, 600, 848, 0, 6, f + "couldn't allocate memory for pDefDM"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PrinterP p;
        p.printer.SetPapers(kThree);
        p.printer.openable = c.openable;
        if (!c.devmode) p.printer.devmode.clear();
        if (c.read) p.fake.FaultOn(Op::GetDeviceCaps, c.read);
        const auto t = Forms(p.fake, 6, {{300, 300}, {360, 360}});
        // A faulted form: its paper and resolution, the fixed page (a Letter
        // sheet at 600 dpi) with the logical and aspect values of its resolution.
        for (int form = c.first; form <= c.last; ++form) {
            const fake::FakePaper& paper = kThree[form % 3];
            const LONG res = form < 3 ? 300 : 360;
            EXPECT_EQ(Values(t[form]), (Longs{form, 1, paper.id, paper.width, paper.length, res, res, form / 3, 207, 271,
                                              4887, 6391, c.log, c.log, c.log, c.log, c.aspXY, 5100, 6600, 110, 99}));
        }
        // The next paper of the resolution keeps the same values with its own page.
        if (c.last % 3 != 2) EXPECT_TRUE(t[c.last + 1].logX == c.log && t[c.last + 1].physW != 5100);
        EXPECT_EQ(Containing(p.trace, c.line), c.last - c.first + 1);
        EXPECT_EQ(Containing(p.trace, "EXCEPTION: "), c.last - c.first + 1);
        EXPECT_EQ(p.fake.Count(Op::CreateDC), c.createDCs);
        EXPECT_EQ(p.fake.Count(Op::DocumentProperties), c.documentProperties);
        // Without a handle the device contexts are made without a DEVMODE.
        for (const fake::Call& call : CallsOf(p.fake, Op::CreateDC)) EXPECT_EQ(call.devmode.empty(), !c.openable);
        EXPECT_TRUE(p.fake.OpenDCs() == 0 && p.fake.OpenPrinterHandles() == 0);
    }
}

// No room for the table, or for its working DEVMODE: no table, outputs 0, no
// block left. No paper sizes: an empty table, and nothing asked.
TEST_F(FormsMeasured, NoRoomForTheTableOrItsWorkingDevmodeGivesNoTableAndNoPaperSizesAnEmptyOne) {
    Block<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(L"P", L"FILE:", nullptr));
    ResolutionPair res = {300, 300};
    for (long refused : {0, 1}) {  // the blocks given before the refusal
        DWORD num = 0xDEAD, size = 0xDEAD;
        testsupport::HeapCounter heap(refused);
        EXPECT_EQ(vlibPRINT_QueryDevCap_Forms(L"P", L"FILE:", L"winprint", nullptr, papers.get(), &res, 1, 0, &res, 1, &num,
                                              &size, 0),
                  nullptr);
        EXPECT_TRUE(num == 0 && size == 0 && heap.Live() == 0) << refused << ": " << num << " " << size << " " << heap.Live();
    }
    EXPECT_EQ(Containing(trace, "vlibPRINT_QueryDevCap_Forms => couldn't allocate devmode"), 1);
    printer.Cap(DC_PAPERSIZE).counts = {0};
    Forms(fake, 0);
    EXPECT_TRUE(fake.calls().empty());
}

TEST_F(FormsMeasured, ShorterIdAndNameListsGiveNoIdAndNoName) {
    printer.SetPapers({{DMPAPER_A4, std::wstring(64, L'N'), 2100, 2970}, kLegal, kSquare});  // a name filling its slot
    printer.Cap(DC_PAPERNAMES).entries.resize(kPaperNameBytes);  // one name, two ids, three sizes
    printer.Cap(DC_PAPERS).entries.resize(2 * 2);
    const auto t = Forms(fake, 3, {{300, 300}});
    EXPECT_EQ((Longs{t[2].paprI, t[2].paprW}), (Longs{0, 2000}));
    std::vector<fake::Call> dcs = CallsOf(fake, Op::CreateDC);  // form 0, its orientation test, 1, 2
    ASSERT_EQ(dcs.size(), 4u);
    // At most 31 units of a name; no name leaves the driver's own.
    EXPECT_EQ(std::wstring(fake::AsDevmode(dcs[0].devmode)->dmFormName), std::wstring(31, L'N'));
    EXPECT_STREQ(fake::AsDevmode(dcs[2].devmode)->dmFormName, L"Letter");
}

TEST_F(FormsMeasured, WritesTheRowsAndRecordsWithOneDeviceContextPerForm) {
    // Letter and A4, margins of 4.2 mm all round; 300 dpi across and 600 down
    // first. The driver's default is turned over: the forms are measured upright.
    fake::AsDevmode(printer.devmode)->dmOrientation = DMORIENT_LANDSCAPE;
    testsupport::HeapCounter heap;  // the working DEVMODE goes back with the table
    const auto t = Forms(fake, 4, {{300, 600}, {600, 600}});
    EXPECT_EQ(heap.Live(), 0);
    EXPECT_EQ(Values(t[0]),
              (Longs{0, 1, 1, 2159, 2794, 300, 600, 0, 207, 271, 2452, 6402, 300, 600, 600, 300, 670, 2550, 6600, 49, 99}));
    // The orientation test on Letter found a change: "!" opens the next row.
    EXPECT_TRUE(Has(trace, {"[ 2159, 2794] [  300,  600][  207,  271, 2452, 6402, 2550, 6600,   49,   99] ",
                            "![ 2100, 2970] [  300,  600][  201,  288, 2382, 6817, 2480, 7015,   49,   99] ",
                            "\t\tRes  1: ( 600, 600) "}));
    // Per form: open, three DocumentProperties, close, a device context with
    // eight page reads; five more reads on the first paper of a resolution;
    // one orientation test of a device context and four reads. (The fake
    // counts only closes of open handles and contexts: none is left open.)
    EXPECT_EQ((std::vector<int>{fake.Count(Op::OpenPrinter), fake.Count(Op::DocumentProperties), fake.Count(Op::ClosePrinter),
                                fake.Count(Op::CreateDC), fake.Count(Op::DeleteDC), fake.Count(Op::GetDeviceCaps)}),
              (std::vector<int>{4, 4 * 3, 4, 4 + 1, 4 + 1, 4 * 8 + 2 * 5 + 4}));
    EXPECT_EQ(fake.calls().size(), 4u * 15 + 2 * 5 + 6);  // and nothing else
    // The print processor stands in as driver name of every device context.
    for (const fake::Call& dc : CallsOf(fake, Op::CreateDC)) EXPECT_EQ(dc.text, L"winprint");
}

TEST(Resolutions, RefusesListsThatAreEmptyChangedOrNegative) {
    const std::string p = "vlibPRINT_QueryDevCap_Resolutions => ";
    // result: empty when refused; run: consecutive lines that end the trace.
    struct Case { const char* what; PairList entries; std::vector<int> counts; bool faultOnFetch;
                  PairList result; std::vector<std::string> run; } cases[] = {
        {"negative", {{300, 300}, {600, 600}, {-1, -1}}, {}, false, {},
         {"\t\tdwNumResolutions: 3", "\t\tResolution 0: 300 x 300", "\t\tResolution 1: 600 x 600",
          "\t\tResolution 2: -1 x -1", p + "negative resolution - printer will only use indexed resolutions..."}},
        {"negative y", {{300, -300}}, {}, false, {},
         {"\t\tResolution 0: 300 x -300", p + "negative resolution - printer will only use indexed resolutions..."}},
        {"count 0", {{300, 300}}, {0}, false, {},
         {p + "dwNumResolutions = 0", p + "printer only supports indexed resolutions"}},
        {"count 3, fetch 6", PairList(6, {300, 300}), {3}, false, {}, {p + "numResolutions changed, 3 => 6"}},
        {"fault while fetching", {{300, 300}, {600, 600}}, {}, true, {},
         {"threw exception", p + "numResolutions changed, 2 => 0"}},
        // The second count sizes the fetch.
        {"count 3 then 2", {{300, 300}, {600, 600}}, {3, 2}, false, {{300, 300}, {600, 600}},
         {"\t\tdwNumResolutions: 2", "\t\tResolution 0: 300 x 300", "\t\tResolution 1: 600 x 600"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PrinterP p;
        p.printer.SetResolutions(c.entries);
        fake::CapAnswer& answer = p.printer.Cap(DC_ENUMRESOLUTIONS);
        answer.counts = c.counts;  // empty: the number of entries
        if (c.faultOnFetch) answer.faultOnCalls = {3};
        testsupport::HeapCounter heap;  // a refused list goes back
        const Result r = Ask(&vlibPRINT_QueryDevCap_Resolutions, L"P");
        EXPECT_EQ(r.pairs, c.result);
        EXPECT_TRUE(r.null == c.result.empty() && r.num == c.result.size() && r.size == r.num * 8) << r.num;
        EXPECT_TRUE(Has(p.trace, c.run) && p.trace.Lines().back() == c.run.back() && heap.Live() == 0) << heap.Live();
    }
}

TEST(ResolutionsIndexed, MeasuresEachLevelFallingBackTo300OrThePrintersDefaults) {
    struct Case { const char* what; bool openable; int faultingDC; PairList pairs; size_t calls; long handles, faults;
                  bool devmode = true; }
    cases[] = {
        // Per level: open, size, default, validate, close, one device context.
        {"measured", true, 0, {{75, 75}, {150, 150}, {360, 360}, {720, 720}}, 4 * (5 + 4), 0, 0},
        // Device contexts made without a DEVMODE, at the printer's own defaults.
        {"cannot be opened", false, 0, PairList(4, {200, 100}), 4 * (1 + 4), 4, 0},
        // The faulting level takes 300 dpi (no reads, nothing to delete); the others are measured.
        {"fault on level -3", true, 3, {{75, 75}, {150, 150}, {300, 300}, {720, 720}}, 4 * (5 + 4) - 3, 0, 1},
        // No DEVMODE to ask a level with: open, size, close, and 300 dpi.
        {"no DEVMODE", true, 0, PairList(4, {300, 300}), 4 * 3, 0, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PrinterP p;
        p.printer.indexedDpi = {{-1, 75}, {-2, 150}, {-3, 360}, {-4, 720}};
        p.printer.openable = c.openable;
        if (!c.devmode) p.printer.devmode.clear();
        else fake::AsDevmode(p.printer.devmode)->dmPrintQuality = 200, fake::AsDevmode(p.printer.devmode)->dmYResolution = 100;
        if (c.faultingDC) p.fake.FaultOn(Op::CreateDC, c.faultingDC);
        const Result r = Ask(&vlibPRINT_QueryDevCap_ResolutionsIndexed, L"P");
        EXPECT_EQ(r.pairs, c.pairs);
        EXPECT_EQ(r.size, 32u);
        EXPECT_EQ(p.fake.calls().size(), c.calls);
        EXPECT_EQ(Containing(p.trace, "ResolutionsIndexed => couldn't get a handle"), c.handles);
        EXPECT_EQ(Containing(p.trace, "threw exception"), c.faults);
        const std::string last = std::to_string(c.pairs[3].first) + " x " + std::to_string(c.pairs[3].second);
        EXPECT_TRUE(Has(p.trace, {"\t\tResolution -4: " + last}));
        EXPECT_TRUE(p.fake.OpenPrinterHandles() == 0 && p.fake.OpenDCs() == 0);
    }
}

}  // namespace
