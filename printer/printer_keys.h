// Registry locations shared by the client and the printer object.
#pragma once

#include "platform/platform.h"

// Per machine (HKEY_LOCAL_MACHINE): "Log" and "LogPath" of the client.
inline constexpr const WCHAR* kClientKey = L"SOFTWARE\\Vantrel\\Corvane Printing\\Tessaly Client v4";
// Per machine and per user: "CacheMethod" and one subkey per printer.
inline constexpr const WCHAR* kPrintersKey = L"SOFTWARE\\Vantrel\\Corvane Printing\\Printers";
// Per machine: "CachePath" of the file cache.
inline constexpr const WCHAR* kProductKey = L"SOFTWARE\\Vantrel\\Corvane Printing";
