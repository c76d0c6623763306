// The page sizes of a PPD file, for the tests that check page geometry
// against the scheduler's PPDs.
#pragma once

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace testsupport {

// One page size, in points: *PaperDimension and *ImageableArea of one option.
struct PpdPage {
    std::string option;  // "A4", "Letter.Borderless"
    std::string text;    // its translation text ("A4 (Borderless)"), or the option when it has none
    double width = 0, length = 0;
    double area[4] = {};  // llx lly urx ury
};

// The printer's PPD in the scheduler's ppd folder (KV_CUPS_PPD_DIR).
inline std::wstring PpdPath(const std::wstring& printer) {
    const wchar_t* dir = _wgetenv(L"KV_CUPS_PPD_DIR");
    return std::wstring(dir ? dir : L"") + L"\\" + printer + L".ppd";
}

// The page sizes in the order they first appear; none when the file cannot be read.
inline std::vector<PpdPage> ReadPpdPages(const std::wstring& path) {
    static const std::regex entry(R"re(\*(PaperDimension|ImageableArea) ([^/:]+)(/(.*))?: "([^"]*)"\r?)re");
    std::istringstream ppd(ReadFileBytes(path));
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

}  // namespace testsupport
