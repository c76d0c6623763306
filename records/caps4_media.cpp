#include "records/caps4_media.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>

namespace {

// Pixels at dpi as hundredths of a millimetre, rounded; 0 for less than
// nothing. The pixels are a difference of record values: no LONG holds all.
LONG Hundredths(long long pixels, LONG dpi) {
    if (pixels <= 0) return 0;
    return static_cast<LONG>(std::min<long long>((pixels * 2540 + dpi / 2) / dpi, LONG_MAX));
}

}  // namespace

bool vlibPRINT_CustomSizes(DWORD minExtent, DWORD maxExtent, PaperSize* smallest, PaperSize* largest) {
    const PaperSize low = {static_cast<SHORT>(LOWORD(minExtent)), static_cast<SHORT>(HIWORD(minExtent))};
    const PaperSize high = {static_cast<SHORT>(LOWORD(maxExtent)), static_cast<SHORT>(HIWORD(maxExtent))};
    if (low.width <= 0 || low.length <= 0 || low.width > high.width || low.length > high.length) return false;
    *smallest = low;
    *largest = high;
    return true;
}

const ResolutionPair* vlibPRINT_ResolutionsInUse(const QueryBuffers* set, DWORD* count) {
    const bool indexed = set->dwIndexedResolutionsOnly != 0;
    const ResolutionPair* list = indexed ? set->pResolutionsIndexed : set->pResolutions;
    *count = list ? (indexed ? set->dwNumResolutionsIndexed : set->dwNumResolutions) : 0;
    return *count ? list : nullptr;
}

MediaResolution vlibPRINT_NormalResolution(const QueryBuffers* set) {
    DWORD count = 0;
    const ResolutionPair* list = vlibPRINT_ResolutionsInUse(set, &count);
    MediaResolution normal = {};
    if (!list) return normal;
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
        if (!PaperSizeAt(papers, j, &page.size)) break;  // the size list is shorter than its count
        PaperIdAt(papers, j, &page.id);
        CopyNameSlot(page.name, PaperNameAt(papers, j), kPaperNameChars);
        const unsigned long long form = static_cast<unsigned long long>(normal.slot) * perResolution + j;
        if (normal.present && set->pForms && form < set->dwNumForms) {
            const FormEntry& f = set->pForms[form];
            page.form = &f;
            // A page the driver did not measure (no device context) has no margins to tell.
            page.hasMargins = f.logX > 0 && f.logY > 0 && f.physW > 0 && f.physH > 0 && f.hres > 0 && f.vres > 0;
            if (page.hasMargins) {
                page.left = Hundredths(f.offX, f.logX);
                page.top = Hundredths(f.offY, f.logY);
                page.right = Hundredths(0LL + f.physW - f.offX - f.hres, f.logX);
                page.bottom = Hundredths(0LL + f.physH - f.offY - f.vres, f.logY);
            }
        }
        pages.push_back(page);
    }
    return pages;
}
