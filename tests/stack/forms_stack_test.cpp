// The forms table of the printers of the private CUPS scheduler, measured
// through Wine's spooler and PostScript driver. A printer whose default
// DEVMODE is older than the merge's first gate (Wine's own 0x030A) gets the
// default page in every form; one with a stored 0x0401 default (the harness
// gives three printers one) gets each paper's own page, as its PPD describes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "devcaps/forms.h"
#include "devcaps/list_queries.h"
#include "devcaps/resolutions.h"
#include "harness.h"
#include "unit/devcaps_test_util.h"

namespace {

using devcaps_test::Block;
using Longs = std::vector<LONG>;

TEST(FormsStack, EveryFormCarriesItsPapersPageOrTheDefaultPageBelowTheMergeGate) {
    KV_SKIP_WITHOUT_HARNESS();
    for (const std::wstring& name : harness::List(L"KV_CUPS_PRINTERS")) {
        SCOPED_TRACE(testsupport::Narrow(name));
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
        // The harness stores a 0x0401 default for the printers it lists; the others keep the driver's 0x030A.
        const bool perPaper = info2->pDevMode->dmSpecVersion >= 0x0320;
        EXPECT_EQ(info2->pDevMode->dmSpecVersion, harness::Listed(L"KV_CUPS_DEVMODE_0401", name) ? 0x0401 : 0x030A);
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
        const std::vector<harness::PpdPage> ppd = harness::ReadPpdPages(name);
        std::set<Longs> pages, ppdPages;  // of the resolution in hand
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
            const Longs metrics = {form.physW, form.physH, form.offX, form.offY, form.hres, form.vres};
            if (f % P == 0) pages.clear(), ppdPages.clear();
            pages.insert(metrics);
            if (!perPaper) {  // every form carries the default page
                got.insert(got.end(), &form.hsize, &form.offY + 1);
                expected.insert(expected.end(), page.begin(), page.end());
            }
            EXPECT_EQ(got, expected) << "form " << f;
            if (!perPaper) continue;
            EXPECT_TRUE(!res || (form.logX == res.get()[r].x && form.logY == res.get()[r].y))
                << "form " << f << " measured at " << form.logX << " x " << form.logY;
            // The paper's page size in the PPD, in the form's own logical pixels.
            WCHAR paperName[kPaperNameChars + 1];
            CopyNameSlot(paperName, PaperNameAt(papers.get(), f % P), kPaperNameChars);
            const auto p = std::find_if(ppd.begin(), ppd.end(), [&](const harness::PpdPage& e) {
                return e.text == testsupport::Narrow(paperName);
            });
            ASSERT_NE(p, ppd.end()) << "form " << f << ": no page size \"" << testsupport::Narrow(paperName) << "\"";
            auto x = [&](double points) { return std::lround(points * form.logX / 72); };
            auto y = [&](double points) { return std::lround(points * form.logY / 72); };
            const Longs fromPpd = {x(p->width),  y(p->length), x(p->area[0]), y(p->length - p->area[3]),
                                   x(p->area[2] - p->area[0]), y(p->area[3] - p->area[1])};
            for (size_t i = 0; i < metrics.size(); ++i)
                EXPECT_NEAR(metrics[i], fromPpd[i], 2) << "form " << f << " (" << p->text << "), value " << i
                                                       << " of physW, physH, offX, offY, hres, vres";
            // Papers of different pages differ: as many distinct forms as distinct PPD pages.
            ppdPages.insert(fromPpd);
            if (f % P == P - 1) EXPECT_EQ(pages.size(), ppdPages.size()) << "resolution " << r;
        }
    }
}

}  // namespace
