// The true resolution list and the measured indexed levels, against the fake
// print system's drivers.
#include <gtest/gtest.h>

#include <climits>

#include "devcaps/resolutions.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using namespace devcaps_test;
using fake::FakePrintSystem;
using fake::Op;
using PairList = std::vector<std::pair<LONG, LONG>>;
using Query = ResolutionPair* (*)(LPCWSTR, LPCWSTR, LPCWSTR, const DEVMODEW*, DWORD*, DWORD*);

// Runs a query; the list it returned (empty for null) and its two outputs.
struct Result { bool null; PairList pairs; DWORD num, size; };
Result Ask(Query query, LPCWSTR device) {
    Result r = {true, {}, 0xDEAD, 0xDEAD};
    Block<ResolutionPair> list(query(device, L"FILE:", L"winprint", nullptr, &r.num, &r.size));
    r.null = !list;
    for (DWORD i = 0; list && i < r.num; ++i) r.pairs.emplace_back(list.get()[i].x, list.get()[i].y);
    return r;
}

TEST(Resolutions, DefaultsAndInvalidArgumentsNeverReachThePrintSystem) {
    FakePrintSystem fake;
    for (Query query : {&vlibPRINT_QueryDevCap_Resolutions, &vlibPRINT_QueryDevCap_ResolutionsIndexed}) {
        EXPECT_EQ(Ask(query, nullptr).pairs, (PairList{{150, 150}, {300, 300}, {600, 600}, {1200, 1200}}));
        DWORD out = 0;
        EXPECT_EQ(query(L"P", nullptr, nullptr, nullptr, nullptr, &out), nullptr);
        EXPECT_EQ(query(L"P", nullptr, nullptr, nullptr, &out, nullptr), nullptr);
    }
    EXPECT_TRUE(fake.calls().empty());
}

TEST(Resolutions, RefusesListsThatAreEmptyChangedOrNegative) {
    const std::string p = "vlibPRINT_QueryDevCap_Resolutions => ";
    // result: empty when refused; run: consecutive lines of the trace.
    struct Case { const char* what; PairList entries; std::vector<int> counts; int fetchAnswer; bool faultOnFetch;
                  PairList result; std::vector<std::string> run; } cases[] = {
        {"negative", {{300, 300}, {600, 600}, {-1, -1}}, {}, INT_MIN, false, {},
         {"\t\tdwNumResolutions: 3", "\t\tResolution 0: 300 x 300", "\t\tResolution 1: 600 x 600",
          "\t\tResolution 2: -1 x -1", p + "negative resolution - printer will only use indexed resolutions..."}},
        {"negative y", {{300, -300}}, {}, INT_MIN, false, {}, {}},
        {"count 0", {{300, 300}}, {0}, INT_MIN, false, {},
         {p + "dwNumResolutions = 0", p + "printer only supports indexed resolutions"}},
        {"count 2, fetch 3", {{300, 300}, {600, 600}, {1200, 1200}}, {2}, 3, false, {},
         {p + "numResolutions changed, 2 => 3"}},
        {"fault while fetching", {{300, 300}, {600, 600}}, {}, INT_MIN, true, {},
         {"threw exception", p + "numResolutions changed, 2 => 0"}},
        // The second count sizes the fetch.
        {"count 3 then 2", {{300, 300}, {600, 600}, {1200, 600}}, {3, 2}, INT_MIN, false, {{300, 300}, {600, 600}},
         {"\t\tdwNumResolutions: 2", "\t\tResolution 0: 300 x 300", "\t\tResolution 1: 600 x 600"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePrintSystem fake;
        fake::FakePrinter& printer = fake.AddPrinter(L"P");
        printer.SetResolutions(c.entries);
        printer.Cap(DC_ENUMRESOLUTIONS).counts = c.counts;  // empty: the number of entries
        printer.Cap(DC_ENUMRESOLUTIONS).fetchAnswer = c.fetchAnswer;
        if (c.faultOnFetch) printer.Cap(DC_ENUMRESOLUTIONS).faultOnCalls = {3};
        Trace trace;
        const Result r = Ask(&vlibPRINT_QueryDevCap_Resolutions, L"P");
        EXPECT_EQ(r.pairs, c.result);
        EXPECT_TRUE(r.null == c.result.empty() && r.num == c.result.size() && r.size == r.num * 8) << r.num;
        EXPECT_TRUE(Has(trace, c.run));
    }
}

TEST(ResolutionsIndexed, MeasuresEachLevelFallingBackTo300OrThePrintersDefaults) {
    struct Case { const char* what; bool openable; int faultingDC; PairList pairs; size_t calls; long handles, faults; }
    cases[] = {
        // Per level: open, size, default, validate, close, one device context.
        {"measured", true, 0, {{75, 75}, {150, 150}, {360, 360}, {720, 720}}, 4 * (5 + 4), 0, 0},
        // Device contexts made without a DEVMODE, at the printer's own defaults.
        {"cannot be opened", false, 0, PairList(4, {200, 200}), 4 * (1 + 4), 4, 0},
        // The faulting level takes 300 dpi (no reads, nothing to delete); the others are measured.
        {"fault on level -3", true, 3, {{75, 75}, {150, 150}, {300, 300}, {720, 720}}, 4 * (5 + 4) - 3, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePrintSystem fake;
        fake::FakePrinter& printer = fake.AddPrinter(L"P");
        printer.indexedDpi = {{-1, 75}, {-2, 150}, {-3, 360}, {-4, 720}};
        printer.openable = c.openable;
        fake::AsDevmode(printer.devmode)->dmPrintQuality = fake::AsDevmode(printer.devmode)->dmYResolution = 200;
        if (c.faultingDC) fake.FaultOn(Op::CreateDC, c.faultingDC);
        Trace trace;
        const Result r = Ask(&vlibPRINT_QueryDevCap_ResolutionsIndexed, L"P");
        EXPECT_EQ(r.pairs, c.pairs);
        EXPECT_EQ(r.size, 32u);
        EXPECT_EQ(fake.calls().size(), c.calls);
        EXPECT_EQ(Containing(trace, "ResolutionsIndexed => couldn't get a handle"), c.handles);
        EXPECT_EQ(Containing(trace, "threw exception"), c.faults);
        const std::string last = std::to_string(c.pairs[3].first) + " x " + std::to_string(c.pairs[3].second);
        EXPECT_TRUE(Has(trace, {"\t\tResolution -4: " + last}));
        EXPECT_TRUE(fake.OpenPrinterHandles() == 0 && fake.OpenDCs() == 0);
    }
}

}  // namespace
