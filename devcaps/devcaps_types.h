// The blocks the capability queries hand to their callers. Each is one
// zero-filled process-heap allocation owned by the caller. These layouts are
// read by the capability record and by the server side: every offset is fixed.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// Slot widths of driver-filled names, in UTF-16 units. A name may fill its
// whole slot without a terminator.
inline constexpr size_t kPaperNameChars = 64;
inline constexpr size_t kBinNameChars = 24;
inline constexpr size_t kMediaNameChars = 64;
inline constexpr size_t kFileNameChars = 64;
inline constexpr size_t kMediaReadyChars = 64;
inline constexpr size_t kPersonalityChars = 32;

// Header of the paper block; the name, id and size lists follow it.
struct PaperBuffer {
    DWORD dwSize;
    DWORD dwNumPapers;
    DWORD dwSizeOfPapers;
    DWORD dwOffsetToPapers;
    DWORD dwNumPaperNames;
    DWORD dwSizeOfPaperNames;
    DWORD dwOffsetToPaperNames;
    DWORD dwNumPaperSize;
    DWORD dwSizeOfPaperSize;
    DWORD dwOffsetToPaperSize;
};

// Header of the bin block; the name and id lists follow it.
struct BinBuffer {
    DWORD dwSize;
    DWORD dwNumBins;
    DWORD dwSizeOfBins;
    DWORD dwOffsetToBins;
    DWORD dwNumBinNames;
    DWORD dwSizeOfBinNames;
    DWORD dwOffsetToBinNames;
};

// Header of the media block; the name and id lists follow it.
struct MediaBuffer {
    DWORD dwSize;
    DWORD dwNumMediaTypes;
    DWORD dwSizeOfMediaTypes;
    DWORD dwOffsetToMediaTypes;
    DWORD dwNumMediaTypeNames;
    DWORD dwSizeOfMediaTypeNames;
    DWORD dwOffsetToMediaTypeNames;
};

// One paper size: width then length in tenths of a millimetre, as for portrait.
struct PaperSize {
    LONG width;
    LONG length;
};

// One resolution: x then y in dots per inch (or an indexed level).
struct ResolutionPair {
    LONG x;
    LONG y;
};

// One form of the forms table: one paper at one resolution, as measured.
struct FormEntry {
    LONG formNo;
    LONG orientFlag;
    LONG paprI;
    LONG paprW;
    LONG paprL;
    LONG resX;
    LONG resY;
    LONG resNo;
    LONG hsize;
    LONG vsize;
    LONG hres;
    LONG vres;
    LONG logX;
    LONG logY;
    LONG aspX;
    LONG aspY;
    LONG aspXY;
    LONG physW;
    LONG physH;
    LONG offX;
    LONG offY;
};

// The graphics capability values of a device context and the answers to the
// escape-support probe.
struct LowLevelCaps {
    LONG DriverVersion;
    LONG Technology;
    LONG BitsPixel;
    LONG Planes;
    LONG NumBrushes;
    LONG NumPens;
    LONG NumFonts;
    LONG NumColors;
    LONG PDeviceSize;
    LONG ClipCaps;
    LONG SizePalette;
    LONG NumReserved;
    LONG ColorRes;
    LONG ScalingFactorX;
    LONG ScalingFactorY;
    LONG BltAlignment;
    LONG ShadeBlendCaps;
    LONG RasterCaps;
    LONG CurveCaps;
    LONG LineCaps;
    LONG PolygonalCaps;
    LONG TextCaps;
    LONG ColorMgmtCaps;
    LONG JpegSupport;            // CHECKJPEGFORMAT
    LONG PngSupport;             // CHECKPNGFORMAT
    LONG GetPsFeatureSetting;    // GET_PS_FEATURESETTING
    LONG Passthrough;            // PASSTHROUGH
    LONG PostscriptData;         // POSTSCRIPT_DATA
    LONG PostscriptIdentify;     // POSTSCRIPT_IDENTIFY
    LONG PostscriptInjection;    // POSTSCRIPT_INJECTION
    LONG PostscriptPassthrough;  // POSTSCRIPT_PASSTHROUGH
    LONG SpclPassthrough2;       // SPCLPASSTHROUGH2
    LONG PostscriptIgnore;       // POSTSCRIPT_IGNORE
    LONG EncapsulatedPostscript; // ENCAPSULATED_POSTSCRIPT
    LONG QueryDibSupport;        // QUERYDIBSUPPORT
};

static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4);

static_assert(sizeof(PaperBuffer) == 40);
static_assert(offsetof(PaperBuffer, dwSize) == 0);
static_assert(offsetof(PaperBuffer, dwNumPapers) == 4);
static_assert(offsetof(PaperBuffer, dwSizeOfPapers) == 8);
static_assert(offsetof(PaperBuffer, dwOffsetToPapers) == 12);
static_assert(offsetof(PaperBuffer, dwNumPaperNames) == 16);
static_assert(offsetof(PaperBuffer, dwSizeOfPaperNames) == 20);
static_assert(offsetof(PaperBuffer, dwOffsetToPaperNames) == 24);
static_assert(offsetof(PaperBuffer, dwNumPaperSize) == 28);
static_assert(offsetof(PaperBuffer, dwSizeOfPaperSize) == 32);
static_assert(offsetof(PaperBuffer, dwOffsetToPaperSize) == 36);

static_assert(sizeof(BinBuffer) == 28);
static_assert(offsetof(BinBuffer, dwNumBins) == 4);
static_assert(offsetof(BinBuffer, dwSizeOfBins) == 8);
static_assert(offsetof(BinBuffer, dwOffsetToBins) == 12);
static_assert(offsetof(BinBuffer, dwNumBinNames) == 16);
static_assert(offsetof(BinBuffer, dwSizeOfBinNames) == 20);
static_assert(offsetof(BinBuffer, dwOffsetToBinNames) == 24);

static_assert(sizeof(MediaBuffer) == 28);
static_assert(offsetof(MediaBuffer, dwNumMediaTypes) == 4);
static_assert(offsetof(MediaBuffer, dwSizeOfMediaTypes) == 8);
static_assert(offsetof(MediaBuffer, dwOffsetToMediaTypes) == 12);
static_assert(offsetof(MediaBuffer, dwNumMediaTypeNames) == 16);
static_assert(offsetof(MediaBuffer, dwSizeOfMediaTypeNames) == 20);
static_assert(offsetof(MediaBuffer, dwOffsetToMediaTypeNames) == 24);

static_assert(sizeof(PaperSize) == 8 && sizeof(ResolutionPair) == 8);

static_assert(sizeof(FormEntry) == 84);
static_assert(offsetof(FormEntry, orientFlag) == 4);
static_assert(offsetof(FormEntry, paprI) == 8);
static_assert(offsetof(FormEntry, paprW) == 12);
static_assert(offsetof(FormEntry, paprL) == 16);
static_assert(offsetof(FormEntry, resX) == 20);
static_assert(offsetof(FormEntry, resY) == 24);
static_assert(offsetof(FormEntry, resNo) == 28);
static_assert(offsetof(FormEntry, hsize) == 32);
static_assert(offsetof(FormEntry, vsize) == 36);
static_assert(offsetof(FormEntry, hres) == 40);
static_assert(offsetof(FormEntry, vres) == 44);
static_assert(offsetof(FormEntry, logX) == 48);
static_assert(offsetof(FormEntry, logY) == 52);
static_assert(offsetof(FormEntry, aspX) == 56);
static_assert(offsetof(FormEntry, aspY) == 60);
static_assert(offsetof(FormEntry, aspXY) == 64);
static_assert(offsetof(FormEntry, physW) == 68);
static_assert(offsetof(FormEntry, physH) == 72);
static_assert(offsetof(FormEntry, offX) == 76);
static_assert(offsetof(FormEntry, offY) == 80);

static_assert(sizeof(LowLevelCaps) == 140);
static_assert(offsetof(LowLevelCaps, Technology) == 4);
static_assert(offsetof(LowLevelCaps, NumBrushes) == 16);
static_assert(offsetof(LowLevelCaps, PDeviceSize) == 32);
static_assert(offsetof(LowLevelCaps, SizePalette) == 40);
static_assert(offsetof(LowLevelCaps, ScalingFactorX) == 52);
static_assert(offsetof(LowLevelCaps, ShadeBlendCaps) == 64);
static_assert(offsetof(LowLevelCaps, RasterCaps) == 68);
static_assert(offsetof(LowLevelCaps, TextCaps) == 84);
static_assert(offsetof(LowLevelCaps, ColorMgmtCaps) == 88);
static_assert(offsetof(LowLevelCaps, JpegSupport) == 92);
static_assert(offsetof(LowLevelCaps, Passthrough) == 104);
static_assert(offsetof(LowLevelCaps, PostscriptIdentify) == 112);
static_assert(offsetof(LowLevelCaps, SpclPassthrough2) == 124);
static_assert(offsetof(LowLevelCaps, QueryDibSupport) == 136);
