// kvwatch: watches one printer for changes made through the spooler.
//
//   kvwatch PRINTER [SECONDS]
//   kvwatch --version
//
// Starts change notification on a printer object for PRINTER and prints one
// line per delivered change as it comes ("field 5: Printer comment changed").
// It stops after SECONDS seconds, or on Ctrl+C when no time is given (Ctrl+C
// also ends a timed watch early), and exits 0. Exit codes: 1 a wrong command
// line, 2 a printer that cannot be opened, 3 a spooler that offers no change
// notification (Wine's does not), 4 anything else (no memory, no thread,
// the spooler refusing the watch: with the system's text); each with one
// line saying so.
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>

#include "printer/printer.h"
#include "tools/kvwatch_outcome.h"
#include "tools/tool_main.h"
#include "tools/tool_version.h"

namespace {

HANDLE g_quit = nullptr;
// The callback's state: set by the main thread once it stops watching; reset
// by the callback while it writes. A write that blocks (a stdout nobody
// reads) is cancelled, so that the stop, which waits for the callback, ends.
std::atomic<bool> g_quitting = false;
HANDLE g_idle = nullptr;

// Console output in the ANSI code page.
std::string Ansi(const WCHAR* text) {
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
    if (bytes > 0) ::WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.pop_back();  // the terminator
    return out;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    ::SetEvent(g_quit);
    return TRUE;
}

// Called on the notification thread; writes straight to the handle, holding
// no lock of the C runtime that the main thread's output or the exit needs.
void WINAPI PrintChange(LPVOID, LPCWSTR text, DWORD field) {
    ::ResetEvent(g_idle);
    if (!g_quitting) {
        CHAR line[600];
        const int length = _snprintf(line, sizeof(line), "field %lu: %.500s\r\n", static_cast<unsigned long>(field),
                                     Ansi(text).c_str());
        DWORD written = 0;
        if (length > 0) ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
    }
    ::SetEvent(g_idle);
}

// Stops the callback's writes: a write under way now is cancelled until the
// callback has returned. A callback that begins after g_quitting is set
// writes nothing.
void StopWriting(HANDLE thread) {
    g_quitting = true;
    do {
        ::CancelSynchronousIo(thread);
    } while (::WaitForSingleObject(g_idle, 100) == WAIT_TIMEOUT);
}

// The system's text for an error, on one line.
std::string ErrorText(DWORD error) {
    WCHAR* text = nullptr;
    std::string shown = "error " + std::to_string(error);
    if (::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<WCHAR*>(&text), 0, nullptr) &&
        text) {
        shown = Ansi(text);
        ::LocalFree(text);
        while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r' || shown.back() == ' ')) shown.pop_back();
    }
    return shown;
}

int Usage() {
    std::fprintf(stderr, "usage: kvwatch PRINTER [SECONDS]\n       kvwatch --version\n");
    return kWatchUsage;
}

int Run() {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc < 2 || argc > 3) {
        if (argv) ::LocalFree(argv);
        return Usage();
    }
    const std::wstring name = argv[1];
    if (argc == 2 && name == L"--version") {
        ::LocalFree(argv);
        return PrintToolVersion("kvwatch");
    }
    DWORD waitMs = INFINITE;
    if (argc == 3) {
        WCHAR* end = nullptr;
        const unsigned long seconds = std::wcstoul(argv[2], &end, 10);
        if (!*argv[2] || *end || seconds == 0 || seconds > 86400 * 24) {
            ::LocalFree(argv);
            return Usage();
        }
        waitMs = static_cast<DWORD>(seconds * 1000);
    }
    ::LocalFree(argv);

    g_quit = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_idle = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (!g_quit || !g_idle) {  // without it the watch would end at once, as if the time were up
        std::fprintf(stderr, "kvwatch: cannot create the stop event (error %lu)\n", ::GetLastError());
        for (HANDLE event : {g_quit, g_idle})
            if (event) ::CloseHandle(event);
        return kWatchOther;
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    int code = kWatchOk;
    {
        // The process id names the stop event, so that two watchers never
        // share one. Cache method 2: a watcher has no use for a stored record.
        CPrinter printer(nullptr, name, 2, ::GetCurrentProcessId());
        const std::string shown = Ansi(name.c_str());
        if (!printer.RegisterForPrinterNotify(0, PrintChange, nullptr)) {
            std::fprintf(stderr, "kvwatch: cannot register for the changes of \"%s\"\n", shown.c_str());
            code = kWatchOther;
        } else {
            printer.StartPrinterNotifyThread();
            switch (code = KvWatchOutcome(printer)) {
            case kWatchNoPrinter: std::fprintf(stderr, "kvwatch: cannot open printer \"%s\"\n", shown.c_str()); break;
            case kWatchNoNotification:
                std::fprintf(stderr, "kvwatch: the spooler offers no change notification for \"%s\"\n", shown.c_str());
                break;
            case kWatchOk:
                std::fprintf(stderr, "kvwatch: watching \"%s\", Ctrl+C to stop\n", shown.c_str());
                ::WaitForSingleObject(g_quit, waitMs);
                StopWriting(printer.hNotifyThread);
                printer.StopPrinterNotifyThread();
                break;
            default:
                std::fprintf(stderr, "kvwatch: cannot start watching \"%s\": %s\n", shown.c_str(),
                             ErrorText(printer.dwNotifyError).c_str());
                break;
            }
        }
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    ::CloseHandle(g_quit);
    ::CloseHandle(g_idle);
    return code;
}

}  // namespace

int main() { return RunTool("kvwatch", Run, kWatchOther); }
