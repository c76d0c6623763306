// The list queries against the real print stack (Wine's PostScript driver
// over a private CUPS scheduler): what the queries store must be what the
// driver answers to direct DeviceCapabilitiesW calls, and the paper and bin
// counts must follow the printer's PPD.
//
// KV_CUPS_PRINTERS names the printers (separated by commas or blanks);
// KV_PPD_<name> holds the PPD path of each, with every character of the name
// that is not a letter or digit turned into '_'; without it the PPD is looked
// for as <name>.ppd in the folder KV_CUPS_PPD_DIR.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "devcaps/list_queries.h"
#include "platform/kernel.h"
#include "platform/platform.h"

namespace {

std::wstring Env(const std::wstring& name) {
    WCHAR buffer[4096];
    const DWORD n = ::GetEnvironmentVariableW(name.c_str(), buffer, 4096);
    return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
}

std::vector<std::wstring> Printers() {
    std::vector<std::wstring> names;
    std::wstring all = Env(L"KV_CUPS_PRINTERS"), item;
    all += L',';
    for (WCHAR c : all) {
        if (c == L',' || c == L' ') {
            if (!item.empty()) names.push_back(item);
            item.clear();
        } else {
            item += c;
        }
    }
    return names;
}

std::string ReadPpd(const std::wstring& printer) {
    std::wstring key = L"KV_PPD_";
    for (WCHAR c : printer) key += ::IsCharAlphaNumericW(c) ? c : L'_';
    std::wstring path = Env(key);
    if (path.empty() && !Env(L"KV_CUPS_PPD_DIR").empty()) path = Env(L"KV_CUPS_PPD_DIR") + L"\\" + printer + L".ppd";
    if (path.empty()) return {};
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file && path[0] == L'/') {
        // A host path: Wine's Z: drive is the host's root.
        std::wstring dos = L"Z:" + path;
        for (WCHAR& c : dos)
            if (c == L'/') c = L'\\';
        file = _wfopen(dos.c_str(), L"rb");
    }
    if (!file) return {};
    std::string text;
    char chunk[4096];
    size_t n = 0;
    while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0) text.append(chunk, n);
    fclose(file);
    return text;
}

// Option entries of one main keyword: lines "*Keyword option[/text]: ...".
int CountOptionEntries(const std::string& ppd, const std::string& keyword) {
    int count = 0;
    size_t start = 0;
    const std::string head = "*" + keyword + " ";
    while (start < ppd.size()) {
        size_t end = ppd.find('\n', start);
        if (end == std::string::npos) end = ppd.size();
        const std::string line = ppd.substr(start, end - start);
        if (line.compare(0, head.size(), head) == 0 && line.find(':') != std::string::npos) ++count;
        start = end + 1;
    }
    return count;
}

// A list fetched straight from the driver: count (asked twice, as the
// queries do), then the entries.
std::vector<BYTE> Direct(const std::wstring& printer, WORD index, size_t width, int* count) {
    *count = platform::spooler.DeviceCapabilitiesW(printer.c_str(), nullptr, index, nullptr, nullptr);
    if (*count > 0) *count = platform::spooler.DeviceCapabilitiesW(printer.c_str(), nullptr, index, nullptr, nullptr);
    std::vector<BYTE> entries(*count > 0 ? static_cast<size_t>(*count) * width : 0);
    if (!entries.empty()) {
        const int fetched = platform::spooler.DeviceCapabilitiesW(printer.c_str(), nullptr, index,
                                                                 reinterpret_cast<LPWSTR>(entries.data()), nullptr);
        EXPECT_EQ(fetched, *count) << "index " << index;
    }
    return entries;
}

#define KV_NEED_CUPS_PRINTERS(list)                                                       \
    const std::vector<std::wstring> list = Printers();                                    \
    if (list.empty()) GTEST_SKIP() << "KV_CUPS_PRINTERS is not set: no private CUPS printers"

TEST(DevCapsStack, PaperListsMatchTheDriverAndThePpd) {
    KV_NEED_CUPS_PRINTERS(printers);
    for (const std::wstring& printer : printers) {
        SCOPED_TRACE(std::string(printer.begin(), printer.end()));
        PaperBuffer* papers = vlibPRINT_QueryDevCap_Papers(printer.c_str(), nullptr, nullptr);
        ASSERT_NE(papers, nullptr);
        int names = 0, ids = 0, sizes = 0;
        const std::vector<BYTE> nameBytes = Direct(printer, DC_PAPERNAMES, kPaperNameBytes, &names);
        const std::vector<BYTE> idBytes = Direct(printer, DC_PAPERS, kPaperIdBytes, &ids);
        const std::vector<BYTE> sizeBytes = Direct(printer, DC_PAPERSIZE, kPaperSizeBytes, &sizes);
        EXPECT_GT(ids, 0);
        EXPECT_EQ(papers->dwNumPaperNames, static_cast<DWORD>(names));
        EXPECT_EQ(papers->dwNumPapers, static_cast<DWORD>(ids));
        EXPECT_EQ(papers->dwNumPaperSize, static_cast<DWORD>(sizes));
        ASSERT_EQ(papers->dwSizeOfPaperNames, nameBytes.size());
        ASSERT_EQ(papers->dwSizeOfPapers, idBytes.size());
        ASSERT_EQ(papers->dwSizeOfPaperSize, sizeBytes.size());
        const BYTE* block = reinterpret_cast<const BYTE*>(papers);
        for (int i = 0; i < ids; ++i) {
            EXPECT_EQ(std::memcmp(block + papers->dwOffsetToPapers + i * 2, idBytes.data() + i * 2, 2), 0) << i;
        }
        for (int i = 0; i < names; ++i) {
            EXPECT_EQ(std::memcmp(block + papers->dwOffsetToPaperNames + i * 128, nameBytes.data() + i * 128, 128), 0)
                << i;
        }
        for (int i = 0; i < sizes; ++i) {
            EXPECT_EQ(std::memcmp(block + papers->dwOffsetToPaperSize + i * 8, sizeBytes.data() + i * 8, 8), 0) << i;
        }
        const std::string ppd = ReadPpd(printer);
        if (ppd.empty()) {
            ADD_FAILURE() << "no readable PPD for this printer";
        } else {
            EXPECT_EQ(static_cast<int>(papers->dwNumPapers), CountOptionEntries(ppd, "PageSize"));
        }
        platform::HeapFreeBlock(papers);
    }
}

TEST(DevCapsStack, BinListsMatchTheDriverAndThePpd) {
    KV_NEED_CUPS_PRINTERS(printers);
    for (const std::wstring& printer : printers) {
        SCOPED_TRACE(std::string(printer.begin(), printer.end()));
        BinBuffer* bins = vlibPRINT_QueryDevCap_Bins(printer.c_str(), nullptr, nullptr);
        ASSERT_NE(bins, nullptr);
        int names = 0, ids = 0;
        const std::vector<BYTE> nameBytes = Direct(printer, DC_BINNAMES, kBinNameBytes, &names);
        const std::vector<BYTE> idBytes = Direct(printer, DC_BINS, kBinIdBytes, &ids);
        EXPECT_EQ(bins->dwNumBinNames, static_cast<DWORD>(names));
        EXPECT_EQ(bins->dwNumBins, static_cast<DWORD>(ids));
        ASSERT_EQ(bins->dwSizeOfBinNames, nameBytes.size());
        ASSERT_EQ(bins->dwSizeOfBins, idBytes.size());
        const BYTE* block = reinterpret_cast<const BYTE*>(bins);
        if (!idBytes.empty()) EXPECT_EQ(std::memcmp(block + bins->dwOffsetToBins, idBytes.data(), idBytes.size()), 0);
        if (!nameBytes.empty()) {
            EXPECT_EQ(std::memcmp(block + bins->dwOffsetToBinNames, nameBytes.data(), nameBytes.size()), 0);
        }
        const std::string ppd = ReadPpd(printer);
        if (!ppd.empty()) {
            // The driver offers "Automatically Select" besides the PPD's slots.
            EXPECT_EQ(static_cast<int>(bins->dwNumBins), CountOptionEntries(ppd, "InputSlot") + 1);
        }
        platform::HeapFreeBlock(bins);
    }
}

TEST(DevCapsStack, ResolutionListFollowsThePpdAndIsStable) {
    KV_NEED_CUPS_PRINTERS(printers);
    for (const std::wstring& printer : printers) {
        SCOPED_TRACE(std::string(printer.begin(), printer.end()));
        int first = 0, second = 0;
        const std::vector<BYTE> a = Direct(printer, DC_ENUMRESOLUTIONS, 8, &first);
        const std::vector<BYTE> b = Direct(printer, DC_ENUMRESOLUTIONS, 8, &second);
        ASSERT_EQ(first, second);
        EXPECT_EQ(a, b);
        for (int i = 0; i < first; ++i) {
            LONG pair[2];
            std::memcpy(pair, a.data() + i * 8, 8);
            EXPECT_GT(pair[0], 0) << i;
            EXPECT_GT(pair[1], 0) << i;
        }
        // One pair per *Resolution option; a PPD with only *DefaultResolution
        // gives an empty list (the printer is then measured by quality level).
        const std::string ppd = ReadPpd(printer);
        if (!ppd.empty()) EXPECT_EQ(first, CountOptionEntries(ppd, "Resolution"));
    }
}

}  // namespace
