// The PPD's view of a capability set: each paper with the pages its forms
// measured, the bins, the resolutions, duplex, colour, orientation, custom
// sizes and the defaults.
#include <algorithm>
#include <cstdlib>

#include "export/ppd.h"
#include "records/caps4_media.h"
#include "records/query_buffers.h"

namespace {

// A form measured with its own paper: its page is the paper's size at its
// dots per inch, within two pixels. A driver that ignored the paper of the
// request measured its default paper instead.
bool OwnPage(const FormEntry& f, const PaperSize& size) {
    if (f.logX <= 0 || f.logY <= 0 || f.physW <= 0 || f.physH <= 0) return false;
    return std::llabs(f.physW * 254LL - 1LL * size.width * f.logX) <= 2LL * 254 + f.logX &&
           std::llabs(f.physH * 254LL - 1LL * size.length * f.logY) <= 2LL * 254 + f.logY;
}

}  // namespace

PpdPrinter vlibPRINT_PpdPrinterOfSet(const QueryBuffers* set, const DEVMODEW* defaults, const std::string& model) {
    PpdPrinter p;
    p.model = model;
    DWORD resolutions = 0;
    vlibPRINT_ResolutionsInUse(set, &resolutions);
    const PaperBuffer* papers = set->pPapers;
    PaperSize size = {};
    LONG lowW = 0x7FFFFFFF, lowL = 0x7FFFFFFF, highW = 0, highL = 0;
    for (DWORD j = 0; papers && PaperSizeAt(papers, j, &size); ++j) {
        PpdPaper paper = {};
        PaperIdAt(papers, j, &paper.id);
        WCHAR name[kPaperNameChars + 1];
        CopyNameSlot(name, PaperNameAt(papers, j), kPaperNameChars);
        paper.name = name;
        paper.width = size.width;
        paper.length = size.length;
        lowW = std::min(lowW, size.width), lowL = std::min(lowL, size.length);
        highW = std::max(highW, size.width), highL = std::max(highL, size.length);
        for (DWORD r = 0; r < resolutions; ++r) {
            const unsigned long long form = 1ULL * r * papers->dwNumPaperSize + j;
            if (!set->pForms || form >= set->dwNumForms || !OwnPage(set->pForms[form], size)) continue;
            const FormEntry& f = set->pForms[form];
            paper.pages.push_back({f.logX, f.logY, f.physW, f.physH, f.offX, f.offY, f.hres, f.vres});
        }
        p.papers.push_back(paper);
    }
    WORD bin = 0;
    for (DWORD i = 0; set->pBins && BinIdAt(set->pBins, i, &bin); ++i) {
        WCHAR name[kBinNameChars + 1];
        CopyNameSlot(name, BinNameAt(set->pBins, i), kBinNameChars);
        p.bins.push_back({bin, name});
    }
    const MediaResolution normal = vlibPRINT_NormalResolution(set);
    if (!set->dwIndexedResolutionsOnly) {
        for (DWORD i = 0; set->pResolutions && i < set->dwNumResolutions; ++i)
            if (set->pResolutions[i].x > 0 && set->pResolutions[i].y > 0) p.resolutions.push_back(set->pResolutions[i]);
    } else if (normal.present && normal.dpi.x > 0) {
        p.fixedDpi = normal.dpi.x;
    }
    p.defaultResolution = normal.dpi;
    p.duplex = set->dwDuplex == 1;
    p.color = set->dwColor == 1;
    p.landscape = static_cast<LONG>(set->dwOrientation);
    // Custom sizes only where the extents reach past the listed papers: a
    // driver that has none reports the listed papers' bounds there.
    PaperSize low, high;
    if (vlibPRINT_CustomSizes(set->dwMinExtent, set->dwMaxExtent, &low, &high) &&
        (p.papers.empty() || low.width < lowW || low.length < lowL || high.width > highW || high.length > highL)) {
        p.customSizes = true;
        p.customMin = low;
        p.customMax = high;
    }
    if (!defaults) return p;
    const DWORD f = defaults->dmFields;
    for (size_t i = 0; i < p.papers.size() && (f & DM_PAPERSIZE); ++i)
        if (p.papers[i].id == defaults->dmPaperSize) { p.defaultPaper = static_cast<int>(i); break; }
    for (size_t i = 0; i < p.papers.size() && p.defaultPaper < 0 && (f & DM_FORMNAME); ++i)
        if (p.papers[i].name.compare(0, CCHFORMNAME - 1, std::wstring(defaults->dmFormName, wcsnlen(defaults->dmFormName, CCHFORMNAME))) == 0)
            p.defaultPaper = static_cast<int>(i);
    for (size_t i = 0; i < p.bins.size() && (f & DM_DEFAULTSOURCE); ++i)
        if (p.bins[i].id == static_cast<WORD>(defaults->dmDefaultSource)) { p.defaultBin = static_cast<int>(i); break; }
    if (f & DM_PRINTQUALITY && defaults->dmPrintQuality > 0)
        p.defaultResolution = {defaults->dmPrintQuality, (f & DM_YRESOLUTION) && defaults->dmYResolution > 0 ? defaults->dmYResolution : defaults->dmPrintQuality};
    if (f & DM_DUPLEX) p.defaultDuplex = defaults->dmDuplex;
    if (f & DM_COLOR) p.defaultColor = defaults->dmColor;
    return p;
}
