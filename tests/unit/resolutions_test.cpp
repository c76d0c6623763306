// The true resolution list and the measured indexed levels, against the fake
// print system's drivers.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "devcaps/resolutions.h"
#include "fake/fake_print_system.h"
#include "platform/kernel.h"
#include "trace_capture.h"

namespace {

using fake::FakePrintSystem;
using fake::Op;
using testsupport::TraceCapture;
using PairList = std::vector<std::pair<LONG, LONG>>;
using Query = ResolutionPair* (*)(LPCWSTR, LPCWSTR, LPCWSTR, const DEVMODEW*, DWORD*, DWORD*);

// Runs a query; the list it returned (empty for null) and its two outputs.
struct Result {
    bool null;
    PairList pairs;
    DWORD num, size;
};
Result Ask(Query query, LPCWSTR device) {
    Result r = {true, {}, 0xDEAD, 0xDEAD};
    ResolutionPair* list = query(device, L"FILE:", L"winprint", nullptr, &r.num, &r.size);
    r.null = list == nullptr;
    for (DWORD i = 0; list && i < r.num; ++i) r.pairs.emplace_back(list[i].x, list[i].y);
    platform::HeapFreeBlock(list);
    return r;
}

TEST(Resolutions, DefaultsAndInvalidArgumentsNeverReachThePrintSystem) {
    FakePrintSystem fake;
    for (Query query : {&vlibPRINT_QueryDevCap_Resolutions, &vlibPRINT_QueryDevCap_ResolutionsIndexed}) {
        const Result r = Ask(query, nullptr);
        EXPECT_EQ(r.pairs, (PairList{{150, 150}, {300, 300}, {600, 600}, {1200, 1200}}));
        EXPECT_EQ(r.size, 32u);
        DWORD out = 0;
        EXPECT_EQ(query(L"P", nullptr, nullptr, nullptr, nullptr, &out), nullptr);
        EXPECT_EQ(query(L"P", nullptr, nullptr, nullptr, &out, nullptr), nullptr);
    }
    EXPECT_TRUE(fake.calls().empty());
}

TEST(Resolutions, RefusesListsThatAreEmptyChangedOrNegative) {
    struct Case {  // result: empty when refused; tail: the last lines of the trace
        const char* what; PairList entries; std::vector<int> counts; int fetchAnswer; bool faultOnFetch;
        PairList result; std::vector<std::string> tail;
    } cases[] = {
        {"negative", {{300, 300}, {600, 600}, {-1, -1}}, {}, INT_MIN, false, {},
         {"\t\tdwNumResolutions: 3", "\t\tResolution 0: 300 x 300", "\t\tResolution 1: 600 x 600",
          "\t\tResolution 2: -1 x -1",
          "vlibPRINT_QueryDevCap_Resolutions => negative resolution - printer will only use indexed resolutions..."}},
        {"negative y", {{300, -300}}, {}, INT_MIN, false, {}, {}},
        {"count 0", {{300, 300}}, {0}, INT_MIN, false, {},
         {"vlibPRINT_QueryDevCap_Resolutions => dwNumResolutions = 0",
          "vlibPRINT_QueryDevCap_Resolutions => printer only supports indexed resolutions"}},
        {"count 2, fetch 3", {{300, 300}, {600, 600}, {1200, 1200}}, {2}, 3, false, {},
         {"vlibPRINT_QueryDevCap_Resolutions => numResolutions changed, 2 => 3"}},
        {"fault while fetching", {{300, 300}, {600, 600}}, {}, INT_MIN, true, {},
         {"threw exception", "vlibPRINT_QueryDevCap_Resolutions => numResolutions changed, 2 => 0"}},
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
        TraceCapture trace;
        const Result r = Ask(&vlibPRINT_QueryDevCap_Resolutions, L"P");
        EXPECT_EQ(r.null, c.result.empty());
        EXPECT_EQ(r.pairs, c.result);
        EXPECT_EQ(r.num, c.result.size());
        EXPECT_EQ(r.size, c.result.size() * 8);
        const std::vector<std::string> lines = trace.Lines();
        ASSERT_GE(lines.size(), c.tail.size());
        EXPECT_EQ(std::vector<std::string>(lines.end() - c.tail.size(), lines.end()), c.tail);
    }
}

// A driver whose four quality levels print at distinct resolutions.
fake::FakePrinter& IndexedPrinter(FakePrintSystem& fake) {
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    printer.indexedDpi = {{-1, 75}, {-2, 150}, {-3, 360}, {-4, 720}};
    return printer;
}

TEST(ResolutionsIndexed, MeasuresEachLevelOrThePrintersDefaultsWhenItCannotBeOpened) {
    struct Case { bool openable; PairList pairs; size_t calls, handleLines; } cases[] = {
        // Per level: open, size, default, validate, close, one device context.
        {true, {{75, 75}, {150, 150}, {360, 360}, {720, 720}}, 4 * (5 + 4), 0},
        {false, PairList(4, {200, 200}), 4 * (1 + 4), 4},  // device contexts made without a DEVMODE
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.openable);
        FakePrintSystem fake;
        fake::FakePrinter& printer = IndexedPrinter(fake);
        printer.openable = c.openable;
        fake::AsDevmode(printer.devmode)->dmPrintQuality = fake::AsDevmode(printer.devmode)->dmYResolution = 200;
        TraceCapture trace;
        const Result r = Ask(&vlibPRINT_QueryDevCap_ResolutionsIndexed, L"P");
        EXPECT_EQ(r.pairs, c.pairs);
        EXPECT_EQ(r.size, 32u);
        EXPECT_EQ(fake.calls().size(), c.calls);
        for (const fake::Call& call : fake.calls()) {
            if (call.op != Op::CreateDC) continue;
            EXPECT_EQ(call.text, L"winprint");  // the print processor stands in as driver name
            EXPECT_EQ(call.fields == 0, !c.openable);
        }
        EXPECT_EQ(trace.LinesStartingWith("vlibPRINT_QueryDevCap_ResolutionsIndexed => couldn't get a handle").size(),
                  c.handleLines);
        std::vector<std::string> lines;
        for (int i = 0; i < 4; ++i)
            lines.push_back("\t\tResolution " + std::to_string(-1 - i) + ": " + std::to_string(c.pairs[i].first) +
                            " x " + std::to_string(c.pairs[i].second));
        EXPECT_EQ(trace.LinesStartingWith("\t\tResolution "), lines);
    }
}

TEST(ResolutionsIndexed, AFaultingLevelTakes300AndGivesItsHandlesBack) {
    struct Case { const char* what; Op op; int call; PairList pairs; } cases[] = {
        {"level -3 making its device context", Op::CreateDC, 3, {{75, 75}, {150, 150}, {300, 300}, {720, 720}}},
        {"level -2 validated, open", Op::DocumentProperties, 6, {{75, 75}, {300, 300}, {360, 360}, {720, 720}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePrintSystem fake;
        IndexedPrinter(fake);
        fake.FaultOn(c.op, c.call);
        TraceCapture trace;
        EXPECT_EQ(Ask(&vlibPRINT_QueryDevCap_ResolutionsIndexed, L"P").pairs, c.pairs);
        EXPECT_EQ(trace.LinesStartingWith("threw exception").size(), 1u);
        EXPECT_EQ(fake.OpenPrinterHandles(), 0);
        EXPECT_EQ(fake.OpenDCs(), 0);
    }
    // A driver without a DEVMODE has nothing to merge into: every level falls back.
    FakePrintSystem fake;
    fake.AddPrinter(L"P").devmode.clear();
    EXPECT_EQ(Ask(&vlibPRINT_QueryDevCap_ResolutionsIndexed, L"P").pairs, (PairList(4, {300, 300})));
    EXPECT_EQ(fake.Count(Op::CreateDC), 0);
}

}  // namespace
