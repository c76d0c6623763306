#include "devcaps/list_queries.h"

#include <cstring>

#include "devcaps/default_tables.h"
#include "log/trace_log.h"
#include "platform/guard.h"
#include "platform/kernel.h"

namespace {

// One list of a block: where its count, byte size and offset sit in the
// header, how wide an entry is, and its trace lines.
struct ListSpec {
    WORD index;
    DWORD width;
    DWORD numField;  // byte offsets of the header fields
    DWORD sizeField;
    DWORD offsetField;
    const WCHAR* indexLine;
    const WCHAR* fetchLine;
    const WCHAR* changedLine;  // (fetch answer, header count)
};

// One block: its header size, its lists in block order (names, ids, sizes)
// and the lines of the query.
struct BlockSpec {
    DWORD headerBytes;
    int lists;
    ListSpec list[3];
    bool recount;  // a positive first count is asked for once more
    const WCHAR* countLine;  // the counts, in list order
    const WCHAR* mismatchLine;
    const WCHAR* bytesLine;  // (total, name bytes, id bytes)
    const WCHAR* allocFailLine;
    const WCHAR* tooLargeLine;  // the counts, in list order
};

const BlockSpec kPaperSpec = {
    sizeof(PaperBuffer),
    3,
    {{DC_PAPERNAMES, kPaperNameBytes, offsetof(PaperBuffer, dwNumPaperNames), offsetof(PaperBuffer, dwSizeOfPaperNames),
      offsetof(PaperBuffer, dwOffsetToPaperNames), L"vlibPRINT_QueryDevCap_Papers => DC_PAPERNAMES\n",
      L"vlibPRINT_QueryDevCap_Papers => querying paper names\n",
      L"vlibPRINT_QueryDevCap_Papers => !WARNING! number of papernames changed? = %d, %d\n"},
     {DC_PAPERS, kPaperIdBytes, offsetof(PaperBuffer, dwNumPapers), offsetof(PaperBuffer, dwSizeOfPapers),
      offsetof(PaperBuffer, dwOffsetToPapers), L"vlibPRINT_QueryDevCap_Papers => DC_PAPERS\n",
      L"vlibPRINT_QueryDevCap_Papers => querying papers\n",
      L"vlibPRINT_QueryDevCap_Papers => !WARNING! number of papers changed? = %d, %d\n"},
     {DC_PAPERSIZE, kPaperSizeBytes, offsetof(PaperBuffer, dwNumPaperSize), offsetof(PaperBuffer, dwSizeOfPaperSize),
      offsetof(PaperBuffer, dwOffsetToPaperSize), L"vlibPRINT_QueryDevCap_Papers => DC_PAPERSIZE\n",
      L"vlibPRINT_QueryDevCap_Papers => querying papersizes\n",
      L"vlibPRINT_QueryDevCap_Papers => !WARNING! number of papersizes changed? = %d, %d\n"}},
    true,
    L"vlibPRINT_QueryDevCap_Papers => Names: %d; Papers: %d; PaperSizes: %d\n",
    L"vlibPRINT_QueryDevCap_Papers => !WARNING! papers != papernames != papersizes\n",
    L"vlibPRINT_QueryDevCap_Papers => Bytes Required: %d (%d + %d)\n",
    L"vlibPRINT_QueryDevCap_Papers => !WARNING! couldn't allocate the memory, returning null\n",
    L"vlibPRINT_QueryDevCap_Papers => !WARNING! lists of %d, %d, %d entries do not fit in one block\n",
};

const BlockSpec kBinSpec = {
    sizeof(BinBuffer),
    2,
    {{DC_BINNAMES, kBinNameBytes, offsetof(BinBuffer, dwNumBinNames), offsetof(BinBuffer, dwSizeOfBinNames),
      offsetof(BinBuffer, dwOffsetToBinNames), L"vlibPRINT_QueryDevCap_Bins => DC_BINNAMES\n",
      L"vlibPRINT_QueryDevCap_Bins => querying bin names\n",
      L"vlibPRINT_QueryDevCap_Bins => !WARNING! number of binnames changed? = %d, %d\n"},
     {DC_BINS, kBinIdBytes, offsetof(BinBuffer, dwNumBins), offsetof(BinBuffer, dwSizeOfBins),
      offsetof(BinBuffer, dwOffsetToBins), L"vlibPRINT_QueryDevCap_Bins => DC_BINS\n",
      L"vlibPRINT_QueryDevCap_Bins => querying bins\n",
      L"vlibPRINT_QueryDevCap_Bins => !WARNING! number of bins changed? = %d, %d\n"},
     {}},
    false,
    L"vlibPRINT_QueryDevCap_Bins => Names: %d;Bins: %d\n",
    L"vlibPRINT_QueryDevCap_Bins => !WARNING! bins != binnames\n",
    L"vlibPRINT_QueryDevCap_Bins => Bytes Required: %d (%d + %d)\n",
    L"vlibPRINT_QueryDevCap_Bins => !WARNING! couldn't allocate the memory, returning null\n",
    L"vlibPRINT_QueryDevCap_Bins => !WARNING! lists of %d, %d, %d entries do not fit in one block\n",
};

const BlockSpec kMediaSpec = {
    sizeof(MediaBuffer),
    2,
    {{DC_MEDIATYPENAMES, kMediaNameBytes, offsetof(MediaBuffer, dwNumMediaTypeNames),
      offsetof(MediaBuffer, dwSizeOfMediaTypeNames), offsetof(MediaBuffer, dwOffsetToMediaTypeNames),
      L"vlibPRINT_QueryDevCap_Medias => DC_MEDIANAMES\n", L"vlibPRINT_QueryDevCap_Medias => querying media names\n",
      L"vlibPRINT_QueryDevCap_Medias => !WARNING! number of medianames changed? = %d, %d\n"},
     {DC_MEDIATYPES, kMediaIdBytes, offsetof(MediaBuffer, dwNumMediaTypes), offsetof(MediaBuffer, dwSizeOfMediaTypes),
      offsetof(MediaBuffer, dwOffsetToMediaTypes), L"vlibPRINT_QueryDevCap_Medias => DC_MEDIATYPES\n",
      L"vlibPRINT_QueryDevCap_Medias => querying medias\n",
      L"vlibPRINT_QueryDevCap_Medias => !WARNING! number of medias changed? = %d, %d\n"},
     {}},
    true,
    L"vlibPRINT_QueryDevCap_Medias => Names: %d;Medias: %d\n",
    L"vlibPRINT_QueryDevCap_Medias => !WARNING! medias != medianames\n",
    L"vlibPRINT_QueryDevCap_Medias => Bytes Required: %d (%d + %d)\n",
    L"vlibPRINT_QueryDevCap_Medias => !WARNING! couldn't allocate the memory, returning null\n",
    L"vlibPRINT_QueryDevCap_Medias => !WARNING! lists of %d, %d, %d entries do not fit in one block\n",
};

void PutField(BYTE* block, DWORD offset, DWORD value) { std::memcpy(block + offset, &value, sizeof(value)); }
DWORD GetField(const BYTE* block, DWORD offset) {
    DWORD value = 0;
    std::memcpy(&value, block + offset, sizeof(value));
    return value;
}

// A negative count reserves no space.
DWORD Entries(int count) { return count > 0 ? static_cast<DWORD>(count) : 0; }

// Allocates the block for the given counts and fills its header: counts,
// sizes, and offsets with the lists back to back after the header.
BYTE* AllocateBlock(const BlockSpec& spec, const int counts[3], bool traced) {
    DWORD bytes[3] = {};
    DWORD total = spec.headerBytes;
    bool fits = true;
    for (int i = 0; i < spec.lists; ++i) {
        fits = fits && platform::BlockBytes(Entries(counts[i]), spec.list[i].width, &bytes[i]) &&
               platform::BlockBytes(1, static_cast<unsigned long long>(total) + bytes[i], &total);
    }
    if (!fits) {
        // A driver's count that no block can hold: the query fails as it
        // does without memory.
        if (traced) {
            TraceLogWrite(LibraryLog, 0, spec.tooLargeLine, counts[0], counts[1], counts[2]);
            TraceLogWrite(LibraryLog, 0, spec.allocFailLine);
        }
        return nullptr;
    }
    if (traced) TraceLogWrite(LibraryLog, 0, spec.bytesLine, static_cast<int>(total), bytes[0], bytes[1]);
    BYTE* block = platform::HeapAllocZeroAs<BYTE>(total);
    if (!block) {
        if (traced) TraceLogWrite(LibraryLog, 0, spec.allocFailLine);
        return nullptr;
    }
    PutField(block, 0, total);
    DWORD offset = spec.headerBytes;
    for (int i = 0; i < spec.lists; ++i) {
        // The header keeps the count the lists were sized for; a negative
        // answer (a driver saying "unsupported") is kept as an empty list.
        PutField(block, spec.list[i].numField, Entries(counts[i]));
        PutField(block, spec.list[i].sizeField, bytes[i]);
        PutField(block, spec.list[i].offsetField, offset);
        offset += bytes[i];
    }
    return block;
}

int CountList(const BlockSpec& spec, WORD index, LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode) {
    // The driver may report another count on the second call; that one is
    // the count the list is sized for.
    const int first = platform::spooler.DeviceCapabilitiesW(pDevice, pPort, index, nullptr, pDevMode);
    if (!spec.recount) return first;
    if (first <= 0) return 0;
    return platform::spooler.DeviceCapabilitiesW(pDevice, pPort, index, nullptr, pDevMode);
}

void FreeTemps(void* temps[3]) {
    for (int i = 0; i < 3; ++i) {
        platform::HeapFreeBlock(temps[i]);
        temps[i] = nullptr;
    }
}

// Counts, allocates and fetches the lists of one block. The temporary fetch
// arrays are handed back in temps (freed by the caller after the dump, or
// here with the block when our own code throws).
BYTE* QueryBlock(const BlockSpec& spec, LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode, void* temps[3]) {
    int counts[3] = {};
    for (int i = 0; i < spec.lists; ++i) counts[i] = CountList(spec, spec.list[i].index, pDevice, pPort, pDevMode);
    TraceLogWrite(LibraryLog, 0, spec.countLine, counts[0], counts[1], counts[2]);
    bool mismatch = false;
    for (int i = 1; i < spec.lists; ++i) mismatch = mismatch || counts[i] != counts[0];
    if (mismatch) TraceLogWrite(LibraryLog, 0, spec.mismatchLine);

    BYTE* block = AllocateBlock(spec, counts, true);
    if (!block) return nullptr;

    for (int i = 0; i < spec.lists; ++i) {
        const ListSpec& list = spec.list[i];
        TraceLogWrite(LibraryLog, 0, list.indexLine);
        const DWORD bytes = GetField(block, list.sizeField);
        if (bytes == 0) continue;
        TraceLogWrite(LibraryLog, 0, list.fetchLine);
        const int counted = static_cast<int>(GetField(block, list.numField));
        // The driver writes into an array of its own, never into the block.
        void* temp = platform::HeapAllocFetchArray<void>(bytes);
        temps[i] = temp;
        int answer = 0;
        bool faulted = true;
        if (temp) {
            const WORD index = list.index;
            try {
                faulted = !platform::Guarded([&] {
                    answer = platform::spooler.DeviceCapabilitiesW(pDevice, pPort, index, static_cast<LPWSTR>(temp),
                                                                   pDevMode);
                });
            } catch (...) {
                // Our own code may run out of memory while the block and the
                // fetch arrays are held: they are freed on that way out too.
                FreeTemps(temps);
                platform::HeapFreeBlock(block);
                throw;
            }
            if (faulted) TraceLogWrite(LibraryLog, 0, L"threw exception\n");
        }
        // A list that could not be fetched (a fault, or no memory for its
        // array) is dropped: its count becomes 0, its space stays zero.
        if (faulted) {
            PutField(block, list.numField, 0);
            answer = counted;
        }
        const int inHeader = static_cast<int>(GetField(block, list.numField));
        if (answer != inHeader) {
            TraceLogWrite(LibraryLog, 0, list.changedLine, answer, inHeader);
        } else {
            std::memcpy(block + GetField(block, list.offsetField), temp, bytes);
        }
    }
    return block;
}

// The dumps run to the id count. An index at which a shorter name or size
// list has no entry prints an empty name and zeros for the missing values;
// nothing is read outside the lists' own byte sizes.
void DumpPapers(const PaperBuffer* papers) {
    const bool ok = platform::Guarded([&] {
        for (DWORD i = 0; i < papers->dwNumPapers; ++i) {
            WORD id = 0;
            PaperSize size = {0, 0};
            WCHAR name[kPaperNameChars + 1];
            PaperIdAt(papers, i, &id);
            PaperSizeAt(papers, i, &size);
            CopyNameSlot(name, PaperNameAt(papers, i), kPaperNameChars);
            TraceLogWrite(LibraryLog, 0, L"\t\tpaper %3d: [%3d] [%4d x %4d] %s\n", static_cast<int>(i),
                          static_cast<int>(id), static_cast<int>(size.width), static_cast<int>(size.length), name);
        }
    });
    if (!ok) TraceLogWrite(LibraryLog, 0, L"threw exception while trying to print bin information\n");
}

void DumpBins(const BinBuffer* bins) {
    const bool ok = platform::Guarded([&] {
        for (DWORD i = 0; i < bins->dwNumBins; ++i) {
            WORD id = 0;
            WCHAR name[kBinNameChars + 1];
            BinIdAt(bins, i, &id);
            CopyNameSlot(name, BinNameAt(bins, i), kBinNameChars);
            TraceLogWrite(LibraryLog, 0, L"\t\tbin %d: [%2d] %s\n", static_cast<int>(i), static_cast<int>(id), name);
        }
    });
    if (!ok) TraceLogWrite(LibraryLog, 0, L"threw exception while trying to print bin information\n");
}

void DumpMedias(const MediaBuffer* medias) {
    const bool ok = platform::Guarded([&] {
        for (DWORD i = 0; i < medias->dwNumMediaTypes; ++i) {
            DWORD id = 0;
            WCHAR name[kMediaNameChars + 1];
            MediaIdAt(medias, i, &id);
            CopyNameSlot(name, MediaNameAt(medias, i), kMediaNameChars);
            TraceLogWrite(LibraryLog, 0, L"\t\tmedia %d: [%2d] %s\n", static_cast<int>(i), static_cast<int>(id), name);
        }
    });
    if (!ok) TraceLogWrite(LibraryLog, 0, L"threw exception while trying to print bin information\n");
}

// The default blocks are assembled like a measured one: the lists are made
// in temporary arrays and copied into the block.
PaperBuffer* DefaultPapers() {
    const int counts[3] = {kDefaultPaperCount, kDefaultPaperCount, kDefaultPaperCount};
    WCHAR* names = platform::HeapAllocZeroAs<WCHAR>(kDefaultPaperCount * kPaperNameBytes);
    WORD* ids = platform::HeapAllocZeroAs<WORD>(kDefaultPaperCount * kPaperIdBytes);
    PaperSize* sizes = platform::HeapAllocZeroAs<PaperSize>(kDefaultPaperCount * kPaperSizeBytes);
    BYTE* block = names && ids && sizes ? AllocateBlock(kPaperSpec, counts, false) : nullptr;
    if (block) {
        for (DWORD i = 0; i < kDefaultPaperCount; ++i) {
            platform::CopyString(names + i * kPaperNameChars, kPaperNameChars, kDefaultPapers[i].name);
            ids[i] = kDefaultPapers[i].id;
            sizes[i] = {kDefaultPapers[i].width, kDefaultPapers[i].length};
        }
        auto* papers = reinterpret_cast<PaperBuffer*>(block);
        std::memcpy(PaperNames(papers), names, papers->dwSizeOfPaperNames);
        std::memcpy(PaperIds(papers), ids, papers->dwSizeOfPapers);
        std::memcpy(PaperSizeBytes(papers), sizes, papers->dwSizeOfPaperSize);
    }
    platform::HeapFreeBlock(names);
    platform::HeapFreeBlock(ids);
    platform::HeapFreeBlock(sizes);
    return reinterpret_cast<PaperBuffer*>(block);
}

BinBuffer* DefaultBins() {
    const int counts[3] = {kDefaultBinCount, kDefaultBinCount, 0};
    WCHAR* names = platform::HeapAllocZeroAs<WCHAR>(kDefaultBinCount * kBinNameBytes);
    WORD* ids = platform::HeapAllocZeroAs<WORD>(kDefaultBinCount * kBinIdBytes);
    BYTE* block = names && ids ? AllocateBlock(kBinSpec, counts, false) : nullptr;
    if (block) {
        for (DWORD i = 0; i < kDefaultBinCount; ++i) {
            platform::CopyString(names + i * kBinNameChars, kBinNameChars, kDefaultBins[i].name);
            ids[i] = kDefaultBins[i].id;
        }
        auto* bins = reinterpret_cast<BinBuffer*>(block);
        std::memcpy(BinNames(bins), names, bins->dwSizeOfBinNames);
        std::memcpy(BinIds(bins), ids, bins->dwSizeOfBins);
    }
    platform::HeapFreeBlock(names);
    platform::HeapFreeBlock(ids);
    return reinterpret_cast<BinBuffer*>(block);
}

}  // namespace

PaperBuffer* vlibPRINT_QueryDevCap_Papers(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_Papers => \n");
    void* temps[3] = {};
    PaperBuffer* papers = nullptr;
    if (!pDevice) {
        TraceLogWrite(LibraryLog, 0, L"using defaults\n");
        papers = DefaultPapers();
    } else {
        papers = reinterpret_cast<PaperBuffer*>(QueryBlock(kPaperSpec, pDevice, pPort, pDevMode, temps));
    }
    if (papers) DumpPapers(papers);
    FreeTemps(temps);
    return papers;
}

BinBuffer* vlibPRINT_QueryDevCap_Bins(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_Bins => \n");
    void* temps[3] = {};
    BinBuffer* bins = nullptr;
    if (!pDevice) {
        TraceLogWrite(LibraryLog, 0, L"using defaults\n");
        bins = DefaultBins();
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_Bins => DC_BINS\n");
    } else {
        bins = reinterpret_cast<BinBuffer*>(QueryBlock(kBinSpec, pDevice, pPort, pDevMode, temps));
    }
    if (bins) DumpBins(bins);
    FreeTemps(temps);
    return bins;
}

MediaBuffer* vlibPRINT_QueryDevCap_Medias(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_Medias => DC_MEDIATYPENAMES\n");
    if (!pDevice) {
        // There is no built-in media list: the caller records none.
        TraceLogWrite(LibraryLog, 0, L"using defaults\n");
        return nullptr;
    }
    void* temps[3] = {};
    auto* medias = reinterpret_cast<MediaBuffer*>(QueryBlock(kMediaSpec, pDevice, pPort, pDevMode, temps));
    if (medias) DumpMedias(medias);
    FreeTemps(temps);
    return medias;
}
