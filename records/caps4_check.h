// Structural check of a capability record read from storage (a .kvp file, a
// registry value, a printer data value): whether it is one whole record whose
// every section can be read without reading outside it.
#pragma once

#include <cstddef>

#include "platform/platform.h"
#include "records/caps4_layout.h"

// Returns TRUE when the `available` bytes at `record` hold exactly one record:
// header present, dwOffsetToBinNames 412 and dwEnd 0 (a capability record at
// all), dwSize equal to `available`, and every section readable: inside the
// record behind the header, with its entries fitting in its size (a count
// read as signed; a negative one only with size 0), and the sections back to
// back in record order from the end of the header to dwSize, as packing lays
// them out (a gap or an overlap is no record this system writes). A count
// below what the size holds is sound (a list whose fetch failed keeps its
// space with count 0). Otherwise FALSE, with the
// reason in `why` (a sentence without line end) when given.
BOOL vlibPRINT_CheckCaps4(const void* record, size_t available, WCHAR* why, size_t whyChars);

// Writes a check's reason into `why` (when given), cut to whyChars and always
// terminated; the checks of every stored record say why through it.
void vlibPRINT_SayWhy(WCHAR* why, size_t whyChars, const WCHAR* format, ...);
