// Opening and closing a printer by name, inside the driver guard: both calls
// run the printer driver's code.
#pragma once

#include "platform/platform.h"

// Returns the opened handle, or null when the spooler refused the printer or
// the driver faulted; *faulted, when given, tells the two apart. Whatever a
// faulting driver left in the handle is not trusted.
HANDLE vlibPRINT_OpenPrinterGuarded(const WCHAR* name, PRINTER_DEFAULTSW* defaults, bool* faulted = nullptr);

// Closes the handle; false when the driver faulted.
bool vlibPRINT_ClosePrinterGuarded(HANDLE printer);
