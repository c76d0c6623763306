// The capability record: layout, round trips, unpacking over an existing
// set, the dumps, and damaged records read under a guard page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "devcaps/forms.h"
#include "devcaps/list_queries.h"
#include "devcaps/lowlevel_query.h"
#include "devcaps/named_lists.h"
#include "devcaps/resolutions.h"
#include "devcaps/scalar_queries.h"
#include "platform/guard.h"
#include "platform/kernel.h"
#include "records/caps4.h"
#include "trace_capture.h"

namespace {

using testsupport::TraceCapture;
using Bytes = std::vector<BYTE>;

// ------------------------------------------------------------ building sets

Bytes Names(const std::vector<std::wstring>& names, size_t chars) {
    Bytes out(names.size() * chars * sizeof(WCHAR));
    for (size_t i = 0; i < names.size(); ++i)
        std::memcpy(out.data() + i * chars * sizeof(WCHAR), names[i].c_str(), names[i].size() * sizeof(WCHAR));
    return out;
}

template <class T>
Bytes Values(const std::vector<T>& values) {
    const BYTE* p = reinterpret_cast<const BYTE*>(values.data());
    return Bytes(p, p + values.size() * sizeof(T));
}

template <class T>
T* HeapCopy(const Bytes& bytes) {
    T* block = platform::HeapAllocZeroAs<T>(bytes.size());
    std::memcpy(block, bytes.data(), bytes.size());
    return block;
}

// One list of a list block: its header fields, bytes and count.
template <class Block>
struct Part {
    DWORD Block::*offset;
    DWORD Block::*size;
    DWORD Block::*count;
    Bytes bytes;
    DWORD n;
};
#define PART(Block, stem, bytes, n) Part<Block>{&Block::dwOffsetTo##stem, &Block::dwSizeOf##stem, &Block::dwNum##stem, bytes, n}

// A list block with its lists in the given order (the queries put the names
// first, unpacking puts them last): readers must follow the offsets.
template <class Block>
Block* MakeBlock(const std::vector<Part<Block>>& parts) {
    Bytes block(sizeof(Block));
    Block h{};
    for (const auto& p : parts) {
        h.*p.offset = static_cast<DWORD>(block.size());
        h.*p.size = static_cast<DWORD>(p.bytes.size());
        h.*p.count = p.n;
        block.insert(block.end(), p.bytes.begin(), p.bytes.end());
    }
    h.dwSize = static_cast<DWORD>(block.size());
    std::memcpy(block.data(), &h, sizeof(h));
    return HeapCopy<Block>(block);
}

template <class T>
void SetArray(const Bytes& bytes, DWORD n, T** pointer, DWORD* count, DWORD* size) {
    *pointer = bytes.empty() ? nullptr : HeapCopy<T>(bytes);
    *count = bytes.empty() ? 0 : n;
    *size = static_cast<DWORD>(bytes.size());
}
#define ARRAY(b, stem, bytes, n) SetArray(bytes, n, &(b).p##stem, &(b).dwNum##stem, &(b).dwSizeOf##stem)

#define KV_SCALARS(X)                                                                                                \
    X(dwCollate) X(dwColor) X(dwCopies) X(dwDriver) X(dwDatatype) X(dwDuplex) X(dwEMF) X(dwIndexedResolutionsOnly)   \
    X(dwExtra) X(dwFields) X(dwManufacturer) X(dwMaxExtent) X(dwMinExtent) X(dwModel) X(dwOrientation)               \
    X(dwPrinterMem) X(dwPrintRate) X(dwPrintRatePPM) X(dwPrintRateUnit) X(dwDevModeSize) X(dwStaple) X(dwTrueType)   \
    X(dwVersion) X(dwAnsiOnly)

struct Set {
    QueryBuffers b{};
    ~Set() { vlibPRINT_FreeQueryBuffers(&b); }
};

// A filled set with nothing in it but the low-level block.
void FillEmpty(QueryBuffers& b) {
    b.bFilled = 1;
    b.pLowLevel = platform::HeapAllocZeroAs<LowLevelCaps>(sizeof(LowLevelCaps));
}

// Every list present, three media types with two names, forms for three
// papers at two resolutions, every scalar a value of its own.
void FillRealistic(QueryBuffers& b) {
    FillEmpty(b);
    DWORD value = 100;
#define KV_SET(field) b.field = value++;
    KV_SCALARS(KV_SET)
#undef KV_SET
    b.pBins = MakeBlock<BinBuffer>(
        {PART(BinBuffer, BinNames, Names({L"Automatically Select", L"Tray 1", L"Manual Feed"}, kBinNameChars), 3),
         PART(BinBuffer, Bins, Values<WORD>({DMBIN_AUTO, DMBIN_UPPER, DMBIN_MANUAL}), 3)});
    b.pMedias = MakeBlock<MediaBuffer>({PART(MediaBuffer, MediaTypeNames, Names({L"Plain", L"Transparency"}, 64), 2),
                                        PART(MediaBuffer, MediaTypes, Values<DWORD>({1, 2, 3}), 3)});
    b.pPapers = MakeBlock<PaperBuffer>({PART(PaperBuffer, PaperNames, Names({L"Letter", L"A4", L"Legal"}, 64), 3),
                                        PART(PaperBuffer, PaperSize, Values<LONG>({2000, 2800, 2001, 2801, 2002, 2802}), 3),
                                        PART(PaperBuffer, Papers, Values<WORD>({1, 2, 3}), 3)});
    std::vector<LONG> forms;
    for (LONG k = 0; k < 6 * 21; ++k) forms.push_back(k / 21 * 100 + k % 21);
    ARRAY(b, Resolutions, Values<LONG>({300, 300, 600, 600}), 2);
    ARRAY(b, ResolutionsIndexed, Values<LONG>({150, 150, 300, 300, 600, 600, 1200, 1200}), 4);
    ARRAY(b, Files, Names({L"fake1.dll", L"fake2.dat"}, kFileNameChars), 2);
    ARRAY(b, MediaReady, Names({L"Letter"}, kMediaReadyChars), 1);
    ARRAY(b, NUP, Values<DWORD>({1, 2, 4}), 3);
    ARRAY(b, Personality, Names({L"PCL", L"PostScript"}, kPersonalityChars), 2);
    ARRAY(b, Forms, Values(forms), 6);
    for (int k = 0; k < 35; ++k) reinterpret_cast<LONG*>(b.pLowLevel)[k] = 7000 + k;
}

// What the capability queries answer for a printer name of null.
void FillFromNullNameQueries(QueryBuffers& b) {
    b.bFilled = 1;
#define KV_QUERY(name) b.dw##name = vlibPRINT_QueryDevCap_##name(nullptr, nullptr, nullptr);
    KV_QUERY(Collate) KV_QUERY(Color) KV_QUERY(Copies) KV_QUERY(Driver) KV_QUERY(Datatype) KV_QUERY(Duplex)
    KV_QUERY(EMF) KV_QUERY(Extra) KV_QUERY(Fields) KV_QUERY(Manufacturer) KV_QUERY(MaxExtent) KV_QUERY(MinExtent)
    KV_QUERY(Model) KV_QUERY(Orientation) KV_QUERY(PrinterMem) KV_QUERY(PrintRate) KV_QUERY(PrintRatePPM)
    KV_QUERY(PrintRateUnit) KV_QUERY(Staple) KV_QUERY(TrueType) KV_QUERY(Version)
#undef KV_QUERY
    b.dwDevModeSize = vlibPRINT_QueryDevCap_Size(nullptr, nullptr, nullptr);
    b.pBins = vlibPRINT_QueryDevCap_Bins(nullptr, nullptr, nullptr);
    b.pMedias = vlibPRINT_QueryDevCap_Medias(nullptr, nullptr, nullptr);
    b.pPapers = vlibPRINT_QueryDevCap_Papers(nullptr, nullptr, nullptr);
    b.pFiles = vlibPRINT_QueryDevCap_Files(nullptr, nullptr, nullptr, &b.dwNumFiles, &b.dwSizeOfFiles);
    b.pNUP = vlibPRINT_QueryDevCap_NUP(nullptr, nullptr, nullptr, &b.dwNumNUP, &b.dwSizeOfNUP);
    b.pPersonality = vlibPRINT_QueryDevCap_Personality(nullptr, nullptr, nullptr, &b.dwNumPersonality, &b.dwSizeOfPersonality);
    b.pMediaReady = vlibPRINT_QueryDevCap_MediaReady(nullptr, nullptr, nullptr, &b.dwNumMediaReady, &b.dwSizeOfMediaReady);
    b.pResolutions = vlibPRINT_QueryDevCap_Resolutions(nullptr, nullptr, nullptr, nullptr, &b.dwNumResolutions,
                                                       &b.dwSizeOfResolutions);
    b.pResolutionsIndexed = vlibPRINT_QueryDevCap_ResolutionsIndexed(nullptr, nullptr, nullptr, nullptr,
                                                                     &b.dwNumResolutionsIndexed, &b.dwSizeOfResolutionsIndexed);
    b.pForms = vlibPRINT_QueryDevCap_Forms(nullptr, nullptr, nullptr, nullptr, b.pPapers, b.pResolutions,
                                           b.dwNumResolutions, b.dwIndexedResolutionsOnly, b.pResolutionsIndexed,
                                           b.dwNumResolutionsIndexed, &b.dwNumForms, &b.dwSizeOfForms, 0);
    b.pLowLevel = vlibPRINT_QueryDevCap_LowLevel(nullptr, nullptr, nullptr);
}

Bytes Pack(const QueryBuffers& b) {
    caps4* record = vlibPRINT_PackCaps4(&b);
    if (!record) return {};
    Bytes bytes(reinterpret_cast<BYTE*>(record), reinterpret_cast<BYTE*>(record) + record->dwSize);
    platform::HeapFreeBlock(record);
    return bytes;
}

bool Unpack(QueryBuffers& b, const Bytes& bytes) {
    return vlibPRINT_UnpackCaps4(&b, reinterpret_cast<const caps4*>(bytes.data()), bytes.size());
}

caps4 Header(const Bytes& bytes) {
    caps4 h{};
    std::memcpy(&h, bytes.data(), sizeof(h));
    return h;
}

DWORD Field(const Bytes& bytes, size_t offset) {
    DWORD v;
    std::memcpy(&v, bytes.data() + offset, 4);
    return v;
}
void SetField(Bytes& bytes, size_t offset, DWORD value) { std::memcpy(bytes.data() + offset, &value, 4); }

// The sections of the record in their order, with the element widths.
struct RecordSection {
    size_t offset, size, count;
    DWORD width;
};
#define SEC(stem, width) {offsetof(caps4, dwOffsetTo##stem), offsetof(caps4, dwSizeOf##stem), offsetof(caps4, dwNum##stem), width}
const RecordSection kSections[] = {SEC(BinNames, 48), SEC(Bins, 2),        SEC(Resolutions, 8),     SEC(ResolutionsIndexed, 8),
                                   SEC(Files, 128),   SEC(MediaReady, 128), SEC(MediaTypeNames, 128), SEC(MediaTypes, 4),
                                   SEC(NUP, 4),       SEC(PaperNames, 128), SEC(Papers, 2),          SEC(PaperSize, 8),
                                   SEC(Personality, 64), SEC(Forms, 84)};

// Invariants every unpacked set keeps, whatever the record was.
void ExpectConsistent(const QueryBuffers& b) {
#define KV_CONSISTENT(stem, width)                                                           \
    EXPECT_EQ(uint64_t{b.dwSizeOf##stem}, uint64_t{b.dwNum##stem} * width) << #stem;         \
    EXPECT_EQ(b.p##stem != nullptr, b.dwSizeOf##stem != 0) << #stem;
    KV_CONSISTENT(Resolutions, 8) KV_CONSISTENT(ResolutionsIndexed, 8) KV_CONSISTENT(Files, 128)
    KV_CONSISTENT(MediaReady, 128) KV_CONSISTENT(NUP, 4) KV_CONSISTENT(Personality, 64) KV_CONSISTENT(Forms, 84)
#undef KV_CONSISTENT
    if (b.pPapers)
        EXPECT_EQ(b.pPapers->dwSize, 40 + b.pPapers->dwNumPapers * 2 + b.pPapers->dwNumPaperNames * 128 +
                                         b.pPapers->dwNumPaperSize * 8);
    if (b.bFilled) EXPECT_NE(b.pLowLevel, nullptr);
}

// ------------------------------------------------------------ layout

TEST(Caps4Layout, AllAbsentPrinterPacksToTheHeaderAlone) {
    TraceCapture trace;
    Set set;
    FillEmpty(set.b);
    const Bytes bytes = Pack(set.b);
    ASSERT_EQ(bytes.size(), 412u);
    EXPECT_EQ(Header(bytes).dwSize, 412u);
    for (const RecordSection& s : kSections) EXPECT_EQ(Field(bytes, s.offset), 412u) << s.offset;
    EXPECT_EQ(Header(bytes).dwEnd, 0u);
    EXPECT_EQ(trace.LinesStartingWith("CPrinter::SerializeCaps4 => missing"),
              (std::vector<std::string>{"CPrinter::SerializeCaps4 => missing bin information for the caps!",
                                        "CPrinter::SerializeCaps4 => missing media information for the caps!",
                                        "CPrinter::SerializeCaps4 => missing paper information for the caps!"}));
    EXPECT_EQ(trace.LinesStartingWith("CPrinter::SerializeCaps4 => copying form information (412, 0, 0)").size(), 1u);
    set.b.bFilled = 0;
    EXPECT_EQ(vlibPRINT_PackCaps4(&set.b), nullptr);
    EXPECT_EQ(trace.Lines().back(), "CPrinter::SerializeCaps4 => query buffers haven't been filled! returning");
}

TEST(Caps4Layout, SectionsFollowEachOtherAndScalarsKeepTheirFields) {
    TraceCapture trace;
    Set set;
    FillRealistic(set.b);
    const Bytes bytes = Pack(set.b);
    const caps4 h = Header(bytes);
    DWORD next = 412;
    for (const RecordSection& s : kSections) {
        SCOPED_TRACE(s.offset);
        EXPECT_EQ(Field(bytes, s.offset), next);
        EXPECT_EQ(Field(bytes, s.size), Field(bytes, s.count) * s.width);
        EXPECT_GT(Field(bytes, s.size), 0u);
        next += Field(bytes, s.size);
    }
    EXPECT_EQ(h.dwSize, next);
    ASSERT_EQ(bytes.size(), next);
#define KV_CHECK(field) EXPECT_EQ(h.field, set.b.field) << #field;
    KV_SCALARS(KV_CHECK)
#undef KV_CHECK
    EXPECT_EQ(0, std::memcmp(bytes.data() + 252, set.b.pLowLevel, 140));
    EXPECT_EQ(h.dwEnd, 0u);
    // The counts of media type names and media types travel apart.
    EXPECT_EQ(h.dwNumMediaTypeNames, 2u);
    EXPECT_EQ(h.dwNumMediaTypes, 3u);
    // The lists come out in record order whatever order their blocks hold them in.
    const BYTE* papers = reinterpret_cast<const BYTE*>(set.b.pPapers);
    EXPECT_EQ(0, std::memcmp(bytes.data() + h.dwOffsetToPapers, papers + set.b.pPapers->dwOffsetToPapers, 6));
    EXPECT_EQ(0, std::memcmp(bytes.data() + h.dwOffsetToPaperSize, papers + set.b.pPapers->dwOffsetToPaperSize, 24));
    EXPECT_EQ(std::wstring(reinterpret_cast<const WCHAR*>(bytes.data() + h.dwOffsetToPaperNames + 128)), L"A4");
    EXPECT_EQ(0, std::memcmp(bytes.data() + h.dwOffsetToForms, set.b.pForms, h.dwSizeOfForms));
    EXPECT_EQ(trace.LinesStartingWith("CPrinter::SerializeCaps4 => copying ").size(), 4u);  // bins, media, papers, forms
}

TEST(Caps4Layout, AbsentListsTakeTheNextOffset) {
    // The block member and the range of sections it fills: they are empty and
    // start, like the section after them, where the section before ends.
    const struct { size_t member; size_t first, last; } cases[] = {
        {offsetof(QueryBuffers, pBins), 0, 1}, {offsetof(QueryBuffers, pMedias), 6, 7}, {offsetof(QueryBuffers, pPapers), 9, 11}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        Set set;
        FillRealistic(set.b);
        void* block = nullptr;
        std::memcpy(&block, reinterpret_cast<BYTE*>(&set.b) + c.member, sizeof(block));
        platform::HeapFreeBlock(block);
        std::memset(reinterpret_cast<BYTE*>(&set.b) + c.member, 0, sizeof(block));
        const Bytes bytes = Pack(set.b);
        const RecordSection* before = c.first ? &kSections[c.first - 1] : nullptr;
        const DWORD start = before ? Field(bytes, before->offset) + Field(bytes, before->size) : 412;
        for (size_t i = c.first; i <= c.last + 1; ++i) EXPECT_EQ(Field(bytes, kSections[i].offset), start) << i;
        for (size_t i = c.first; i <= c.last; ++i) EXPECT_EQ(Field(bytes, kSections[i].size) + Field(bytes, kSections[i].count), 0u);
    }
}

// ------------------------------------------------------------ round trips and unpacking

TEST(Caps4RoundTrip, PackUnpackPackGivesTheSameBytes) {
    Set realistic, defaults, empty;
    FillRealistic(realistic.b);
    FillFromNullNameQueries(defaults.b);
    FillEmpty(empty.b);
    ASSERT_GT(defaults.b.dwNumForms, 0u);
    EXPECT_EQ(defaults.b.dwNumForms, defaults.b.dwNumResolutions * defaults.b.pPapers->dwNumPaperSize);
    for (const Set* set : {&realistic, &defaults, &empty}) {
        const Bytes first = Pack(set->b);
        Set loaded;
        ASSERT_TRUE(Unpack(loaded.b, first));
        EXPECT_EQ(loaded.b.bFilled, 1u);
        ExpectConsistent(loaded.b);
        EXPECT_EQ(Pack(loaded.b), first);
    }
    // The unpacked blocks hold the numbers first, right behind their headers.
    Set loaded;
    ASSERT_TRUE(Unpack(loaded.b, Pack(realistic.b)));
    const PaperBuffer& p = *loaded.b.pPapers;
    EXPECT_EQ(std::vector<DWORD>({p.dwOffsetToPapers, p.dwOffsetToPaperNames, p.dwOffsetToPaperSize, loaded.b.pBins->dwOffsetToBinNames,
                                  loaded.b.pMedias->dwOffsetToMediaTypeNames, loaded.b.pMedias->dwNumMediaTypeNames,
                                  loaded.b.pMedias->dwNumMediaTypes}),
              std::vector<DWORD>({40, 46, 46 + 3 * 128, 28 + 6, 28 + 12, 2, 3}));
}

// Bytes of the process heap in use.
size_t HeapBusyBytes() {
    size_t busy = 0;
    PROCESS_HEAP_ENTRY entry{};
    ::HeapLock(::GetProcessHeap());
    while (::HeapWalk(::GetProcessHeap(), &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
    ::HeapUnlock(::GetProcessHeap());
    return busy;
}

TEST(Caps4Unpack, OverAFilledSetTheOldBlocksAreReleased) {
    Set empty, full, target;
    FillEmpty(empty.b);
    FillRealistic(full.b);
    const Bytes small = Pack(empty.b), large = Pack(full.b);
    FillRealistic(target.b);
    {
        TraceCapture trace;
        ASSERT_TRUE(Unpack(target.b, small));  // only the record's contents remain
        EXPECT_EQ(trace.LinesStartingWith("CPrinter::DeserializeCaps4 => query buffers already filled! clearing").size(), 1u);
    }
    EXPECT_EQ(target.b.pBins, nullptr);
    EXPECT_EQ(target.b.pForms, nullptr);
    EXPECT_EQ(target.b.dwCopies, 0u);
    // Keeping the old blocks would grow the heap by 200 times the record.
    ASSERT_TRUE(Unpack(target.b, large));
    const size_t before = HeapBusyBytes();
    for (int i = 0; i < 200; ++i) Unpack(target.b, large);
    EXPECT_LT(HeapBusyBytes(), before + 10 * large.size());
}

TEST(Caps4Unpack, NullAndZeroSizedRecordsChangeNothing) {
    TraceCapture trace;
    Set target;
    FillRealistic(target.b);
    const QueryBuffers saved = target.b;
    Bytes bytes = Pack(target.b);
    SetField(bytes, 0, 0);  // the rest of the header stays as it was
    EXPECT_FALSE(Unpack(target.b, bytes));
    EXPECT_FALSE(vlibPRINT_UnpackCaps4(&target.b, nullptr, 0));
    EXPECT_EQ(0, std::memcmp(&saved, &target.b, sizeof(saved)));
    EXPECT_EQ(trace.LinesStartingWith("CPrinter::DeserializeCaps4 => no caps to load from!").size(), 2u);
    EXPECT_TRUE(trace.LinesStartingWith("Printer Capabilities").empty());
}

// ------------------------------------------------------------ dumps

std::vector<std::string> DumpLines(const Bytes& bytes) {
    TraceCapture trace;
    LogCaps4(trace.log(), reinterpret_cast<const caps4*>(bytes.data()));
    return trace.Lines();
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

const char kFormsHeading[] =
    "[paprI,paprW,paprL][ resX, resY, aspX, aspY,aspXY][ logX, logY][hsize,vsize, hres, vres,physW,physH, offX, offY] ";

TEST(Caps4Dump, ListsEveryFieldAndElement) {
    Set set;
    FillRealistic(set.b);
    const Bytes bytes = Pack(set.b);
    const auto lines = DumpLines(bytes);
    // Banner, 68 field lines (the low-level block is not printed), 3 bins, 2 + 4 resolutions,
    // 2 files, 1 media ready, 3 media, 3 N-up, 3 papers, 2 personalities, the heading and 6 forms.
    ASSERT_EQ(lines.size(), 3u + 68 + 3 + 6 + 2 + 1 + 3 + 3 + 3 + 2 + 1 + 6);
    EXPECT_EQ(lines[3], "dwSize: " + std::to_string(bytes.size()));
    // Elements follow their count line; three media types with two names: the third has none.
    const std::pair<const char*, const char*> follows[] = {
        {"dwNumBins: 3", "\t\tbin 0: [ 7] Automatically Select"}, {"\t\tbin 2: [ 4] Manual Feed", "dwCollate: 100"},
        {"\t\tResolution 0: 300 x 300", "\t\tResolution 1: 600 x 600"}, {"dwNumFiles: 2", "\t\tFile 0: fake1.dll"},
        {"dwNumMediaReady: 1", "\t\tMediaReady 0: Letter"}, {"\t\tMedia 1: [ 2] Transparency", "\t\tMedia 2: [ 3] "},
        {"dwNumNUP: 3", "\t\tNUP 0: 1"}, {"\t\tpaper   0: [  1] [2000 x 2800] Letter", "\t\tpaper   1: [  2] [2001 x 2801] A4"},
        {"\t\tpersonality 1: PostScript", "dwPrinterMem: 115"}};
    for (const auto& f : follows) {
        const size_t at = IndexOf(lines, f.first);
        ASSERT_LT(at + 1, lines.size()) << f.first;
        EXPECT_EQ(lines[at + 1], f.second);
    }
    const size_t forms = IndexOf(lines, kFormsHeading);
    EXPECT_EQ(lines[forms - 1], "dwNumForms: 6");
    // paprI, paprW, paprL, resX, resY, aspX, aspY, aspXY, logX, logY, hsize, vsize, hres, vres, physW, physH, offX, offY
    EXPECT_EQ(lines[forms + 2], "[  102,  103,  104][  105,  106,  114,  115,  116][  112,  113][  108,  109,  110,  111,  "
                                "117,  118,  119,  120] ");
    EXPECT_EQ(lines[forms + 7], "dwAnsiOnly: 123");
    EXPECT_EQ(lines.back(), "dwEnd: 0");
}

TEST(Caps4Dump, CountsThatListNothing) {
    Set set;
    FillRealistic(set.b);
    const std::string nup = std::to_string(Header(Pack(set.b)).dwOffsetToNUP);
    struct Case {
        std::vector<std::pair<size_t, DWORD>> fields;
        std::string after;  // the field line that must be followed by `next`
        std::string next;
    };
    const Case cases[] = {
        // No forms: the heading and no rows.
        {{{offsetof(caps4, dwNumForms), 0}, {offsetof(caps4, dwSizeOfForms), 0}}, kFormsHeading, "dwAnsiOnly: 123"},
        // Bin count 0 with the names still there: no bin lines.
        {{{offsetof(caps4, dwNumBins), 0}, {offsetof(caps4, dwSizeOfBins), 0}}, "dwNumBins: 0", "dwCollate: 100"},
        // A negative count lists nothing (the section no longer matches its size).
        {{{offsetof(caps4, dwNumNUP), 0xFFFFFFFF}}, "dwNumNUP: -1",
         "\t\t!WARNING! section not inside the record (offset " + nup + ", size 12, count -1), not listed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        Bytes bytes = Pack(set.b);
        for (const auto& f : c.fields) SetField(bytes, f.first, f.second);
        const auto lines = DumpLines(bytes);
        const size_t at = IndexOf(lines, c.after);
        ASSERT_LT(at + 1, lines.size());
        EXPECT_EQ(lines[at + 1], c.next);
    }
    const Bytes bytes = Pack(set.b);
    TraceCapture trace;
    LogCaps4(nullptr, reinterpret_cast<const caps4*>(bytes.data()));
    LogCaps4(trace.log(), nullptr);
    LogCaps2(trace.log(), nullptr);
    EXPECT_TRUE(trace.Lines().empty());
}

// ------------------------------------------------------------ damage

// Holds bytes so that they end exactly where a PAGE_NOACCESS page begins.
struct GuardedBytes {
    BYTE* base;
    BYTE* data;
    GuardedBytes(const BYTE* bytes, size_t size) {
        const size_t pages = (size + 4095) / 4096 + 1;
        base = static_cast<BYTE*>(::VirtualAlloc(nullptr, pages * 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        ::VirtualProtect(base + (pages - 1) * 4096, 4096, PAGE_NOACCESS, &old);
        data = base + (pages - 1) * 4096 - size;
        if (size) std::memcpy(data, bytes, size);
    }
    ~GuardedBytes() { ::VirtualFree(base, 0, MEM_RELEASE); }
};

// A logger that writes nothing but still makes the dumps read what they would print.
struct SilentLog {
    TraceLog* log = TraceLogCreate(L"NUL", 0);
    SilentLog() { log->level = -1; }
    ~SilentLog() { TraceLogDestroy(log); }
};

// Unpacks and dumps the first `held` bytes under the guard page; a read
// outside them fails the test. Returns whether the record was loaded.
bool UnpackAndDumpGuarded(const Bytes& bytes, size_t held, QueryBuffers* into, TraceLog* dumpLog) {
    GuardedBytes guarded(bytes.data(), held);
    const caps4* record = reinterpret_cast<const caps4*>(guarded.data);
    bool loaded = false;
    const bool clean = platform::Guarded([&] {
        loaded = vlibPRINT_UnpackCaps4(into, record, held);
        LogCaps4(dumpLog, record, held);
    });
    EXPECT_TRUE(clean) << "read outside the record";
    return loaded;
}

TEST(Caps4Damage, EveryHeaderFieldPointingOutsideAndEveryTruncationIsSurvived) {
    Set source;
    FillRealistic(source.b);
    const Bytes bytes = Pack(source.b);
    const DWORD size = static_cast<DWORD>(bytes.size());
    SilentLog silent;
    {
        GuardedBytes guarded(bytes.data(), size);  // the guard itself works
        volatile BYTE seen = 0;
        EXPECT_TRUE(platform::Guarded([&] { seen = guarded.data[size - 1]; }));
        EXPECT_FALSE(platform::Guarded([&] { seen = guarded.data[size]; }));
    }
    // Fewer bytes held than dwSize says: rejected whole, the set stays as it was.
    for (size_t held : {size_t{size} - 1, size_t{size} / 2, size_t{412}, size_t{411}, size_t{4}, size_t{3}}) {
        Set target;
        FillEmpty(target.b);
        target.b.dwCopies = 77;
        EXPECT_FALSE(UnpackAndDumpGuarded(bytes, held, &target.b, silent.log)) << held;
        EXPECT_EQ(target.b.dwCopies, 77u) << held;
    }
    const DWORD values[] = {0, 1, 411, 412, size - 1, size, size + 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFF - 411};
    for (size_t field = 0; field < 412; field += 4) {
        if (field >= offsetof(caps4, lowLevel) && field < offsetof(caps4, dwOffsetToForms)) continue;  // plain values
        for (DWORD value : values) {
            SCOPED_TRACE(testing::Message() << "field " << field << " = " << value);
            Bytes damaged = bytes;
            SetField(damaged, field, value);
            Set target;
            const bool loaded = UnpackAndDumpGuarded(damaged, size, &target.b, silent.log);
            if (field == 0) EXPECT_EQ(loaded, value >= 412 && value <= size);
            ExpectConsistent(target.b);
            if (HasFailure()) return;
        }
    }
}

TEST(Caps4Damage, ABadSectionIsDroppedAndTracedAndTheRestLoads) {
    Set source;
    FillRealistic(source.b);
    const Bytes bytes = Pack(source.b);
    const DWORD size = static_cast<DWORD>(bytes.size());
    struct Case {
        size_t field;
        DWORD value;
        std::string dropped;
    };
    const Case cases[] = {
        {offsetof(caps4, dwOffsetToPapers), size - 2, "paper section (offset " + std::to_string(size - 2) + ", size 6, count 3)"},
        {offsetof(caps4, dwNumForms), 5, "form section (offset " + std::to_string(size - 504) + ", size 504, count 5)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dropped);
        Bytes damaged = bytes;
        SetField(damaged, c.field, c.value);
        TraceCapture trace;
        Set target;
        ASSERT_TRUE(UnpackAndDumpGuarded(damaged, size, &target.b, trace.log()));
        ExpectConsistent(target.b);
        EXPECT_EQ(trace.LinesStartingWith("CPrinter::DeserializeCaps4 => dropping damaged " + c.dropped).size(), 1u);
        // Both dumps (the unpacking's own and ours) say so instead of listing it.
        EXPECT_EQ(trace.LinesStartingWith("\t\t!WARNING! section not inside the record").size(), 2u);
        const bool forms = c.field == offsetof(caps4, dwNumForms);
        EXPECT_EQ(target.b.pPapers->dwNumPapers + target.b.dwNumForms, forms ? 3u : 6u);
        EXPECT_EQ(target.b.pBins->dwNumBins, 3u);  // the rest loads
    EXPECT_EQ(target.b.dwCopies, 102u);
    }
}

TEST(Caps4Damage, SeededMutationsNeverReadOutsideTheRecord) {
    Set source;
    FillRealistic(source.b);
    const Bytes bytes = Pack(source.b);
    const DWORD size = static_cast<DWORD>(bytes.size());
    std::mt19937 random(20261205);
    SilentLog silent;
    int loaded = 0;
    for (int round = 0; round < 4000; ++round) {
        SCOPED_TRACE(round);
        Bytes damaged = bytes;
        // Any byte, or a header field set near a boundary or to anything.
        const DWORD edges[] = {0, 412, size, size - 2, size + 2, 0xFFFFFFFF, 0x80000000, static_cast<DWORD>(random())};
        for (int c = 1 + static_cast<int>(random() % 4); c > 0; --c) {
            if (random() % 3 == 0) damaged[random() % size] = static_cast<BYTE>(random());
            else SetField(damaged, (random() % 103) * 4, edges[random() % 8] + static_cast<DWORD>(random() % 5) - 2);
        }
        const size_t held = random() % 8 == 0 ? random() % damaged.size() : damaged.size();
        Set target;
        if (UnpackAndDumpGuarded(damaged, held, &target.b, silent.log)) {
            ++loaded;
            const Bytes again = Pack(target.b);  // whatever loaded packs into a sound record again
            Set twice;
            ASSERT_TRUE(Unpack(twice.b, again));
            EXPECT_EQ(Pack(twice.b), again);
        }
        ExpectConsistent(target.b);
        if (HasFailure()) return;
    }
    EXPECT_GT(loaded, 100);  // partial loads are exercised, not only rejections
}

// An earlier record: one bin, one resolution, two papers with one name, one form.
Bytes MakeCaps2() {
    std::vector<LONG> form;
    for (LONG k = 1; k <= 18; ++k) form.push_back(k);
    caps2* h = MakeBlock<caps2>({PART(caps2, BinNames, Names({L"Upper"}, kBinNameChars), 1),
                                 PART(caps2, Bins, Values<WORD>({DMBIN_UPPER}), 1),
                                 PART(caps2, Resolutions, Values<LONG>({600, 300}), 1),
                                 PART(caps2, PaperNames, Names({L"Letter"}, kPaperNameChars), 1),
                                 PART(caps2, Papers, Values<WORD>({DMPAPER_LETTER, DMPAPER_A4}), 2),
                                 PART(caps2, PaperSize, Values<LONG>({2159, 2794, 2100, 2970}), 2),
                                 PART(caps2, Forms, Values(form), 1)});
    const Bytes bytes(reinterpret_cast<BYTE*>(h), reinterpret_cast<BYTE*>(h) + h->dwSize);
    platform::HeapFreeBlock(h);
    return bytes;
}

TEST(Caps2Dump, ListsTheEarlierRecordWithShortForms) {
    const Bytes bytes = MakeCaps2();
    TraceCapture trace;
    LogCaps2(trace.log(), reinterpret_cast<const caps2*>(bytes.data()));
    const auto lines = trace.Lines();
    // 3 banner lines, 37 field lines, 1 bin, 1 resolution, 2 papers, heading and one row.
    ASSERT_EQ(lines.size(), 3u + 37 + 1 + 1 + 2 + 2);
    EXPECT_EQ(lines[3], "dwSize: " + std::to_string(bytes.size()));
    for (const char* line : {"\t\tbin 0: [ 1] Upper", "\t\tResolution 0: 600 x 300", "\t\tpaper   0: [  1] [2159 x 2794] Letter",
                             "\t\tpaper   1: [  9] [2100 x 2970] "})
        EXPECT_LT(IndexOf(lines, line), lines.size()) << line;
    const size_t forms = IndexOf(lines, kFormsHeading);
    ASSERT_LT(forms + 2, lines.size());
    EXPECT_EQ(lines[forms - 1], "dwNumForms: 1");
    EXPECT_EQ(lines[forms + 1], "[    1,    2,    3][    4,    5,   12,   13,   14][   10,   11][    6,    7,    8,    9,"
                                "   15,   16,   17,   18] ");
    EXPECT_EQ(lines[forms + 2], "dwEnd: 0");
}

}  // namespace
