// Opening and closing a printer by name, inside the driver guard: both calls
// run the printer driver's code.
#pragma once

#include "platform/kernel.h"
#include "platform/platform.h"

// Returns the opened handle, or null when the spooler refused the printer or
// the driver faulted; *faulted, when given, tells the two apart. Whatever a
// faulting driver left in the handle is not trusted.
HANDLE vlibPRINT_OpenPrinterGuarded(const WCHAR* name, PRINTER_DEFAULTSW* defaults, bool* faulted = nullptr);

// Closes the handle; false when the driver faulted.
bool vlibPRINT_ClosePrinterGuarded(HANDLE printer);

// Hands the process-heap block that fetch() gets from the open printer (null
// when it has none) to read(), then frees it and closes the printer: on every
// way out, a C++ exception included (a driver built with our runtime may throw
// one out of its call, the guards let it pass, and our own code may run out of
// memory).
template <class Fetch, class Read>
void vlibPRINT_ReadAndClosePrinter(HANDLE printer, Fetch fetch, Read read) {
    BYTE* block = nullptr;
    try {
        block = fetch();
        read(block);
    } catch (...) {
        platform::HeapFreeBlock(block);
        vlibPRINT_ClosePrinterGuarded(printer);
        throw;
    }
    platform::HeapFreeBlock(block);
    vlibPRINT_ClosePrinterGuarded(printer);
}
