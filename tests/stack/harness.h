// The private CUPS scheduler of scripts/cups-harness as its environment
// describes it: KV_CUPS_PRINTERS (comma-separated, in the spooler's order),
// KV_CUPS_CONNECTIONS (the printers set up as connections),
// KV_CUPS_DEVMODE_0401 (the printers with a stored 0x0401 default DEVMODE)
// and KV_CUPS_PPD_DIR (the scheduler's PPDs, whose page sizes the geometry
// checks read). Without the harness
// (scripts/test starts it) the stack tests are skipped.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace harness {

inline std::vector<std::wstring> List(const wchar_t* variable) {
    const wchar_t* value = _wgetenv(variable);
    std::wstringstream list(value ? value : L"");
    std::vector<std::wstring> items;
    for (std::wstring item; std::getline(list, item, L',');)
        if (!item.empty()) items.push_back(item);
    return items;
}

inline bool Listed(const wchar_t* variable, const std::wstring& printer) {
    return std::ranges::count(List(variable), printer) > 0;
}

// The printer's PPD in the scheduler's ppd folder (KV_CUPS_PPD_DIR).
inline std::wstring PpdPath(const std::wstring& printer) {
    const wchar_t* dir = _wgetenv(L"KV_CUPS_PPD_DIR");
    return std::wstring(dir ? dir : L"") + L"\\" + printer + L".ppd";
}

// One page size, in points: *PaperDimension and *ImageableArea of one option.
struct PpdPage {
    std::string option;  // "A4", "Letter.Borderless"
    std::string text;    // its translation text ("A4 (Borderless)"), or the option when it has none
    double width = 0, length = 0;
    double area[4] = {};  // llx lly urx ury
};

// The page sizes of the printer's PPD in the order they first appear; none
// when the file cannot be read.
inline std::vector<PpdPage> ReadPpdPages(const std::wstring& printer) {
    static const std::regex entry(R"re(\*(PaperDimension|ImageableArea) ([^/:]+)(/(.*))?:[ \t]*"([^"]*)"[ \t]*\r?)re");
    std::istringstream ppd(testsupport::ReadFileBytes(PpdPath(printer)));
    std::vector<PpdPage> pages;
    std::smatch m;
    for (std::string line; std::getline(ppd, line);) {
        if (!std::regex_match(line, m, entry)) continue;
        auto page = std::find_if(pages.begin(), pages.end(), [&](const PpdPage& p) { return p.option == m[2]; });
        if (page == pages.end()) page = pages.insert(pages.end(), {m[2], m[4].matched ? m[4] : m[2]});
        std::istringstream values(m[5].str());
        if (m[1] == "PaperDimension") values >> page->width >> page->length;
        else values >> page->area[0] >> page->area[1] >> page->area[2] >> page->area[3];
    }
    return pages;
}

// A list of a block (count entries of width bytes at offset) against the
// driver's own answer to direct DeviceCapabilitiesW calls, entry by entry.
inline void ExpectSameList(const std::wstring& printer, WORD index, DWORD width, const void* block, DWORD count, DWORD offset) {
    SCOPED_TRACE("index " + std::to_string(index));
    const int direct = platform::spooler.DeviceCapabilitiesW(printer.c_str(), nullptr, index, nullptr, nullptr);
    ASSERT_TRUE(direct > 0 && count == static_cast<DWORD>(direct)) << count << " against " << direct;
    std::vector<BYTE> entries(count * width);
    LPWSTR output = reinterpret_cast<LPWSTR>(entries.data());
    ASSERT_EQ(platform::spooler.DeviceCapabilitiesW(printer.c_str(), nullptr, index, output, nullptr), direct);
    for (DWORD i = 0; i < count; ++i)
        EXPECT_EQ(std::memcmp(static_cast<const BYTE*>(block) + offset + i * width, &entries[i * width], width), 0)
            << "entry " << i;
}

}  // namespace harness

#define KV_SKIP_WITHOUT_HARNESS()                                                            \
    if (harness::List(L"KV_CUPS_PRINTERS").empty() || !_wgetenv(L"KV_CUPS_PPD_DIR") ||      \
        !_wgetenv(L"CUPS_SERVER"))                                                           \
    GTEST_SKIP() << "the CUPS harness is not running: run scripts/test"
