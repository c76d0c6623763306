// The forms table of the printers of the private CUPS scheduler, measured
// through Wine's spooler and PostScript driver.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "devcaps/forms.h"
#include "devcaps/list_queries.h"
#include "devcaps/resolutions.h"
#include "platform/kernel.h"
#include "platform/platform.h"

namespace {

struct HeapDeleter {
    void operator()(void* block) const { platform::HeapFreeBlock(block); }
};
template <class T>
using Block = std::unique_ptr<T, HeapDeleter>;

TEST(FormsStack, EveryPaperAtEveryResolutionCarriesTheDriversDefaultPage) {
    const char* env = std::getenv("KV_CUPS_PRINTERS");
    if (!env || !*env) GTEST_SKIP() << "KV_CUPS_PRINTERS is not set: no CUPS harness";
    std::stringstream list(env);
    for (std::string narrow; std::getline(list, narrow, ',');) {
        SCOPED_TRACE(narrow);
        const std::wstring name(narrow.begin(), narrow.end());
        LPWSTR device = const_cast<LPWSTR>(name.c_str());
        // The print processor stands in as driver name, and the driver's
        // default DEVMODE gives the page every form is expected to carry.
        HANDLE handle = nullptr;
        ASSERT_TRUE(platform::spooler.OpenPrinterW(device, &handle, nullptr));
        DWORD needed = 0;
        platform::spooler.GetPrinterW(handle, 2, nullptr, 0, &needed);
        std::vector<BYTE> info(needed + 1);
        ASSERT_TRUE(platform::spooler.GetPrinterW(handle, 2, info.data(), needed, &needed));
        const auto* info2 = reinterpret_cast<const PRINTER_INFO_2W*>(info.data());
        const std::wstring processor = info2->pPrintProcessor, port = info2->pPortName;
        std::vector<BYTE> devmode(platform::spooler.DocumentPropertiesW(nullptr, handle, device, nullptr, nullptr, 0));
        ASSERT_GE(devmode.size(), sizeof(DEVMODEW));
        auto* dm = reinterpret_cast<DEVMODEW*>(devmode.data());
        ASSERT_GT(platform::spooler.DocumentPropertiesW(nullptr, handle, device, dm, nullptr, DM_OUT_BUFFER), 0);
        platform::spooler.ClosePrinter(handle);
        // Wine's DEVMODE is older than the merge's first gate: nothing the
        // measurement asks for reaches the driver.
        EXPECT_LT(dm->dmSpecVersion, 0x0320);
        HDC dc = platform::gdi.CreateDCW(processor.c_str(), name.c_str(), nullptr, dm);
        std::vector<LONG> page;  // in FormEntry order from hsize
        for (int index : {HORZSIZE, VERTSIZE, HORZRES, VERTRES, LOGPIXELSX, LOGPIXELSY, ASPECTX, ASPECTY, ASPECTXY,
                          PHYSICALWIDTH, PHYSICALHEIGHT, PHYSICALOFFSETX, PHYSICALOFFSETY})
            page.push_back(platform::gdi.GetDeviceCaps(dc, index));
        platform::gdi.DeleteDC(dc);

        Block<PaperBuffer> papers(vlibPRINT_QueryDevCap_Papers(name.c_str(), port.c_str(), nullptr));
        ASSERT_TRUE(papers);
        const DWORD P = papers->dwNumPaperSize;
        DWORD numRes = 0, sizeRes = 0, numIdx = 0, sizeIdx = 0, num = 0, size = 0;
        Block<ResolutionPair> res(
            vlibPRINT_QueryDevCap_Resolutions(name.c_str(), port.c_str(), nullptr, nullptr, &numRes, &sizeRes));
        Block<ResolutionPair> idx(vlibPRINT_QueryDevCap_ResolutionsIndexed(name.c_str(), nullptr, processor.c_str(),
                                                                           nullptr, &numIdx, &sizeIdx));
        const DWORD R = res ? numRes : numIdx;
        ASSERT_GT(P * R, 0u);
        Block<FormEntry> forms(vlibPRINT_QueryDevCap_Forms(name.c_str(), nullptr, processor.c_str(), nullptr,
                                                           papers.get(), res.get(), numRes, res ? 0 : 1, idx.get(),
                                                           numIdx, &num, &size, 0));
        ASSERT_TRUE(forms);
        ASSERT_EQ(num, P * R);
        EXPECT_EQ(size, P * R * 84);
        for (DWORD f = 0; f < num; ++f) {
            SCOPED_TRACE(f);
            const FormEntry& form = forms.get()[f];
            WORD id = 0;
            PaperSize paper = {};  // paper f % P names form f
            ASSERT_TRUE(PaperIdAt(papers.get(), f % P, &id) && PaperSizeAt(papers.get(), f % P, &paper));
            EXPECT_EQ(form.formNo, static_cast<LONG>(f));
            EXPECT_EQ(form.resNo, res ? static_cast<LONG>(f / P) : -1 - static_cast<LONG>(f / P));
            EXPECT_EQ(form.resX, res ? static_cast<short>(res.get()[f / P].x) : -1 - static_cast<LONG>(f / P));
            EXPECT_EQ((std::vector<LONG>{form.paprI, form.paprW, form.paprL}),
                      (std::vector<LONG>{static_cast<short>(id), static_cast<short>(paper.width),
                                         static_cast<short>(paper.length)}));
            std::vector<LONG> got(13);  // hsize to offY: 13 values of the pinned record layout
            std::memcpy(got.data(), reinterpret_cast<const BYTE*>(&form) + offsetof(FormEntry, hsize), 13 * 4);
            EXPECT_EQ(got, page);
        }
    }
}

}  // namespace
