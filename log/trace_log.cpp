#include "log/trace_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <type_traits>

#include "platform/kernel.h"
#include "platform/registry.h"

TraceLog* ClientLog = nullptr;
TraceLog* LibraryLog = nullptr;

namespace {

enum class Stamp { None, Time, Thread, Session };

// A message this long or shorter is formatted and converted without the heap.
constexpr size_t kStackChars = 1024;

// The logger of each character width, and the width of each logger.
template <class Ch>
using LoggerOf = std::conditional_t<std::is_same_v<Ch, CHAR>, TraceLogA, TraceLog>;
template <class Log>
using CharOf = std::remove_extent_t<decltype(Log::path)>;

// The same literal in either width.
template <class Ch>
constexpr const Ch* Literal(const CHAR* narrow, const WCHAR* wide) {
    if constexpr (std::is_same_v<Ch, CHAR>) {
        return narrow;
    } else {
        return wide;
    }
}
#define KV_LITERAL(Ch, text) Literal<Ch>(text, L"" text)

// Characters on the stack while they fit, in one heap block when they do not.
template <class Ch>
class TextBuffer {
public:
    TextBuffer() = default;
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
    ~TextBuffer() {
        if (data_ != local_) platform::HeapFreeBlock(data_);
    }
    Ch* data() { return data_; }
    size_t capacity() const { return capacity_; }
    // Room for count characters; what the buffer held is not kept. False
    // when the heap cannot give it.
    bool Reserve(size_t count) {
        if (count <= capacity_) return true;
        Ch* block = platform::HeapAllocZeroAs<Ch>(count * sizeof(Ch));
        if (!block) return false;
        if (data_ != local_) platform::HeapFreeBlock(data_);
        data_ = block;
        capacity_ = count;
        return true;
    }

private:
    Ch local_[kStackChars];
    Ch* data_ = local_;
    size_t capacity_ = kStackChars;
};

int FormatInto(WCHAR* buffer, size_t capacity, const WCHAR* format, va_list args) {
    return _vsnwprintf(buffer, capacity, format, args);
}
int FormatInto(CHAR* buffer, size_t capacity, const CHAR* format, va_list args) {
    return _vsnprintf(buffer, capacity, format, args);
}
int CountFormatted(const WCHAR* format, va_list args) { return _vscwprintf(format, args); }
int CountFormatted(const CHAR* format, va_list args) { return _vscprintf(format, args); }

template <class Ch>
void FormatTo(Ch* buffer, size_t capacity, const Ch* format, ...) {
    va_list args;
    va_start(args, format);
    FormatInto(buffer, capacity, format, args);
    va_end(args);
    buffer[capacity - 1] = 0;
}

// Formats one message into text; its length, or -1 when the runtime refuses
// it: a narrow format given a wide argument with a character the narrow
// character set cannot hold fails as a whole. The Microsoft-named formatters
// keep %s meaning the format's own width and %S the other one.
template <class Ch>
int Format(TextBuffer<Ch>& text, const Ch* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int length = FormatInto(text.data(), text.capacity(), format, copy);
    va_end(copy);
    if (length >= 0 && static_cast<size_t>(length) < text.capacity()) return length;
    va_copy(copy, args);
    length = CountFormatted(format, copy);
    va_end(copy);
    if (length < 0 || !text.Reserve(static_cast<size_t>(length) + 1)) return -1;
    return FormatInto(text.data(), text.capacity(), format, args) == length ? length : -1;
}

// Wide text is stored as 8-bit text in the ANSI code page; characters the
// code page cannot hold become a look-alike ("L" for U+0141 under 1252)
// or the system's default character, so every line arrives whole. Returns
// the number of bytes.
int ToAnsi(const WCHAR* text, int length, TextBuffer<CHAR>& bytes) {
    if (length == 0) return 0;
    const int got = ::WideCharToMultiByte(CP_ACP, 0, text, length, bytes.data(), static_cast<int>(bytes.capacity()),
                                          nullptr, nullptr);
    if (got > 0) return got;
    const int needed = ::WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0 || !bytes.Reserve(static_cast<size_t>(needed))) return 0;
    return ::WideCharToMultiByte(CP_ACP, 0, text, length, bytes.data(), needed, nullptr, nullptr);
}

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
size_t FormatStamp(Stamp stamp, CHAR* head, size_t capacity) {
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
    return length < 0 ? 0 : static_cast<size_t>(length);
}

// Appends of several processes must not land on one another. Windows places
// every append at the end of the file itself, but Wine positions it (end of
// file, then write), so two processes can write over each other. The loggers
// of one file therefore take turns through a word in memory shared by all
// processes and named after the file's full path: 0 when free, else the tick
// count at which its holder took it. It costs nothing while no other process
// writes; a turn not given back within a second (its writer died inside a
// line) is taken over. Any process of the session can write that word, and
// one that keeps a fresh tick in it would hold every logger of the file for
// ever: a line waits at most kTurnWaitMs for the turn, and a logger whose wait
// ran out once only tries the turn from then on, and writes without it while
// it is held.
constexpr DWORD kTurnTakenOverAfterMs = 1000;
constexpr DWORD kTurnWaitMs = 2000;

template <class Ch>
void MapTurn(LoggerOf<Ch>* log, const Ch* path) {
    WCHAR wide[MAX_PATH] = {}, full[MAX_PATH] = {};
    if constexpr (std::is_same_v<Ch, CHAR>) {
        ::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    } else {
        platform::CopyString(wide, MAX_PATH, path);
    }
    const DWORD length = ::GetFullPathNameW(wide, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) platform::CopyString(full, MAX_PATH, wide);
    unsigned long long hash = 14695981039346656037ull;  // FNV-1a of the path in upper case
    for (const WCHAR* c = full; *c; ++c) hash = (hash ^ std::towupper(*c)) * 1099511628211ull;
    WCHAR name[64];
    FormatTo(name, 64, L"Local\\KvTraceLog-%016I64x", hash);
    log->turn = platform::MapSharedWord(name, &log->turnMapping);
}

// The tick the turn was taken with, or 0 when the line goes without it (no
// shared word, or a holder that does not give it back). Called under the
// logger's lock, which guards turnGivenUp.
template <class Log>
LONG TakeTurn(Log* log) {
    volatile LONG* turn = log->turn;
    if (!turn) return 0;
    const DWORD start = ::GetTickCount();
    for (int tries = 0;; ++tries) {
        const DWORD now = ::GetTickCount() | 1;  // never 0, which means free
        const LONG holder = ::InterlockedCompareExchange(turn, static_cast<LONG>(now), 0);
        if (holder == 0) return static_cast<LONG>(now);
        // The age is signed: a holder that read the clock after we did is
        // younger than us, not four billion milliseconds old.
        if (static_cast<LONG>(now - static_cast<DWORD>(holder)) > static_cast<LONG>(kTurnTakenOverAfterMs) &&
            ::InterlockedCompareExchange(turn, static_cast<LONG>(now), holder) == holder)
            return static_cast<LONG>(now);
        if (log->turnGivenUp) return 0;
        if (::GetTickCount() - start >= kTurnWaitMs) {
            log->turnGivenUp = TRUE;
            return 0;
        }
        ::Sleep(tries < 64 ? 0 : 1);
    }
}

void GiveBackTurn(volatile LONG* turn, LONG taken) {
    if (turn) ::InterlockedCompareExchange(turn, 0, taken);
}

// Writes one line (stamp, indentation, message) with a single append, under
// the lock and with its own open and close of the file, so that lines of
// other threads and processes never land inside it. A file that cannot be
// opened drops the line. Every "\n" is stored as "\r\n", as the file has
// always been written in text mode. The time is taken once the file is open,
// so the stamps of one file never go backwards when several threads write.
template <class Log>
void EmitLine(Log* log, Stamp stamp, const CHAR* message, size_t length) {
    size_t breaks = 0;
    for (size_t i = 0; i < length; ++i) breaks += message[i] == '\n';
    ::EnterCriticalSection(&log->lock);
    log->file = platform::OpenForAppend(log->path);
    if (log->file) {
        CHAR head[96];
        const size_t headLength = FormatStamp(stamp, head, sizeof(head));
        const size_t indent = log->depth > 0 ? 2 * static_cast<size_t>(log->depth) : 0;
        TextBuffer<CHAR> line;
        if (line.Reserve(headLength + indent + length + breaks)) {
            CHAR* at = line.data();
            std::memcpy(at, head, headLength);
            at += headLength;
            std::memset(at, ' ', indent);
            at += indent;
            for (size_t i = 0; i < length; ++i) {
                if (message[i] == '\n') *at++ = '\r';
                *at++ = message[i];
            }
            const BOOL waitedBefore = !log->turnGivenUp;
            const LONG turn = TakeTurn(log);
            if (waitedBefore && log->turnGivenUp) {
                CHAR notice[160];  // once per logger, with the line's own stamp
                const int noticeLength =
                    _snprintf(notice, sizeof(notice), "%.*sTraceLog => the file's turn was held for %lu ms, writing without it\r\n",
                              static_cast<int>(headLength), head, static_cast<unsigned long>(kTurnWaitMs));
                if (noticeLength > 0) platform::AppendBytes(log->file, notice, static_cast<DWORD>(noticeLength));
            }
            platform::AppendBytes(log->file, line.data(), static_cast<DWORD>(at - line.data()));
            GiveBackTurn(log->turn, turn);
        }
        platform::CloseFile(log->file);
        log->file = nullptr;
    }
    ::LeaveCriticalSection(&log->lock);
}

template <class Log>
void Write(Log* log, int level, Stamp stamp, const WCHAR* format, va_list args) {
    if (!Passes(log, level) || !format) return;
    TextBuffer<WCHAR> message;
    const int length = Format(message, format, args);
    if (length < 0) return;
    TextBuffer<CHAR> bytes;
    const int byteCount = ToAnsi(message.data(), length, bytes);
    EmitLine(log, stamp, bytes.data(), static_cast<size_t>(byteCount));
}

// A message the narrow runtime refuses (a wide argument the narrow character
// set cannot hold) is written as its unexpanded format: the line is not lost
// and the next entry still starts on a line of its own.
template <class Log>
void Write(Log* log, int level, Stamp stamp, const CHAR* format, va_list args) {
    if (!Passes(log, level) || !format) return;
    TextBuffer<CHAR> message;
    const int length = Format(message, format, args);
    if (length < 0) {
        EmitLine(log, stamp, format, std::strlen(format));
    } else {
        EmitLine(log, stamp, message.data(), static_cast<size_t>(length));
    }
}

template <class Log, class Ch>
void WriteTimed(Log* log, int level, const Ch* format, ...) {
    va_list args;
    va_start(args, format);
    Write(log, level, Stamp::Time, format, args);
    va_end(args);
}

template <class Ch>
LoggerOf<Ch>* CreateLogger(const Ch* path, int level) {
    if (!path || !*path) return nullptr;
    HANDLE probe = platform::OpenForAppend(path);  // creates the file when it is missing
    if (!probe) return nullptr;
    platform::CloseFile(probe);
    LoggerOf<Ch>* log = platform::HeapAllocZeroAs<LoggerOf<Ch>>(sizeof(LoggerOf<Ch>));
    if (!log) return nullptr;
    platform::CopyString(log->path, MAX_PATH, path);
    log->level = static_cast<SHORT>(level);
    ::InitializeCriticalSection(&log->lock);
    MapTurn(log, log->path);  // the path the lines go to, which always fits the conversion
    return log;
}

DWORD ExpandPath(const WCHAR* path, WCHAR* expanded, DWORD chars) {
    return ::ExpandEnvironmentStringsW(path, expanded, chars);
}
DWORD ExpandPath(const CHAR* path, CHAR* expanded, DWORD chars) {
    return ::ExpandEnvironmentStringsA(path, expanded, chars);
}

template <class Ch>
LoggerOf<Ch>* CreateFromRegistry(const Ch* name) {
    if (!name || !*name) return nullptr;
    Ch keyPath[512];
    FormatTo(keyPath, 512, KV_LITERAL(Ch, "%ls\\%s"), kTraceLogKey, name);
    platform::ScopedKey key;
    if (platform::OpenKeyToRead(HKEY_LOCAL_MACHINE, keyPath, key.receive()) != ERROR_SUCCESS) return nullptr;
    DWORD mode = 0;
    if (platform::QueryDword(key.get(), KV_LITERAL(Ch, "Mode"), &mode) != ERROR_SUCCESS || mode == 0) return nullptr;
    Ch file[512] = {};
    if (platform::QueryString(key.get(), KV_LITERAL(Ch, "File"), file, sizeof(file)) != ERROR_SUCCESS) return nullptr;
    Ch expanded[512] = {};
    const DWORD got = ExpandPath(file, expanded, 512);
    if (got == 0 || got > 512) return nullptr;
    DWORD level = 0;
    platform::QueryDword(key.get(), KV_LITERAL(Ch, "Level"), &level);
    return CreateLogger(expanded, static_cast<int>(level & 0xFFFF));
}

template <class Log>
void DestroyLogger(Log* log) {
    if (!log) return;
    ::DeleteCriticalSection(&log->lock);
    platform::UnmapSharedWord(log->turn, log->turnMapping);
    platform::HeapFreeBlock(log);
}

DWORD SystemText(DWORD code, WCHAR** text) {
    return ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                            nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<WCHAR*>(text), 0,
                            nullptr);
}
DWORD SystemText(DWORD code, CHAR** text) {
    return ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                            nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<CHAR*>(text), 0,
                            nullptr);
}

// The system's text is written as it comes, its own line break included; the
// line for a code without a text has no line end.
template <class Log>
void WriteError(Log* log, int level, DWORD code) {
    using Ch = CharOf<Log>;
    if (!Passes(log, level)) return;
    Ch* text = nullptr;
    if (SystemText(code, &text) && text) {
        WriteTimed(log, 0, KV_LITERAL(Ch, "ERROR %d: %s"), static_cast<int>(code), text);
        ::LocalFree(text);
    } else {
        WriteTimed(log, 0, KV_LITERAL(Ch, "ERROR %d: (failed to get error string)"), static_cast<int>(code));
    }
}

template <class Log>
void ChangeDepth(Log* log, SHORT step) {
    ::EnterCriticalSection(&log->lock);
    log->depth = static_cast<SHORT>(log->depth + step);
    ::LeaveCriticalSection(&log->lock);
}

// Enter and Exit change the depth whether or not their line passes the level.
template <class Log>
void Enter(Log* log, int level, const CharOf<Log>* name) {
    if (!log) return;
    WriteTimed(log, level, KV_LITERAL(CharOf<Log>, "%s Enter\n"), name ? name : KV_LITERAL(CharOf<Log>, ""));
    ChangeDepth(log, 1);
}

template <class Log>
void Exit(Log* log, int level) {
    if (!log) return;
    ChangeDepth(log, -1);
    WriteTimed(log, level, KV_LITERAL(CharOf<Log>, "Exit\n"));
}

}  // namespace

TraceLog* TraceLogCreate(const WCHAR* path, int level) { return CreateLogger(path, level); }
TraceLogA* TraceLogCreateA(const CHAR* path, int level) { return CreateLogger(path, level); }
TraceLog* TraceLogCreateFromRegistry(const WCHAR* name) { return CreateFromRegistry(name); }
TraceLogA* TraceLogCreateFromRegistryA(const CHAR* name) { return CreateFromRegistry(name); }
void TraceLogDestroy(TraceLog* log) { DestroyLogger(log); }
void TraceLogDestroyA(TraceLogA* log) { DestroyLogger(log); }

#define KV_FORWARD(call)       \
    va_list args;              \
    va_start(args, format);    \
    call;                      \
    va_end(args)

void TraceLogWrite(TraceLog* log, int level, const WCHAR* format, ...) {
    KV_FORWARD(Write(log, level, Stamp::Time, format, args));
}
void TraceLogWriteRaw(TraceLog* log, int level, const WCHAR* format, ...) {
    KV_FORWARD(Write(log, level, Stamp::None, format, args));
}
void TraceLogWriteNarrowText(TraceLog* log, int level, const CHAR* format, ...) {
    KV_FORWARD(Write(log, level, Stamp::Time, format, args));
}
void TraceLogWriteThread(TraceLog* log, int level, const WCHAR* format, ...) {
    KV_FORWARD(Write(log, level, Stamp::Thread, format, args));
}
void TraceLogWriteSession(TraceLog* log, int level, const WCHAR* format, ...) {
    KV_FORWARD(Write(log, level, Stamp::Session, format, args));
}
void TraceLogWriteA(TraceLogA* log, int level, const CHAR* format, ...) {
    KV_FORWARD(Write(log, level, Stamp::Time, format, args));
}
void TraceLogWriteRawA(TraceLogA* log, int level, const CHAR* format, ...) {
    KV_FORWARD(Write(log, level, Stamp::None, format, args));
}
void TraceLogWriteWideTextA(TraceLogA* log, int level, const WCHAR* format, ...) {
    KV_FORWARD(Write(log, level, Stamp::Time, format, args));
}
void TraceLogWriteThreadA(TraceLogA* log, int level, const CHAR* format, ...) {
    KV_FORWARD(Write(log, level, Stamp::Thread, format, args));
}
void TraceLogWriteSessionA(TraceLogA* log, int level, const CHAR* format, ...) {
    KV_FORWARD(Write(log, level, Stamp::Session, format, args));
}

#undef KV_FORWARD

void TraceLogError(TraceLog* log, int level, DWORD code) { WriteError(log, level, code); }
void TraceLogErrorA(TraceLogA* log, int level, DWORD code) { WriteError(log, level, code); }
void TraceLogEnter(TraceLog* log, int level, const WCHAR* name) { Enter(log, level, name); }
void TraceLogEnterA(TraceLogA* log, int level, const CHAR* name) { Enter(log, level, name); }
void TraceLogExit(TraceLog* log, int level) { Exit(log, level); }
void TraceLogExitA(TraceLogA* log, int level) { Exit(log, level); }
