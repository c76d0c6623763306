#include "devcaps/lowlevel_query.h"

#include <iterator>

#include "devcaps/resolutions.h"
#include "log/trace_log.h"
#include "platform/guard.h"
#include "platform/kernel.h"

namespace {

using Field = LONG LowLevelCaps::*;

// The device values in record order, with their defaults.
struct DeviceValue {
    int index;
    Field field;
    LONG defaultValue;
};

const DeviceValue kDeviceValues[] = {
    {DRIVERVERSION, &LowLevelCaps::DriverVersion, 1280},
    {TECHNOLOGY, &LowLevelCaps::Technology, DT_RASPRINTER},
    {BITSPIXEL, &LowLevelCaps::BitsPixel, 24},
    {PLANES, &LowLevelCaps::Planes, 1},
    {NUMBRUSHES, &LowLevelCaps::NumBrushes, -1},
    {NUMPENS, &LowLevelCaps::NumPens, 40},
    {NUMFONTS, &LowLevelCaps::NumFonts, 136},
    {NUMCOLORS, &LowLevelCaps::NumColors, 8},
    {PDEVICESIZE, &LowLevelCaps::PDeviceSize, 0},
    {CLIPCAPS, &LowLevelCaps::ClipCaps, 1},
    {SIZEPALETTE, &LowLevelCaps::SizePalette, 0},
    {NUMRESERVED, &LowLevelCaps::NumReserved, 20},
    {COLORRES, &LowLevelCaps::ColorRes, 0},
    {SCALINGFACTORX, &LowLevelCaps::ScalingFactorX, 0},
    {SCALINGFACTORY, &LowLevelCaps::ScalingFactorY, 0},
    {BLTALIGNMENT, &LowLevelCaps::BltAlignment, 0},
    {SHADEBLENDCAPS, &LowLevelCaps::ShadeBlendCaps, 0},
    {RASTERCAPS, &LowLevelCaps::RasterCaps, 0x6E99},
    {CURVECAPS, &LowLevelCaps::CurveCaps, 0x01FF},
    {LINECAPS, &LowLevelCaps::LineCaps, 0x00FE},
    {POLYGONALCAPS, &LowLevelCaps::PolygonalCaps, 0x00FF},
    {TEXTCAPS, &LowLevelCaps::TextCaps, 0x5D37},
    {COLORMGMTCAPS, &LowLevelCaps::ColorMgmtCaps, 5},
};
static_assert(sizeof(kDeviceValues) / sizeof(kDeviceValues[0]) == 23);
static_assert(DRIVERVERSION == 0 && TECHNOLOGY == 2 && BITSPIXEL == 12 && PLANES == 14 && NUMBRUSHES == 16 &&
              NUMPENS == 18 && NUMFONTS == 22 && NUMCOLORS == 24 && PDEVICESIZE == 26 && CLIPCAPS == 36 &&
              SIZEPALETTE == 104 && NUMRESERVED == 106 && COLORRES == 108 && SCALINGFACTORX == 114 &&
              SCALINGFACTORY == 115 && BLTALIGNMENT == 119 && SHADEBLENDCAPS == 120 && RASTERCAPS == 38 &&
              CURVECAPS == 28 && LINECAPS == 30 && POLYGONALCAPS == 32 && TEXTCAPS == 34 && COLORMGMTCAPS == 121);

// The escapes in probe order.
struct EscapeProbe {
    int escape;
    Field field;
};

const EscapeProbe kEscapes[] = {
    {19, &LowLevelCaps::Passthrough},              // PASSTHROUGH
    {37, &LowLevelCaps::PostscriptData},           // POSTSCRIPT_DATA
    {38, &LowLevelCaps::PostscriptIgnore},         // POSTSCRIPT_IGNORE
    {3073, &LowLevelCaps::QueryDibSupport},        // QUERYDIBSUPPORT
    {4115, &LowLevelCaps::PostscriptPassthrough},  // POSTSCRIPT_PASSTHROUGH
    {4116, &LowLevelCaps::EncapsulatedPostscript}, // ENCAPSULATED_POSTSCRIPT
    {4117, &LowLevelCaps::PostscriptIdentify},     // POSTSCRIPT_IDENTIFY
    {4118, &LowLevelCaps::PostscriptInjection},    // POSTSCRIPT_INJECTION
    {4119, &LowLevelCaps::JpegSupport},            // CHECKJPEGFORMAT
    {4120, &LowLevelCaps::PngSupport},             // CHECKPNGFORMAT
    {4121, &LowLevelCaps::GetPsFeatureSetting},    // GET_PS_FEATURESETTING
    {4568, &LowLevelCaps::SpclPassthrough2},       // SPCLPASSTHROUGH2
};
static_assert(sizeof(kEscapes) / sizeof(kEscapes[0]) == 12);
static_assert(PASSTHROUGH == 19 && POSTSCRIPT_DATA == 37 && POSTSCRIPT_IGNORE == 38 && QUERYDIBSUPPORT == 3073 &&
              POSTSCRIPT_PASSTHROUGH == 4115 && ENCAPSULATED_POSTSCRIPT == 4116 && POSTSCRIPT_IDENTIFY == 4117 &&
              POSTSCRIPT_INJECTION == 4118 && CHECKJPEGFORMAT == 4119 && CHECKPNGFORMAT == 4120 &&
              GET_PS_FEATURESETTING == 4121 && SPCLPASSTHROUGH2 == 4568 && QUERYESCSUPPORT == 8);

// One traced value: its line and its field.
struct FieldLine {
    const WCHAR* format;
    Field field;
};

// The escape lines after "JPEG/PNG support", in record order.
const FieldLine kEscapeLines[] = {
    {L"vlibPRINT_QueryDevCap_LowLevel => GET_PS_FEATURESETTING: %d\n", &LowLevelCaps::GetPsFeatureSetting},
    {L"vlibPRINT_QueryDevCap_LowLevel => PASSTHROUGH: %d\n", &LowLevelCaps::Passthrough},
    {L"vlibPRINT_QueryDevCap_LowLevel => POSTSCRIPT_DATA: %d\n", &LowLevelCaps::PostscriptData},
    {L"vlibPRINT_QueryDevCap_LowLevel => POSTSCRIPT_IDENTIFY: %d\n", &LowLevelCaps::PostscriptIdentify},
    {L"vlibPRINT_QueryDevCap_LowLevel => POSTSCRIPT_INJECTION: %d\n", &LowLevelCaps::PostscriptInjection},
    {L"vlibPRINT_QueryDevCap_LowLevel => POSTSCRIPT_PASSTHROUGH: %d\n", &LowLevelCaps::PostscriptPassthrough},
    {L"vlibPRINT_QueryDevCap_LowLevel => SPCLPASSTHROUGH2: %d\n", &LowLevelCaps::SpclPassthrough2},
    {L"vlibPRINT_QueryDevCap_LowLevel => POSTSCRIPT_IGNORE: %d\n", &LowLevelCaps::PostscriptIgnore},
    {L"vlibPRINT_QueryDevCap_LowLevel => ENCAPSULATED_POSTSCRIPT: %d\n", &LowLevelCaps::EncapsulatedPostscript},
    {L"vlibPRINT_QueryDevCap_LowLevel => QUERYDIBSUPPORT: %d\n", &LowLevelCaps::QueryDibSupport},
};

// The plain values between Technology and the masks, in record order.
const FieldLine kValueLines[] = {
    {L"vlibPRINT_QueryDevCap_LowLevel => BitsPixel: %d\n", &LowLevelCaps::BitsPixel},
    {L"vlibPRINT_QueryDevCap_LowLevel => Planes: %d\n", &LowLevelCaps::Planes},
    {L"vlibPRINT_QueryDevCap_LowLevel => NumBrushes: %d\n", &LowLevelCaps::NumBrushes},
    {L"vlibPRINT_QueryDevCap_LowLevel => NumPens: %d\n", &LowLevelCaps::NumPens},
    {L"vlibPRINT_QueryDevCap_LowLevel => NumFonts: %d\n", &LowLevelCaps::NumFonts},
    {L"vlibPRINT_QueryDevCap_LowLevel => NumColors: %d\n", &LowLevelCaps::NumColors},
    {L"vlibPRINT_QueryDevCap_LowLevel => PDeviceSize: %d\n", &LowLevelCaps::PDeviceSize},
    {L"vlibPRINT_QueryDevCap_LowLevel => ClipCaps: %d\n", &LowLevelCaps::ClipCaps},
    {L"vlibPRINT_QueryDevCap_LowLevel => SizePalette: %d\n", &LowLevelCaps::SizePalette},
    {L"vlibPRINT_QueryDevCap_LowLevel => NumReserved: %d\n", &LowLevelCaps::NumReserved},
    {L"vlibPRINT_QueryDevCap_LowLevel => ColorRes: %d\n", &LowLevelCaps::ColorRes},
    {L"vlibPRINT_QueryDevCap_LowLevel => ScalingFactorX: %d\n", &LowLevelCaps::ScalingFactorX},
    {L"vlibPRINT_QueryDevCap_LowLevel => ScalingFactorY: %d\n", &LowLevelCaps::ScalingFactorY},
    {L"vlibPRINT_QueryDevCap_LowLevel => BltAlignment: %d\n", &LowLevelCaps::BltAlignment},
};

struct BitName {
    DWORD bit;
    const WCHAR* text;  // written raw, bar included
};

// Mask bit names in the order they are written; RC_STRETCHDIB and
// TC_SCROLLBLT carry two blanks before the bar.
const BitName kShadeBlendNames[] = {
    {SB_CONST_ALPHA, L"SB_CONST_ALPHA | "}, {SB_GRAD_RECT, L"SB_GRAD_RECT | "},
    {SB_GRAD_TRI, L"SB_GRAD_TRI | "},       {SB_PIXEL_ALPHA, L"SB_PIXEL_ALPHA | "},
    {SB_PREMULT_ALPHA, L"SB_PREMULT_ALPHA | "},
};
const BitName kRasterNames[] = {
    {RC_BANDING, L"RC_BANDING | "},     {RC_BITBLT, L"RC_BITBLT | "},         {RC_BITMAP64, L"RC_BITMAP64 | "},
    {RC_DI_BITMAP, L"RC_DI_BITMAP | "}, {RC_DIBTODEV, L"RC_DIBTODEV | "},     {RC_FLOODFILL, L"RC_FLOODFILL | "},
    {RC_PALETTE, L"RC_PALETTE | "},     {RC_SCALING, L"RC_SCALING | "},       {RC_STRETCHBLT, L"RC_STRETCHBLT | "},
    {RC_STRETCHDIB, L"RC_STRETCHDIB  | "},
};
const BitName kCurveNames[] = {
    {CC_CHORD, L"CC_CHORD | "},         {CC_CIRCLES, L"CC_CIRCLES | "}, {CC_ELLIPSES, L"CC_ELLIPSES | "},
    {CC_INTERIORS, L"CC_INTERIORS | "}, {CC_PIE, L"CC_PIE | "},         {CC_ROUNDRECT, L"CC_ROUNDRECT | "},
    {CC_STYLED, L"CC_STYLED | "},       {CC_WIDE, L"CC_WIDE | "},       {CC_WIDESTYLED, L"CC_WIDESTYLED | "},
};
const BitName kLineNames[] = {
    {LC_INTERIORS, L"LC_INTERIORS | "}, {LC_MARKER, L"LC_MARKER | "}, {LC_POLYLINE, L"LC_POLYLINE | "},
    {LC_POLYMARKER, L"LC_POLYMARKER | "}, {LC_STYLED, L"LC_STYLED | "}, {LC_WIDE, L"LC_WIDE | "},
    {LC_WIDESTYLED, L"LC_WIDESTYLED | "},
};
const BitName kPolygonalNames[] = {
    {PC_INTERIORS, L"PC_INTERIORS | "}, {PC_POLYGON, L"PC_POLYGON | "}, {PC_RECTANGLE, L"PC_RECTANGLE | "},
    {PC_SCANLINE, L"PC_SCANLINE | "},   {PC_STYLED, L"PC_STYLED | "},   {PC_WIDE, L"PC_WIDE | "},
    {PC_WIDESTYLED, L"PC_WIDESTYLED | "}, {PC_WINDPOLYGON, L"PC_WINDPOLYGON | "},
};
const BitName kTextNames[] = {
    {TC_OP_CHARACTER, L"TC_OP_CHARACTER | "}, {TC_OP_STROKE, L"TC_OP_STROKE | "}, {TC_CP_STROKE, L"TC_CP_STROKE | "},
    {TC_CR_90, L"TC_CR_90 | "},               {TC_CR_ANY, L"TC_CR_ANY | "},       {TC_SF_X_YINDEP, L"TC_SF_X_YINDEP | "},
    {TC_SA_DOUBLE, L"TC_SA_DOUBLE | "},       {TC_SA_INTEGER, L"TC_SA_INTEGER | "}, {TC_SA_CONTIN, L"TC_SA_CONTIN | "},
    {TC_EA_DOUBLE, L"TC_EA_DOUBLE | "},       {TC_IA_ABLE, L"TC_IA_ABLE | "},     {TC_UA_ABLE, L"TC_UA_ABLE | "},
    {TC_SO_ABLE, L"TC_SO_ABLE | "},           {TC_RA_ABLE, L"TC_RA_ABLE | "},     {TC_VA_ABLE, L"TC_VA_ABLE | "},
    {TC_RESERVED, L"TC_RESERVED | "},         {TC_SCROLLBLT, L"TC_SCROLLBLT  | "},
};
const BitName kColorMgmtNames[] = {
    {CM_CMYK_COLOR, L"CM_CMYK_COLOR | "}, {CM_DEVICE_ICM, L"CM_DEVICE_ICM | "}, {CM_GAMMA_RAMP, L"CM_GAMMA_RAMP | "},
};

struct MaskLine {
    const WCHAR* format;
    Field field;
    const BitName* names;
    size_t count;
};

const MaskLine kMaskLines[] = {
    {L"vlibPRINT_QueryDevCap_LowLevel => ShadeBlendCaps: %d: ", &LowLevelCaps::ShadeBlendCaps, kShadeBlendNames,
     std::size(kShadeBlendNames)},
    {L"vlibPRINT_QueryDevCap_LowLevel => RasterCaps: %d: ", &LowLevelCaps::RasterCaps, kRasterNames,
     std::size(kRasterNames)},
    {L"vlibPRINT_QueryDevCap_LowLevel => CurveCaps: %d: ", &LowLevelCaps::CurveCaps, kCurveNames, std::size(kCurveNames)},
    {L"vlibPRINT_QueryDevCap_LowLevel => LineCaps: %d: ", &LowLevelCaps::LineCaps, kLineNames, std::size(kLineNames)},
    {L"vlibPRINT_QueryDevCap_LowLevel => PolygonalCaps: %d: ", &LowLevelCaps::PolygonalCaps, kPolygonalNames,
     std::size(kPolygonalNames)},
    {L"vlibPRINT_QueryDevCap_LowLevel => TextCaps: %d: ", &LowLevelCaps::TextCaps, kTextNames, std::size(kTextNames)},
    {L"vlibPRINT_QueryDevCap_LowLevel => ColorMgmtCaps: %d:", &LowLevelCaps::ColorMgmtCaps, kColorMgmtNames,
     std::size(kColorMgmtNames)},
};

const WCHAR* TechnologyName(LONG technology) {
    switch (technology) {
    case DT_PLOTTER: return L"DT_PLOTTER";
    case DT_RASDISPLAY: return L"DT_RASDISPLAY";
    case DT_RASPRINTER: return L"DT_RASPRINTER";
    case DT_RASCAMERA: return L"DT_RASCAMERA";
    case DT_CHARSTREAM: return L"DT_CHARSTREAM";
    case DT_METAFILE: return L"DT_METAFILE";
    case DT_DISPFILE: return L"DT_DISPFILE";
    default: return L"unknown";
    }
}
static_assert(DT_PLOTTER == 0 && DT_RASPRINTER == 2 && DT_DISPFILE == 6);

void TraceRecord(const LowLevelCaps& caps) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_LowLevel => DriverVersion: %d\n",
                  static_cast<int>(caps.DriverVersion));
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_LowLevel => Technology: %d: ",
                  static_cast<int>(caps.Technology));
    TraceLogWriteRaw(LibraryLog, 0, L"%s\n", TechnologyName(caps.Technology));
    for (const FieldLine& line : kValueLines) TraceLogWrite(LibraryLog, 0, line.format, static_cast<int>(caps.*line.field));
    for (const MaskLine& line : kMaskLines) {
        const LONG mask = caps.*line.field;
        TraceLogWrite(LibraryLog, 0, line.format, static_cast<int>(mask));
        for (size_t i = 0; i < line.count; ++i) {
            if (static_cast<DWORD>(mask) & line.names[i].bit) TraceLogWriteRaw(LibraryLog, 0, L"%s", line.names[i].text);
        }
        TraceLogWriteRaw(LibraryLog, 0, L"\n");
    }
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_LowLevel => JPEG/PNG support: %d/%d\n",
                  static_cast<int>(caps.JpegSupport), static_cast<int>(caps.PngSupport));
    for (const FieldLine& line : kEscapeLines) TraceLogWrite(LibraryLog, 0, line.format, static_cast<int>(caps.*line.field));
}

}  // namespace

int QueryEscapeSupport(HDC hdc, int escape) {
    const INT32 asked = escape;
    return platform::gdi.ExtEscape(hdc, QUERYESCSUPPORT, sizeof(asked), reinterpret_cast<LPCSTR>(&asked), 0, nullptr);
}

LowLevelCaps* vlibPRINT_QueryDevCap_LowLevel(LPCWSTR pDevice, LPCWSTR pDriver, const DEVMODEW* pDevMode) {
    LowLevelCaps* caps = platform::HeapAllocZeroAs<LowLevelCaps>(sizeof(LowLevelCaps));
    if (!caps) return nullptr;
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_LowLevel => \n");
    if (!pDevice) {
        for (const DeviceValue& value : kDeviceValues) caps->*value.field = value.defaultValue;
    } else {
        // One guard for the whole probe: each answer is stored in the record
        // as it comes, so a fault keeps what was read before it.
        HDC dc = nullptr;
        const auto measure = [&] {
            dc = platform::gdi.CreateDCW(pDriver, pDevice, nullptr, pDevMode);
            for (const DeviceValue& value : kDeviceValues) caps->*value.field = platform::gdi.GetDeviceCaps(dc, value.index);
            for (const EscapeProbe& probe : kEscapes) caps->*probe.field = QueryEscapeSupport(dc, probe.escape);
            platform::gdi.DeleteDC(dc);
            dc = nullptr;
        };
        bool probed = false;
        try {
            probed = platform::Guarded(measure);
        } catch (...) {
            // Our own code may run out of memory while the device context is
            // held: it goes back, and the record is freed, on that way out too.
            ReleaseDeviceContext(&dc);
            platform::HeapFreeBlock(caps);
            throw;
        }
        if (!probed) {
            TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_LowLevel => exception during GetDeviceCaps\n");
            // The device context the fault left behind is still released.
            ReleaseDeviceContext(&dc);
        }
    }
    TraceRecord(*caps);
    return caps;
}
