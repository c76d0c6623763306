// The capability set of one printer as the printer object holds it while it
// is alive: scalar answers, counted arrays and the three list blocks. The
// capability queries fill it, the capability record packs and unpacks it.
#pragma once

#include "devcaps/devcaps_types.h"
#include "platform/platform.h"

// Widths of the elements of the counted arrays and list sections, in bytes.
inline constexpr DWORD kBinNameBytes = static_cast<DWORD>(kBinNameChars * sizeof(WCHAR));       // 48
inline constexpr DWORD kBinBytes = sizeof(WORD);                                                // 2
inline constexpr DWORD kResolutionBytes = sizeof(ResolutionPair);                               // 8
inline constexpr DWORD kFileBytes = static_cast<DWORD>(kFileNameChars * sizeof(WCHAR));         // 128
inline constexpr DWORD kMediaReadyBytes = static_cast<DWORD>(kMediaReadyChars * sizeof(WCHAR)); // 128
inline constexpr DWORD kMediaNameBytes = static_cast<DWORD>(kMediaNameChars * sizeof(WCHAR));   // 128
inline constexpr DWORD kMediaTypeBytes = sizeof(DWORD);                                         // 4
inline constexpr DWORD kNUPBytes = sizeof(DWORD);                                               // 4
inline constexpr DWORD kPaperNameBytes = static_cast<DWORD>(kPaperNameChars * sizeof(WCHAR));   // 128
inline constexpr DWORD kPaperBytes = sizeof(WORD);                                              // 2
inline constexpr DWORD kPaperSizeBytes = sizeof(PaperSize);                                     // 8
inline constexpr DWORD kPersonalityBytes = static_cast<DWORD>(kPersonalityChars * sizeof(WCHAR)); // 64
inline constexpr DWORD kFormBytes = sizeof(FormEntry);                                          // 84

static_assert(kBinNameBytes == 48 && kFileBytes == 128 && kMediaReadyBytes == 128 && kMediaNameBytes == 128);
static_assert(kPaperNameBytes == 128 && kPersonalityBytes == 64 && kFormBytes == 84);

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
