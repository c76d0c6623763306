// kvwatch: watches one printer for changes made through the spooler.
//
//   kvwatch PRINTER [SECONDS]
//   kvwatch --version
//
// Starts change notification on a printer object for PRINTER and prints one
// line per delivered change as it comes ("field 5: Printer comment changed").
// It stops after SECONDS seconds, or on Ctrl+C when no time is given (Ctrl+C
// also ends a timed watch early), and exits 0. A printer that cannot be
// opened gives exit code 2, a spooler that offers no change notification
// (Wine's does not) exit code 3, each with one line saying so; a wrong
// command line exit code 1, running out of memory exit code 4.
#include <cstdio>
#include <cwchar>
#include <string>

#include "printer/printer.h"
#include "tools/tool_main.h"
#include "tools/tool_version.h"

namespace {

enum ExitCode { kOk = 0, kUsage = 1, kNoPrinter = 2, kNoNotification = 3, kNoMemory = 4 };

HANDLE g_quit = nullptr;

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

// Called on the notification thread.
void WINAPI PrintChange(LPVOID, LPCWSTR text, DWORD field) {
    std::printf("field %lu: %s\n", static_cast<unsigned long>(field), Ansi(text).c_str());
    std::fflush(stdout);
}

int Usage() {
    std::fprintf(stderr, "usage: kvwatch PRINTER [SECONDS]\n       kvwatch --version\n");
    return kUsage;
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
    if (!g_quit) {  // without it the watch would end at once, as if the time were up
        std::fprintf(stderr, "kvwatch: cannot create the stop event (error %lu)\n", ::GetLastError());
        return kNoMemory;
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    int code = kOk;
    {
        // The process id names the stop event, so that two watchers never
        // share one. Cache method 2: a watcher has no use for a stored record.
        CPrinter printer(nullptr, name, 2, ::GetCurrentProcessId());
        printer.RegisterForPrinterNotify(0, PrintChange, nullptr);
        printer.StartPrinterNotifyThread();
        if (!printer.hNotifyPrinter) {
            std::fprintf(stderr, "kvwatch: cannot open printer \"%s\"\n", Ansi(name.c_str()).c_str());
            code = kNoPrinter;
        } else if (!printer.hNotifyThread) {
            std::fprintf(stderr, "kvwatch: the spooler offers no change notification for \"%s\"\n",
                         Ansi(name.c_str()).c_str());
            code = kNoNotification;
        } else {
            std::fprintf(stderr, "kvwatch: watching \"%s\", Ctrl+C to stop\n", Ansi(name.c_str()).c_str());
            ::WaitForSingleObject(g_quit, waitMs);
            printer.StopPrinterNotifyThread();
        }
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    ::CloseHandle(g_quit);
    return code;
}

}  // namespace

int main() { return RunTool("kvwatch", Run, kNoMemory); }
