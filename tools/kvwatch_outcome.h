// What kvwatch's start of change notification came to, told apart by what
// the printer object holds afterwards; shared with the tests.
#pragma once

#include "printer/printer.h"

enum KvWatchExit { kWatchOk = 0, kWatchUsage = 1, kWatchNoPrinter = 2, kWatchNoNotification = 3, kWatchOther = 4 };

// A failed FindFirstPrinterChangeNotification that means the spooler has no
// change notification at all (Wine's fails without saying why); access
// denied or a spooler gone away are failures like any other.
inline bool KvWatchNotOffered(DWORD error) {
    return error == ERROR_SUCCESS || error == ERROR_NOT_SUPPORTED || error == ERROR_CALL_NOT_IMPLEMENTED ||
           error == ERROR_INVALID_FUNCTION;
}

// After StartPrinterNotifyThread: a thread runs; or no printer handle (the
// printer cannot be opened); or the options were built and the spooler
// offers no change handle; or anything else (no memory, no thread, another
// refusal of the spooler: dwNotifyError says which).
inline KvWatchExit KvWatchOutcome(const CPrinter& printer) {
    if (printer.hNotifyThread) return kWatchOk;
    if (!printer.hNotifyPrinter) return kWatchNoPrinter;
    if (printer.pNotifyTypes && printer.hNotify == INVALID_HANDLE_VALUE && KvWatchNotOffered(printer.dwNotifyError))
        return kWatchNoNotification;
    return kWatchOther;
}
