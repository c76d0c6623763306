// Change notification of the printer object: callers register callbacks, a
// thread per object waits for the spooler's change notification on the
// printer and tells every callback which printer or job field changed.
#pragma once

#include <string>

#include "platform/platform.h"

class CPrinter;

// Called on the notification thread for every change: (context given at
// registration, change text, field number). The text lives as long as the
// process.
typedef void(WINAPI* PFN_PRINTER_NOTIFY)(LPVOID pContext, LPCWSTR pszChange, DWORD dwField);

// One registration: a zero-filled process-heap block owned by the printer object.
struct _NOTIFY_REGISTRATION {
    DWORD dwId;
    CPrinter* pPrinter;
    PFN_PRINTER_NOTIFY pfnNotify;
    LPVOID pContext;
    DWORD dwUser;  // kept, not used by the delivery
};

// One delivered change (one per change and callback), held by shared pointers.
struct _PRINTER_CHANGE {
    std::wstring strChange;
    DWORD dwField;
};

// The spooler's printer fields (PRINTER_NOTIFY_TYPE) and job fields
// (JOB_NOTIFY_TYPE) that are watched and told.
inline constexpr WORD kPrinterNotifyFields = 27;
inline constexpr WORD kJobNotifyFields = 24;

// lstChanges keeps at most this many records, the oldest go first: nothing in
// the library reads the list, and a printer watched for days must not grow
// without end.
inline constexpr size_t kMaxPrinterChanges = 1024;

// One started notification thread and what it keeps of its own (printer_notify.cpp).
struct _NOTIFY_RUN;

// The start routine of the notification thread; the argument is its
// _NOTIFY_RUN, which leads to the printer object for as long as the object
// holds on to the thread.
DWORD WINAPI PrinterNotifyThread(LPVOID pRun);
