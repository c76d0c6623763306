// The registry key the printer info list and the printer object share.
#pragma once

#include "platform/platform.h"

// Per machine and per user: "CacheMethod" and one subkey per printer (its
// local options, its cached record, its printer info list values).
inline constexpr const WCHAR* kPrintersKey = L"SOFTWARE\\Vantrel\\Corvane Printing\\Printers";
