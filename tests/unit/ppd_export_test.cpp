// The PPD export: point values that survive the driver's single-precision
// truncation, keywords a PostScript driver maps back to the same codes, and
// what it will number otherwise.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include <nlohmann/json.hpp>

#include "export/ppd.h"
#include "export/printer_description.h"
#include "records/caps4_json.h"

namespace {

// The driver's arithmetic: points x units / 72 in single precision, truncated.
LONG Driver(const std::string& points, LONG units) {
    const float p = std::strtof(points.c_str(), nullptr);
    return static_cast<LONG>(p * static_cast<float>(units) / 72.0f);
}

TEST(PpdPoints, EverySizeAndPageValueComesBackThroughTheDriversTruncation) {
    const struct { const char* what; std::vector<PpdTarget> targets; } cases[] = {
        // 2099 x 72 / 254 written to two decimals (594.99) comes back 2098.
        {"A4 width in tenths", {{254, 2099}}},
        {"A4 width at every resolution", {{254, 2099}, {150, 1239}, {300, 2479}, {600, 4958}, {1200, 9916}}},
        {"a margin of 12 pt at 300 and 1200 dpi", {{300, 50}, {1200, 200}}},
        {"a page edge at 203 dpi and 600 dpi", {{203, 1679}, {600, 4963}}},
        {"nothing", {{600, 0}}},
        {"an edge at 4800 dpi, 2400 dpi and in tenths", {{4800, 822}, {2400, 411}, {300, 51}, {254, 43}}},
        // Truncation toward zero: -680 pixels is (-681, -680], 0 is (-1, 1).
        {"an edge before the sheet", {{600, -680}, {300, -340}}},
        {"an edge just before the sheet", {{600, 0}, {4800, -3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string points = vlibPRINT_PpdPoints(c.targets);
        ASSERT_FALSE(points.empty());
        for (const PpdTarget& t : c.targets) EXPECT_EQ(Driver(points, t.units), t.value) << points << " at " << t.units;
    }
    EXPECT_EQ(vlibPRINT_PpdPoints({{300, 100}, {600, 300}}), "");  // no length is 100 pixels at 300 dpi and 300 at 600
}

// The value of the first line that matches, or "".
std::string Find(const std::string& text, const std::string& pattern) {
    std::smatch m;
    return std::regex_search(text, m, std::regex(pattern)) ? m[1].str() : "";
}

TEST(PpdText, KeywordsGiveTheCodesBackAndWhatMovesIsSaid) {
    PpdPrinter p;
    p.model = "KV Test";
    const PpdPage a4At600 = {600, 600, 4958, 7016, 100, 100, 4758, 6816};
    p.papers = {{9, L"A4", 2099, 2970, {a4At600}},
                {256, L"A4", 1000, 1000, {}},                 // a custom paper named like a standard one
                {257, L"Ratio 1:2 \u00e9\u4e00", 1000, 2000, {}},  // a colon, a Latin-1 and a foreign letter
                {300, L"Gap", 500, 500, {}},
                // Forms no one PPD value gives: a left edge of 100 pixels at 300 dpi and 300 at 600.
                {5, L"Legal", 2159, 3556, {{300, 300, 2550, 4200, 100, 100, 2350, 4000}, {600, 600, 5100, 8400, 300, 200, 4600, 8000}}}};
    p.bins = {{15, L"Automatically Select"}, {256, L"Tray 1"}, {4, L"Manual Feed"}};
    p.resolutions = {{300, 300}, {600, 600}};
    p.defaultResolution = {600, 600};
    p.landscape = -90;
    p.defaultPaper = 0;
    std::vector<std::string> moved;
    const std::string text = vlibPRINT_PpdText(p, &moved);

    EXPECT_EQ(Find(text, "\\*PageSize (\\w+)/A4:"), "A4");
    EXPECT_EQ(Find(text, "\\*PageSize (A4_2)/A4:"), "A4_2");  // never a keyword the driver maps to a code
    EXPECT_EQ(Find(text, "\\*PageSize \\w+/(Ratio[^:]*):"), "Ratio 1<3A>2 <E9>?");
    const std::string width = Find(text, "\\*PaperDimension A4/A4: \"(\\S+) ");
    EXPECT_TRUE(Driver(width, 254) == 2099 && Driver(width, 600) == 4958) << width;
    EXPECT_EQ(Driver(Find(text, "\\*ImageableArea A4/A4: \"(\\S+)"), 600), 100);
    EXPECT_EQ(Driver(Find(text, "\\*ImageableArea A4/A4: \"\\S+ \\S+ (\\S+)"), 600), 100 + 4758);
    EXPECT_EQ(Driver(Find(text, "\\*ImageableArea A4/A4: \"\\S+ \\S+ \\S+ (\\S+)\""), 600), 7016 - 100);
    EXPECT_EQ(Find(text, "\\*ImageableArea Ratio\\w*/[^:]*: \"([^\"]+)\""), "0 0 " + Find(text, "\\*PaperDimension Ratio\\w*/[^:]*: \"([^\"]+)\""));
    // The slot and then the manual feed option, in the bin list's order; no automatic bin.
    EXPECT_LT(text.find("*InputSlot Tray1/Tray 1:"), text.find("*ManualFeed True"));
    EXPECT_EQ(text.find("Automatically"), std::string::npos);
    EXPECT_NE(text.find("*ColorDevice: False"), std::string::npos);  // said, never left out
    EXPECT_NE(text.find("*LandscapeOrientation: Minus90"), std::string::npos);
    EXPECT_NE(text.find("*DefaultResolution: 600dpi"), std::string::npos);
    EXPECT_EQ(text.find("*Duplex"), std::string::npos);
    const std::string notKept = "paper 5: no number of points gives its printable area's left edge at every resolution (written inward)";
    EXPECT_EQ(moved, (std::vector<std::string>{"paper 300 comes back as 258", notKept}));
    EXPECT_NE(text.find("*% Not kept: " + notKept + "\n"), std::string::npos);
    // Written inward: never more printable area than measured, at either resolution.
    const std::string left = Find(text, "\\*ImageableArea Legal/Legal: \"(\\S+)");
    EXPECT_TRUE(Driver(left, 600) == 300 && Driver(left, 300) >= 100) << left;
}

TEST(PpdPrinter, TheFormsPixelsComeBackFromTheDescriptionAndAPageOfAnotherPaperIsLeftOut) {
    using nlohmann::json;
    auto form = [](LONG dpi, LONG physW, LONG physH, LONG offX, LONG offY, LONG hres, LONG vres) {
        return json{{"logX", dpi}, {"logY", dpi}, {"physW", physW}, {"physH", physH}, {"offX", offX}, {"offY", offY}, {"hres", hres}, {"vres", vres}};
    };
    // At 4800 dpi, where a hundredth of a millimetre is coarser than a pixel, and
    // with a printable area that starts above the sheet and reaches below it.
    const json a4At600 = form(600, 4958, 7016, 100, -101, 4758, 7300), a4At4800 = form(4800, 39666, 56133, 960, 576, 37746, 54981);
    const json document = {{"papers", {9, 1}}, {"paperNames", {"A4", "Letter"}},
                           {"paperSizes", {{{"width", 2099}, {"length", 2970}}, {{"width", 2159}, {"length", 2794}}}},
                           {"resolutions", {{{"x", 600}, {"y", 600}}, {{"x", 4800}, {"y", 4800}}}},
                           {"resolutionsIndexed", json::array({{{"x", 4800}, {"y", 4800}}, {{"x", 4800}, {"y", 4800}}})},
                           {"forms", {a4At600, a4At600, a4At4800, a4At4800}}};  // Letter measured on the A4 page
    QueryBuffers set{};
    ASSERT_TRUE(vlibPRINT_Caps4FromJson(document.dump(), &set));
    const PpdPrinter p = vlibPRINT_PpdPrinter(vlibPRINT_DescribePrinter(&set, nullptr, L"P"), "P");
    vlibPRINT_FreeQueryBuffers(&set);
    ASSERT_EQ(p.papers.size(), 2u);
    ASSERT_EQ(p.papers[0].pages.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const PpdPage& g = p.papers[0].pages[i];
        EXPECT_EQ(json(form(g.logX, g.physW, g.physH, g.offX, g.offY, g.hres, g.vres)), i ? a4At4800 : a4At600);
    }
    EXPECT_TRUE(p.papers[1].pages.empty());
    EXPECT_TRUE(p.defaultResolution.x == 4800 && p.defaultResolution.y == 4800);  // where the quality levels were measured
}

}  // namespace
