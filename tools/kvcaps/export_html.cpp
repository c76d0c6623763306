// kvcaps --html: the page report, one self-contained HTML page (its style
// inline, no script, nothing fetched) with the summary's tables and, for
// every paper, a drawing to scale of its page and printable area at the
// resolution for normal printing, the margins labelled in millimetres, and
// the printable areas of the other resolutions where they differ.
//
//   kvcaps --html SOURCE   (SOURCE as for the summary)
//
// Each drawing is an inline SVG whose user unit is the millimetre: the page is
// the rect of class "page" at 0,0, the printable area the rect of class
// "printable" at its place on the page, another resolution's printable area a
// dashed rect of class "printable other" with its resolution in data-dpi.
#include <algorithm>
#include <cstdio>

#include "tools/kvcaps/kvcaps.h"
#include "tools/kvcaps/page_report.h"

namespace kvcaps {

const char kHtmlUsageLines[] = "       kvcaps --html FILE.kvp | --registry PRINTER | --printer-data PRINTER\n";

namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// A coordinate in millimetres as an SVG number.
std::string At(double millimetres) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", millimetres);
    return text;
}

constexpr char kStyle[] = R"(
body { font: 14px/1.4 system-ui, sans-serif; margin: 24px; color: #222; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 17px; margin: 24px 0 8px; }
table { border-collapse: collapse; margin-bottom: 4px; }
th, td { border: 1px solid #bbb; padding: 2px 8px; text-align: left; vertical-align: top; }
th { background: #eee; }
.tables { display: flex; flex-wrap: wrap; gap: 0 32px; align-items: flex-start; }
.note { color: #555; margin: 0; }
.sheets { display: flex; flex-wrap: wrap; gap: 24px; align-items: flex-end; }
figure.paper { margin: 0; }
figcaption { font-size: 12px; max-width: 360px; }
svg.drawing { display: block; }
svg .page { fill: #fff; stroke: #222; }
svg .printable { fill: #cfe3f7; stroke: #2a6ebb; }
svg .printable.other { fill: none; stroke: #d2691e; stroke-dasharray: 4 3; }
svg .margin { fill: #333; }
.legend span { display: inline-block; width: 14px; height: 10px; margin: 0 4px 0 12px; vertical-align: middle; }
)";

void Table(const ReportTable& table, std::string* out) {
    *out += "<section class=\"table\"><h2>" + Escape(table.title) + "</h2>\n<table><thead><tr>";
    for (const std::string& head : table.head) *out += "<th>" + Escape(head) + "</th>";
    *out += "</tr></thead><tbody>\n";
    for (const auto& row : table.rows) {
        *out += "<tr>";
        for (const std::string& cell : row) *out += "<td>" + Escape(cell) + "</td>";
        *out += "</tr>\n";
    }
    *out += "</tbody></table>";
    if (!table.note.empty()) *out += "<p class=\"note\">" + Escape(table.note) + "</p>";
    *out += "</section>\n";
}

std::string Margins(const ReportArea& a) {
    return Mm(a.left) + " / " + Mm(a.top) + " / " + Mm(a.Right()) + " / " + Mm(a.Bottom()) + " mm";
}

// One paper drawn at `scale` pixels per millimetre, with room around the page
// for the margins' labels.
void Drawing(const ReportPaper& paper, double scale, std::string* out) {
    const double width = paper.measured ? paper.normal.pageWidth : paper.width;
    const double length = paper.measured ? paper.normal.pageLength : paper.length;
    const double font = 11 / scale;  // 11 px
    const double side = 4.6 * font, above = 1.5 * font, below = 1.7 * font;
    const double boxWidth = width + 2 * side, boxLength = length + above + below;
    *out += "<figure class=\"paper\" data-id=\"" + (paper.id < 0 ? std::string() : std::to_string(paper.id)) + "\">\n";
    *out += "<svg class=\"drawing\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + At(boxWidth * scale) +
            "\" height=\"" + At(boxLength * scale) + "\" viewBox=\"" + At(-side) + " " + At(-above) + " " +
            At(boxWidth) + " " + At(boxLength) + "\" font-size=\"" + At(font) + "\">\n";
    *out += "<title>" + Escape(paper.name) + "</title>\n";
    *out += "<rect class=\"page\" x=\"0\" y=\"0\" width=\"" + At(width) + "\" height=\"" + At(length) +
            "\" vector-effect=\"non-scaling-stroke\"/>\n";
    if (paper.measured) {
        const ReportArea& a = paper.normal;
        *out += "<rect class=\"printable\" x=\"" + At(a.left) + "\" y=\"" + At(a.top) + "\" width=\"" +
                At(a.printableWidth) + "\" height=\"" + At(a.printableLength) + "\" vector-effect=\"non-scaling-stroke\"/>\n";
        for (const ReportArea& o : paper.others)
            *out += "<rect class=\"printable other\" data-dpi=\"" + Escape(o.resolution) + "\" x=\"" + At(o.left) +
                    "\" y=\"" + At(o.top) + "\" width=\"" + At(o.printableWidth) + "\" height=\"" +
                    At(o.printableLength) + "\" vector-effect=\"non-scaling-stroke\"/>\n";
        const auto label = [&](const char* which, double x, double y, const char* anchor, double mm) {
            *out += "<text class=\"margin " + std::string(which) + "\" x=\"" + At(x) + "\" y=\"" + At(y) +
                    "\" text-anchor=\"" + anchor + "\" dominant-baseline=\"middle\">" + Mm(mm) + " mm</text>\n";
        };
        label("left", -0.3 * font, length / 2, "end", a.left);
        label("right", width + 0.3 * font, length / 2, "start", a.Right());
        label("top", width / 2, -0.8 * font, "middle", a.top);
        label("bottom", width / 2, length + 0.9 * font, "middle", a.Bottom());
    }
    *out += "</svg>\n<figcaption><b>" + Escape(paper.name.empty() ? "(no name)" : paper.name) + "</b>" +
            (paper.id < 0 ? std::string() : " (id " + std::to_string(paper.id) + ")") + "<br>paper " +
            Mm(paper.width) + " x " + Mm(paper.length) + " mm";
    if (paper.measured) {
        const ReportArea& a = paper.normal;
        *out += "<br>page " + Mm(a.pageWidth) + " x " + Mm(a.pageLength) + " mm, printable " + Mm(a.printableWidth) +
                " x " + Mm(a.printableLength) + " mm";
        for (const ReportArea& o : paper.others)
            *out += "<br><span class=\"other\">at " + Escape(o.resolution) + ": page " + Mm(o.pageWidth) + " x " +
                    Mm(o.pageLength) + " mm, margins " + Margins(o) + "</span>";
    } else {
        *out += "<br>no measured page";
    }
    *out += "</figcaption>\n</figure>\n";
}

std::string RenderHtml(const PageReport& report) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
                      Escape(report.printer) + ": papers and printable areas</title>\n<style>" + kStyle +
                      "</style>\n</head>\n<body>\n<h1>" + Escape(report.printer) + "</h1>\n";
    out += "<p>Papers and printable areas " +
           (report.normalResolution.empty() ? std::string("(no resolution for normal printing)")
                                            : "at " + Escape(report.normalResolution)) +
           "; margins left / top / right / bottom in millimetres.</p>\n<div class=\"tables\">\n";
    for (const ReportTable& table : report.tables) Table(table, &out);
    out += "</div>\n<section id=\"drawings\"><h2>Pages to scale</h2>\n<p class=\"legend\">"
           "<span style=\"background:#fff;border:1px solid #222\"></span>page"
           "<span style=\"background:#cfe3f7;border:1px solid #2a6ebb\"></span>printable area at the resolution for normal "
           "printing<span style=\"border:1px dashed #d2691e\"></span>printable area at another resolution, where it "
           "differs</p>\n<div class=\"sheets\">\n";
    // One scale for every drawing, so that papers compare by size: the
    // longest side of the largest paper is at most 320 pixels.
    double longest = 1;
    for (const ReportPaper& paper : report.papers)
        longest = std::max({longest, paper.width, paper.length, paper.normal.pageWidth, paper.normal.pageLength});
    const double scale = std::min(1.0, 320 / longest);
    for (const ReportPaper& paper : report.papers) Drawing(paper, scale, &out);
    out += "</div>\n</section>\n</body>\n</html>\n";
    return out;
}

}  // namespace

int WriteHtmlExport(const std::vector<BYTE>& bytes, const std::wstring& printer) {
    QueryBuffers set;
    if (!Unpack(bytes, &set)) {  // the record passed its check: only memory can be missing
        std::fprintf(stderr, "kvcaps: out of memory while loading the record\n");
        return kNoMemory;
    }
    const PageReport report = BuildPageReport(&set, printer);
    vlibPRINT_FreeQueryBuffers(&set);
    return WriteOut(RenderHtml(report));
}

}  // namespace kvcaps
