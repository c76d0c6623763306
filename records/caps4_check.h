// Structural check of a capability record read from storage (a .kvp file, a
// registry value, a printer data value): whether it is a whole, undamaged
// caps4 record that can be unpacked without reading outside it.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// One section of the record as its header describes it.
struct Caps4Section {
    const WCHAR* name;  // "paper names", ...
    DWORD offset;
    DWORD size;
    DWORD count;
    DWORD width;  // bytes per element
};

inline constexpr int kCaps4SectionCount = 14;

// Fills the 14 sections in record order from a header of at least 412 bytes.
void vlibPRINT_Caps4Sections(const void* record, Caps4Section sections[kCaps4SectionCount]);

// Returns TRUE when the `available` bytes at `record` hold exactly one record:
// header present, dwOffsetToBinNames 412, dwSize equal to `available`, the first section at 412, the
// sections back to back in their order, each inside the record and as long as
// its count times its element width (names and numbers of a list may differ
// in count), the last one ending at dwSize, dwEnd 0. Otherwise FALSE, with
// the reason in `why` (a sentence without line end) when given.
BOOL vlibPRINT_CheckCaps4(const void* record, size_t available, WCHAR* why, size_t whyChars);
