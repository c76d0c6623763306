// The graphics-layer probe: the default record, values in record order, the
// one guard over the whole probe, and the name tables of the trace.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "devcaps/lowlevel_query.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using devcaps_test::HeapBlock;
using devcaps_test::LibraryTrace;
using fake::FakePrintSystem;
using fake::Op;

// GetDeviceCaps indexes in record order.
const int kIndexes[23] = {0,  2,   12,  14,  16,  18,  22, 24, 26, 36, 104, 106,
                          108, 114, 115, 119, 120, 38, 28, 30, 32, 34, 121};
// Escapes in the order the driver is asked, and their record offsets.
const int kProbeOrder[12] = {19, 37, 38, 3073, 4115, 4116, 4117, 4118, 4119, 4120, 4121, 4568};
const size_t kEscapeOffset[12] = {104, 108, 128, 136, 120, 132, 112, 116, 92, 96, 100, 124};

LONG At(const LowLevelCaps* caps, size_t offset) {
    LONG value = 0;
    std::memcpy(&value, reinterpret_cast<const BYTE*>(caps) + offset, 4);
    return value;
}

std::string Line(const std::string& text) { return "vlibPRINT_QueryDevCap_LowLevel => " + text; }

TEST(DevCapsLowLevelDefaults, NullPrinterGivesTheRasterPrinterRecord) {
    FakePrintSystem fake;
    LibraryTrace trace;
    HeapBlock<LowLevelCaps> caps(vlibPRINT_QueryDevCap_LowLevel(nullptr, L"winprint", nullptr));
    ASSERT_NE(caps.get(), nullptr);
    EXPECT_EQ(::HeapSize(::GetProcessHeap(), 0, caps.get()), 140u);
    EXPECT_TRUE(fake.calls().empty());
    const LONG expectedValues[23] = {1280, 2, 24, 1, -1, 40, 136, 8, 0, 1, 0, 20, 0, 0, 0, 0, 0,
                                     28313, 511, 254, 255, 23863, 5};
    for (size_t i = 0; i < 23; ++i) EXPECT_EQ(At(caps.get(), i * 4), expectedValues[i]) << "offset " << i * 4;
    for (size_t offset = 92; offset < 140; offset += 4) EXPECT_EQ(At(caps.get(), offset), 0) << offset;

    std::vector<std::string> expected = {
        Line(""),
        Line("DriverVersion: 1280"),
        Line("Technology: 2: DT_RASPRINTER"),
        Line("BitsPixel: 24"),
        Line("Planes: 1"),
        Line("NumBrushes: -1"),
        Line("NumPens: 40"),
        Line("NumFonts: 136"),
        Line("NumColors: 8"),
        Line("PDeviceSize: 0"),
        Line("ClipCaps: 1"),
        Line("SizePalette: 0"),
        Line("NumReserved: 20"),
        Line("ColorRes: 0"),
        Line("ScalingFactorX: 0"),
        Line("ScalingFactorY: 0"),
        Line("BltAlignment: 0"),
        Line("ShadeBlendCaps: 0: "),
        // 0x10, 0x400 and 0x4000 have no name.
        Line("RasterCaps: 28313: RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | "
          "RC_STRETCHDIB  | "),
        Line("CurveCaps: 511: CC_CHORD | CC_CIRCLES | CC_ELLIPSES | CC_INTERIORS | CC_PIE | CC_ROUNDRECT | "
          "CC_STYLED | CC_WIDE | CC_WIDESTYLED | "),
        Line("LineCaps: 254: LC_INTERIORS | LC_MARKER | LC_POLYLINE | LC_POLYMARKER | LC_STYLED | LC_WIDE | "
          "LC_WIDESTYLED | "),
        Line("PolygonalCaps: 255: PC_INTERIORS | PC_POLYGON | PC_RECTANGLE | PC_SCANLINE | PC_STYLED | PC_WIDE | "
          "PC_WIDESTYLED | PC_WINDPOLYGON | "),
        Line("TextCaps: 23863: TC_OP_CHARACTER | TC_OP_STROKE | TC_CP_STROKE | TC_CR_ANY | TC_SF_X_YINDEP | "
          "TC_SA_CONTIN | TC_IA_ABLE | TC_UA_ABLE | TC_SO_ABLE | TC_VA_ABLE | "),
        Line("ColorMgmtCaps: 5:CM_CMYK_COLOR | CM_DEVICE_ICM | "),
        Line("JPEG/PNG support: 0/0"),
        Line("GET_PS_FEATURESETTING: 0"),
        Line("PASSTHROUGH: 0"),
        Line("POSTSCRIPT_DATA: 0"),
        Line("POSTSCRIPT_IDENTIFY: 0"),
        Line("POSTSCRIPT_INJECTION: 0"),
        Line("POSTSCRIPT_PASSTHROUGH: 0"),
        Line("SPCLPASSTHROUGH2: 0"),
        Line("POSTSCRIPT_IGNORE: 0"),
        Line("ENCAPSULATED_POSTSCRIPT: 0"),
        Line("QUERYDIBSUPPORT: 0"),
    };
    EXPECT_EQ(trace.Lines(), expected);
}

// ---------------------------------------------------------------- drivers

void ScriptAllValues(fake::FakePrinter& printer) {
    for (int i = 0; i < 23; ++i) printer.deviceCaps[kIndexes[i]] = 100 + i;
    for (int escape : kProbeOrder) printer.escapes[escape] = escape;  // every escape "supported"
}

TEST(DevCapsLowLevelDrivers, ReadsValuesInRecordOrderAndProbesTheEscapes) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    ScriptAllValues(printer);
    std::vector<BYTE> devmode = fake::MakeDevmode(L"P");
    fake::AsDevmode(devmode)->dmPaperSize = DMPAPER_A4;
    HeapBlock<LowLevelCaps> caps(vlibPRINT_QueryDevCap_LowLevel(L"P", L"winprint", fake::AsDevmode(devmode)));
    ASSERT_NE(caps.get(), nullptr);
    for (int i = 0; i < 23; ++i) EXPECT_EQ(At(caps.get(), i * 4u), 100 + i) << "value " << i;
    for (int i = 0; i < 12; ++i) EXPECT_EQ(At(caps.get(), kEscapeOffset[i]), kProbeOrder[i]) << kProbeOrder[i];

    std::vector<int> gets, escapes;
    for (const auto& c : fake.calls()) {
        if (c.op == Op::GetDeviceCaps) gets.push_back(c.arg);
        if (c.op == Op::ExtEscape) escapes.push_back(c.arg);
        if (c.op == Op::CreateDC) {
            EXPECT_EQ(c.text, L"winprint");
            EXPECT_EQ(c.printer, L"P");
            EXPECT_EQ(c.paperSize, DMPAPER_A4);
        }
    }
    EXPECT_EQ(gets, std::vector<int>(std::begin(kIndexes), std::end(kIndexes)));
    EXPECT_EQ(escapes, std::vector<int>(std::begin(kProbeOrder), std::end(kProbeOrder)));
    EXPECT_EQ(fake.OpenDCs(), 0);
}

TEST(DevCapsLowLevelDrivers, FaultOnAnEscapeProbeKeepsWhatWasReadBefore) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    ScriptAllValues(printer);
    printer.faultingEscapes = {4117};
    LibraryTrace trace;
    HeapBlock<LowLevelCaps> caps(vlibPRINT_QueryDevCap_LowLevel(L"P", L"winprint", nullptr));
    ASSERT_NE(caps.get(), nullptr);
    for (int i = 0; i < 23; ++i) EXPECT_EQ(At(caps.get(), i * 4u), 100 + i) << "value " << i;
    for (int i = 0; i < 12; ++i) {
        const LONG expected = i < 6 ? kProbeOrder[i] : 0;  // 19, 37, 38, 3073, 4115, 4116 were answered
        EXPECT_EQ(At(caps.get(), kEscapeOffset[i]), expected) << kProbeOrder[i];
    }
    EXPECT_TRUE(trace.Has(Line("exception during GetDeviceCaps")));
    EXPECT_TRUE(trace.Has(Line("POSTSCRIPT_IDENTIFY: 0")));
    EXPECT_TRUE(trace.Has(Line("ENCAPSULATED_POSTSCRIPT: 4116")));
    EXPECT_EQ(fake.OpenDCs(), 0);  // the context is still released
}

TEST(DevCapsLowLevelDrivers, FaultOnADeviceValueStopsTheProbe) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    ScriptAllValues(printer);
    printer.faultingDeviceCaps = {BITSPIXEL};
    HeapBlock<LowLevelCaps> caps(vlibPRINT_QueryDevCap_LowLevel(L"P", L"winprint", nullptr));
    ASSERT_NE(caps.get(), nullptr);
    EXPECT_EQ(caps->DriverVersion, 100);
    EXPECT_EQ(caps->Technology, 101);
    for (size_t offset = 8; offset < 140; offset += 4) EXPECT_EQ(At(caps.get(), offset), 0) << offset;
    EXPECT_EQ(fake.Count(Op::ExtEscape), 0);
}

TEST(DevCapsLowLevelDrivers, TechnologyAndMaskNames) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.deviceCaps = {{TECHNOLOGY, DT_PLOTTER}, {TEXTCAPS, 0x10000}, {SHADEBLENDCAPS, 0x37},
                          {COLORMGMTCAPS, 0x8}, {RASTERCAPS, 0x1000}};
    {
        LibraryTrace trace;
        HeapBlock<LowLevelCaps> caps(vlibPRINT_QueryDevCap_LowLevel(L"P", L"winprint", nullptr));
        EXPECT_TRUE(trace.Has(Line("Technology: 0: DT_PLOTTER")));
        EXPECT_TRUE(trace.Has(Line("TextCaps: 65536: TC_SCROLLBLT  | ")));
        EXPECT_TRUE(trace.Has(
            Line("ShadeBlendCaps: 55: SB_CONST_ALPHA | SB_GRAD_RECT | SB_GRAD_TRI | SB_PIXEL_ALPHA | SB_PREMULT_ALPHA | ")));
        EXPECT_TRUE(trace.Has(Line("ColorMgmtCaps: 8:")));  // no name for 0x8
        EXPECT_TRUE(trace.Has(Line("RasterCaps: 4096: RC_FLOODFILL | ")));
    }
    const std::pair<int, std::string> technologies[] = {
        {1, "DT_RASDISPLAY"}, {3, "DT_RASCAMERA"}, {4, "DT_CHARSTREAM"},
        {5, "DT_METAFILE"},   {6, "DT_DISPFILE"},  {7, "unknown"}, {-1, "unknown"}};
    for (const auto& [value, name] : technologies) {
        printer.deviceCaps[TECHNOLOGY] = value;
        LibraryTrace trace;
        HeapBlock<LowLevelCaps> caps(vlibPRINT_QueryDevCap_LowLevel(L"P", L"winprint", nullptr));
        EXPECT_EQ(caps->Technology, value);
        EXPECT_TRUE(trace.Has(Line("Technology: " + std::to_string(value) + ": " + name))) << value;
    }
}

TEST(DevCapsLowLevelDrivers, EscapeSupportAsksWithTheEscapeNumberAsInput) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    printer.escapes = {{4119, 1}};
    HDC dc = platform::gdi.CreateDCW(L"winprint", L"P", nullptr, nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(QueryEscapeSupport(dc, 4119), 1);
    EXPECT_EQ(QueryEscapeSupport(dc, 4120), 0);
    platform::gdi.DeleteDC(dc);
    std::vector<int> asked;
    for (const auto& c : fake.calls())
        if (c.op == Op::ExtEscape) asked.push_back(c.arg);
    EXPECT_EQ(asked, (std::vector<int>{4119, 4120}));
}

}  // namespace
