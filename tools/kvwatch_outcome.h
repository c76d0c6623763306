// What kvwatch's start of change notification came to, told apart by what
// the printer object holds afterwards; shared with the tests.
#pragma once

#include "printer/printer.h"

enum KvWatchExit { kWatchOk = 0, kWatchUsage = 1, kWatchNoPrinter = 2, kWatchNoNotification = 3, kWatchOther = 4 };

// After StartPrinterNotifyThread: a thread runs; or no printer handle (the
// printer cannot be opened); or the options were built and the spooler gave
// no change handle; or anything else (no memory, no thread: the change handle
// is kept).
inline KvWatchExit KvWatchOutcome(const CPrinter& printer) {
    if (printer.hNotifyThread) return kWatchOk;
    if (!printer.hNotifyPrinter) return kWatchNoPrinter;
    if (printer.pNotifyTypes && printer.hNotify == INVALID_HANDLE_VALUE) return kWatchNoNotification;
    return kWatchOther;
}
