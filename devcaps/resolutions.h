// Resolution queries: the printer's list of true resolutions, and the
// resolutions its driver really produces for the four indexed quality levels
// (draft, low, medium, high).
#pragma once

#include <initializer_list>

#include "devcaps/devcaps_types.h"
#include "platform/guard.h"
#include "platform/kernel.h"
#include "platform/platform.h"

// The list of true resolutions (DC_ENUMRESOLUTIONS): *pdwNum pairs, *pdwSize
// bytes, in a zero-filled process-heap block owned by the caller. Null, with
// both outputs 0, when the printer has no such list, when the list changes
// between counting and fetching, or when any value in it is negative: the
// printer then only supports indexed resolutions. pDriver is not used. A null
// pDevice gives the default list (150, 300, 600 and 1200 dpi).
ResolutionPair* vlibPRINT_QueryDevCap_Resolutions(LPCWSTR pDevice, LPCWSTR pPort, LPCWSTR pDriver,
                                                  const DEVMODEW* pDevMode, DWORD* pdwNum, DWORD* pdwSize);

// The resolutions measured for the quality levels -1 to -4, pair i for level
// -1 - i (4 pairs, 32 bytes). Each level is merged into the printer's default
// DEVMODE, validated by the driver and measured as LOGPIXELSX / LOGPIXELSY of
// a device context made with CreateDCW(pDriver, pDevice, ...); pDriver is the
// printer's print processor name. A level whose measurement faults is 300 x
// 300. pPort and pDevMode are not used. A null pDevice gives the default list.
ResolutionPair* vlibPRINT_QueryDevCap_ResolutionsIndexed(LPCWSTR pDevice, LPCWSTR pPort, LPCWSTR pDriver,
                                                         const DEVMODEW* pDevMode, DWORD* pdwNum, DWORD* pdwSize);

// The driver's own DEVMODE with the fields of a working DEVMODE pushed into
// it, as the resolution and form measurements use it. Filled by
// vlibPRINT_FetchDriverDevMode, which runs driver code and must be called
// inside a structured-exception guard; everything in it is a plain value, so
// that what was opened or allocated before a fault can be released after it.
struct DriverDevMode {
    HANDLE hPrinter;      // open only while the fetch runs (and after a fault in it)
    DEVMODEW* pDevMode;   // the validated DEVMODE (process heap), or null
    BOOL bAllocFailed;    // the DEVMODE could not be allocated
};

// Opens pDevice, asks DocumentPropertiesW for the size of its DEVMODE,
// allocates it, fills it with the driver's default, merges pWork into it and
// lets the driver validate the result, then closes the printer. Failures are
// traced with pszCaller's name in front of the arrow. A printer that cannot be
// opened leaves pDevMode null; a DEVMODE that cannot be allocated leaves it
// null with bAllocFailed 1.
void vlibPRINT_FetchDriverDevMode(const WCHAR* pszCaller, LPCWSTR pDevice, DEVMODEW* pWork, DriverDevMode* pOut);

// Deletes the device context *phdc (if any) inside a guard of its own and
// clears *phdc.
void ReleaseDeviceContext(HDC* phdc);

// Releases what a fetch (and the device context made from it) still holds:
// after a fault, the printer handle and the device context are given back
// inside a guard of their own. Safe to call on a fully released state.
void vlibPRINT_ReleaseDriverDevMode(DriverDevMode* pState, HDC* phdc);

// Runs measure() (which fetches into *pState and makes *phdc) inside a guard,
// then releases what the fetch and the device context still hold; true when
// measure() ran to its end. A C++ exception out of it (our own code out of
// memory; the guards let those pass) releases them too and frees the caller's
// working blocks before it goes on.
template <class Measure>
bool MeasureAndRelease(Measure&& measure, DriverDevMode* pState, HDC* phdc, std::initializer_list<void*> blocks) {
    bool ran = false;
    try {
        ran = platform::Guarded(measure);
    } catch (...) {
        vlibPRINT_ReleaseDriverDevMode(pState, phdc);
        for (void* block : blocks) platform::HeapFreeBlock(block);
        throw;
    }
    vlibPRINT_ReleaseDriverDevMode(pState, phdc);
    return ran;
}
