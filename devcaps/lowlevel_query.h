// The graphics-layer probe of a printer: 23 GetDeviceCaps values of one
// device context and the answers to 12 escape-support questions.
#pragma once

#include "devcaps/devcaps_types.h"

// A zero-filled LowLevelCaps owned by the caller (process heap), or null when
// it cannot be allocated. A null printer name gives the default record of a
// 24-bit raster printer. pDriver is the driver string handed to CreateDCW.
LowLevelCaps* vlibPRINT_QueryDevCap_LowLevel(LPCWSTR pDevice, LPCWSTR pDriver, const DEVMODEW* pDevMode);

// The driver's answer to QUERYESCSUPPORT for one escape (non-zero: supported).
int QueryEscapeSupport(HDC hdc, int escape);
