// Scripted printer change notification, installed over the spooler table in
// place (a FakePrintSystem's: it lives inside that one's scope) and over the
// kernel's wait and sleep. FindFirstPrinterChangeNotification checks the fields
// asked for and gives out a real auto-reset event; Send() queues answers for
// FindNextPrinterChangeNotification and signals that event. Blocks and change
// handles not given back stay listed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <list>
#include <vector>

#include "platform/platform.h"
#include "printer/printer_notify.h"

namespace fake {

struct NotifyAnswer {
    std::vector<PRINTER_NOTIFY_INFO_DATA> entries;  // strings point at text that outlives the fetch
    DWORD flags = 0;                                // PRINTER_NOTIFY_INFO_DISCARDED
    DWORD failNext = 0;                             // the fetch fails with this error
};

struct FakeNotify {
    static inline FakeNotify* g_notify = nullptr;
    int failWaits = 0;                     // so many waits of the thread fail
    int timeOuts = 0;                      // so many timed waits for a thread's end time out at once
    std::atomic<int> stops = 0;            // waits that ended a thread: it touches nothing afterwards
    std::vector<NotifyAnswer> answers;     // still to be fetched; a test signals no more often
    std::vector<DWORD> nextFlags, sleeps;  // the options flags of each fetch; sleeps asked (not slept)
    std::vector<HANDLE> handles;           // open change handles
    std::list<std::vector<BYTE>> blocks;   // information given out and not freed
    std::atomic<bool> consumed = false;    // the thread's last wait took a change signal
    HANDLE settled = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

    // Queues the answers and signals the change handle; call while the thread
    // waits (after the start or a settling Send). Unless told not to, settles:
    // waits until the thread has taken the signal and waits again (false after
    // a time-out that only a hang reaches).
    bool Send(const std::vector<NotifyAnswer>& more, bool settle = true) {
        answers.insert(answers.end(), more.begin(), more.end());
        ::ResetEvent(settled);
        return ::SetEvent(handles.back()) && (!settle || ::WaitForSingleObject(settled, 10000) == WAIT_OBJECT_0);
    }

    static platform::SpoolerApi Spooler(platform::SpoolerApi api) {
        api.FindFirstPrinterChangeNotification = [](HANDLE, DWORD filter, DWORD options, LPVOID notify) -> HANDLE {
            // Changes are asked for by field lists alone: every printer field, then every job field, in order.
            const auto* asked = static_cast<const PRINTER_NOTIFY_OPTIONS*>(notify);
            EXPECT_TRUE(filter == 0 && options == 0 && asked && asked->Version == 2 && asked->Count == 2);
            for (WORD t = 0; asked && t < 2; ++t) {
                const PRINTER_NOTIFY_OPTIONS_TYPE& type = asked->pTypes[t];
                EXPECT_TRUE(type.Type == t && type.Count == (t ? kJobNotifyFields : kPrinterNotifyFields)) << t;
                for (WORD f = 0; f < type.Count; ++f) EXPECT_EQ(type.pFields[f], f) << t;
            }
            return g_notify->handles.emplace_back(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        };
        api.FindNextPrinterChangeNotification = [](HANDLE, PDWORD change, LPVOID options, LPVOID* info) -> BOOL {
            g_notify->nextFlags.push_back(options ? static_cast<PRINTER_NOTIFY_OPTIONS*>(options)->Flags : 0);
            const NotifyAnswer next = g_notify->answers.front();
            g_notify->answers.erase(g_notify->answers.begin());
            ::SetLastError(next.failNext);
            if (next.failNext) return FALSE;
            const DWORD count = static_cast<DWORD>(next.entries.size());
            auto* out = reinterpret_cast<PPRINTER_NOTIFY_INFO>(
                g_notify->blocks.emplace_back(sizeof(PRINTER_NOTIFY_INFO) + count * sizeof(PRINTER_NOTIFY_INFO_DATA)).data());
            *out = {2, next.flags, count, {}};
            std::copy(next.entries.begin(), next.entries.end(), out->aData);
            *change = PRINTER_CHANGE_SET_PRINTER;
            return (*info = out) != nullptr;
        };
        api.FreePrinterNotifyInfo = [](PPRINTER_NOTIFY_INFO info) -> BOOL {
            return std::erase_if(g_notify->blocks, [info](auto& b) { return b.data() == (BYTE*)info; }) == 1;
        };
        api.FindClosePrinterChangeNotification = [](HANDLE change) -> BOOL {
            return std::erase(g_notify->handles, change) == 1 && ::CloseHandle(change);
        };
        return api;
    }
    static platform::KernelApi Kernel(platform::KernelApi api) {
        api.WaitForMultipleObjects = [](DWORD count, const HANDLE* waited, BOOL all, DWORD ms) -> DWORD {
            if (g_notify->consumed) ::SetEvent(g_notify->settled);
            if (g_notify->failWaits > 0 && g_notify->failWaits--) return WAIT_FAILED;
            const DWORD result = ::WaitForMultipleObjects(count, waited, all, ms);
            g_notify->consumed = result == WAIT_OBJECT_0 + 1;
            if (result == WAIT_OBJECT_0) ::Sleep(20), ++g_notify->stops;  // late: a stop that does not wait misses it
            return result;
        };
        api.WaitForSingleObject = [](HANDLE h, DWORD ms) -> DWORD {
            return ms && g_notify->timeOuts > 0 && g_notify->timeOuts-- ? WAIT_TIMEOUT : ::WaitForSingleObject(h, ms);
        };
        api.Sleep = [](DWORD ms) { g_notify->sleeps.push_back(ms); };
        return api;
    }

    platform::ScopedApi<platform::SpoolerApi> spooler_{platform::spooler, Spooler(platform::spooler)};
    platform::ScopedApi<platform::KernelApi> kernel_{platform::kernel, Kernel(platform::kernel)};
    FakeNotify() { g_notify = this; }
    ~FakeNotify() { for (HANDLE h : handles) ::CloseHandle(h); ::CloseHandle(settled); g_notify = nullptr; }
};

}  // namespace fake
