// The forms table: the page geometry of every paper at every resolution.
#pragma once

#include "devcaps/devcaps_types.h"
#include "platform/platform.h"

// Measures (or, for a null pDevice, computes) one FormEntry per paper size of
// pPapers and per resolution of the list in use: pResolutionsIndexed when
// bIndexedOnly is non-zero, else pResolutions. Form f = r x P + j belongs to
// resolution r and paper j, P being dwNumPaperSize of pPapers (0 for a null
// pPapers). Each form of a measured table is made from a DEVMODE that the
// driver validated and a device context made with CreateDCW(pDriver, pDevice,
// ...), pDriver being the printer's print processor name. With
// bIgnoreLogPixels the logical pixels per inch are taken from the resolution
// lists instead of from the device context. Returns a zero-filled
// process-heap block owned by the caller, *pdwNum forms of *pdwSize bytes in
// all, or null (both outputs 0) when no memory is left. pPort and pDevMode are
// not used.
FormEntry* vlibPRINT_QueryDevCap_Forms(LPCWSTR pDevice, LPCWSTR pPort, LPCWSTR pDriver, const DEVMODEW* pDevMode,
                                       const PaperBuffer* pPapers, const ResolutionPair* pResolutions,
                                       DWORD dwNumResolutions, DWORD bIndexedOnly,
                                       const ResolutionPair* pResolutionsIndexed, DWORD dwNumResolutionsIndexed,
                                       DWORD* pdwNum, DWORD* pdwSize, DWORD bIgnoreLogPixels);

// Whether turning pDevMode over (portrait to landscape, anything else to
// portrait) changes the page: turns the DEVMODE in place (and sets
// DM_ORIENTATION), makes a device context with it and compares its physical
// page and offsets with the given ones. Returns 0 when all four are the same,
// else 1. Runs driver code: call it inside a structured-exception guard. A
// fault goes on to that guard, and the device context is deleted on the way.
BOOL OrientationChangesPage(LPCWSTR pDevice, LPCWSTR pDriver, DEVMODEW* pDevMode, LONG physW, LONG physH, LONG offX,
                            LONG offY);
