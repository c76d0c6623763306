// The PPD's view of a printer description: each page in the device pixels
// its form was measured in, at any resolution, with a printable area that may
// reach beyond the sheet as the driver reported it.
#include <algorithm>
#include <cstdlib>

#include "export/ppd.h"
#include "export/printer_description.h"

namespace {

// A page measured with its own paper: its sheet is the paper's size within
// two pixels. A driver that ignored the paper of the request measured its
// default paper instead.
bool OwnPage(const PpdPage& g, const PaperSize& size) {
    return std::llabs(g.physW * 254LL - 1LL * size.width * g.logX) <= 2LL * 254 + g.logX &&
           std::llabs(g.physH * 254LL - 1LL * size.length * g.logY) <= 2LL * 254 + g.logY;
}

}  // namespace

PpdPrinter vlibPRINT_PpdPrinter(const PrinterDescription& d, const std::string& model) {
    PpdPrinter p;
    p.model = model;
    for (const DescribedPaper& described : d.papers) {
        PpdPaper paper = {described.id, described.name, described.own.width, described.own.length, {}};
        for (const DescribedPage& page : described.pages) {
            if (page.dotsX <= 0 || page.dotsY <= 0) continue;
            const DescribedPixels& px = page.pixels;
            const PpdPage g = {page.dotsX, page.dotsY, px.physW, px.physH, px.offX, px.offY, px.hres, px.vres};
            if (OwnPage(g, described.own)) paper.pages.push_back(g);
        }
        p.papers.push_back(paper);
    }
    for (const DescribedBin& bin : d.bins) p.bins.push_back({bin.id, bin.name});
    const bool levels = std::any_of(d.resolutions.begin(), d.resolutions.end(),
                                    [](const DescribedResolution& r) { return r.quality != 0; });
    for (const DescribedResolution& r : d.resolutions)
        if (!levels && r.dpi.x > 0 && r.dpi.y > 0) p.resolutions.push_back(r.dpi);
    const int normal = d.defaults.resolution;
    if (normal >= 0 && static_cast<size_t>(normal) < d.resolutions.size()) {
        p.defaultResolution = d.resolutions[normal].dpi;
        if (levels && p.defaultResolution.x > 0) p.fixedDpi = p.defaultResolution.x;
    }
    // A driver of this kind measures every quality level at its own default
    // resolution: when the levels agree, that is the default to write.
    if (d.levelDpi.x > 0 && (levels || std::any_of(p.resolutions.begin(), p.resolutions.end(), [&](const ResolutionPair& r) {
                                 return r.x == d.levelDpi.x && r.y == d.levelDpi.y;
                             }))) {
        p.defaultResolution = d.levelDpi;
        if (levels) p.fixedDpi = d.levelDpi.x;
    }
    p.duplex = d.duplex;
    p.color = d.color;
    p.landscape = d.turn;
    if (d.custom.present) {
        p.customSizes = true;
        p.customMin = {d.custom.minWidth / 10, d.custom.minLength / 10};
        p.customMax = {d.custom.maxWidth / 10, d.custom.maxLength / 10};
    }
    p.defaultPaper = d.defaults.paper;
    p.defaultBin = d.defaults.bin;
    p.defaultDuplex = d.defaults.sides == "two-sided-long-edge"    ? DMDUP_VERTICAL
                      : d.defaults.sides == "two-sided-short-edge" ? DMDUP_HORIZONTAL
                                                                   : DMDUP_SIMPLEX;
    p.defaultColor = d.defaults.colorMode == "color" ? DMCOLOR_COLOR : DMCOLOR_MONOCHROME;
    return p;
}
