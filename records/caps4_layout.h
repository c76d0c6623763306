// Where the sections of a capability record sit: one typed description of
// each section's (offset, size, count) header fields and element width,
// shared by packing, unpacking, the dumps and the structural check. A field
// named here that is missing from the record, or is not a 32-bit value, does
// not compile.
#pragma once

#include <iterator>

#include "records/caps4.h"

// caps4 sections in record order: each starts where the previous one ends.
// The earlier record holds some of the same sections: a section's kind is
// its index here, whichever record it is in.
enum Caps4SectionIndex {
    kSecBinNames,
    kSecBins,
    kSecResolutions,
    kSecResolutionsIndexed,
    kSecFiles,
    kSecMediaReady,
    kSecMediaTypeNames,
    kSecMediaTypes,
    kSecNUP,
    kSecPaperNames,
    kSecPapers,
    kSecPaperSize,
    kSecPersonality,
    kSecForms,
    kCaps4SectionCount
};

template <class Record>
struct SectionLayout {
    const WCHAR* name;  // "bin names", ...
    const WCHAR* stem;  // "BinNames": the header fields are dwOffsetTo<stem>, dwSizeOf<stem>, dwNum<stem>
    Caps4SectionIndex kind;
    DWORD Record::*offset;
    DWORD Record::*size;
    DWORD Record::*count;
    DWORD width;  // bytes per element
};

#define KV_SECTION(Record, stem, name, width)                                                                  \
    SectionLayout<Record> {                                                                                    \
        name, L"" #stem, kSec##stem, &Record::dwOffsetTo##stem, &Record::dwSizeOf##stem, &Record::dwNum##stem, \
            width                                                                                              \
    }

inline constexpr SectionLayout<caps4> kCaps4Layout[] = {
    KV_SECTION(caps4, BinNames, L"bin names", kBinNameBytes),
    KV_SECTION(caps4, Bins, L"bins", kBinIdBytes),
    KV_SECTION(caps4, Resolutions, L"resolutions", kResolutionBytes),
    KV_SECTION(caps4, ResolutionsIndexed, L"indexed resolutions", kResolutionBytes),
    KV_SECTION(caps4, Files, L"files", kFileNameBytes),
    KV_SECTION(caps4, MediaReady, L"media ready", kMediaReadyBytes),
    KV_SECTION(caps4, MediaTypeNames, L"media type names", kMediaNameBytes),
    KV_SECTION(caps4, MediaTypes, L"media types", kMediaIdBytes),
    KV_SECTION(caps4, NUP, L"N-up", kNupBytes),
    KV_SECTION(caps4, PaperNames, L"paper names", kPaperNameBytes),
    KV_SECTION(caps4, Papers, L"papers", kPaperIdBytes),
    KV_SECTION(caps4, PaperSize, L"paper sizes", kPaperSizeBytes),
    KV_SECTION(caps4, Personality, L"personality", kPersonalityBytes),
    KV_SECTION(caps4, Forms, L"forms", kFormBytes),
};
static_assert(std::size(kCaps4Layout) == kCaps4SectionCount);
constexpr bool Caps4LayoutInKindOrder() {
    for (int i = 0; i < kCaps4SectionCount; ++i)
        if (kCaps4Layout[i].kind != i) return false;
    return true;
}
static_assert(Caps4LayoutInKindOrder());

// The earlier record's sections in its order.
enum Caps2SectionIndex {
    kSec2BinNames,
    kSec2Bins,
    kSec2Resolutions,
    kSec2PaperNames,
    kSec2Papers,
    kSec2PaperSize,
    kSec2Forms,
    kCaps2SectionCount
};

inline constexpr SectionLayout<caps2> kCaps2Layout[] = {
    KV_SECTION(caps2, BinNames, L"bin names", kBinNameBytes),
    KV_SECTION(caps2, Bins, L"bins", kBinIdBytes),
    KV_SECTION(caps2, Resolutions, L"resolutions", kResolutionBytes),
    KV_SECTION(caps2, PaperNames, L"paper names", kPaperNameBytes),
    KV_SECTION(caps2, Papers, L"papers", kPaperIdBytes),
    KV_SECTION(caps2, PaperSize, L"paper sizes", kPaperSizeBytes),
    KV_SECTION(caps2, Forms, L"forms", kForm2Bytes),
};
static_assert(std::size(kCaps2Layout) == kCaps2SectionCount);

#undef KV_SECTION

// A section can be read when its elements fit in its size and, unless it is
// empty, it lies between the end of the header and `bound`. A count below
// what the size holds is sound: a list whose fetch failed keeps its space
// with count 0. A count is read as signed: a negative one lists nothing and
// goes only with an empty section (so that no reader that takes it unsigned
// walks past the bytes there are).
inline bool SectionReadable(DWORD offset, DWORD size, DWORD count, DWORD width, DWORD headerSize, DWORD bound) {
    const LONG signedCount = static_cast<LONG>(count);
    if (signedCount < 0 && size != 0) return false;
    if (signedCount > 0 && static_cast<unsigned long long>(signedCount) * width > size) return false;
    if (size == 0) return true;
    return offset >= headerSize && offset <= bound && size <= bound - offset;
}
