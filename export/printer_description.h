// One printer described in standard terms, for the exports that let another
// system recreate it (the IPP Everywhere attributes of ipp_attributes.h, a
// PPD, a page report). It is built once from a capability set and, when
// there is one, the printer's default DEVMODE (an info record carries it);
// every export renders this description and none reads the capability set.
//
// Units: lengths are hundredths of a millimetre (the IPP unit), sizes short
// side first as PWG media names have them; resolutions are dots per inch;
// names and keywords are PWG's (pwg_names.h).
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "records/query_buffers.h"

struct DescribedMargins {
    LONG left = 0, top = 0, right = 0, bottom = 0;  // hundredths of a millimetre
};

// A resolution of the list the forms were measured at: the printer's
// resolutions, or for a printer with indexed resolutions only, its quality
// levels with the dots per inch measured for each.
struct DescribedResolution {
    ResolutionPair dpi;  // x and y; either may be 0 or less when the driver gave no usable value
    LONG quality;        // for a quality level its DEVMODE index (-1 draft ... -4 high); 0 for a real resolution
    // Fewer than kFinestCoarseDpi dots per inch either way: one dot is larger
    // than a point, and no page is printed at it (Wine reads "1202dpi" as
    // 120 x 2). The margins and the resolutions offered leave it out
    // unless the printer has nothing finer.
    bool coarse;
};
inline constexpr LONG kFinestCoarseDpi = 72;

// The form as the driver measured it, in its device pixels, as the paper is
// listed. The printable area may reach beyond the sheet (a negative offset,
// or more pixels than the sheet has): a driver may report that.
struct DescribedPixels {
    LONG physW, physH, offX, offY, hres, vres;
};

// A paper at one resolution, from the form the driver measured there.
struct DescribedPage {
    DWORD resolution;           // index into PrinterDescription::resolutions
    LONG dotsX, dotsY;          // logical pixels per inch of the form
    LONG sheetWidth, sheetLength;  // the sheet the driver laid out, hundredths of a millimetre, as the paper is listed
    DescribedMargins margins;   // rounded up to the next hundredth, as the paper is listed; 0 where the area reaches past the sheet
    DescribedPixels pixels;     // exact at every resolution, where hundredths are not
};

struct DescribedPaper {
    WORD id;                 // the driver's paper id (DMPAPER_ numbering), 0 when the id list is shorter
    std::wstring name;       // the driver's display name
    PaperSize own;           // the driver's size, tenths of a millimetre, as listed (width may be the long side)
    bool turned;             // listed long side across: the PWG size below is the paper turned upright
    // PWG 5101.1 media name, never the same for two papers but a borderless
    // paper and the paper with margins of its size: a second paper of a size
    // already named, and a paper listed long side across, get custom names of
    // their own (see vlibPRINT_DescribePrinter).
    std::string media;
    bool standard;           // media is a PWG standard size (the size below is the standard's, within 0.5 mm)
    bool across;             // its medium lies as the paper is listed, long side across (turned papers)
    LONG width, length;      // hundredths of a millimetre, short side first
    std::vector<DescribedPage> pages;  // one per resolution whose form was measured
    bool measured;           // pages is not empty: the margins below are known
    // The margins that hold at every resolution a page is printed at (the
    // largest of each side over the resolutions that are not coarse, over all
    // when every one is), upright as width and length are: printing inside
    // them never leaves the printable area of a form it is printed at.
    DescribedMargins margins;
    bool borderless;         // measured, and every margin 0
};

struct DescribedBin {
    WORD id;              // DMBIN_ numbering
    std::wstring name;    // the driver's display name
    std::string source;   // PWG 5100.7 media-source keyword, never the same for two bins
};

struct DescribedMediaType {
    DWORD id;             // DMMEDIA_ numbering
    std::wstring name;
    std::string keyword;  // PWG media-type keyword; empty when the name gives none
};

// Custom sizes: only when the driver's extents reach beyond the bounding box
// of its listed papers (Wine reports exactly that box, which is no evidence).
struct DescribedCustomRange {
    bool present = false;
    LONG minWidth = 0, minLength = 0, maxWidth = 0, maxLength = 0;  // hundredths of a millimetre
    DescribedMargins margins;  // the largest margins of any paper: they hold for any size
};

// The defaults a job gets, in IPP terms. Indexes are -1 when the list is empty.
struct DescribedDefaults {
    bool fromPrinter = false;  // from the printer's default DEVMODE; else the fallbacks (README, "IPP export")
    int paper = -1;            // index into papers
    int bin = -1;              // index into bins
    int mediaType = -1;        // index into mediaTypes
    int resolution = -1;       // index into resolutions
    std::string sides = "one-sided";        // sides keyword
    std::string colorMode = "monochrome";   // print-color-mode keyword
    int quality = 4;           // print-quality: 3 draft, 4 normal, 5 high
    int copies = 1;
    int orientation = 3;       // orientation-requested: 3 portrait, 4 landscape
};

struct PrinterDescription {
    std::wstring makeAndModel;   // the driver's name, else the printer's
    std::wstring manufacturer;   // the first word of the driver's name when it has more than one, else empty
    std::wstring model;          // the driver's name

    std::vector<DescribedPaper> papers;       // in the driver's order; sizes of 0 or above the IPP range left out
    std::vector<DescribedBin> bins;
    std::vector<DescribedMediaType> mediaTypes;
    std::vector<DescribedResolution> resolutions;  // the list the forms were measured at, in its order
    std::vector<int> qualities;                // print-quality values the quality levels give (3, 4, 5), at least 4
    ResolutionPair levelDpi = {};              // the dots per inch of every quality level when they all agree, else 0 x 0
    std::vector<std::string> mediaReady;       // media names of the papers loaded, else of the default paper
    DescribedCustomRange custom;

    bool duplex = false;
    bool color = false;
    bool collate = false;
    bool staple = false;
    bool landscape = false;    // the driver turns pages (DC_ORIENTATION 90 or 270)
    LONG turn = 0;             // DC_ORIENTATION as the driver answered it (90, 270, or -90 from some drivers; 0 none)
    int maxCopies = 1;
    std::vector<int> numberUp;  // N-up values the driver offers, 1 always among them
    int pagesPerMinute = 0;     // 0 when the driver does not say

    DescribedDefaults defaults;
};

// Builds the description. devMode is the printer's default DEVMODE (null for
// a bare capability record: then the fallbacks). makeAndModel names the
// printer's driver, or the printer when the driver is not known.
PrinterDescription vlibPRINT_DescribePrinter(const QueryBuffers* set, const DEVMODEW* devMode, const std::wstring& makeAndModel);
