// The paired-list capability queries: papers (names, ids, sizes), bins
// (names, ids) and media types (names, ids). Each returns one zero-filled
// process-heap block, header first, owned by the caller, or null.
// A null printer name asks for the built-in lists: Papers and Bins answer
// with their default tables, Medias with null.
#pragma once

#include "devcaps/devcaps_types.h"

PaperBuffer* vlibPRINT_QueryDevCap_Papers(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode);
BinBuffer* vlibPRINT_QueryDevCap_Bins(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode);
MediaBuffer* vlibPRINT_QueryDevCap_Medias(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode);
