// Scripted printer change notification, installed over the spooler table in
// place (a FakePrintSystem's: it lives inside that one's scope) and over the
// kernel's events, threads, waits and sleep. FindFirstPrinterChangeNotification
// checks the fields asked for and gives out a real auto-reset event; Send()
// queues answers for FindNextPrinterChangeNotification and signals it. A fetch
// beyond the script fails the test; with `flood` every fetch answers a comment
// change and signals again. What is given out and not given back stays listed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <list>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "printer/printer_notify.h"

namespace fake {

struct NotifyAnswer {
    std::vector<PRINTER_NOTIFY_INFO_DATA> entries;  // strings point at text that outlives the fetch
    DWORD flags = 0;                                // PRINTER_NOTIFY_INFO_DISCARDED
    DWORD failNext = 0;                             // the fetch fails with this error
};

inline PRINTER_NOTIFY_INFO_DATA Entry(WORD type, WORD field, const WCHAR* text = nullptr, DWORD number = 0, DWORD job = 0) {
    PRINTER_NOTIFY_INFO_DATA data = {type, field, 0, job, {{number, 0}}};
    if (text) data.NotifyData.Data = {static_cast<DWORD>(wcslen(text) + 1) * 2, const_cast<WCHAR*>(text)};
    return data;
}

struct FakeNotify {
    static inline FakeNotify* g = nullptr;
    std::recursive_mutex lock;  // the lists
    std::atomic<int> failWaits = 0, timeOuts = 0, failThreads = 0;  // so many thread waits fail, timed waits time out, creations fail
    std::atomic<bool> flood = false, noNotification = false;
    static inline thread_local bool consumed = false;  // this thread's last wait took a change
    std::function<void()> beforeWait, beforeTimedWait;  // each run once, by the next such wait, before it waits
    std::vector<NotifyAnswer> answers;                  // still to be fetched
    std::vector<DWORD> nextFlags, sleeps;               // the options flags of each fetch; sleeps asked (not slept)
    std::vector<HANDLE> changes, threads;               // open change handles; a handle of our own to every thread
    std::multiset<HANDLE> kernel;                       // events and threads given out and not closed
    std::list<std::vector<BYTE>> blocks;                // information given out and not freed
    HANDLE settled = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

    // Queues the answers and signals the newest change handle; unless told
    // not to, waits until the thread has taken the signal and waits again.
    bool Send(const std::vector<NotifyAnswer>& more, bool settle = true) {
        std::unique_lock<std::recursive_mutex> hold(lock);
        answers.insert(answers.end(), more.begin(), more.end());
        if (!::ResetEvent(settled) || changes.empty() || !::SetEvent(changes.back())) return false;
        hold.unlock();
        return !settle || ::WaitForSingleObject(settled, 10000) == WAIT_OBJECT_0;
    }
    bool Joined() {  // every thread started has ended
        std::unique_lock<std::recursive_mutex> hold(lock);
        const std::vector<HANDLE> started = threads;
        hold.unlock();  // an ending thread closes its handles through this fake
        return std::all_of(started.begin(), started.end(), [](HANDLE t) { return ::WaitForSingleObject(t, 10000) == WAIT_OBJECT_0; });
    }
    bool Clean() {
        std::lock_guard<std::recursive_mutex> hold(lock);
        return changes.empty() && kernel.empty() && blocks.empty();
    }
    static void RunOnce(std::function<void()>& hook) {
        std::unique_lock<std::recursive_mutex> hold(g->lock);
        std::function<void()> run = std::exchange(hook, nullptr);
        hold.unlock();
        if (run) run();
    }
    static HANDLE Given(HANDLE handle) {
        std::lock_guard<std::recursive_mutex> hold(g->lock);
        return handle ? *g->kernel.insert(handle) : handle;
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
            if (g->noNotification) return ::SetLastError(ERROR_NOT_SUPPORTED), INVALID_HANDLE_VALUE;
            std::lock_guard<std::recursive_mutex> hold(g->lock);
            return g->changes.emplace_back(::CreateEventW(nullptr, FALSE, g->flood, nullptr));
        };
        api.FindNextPrinterChangeNotification = [](HANDLE change, PDWORD word, LPVOID options, LPVOID* info) -> BOOL {
            std::lock_guard<std::recursive_mutex> hold(g->lock);
            g->nextFlags.push_back(options ? static_cast<PRINTER_NOTIFY_OPTIONS*>(options)->Flags : 0);
            NotifyAnswer next = {{Entry(PRINTER_NOTIFY_TYPE, PRINTER_NOTIFY_FIELD_COMMENT, L"Flood")}};
            if (g->flood) {
                ::SetEvent(change);
            } else if (g->answers.empty()) {
                ADD_FAILURE() << "fetched more often than scripted";
                next = {{}, 0, ERROR_NO_MORE_ITEMS};
            } else {
                next = g->answers.front();
                g->answers.erase(g->answers.begin());
            }
            ::SetLastError(next.failNext);
            if (next.failNext) return FALSE;
            const DWORD count = static_cast<DWORD>(next.entries.size());
            auto* out = reinterpret_cast<PPRINTER_NOTIFY_INFO>(
                g->blocks.emplace_back(sizeof(PRINTER_NOTIFY_INFO) + count * sizeof(PRINTER_NOTIFY_INFO_DATA)).data());
            *out = {2, next.flags, count, {}};
            std::copy(next.entries.begin(), next.entries.end(), out->aData);
            *word = PRINTER_CHANGE_SET_PRINTER;
            return (*info = out) != nullptr;
        };
        api.FreePrinterNotifyInfo = [](PPRINTER_NOTIFY_INFO info) -> BOOL {
            std::lock_guard<std::recursive_mutex> hold(g->lock);
            return std::erase_if(g->blocks, [info](auto& b) { return b.data() == (BYTE*)info; }) == 1;
        };
        api.FindClosePrinterChangeNotification = [](HANDLE change) -> BOOL {
            std::lock_guard<std::recursive_mutex> hold(g->lock);
            return std::erase(g->changes, change) == 1 && ::CloseHandle(change);
        };
        return api;
    }
    static platform::KernelApi Kernel(platform::KernelApi api) {
        api.CreateEventW = [](LPSECURITY_ATTRIBUTES, BOOL manual, BOOL initial, LPCWSTR name) {
            return Given(::CreateEventW(nullptr, manual, initial, name));
        };
        api.CreateThread = [](LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID arg, DWORD flags, LPDWORD id) {
            if (g->failThreads > 0 && g->failThreads--) return ::SetLastError(ERROR_NOT_ENOUGH_MEMORY), HANDLE();
            std::lock_guard<std::recursive_mutex> hold(g->lock);
            HANDLE thread = Given(::CreateThread(nullptr, 0, start, arg, flags, id));
            ::DuplicateHandle(::GetCurrentProcess(), thread, ::GetCurrentProcess(), &g->threads.emplace_back(), SYNCHRONIZE, FALSE, 0);
            return thread;
        };
        api.CloseHandle = [](HANDLE handle) {
            std::unique_lock<std::recursive_mutex> hold(g->lock);
            if (auto given = g->kernel.find(handle); given != g->kernel.end()) g->kernel.erase(given);
            return ::CloseHandle(handle);
        };
        api.WaitForMultipleObjects = [](DWORD count, const HANDLE* waited, BOOL all, DWORD ms) {
            RunOnce(g->beforeWait);
            if (consumed) ::SetEvent(g->settled);
            if (g->failWaits > 0 && g->failWaits--) return DWORD(WAIT_FAILED);
            const DWORD result = ::WaitForMultipleObjects(count, waited, all, ms);
            consumed = result == WAIT_OBJECT_0 + 1;
            return result;
        };
        api.WaitForSingleObject = [](HANDLE h, DWORD ms) {
            if (ms) RunOnce(g->beforeTimedWait);
            return ms && g->timeOuts > 0 && g->timeOuts-- ? DWORD(WAIT_TIMEOUT) : ::WaitForSingleObject(h, ms);
        };
        api.Sleep = [](DWORD ms) {
            std::lock_guard<std::recursive_mutex> hold(g->lock);
            g->sleeps.push_back(ms);
        };
        return api;
    }

    platform::ScopedApi<platform::SpoolerApi> spooler_{platform::spooler, Spooler(platform::spooler)};
    platform::ScopedApi<platform::KernelApi> kernel_{platform::kernel, Kernel(platform::kernel)};
    FakeNotify() { g = this; }
    ~FakeNotify() {
        for (HANDLE h : changes) ::CloseHandle(h);
        for (HANDLE h : threads) ::CloseHandle(h);
        ::CloseHandle(settled);
        g = nullptr;
    }
};

}  // namespace fake
