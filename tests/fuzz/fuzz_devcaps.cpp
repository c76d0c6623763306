// A driver's answers to the list queries: each call of DeviceCapabilitiesW
// takes the next input byte as its (signed) answer; a call with an array
// writes that many entries, at most twice the count it last gave for the
// index (a list grown since it was counted), their bytes taken from the
// input in turn (names fill their slots, terminated or not).
#include "devcaps/list_queries.h"
#include "devcaps/named_lists.h"
#include "devcaps/resolutions.h"
#include <algorithm>

#include "tests/fuzz/fuzz_support.h"

namespace {

struct Driver {
    const uint8_t* data;
    size_t size, at;
    int counted[64], fetched[64];
    uint8_t Next() { return size ? data[at++ % size] : 0; }
} driver;

DWORD Width(WORD index) {
    switch (index) {
    case DC_PAPERNAMES: case DC_MEDIATYPENAMES: case DC_FILEDEPENDENCIES: case DC_MEDIAREADY: return 128;
    case DC_PERSONALITY: return 64;
    case DC_BINNAMES: return 48;
    case DC_PAPERSIZE: case DC_ENUMRESOLUTIONS: return 8;
    case DC_MEDIATYPES: case DC_NUP: return 4;
    default: return 2;
    }
}

int WINAPI Capabilities(LPCWSTR, LPCWSTR, WORD index, LPWSTR output, const DEVMODEW*) {
    const int answer = static_cast<int8_t>(driver.Next());
    if (!output) return driver.counted[index % 64] = answer;
    const int limit = 2 * std::max(driver.counted[index % 64], 0);
    const size_t written = std::clamp(answer, 0, limit) * size_t{Width(index)};
    for (size_t i = 0; i < written; ++i) reinterpret_cast<BYTE*>(output)[i] = driver.Next();
    return driver.fetched[index % 64] = answer;
}

// A list of the block keeps inside it, to the count it was sized for.
template <class Block>
void Check(const Block* block, DWORD Block::*num, DWORD Block::*bytes, DWORD Block::*offset, WORD index) {
    const DWORD n = block->*num, size = block->*bytes, at = block->*offset;
    FUZZ_EXPECT(at >= sizeof(Block) && at <= block->dwSize && size <= block->dwSize - at);
    FUZZ_EXPECT(n * uint64_t{Width(index)} <= size && (n == 0 || static_cast<int>(n) <= driver.counted[index % 64]));
}

template <class T>
void CheckList(T* list, DWORD num, DWORD bytes, WORD index) {
    FUZZ_EXPECT(!list ? !num && !bytes : num * uint64_t{Width(index)} == bytes &&
                static_cast<int>(num) == driver.counted[index % 64] && driver.fetched[index % 64] == driver.counted[index % 64]);
    platform::HeapFreeBlock(list);
}

}  // namespace

int FuzzInput(const uint8_t* data, size_t size) {
    FuzzLog();
    platform::spooler.DeviceCapabilitiesW = Capabilities;
    driver = {data, size, 0, {}, {}};
    const WCHAR* printer = L"P";
    if (PaperBuffer* papers = vlibPRINT_QueryDevCap_Papers(printer, L"", nullptr)) {
        Check(papers, &PaperBuffer::dwNumPaperNames, &PaperBuffer::dwSizeOfPaperNames, &PaperBuffer::dwOffsetToPaperNames, DC_PAPERNAMES);
        Check(papers, &PaperBuffer::dwNumPapers, &PaperBuffer::dwSizeOfPapers, &PaperBuffer::dwOffsetToPapers, DC_PAPERS);
        Check(papers, &PaperBuffer::dwNumPaperSize, &PaperBuffer::dwSizeOfPaperSize, &PaperBuffer::dwOffsetToPaperSize, DC_PAPERSIZE);
        platform::HeapFreeBlock(papers);
    }
    if (BinBuffer* bins = vlibPRINT_QueryDevCap_Bins(printer, L"", nullptr)) {
        Check(bins, &BinBuffer::dwNumBinNames, &BinBuffer::dwSizeOfBinNames, &BinBuffer::dwOffsetToBinNames, DC_BINNAMES);
        Check(bins, &BinBuffer::dwNumBins, &BinBuffer::dwSizeOfBins, &BinBuffer::dwOffsetToBins, DC_BINS);
        platform::HeapFreeBlock(bins);
    }
    if (MediaBuffer* media = vlibPRINT_QueryDevCap_Medias(printer, L"", nullptr)) {
        Check(media, &MediaBuffer::dwNumMediaTypeNames, &MediaBuffer::dwSizeOfMediaTypeNames, &MediaBuffer::dwOffsetToMediaTypeNames, DC_MEDIATYPENAMES);
        Check(media, &MediaBuffer::dwNumMediaTypes, &MediaBuffer::dwSizeOfMediaTypes, &MediaBuffer::dwOffsetToMediaTypes, DC_MEDIATYPES);
        platform::HeapFreeBlock(media);
    }
    DWORD num = 0, bytes = 0;
    CheckList(vlibPRINT_QueryDevCap_Files(printer, L"", nullptr, &num, &bytes), num, bytes, DC_FILEDEPENDENCIES);
    CheckList(vlibPRINT_QueryDevCap_NUP(printer, L"", nullptr, &num, &bytes), num, bytes, DC_NUP);
    CheckList(vlibPRINT_QueryDevCap_Personality(printer, L"", nullptr, &num, &bytes), num, bytes, DC_PERSONALITY);
    CheckList(vlibPRINT_QueryDevCap_MediaReady(printer, L"", nullptr, &num, &bytes), num, bytes, DC_MEDIAREADY);
    CheckList(vlibPRINT_QueryDevCap_Resolutions(printer, L"", nullptr, nullptr, &num, &bytes), num, bytes, DC_ENUMRESOLUTIONS);
    return 0;
}
