#include "records/caps4.h"

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "platform/kernel.h"
#include "records/caps4_layout.h"

namespace {

// ------------------------------------------------------------ the set's side

// A section as the set holds it; an absent array or list block is empty.
struct Span {
    const BYTE* data = nullptr;
    DWORD size = 0;
    DWORD count = 0;
};

// A counted array of its own in the set (pointer, count and size members).
template <auto Data, auto Count, auto Size>
Span ArraySpan(const QueryBuffers& b) {
    const BYTE* data = reinterpret_cast<const BYTE*>(b.*Data);
    return data ? Span{data, b.*Size, b.*Count} : Span{};
}

template <auto Data, auto Count, auto Size>
void ArrayTake(QueryBuffers& b, BYTE* block, DWORD size, DWORD count) {
    using Element = std::remove_pointer_t<std::remove_reference_t<decltype(b.*Data)>>;
    b.*Data = reinterpret_cast<Element*>(block);
    b.*Size = size;
    b.*Count = count;
}

// One list of a list block (the block's header fields of that list).
template <auto Block, auto Offset, auto Size, auto Count>
Span ListSpan(const QueryBuffers& b) {
    const auto* header = b.*Block;
    if (!header) return {};
    return {reinterpret_cast<const BYTE*>(header) + header->*Offset, header->*Size, header->*Count};
}

template <auto Block, auto Offset, auto Size, auto Count>
void ListPlace(BYTE* block, DWORD offset, DWORD size, DWORD count) {
    using Header = std::remove_pointer_t<std::remove_reference_t<decltype(std::declval<QueryBuffers&>().*Block)>>;
    Header* header = reinterpret_cast<Header*>(block);
    header->*Offset = offset;
    header->*Size = size;
    header->*Count = count;
}

// How the set holds one section: as an array of its own (`take`) or as one
// list of a list block (`place`).
struct SectionHolder {
    Span (*span)(const QueryBuffers&);
    void (*take)(QueryBuffers&, BYTE* block, DWORD size, DWORD count);
    void (*place)(BYTE* block, DWORD offset, DWORD size, DWORD count);
};

#define KV_ARRAY(stem)                                                                                     \
    SectionHolder {                                                                                        \
        &ArraySpan<&QueryBuffers::p##stem, &QueryBuffers::dwNum##stem, &QueryBuffers::dwSizeOf##stem>,     \
            &ArrayTake<&QueryBuffers::p##stem, &QueryBuffers::dwNum##stem, &QueryBuffers::dwSizeOf##stem>, \
            nullptr                                                                                        \
    }
#define KV_LIST(member, Block, stem)                                                                               \
    SectionHolder {                                                                                                \
        &ListSpan<&QueryBuffers::member, &Block::dwOffsetTo##stem, &Block::dwSizeOf##stem, &Block::dwNum##stem>,   \
            nullptr,                                                                                               \
            &ListPlace<&QueryBuffers::member, &Block::dwOffsetTo##stem, &Block::dwSizeOf##stem, &Block::dwNum##stem> \
    }

// In record order, beside kCaps4Layout.
const SectionHolder kCaps4Holders[kCaps4SectionCount] = {
    KV_LIST(pBins, BinBuffer, BinNames),
    KV_LIST(pBins, BinBuffer, Bins),
    KV_ARRAY(Resolutions),
    KV_ARRAY(ResolutionsIndexed),
    KV_ARRAY(Files),
    KV_ARRAY(MediaReady),
    KV_LIST(pMedias, MediaBuffer, MediaTypeNames),
    KV_LIST(pMedias, MediaBuffer, MediaTypes),
    KV_ARRAY(NUP),
    KV_LIST(pPapers, PaperBuffer, PaperNames),
    KV_LIST(pPapers, PaperBuffer, Papers),
    KV_LIST(pPapers, PaperBuffer, PaperSize),
    KV_ARRAY(Personality),
    KV_ARRAY(Forms),
};

#undef KV_LIST
#undef KV_ARRAY

template <auto Member>
bool BlockPresent(const QueryBuffers& b) {
    return b.*Member != nullptr;
}

template <auto Member>
void BlockTake(QueryBuffers& b, BYTE* block) {
    b.*Member = reinterpret_cast<std::remove_reference_t<decltype(b.*Member)>>(block);
}

// The three list blocks. The record holds a block's lists names first; the
// unpacked block holds them numbers first (`order`, -1 where there is no
// third list), right behind its header.
struct ListBlock {
    const WCHAR* name;  // in the "missing ..." and "copying ..." lines
    bool (*present)(const QueryBuffers&);
    void (*take)(QueryBuffers&, BYTE* block);
    DWORD headerBytes;
    int first;  // its first section in record order
    int order[3];
};

const ListBlock kListBlocks[] = {
    {L"bin", &BlockPresent<&QueryBuffers::pBins>, &BlockTake<&QueryBuffers::pBins>, sizeof(BinBuffer), kSecBinNames,
     {kSecBins, kSecBinNames, -1}},
    {L"media", &BlockPresent<&QueryBuffers::pMedias>, &BlockTake<&QueryBuffers::pMedias>, sizeof(MediaBuffer),
     kSecMediaTypeNames, {kSecMediaTypes, kSecMediaTypeNames, -1}},
    {L"paper", &BlockPresent<&QueryBuffers::pPapers>, &BlockTake<&QueryBuffers::pPapers>, sizeof(PaperBuffer),
     kSecPaperNames, {kSecPapers, kSecPaperNames, kSecPaperSize}},
};

// The scalar values, copied as they are between the set and the record.
struct ScalarField {
    DWORD caps4::*record;
    DWORD QueryBuffers::*set;
};

#define KV_SCALAR(field) ScalarField{&caps4::field, &QueryBuffers::field}
const ScalarField kCaps4Scalars[] = {
    KV_SCALAR(dwCollate),      KV_SCALAR(dwColor),        KV_SCALAR(dwCopies),         KV_SCALAR(dwDriver),
    KV_SCALAR(dwDatatype),     KV_SCALAR(dwDuplex),       KV_SCALAR(dwEMF),            KV_SCALAR(dwIndexedResolutionsOnly),
    KV_SCALAR(dwExtra),        KV_SCALAR(dwFields),       KV_SCALAR(dwManufacturer),   KV_SCALAR(dwMaxExtent),
    KV_SCALAR(dwMinExtent),    KV_SCALAR(dwModel),        KV_SCALAR(dwOrientation),    KV_SCALAR(dwPrinterMem),
    KV_SCALAR(dwPrintRate),    KV_SCALAR(dwPrintRatePPM), KV_SCALAR(dwPrintRateUnit),  KV_SCALAR(dwDevModeSize),
    KV_SCALAR(dwStaple),       KV_SCALAR(dwTrueType),     KV_SCALAR(dwVersion),        KV_SCALAR(dwAnsiOnly),
};
#undef KV_SCALAR

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
    bool readable = false;
};

template <class Record>
Section ReadSection(const Record& header, const SectionLayout<Record>& layout, DWORD headerSize, DWORD bound) {
    Section s;
    s.offset = header.*layout.offset;
    s.size = header.*layout.size;
    s.count = header.*layout.count;
    s.readable = SectionReadable(s.offset, s.size, s.count, layout.width, headerSize, bound);
    return s;
}

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
        if (s.readable) return true;
        TraceLogWrite(log, 0, L"\t\t!WARNING! section not inside the record (offset %d, size %d, count %d), not listed\n",
                      s.offset, s.size, s.count);
        return false;
    }
    // Element i of a list that steers by another list's count: present only
    // when its own section is usable and long enough.
    bool Has(int section, LONG i) const {
        const Section& s = sections[section];
        return s.readable && i < static_cast<LONG>(s.count);
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
void ListForms(const DumpView& v, int sec, DWORD width, const FormColumn (&fields)[18]) {
    TraceLogWriteRaw(v.log, 0,
                     L"[paprI,paprW,paprL][ resX, resY, aspX, aspY,aspXY][ logX, logY][hsize,vsize, hres, vres,physW,"
                     L"physH, offX, offY] \n");
    if (!v.Listable(sec)) return;
    const LONG count = static_cast<LONG>(v.sections[sec].count);
    for (LONG i = 0; i < count; ++i) {
        LONG f[18];
        for (int k = 0; k < 18; ++k) f[k] = v.Long(sec, width, i, fields[k].index);
        TraceLogWriteRaw(v.log, 0,
                         L"[%5d,%5d,%5d][%5d,%5d,%5d,%5d,%5d][%5d,%5d][%5d,%5d,%5d,%5d,%5d,%5d,%5d,%5d] \n", f[0], f[1],
                         f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11], f[12], f[13], f[14], f[15], f[16],
                         f[17]);
    }
}

template <class Record, size_t LineCount, size_t SectionCount>
void DumpRecord(TraceLog* log, const void* record, size_t available, const HeaderLine<Record> (&lines)[LineCount],
                const SectionLayout<Record> (&layout)[SectionCount], DWORD formWidth, const FormColumn (&formColumns)[18]) {
    constexpr DWORD headerSize = sizeof(Record);
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
    Record header;
    std::memcpy(&header, record, headerSize);
    Section sections[SectionCount];
    for (size_t i = 0; i < SectionCount; ++i) sections[i] = ReadSection(header, layout[i], headerSize, bound);
    const DumpView view{log, static_cast<const BYTE*>(record), sections};

    // Where each kind of section is in this record's layout (-1: not in it).
    int at[kCaps4SectionCount];
    for (int& place : at) place = -1;
    for (size_t i = 0; i < SectionCount; ++i) at[layout[i].kind] = static_cast<int>(i);
    for (const HeaderLine<Record>& line : lines) {
        if (line.name) {
            TraceLogWrite(log, 0, L"%s: %d\n", line.name, header.*line.field);
            continue;
        }
        const SectionLayout<Record>& s = layout[line.section];
        TraceLogWrite(log, 0, L"dwOffsetTo%s: %d\n", s.stem, header.*s.offset);
        TraceLogWrite(log, 0, L"dwSizeOf%s: %d\n", s.stem, header.*s.size);
        TraceLogWrite(log, 0, L"dwNum%s: %d\n", s.stem, header.*s.count);
        // A list is written after the count line of the section that steers it.
        const int own = line.section;
        switch (s.kind) {
        case kSecBins: ListBins(view, own, at[kSecBinNames]); break;
        case kSecResolutions:
        case kSecResolutionsIndexed: ListResolutions(view, own); break;
        case kSecFiles: ListNames(view, own, kFileNameBytes, L"\t\tFile %d: %s\n"); break;
        case kSecMediaReady: ListNames(view, own, kMediaReadyBytes, L"\t\tMediaReady %d: %s\n"); break;
        case kSecMediaTypes:
            if (view.Listable(own)) {
                const LONG count = static_cast<LONG>(sections[own].count);
                for (LONG i = 0; i < count; ++i) {
                    SlotName name;
                    if (view.Has(at[kSecMediaTypeNames], i))
                        name.Take(view.Element(at[kSecMediaTypeNames], kMediaNameBytes, i), kMediaNameBytes);
                    TraceLogWrite(log, 0, L"\t\tMedia %d: [%2d] %s\n", i, view.Dword(own, i), name.text);
                }
            }
            break;
        case kSecNUP:
            if (view.Listable(own)) {
                const LONG count = static_cast<LONG>(sections[own].count);
                for (LONG i = 0; i < count; ++i) TraceLogWrite(log, 0, L"\t\tNUP %d: %d\n", i, view.Dword(own, i));
            }
            break;
        case kSecPaperSize: ListPapers(view, at[kSecPapers], at[kSecPaperNames], own); break;
        case kSecPersonality: ListNames(view, own, kPersonalityBytes, L"\t\tpersonality %d: %s\n"); break;
        case kSecForms: ListForms(view, own, formWidth, formColumns); break;
        default: break;  // names and paper numbers are listed with the list they name
        }
    }
}

// ------------------------------------------------------------ unpacking

// An array member set from a checked section: a copy of its bytes with the
// record's count and size, or null with count and size 0 when the section is
// empty, unreadable or cannot be allocated. False only when memory ran out.
bool TakeArray(QueryBuffers& b, const BYTE* record, const SectionHolder& holder, const Section& s) {
    const bool wanted = s.readable && s.size;
    BYTE* block = wanted ? platform::HeapAllocZeroAs<BYTE>(s.size) : nullptr;
    if (block) std::memcpy(block, record + s.offset, s.size);
    holder.take(b, block, block ? s.size : 0, block ? s.count : 0);
    return block || !wanted;
}

// Where a list of an unpacked block starts: at an even offset. A record's
// list may hold an odd number of bytes, and the names behind it are read in
// place as 16-bit characters (the numbers are read by copy).
uint64_t ListStart(uint64_t at) { return (at + 1) & ~uint64_t{1}; }

// A list block built from its checked sections, its lists behind the header
// in the block's order with the record's counts and sizes; null when all of
// them are empty or unreadable. An unreadable list is left empty.
// False only when memory ran out.
bool TakeList(QueryBuffers& b, const BYTE* record, const ListBlock& list, const Section* s) {
    uint64_t total = list.headerBytes;
    for (int k : list.order)
        if (k >= 0 && s[k].readable && s[k].size) total = ListStart(total) + s[k].size;
    BYTE* block = nullptr;
    if (total > list.headerBytes && total <= 0x7FFFFFFF)
        block = platform::HeapAllocZeroAs<BYTE>(static_cast<size_t>(total));
    list.take(b, block);
    if (!block) return total == list.headerBytes;
    const DWORD dwSize = static_cast<DWORD>(total);
    std::memcpy(block, &dwSize, sizeof(dwSize));
    DWORD at = list.headerBytes;
    for (int k : list.order) {
        if (k < 0) continue;
        const Section& section = s[k];
        const DWORD size = section.readable ? section.size : 0;
        if (size) at = static_cast<DWORD>(ListStart(at));
        kCaps4Holders[k].place(block, at, size, section.readable ? section.count : 0);
        if (size) std::memcpy(block + at, record + section.offset, size);
        at += size;
    }
    return true;
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
    // headers are trusted. An array whose pointer is missing contributes
    // nothing, whatever its size says.
    for (const ListBlock& list : kListBlocks)
        if (!list.present(*b))
            TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => missing %s information for the caps!\n", list.name);
    uint64_t total = kCaps4HeaderSize;
    for (const SectionHolder& holder : kCaps4Holders) total += holder.span(*b).size;
    TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => devcaps4 size: %d\n", static_cast<DWORD>(total));
    if (total > 0x7FFFFFFF) return nullptr;

    caps4* record = platform::HeapAllocZeroAs<caps4>(static_cast<size_t>(total));
    if (!record) return nullptr;
    BYTE* bytes = reinterpret_cast<BYTE*>(record);
    record->dwSize = static_cast<DWORD>(total);

    // Every section starts where the previous one ends; an absent one is
    // empty and takes the next offset.
    DWORD next = kCaps4HeaderSize;
    for (int i = 0; i < kCaps4SectionCount; ++i) {
        const SectionLayout<caps4>& layout = kCaps4Layout[i];
        const Span span = kCaps4Holders[i].span(*b);
        for (const ListBlock& list : kListBlocks)
            if (list.first == i && list.present(*b))
                TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => copying %s information\n", list.name);
        if (i == kSecForms)
            TraceLogWrite(log, 0, L"CPrinter::SerializeCaps4 => copying form information (%d, %d, %d)\n", next,
                          span.size, span.count);
        record->*layout.offset = next;
        record->*layout.size = span.size;
        record->*layout.count = span.count;
        if (span.size) std::memcpy(bytes + next, span.data, span.size);
        next += span.size;
    }

    for (const ScalarField& scalar : kCaps4Scalars) record->*scalar.record = b->*scalar.set;
    if (b->pLowLevel) std::memcpy(&record->lowLevel, b->pLowLevel, sizeof(LowLevelCaps));
    // dwEnd stays 0.
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

    // The counts, sizes and offsets are trusted as far as they keep every
    // read inside the record; a section that would read outside is dropped.
    Section s[kCaps4SectionCount];
    bool whole = true;
    for (int i = 0; i < kCaps4SectionCount; ++i) {
        s[i] = ReadSection(h, kCaps4Layout[i], kCaps4HeaderSize, h.dwSize);
        if (!s[i].readable)
            TraceLogWrite(log, 0,
                          L"CPrinter::DeserializeCaps4 => dropping damaged %s section (offset %d, size %d, count %d)\n",
                          kCaps4Layout[i].name, s[i].offset, s[i].size, s[i].count);
        if (kCaps4Holders[i].take && !TakeArray(*b, bytes, kCaps4Holders[i], s[i])) whole = false;
    }
    for (const ListBlock& list : kListBlocks)
        if (!TakeList(*b, bytes, list, s)) whole = false;
    for (const ScalarField& scalar : kCaps4Scalars) b->*scalar.set = h.*scalar.record;

    b->pLowLevel = platform::HeapAllocZeroAs<LowLevelCaps>(sizeof(LowLevelCaps));
    if (b->pLowLevel) std::memcpy(b->pLowLevel, &h.lowLevel, sizeof(LowLevelCaps));
    // A filled set carries everything the record held: a set with a list
    // missing for want of memory would pass for a printer without that list,
    // so it is not kept at all.
    if (!whole || !b->pLowLevel) {
        TraceLogWrite(log, 0, L"CPrinter::DeserializeCaps4 => couldn't allocate memory, not loading\n");
        vlibPRINT_FreeQueryBuffers(b);
        return;
    }
    b->bFilled = 1;
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
    DumpRecord(log, record, available, kCaps4Lines, kCaps4Layout, kFormBytes, kForm4Columns);
}

void LogCaps4(TraceLog* log, const caps4* record) {
    if (!log || !record) return;
    LogCaps4(log, record, FieldAt(record, 0));
}

void LogCaps2(TraceLog* log, const caps2* record, size_t available) {
    DumpRecord(log, record, available, kCaps2Lines, kCaps2Layout, kForm2Bytes, kForm2Columns);
}

void LogCaps2(TraceLog* log, const caps2* record) {
    if (!log || !record) return;
    LogCaps2(log, record, FieldAt(record, 0));
}
