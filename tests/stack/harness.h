// The private CUPS scheduler of scripts/cups-harness as its environment
// describes it: KV_CUPS_PRINTERS (comma-separated, in the spooler's order),
// KV_CUPS_CONNECTIONS (the printers set up as connections),
// KV_CUPS_DEVMODE_0401 (the printers with a stored 0x0401 default DEVMODE)
// and KV_CUPS_PPD_DIR (the scheduler's PPDs). Without the harness
// (scripts/test starts it) the stack tests are skipped.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/ppd_pages.h"
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
    const std::vector<std::wstring> items = List(variable);
    return std::find(items.begin(), items.end(), printer) != items.end();
}

// Option entries of one main keyword of the printer's PPD: lines
// "*Keyword option[/text]: ...".
inline int PpdEntries(const std::wstring& printer, const std::string& keyword) {
    std::istringstream ppd(testsupport::ReadFileBytes(testsupport::PpdPath(printer)));
    int count = 0;
    for (std::string line; std::getline(ppd, line);)
        count += line.rfind("*" + keyword + " ", 0) == 0 && line.find(':') != std::string::npos;
    return count;
}

}  // namespace harness

#define KV_SKIP_WITHOUT_HARNESS()                                                            \
    if (harness::List(L"KV_CUPS_PRINTERS").empty() || !_wgetenv(L"KV_CUPS_PPD_DIR") ||      \
        !_wgetenv(L"CUPS_SERVER"))                                                           \
    GTEST_SKIP() << "the CUPS harness is not running: run scripts/test"
