// Change notification of the printer object against the fake print system
// with scripted notification: registrations, what the thread delivers for each
// answer of the spooler, and the thread's life against registrations and
// removals from other threads, stops, restarts and the destructor.
#include <gtest/gtest.h>

#include <new>
#include <thread>

#include "fake/fake_notify.h"
#include "printer_fixture.h"
#include "support/heap_counter.h"

namespace {

using namespace printer_test;
using fake::NotifyAnswer;

// What the callbacks were told, as "context/field text; ...". Written by the
// notification thread, read once it waits again.
std::string g_told;
void WINAPI Record(LPVOID context, LPCWSTR text, DWORD field) {
    g_told += std::to_string(intptr_t(context)) + "/" + std::to_string(field) + " " + testsupport::Narrow(text) + "; ";
}
// Holds the notification thread until g_release is set.
HANDLE g_entered = ::CreateEventW(nullptr, 0, 0, nullptr), g_release = ::CreateEventW(nullptr, 0, 0, nullptr);
void WINAPI Hold(LPVOID, LPCWSTR, DWORD) { ::SignalObjectAndWait(g_entered, g_release, 10000, FALSE); }
void WINAPI Throw(LPVOID, LPCWSTR, DWORD) { throw std::bad_alloc(); }

PRINTER_NOTIFY_INFO_DATA Entry(WORD type, WORD field, const WCHAR* text, DWORD number = 0, DWORD job = 0) {
    PRINTER_NOTIFY_INFO_DATA data = {type, field, 0, job, {{number, 0}}};
    if (text) data.NotifyData.Data = {static_cast<DWORD>(wcslen(text) + 1) * 2, const_cast<WCHAR*>(text)};
    return data;
}
const NotifyAnswer kComment = {{Entry(PRINTER_NOTIFY_TYPE, PRINTER_NOTIFY_FIELD_COMMENT, L"Second floor")}};

// One object through a life: registration numbers and removal answers, a stop
// before any start, a second start refused, a failed wait and a failed fetch
// retried after a pause, a comment, a job status change with fields out of the
// tables, discarded information fetched again (and a refresh that fails), a
// stop that ends the waiting thread and a new start; then registrations from
// four threads at once, numbered without gaps in the order kept, and a removal
// while the thread is inside a callback, which waits until that delivery has
// ended; a stop that gives up on that thread keeps its handles and refuses a
// start until it has ended (which it does after that delivery, even with the
// stop event reset by another object), and a start after that runs a new one.
// Once the object is gone, every thread it started has ended and every block
// and handle is back.
TEST(PrinterNotify, RegistrationsDeliveriesAndTheThreadsLife) {
    Env env;
    fake::FakeNotify notify;
    env.fake.AddPrinter(L"P");
    testsupport::HeapCounter heap;
    auto p = std::make_unique<CPrinter>(env.trace.log(), L"P", 1, 7);
    EXPECT_EQ(p->RegisterForPrinterNotify(0, nullptr, nullptr), 0u);
    for (intptr_t id : {1, 2, 3}) EXPECT_EQ(p->RegisterForPrinterNotify(0, Record, LPVOID(id * 10)), DWORD(id));
    EXPECT_TRUE(p->UnregisterForPrinterNotify(2));
    for (DWORD id : {2u, 4u, 0u}) EXPECT_FALSE(p->UnregisterForPrinterNotify(id));
    p->StopPrinterNotifyThread();
    notify.failWaits = 1;
    for (int start = 0; start < 2; ++start) p->StartPrinterNotifyThread();  // the second is refused
    for (const auto& answers : std::vector<std::vector<NotifyAnswer>>{
             {{{}, 0, ERROR_INVALID_HANDLE}},
             {kComment},
             {{{Entry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, nullptr, JOB_STATUS_PRINTING, 9),
                Entry(PRINTER_NOTIFY_TYPE, 27, nullptr), Entry(JOB_NOTIFY_TYPE, 24, nullptr), Entry(9, 1, nullptr)}}},
             {{kComment.entries, PRINTER_NOTIFY_INFO_DISCARDED}, {{Entry(PRINTER_NOTIFY_TYPE, 6, L"Lab")}}},
             {{kComment.entries, PRINTER_NOTIFY_INFO_DISCARDED}, {{}, 0, ERROR_INVALID_HANDLE}}})
        ASSERT_TRUE(notify.Send(answers));
    EXPECT_EQ(g_told, "10/5 Printer comment changed; 30/5 Printer comment changed; 10/10 Job status changed; "
                      "30/10 Job status changed; 10/6 Printer location changed; 30/6 Printer location changed; ");
    EXPECT_EQ(p->lstChanges.size(), 7u);
    EXPECT_EQ(notify.nextFlags, (std::vector<DWORD>{0, 0, 0, 0, 1, 0, 1}));  // 1: PRINTER_NOTIFY_OPTIONS_REFRESH
    EXPECT_EQ(notify.sleeps, (std::vector<DWORD>{1000, 1000}));              // after the failed wait and fetch
    Lines expected = {"CPrinter => event: Local\\PrinterNotify_7", "CPrinter::UnregisterForPrinterNotify => notify ID not found",
                      "CPrinter::UnregisterForPrinterNotify => notify ID out of range",
                      "CPrinter::StopPrinterNotifyThread => already stopped?"};
    for (const char* line : {"26; Second floor", "JOB_NOTIFY_TYPE; job 9", "16", "field: 27", "field: 24", "unknown type",
                             "failed to get complete notification info", "8; Lab", "failed to get complete notification info",
                             "no notification info, nothing delivered"})
        expected.push_back(std::string("PrinterNotifyThread => ") + line);
    EXPECT_TRUE(InOrder(env.trace.Lines(), expected));
    p->StopPrinterNotifyThread();  // the waiting thread ends at its stop signal; a new one starts
    EXPECT_EQ(p->hNotifyThread, nullptr);
    p->StartPrinterNotifyThread();

    p->RegisterForPrinterNotify(0, Hold, nullptr);  // 4
    {
        std::vector<std::jthread> threads;  // joined at the end of the block
        for (intptr_t t = 5; t <= 8; ++t)
            threads.emplace_back([&p, t] { for (int i = 0; i < 25; ++i) p->RegisterForPrinterNotify(0, Record, LPVOID(t)); });
    }
    for (DWORD i = 2; i < 103; ++i) EXPECT_EQ(p->vecNotify[i]->dwId, i + 2);
    notify.Send({kComment}, false);
    ASSERT_EQ(::WaitForSingleObject(g_entered, 10000), WAIT_OBJECT_0);
    notify.timeOuts = 1, p->StopPrinterNotifyThread(), p->StartPrinterNotifyThread();  // gives up on it, then refused
    // Another object (or process) on the same stop event starts and resets it:
    // the thread still ends once its delivery is over.
    HANDLE stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, L"Local\\PrinterNotify_7");
    ::ResetEvent(stopEvent);
    std::thread remover([&p] { p->UnregisterForPrinterNotify(5), Record(nullptr, L"removed", 0); });
    for (int i = 0; i < 10000 && CountOf(env.trace.Lines(), "CPrinter::UnregisterForPrinterNotify =>") < 5; ++i) ::Sleep(1);
    ::SetEvent(g_release);
    remover.join();
    ASSERT_EQ(::WaitForSingleObject(p->hNotifyThread, 10000), WAIT_OBJECT_0);
    ::CloseHandle(stopEvent);
    notify.consumed = false;  // that thread took its last change without waiting again
    EXPECT_EQ(g_told.substr(g_told.size() - 13), "0/0 removed; ");  // after the delivery to registration 5
    EXPECT_EQ(p->vecNotify.size(), 102u);
    // A callback that throws ends that delivery, not the thread.
    p->UnregisterForPrinterNotify(4);
    p->RegisterForPrinterNotify(0, Throw, nullptr);
    p->StartPrinterNotifyThread();  // that thread has ended: its handles go, a new one starts
    ASSERT_TRUE(notify.Send({kComment}) && notify.Send({kComment}));
    // Refused twice: a second start, then one while the stop's thread was still inside the callback.
    EXPECT_EQ(CountOf(env.trace.Lines(), "CPrinter::StartPrinterNotifyThread => already have a notification going, no more allowed"), 2);
    EXPECT_EQ(CountOf(env.trace.Lines(), "PrinterNotifyThread => exception occurred during delivery"), 2);
    // While the destructor waits for a thread held in a callback, another object
    // on the same stop event starts and resets it: the destructor still ends it.
    p->UnregisterForPrinterNotify(105), p->RegisterForPrinterNotify(0, Hold, nullptr), notify.Send({kComment}, false);  // 105: Throw
    ASSERT_EQ(::WaitForSingleObject(g_entered, 10000), WAIT_OBJECT_0);
    std::thread destroyer([&p, &notify] { notify.timeOuts = 1, p.reset(); });
    for (int i = 0; i < 10000 && !CountOf(env.trace.Lines(), "~CPrinter => waiting for the notify thread to end"); ++i) ::Sleep(1);
    auto other = std::make_unique<CPrinter>(env.trace.log(), L"P", 1, 7);
    other->StartPrinterNotifyThread(), ::SetEvent(g_release), destroyer.join(), other.reset();
    // Every thread ended: the two that a stop gave up on after their delivery, the other at its stop signal.
    EXPECT_EQ(notify.stops + 2, CountOf(env.trace.Lines(), "CPrinter::StartPrinterNotifyThread => created notify thread"));
    EXPECT_TRUE(notify.blocks.empty() && notify.handles.empty() && env.fake.OpenPrinterHandles() == 0 && heap.Live() == 0);
}

}  // namespace
