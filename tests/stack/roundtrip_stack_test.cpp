// The round trip of the IPP export, its part inside Wine. scripts/roundtrip
// serves each printer's exported attributes (<printer>.attrs) with
// ippeveprinter, lets the private scheduler build a driverless queue
// <printer>_ipp from them, runs kvclient.exe -q again, and then this test
// with KV_ROUNDTRIP_DIR (the records of both runs, <printer>.kvp and
// <printer>_ipp.kvp, and the attributes) and KV_ROUNDTRIP_PRINTERS
// (comma-separated). Without them it is skipped.
//
// It compares the queue's PPD with the original's and prints the comparison
// as a table: the defaults, the bins, custom sizes, and every page size with
// its margins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "export/printer_description.h"
#include "export/pwg_names.h"
#include "harness.h"
#include "records/caps4.h"
#include "records/caps4_check.h"

namespace {

using testsupport::Narrow;

// The value of "*<keyword>: value" in a PPD, without quotes; empty when absent.
std::string PpdValue(const std::string& ppd, const std::string& keyword) {
    std::smatch m;
    return std::regex_search(ppd, m, std::regex("\\*" + keyword + ":\\s*\"?([^\"\r\n]*)")) ? m[1].str() : "";
}
// The value of "ATTR <tag> <name> value" in an attributes file.
std::string AttrValue(const std::string& attrs, const std::string& name) {
    std::smatch m;
    return std::regex_search(attrs, m, std::regex("ATTR \\w+ " + name + " ([^\n]*)")) ? m[1].str() : "";
}
size_t Count(const std::string& text, const std::string& line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) n += at == 0 || text[at - 1] == '\n';
    return n;
}
// Margins left, top, right, bottom of a page, in points.
std::vector<double> Margins(const harness::PpdPage& p) {
    return {p.area[0], p.length - p.area[3], p.width - p.area[2], p.area[1]};
}
std::string Format(const harness::PpdPage& p) {
    const std::vector<double> m = Margins(p);
    char text[96];
    std::snprintf(text, sizeof(text), "%6.1f x %6.1f  %5.1f %5.1f %5.1f %5.1f", p.width, p.length, m[0], m[1], m[2], m[3]);
    return text;
}

TEST(RoundTripStack, TheDriverlessQueueDescribesTheOriginalPrinter) {
    const wchar_t* dir = _wgetenv(L"KV_ROUNDTRIP_DIR");
    const std::vector<std::wstring> printers = harness::List(L"KV_ROUNDTRIP_PRINTERS");
    if (!dir || printers.empty()) GTEST_SKIP() << "run by scripts/roundtrip";
    for (const std::wstring& printer : printers) {
        SCOPED_TRACE(Narrow(printer));
        struct Sets { QueryBuffers at[2]{}; ~Sets() { for (QueryBuffers& set : at) vlibPRINT_FreeQueryBuffers(&set); } } sets;
        for (int i = 0; i < 2; ++i) {  // the original and the recreated printer
            const std::string bytes = testsupport::ReadFileBytes(dir + (L"\\" + printer) + (i ? L"_ipp.kvp" : L".kvp"));
            ASSERT_TRUE(vlibPRINT_CheckCaps4(bytes.data(), bytes.size(), nullptr, 0) &&
                        vlibPRINT_UnpackCaps4(&sets.at[i], reinterpret_cast<const caps4*>(bytes.data()), bytes.size()));
        }
        const PrinterDescription d = vlibPRINT_DescribePrinter(&sets.at[0], nullptr, printer);
        const PrinterDescription recreated = vlibPRINT_DescribePrinter(&sets.at[1], nullptr, printer + L"_ipp");
        const std::string attrs = testsupport::ReadFileBytes(dir + (L"\\" + printer) + L".attrs");
        const std::string ppd = testsupport::ReadFileBytes(harness::PpdPath(printer));
        const std::string copy = testsupport::ReadFileBytes(harness::PpdPath(printer + L"_ipp"));
        ASSERT_FALSE(ppd.empty() || copy.empty() || attrs.empty());
        const std::vector<harness::PpdPage> pages = harness::ReadPpdPages(printer), copies = harness::ReadPpdPages(printer + L"_ipp");

        // One device pixel at the finest resolution, in points: forms hold whole pixels.
        LONG finest = 0;
        for (const DescribedResolution& r : d.resolutions) finest = std::max({finest, r.dpi.x, r.dpi.y});
        const double pixel = finest > 0 ? 72.0 / finest : 0;
        std::printf("== %s and %s_ipp\n", Narrow(printer).c_str(), Narrow(printer).c_str());
        const auto row = [](const char* what, const std::string& a, const std::string& b, bool ok) {
            std::printf("    %-22s %-28s %-28s %s\n", what, a.c_str(), b.c_str(), ok ? "ok" : "DIFFERENT");
        };

        // The default paper: the same size.
        const auto find = [](const std::vector<harness::PpdPage>& list, const std::string& option) {
            return std::find_if(list.begin(), list.end(), [&](const harness::PpdPage& p) { return p.option == option; });
        };
        const auto snapped = [](const harness::PpdPage& a, const harness::PpdPage& b, double within) {
            return std::fabs(a.width - b.width) <= within && std::fabs(a.length - b.length) <= within;
        };
        // Half a millimetre of the size as Wine's driver reads it, in whole tenths.
        const double halfMillimetre = 72 / 50.8 + 72 / 508.0;
        const auto originalDefault = find(pages, PpdValue(ppd, "DefaultPageSize")), copyDefault = find(copies, PpdValue(copy, "DefaultPageSize"));
        // An original whose default is no page of its own ("Unknown") leaves the driver to choose.
        const bool ownDefault = originalDefault != pages.end();
        const bool samePaper = !ownDefault || (copyDefault != copies.end() && snapped(*originalDefault, *copyDefault, halfMillimetre));
        row("DefaultPageSize", PpdValue(ppd, "DefaultPageSize") + (ownDefault ? "" : " (no page)"), PpdValue(copy, "DefaultPageSize"), samePaper);
        EXPECT_TRUE(samePaper) << "default paper";

        // Colour exactly when the original defaults to it: by its colour
        // model, or as a colour device without one or with a model that is
        // neither a colour nor a grey one ("Default").
        const std::string model = PpdValue(ppd, "DefaultColorModel"), copyModel = PpdValue(copy, "DefaultColorModel");
        const std::regex colourModel("^(RGB|CMYK|Color|RGBA|CMY)$"), greyModel("^(Gray|Grey|Grayscale|Mono|Monochrome|Black|K)$", std::regex::icase);
        const bool colour = std::regex_search(model, colourModel) ||
                            (!std::regex_search(model, greyModel) && PpdValue(ppd, "ColorDevice") == "True");
        const bool copyColour = std::regex_search(copyModel, colourModel);
        row("DefaultColorModel", model.empty() ? "-" : model, copyModel.empty() ? "-" : copyModel, colour == copyColour);
        EXPECT_EQ(copyColour, colour) << "default colour";

        // The scheduler writes *DefaultDuplex: None whatever sides-default says: the served value counts.
        const std::string duplex = PpdValue(ppd, "DefaultDuplex"), sides = AttrValue(attrs, "sides-default");
        const std::string wanted = duplex == "DuplexNoTumble" ? "two-sided-long-edge" : duplex == "DuplexTumble" ? "two-sided-short-edge" : "one-sided";
        row("DefaultDuplex/sides", duplex.empty() ? "-" : duplex, sides, sides == wanted);
        EXPECT_EQ(sides, wanted) << "sides-default";

        // Bins: as many as the original has, or one more for the automatic
        // bin; Wine's driver makes a bin of *ManualFeed True too.
        const size_t slots = Count(ppd, "*InputSlot ") + Count(ppd, "*ManualFeed True"), copySlots = Count(copy, "*InputSlot ");
        row("InputSlot count", std::to_string(slots), std::to_string(copySlots), copySlots == slots || copySlots == slots + 1);
        EXPECT_TRUE(copySlots == slots || copySlots == slots + 1) << "bins";

        // Custom sizes exactly when the record gives evidence of them.
        const bool custom = copy.find("*CustomPageSize True") != std::string::npos;
        row("CustomPageSize", d.custom.present ? "evidence" : "no evidence", custom ? "True" : "-", custom == d.custom.present);
        EXPECT_EQ(custom, d.custom.present) << "custom sizes";

        // The printer Wine makes of the queue has every paper again (by size: a
        // paper of no standard size comes back under the name the scheduler
        // gave it), its margins within half a millimetre.
        size_t back = 0;
        for (const DescribedPaper& paper : d.papers) {
            const bool found = std::any_of(recreated.papers.begin(), recreated.papers.end(), [&](const DescribedPaper& c) {
                const LONG m[] = {paper.margins.left - c.margins.left, paper.margins.top - c.margins.top,
                                  paper.margins.right - c.margins.right, paper.margins.bottom - c.margins.bottom};
                return std::abs(c.width - paper.width) <= 70 && std::abs(c.length - paper.length) <= 70 && c.measured && std::all_of(std::begin(m), std::end(m), [](LONG v) { return std::abs(v) <= 50; });
            });
            back += found;
            EXPECT_TRUE(found) << Narrow(paper.name) << " did not come back in the recreated printer";
        }
        row("recreated papers", std::to_string(d.papers.size()), std::to_string(back), back == d.papers.size());

        // Every page size: the size within 1 point (half a millimetre where
        // the scheduler snapped it to a standard size); every margin within
        // 1 point and never smaller by more than a device pixel.
        std::printf("    %-22s %-40s %-40s\n", "page size (pt)", "original: size, margins l t r b", "queue");
        for (const harness::PpdPage& page : pages) {
            const PwgMedia media = vlibPRINT_PwgMedia({static_cast<LONG>(std::lround(page.width * 254 / 72)),
                                                       static_cast<LONG>(std::lround(page.length * 254 / 72))}, L"");
            const double within = media.standard ? halfMillimetre : 1.0;
            const std::vector<double> m = Margins(page);
            const auto fits = [&](const harness::PpdPage& c) {
                if (!snapped(page, c, within)) return false;
                const std::vector<double> cm = Margins(c);
                for (size_t i = 0; i < 4; ++i)
                    if (std::fabs(cm[i] - m[i]) > 1.0 || cm[i] < m[i] - pixel - 0.01) return false;
                return true;
            };
            const auto match = std::find_if(copies.begin(), copies.end(), fits);
            const auto sameSize = std::find_if(copies.begin(), copies.end(), [&](const harness::PpdPage& c) { return snapped(page, c, within); });
            const auto shown = match != copies.end() ? match : sameSize;
            std::printf("    %-22s %-40s %-40s %s\n", page.option.substr(0, 22).c_str(), Format(page).c_str(),
                        shown != copies.end() ? (Format(*shown) + " " + shown->option).c_str() : "missing",
                        match != copies.end() ? "ok" : "DIFFERENT");
            EXPECT_NE(match, copies.end()) << page.option << " " << Format(page);
        }
    }
}

}  // namespace
