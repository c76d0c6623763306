// The capability record: layout, round trips, unpacking over an existing
// set, the dumps, and damaged records read under a guard page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fake/fake_print_system.h"
#include "platform/guard.h"
#include "platform/kernel.h"
#include "printer/printer.h"
#include "records/caps4.h"
#include "records/caps4_check.h"
#include "records/caps4_layout.h"
#include "trace_capture.h"

namespace {

using Bytes = std::vector<BYTE>;

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
// papers at two resolutions, every scalar a value of its own; the blocks laid
// out as the queries lay them out (names first, unpacking puts them last).
void FillRealistic(QueryBuffers& b) {
    fake::FakePrintSystem fake;
    fake.SetVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600, L"");
    fake::FakePrinter& p = fake.AddPrinter(L"P");
    p.SetBins({{DMBIN_AUTO, L"Automatically Select"}, {DMBIN_UPPER, L"Tray 1"}, {DMBIN_MANUAL, L"Manual Feed"}});
    p.SetMedia({{1, L"Plain"}, {2, L"Transparency"}, {3, L"Glossy"}});
    p.SetNames(DC_MEDIATYPENAMES, kMediaNameChars, {L"Plain", L"Transparency"});
    p.SetPapers({{1, L"Letter", 2000, 2800}, {2, L"A4", 2001, 2801}, {3, L"Legal", 2002, 2802}});
    p.SetNames(DC_FILEDEPENDENCIES, kFileNameChars, {L"fake1.dll", L"fake2.dat"});
    p.SetNames(DC_MEDIAREADY, kMediaReadyChars, {L"Letter"});
    p.SetValues(DC_NUP, {1, 2, 4});
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

Bytes Pack(const QueryBuffers& b) {
    caps4* record = vlibPRINT_PackCaps4(&b);
    Bytes bytes(reinterpret_cast<BYTE*>(record), reinterpret_cast<BYTE*>(record) + record->dwSize);
    platform::HeapFreeBlock(record);
    return bytes;
}

bool Unpack(QueryBuffers& b, const Bytes& bytes) {
    return vlibPRINT_UnpackCaps4(&b, reinterpret_cast<const caps4*>(bytes.data()), bytes.size());
}

DWORD Field(const Bytes& bytes, size_t offset) { return *reinterpret_cast<const DWORD*>(bytes.data() + offset); }
void SetField(Bytes& bytes, size_t offset, DWORD value) { std::memcpy(bytes.data() + offset, &value, 4); }

// The sections of the record in their order, with the element widths.
struct RecordSection { size_t offset, size, count; DWORD width; };
#define SEC(stem, width) {offsetof(caps4, dwOffsetTo##stem), offsetof(caps4, dwSizeOf##stem), offsetof(caps4, dwNum##stem), width}
const RecordSection kSections[] = {SEC(BinNames, 48), SEC(Bins, 2),        SEC(Resolutions, 8),     SEC(ResolutionsIndexed, 8),
                                   SEC(Files, 128),   SEC(MediaReady, 128), SEC(MediaTypeNames, 128), SEC(MediaTypes, 4),
                                   SEC(NUP, 4),       SEC(PaperNames, 128), SEC(Papers, 2),          SEC(PaperSize, 8),
                                   SEC(Personality, 64), SEC(Forms, 84)};

// Invariants every unpacked set keeps, whatever the record was: every listed
// entry lies inside its block.
void ExpectConsistent(const QueryBuffers& b) {
#define KV_CONSISTENT(stem, width)                                                                              \
    EXPECT_LE(uint64_t{static_cast<DWORD>(std::max<LONG>(0, static_cast<LONG>(b.dwNum##stem)))} * width,          \
              uint64_t{b.dwSizeOf##stem}) << #stem;                                                                \
    EXPECT_EQ(b.p##stem != nullptr, b.dwSizeOf##stem != 0) << #stem;
    KV_CONSISTENT(Resolutions, 8) KV_CONSISTENT(ResolutionsIndexed, 8) KV_CONSISTENT(Files, 128)
    KV_CONSISTENT(MediaReady, 128) KV_CONSISTENT(NUP, 4) KV_CONSISTENT(Personality, 64) KV_CONSISTENT(Forms, 84)
#undef KV_CONSISTENT
    if (const PaperBuffer* p = b.pPapers) EXPECT_EQ(p->dwSize, 40 + p->dwSizeOfPapers + p->dwSizeOfPaperNames + p->dwSizeOfPaperSize);
    if (b.bFilled) EXPECT_NE(b.pLowLevel, nullptr);
}

// ------------------------------------------------------------ layout

TEST(Caps4Layout, AllAbsentAndRealisticRecords) {
    Set empty, full;
    FillEmpty(empty.b);
    Bytes bytes = Pack(empty.b);
    ASSERT_EQ(bytes.size(), 412u);  // dwSize 412
    for (const RecordSection& s : kSections) EXPECT_EQ(Field(bytes, s.offset), 412u) << s.offset;
    EXPECT_EQ(Field(bytes, offsetof(caps4, dwEnd)), 0u);

    FillRealistic(full.b);
    bytes = Pack(full.b);
    const caps4& h = *reinterpret_cast<const caps4*>(bytes.data());
    DWORD next = 412;
    for (const RecordSection& s : kSections) {
        EXPECT_EQ(Field(bytes, s.offset), next) << s.offset;
        EXPECT_EQ(Field(bytes, s.size), Field(bytes, s.count) * s.width) << s.offset;
        next += Field(bytes, s.size);
    }
    EXPECT_EQ(h.dwSize, next);
    EXPECT_EQ(h.dwEnd, 0u);
#define KV_CHECK(field) EXPECT_EQ(h.field, full.b.field) << #field;
    KV_SCALARS(KV_CHECK)
#undef KV_CHECK
    EXPECT_EQ(0, std::memcmp(bytes.data() + 252, full.b.pLowLevel, 140));
    // The counts of media type names and media types travel apart.
    EXPECT_EQ(h.dwNumMediaTypeNames * 10 + h.dwNumMediaTypes, 23u);
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
        void*& block = *reinterpret_cast<void**>(reinterpret_cast<BYTE*>(&set.b) + c.member);
        platform::HeapFreeBlock(block);
        block = nullptr;
        const Bytes bytes = Pack(set.b);
        const DWORD start = c.first ? Field(bytes, kSections[c.first - 1].offset) + Field(bytes, kSections[c.first - 1].size) : 412;
        for (size_t i = c.first; i <= c.last + 1; ++i) EXPECT_EQ(Field(bytes, kSections[i].offset), start) << i;
        for (size_t i = c.first; i <= c.last; ++i) EXPECT_EQ(Field(bytes, kSections[i].size) + Field(bytes, kSections[i].count), 0u);
    }
}

// ------------------------------------------------------------ round trips and unpacking

TEST(Caps4RoundTrip, PackUnpackPackGivesTheSameBytes) {
    Set realistic, defaults;
    FillRealistic(realistic.b);
    CPrinter nobody(nullptr, L"", 2, 0);  // no printer information: the queries ask for a null name
    Query(nobody, TRUE, defaults.b);
    ASSERT_GT(defaults.b.dwNumForms, 0u);
    for (const Set* set : {&realistic, &defaults}) {
        const Bytes first = Pack(set->b);
        Set loaded;
        ASSERT_TRUE(Unpack(loaded.b, first));
        ExpectConsistent(loaded.b);
        EXPECT_EQ(Pack(loaded.b), first);
    }
}

// A list whose fetch failed keeps its space with count 0; a record from
// elsewhere may carry a negative count with size 0. Both load back, list
// nothing, warn about nothing, pass the check and pack into the same bytes.
TEST(Caps4RoundTrip, DroppedAndNegativeCountsLoadBackUnchanged) {
    Set set;
    FillRealistic(set.b);
    const Bytes sound = Pack(set.b);
    for (int k = 0; k < kCaps4SectionCount; ++k) {
        const SectionLayout<caps4>& layout = kCaps4Layout[k];
        for (const bool negative : {false, true}) {
            SCOPED_TRACE(testing::Message() << testsupport::Narrow(layout.name) << (negative ? " negative" : " dropped"));
            Bytes first = sound;
            caps4& h = *reinterpret_cast<caps4*>(first.data());
            if (negative) {  // the section's bytes stay in the record, unreferenced: pack once to lose them
                h.*layout.count = 0xFFFFFFFF;
                h.*layout.size = 0;
                Set loaded;
                ASSERT_TRUE(Unpack(loaded.b, first));
                first = Pack(loaded.b);
            } else {
                h.*layout.count = 0;
            }
            WCHAR why[256] = {};
            EXPECT_TRUE(vlibPRINT_CheckCaps4(first.data(), first.size(), why, 256)) << testsupport::Narrow(why);
            Set loaded;
            ASSERT_TRUE(Unpack(loaded.b, first));
            ExpectConsistent(loaded.b);
            const Bytes again = Pack(loaded.b);
            // A list block whose every list is empty is dropped whole, and an
            // empty array keeps no count: only there may a negative count go.
            const caps4& back = *reinterpret_cast<const caps4*>(again.data());
            if (!negative || back.*layout.count == 0xFFFFFFFF) EXPECT_EQ(again, first);
            if (!negative) EXPECT_EQ(back.*layout.size, reinterpret_cast<const caps4*>(sound.data())->*layout.size);
            testsupport::TraceCapture trace;
            LogCaps4(trace.log(), reinterpret_cast<const caps4*>(first.data()), first.size());
            for (const std::string& line : trace.Lines()) EXPECT_EQ(line.find("WARNING"), std::string::npos) << line;
        }
    }
}

// Bytes of the process heap in use.
size_t HeapBusyBytes() {
    size_t busy = 0;
    PROCESS_HEAP_ENTRY entry{};
    while (::HeapWalk(::GetProcessHeap(), &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
    return busy;
}

TEST(Caps4Unpack, OverAFilledSetOnlyTheRecordRemainsAndSizeZeroIsIgnored) {
    Set empty, target;
    FillEmpty(empty.b);
    FillRealistic(target.b);
    const Bytes small = Pack(empty.b), large = Pack(target.b);
    Bytes zero = large;
    SetField(zero, 0, 0);  // the rest of the header stays as it was
    const QueryBuffers saved = target.b;
    EXPECT_FALSE(Unpack(target.b, zero));
    EXPECT_EQ(0, std::memcmp(&saved, &target.b, sizeof(saved)));
    ASSERT_TRUE(Unpack(target.b, small));
    EXPECT_EQ(target.b.pBins, nullptr);
    EXPECT_EQ(target.b.dwCopies, 0u);
    // Keeping the old blocks would grow the heap by 200 times the record.
    ASSERT_TRUE(Unpack(target.b, large));
    const size_t before = HeapBusyBytes();
    for (int i = 0; i < 200; ++i) Unpack(target.b, large);
    EXPECT_LT(HeapBusyBytes(), before + 10 * large.size());
}

TEST(Caps4Dump, CountsOfZeroListNothing) {
    Set set;
    FillRealistic(set.b);
    const struct { size_t num, size; std::string after, next; } cases[] = {
        // No forms: the heading and no rows.
        {offsetof(caps4, dwNumForms), offsetof(caps4, dwSizeOfForms),
         "[paprI,paprW,paprL][ resX, resY, aspX, aspY,aspXY][ logX, logY][hsize,vsize, hres, vres,physW,physH, offX, offY] ",
         "dwAnsiOnly: 123"},
        // Bin count 0 with the names still there: no bin lines.
        {offsetof(caps4, dwNumBins), offsetof(caps4, dwSizeOfBins), "dwNumBins: 0", "dwCollate: 100"},
    };
    for (const auto& c : cases) {
        Bytes bytes = Pack(set.b);
        SetField(bytes, c.num, 0);
        SetField(bytes, c.size, 0);
        testsupport::TraceCapture trace;
        LogCaps4(trace.log(), reinterpret_cast<const caps4*>(bytes.data()));
        const auto lines = trace.Lines();
        const auto at = std::find(lines.begin(), lines.end(), c.after);
        ASSERT_LT(at + 1, lines.end()) << c.after;
        EXPECT_EQ(at[1], c.next);
    }
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

TEST(Caps4Damage, HeaderFieldsPointingOutsideTruncationsAndSeededMutationsNeverReadOutside) {
    Set source;
    FillRealistic(source.b);
    const Bytes bytes = Pack(source.b);
    const DWORD size = static_cast<DWORD>(bytes.size());
    SilentLog silent;
    GuardedBytes probe(bytes.data(), size);  // the guard itself works
    volatile BYTE seen = 0;
    EXPECT_FALSE(platform::Guarded([&] { seen = probe.data[size]; }));
    // Fewer bytes held than dwSize says: rejected whole, the set stays as it was.
    for (size_t held : {size_t{size} - 1, size_t{size} / 2, size_t{412}, size_t{411}, size_t{4}, size_t{3}}) {
        Set target;
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
    std::mt19937 random(20261205);
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

}  // namespace
