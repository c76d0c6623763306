// The graphics-layer probe: the default record, values in record order, the
// one guard over the whole probe, and the name tables of the trace.
#include <gtest/gtest.h>

#include "devcaps/lowlevel_query.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using namespace devcaps_test;

// GetDeviceCaps indexes in record order; escapes in probe order with their record offsets.
const std::vector<int> kIndexes = {0, 2, 12, 14, 16, 18, 22, 24, 26, 36, 104, 106,
                                   108, 114, 115, 119, 120, 38, 28, 30, 32, 34, 121};
const std::vector<int> kProbeOrder = {19, 37, 38, 3073, 4115, 4116, 4117, 4118, 4119, 4120, 4121, 4568};
const size_t kEscapeOffset[12] = {104, 108, 128, 136, 120, 132, 112, 116, 92, 96, 100, 124};

std::vector<LONG> Values(const LowLevelCaps* c) { return std::vector<LONG>(&c->DriverVersion, &c->QueryDibSupport + 1); }
std::string Line(const std::string& text) { return "vlibPRINT_QueryDevCap_LowLevel => " + text; }

TEST(DevCapsLowLevel, NullPrinterGivesTheRasterPrinterRecord) {
    fake::FakePrintSystem fake;
    Trace trace;
    Block<LowLevelCaps> caps(vlibPRINT_QueryDevCap_LowLevel(nullptr, L"winprint", nullptr));
    ASSERT_TRUE(caps);
    EXPECT_TRUE(fake.calls().empty());
    // The whole trace, written from the record, names every value of it; 0x10,
    // 0x400 and 0x4000 of RasterCaps have no name, and no escape is supported.
    std::vector<std::string> lines = {Line(""), Line("DriverVersion: 1280"), Line("Technology: 2: DT_RASPRINTER")};
    for (const char* value : {"BitsPixel: 24", "Planes: 1", "NumBrushes: -1", "NumPens: 40", "NumFonts: 136",
                              "NumColors: 8", "PDeviceSize: 0", "ClipCaps: 1", "SizePalette: 0", "NumReserved: 20",
                              "ColorRes: 0", "ScalingFactorX: 0", "ScalingFactorY: 0", "BltAlignment: 0",
                              "ShadeBlendCaps: 0: ",
                              "RasterCaps: 28313: RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | "
                              "RC_STRETCHDIB  | ",
                              "CurveCaps: 511: CC_CHORD | CC_CIRCLES | CC_ELLIPSES | CC_INTERIORS | CC_PIE | "
                              "CC_ROUNDRECT | CC_STYLED | CC_WIDE | CC_WIDESTYLED | ",
                              "LineCaps: 254: LC_INTERIORS | LC_MARKER | LC_POLYLINE | LC_POLYMARKER | LC_STYLED | "
                              "LC_WIDE | LC_WIDESTYLED | ",
                              "PolygonalCaps: 255: PC_INTERIORS | PC_POLYGON | PC_RECTANGLE | PC_SCANLINE | PC_STYLED | "
                              "PC_WIDE | PC_WIDESTYLED | PC_WINDPOLYGON | ",
                              "TextCaps: 23863: TC_OP_CHARACTER | TC_OP_STROKE | TC_CP_STROKE | TC_CR_ANY | "
                              "TC_SF_X_YINDEP | TC_SA_CONTIN | TC_IA_ABLE | TC_UA_ABLE | TC_SO_ABLE | TC_VA_ABLE | ",
                              "ColorMgmtCaps: 5:CM_CMYK_COLOR | CM_DEVICE_ICM | ", "JPEG/PNG support: 0/0",
                              "GET_PS_FEATURESETTING: 0", "PASSTHROUGH: 0", "POSTSCRIPT_DATA: 0", "POSTSCRIPT_IDENTIFY: 0",
                              "POSTSCRIPT_INJECTION: 0", "POSTSCRIPT_PASSTHROUGH: 0", "SPCLPASSTHROUGH2: 0",
                              "POSTSCRIPT_IGNORE: 0", "ENCAPSULATED_POSTSCRIPT: 0", "QUERYDIBSUPPORT: 0"})
        lines.push_back(Line(value));
    EXPECT_EQ(trace.Lines(), lines);
}

TEST(DevCapsLowLevel, ReadsInRecordOrderAndAFaultKeepsWhatWasReadBefore) {
    struct Case { bool fault; int technology; const char* name; } cases[] = {{false, 0, "DT_PLOTTER"}, {true, 7, "unknown"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PrinterP p;
        std::vector<LONG> values(35);
        for (int i = 0; i < 23; ++i) p.printer.deviceCaps[kIndexes[i]] = values[i] = 100 + i;
        p.printer.deviceCaps[TECHNOLOGY] = values[1] = c.technology;
        p.printer.deviceCaps[TEXTCAPS] = values[21] = 0x10000;
        for (int i = 0; i < 12; ++i) {
            p.printer.escapes[kProbeOrder[i]] = 1000 + i;  // every escape "supported", each answering its own number
            if (!c.fault || i < 6) values[kEscapeOffset[i] / 4] = 1000 + i;  // 19 .. 4116 come before 4117
        }
        if (c.fault) p.fake.FaultOn(fake::Op::ExtEscape, 7);  // the probe of 4117
        Block<LowLevelCaps> caps(vlibPRINT_QueryDevCap_LowLevel(L"P", L"winprint", nullptr));
        ASSERT_TRUE(caps);
        EXPECT_EQ(Values(caps.get()), values);
        EXPECT_EQ(ArgsOf(p.fake, fake::Op::GetDeviceCaps), kIndexes);
        EXPECT_EQ(ArgsOf(p.fake, fake::Op::ExtEscape), std::vector<int>(kProbeOrder.begin(), kProbeOrder.begin() + (c.fault ? 7 : 12)));
        EXPECT_EQ(Has(p.trace, {Line("exception during GetDeviceCaps")}), c.fault);
        EXPECT_TRUE(Has(p.trace, {Line("Technology: " + std::to_string(c.technology) + ": " + c.name)}));
        EXPECT_TRUE(Has(p.trace, {Line("TextCaps: 65536: TC_SCROLLBLT  | ")}));
        EXPECT_EQ(p.fake.OpenDCs(), 0);
    }
}

}  // namespace
