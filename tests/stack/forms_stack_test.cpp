// The forms table of the printers of the private CUPS scheduler, measured
// through Wine's spooler and PostScript driver. A printer whose default
// DEVMODE is older than the merge's first gate (Wine's own 0x030A) gets the
// default page in every form; one with a stored 0x0401 default (the harness
// gives three printers one) gets each paper's own page, as its PPD describes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "devcaps/forms.h"
#include "devcaps/list_queries.h"
#include "devcaps/resolutions.h"
#include "support/temp_dir.h"
#include "unit/devcaps_test_util.h"

namespace {

using devcaps_test::Block;
using Longs = std::vector<LONG>;

// One page size of a PPD, in points: *PaperDimension and *ImageableArea.
struct PpdPage {
    double width = 0, length = 0;
    double area[4] = {};  // llx lly urx ury
};

// The PPD's page sizes by their text (what Wine's driver names the paper),
// or by their name when they have no text.
std::map<std::string, PpdPage> PpdPages(const std::wstring& printer) {
    const wchar_t* dir = _wgetenv(L"KV_CUPS_PPD_DIR");
    std::istringstream ppd(testsupport::ReadFileBytes(std::wstring(dir ? dir : L"") + L"\\" + printer + L".ppd"));
    std::map<std::string, PpdPage> pages;
    for (std::string line; std::getline(ppd, line);) {
        const bool dimension = line.rfind("*PaperDimension ", 0) == 0, area = line.rfind("*ImageableArea ", 0) == 0;
        const size_t colon = line.find(':'), quote = line.find('"');
        if (!(dimension || area) || colon == line.npos || quote == line.npos) continue;
        std::string option = line.substr(line.find(' ') + 1, colon - line.find(' ') - 1);
        if (option.find('/') != option.npos) option = option.substr(option.find('/') + 1);
        std::istringstream values(line.substr(quote + 1));
        PpdPage& page = pages[option];
        if (dimension)
            values >> page.width >> page.length;
        else
            values >> page.area[0] >> page.area[1] >> page.area[2] >> page.area[3];
    }
    return pages;
}

TEST(FormsStack, EveryFormCarriesItsPapersPageOrTheDefaultPageBelowTheMergeGate) {
    const char* env = std::getenv("KV_CUPS_PRINTERS");
    if (!env || !*env) GTEST_SKIP() << "KV_CUPS_PRINTERS is not set: no CUPS harness";
    std::stringstream list(env);
    const char* stored0401 = std::getenv("KV_CUPS_DEVMODE_0401");  // printers with a stored 0x0401 default
    const std::string stored = std::string(",") + (stored0401 ? stored0401 : "") + ",";
    for (std::string narrow; std::getline(list, narrow, ',');) {
        SCOPED_TRACE(narrow);
        const std::wstring name(narrow.begin(), narrow.end());
        // The print processor stands in as driver name, and the printer's
        // default DEVMODE gives the page of a printer below the merge gate.
        HANDLE handle = nullptr;
        ASSERT_TRUE(platform::spooler.OpenPrinterW(const_cast<LPWSTR>(name.c_str()), &handle, nullptr));
        std::vector<BYTE> info(1 << 16);  // room enough for level 2 with its DEVMODE
        DWORD needed = 0;
        ASSERT_TRUE(platform::spooler.GetPrinterW(handle, 2, info.data(), static_cast<DWORD>(info.size()), &needed));
        platform::spooler.ClosePrinter(handle);
        const auto* info2 = reinterpret_cast<const PRINTER_INFO_2W*>(info.data());
        ASSERT_TRUE(info2->pDevMode);
        const bool perPaper = info2->pDevMode->dmSpecVersion >= 0x0320;
        EXPECT_EQ(perPaper, stored.find("," + narrow + ",") != std::string::npos) << info2->pDevMode->dmSpecVersion;
        HDC dc = platform::gdi.CreateDCW(info2->pPrintProcessor, name.c_str(), nullptr, info2->pDevMode);
        Longs page;  // in FormEntry order from hsize
        for (int index : {HORZSIZE, VERTSIZE, HORZRES, VERTRES, LOGPIXELSX, LOGPIXELSY, ASPECTX, ASPECTY, ASPECTXY,
                          PHYSICALWIDTH, PHYSICALHEIGHT, PHYSICALOFFSETX, PHYSICALOFFSETY})
            page.push_back(platform::gdi.GetDeviceCaps(dc, index));
        platform::gdi.DeleteDC(dc);

        Block<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(name.c_str(), info2->pPortName, nullptr));
        const DWORD P = papers ? papers->dwNumPaperSize : 0;  // checked with the table below
        DWORD numRes = 0, sizeRes = 0, numIdx = 0, sizeIdx = 0, num = 0, size = 0;
        Block<ResolutionPair> res(
            vlibPRINT_QueryDevCap_Resolutions(name.c_str(), info2->pPortName, nullptr, nullptr, &numRes, &sizeRes));
        Block<ResolutionPair> idx(vlibPRINT_QueryDevCap_ResolutionsIndexed(
            name.c_str(), nullptr, info2->pPrintProcessor, nullptr, &numIdx, &sizeIdx));
        const DWORD R = res ? numRes : numIdx;
        Block<FormEntry> forms(vlibPRINT_QueryDevCap_Forms(name.c_str(), nullptr, info2->pPrintProcessor, nullptr,
                                                           papers.get(), res.get(), numRes, res ? 0 : 1, idx.get(),
                                                           numIdx, &num, &size, 0));
        ASSERT_TRUE(forms && P * R > 0 && num == P * R && size == num * 84) << P << " x " << R << ": " << num;
        const std::map<std::string, PpdPage> ppd = PpdPages(name);
        std::set<Longs> pages, ppdPages;  // of the resolution in hand
        LONG worst = 0;                     // largest distance from the PPD in pixels
        // Resolution-major: form f is paper f % P at resolution f / P.
        for (DWORD f = 0; f < num; ++f) {
            const FormEntry& form = forms.get()[f];
            const LONG r = static_cast<LONG>(f / P);
            WORD id = 0;
            PaperSize paper = {};
            ASSERT_TRUE(PaperIdAt(papers.get(), f % P, &id) && PaperSizeAt(papers.get(), f % P, &paper));
            Longs got = {form.formNo, form.resNo, form.resX, form.paprI, form.paprW, form.paprL};
            Longs expected = {static_cast<LONG>(f), res ? r : -1 - r, res ? static_cast<short>(res.get()[r].x) : -1 - r,
                              static_cast<short>(id), static_cast<short>(paper.width), static_cast<short>(paper.length)};
            if (!perPaper) {
                got.insert(got.end(), &form.hsize, &form.offY + 1);
                expected.insert(expected.end(), page.begin(), page.end());
                EXPECT_EQ(got, expected) << "form " << f;
                continue;
            }
            EXPECT_EQ(got, expected) << "form " << f;
            // The paper's page size in the PPD, in the form's own logical pixels.
            WCHAR paperName[kPaperNameChars + 1];
            CopyNameSlot(paperName, PaperNameAt(papers.get(), f % P), kPaperNameChars);
            const auto entry = ppd.find(testsupport::Narrow(paperName));
            ASSERT_NE(entry, ppd.end()) << "form " << f << ": no page size \"" << testsupport::Narrow(paperName) << "\"";
            const PpdPage& p = entry->second;
            auto x = [&](double points) { return std::lround(points * form.logX / 72); };
            auto y = [&](double points) { return std::lround(points * form.logY / 72); };
            const Longs metrics = {form.physW, form.physH, form.offX, form.offY, form.hres, form.vres};
            const Longs fromPpd = {x(p.width),  y(p.length), x(p.area[0]), y(p.length - p.area[3]),
                                   x(p.area[2] - p.area[0]), y(p.area[3] - p.area[1])};
            for (size_t i = 0; i < metrics.size(); ++i) {
                worst = std::max(worst, std::abs(metrics[i] - fromPpd[i]));
                EXPECT_NEAR(metrics[i], fromPpd[i], 2) << "form " << f << " (" << entry->first << "), value " << i
                                                       << " of physW, physH, offX, offY, hres, vres";
            }
            // Papers of different pages differ: as many distinct forms as distinct PPD pages.
            if (f % P == 0) pages.clear(), ppdPages.clear();
            pages.insert(metrics);
            ppdPages.insert(fromPpd);
            if (f % P == P - 1) EXPECT_EQ(pages.size(), ppdPages.size()) << "resolution " << r;
        }
        if (perPaper)
            std::printf("[ geometry ] %s: 0x0401, %lu forms (%lu papers x %lu resolutions), at most %ld px from the "
                        "PPD, %zu distinct pages\n", narrow.c_str(), static_cast<unsigned long>(num),
                        static_cast<unsigned long>(P), static_cast<unsigned long>(R), worst, pages.size());
        else
            std::printf("[ geometry ] %s: below the merge gate, %lu forms, each the default page\n", narrow.c_str(),
                        static_cast<unsigned long>(num));
    }
}

}  // namespace
