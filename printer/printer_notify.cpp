#include "printer/printer_notify.h"

#include <algorithm>
#include <cwchar>

#include <boost/make_shared.hpp>

#include "platform/kernel.h"
#include "print/printer_handle.h"
#include "printer/printer.h"

namespace {

// What the thread traces of a changed field's value.
enum class Value { None, String, Number, Line };

struct ChangeText {
    const WCHAR* text;
    Value value;
    const WCHAR* line = nullptr;  // Value::Line: the line traced instead of a value
};

const ChangeText kPrinterChanges[kPrinterNotifyFields] = {
    {L"Printer server name changed", Value::None},
    {L"Printer name changed", Value::String},
    {L"Printer shared name changed", Value::String},
    {L"Printer port named changed", Value::None},
    {L"Printer driver name changed", Value::String},
    {L"Printer comment changed", Value::String},
    {L"Printer location changed", Value::String},
    {L"Printer devmode changed", Value::None},
    {L"Printer separator file changed", Value::String},
    {L"Printer print processor changed", Value::String},
    {L"Printer parameters changed", Value::String},
    {L"Printer datatype changed", Value::String},
    {L"Printer security changed", Value::None},
    {L"Printer attributes changed", Value::Number},
    {L"Printer priority changed", Value::Number},
    {L"Printer default priority changed", Value::Number},
    {L"Printer start time changed", Value::Number},
    {L"Printer until time changed", Value::Number},
    {L"Printer status changed", Value::Number},
    {L"Printer status string changed", Value::None},
    {L"Printer job count changed", Value::Number},
    {L"Printer average ppm changed", Value::Number},
    {L"Printer total pages changed", Value::None},
    {L"Printer pages printed changed", Value::None},
    {L"Printer total bytes changed", Value::None},
    {L"Printer bytes printed changed", Value::None},
    {L"Printer GUID changed", Value::None},
};

const ChangeText kJobChanges[kJobNotifyFields] = {
    {L"Job printer changed", Value::String},
    {L"Job machine changed", Value::String},
    {L"Job port changed", Value::String},
    {L"Job user changed", Value::String},
    {L"Job notify changed", Value::String},
    {L"Job datatype changed", Value::String},
    {L"Job print processor changed", Value::String},
    {L"Job parameters changed", Value::String},
    {L"Job driver changed", Value::String},
    {L"Job devmode changed", Value::Line, L"PrinterNotifyThread => JOB_NOTIFY_FIELD_DEVMODE\n"},
    {L"Job status changed", Value::Number},
    {L"Job status string changed", Value::String},
    {L"Job security changed", Value::Line, L"PrinterNotifyThread => JOB_NOTIFY_FIELD_SECURITY_DESCRIPTOR\n"},
    {L"Job document changed", Value::String},
    {L"Job priority changed", Value::Number},
    {L"Job position changed", Value::Number},
    {L"Job submitted time changed", Value::Line, L"PrinterNotifyThread => JOB_NOTIFY_FIELD_SUBMITTED\n"},
    {L"Job start time changed", Value::Number},
    {L"Job until time changed", Value::Number},
    {L"Job time changed", Value::Number},
    {L"Job total pages changed", Value::Number},
    {L"Job pages printed changed", Value::Number},
    {L"Job total bytes changed", Value::Number},
    {L"Job bytes printed changed", Value::Number},
};

constexpr DWORD kStopWaitMs = 5000;
constexpr DWORD kRetryWaitMs = 1000;

// The printer object whose callbacks this thread is calling right now.
// Registration and removal from inside a callback would change the list that
// is being walked, so they are refused.
thread_local const CPrinter* t_delivering = nullptr;

class NotifyLock {
public:
    explicit NotifyLock(CRITICAL_SECTION& cs) : cs_(cs) { ::EnterCriticalSection(&cs_); }
    ~NotifyLock() { ::LeaveCriticalSection(&cs_); }
    NotifyLock(const NotifyLock&) = delete;
    NotifyLock& operator=(const NotifyLock&) = delete;

private:
    CRITICAL_SECTION& cs_;
};

void FreeInfo(TraceLog* log, PPRINTER_NOTIFY_INFO info) {
    if (platform::spooler.FreePrinterNotifyInfo(info)) return;
    TraceLogError(log, 0, ::GetLastError());
    TraceLogWrite(log, 0, L"PrinterNotifyThread => failed to free notification info\n");
}

void TraceValue(TraceLog* log, const ChangeText& change, const PRINTER_NOTIFY_INFO_DATA& data) {
    switch (change.value) {
    case Value::String: {
        // The text is not trusted to end inside its cbBuf bytes.
        const WCHAR* text = data.NotifyData.Data.pBuf ? static_cast<const WCHAR*>(data.NotifyData.Data.pBuf) : L"";
        TraceLogWrite(log, 0, L"PrinterNotifyThread => %d; %.*s\n", data.NotifyData.Data.cbBuf,
                      static_cast<int>(data.NotifyData.Data.cbBuf / sizeof(WCHAR)), text);
        break;
    }
    case Value::Number: TraceLogWrite(log, 0, L"PrinterNotifyThread => %d\n", data.NotifyData.adwData[0]); break;
    case Value::Line: TraceLogWrite(log, 0, change.line); break;
    case Value::None: break;
    }
}

// Tells every registration of the printer about one change, in registration
// order. The lock is held for the whole walk: once a removal has returned, its
// callback is never called again, so its owner may free the context at once.
void Deliver(CPrinter* printer, const WCHAR* text, DWORD field) {
    NotifyLock lock(printer->csNotify);
    t_delivering = printer;
    try {
        for (_NOTIFY_REGISTRATION* registration : printer->vecNotify) {
            if (!registration || !registration->pfnNotify) continue;
            printer->lstChanges.push_back(boost::make_shared<_PRINTER_CHANGE>(_PRINTER_CHANGE{text, field}));
            if (printer->lstChanges.size() > kMaxPrinterChanges) printer->lstChanges.pop_front();
            registration->pfnNotify(registration->pContext, text, field);
        }
    } catch (...) {
        t_delivering = nullptr;
        throw;
    }
    t_delivering = nullptr;
}

void DeliverEntries(CPrinter* printer, const PRINTER_NOTIFY_INFO* info) {
    TraceLog* log = printer->pLog;
    const PRINTER_NOTIFY_INFO_DATA* entries = info->aData;
    for (DWORD i = 0; i < info->Count; ++i) {
        const PRINTER_NOTIFY_INFO_DATA& data = entries[i];
        const ChangeText* table = kPrinterChanges;
        WORD fields = kPrinterNotifyFields;
        if (data.Type == PRINTER_NOTIFY_TYPE) {
            TraceLogWrite(log, 0, L"PrinterNotifyThread => PRINTER_NOTIFY_TYPE\n");
        } else if (data.Type == JOB_NOTIFY_TYPE) {
            TraceLogWrite(log, 0, L"PrinterNotifyThread => JOB_NOTIFY_TYPE; job %d\n", data.Id);
            table = kJobChanges;
            fields = kJobNotifyFields;
        } else {
            TraceLogWrite(log, 0, L"PrinterNotifyThread => unknown type\n");
            continue;
        }
        TraceLogWrite(log, 0, L"PrinterNotifyThread => field: %d\n", data.Field);
        if (data.Field >= fields) continue;
        const ChangeText& change = table[data.Field];
        TraceLogWrite(log, 0, L"PrinterNotifyThread => %s\n", change.text);
        TraceValue(log, change, data);
        Deliver(printer, change.text, data.Field);
    }
}

// One signalled change handle: fetch the information, deliver it, give it back.
void HandleChange(CPrinter* printer, HANDLE change) {
    TraceLog* log = printer->pLog;
    TraceLogWrite(log, 0, L"PrinterNotifyThread => wait finished, getting notification\n");
    DWORD changeWord = 0;
    PPRINTER_NOTIFY_INFO info = nullptr;
    if (!platform::spooler.FindNextPrinterChangeNotification(change, &changeWord, nullptr,
                                                              reinterpret_cast<LPVOID*>(&info))) {
        TraceLogError(log, 0, ::GetLastError());
        TraceLogWrite(log, 0, L"PrinterNotifyThread => failed to get notification info\n");
        // The change handle may stay signalled after a failed fetch (a spooler
        // gone away): pause as after a failed wait rather than spin and fill
        // the log.
        platform::kernel.Sleep(kRetryWaitMs);
        return;
    }
    TraceLogWrite(log, 0, L"PrinterNotifyThread => dwChange: %d\n", changeWord);

    if (info && (info->Flags & PRINTER_NOTIFY_INFO_DISCARDED)) {
        // The spooler dropped some of the changes: ask for the whole state again.
        FreeInfo(log, info);
        TraceLogError(log, 0, ::GetLastError());
        TraceLogWrite(log, 0, L"PrinterNotifyThread => failed to get complete notification info\n");
        PRINTER_NOTIFY_OPTIONS refresh = {2, PRINTER_NOTIFY_OPTIONS_REFRESH, 0, nullptr};
        info = nullptr;
        if (!platform::spooler.FindNextPrinterChangeNotification(change, &changeWord, &refresh,
                                                                  reinterpret_cast<LPVOID*>(&info))) {
            TraceLogError(log, 0, ::GetLastError());
            TraceLogWrite(log, 0, L"PrinterNotifyThread => failed to get notification info\n");
            info = nullptr;
        }
    }
    // A failed refresh, or a spooler that sent no information: nothing to
    // deliver for this wake-up.
    if (!info) {
        TraceLogWrite(log, 0, L"PrinterNotifyThread => no notification info, nothing delivered\n");
        return;
    }
    try {
        DeliverEntries(printer, info);
    } catch (...) {
        FreeInfo(log, info);
        throw;
    }
    TraceLogWrite(log, 0, L"PrinterNotifyThread => freeing notification info\n");
    FreeInfo(log, info);
}

}  // namespace

// ------------------------------------------------------------ thread

DWORD WINAPI PrinterNotifyThread(LPVOID pPrinter) {
    CPrinter* printer = static_cast<CPrinter*>(pPrinter);
    TraceLog* log = printer->pLog;
    TraceLogWrite(log, 0, L"PrinterNotifyThread => \n");
    // The stop event first: it wins when both are signalled. The handles stay
    // open until this thread has ended (see StopPrinterNotifyThread).
    const HANDLE waitSet[2] = {printer->hStopEvent, printer->hNotify};
    printer->bNotifyRunning = TRUE;
    for (;;) {
        const DWORD result = platform::kernel.WaitForMultipleObjects(2, waitSet, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0) break;
        if (result == WAIT_OBJECT_0 + 1) {
            // A callback that throws, or no memory to keep the change, ends this
            // wake-up's delivery, not the thread (nor, as an exception leaving
            // a thread would, the process).
            try {
                HandleChange(printer, waitSet[1]);
            } catch (...) {
                TraceLogWrite(log, 0, L"PrinterNotifyThread => exception occurred during delivery\n");
            }
            // A stop that gave up waiting for this delivery has cleared the
            // flag. Another object on the same stop event may have reset the
            // event since, so the flag ends the thread here, not the event.
            if (!printer->bNotifyRunning) break;
            continue;
        }
        TraceLogError(log, 0, ::GetLastError());
        TraceLogWrite(log, 0, L"PrinterNotifyThread => wait failed?\n");
        platform::kernel.Sleep(kRetryWaitMs);
        // A wait that keeps failing must not keep a stopped thread alive.
        if (!printer->bNotifyRunning || platform::kernel.WaitForSingleObject(waitSet[0], 0) == WAIT_OBJECT_0) break;
    }
    return 0;
}

// ------------------------------------------------------------ construction and destruction

void CPrinter::SetUpNotification() {
    // First, while nothing is held yet: it is the one step that may throw.
    lstChanges.push_back(boost::make_shared<_PRINTER_CHANGE>(_PRINTER_CHANGE{L"started monitoring", 0}));
    bNotifyRunning = FALSE;
    hNotifyPrinter = nullptr;
    hNotifyThread = nullptr;
    hNotify = INVALID_HANDLE_VALUE;
    dwNotifyThreadId = 0;

    WCHAR name[MAX_PATH];
    std::swprintf(name, MAX_PATH, L"Local\\PrinterNotify_%d", static_cast<int>(dwNotifyId));
    TraceLogWrite(pLog, 0, L"CPrinter => event: %s\n", name);
    hStopEvent = platform::kernel.CreateEventW(nullptr, TRUE, FALSE, name);
    if (!hStopEvent) {
        TraceLogError(pLog, 0, ::GetLastError());
        TraceLogWrite(pLog, 0, L"CPrinter => failed to get stop event handle\n");
    }

    dwLastNotifyId = 0;
    ::InitializeCriticalSection(&csNotify);
    notifyOptions = {};
    pNotifyTypes = nullptr;
    pPrinterFields = nullptr;
    pJobFields = nullptr;
}

void CPrinter::TearDownNotification() {
    StopPrinterNotifyThread();
    if (hNotifyThread) {
        // The thread still uses this object (a callback that takes long): the
        // object must not go away under it. Another object on the same stop
        // event may have started since and reset the event, so it is signalled
        // again for as long as the thread goes on.
        TraceLogWrite(pLog, 0, L"~CPrinter => waiting for the notify thread to end\n");
        do platform::kernel.SetEvent(hStopEvent);
        while (platform::kernel.WaitForSingleObject(hNotifyThread, kStopWaitMs) == WAIT_TIMEOUT);
        CloseNotifyHandles();
    }
    ::DeleteCriticalSection(&csNotify);
    platform::HeapFreeBlock(pNotifyTypes);
    platform::HeapFreeBlock(pPrinterFields);
    platform::HeapFreeBlock(pJobFields);
    pNotifyTypes = nullptr;
    pPrinterFields = pJobFields = nullptr;
    if (hStopEvent) platform::kernel.CloseHandle(hStopEvent);
    hStopEvent = nullptr;
    if (hNotifyPrinter) {
        TraceLogWrite(pLog, 0, L"~CPrinter => closing printer handle\n");
        vlibPRINT_ClosePrinterGuarded(hNotifyPrinter);
        hNotifyPrinter = nullptr;
    }
    for (_NOTIFY_REGISTRATION* registration : vecNotify) platform::HeapFreeBlock(registration);
    vecNotify.clear();
    lstChanges.clear();
}

// ------------------------------------------------------------ registrations

DWORD CPrinter::RegisterForPrinterNotify(DWORD dwUser, PFN_PRINTER_NOTIFY pfnNotify, LPVOID pContext) {
    TraceLogWrite(pLog, 0, L"CPrinter::RegisterForPrinterNotify =>\n");
    if (!pfnNotify) {
        TraceLogWrite(pLog, 0, L"CPrinter::RegisterForPrinterNotify => no notify function passed in\n");
        return 0;
    }
    if (t_delivering == this) {
        TraceLogWrite(pLog, 0, L"CPrinter::RegisterForPrinterNotify => not allowed from a notify callback\n");
        return 0;
    }
    auto* registration = platform::HeapAllocZeroAs<_NOTIFY_REGISTRATION>(sizeof(_NOTIFY_REGISTRATION));
    if (!registration) {
        TraceLogWrite(pLog, 0, L"CPrinter::RegisterForPrinterNotify => couldn't allocate memory for the registration\n");
        return 0;
    }
    NotifyLock lock(csNotify);
    *registration = {++dwLastNotifyId, this, pfnNotify, pContext, dwUser};
    vecNotify.push_back(registration);
    TraceLogWrite(pLog, 0, L"CPrinter::RegisterForPrinterNotify => added ID: %d\n", registration->dwId);
    return registration->dwId;
}

BOOL CPrinter::UnregisterForPrinterNotify(DWORD dwId) {
    TraceLogWrite(pLog, 0, L"CPrinter::UnregisterForPrinterNotify =>\n");
    if (t_delivering == this) {
        TraceLogWrite(pLog, 0, L"CPrinter::UnregisterForPrinterNotify => not allowed from a notify callback\n");
        return FALSE;
    }
    NotifyLock lock(csNotify);
    if (dwId == 0 || dwId > dwLastNotifyId) {
        TraceLogWrite(pLog, 0, L"CPrinter::UnregisterForPrinterNotify => notify ID out of range\n");
        return FALSE;
    }
    auto found = std::find_if(vecNotify.begin(), vecNotify.end(),
                              [dwId](const _NOTIFY_REGISTRATION* r) { return r && r->dwId == dwId; });
    if (found == vecNotify.end()) {
        TraceLogWrite(pLog, 0, L"CPrinter::UnregisterForPrinterNotify => notify ID not found\n");
        return FALSE;
    }
    TraceLogWrite(pLog, 0, L"CPrinter::UnregisterForPrinterNotify => found ID, removing\n");
    platform::HeapFreeBlock(*found);
    vecNotify.erase(found);
    return TRUE;
}

// ------------------------------------------------------------ start and stop

void CPrinter::StartPrinterNotifyThread() {
    TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread =>\n");
    // A stop that timed out left the thread its handles; once it has ended
    // they go, and this start may go ahead.
    if (hNotifyThread && platform::kernel.WaitForSingleObject(hNotifyThread, 0) == WAIT_OBJECT_0) {
        TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => the last notify thread has ended, closing its handles\n");
        CloseNotifyHandles();
    }
    // A thread handle counts as well: until the new thread has set
    // bNotifyRunning, a second start would replace the change handle under it.
    if (bNotifyRunning || hNotifyThread) {
        TraceLogWrite(pLog, 0,
                      L"CPrinter::StartPrinterNotifyThread => already have a notification going, no more allowed\n");
        return;
    }
    // Without the stop event a thread could never be stopped.
    if (!hStopEvent) {
        TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => no stop event, not starting\n");
        return;
    }
    if (!hNotifyPrinter) {
        TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => opening printer handle\n");
        hNotifyPrinter = vlibPRINT_OpenPrinterGuarded(strPrinterName.c_str(), nullptr);
        if (!hNotifyPrinter) {
            TraceLogError(pLog, 0, ::GetLastError());
            TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => failed to open printer handle\n");
            return;
        }
    }
    if (hNotify != INVALID_HANDLE_VALUE) {
        TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => already have a notify handle? closing it\n");
        if (platform::spooler.FindClosePrinterChangeNotification(hNotify)) {
            hNotify = INVALID_HANDLE_VALUE;
        } else {
            TraceLogError(pLog, 0, ::GetLastError());
            TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => failed to close notify handle\n");
        }
    }

    // Every printer field and every job field.
    platform::HeapFreeBlock(pNotifyTypes);
    platform::HeapFreeBlock(pPrinterFields);
    platform::HeapFreeBlock(pJobFields);
    pNotifyTypes = platform::HeapAllocZeroAs<PRINTER_NOTIFY_OPTIONS_TYPE>(2 * sizeof(PRINTER_NOTIFY_OPTIONS_TYPE));
    pPrinterFields = platform::HeapAllocZeroAs<WORD>(kPrinterNotifyFields * sizeof(WORD));
    pJobFields = platform::HeapAllocZeroAs<WORD>(kJobNotifyFields * sizeof(WORD));
    notifyOptions = {};
    if (!pNotifyTypes || !pPrinterFields || !pJobFields) {
        TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => couldn't allocate memory for the notify options\n");
        return;
    }
    for (WORD field = 0; field < kPrinterNotifyFields; ++field) pPrinterFields[field] = field;
    for (WORD field = 0; field < kJobNotifyFields; ++field) pJobFields[field] = field;
    pNotifyTypes[0] = {PRINTER_NOTIFY_TYPE, 0, 0, 0, kPrinterNotifyFields, pPrinterFields};
    pNotifyTypes[1] = {JOB_NOTIFY_TYPE, 0, 0, 0, kJobNotifyFields, pJobFields};
    notifyOptions = {2, 0, 2, pNotifyTypes};

    TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => getting notify handle\n");
    hNotify = platform::spooler.FindFirstPrinterChangeNotification(hNotifyPrinter, 0, 0, &notifyOptions);
    if (!hNotify || hNotify == INVALID_HANDLE_VALUE) {
        hNotify = INVALID_HANDLE_VALUE;
        TraceLogError(pLog, 0, ::GetLastError());
        TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => failed to get notify handle\n");
        return;
    }

    // After a stop the event is still signalled and would end the new thread
    // at its first wait.
    platform::kernel.ResetEvent(hStopEvent);
    hNotifyThread = platform::kernel.CreateThread(nullptr, 0, PrinterNotifyThread, this, 0, &dwNotifyThreadId);
    if (!hNotifyThread) {
        TraceLogError(pLog, 0, ::GetLastError());
        TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => failed to create thread\n");
        // No thread will use the change handle: give it back, the object stays idle.
        platform::spooler.FindClosePrinterChangeNotification(hNotify);
        hNotify = INVALID_HANDLE_VALUE;
        return;
    }
    TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => created notify thread\n");
}

void CPrinter::StopPrinterNotifyThread() {
    TraceLogWrite(pLog, 0, L"CPrinter::StopPrinterNotifyThread =>\n");
    // A thread handle counts as running: the thread may not have set
    // bNotifyRunning yet.
    if (!bNotifyRunning && !hNotifyThread) {
        TraceLogWrite(pLog, 0, L"CPrinter::StopPrinterNotifyThread => already stopped?\n");
        return;
    }
    if (hNotifyThread) {
        platform::kernel.SetEvent(hStopEvent);
        if (platform::kernel.WaitForSingleObject(hNotifyThread, kStopWaitMs) != WAIT_OBJECT_0) {
            // Still inside a callback, say. Its change handle and thread handle
            // stay open until it has ended: a later stop or start, or the
            // destructor, closes them.
            TraceLogWrite(pLog, 0, L"CPrinter::StopPrinterNotifyThread => notify thread has not ended, keeping its handles\n");
            bNotifyRunning = FALSE;
            return;
        }
    }
    CloseNotifyHandles();
}

void CPrinter::CloseNotifyHandles() {
    if (hNotify && hNotify != INVALID_HANDLE_VALUE) {
        TraceLogWrite(pLog, 0, L"CPrinter::StopPrinterNotifyThread => closing notify handle\n");
        if (platform::spooler.FindClosePrinterChangeNotification(hNotify)) {
            TraceLogWrite(pLog, 0, L"CPrinter::StopPrinterNotifyThread => closed notify handle\n");
        } else {
            TraceLogError(pLog, 0, ::GetLastError());
            TraceLogWrite(pLog, 0, L"CPrinter::StopPrinterNotifyThread => failed to close notify handle\n");
        }
    }
    hNotify = INVALID_HANDLE_VALUE;
    bNotifyRunning = FALSE;
    if (hNotifyThread) {
        TraceLogWrite(pLog, 0, L"CPrinter::StopPrinterNotifyThread => closing notify thread handle\n");
        platform::kernel.CloseHandle(hNotifyThread);
        hNotifyThread = nullptr;
    }
}
