// Printer enumeration: the printers of the local spooler, each as a small
// shared record with its name and kind (local or network).
#pragma once

#include <cstddef>
#include <list>

#include <boost/shared_ptr.hpp>

#include "platform/platform.h"

// One enumerated printer.
struct VLIB_PRINTER_ENUM_1W {
    DWORD dwType;                 // 1: local printer, 2: network printer
    WCHAR szPrinterName[260];     // the spooler's name, cut to 259 characters
};

static_assert(offsetof(VLIB_PRINTER_ENUM_1W, dwType) == 0);
static_assert(offsetof(VLIB_PRINTER_ENUM_1W, szPrinterName) == 4);
static_assert(sizeof(VLIB_PRINTER_ENUM_1W) == 524);

// Record kinds (dwType).
inline constexpr DWORD kPrinterTypeLocal = 1;
inline constexpr DWORD kPrinterTypeNetwork = 2;

// Selection bits of vlibPRINT_EnumeratePrinters.
inline constexpr DWORD kEnumSelectLocal = 1;
inline constexpr DWORD kEnumSelectNetwork = 2;

// The enumeration result: shared records in the order the spooler returned them.
typedef std::list<boost::shared_ptr<VLIB_PRINTER_ENUM_1W>> VLIB_PRINTER_ENUM_LIST;

// Lists the printers that pass the selection (kEnumSelectLocal and/or
// kEnumSelectNetwork). An empty list means failure or no selected printer.
VLIB_PRINTER_ENUM_LIST vlibPRINT_EnumeratePrinters(DWORD dwFlags);
