// Change notification against the fake print system, with the spooler's change
// notification and the kernel's events, threads, waits and pauses scripted by
// the fixture: what it gives out must all come back by the end of each test.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <tuple>

#include "printer/printer_notify.h"
#include "printer_fixture.h"
#include "support/heap_counter.h"
#include "tools/kvwatch_outcome.h"

namespace {

using namespace printer_test;

struct Answer {  // of one fetch: the changes (their text outlives it), PRINTER_NOTIFY_INFO_DISCARDED, an error to fail with
    std::vector<PRINTER_NOTIFY_INFO_DATA> entries;
    DWORD flags = 0;
    DWORD error = 0;
};

PRINTER_NOTIFY_INFO_DATA Entry(WORD type, WORD field, const WCHAR* text = nullptr, DWORD number = 0) {
    PRINTER_NOTIFY_INFO_DATA data = {type, field, 0, 9, {{number, 0}}};  // of job 9 if a job's
    if (text) data.NotifyData.Data = {static_cast<DWORD>(wcslen(text) + 1) * 2, const_cast<WCHAR*>(text)};
    return data;
}

const Answer kComment = {{Entry(PRINTER_NOTIFY_TYPE, PRINTER_NOTIFY_FIELD_COMMENT, L"Second floor")}};
// Every printer object lives on pages of its own, decommitted when it is
// destroyed: whatever reads it afterwards faults.
struct Decommit { void operator()(CPrinter* p) const { p->~CPrinter(), ::VirtualFree(p, sizeof(CPrinter), MEM_DECOMMIT); } };
using Printer = std::unique_ptr<CPrinter, Decommit>;

const Answer kTwo = {{Entry(PRINTER_NOTIFY_TYPE, 5, L"A"), Entry(PRINTER_NOTIFY_TYPE, 6, L"B")}};  // comment, location

class PrinterNotify : public testing::Test {
protected:
    static inline PrinterNotify* self = nullptr;
    static inline thread_local bool consumed = false;  // this thread's last wait took a change
    static inline thread_local intptr_t calling = 0;   // the context of this thread's callback
    Env env;
    std::recursive_mutex lock;                 // what follows
    std::atomic<int> open = 0, slept = 0;      // handles and information given out and not given back; ms of pauses asked (not made)
    std::atomic<bool> failWait = false, timeOut = false, noThread = false;  // the next such call fails
    std::atomic<bool> flood = false;           // every fetch answers a comment change and the change handle stays signalled
    std::atomic<DWORD> refuse = 0;             // the error FindFirstPrinterChangeNotification fails with, 0: none
    std::atomic<HANDLE> change = nullptr;      // the newest change handle
    std::function<void()> beforeWait, act;     // run once by the next wait; run by every callback before it records
    std::function<void()> afterWake;           // run once, outside the lock, by the next wait on a callback's return
    std::vector<DWORD> bounds;                 // the time-out of every wait for a callback or a thread
    std::string told;                          // "context/field text; " per call
    std::deque<Answer> answers;                // still to be fetched
    std::vector<DWORD> fetchFlags;             // the options flags of each fetch
    std::vector<HANDLE> threads;               // a handle of our own to every thread
    HANDLE settled = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE entered = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE release = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    platform::ScopedApi<platform::SpoolerApi> spooler_{platform::spooler, Spooler()};
    platform::ScopedApi<platform::KernelApi> kernel_{platform::kernel, Kernel()};
    std::optional<testsupport::HeapCounter> heap{std::in_place};

    PrinterNotify() {
        self = this;
        env.fake.AddPrinter(L"P");
    }
    ~PrinterNotify() override {
        for (HANDLE h : threads) ::CloseHandle(h);
        for (HANDLE h : {settled, entered, release}) ::CloseHandle(h);
    }
    void TearDown() override { EXPECT_TRUE(Joined() && open == 0 && env.fake.OpenPrinterHandles() == 0 && heap->Live() == 0); }
    Printer Make(DWORD id = 7, bool logged = true) {
        return Printer(new (::VirtualAlloc(nullptr, sizeof(CPrinter), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) CPrinter(logged ? env.trace.log() : nullptr, L"P", 1, id));
    }
    // Queues the answers and signals the newest change handle; unless told
    // not to, waits until the thread has taken the signal and waits again.
    bool Send(const std::vector<Answer>& more, bool settle = true, HANDLE to = nullptr) {
        {
            std::lock_guard<std::recursive_mutex> hold(lock);
            answers.insert(answers.end(), more.begin(), more.end());
        }
        if (!::ResetEvent(settled) || !::SetEvent(to ? to : change.load())) return false;
        return !settle || ::WaitForSingleObject(settled, 10000) == WAIT_OBJECT_0;
    }
    bool Joined() {  // every thread started has ended
        return std::all_of(threads.begin(), threads.end(), [](HANDLE t) { return ::WaitForSingleObject(t, 10000) == WAIT_OBJECT_0; });
    }
    std::string Told() {
        std::lock_guard<std::recursive_mutex> hold(lock);
        return told;
    }
    static void WINAPI Record(LPVOID context, LPCWSTR text, DWORD field) {
        calling = intptr_t(context);
        if (self->act) self->act();
        std::lock_guard<std::recursive_mutex> hold(self->lock);
        self->told += std::to_string(intptr_t(context)) + "/" + std::to_string(field) + " " + testsupport::Narrow(text) + "; ";
    }
    void Gate() { ::SignalObjectAndWait(entered, release, 10000, FALSE); }

    static platform::SpoolerApi Spooler() {
        platform::SpoolerApi api = platform::spooler;
        api.FindFirstPrinterChangeNotification = [](HANDLE, DWORD filter, DWORD options, LPVOID notify) -> HANDLE {
            // Changes are asked for by field lists alone: every printer field, then every job field, in order.
            const auto* asked = static_cast<const PRINTER_NOTIFY_OPTIONS*>(notify);
            EXPECT_TRUE(filter == 0 && options == 0 && asked->Version == 2 && asked->Count == 2);
            for (WORD t = 0; t < 2; ++t) {
                EXPECT_TRUE(asked->pTypes[t].Type == t && asked->pTypes[t].Count == (t ? kJobNotifyFields : kPrinterNotifyFields));
                for (WORD f = 0; f < asked->pTypes[t].Count; ++f) EXPECT_EQ(asked->pTypes[t].pFields[f], f) << t;
            }
            if (self->refuse) return ::SetLastError(self->refuse), INVALID_HANDLE_VALUE;
            ++self->open;
            return self->change = ::CreateEventW(nullptr, self->flood, self->flood, nullptr);
        };
        api.FindNextPrinterChangeNotification = [](HANDLE, PDWORD, LPVOID options, LPVOID* info) -> BOOL {
            std::lock_guard<std::recursive_mutex> hold(self->lock);
            self->fetchFlags.push_back(options ? static_cast<PRINTER_NOTIFY_OPTIONS*>(options)->Flags : 0);
            if (self->flood) self->answers.push_back(kComment);
            if (self->answers.empty()) ADD_FAILURE() << "fetched more often than scripted";
            const Answer next = self->answers.empty() ? Answer{{}, 0, ERROR_NO_MORE_ITEMS} : self->answers.front();
            if (!self->answers.empty()) self->answers.pop_front();
            ::SetLastError(next.error);
            if (next.error) return FALSE;
            const DWORD count = static_cast<DWORD>(next.entries.size());
            auto* out = reinterpret_cast<PPRINTER_NOTIFY_INFO>(new BYTE[sizeof(PRINTER_NOTIFY_INFO) + count * sizeof(PRINTER_NOTIFY_INFO_DATA)]);
            *out = {2, next.flags, count, {}};
            std::copy(next.entries.begin(), next.entries.end(), out->aData);
            ++self->open;
            *info = out;
            return TRUE;
        };
        api.FreePrinterNotifyInfo = [](PPRINTER_NOTIFY_INFO info) -> BOOL {
            --self->open;
            delete[] reinterpret_cast<BYTE*>(info);
            return TRUE;
        };
        api.FindClosePrinterChangeNotification = [](HANDLE change) -> BOOL {
            EXPECT_GT(self->env.fake.OpenPrinterHandles(), 0) << "a change handle outlived its printer handle";
            --self->open;
            return ::CloseHandle(change);
        };
        return api;
    }
    static platform::KernelApi Kernel() {
        platform::KernelApi api = platform::kernel;
        api.CreateEventW = [](LPSECURITY_ATTRIBUTES, BOOL manual, BOOL initial, LPCWSTR name) {
            ++self->open;
            return ::CreateEventW(nullptr, manual, initial, name);
        };
        api.CreateThread = [](LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID arg, DWORD flags, LPDWORD id) {
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            if (self->noThread) return HANDLE();
            std::lock_guard<std::recursive_mutex> hold(self->lock);
            ++self->open;
            HANDLE thread = ::CreateThread(nullptr, 0, start, arg, flags, id);
            ::DuplicateHandle(::GetCurrentProcess(), thread, ::GetCurrentProcess(), &self->threads.emplace_back(), SYNCHRONIZE, FALSE, 0);
            return thread;
        };
        api.CloseHandle = [](HANDLE handle) {
            --self->open;
            return ::CloseHandle(handle);
        };
        api.WaitForMultipleObjects = [](DWORD count, const HANDLE* waited, BOOL all, DWORD ms) {
            RunOnce();
            if (consumed) ::SetEvent(self->settled);
            if (self->failWait.exchange(false)) return DWORD(WAIT_FAILED);
            const DWORD result = ::WaitForMultipleObjects(count, waited, all, ms);
            consumed = result == WAIT_OBJECT_0 + 1;
            return result;
        };
        // A scripted time-out ends the next wait that has one, at once.
        api.WaitForSingleObject = [](HANDLE h, DWORD ms) {
            return TimedOut(ms) ? DWORD(WAIT_TIMEOUT) : ::WaitForSingleObject(h, ms);
        };
        api.SleepConditionVariableCS = [](PCONDITION_VARIABLE condition, PCRITICAL_SECTION cs, DWORD ms) {
            if (TimedOut(ms)) return ::SetLastError(ERROR_TIMEOUT), FALSE;
            const BOOL woken = ::SleepConditionVariableCS(condition, cs, ms);
            if (std::function<void()> run = Take(self->afterWake)) ::LeaveCriticalSection(cs), run(), ::EnterCriticalSection(cs);
            return woken;
        };
        api.Sleep = [](DWORD ms) { self->slept += ms; };
        return api;
    }
    static std::function<void()> Take(std::function<void()>& hook) {
        std::lock_guard<std::recursive_mutex> hold(self->lock);
        return std::exchange(hook, nullptr);
    }
    static void RunOnce() {
        if (std::function<void()> run = Take(self->beforeWait)) run();
    }
    // Runs beforeWait, notes the bound; true when a scripted time-out ends this
    // wait at once (only a wait with a bound can time out).
    static bool TimedOut(DWORD ms) {
        RunOnce();
        std::lock_guard<std::recursive_mutex> hold(self->lock);
        self->bounds.push_back(ms);
        return ms != INFINITE && self->timeOut.exchange(false);
    }
};

// Registration numbers and removals; every answer of the spooler and every
// kind of traced value once: a failed wait and a failed fetch paused after, a
// string, a number, a line of its own and no value, fields out of the tables
// and an unknown type, discarded information fetched again (and a refresh
// that fails), a fetch beyond the script, a callback that throws.
TEST_F(PrinterNotify, RegistrationsDeliveryAndAnswers) {
    auto p = Make();
    EXPECT_EQ(p->RegisterForPrinterNotify(0, nullptr, nullptr), 0u);
    for (DWORD id : {1u, 2u}) EXPECT_EQ(p->RegisterForPrinterNotify(0, Record, LPVOID(uintptr_t(id))), id);
    EXPECT_TRUE(p->UnregisterForPrinterNotify(1));
    for (DWORD id : {1u, 3u, 0u}) EXPECT_FALSE(p->UnregisterForPrinterNotify(id));
    failWait = true;
    p->StartPrinterNotifyThread();
    p->StartPrinterNotifyThread();  // refused: the first one's thread goes on alone
    for (const auto& answers : std::vector<std::vector<Answer>>{
             {{{}, 0, ERROR_INVALID_HANDLE}},
             {kComment},
             {{{Entry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, nullptr, JOB_STATUS_PRINTING), Entry(PRINTER_NOTIFY_TYPE, 27),
                Entry(JOB_NOTIFY_TYPE, 24), Entry(9, 1), Entry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_DEVMODE),
                Entry(PRINTER_NOTIFY_TYPE, PRINTER_NOTIFY_FIELD_SERVER_NAME)}}},
             {{kComment.entries, PRINTER_NOTIFY_INFO_DISCARDED}, {{Entry(PRINTER_NOTIFY_TYPE, 6, L"Lab")}}},
             {{kComment.entries, PRINTER_NOTIFY_INFO_DISCARDED}, {{}, 0, ERROR_INVALID_HANDLE}}})
        ASSERT_TRUE(Send(answers));
    EXPECT_EQ(Told(), "2/5 Printer comment changed; 2/10 Job status changed; 2/9 Job devmode changed; "
                      "2/0 Printer server name changed; 2/6 Printer location changed; ");
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(p->lstChanges.size(), 6u);
    EXPECT_EQ(fetchFlags, (std::vector<DWORD>{0, 0, 0, 0, 1, 0, 1}));  // 1: PRINTER_NOTIFY_OPTIONS_REFRESH
    EXPECT_EQ(slept, 2000);                                            // a second after the failed wait and fetch each
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(Send({}), "fetched more often than scripted");
    act = [] { throw std::bad_alloc(); };
    ASSERT_TRUE(Send({kComment}) && Send({kComment}));  // the thread goes on after a throw
    const Lines lines = env.trace.Lines();
    const std::string t = "PrinterNotifyThread => ";
    for (const char* once : {"16", "JOB_NOTIFY_FIELD_DEVMODE", "8; Lab"}) EXPECT_EQ(CountOf(lines, t + once), 1) << once;
    EXPECT_TRUE(Has(env.trace, {t + "Printer server name changed", t + "freeing notification info"}));  // no value traced
    p->dwLastNotifyId = MAXDWORD - 1;  // the numbers do not wrap round to 0 or to 1
    for (DWORD id : {MAXDWORD, 0u, 0u}) EXPECT_EQ(p->RegisterForPrinterNotify(0, Record, nullptr), id);
}

// A callback stops, destroys or leaves its object: the call returns at once,
// and nothing more is delivered (leaving: to it).
TEST_F(PrinterNotify, CallbackStopsDestroysOrUnregisters) {
    Printer p;
    const std::string comment = "/5 Printer comment changed; ", location = "/6 Printer location changed; ";
    for (const auto& [action, goesOn, expected] : std::vector<std::tuple<std::function<void()>, bool, std::string>>{
             {[&] { p->StopPrinterNotifyThread(); }, false, "1" + comment},
             {[&] { p.reset(); }, false, "1" + comment},
             {[&] { p->UnregisterForPrinterNotify(1); }, true, "1" + comment + "2" + comment + "2" + location}}) {
        told.clear();
        act = action;
        p = Make();
        p->RegisterForPrinterNotify(0, Record, LPVOID(1));
        p->RegisterForPrinterNotify(0, Record, LPVOID(2));
        p->StartPrinterNotifyThread();
        ASSERT_TRUE(Send({kTwo}, goesOn) && (goesOn || Joined()));
        EXPECT_EQ(Told(), expected);
    }
    EXPECT_EQ(CountOf(env.trace.Lines(), "CPrinter::StopPrinterNotifyThread => called from the notify thread, not waiting for it"), 2);
}

// Off the notify threads a removal waits for the call of its registration
// under way however long it takes, and not for the next call (whose callback
// may be waiting for the remover); a stop waits for the callback, then at
// most 5 s for the thread. A thread that outlived that wait keeps its printer
// handle: the next start opens one of its own.
TEST_F(PrinterNotify, StopAndRemovalWaitForTheCallsTheySaw) {
    auto p = Make();
    act = [this] { Gate(); };
    for (intptr_t context : {1, 2}) p->RegisterForPrinterNotify(0, Record, LPVOID(context));
    p->StartPrinterNotifyThread();
    Send({kComment}, false);
    ASSERT_EQ(::WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);
    timeOut = true;                                                  // for the stop's wait for the thread
    beforeWait = [this] { ::SetEvent(release); };                    // 1 returns while the removal waits,
    afterWake = [this] { ::WaitForSingleObject(entered, 10000); };  // and 2 is called before it looks again
    EXPECT_TRUE(p->UnregisterForPrinterNotify(1));
    EXPECT_EQ(Told(), "1/5 Printer comment changed; ");
    beforeWait = [this] { ::SetEvent(release); };
    p->StopPrinterNotifyThread();
    EXPECT_EQ(Told(), "1/5 Printer comment changed; 2/5 Printer comment changed; ");
    EXPECT_EQ(bounds, (std::vector<DWORD>{INFINITE, INFINITE, 5000}));
    const int opened = env.fake.Count(fake::Op::OpenPrinter);
    p->StartPrinterNotifyThread();
    EXPECT_EQ(env.fake.Count(fake::Op::OpenPrinter), opened + 1);
}

// On a notify thread (B's callback) the stop and the destructor of A wait at
// most 5 s: A's thread, inside A's callback, outlives them. A removal from
// another thread still waits for that call, and reads nothing of A after it
// (the callback destroyed A); once A is destroyed by B, its late thread writes
// no line.
TEST_F(PrinterNotify, ALateThreadOfANotifyThreadsStop) {
    Printer a, b = Make(4, false);
    bool destroy = false;
    size_t lines = 0;
    act = [&] {
        if (calling == 1) return Gate(), destroy ? void() : a.reset();
        timeOut = true;
        destroy ? a.reset() : a->StopPrinterNotifyThread();
        lines = env.trace.Lines().size();
    };
    b->RegisterForPrinterNotify(0, Record, LPVOID(2));
    b->StartPrinterNotifyThread();
    const HANDLE toB = change;
    for (bool last : {false, true}) {
        destroy = last;
        if (!a) a = Make(3);
        a->RegisterForPrinterNotify(0, Record, LPVOID(1));
        a->StartPrinterNotifyThread();
        Send({kComment}, false);
        ASSERT_EQ(::WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);
        ASSERT_TRUE(Send({kComment}, true, toB));
        if (!last) {
            beforeWait = [this] { ::SetEvent(release); };
            EXPECT_TRUE(a->UnregisterForPrinterNotify(1));  // a is read before the callback may destroy it
            EXPECT_EQ(Told(), "2/5 Printer comment changed; 1/5 Printer comment changed; ");
        }
    }
    ::SetEvent(release);
    ASSERT_EQ(::WaitForSingleObject(threads.back(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(Has(env.trace.Lines(), "CPrinter::StopPrinterNotifyThread => notify thread has not ended, keeping its handles"));
    EXPECT_EQ(env.trace.Lines().size(), lines);
    EXPECT_EQ(bounds, (std::vector<DWORD>{5000, INFINITE, 5000}));
}

// Two objects of one notify id: B starts (and resets the named event) after A
// has signalled its stop and before A's thread waits again; A's thread still
// ends within A's stop.
TEST_F(PrinterNotify, AStartCannotSwallowAnotherObjectsStop) {
    auto a = Make(3);
    auto b = Make(3);
    a->RegisterForPrinterNotify(0, Record, LPVOID(1));
    b->RegisterForPrinterNotify(0, Record, LPVOID(2));
    a->StartPrinterNotifyThread();
    ASSERT_TRUE(Send({kComment}));  // the thread waits
    beforeWait = [this] { Gate(); };  // after the next change
    Send({kComment}, false);
    ASSERT_EQ(::WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);
    beforeWait = [&] {
        b->StartPrinterNotifyThread();
        ::SetEvent(release);
    };
    a->StopPrinterNotifyThread();
    EXPECT_EQ(::WaitForSingleObject(threads[0], 0), WAIT_OBJECT_0);
    ASSERT_TRUE(Send({kComment}));  // B runs
    EXPECT_EQ(Told(), "1/5 Printer comment changed; 1/5 Printer comment changed; 2/5 Printer comment changed; ");
}

// Four threads register, start, remove and stop on two objects whose callbacks
// register and remove on each other's object, while the spooler reports changes
// without pause: no call after its removal returned, no removal misses, no deadlock.
TEST_F(PrinterNotify, ConcurrentRegistrationsStartsAndStops) {
    constexpr int kRounds = 750;  // per thread
    flood = true;
    CPrinter printers[2] = {{nullptr, L"P", 1, 1}, {nullptr, L"P", 1, 2}};  // no log: a line per call would be all they do
    auto gone = std::make_unique<std::atomic<bool>[]>(4 * kRounds);         // registration removed: not to be called
    for (int i : {0, 1}) {
        printers[i].RegisterForPrinterNotify(0, [](LPVOID other, LPCWSTR, DWORD) {
            auto* target = static_cast<CPrinter*>(other);
            target->UnregisterForPrinterNotify(target->RegisterForPrinterNotify(0, [](LPVOID, LPCWSTR, DWORD) {}, nullptr));
        }, &printers[1 - i]);
        printers[i].StartPrinterNotifyThread();
    }
    std::vector<std::jthread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            for (int round = 0; round < kRounds; ++round) {
                std::atomic<bool>& removed = gone[w * kRounds + round];
                const DWORD id = printers[w % 2].RegisterForPrinterNotify(
                    0, [](LPVOID slot, LPCWSTR, DWORD) { EXPECT_FALSE(*static_cast<std::atomic<bool>*>(slot)); }, &removed);
                printers[w % 2].StartPrinterNotifyThread();
                EXPECT_TRUE(printers[w % 2].UnregisterForPrinterNotify(id));
                removed = true;
                if (round % 8 == 7) printers[w % 2].StopPrinterNotifyThread();  // threads that live a while call across
            }
        });
    workers.clear();  // joins them
    for (CPrinter& printer : printers) printer.StopPrinterNotifyThread();
    for (CPrinter& printer : printers) EXPECT_EQ(printer.vecNotify.size(), 1u);
}

// kvwatch's exit code for each way a start can end.
TEST_F(PrinterNotify, KvWatchTellsWhatFailed) {
    enum Arrange { kNothing, kNoNotification, kDenied, kNoThread, kNoMemory };
    for (const auto& [name, arrange, expected] : std::vector<std::tuple<const WCHAR*, Arrange, KvWatchExit>>{
             {L"P", kNothing, kWatchOk}, {L"Nobody", kNothing, kWatchNoPrinter}, {L"P", kNoNotification, kWatchNoNotification},
             {L"P", kDenied, kWatchOther}, {L"P", kNoThread, kWatchOther}, {L"P", kNoMemory, kWatchOther}}) {
        CPrinter printer(nullptr, name, 1, 1);
        refuse = arrange == kNoNotification ? ERROR_NOT_SUPPORTED : arrange == kDenied ? ERROR_ACCESS_DENIED : 0;
        noThread = arrange == kNoThread;
        if (arrange == kNoMemory) heap.emplace(0);  // the next block asked for is refused
        printer.StartPrinterNotifyThread();
        EXPECT_EQ(KvWatchOutcome(printer), expected) << arrange;
        heap.reset();
    }
    heap.emplace();
}

}  // namespace
