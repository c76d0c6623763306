#include "devcaps/resolutions.h"

#include "log/trace_log.h"
#include "platform/guard.h"
#include "platform/kernel.h"
#include "print/devmode_merge.h"

namespace {

constexpr DWORD kIndexedLevels = 4;
constexpr ResolutionPair kDefaultResolutions[4] = {{150, 150}, {300, 300}, {600, 600}, {1200, 1200}};

// A new block with the default list; sets the outputs (0 when out of memory).
ResolutionPair* DefaultResolutions(DWORD* pdwNum, DWORD* pdwSize) {
    auto* list = platform::HeapAllocZeroAs<ResolutionPair>(sizeof(kDefaultResolutions));
    if (!list) {
        *pdwNum = 0;
        *pdwSize = 0;
        return nullptr;
    }
    for (DWORD i = 0; i < 4; ++i) list[i] = kDefaultResolutions[i];
    *pdwNum = 4;
    *pdwSize = sizeof(kDefaultResolutions);
    return list;
}

}  // namespace

ResolutionPair* vlibPRINT_QueryDevCap_Resolutions(LPCWSTR pDevice, LPCWSTR pPort, LPCWSTR /*pDriver*/,
                                                  const DEVMODEW* pDevMode, DWORD* pdwNum, DWORD* pdwSize) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_Resolutions => DC_ENUMRESOLUTIONS\n");
    if (!pdwNum || !pdwSize) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_Resolutions => invalid parameter\n");
        return nullptr;
    }
    if (!pDevice) {
        TraceLogWrite(LibraryLog, 0, L"using defaults\n");
        return DefaultResolutions(pdwNum, pdwSize);
    }

    // The driver may report another count on the second call: the second one
    // is the one the fetch is sized by.
    int count = platform::spooler.DeviceCapabilitiesW(pDevice, pPort, DC_ENUMRESOLUTIONS, nullptr, pDevMode);
    if (count > 0) count = platform::spooler.DeviceCapabilitiesW(pDevice, pPort, DC_ENUMRESOLUTIONS, nullptr, pDevMode);
    else count = 0;
    *pdwNum = static_cast<DWORD>(count);
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_Resolutions => dwNumResolutions = %d\n", count);
    if (count <= 0) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_Resolutions => printer only supports indexed resolutions\n");
        *pdwNum = 0;
        *pdwSize = 0;
        return nullptr;
    }

    if (!platform::BlockBytes(static_cast<DWORD>(count), sizeof(ResolutionPair), pdwSize)) {
        // No block can hold the list: the printer is taken as indexed only.
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_Resolutions => !WARNING! %d resolutions do not fit in one block\n",
                      count);
        *pdwNum = 0;
        *pdwSize = 0;
        return nullptr;
    }
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_Resolutions => number of resolutions: %d\n", count);
    auto* list = platform::HeapAllocFetchArray<ResolutionPair>(*pdwSize);
    if (!list) {
        *pdwNum = 0;
        *pdwSize = 0;
        return nullptr;
    }

    int fetched = 0;
    bool ran = false;
    try {
        ran = platform::Guarded([&] {
            fetched = platform::spooler.DeviceCapabilitiesW(pDevice, pPort, DC_ENUMRESOLUTIONS,
                                                            reinterpret_cast<LPWSTR>(list), pDevMode);
        });
    } catch (...) {
        // Our own code may run out of memory while the list is held: it is
        // freed on that way out too.
        platform::HeapFreeBlock(list);
        throw;
    }
    if (!ran) {
        TraceLogWrite(LibraryLog, 0, L"threw exception\n");
        fetched = 0;
    }
    if (fetched != count) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_Resolutions => numResolutions changed, %d => %d\n", count,
                      fetched);
        platform::HeapFreeBlock(list);
        *pdwNum = 0;
        *pdwSize = 0;
        return nullptr;
    }

    TraceLogWrite(LibraryLog, 0, L"\t\tdwNumResolutions: %d\n", count);
    bool negative = false;
    if (!platform::Guarded([&] {
            for (int i = 0; i < count; ++i) {
                TraceLogWrite(LibraryLog, 0, L"\t\tResolution %d: %d x %d\n", i, list[i].x, list[i].y);
                if (list[i].x < 0 || list[i].y < 0) {
                    negative = true;
                    return;
                }
            }
        })) {
        TraceLogWrite(LibraryLog, 0, L"threw exception while trying to print Resolutions's\n");
    }
    if (negative) {
        TraceLogWrite(LibraryLog, 0,
                      L"vlibPRINT_QueryDevCap_Resolutions => negative resolution - printer will only use indexed "
                      L"resolutions...\n");
        platform::HeapFreeBlock(list);
        *pdwNum = 0;
        *pdwSize = 0;
        return nullptr;
    }
    return list;
}

void vlibPRINT_FetchDriverDevMode(const WCHAR* pszCaller, LPCWSTR pDevice, DEVMODEW* pWork, DriverDevMode* pOut) {
    pOut->hPrinter = nullptr;
    pOut->pDevMode = nullptr;
    pOut->bAllocFailed = FALSE;

    LPWSTR device = const_cast<LPWSTR>(pDevice);
    if (!platform::spooler.OpenPrinterW(device, &pOut->hPrinter, nullptr)) {
        pOut->hPrinter = nullptr;
        TraceLogWrite(LibraryLog, 0, L"%s => couldn't get a handle to the printer\n", pszCaller);
        return;
    }

    const LONG size = platform::spooler.DocumentPropertiesW(nullptr, pOut->hPrinter, device, nullptr, nullptr, 0);
    // A size of 0 or less (the driver has no DEVMODE, or the call failed)
    // leaves nothing that could hold the merge: it counts as a failed
    // allocation. A positive size is never taken below the public part, which
    // the merge writes whatever the driver claims.
    if (size > 0) {
        const size_t bytes = static_cast<size_t>(size) < sizeof(DEVMODEW) ? sizeof(DEVMODEW) : static_cast<size_t>(size);
        pOut->pDevMode = platform::HeapAllocZeroAs<DEVMODEW>(bytes);
    }
    if (!pOut->pDevMode) {
        TraceLogWrite(LibraryLog, 0, L"%s => couldn't allocate memory for pDefDM\n", pszCaller);
        pOut->bAllocFailed = TRUE;
    } else {
        if (platform::spooler.DocumentPropertiesW(nullptr, pOut->hPrinter, device, pOut->pDevMode, nullptr,
                                                  DM_OUT_BUFFER) == 0)
            TraceLogWrite(LibraryLog, 0, L"%s => DocumentProperties function failed to get default devmode: \n",
                          pszCaller);
        vlibPRINT_MergeDM4W(pWork, pOut->pDevMode, nullptr);
        if (platform::spooler.DocumentPropertiesW(nullptr, pOut->hPrinter, device, pOut->pDevMode, pOut->pDevMode,
                                                  DM_IN_BUFFER | DM_OUT_BUFFER) == 0)
            TraceLogWrite(LibraryLog, 0, L"%s => DocumentProperties function failed to get default devmode: \n",
                          pszCaller);
    }
    platform::spooler.ClosePrinter(pOut->hPrinter);
    pOut->hPrinter = nullptr;
}

void ReleaseDeviceContext(HDC* phdc) {
    if (phdc && *phdc) {
        HDC dc = *phdc;
        *phdc = nullptr;
        platform::Guarded([&] { platform::gdi.DeleteDC(dc); });
    }
}

void vlibPRINT_ReleaseDriverDevMode(DriverDevMode* pState, HDC* phdc) {
    // A driver that faulted may fault again while its handles are given back:
    // that must not end the measurement.
    ReleaseDeviceContext(phdc);
    if (pState->hPrinter) {
        HANDLE handle = pState->hPrinter;
        pState->hPrinter = nullptr;
        platform::Guarded([&] { platform::spooler.ClosePrinter(handle); });
    }
    platform::HeapFreeBlock(pState->pDevMode);
    pState->pDevMode = nullptr;
}

ResolutionPair* vlibPRINT_QueryDevCap_ResolutionsIndexed(LPCWSTR pDevice, LPCWSTR /*pPort*/, LPCWSTR pDriver,
                                                         const DEVMODEW* /*pDevMode*/, DWORD* pdwNum, DWORD* pdwSize) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_ResolutionsIndexed =>\n");
    if (!pdwNum || !pdwSize) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_ResolutionsIndexed => invalid parameter\n");
        return nullptr;
    }
    if (!pDevice) {
        TraceLogWrite(LibraryLog, 0, L"using defaults\n");
        return DefaultResolutions(pdwNum, pdwSize);
    }

    *pdwNum = kIndexedLevels;
    *pdwSize = kIndexedLevels * sizeof(ResolutionPair);
    auto* list = platform::HeapAllocZeroAs<ResolutionPair>(kIndexedLevels * sizeof(ResolutionPair));
    auto* work = platform::HeapAllocZeroAs<DEVMODEW>(sizeof(DEVMODEW));
    if (!work || !list) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_ResolutionsIndexed => couldn't allocate devmode\n");
        platform::HeapFreeBlock(list);
        platform::HeapFreeBlock(work);
        *pdwNum = 0;
        *pdwSize = 0;
        return nullptr;
    }

    for (DWORD i = 0; i < kIndexedLevels; ++i) {
        const short quality = static_cast<short>(-1 - static_cast<int>(i));
        work->dmPrintQuality = quality;
        work->dmYResolution = 0;
        work->dmFields |= DM_PRINTQUALITY | DM_YRESOLUTION;

        DriverDevMode driver = {};
        HDC dc = nullptr;
        int x = 0, y = 0;
        bool usable = true;
        const bool ran = MeasureAndRelease([&] {
            vlibPRINT_FetchDriverDevMode(L"vlibPRINT_QueryDevCap_ResolutionsIndexed", pDevice, work, &driver);
            // Without a DEVMODE of its own the level cannot be asked for.
            if (driver.bAllocFailed) {
                usable = false;
                return;
            }
            dc = platform::gdi.CreateDCW(pDriver, pDevice, nullptr, driver.pDevMode);
            x = platform::gdi.GetDeviceCaps(dc, LOGPIXELSX);
            y = platform::gdi.GetDeviceCaps(dc, LOGPIXELSY);
            if (dc) platform::gdi.DeleteDC(dc);
            dc = nullptr;
        }, &driver, &dc, {work, list});
        if (!ran || !usable) {
            TraceLogWrite(LibraryLog, 0, L"threw exception\n");
            x = 300;
            y = 300;
        }
        list[i].x = x;
        list[i].y = y;
        TraceLogWrite(LibraryLog, 0, L"\t\tResolution %d: %d x %d\n", static_cast<int>(quality), x, y);
    }

    platform::HeapFreeBlock(work);
    return list;
}
