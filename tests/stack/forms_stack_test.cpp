// The forms table of the printers of the private CUPS scheduler, measured
// through Wine's spooler and PostScript driver.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
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

// The printer names of KV_CUPS_PRINTERS (separated by commas or blanks).
std::vector<std::wstring> HarnessPrinters() {
    std::vector<std::wstring> names;
    const char* list = std::getenv("KV_CUPS_PRINTERS");
    if (!list) return names;
    std::wstring current;
    for (const char* p = list;; ++p) {
        if (*p == '\0' || *p == ',' || *p == ' ') {
            if (!current.empty()) names.push_back(current);
            current.clear();
            if (*p == '\0') break;
        } else {
            current.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*p)));
        }
    }
    return names;
}

struct PrinterStrings {
    std::wstring port;
    std::wstring printProcessor;
};

bool ReadPrinterStrings(const std::wstring& name, PrinterStrings* out) {
    HANDLE handle = nullptr;
    if (!platform::spooler.OpenPrinterW(const_cast<LPWSTR>(name.c_str()), &handle, nullptr)) return false;
    DWORD needed = 0;
    platform::spooler.GetPrinterW(handle, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    const BOOL ok = platform::spooler.GetPrinterW(handle, 2, buffer.data(), needed, &needed);
    platform::spooler.ClosePrinter(handle);
    if (!ok) return false;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    out->port = info->pPortName ? info->pPortName : L"";
    out->printProcessor = info->pPrintProcessor ? info->pPrintProcessor : L"";
    return true;
}

// The driver's default DEVMODE, as DocumentPropertiesW hands it out.
std::vector<BYTE> DefaultDevmode(const std::wstring& name) {
    HANDLE handle = nullptr;
    if (!platform::spooler.OpenPrinterW(const_cast<LPWSTR>(name.c_str()), &handle, nullptr)) return {};
    LPWSTR device = const_cast<LPWSTR>(name.c_str());
    const LONG size = platform::spooler.DocumentPropertiesW(nullptr, handle, device, nullptr, nullptr, 0);
    std::vector<BYTE> devmode(size > 0 ? static_cast<size_t>(size) : 0);
    if (size <= 0 || platform::spooler.DocumentPropertiesW(nullptr, handle, device,
                                                           reinterpret_cast<DEVMODEW*>(devmode.data()), nullptr,
                                                           DM_OUT_BUFFER) <= 0)
        devmode.clear();
    platform::spooler.ClosePrinter(handle);
    return devmode;
}

struct Metrics {
    LONG hsize, vsize, hres, vres, logX, logY, physW, physH, offX, offY;
};

Metrics Measure(const std::wstring& name, const std::wstring& printProcessor, const DEVMODEW* devmode) {
    Metrics m = {};
    HDC dc = platform::gdi.CreateDCW(printProcessor.c_str(), name.c_str(), nullptr, devmode);
    if (!dc) return m;
    m.hsize = platform::gdi.GetDeviceCaps(dc, HORZSIZE);
    m.vsize = platform::gdi.GetDeviceCaps(dc, VERTSIZE);
    m.hres = platform::gdi.GetDeviceCaps(dc, HORZRES);
    m.vres = platform::gdi.GetDeviceCaps(dc, VERTRES);
    m.logX = platform::gdi.GetDeviceCaps(dc, LOGPIXELSX);
    m.logY = platform::gdi.GetDeviceCaps(dc, LOGPIXELSY);
    m.physW = platform::gdi.GetDeviceCaps(dc, PHYSICALWIDTH);
    m.physH = platform::gdi.GetDeviceCaps(dc, PHYSICALHEIGHT);
    m.offX = platform::gdi.GetDeviceCaps(dc, PHYSICALOFFSETX);
    m.offY = platform::gdi.GetDeviceCaps(dc, PHYSICALOFFSETY);
    platform::gdi.DeleteDC(dc);
    return m;
}

TEST(FormsStack, EveryPaperAtEveryResolutionCarriesTheDriversDefaultPage) {
    const std::vector<std::wstring> printers = HarnessPrinters();
    if (printers.empty()) GTEST_SKIP() << "KV_CUPS_PRINTERS is not set: no CUPS harness";

    for (const std::wstring& name : printers) {
        SCOPED_TRACE(testing::Message() << "printer " << std::string(name.begin(), name.end()));
        PrinterStrings strings;
        ASSERT_TRUE(ReadPrinterStrings(name, &strings));
        ASSERT_FALSE(strings.printProcessor.empty());

        std::unique_ptr<PaperBuffer, HeapDeleter> papers(
            vlibPRINT_QueryDevCap_Papers(name.c_str(), strings.port.c_str(), nullptr));
        ASSERT_TRUE(papers);
        const DWORD P = papers->dwNumPaperSize;
        ASSERT_GT(P, 0u);

        DWORD numRes = 0, sizeRes = 0, numIdx = 0, sizeIdx = 0;
        std::unique_ptr<ResolutionPair, HeapDeleter> res(vlibPRINT_QueryDevCap_Resolutions(
            name.c_str(), strings.port.c_str(), strings.printProcessor.c_str(), nullptr, &numRes, &sizeRes));
        const DWORD indexedOnly = res ? 0 : 1;
        std::unique_ptr<ResolutionPair, HeapDeleter> idx(vlibPRINT_QueryDevCap_ResolutionsIndexed(
            name.c_str(), strings.port.c_str(), strings.printProcessor.c_str(), nullptr, &numIdx, &sizeIdx));
        ASSERT_TRUE(idx);
        const DWORD R = indexedOnly ? numIdx : numRes;
        ASSERT_GT(R, 0u);

        DWORD num = 0, size = 0;
        std::unique_ptr<FormEntry, HeapDeleter> forms(vlibPRINT_QueryDevCap_Forms(
            name.c_str(), strings.port.c_str(), strings.printProcessor.c_str(), nullptr, papers.get(), res.get(),
            numRes, indexedOnly, idx.get(), numIdx, &num, &size, 0));
        ASSERT_TRUE(forms);
        ASSERT_EQ(num, P * R);
        EXPECT_EQ(size, P * R * 84);

        // Wine's driver reports a DEVMODE older than the merge's first gate:
        // nothing the measurement asks for reaches it, so every form is the
        // page of the driver's default paper at its default resolution.
        std::vector<BYTE> devmode = DefaultDevmode(name);
        ASSERT_GE(devmode.size(), sizeof(DEVMODEW));
        const DEVMODEW* dm = reinterpret_cast<const DEVMODEW*>(devmode.data());
        EXPECT_LT(dm->dmSpecVersion, 0x0320);
        const Metrics page = Measure(name, strings.printProcessor, dm);
        ASSERT_GT(page.physW, 0);
        ASSERT_GT(page.logX, 0);

        for (DWORD r = 0; r < R; ++r) {
            for (DWORD j = 0; j < P; ++j) {
                const FormEntry& f = forms.get()[r * P + j];
                SCOPED_TRACE(testing::Message() << "form " << r * P + j);
                EXPECT_EQ(f.formNo, static_cast<LONG>(r * P + j));
                EXPECT_EQ(f.resNo, indexedOnly ? -1 - static_cast<LONG>(r) : static_cast<LONG>(r));
                WORD id = 0;
                ASSERT_TRUE(PaperIdAt(papers.get(), j, &id));
                PaperSize paper = {};
                ASSERT_TRUE(PaperSizeAt(papers.get(), j, &paper));
                EXPECT_EQ(f.paprI, static_cast<short>(id));
                EXPECT_EQ(f.paprW, static_cast<short>(paper.width));
                EXPECT_EQ(f.paprL, static_cast<short>(paper.length));
                if (indexedOnly) {
                    EXPECT_EQ(f.resX, -1 - static_cast<LONG>(r));
                } else {
                    EXPECT_EQ(f.resX, static_cast<short>(res.get()[r].x));
                    EXPECT_EQ(f.resY, static_cast<short>(res.get()[r].y));
                }
                const Metrics got = {f.hsize, f.vsize, f.hres, f.vres, f.logX, f.logY, f.physW, f.physH, f.offX, f.offY};
                EXPECT_EQ(got.physW, page.physW);
                EXPECT_EQ(got.physH, page.physH);
                EXPECT_EQ(got.offX, page.offX);
                EXPECT_EQ(got.offY, page.offY);
                EXPECT_EQ(got.hres, page.hres);
                EXPECT_EQ(got.vres, page.vres);
                EXPECT_EQ(got.hsize, page.hsize);
                EXPECT_EQ(got.vsize, page.vsize);
                EXPECT_EQ(got.logX, page.logX);
                EXPECT_EQ(got.logY, page.logY);
            }
        }
    }
}

}  // namespace
