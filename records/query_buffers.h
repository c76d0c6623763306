// The capability set of one printer as the printer object holds it while it
// is alive: scalar answers, counted arrays and the three list blocks. The
// capability queries fill it, the capability record packs and unpacks it.
#pragma once

#include "devcaps/devcaps_types.h"
#include "platform/platform.h"

// Widths of the elements of the counted arrays that have no list block of
// their own (the list widths are in devcaps_types.h), in bytes.
inline constexpr DWORD kResolutionBytes = sizeof(ResolutionPair);  // 8
inline constexpr DWORD kFormBytes = sizeof(FormEntry);             // 84
static_assert(kResolutionBytes == 8 && kFormBytes == 84);

// Every pointer is a zero-filled process-heap block owned by the holder; a null
// pointer goes with a count and size of 0, and a size is always its count
// times the element width.
struct QueryBuffers {
    DWORD bFilled;  // 1 when a complete set is present; pLowLevel is then present too
    BinBuffer* pBins;
    DWORD dwCollate;
    DWORD dwColor;
    DWORD dwCopies;
    DWORD dwDriver;
    DWORD dwDatatype;
    DWORD dwDuplex;
    DWORD dwEMF;
    DWORD dwIndexedResolutionsOnly;
    ResolutionPair* pResolutions;
    DWORD dwNumResolutions;
    DWORD dwSizeOfResolutions;
    ResolutionPair* pResolutionsIndexed;
    DWORD dwNumResolutionsIndexed;
    DWORD dwSizeOfResolutionsIndexed;
    DWORD dwExtra;
    DWORD dwFields;
    WCHAR* pFiles;  // kFileNameChars per file
    DWORD dwNumFiles;
    DWORD dwSizeOfFiles;
    DWORD dwManufacturer;
    DWORD dwMaxExtent;
    WCHAR* pMediaReady;  // kMediaReadyChars per entry
    DWORD dwNumMediaReady;
    DWORD dwSizeOfMediaReady;
    MediaBuffer* pMedias;
    DWORD dwMinExtent;
    DWORD dwModel;
    DWORD dwOrientation;
    DWORD* pNUP;
    DWORD dwNumNUP;
    DWORD dwSizeOfNUP;
    PaperBuffer* pPapers;
    WCHAR* pPersonality;  // kPersonalityChars per entry
    DWORD dwNumPersonality;
    DWORD dwSizeOfPersonality;
    DWORD dwPrinterMem;
    DWORD dwPrintRate;
    DWORD dwPrintRatePPM;
    DWORD dwPrintRateUnit;
    DWORD dwDevModeSize;
    DWORD dwStaple;
    DWORD dwTrueType;
    DWORD dwVersion;
    FormEntry* pForms;
    DWORD dwNumForms;
    DWORD dwSizeOfForms;
    LowLevelCaps* pLowLevel;
    DWORD dwAnsiOnly;
};

// Frees every block that is present and sets every member, bFilled and
// dwAnsiOnly included, to 0 or null.
void vlibPRINT_FreeQueryBuffers(QueryBuffers* buffers);
