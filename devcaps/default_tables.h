// The built-in lists answered for a null printer name: 118 papers in the
// DMPAPER_ numbering and 13 bins in the DMBIN_ numbering.
#pragma once

#include "devcaps/devcaps_types.h"

inline constexpr DWORD kDefaultPaperCount = 118;
inline constexpr DWORD kDefaultBinCount = 13;

struct DefaultPaper {
    WORD id;
    const WCHAR* name;
    LONG width;   // tenths of a millimetre, portrait
    LONG length;
};

struct DefaultBin {
    WORD id;
    const WCHAR* name;
};

// Row i holds the paper with id i + 1.
extern const DefaultPaper kDefaultPapers[kDefaultPaperCount];
extern const DefaultBin kDefaultBins[kDefaultBinCount];
