// The blocks the capability queries hand to their callers. Each is one
// zero-filled process-heap allocation owned by the caller. These layouts are
// read by the capability record and by the server side: every offset is fixed.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

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

static_assert(sizeof(BinBuffer) == 28 && offsetof(BinBuffer, dwSize) == 0);
static_assert(offsetof(BinBuffer, dwNumBins) == 4);
static_assert(offsetof(BinBuffer, dwSizeOfBins) == 8);
static_assert(offsetof(BinBuffer, dwOffsetToBins) == 12);
static_assert(offsetof(BinBuffer, dwNumBinNames) == 16);
static_assert(offsetof(BinBuffer, dwSizeOfBinNames) == 20);
static_assert(offsetof(BinBuffer, dwOffsetToBinNames) == 24);

static_assert(sizeof(MediaBuffer) == 28 && offsetof(MediaBuffer, dwSize) == 0);
static_assert(offsetof(MediaBuffer, dwNumMediaTypes) == 4);
static_assert(offsetof(MediaBuffer, dwSizeOfMediaTypes) == 8);
static_assert(offsetof(MediaBuffer, dwOffsetToMediaTypes) == 12);
static_assert(offsetof(MediaBuffer, dwNumMediaTypeNames) == 16);
static_assert(offsetof(MediaBuffer, dwSizeOfMediaTypeNames) == 20);
static_assert(offsetof(MediaBuffer, dwOffsetToMediaTypeNames) == 24);

static_assert(sizeof(PaperSize) == 8 && sizeof(ResolutionPair) == 8);
static_assert(offsetof(PaperSize, length) == 4 && offsetof(ResolutionPair, y) == 4);

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
static_assert(offsetof(LowLevelCaps, DriverVersion) == 0 && offsetof(LowLevelCaps, Technology) == 4);
static_assert(offsetof(LowLevelCaps, BitsPixel) == 8 && offsetof(LowLevelCaps, Planes) == 12);
static_assert(offsetof(LowLevelCaps, NumBrushes) == 16 && offsetof(LowLevelCaps, NumPens) == 20);
static_assert(offsetof(LowLevelCaps, NumFonts) == 24 && offsetof(LowLevelCaps, NumColors) == 28);
static_assert(offsetof(LowLevelCaps, PDeviceSize) == 32 && offsetof(LowLevelCaps, ClipCaps) == 36);
static_assert(offsetof(LowLevelCaps, SizePalette) == 40 && offsetof(LowLevelCaps, NumReserved) == 44);
static_assert(offsetof(LowLevelCaps, ColorRes) == 48 && offsetof(LowLevelCaps, ScalingFactorX) == 52);
static_assert(offsetof(LowLevelCaps, ScalingFactorY) == 56 && offsetof(LowLevelCaps, BltAlignment) == 60);
static_assert(offsetof(LowLevelCaps, ShadeBlendCaps) == 64 && offsetof(LowLevelCaps, RasterCaps) == 68);
static_assert(offsetof(LowLevelCaps, CurveCaps) == 72 && offsetof(LowLevelCaps, LineCaps) == 76);
static_assert(offsetof(LowLevelCaps, PolygonalCaps) == 80 && offsetof(LowLevelCaps, TextCaps) == 84);
static_assert(offsetof(LowLevelCaps, ColorMgmtCaps) == 88 && offsetof(LowLevelCaps, JpegSupport) == 92);
static_assert(offsetof(LowLevelCaps, PngSupport) == 96 && offsetof(LowLevelCaps, GetPsFeatureSetting) == 100);
static_assert(offsetof(LowLevelCaps, Passthrough) == 104 && offsetof(LowLevelCaps, PostscriptData) == 108);
static_assert(offsetof(LowLevelCaps, PostscriptIdentify) == 112 && offsetof(LowLevelCaps, PostscriptInjection) == 116);
static_assert(offsetof(LowLevelCaps, PostscriptPassthrough) == 120 && offsetof(LowLevelCaps, SpclPassthrough2) == 124);
static_assert(offsetof(LowLevelCaps, PostscriptIgnore) == 128 && offsetof(LowLevelCaps, EncapsulatedPostscript) == 132);
static_assert(offsetof(LowLevelCaps, QueryDibSupport) == 136);

// Entry widths of the lists in bytes.
inline constexpr DWORD kPaperNameBytes = kPaperNameChars * sizeof(WCHAR);   // 128
inline constexpr DWORD kPaperIdBytes = sizeof(WORD);                         // 2
inline constexpr DWORD kPaperSizeBytes = sizeof(PaperSize);                  // 8
inline constexpr DWORD kBinNameBytes = kBinNameChars * sizeof(WCHAR);       // 48
inline constexpr DWORD kBinIdBytes = sizeof(WORD);                           // 2
inline constexpr DWORD kMediaNameBytes = kMediaNameChars * sizeof(WCHAR);   // 128
inline constexpr DWORD kMediaIdBytes = sizeof(DWORD);                        // 4
inline constexpr DWORD kFileNameBytes = kFileNameChars * sizeof(WCHAR);     // 128
inline constexpr DWORD kMediaReadyBytes = kMediaReadyChars * sizeof(WCHAR); // 128
inline constexpr DWORD kPersonalityBytes = kPersonalityChars * sizeof(WCHAR);  // 64
inline constexpr DWORD kNupBytes = sizeof(DWORD);                            // 4

static_assert(kPaperNameBytes == 128 && kPaperIdBytes == 2 && kPaperSizeBytes == 8);
static_assert(kBinNameBytes == 48 && kBinIdBytes == 2);
static_assert(kMediaNameBytes == 128 && kMediaIdBytes == 4);
static_assert(kFileNameBytes == 128 && kMediaReadyBytes == 128 && kPersonalityBytes == 64 && kNupBytes == 4);

// ---------------------------------------------------------------- list access
//
// Readers find the lists of a block only through the header's offsets (the
// record unpacking lays them out in another order than the queries do).
// The paper size list may start at an odd multiple of two bytes (after an
// odd number of 16-bit ids): read sizes through PaperSizeAt, which copies.

namespace devcaps_detail {
template <class T, class Block>
T* At(Block* block, DWORD offset) {
    using Byte = std::conditional_t<std::is_const_v<Block>, const BYTE, BYTE>;
    return reinterpret_cast<T*>(reinterpret_cast<Byte*>(block) + offset);
}
// True when entry i lies below the list's count and inside its byte size.
inline bool Has(DWORD count, DWORD bytes, DWORD width, DWORD i) {
    return i < count && (static_cast<unsigned long long>(i) + 1) * width <= bytes;
}
}  // namespace devcaps_detail

inline WCHAR* PaperNames(PaperBuffer* b) { return devcaps_detail::At<WCHAR>(b, b->dwOffsetToPaperNames); }
inline const WCHAR* PaperNames(const PaperBuffer* b) { return devcaps_detail::At<const WCHAR>(b, b->dwOffsetToPaperNames); }
inline WORD* PaperIds(PaperBuffer* b) { return devcaps_detail::At<WORD>(b, b->dwOffsetToPapers); }
inline const WORD* PaperIds(const PaperBuffer* b) { return devcaps_detail::At<const WORD>(b, b->dwOffsetToPapers); }
inline BYTE* PaperSizeBytes(PaperBuffer* b) { return devcaps_detail::At<BYTE>(b, b->dwOffsetToPaperSize); }
inline const BYTE* PaperSizeBytes(const PaperBuffer* b) { return devcaps_detail::At<const BYTE>(b, b->dwOffsetToPaperSize); }

inline WCHAR* BinNames(BinBuffer* b) { return devcaps_detail::At<WCHAR>(b, b->dwOffsetToBinNames); }
inline const WCHAR* BinNames(const BinBuffer* b) { return devcaps_detail::At<const WCHAR>(b, b->dwOffsetToBinNames); }
inline WORD* BinIds(BinBuffer* b) { return devcaps_detail::At<WORD>(b, b->dwOffsetToBins); }
inline const WORD* BinIds(const BinBuffer* b) { return devcaps_detail::At<const WORD>(b, b->dwOffsetToBins); }

inline WCHAR* MediaNames(MediaBuffer* b) { return devcaps_detail::At<WCHAR>(b, b->dwOffsetToMediaTypeNames); }
inline const WCHAR* MediaNames(const MediaBuffer* b) { return devcaps_detail::At<const WCHAR>(b, b->dwOffsetToMediaTypeNames); }
inline DWORD* MediaIds(MediaBuffer* b) { return devcaps_detail::At<DWORD>(b, b->dwOffsetToMediaTypes); }
inline const DWORD* MediaIds(const MediaBuffer* b) { return devcaps_detail::At<const DWORD>(b, b->dwOffsetToMediaTypes); }

// Entry i of a list, or null / false when that list has no entry i (the
// lists of one block may have different counts). Name slots are returned as
// they are: they may be unterminated, copy them with CopyNameSlot.
inline const WCHAR* PaperNameAt(const PaperBuffer* b, DWORD i) {
    return devcaps_detail::Has(b->dwNumPaperNames, b->dwSizeOfPaperNames, kPaperNameBytes, i)
               ? PaperNames(b) + static_cast<size_t>(i) * kPaperNameChars
               : nullptr;
}
inline bool PaperIdAt(const PaperBuffer* b, DWORD i, WORD* id) {
    if (!devcaps_detail::Has(b->dwNumPapers, b->dwSizeOfPapers, kPaperIdBytes, i)) return false;
    std::memcpy(id, PaperIds(b) + i, sizeof(WORD));
    return true;
}
inline bool PaperSizeAt(const PaperBuffer* b, DWORD i, PaperSize* size) {
    if (!devcaps_detail::Has(b->dwNumPaperSize, b->dwSizeOfPaperSize, kPaperSizeBytes, i)) return false;
    std::memcpy(size, PaperSizeBytes(b) + static_cast<size_t>(i) * kPaperSizeBytes, sizeof(PaperSize));
    return true;
}
inline const WCHAR* BinNameAt(const BinBuffer* b, DWORD i) {
    return devcaps_detail::Has(b->dwNumBinNames, b->dwSizeOfBinNames, kBinNameBytes, i)
               ? BinNames(b) + static_cast<size_t>(i) * kBinNameChars
               : nullptr;
}
inline bool BinIdAt(const BinBuffer* b, DWORD i, WORD* id) {
    if (!devcaps_detail::Has(b->dwNumBins, b->dwSizeOfBins, kBinIdBytes, i)) return false;
    std::memcpy(id, BinIds(b) + i, sizeof(WORD));
    return true;
}
inline const WCHAR* MediaNameAt(const MediaBuffer* b, DWORD i) {
    return devcaps_detail::Has(b->dwNumMediaTypeNames, b->dwSizeOfMediaTypeNames, kMediaNameBytes, i)
               ? MediaNames(b) + static_cast<size_t>(i) * kMediaNameChars
               : nullptr;
}
inline bool MediaIdAt(const MediaBuffer* b, DWORD i, DWORD* id) {
    if (!devcaps_detail::Has(b->dwNumMediaTypes, b->dwSizeOfMediaTypes, kMediaIdBytes, i)) return false;
    std::memcpy(id, MediaIds(b) + i, sizeof(DWORD));
    return true;
}

// Copies a driver-filled name slot of slotChars units into target, which
// holds slotChars + 1 units, and terminates it: a name that fills its whole
// slot has no terminator of its own. A null slot gives an empty string.
inline void CopyNameSlot(WCHAR* target, const WCHAR* slot, size_t slotChars) {
    size_t i = 0;
    if (slot) {
        for (; i < slotChars && slot[i]; ++i) target[i] = slot[i];
    }
    target[i] = L'\0';
}
