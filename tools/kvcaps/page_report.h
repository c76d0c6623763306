// kvcaps: what the page report (--html) shows, in millimetres and plain
// text, apart from where the numbers come from (page_report.cpp) and from how
// they are drawn (export_html.cpp).
#pragma once

#include <string>
#include <vector>

#include "records/query_buffers.h"

namespace kvcaps {

// A paper's page at one resolution: the sheet the driver measured and its
// printable area's place and size on it, in millimetres.
struct ReportArea {
    std::string resolution;  // "300 x 300 dpi"
    double pageWidth = 0, pageLength = 0;
    double left = 0, top = 0, printableWidth = 0, printableLength = 0;
    double Right() const { return pageWidth - left - printableWidth; }
    double Bottom() const { return pageLength - top - printableLength; }
};

struct ReportPaper {
    std::string name;  // empty when the name list is shorter
    long id = -1;      // -1 when the id list is shorter
    double width = 0, length = 0;  // the paper size list's size
    bool measured = false;         // a measured page at the resolution for normal printing: `normal`
    ReportArea normal;
    std::vector<ReportArea> others;  // the other resolutions whose page or margins differ from `normal`
};

// A table of text: a title, the column heads and the rows.
struct ReportTable {
    std::string title;
    std::vector<std::string> head;
    std::vector<std::vector<std::string>> rows;
    std::string note;  // a line under the table, or empty
};

struct PageReport {
    std::string printer;
    std::string normalResolution;  // "300 x 300 dpi (resolution 1)", empty when there is none
    std::vector<ReportTable> tables;
    std::vector<ReportPaper> papers;
};

// The report of a capability set; printer names it.
PageReport BuildPageReport(const QueryBuffers* set, const std::wstring& printer);

// Millimetres as the report writes them: one decimal ("4.2").
std::string Mm(double millimetres);

}  // namespace kvcaps
