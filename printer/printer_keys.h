// Registry locations shared by the client and the printer object.
#pragma once

#include "platform/platform.h"
#include "records/registry_keys.h"

// Per machine (HKEY_LOCAL_MACHINE): "Log" and "LogPath" of the client.
inline constexpr const WCHAR* kClientKey = L"SOFTWARE\\Vantrel\\Corvane Printing\\Tessaly Client v4";
// Where a printer object keeps its capability record ("CacheMethod").
enum CacheMethod : DWORD {
    kCacheInRegistry = 1,     // "PrinterData" in the printer's subkey of the Printers key
    kCacheNowhere = 2,        // not kept at all
    kCacheInPrinterData = 3,  // the printer's own data value "KVPrinterInfo"
    kCacheInFile = 4,         // <CachePath><registry-safe name>.kvp
};

// Per machine: "CachePath" of the file cache.
inline constexpr const WCHAR* kProductKey = L"SOFTWARE\\Vantrel\\Corvane Printing";
