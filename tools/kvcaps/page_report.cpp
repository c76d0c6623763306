// kvcaps: the page report's numbers and tables, from a capability set: the
// summary's tables, and every paper's page and printable area from its forms
// at the resolution for normal printing and at the others.
#include "tools/kvcaps/page_report.h"

#include <algorithm>
#include <cstdio>

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
std::string Slot(const WCHAR* slot, size_t chars) {
    if (!slot) return "-";
    std::wstring name(chars + 1, L'\0');
    CopyNameSlot(name.data(), slot, chars);
    return Utf8(name.c_str());
}

// The page a form measured, or false for a form without logical pixels or
// without a measured page (no device context). A printable area reaching
// beyond the sheet (an offset below zero) is kept to the sheet, as the
// summary's margins count such a margin as 0.
bool AreaOf(const FormEntry& f, const std::string& resolution, ReportArea* area) {
    if (f.logX <= 0 || f.logY <= 0 || f.physW <= 0 || f.physH <= 0 || f.hres <= 0 || f.vres <= 0) return false;
    const double perX = 25.4 / f.logX, perY = 25.4 / f.logY;
    area->resolution = resolution;
    area->pageWidth = f.physW * perX;
    area->pageLength = f.physH * perY;
    area->left = f.offX > 0 ? f.offX * perX : 0;
    area->top = f.offY > 0 ? f.offY * perY : 0;
    area->printableWidth = std::min(f.hres * perX, area->pageWidth - area->left);
    area->printableLength = std::min(f.vres * perY, area->pageLength - area->top);
    return true;
}

// Two pages differ when the report writes another number for the sheet or a margin.
bool Differs(const ReportArea& a, const ReportArea& b) {
    const double ours[] = {a.pageWidth, a.pageLength, a.left, a.top, a.Right(), a.Bottom()};
    const double theirs[] = {b.pageWidth, b.pageLength, b.left, b.top, b.Right(), b.Bottom()};
    for (int i = 0; i < 6; ++i)
        if (Mm(ours[i]) != Mm(theirs[i])) return true;
    return false;
}

void AddPapers(const QueryBuffers* set, PageReport* report) {
    DWORD count = 0;
    const ResolutionPair* list = vlibPRINT_ResolutionsInUse(set, &count);
    const MediaResolution normal = vlibPRINT_NormalResolution(set);
    // Indexed levels may all measure the same dots per inch: they are told by their level.
    const auto Level = [set](DWORD slot) {
        return set->dwIndexedResolutionsOnly ? "quality level " + Number(-1 - static_cast<long>(slot)) + ", " : std::string();
    };
    if (normal.present) {
        report->normalResolution = Dpi(normal.dpi) + (set->dwIndexedResolutionsOnly
                                                          ? " (quality level " + Number(-1 - static_cast<long>(normal.slot))
                                                          : " (resolution " + Number(normal.slot)) +
                                   ", for normal printing)";
    }
    const DWORD perResolution = set->pPapers ? set->pPapers->dwNumPaperSize : 0;
    ReportTable pages{"Pages at " + (normal.present ? Dpi(normal.dpi) : std::string("no resolution")) + ", millimetres",
                      {"id", "paper", "page", "printable", "margins left / top / right / bottom", "name"},
                      {},
                      ""};
    DWORD j = 0;
    for (const MediaPage& page : vlibPRINT_MediaPages(set)) {
        ReportPaper paper;
        paper.name = Utf8(page.name);
        paper.id = j < set->pPapers->dwNumPapers ? static_cast<long>(page.id) : -1;
        paper.width = page.size.width / 10.0;
        paper.length = page.size.length / 10.0;
        paper.measured = page.form && AreaOf(*page.form, normal.present ? Dpi(normal.dpi) : "", &paper.normal);
        for (DWORD slot = 0; paper.measured && slot < count; ++slot) {
            const unsigned long long form = static_cast<unsigned long long>(slot) * perResolution + j;
            ReportArea other;
            if (slot != normal.slot && form < set->dwNumForms && AreaOf(set->pForms[form], Level(slot) + Dpi(list[slot]), &other) &&
                Differs(other, paper.normal))
                paper.others.push_back(other);
        }
        const ReportArea& a = paper.normal;
        pages.rows.push_back({paper.id < 0 ? "-" : Number(paper.id), Mm(paper.width) + " x " + Mm(paper.length),
                              paper.measured ? Mm(a.pageWidth) + " x " + Mm(a.pageLength) : "-",
                              paper.measured ? Mm(a.printableWidth) + " x " + Mm(a.printableLength) : "-",
                              paper.measured ? Mm(a.left) + " / " + Mm(a.top) + " / " + Mm(a.Right()) + " / " + Mm(a.Bottom())
                                             : "-",
                              paper.name});
        report->papers.push_back(paper);
        ++j;
    }
    report->tables.push_back(pages);
}

void AddLists(const QueryBuffers* set, PageReport* report) {
    ReportTable papers{"Papers", {"id", "size (0.1 mm)", "name"}, {}, ""};
    if (const PaperBuffer* p = set->pPapers) {
        const DWORD n = std::max(p->dwNumPapers, std::max(p->dwNumPaperNames, p->dwNumPaperSize));
        papers.note = Number(p->dwNumPapers) + " ids, " + Number(p->dwNumPaperNames) + " names, " +
                      Number(p->dwNumPaperSize) + " sizes";
        for (DWORD i = 0; i < n; ++i) {
            WORD id = 0;
            PaperSize size{};
            const bool hasId = PaperIdAt(p, i, &id), hasSize = PaperSizeAt(p, i, &size);
            papers.rows.push_back({hasId ? Number(id) : "-",
                                   hasSize ? Number(size.width) + " x " + Number(size.length) : "-",
                                   Slot(PaperNameAt(p, i), kPaperNameChars)});
        }
    }
    report->tables.push_back(papers);

    ReportTable bins{"Bins", {"id", "name"}, {}, ""};
    if (const BinBuffer* b = set->pBins) {
        for (DWORD i = 0; i < std::max(b->dwNumBins, b->dwNumBinNames); ++i) {
            WORD id = 0;
            bins.rows.push_back({BinIdAt(b, i, &id) ? Number(id) : "-", Slot(BinNameAt(b, i), kBinNameChars)});
        }
    }
    report->tables.push_back(bins);

    ReportTable media{"Media types", {"id", "name"}, {}, ""};
    if (const MediaBuffer* m = set->pMedias) {
        for (DWORD i = 0; i < std::max(m->dwNumMediaTypes, m->dwNumMediaTypeNames); ++i) {
            DWORD id = 0;
            media.rows.push_back({MediaIdAt(m, i, &id) ? Number(id) : "-", Slot(MediaNameAt(m, i), kMediaNameChars)});
        }
    }
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
    PaperSize low, high;
    resolutions.rows.push_back({"custom paper sizes", vlibPRINT_CustomSizes(set->dwMinExtent, set->dwMaxExtent, &low, &high)
                                                          ? Mm(low.width / 10.0) + " x " + Mm(low.length / 10.0) + " mm to " +
                                                                Mm(high.width / 10.0) + " x " + Mm(high.length / 10.0) + " mm"
                                                          : "none"});
    report->tables.push_back(resolutions);
}

void AddScalars(const QueryBuffers* set, PageReport* report) {
    ReportTable scalars{"Scalar capabilities", {"capability", "value"}, {}, ""};
    const struct {
        const char* name;
        DWORD value;
        bool hex;
    } list[] = {
        {"Collate", set->dwCollate, false},       {"Color", set->dwColor, false},
        {"Copies", set->dwCopies, false},         {"Driver", set->dwDriver, true},
        {"Datatype", set->dwDatatype, false},     {"Duplex", set->dwDuplex, false},
        {"EMF", set->dwEMF, false},               {"Extra", set->dwExtra, false},
        {"Fields", set->dwFields, true},          {"Manufacturer", set->dwManufacturer, false},
        {"MaxExtent", set->dwMaxExtent, true},    {"MinExtent", set->dwMinExtent, true},
        {"Model", set->dwModel, false},           {"Orientation", set->dwOrientation, false},
        {"PrinterMem", set->dwPrinterMem, false}, {"PrintRate", set->dwPrintRate, false},
        {"PrintRatePPM", set->dwPrintRatePPM, false}, {"PrintRateUnit", set->dwPrintRateUnit, false},
        {"DevModeSize", set->dwDevModeSize, false}, {"Staple", set->dwStaple, false},
        {"TrueType", set->dwTrueType, false},     {"Version", set->dwVersion, true},
        {"AnsiOnly", set->dwAnsiOnly, false},
    };
    for (const auto& s : list)
        scalars.rows.push_back({s.name, s.hex ? Hex(s.value) : Number(static_cast<LONG>(s.value))});
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

PageReport BuildPageReport(const QueryBuffers* set, const std::string& printer) {
    PageReport report;
    report.printer = printer;
    AddPapers(set, &report);  // first: the resolutions table names the resolution for normal printing
    AddLists(set, &report);
    AddScalars(set, &report);
    // In the summary's order: the lists, the pages, the scalars.
    std::rotate(report.tables.begin(), report.tables.begin() + 1, report.tables.end() - 1);
    return report;
}

}  // namespace kvcaps
