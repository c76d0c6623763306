#include "export/printer_description.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <set>
#include <tuple>

#include "export/pwg_names.h"
#include "print/form_matching.h"

namespace {

// Pixels at dpi as hundredths of a millimetre, rounded up: a margin is never
// given smaller than the driver measured it. 0 for less than nothing. The
// pixels are a difference of record values: no LONG holds all of them.
LONG HundredthsUp(long long pixels, LONG dpi) {
    if (pixels <= 0 || dpi <= 0) return 0;
    return static_cast<LONG>(std::min<long long>((pixels * 2540 + dpi - 1) / dpi, LONG_MAX));
}
LONG Hundredths(long long pixels, LONG dpi) {
    return dpi > 0 && pixels > 0 ? static_cast<LONG>(std::min<long long>((pixels * 2540 + dpi / 2) / dpi, LONG_MAX)) : 0;
}

DescribedMargins Largest(const DescribedMargins& a, const DescribedMargins& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// Margins of a paper listed long side across, for the paper turned upright
// by a quarter turn: its listed top edge becomes the left edge.
DescribedMargins Upright(const DescribedMargins& m) { return {m.top, m.right, m.bottom, m.left}; }

bool Coarse(const ResolutionPair& dpi) { return dpi.x < kFinestCoarseDpi || dpi.y < kFinestCoarseDpi; }

// The list the forms were measured at and whether it is the indexed one.
const ResolutionPair* InUse(const QueryBuffers* set, DWORD* count) {
    const bool indexed = set->dwIndexedResolutionsOnly != 0;
    const ResolutionPair* list = indexed ? set->pResolutionsIndexed : set->pResolutions;
    *count = list ? (indexed ? set->dwNumResolutionsIndexed : set->dwNumResolutions) : 0;
    return *count ? list : nullptr;
}

void DescribePapers(const QueryBuffers* set, PrinterDescription* d, std::vector<int>* byDriverIndex) {
    const PaperBuffer* papers = set->pPapers;
    if (!papers) return;
    DWORD resolutions = 0;
    const ResolutionPair* inUse = InUse(set, &resolutions);
    // Forms are resolution-major: the form of paper j at slot s is s x (paper sizes) + j.
    const DWORD perResolution = papers->dwNumPaperSize;
    for (DWORD j = 0; j < papers->dwNumPaperSize; ++j) {
        PaperSize size = {};
        if (!PaperSizeAt(papers, j, &size)) break;  // the size list is shorter than its count
        byDriverIndex->push_back(-1);
        if (size.width <= 0 || size.length <= 0 || std::max(size.width, size.length) > kPwgMaxTenths) continue;
        DescribedPaper paper = {};
        PaperIdAt(papers, j, &paper.id);
        WCHAR name[kPaperNameChars + 1];
        CopyNameSlot(name, PaperNameAt(papers, j), kPaperNameChars);
        paper.name = name;
        paper.own = size;
        paper.turned = size.width > size.length;
        const PwgMedia media = vlibPRINT_PwgMedia(size, name);
        paper.media = media.name;
        paper.standard = media.standard;
        paper.width = media.width;
        paper.length = media.length;
        DescribedMargins printed, everywhere;  // over the pages printed at; over all pages
        bool anyPrinted = false;
        for (DWORD s = 0; s < resolutions && set->pForms; ++s) {
            const unsigned long long at = static_cast<unsigned long long>(s) * perResolution + j;
            if (at >= set->dwNumForms) break;
            const FormEntry& f = set->pForms[at];
            // A page the driver did not measure (no device context) has no margins to tell.
            if (f.logX <= 0 || f.logY <= 0 || f.physW <= 0 || f.physH <= 0 || f.hres <= 0 || f.vres <= 0) continue;
            DescribedPage page = {};
            page.resolution = s;
            page.dotsX = f.logX;
            page.dotsY = f.logY;
            page.sheetWidth = Hundredths(f.physW, f.logX);
            page.sheetLength = Hundredths(f.physH, f.logY);
            page.margins = {HundredthsUp(f.offX, f.logX), HundredthsUp(f.offY, f.logY),
                            HundredthsUp(0LL + f.physW - f.offX - f.hres, f.logX),
                            HundredthsUp(0LL + f.physH - f.offY - f.vres, f.logY)};
            page.pixels = {f.physW, f.physH, f.offX, f.offY, f.hres, f.vres};
            const DescribedMargins upright = paper.turned ? Upright(page.margins) : page.margins;
            everywhere = Largest(everywhere, upright);
            if (!Coarse(inUse[s]) && !Coarse({f.logX, f.logY})) printed = Largest(printed, upright), anyPrinted = true;
            paper.pages.push_back(page);
        }
        paper.margins = anyPrinted ? printed : everywhere;
        paper.measured = !paper.pages.empty();
        paper.borderless = paper.measured && !paper.margins.left && !paper.margins.top && !paper.margins.right &&
                           !paper.margins.bottom;
        byDriverIndex->back() = static_cast<int>(d->papers.size());
        d->papers.push_back(paper);
    }
}

// A medium of its own for every paper: a second paper of a size already
// named (but the borderless paper of a size with margins, or the paper with
// margins of a borderless size), and every paper listed long side across,
// which IPP describes as it lies, get custom names made of their own names
// and sizes ("custom_other_8.5x14in", "custom_envdlrotated_220x110mm"); a
// name still taken gets a number ("custom_other-2_8.5x14in").
void NameMedia(PrinterDescription* d) {
    // The media names, and names with kinds, of the papers before the one
    // named; and for each custom name's parts the number its next namesake
    // tries first: every number below it is taken, and stays so.
    std::set<std::string> taken;
    std::set<std::pair<std::string, bool>> kinds;
    std::map<std::tuple<std::string, LONG, LONG, bool>, int> next;
    for (DescribedPaper& p : d->papers) {
        if (p.turned || kinds.count({p.media, p.borderless})) {
            std::string part = vlibPRINT_KeywordPart(p.name.c_str());
            if (part.empty()) part = "paper";
            PwgMedia media = vlibPRINT_PwgCustomMedia(p.own, part.c_str(), p.turned);
            if (taken.count(media.name)) {
                int& n = next.try_emplace({part, p.own.width, p.own.length, p.turned}, 2).first->second;
                do media = vlibPRINT_PwgCustomMedia(p.own, (part + "-" + std::to_string(n++)).c_str(), p.turned);
                while (taken.count(media.name));
            }
            p.media = media.name;
            p.standard = false;
            p.across = p.turned;
            p.width = std::min(media.width, media.length);
            p.length = std::max(media.width, media.length);
        }
        taken.insert(p.media);
        kinds.insert({p.media, p.borderless});
    }
}

void DescribeCustomRange(const QueryBuffers* set, PrinterDescription* d) {
    // DC_MINEXTENT and DC_MAXEXTENT: a POINTS of tenths of a millimetre, width in the low word.
    const LONG minW = static_cast<SHORT>(LOWORD(set->dwMinExtent)), minL = static_cast<SHORT>(HIWORD(set->dwMinExtent));
    const LONG maxW = static_cast<SHORT>(LOWORD(set->dwMaxExtent)), maxL = static_cast<SHORT>(HIWORD(set->dwMaxExtent));
    if (minW <= 0 || minL <= 0 || minW > maxW || minL > maxL) return;  // no answer (-1 or 0), or an empty range
    // The extents are evidence only where they reach beyond the papers the
    // driver lists: a driver without custom sizes reports their bounding box.
    // A tenth either way is the driver's rounding.
    bool beyond = d->papers.empty();
    LONG boxMinW = LONG_MAX, boxMinL = LONG_MAX, boxMaxW = 0, boxMaxL = 0;
    for (const DescribedPaper& p : d->papers) {
        boxMinW = std::min(boxMinW, p.own.width), boxMinL = std::min(boxMinL, p.own.length);
        boxMaxW = std::max(boxMaxW, p.own.width), boxMaxL = std::max(boxMaxL, p.own.length);
    }
    beyond = beyond || minW < boxMinW - 1 || minL < boxMinL - 1 || maxW > boxMaxW + 1 || maxL > boxMaxL + 1;
    if (!beyond) return;
    d->custom.present = true;
    d->custom.minWidth = minW * 10, d->custom.minLength = minL * 10;
    d->custom.maxWidth = maxW * 10, d->custom.maxLength = maxL * 10;
    for (const DescribedPaper& p : d->papers) d->custom.margins = Largest(d->custom.margins, p.margins);
}

void DescribeBins(const QueryBuffers* set, PrinterDescription* d) {
    std::vector<std::string> taken;
    std::vector<size_t> unknown;
    for (DWORD i = 0; set->pBins; ++i) {
        WORD id = 0;
        if (!BinIdAt(set->pBins, i, &id)) break;
        WCHAR name[kBinNameChars + 1];
        CopyNameSlot(name, BinNameAt(set->pBins, i), kBinNameChars);
        DescribedBin bin = {id, name, vlibPRINT_PwgMediaSource(id, name, taken)};
        if (bin.source.empty()) unknown.push_back(d->bins.size());
        taken.push_back(bin.source);
        d->bins.push_back(bin);
    }
    // tray-N only as the last resort, once every bin that says what it is has its keyword.
    std::set<std::string> used(taken.begin(), taken.end());
    int last = 0;
    for (size_t i : unknown) used.insert(d->bins[i].source = vlibPRINT_PwgNextTray(used, &last));
}

void DescribeMediaTypes(const QueryBuffers* set, PrinterDescription* d) {
    DWORD id = 0;
    for (DWORD i = 0; set->pMedias && MediaIdAt(set->pMedias, i, &id); ++i) {
        WCHAR name[kMediaNameChars + 1];
        CopyNameSlot(name, MediaNameAt(set->pMedias, i), kMediaNameChars);
        d->mediaTypes.push_back({id, name, vlibPRINT_PwgMediaType(id, name)});
    }
}

// print-quality of a quality level by its DEVMODE index: draft 3, low and
// medium 4 (normal), high and anything finer 5.
int QualityOfLevel(LONG index) { return index == -1 ? 3 : index >= -3 ? 4 : 5; }

void DescribeResolutions(const QueryBuffers* set, PrinterDescription* d) {
    DWORD count = 0;
    const ResolutionPair* list = InUse(set, &count);
    for (DWORD i = 0; i < count; ++i)
        d->resolutions.push_back({list[i], set->dwIndexedResolutionsOnly ? -1 - static_cast<LONG>(i) : 0, Coarse(list[i])});
    // The quality levels the driver offers, whatever resolutions it has.
    for (DWORD i = 0; set->pResolutionsIndexed && i < set->dwNumResolutionsIndexed; ++i) {
        const int q = QualityOfLevel(-1 - static_cast<LONG>(i));
        if (std::find(d->qualities.begin(), d->qualities.end(), q) == d->qualities.end()) d->qualities.push_back(q);
    }
    if (std::find(d->qualities.begin(), d->qualities.end(), 4) == d->qualities.end()) d->qualities.push_back(4);
    std::sort(d->qualities.begin(), d->qualities.end());
    // The one resolution every quality level was measured at: what the driver
    // prints at when a job names no resolution of its own.
    for (DWORD i = 0; set->pResolutionsIndexed && i < set->dwNumResolutionsIndexed; ++i) {
        const ResolutionPair& level = set->pResolutionsIndexed[i];
        const bool same = i == 0 || (level.x == d->levelDpi.x && level.y == d->levelDpi.y);
        d->levelDpi = same && level.x > 0 && level.y > 0 ? level : ResolutionPair{};
        if (!same || level.x <= 0 || level.y <= 0) break;
    }
}

// The resolution slot and quality a DEVMODE asks for, by the resolution
// matching; a DEVMODE with no resolution field set gets the matching's default rule.
void DefaultResolution(const QueryBuffers* set, const DEVMODEW& request, PrinterDescription* d) {
    static const ResolutionPair none = {};
    DEVMODEW in = request, out = request;
    const LONG r = vlibPRINT_GetResolutionIndex(&in, &out, set->dwIndexedResolutionsOnly, set->dwNumResolutions,
                                                set->pResolutions ? set->pResolutions : &none,
                                                set->dwNumResolutionsIndexed,
                                                set->pResolutionsIndexed ? set->pResolutionsIndexed : &none, nullptr);
    const DWORD slots = static_cast<DWORD>(d->resolutions.size());
    if (r < 0) d->defaults.quality = QualityOfLevel(r);
    if (!slots) return;
    long slot = -1;
    if (set->dwIndexedResolutionsOnly) {
        slot = r < 0 ? -1 - r : -1;
    } else if (r >= 0) {
        slot = r;
    } else if (set->pResolutionsIndexed && static_cast<DWORD>(-1 - r) < set->dwNumResolutionsIndexed) {
        // A quality level on a printer with real resolutions: the real
        // resolution it prints at, by both values, else by one of them.
        const ResolutionPair level = set->pResolutionsIndexed[-1 - r];
        for (DWORD i = 0; i < slots && slot < 0; ++i)
            if (d->resolutions[i].dpi.x == level.x && d->resolutions[i].dpi.y == level.y) slot = i;
        for (DWORD i = 0; i < slots && slot < 0; ++i)
            if (d->resolutions[i].dpi.x == level.x || d->resolutions[i].dpi.y == level.y) slot = i;
    }
    d->defaults.resolution = slot >= 0 && static_cast<DWORD>(slot) < slots ? static_cast<int>(slot) : static_cast<int>(slots / 2);
}

int FindPaper(const PrinterDescription& d, const char* media) {
    for (size_t i = 0; i < d.papers.size(); ++i)
        if (d.papers[i].media == media) return static_cast<int>(i);
    return -1;
}

// The paper without a DEVMODE to name it: A4, else Letter, else the paper
// closest in area to A4.
int FallbackPaper(const PrinterDescription& d) {
    int paper = FindPaper(d, "iso_a4_210x297mm");
    if (paper < 0) paper = FindPaper(d, "na_letter_8.5x11in");
    long long best = LLONG_MAX;
    for (size_t i = 0; paper < 0 && i < d.papers.size(); ++i) {
        const long long off = std::llabs(1LL * d.papers[i].width * d.papers[i].length - 21000LL * 29700);
        if (off < best) best = off, paper = static_cast<int>(i);
    }
    return paper;
}

void DescribeDefaults(const QueryBuffers* set, const DEVMODEW* devMode, const std::vector<int>& byDriverIndex,
                      PrinterDescription* d) {
    DescribedDefaults& def = d->defaults;
    def.fromPrinter = devMode != nullptr;
    DEVMODEW request = {};
    request.dmSize = sizeof(DEVMODEW);
    if (devMode) request = *devMode;
    const DWORD f = devMode ? request.dmFields : 0;

    // Paper: by code, else form name, else size, as the paper matching finds it.
    const PaperBuffer* papers = set->pPapers;
    if (devMode && papers) {
        DWORD count = std::min({papers->dwNumPapers, papers->dwNumPaperNames, papers->dwNumPaperSize,
                                static_cast<DWORD>(byDriverIndex.size())});
        std::vector<PaperSize> sizes(count);
        for (DWORD i = 0; i < count; ++i) PaperSizeAt(papers, i, &sizes[i]);
        // The three lists must hold `count` entries each inside their blocks.
        WORD lastId = 0;
        if (count && PaperNameAt(papers, count - 1) && PaperIdAt(papers, count - 1, &lastId)) {
            DEVMODEW in = request, out = request;
            const LONG index = vlibPRINT_GetPaperIndex(&in, &out, count, PaperIds(papers), PaperNames(papers), sizes.data(), nullptr);
            if (index >= 0) def.paper = byDriverIndex[static_cast<size_t>(index)];
        }
    }
    if (def.paper < 0) def.paper = FallbackPaper(*d);

    // Bin: by id, else the automatic bin, else the first.
    for (size_t i = 0; (f & DM_DEFAULTSOURCE) && i < d->bins.size() && def.bin < 0; ++i)
        if (d->bins[i].id == static_cast<WORD>(request.dmDefaultSource)) def.bin = static_cast<int>(i);
    for (size_t i = 0; i < d->bins.size() && def.bin < 0; ++i)
        if (d->bins[i].source == "auto") def.bin = static_cast<int>(i);
    if (def.bin < 0 && !d->bins.empty()) def.bin = 0;

    // Media type: by id, else plain paper, else the first.
    for (size_t i = 0; (f & DM_MEDIATYPE) && i < d->mediaTypes.size() && def.mediaType < 0; ++i)
        if (d->mediaTypes[i].id == request.dmMediaType) def.mediaType = static_cast<int>(i);
    for (size_t i = 0; i < d->mediaTypes.size() && def.mediaType < 0; ++i)
        if (d->mediaTypes[i].keyword == "stationery") def.mediaType = static_cast<int>(i);
    if (def.mediaType < 0 && !d->mediaTypes.empty()) def.mediaType = 0;

    DefaultResolution(set, request, d);

    if (d->duplex && (f & DM_DUPLEX))
        def.sides = request.dmDuplex == DMDUP_VERTICAL     ? "two-sided-long-edge"
                    : request.dmDuplex == DMDUP_HORIZONTAL ? "two-sided-short-edge"
                                                           : "one-sided";
    // Colour when the printer has it and its DEVMODE does not ask for monochrome.
    def.colorMode = d->color && (!(f & DM_COLOR) || request.dmColor == DMCOLOR_COLOR) ? "color" : "monochrome";
    if ((f & DM_COPIES) && request.dmCopies > 0) def.copies = std::min<int>(request.dmCopies, d->maxCopies);
    if ((f & DM_ORIENTATION) && request.dmOrientation == DMORIENT_LANDSCAPE && d->landscape) def.orientation = 4;
}

}  // namespace

PrinterDescription vlibPRINT_DescribePrinter(const QueryBuffers* set, const DEVMODEW* devMode, const std::wstring& makeAndModel) {
    PrinterDescription d;
    d.makeAndModel = d.model = makeAndModel;
    const size_t blank = makeAndModel.find(L' ');
    if (blank != std::wstring::npos && blank > 0) d.manufacturer = makeAndModel.substr(0, blank);

    std::vector<int> byDriverIndex;
    DescribePapers(set, &d, &byDriverIndex);
    NameMedia(&d);
    DescribeCustomRange(set, &d);
    DescribeBins(set, &d);
    DescribeMediaTypes(set, &d);
    DescribeResolutions(set, &d);

    d.duplex = set->dwDuplex == 1;
    d.color = set->dwColor == 1;
    d.collate = set->dwCollate == 1;
    d.staple = set->dwStaple == 1;
    d.landscape = set->dwOrientation == 90 || set->dwOrientation == 270;
    d.turn = static_cast<LONG>(set->dwOrientation);
    const LONG copies = static_cast<LONG>(set->dwCopies);
    d.maxCopies = copies > 1 ? copies : 1;
    d.numberUp.push_back(1);
    for (DWORD i = 0; set->pNUP && i < set->dwNumNUP; ++i) {
        const LONG n = static_cast<LONG>(set->pNUP[i]);
        if (n > 0 && n <= 100 && std::find(d.numberUp.begin(), d.numberUp.end(), n) == d.numberUp.end()) d.numberUp.push_back(n);
    }
    std::sort(d.numberUp.begin(), d.numberUp.end());
    // Pages per minute, or a rate the driver gives in pages per minute.
    const LONG ppm = static_cast<LONG>(set->dwPrintRatePPM), rate = static_cast<LONG>(set->dwPrintRate);
    d.pagesPerMinute = ppm > 0 && ppm < 100000 ? ppm : set->dwPrintRateUnit == PRINTRATEUNIT_PPM && rate > 0 && rate < 100000 ? rate : 0;

    DescribeDefaults(set, devMode, byDriverIndex, &d);

    // The papers loaded, by their names (DC_MEDIAREADY gives form names).
    for (DWORD i = 0; set->pMediaReady && i < set->dwNumMediaReady; ++i) {
        WCHAR name[kMediaReadyChars + 1];
        CopyNameSlot(name, set->pMediaReady + static_cast<size_t>(i) * kMediaReadyChars, kMediaReadyChars);
        for (const DescribedPaper& p : d.papers)
            if (!p.name.empty() && _wcsicmp(p.name.c_str(), name) == 0 &&
                std::find(d.mediaReady.begin(), d.mediaReady.end(), p.media) == d.mediaReady.end()) {
                d.mediaReady.push_back(p.media);
                break;
            }
    }
    if (d.mediaReady.empty() && d.defaults.paper >= 0) d.mediaReady.push_back(d.papers[d.defaults.paper].media);
    return d;
}
