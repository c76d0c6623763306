// The graphics-layer probe: the default record, values in record order, the
// one guard over the whole probe, and the name tables of the trace.
#include <gtest/gtest.h>

#include <cstring>

#include "devcaps/lowlevel_query.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using namespace devcaps_test;
using fake::FakePrintSystem;
using fake::Op;

// GetDeviceCaps indexes in record order; escapes in probe order with their record offsets.
const std::vector<int> kIndexes = {0, 2, 12, 14, 16, 18, 22, 24, 26, 36, 104, 106,
                                   108, 114, 115, 119, 120, 38, 28, 30, 32, 34, 121};
const std::vector<int> kProbeOrder = {19, 37, 38, 3073, 4115, 4116, 4117, 4118, 4119, 4120, 4121, 4568};
const size_t kEscapeOffset[12] = {104, 108, 128, 136, 120, 132, 112, 116, 92, 96, 100, 124};

std::vector<LONG> Values(const LowLevelCaps* caps) {
    std::vector<LONG> values(35);
    std::memcpy(values.data(), caps, sizeof(LowLevelCaps));
    return values;
}

std::string Line(const std::string& text) { return "vlibPRINT_QueryDevCap_LowLevel => " + text; }

TEST(DevCapsLowLevel, NullPrinterGivesTheRasterPrinterRecord) {
    FakePrintSystem fake;
    Trace trace;
    Block<LowLevelCaps> caps(vlibPRINT_QueryDevCap_LowLevel(nullptr, L"winprint", nullptr));
    ASSERT_TRUE(caps);
    EXPECT_TRUE(fake.calls().empty());
    std::vector<LONG> expected = {1280, 2,  24, 1, -1, 40, 136,   8,   0,   1,   0,    20,
                                  0,    0,  0,  0, 0,  28313, 511, 254, 255, 23863, 5};
    expected.resize(35);  // no escape is supported
    EXPECT_EQ(Values(caps.get()), expected);
    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 35u);
    EXPECT_EQ(lines[2], Line("Technology: 2: DT_RASPRINTER"));
    // 0x10, 0x400 and 0x4000 have no name.
    EXPECT_EQ(lines[18], Line("RasterCaps: 28313: RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | "
                              "RC_STRETCHBLT | RC_STRETCHDIB  | "));
    EXPECT_EQ(lines[22], Line("TextCaps: 23863: TC_OP_CHARACTER | TC_OP_STROKE | TC_CP_STROKE | TC_CR_ANY | "
                              "TC_SF_X_YINDEP | TC_SA_CONTIN | TC_IA_ABLE | TC_UA_ABLE | TC_SO_ABLE | TC_VA_ABLE | "));
    EXPECT_EQ(lines[23], Line("ColorMgmtCaps: 5:CM_CMYK_COLOR | CM_DEVICE_ICM | "));
    EXPECT_EQ(lines[34], Line("QUERYDIBSUPPORT: 0"));
}

TEST(DevCapsLowLevel, ReadsInRecordOrderAndAFaultKeepsWhatWasReadBefore) {
    for (bool fault : {false, true}) {
        SCOPED_TRACE(fault ? "fault on 4117" : "no fault");
        FakePrintSystem fake;
        fake::FakePrinter& printer = fake.AddPrinter(L"P");
        for (int i = 0; i < 23; ++i) printer.deviceCaps[kIndexes[i]] = 100 + i;
        for (int escape : kProbeOrder) printer.escapes[escape] = escape;  // every escape "supported"
        if (fault) printer.faultingEscapes = {4117};
        Trace trace;
        Block<LowLevelCaps> caps(vlibPRINT_QueryDevCap_LowLevel(L"P", L"winprint", nullptr));
        ASSERT_TRUE(caps);
        const std::vector<LONG> values = Values(caps.get());
        for (int i = 0; i < 23; ++i) EXPECT_EQ(values[i], 100 + i) << "value " << i;
        for (int i = 0; i < 12; ++i) {
            const LONG expected = !fault || i < 6 ? kProbeOrder[i] : 0;  // 19 .. 4116 answered before the fault
            EXPECT_EQ(values[kEscapeOffset[i] / 4], expected) << kProbeOrder[i];
        }
        std::vector<int> gets, escapes;
        for (const auto& c : fake.calls()) {
            if (c.op == Op::GetDeviceCaps) gets.push_back(c.arg);
            if (c.op == Op::ExtEscape) escapes.push_back(c.arg);
            if (c.op == Op::CreateDC) EXPECT_TRUE(c.text == L"winprint" && c.printer == L"P");
        }
        EXPECT_EQ(gets, kIndexes);
        EXPECT_EQ(escapes, fault ? std::vector<int>(kProbeOrder.begin(), kProbeOrder.begin() + 7) : kProbeOrder);
        EXPECT_EQ(Has(trace, Line("exception during GetDeviceCaps")), fault);
        EXPECT_EQ(fake.OpenDCs(), 0);
    }
}

TEST(DevCapsLowLevel, TechnologyAndMaskNames) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.deviceCaps = {{TEXTCAPS, 0x10000}};
    const std::pair<int, std::string> technologies[] = {{0, "DT_PLOTTER"}, {6, "DT_DISPFILE"}, {7, "unknown"}};
    for (const auto& [value, name] : technologies) {
        printer.deviceCaps[TECHNOLOGY] = value;
        Trace trace;
        Block<LowLevelCaps> caps(vlibPRINT_QueryDevCap_LowLevel(L"P", L"winprint", nullptr));
        EXPECT_TRUE(Has(trace, Line("Technology: " + std::to_string(value) + ": " + name))) << value;
        EXPECT_TRUE(Has(trace, Line("TextCaps: 65536: TC_SCROLLBLT  | ")));
    }
}

}  // namespace
