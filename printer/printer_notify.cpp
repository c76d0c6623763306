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

}  // namespace

// How the thread and the object let go of each other.
//
// The thread calls every callback with no lock of ours held, from a copy of
// the registration taken under csNotify just before the call: a callback may
// register, remove, stop or destroy its object, and callbacks on two printers
// that call each other's objects cannot deadlock. What the thread needs of its
// own is in this block, shared by the object and the thread (one reference
// each; the last to let go closes the handles and frees it). The thread
// reaches the object only through pPrinter and only under cs. A stop (also the
// destructor's) clears pPrinter under cs: from then on the thread touches
// nothing of the object, traces nothing, calls no callback and ends at its next
// look. Every call is numbered; a stop or a removal waits, on cs's condition,
// until the call it saw under way has returned (not for a later one, whose
// callback may be waiting for the thread that waits), then for the thread's
// end at most 5 s. A thread that outlives that wait keeps its change handle
// and its printer handle and closes them itself, in that order, when it ends:
// closing a handle a live thread waits on would let it wait on whatever
// object gets that handle value next.
struct _NOTIFY_RUN {
    volatile LONG refs;
    CRITICAL_SECTION cs;           // guards pPrinter and dwDoneSeq; taken before csNotify, never after
    CONDITION_VARIABLE callDone;   // on cs: woken whenever a call returns
    CPrinter* pPrinter;            // null once the object has let go
    HANDLE hThread;
    HANDLE hChange;                // from FindFirstPrinterChangeNotification
    HANDLE hPrinter;               // the printer of hChange once the object has left it to a late thread
    HANDLE hWake;                  // this thread's own stop event: no start of another object resets it
    HANDLE hShared;                // this thread's own handle to the named stop event, or null
    volatile LONG dwCalling;       // the registration whose callback is under way, 0 when none
    DWORD dwCallSeq;               // the number of the call under way or last begun (under cs and csNotify)
    DWORD dwDoneSeq;               // the number of the last call that returned
    volatile LONG ended;           // the thread has let go of the block
    _NOTIFY_RUN* pNextLate;        // the object's next late thread (pLateRuns)
};

namespace {

// The state of the notification thread this is, on such a thread.
thread_local _NOTIFY_RUN* t_run = nullptr;

class NotifyLock {
public:
    explicit NotifyLock(CRITICAL_SECTION& cs) : cs_(cs) { ::EnterCriticalSection(&cs_); }
    ~NotifyLock() { ::LeaveCriticalSection(&cs_); }
    NotifyLock(const NotifyLock&) = delete;
    NotifyLock& operator=(const NotifyLock&) = delete;

private:
    CRITICAL_SECTION& cs_;
};

// The printer object, with run->cs held, while it holds on to the thread;
// false once it has let go.
class Attached {
public:
    explicit Attached(_NOTIFY_RUN* run) : lock_(run->cs), printer_(run->pPrinter) {}
    explicit operator bool() const { return printer_ != nullptr; }
    CPrinter* operator->() const { return printer_; }

private:
    NotifyLock lock_;
    CPrinter* printer_;
};

// One line to the object's log; false once the object has let go.
template <class... Args>
bool Say(_NOTIFY_RUN* run, const WCHAR* format, Args... args) {
    Attached printer(run);
    if (printer) TraceLogWrite(printer->pLog, 0, format, args...);
    return static_cast<bool>(printer);
}

bool SayError(_NOTIFY_RUN* run, DWORD error, const WCHAR* line) {
    Attached printer(run);
    if (!printer) return false;
    TraceLogError(printer->pLog, 0, error);
    TraceLogWrite(printer->pLog, 0, line);
    return true;
}

// The last holder closes the handles (tracing to `log`, null for none) and
// frees the block.
void ReleaseRun(_NOTIFY_RUN* run, TraceLog* log) {
    if (::InterlockedDecrement(&run->refs) != 0) return;
    if (run->hChange) {
        TraceLogWrite(log, 0, L"CPrinter::StopPrinterNotifyThread => closing notify handle\n");
        if (platform::spooler.FindClosePrinterChangeNotification(run->hChange)) {
            TraceLogWrite(log, 0, L"CPrinter::StopPrinterNotifyThread => closed notify handle\n");
        } else {
            TraceLogError(log, 0, ::GetLastError());
            TraceLogWrite(log, 0, L"CPrinter::StopPrinterNotifyThread => failed to close notify handle\n");
        }
    }
    if (run->hPrinter) vlibPRINT_ClosePrinterGuarded(run->hPrinter);  // after its change handle
    if (run->hThread) {
        TraceLogWrite(log, 0, L"CPrinter::StopPrinterNotifyThread => closing notify thread handle\n");
        platform::kernel.CloseHandle(run->hThread);
    }
    for (HANDLE event : {run->hWake, run->hShared})
        if (event) platform::kernel.CloseHandle(event);
    ::DeleteCriticalSection(&run->cs);
    platform::HeapFreeBlock(run);
}

void FreeInfo(_NOTIFY_RUN* run, PPRINTER_NOTIFY_INFO info) {
    if (!platform::spooler.FreePrinterNotifyInfo(info))
        SayError(run, ::GetLastError(), L"PrinterNotifyThread => failed to free notification info\n");
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

// Ends the mark of a call, also when the callback throws.
class CallMark {
public:
    explicit CallMark(_NOTIFY_RUN* run) : run_(run) {}
    ~CallMark() {
        {
            NotifyLock lock(run_->cs);
            ::InterlockedExchange(&run_->dwCalling, 0);
            run_->dwDoneSeq = run_->dwCallSeq;
        }
        platform::kernel.WakeAllConditionVariable(&run_->callDone);
    }
    CallMark(const CallMark&) = delete;
    CallMark& operator=(const CallMark&) = delete;

private:
    _NOTIFY_RUN* run_;
};

// Waits until the call numbered seq has returned (a thread's calls return in
// order), at most ms; false when the time ran out first.
bool WaitForCall(_NOTIFY_RUN* run, DWORD seq, DWORD ms) {
    NotifyLock lock(run->cs);
    const DWORD start = ::GetTickCount();
    while (static_cast<LONG>(run->dwDoneSeq - seq) < 0) {
        const DWORD waited = ::GetTickCount() - start;
        if (ms != INFINITE && waited >= ms) return false;
        if (!platform::kernel.SleepConditionVariableCS(&run->callDone, &run->cs, ms == INFINITE ? INFINITE : ms - waited) &&
            ms != INFINITE)
            return false;
    }
    return true;
}

// The call under way now (none begins once pPrinter is null).
DWORD CallUnderWay(_NOTIFY_RUN* run) {
    NotifyLock lock(run->cs);
    return run->dwCallSeq;
}

// How long a stop or a removal waits for a callback: on a notification
// thread a callback of another object may be waiting for this one, and the
// bound breaks that cycle.
DWORD CallbackWaitMs() { return t_run ? kStopWaitMs : INFINITE; }

// Tells the registrations of one change, in registration order, each from a
// copy taken under csNotify and called outside it. The stop and the removal
// are looked at before every call. False once the object has let go.
bool Deliver(_NOTIFY_RUN* run, const WCHAR* text, DWORD field) {
    DWORD last = 0, newest = 0;
    for (bool first = true;; first = false) {
        PFN_PRINTER_NOTIFY notify = nullptr;
        LPVOID context = nullptr;
        {
            Attached printer(run);
            if (!printer) return false;
            NotifyLock lock(printer->csNotify);
            // A registration made from now on takes part from the next change.
            if (first) newest = printer->dwLastNotifyId;
            const auto& registrations = printer->vecNotify;
            const auto next = std::find_if(registrations.begin(), registrations.end(), [=](const _NOTIFY_REGISTRATION* r) {
                return r && r->pfnNotify && r->dwId > last && r->dwId <= newest;
            });
            if (next == registrations.end()) return true;
            last = (*next)->dwId, notify = (*next)->pfnNotify, context = (*next)->pContext;
            auto& changes = printer->lstChanges;
            if (changes.size() >= kMaxPrinterChanges && changes.front().use_count() == 1) {
                // The oldest record, held by nobody else, becomes the newest: a
                // printer watched for days takes no heap block per change.
                changes.front()->strChange.assign(text);
                changes.front()->dwField = field;
                changes.splice(changes.end(), changes, changes.begin());
            } else {
                changes.push_back(boost::make_shared<_PRINTER_CHANGE>(_PRINTER_CHANGE{text, field}));
                if (changes.size() > kMaxPrinterChanges) changes.pop_front();
            }
            ++run->dwCallSeq;
            ::InterlockedExchange(&run->dwCalling, static_cast<LONG>(last));
        }
        CallMark mark(run);
        notify(context, text, field);
    }
}

bool DeliverEntries(_NOTIFY_RUN* run, const PRINTER_NOTIFY_INFO* info) {
    for (DWORD i = 0; i < info->Count; ++i) {
        const PRINTER_NOTIFY_INFO_DATA& data = info->aData[i];
        const ChangeText* change = nullptr;
        {
            Attached printer(run);
            if (!printer) return false;
            TraceLog* log = printer->pLog;
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
            change = &table[data.Field];
            TraceLogWrite(log, 0, L"PrinterNotifyThread => %s\n", change->text);
            TraceValue(log, *change, data);
        }
        if (!Deliver(run, change->text, data.Field)) return false;
    }
    return true;
}

// One signalled change handle: fetch the information, deliver it, give it
// back. False once the object has let go.
bool HandleChange(_NOTIFY_RUN* run) {
    if (!Say(run, L"PrinterNotifyThread => wait finished, getting notification\n")) return false;
    DWORD changeWord = 0;
    PPRINTER_NOTIFY_INFO info = nullptr;
    if (!platform::spooler.FindNextPrinterChangeNotification(run->hChange, &changeWord, nullptr,
                                                              reinterpret_cast<LPVOID*>(&info))) {
        if (!SayError(run, ::GetLastError(), L"PrinterNotifyThread => failed to get notification info\n")) return false;
        // The change handle may stay signalled after a failed fetch (a spooler
        // gone away): pause as after a failed wait rather than spin and fill
        // the log.
        platform::kernel.Sleep(kRetryWaitMs);
        return true;
    }
    bool attached = Say(run, L"PrinterNotifyThread => dwChange: %d\n", changeWord);
    if (attached && info && (info->Flags & PRINTER_NOTIFY_INFO_DISCARDED)) {
        // The spooler dropped some of the changes: ask for the whole state again.
        FreeInfo(run, info);
        SayError(run, ::GetLastError(), L"PrinterNotifyThread => failed to get complete notification info\n");
        PRINTER_NOTIFY_OPTIONS refresh = {2, PRINTER_NOTIFY_OPTIONS_REFRESH, 0, nullptr};
        info = nullptr;
        if (!platform::spooler.FindNextPrinterChangeNotification(run->hChange, &changeWord, &refresh,
                                                                  reinterpret_cast<LPVOID*>(&info))) {
            SayError(run, ::GetLastError(), L"PrinterNotifyThread => failed to get notification info\n");
            info = nullptr;
        }
    }
    // A failed refresh, or a spooler that sent no information: nothing to
    // deliver for this wake-up.
    if (!info) return attached && Say(run, L"PrinterNotifyThread => no notification info, nothing delivered\n");
    try {
        attached = attached && DeliverEntries(run, info);
    } catch (...) {
        FreeInfo(run, info);
        throw;
    }
    attached = attached && Say(run, L"PrinterNotifyThread => freeing notification info\n");
    FreeInfo(run, info);
    return attached;
}

// The name of the stop event shared by the objects of one notify id.
void StopEventName(DWORD notifyId, WCHAR (&name)[MAX_PATH]) {
    std::swprintf(name, MAX_PATH, L"Local\\PrinterNotify_%d", static_cast<int>(notifyId));
}

}  // namespace

// ------------------------------------------------------------ thread

DWORD WINAPI PrinterNotifyThread(LPVOID pRun) {
    auto* run = static_cast<_NOTIFY_RUN*>(pRun);
    t_run = run;
    {
        Attached printer(run);
        if (printer) {
            TraceLogWrite(printer->pLog, 0, L"PrinterNotifyThread => \n");
            printer->bNotifyRunning = TRUE;
        }
    }
    // This thread's stop first: it wins over a change signalled at the same
    // time. The named event last: a stop of any object of the notify id.
    const HANDLE waitSet[3] = {run->hWake, run->hChange, run->hShared};
    const DWORD count = run->hShared ? 3 : 2;
    for (;;) {
        const DWORD result = platform::kernel.WaitForMultipleObjects(count, waitSet, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0 + 1) {
            // A callback that throws, or no memory to keep the change, ends this
            // wake-up's delivery, not the thread (nor, as an exception leaving
            // a thread would, the process).
            try {
                if (!HandleChange(run)) break;
            } catch (...) {
                if (!Say(run, L"PrinterNotifyThread => exception occurred during delivery\n")) break;
            }
            continue;
        }
        if (result == WAIT_OBJECT_0 || (count == 3 && result == WAIT_OBJECT_0 + 2)) break;
        if (!SayError(run, ::GetLastError(), L"PrinterNotifyThread => wait failed?\n")) break;
        platform::kernel.Sleep(kRetryWaitMs);
    }
    ::InterlockedExchange(&run->ended, 1);
    ReleaseRun(run, nullptr);
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
    pNotifyRun = nullptr;
    pLateRuns = nullptr;
    dwNotifyError = 0;

    WCHAR name[MAX_PATH];
    StopEventName(dwNotifyId, name);
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
    // A thread that outlives the stop's wait (or whose callback is destroying
    // this object) touches nothing of the object from here on.
    StopPrinterNotifyThread();
    while (_NOTIFY_RUN* late = pLateRuns) {  // no callback of theirs runs any more (but on a notify thread)
        pLateRuns = late->pNextLate;
        ReleaseRun(late, pLog);
    }
    if (hNotify != INVALID_HANDLE_VALUE) {  // left by a start whose thread could not be created
        platform::spooler.FindClosePrinterChangeNotification(hNotify);
        hNotify = INVALID_HANDLE_VALUE;
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
    auto* registration = platform::HeapAllocZeroAs<_NOTIFY_REGISTRATION>(sizeof(_NOTIFY_REGISTRATION));
    if (!registration) {
        TraceLogWrite(pLog, 0, L"CPrinter::RegisterForPrinterNotify => couldn't allocate memory for the registration\n");
        return 0;
    }
    NotifyLock lock(csNotify);
    // The numbers do not wrap: a second registration 1 (or one numbered 0)
    // would be removed in place of the first, or never told.
    if (dwLastNotifyId == MAXDWORD) {
        TraceLogWrite(pLog, 0, L"CPrinter::RegisterForPrinterNotify => no registration ID left\n");
        platform::HeapFreeBlock(registration);
        return 0;
    }
    try {
        vecNotify.push_back(registration);
    } catch (...) {
        platform::HeapFreeBlock(registration);
        throw;
    }
    *registration = {++dwLastNotifyId, this, pfnNotify, pContext, dwUser};
    TraceLogWrite(pLog, 0, L"CPrinter::RegisterForPrinterNotify => added ID: %d\n", registration->dwId);
    return registration->dwId;
}

BOOL CPrinter::UnregisterForPrinterNotify(DWORD dwId) {
    TraceLogWrite(pLog, 0, L"CPrinter::UnregisterForPrinterNotify =>\n");
    // Its callback may have been taken for a call just now, by the running
    // thread or by one that outlived its stop: the calls seen under way, each
    // waited for by its number, unless it is this thread's own. More threads
    // inside one callback than kSeen take stops on notify threads that gave up
    // waiting, again and again; the others are then traced and not waited for.
    constexpr size_t kSeen = 4;
    struct Seen {
        _NOTIFY_RUN* run;
        DWORD seq;
    } seen[kSeen] = {};
    size_t count = 0;
    bool more = false;
    TraceLog* log = nullptr;  // the object may be gone once the wait is over
    {
        NotifyLock lock(csNotify);
        log = pLog;
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
        for (_NOTIFY_RUN* run = pNotifyRun ? pNotifyRun : pLateRuns; run;
             run = run == pNotifyRun ? pLateRuns : run->pNextLate) {
            if (run == t_run || static_cast<DWORD>(run->dwCalling) != dwId) continue;
            if (count == kSeen) {
                more = true;
                break;
            }
            ::InterlockedIncrement(&run->refs);
            seen[count++] = {run, run->dwCallSeq};
        }
    }
    if (more) TraceLogWrite(log, 0, L"CPrinter::UnregisterForPrinterNotify => too many threads in the callback, waiting for 4\n");
    for (size_t i = 0; i < count; ++i) {
        if (!WaitForCall(seen[i].run, seen[i].seq, CallbackWaitMs()))
            TraceLogWrite(log, 0, L"CPrinter::UnregisterForPrinterNotify => callback still running after 5000 ms, not waiting for it\n");
        ReleaseRun(seen[i].run, nullptr);
    }
    return TRUE;
}

// ------------------------------------------------------------ start and stop

void CPrinter::StartPrinterNotifyThread() {
    TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread =>\n");
    // Starts and stops from several threads take turns; no callback is ever
    // called under this lock.
    NotifyLock lock(csNotify);
    // Refused from the start on, not only once the thread has set
    // bNotifyRunning: a second start would replace the change handle under it.
    if (pNotifyRun) {
        TraceLogWrite(pLog, 0,
                      L"CPrinter::StartPrinterNotifyThread => already have a notification going, no more allowed\n");
        return;
    }
    PruneLateRuns();
    dwNotifyError = 0;
    if (!hNotifyPrinter) {  // also after a stop that left the printer handle to its thread
        TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => opening printer handle\n");
        hNotifyPrinter = vlibPRINT_OpenPrinterGuarded(strPrinterName.c_str(), nullptr);
        if (!hNotifyPrinter) {
            dwNotifyError = ::GetLastError();
            TraceLogError(pLog, 0, dwNotifyError);
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
        platform::HeapFreeBlock(pNotifyTypes);  // none: what kvwatch tells apart from a spooler without notification
        pNotifyTypes = nullptr;
        return;
    }
    for (WORD field = 0; field < kPrinterNotifyFields; ++field) pPrinterFields[field] = field;
    for (WORD field = 0; field < kJobNotifyFields; ++field) pJobFields[field] = field;
    pNotifyTypes[0] = {PRINTER_NOTIFY_TYPE, 0, 0, 0, kPrinterNotifyFields, pPrinterFields};
    pNotifyTypes[1] = {JOB_NOTIFY_TYPE, 0, 0, 0, kJobNotifyFields, pJobFields};
    notifyOptions = {2, 0, 2, pNotifyTypes};

    TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => getting notify handle\n");
    ::SetLastError(ERROR_SUCCESS);  // a spooler without the function may fail without saying why
    hNotify = platform::spooler.FindFirstPrinterChangeNotification(hNotifyPrinter, 0, 0, &notifyOptions);
    if (!hNotify || hNotify == INVALID_HANDLE_VALUE) {
        dwNotifyError = ::GetLastError();
        hNotify = INVALID_HANDLE_VALUE;
        TraceLogError(pLog, 0, dwNotifyError);
        TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => failed to get notify handle\n");
        return;
    }

    // Past this point a failure keeps hNotify: the next start or the
    // destructor closes it.
    auto* run = platform::HeapAllocZeroAs<_NOTIFY_RUN>(sizeof(_NOTIFY_RUN));
    if (!run) {
        dwNotifyError = ERROR_NOT_ENOUGH_MEMORY;
        TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => couldn't allocate memory for the notify thread\n");
        return;
    }
    ::InitializeCriticalSection(&run->cs);
    run->refs = 1;
    run->hWake = platform::kernel.CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::InitializeConditionVariable(&run->callDone);
    if (hStopEvent) {
        WCHAR name[MAX_PATH];
        StopEventName(dwNotifyId, name);
        run->hShared = platform::kernel.CreateEventW(nullptr, TRUE, FALSE, name);
        // After a stop the named event is still signalled and would end the
        // new thread at its first wait. Resetting it cannot swallow another
        // object's stop: every thread also ends at its own event.
        platform::kernel.ResetEvent(hStopEvent);
    }
    if (run->hWake) {
        run->pPrinter = this;
        run->hChange = hNotify;
        run->refs = 2;
        run->hThread = platform::kernel.CreateThread(nullptr, 0, PrinterNotifyThread, run, 0, &dwNotifyThreadId);
    }
    if (!run->hThread) {
        dwNotifyError = ::GetLastError();
        TraceLogError(pLog, 0, dwNotifyError);
        TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => failed to create thread\n");
        run->hChange = nullptr;
        run->refs = 1;
        ReleaseRun(run, nullptr);
        return;
    }
    pNotifyRun = run;
    hNotifyThread = run->hThread;
    TraceLogWrite(pLog, 0, L"CPrinter::StartPrinterNotifyThread => created notify thread\n");
}

void CPrinter::StopPrinterNotifyThread() {
    TraceLogWrite(pLog, 0, L"CPrinter::StopPrinterNotifyThread =>\n");
    // The thread stays this object's (pNotifyRun) until it has ended or the
    // wait is over: until then a start is refused, and a removal still sees a
    // call that has begun. Stops from several threads each wait.
    _NOTIFY_RUN* run = nullptr;
    {
        NotifyLock lock(csNotify);
        run = pNotifyRun;
        if (run) ::InterlockedIncrement(&run->refs);
    }
    WaitForLateCallbacks();
    if (!run) {
        TraceLogWrite(pLog, 0, L"CPrinter::StopPrinterNotifyThread => already stopped?\n");
        return;
    }
    DWORD seq = 0;
    {
        NotifyLock lock(run->cs);
        run->pPrinter = nullptr;  // no callback starts from here on
        seq = run->dwCallSeq;
    }
    bNotifyRunning = FALSE;
    platform::kernel.SetEvent(run->hWake);
    if (hStopEvent) platform::kernel.SetEvent(hStopEvent);  // every thread of this notify id ends
    bool ended = false;
    if (run == t_run) {
        TraceLogWrite(pLog, 0, L"CPrinter::StopPrinterNotifyThread => called from the notify thread, not waiting for it\n");
    } else {
        // On a notification thread the 5 s for the thread's end are also all
        // the callback gets.
        if (!t_run) WaitForCall(run, seq, INFINITE);
        ended = platform::kernel.WaitForSingleObject(run->hThread, kStopWaitMs) == WAIT_OBJECT_0;
        if (!ended)
            TraceLogWrite(pLog, 0, L"CPrinter::StopPrinterNotifyThread => notify thread has not ended, keeping its handles\n");
    }
    bool mine = false;
    {
        NotifyLock lock(csNotify);
        if (pNotifyRun == run) {
            pNotifyRun = nullptr, hNotify = INVALID_HANDLE_VALUE, hNotifyThread = nullptr;  // the thread's, closed with its state
            if (ended) {
                mine = true;
            } else {
                // The late thread closes the printer after its change handle;
                // the object's hold moves to the list of late threads.
                run->hPrinter = hNotifyPrinter, hNotifyPrinter = nullptr;
                run->pNextLate = pLateRuns, pLateRuns = run;
            }
        }
    }
    if (mine) ReleaseRun(run, pLog);  // the object's hold
    ReleaseRun(run, pLog);
    PruneLateRuns();
}

void CPrinter::WaitForLateCallbacks() {
    constexpr size_t kSeen = 4;  // as in the removal
    _NOTIFY_RUN* seen[kSeen] = {};
    size_t count = 0;
    {
        NotifyLock lock(csNotify);
        for (_NOTIFY_RUN* late = pLateRuns; late && count < kSeen; late = late->pNextLate) {
            if (late == t_run || late->dwCalling == 0) continue;
            ::InterlockedIncrement(&late->refs);
            seen[count++] = late;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        if (!WaitForCall(seen[i], CallUnderWay(seen[i]), CallbackWaitMs()))
            TraceLogWrite(pLog, 0, L"CPrinter::StopPrinterNotifyThread => callback of a stopped thread still running after 5000 ms, not waiting for it\n");
        ReleaseRun(seen[i], pLog);
    }
}

void CPrinter::PruneLateRuns() {
    _NOTIFY_RUN* ended = nullptr;
    {
        NotifyLock lock(csNotify);
        for (_NOTIFY_RUN** at = &pLateRuns; *at;) {
            _NOTIFY_RUN* late = *at;
            if (late->ended) {
                *at = late->pNextLate;
                late->pNextLate = ended, ended = late;
            } else {
                at = &late->pNextLate;
            }
        }
    }
    while (ended) {
        _NOTIFY_RUN* next = ended->pNextLate;
        ReleaseRun(ended, pLog);
        ended = next;
    }
}
