// Where the sections of a capability record sit: one typed description of
// each section's (offset, size, count) header fields and element width,
// shared by packing, unpacking, the dumps and the structural check. A field
// named here that is missing from the record, or is not a 32-bit value, does
// not compile.
#pragma once

#include <cstddef>
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

// The forms table of the dumps: each printed column's name and the index of
// its value inside one entry (a form entry of either record). The earlier
// record's entry holds exactly these 18 values.
struct FormColumn {
    const WCHAR* name;
    int index;
};
#define KV_COLUMN(type, member) FormColumn{L"" #member, static_cast<int>(offsetof(type, member) / sizeof(LONG))}
#define KV_FORM_COLUMNS(type)                                                                                  \
    {KV_COLUMN(type, paprI), KV_COLUMN(type, paprW), KV_COLUMN(type, paprL), KV_COLUMN(type, resX),            \
     KV_COLUMN(type, resY),  KV_COLUMN(type, aspX),  KV_COLUMN(type, aspY),  KV_COLUMN(type, aspXY),           \
     KV_COLUMN(type, logX),  KV_COLUMN(type, logY),  KV_COLUMN(type, hsize), KV_COLUMN(type, vsize),           \
     KV_COLUMN(type, hres),  KV_COLUMN(type, vres),  KV_COLUMN(type, physW), KV_COLUMN(type, physH),           \
     KV_COLUMN(type, offX),  KV_COLUMN(type, offY)}
inline constexpr FormColumn kForm4Columns[18] = KV_FORM_COLUMNS(FormEntry);
inline constexpr FormColumn kForm2Columns[18] = KV_FORM_COLUMNS(FormEntry2);
static_assert(std::size(kForm2Columns) * sizeof(LONG) == sizeof(FormEntry2));
#undef KV_FORM_COLUMNS
#undef KV_COLUMN

// One line of a header dump: a 32-bit field of its own, or a section's
// three fields (offset, size and count, named from the section's stem).
template <class Record>
struct HeaderLine {
    const WCHAR* name;  // a field's name; null for a section
    DWORD Record::*field;
    int section;  // the section's place in the record's layout, for a section
};

#define KV_FIELD(type, field) HeaderLine<type>{L"" #field, &type::field, -1}
#define KV_SECTION_FIELDS(type, index) HeaderLine<type>{nullptr, nullptr, index}

// Every header field in the record's order, as the dumps write them; the
// one header part not listed is a block of its own (caps4::lowLevel,
// caps2::reserved), which the dumps leave out.
inline constexpr HeaderLine<caps4> kCaps4Lines[] = {
    KV_FIELD(caps4, dwSize),
    KV_SECTION_FIELDS(caps4, kSecBinNames),
    KV_SECTION_FIELDS(caps4, kSecBins),
    KV_FIELD(caps4, dwCollate),
    KV_FIELD(caps4, dwColor),
    KV_FIELD(caps4, dwCopies),
    KV_FIELD(caps4, dwDriver),
    KV_FIELD(caps4, dwDatatype),
    KV_FIELD(caps4, dwDuplex),
    KV_FIELD(caps4, dwEMF),
    KV_FIELD(caps4, dwIndexedResolutionsOnly),
    KV_SECTION_FIELDS(caps4, kSecResolutions),
    KV_SECTION_FIELDS(caps4, kSecResolutionsIndexed),
    KV_FIELD(caps4, dwExtra),
    KV_FIELD(caps4, dwFields),
    KV_SECTION_FIELDS(caps4, kSecFiles),
    KV_FIELD(caps4, dwManufacturer),
    KV_FIELD(caps4, dwMaxExtent),
    KV_SECTION_FIELDS(caps4, kSecMediaReady),
    KV_SECTION_FIELDS(caps4, kSecMediaTypeNames),
    KV_SECTION_FIELDS(caps4, kSecMediaTypes),
    KV_FIELD(caps4, dwMinExtent),
    KV_FIELD(caps4, dwModel),
    KV_FIELD(caps4, dwOrientation),
    KV_SECTION_FIELDS(caps4, kSecNUP),
    KV_SECTION_FIELDS(caps4, kSecPaperNames),
    KV_SECTION_FIELDS(caps4, kSecPapers),
    KV_SECTION_FIELDS(caps4, kSecPaperSize),
    KV_SECTION_FIELDS(caps4, kSecPersonality),
    KV_FIELD(caps4, dwPrinterMem),
    KV_FIELD(caps4, dwPrintRate),
    KV_FIELD(caps4, dwPrintRatePPM),
    KV_FIELD(caps4, dwPrintRateUnit),
    KV_FIELD(caps4, dwDevModeSize),
    KV_FIELD(caps4, dwStaple),
    KV_FIELD(caps4, dwTrueType),
    KV_FIELD(caps4, dwVersion),
    KV_SECTION_FIELDS(caps4, kSecForms),
    KV_FIELD(caps4, dwAnsiOnly),
    KV_FIELD(caps4, dwEnd),
};

inline constexpr HeaderLine<caps2> kCaps2Lines[] = {
    KV_FIELD(caps2, dwSize),
    KV_SECTION_FIELDS(caps2, kSec2BinNames),
    KV_SECTION_FIELDS(caps2, kSec2Bins),
    KV_FIELD(caps2, dwCollate),
    KV_FIELD(caps2, dwColor),
    KV_FIELD(caps2, dwCopies),
    KV_FIELD(caps2, dwDriver),
    KV_FIELD(caps2, dwDuplex),
    KV_FIELD(caps2, dwIndexedResolutionsOnly),
    KV_SECTION_FIELDS(caps2, kSec2Resolutions),
    KV_FIELD(caps2, dwExtra),
    KV_FIELD(caps2, dwFields),
    KV_FIELD(caps2, dwMaxExtent),
    KV_FIELD(caps2, dwMinExtent),
    KV_FIELD(caps2, dwOrientation),
    KV_SECTION_FIELDS(caps2, kSec2PaperNames),
    KV_SECTION_FIELDS(caps2, kSec2Papers),
    KV_SECTION_FIELDS(caps2, kSec2PaperSize),
    KV_FIELD(caps2, dwDevModeSize),
    KV_FIELD(caps2, dwTrueType),
    KV_FIELD(caps2, dwVersion),
    KV_SECTION_FIELDS(caps2, kSec2Forms),
    KV_FIELD(caps2, dwEnd),
};

#undef KV_SECTION_FIELDS
#undef KV_FIELD

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
