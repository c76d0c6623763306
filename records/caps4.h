// The capability record: one self-contained, position-independent block that
// carries a printer's whole capability set. It is what the cache keeps, what
// the printer info records end with and what the server side reads, so its
// layout is fixed to the byte. All fields are little-endian 32-bit values.
//
// Packing and unpacking work on a QueryBuffers; the printer object's
// SerializeCaps4 / DeserializeCaps4 call them.
#pragma once

#include <cstddef>

#include "devcaps/devcaps_types.h"
#include "log/trace_log.h"
#include "records/query_buffers.h"

#pragma pack(push, 1)

// The current record: a 412-byte header, then the sections back to back in
// this order: bin names, bins, resolutions, indexed resolutions, files, media
// ready, media type names, media types, N-up, paper names, papers, paper
// sizes, personality, forms.
struct caps4 {
    DWORD dwSize;  // 412 plus all section sizes
    DWORD dwOffsetToBinNames;
    DWORD dwSizeOfBinNames;
    DWORD dwNumBinNames;
    DWORD dwOffsetToBins;
    DWORD dwSizeOfBins;
    DWORD dwNumBins;
    DWORD dwCollate;
    DWORD dwColor;
    DWORD dwCopies;
    DWORD dwDriver;
    DWORD dwDatatype;
    DWORD dwDuplex;
    DWORD dwEMF;
    DWORD dwIndexedResolutionsOnly;
    DWORD dwOffsetToResolutions;
    DWORD dwSizeOfResolutions;
    DWORD dwNumResolutions;
    DWORD dwOffsetToResolutionsIndexed;
    DWORD dwSizeOfResolutionsIndexed;
    DWORD dwNumResolutionsIndexed;
    DWORD dwExtra;
    DWORD dwFields;
    DWORD dwOffsetToFiles;
    DWORD dwSizeOfFiles;
    DWORD dwNumFiles;
    DWORD dwManufacturer;
    DWORD dwMaxExtent;
    DWORD dwOffsetToMediaReady;
    DWORD dwSizeOfMediaReady;
    DWORD dwNumMediaReady;
    DWORD dwOffsetToMediaTypeNames;
    DWORD dwSizeOfMediaTypeNames;
    DWORD dwNumMediaTypeNames;
    DWORD dwOffsetToMediaTypes;
    DWORD dwSizeOfMediaTypes;
    DWORD dwNumMediaTypes;
    DWORD dwMinExtent;
    DWORD dwModel;
    DWORD dwOrientation;
    DWORD dwOffsetToNUP;
    DWORD dwSizeOfNUP;
    DWORD dwNumNUP;
    DWORD dwOffsetToPaperNames;
    DWORD dwSizeOfPaperNames;
    DWORD dwNumPaperNames;
    DWORD dwOffsetToPapers;
    DWORD dwSizeOfPapers;
    DWORD dwNumPapers;
    DWORD dwOffsetToPaperSize;
    DWORD dwSizeOfPaperSize;
    DWORD dwNumPaperSize;
    DWORD dwOffsetToPersonality;
    DWORD dwSizeOfPersonality;
    DWORD dwNumPersonality;
    DWORD dwPrinterMem;
    DWORD dwPrintRate;
    DWORD dwPrintRatePPM;
    DWORD dwPrintRateUnit;
    DWORD dwDevModeSize;
    DWORD dwStaple;
    DWORD dwTrueType;
    DWORD dwVersion;
    LowLevelCaps lowLevel;  // the 35 values in slot order
    DWORD dwOffsetToForms;
    DWORD dwSizeOfForms;
    DWORD dwNumForms;
    DWORD dwAnsiOnly;
    DWORD dwEnd;  // always 0
};

// One form of the earlier record: the measured values without form number,
// orientation flag and resolution number.
struct FormEntry2 {
    LONG paprI;
    LONG paprW;
    LONG paprL;
    LONG resX;
    LONG resY;
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

// The earlier, shorter record that ends the earliest printer info record.
// Only read (dumped), never produced.
struct caps2 {
    DWORD dwSize;
    DWORD dwOffsetToBinNames;
    DWORD dwSizeOfBinNames;
    DWORD dwNumBinNames;
    DWORD dwOffsetToBins;
    DWORD dwSizeOfBins;
    DWORD dwNumBins;
    DWORD dwCollate;
    DWORD dwColor;
    DWORD dwCopies;
    DWORD dwDriver;
    DWORD dwDuplex;
    DWORD dwIndexedResolutionsOnly;
    DWORD dwOffsetToResolutions;
    DWORD dwSizeOfResolutions;
    DWORD dwNumResolutions;
    DWORD dwExtra;
    DWORD dwFields;
    DWORD dwMaxExtent;
    DWORD dwMinExtent;
    DWORD dwOrientation;
    DWORD dwOffsetToPaperNames;
    DWORD dwSizeOfPaperNames;
    DWORD dwNumPaperNames;
    DWORD dwOffsetToPapers;
    DWORD dwSizeOfPapers;
    DWORD dwNumPapers;
    DWORD dwOffsetToPaperSize;
    DWORD dwSizeOfPaperSize;
    DWORD dwNumPaperSize;
    DWORD dwDevModeSize;
    DWORD dwTrueType;
    DWORD dwVersion;
    BYTE reserved[92];  // not interpreted by this program
    DWORD dwOffsetToForms;
    DWORD dwSizeOfForms;
    DWORD dwNumForms;
    DWORD dwEnd;
};

#pragma pack(pop)

inline constexpr DWORD kCaps4HeaderSize = 412;
inline constexpr DWORD kCaps2HeaderSize = 240;
inline constexpr DWORD kForm2Bytes = sizeof(FormEntry2);

static_assert(sizeof(caps4) == 412);
static_assert(offsetof(caps4, dwSize) == 0);
static_assert(offsetof(caps4, dwOffsetToBinNames) == 4);
static_assert(offsetof(caps4, dwSizeOfBinNames) == 8);
static_assert(offsetof(caps4, dwNumBinNames) == 12);
static_assert(offsetof(caps4, dwOffsetToBins) == 16);
static_assert(offsetof(caps4, dwSizeOfBins) == 20);
static_assert(offsetof(caps4, dwNumBins) == 24);
static_assert(offsetof(caps4, dwCollate) == 28);
static_assert(offsetof(caps4, dwColor) == 32);
static_assert(offsetof(caps4, dwCopies) == 36);
static_assert(offsetof(caps4, dwDriver) == 40);
static_assert(offsetof(caps4, dwDatatype) == 44);
static_assert(offsetof(caps4, dwDuplex) == 48);
static_assert(offsetof(caps4, dwEMF) == 52);
static_assert(offsetof(caps4, dwIndexedResolutionsOnly) == 56);
static_assert(offsetof(caps4, dwOffsetToResolutions) == 60);
static_assert(offsetof(caps4, dwSizeOfResolutions) == 64);
static_assert(offsetof(caps4, dwNumResolutions) == 68);
static_assert(offsetof(caps4, dwOffsetToResolutionsIndexed) == 72);
static_assert(offsetof(caps4, dwSizeOfResolutionsIndexed) == 76);
static_assert(offsetof(caps4, dwNumResolutionsIndexed) == 80);
static_assert(offsetof(caps4, dwExtra) == 84);
static_assert(offsetof(caps4, dwFields) == 88);
static_assert(offsetof(caps4, dwOffsetToFiles) == 92);
static_assert(offsetof(caps4, dwSizeOfFiles) == 96);
static_assert(offsetof(caps4, dwNumFiles) == 100);
static_assert(offsetof(caps4, dwManufacturer) == 104);
static_assert(offsetof(caps4, dwMaxExtent) == 108);
static_assert(offsetof(caps4, dwOffsetToMediaReady) == 112);
static_assert(offsetof(caps4, dwSizeOfMediaReady) == 116);
static_assert(offsetof(caps4, dwNumMediaReady) == 120);
static_assert(offsetof(caps4, dwOffsetToMediaTypeNames) == 124);
static_assert(offsetof(caps4, dwSizeOfMediaTypeNames) == 128);
static_assert(offsetof(caps4, dwNumMediaTypeNames) == 132);
static_assert(offsetof(caps4, dwOffsetToMediaTypes) == 136);
static_assert(offsetof(caps4, dwSizeOfMediaTypes) == 140);
static_assert(offsetof(caps4, dwNumMediaTypes) == 144);
static_assert(offsetof(caps4, dwMinExtent) == 148);
static_assert(offsetof(caps4, dwModel) == 152);
static_assert(offsetof(caps4, dwOrientation) == 156);
static_assert(offsetof(caps4, dwOffsetToNUP) == 160);
static_assert(offsetof(caps4, dwSizeOfNUP) == 164);
static_assert(offsetof(caps4, dwNumNUP) == 168);
static_assert(offsetof(caps4, dwOffsetToPaperNames) == 172);
static_assert(offsetof(caps4, dwSizeOfPaperNames) == 176);
static_assert(offsetof(caps4, dwNumPaperNames) == 180);
static_assert(offsetof(caps4, dwOffsetToPapers) == 184);
static_assert(offsetof(caps4, dwSizeOfPapers) == 188);
static_assert(offsetof(caps4, dwNumPapers) == 192);
static_assert(offsetof(caps4, dwOffsetToPaperSize) == 196);
static_assert(offsetof(caps4, dwSizeOfPaperSize) == 200);
static_assert(offsetof(caps4, dwNumPaperSize) == 204);
static_assert(offsetof(caps4, dwOffsetToPersonality) == 208);
static_assert(offsetof(caps4, dwSizeOfPersonality) == 212);
static_assert(offsetof(caps4, dwNumPersonality) == 216);
static_assert(offsetof(caps4, dwPrinterMem) == 220);
static_assert(offsetof(caps4, dwPrintRate) == 224);
static_assert(offsetof(caps4, dwPrintRatePPM) == 228);
static_assert(offsetof(caps4, dwPrintRateUnit) == 232);
static_assert(offsetof(caps4, dwDevModeSize) == 236);
static_assert(offsetof(caps4, dwStaple) == 240);
static_assert(offsetof(caps4, dwTrueType) == 244);
static_assert(offsetof(caps4, dwVersion) == 248);
static_assert(offsetof(caps4, lowLevel) == 252);
static_assert(offsetof(caps4, dwOffsetToForms) == 392);
static_assert(offsetof(caps4, dwSizeOfForms) == 396);
static_assert(offsetof(caps4, dwNumForms) == 400);
static_assert(offsetof(caps4, dwAnsiOnly) == 404);
static_assert(offsetof(caps4, dwEnd) == 408);

static_assert(sizeof(FormEntry2) == 72);
static_assert(offsetof(FormEntry2, paprI) == 0);
static_assert(offsetof(FormEntry2, resX) == 12);
static_assert(offsetof(FormEntry2, hsize) == 20);
static_assert(offsetof(FormEntry2, logX) == 36);
static_assert(offsetof(FormEntry2, aspX) == 44);
static_assert(offsetof(FormEntry2, physW) == 56);
static_assert(offsetof(FormEntry2, offY) == 68);

static_assert(sizeof(caps2) == 240);
static_assert(offsetof(caps2, dwOffsetToBinNames) == 4);
static_assert(offsetof(caps2, dwSizeOfBinNames) == 8);
static_assert(offsetof(caps2, dwNumBinNames) == 12);
static_assert(offsetof(caps2, dwOffsetToBins) == 16);
static_assert(offsetof(caps2, dwSizeOfBins) == 20);
static_assert(offsetof(caps2, dwNumBins) == 24);
static_assert(offsetof(caps2, dwCollate) == 28);
static_assert(offsetof(caps2, dwColor) == 32);
static_assert(offsetof(caps2, dwCopies) == 36);
static_assert(offsetof(caps2, dwDriver) == 40);
static_assert(offsetof(caps2, dwDuplex) == 44);
static_assert(offsetof(caps2, dwIndexedResolutionsOnly) == 48);
static_assert(offsetof(caps2, dwOffsetToResolutions) == 52);
static_assert(offsetof(caps2, dwSizeOfResolutions) == 56);
static_assert(offsetof(caps2, dwNumResolutions) == 60);
static_assert(offsetof(caps2, dwExtra) == 64);
static_assert(offsetof(caps2, dwFields) == 68);
static_assert(offsetof(caps2, dwMaxExtent) == 72);
static_assert(offsetof(caps2, dwMinExtent) == 76);
static_assert(offsetof(caps2, dwOrientation) == 80);
static_assert(offsetof(caps2, dwOffsetToPaperNames) == 84);
static_assert(offsetof(caps2, dwSizeOfPaperNames) == 88);
static_assert(offsetof(caps2, dwNumPaperNames) == 92);
static_assert(offsetof(caps2, dwOffsetToPapers) == 96);
static_assert(offsetof(caps2, dwSizeOfPapers) == 100);
static_assert(offsetof(caps2, dwNumPapers) == 104);
static_assert(offsetof(caps2, dwOffsetToPaperSize) == 108);
static_assert(offsetof(caps2, dwSizeOfPaperSize) == 112);
static_assert(offsetof(caps2, dwNumPaperSize) == 116);
static_assert(offsetof(caps2, dwDevModeSize) == 120);
static_assert(offsetof(caps2, dwTrueType) == 124);
static_assert(offsetof(caps2, dwVersion) == 128);
static_assert(offsetof(caps2, reserved) == 132);
static_assert(offsetof(caps2, dwOffsetToForms) == 224);
static_assert(offsetof(caps2, dwSizeOfForms) == 228);
static_assert(offsetof(caps2, dwNumForms) == 232);
static_assert(offsetof(caps2, dwEnd) == 236);

// Packs the set into a new record (process heap, zero-filled; the caller
// frees it), or null when the set is not filled or memory runs out. The set
// is not changed. Traces as CPrinter::SerializeCaps4 to LibraryLog.
caps4* vlibPRINT_PackCaps4(const QueryBuffers* buffers);

// Unpacks a record of which the caller holds `available` bytes into the set,
// replacing what it held. A null record or one whose dwSize is 0 changes
// nothing. A record shorter than its header, or whose dwSize is larger than
// `available`, is rejected whole and changes nothing either. A section that
// does not lie inside the record, whose entries do not fit in its size, or
// whose count is negative while it holds bytes, is dropped (left absent) and
// traced; the rest loads. A count below what the size holds loads as it is (a
// list whose fetch failed keeps its space with count 0). Bytes beyond dwSize
// are never read. When memory runs out for any part, the set is left empty
// rather than partly filled. Traces as CPrinter::DeserializeCaps4 to
// LibraryLog; returns true when the record was loaded (bFilled is then 1).
bool vlibPRINT_UnpackCaps4(QueryBuffers* buffers, const caps4* record, size_t available);

// The two halves of unpacking, for a holder that clears its set its own way:
// the first traces, checks the record as a whole and dumps it to LibraryLog
// (true when it can be loaded); the second loads a record that passed into
// a set whose blocks have all been freed.
bool vlibPRINT_Caps4Loadable(const caps4* record, size_t available);
void vlibPRINT_LoadCaps4(QueryBuffers* buffers, const caps4* record);

// Field-by-field dumps of a record to the trace log. A null logger or record
// writes nothing. Without `available`, the record is trusted to hold dwSize
// bytes; with it, nothing beyond min(dwSize, available) is read and sections
// outside that bound are reported instead of listed.
void LogCaps4(TraceLog* log, const caps4* record);
void LogCaps4(TraceLog* log, const caps4* record, size_t available);
void LogCaps2(TraceLog* log, const caps2* record);
void LogCaps2(TraceLog* log, const caps2* record, size_t available);
