// Capability queries that answer one bare list each, with no header: the
// driver's dependent files, the pages-per-sheet values, the printer
// description languages and the papers loaded now. Each takes (printer name
// or null, port, DEVMODE, count out, byte size out) and returns a zero-filled
// process-heap array owned by the caller, or null with both outputs 0 (they
// are left alone only when one of them is missing). A null printer name gives
// an empty list. Names fill slots of 64 (files, media ready) or 32
// (personalities) UTF-16 units and may be unterminated.
#pragma once

#include "devcaps/devcaps_types.h"

WCHAR* vlibPRINT_QueryDevCap_Files(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode, DWORD* pdwNum,
                                   DWORD* pdwSize);
DWORD* vlibPRINT_QueryDevCap_NUP(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode, DWORD* pdwNum,
                                 DWORD* pdwSize);
WCHAR* vlibPRINT_QueryDevCap_Personality(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode, DWORD* pdwNum,
                                         DWORD* pdwSize);
WCHAR* vlibPRINT_QueryDevCap_MediaReady(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode, DWORD* pdwNum,
                                        DWORD* pdwSize);
