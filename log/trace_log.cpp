#include "log/trace_log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/kernel.h"
#include "platform/registry.h"

TraceLog* ClientLog = nullptr;
TraceLog* LibraryLog = nullptr;

namespace {

enum class Stamp { None, Time, Thread, Session };

int FormatInto(WCHAR* buffer, size_t capacity, const WCHAR* format, va_list args) {
    return _vsnwprintf(buffer, capacity, format, args);
}
int FormatInto(CHAR* buffer, size_t capacity, const CHAR* format, va_list args) {
    return _vsnprintf(buffer, capacity, format, args);
}
int CountFormatted(const WCHAR* format, va_list args) { return _vscwprintf(format, args); }
int CountFormatted(const CHAR* format, va_list args) { return _vscprintf(format, args); }

// Formats one message, sized exactly by a counting pass. The Microsoft-named
// formatters keep %s meaning the format's own width and %S the other one.
// Returns false when the runtime refuses the message: a narrow format given a
// wide argument with a character the narrow character set cannot hold fails
// as a whole.
template <class Ch>
bool FormatText(std::basic_string<Ch>& text, const Ch* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int needed = CountFormatted(format, copy);
    va_end(copy);
    if (needed < 0) return false;
    text.resize(static_cast<size_t>(needed));  // the string keeps room for the terminator
    return FormatInto(text.data(), text.size() + 1, format, args) == needed;
}

// Wide text is stored as 8-bit text in the ANSI code page; characters the
// code page cannot hold become the system's default character, so every line
// arrives whole.
std::string ToAnsi(const std::wstring& text) {
    const int length = static_cast<int>(text.size());
    const int needed = length ? ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr) : 0;
    std::string bytes(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0) ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, bytes.data(), needed, nullptr, nullptr);
    return bytes;
}

FILE* OpenForAppend(const WCHAR* path) { return _wfopen(path, L"a"); }
FILE* OpenForAppend(const CHAR* path) { return fopen(path, "a"); }

template <class Log>
bool Passes(const Log* log, int level) {
    return log && static_cast<SHORT>(level) <= log->level;
}

DWORD SessionNumber() {
    DWORD session = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    return session;
}

// The bracketed local time, with the thread id or session number of the
// thread and session forms. Returns the length written into head.
int FormatStamp(Stamp stamp, char* head, size_t capacity) {
    if (stamp == Stamp::None) return 0;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    int length = 0;
    if (stamp == Stamp::Thread) {
        length = _snprintf(head, capacity, "[%04d/%02d/%02d %02d:%02d:%02d Thread:%lu] ", now.wYear, now.wMonth,
                           now.wDay, now.wHour, now.wMinute, now.wSecond,
                           static_cast<unsigned long>(::GetCurrentThreadId()));
    } else if (stamp == Stamp::Session) {
        // The session forms print the Terminal Services session of this process.
        length = _snprintf(head, capacity, "[%04d/%02d/%02d %02d:%02d:%02d Session:%lu] ", now.wYear, now.wMonth,
                           now.wDay, now.wHour, now.wMinute, now.wSecond, static_cast<unsigned long>(SessionNumber()));
    } else {
        length = _snprintf(head, capacity, "[%04d/%02d/%02d %02d:%02d:%02d] ", now.wYear, now.wMonth, now.wDay,
                           now.wHour, now.wMinute, now.wSecond);
    }
    return length < 0 ? 0 : length;
}

// Writes one line: stamp, indentation, message bytes, under the lock with its
// own open and close of the file. A file that cannot be opened drops the line.
// The time is taken once the file is open, so the stamps of one file never go
// backwards when several threads write.
template <class Log>
void EmitLine(Log* log, Stamp stamp, const char* message, size_t length) {
    ::EnterCriticalSection(&log->lock);
    log->file = OpenForAppend(log->path);
    if (log->file) {
        char head[96];
        const int headLength = FormatStamp(stamp, head, sizeof(head));
        if (headLength > 0) fwrite(head, 1, static_cast<size_t>(headLength), log->file);
        for (SHORT step = 0; step < log->depth; ++step) fwrite("  ", 1, 2, log->file);
        if (length > 0) fwrite(message, 1, length, log->file);
        fclose(log->file);
        log->file = nullptr;
    }
    ::LeaveCriticalSection(&log->lock);
}

template <class Log>
void WriteWide(Log* log, int level, Stamp stamp, const WCHAR* format, va_list args) {
    if (!Passes(log, level) || !format) return;
    std::wstring message;
    if (!FormatText(message, format, args)) return;
    const std::string bytes = ToAnsi(message);
    EmitLine(log, stamp, bytes.data(), bytes.size());
}

// A message the narrow runtime refuses (a wide argument the narrow character
// set cannot hold) is written as its unexpanded format: the line is not lost
// and the next entry still starts on a line of its own.
template <class Log>
void WriteNarrow(Log* log, int level, Stamp stamp, const CHAR* format, va_list args) {
    if (!Passes(log, level) || !format) return;
    std::string message;
    if (!FormatText(message, format, args)) message = format;
    EmitLine(log, stamp, message.data(), message.size());
}

template <class Log, class Ch>
Log* CreateLogger(const Ch* path, int level) {
    FILE* probe = OpenForAppend(path);  // creates the file when it is missing
    if (!probe) return nullptr;
    fclose(probe);
    Log* log = platform::HeapAllocZeroAs<Log>(sizeof(Log));
    if (!log) return nullptr;
    platform::CopyString(log->path, MAX_PATH, path);
    log->file = nullptr;
    log->depth = 0;
    log->level = static_cast<SHORT>(level);
    ::InitializeCriticalSection(&log->lock);
    return log;
}

template <class Log>
void DestroyLogger(Log* log) {
    if (!log) return;
    ::DeleteCriticalSection(&log->lock);
    platform::HeapFreeBlock(log);
}

template <class Log>
void ChangeDepth(Log* log, SHORT step) {
    ::EnterCriticalSection(&log->lock);
    log->depth = static_cast<SHORT>(log->depth + step);
    ::LeaveCriticalSection(&log->lock);
}

}  // namespace

TraceLog* TraceLogCreate(const WCHAR* path, int level) {
    if (!path || !*path) return nullptr;
    return CreateLogger<TraceLog>(path, level);
}

TraceLogA* TraceLogCreateA(const CHAR* path, int level) {
    if (!path || !*path) return nullptr;
    return CreateLogger<TraceLogA>(path, level);
}

TraceLog* TraceLogCreateFromRegistry(const WCHAR* name) {
    if (!name || !*name) return nullptr;
    WCHAR keyPath[512];
    _snwprintf(keyPath, 512, L"%s\\%s", kTraceLogKey, name);
    keyPath[511] = L'\0';

    platform::ScopedKey key;
    if (platform::registry.RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, key.receive()) !=
        ERROR_SUCCESS)
        return nullptr;
    DWORD mode = 0;
    if (platform::QueryDword(key.get(), L"Mode", &mode) != ERROR_SUCCESS || mode == 0) return nullptr;
    WCHAR file[512] = {};
    if (platform::QueryString(key.get(), L"File", file, sizeof(file)) != ERROR_SUCCESS) return nullptr;
    WCHAR expanded[512] = {};
    const DWORD got = ::ExpandEnvironmentStringsW(file, expanded, 512);
    if (got == 0 || got > 512) return nullptr;
    DWORD level = 0;
    platform::QueryDword(key.get(), L"Level", &level);
    return CreateLogger<TraceLog>(expanded, static_cast<int>(level & 0xFFFF));
}

TraceLogA* TraceLogCreateFromRegistryA(const CHAR* name) {
    if (!name || !*name) return nullptr;
    CHAR keyPath[512];
    _snprintf(keyPath, 512, "%ls\\%s", kTraceLogKey, name);
    keyPath[511] = '\0';

    HKEY raw = nullptr;
    if (platform::registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS)
        return nullptr;
    platform::ScopedKey key(raw);
    DWORD mode = 0;
    if (platform::QueryDwordA(key.get(), "Mode", &mode) != ERROR_SUCCESS || mode == 0) return nullptr;
    CHAR file[512] = {};
    if (platform::QueryStringA(key.get(), "File", file, sizeof(file)) != ERROR_SUCCESS) return nullptr;
    CHAR expanded[512] = {};
    const DWORD got = ::ExpandEnvironmentStringsA(file, expanded, 512);
    if (got == 0 || got > 512) return nullptr;
    DWORD level = 0;
    platform::QueryDwordA(key.get(), "Level", &level);
    return CreateLogger<TraceLogA>(expanded, static_cast<int>(level & 0xFFFF));
}

void TraceLogDestroy(TraceLog* log) { DestroyLogger(log); }
void TraceLogDestroyA(TraceLogA* log) { DestroyLogger(log); }

#define KV_FORWARD(call)       \
    va_list args;              \
    va_start(args, format);    \
    call;                      \
    va_end(args)

void TraceLogWrite(TraceLog* log, int level, const WCHAR* format, ...) {
    KV_FORWARD(WriteWide(log, level, Stamp::Time, format, args));
}
void TraceLogWriteRaw(TraceLog* log, int level, const WCHAR* format, ...) {
    KV_FORWARD(WriteWide(log, level, Stamp::None, format, args));
}
void TraceLogWriteNarrowText(TraceLog* log, int level, const CHAR* format, ...) {
    KV_FORWARD(WriteNarrow(log, level, Stamp::Time, format, args));
}
void TraceLogWriteThread(TraceLog* log, int level, const WCHAR* format, ...) {
    KV_FORWARD(WriteWide(log, level, Stamp::Thread, format, args));
}
void TraceLogWriteSession(TraceLog* log, int level, const WCHAR* format, ...) {
    KV_FORWARD(WriteWide(log, level, Stamp::Session, format, args));
}
void TraceLogWriteA(TraceLogA* log, int level, const CHAR* format, ...) {
    KV_FORWARD(WriteNarrow(log, level, Stamp::Time, format, args));
}
void TraceLogWriteRawA(TraceLogA* log, int level, const CHAR* format, ...) {
    KV_FORWARD(WriteNarrow(log, level, Stamp::None, format, args));
}
void TraceLogWriteWideTextA(TraceLogA* log, int level, const WCHAR* format, ...) {
    KV_FORWARD(WriteWide(log, level, Stamp::Time, format, args));
}
void TraceLogWriteThreadA(TraceLogA* log, int level, const CHAR* format, ...) {
    KV_FORWARD(WriteNarrow(log, level, Stamp::Thread, format, args));
}
void TraceLogWriteSessionA(TraceLogA* log, int level, const CHAR* format, ...) {
    KV_FORWARD(WriteNarrow(log, level, Stamp::Session, format, args));
}

#undef KV_FORWARD

void TraceLogError(TraceLog* log, int level, DWORD code) {
    if (!Passes(log, level)) return;
    WCHAR* text = nullptr;
    const DWORD got = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<WCHAR*>(&text), 0, nullptr);
    if (got && text) {
        TraceLogWrite(log, 0, L"ERROR %d: %s", static_cast<int>(code), text);
        ::LocalFree(text);
    } else {
        TraceLogWrite(log, 0, L"ERROR %d: (failed to get error string)", static_cast<int>(code));
    }
}

void TraceLogErrorA(TraceLogA* log, int level, DWORD code) {
    if (!Passes(log, level)) return;
    CHAR* text = nullptr;
    const DWORD got = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<CHAR*>(&text), 0, nullptr);
    if (got && text) {
        TraceLogWriteA(log, 0, "ERROR %d: %s", static_cast<int>(code), text);
        ::LocalFree(text);
    } else {
        TraceLogWriteA(log, 0, "ERROR %d: (failed to get error string)", static_cast<int>(code));
    }
}

void TraceLogEnter(TraceLog* log, int level, const WCHAR* name) {
    if (!log) return;
    TraceLogWrite(log, level, L"%s Enter\n", name ? name : L"");
    ChangeDepth(log, 1);
}

void TraceLogEnterA(TraceLogA* log, int level, const CHAR* name) {
    if (!log) return;
    TraceLogWriteA(log, level, "%s Enter\n", name ? name : "");
    ChangeDepth(log, 1);
}

void TraceLogExit(TraceLog* log, int level) {
    if (!log) return;
    ChangeDepth(log, -1);
    TraceLogWrite(log, level, L"Exit\n");
}

void TraceLogExitA(TraceLogA* log, int level) {
    if (!log) return;
    ChangeDepth(log, -1);
    TraceLogWriteA(log, level, "Exit\n");
}
