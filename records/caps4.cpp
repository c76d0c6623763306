#include "records/caps4.h"

#include <cstdint>
#include <cstring>

#include "platform/kernel.h"

namespace {

// ------------------------------------------------------------ sections

// Where a section's offset, size and count sit in a record header, and the
// width of one element.
struct SectionField {
    const WCHAR* name;
    size_t offsetField;
    size_t sizeField;
    size_t countField;
    DWORD width;
};

#define KV_SECTION(record, label, stem, width) \
    {label, offsetof(record, dwOffsetTo##stem), offsetof(record, dwSizeOf##stem), offsetof(record, dwNum##stem), width}

// caps4 sections in record order.
enum Caps4Section {
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

const SectionField kCaps4Sections[kCaps4SectionCount] = {
    KV_SECTION(caps4, L"bin name", BinNames, kBinNameBytes),
    KV_SECTION(caps4, L"bin", Bins, kBinIdBytes),
    KV_SECTION(caps4, L"resolution", Resolutions, kResolutionBytes),
    KV_SECTION(caps4, L"indexed resolution", ResolutionsIndexed, kResolutionBytes),
    KV_SECTION(caps4, L"file", Files, kFileNameBytes),
    KV_SECTION(caps4, L"media ready", MediaReady, kMediaReadyBytes),
    KV_SECTION(caps4, L"media type name", MediaTypeNames, kMediaNameBytes),
    KV_SECTION(caps4, L"media type", MediaTypes, kMediaIdBytes),
    KV_SECTION(caps4, L"N-up", NUP, kNupBytes),
    KV_SECTION(caps4, L"paper name", PaperNames, kPaperNameBytes),
    KV_SECTION(caps4, L"paper", Papers, kPaperIdBytes),
    KV_SECTION(caps4, L"paper size", PaperSize, kPaperSizeBytes),
    KV_SECTION(caps4, L"personality", Personality, kPersonalityBytes),
    KV_SECTION(caps4, L"form", Forms, kFormBytes),
};

enum Caps2Section { kSec2BinNames, kSec2Bins, kSec2Resolutions, kSec2PaperNames, kSec2Papers, kSec2PaperSize, kSec2Forms,
                    kCaps2SectionCount };

const SectionField kCaps2Sections[kCaps2SectionCount] = {
    KV_SECTION(caps2, L"bin name", BinNames, kBinNameBytes),
    KV_SECTION(caps2, L"bin", Bins, kBinIdBytes),
    KV_SECTION(caps2, L"resolution", Resolutions, kResolutionBytes),
    KV_SECTION(caps2, L"paper name", PaperNames, kPaperNameBytes),
    KV_SECTION(caps2, L"paper", Papers, kPaperIdBytes),
    KV_SECTION(caps2, L"paper size", PaperSize, kPaperSizeBytes),
    KV_SECTION(caps2, L"form", Forms, kForm2Bytes),
};

#undef KV_SECTION

DWORD FieldAt(const void* header, size_t offset) {
    DWORD value;
    std::memcpy(&value, static_cast<const BYTE*>(header) + offset, sizeof(value));
    return value;
}

// One section of a record, checked against the record's bounds.
struct Section {
    DWORD offset = 0;
    DWORD size = 0;
    DWORD count = 0;
    bool valid = false;  // lies inside the record and its size matches its count
};

// A section is usable when its size is its count times its element width
// and, unless it is empty, it lies between the end of the header and the
// bound. Sections are not allowed to overlap the header: no producer puts
// them there, so one that does is damage.
Section ReadSection(const void* header, const SectionField& field, DWORD headerSize, DWORD bound) {
    Section s;
    s.offset = FieldAt(header, field.offsetField);
    s.size = FieldAt(header, field.sizeField);
    s.count = FieldAt(header, field.countField);
    const uint64_t expected = static_cast<uint64_t>(s.count) * field.width;
    if (expected != s.size) return s;
    if (s.size == 0) {
        s.valid = true;
        return s;
    }
    s.valid = s.offset >= headerSize && static_cast<uint64_t>(s.offset) + s.size <= bound;
    return s;
}

// ------------------------------------------------------------ packing

struct Packer {
    BYTE* record;
    DWORD next;  // where the next section starts

    // Copies one section and returns its offset.
    DWORD Put(const void* data, DWORD size) {
        const DWORD at = next;
        if (size && data) std::memcpy(record + at, data, size);
        next += size;
        return at;
    }
};

const BYTE* At(const void* block, DWORD offset) { return static_cast<const BYTE*>(block) + offset; }

// ------------------------------------------------------------ dumps

// A name from a fixed slot that may be filled without a terminator.
static_assert(kBinNameChars <= kPaperNameChars && kFileNameChars <= kPaperNameChars &&
              kMediaReadyChars <= kPaperNameChars && kMediaNameChars <= kPaperNameChars &&
              kPersonalityChars <= kPaperNameChars);
struct SlotName {
    WCHAR text[kPaperNameChars + 1];  // the widest slot
    SlotName() { text[0] = L'\0'; }
    void Take(const BYTE* slot, DWORD widthBytes) {
        const size_t chars = widthBytes / sizeof(WCHAR);
        std::memcpy(text, slot, chars * sizeof(WCHAR));
        text[chars] = L'\0';
    }
};

// Dump view of one record: its bytes up to the bound and its checked sections.
struct DumpView {
    TraceLog* log;
    const BYTE* base;
    const Section* sections;

    const BYTE* Element(int section, DWORD width, LONG i) const {
        return base + sections[section].offset + static_cast<size_t>(i) * width;
    }
    // True when the section can be listed; otherwise says why not.
    bool Listable(int section) const {
        const Section& s = sections[section];
        if (s.valid) return true;
        TraceLogWrite(log, 0, L"\t\t!WARNING! section not inside the record (offset %d, size %d, count %d), not listed\n",
                      s.offset, s.size, s.count);
        return false;
    }
    // Element i of a list that steers by another list's count: present only
    // when its own section is usable and long enough.
    bool Has(int section, LONG i) const {
        const Section& s = sections[section];
        return s.valid && i < static_cast<LONG>(s.count);
    }
    LONG Long(int section, DWORD width, LONG i, int field) const {
        LONG v;
        std::memcpy(&v, Element(section, width, i) + field * sizeof(LONG), sizeof(v));
        return v;
    }
    WORD Word(int section, LONG i) const {
        WORD v;
        std::memcpy(&v, Element(section, sizeof(WORD), i), sizeof(v));
        return v;
    }
    DWORD Dword(int section, LONG i) const {
        DWORD v;
        std::memcpy(&v, Element(section, sizeof(DWORD), i), sizeof(v));
        return v;
    }
};

void Banner(TraceLog* log) {
    TraceLogWrite(log, 0, L"===========================\n");
    TraceLogWrite(log, 0, L"Printer Capabilities\n");
    TraceLogWrite(log, 0, L"===========================\n");
}

// Names of elements that do not exist (fewer names than numbers) print as
// an empty name; missing paper sizes print as 0 x 0.
void ListBins(const DumpView& v, int binSec, int nameSec) {
    if (!v.Listable(binSec)) return;
    const LONG count = static_cast<LONG>(v.sections[binSec].count);
    for (LONG i = 0; i < count; ++i) {
        SlotName name;
        if (v.Has(nameSec, i)) name.Take(v.Element(nameSec, kBinNameBytes, i), kBinNameBytes);
        TraceLogWrite(v.log, 0, L"\t\tbin %d: [%2d] %s\n", i, v.Word(binSec, i), name.text);
    }
}

void ListResolutions(const DumpView& v, int sec) {
    if (!v.Listable(sec)) return;
    const LONG count = static_cast<LONG>(v.sections[sec].count);
    for (LONG i = 0; i < count; ++i)
        TraceLogWrite(v.log, 0, L"\t\tResolution %d: %d x %d\n", i, v.Long(sec, kResolutionBytes, i, 0),
                      v.Long(sec, kResolutionBytes, i, 1));
}

void ListNames(const DumpView& v, int sec, DWORD width, const WCHAR* format) {
    if (!v.Listable(sec)) return;
    const LONG count = static_cast<LONG>(v.sections[sec].count);
    for (LONG i = 0; i < count; ++i) {
        SlotName name;
        name.Take(v.Element(sec, width, i), width);
        TraceLogWrite(v.log, 0, format, i, name.text);
    }
}

void ListPapers(const DumpView& v, int paperSec, int nameSec, int sizeSec) {
    if (!v.Listable(paperSec)) return;
    const LONG count = static_cast<LONG>(v.sections[paperSec].count);
    for (LONG i = 0; i < count; ++i) {
        SlotName name;
        if (v.Has(nameSec, i)) name.Take(v.Element(nameSec, kPaperNameBytes, i), kPaperNameBytes);
        LONG width = 0, length = 0;
        if (v.Has(sizeSec, i)) {
            width = v.Long(sizeSec, kPaperSizeBytes, i, 0);
            length = v.Long(sizeSec, kPaperSizeBytes, i, 1);
        }
        TraceLogWrite(v.log, 0, L"\t\tpaper %3d: [%3d] [%4d x %4d] %s\n", i, v.Word(paperSec, i), width, length,
                      name.text);
    }
}

// The forms table; `fields` gives, for each printed column, the index of the
// value inside one entry of `width` bytes.
void ListForms(const DumpView& v, int sec, DWORD width, const int (&fields)[18]) {
    TraceLogWriteRaw(v.log, 0,
                     L"[paprI,paprW,paprL][ resX, resY, aspX, aspY,aspXY][ logX, logY][hsize,vsize, hres, vres,physW,"
                     L"physH, offX, offY] \n");
    if (!v.Listable(sec)) return;
    const LONG count = static_cast<LONG>(v.sections[sec].count);
    for (LONG i = 0; i < count; ++i) {
        LONG f[18];
        for (int k = 0; k < 18; ++k) f[k] = v.Long(sec, width, i, fields[k]);
        TraceLogWriteRaw(v.log, 0,
                         L"[%5d,%5d,%5d][%5d,%5d,%5d,%5d,%5d][%5d,%5d][%5d,%5d,%5d,%5d,%5d,%5d,%5d,%5d] \n", f[0], f[1],
                         f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11], f[12], f[13], f[14], f[15], f[16],
                         f[17]);
    }
}

#define KV_INDEX(type, member) static_cast<int>(offsetof(type, member) / sizeof(LONG))
// Printed columns: paprI, paprW, paprL, resX, resY, aspX, aspY, aspXY, logX,
// logY, hsize, vsize, hres, vres, physW, physH, offX, offY.
#define KV_FORM_COLUMNS(type)                                                                                         \
    {KV_INDEX(type, paprI), KV_INDEX(type, paprW), KV_INDEX(type, paprL), KV_INDEX(type, resX), KV_INDEX(type, resY), \
     KV_INDEX(type, aspX),  KV_INDEX(type, aspY),  KV_INDEX(type, aspXY), KV_INDEX(type, logX), KV_INDEX(type, logY), \
     KV_INDEX(type, hsize), KV_INDEX(type, vsize), KV_INDEX(type, hres),  KV_INDEX(type, vres), KV_INDEX(type, physW), \
     KV_INDEX(type, physH), KV_INDEX(type, offX),  KV_INDEX(type, offY)}
const int kForm4Columns[18] = KV_FORM_COLUMNS(FormEntry);
const int kForm2Columns[18] = KV_FORM_COLUMNS(FormEntry2);
#undef KV_FORM_COLUMNS
#undef KV_INDEX

// What follows a header field line.
enum class After { Nothing, Bins, Resolutions, ResolutionsIndexed, Files, MediaReady, Media, NUP, Papers, Personality,
                   Forms };

struct FieldLine {
    const WCHAR* format;
    size_t offset;
    After after;
};

#define KV_LINE(type, field, after) {L"" #field L": %d\n", offsetof(type, field), After::after}

const FieldLine kCaps4Lines[] = {
    KV_LINE(caps4, dwSize, Nothing),
    KV_LINE(caps4, dwOffsetToBinNames, Nothing),
    KV_LINE(caps4, dwSizeOfBinNames, Nothing),
    KV_LINE(caps4, dwNumBinNames, Nothing),
    KV_LINE(caps4, dwOffsetToBins, Nothing),
    KV_LINE(caps4, dwSizeOfBins, Nothing),
    KV_LINE(caps4, dwNumBins, Bins),
    KV_LINE(caps4, dwCollate, Nothing),
    KV_LINE(caps4, dwColor, Nothing),
    KV_LINE(caps4, dwCopies, Nothing),
    KV_LINE(caps4, dwDriver, Nothing),
    KV_LINE(caps4, dwDatatype, Nothing),
    KV_LINE(caps4, dwDuplex, Nothing),
    KV_LINE(caps4, dwEMF, Nothing),
    KV_LINE(caps4, dwIndexedResolutionsOnly, Nothing),
    KV_LINE(caps4, dwOffsetToResolutions, Nothing),
    KV_LINE(caps4, dwSizeOfResolutions, Nothing),
    KV_LINE(caps4, dwNumResolutions, Resolutions),
    KV_LINE(caps4, dwOffsetToResolutionsIndexed, Nothing),
    KV_LINE(caps4, dwSizeOfResolutionsIndexed, Nothing),
    KV_LINE(caps4, dwNumResolutionsIndexed, ResolutionsIndexed),
    KV_LINE(caps4, dwExtra, Nothing),
    KV_LINE(caps4, dwFields, Nothing),
    KV_LINE(caps4, dwOffsetToFiles, Nothing),
    KV_LINE(caps4, dwSizeOfFiles, Nothing),
    KV_LINE(caps4, dwNumFiles, Files),
    KV_LINE(caps4, dwManufacturer, Nothing),
    KV_LINE(caps4, dwMaxExtent, Nothing),
    KV_LINE(caps4, dwOffsetToMediaReady, Nothing),
    KV_LINE(caps4, dwSizeOfMediaReady, Nothing),
    KV_LINE(caps4, dwNumMediaReady, MediaReady),
    KV_LINE(caps4, dwOffsetToMediaTypeNames, Nothing),
    KV_LINE(caps4, dwSizeOfMediaTypeNames, Nothing),
    KV_LINE(caps4, dwNumMediaTypeNames, Nothing),
    KV_LINE(caps4, dwOffsetToMediaTypes, Nothing),
    KV_LINE(caps4, dwSizeOfMediaTypes, Nothing),
    KV_LINE(caps4, dwNumMediaTypes, Media),
    KV_LINE(caps4, dwMinExtent, Nothing),
    KV_LINE(caps4, dwModel, Nothing),
    KV_LINE(caps4, dwOrientation, Nothing),
    KV_LINE(caps4, dwOffsetToNUP, Nothing),
    KV_LINE(caps4, dwSizeOfNUP, Nothing),
    KV_LINE(caps4, dwNumNUP, NUP),
    KV_LINE(caps4, dwOffsetToPaperNames, Nothing),
    KV_LINE(caps4, dwSizeOfPaperNames, Nothing),
    KV_LINE(caps4, dwNumPaperNames, Nothing),
    KV_LINE(caps4, dwOffsetToPapers, Nothing),
    KV_LINE(caps4, dwSizeOfPapers, Nothing),
    KV_LINE(caps4, dwNumPapers, Nothing),
    KV_LINE(caps4, dwOffsetToPaperSize, Nothing),
    KV_LINE(caps4, dwSizeOfPaperSize, Nothing),
    KV_LINE(caps4, dwNumPaperSize, Papers),
    KV_LINE(caps4, dwOffsetToPersonality, Nothing),
    KV_LINE(caps4, dwSizeOfPersonality, Nothing),
    KV_LINE(caps4, dwNumPersonality, Personality),
    KV_LINE(caps4, dwPrinterMem, Nothing),
    KV_LINE(caps4, dwPrintRate, Nothing),
    KV_LINE(caps4, dwPrintRatePPM, Nothing),
    KV_LINE(caps4, dwPrintRateUnit, Nothing),
    KV_LINE(caps4, dwDevModeSize, Nothing),
    KV_LINE(caps4, dwStaple, Nothing),
    KV_LINE(caps4, dwTrueType, Nothing),
    KV_LINE(caps4, dwVersion, Nothing),
    KV_LINE(caps4, dwOffsetToForms, Nothing),
    KV_LINE(caps4, dwSizeOfForms, Nothing),
    KV_LINE(caps4, dwNumForms, Forms),
    KV_LINE(caps4, dwAnsiOnly, Nothing),
    KV_LINE(caps4, dwEnd, Nothing),
};

const FieldLine kCaps2Lines[] = {
    KV_LINE(caps2, dwSize, Nothing),
    KV_LINE(caps2, dwOffsetToBinNames, Nothing),
    KV_LINE(caps2, dwSizeOfBinNames, Nothing),
    KV_LINE(caps2, dwNumBinNames, Nothing),
    KV_LINE(caps2, dwOffsetToBins, Nothing),
    KV_LINE(caps2, dwSizeOfBins, Nothing),
    KV_LINE(caps2, dwNumBins, Bins),
    KV_LINE(caps2, dwCollate, Nothing),
    KV_LINE(caps2, dwColor, Nothing),
    KV_LINE(caps2, dwCopies, Nothing),
    KV_LINE(caps2, dwDriver, Nothing),
    KV_LINE(caps2, dwDuplex, Nothing),
    KV_LINE(caps2, dwIndexedResolutionsOnly, Nothing),
    KV_LINE(caps2, dwOffsetToResolutions, Nothing),
    KV_LINE(caps2, dwSizeOfResolutions, Nothing),
    KV_LINE(caps2, dwNumResolutions, Resolutions),
    KV_LINE(caps2, dwExtra, Nothing),
    KV_LINE(caps2, dwFields, Nothing),
    KV_LINE(caps2, dwMaxExtent, Nothing),
    KV_LINE(caps2, dwMinExtent, Nothing),
    KV_LINE(caps2, dwOrientation, Nothing),
    KV_LINE(caps2, dwOffsetToPaperNames, Nothing),
    KV_LINE(caps2, dwSizeOfPaperNames, Nothing),
    KV_LINE(caps2, dwNumPaperNames, Nothing),
    KV_LINE(caps2, dwOffsetToPapers, Nothing),
    KV_LINE(caps2, dwSizeOfPapers, Nothing),
    KV_LINE(caps2, dwNumPapers, Nothing),
    KV_LINE(caps2, dwOffsetToPaperSize, Nothing),
    KV_LINE(caps2, dwSizeOfPaperSize, Nothing),
    KV_LINE(caps2, dwNumPaperSize, Papers),
    KV_LINE(caps2, dwDevModeSize, Nothing),
    KV_LINE(caps2, dwTrueType, Nothing),
    KV_LINE(caps2, dwVersion, Nothing),
    KV_LINE(caps2, dwOffsetToForms, Nothing),
    KV_LINE(caps2, dwSizeOfForms, Nothing),
    KV_LINE(caps2, dwNumForms, Forms),
    KV_LINE(caps2, dwEnd, Nothing),
};

#undef KV_LINE

// The sections each element list of a dump uses.
struct ListSections {
    int bins, binNames, resolutions, resolutionsIndexed, files, mediaReady, mediaTypes, mediaTypeNames, nup, papers,
        paperNames, paperSize, personality, forms;
};

const ListSections kCaps4Lists = {kSecBins,       kSecBinNames,       kSecResolutions, kSecResolutionsIndexed,
                                  kSecFiles,      kSecMediaReady,     kSecMediaTypes,  kSecMediaTypeNames,
                                  kSecNUP,        kSecPapers,         kSecPaperNames,  kSecPaperSize,
                                  kSecPersonality, kSecForms};
const ListSections kCaps2Lists = {kSec2Bins, kSec2BinNames, kSec2Resolutions, -1, -1, -1, -1, -1, -1,
                                  kSec2Papers, kSec2PaperNames, kSec2PaperSize, -1, kSec2Forms};

template <size_t LineCount, size_t SectionCount>
void DumpRecord(TraceLog* log, const void* record, size_t available, DWORD headerSize,
                const FieldLine (&lines)[LineCount], const SectionField (&fields)[SectionCount],
                const ListSections& lists, DWORD formWidth, const int (&formColumns)[18]) {
    if (!log || !record) return;
    Banner(log);
    if (available < sizeof(DWORD)) {
        TraceLogWrite(log, 0, L"!WARNING! record of %d bytes has no header, not listed\n", static_cast<int>(available));
        return;
    }
    const DWORD dwSize = FieldAt(record, 0);
    const DWORD bound = available < dwSize ? static_cast<DWORD>(available) : dwSize;
    if (bound < headerSize) {
        TraceLogWrite(log, 0, L"dwSize: %d\n", dwSize);
        TraceLogWrite(log, 0, L"!WARNING! record shorter than its header (%d of %d bytes), not listed\n", bound,
                      headerSize);
        return;
    }
    BYTE header[kCaps4HeaderSize];  // the larger header
    std::memcpy(header, record, headerSize);
    Section sections[SectionCount];
    for (size_t i = 0; i < SectionCount; ++i) sections[i] = ReadSection(header, fields[i], headerSize, bound);
    const DumpView view{log, static_cast<const BYTE*>(record), sections};

    for (const FieldLine& line : lines) {
        TraceLogWrite(log, 0, line.format, FieldAt(header, line.offset));
        switch (line.after) {
        case After::Nothing: break;
        case After::Bins: ListBins(view, lists.bins, lists.binNames); break;
        case After::Resolutions: ListResolutions(view, lists.resolutions); break;
        case After::ResolutionsIndexed: ListResolutions(view, lists.resolutionsIndexed); break;
        case After::Files: ListNames(view, lists.files, kFileNameBytes, L"\t\tFile %d: %s\n"); break;
        case After::MediaReady: ListNames(view, lists.mediaReady, kMediaReadyBytes, L"\t\tMediaReady %d: %s\n"); break;
        case After::Media:
            if (view.Listable(lists.mediaTypes)) {
                const LONG count = static_cast<LONG>(sections[lists.mediaTypes].count);
                for (LONG i = 0; i < count; ++i) {
                    SlotName name;
                    if (view.Has(lists.mediaTypeNames, i))
                        name.Take(view.Element(lists.mediaTypeNames, kMediaNameBytes, i), kMediaNameBytes);
                    TraceLogWrite(log, 0, L"\t\tMedia %d: [%2d] %s\n", i, view.Dword(lists.mediaTypes, i), name.text);
                }
            }
            break;
        case After::NUP:
            if (view.Listable(lists.nup)) {
                const LONG count = static_cast<LONG>(sections[lists.nup].count);
                for (LONG i = 0; i < count; ++i) TraceLogWrite(log, 0, L"\t\tNUP %d: %d\n", i, view.Dword(lists.nup, i));
            }
            break;
        case After::Papers: ListPapers(view, lists.papers, lists.paperNames, lists.paperSize); break;
        case After::Personality:
            ListNames(view, lists.personality, kPersonalityBytes, L"\t\tpersonality %d: %s\n");
            break;
        case After::Forms: ListForms(view, lists.forms, formWidth, formColumns); break;
        }
    }
}

// ------------------------------------------------------------ unpacking

// A copy of a checked section in a new block; null for an empty or dropped one.
void* CopySection(const BYTE* record, const Section& s) {
    if (!s.valid || s.size == 0) return nullptr;
    void* block = platform::HeapAllocZero(s.size);
    if (block) std::memcpy(block, record + s.offset, s.size);
    return block;
}

// An array member set from a section: the block, its count and its size, or
// null with count and size 0 when the section is empty, dropped or cannot be
// allocated.
template <class T>
void TakeArray(const BYTE* record, const Section& s, T** pointer, DWORD* count, DWORD* size) {
    *pointer = static_cast<T*>(CopySection(record, s));
    *count = *pointer ? s.count : 0;
    *size = *pointer ? s.size : 0;
}

DWORD UsableSize(const Section& s) { return s.valid ? s.size : 0; }
DWORD UsableCount(const Section& s) { return s.valid ? s.count : 0; }

// Bins and media: the numbers directly behind the 28-byte header, the names
// behind them.
template <class Buffer>
Buffer* TakePairedList(const BYTE* record, const Section& numbers, const Section& names) {
    const DWORD numberBytes = UsableSize(numbers);
    const DWORD nameBytes = UsableSize(names);
    if (numberBytes + nameBytes == 0) return nullptr;
    const DWORD total = static_cast<DWORD>(sizeof(Buffer)) + numberBytes + nameBytes;
    Buffer* buffer = platform::HeapAllocZeroAs<Buffer>(total);
    if (!buffer) return nullptr;
    buffer->dwSize = total;
    BYTE* bytes = reinterpret_cast<BYTE*>(buffer);
    if (numberBytes) std::memcpy(bytes + sizeof(Buffer), record + numbers.offset, numberBytes);
    if (nameBytes) std::memcpy(bytes + sizeof(Buffer) + numberBytes, record + names.offset, nameBytes);
    return buffer;
}

BinBuffer* TakeBins(const BYTE* record, const Section* s) {
    BinBuffer* bins = TakePairedList<BinBuffer>(record, s[kSecBins], s[kSecBinNames]);
    if (!bins) return nullptr;
    bins->dwNumBins = UsableCount(s[kSecBins]);
    bins->dwSizeOfBins = UsableSize(s[kSecBins]);
    bins->dwOffsetToBins = sizeof(BinBuffer);
    bins->dwNumBinNames = UsableCount(s[kSecBinNames]);
    bins->dwSizeOfBinNames = UsableSize(s[kSecBinNames]);
    bins->dwOffsetToBinNames = sizeof(BinBuffer) + bins->dwSizeOfBins;
    return bins;
}

MediaBuffer* TakeMedia(const BYTE* record, const Section* s) {
    MediaBuffer* media = TakePairedList<MediaBuffer>(record, s[kSecMediaTypes], s[kSecMediaTypeNames]);
    if (!media) return nullptr;
    media->dwNumMediaTypes = UsableCount(s[kSecMediaTypes]);
    media->dwSizeOfMediaTypes = UsableSize(s[kSecMediaTypes]);
    media->dwOffsetToMediaTypes = sizeof(MediaBuffer);
    media->dwNumMediaTypeNames = UsableCount(s[kSecMediaTypeNames]);
    media->dwSizeOfMediaTypeNames = UsableSize(s[kSecMediaTypeNames]);
    media->dwOffsetToMediaTypeNames = sizeof(MediaBuffer) + media->dwSizeOfMediaTypes;
    return media;
}

// Papers directly behind the 40-byte header, then the names, then the sizes.
PaperBuffer* TakePapers(const BYTE* record, const Section* s) {
    const Section& papers = s[kSecPapers];
    const Section& names = s[kSecPaperNames];
    const Section& sizes = s[kSecPaperSize];
    const DWORD paperBytes = UsableSize(papers), nameBytes = UsableSize(names), sizeBytes = UsableSize(sizes);
    if (paperBytes + nameBytes + sizeBytes == 0) return nullptr;
    const DWORD total = static_cast<DWORD>(sizeof(PaperBuffer)) + paperBytes + nameBytes + sizeBytes;
    PaperBuffer* buffer = platform::HeapAllocZeroAs<PaperBuffer>(total);
    if (!buffer) return nullptr;
    BYTE* bytes = reinterpret_cast<BYTE*>(buffer);
    buffer->dwSize = total;
    buffer->dwNumPapers = UsableCount(papers);
    buffer->dwSizeOfPapers = paperBytes;
    buffer->dwOffsetToPapers = sizeof(PaperBuffer);
    buffer->dwNumPaperNames = UsableCount(names);
    buffer->dwSizeOfPaperNames = nameBytes;
    buffer->dwOffsetToPaperNames = buffer->dwOffsetToPapers + paperBytes;
    buffer->dwNumPaperSize = UsableCount(sizes);
    buffer->dwSizeOfPaperSize = sizeBytes;
    buffer->dwOffsetToPaperSize = buffer->dwOffsetToPaperNames + nameBytes;
    if (paperBytes) std::memcpy(bytes + buffer->dwOffsetToPapers, record + papers.offset, paperBytes);
    if (nameBytes) std::memcpy(bytes + buffer->dwOffsetToPaperNames, record + names.offset, nameBytes);
    if (sizeBytes) std::memcpy(bytes + buffer->dwOffsetToPaperSize, record + sizes.offset, sizeBytes);
    return buffer;
}

}  // namespace

// ------------------------------------------------------------ query buffers

void vlibPRINT_FreeQueryBuffers(QueryBuffers* b) {
    if (!b) return;
    platform::HeapFreeBlock(b->pBins);
    platform::HeapFreeBlock(b->pResolutions);
    platform::HeapFreeBlock(b->pResolutionsIndexed);
    platform::HeapFreeBlock(b->pFiles);
    platform::HeapFreeBlock(b->pMediaReady);
    platform::HeapFreeBlock(b->pMedias);
    platform::HeapFreeBlock(b->pNUP);
    platform::HeapFreeBlock(b->pPapers);
    platform::HeapFreeBlock(b->pPersonality);
    platform::HeapFreeBlock(b->pForms);
    platform::HeapFreeBlock(b->pLowLevel);
    *b = QueryBuffers{};
}

// ------------------------------------------------------------ packing

caps4* vlibPRINT_PackCaps4(const QueryBuffers* b) {
    TraceLog* log = LibraryLog;
    TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => storing caps to serial structure\n");
    if (!b || !b->bFilled) {
        TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => query buffers haven't been filled! returning\n");
        return nullptr;
    }

    // The list blocks are our own (the queries' or the unpacking's): their
    // headers are trusted.
    uint64_t total = kCaps4HeaderSize;
    if (!b->pBins) {
        TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => missing bin information for the caps!\n");
    } else {
        total += static_cast<uint64_t>(b->pBins->dwSizeOfBinNames) + b->pBins->dwSizeOfBins;
    }
    if (!b->pMedias) {
        TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => missing media information for the caps!\n");
    } else {
        total += static_cast<uint64_t>(b->pMedias->dwSizeOfMediaTypeNames) + b->pMedias->dwSizeOfMediaTypes;
    }
    if (!b->pPapers) {
        TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => missing paper information for the caps!\n");
    } else {
        total += static_cast<uint64_t>(b->pPapers->dwSizeOfPaperNames) + b->pPapers->dwSizeOfPapers +
                 b->pPapers->dwSizeOfPaperSize;
    }
    // An array whose pointer is missing contributes nothing, whatever its size says.
    auto arrayBytes = [](const void* p, DWORD size) -> uint64_t { return p ? size : 0; };
    total += arrayBytes(b->pResolutions, b->dwSizeOfResolutions) +
             arrayBytes(b->pResolutionsIndexed, b->dwSizeOfResolutionsIndexed) + arrayBytes(b->pFiles, b->dwSizeOfFiles) +
             arrayBytes(b->pMediaReady, b->dwSizeOfMediaReady) + arrayBytes(b->pNUP, b->dwSizeOfNUP) +
             arrayBytes(b->pPersonality, b->dwSizeOfPersonality) + arrayBytes(b->pForms, b->dwSizeOfForms);
    TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => devcaps4 size: %d\n", static_cast<DWORD>(total));
    if (total > 0x7FFFFFFF) return nullptr;

    caps4* record = platform::HeapAllocZeroAs<caps4>(static_cast<size_t>(total));
    if (!record) return nullptr;
    BYTE* bytes = reinterpret_cast<BYTE*>(record);
    Packer pack{bytes, kCaps4HeaderSize};
    caps4 h{};
    h.dwSize = static_cast<DWORD>(total);

    // Bins.
    if (const BinBuffer* bins = b->pBins) {
        TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => copying bin information\n");
        h.dwSizeOfBinNames = bins->dwSizeOfBinNames;
        h.dwNumBinNames = bins->dwNumBinNames;
        h.dwOffsetToBinNames = pack.Put(At(bins, bins->dwOffsetToBinNames), bins->dwSizeOfBinNames);
        h.dwSizeOfBins = bins->dwSizeOfBins;
        h.dwNumBins = bins->dwNumBins;
        h.dwOffsetToBins = pack.Put(At(bins, bins->dwOffsetToBins), bins->dwSizeOfBins);
    } else {
        h.dwOffsetToBinNames = h.dwOffsetToBins = pack.next;
    }

    h.dwCollate = b->dwCollate;
    h.dwColor = b->dwColor;
    h.dwCopies = b->dwCopies;
    h.dwDriver = b->dwDriver;
    h.dwDatatype = b->dwDatatype;
    h.dwDuplex = b->dwDuplex;
    h.dwEMF = b->dwEMF;
    h.dwIndexedResolutionsOnly = b->dwIndexedResolutionsOnly;

    auto putArray = [&pack](const void* p, DWORD num, DWORD size, DWORD* offset, DWORD* recNum, DWORD* recSize) {
        *recSize = p ? size : 0;
        *recNum = p ? num : 0;
        *offset = pack.Put(p, *recSize);
    };
    putArray(b->pResolutions, b->dwNumResolutions, b->dwSizeOfResolutions, &h.dwOffsetToResolutions, &h.dwNumResolutions,
             &h.dwSizeOfResolutions);
    putArray(b->pResolutionsIndexed, b->dwNumResolutionsIndexed, b->dwSizeOfResolutionsIndexed,
             &h.dwOffsetToResolutionsIndexed, &h.dwNumResolutionsIndexed, &h.dwSizeOfResolutionsIndexed);
    h.dwExtra = b->dwExtra;
    h.dwFields = b->dwFields;
    putArray(b->pFiles, b->dwNumFiles, b->dwSizeOfFiles, &h.dwOffsetToFiles, &h.dwNumFiles, &h.dwSizeOfFiles);
    h.dwManufacturer = b->dwManufacturer;
    h.dwMaxExtent = b->dwMaxExtent;
    putArray(b->pMediaReady, b->dwNumMediaReady, b->dwSizeOfMediaReady, &h.dwOffsetToMediaReady, &h.dwNumMediaReady,
             &h.dwSizeOfMediaReady);

    // Media: names first, then the type numbers.
    if (const MediaBuffer* media = b->pMedias) {
        TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => copying media information\n");
        h.dwSizeOfMediaTypeNames = media->dwSizeOfMediaTypeNames;
        h.dwNumMediaTypeNames = media->dwNumMediaTypeNames;
        h.dwOffsetToMediaTypeNames = pack.Put(At(media, media->dwOffsetToMediaTypeNames), media->dwSizeOfMediaTypeNames);
        h.dwSizeOfMediaTypes = media->dwSizeOfMediaTypes;
        h.dwNumMediaTypes = media->dwNumMediaTypes;
        h.dwOffsetToMediaTypes = pack.Put(At(media, media->dwOffsetToMediaTypes), media->dwSizeOfMediaTypes);
    } else {
        h.dwOffsetToMediaTypeNames = h.dwOffsetToMediaTypes = pack.next;
    }

    h.dwMinExtent = b->dwMinExtent;
    h.dwModel = b->dwModel;
    h.dwOrientation = b->dwOrientation;
    putArray(b->pNUP, b->dwNumNUP, b->dwSizeOfNUP, &h.dwOffsetToNUP, &h.dwNumNUP, &h.dwSizeOfNUP);

    // Papers: names, numbers, sizes.
    if (const PaperBuffer* papers = b->pPapers) {
        TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => copying paper information\n");
        h.dwSizeOfPaperNames = papers->dwSizeOfPaperNames;
        h.dwNumPaperNames = papers->dwNumPaperNames;
        h.dwOffsetToPaperNames = pack.Put(At(papers, papers->dwOffsetToPaperNames), papers->dwSizeOfPaperNames);
        h.dwSizeOfPapers = papers->dwSizeOfPapers;
        h.dwNumPapers = papers->dwNumPapers;
        h.dwOffsetToPapers = pack.Put(At(papers, papers->dwOffsetToPapers), papers->dwSizeOfPapers);
        h.dwSizeOfPaperSize = papers->dwSizeOfPaperSize;
        h.dwNumPaperSize = papers->dwNumPaperSize;
        h.dwOffsetToPaperSize = pack.Put(At(papers, papers->dwOffsetToPaperSize), papers->dwSizeOfPaperSize);
    } else {
        h.dwOffsetToPaperNames = h.dwOffsetToPapers = h.dwOffsetToPaperSize = pack.next;
    }

    putArray(b->pPersonality, b->dwNumPersonality, b->dwSizeOfPersonality, &h.dwOffsetToPersonality,
             &h.dwNumPersonality, &h.dwSizeOfPersonality);
    h.dwPrinterMem = b->dwPrinterMem;
    h.dwPrintRate = b->dwPrintRate;
    h.dwPrintRatePPM = b->dwPrintRatePPM;
    h.dwPrintRateUnit = b->dwPrintRateUnit;
    h.dwDevModeSize = b->dwDevModeSize;
    h.dwStaple = b->dwStaple;
    h.dwTrueType = b->dwTrueType;
    h.dwVersion = b->dwVersion;

    h.dwOffsetToForms = pack.next;
    h.dwSizeOfForms = b->pForms ? b->dwSizeOfForms : 0;
    h.dwNumForms = b->pForms ? b->dwNumForms : 0;
    TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => copying form information (%d, %d, %d)\n", h.dwOffsetToForms,
                  h.dwSizeOfForms, h.dwNumForms);
    pack.Put(b->pForms, h.dwSizeOfForms);

    if (b->pLowLevel) std::memcpy(&h.lowLevel, b->pLowLevel, sizeof(LowLevelCaps));
    h.dwAnsiOnly = b->dwAnsiOnly;
    h.dwEnd = 0;
    std::memcpy(bytes, &h, sizeof(h));
    TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => finished\n");
    return record;
}

// ------------------------------------------------------------ unpacking

bool vlibPRINT_Caps4Loadable(const caps4* record, size_t available) {
    TraceLog* log = LibraryLog;
    TraceLogWrite(log, 0, L"CPrinter::DeserializeCaps4 => loading caps from serial structure\n");
    if (!record || available == 0) {
        TraceLogWrite(log, 0, L"CPrinter::DeserializeCaps4 => no caps to load from!\n");
        return false;
    }
    if (available < sizeof(DWORD)) {
        TraceLogWrite(log, 0, L"CPrinter::DeserializeCaps4 => caps record of %d bytes is damaged, not loading\n",
                      static_cast<int>(available));
        return false;
    }
    const DWORD dwSize = FieldAt(record, 0);
    if (dwSize == 0) {
        TraceLogWrite(log, 0, L"CPrinter::DeserializeCaps4 => no caps to load from!\n");
        return false;
    }
    LogCaps4(log, record, available);
    if (dwSize < kCaps4HeaderSize || dwSize > available) {
        TraceLogWrite(log, 0,
                      L"CPrinter::DeserializeCaps4 => caps record is damaged (dwSize %d, %d bytes held), not loading\n",
                      dwSize, static_cast<int>(available > 0x7FFFFFFF ? 0x7FFFFFFF : available));
        return false;
    }
    return true;
}

void vlibPRINT_LoadCaps4(QueryBuffers* b, const caps4* record) {
    TraceLog* log = LibraryLog;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(record);
    caps4 h;
    std::memcpy(&h, record, sizeof(h));

    Section s[kCaps4SectionCount];
    for (int i = 0; i < kCaps4SectionCount; ++i) {
        s[i] = ReadSection(&h, kCaps4Sections[i], kCaps4HeaderSize, h.dwSize);
        if (!s[i].valid)
            TraceLogWrite(log, 0,
                          L"CPrinter::DeserializeCaps4 => dropping damaged %s section (offset %d, size %d, count %d)\n",
                          kCaps4Sections[i].name, s[i].offset, s[i].size, s[i].count);
    }

    b->pBins = TakeBins(bytes, s);
    b->dwCollate = h.dwCollate;
    b->dwColor = h.dwColor;
    b->dwCopies = h.dwCopies;
    b->dwDriver = h.dwDriver;
    b->dwDatatype = h.dwDatatype;
    b->dwDuplex = h.dwDuplex;
    b->dwEMF = h.dwEMF;
    b->dwIndexedResolutionsOnly = h.dwIndexedResolutionsOnly;
    TakeArray(bytes, s[kSecResolutions], &b->pResolutions, &b->dwNumResolutions, &b->dwSizeOfResolutions);
    TakeArray(bytes, s[kSecResolutionsIndexed], &b->pResolutionsIndexed, &b->dwNumResolutionsIndexed,
              &b->dwSizeOfResolutionsIndexed);
    b->dwExtra = h.dwExtra;
    b->dwFields = h.dwFields;
    TakeArray(bytes, s[kSecFiles], &b->pFiles, &b->dwNumFiles, &b->dwSizeOfFiles);
    b->dwManufacturer = h.dwManufacturer;
    b->dwMaxExtent = h.dwMaxExtent;
    TakeArray(bytes, s[kSecMediaReady], &b->pMediaReady, &b->dwNumMediaReady, &b->dwSizeOfMediaReady);
    b->pMedias = TakeMedia(bytes, s);
    b->dwMinExtent = h.dwMinExtent;
    b->dwModel = h.dwModel;
    b->dwOrientation = h.dwOrientation;
    TakeArray(bytes, s[kSecNUP], &b->pNUP, &b->dwNumNUP, &b->dwSizeOfNUP);
    b->pPapers = TakePapers(bytes, s);
    TakeArray(bytes, s[kSecPersonality], &b->pPersonality, &b->dwNumPersonality, &b->dwSizeOfPersonality);
    b->dwPrinterMem = h.dwPrinterMem;
    b->dwPrintRate = h.dwPrintRate;
    b->dwPrintRatePPM = h.dwPrintRatePPM;
    b->dwPrintRateUnit = h.dwPrintRateUnit;
    b->dwDevModeSize = h.dwDevModeSize;
    b->dwStaple = h.dwStaple;
    b->dwTrueType = h.dwTrueType;
    b->dwVersion = h.dwVersion;
    TakeArray(bytes, s[kSecForms], &b->pForms, &b->dwNumForms, &b->dwSizeOfForms);

    b->pLowLevel = platform::HeapAllocZeroAs<LowLevelCaps>(sizeof(LowLevelCaps));
    if (b->pLowLevel) std::memcpy(b->pLowLevel, &h.lowLevel, sizeof(LowLevelCaps));
    b->dwAnsiOnly = h.dwAnsiOnly;
    // A filled set always carries its low-level block; without memory for it
    // the set stays unfilled.
    b->bFilled = b->pLowLevel ? 1 : 0;
}

bool vlibPRINT_UnpackCaps4(QueryBuffers* buffers, const caps4* record, size_t available) {
    if (!vlibPRINT_Caps4Loadable(record, available)) return false;
    if (buffers->bFilled)
        TraceLogWrite(LibraryLog, 0, L"CPrinter::DeserializeCaps4 => query buffers already filled! clearing\n");
    vlibPRINT_FreeQueryBuffers(buffers);
    vlibPRINT_LoadCaps4(buffers, record);
    return buffers->bFilled != 0;
}

// ------------------------------------------------------------ dumps

void LogCaps4(TraceLog* log, const caps4* record, size_t available) {
    DumpRecord(log, record, available, kCaps4HeaderSize, kCaps4Lines, kCaps4Sections, kCaps4Lists, kFormBytes,
               kForm4Columns);
}

void LogCaps4(TraceLog* log, const caps4* record) {
    if (!log || !record) return;
    LogCaps4(log, record, FieldAt(record, 0));
}

void LogCaps2(TraceLog* log, const caps2* record, size_t available) {
    DumpRecord(log, record, available, kCaps2HeaderSize, kCaps2Lines, kCaps2Sections, kCaps2Lists, kForm2Bytes,
               kForm2Columns);
}

void LogCaps2(TraceLog* log, const caps2* record) {
    if (!log || !record) return;
    LogCaps2(log, record, FieldAt(record, 0));
}
