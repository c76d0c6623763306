// The printer-info list in the registry: the records of the printers the
// server side is to create, one volatile key per printer below the Printers
// key of HKEY_LOCAL_MACHINE (named by the registry-safe printer name), and
// reading one of them back. Traces to LibraryLog.
#pragma once

#include <string>

#include "platform/platform.h"
#include "records/printer_info.h"

// The printer type whose keys also get a "Connection" value.
inline constexpr DWORD kKVPrinterTypeConnection = 16;

// Stores `count` 401 or 402 records that lie back to back in one block (each
// one's dwSize leads to the next) under keyPath (the Printers key when
// empty): "PrinterData4" (the record), "Type", "Session", "UserName" and, for
// type 16, "Connection". Returns 1 when at least one printer key was written.
BOOL vlibPRINT_SetKVPrinterInfo(DWORD type, DWORD session, DWORD connection, DWORD count,
                                const KVPrinterInfo401* records, std::wstring keyPath, std::wstring userName);

// The stored record of the printer (a new block the caller frees), or null.
KVPrinterInfo401* vlibPRINT_LoadKVPrinterInfoFromRegistry(std::wstring printerName);

// The stored record of the printer behind an open handle, or of the named
// printer when the handle is null; null when there is none.
KVPrinterInfo401* vlibPRINT_GetKVPrinterInfo(HANDLE hPrinter, std::wstring printerName);
