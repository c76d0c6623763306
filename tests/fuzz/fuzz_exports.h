// What the exports and kvcaps targets share: the tool's output caught in
// memory instead of standard output.
#pragma once

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tools/kvcaps/kvcaps.h"

// The text the page report writes for the record, or empty.
inline std::string PageReportHtml(const std::vector<BYTE>& record, const std::wstring& printer) {
    extern std::string fuzzOut;
    fuzzOut.clear();
    return kvcaps::WriteHtmlExport(record, printer) == kvcaps::kOk ? fuzzOut : std::string();
}
