// kvcaps: the page report's numbers and tables, from the printer's
// description in standard terms (export/printer_description.h): the summary's
// tables, and every paper's page and printable area at the resolution for
// normal printing and at the others. The scalar capabilities, which the
// description does not carry, come from the capability set as they are.
#include "tools/kvcaps/page_report.h"

#include <algorithm>
#include <cstdio>

#include "export/printer_description.h"
#include "records/caps4_media.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {

std::string Mm(double millimetres) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", millimetres);
    return text;
}

namespace {

std::string Number(long long value) { return std::to_string(value); }
std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%lX", static_cast<unsigned long>(value));
    return text;
}
std::string Dpi(const ResolutionPair& dpi) { return Number(dpi.x) + " x " + Number(dpi.y) + " dpi"; }

// A page the description measured, in millimetres, with its printable area
// what its margins leave of the sheet.
ReportArea AreaOf(const DescribedPage& page, const std::string& resolution) {
    ReportArea area;
    area.resolution = resolution;
    area.pageWidth = page.sheetWidth / 100.0;
    area.pageLength = page.sheetLength / 100.0;
    area.left = page.margins.left / 100.0;
    area.top = page.margins.top / 100.0;
    area.printableWidth = std::max(0.0, area.pageWidth - area.left - page.margins.right / 100.0);
    area.printableLength = std::max(0.0, area.pageLength - area.top - page.margins.bottom / 100.0);
    return area;
}

// Two pages differ when the report writes another number for the sheet or a margin.
bool Differs(const ReportArea& a, const ReportArea& b) {
    const double ours[] = {a.pageWidth, a.pageLength, a.left, a.top, a.Right(), a.Bottom()};
    const double theirs[] = {b.pageWidth, b.pageLength, b.left, b.top, b.Right(), b.Bottom()};
    for (int i = 0; i < 6; ++i)
        if (Mm(ours[i]) != Mm(theirs[i])) return true;
    return false;
}

// A resolution of the description: its dots per inch, and for a quality
// level (indexed levels may all measure the same) its level first.
std::string Resolution(const DescribedResolution& r) {
    return (r.quality ? "quality level " + Number(r.quality) + ", " : std::string()) + Dpi(r.dpi);
}

void AddPapers(const PrinterDescription& d, const MediaResolution& normal, PageReport* report) {
    if (normal.present && normal.slot < d.resolutions.size())
        report->normalResolution = Resolution(d.resolutions[normal.slot]) + ", for normal printing";
    ReportTable pages{"Pages at " + (normal.present ? Dpi(normal.dpi) : std::string("no resolution")) + ", millimetres",
                      {"id", "paper", "page", "printable", "margins left / top / right / bottom", "name"},
                      {},
                      ""};
    for (const DescribedPaper& described : d.papers) {
        ReportPaper paper;
        paper.name = Utf8(described.name.c_str());
        paper.id = described.id;
        paper.width = described.own.width / 10.0;
        paper.length = described.own.length / 10.0;
        for (const DescribedPage& page : described.pages) {
            if (page.resolution == normal.slot) {
                paper.measured = true;
                paper.normal = AreaOf(page, Dpi(normal.dpi));
            }
        }
        for (const DescribedPage& page : described.pages) {
            const ReportArea other = AreaOf(page, Resolution(d.resolutions[page.resolution]));
            if (paper.measured && page.resolution != normal.slot && Differs(other, paper.normal))
                paper.others.push_back(other);
        }
        const ReportArea& a = paper.normal;
        pages.rows.push_back({Number(paper.id), Mm(paper.width) + " x " + Mm(paper.length),
                              paper.measured ? Mm(a.pageWidth) + " x " + Mm(a.pageLength) : "-",
                              paper.measured ? Mm(a.printableWidth) + " x " + Mm(a.printableLength) : "-",
                              paper.measured ? Mm(a.left) + " / " + Mm(a.top) + " / " + Mm(a.Right()) + " / " + Mm(a.Bottom())
                                             : "-",
                              paper.name});
        report->papers.push_back(paper);
    }
    report->tables.push_back(pages);
}

void AddLists(const QueryBuffers* set, const PrinterDescription& d, PageReport* report) {
    ReportTable papers{"Papers", {"id", "size (0.1 mm)", "PWG media", "name"}, {}, ""};
    for (const DescribedPaper& p : d.papers)
        papers.rows.push_back({Number(p.id), Number(p.own.width) + " x " + Number(p.own.length), p.media,
                               Utf8(p.name.c_str())});
    report->tables.push_back(papers);

    ReportTable bins{"Bins", {"id", "media-source", "name"}, {}, ""};
    for (const DescribedBin& b : d.bins) bins.rows.push_back({Number(b.id), b.source, Utf8(b.name.c_str())});
    if (bins.rows.empty()) bins.note = "none";
    report->tables.push_back(bins);

    ReportTable media{"Media types", {"id", "media-type", "name"}, {}, ""};
    for (const DescribedMediaType& m : d.mediaTypes)
        media.rows.push_back({Number(m.id), m.keyword.empty() ? "-" : m.keyword, Utf8(m.name.c_str())});
    if (media.rows.empty()) media.note = "none";
    report->tables.push_back(media);

    ReportTable resolutions{"Resolutions", {"list", "entries"}, {}, ""};
    auto listed = [](const ResolutionPair* list, DWORD count) {
        std::string text;
        for (DWORD i = 0; list && i < count; ++i) text += (i ? ", " : "") + Number(list[i].x) + " x " + Number(list[i].y);
        return text.empty() ? std::string("none") : text;
    };
    resolutions.rows.push_back({"resolutions", listed(set->pResolutions, set->dwNumResolutions)});
    resolutions.rows.push_back({"indexed resolutions", listed(set->pResolutionsIndexed, set->dwNumResolutionsIndexed)});
    resolutions.rows.push_back({"indexed resolutions only", set->dwIndexedResolutionsOnly ? "yes" : "no"});
    resolutions.rows.push_back({"forms", Number(set->dwNumForms)});
    resolutions.rows.push_back(
        {"for normal printing", report->normalResolution.empty() ? "none" : report->normalResolution});
    resolutions.rows.push_back(
        {"custom paper sizes", d.custom.present ? Mm(d.custom.minWidth / 100.0) + " x " + Mm(d.custom.minLength / 100.0) +
                                                      " mm to " + Mm(d.custom.maxWidth / 100.0) + " x " +
                                                      Mm(d.custom.maxLength / 100.0) + " mm"
                                                : "none"});
    report->tables.push_back(resolutions);
}

void AddScalars(const QueryBuffers* set, PageReport* report) {
    ReportTable scalars{"Scalar capabilities", {"capability", "value"}, {}, ""};
    for (const ShownScalar& s : kShownScalars)
        scalars.rows.push_back({s.name, s.hex ? Hex(set->*s.set) : Number(static_cast<LONG>(set->*s.set))});
    scalars.rows.push_back({"Lists", Number(set->dwNumFiles) + " files, " + Number(set->dwNumNUP) + " N-up values, " +
                                         Number(set->dwNumPersonality) + " personalities, " +
                                         Number(set->dwNumMediaReady) + " media ready"});
    if (const LowLevelCaps* g = set->pLowLevel)
        scalars.rows.push_back({"Graphics", "technology " + Number(g->Technology) + ", " + Number(g->BitsPixel) +
                                                " bits per pixel, raster caps " + Hex(g->RasterCaps) + ", text caps " +
                                                Hex(g->TextCaps)});
    report->tables.push_back(scalars);
}

}  // namespace

PageReport BuildPageReport(const QueryBuffers* set, const std::wstring& printer) {
    PageReport report;
    report.printer = Utf8(printer);
    const PrinterDescription described = vlibPRINT_DescribePrinter(set, nullptr, printer);
    AddPapers(described, vlibPRINT_NormalResolution(set), &report);  // first: it names the resolution for normal printing
    AddLists(set, described, &report);
    AddScalars(set, &report);
    // In the summary's order: the lists, the pages, the scalars.
    std::rotate(report.tables.begin(), report.tables.begin() + 1, report.tables.end() - 1);
    return report;
}

}  // namespace kvcaps
