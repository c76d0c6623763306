// The values of a form entry and of the low-level capability block by name,
// in their order in memory: the names the JSON export writes and reads, and
// the field tables of the format reference.
#pragma once

#include <iterator>

#include "devcaps/devcaps_types.h"
#include "records/query_buffers.h"

template <class T>
struct NamedValue {
    const char* name;
    LONG T::*member;
};
inline constexpr NamedValue<FormEntry> kFormFields[] = {
    {"formNo", &FormEntry::formNo}, {"orientFlag", &FormEntry::orientFlag}, {"paprI", &FormEntry::paprI},
    {"paprW", &FormEntry::paprW},   {"paprL", &FormEntry::paprL},           {"resX", &FormEntry::resX},
    {"resY", &FormEntry::resY},     {"resNo", &FormEntry::resNo},           {"hsize", &FormEntry::hsize},
    {"vsize", &FormEntry::vsize},   {"hres", &FormEntry::hres},             {"vres", &FormEntry::vres},
    {"logX", &FormEntry::logX},     {"logY", &FormEntry::logY},             {"aspX", &FormEntry::aspX},
    {"aspY", &FormEntry::aspY},     {"aspXY", &FormEntry::aspXY},           {"physW", &FormEntry::physW},
    {"physH", &FormEntry::physH},   {"offX", &FormEntry::offX},             {"offY", &FormEntry::offY},
};
static_assert(std::size(kFormFields) * sizeof(LONG) == sizeof(FormEntry));

// The 23 device values under "lowLevel", then the 12 escape answers under "escapes".
inline constexpr size_t kDeviceValues = 23;
inline constexpr NamedValue<LowLevelCaps> kLowLevelFields[] = {
    {"DriverVersion", &LowLevelCaps::DriverVersion},
    {"Technology", &LowLevelCaps::Technology},
    {"BitsPixel", &LowLevelCaps::BitsPixel},
    {"Planes", &LowLevelCaps::Planes},
    {"NumBrushes", &LowLevelCaps::NumBrushes},
    {"NumPens", &LowLevelCaps::NumPens},
    {"NumFonts", &LowLevelCaps::NumFonts},
    {"NumColors", &LowLevelCaps::NumColors},
    {"PDeviceSize", &LowLevelCaps::PDeviceSize},
    {"ClipCaps", &LowLevelCaps::ClipCaps},
    {"SizePalette", &LowLevelCaps::SizePalette},
    {"NumReserved", &LowLevelCaps::NumReserved},
    {"ColorRes", &LowLevelCaps::ColorRes},
    {"ScalingFactorX", &LowLevelCaps::ScalingFactorX},
    {"ScalingFactorY", &LowLevelCaps::ScalingFactorY},
    {"BltAlignment", &LowLevelCaps::BltAlignment},
    {"ShadeBlendCaps", &LowLevelCaps::ShadeBlendCaps},
    {"RasterCaps", &LowLevelCaps::RasterCaps},
    {"CurveCaps", &LowLevelCaps::CurveCaps},
    {"LineCaps", &LowLevelCaps::LineCaps},
    {"PolygonalCaps", &LowLevelCaps::PolygonalCaps},
    {"TextCaps", &LowLevelCaps::TextCaps},
    {"ColorMgmtCaps", &LowLevelCaps::ColorMgmtCaps},
    {"CHECKJPEGFORMAT", &LowLevelCaps::JpegSupport},
    {"CHECKPNGFORMAT", &LowLevelCaps::PngSupport},
    {"GET_PS_FEATURESETTING", &LowLevelCaps::GetPsFeatureSetting},
    {"PASSTHROUGH", &LowLevelCaps::Passthrough},
    {"POSTSCRIPT_DATA", &LowLevelCaps::PostscriptData},
    {"POSTSCRIPT_IDENTIFY", &LowLevelCaps::PostscriptIdentify},
    {"POSTSCRIPT_INJECTION", &LowLevelCaps::PostscriptInjection},
    {"POSTSCRIPT_PASSTHROUGH", &LowLevelCaps::PostscriptPassthrough},
    {"SPCLPASSTHROUGH2", &LowLevelCaps::SpclPassthrough2},
    {"POSTSCRIPT_IGNORE", &LowLevelCaps::PostscriptIgnore},
    {"ENCAPSULATED_POSTSCRIPT", &LowLevelCaps::EncapsulatedPostscript},
    {"QUERYDIBSUPPORT", &LowLevelCaps::QueryDibSupport},
};
static_assert(std::size(kLowLevelFields) * sizeof(LONG) == sizeof(LowLevelCaps));

// The scalar capabilities of a set by name, in the JSON document's order.
struct NamedScalar {
    const char* name;
    DWORD QueryBuffers::*member;
};
inline constexpr NamedScalar kNamedScalars[] = {
    {"dwCollate", &QueryBuffers::dwCollate},
    {"dwColor", &QueryBuffers::dwColor},
    {"dwCopies", &QueryBuffers::dwCopies},
    {"dwDriver", &QueryBuffers::dwDriver},
    {"dwDatatype", &QueryBuffers::dwDatatype},
    {"dwDuplex", &QueryBuffers::dwDuplex},
    {"dwEMF", &QueryBuffers::dwEMF},
    {"dwIndexedResolutionsOnly", &QueryBuffers::dwIndexedResolutionsOnly},
    {"dwExtra", &QueryBuffers::dwExtra},
    {"dwFields", &QueryBuffers::dwFields},
    {"dwManufacturer", &QueryBuffers::dwManufacturer},
    {"dwMaxExtent", &QueryBuffers::dwMaxExtent},
    {"dwMinExtent", &QueryBuffers::dwMinExtent},
    {"dwModel", &QueryBuffers::dwModel},
    {"dwOrientation", &QueryBuffers::dwOrientation},
    {"dwPrinterMem", &QueryBuffers::dwPrinterMem},
    {"dwPrintRate", &QueryBuffers::dwPrintRate},
    {"dwPrintRatePPM", &QueryBuffers::dwPrintRatePPM},
    {"dwPrintRateUnit", &QueryBuffers::dwPrintRateUnit},
    {"dwDevModeSize", &QueryBuffers::dwDevModeSize},
    {"dwStaple", &QueryBuffers::dwStaple},
    {"dwTrueType", &QueryBuffers::dwTrueType},
    {"dwVersion", &QueryBuffers::dwVersion},
    {"dwAnsiOnly", &QueryBuffers::dwAnsiOnly},
};
