// A printer as a PostScript Printer Description (PPD 4.3): papers with their
// sizes and printable areas, bins, resolutions, duplex, colour, orientation
// and the defaults, written so that a PostScript driver that reads the file
// gives back the same paper and bin codes, names, sizes and page metrics.
#pragma once

#include <string>
#include <vector>

#include "devcaps/devcaps_types.h"

// One measured page of a paper at one resolution, in device pixels, portrait.
struct PpdPage {
    LONG logX, logY;  // dots per inch the page was measured at
    LONG physW, physH, offX, offY, hres, vres;
};

struct PpdPaper {
    WORD id;            // DMPAPER_ code
    std::wstring name;  // the display name
    LONG width, length; // tenths of a millimetre
    std::vector<PpdPage> pages;  // the paper's own pages (none: a printable area of the whole sheet)
};

struct PpdBin {
    WORD id;  // DMBIN_ code
    std::wstring name;
};

// What the description says, in the driver's own terms.
struct PpdPrinter {
    std::string model;  // printer model and nick name
    std::vector<PpdPaper> papers;
    std::vector<PpdBin> bins;
    std::vector<ResolutionPair> resolutions;  // true resolutions; none: printed at fixedDpi only
    LONG fixedDpi = 300;
    bool duplex = false, color = false;
    LONG landscape = 90;  // the driver's orientation answer: 90, -90 (or 270), 0 for none
    bool customSizes = false;
    PaperSize customMin = {}, customMax = {};  // tenths of a millimetre
    // Defaults: indexes into papers and bins (-1: the first), a resolution, a DEVMODE duplex and colour value.
    int defaultPaper = -1, defaultBin = -1;
    ResolutionPair defaultResolution = {};
    int defaultDuplex = DMDUP_SIMPLEX, defaultColor = 0;  // 0: colour when the printer has it
};

// The PPD text (ISOLatin1, LF line ends). Each paper and bin code the driver
// will number otherwise (see the .cpp), and each value of a paper that no
// number of points gives back at every resolution, adds a line to `moved`.
std::string vlibPRINT_PpdText(const PpdPrinter& printer, std::vector<std::string>* moved);

// A length in points, as text, that the driver's single-precision arithmetic
// (points x units / 72, truncated toward zero) turns into each target: units
// are 254 for tenths of a millimetre, the dots per inch for pixels. A target
// may be negative (a printable area that starts before the sheet). Empty when
// no number reaches every target.
struct PpdTarget {
    LONG units;
    long long value;  // a sum of record values: no LONG holds every one
};
std::string vlibPRINT_PpdPoints(const std::vector<PpdTarget>& targets);

// The PPD's view of a printer description: each paper with the pages its
// forms measured in device pixels again, bins, resolutions, duplex, colour,
// orientation, custom sizes and the defaults.
struct PrinterDescription;
PpdPrinter vlibPRINT_PpdPrinter(const PrinterDescription& description, const std::string& model);
