// Change notification against the fake print system with scripted changes:
// registrations, delivery and answers, life and time-outs, concurrency. Each
// test starts from a fresh fake and recorder.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <tuple>
#include <thread>

#include "fake/fake_notify.h"
#include "printer_fixture.h"
#include "support/heap_counter.h"
#include "tools/kvwatch_outcome.h"

namespace {

using namespace printer_test;
using fake::Entry;
using fake::NotifyAnswer;

const NotifyAnswer kComment = {{Entry(PRINTER_NOTIFY_TYPE, PRINTER_NOTIFY_FIELD_COMMENT, L"Second floor")}};
const NotifyAnswer kTwo = {{Entry(PRINTER_NOTIFY_TYPE, 5, L"A"), Entry(PRINTER_NOTIFY_TYPE, 6, L"B")}};  // comment, location

class PrinterNotify : public testing::Test {
protected:
    static inline PrinterNotify* self = nullptr;
    Env env;
    fake::FakeNotify notify;
    std::mutex lock;
    std::string told;            // "context/field text; " per call
    std::function<void()> act;   // what Act does after recording
    HANDLE entered = ::CreateEventW(nullptr, FALSE, FALSE, nullptr), release = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::optional<testsupport::HeapCounter> heap{std::in_place};

    PrinterNotify() { self = this, env.fake.AddPrinter(L"P"); }
    ~PrinterNotify() override { ::CloseHandle(entered), ::CloseHandle(release); }
    // Every thread ended, every handle closed and every block freed.
    void TearDown() override {
        EXPECT_TRUE(notify.Joined() && notify.Clean() && env.fake.OpenPrinterHandles() == 0 && heap->Live() == 0);
    }
    std::unique_ptr<CPrinter> Make(DWORD id = 7) { return std::make_unique<CPrinter>(env.trace.log(), L"P", 1, id); }
    std::string Told() { return std::lock_guard<std::mutex>(lock), told; }
    static void WINAPI Record(LPVOID context, LPCWSTR text, DWORD field) {
        std::lock_guard<std::mutex> hold(self->lock);
        self->told += std::to_string(intptr_t(context)) + "/" + std::to_string(field) + " " + testsupport::Narrow(text) + "; ";
    }
    static void WINAPI Act(LPVOID context, LPCWSTR text, DWORD field) { Record(context, text, field), self->act(); }
    static void WINAPI Hold(LPVOID context, LPCWSTR text, DWORD field) {
        ::SignalObjectAndWait(self->entered, self->release, 10000, FALSE), Record(context, text, field);
    }
};

TEST_F(PrinterNotify, RegistrationNumbersAndRemovalAnswers) {
    auto p = Make();
    EXPECT_EQ(p->RegisterForPrinterNotify(0, nullptr, nullptr), 0u);
    for (DWORD id : {1u, 2u, 3u}) EXPECT_EQ(p->RegisterForPrinterNotify(0, Record, nullptr), id);
    EXPECT_TRUE(p->UnregisterForPrinterNotify(2));
    EXPECT_EQ(p->RegisterForPrinterNotify(0, Record, nullptr), 4u);
    for (DWORD id : {2u, 5u, 0u}) EXPECT_FALSE(p->UnregisterForPrinterNotify(id));
    p->StopPrinterNotifyThread(), p.reset();
    const std::string u = "CPrinter::UnregisterForPrinterNotify => ";
    EXPECT_TRUE(InOrder(env.trace.Lines(), {"CPrinter::RegisterForPrinterNotify => no notify function passed in", u + "notify ID not found",
                                            u + "notify ID out of range", u + "notify ID out of range",
                                            "CPrinter::StopPrinterNotifyThread => already stopped?"}));
}

// Every answer of the spooler and every kind of traced value once: a failed
// wait and a failed fetch retried after a pause, a string, a number, a line of
// its own and no value, fields out of the tables and an unknown type, discarded
// information fetched again (and a refresh that fails), a callback that throws.
TEST_F(PrinterNotify, DeliveryAndAnswers) {
    auto p = Make();
    for (intptr_t id : {1, 2, 3}) p->RegisterForPrinterNotify(0, Record, LPVOID(id * 10));
    p->UnregisterForPrinterNotify(2);
    notify.failWaits = 1;
    p->StartPrinterNotifyThread(), p->StartPrinterNotifyThread();  // the second is refused
    for (const auto& answers : std::vector<std::vector<NotifyAnswer>>{
             {{{}, 0, ERROR_INVALID_HANDLE}},
             {kComment},
             {{{Entry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, nullptr, JOB_STATUS_PRINTING, 9), Entry(PRINTER_NOTIFY_TYPE, 27),
                Entry(JOB_NOTIFY_TYPE, 24), Entry(9, 1), Entry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_DEVMODE),
                Entry(PRINTER_NOTIFY_TYPE, PRINTER_NOTIFY_FIELD_SERVER_NAME)}}},
             {{kComment.entries, PRINTER_NOTIFY_INFO_DISCARDED}, {{Entry(PRINTER_NOTIFY_TYPE, 6, L"Lab")}}},
             {{kComment.entries, PRINTER_NOTIFY_INFO_DISCARDED}, {{}, 0, ERROR_INVALID_HANDLE}}})
        ASSERT_TRUE(notify.Send(answers));
    EXPECT_EQ(Told(), "10/5 Printer comment changed; 30/5 Printer comment changed; 10/10 Job status changed; "
                      "30/10 Job status changed; 10/9 Job devmode changed; 30/9 Job devmode changed; "
                      "10/0 Printer server name changed; 30/0 Printer server name changed; "
                      "10/6 Printer location changed; 30/6 Printer location changed; ");
    EXPECT_EQ(p->lstChanges.size(), 11u);
    EXPECT_EQ(notify.nextFlags, (std::vector<DWORD>{0, 0, 0, 0, 1, 0, 1}));  // 1: PRINTER_NOTIFY_OPTIONS_REFRESH
    EXPECT_EQ(notify.sleeps, (std::vector<DWORD>{1000, 1000}));              // after the failed wait and fetch
    // A fetch beyond the script fails the test, not the process.
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(notify.Send({}), "fetched more often than scripted");
    act = [] { throw std::bad_alloc(); };
    p->RegisterForPrinterNotify(0, Act, LPVOID(4));
    ASSERT_TRUE(notify.Send({kComment}) && notify.Send({kComment}));  // the thread goes on after a throw
    p.reset();
    const Lines lines = env.trace.Lines();
    const std::string t = "PrinterNotifyThread => ";
    EXPECT_TRUE(Has(lines, t + "wait failed?") &&
                Has(lines, "CPrinter::StartPrinterNotifyThread => already have a notification going, no more allowed"));
    EXPECT_TRUE(InOrder(lines, {t + "failed to get notification info", t + "26; Second floor", t + "JOB_NOTIFY_TYPE; job 9", t + "16",
                                t + "field: 27", t + "field: 24", t + "unknown type", t + "JOB_NOTIFY_FIELD_DEVMODE",
                                t + "Printer server name changed", t + "freeing notification info",
                                t + "failed to get complete notification info", t + "8; Lab",
                                t + "failed to get complete notification info", t + "no notification info, nothing delivered"}));
    for (const char* once : {"16", "JOB_NOTIFY_FIELD_DEVMODE", "8; Lab"}) EXPECT_EQ(CountOf(lines, t + once), 1) << once;
    const auto none = std::find(lines.begin(), lines.end(), t + "Printer server name changed");  // no value traced
    ASSERT_TRUE(none + 1 < lines.end() && none[1] == t + "freeing notification info");
    EXPECT_EQ(CountOf(lines, t + "exception occurred during delivery"), 2);
}

// A callback stops, destroys or leaves its object: the call returns at once,
// and nothing more is delivered (leaving: to it).
TEST_F(PrinterNotify, CallbackStopsDestroysOrUnregisters) {
    std::unique_ptr<CPrinter> p;
    const std::string comment = "/5 Printer comment changed; ", location = "/6 Printer location changed; ";
    for (const auto& [action, goesOn, expected] : std::vector<std::tuple<std::function<void()>, bool, std::string>>{
             {[&] { p->StopPrinterNotifyThread(); }, false, "1" + comment},
             {[&] { p.reset(); }, false, "1" + comment},
             {[&] { p->UnregisterForPrinterNotify(1); }, true, "1" + comment + "2" + comment + "2" + location}}) {
        told.clear(), act = action, p = Make();
        p->RegisterForPrinterNotify(0, Act, LPVOID(1)), p->RegisterForPrinterNotify(0, Record, LPVOID(2));
        p->StartPrinterNotifyThread();
        ASSERT_TRUE(notify.Send({kTwo}, goesOn) && (goesOn || notify.Joined()));
        EXPECT_EQ(Told(), expected);
        p.reset();
    }
    EXPECT_EQ(CountOf(env.trace.Lines(), "CPrinter::StopPrinterNotifyThread => called from the notify thread, not waiting for it"), 2);
}

// A removal waits for a call of its registration that has begun. A stop that
// gives up waiting for a slow callback: the rest of that change is not
// delivered, and the thread closes its handles once the callback returns.
TEST_F(PrinterNotify, NothingStartsAfterStopOrRemovalReturns) {
    auto p = Make();
    p->RegisterForPrinterNotify(0, Hold, LPVOID(1));
    p->StartPrinterNotifyThread();
    notify.Send({kComment}, false);
    ASSERT_EQ(::WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);
    notify.beforeTimedWait = [&] { ::SetEvent(release); };  // the call returns while the removal waits
    EXPECT_TRUE(p->UnregisterForPrinterNotify(1));
    Record(nullptr, L"removed", 0);
    ASSERT_EQ(::WaitForSingleObject(notify.settled, 10000), WAIT_OBJECT_0);
    p->RegisterForPrinterNotify(0, Record, LPVOID(2)), p->RegisterForPrinterNotify(0, Hold, LPVOID(3));
    notify.Send({kTwo}, false);
    ASSERT_EQ(::WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);
    notify.timeOuts = 1, p->StopPrinterNotifyThread();
    Record(nullptr, L"stopped", 0);
    ::SetEvent(release);
    ASSERT_TRUE(notify.Joined());
    EXPECT_EQ(Told(), "1/5 Printer comment changed; 0/0 removed; 2/5 Printer comment changed; 0/0 stopped; 3/5 Printer comment changed; ");
    EXPECT_TRUE(Has(env.trace.Lines(), "CPrinter::StopPrinterNotifyThread => notify thread has not ended, keeping its handles"));
    p.reset();
}

// Two objects of one notify id: B starts (and resets the named event) after A
// has signalled its stop and before A's thread waits again; A's thread still
// ends within A's stop.
TEST_F(PrinterNotify, AStartCannotSwallowAnotherObjectsStop) {
    auto a = Make(3), b = Make(3);
    a->RegisterForPrinterNotify(0, Record, LPVOID(1)), b->RegisterForPrinterNotify(0, Record, LPVOID(2));
    a->StartPrinterNotifyThread();
    HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(notify.Send({kComment}));  // the thread waits
    notify.beforeWait = [&] { ::SignalObjectAndWait(entered, go, 10000, FALSE); };  // after the next change
    notify.Send({kComment}, false);
    ASSERT_EQ(::WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);
    notify.beforeTimedWait = [&] { b->StartPrinterNotifyThread(), ::SetEvent(go); };
    a->StopPrinterNotifyThread();
    EXPECT_FALSE(Has(env.trace.Lines(), "CPrinter::StopPrinterNotifyThread => notify thread has not ended, keeping its handles"));
    ASSERT_TRUE(notify.Send({kComment}));  // B runs
    EXPECT_EQ(Told(), "1/5 Printer comment changed; 1/5 Printer comment changed; 2/5 Printer comment changed; ");
    a.reset(), b.reset(), ::CloseHandle(go);
}

// Four threads register, start, remove and stop on two objects whose callbacks
// register and remove on each other's object, while the spooler reports changes
// without pause. No call starts after its removal returned, no removal misses,
// nothing deadlocks and everything comes back.
TEST_F(PrinterNotify, ConcurrentRegistrationsStartsAndStops) {
    constexpr int kRounds = 750;  // per thread
    notify.flood = true;
    // No log: a line per call would be all the test does.
    std::unique_ptr<CPrinter> printers[2] = {std::make_unique<CPrinter>(nullptr, L"P", 1, 1), std::make_unique<CPrinter>(nullptr, L"P", 1, 2)};
    static std::atomic<int> late, missed;
    late = missed = 0;
    static std::atomic<bool> gone[4][kRounds];  // registration removed: not to be called
    for (auto& row : gone) std::fill(std::begin(row), std::end(row), false);
    static CPrinter* other[2];
    other[0] = printers[1].get(), other[1] = printers[0].get();
    auto cross = [](LPVOID which, LPCWSTR, DWORD) {
        CPrinter* target = other[intptr_t(which)];
        target->UnregisterForPrinterNotify(target->RegisterForPrinterNotify(0, [](LPVOID, LPCWSTR, DWORD) {}, nullptr));
    };
    for (intptr_t i : {0, 1}) printers[i]->RegisterForPrinterNotify(0, cross, LPVOID(i)), printers[i]->StartPrinterNotifyThread();
    {
        std::vector<std::jthread> workers;
        for (int w = 0; w < 4; ++w)
            workers.emplace_back([&, w] {
                CPrinter& p = *printers[w % 2];
                for (int round = 0; round < kRounds; ++round) {
                    const DWORD id = p.RegisterForPrinterNotify(0, [](LPVOID slot, LPCWSTR, DWORD) { late += *static_cast<std::atomic<bool>*>(slot); },
                                                                &gone[w][round]);
                    p.StartPrinterNotifyThread();
                    missed += !p.UnregisterForPrinterNotify(id);
                    gone[w][round] = true;
                    if (round % 8 == 7) p.StopPrinterNotifyThread();  // threads that live a while call across
                }
            });
    }
    EXPECT_EQ(late, 0);
    EXPECT_EQ(missed, 0);
    for (auto& printer : printers) printer->StopPrinterNotifyThread();
    for (auto& printer : printers) EXPECT_EQ(printer->vecNotify.size(), 1u), printer.reset();
}

// kvwatch's exit code for each way a start can end.
TEST_F(PrinterNotify, KvWatchTellsWhatFailed) {
    enum Arrange { kNothing, kNoNotification, kNoThread, kNoMemory };
    for (const auto& [name, arrange, expected] : std::vector<std::tuple<const WCHAR*, Arrange, KvWatchExit>>{
             {L"P", kNothing, kWatchOk}, {L"Nobody", kNothing, kWatchNoPrinter}, {L"P", kNoNotification, kWatchNoNotification},
             {L"P", kNoThread, kWatchOther}, {L"P", kNoMemory, kWatchOther}}) {
        CPrinter printer(nullptr, name, 1, 1);
        notify.noNotification = arrange == kNoNotification;
        notify.failThreads = arrange == kNoThread;
        if (arrange == kNoMemory) heap.emplace(0);
        printer.StartPrinterNotifyThread();
        EXPECT_EQ(KvWatchOutcome(printer), expected) << arrange;
        heap.reset();
    }
    heap.emplace();
}

}  // namespace
