// The standard exports: PWG names, the printer description built from a
// capability set and a default DEVMODE, and its IPP Everywhere attributes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "export/ipp_attributes.h"
#include "export/printer_description.h"
#include "export/pwg_names.h"
#include "records/caps4_json.h"
#include "support/json_form.h"

namespace {

using nlohmann::json;

struct Set { QueryBuffers b{}; ~Set() { vlibPRINT_FreeQueryBuffers(&b); } };

TEST(PwgNames, StandardSizesWithinHalfAMillimetreEitherWayNearestWinsOthersNameThemselvesShortSideFirst) {
    const struct { PaperSize size; const WCHAR* name; const char* pwg; } cases[] = {
        {{2099, 2971}, L"A4", "iso_a4_210x297mm 21000x29700"},
        {{2974, 2104}, L"A4 Rotated", "iso_a4_210x297mm 21000x29700"},  // turned, 0.4 mm off each way
        {{2106, 2970}, L"A4 Wide", "custom_a4-wide_210.6x297mm 21060x29700"},  // 0.6 mm off
        {{2160, 3300}, L"", "jis_exec_216x330mm 21600x33000"},  // na_foolscap_8.5x13in is 0.3 mm further
        {{984, 1905}, L"Monarch", "na_monarch_3.875x7.5in 9843x19050"},
        {{2032, 1143}, L"4.5x8\" Label", "custom_4-5x8-label_4.5x8in 11430x20320"},  // quarter inches: inches
        {{1000, 571}, L"", "custom_paper_57.1x100mm 5710x10000"},
    };
    for (const auto& c : cases) {
        const PwgMedia m = vlibPRINT_PwgMedia(c.size, c.name);
        EXPECT_EQ(m.name + " " + std::to_string(m.width) + "x" + std::to_string(m.length), c.pwg);
    }
}

json Form(LONG dpi, LONG left, LONG top, LONG right, LONG bottom) {  // a 2400 x 3200 pixel page
    return testsupport::WholeForm({{"logX", dpi}, {"logY", dpi}, {"physW", 2400}, {"physH", 3200}, {"offX", left},
                                   {"offY", top}, {"hres", 2400 - left - right}, {"vres", 3200 - top - bottom}});
}
json Size(LONG w, LONG l) { return {{"width", w}, {"length", l}}; }
// Wine's 120 x 2 dpi reading of 1202 dpi, where one dot down is 12.7 mm.
json Coarse() { json f = Form(120, 0, 1, 0, 1); f["logY"] = 2; return f; }
json Dpi(LONG x, LONG y) { return {{"x", x}, {"y", y}}; }

// Letter, A4 and a borderless A4 at 300, 600 and a coarse dpi; duplex, colour, landscape.
json Printer() {
    return {{"papers", {1, 9, 300}}, {"paperNames", {"Letter", "A4", "A4 Borderless"}},
            {"paperSizes", {Size(2159, 2794), Size(2100, 2970), Size(2100, 2970)}},
            {"resolutions", {Dpi(300, 300), Dpi(600, 600), Dpi(120, 2)}}, {"resolutionsIndexed", {Dpi(300, 300), Dpi(600, 600), Dpi(600, 600)}},
            {"forms", {Form(300, 50, 50, 50, 50), Form(300, 50, 61, 50, 50), Form(300, 0, 0, 0, 0),
                       Form(600, 99, 99, 110, 99), Form(600, 99, 99, 110, 99), Form(600, 0, 0, 0, 0), Coarse(), Coarse(), Coarse()}},
            {"bins", {15, 7, 4, 260, 261, 262, 263, 264, 6}},
            {"binNames", {"Automatically Select", "Auto", "Manual Feed", "Tray 1", "Envelope Feeder", "Bypass", "Cassette X",
                          "Drawer", "Envelope Manual Feed"}},
            {"mediaTypes", {258, 1}}, {"mediaTypeNames", {"Heavy", "Plain"}}, {"mediaReady", {"A4"}},
            {"dwDuplex", 1}, {"dwColor", 1}, {"dwOrientation", 90}, {"dwCopies", 99},
            {"dwMinExtent", 0x0AEA0834}, {"dwMaxExtent", 0x0B9A086F}};  // the papers' bounding box: no evidence
}

TEST(PrinterDescription, MarginsRoundUpAndHoldAtEveryResolutionPagesArePrintedAtBinsSayWhatTheyAreDefaultsComeFromTheDevMode) {
    Set set;
    ASSERT_TRUE(vlibPRINT_Caps4FromJson(Printer().dump(), &set.b));
    DEVMODEW dm = {};
    dm.dmFields = DM_PAPERSIZE | DM_DUPLEX | DM_COLOR | DM_PRINTQUALITY | DM_DEFAULTSOURCE | DM_COPIES | DM_ORIENTATION | DM_MEDIATYPE;
    dm.dmPaperSize = 1, dm.dmDuplex = DMDUP_HORIZONTAL, dm.dmColor = DMCOLOR_MONOCHROME, dm.dmPrintQuality = -1;
    dm.dmDefaultSource = 262, dm.dmCopies = 500, dm.dmOrientation = DMORIENT_LANDSCAPE, dm.dmMediaType = 258;
    const PrinterDescription d = vlibPRINT_DescribePrinter(&set.b, &dm, L"Acme Laser 5");
    ASSERT_EQ(d.papers.size(), 3u);
    const DescribedMargins& a4 = d.papers[1].margins;  // 50 px at 300 dpi: 423.3; 61: 516.5; 110 px at 600 dpi: 465.7
    EXPECT_EQ(std::vector<LONG>({a4.left, a4.top, a4.right, a4.bottom}), std::vector<LONG>({424, 517, 466, 424}));
    EXPECT_TRUE(d.papers[2].borderless && !d.papers[1].borderless && d.papers[2].media == d.papers[1].media);
    EXPECT_FALSE(d.custom.present);
    std::string sources;
    for (const DescribedBin& bin : d.bins) sources += bin.source + " ";
    EXPECT_EQ(sources, "auto tray-2 manual tray-1 envelope by-pass-tray main tray-3 tray-4 ");  // tray-N last
    // Letter by its code, the bypass, the quality level's real resolution, at most the copies the printer makes.
    const DescribedDefaults& def = d.defaults;
    EXPECT_TRUE(def.fromPrinter && def.paper == 0 && def.bin == 5 && def.mediaType == 0 && def.resolution == 0 &&
                def.quality == 3 && def.copies == 99 && def.orientation == 4);
    EXPECT_EQ(def.sides + " " + def.colorMode, "two-sided-short-edge monochrome");
    EXPECT_EQ(d.manufacturer + L"|" + d.model, L"Acme|Acme Laser 5");

    // A bare record: A4 (not the first paper), the automatic bin, plain paper, the middle resolution, colour.
    const PrinterDescription bare = vlibPRINT_DescribePrinter(&set.b, nullptr, L"P");
    EXPECT_TRUE(!bare.defaults.fromPrinter && bare.defaults.paper == 1 && bare.defaults.bin == 0 &&
                bare.defaults.mediaType == 1 && bare.defaults.resolution == 1 && bare.defaults.quality == 4);
    EXPECT_EQ(bare.defaults.sides + " " + bare.defaults.colorMode, "one-sided color");
}

TEST(PrinterDescription, CustomSizesOnlyWhenTheExtentsReachBeyondTheListedPapers) {
    for (const auto& [min, max, present] : {std::tuple{0x0AEA0834u, 0x0B9A086Fu, false}, {0x0AEA0835u, 0x0B9A0870u, false},
                                            {0x0AEA0834u, 0x0B9A0872u, true}, {0x00640064u, 0x0B9A086Fu, true},
                                            {0xFFFFFFFFu, 0xFFFFFFFFu, false}}) {
        json printer = Printer();
        printer["dwMinExtent"] = min, printer["dwMaxExtent"] = max;
        Set set;
        ASSERT_TRUE(vlibPRINT_Caps4FromJson(printer.dump(), &set.b));
        const PrinterDescription d = vlibPRINT_DescribePrinter(&set.b, nullptr, L"P");
        EXPECT_EQ(d.custom.present, present) << std::hex << min << " " << max;
        if (present) EXPECT_EQ(d.custom.margins.right, 466);  // the largest of any paper
    }
}

// The values of one attribute.
std::string Values(const std::string& text, const std::string& name) {
    std::smatch m;
    return std::regex_search(text, m, std::regex("ATTR \\w+ " + name + " ([^\n]*(\n  [^\n]*)*)\n")) ? m[1].str() : "";
}

TEST(IppAttributes, ABorderlessPaperIsACollectionOfItsSizesNameOtherPapersMediaOfTheirOwnAndTheDefaultsAreThePrinters) {
    Set set;
    ASSERT_TRUE(vlibPRINT_Caps4FromJson(Printer().dump(), &set.b));
    DEVMODEW dm = {};
    dm.dmFields = DM_FORMNAME | DM_DUPLEX | DM_COLOR;
    wcscpy_s(dm.dmFormName, L"a4");
    dm.dmDuplex = DMDUP_VERTICAL, dm.dmColor = DMCOLOR_COLOR;
    const std::string text = vlibPRINT_IppAttributes(vlibPRINT_DescribePrinter(&set.b, &dm, L"Acme Laser"));
    EXPECT_EQ(Values(text, "media-supported"), "na_letter_8.5x11in,iso_a4_210x297mm");
    EXPECT_EQ(std::regex_replace(Values(text, "media-col-database"), std::regex("[^0-9]+"), " "),
              " 21590 27940 8 5 11 424 424 466 424 21000 29700 4 210 297 424 517 466 424 21000 29700 4 210 297 0 0 0 0 ");
    EXPECT_EQ(Values(text, "media-left-margin-supported") + " " + Values(text, "media-top-margin-supported"), "0,424 0,424,517");
    EXPECT_EQ(Values(text, "media-default") + " " + Values(text, "media-ready") + " " + Values(text, "sides-default") + " " +
                  Values(text, "print-color-mode-default") + " " + Values(text, "media-source-default"),
              "iso_a4_210x297mm iso_a4_210x297mm two-sided-long-edge color auto");
    EXPECT_NE(Values(text, "media-col-default").find("media-source auto MEMBER keyword media-type stationery }"), std::string::npos);
    EXPECT_EQ(Values(text, "printer-device-id"), "\"MFG:Acme;MDL:Acme Laser;CMD:PWGRaster;\"");
    EXPECT_EQ(Values(text, "media-type-supported") + " " + Values(text, "printer-resolution-default"), "heavy,stationery 600dpi");

    // Letter listed long side across lies so, margins and all; the second A4
    // has margins and a name of its own; A4, measured at the coarse
    // resolution only, keeps its margins; the coarse resolution is not offered.
    json printer = Printer();
    printer["paperSizes"][0] = Size(2794, 2159), printer["forms"][0] = printer["forms"][3] = Form(300, 20, 40, 60, 80);
    printer["forms"][2] = Form(300, 1, 1, 1, 1), printer["forms"][1]["logX"] = printer["forms"][4]["logX"] = 0;
    Set other;
    ASSERT_TRUE(vlibPRINT_Caps4FromJson(printer.dump(), &other.b));
    const std::string media = vlibPRINT_IppAttributes(vlibPRINT_DescribePrinter(&other.b, nullptr, L"P"));
    EXPECT_EQ(Values(media, "media-supported") + " " + Values(media, "printer-resolution-supported") + " " +
                  Values(media, "media-left-margin-supported") + " " + Values(media, "media-top-margin-supported"),
              "custom_letter_11x8.5in,iso_a4_210x297mm,custom_a4-borderless_210x297mm 300dpi,600dpi 0,9,170 9,339,1270");
    EXPECT_EQ(Values(media, "media-size-supported").substr(0, 69), "{ MEMBER integer x-dimension 27940 MEMBER integer y-dimension 21590 }");
}

}  // namespace
