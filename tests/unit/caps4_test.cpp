// The capability record: layout, round trips, unpacking over an existing
// set, the dumps, the record check, damaged records read under a guard page,
// and the JSON export.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fake/fake_print_system.h"
#include "platform/guard.h"
#include "platform/kernel.h"
#include "printer/printer.h"
#include "records/caps4.h"
#include "records/caps4_check.h"
#include "records/caps4_json.h"
#include "records/caps4_layout.h"
#include "records/caps4_media.h"
#include "support/heap_counter.h"
#include "support/info_records.h"
#include "trace_capture.h"

namespace {

using Bytes = std::string;  // a record's bytes, as the shared record helpers take them
using testsupport::At;
using testsupport::PutAt;
using nlohmann::json;

// ------------------------------------------------------------ building sets

#define KV_SCALARS(X)                                                                                                \
    X(dwCollate) X(dwColor) X(dwCopies) X(dwDriver) X(dwDatatype) X(dwDuplex) X(dwEMF) X(dwIndexedResolutionsOnly)   \
    X(dwExtra) X(dwFields) X(dwManufacturer) X(dwMaxExtent) X(dwMinExtent) X(dwModel) X(dwOrientation)               \
    X(dwPrinterMem) X(dwPrintRate) X(dwPrintRatePPM) X(dwPrintRateUnit) X(dwDevModeSize) X(dwStaple) X(dwTrueType)   \
    X(dwVersion) X(dwAnsiOnly)

struct Set { QueryBuffers b{}; ~Set() { vlibPRINT_FreeQueryBuffers(&b); } };

// A filled set with nothing in it but the low-level block.
void FillEmpty(QueryBuffers& b) { b.bFilled = 1; b.pLowLevel = platform::HeapAllocZeroAs<LowLevelCaps>(sizeof(LowLevelCaps)); }

// The printer object's capability set, queried and handed over.
void Query(CPrinter& printer, BOOL defaultsOnly, QueryBuffers& b) {
    printer.QueryCapabilities(defaultsOnly, nullptr, nullptr);
    b = printer.queryBuffers;
    b.bFilled = 1;
    printer.queryBuffers = QueryBuffers{};
}

// Every list present, three media types with two names, forms for three
// papers at two resolutions (one paper name fills its slot, one bin name is
// outside ASCII), every scalar, form value and low-level value a number of its
// own; the blocks laid out as the queries lay them out (names first, unpacking
// puts them last).
void FillRealistic(QueryBuffers& b) {
    fake::FakePrintSystem fake;
    fake::FakePrinter& p = fake.AddPrinter(L"P");
    p.SetBins({{DMBIN_AUTO, L"Automatically Select"}, {DMBIN_UPPER, L"Tray 1 \u00e9"}, {DMBIN_MANUAL, L"Manual Feed"},
               {DMBIN_LOWER, L"Tray 2"}});
    p.SetMedia({{1, L"Plain"}, {2, L"Transparency"}, {3, L"Glossy"}});
    p.SetNames(DC_MEDIATYPENAMES, kMediaNameChars, {L"Plain", L"Transparency"});
    p.SetPapers(
        {{1, L"Letter", 2000, 2800}, {2, L"A4", 2001, 2801}, {3, std::wstring(kPaperNameChars, L'x'), 2002, 2802}});
    p.SetNames(DC_FILEDEPENDENCIES, kFileNameChars, {L"fake1.dll", L"fake2.dat", L"fake3.ini", L"fake4.ppd"});
    p.SetNames(DC_MEDIAREADY, kMediaReadyChars, {L"Letter"});
    p.SetValues(DC_NUP, {1, 2, 4, 6});
    p.SetNames(DC_PERSONALITY, kPersonalityChars, {L"PCL", L"PostScript"});
    CPrinter printer(nullptr, L"P", 2, 0);
    Query(printer, FALSE, b);
    DWORD value = 100;
#define KV_SET(field) b.field = value++;
    KV_SCALARS(KV_SET)
#undef KV_SET
    ASSERT_EQ(b.dwNumForms, 6u);  // every form entry its own numbers, every low-level field too
    for (LONG k = 0; k < 6 * 21; ++k) reinterpret_cast<LONG*>(b.pForms)[k] = k / 21 * 100 + k % 21;
    for (int k = 0; k < 35; ++k) reinterpret_cast<LONG*>(b.pLowLevel)[k] = 7000 + k;
}

// The packed record (empty if none was made).
Bytes Pack(const QueryBuffers& b) { return testsupport::Take(vlibPRINT_PackCaps4(&b)); }

// The record of a set filled by `fill`.
Bytes Packed(void (*fill)(QueryBuffers&)) {
    Set set;
    fill(set.b);
    return Pack(set.b);
}

bool Unpack(QueryBuffers& b, const Bytes& bytes) {
    return vlibPRINT_UnpackCaps4(&b, reinterpret_cast<const caps4*>(bytes.data()), bytes.size());
}

Bytes With(Bytes bytes, size_t offset, DWORD value) {
    PutAt<DWORD>(bytes, offset, value);
    return bytes;
}

// The sections of the record in their order, with the element widths.
struct RecordSection { size_t offset, size, count; DWORD width; };
#define SEC(stem, width) {offsetof(caps4, dwOffsetTo##stem), offsetof(caps4, dwSizeOf##stem), offsetof(caps4, dwNum##stem), width}
constexpr RecordSection kSections[] = {SEC(BinNames, 48), SEC(Bins, 2),        SEC(Resolutions, 8),     SEC(ResolutionsIndexed, 8),
                                       SEC(Files, 128),   SEC(MediaReady, 128), SEC(MediaTypeNames, 128), SEC(MediaTypes, 4),
                                       SEC(NUP, 4),       SEC(PaperNames, 128), SEC(Papers, 2),          SEC(PaperSize, 8),
                                       SEC(Personality, 64), SEC(Forms, 84)};
constexpr DWORD WidthOf(size_t count) {
    for (const RecordSection& s : kSections)
        if (s.count == count) return s.width;
    return 0;
}

// Invariants every unpacked set keeps, whatever the record was: every listed
// entry of an array lies inside its block.
void ExpectConsistent(const QueryBuffers& b) {
#define KV_CONSISTENT(stem)                                                                                               \
    EXPECT_LE(uint64_t{static_cast<DWORD>(std::max<LONG>(0, static_cast<LONG>(b.dwNum##stem)))} *                           \
                  WidthOf(offsetof(caps4, dwNum##stem)), uint64_t{b.dwSizeOf##stem}) << #stem;                               \
    EXPECT_EQ(b.p##stem != nullptr, b.dwSizeOf##stem != 0) << #stem;
    KV_CONSISTENT(Resolutions) KV_CONSISTENT(ResolutionsIndexed) KV_CONSISTENT(Files) KV_CONSISTENT(MediaReady)
    KV_CONSISTENT(NUP) KV_CONSISTENT(Personality) KV_CONSISTENT(Forms)
#undef KV_CONSISTENT
    if (const PaperBuffer* p = b.pPapers) {  // a list behind an odd number of bytes starts one byte later
        const DWORD lists = 40 + p->dwSizeOfPapers + p->dwSizeOfPaperNames + p->dwSizeOfPaperSize;
        EXPECT_TRUE(p->dwSize >= lists && p->dwSize <= lists + 2) << p->dwSize;
        EXPECT_EQ(p->dwOffsetToPaperNames % 2, 0u);
    }
    if (b.bFilled) EXPECT_NE(b.pLowLevel, nullptr);
}

// The record loaded into a set of its own, which must keep the invariants,
// and packed again; empty if it did not load.
Bytes Repacked(const Bytes& bytes) {
    Set loaded;
    EXPECT_TRUE(Unpack(loaded.b, bytes));
    ExpectConsistent(loaded.b);
    return Pack(loaded.b);
}

// ------------------------------------------------------------ layout

TEST(Caps4Layout, AllAbsentRealisticAndPartlyAbsentRecords) {
    Bytes bytes = Packed(FillEmpty);
    ASSERT_EQ(bytes.size(), 412u);  // dwSize 412
    testsupport::TraceCapture trace;  // a record of its header alone is listed whole
    LogCaps4(trace.log(), reinterpret_cast<const caps4*>(bytes.data()), bytes.size());
    EXPECT_EQ(trace.Lines().back(), "dwEnd: 0");
    for (const RecordSection& s : kSections) EXPECT_EQ(At(bytes, s.offset), 412u) << s.offset;

    // The whole realistic set (member 0, no range), then without one block
    // member: the range of sections it fills is empty and starts, like the
    // section after it, where the section before ends; the rest is as before.
    const struct { size_t member; size_t first, last; } cases[] = {{0, 1, 0},
        {offsetof(QueryBuffers, pBins), 0, 1}, {offsetof(QueryBuffers, pMedias), 6, 7}, {offsetof(QueryBuffers, pPapers), 9, 11}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.member);
        Set full;
        FillRealistic(full.b);
        if (c.member) {
            void*& block = *reinterpret_cast<void**>(reinterpret_cast<BYTE*>(&full.b) + c.member);
            platform::HeapFreeBlock(block);
            block = nullptr;
        }
        bytes = Pack(full.b);
        const caps4& h = *reinterpret_cast<const caps4*>(bytes.data());
        DWORD next = 412;
        for (size_t i = 0; i < std::size(kSections); ++i) {
            const RecordSection& s = kSections[i];
            EXPECT_EQ(At(bytes, s.offset), next) << i;
            EXPECT_EQ(At(bytes, s.size), At(bytes, s.count) * s.width) << i;
            if (i >= c.first && i <= c.last) EXPECT_EQ(At(bytes, s.size) + At(bytes, s.count), 0u) << i;
            next += At(bytes, s.size);
        }
        EXPECT_EQ(h.dwSize, next);
#define KV_CHECK(field) EXPECT_EQ(h.field, full.b.field) << #field;
        KV_SCALARS(KV_CHECK)
#undef KV_CHECK
        EXPECT_EQ(0, std::memcmp(bytes.data() + 252, full.b.pLowLevel, 140));
        // Every list lands in its own section: lists of one width have counts of their own.
        if (!c.member)
            EXPECT_EQ((std::vector<DWORD>{h.dwNumBins, h.dwNumPapers, h.dwNumFiles, h.dwNumMediaReady, h.dwNumMediaTypeNames,
                                          h.dwNumPaperNames, h.dwNumMediaTypes, h.dwNumNUP, h.dwNumResolutions,
                                          h.dwNumResolutionsIndexed, h.dwNumPaperSize}),
                      (std::vector<DWORD>{4, 3, 4, 1, 2, 3, 3, 4, 2, 4, 3}));
    }
}

// ------------------------------------------------------------ round trips and unpacking

// "ok: " and the record check's reason.
std::string Why(const Bytes& bytes) {
    WCHAR why[256] = {};
    const BOOL ok = vlibPRINT_CheckCaps4(bytes.data(), bytes.size(), why, 256);
    return (ok ? "ok: " : "") + testsupport::Narrow(why);
}

TEST(Caps4RoundTrip, PackUnpackPackGivesTheSameBytes) {
    Set defaults;
    CPrinter nobody(nullptr, L"", 2, 0);  // no printer information: the queries ask for a null name
    Query(nobody, TRUE, defaults.b);
    ASSERT_GT(defaults.b.dwNumForms, 0u);
    for (const Bytes& first : {Packed(FillRealistic), Pack(defaults.b)}) {
        EXPECT_EQ(Repacked(first), first);
    }
}

// A list whose fetch failed keeps its space with count 0; a record from
// elsewhere may carry a negative count with size 0. Both load back, list
// nothing, warn about nothing, pass the check and pack into the same bytes.
TEST(Caps4RoundTrip, DroppedAndNegativeCountsLoadBackUnchanged) {
    const Bytes sound = Packed(FillRealistic);
    // Rows the dump lists once while their lists are there: the first bin and the first medium, id and name, the
    // second paper with its size, and the second form (field n holding 100 + n), its columns in their order.
    const std::pair<std::string, std::set<int>> kRows[] = {
        {"\t\tbin 0: [ 7] Automatically Select", {kSecBins, kSecBinNames}},
        {"\t\tMedia 0: [ 1] Plain", {kSecMediaTypes, kSecMediaTypeNames}},
        {"\t\tpaper   1: [  2] [2001 x 2801] A4", {kSecPapers, kSecPaperNames, kSecPaperSize}},
        {"[  102,  103,  104][  105,  106,  114,  115,  116][  112,  113][  108,  109,  110,  111,  117,  118,  119,  120] ",
         {kSecForms}}};
    // Where a count of 0 shows in the dump: the forms heading without rows, no
    // bin lines though the names are still there.
    const std::map<int, std::pair<std::string, std::string>> listedNext = {
        {kSecForms,
         {"[paprI,paprW,paprL][ resX, resY, aspX, aspY,aspXY][ logX, logY][hsize,vsize, hres, vres,physW,physH, offX, offY] ",
          "dwAnsiOnly: 123"}},
        {kSecBins, {"dwNumBins: 0", "dwCollate: 100"}}};
    for (int k = 0; k < kCaps4SectionCount; ++k) {
        const SectionLayout<caps4>& layout = kCaps4Layout[k];
        for (const bool negative : {false, true}) {
            SCOPED_TRACE(testing::Message() << testsupport::Narrow(layout.name) << (negative ? " negative" : " dropped"));
            Bytes first = sound;
            caps4& h = *reinterpret_cast<caps4*>(first.data());
            if (negative) {  // the section's bytes stay in the record, unreferenced: pack once to lose them
                h.*layout.count = 0xFFFFFFFF;
                h.*layout.size = 0;
                first = Repacked(first);
            } else {
                h.*layout.count = 0;
            }
            EXPECT_EQ(Why(first), "ok: ok");
            const Bytes again = Repacked(first);
            ASSERT_GE(again.size(), 412u);
            // A list block whose every list is empty is dropped whole, and an
            // empty array keeps no count: only there may a negative count go.
            const caps4& back = *reinterpret_cast<const caps4*>(again.data());
            if (!negative || back.*layout.count == 0xFFFFFFFF) EXPECT_EQ(again, first);
            testsupport::TraceCapture trace;
            LogCaps4(trace.log(), reinterpret_cast<const caps4*>(first.data()), first.size());
            const auto lines = trace.Lines();
            for (const std::string& line : lines) EXPECT_EQ(line.find("WARNING"), std::string::npos) << line;
            for (const auto& [row, lists] : kRows)
                if (!lists.count(k)) EXPECT_EQ(std::count(lines.begin(), lines.end(), row), 1) << row;
            if (const auto next = listedNext.find(k); next != listedNext.end() && !negative) {
                const auto at = std::find(lines.begin(), lines.end(), next->second.first);
                ASSERT_LT(at + 1, lines.end()) << next->second.first;
                EXPECT_EQ(at[1], next->second.second);
            }
        }
    }
}

// Ids over an odd number of bytes (a list kept reserved): the names behind
// them, read in place as 16-bit characters, still start at an even offset.
TEST(Caps4Unpack, NamesBehindAnOddNumberOfBytesStartAtAnEvenOffset) {
    const char* document = R"({"bins": [1, 2], "binNames": ["Upper", "Lower"], "papers": [9], "paperNames": ["A4"],
        "paperSizes": [{"width": 2100, "length": 2970}], "mediaTypes": [1], "mediaTypeNames": ["Plain"],
        "reserved": {"bins": {"count": 2, "bytes": 5}, "papers": {"count": 1, "bytes": 3}, "mediaTypes": {"count": 1, "bytes": 7}}})";
    Set from, loaded;
    ASSERT_TRUE(vlibPRINT_Caps4FromJson(document, &from.b));
    const Bytes record = Pack(from.b);
    ASSERT_TRUE(Unpack(loaded.b, record));
    EXPECT_EQ(loaded.b.pBins->dwOffsetToBinNames % 2, 0u);
    EXPECT_EQ(loaded.b.pPapers->dwOffsetToPaperNames % 2, 0u);
    EXPECT_EQ(loaded.b.pMedias->dwOffsetToMediaTypeNames % 2, 0u);
    EXPECT_STREQ(BinNameAt(loaded.b.pBins, 1), L"Lower");
    EXPECT_STREQ(PaperNameAt(loaded.b.pPapers, 0), L"A4");
    EXPECT_STREQ(MediaNameAt(loaded.b.pMedias, 0), L"Plain");
    ExpectConsistent(loaded.b);
    EXPECT_EQ(Pack(loaded.b), record);  // the byte between the lists stays out of the record
}

TEST(Caps4Unpack, OverAFilledSetOnlyTheRecordRemainsAndSizeZeroIsIgnored) {
    Set target;
    FillRealistic(target.b);
    const Bytes small = Packed(FillEmpty), large = Pack(target.b), zero = With(large, 0, 0);  // the rest stays as it was
    const QueryBuffers saved = target.b;
    EXPECT_FALSE(Unpack(target.b, zero));
    EXPECT_EQ(0, std::memcmp(&saved, &target.b, sizeof(saved)));
    {
        testsupport::HeapCounter heap;  // the old blocks go back as the record's come
        ASSERT_TRUE(Unpack(target.b, large));
        EXPECT_EQ(heap.Live(), 0);
    }
    ASSERT_TRUE(Unpack(target.b, small));
    EXPECT_EQ(target.b.pBins, nullptr);
    EXPECT_EQ(target.b.dwCopies, 0u);
    // No memory for one of its eleven blocks (seven arrays, three lists, the
    // low-level block): nothing loads and nothing is kept.
    for (long refused = 0; refused < 11; ++refused) {
        Set partial;
        testsupport::HeapCounter heap(refused);
        EXPECT_FALSE(Unpack(partial.b, large)) << refused;
        EXPECT_EQ(heap.Live(), 0) << refused;
    }
    testsupport::HeapCounter noRoom(0);  // and no room for a record: none
    EXPECT_EQ(vlibPRINT_PackCaps4(&target.b), nullptr);
}

// The earlier record's dump reads that record's own layout: a bin, a resolution
// and a form of 18 values (field n holding 200 + n) behind the 240-byte header.
TEST(Caps2Dump, TheEarlierRecordsOwnLayout) {
    struct Earlier { caps2 h; WORD bin; ResolutionPair res; FormEntry2 form; } r = {};
    r.h.dwSize = r.h.dwOffsetToPaperNames = r.h.dwOffsetToPapers = r.h.dwOffsetToPaperSize = sizeof(r);
    r.h.dwOffsetToBinNames = r.h.dwOffsetToBins = offsetof(Earlier, bin), r.h.dwSizeOfBins = 2, r.h.dwNumBins = 1, r.bin = DMBIN_MANUAL;
    r.h.dwOffsetToResolutions = offsetof(Earlier, res), r.h.dwSizeOfResolutions = 8, r.h.dwNumResolutions = 1, r.res = {600, 300};
    r.h.dwOffsetToForms = offsetof(Earlier, form), r.h.dwSizeOfForms = 72, r.h.dwNumForms = 1, r.h.dwVersion = 0x0401;
    for (int n = 0; n < 18; ++n) (&r.form.paprI)[n] = 200 + n;
    testsupport::TraceCapture trace;
    LogCaps2(trace.log(), &r.h);
    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 44u);
    const std::pair<size_t, std::string> pinned[] = {{3, "dwSize: 324"}, {10, "\t\tbin 0: [ 4] "},
        {20, "\t\tResolution 0: 600 x 300"}, {37, "dwVersion: 1025"}, {43, "dwEnd: 0"},
        {42, "[  200,  201,  202][  203,  204,  211,  212,  213][  209,  210][  205,  206,  207,  208,  214,  215,  216,  217] "}};
    for (const auto& [at, line] : pinned) EXPECT_EQ(lines[at], line) << at;
}

// ------------------------------------------------------------ the record check

// Dropped and negative counts pass it too (see Caps4RoundTrip above).
TEST(Caps4Check, SoundRecordsPassAndDamagedOrForeignOnesAreRefusedWithTheReason) {
    const Bytes bare = Packed(FillEmpty), record = Packed(FillRealistic);
    const caps4& h = *reinterpret_cast<const caps4*>(record.data());
    const std::string size = std::to_string(record.size()), forms = std::to_string(h.dwSizeOfForms);
    Bytes longer = record;
    longer.resize(record.size() + 8);
    const std::pair<Bytes, std::string> cases[] = {
        {record, "ok: ok"},
        {bare, "ok: ok"},
        {Bytes(record.begin(), record.begin() + 400), "400 bytes is shorter than the 412-byte record header"},
        {Bytes(record.begin(), record.end() - 1), "the record says it is " + size + " bytes long but " +
                                                      std::to_string(record.size() - 1) + " bytes are there"},
        {Bytes(600, 'x'), "the first section is said to start at 2021161080 instead of 412 (not a capability record)"},
        {With(record, 408, 1), "dwEnd is 1 instead of 0"},
        {With(record, 400, 51130564), "the forms section holds " + forms + " bytes, too few for 51130564 entries of 84 bytes"},  // 80 bytes in 32 bits
        {With(record, 396, 0x7FFFFFF0), "the forms section (2147483632 bytes at " + std::to_string(h.dwOffsetToForms) +
                                            ") runs past the end of the record (" + size + " bytes)"},
        {With(record, 392, 0xFFFFFFF0),
         "the forms section (" + forms + " bytes at 4294967280) runs past the end of the record (" + size + " bytes)"},
        {With(record, 60, 16), "the resolutions section (16 bytes at 16) overlaps the record header"},
        {With(record, 60, 408), "the resolutions section (16 bytes at 408) overlaps the record header"},
        {With(bare, 24, 1), "the bins section holds 0 bytes, too few for 1 entries of 2 bytes"},
        {With(record, 400, 0xFFFFFFFE), "the forms section holds " + forms + " bytes but a negative count (-2)"},
        // Sections that are not back to back: no record packing lays out.
        {With(record, 72, h.dwOffsetToResolutionsIndexed - 8), "the indexed resolutions section starts at " +
             std::to_string(h.dwOffsetToResolutionsIndexed - 8) + " instead of " + std::to_string(h.dwOffsetToResolutionsIndexed) +
             ", where the section before it ends (an overlap)"},
        {With(With(longer, 0, h.dwSize + 8), 392, h.dwOffsetToForms + 8), "the forms section starts at " +
             std::to_string(h.dwOffsetToForms + 8) + " instead of " + std::to_string(h.dwOffsetToForms) + ", where the section before it ends (a gap)"},
        {With(longer, 0, h.dwSize + 8), "the sections end at " + size + " but the record is " + std::to_string(h.dwSize + 8) +
             " bytes long (a gap at its end)"},
    };
    for (const auto& c : cases) EXPECT_EQ(Why(c.first), c.second);
}

// ------------------------------------------------------------ damage

// Holds bytes so that they end exactly where a PAGE_NOACCESS page begins.
struct GuardedBytes {
    BYTE* base;
    BYTE* data;
    GuardedBytes(const void* bytes, size_t size) {
        const size_t pages = (size + 4095) / 4096 + 1;
        base = static_cast<BYTE*>(::VirtualAlloc(nullptr, pages * 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        ::VirtualProtect(base + (pages - 1) * 4096, 4096, PAGE_NOACCESS, &old);
        data = base + (pages - 1) * 4096 - size;
        if (size) std::memcpy(data, bytes, size);
    }
    ~GuardedBytes() { ::VirtualFree(base, 0, MEM_RELEASE); }
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

TEST(Caps4Damage, HeaderFieldsPointingOutsideTruncationsAndSeededMutationsNeverReadOutside) {
    const Bytes bytes = Packed(FillRealistic);
    const DWORD size = static_cast<DWORD>(bytes.size());
    testsupport::TraceCapture silent;  // writes nothing, but the dumps still read what they would print
    silent.log()->level = -1;
    GuardedBytes probe(bytes.data(), size);  // the guard itself works
    volatile BYTE seen = 0;
    EXPECT_FALSE(platform::Guarded([&] { seen = probe.data[size]; }));
    // dwSize alone decides whether the record loads, and only when the bytes
    // held cover it (the record truncated: rejected whole); a record refused
    // leaves the set as it was. The other header fields are damaged in the
    // seeded rounds below.
    const std::pair<DWORD, size_t> cases[] = {  // dwSize, bytes held
        {size, size - 1}, {size, size / 2}, {size, 412}, {size, 411}, {size, 4}, {size, 3}, {0, size}, {1, size},
        {411, size}, {412, size}, {size - 1, size}, {size, size}, {size + 1, size}, {0x7FFFFFFF, size},
        {0x80000000, size}, {0xFFFFFFFF, size}};
    for (const auto& [value, held] : cases) {
        Set target;
        target.b.dwCopies = 77;
        const bool loaded = UnpackAndDumpGuarded(With(bytes, 0, value), held, &target.b, silent.log());
        EXPECT_EQ(loaded, value >= 412 && value <= held) << value << " in " << held;
        if (!loaded) EXPECT_EQ(target.b.dwCopies, 77u) << value << " in " << held;
        ExpectConsistent(target.b);
    }
    std::mt19937 random(20261205);
    int loaded = 0;
    for (int round = 0; round < 4000; ++round) {
        SCOPED_TRACE(round);
        Bytes damaged = bytes;
        // Any byte, or a header field set near a boundary or to anything.
        const DWORD edges[] = {0, 412, size, size - 2, size + 2, 0xFFFFFFFF, 0x80000000, static_cast<DWORD>(random())};
        for (int c = 1 + static_cast<int>(random() % 4); c > 0; --c) {
            if (random() % 3 == 0) damaged[random() % size] = static_cast<char>(random());
            else PutAt<DWORD>(damaged, (random() % 103) * 4, edges[random() % 8] + static_cast<DWORD>(random() % 5) - 2);
        }
        const size_t held = random() % 8 == 0 ? random() % damaged.size() : damaged.size();
        Set target;
        if (UnpackAndDumpGuarded(damaged, held, &target.b, silent.log())) {
            ++loaded;
            const Bytes again = Pack(target.b);  // whatever loaded packs into a sound record again
            EXPECT_EQ(Repacked(again), again);
        }
        ExpectConsistent(target.b);
        if (HasFailure()) return;
    }
    EXPECT_GT(loaded, 100);  // partial loads are exercised, not only rejections
}

// ------------------------------------------------------------ exports

TEST(Caps4Json, EveryValueComesBackAndFormsAndLowLevelValuesGoByName) {
    Set set;
    FillRealistic(set.b);
    set.b.dwCopies = 0xFFFFFF02;  // negative as a signed number
    std::memset(BinIds(set.b.pBins), 0, set.b.pBins->dwSizeOfBins);  // a bin fetch that failed keeps its bytes
    set.b.pBins->dwNumBins = 0;
    const std::string text = vlibPRINT_Caps4Json(&set.b);
    const json document = json::parse(text);
    std::istringstream names("formNo orientFlag paprI paprW paprL resX resY resNo hsize vsize hres vres logX logY "
                             "aspX aspY aspXY physW physH offX offY");
    int i = 100;
    for (std::string name; names >> name;) EXPECT_EQ(document["forms"][1][name], i++) << name;
    EXPECT_TRUE(document["lowLevel"].size() == 23 && document["lowLevel"]["TextCaps"] == 7021 &&
                document["escapes"]["CHECKJPEGFORMAT"] == 7023 && document["escapes"]["QUERYDIBSUPPORT"] == 7034);
    EXPECT_TRUE(document["dwCopies"] == -254 && text.find("\"Tray 1 \xC3\xA9\"") != text.npos);  // U+00E9 in UTF-8, unescaped

    Set copy;  // read back, it is the same record and says the same again
    ASSERT_TRUE(vlibPRINT_Caps4FromJson(text, &copy.b));
    EXPECT_TRUE(Pack(copy.b) == Pack(set.b) && vlibPRINT_Caps4Json(&copy.b) == text);
}

TEST(Caps4Json, AFormWithoutOneOfItsValuesIsRefusedByName) {
    Set set;
    FillRealistic(set.b);
    json document = json::parse(vlibPRINT_Caps4Json(&set.b));
    document["forms"][1].erase("resNo");  // a measured 0 and a missing value are not the same
    Set copy;
    std::string why;
    EXPECT_FALSE(vlibPRINT_Caps4FromJson(document.dump(), &copy.b, &why));
    EXPECT_TRUE(why.find("\"resNo\"") != why.npos && !copy.b.bFilled) << why;
}

TEST(Caps4Json, ADocumentThatDoesNotFitIsRefusedAndLeavesTheSetEmpty) {
    for (const std::string bad : {"\"dwColor\": \"red\"}", "\"dwColor\": 4294967296}", "\"forms\": [1]}", "\"bins\": 3}",
                                  "\"paperSizes\": [{\"width\": 1}]}", "\"binNames\": [\"abcdefghijklmnopqrstuvw\U0001F600\"]}", "[9]",
                                  "\"bins\": [65536]}", "\"mediaTypes\": [-1]}", "\"dwCopies\": -2147483649}", "\"nup\": [18446744073709551615]}",
                                  "\"colour\": 1}", "\"forms\": [{\"logx\": 1}]}", "\"schemaVersion\": 2}",
                                  "\"reserved\": {\"bins\": {\"count\": 0, \"bytes\": 0, \"x\": 1}}}",
                                  // count and bytes that disagree with each other or with the list
                                  "\"reserved\": {\"papers\": {\"count\": 2, \"bytes\": 4}}}", "\"reserved\": {\"papers\": {\"count\": -1, \"bytes\": 2}}}",
                                  "\"reserved\": {\"papers\": {\"count\": 1, \"bytes\": 0}}}", "\"reserved\": {\"papers\": {\"count\": 0, \"bytes\": 2}}}"}) {
        Set set;
        EXPECT_FALSE(vlibPRINT_Caps4FromJson("{\"papers\": [9], " + bad, &set.b)) << bad;
        EXPECT_TRUE(!set.b.bFilled && !set.b.pPapers && !set.b.pLowLevel) << bad;
    }
    Set set;  // the entry is named
    std::string why;
    EXPECT_FALSE(vlibPRINT_Caps4FromJson(R"({"papers": [1], "reserved": {"paperNames": {"count": 5, "bytes": 0}}})", &set.b, &why));
    EXPECT_EQ(why, "reserved paperNames: count 5 does not fit its 0 bytes");
    Set edge;  // the values at either end of each kind are taken
    EXPECT_TRUE(vlibPRINT_Caps4FromJson(R"({"bins": [65535], "mediaTypes": [4294967295], "dwCopies": -2147483648, "dwColor": 4294967295})",
                                        &edge.b) && edge.b.dwCopies == 0x80000000 && edge.b.dwColor == 0xFFFFFFFF);
}

}  // namespace
