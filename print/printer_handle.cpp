#include "print/printer_handle.h"

#include "platform/guard.h"

HANDLE vlibPRINT_OpenPrinterGuarded(const WCHAR* name, PRINTER_DEFAULTSW* defaults, bool* faulted) {
    LPWSTR printerName = const_cast<LPWSTR>(name);
    HANDLE printer = nullptr;
    BOOL opened = FALSE;
    const bool clean = platform::Guarded([&] { opened = platform::spooler.OpenPrinterW(printerName, &printer, defaults); });
    if (faulted) *faulted = !clean;
    return clean && opened ? printer : nullptr;
}

bool vlibPRINT_ClosePrinterGuarded(HANDLE printer) {
    return platform::Guarded([&] { platform::spooler.ClosePrinter(printer); });
}
