#include "records/caps4_media.h"

namespace {

// Pixels at dpi as hundredths of a millimetre, rounded; 0 for less than nothing.
LONG Hundredths(LONG pixels, LONG dpi) {
    if (pixels <= 0) return 0;
    return static_cast<LONG>((static_cast<long long>(pixels) * 2540 + dpi / 2) / dpi);
}

}  // namespace

MediaResolution vlibPRINT_NormalResolution(const QueryBuffers* set) {
    const bool indexed = set->dwIndexedResolutionsOnly != 0;
    const ResolutionPair* list = indexed ? set->pResolutionsIndexed : set->pResolutions;
    const DWORD count = indexed ? set->dwNumResolutionsIndexed : set->dwNumResolutions;
    MediaResolution normal = {};
    if (!list || count == 0) return normal;
    normal.present = true;
    normal.slot = count / 2;
    normal.dpi = list[normal.slot];
    return normal;
}

std::vector<MediaPage> vlibPRINT_MediaPages(const QueryBuffers* set) {
    std::vector<MediaPage> pages;
    const PaperBuffer* papers = set->pPapers;
    if (!papers) return pages;
    const MediaResolution normal = vlibPRINT_NormalResolution(set);
    // Forms are resolution-major: the form of paper j at slot s is s x (paper sizes) + j.
    const DWORD perResolution = papers->dwNumPaperSize;
    for (DWORD j = 0; j < papers->dwNumPaperSize; ++j) {
        MediaPage page = {};
        page.paper = j;
        if (!PaperSizeAt(papers, j, &page.size)) break;  // the size list is shorter than its count
        PaperIdAt(papers, j, &page.id);
        CopyNameSlot(page.name, PaperNameAt(papers, j), kPaperNameChars);
        const unsigned long long form = static_cast<unsigned long long>(normal.slot) * perResolution + j;
        if (normal.present && set->pForms && form < set->dwNumForms) {
            const FormEntry& f = set->pForms[form];
            page.form = &f;
            page.hasMargins = f.logX > 0 && f.logY > 0;
            if (page.hasMargins) {
                page.left = Hundredths(f.offX, f.logX);
                page.top = Hundredths(f.offY, f.logY);
                page.right = Hundredths(f.physW - f.offX - f.hres, f.logX);
                page.bottom = Hundredths(f.physH - f.offY - f.vres, f.logY);
            }
        }
        pages.push_back(page);
    }
    return pages;
}
