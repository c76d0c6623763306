// The paper and bin queries against the real print stack (Wine's PostScript
// driver over a private CUPS scheduler): what they store must be what the
// driver answers to direct DeviceCapabilitiesW calls, and their counts must
// follow the printer's PPD. KV_CUPS_PRINTERS lists the printers, comma-
// separated; KV_CUPS_PPD_DIR is the folder of their <name>.ppd files.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "devcaps/list_queries.h"
#include "platform/kernel.h"
#include "support/temp_dir.h"

namespace {

std::wstring Env(const wchar_t* name) {
    WCHAR buffer[1024];
    const DWORD n = ::GetEnvironmentVariableW(name, buffer, 1024);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

// Option entries of one main keyword: lines "*Keyword option[/text]: ...".
int PpdEntries(const std::wstring& printer, const std::string& keyword) {
    std::istringstream ppd(testsupport::ReadFileBytes(Env(L"KV_CUPS_PPD_DIR") + L"\\" + printer + L".ppd"));
    int count = 0;
    for (std::string line; std::getline(ppd, line);)
        count += line.rfind("*" + keyword + " ", 0) == 0 && line.find(':') != std::string::npos;
    return count;
}

// One list of a block against the driver's own answer: counted (twice, as
// the queries do) and fetched directly, then compared entry by entry.
void ExpectSameList(const std::wstring& printer, WORD index, DWORD width, const void* block, DWORD count,
                    DWORD offset) {
    SCOPED_TRACE("index " + std::to_string(index));
    platform::spooler.DeviceCapabilitiesW(printer.c_str(), nullptr, index, nullptr, nullptr);
    const int direct = platform::spooler.DeviceCapabilitiesW(printer.c_str(), nullptr, index, nullptr, nullptr);
    ASSERT_GT(direct, 0);
    ASSERT_EQ(count, static_cast<DWORD>(direct));
    std::vector<BYTE> entries(count * width);
    LPWSTR output = reinterpret_cast<LPWSTR>(entries.data());
    ASSERT_EQ(platform::spooler.DeviceCapabilitiesW(printer.c_str(), nullptr, index, output, nullptr), direct);
    for (DWORD i = 0; i < count; ++i)
        EXPECT_EQ(std::memcmp(static_cast<const BYTE*>(block) + offset + i * width, &entries[i * width], width), 0)
            << "entry " << i;
}

TEST(DevCapsStack, PaperAndBinListsMatchTheDriverAndThePpd) {
    std::vector<std::wstring> printers;
    std::wistringstream names(Env(L"KV_CUPS_PRINTERS"));
    for (std::wstring name; std::getline(names, name, L',');)
        if (!name.empty()) printers.push_back(name);
    if (printers.empty() || Env(L"KV_CUPS_PPD_DIR").empty()) GTEST_SKIP() << "the CUPS harness is not running";
    for (const std::wstring& printer : printers) {
        SCOPED_TRACE(testsupport::Narrow(printer));
        PaperBuffer* p = vlibPRINT_QueryDevCap_Papers(printer.c_str(), nullptr, nullptr);
        BinBuffer* b = vlibPRINT_QueryDevCap_Bins(printer.c_str(), nullptr, nullptr);
        ASSERT_TRUE(p && b);
        ExpectSameList(printer, DC_PAPERNAMES, kPaperNameBytes, p, p->dwNumPaperNames, p->dwOffsetToPaperNames);
        ExpectSameList(printer, DC_PAPERS, kPaperIdBytes, p, p->dwNumPapers, p->dwOffsetToPapers);
        ExpectSameList(printer, DC_PAPERSIZE, kPaperSizeBytes, p, p->dwNumPaperSize, p->dwOffsetToPaperSize);
        ExpectSameList(printer, DC_BINNAMES, kBinNameBytes, b, b->dwNumBinNames, b->dwOffsetToBinNames);
        ExpectSameList(printer, DC_BINS, kBinIdBytes, b, b->dwNumBins, b->dwOffsetToBins);
        EXPECT_EQ(static_cast<int>(p->dwNumPapers), PpdEntries(printer, "PageSize"));
        // Wine's driver offers "Automatically Select" besides the PPD's slots.
        EXPECT_EQ(static_cast<int>(b->dwNumBins), PpdEntries(printer, "InputSlot") + 1);
        platform::HeapFreeBlock(p);
        platform::HeapFreeBlock(b);
    }
}

}  // namespace
