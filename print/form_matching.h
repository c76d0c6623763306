// Paper, resolution and form matching: which of a printer's papers, which of
// its resolutions and which of its measured forms a requested DEVMODE stands
// for, with the canonical values of that choice written back into an output
// DEVMODE. The logger may be null; then nothing is traced. pdmOut may be the
// same DEVMODE as pdmIn.
#pragma once

#include "devcaps/devcaps_types.h"
#include "log/trace_log.h"
#include "platform/platform.h"
#include "records/caps4.h"

// Longest form name written to or compared with dmFormName, in characters.
inline constexpr size_t kFormNameMatchChars = 31;

// The paper the DEVMODE names: by paper code, else by form name (first 31
// characters, case ignored), else by width and length; searched in pdmIn and,
// when nothing is found there, once more in pdmOut. The three lists hold
// `count` entries each (names in 64-unit slots). The paper found is written
// to pdmOut (code, name, width, length and their four bits). Returns its
// index, or -1 when none was found, a list is missing or pdmOut is null.
LONG vlibPRINT_GetPaperIndex(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, DWORD count, const WORD* paperCodes,
                             const WCHAR* paperNames, const PaperSize* paperSizes, TraceLog* log);

// The resolution the DEVMODE names, by dots per inch, by quality index or by
// the average and default rules: a real index (0 and up) into `real`, or a
// quality index (-1 is indexed entry 0, -2 entry 1, ...). With indexedOnly
// set, dots per inch are looked up in `indexed`. The result is written to
// pdmOut's dmPrintQuality and dmYResolution. -1 when pdmIn or a list is null.
LONG vlibPRINT_GetResolutionIndex(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, DWORD indexedOnly, DWORD numReal,
                                  const ResolutionPair* real, DWORD numIndexed, const ResolutionPair* indexed,
                                  TraceLog* log);

// The two searches over the lists of a capability record of record->dwSize
// bytes: entries outside the record do not exist, and papers are searched
// only where all three paper lists have an entry. A record shorter than its
// 412-byte header counts as none (-1), for vlibPRINT_GetForm too.
LONG vlibPRINT_GetPaperIndexOfCaps4(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, const caps4* record, TraceLog* log);
LONG vlibPRINT_GetResolutionIndexOfCaps4(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, const caps4* record,
                                         TraceLog* log);

// The measured form of the paper and resolution the DEVMODE names, copied
// into *pForm, its logical pixels and sizes scaled for scalePercent, turned
// for a landscape pdmIn when the form says so. The record holds
// record->dwSize bytes; nothing outside it is read. Returns pForm.
FormEntry* vlibPRINT_GetForm(FormEntry* pForm, const DEVMODEW* pdmIn, DEVMODEW* pdmOut, DWORD scalePercent,
                             const caps4* record, TraceLog* log);
