// The standard exports: PWG media names, the media, margins and resolutions
// of the IPP attributes, and the JSON document read back into the same record.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <map>
#include <regex>
#include <sstream>

#include "fake/fake_print_system.h"
#include "printer/printer.h"
#include "records/caps4_ipp.h"
#include "records/caps4_json.h"
#include "records/caps4_media.h"

namespace {

using nlohmann::json;

struct Set { QueryBuffers b{}; ~Set() { vlibPRINT_FreeQueryBuffers(&b); } };

TEST(PwgMedia, StandardSizesInEitherUnitWithinATenthOtherSizesKeepTheirOwn) {
    const struct { PaperSize size; const WCHAR* name; const char* pwg; } cases[] = {
        {{2159, 2794}, L"Letter", "na_letter_8.5x11in 21590x27940"},
        {{2099, 2971}, L"A4", "iso_a4_210x297mm 21000x29700"},  // a tenth off each way: rounding
        {{984, 1905}, L"Monarch", "na_monarch_3.875x7.5in 9843x19050"},
        {{1047, 1481}, L"A6", "custom_a6_104.7x148.1mm 10470x14810"},  // three tenths off
        {{2970, 2100}, L"A4 Rotated", "custom_a4-rotated_297x210mm 29700x21000"},
        {{571, 1016}, L"2.25x4.00\" Label", "custom_2-25x4-00-label_57.1x101.6mm 5710x10160"},
        {{500, 500}, L"", "custom_paper_50x50mm 5000x5000"},
    };
    for (const auto& c : cases) {
        const PwgMedia m = vlibPRINT_PwgMedia(c.size, c.name);
        EXPECT_EQ(m.name + " " + std::to_string(m.width) + "x" + std::to_string(m.length), c.pwg);
    }
}

json Form(LONG dpi, LONG offX, LONG offY, LONG right, LONG bottom) {  // on a 2400 x 3200 pixel page
    return {{"logX", dpi}, {"logY", dpi}, {"physW", 2400}, {"physH", 3200}, {"offX", offX}, {"offY", offY},
            {"hres", 2400 - offX - right}, {"vres", 3200 - offY - bottom}};
}
json Dpi(LONG x, LONG y) { return {{"x", x}, {"y", y}}; }

// The values of one attribute, up to the next attribute; of a collection
// only the numbers, one blank after each.
std::string Values(const std::string& text, const std::string& name) {
    std::smatch m;
    std::string values = std::regex_search(text, m, std::regex("ATTR \\w+ " + name + " ([\\s\\S]*?)\n(ATTR|$)")) ? m[1].str() : "";
    if (values.find("MEMBER") == std::string::npos) return values;
    return std::regex_replace(std::regex_replace(values, std::regex("[^0-9]+"), " "), std::regex("^ "), "");
}

TEST(IppAttributes, MediaMarginsAndResolutionsComeFromEachPapersFormAtTheNormalResolution) {
    const json a4 = {{"width", 2100}, {"length", 2970}}, letter = {{"width", 2159}, {"length", 2794}};
    const struct { const char* what; json set; std::map<std::string, std::string> expected; } cases[] = {
        {"same size: one name, a collection per set of margins, borderless with four zeros; bins, duplex, colour",
         {{"paperSizes", {a4, a4, a4}}, {"resolutions", {Dpi(300, 300)}}, {"dwDuplex", 1}, {"dwColor", 1},
          {"bins", {15, 256, 257, 1}}, {"forms", {Form(300, 50, 60, 70, 80), Form(300, 50, 60, 70, 80), Form(300, 0, 0, 0, 0)}}},
         {{"media-supported", "iso_a4_210x297mm"}, {"media-source-supported", "auto,tray-1,tray-2,top"},
          {"media-col-database", "21000 29700 423 508 593 677 21000 29700 0 0 0 0 "},
          {"media-col-default", "21000 29700 423 508 593 677 "}, {"printer-resolution-default", "300dpi"},
          {"sides-supported", "one-sided,two-sided-long-edge,two-sided-short-edge"},
          {"print-color-mode-supported", "monochrome,color"}}},
        {"indexed only: the dpi measured for the levels, margins from the medium level's forms",
         {{"paperSizes", {letter}}, {"dwIndexedResolutionsOnly", 1},
          {"resolutionsIndexed", {Dpi(300, 300), Dpi(300, 300), Dpi(600, 600), Dpi(600, 600)}},
          {"forms", {Form(300, 1, 1, 1, 1), Form(300, 2, 2, 2, 2), Form(600, 120, 60, 120, 6), Form(600, 4, 4, 4, 4)}}},
         {{"media-supported", "na_letter_8.5x11in"}, {"media-col-database", "21590 27940 508 254 508 25 "},
          {"printer-resolution-supported", "300dpi,600dpi"}, {"printer-resolution-default", "600dpi"},
          {"pwg-raster-document-resolution-supported", "300dpi,600dpi"}, {"sides-supported", "one-sided"}}},
        {"no forms: sizes without margins, none invented; a paper without a size is left out",
         {{"paperSizes", {letter, {{"width", 0}, {"length", 2794}}}}, {"resolutions", {Dpi(600, 600), Dpi(1200, 600)}}},
         {{"media-default", "na_letter_8.5x11in"}, {"media-col-database", "21590 27940 "},
          {"printer-resolution-supported", "600dpi,1200x600dpi"}, {"printer-resolution-default", "1200x600dpi"},
          {"print-color-mode-supported", "monochrome"}, {"media-source-supported", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Set set;
        ASSERT_TRUE(vlibPRINT_Caps4FromJson(c.set.dump(), &set.b));
        const std::string text = vlibPRINT_Caps4IppAttributes(&set.b, L"Fake, \"Laser\"");
        for (const auto& [name, value] : c.expected)
            EXPECT_EQ(Values(text, name), value) << name;
        EXPECT_EQ(Values(text, "printer-make-and-model"), R"("Fake\, \"Laser\"")");
        EXPECT_EQ(text.find("document-format-supported"), std::string::npos);
    }
}

// Every section filled, as the printer object queries a fake printer; every
// scalar, form value and low-level value a number of its own.
TEST(Caps4Json, EveryValueComesBackAndFormsAndLowLevelValuesGoByName) {
    fake::FakePrintSystem fake;
    fake::FakePrinter& p = fake.AddPrinter(L"P");
    p.SetBins({{DMBIN_AUTO, L"Automatically Select"}, {DMBIN_UPPER, L"Tray 1 \u00e9"}});
    p.SetMedia({{1, L"Plain"}, {2, L"Glossy"}});
    p.SetPapers({{1, L"Letter", 2159, 2794}, {9, std::wstring(kPaperNameChars, L'x'), 2100, 2970}});
    for (WORD index : {DC_FILEDEPENDENCIES, DC_MEDIAREADY, DC_PERSONALITY, DC_MEDIATYPENAMES})  // one media name of two
        p.SetNames(index, index == DC_PERSONALITY ? kPersonalityChars : 64, {L"one"});
    p.SetValues(DC_NUP, {1, 2, 4});
    CPrinter printer(nullptr, L"P", 2, 0);
    printer.QueryCapabilities(FALSE, nullptr, nullptr);
    QueryBuffers& b = printer.queryBuffers;
    b.bFilled = 1;
    DWORD value = 0xFFFFFF00;  // negative as signed numbers
    for (DWORD* scalar : {&b.dwCollate, &b.dwColor, &b.dwCopies, &b.dwVersion, &b.dwAnsiOnly}) *scalar = value++;
    ASSERT_TRUE(b.pForms && b.dwNumForms >= 2 && b.pLowLevel && b.pResolutions && b.pResolutionsIndexed);
    for (LONG k = 0; k < 2 * 21; ++k) reinterpret_cast<LONG*>(b.pForms)[k] = k / 21 * 100 + k % 21;
    for (int k = 0; k < 35; ++k) reinterpret_cast<LONG*>(b.pLowLevel)[k] = 7000 + k;

    const std::string text = vlibPRINT_Caps4Json(&b);
    const json document = json::parse(text);
    std::istringstream names("formNo orientFlag paprI paprW paprL resX resY resNo hsize vsize hres vres logX logY "
                             "aspX aspY aspXY physW physH offX offY");
    int i = 100;
    for (std::string name; names >> name;) EXPECT_EQ(document["forms"][1][name], i++) << name;
    EXPECT_TRUE(document["lowLevel"].size() == 23 && document["lowLevel"]["TextCaps"] == 7021 &&
                document["escapes"]["CHECKJPEGFORMAT"] == 7023 && document["escapes"]["QUERYDIBSUPPORT"] == 7034);
    EXPECT_TRUE(document["dwCopies"] == -254 && document["binNames"][1] == "Tray 1 \xC3\xA9");  // U+00E9 in UTF-8

    Set copy;  // read back, it says the same again
    ASSERT_TRUE(vlibPRINT_Caps4FromJson(text, &copy.b));
    EXPECT_EQ(vlibPRINT_Caps4Json(&copy.b), text);
}

TEST(Caps4Json, ADocumentThatDoesNotFitIsRefusedAndLeavesTheSetEmpty) {
    for (const std::string bad : {"\"dwColor\": \"red\"}", "\"dwColor\": 4294967296}", "\"forms\": [1]}", "\"bins\": 3}",
                                  "\"paperSizes\": [{\"width\": 1}]}", "\"binNames\": [\"abcdefghijklmnopqrstuvwxy\"]}", "[9]"}) {
        Set set;
        EXPECT_FALSE(vlibPRINT_Caps4FromJson("{\"papers\": [9], " + bad, &set.b)) << bad;
        EXPECT_TRUE(!set.b.bFilled && !set.b.pPapers && !set.b.pLowLevel) << bad;
    }
}

}  // namespace
