// The capability record: layout, round trips, unpacking over an existing
// set, the dumps, and damaged records read under a guard page.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "platform/guard.h"
#include "platform/kernel.h"
#include "devcaps/list_queries.h"
#include "devcaps/lowlevel_query.h"
#include "devcaps/named_lists.h"
#include "devcaps/scalar_queries.h"
#include "records/caps4.h"
#include "support/temp_dir.h"

namespace {

using testsupport::ReadLogLines;
using testsupport::TempDir;

// Points LibraryLog at a fresh log file for the scope.
class LibraryLogScope {
public:
    LibraryLogScope() : path_(dir_.File(L"caps.log")), log_(TraceLogCreate(path_.c_str(), 0)) { LibraryLog = log_; }
    ~LibraryLogScope() {
        LibraryLog = nullptr;
        TraceLogDestroy(log_);
    }
    TraceLog* log() const { return log_; }
    std::vector<std::string> Lines() const { return ReadLogLines(path_); }
    bool Has(const std::string& line) const {
        for (const auto& l : Lines())
            if (l == line) return true;
        return false;
    }
    int Count(const std::string& prefix) const {
        int n = 0;
        for (const auto& l : Lines())
            if (l.rfind(prefix, 0) == 0) ++n;
        return n;
    }

private:
    TempDir dir_;
    std::wstring path_;
    TraceLog* log_;
};

// ------------------------------------------------------------ building sets

template <class T>
T* HeapCopy(const void* data, size_t bytes) {
    T* block = platform::HeapAllocZeroAs<T>(bytes);
    std::memcpy(block, data, bytes);
    return block;
}

void PutName(std::vector<BYTE>& out, const std::wstring& name, size_t chars) {
    std::vector<WCHAR> slot(chars, 0);
    for (size_t i = 0; i < name.size() && i < chars; ++i) slot[i] = name[i];
    const BYTE* bytes = reinterpret_cast<const BYTE*>(slot.data());
    out.insert(out.end(), bytes, bytes + chars * sizeof(WCHAR));
}

template <class T>
void PutValue(std::vector<BYTE>& out, T value) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

// The lists are laid out the way the queries lay them out (names before
// numbers), not the way unpacking does, so readers must follow the offsets.
BinBuffer* MakeBins(const std::vector<std::pair<WORD, std::wstring>>& bins) {
    std::vector<BYTE> names, ids;
    for (const auto& b : bins) {
        PutName(names, b.second, kBinNameChars);
        PutValue<WORD>(ids, b.first);
    }
    std::vector<BYTE> block(sizeof(BinBuffer));
    BinBuffer h{};
    h.dwNumBinNames = static_cast<DWORD>(bins.size());
    h.dwSizeOfBinNames = static_cast<DWORD>(names.size());
    h.dwOffsetToBinNames = sizeof(BinBuffer);
    h.dwNumBins = static_cast<DWORD>(bins.size());
    h.dwSizeOfBins = static_cast<DWORD>(ids.size());
    h.dwOffsetToBins = static_cast<DWORD>(sizeof(BinBuffer) + names.size());
    block.insert(block.end(), names.begin(), names.end());
    block.insert(block.end(), ids.begin(), ids.end());
    h.dwSize = static_cast<DWORD>(block.size());
    std::memcpy(block.data(), &h, sizeof(h));
    return HeapCopy<BinBuffer>(block.data(), block.size());
}

MediaBuffer* MakeMedia(const std::vector<DWORD>& types, const std::vector<std::wstring>& names) {
    std::vector<BYTE> n, t;
    for (const auto& name : names) PutName(n, name, kMediaNameChars);
    for (DWORD type : types) PutValue<DWORD>(t, type);
    std::vector<BYTE> block(sizeof(MediaBuffer));
    MediaBuffer h{};
    h.dwNumMediaTypeNames = static_cast<DWORD>(names.size());
    h.dwSizeOfMediaTypeNames = static_cast<DWORD>(n.size());
    h.dwOffsetToMediaTypeNames = sizeof(MediaBuffer);
    h.dwNumMediaTypes = static_cast<DWORD>(types.size());
    h.dwSizeOfMediaTypes = static_cast<DWORD>(t.size());
    h.dwOffsetToMediaTypes = static_cast<DWORD>(sizeof(MediaBuffer) + n.size());
    block.insert(block.end(), n.begin(), n.end());
    block.insert(block.end(), t.begin(), t.end());
    h.dwSize = static_cast<DWORD>(block.size());
    std::memcpy(block.data(), &h, sizeof(h));
    return HeapCopy<MediaBuffer>(block.data(), block.size());
}

struct TestPaper {
    WORD id;
    std::wstring name;
    LONG width, length;
};

PaperBuffer* MakePapers(const std::vector<TestPaper>& papers) {
    std::vector<BYTE> names, sizes, ids;
    for (const auto& p : papers) {
        PutName(names, p.name, kPaperNameChars);
        PutValue<LONG>(sizes, p.width);
        PutValue<LONG>(sizes, p.length);
        PutValue<WORD>(ids, p.id);
    }
    std::vector<BYTE> block(sizeof(PaperBuffer));
    PaperBuffer h{};
    const DWORD n = static_cast<DWORD>(papers.size());
    h.dwNumPaperNames = n;
    h.dwSizeOfPaperNames = static_cast<DWORD>(names.size());
    h.dwOffsetToPaperNames = sizeof(PaperBuffer);
    h.dwNumPaperSize = n;
    h.dwSizeOfPaperSize = static_cast<DWORD>(sizes.size());
    h.dwOffsetToPaperSize = h.dwOffsetToPaperNames + h.dwSizeOfPaperNames;
    h.dwNumPapers = n;
    h.dwSizeOfPapers = static_cast<DWORD>(ids.size());
    h.dwOffsetToPapers = h.dwOffsetToPaperSize + h.dwSizeOfPaperSize;
    block.insert(block.end(), names.begin(), names.end());
    block.insert(block.end(), sizes.begin(), sizes.end());
    block.insert(block.end(), ids.begin(), ids.end());
    h.dwSize = static_cast<DWORD>(block.size());
    std::memcpy(block.data(), &h, sizeof(h));
    return HeapCopy<PaperBuffer>(block.data(), block.size());
}

template <class T>
void SetArray(const std::vector<T>& values, T** pointer, DWORD* count, DWORD* size) {
    *count = static_cast<DWORD>(values.size());
    *size = static_cast<DWORD>(values.size() * sizeof(T));
    *pointer = values.empty() ? nullptr : HeapCopy<T>(values.data(), *size);
}

void SetNames(const std::vector<std::wstring>& names, size_t chars, WCHAR** pointer, DWORD* count, DWORD* size) {
    std::vector<BYTE> bytes;
    for (const auto& n : names) PutName(bytes, n, chars);
    *count = static_cast<DWORD>(names.size());
    *size = static_cast<DWORD>(bytes.size());
    *pointer = bytes.empty() ? nullptr : HeapCopy<WCHAR>(bytes.data(), bytes.size());
}

std::wstring PaperName(size_t i) {
    static const WCHAR* known[] = {L"Letter", L"A4", L"Legal"};
    return i < 3 ? known[i] : L"Paper " + std::to_wstring(i);
}

// Owns a QueryBuffers and frees it at the end of the scope.
struct Set {
    QueryBuffers b{};
    Set() = default;
    Set(const Set&) = delete;
    Set& operator=(const Set&) = delete;
    ~Set() { vlibPRINT_FreeQueryBuffers(&b); }
};

// A set as a printer's query gives it: every list present, forms for every
// paper at every true resolution.
void FillRealistic(QueryBuffers& b, size_t paperCount = 3, size_t resolutionCount = 2) {
    b.bFilled = 1;
    b.pBins = MakeBins({{DMBIN_AUTO, L"Automatically Select"}, {DMBIN_UPPER, L"Tray 1"}, {DMBIN_MANUAL, L"Manual Feed"}});
    b.dwCollate = 1;
    b.dwColor = 1;
    b.dwCopies = 999;
    b.dwDriver = 0x0300;
    b.dwDatatype = 3;
    b.dwDuplex = 1;
    b.dwEMF = 1;
    b.dwIndexedResolutionsOnly = 0;
    std::vector<ResolutionPair> res;
    for (size_t i = 0; i < resolutionCount; ++i) res.push_back({static_cast<LONG>(300 << i), static_cast<LONG>(300 << i)});
    SetArray(res, &b.pResolutions, &b.dwNumResolutions, &b.dwSizeOfResolutions);
    SetArray(std::vector<ResolutionPair>{{150, 150}, {300, 300}, {600, 600}, {1200, 1200}}, &b.pResolutionsIndexed,
             &b.dwNumResolutionsIndexed, &b.dwSizeOfResolutionsIndexed);
    b.dwExtra = 64;
    b.dwFields = 0x0181FF1F;
    SetNames({L"fake1.dll", L"fake2.dat"}, kFileNameChars, &b.pFiles, &b.dwNumFiles, &b.dwSizeOfFiles);
    b.dwManufacturer = 1;
    b.dwMaxExtent = MAKELONG(2159, 3556);
    SetNames({L"Letter"}, kMediaReadyChars, &b.pMediaReady, &b.dwNumMediaReady, &b.dwSizeOfMediaReady);
    // Three media types but only two names: the counts travel apart.
    b.pMedias = MakeMedia({DMMEDIA_STANDARD, DMMEDIA_TRANSPARENCY, DMMEDIA_GLOSSY}, {L"Plain", L"Transparency"});
    b.dwMinExtent = MAKELONG(762, 1270);
    b.dwModel = 1;
    b.dwOrientation = 90;
    SetArray(std::vector<DWORD>{1, 2, 4}, &b.pNUP, &b.dwNumNUP, &b.dwSizeOfNUP);
    std::vector<TestPaper> papers;
    for (size_t i = 0; i < paperCount; ++i)
        papers.push_back({static_cast<WORD>(i + 1), PaperName(i), static_cast<LONG>(2000 + i), static_cast<LONG>(2800 + i)});
    b.pPapers = MakePapers(papers);
    SetNames({L"PCL", L"PostScript"}, kPersonalityChars, &b.pPersonality, &b.dwNumPersonality, &b.dwSizeOfPersonality);
    b.dwPrinterMem = 65536;
    b.dwPrintRate = 20;
    b.dwPrintRatePPM = 20;
    b.dwPrintRateUnit = 1;
    b.dwDevModeSize = 220;
    b.dwStaple = 1;
    b.dwTrueType = 7;
    b.dwVersion = 0x0401;
    std::vector<FormEntry> forms;
    for (size_t p = 0; p < paperCount; ++p)
        for (size_t r = 0; r < resolutionCount; ++r) {
            FormEntry f{};
            LONG* v = reinterpret_cast<LONG*>(&f);
            for (int k = 0; k < 21; ++k) v[k] = static_cast<LONG>(p * 1000 + r * 100 + k);
            forms.push_back(f);
        }
    SetArray(forms, &b.pForms, &b.dwNumForms, &b.dwSizeOfForms);
    b.pLowLevel = platform::HeapAllocZeroAs<LowLevelCaps>(sizeof(LowLevelCaps));
    LONG* low = reinterpret_cast<LONG*>(b.pLowLevel);
    for (int k = 0; k < 35; ++k) low[k] = 7000 + k;
    b.dwAnsiOnly = 1;
}

// A filled set with nothing in it but the low-level block.
void FillEmpty(QueryBuffers& b) {
    b.bFilled = 1;
    b.pLowLevel = platform::HeapAllocZeroAs<LowLevelCaps>(sizeof(LowLevelCaps));
}

// What the capability queries give for a printer name of null: their
// built-in defaults (default paper and bin tables, default scalars, the
// default low-level record, empty named lists, no media). The resolution
// lists and the forms table come from queries built elsewhere; they are
// filled here as those queries answer for defaults: the four default
// resolutions in both lists and one form per paper and resolution.
void FillFromNullNameQueries(QueryBuffers& b) {
    b.bFilled = 1;
    b.pBins = vlibPRINT_QueryDevCap_Bins(nullptr, nullptr, nullptr);
    b.dwCollate = vlibPRINT_QueryDevCap_Collate(nullptr, nullptr, nullptr);
    b.dwCopies = vlibPRINT_QueryDevCap_Copies(nullptr, nullptr, nullptr);
    b.dwDriver = vlibPRINT_QueryDevCap_Driver(nullptr, nullptr, nullptr);
    b.dwDuplex = vlibPRINT_QueryDevCap_Duplex(nullptr, nullptr, nullptr);
    b.dwExtra = vlibPRINT_QueryDevCap_Extra(nullptr, nullptr, nullptr);
    b.dwFields = vlibPRINT_QueryDevCap_Fields(nullptr, nullptr, nullptr);
    b.pFiles = vlibPRINT_QueryDevCap_Files(nullptr, nullptr, nullptr, &b.dwNumFiles, &b.dwSizeOfFiles);
    b.dwMaxExtent = vlibPRINT_QueryDevCap_MaxExtent(nullptr, nullptr, nullptr);
    b.dwMinExtent = vlibPRINT_QueryDevCap_MinExtent(nullptr, nullptr, nullptr);
    b.dwOrientation = vlibPRINT_QueryDevCap_Orientation(nullptr, nullptr, nullptr);
    b.dwDevModeSize = vlibPRINT_QueryDevCap_Size(nullptr, nullptr, nullptr);
    b.dwTrueType = vlibPRINT_QueryDevCap_TrueType(nullptr, nullptr, nullptr);
    b.dwVersion = vlibPRINT_QueryDevCap_Version(nullptr, nullptr, nullptr);
    b.dwColor = vlibPRINT_QueryDevCap_Color(nullptr, nullptr, nullptr);
    b.pNUP = vlibPRINT_QueryDevCap_NUP(nullptr, nullptr, nullptr, &b.dwNumNUP, &b.dwSizeOfNUP);
    b.pPersonality =
        vlibPRINT_QueryDevCap_Personality(nullptr, nullptr, nullptr, &b.dwNumPersonality, &b.dwSizeOfPersonality);
    b.dwPrinterMem = vlibPRINT_QueryDevCap_PrinterMem(nullptr, nullptr, nullptr);
    b.dwPrintRate = vlibPRINT_QueryDevCap_PrintRate(nullptr, nullptr, nullptr);
    b.dwPrintRatePPM = vlibPRINT_QueryDevCap_PrintRatePPM(nullptr, nullptr, nullptr);
    b.dwPrintRateUnit = vlibPRINT_QueryDevCap_PrintRateUnit(nullptr, nullptr, nullptr);
    b.dwStaple = vlibPRINT_QueryDevCap_Staple(nullptr, nullptr, nullptr);
    b.pMediaReady =
        vlibPRINT_QueryDevCap_MediaReady(nullptr, nullptr, nullptr, &b.dwNumMediaReady, &b.dwSizeOfMediaReady);
    b.pMedias = vlibPRINT_QueryDevCap_Medias(nullptr, nullptr, nullptr);
    b.dwDatatype = vlibPRINT_QueryDevCap_Datatype(nullptr, nullptr, nullptr);
    b.dwEMF = vlibPRINT_QueryDevCap_EMF(nullptr, nullptr, nullptr);
    b.dwManufacturer = vlibPRINT_QueryDevCap_Manufacturer(nullptr, nullptr, nullptr);
    b.dwModel = vlibPRINT_QueryDevCap_Model(nullptr, nullptr, nullptr);
    b.pPapers = vlibPRINT_QueryDevCap_Papers(nullptr, nullptr, nullptr);
    const std::vector<ResolutionPair> defaults = {{150, 150}, {300, 300}, {600, 600}, {1200, 1200}};
    SetArray(defaults, &b.pResolutions, &b.dwNumResolutions, &b.dwSizeOfResolutions);
    SetArray(defaults, &b.pResolutionsIndexed, &b.dwNumResolutionsIndexed, &b.dwSizeOfResolutionsIndexed);
    std::vector<FormEntry> forms;
    if (b.pPapers) {
        const BYTE* block = reinterpret_cast<const BYTE*>(b.pPapers);
        for (DWORD r = 0; r < defaults.size(); ++r)
            for (DWORD p = 0; p < b.pPapers->dwNumPapers; ++p) {
                FormEntry f{};
                WORD id = 0;
                PaperSize size{};
                std::memcpy(&id, block + b.pPapers->dwOffsetToPapers + p * kPaperIdBytes, sizeof(id));
                std::memcpy(&size, block + b.pPapers->dwOffsetToPaperSize + p * kPaperSizeBytes, sizeof(size));
                f.formNo = static_cast<LONG>(forms.size());
                f.paprI = id;
                f.paprW = size.width;
                f.paprL = size.length;
                f.resX = defaults[r].x;
                f.resY = defaults[r].y;
                f.resNo = static_cast<LONG>(r);
                f.physW = size.width * defaults[r].x / 254;
                f.physH = size.length * defaults[r].y / 254;
                forms.push_back(f);
            }
    }
    SetArray(forms, &b.pForms, &b.dwNumForms, &b.dwSizeOfForms);
    b.pLowLevel = vlibPRINT_QueryDevCap_LowLevel(nullptr, nullptr, nullptr);
}

// A packed record as bytes.
std::vector<BYTE> Pack(const QueryBuffers& b) {
    caps4* record = vlibPRINT_PackCaps4(&b);
    if (!record) return {};
    std::vector<BYTE> bytes(reinterpret_cast<BYTE*>(record), reinterpret_cast<BYTE*>(record) + record->dwSize);
    platform::HeapFreeBlock(record);
    return bytes;
}

caps4 Header(const std::vector<BYTE>& bytes) {
    caps4 h{};
    std::memcpy(&h, bytes.data(), sizeof(h));
    return h;
}

void SetField(std::vector<BYTE>& bytes, size_t offset, DWORD value) { std::memcpy(bytes.data() + offset, &value, 4); }

// ------------------------------------------------------------ guard page

// Holds bytes so that they end exactly where a PAGE_NOACCESS page begins:
// any read past the end faults.
class GuardedBytes {
public:
    explicit GuardedBytes(const std::vector<BYTE>& bytes) { Place(bytes.data(), bytes.size()); }
    GuardedBytes(const BYTE* data, size_t size) { Place(data, size); }
    ~GuardedBytes() { ::VirtualFree(base_, 0, MEM_RELEASE); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    const caps4* record() const { return reinterpret_cast<const caps4*>(data_); }
    const caps2* record2() const { return reinterpret_cast<const caps2*>(data_); }
    size_t size() const { return size_; }

private:
    void Place(const BYTE* data, size_t size) {
        const size_t page = 4096;
        const size_t pages = (size + page - 1) / page + 1;
        base_ = static_cast<BYTE*>(::VirtualAlloc(nullptr, pages * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        ::VirtualProtect(base_ + (pages - 1) * page, page, PAGE_NOACCESS, &old);
        data_ = base_ + (pages - 1) * page - size;
        if (size) std::memcpy(data_, data, size);
        size_ = size;
    }
    BYTE* base_ = nullptr;
    BYTE* data_ = nullptr;
    size_t size_ = 0;
};

// A null logger that still makes the dumps read everything they would print.
struct SilentLog {
    TraceLog* log;
    SilentLog() : log(TraceLogCreate(L"NUL", 0)) { log->level = -1; }
    ~SilentLog() { TraceLogDestroy(log); }
};

// Checks the invariants every unpacked set keeps, whatever the record was.
void ExpectConsistent(const QueryBuffers& b) {
    auto array = [](const void* p, DWORD count, DWORD size, DWORD width, const char* what) {
        if (!p) {
            EXPECT_EQ(count, 0u) << what;
            EXPECT_EQ(size, 0u) << what;
        } else {
            EXPECT_EQ(static_cast<unsigned long long>(size), static_cast<unsigned long long>(count) * width) << what;
            EXPECT_GT(size, 0u) << what;
        }
    };
    array(b.pResolutions, b.dwNumResolutions, b.dwSizeOfResolutions, kResolutionBytes, "resolutions");
    array(b.pResolutionsIndexed, b.dwNumResolutionsIndexed, b.dwSizeOfResolutionsIndexed, kResolutionBytes, "indexed");
    array(b.pFiles, b.dwNumFiles, b.dwSizeOfFiles, kFileNameBytes, "files");
    array(b.pMediaReady, b.dwNumMediaReady, b.dwSizeOfMediaReady, kMediaReadyBytes, "media ready");
    array(b.pNUP, b.dwNumNUP, b.dwSizeOfNUP, kNupBytes, "nup");
    array(b.pPersonality, b.dwNumPersonality, b.dwSizeOfPersonality, kPersonalityBytes, "personality");
    array(b.pForms, b.dwNumForms, b.dwSizeOfForms, kFormBytes, "forms");
    if (b.pBins) {
        EXPECT_EQ(b.pBins->dwSize, sizeof(BinBuffer) + b.pBins->dwSizeOfBins + b.pBins->dwSizeOfBinNames);
        EXPECT_EQ(b.pBins->dwSizeOfBins, b.pBins->dwNumBins * kBinIdBytes);
        EXPECT_EQ(b.pBins->dwSizeOfBinNames, b.pBins->dwNumBinNames * kBinNameBytes);
        EXPECT_LE(b.pBins->dwOffsetToBinNames + b.pBins->dwSizeOfBinNames, b.pBins->dwSize);
    }
    if (b.pMedias) {
        EXPECT_EQ(b.pMedias->dwSize, sizeof(MediaBuffer) + b.pMedias->dwSizeOfMediaTypes + b.pMedias->dwSizeOfMediaTypeNames);
        EXPECT_EQ(b.pMedias->dwSizeOfMediaTypes, b.pMedias->dwNumMediaTypes * kMediaIdBytes);
        EXPECT_EQ(b.pMedias->dwSizeOfMediaTypeNames, b.pMedias->dwNumMediaTypeNames * kMediaNameBytes);
    }
    if (b.pPapers) {
        EXPECT_EQ(b.pPapers->dwSize, sizeof(PaperBuffer) + b.pPapers->dwSizeOfPapers + b.pPapers->dwSizeOfPaperNames +
                                         b.pPapers->dwSizeOfPaperSize);
        EXPECT_LE(b.pPapers->dwOffsetToPaperSize + b.pPapers->dwSizeOfPaperSize, b.pPapers->dwSize);
    }
    if (b.bFilled) EXPECT_NE(b.pLowLevel, nullptr);
}

// ------------------------------------------------------------ layout

TEST(Caps4Layout, AllAbsentPrinterPacksToTheHeaderAlone) {
    LibraryLogScope trace;
    Set set;
    FillEmpty(set.b);
    const std::vector<BYTE> bytes = Pack(set.b);
    ASSERT_EQ(bytes.size(), 412u);
    const caps4 h = Header(bytes);
    EXPECT_EQ(h.dwSize, 412u);
    for (DWORD offset : {h.dwOffsetToBinNames, h.dwOffsetToBins, h.dwOffsetToResolutions, h.dwOffsetToResolutionsIndexed,
                         h.dwOffsetToFiles, h.dwOffsetToMediaReady, h.dwOffsetToMediaTypeNames, h.dwOffsetToMediaTypes,
                         h.dwOffsetToNUP, h.dwOffsetToPaperNames, h.dwOffsetToPapers, h.dwOffsetToPaperSize,
                         h.dwOffsetToPersonality, h.dwOffsetToForms})
        EXPECT_EQ(offset, 412u);
    EXPECT_EQ(h.dwEnd, 0u);

    // The three missing-list lines, in order, before the size line.
    const auto lines = trace.Lines();
    std::vector<std::string> expected = {
        "CPrinter::SerializeCaps4 => storing caps to serial structure",
        "CPrinter::SerializeCaps4 => missing bin information for the caps!",
        "CPrinter::SerializeCaps4 => missing media information for the caps!",
        "CPrinter::SerializeCaps4 => missing paper information for the caps!",
        "CPrinter::SerializeCaps4 => devcaps4 size: 412",
        "CPrinter::SerializeCaps4 => copying form information (412, 0, 0)",
        "CPrinter::SerializeCaps4 => finished"};
    EXPECT_EQ(lines, expected);
}

TEST(Caps4Layout, UnfilledSetGivesNoRecord) {
    LibraryLogScope trace;
    Set set;
    FillRealistic(set.b);
    set.b.bFilled = 0;
    EXPECT_EQ(vlibPRINT_PackCaps4(&set.b), nullptr);
    EXPECT_TRUE(trace.Has("CPrinter::SerializeCaps4 => query buffers haven't been filled! returning"));
}

TEST(Caps4Layout, SectionsFollowEachOtherInTheFixedOrder) {
    LibraryLogScope trace;
    Set set;
    FillRealistic(set.b);
    const std::vector<BYTE> bytes = Pack(set.b);
    const caps4 h = Header(bytes);
    const DWORD order[][3] = {
        {h.dwOffsetToBinNames, h.dwSizeOfBinNames, h.dwNumBinNames * 48},
        {h.dwOffsetToBins, h.dwSizeOfBins, h.dwNumBins * 2},
        {h.dwOffsetToResolutions, h.dwSizeOfResolutions, h.dwNumResolutions * 8},
        {h.dwOffsetToResolutionsIndexed, h.dwSizeOfResolutionsIndexed, h.dwNumResolutionsIndexed * 8},
        {h.dwOffsetToFiles, h.dwSizeOfFiles, h.dwNumFiles * 128},
        {h.dwOffsetToMediaReady, h.dwSizeOfMediaReady, h.dwNumMediaReady * 128},
        {h.dwOffsetToMediaTypeNames, h.dwSizeOfMediaTypeNames, h.dwNumMediaTypeNames * 128},
        {h.dwOffsetToMediaTypes, h.dwSizeOfMediaTypes, h.dwNumMediaTypes * 4},
        {h.dwOffsetToNUP, h.dwSizeOfNUP, h.dwNumNUP * 4},
        {h.dwOffsetToPaperNames, h.dwSizeOfPaperNames, h.dwNumPaperNames * 128},
        {h.dwOffsetToPapers, h.dwSizeOfPapers, h.dwNumPapers * 2},
        {h.dwOffsetToPaperSize, h.dwSizeOfPaperSize, h.dwNumPaperSize * 8},
        {h.dwOffsetToPersonality, h.dwSizeOfPersonality, h.dwNumPersonality * 64},
        {h.dwOffsetToForms, h.dwSizeOfForms, h.dwNumForms * 84},
    };
    DWORD next = 412;
    for (const auto& section : order) {
        EXPECT_EQ(section[0], next);
        EXPECT_EQ(section[1], section[2]);
        EXPECT_GT(section[1], 0u);
        next = section[0] + section[1];
    }
    EXPECT_EQ(h.dwSize, next);
    EXPECT_EQ(bytes.size(), next);

    // Contents: the lists come out in record order whatever order the blocks hold them in.
    const PaperBuffer* papers = set.b.pPapers;
    const BYTE* pb = reinterpret_cast<const BYTE*>(papers);
    EXPECT_EQ(0, std::memcmp(bytes.data() + h.dwOffsetToPapers, pb + papers->dwOffsetToPapers, h.dwSizeOfPapers));
    EXPECT_EQ(0, std::memcmp(bytes.data() + h.dwOffsetToPaperNames, pb + papers->dwOffsetToPaperNames, h.dwSizeOfPaperNames));
    WORD bin1 = 0;
    std::memcpy(&bin1, bytes.data() + h.dwOffsetToBins + 2, 2);
    EXPECT_EQ(bin1, DMBIN_UPPER);
    EXPECT_EQ(0, std::memcmp(bytes.data() + h.dwOffsetToForms, set.b.pForms, h.dwSizeOfForms));
    EXPECT_EQ(0, std::memcmp(bytes.data() + 252, set.b.pLowLevel, 140));
    EXPECT_EQ(h.dwAnsiOnly, 1u);
    EXPECT_EQ(h.dwCopies, 999u);
    EXPECT_EQ(h.dwVersion, 0x0401u);
    EXPECT_EQ(h.dwEnd, 0u);
    EXPECT_TRUE(trace.Has("CPrinter::SerializeCaps4 => copying bin information"));
    EXPECT_TRUE(trace.Has("CPrinter::SerializeCaps4 => copying media information"));
    EXPECT_TRUE(trace.Has("CPrinter::SerializeCaps4 => copying paper information"));
    EXPECT_EQ(trace.Count("CPrinter::SerializeCaps4 => missing"), 0);
}

TEST(Caps4Layout, AbsentListsTakeTheNextOffset) {
    {
        Set set;
        FillRealistic(set.b);
        platform::HeapFreeBlock(set.b.pBins);
        set.b.pBins = nullptr;
        const caps4 h = Header(Pack(set.b));
        EXPECT_EQ(h.dwOffsetToBinNames, 412u);
        EXPECT_EQ(h.dwOffsetToBins, 412u);
        EXPECT_EQ(h.dwOffsetToResolutions, 412u);
        EXPECT_EQ(h.dwSizeOfBinNames + h.dwNumBinNames + h.dwSizeOfBins + h.dwNumBins, 0u);
    }
    {
        Set set;
        FillRealistic(set.b);
        platform::HeapFreeBlock(set.b.pMedias);
        set.b.pMedias = nullptr;
        const caps4 h = Header(Pack(set.b));
        EXPECT_EQ(h.dwOffsetToMediaTypeNames, h.dwOffsetToMediaReady + h.dwSizeOfMediaReady);
        EXPECT_EQ(h.dwOffsetToMediaTypes, h.dwOffsetToMediaReady + h.dwSizeOfMediaReady);
        EXPECT_EQ(h.dwOffsetToNUP, h.dwOffsetToMediaTypes);
        EXPECT_EQ(h.dwSizeOfMediaTypeNames + h.dwNumMediaTypeNames + h.dwSizeOfMediaTypes + h.dwNumMediaTypes, 0u);
    }
    {
        Set set;
        FillRealistic(set.b);
        platform::HeapFreeBlock(set.b.pPapers);
        set.b.pPapers = nullptr;
        const caps4 h = Header(Pack(set.b));
        const DWORD nupEnd = h.dwOffsetToNUP + h.dwSizeOfNUP;
        EXPECT_EQ(h.dwOffsetToPaperNames, nupEnd);
        EXPECT_EQ(h.dwOffsetToPapers, nupEnd);
        EXPECT_EQ(h.dwOffsetToPaperSize, nupEnd);
        EXPECT_EQ(h.dwOffsetToPersonality, nupEnd);
        EXPECT_EQ(h.dwSizeOfPaperNames + h.dwSizeOfPapers + h.dwSizeOfPaperSize, 0u);
        EXPECT_EQ(h.dwNumPaperNames + h.dwNumPapers + h.dwNumPaperSize, 0u);
    }
}

TEST(Caps4Layout, MediaTypeNamesAndTypesAreCountedApart) {
    Set set;
    FillRealistic(set.b);
    const caps4 h = Header(Pack(set.b));
    EXPECT_EQ(h.dwNumMediaTypeNames, 2u);
    EXPECT_EQ(h.dwSizeOfMediaTypeNames, 256u);
    EXPECT_EQ(h.dwNumMediaTypes, 3u);
    EXPECT_EQ(h.dwSizeOfMediaTypes, 12u);
    EXPECT_EQ(h.dwOffsetToMediaTypes, h.dwOffsetToMediaTypeNames + 256);

    // And they come back apart.
    Set back;
    const std::vector<BYTE> bytes = Pack(set.b);
    ASSERT_TRUE(vlibPRINT_UnpackCaps4(&back.b, reinterpret_cast<const caps4*>(bytes.data()), bytes.size()));
    ASSERT_NE(back.b.pMedias, nullptr);
    EXPECT_EQ(back.b.pMedias->dwNumMediaTypeNames, 2u);
    EXPECT_EQ(back.b.pMedias->dwNumMediaTypes, 3u);
    EXPECT_EQ(back.b.pMedias->dwOffsetToMediaTypes, 28u);
    EXPECT_EQ(back.b.pMedias->dwOffsetToMediaTypeNames, 40u);
}

// ------------------------------------------------------------ round trips

void ExpectRoundTrip(const QueryBuffers& original) {
    const std::vector<BYTE> first = Pack(original);
    ASSERT_FALSE(first.empty());
    Set loaded;
    ASSERT_TRUE(vlibPRINT_UnpackCaps4(&loaded.b, reinterpret_cast<const caps4*>(first.data()), first.size()));
    EXPECT_EQ(loaded.b.bFilled, 1u);
    ExpectConsistent(loaded.b);
    const std::vector<BYTE> second = Pack(loaded.b);
    EXPECT_EQ(first, second);
}

TEST(Caps4RoundTrip, RealisticRecordComesBackByteForByte) {
    Set set;
    FillRealistic(set.b, 3, 2);
    EXPECT_EQ(set.b.dwNumForms, 6u);
    ExpectRoundTrip(set.b);

    // The unpacked lists are laid out numbers first.
    const std::vector<BYTE> bytes = Pack(set.b);
    Set loaded;
    ASSERT_TRUE(vlibPRINT_UnpackCaps4(&loaded.b, reinterpret_cast<const caps4*>(bytes.data()), bytes.size()));
    EXPECT_EQ(loaded.b.pPapers->dwOffsetToPapers, 40u);
    EXPECT_EQ(loaded.b.pPapers->dwOffsetToPaperNames, 40u + 6);
    EXPECT_EQ(loaded.b.pPapers->dwOffsetToPaperSize, 40u + 6 + 3 * 128);
    EXPECT_EQ(loaded.b.pBins->dwOffsetToBins, 28u);
    EXPECT_EQ(loaded.b.pBins->dwOffsetToBinNames, 28u + 6);
    EXPECT_EQ(std::wstring(reinterpret_cast<const WCHAR*>(reinterpret_cast<const BYTE*>(loaded.b.pPapers) + 46 + 128)),
              L"A4");
    EXPECT_EQ(loaded.b.pLowLevel->QueryDibSupport, 7034);
    EXPECT_EQ(loaded.b.dwAnsiOnly, 1u);
}

TEST(Caps4RoundTrip, NullNameDefaultsComeBackByteForByte) {
    Set set;
    FillFromNullNameQueries(set.b);
    ASSERT_NE(set.b.pPapers, nullptr);
    ASSERT_NE(set.b.pBins, nullptr);
    ASSERT_NE(set.b.pLowLevel, nullptr);
    EXPECT_EQ(set.b.pMedias, nullptr);
    EXPECT_EQ(set.b.pFiles, nullptr);
    ExpectRoundTrip(set.b);
    const caps4 h = Header(Pack(set.b));
    EXPECT_EQ(h.dwNumPapers, set.b.pPapers->dwNumPapers);
    EXPECT_EQ(h.dwNumForms, 4 * h.dwNumPapers);
    // No files and no media ready: the media offsets follow the indexed resolutions directly.
    EXPECT_EQ(h.dwOffsetToMediaTypeNames, h.dwOffsetToResolutionsIndexed + 32);
    EXPECT_EQ(h.dwOffsetToMediaTypes, h.dwOffsetToMediaTypeNames);
    EXPECT_EQ(h.dwCopies, static_cast<DWORD>(vlibPRINT_QueryDevCap_Copies(nullptr, nullptr, nullptr)));
}

TEST(Caps4RoundTrip, EmptyRecordComesBackByteForByte) {
    Set set;
    FillEmpty(set.b);
    ExpectRoundTrip(set.b);
}

// ------------------------------------------------------------ unpacking

TEST(Caps4Unpack, OverAFilledSetOnlyTheRecordRemains) {
    Set small;
    FillRealistic(small.b, 1, 1);
    platform::HeapFreeBlock(small.b.pBins);
    small.b.pBins = nullptr;
    const std::vector<BYTE> record = Pack(small.b);

    LibraryLogScope trace;
    Set target;
    FillRealistic(target.b, 5, 3);
    target.b.dwCopies = 12345;
    ASSERT_TRUE(vlibPRINT_UnpackCaps4(&target.b, reinterpret_cast<const caps4*>(record.data()), record.size()));
    EXPECT_TRUE(trace.Has("CPrinter::DeserializeCaps4 => query buffers already filled! clearing"));
    EXPECT_EQ(target.b.pBins, nullptr);
    EXPECT_EQ(target.b.pPapers->dwNumPapers, 1u);
    EXPECT_EQ(target.b.dwNumForms, 1u);
    EXPECT_EQ(target.b.dwNumResolutions, 1u);
    EXPECT_EQ(target.b.dwCopies, 999u);
    EXPECT_EQ(Pack(target.b), record);
}

// Bytes of the process heap in use, walked block by block.
size_t HeapBusyBytes() {
    HANDLE heap = ::GetProcessHeap();
    size_t busy = 0;
    ::HeapLock(heap);
    PROCESS_HEAP_ENTRY entry{};
    while (::HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
    ::HeapUnlock(heap);
    return busy;
}

TEST(Caps4Unpack, UnpackingOverAFilledSetReleasesTheOldBlocks) {
    Set big;
    FillRealistic(big.b, 40, 4);
    const std::vector<BYTE> record = Pack(big.b);
    Set target;
    ASSERT_TRUE(vlibPRINT_UnpackCaps4(&target.b, reinterpret_cast<const caps4*>(record.data()), record.size()));
    // The walk sees a block that is kept.
    const size_t idle = HeapBusyBytes();
    std::vector<void*> kept;
    for (int i = 0; i < 64; ++i) kept.push_back(platform::HeapAllocZero(4096));
    EXPECT_GE(HeapBusyBytes(), idle + 64 * 4096);
    for (void* block : kept) platform::HeapFreeBlock(block);

    const size_t before = HeapBusyBytes();
    for (int i = 0; i < 200; ++i)
        vlibPRINT_UnpackCaps4(&target.b, reinterpret_cast<const caps4*>(record.data()), record.size());
    const size_t after = HeapBusyBytes();
    // Each round allocates about 40 KB; keeping the old blocks would add 8 MB.
    EXPECT_LT(after, before + record.size()) << before << " -> " << after;
}

TEST(Caps4Unpack, NullAndZeroSizedRecordsChangeNothing) {
    LibraryLogScope trace;
    Set target;
    FillRealistic(target.b);
    const QueryBuffers saved = target.b;

    std::vector<BYTE> bytes = Pack(target.b);
    SetField(bytes, offsetof(caps4, dwSize), 0);  // the rest of the header is left as it was
    EXPECT_FALSE(vlibPRINT_UnpackCaps4(&target.b, reinterpret_cast<const caps4*>(bytes.data()), bytes.size()));
    EXPECT_FALSE(vlibPRINT_UnpackCaps4(&target.b, nullptr, 0));
    EXPECT_EQ(0, std::memcmp(&saved, &target.b, sizeof(saved)));
    EXPECT_EQ(trace.Count("CPrinter::DeserializeCaps4 => no caps to load from!"), 2);
    EXPECT_EQ(trace.Count("Printer Capabilities"), 0);
}

// ------------------------------------------------------------ dumps

std::vector<std::string> DumpLines(const std::vector<BYTE>& bytes) {
    TempDir dir;
    const std::wstring path = dir.File(L"dump.log");
    TraceLog* log = TraceLogCreate(path.c_str(), 0);
    LogCaps4(log, reinterpret_cast<const caps4*>(bytes.data()));
    TraceLogDestroy(log);
    return ReadLogLines(path);
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == line) return i;
    return lines.size();
}

const char kFormsHeading[] =
    "[paprI,paprW,paprL][ resX, resY, aspX, aspY,aspXY][ logX, logY][hsize,vsize, hres, vres,physW,physH, offX, offY] ";

TEST(Caps4Dump, ListsEveryFieldAndElement) {
    Set set;
    FillRealistic(set.b, 3, 2);
    const auto lines = DumpLines(Pack(set.b));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "===========================");
    EXPECT_EQ(lines[1], "Printer Capabilities");
    EXPECT_EQ(lines[3], "dwSize: " + std::to_string(Pack(set.b).size()));
    EXPECT_EQ(lines.back(), "dwEnd: 0");
    EXPECT_EQ(lines[lines.size() - 2], "dwAnsiOnly: 1");

    const size_t bins = IndexOf(lines, "dwNumBins: 3");
    ASSERT_LT(bins + 4, lines.size());
    EXPECT_EQ(lines[bins + 1], "\t\tbin 0: [ 7] Automatically Select");
    EXPECT_EQ(lines[bins + 2], "\t\tbin 1: [ 1] Tray 1");
    EXPECT_EQ(lines[bins + 4], "dwCollate: 1");
    EXPECT_LT(IndexOf(lines, "\t\tResolution 1: 600 x 600"), lines.size());
    EXPECT_LT(IndexOf(lines, "\t\tResolution 3: 1200 x 1200"), lines.size());
    EXPECT_LT(IndexOf(lines, "\t\tFile 1: fake2.dat"), lines.size());
    EXPECT_LT(IndexOf(lines, "\t\tMediaReady 0: Letter"), lines.size());
    // Three types, two names: the third has no name.
    const size_t media = IndexOf(lines, "dwNumMediaTypes: 3");
    ASSERT_LT(media + 3, lines.size());
    EXPECT_EQ(lines[media + 1], "\t\tMedia 0: [ 1] Plain");
    EXPECT_EQ(lines[media + 3], "\t\tMedia 2: [ 3] ");
    EXPECT_LT(IndexOf(lines, "\t\tNUP 2: 4"), lines.size());
    const size_t papers = IndexOf(lines, "dwNumPaperSize: 3");
    ASSERT_LT(papers + 2, lines.size());
    EXPECT_EQ(lines[papers + 1], "\t\tpaper   0: [  1] [2000 x 2800] Letter");
    EXPECT_EQ(lines[papers + 2], "\t\tpaper   1: [  2] [2001 x 2801] A4");
    EXPECT_LT(IndexOf(lines, "\t\tpersonality 1: PostScript"), lines.size());
    const size_t forms = IndexOf(lines, kFormsHeading);
    ASSERT_LT(forms + 6, lines.size());
    EXPECT_EQ(lines[forms - 1], "dwNumForms: 6");
    // paprI, paprW, paprL, resX, resY, aspX, aspY, aspXY, logX, logY, hsize, ...
    EXPECT_EQ(lines[forms + 2],
              "[  102,  103,  104][  105,  106,  114,  115,  116][  112,  113][  108,  109,  110,  111,  117,  118,  "
              "119,  120] ");
    EXPECT_EQ(lines[forms + 7], "dwAnsiOnly: 1");
    // The low-level block is not printed: 68 field lines, 3 banner lines.
    EXPECT_EQ(IndexOf(lines, "dwVersion: 1025") + 1, IndexOf(lines, "dwOffsetToForms: " + std::to_string(Header(Pack(set.b)).dwOffsetToForms)));
}

TEST(Caps4Dump, RecordWithoutFormsWritesTheHeadingOnly) {
    Set set;
    FillRealistic(set.b);
    platform::HeapFreeBlock(set.b.pForms);
    set.b.pForms = nullptr;
    set.b.dwNumForms = set.b.dwSizeOfForms = 0;
    const auto lines = DumpLines(Pack(set.b));
    const size_t heading = IndexOf(lines, kFormsHeading);
    ASSERT_LT(heading + 1, lines.size());
    EXPECT_EQ(lines[heading - 1], "dwNumForms: 0");
    EXPECT_EQ(lines[heading + 1], "dwAnsiOnly: 1");
}

TEST(Caps4Dump, BinCountZeroListsNoBinsEvenWithNames) {
    Set set;
    FillRealistic(set.b);
    std::vector<BYTE> bytes = Pack(set.b);
    SetField(bytes, offsetof(caps4, dwNumBins), 0);
    SetField(bytes, offsetof(caps4, dwSizeOfBins), 0);
    const auto lines = DumpLines(bytes);
    int binLines = 0;
    for (const auto& l : lines)
        if (l.rfind("\t\tbin ", 0) == 0) ++binLines;
    EXPECT_EQ(binLines, 0);
    EXPECT_LT(IndexOf(lines, "dwNumBinNames: 3"), lines.size());
    const size_t bins = IndexOf(lines, "dwNumBins: 0");
    ASSERT_LT(bins + 1, lines.size());
    EXPECT_EQ(lines[bins + 1], "dwCollate: 1");
}

TEST(Caps4Dump, NegativeCountListsNothing) {
    Set set;
    FillRealistic(set.b);
    std::vector<BYTE> bytes = Pack(set.b);
    SetField(bytes, offsetof(caps4, dwNumNUP), 0xFFFFFFFF);
    GuardedBytes guarded(bytes);
    TempDir dir;
    const std::wstring path = dir.File(L"dump.log");
    TraceLog* log = TraceLogCreate(path.c_str(), 0);
    LogCaps4(log, guarded.record(), guarded.size());
    TraceLogDestroy(log);
    const auto lines = ReadLogLines(path);
    const size_t nup = IndexOf(lines, "dwNumNUP: -1");
    ASSERT_LT(nup + 1, lines.size());
    EXPECT_EQ(lines[nup + 1].rfind("\t\tNUP", 0), std::string::npos);
}

TEST(Caps4Dump, NullLoggerOrRecordWritesNothing) {
    Set set;
    FillEmpty(set.b);
    const std::vector<BYTE> bytes = Pack(set.b);
    LogCaps4(nullptr, reinterpret_cast<const caps4*>(bytes.data()));  // must not touch anything
    TempDir dir;
    const std::wstring path = dir.File(L"dump.log");
    TraceLog* log = TraceLogCreate(path.c_str(), 0);
    LogCaps4(log, nullptr);
    LogCaps2(log, nullptr);
    TraceLogDestroy(log);
    EXPECT_TRUE(ReadLogLines(path).empty());
}

// An earlier record: one bin, one resolution, two papers with one name, one form.
std::vector<BYTE> MakeCaps2() {
    std::vector<BYTE> sections;
    caps2 h{};
    DWORD at = sizeof(caps2);
    auto put = [&](const std::vector<BYTE>& data, DWORD* offset, DWORD* size, DWORD* count, DWORD n) {
        *offset = at;
        *size = static_cast<DWORD>(data.size());
        *count = n;
        sections.insert(sections.end(), data.begin(), data.end());
        at += *size;
    };
    std::vector<BYTE> binNames, bins, res, paperNames, papers, sizes, forms;
    PutName(binNames, L"Upper", kBinNameChars);
    PutValue<WORD>(bins, DMBIN_UPPER);
    PutValue<LONG>(res, 600);
    PutValue<LONG>(res, 300);
    PutName(paperNames, L"Letter", kPaperNameChars);
    PutValue<WORD>(papers, DMPAPER_LETTER);
    PutValue<WORD>(papers, DMPAPER_A4);
    PutValue<LONG>(sizes, 2159);
    PutValue<LONG>(sizes, 2794);
    PutValue<LONG>(sizes, 2100);
    PutValue<LONG>(sizes, 2970);
    for (LONG k = 0; k < 18; ++k) PutValue<LONG>(forms, k + 1);
    put(binNames, &h.dwOffsetToBinNames, &h.dwSizeOfBinNames, &h.dwNumBinNames, 1);
    put(bins, &h.dwOffsetToBins, &h.dwSizeOfBins, &h.dwNumBins, 1);
    put(res, &h.dwOffsetToResolutions, &h.dwSizeOfResolutions, &h.dwNumResolutions, 1);
    put(paperNames, &h.dwOffsetToPaperNames, &h.dwSizeOfPaperNames, &h.dwNumPaperNames, 1);
    put(papers, &h.dwOffsetToPapers, &h.dwSizeOfPapers, &h.dwNumPapers, 2);
    put(sizes, &h.dwOffsetToPaperSize, &h.dwSizeOfPaperSize, &h.dwNumPaperSize, 2);
    put(forms, &h.dwOffsetToForms, &h.dwSizeOfForms, &h.dwNumForms, 1);
    h.dwSize = at;
    h.dwCopies = 99;
    h.dwVersion = 0x0400;
    std::memset(h.reserved, 0xEE, sizeof(h.reserved));
    std::vector<BYTE> bytes(sizeof(caps2));
    std::memcpy(bytes.data(), &h, sizeof(h));
    bytes.insert(bytes.end(), sections.begin(), sections.end());
    return bytes;
}

TEST(Caps2Dump, ListsTheEarlierRecordWithShortForms) {
    const std::vector<BYTE> bytes = MakeCaps2();
    GuardedBytes guarded(bytes);
    TempDir dir;
    const std::wstring path = dir.File(L"dump.log");
    TraceLog* log = TraceLogCreate(path.c_str(), 0);
    LogCaps2(log, guarded.record2());
    TraceLogDestroy(log);
    const auto lines = ReadLogLines(path);
    ASSERT_GT(lines.size(), 10u);
    EXPECT_EQ(lines[1], "Printer Capabilities");
    EXPECT_EQ(lines[3], "dwSize: " + std::to_string(bytes.size()));
    EXPECT_EQ(lines.back(), "dwEnd: 0");
    EXPECT_LT(IndexOf(lines, "\t\tbin 0: [ 1] Upper"), lines.size());
    EXPECT_LT(IndexOf(lines, "\t\tResolution 0: 600 x 300"), lines.size());
    EXPECT_LT(IndexOf(lines, "\t\tpaper   0: [  1] [2159 x 2794] Letter"), lines.size());
    EXPECT_LT(IndexOf(lines, "\t\tpaper   1: [  9] [2100 x 2970] "), lines.size());
    const size_t forms = IndexOf(lines, kFormsHeading);
    ASSERT_LT(forms + 1, lines.size());
    // paprI, paprW, paprL, resX, resY, aspX, aspY, aspXY, logX, logY, hsize, vsize, hres, vres, physW, physH, offX, offY
    EXPECT_EQ(lines[forms + 1],
              "[    1,    2,    3][    4,    5,   12,   13,   14][   10,   11][    6,    7,    8,    9,   15,   16,   "
              "17,   18] ");
    EXPECT_EQ(lines[forms - 1], "dwNumForms: 1");
    EXPECT_EQ(lines[forms + 2], "dwEnd: 0");
    // 37 field lines, 3 banner lines, 1 bin, 1 resolution, 2 papers, heading and one row.
    EXPECT_EQ(lines.size(), 37u + 3 + 1 + 1 + 2 + 2);
}

// ------------------------------------------------------------ damage

// Unpacks and dumps a record held under a guard page; fails the test when
// either faults.
void UnpackAndDumpGuarded(const std::vector<BYTE>& bytes, size_t held, QueryBuffers* into, TraceLog* dumpLog) {
    GuardedBytes guarded(bytes.data(), held);
    bool unpacked = false;
    const bool clean = platform::Guarded([&] {
        unpacked = vlibPRINT_UnpackCaps4(into, guarded.record(), guarded.size());
        LogCaps4(dumpLog, guarded.record(), guarded.size());
    });
    ASSERT_TRUE(clean) << "read outside the record";
    (void)unpacked;
}

TEST(Caps4Damage, TheGuardPageCatchesAReadPastTheEnd) {
    const std::vector<BYTE> bytes(418, 0x5A);
    GuardedBytes guarded(bytes);
    const BYTE* data = reinterpret_cast<const BYTE*>(guarded.record());
    volatile BYTE seen = 0;
    EXPECT_TRUE(platform::Guarded([&] { seen = data[417]; }));
    EXPECT_EQ(seen, 0x5A);
    EXPECT_FALSE(platform::Guarded([&] { seen = data[418]; }));
}

TEST(Caps4Damage, RecordsShorterThanTheyClaimAreRejectedWhole) {
    Set source;
    FillRealistic(source.b);
    const std::vector<BYTE> bytes = Pack(source.b);
    SilentLog silent;
    LibraryLogScope trace;

    Set target;
    FillEmpty(target.b);
    target.b.dwCopies = 77;
    // Truncated: the caller holds fewer bytes than dwSize.
    for (size_t held : {bytes.size() - 1, bytes.size() / 2, size_t{412}, size_t{411}, size_t{100}, size_t{4}, size_t{3}}) {
        UnpackAndDumpGuarded(bytes, held, &target.b, silent.log);
        EXPECT_EQ(target.b.dwCopies, 77u) << held;
    }
    // dwSize larger than the bytes held, or smaller than the header.
    for (DWORD size : {static_cast<DWORD>(bytes.size() + 1), DWORD{0xFFFFFFFF}, DWORD{0x80000000}, DWORD{411}, DWORD{4}, DWORD{1}}) {
        std::vector<BYTE> damaged = bytes;
        SetField(damaged, 0, size);
        UnpackAndDumpGuarded(damaged, damaged.size(), &target.b, silent.log);
        EXPECT_EQ(target.b.dwCopies, 77u) << size;
    }
    EXPECT_GE(trace.Count("CPrinter::DeserializeCaps4 => caps record"), 12);
}

TEST(Caps4Damage, ASectionOutsideTheRecordIsDroppedAndTheRestLoads) {
    Set source;
    FillRealistic(source.b);
    std::vector<BYTE> bytes = Pack(source.b);
    const caps4 h = Header(bytes);
    SetField(bytes, offsetof(caps4, dwOffsetToPapers), h.dwSize - 2);  // papers run 4 bytes past the end

    LibraryLogScope trace;
    Set target;
    UnpackAndDumpGuarded(bytes, bytes.size(), &target.b, trace.log());
    ASSERT_EQ(target.b.bFilled, 1u);
    ExpectConsistent(target.b);
    ASSERT_NE(target.b.pPapers, nullptr);
    EXPECT_EQ(target.b.pPapers->dwNumPapers, 0u);
    EXPECT_EQ(target.b.pPapers->dwNumPaperNames, 3u);
    EXPECT_EQ(target.b.pPapers->dwNumPaperSize, 3u);
    EXPECT_EQ(target.b.dwNumForms, 6u);
    EXPECT_EQ(target.b.pBins->dwNumBins, 3u);
    EXPECT_TRUE(trace.Has("CPrinter::DeserializeCaps4 => dropping damaged paper section (offset " +
                          std::to_string(h.dwSize - 2) + ", size 6, count 3)"));
    // Both dumps (the unpacking's own and ours) say so instead of listing the papers.
    EXPECT_EQ(trace.Count("\t\tpaper "), 0);
    EXPECT_EQ(trace.Count("\t\t!WARNING! section not inside the record"), 2);
    EXPECT_EQ(trace.Count("\t\tbin "), 2 * 3);
}

TEST(Caps4Damage, ASizeThatDisagreesWithItsCountIsDropped) {
    Set source;
    FillRealistic(source.b);
    std::vector<BYTE> bytes = Pack(source.b);
    SetField(bytes, offsetof(caps4, dwNumForms), 5);  // six forms' bytes, five counted

    Set target;
    SilentLog silent;
    UnpackAndDumpGuarded(bytes, bytes.size(), &target.b, silent.log);
    EXPECT_EQ(target.b.pForms, nullptr);
    EXPECT_EQ(target.b.dwNumForms, 0u);
    EXPECT_EQ(target.b.dwSizeOfForms, 0u);
    EXPECT_EQ(target.b.dwNumResolutions, 2u);
}

TEST(Caps4Damage, EveryHeaderFieldPointingOutsideIsSurvived) {
    Set source;
    FillRealistic(source.b);
    const std::vector<BYTE> bytes = Pack(source.b);
    const DWORD size = Header(bytes).dwSize;
    SilentLog silent;
    const DWORD values[] = {0, 1, 411, 412, size - 1, size, size + 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                            0xFFFFFFFF - 411, 0x10000};
    for (size_t field = 0; field < 412; field += 4) {
        if (field >= offsetof(caps4, lowLevel) && field < offsetof(caps4, dwOffsetToForms)) continue;  // plain values
        for (DWORD value : values) {
            std::vector<BYTE> damaged = bytes;
            SetField(damaged, field, value);
            Set target;
            UnpackAndDumpGuarded(damaged, damaged.size(), &target.b, silent.log);
            if (HasFatalFailure()) {
                ADD_FAILURE() << "field at " << field << " set to " << value;
                return;
            }
            ExpectConsistent(target.b);
        }
    }
}

TEST(Caps4Damage, SeededMutationsNeverReadOutsideTheRecord) {
    Set source;
    FillRealistic(source.b, 4, 2);
    const std::vector<BYTE> bytes = Pack(source.b);
    const DWORD size = Header(bytes).dwSize;
    std::mt19937 random(20261205);
    SilentLog silent;
    int loaded = 0;
    for (int round = 0; round < 4000; ++round) {
        std::vector<BYTE> damaged = bytes;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int c = 0; c < changes; ++c) {
            switch (random() % 3) {
            case 0:  // any byte of the record
                damaged[random() % damaged.size()] = static_cast<BYTE>(random());
                break;
            case 1: {  // a header field, to a value near a boundary
                const DWORD edges[] = {0, 412, size, size - 2, size + 2, 0xFFFFFFFF, 0x80000000};
                SetField(damaged, (random() % 103) * 4, edges[random() % 7] + static_cast<DWORD>(random() % 5) - 2);
                break;
            }
            default:  // a header field, to anything
                SetField(damaged, (random() % 103) * 4, static_cast<DWORD>(random()));
                break;
            }
        }
        // Sometimes the caller holds fewer bytes than the record.
        const size_t held = random() % 8 == 0 ? random() % damaged.size() : damaged.size();
        Set target;
        UnpackAndDumpGuarded(damaged, held, &target.b, silent.log);
        if (HasFatalFailure()) {
            ADD_FAILURE() << "round " << round;
            return;
        }
        ExpectConsistent(target.b);
        if (target.b.bFilled) {
            ++loaded;
            // Whatever loaded packs into a sound record again.
            const std::vector<BYTE> again = Pack(target.b);
            Set twice;
            ASSERT_TRUE(vlibPRINT_UnpackCaps4(&twice.b, reinterpret_cast<const caps4*>(again.data()), again.size()));
            EXPECT_EQ(Pack(twice.b), again);
        }
    }
    EXPECT_GT(loaded, 100);  // the loop also exercises partial loads, not only rejections
}

TEST(Caps2Damage, EarlierRecordDumpStaysInsideItsBytes) {
    const std::vector<BYTE> bytes = MakeCaps2();
    std::mt19937 random(7);
    SilentLog silent;
    for (int round = 0; round < 2000; ++round) {
        std::vector<BYTE> damaged = bytes;
        SetField(damaged, (random() % 60) * 4, static_cast<DWORD>(random() % 3 == 0 ? random() : random() % 600));
        const size_t held = random() % 5 == 0 ? random() % damaged.size() : damaged.size();
        GuardedBytes guarded(damaged.data(), held);
        ASSERT_TRUE(platform::Guarded([&] { LogCaps2(silent.log, guarded.record2(), guarded.size()); })) << round;
    }
}

}  // namespace
