// Packing and unpacking speed of the capability record for a large printer:
// 118 papers measured at 4 resolutions. Run by hand; prints its figures.
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/kernel.h"
#include "records/caps4.h"

namespace {

template <class T>
T* Block(size_t bytes) {
    return platform::HeapAllocZeroAs<T>(bytes);
}

void FillNames(WCHAR* slots, size_t count, size_t chars, const WCHAR* stem) {
    for (size_t i = 0; i < count; ++i) _snwprintf(slots + i * chars, chars - 1, L"%s %u", stem, static_cast<unsigned>(i));
}

// A filled set: 118 papers, 4 resolutions, 472 forms, and the usual lists.
void FillLarge(QueryBuffers& b) {
    const DWORD papers = 118, resolutions = 4, bins = 8, media = 12;
    b.bFilled = 1;

    const DWORD binBytes = sizeof(BinBuffer) + bins * (kBinIdBytes + kBinNameBytes);
    b.pBins = Block<BinBuffer>(binBytes);
    *b.pBins = {binBytes, bins, bins * kBinIdBytes, sizeof(BinBuffer), bins, bins * kBinNameBytes,
                static_cast<DWORD>(sizeof(BinBuffer) + bins * kBinIdBytes)};
    FillNames(reinterpret_cast<WCHAR*>(reinterpret_cast<BYTE*>(b.pBins) + b.pBins->dwOffsetToBinNames), bins,
              kBinNameChars, L"Tray");

    const DWORD mediaBytes = sizeof(MediaBuffer) + media * (kMediaIdBytes + kMediaNameBytes);
    b.pMedias = Block<MediaBuffer>(mediaBytes);
    *b.pMedias = {mediaBytes, media, media * kMediaIdBytes, sizeof(MediaBuffer), media, media * kMediaNameBytes,
                  static_cast<DWORD>(sizeof(MediaBuffer) + media * kMediaIdBytes)};

    const DWORD paperBytes = sizeof(PaperBuffer) + papers * (kPaperIdBytes + kPaperNameBytes + kPaperSizeBytes);
    b.pPapers = Block<PaperBuffer>(paperBytes);
    PaperBuffer& p = *b.pPapers;
    p.dwSize = paperBytes;
    p.dwNumPapers = p.dwNumPaperNames = p.dwNumPaperSize = papers;
    p.dwSizeOfPapers = papers * kPaperIdBytes;
    p.dwSizeOfPaperNames = papers * kPaperNameBytes;
    p.dwSizeOfPaperSize = papers * kPaperSizeBytes;
    p.dwOffsetToPapers = sizeof(PaperBuffer);
    p.dwOffsetToPaperNames = p.dwOffsetToPapers + p.dwSizeOfPapers;
    p.dwOffsetToPaperSize = p.dwOffsetToPaperNames + p.dwSizeOfPaperNames;
    FillNames(reinterpret_cast<WCHAR*>(reinterpret_cast<BYTE*>(b.pPapers) + p.dwOffsetToPaperNames), papers,
              kPaperNameChars, L"Paper");

    b.dwNumResolutions = resolutions;
    b.dwSizeOfResolutions = resolutions * kResolutionBytes;
    b.pResolutions = Block<ResolutionPair>(b.dwSizeOfResolutions);
    b.dwNumResolutionsIndexed = 4;
    b.dwSizeOfResolutionsIndexed = 4 * kResolutionBytes;
    b.pResolutionsIndexed = Block<ResolutionPair>(b.dwSizeOfResolutionsIndexed);
    b.dwNumFiles = 6;
    b.dwSizeOfFiles = 6 * kFileNameBytes;
    b.pFiles = Block<WCHAR>(b.dwSizeOfFiles);
    b.dwNumMediaReady = 3;
    b.dwSizeOfMediaReady = 3 * kMediaReadyBytes;
    b.pMediaReady = Block<WCHAR>(b.dwSizeOfMediaReady);
    b.dwNumNUP = 6;
    b.dwSizeOfNUP = 6 * kNupBytes;
    b.pNUP = Block<DWORD>(b.dwSizeOfNUP);
    b.dwNumPersonality = 2;
    b.dwSizeOfPersonality = 2 * kPersonalityBytes;
    b.pPersonality = Block<WCHAR>(b.dwSizeOfPersonality);
    b.dwNumForms = papers * resolutions;
    b.dwSizeOfForms = b.dwNumForms * kFormBytes;
    b.pForms = Block<FormEntry>(b.dwSizeOfForms);
    for (DWORD i = 0; i < b.dwNumForms; ++i) b.pForms[i].formNo = static_cast<LONG>(i);
    b.pLowLevel = Block<LowLevelCaps>(sizeof(LowLevelCaps));
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main() {
    QueryBuffers source{};
    FillLarge(source);
    caps4* record = vlibPRINT_PackCaps4(&source);
    if (!record) {
        std::printf("packing failed\n");
        return 1;
    }
    const DWORD size = record->dwSize;
    std::printf("record: 118 papers x 4 resolutions, %lu bytes\n", static_cast<unsigned long>(size));

    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    const int rounds = 5000;

    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < rounds; ++i) platform::HeapFreeBlock(vlibPRINT_PackCaps4(&source));
    ::QueryPerformanceCounter(&end);
    const double pack = Seconds(start, end, frequency) / rounds;

    QueryBuffers target{};
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < rounds; ++i) vlibPRINT_UnpackCaps4(&target, record, size);
    ::QueryPerformanceCounter(&end);
    const double unpack = Seconds(start, end, frequency) / rounds;

    caps4* again = vlibPRINT_PackCaps4(&target);
    const bool same = again && again->dwSize == size && std::memcmp(again, record, size) == 0;

    std::printf("pack:   %8.2f us per record, %8.1f MB/s\n", pack * 1e6, size / pack / 1e6);
    std::printf("unpack: %8.2f us per record, %8.1f MB/s (includes freeing the previous set)\n", unpack * 1e6,
                size / unpack / 1e6);
    std::printf("round trip identical: %s\n", same ? "yes" : "NO");

    platform::HeapFreeBlock(again);
    platform::HeapFreeBlock(record);
    vlibPRINT_FreeQueryBuffers(&target);
    vlibPRINT_FreeQueryBuffers(&source);
    return same ? 0 : 1;
}
