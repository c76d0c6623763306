// The true resolution list and the measured indexed levels, against the fake
// print system's drivers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
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

struct HeapDeleter {
    void operator()(void* block) const { platform::HeapFreeBlock(block); }
};
using Pairs = std::unique_ptr<ResolutionPair, HeapDeleter>;

std::vector<std::pair<LONG, LONG>> AsVector(const ResolutionPair* list, DWORD count) {
    std::vector<std::pair<LONG, LONG>> out;
    for (DWORD i = 0; i < count; ++i) out.emplace_back(list[i].x, list[i].y);
    return out;
}

using PairList = std::vector<std::pair<LONG, LONG>>;
const PairList kDefaults = {{150, 150}, {300, 300}, {600, 600}, {1200, 1200}};

Pairs QueryList(LPCWSTR device, DWORD& num, DWORD& size) {
    num = size = 0xDEAD;
    return Pairs(vlibPRINT_QueryDevCap_Resolutions(device, L"FILE:", L"winprint", nullptr, &num, &size));
}

Pairs QueryIndexed(LPCWSTR device, DWORD& num, DWORD& size) {
    num = size = 0xDEAD;
    return Pairs(vlibPRINT_QueryDevCap_ResolutionsIndexed(device, L"FILE:", L"winprint", nullptr, &num, &size));
}

// ------------------------------------------------------------ the true list

TEST(Resolutions, DefaultsAndInvalidArgumentsNeverReachThePrintSystem) {
    FakePrintSystem fake;
    TraceCapture trace;
    DWORD num = 0, size = 0;
    Pairs list = QueryList(nullptr, num, size);
    ASSERT_TRUE(list);
    EXPECT_EQ(num, 4u);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(AsVector(list.get(), num), kDefaults);

    Pairs indexed = QueryIndexed(nullptr, num, size);
    ASSERT_TRUE(indexed);
    EXPECT_EQ(num, 4u);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(AsVector(indexed.get(), num), kDefaults);

    EXPECT_EQ(vlibPRINT_QueryDevCap_Resolutions(L"P", nullptr, nullptr, nullptr, nullptr, &size), nullptr);
    EXPECT_EQ(vlibPRINT_QueryDevCap_ResolutionsIndexed(L"P", nullptr, nullptr, nullptr, &num, nullptr), nullptr);
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{
                                 "vlibPRINT_QueryDevCap_Resolutions => DC_ENUMRESOLUTIONS",
                                 "using defaults",
                                 "vlibPRINT_QueryDevCap_ResolutionsIndexed =>",
                                 "using defaults",
                                 "vlibPRINT_QueryDevCap_Resolutions => DC_ENUMRESOLUTIONS",
                                 "vlibPRINT_QueryDevCap_Resolutions => invalid parameter",
                                 "vlibPRINT_QueryDevCap_ResolutionsIndexed =>",
                                 "vlibPRINT_QueryDevCap_ResolutionsIndexed => invalid parameter",
                             }));
}

TEST(Resolutions, FetchesTheListSizedByTheSecondCount) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    printer.SetResolutions({{300, 300}, {600, 600}, {1200, 600}});
    printer.Cap(DC_ENUMRESOLUTIONS).counts = {3, 2};  // the driver settles on two
    TraceCapture trace;
    DWORD num = 0, size = 0;
    Pairs list = QueryList(L"P", num, size);
    ASSERT_TRUE(list);
    EXPECT_EQ(num, 2u);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(AsVector(list.get(), num), (PairList{{300, 300}, {600, 600}}));
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 3);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{
                                 "vlibPRINT_QueryDevCap_Resolutions => DC_ENUMRESOLUTIONS",
                                 "vlibPRINT_QueryDevCap_Resolutions => dwNumResolutions = 2",
                                 "vlibPRINT_QueryDevCap_Resolutions => number of resolutions: 2",
                                 "\t\tdwNumResolutions: 2",
                                 "\t\tResolution 0: 300 x 300",
                                 "\t\tResolution 1: 600 x 600",
                             }));
}

TEST(Resolutions, RefusesANegativeValueAfterTracingUpToIt) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P").SetResolutions({{300, 300}, {600, 600}, {-1, -1}});
    TraceCapture trace;
    DWORD num = 0, size = 0;
    EXPECT_FALSE(QueryList(L"P", num, size));
    EXPECT_EQ(num, 0u);
    EXPECT_EQ(size, 0u);
    const std::vector<std::string> lines = trace.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{
                  "\t\tResolution 0: 300 x 300",
                  "\t\tResolution 1: 600 x 600",
                  "\t\tResolution 2: -1 x -1",
                  "vlibPRINT_QueryDevCap_Resolutions => negative resolution - printer will only use indexed "
                  "resolutions...",
              }));

    // Only the y value negative refuses the list as well.
    fake.Find(L"P")->SetResolutions({{300, -300}});
    EXPECT_FALSE(QueryList(L"P", num, size));
    EXPECT_EQ(num, 0u);
}

TEST(Resolutions, NoCountOrAChangedCountMeansIndexedOnly) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    TraceCapture trace;
    DWORD num = 0, size = 0;

    printer.Cap(DC_ENUMRESOLUTIONS).counts = {0};
    EXPECT_FALSE(QueryList(L"P", num, size));
    EXPECT_EQ(num, 0u);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(fake.Count(Op::DeviceCapabilities), 1);  // no second count, no fetch
    EXPECT_EQ(trace.LinesStartingWith("vlibPRINT_QueryDevCap_Resolutions => printer only").size(), 1u);

    printer.Cap(DC_ENUMRESOLUTIONS).counts = {-1};
    EXPECT_FALSE(QueryList(L"P", num, size));
    EXPECT_EQ(trace.LinesStartingWith("vlibPRINT_QueryDevCap_Resolutions => printer only").size(), 2u);

    // Two when counting, three when fetching.
    printer.SetResolutions({{300, 300}, {600, 600}, {1200, 1200}});
    printer.Cap(DC_ENUMRESOLUTIONS).counts = {2};
    printer.Cap(DC_ENUMRESOLUTIONS).fetchAnswer = 3;
    EXPECT_FALSE(QueryList(L"P", num, size));
    EXPECT_EQ(num, 0u);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(trace.LinesStartingWith("vlibPRINT_QueryDevCap_Resolutions => numResolutions changed"),
              (std::vector<std::string>{"vlibPRINT_QueryDevCap_Resolutions => numResolutions changed, 2 => 3"}));

    // A fault while fetching counts as an answer of 0.
    printer.SetResolutions({{300, 300}, {600, 600}});
    printer.Cap(DC_ENUMRESOLUTIONS).faultOnCalls = {3};
    EXPECT_FALSE(QueryList(L"P", num, size));
    EXPECT_EQ(num, 0u);
    const std::vector<std::string> lines = trace.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "threw exception");
    EXPECT_EQ(lines.back(), "vlibPRINT_QueryDevCap_Resolutions => numResolutions changed, 2 => 0");
}

// ------------------------------------------------------------ indexed levels

// A driver whose four quality levels print at distinct resolutions.
fake::FakePrinter& IndexedPrinter(FakePrintSystem& fake) {
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    printer.indexedDpi = {{-1, 75}, {-2, 150}, {-3, 360}, {-4, 720}};
    return printer;
}

TEST(ResolutionsIndexed, MeasuresEachLevelThroughTheDriversValidatedDevmode) {
    FakePrintSystem fake;
    IndexedPrinter(fake);
    TraceCapture trace;
    DWORD num = 0, size = 0;
    Pairs list = QueryIndexed(L"P", num, size);
    ASSERT_TRUE(list);
    EXPECT_EQ(num, 4u);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(AsVector(list.get(), 4), (PairList{{75, 75}, {150, 150}, {360, 360}, {720, 720}}));

    // Per level: open, size, default, validate, close, one device context.
    EXPECT_EQ(fake.Count(Op::OpenPrinter), 4);
    EXPECT_EQ(fake.Count(Op::DocumentProperties), 12);
    EXPECT_EQ(fake.Count(Op::ClosePrinter), 4);
    EXPECT_EQ(fake.Count(Op::CreateDC), 4);
    EXPECT_EQ(fake.Count(Op::DeleteDC), 4);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
    EXPECT_EQ(fake.OpenDCs(), 0);
    int level = 0;
    for (const fake::Call& call : fake.calls()) {
        if (call.op == Op::DocumentProperties && call.arg == (DM_IN_BUFFER | DM_OUT_BUFFER)) {
            EXPECT_EQ(call.quality, -1 - level);
            EXPECT_EQ(call.yResolution, 0);
        }
        if (call.op != Op::CreateDC) continue;
        EXPECT_EQ(call.text, L"winprint");  // the print processor stands in as driver name
        EXPECT_EQ(call.printer, L"P");
        EXPECT_EQ(call.quality, -1 - level);
        EXPECT_EQ(call.yResolution, 0);
        EXPECT_EQ(call.fields & (DM_PRINTQUALITY | DM_YRESOLUTION), static_cast<DWORD>(DM_PRINTQUALITY | DM_YRESOLUTION));
        ++level;
    }
    EXPECT_EQ(level, 4);
    EXPECT_EQ(trace.LinesStartingWith("\t\tResolution "),
              (std::vector<std::string>{"\t\tResolution -1: 75 x 75", "\t\tResolution -2: 150 x 150",
                                        "\t\tResolution -3: 360 x 360", "\t\tResolution -4: 720 x 720"}));
}

TEST(ResolutionsIndexed, APrinterThatCannotBeOpenedIsMeasuredWithItsDefaults) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = IndexedPrinter(fake);
    printer.openable = false;
    fake::AsDevmode(printer.devmode)->dmPrintQuality = 200;
    fake::AsDevmode(printer.devmode)->dmYResolution = 200;
    TraceCapture trace;
    DWORD num = 0, size = 0;
    Pairs list = QueryIndexed(L"P", num, size);
    ASSERT_TRUE(list);
    EXPECT_EQ(AsVector(list.get(), 4), (PairList{{200, 200}, {200, 200}, {200, 200}, {200, 200}}));
    EXPECT_EQ(fake.Count(Op::DocumentProperties), 0);
    EXPECT_EQ(fake.Count(Op::CreateDC), 4);
    for (const fake::Call& call : fake.calls())
        if (call.op == Op::CreateDC) EXPECT_EQ(call.fields, 0u) << "a device context made with a DEVMODE";
    EXPECT_EQ(trace.LinesStartingWith("vlibPRINT_QueryDevCap_ResolutionsIndexed => couldn't get a handle").size(), 4u);
    EXPECT_EQ(trace.LinesStartingWith("\t\tResolution "),
              (std::vector<std::string>{"\t\tResolution -1: 200 x 200", "\t\tResolution -2: 200 x 200",
                                        "\t\tResolution -3: 200 x 200", "\t\tResolution -4: 200 x 200"}));
}

TEST(ResolutionsIndexed, AFaultingLevelTakes300AndGivesItsHandlesBack) {
    FakePrintSystem fake;
    IndexedPrinter(fake);
    fake.FaultOn(Op::CreateDC, 3);  // level -3 only
    TraceCapture trace;
    DWORD num = 0, size = 0;
    Pairs list = QueryIndexed(L"P", num, size);
    ASSERT_TRUE(list);
    EXPECT_EQ(AsVector(list.get(), 4), (PairList{{75, 75}, {150, 150}, {300, 300}, {720, 720}}));
    const std::vector<std::string> lines = trace.Lines();
    const auto at = std::find(lines.begin(), lines.end(), "threw exception");
    ASSERT_NE(at, lines.end());
    ASSERT_NE(at + 1, lines.end());
    EXPECT_EQ(*(at + 1), "\t\tResolution -3: 300 x 300");

    // A fault while the printer is open (the driver validating level -2):
    // the handle is closed all the same.
    fake.ClearCalls();
    fake.FaultOn(Op::DocumentProperties, 12 + 6);
    list = QueryIndexed(L"P", num, size);
    ASSERT_TRUE(list);
    EXPECT_EQ(list.get()[1].x, 300);
    EXPECT_EQ(list.get()[0].x, 75);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
    EXPECT_EQ(fake.OpenDCs(), 0);
}

TEST(ResolutionsIndexed, ADriverWithoutADevmodeOrWithAnOldOneAsksNothingNew) {
    FakePrintSystem fake;
    // No DEVMODE at all: nothing to merge into, every level falls back.
    fake::FakePrinter& bare = fake.AddPrinter(L"Bare");
    bare.devmode.clear();
    // A DEVMODE older than the merge's first gate: the levels never reach the
    // driver and every one is measured at the driver's default.
    fake::FakePrinter& old = fake.AddPrinter(L"Old");
    fake::AsDevmode(old.devmode)->dmSpecVersion = 0x030A;
    TraceCapture trace;
    DWORD num = 0, size = 0;

    Pairs list = QueryIndexed(L"Bare", num, size);
    ASSERT_TRUE(list);
    EXPECT_EQ(AsVector(list.get(), 4), (PairList{{300, 300}, {300, 300}, {300, 300}, {300, 300}}));
    EXPECT_EQ(trace.LinesStartingWith("vlibPRINT_QueryDevCap_ResolutionsIndexed => couldn't allocate memory").size(),
              4u);
    EXPECT_EQ(trace.LinesStartingWith("threw exception").size(), 4u);
    EXPECT_EQ(fake.Count(Op::CreateDC), 0);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);

    fake.Find(L"Old")->indexedDpi = {{-1, 75}, {-2, 150}, {-3, 360}, {-4, 720}};
    list = QueryIndexed(L"Old", num, size);
    ASSERT_TRUE(list);
    EXPECT_EQ(AsVector(list.get(), 4), (PairList{{300, 300}, {300, 300}, {300, 300}, {300, 300}}));
    EXPECT_EQ(fake.Count(Op::CreateDC), 4);
    for (const fake::Call& call : fake.calls())
        if (call.op == Op::CreateDC) EXPECT_EQ(call.quality, 300);
}

}  // namespace
