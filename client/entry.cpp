#include "client/entry.h"

#include "client/refresh_run.h"
#include "log/trace_log.h"
#include "platform/registry.h"
#include "printer/printer_keys.h"

namespace {

// The path buffer holds 256 characters of either width.
template <class Ch>
DWORD ReadLogSwitch(const Ch* subkey, const Ch* switchName, const Ch* pathName, Ch* pathBuffer) {
    if (!pathBuffer) return 0;
    platform::ScopedKey key;
    if (platform::OpenKeyToRead(HKEY_LOCAL_MACHINE, subkey, key.receive()) != ERROR_SUCCESS) return 0;
    DWORD enabled = 0;
    if (platform::QueryDword(key.get(), switchName, &enabled) != ERROR_SUCCESS) return 0;
    if (enabled && platform::QueryString(key.get(), pathName, pathBuffer, 256 * sizeof(Ch)) != ERROR_SUCCESS)
        pathBuffer[0] = 0;
    return enabled;
}

}  // namespace

DWORD ReadRegistryLogPath(const WCHAR* subkey, const WCHAR* switchName, const WCHAR* pathName, WCHAR* pathBuffer) {
    return ReadLogSwitch(subkey, switchName, pathName, pathBuffer);
}

DWORD ReadRegistryLogPathA(const CHAR* subkey, const CHAR* switchName, const CHAR* pathName, CHAR* pathBuffer) {
    return ReadLogSwitch(subkey, switchName, pathName, pathBuffer);
}

namespace {

void WriteVersionLine() {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);  // 276
    platform::version.GetVersionExW(&info);
    TraceLogWrite(ClientLog, 0, L"KVCLIENT => Client OS Version is (%d)(%d.%d.%d)(%s)\n",
                  static_cast<int>(info.dwPlatformId), static_cast<int>(info.dwMajorVersion),
                  static_cast<int>(info.dwMinorVersion), static_cast<int>(info.dwBuildNumber), info.szCSDVersion);
}

// Frees the argument array of CommandLineToArgvW.
struct ArgvHolder {
    LPWSTR* argv = nullptr;
    ~ArgvHolder() {
        if (argv) ::LocalFree(argv);
    }
};

}  // namespace

int ClientMain(const WCHAR* commandLine) {
    static_assert(sizeof(OSVERSIONINFOW) == 276);

    WCHAR logPath[256] = {};
    if (ReadRegistryLogPath(kClientKey, L"Log", L"LogPath", logPath)) ClientLog = TraceLogCreate(logPath, 0);
    LibraryLog = ClientLog;

    TraceLogWrite(ClientLog, 0, L"====================================================================\n");
    WriteVersionLine();

    int count = 0;
    ArgvHolder args;
    args.argv = platform::shell.CommandLineToArgvW(commandLine, &count);
    if (!args.argv || count <= 0) {
        TraceLogWrite(ClientLog, 0, L"KVCLIENT => couldn't process commandline\n");
        return 0;
    }
    TraceLogWrite(ClientLog, 0, L"KVCLIENT => commandline = %s\n", commandLine);

    for (int i = 1; i < count; ++i) {
        const WCHAR* argument = args.argv[i];
        if (::lstrcmpiW(argument, L"-q") == 0) {
            RunRefresh();
        } else if (::lstrcmpiW(argument, L"-d") == 0) {
            platform::registry.SHDeleteKeyW(HKEY_LOCAL_MACHINE, kPrintersKey);
        } else if (::lstrcmpiW(argument, L"-x") == 0) {
            platform::registry.SHDeleteKeyW(HKEY_CURRENT_USER, kPrintersKey);
        }
    }
    return 1;
}
