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
    // Room for count characters, keeping the first `keep` characters held.
    bool Grow(size_t count, size_t keep) {
        if (count <= capacity_) return true;
        Ch* block = platform::HeapAllocZeroAs<Ch>(count * sizeof(Ch));
        if (!block) return false;
        std::memcpy(block, data_, keep * sizeof(Ch));
        if (data_ != local_) platform::HeapFreeBlock(data_);
        data_ = block;
        capacity_ = count;
        return true;
    }
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

// Names from print servers, drivers and stored records reach the log as %s
// arguments, and a line end in one would start a line that looks like the
// system's own. A character below 32 in a string argument is therefore
// written as \xNN. A message whose string arguments hold none, or whose
// format holds a conversion not known here, is formatted as it always was;
// only a message with such a character is put together piece by piece, each
// conversion formatted alone exactly as it would be within the whole. Only a
// string (or a %c) argument adds such characters to those of the format's own
// text: a formatted message that holds no more of them than its format is
// kept without a look at the arguments.
namespace escaping {

enum class Arg { None, Int, Long, LongLong, Size, Double, LongDouble, Pointer, Narrow, Wide, Unknown };

template <class Ch>
struct Spec {
    const Ch* begin = nullptr;  // the '%'
    const Ch* end = nullptr;    // one past the conversion character
    const Ch* precision = nullptr;  // the '.' of the precision, or null
    const Ch* length = nullptr;     // the length modifier (or the conversion when there is none)
    bool starWidth = false, starPrecision = false;
    int digitsPrecision = -1;
    Arg arg = Arg::Unknown;
};

template <class Ch>
bool Is(const Ch* at, const char* text) {
    for (; *text; ++at, ++text)
        if (*at != static_cast<Ch>(*text)) return false;
    return true;
}

// Parses the conversion that starts at the '%' (not "%%").
template <class Ch>
Spec<Ch> Parse(const Ch* at) {
    Spec<Ch> spec;
    spec.begin = at++;
    while (*at == '-' || *at == '+' || *at == ' ' || *at == '#' || *at == '0') ++at;
    if (*at == '*') {
        spec.starWidth = true;
        ++at;
    } else {
        while (*at >= '0' && *at <= '9') ++at;
    }
    if (*at == '.') {
        spec.precision = at++;
        if (*at == '*') {
            spec.starPrecision = true;
            ++at;
        } else {
            spec.digitsPrecision = 0;
            for (; *at >= '0' && *at <= '9'; ++at)
                if (spec.digitsPrecision < 100000) spec.digitsPrecision = spec.digitsPrecision * 10 + (*at - '0');
        }
    }
    spec.length = at;
    enum { kNone, kShort, kLong, kLongLong, kSize, kInt32, kWide, kLongDouble } length = kNone;
    if (Is(at, "I64") || Is(at, "ll")) {
        length = kLongLong, at += *at == 'I' ? 3 : 2;
    } else if (Is(at, "I32")) {
        length = kInt32, at += 3;
    } else if (Is(at, "hh")) {
        length = kShort, at += 2;
    } else if (*at == 'h') {
        length = kShort, ++at;
    } else if (*at == 'l') {
        length = kLong, ++at;
    } else if (*at == 'w') {
        length = kWide, ++at;
    } else if (*at == 'I' || *at == 'z' || *at == 't' || *at == 'j') {
        length = *at == 'j' ? kLongLong : kSize, ++at;
    } else if (*at == 'L') {
        length = kLongDouble, ++at;
    }
    const Ch c = *at;
    if (!c) return spec;
    spec.end = at + 1;
    const bool wideFormat = sizeof(Ch) == sizeof(WCHAR);
    switch (c) {
    case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
        spec.arg = length == kLongLong ? Arg::LongLong : length == kSize ? Arg::Size : length == kLong ? Arg::Long
                 : length == kWide || length == kLongDouble ? Arg::Unknown : Arg::Int;
        break;
    case 'c': case 'C':
        spec.arg = length == kNone || length == kShort || length == kLong || length == kWide ? Arg::Int : Arg::Unknown;
        break;
    case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        spec.arg = length == kNone || length == kLong ? Arg::Double : length == kLongDouble ? Arg::LongDouble : Arg::Unknown;
        break;
    case 'p':
        spec.arg = length == kNone ? Arg::Pointer : Arg::Unknown;
        break;
    case 's': case 'S':
        // %s is text of the format's width and %S of the other one; h makes
        // it narrow, l and w wide.
        if (length == kShort) spec.arg = Arg::Narrow;
        else if (length == kLong || length == kWide) spec.arg = Arg::Wide;
        else if (length == kNone) spec.arg = (c == 's') == wideFormat ? Arg::Wide : Arg::Narrow;
        break;
    default:
        break;  // %n, %Z and anything else: the message is formatted as it comes
    }
    return spec;
}

inline bool Below32(CHAR c) { return static_cast<unsigned char>(c) < 32; }
inline bool Below32(WCHAR c) { return c < 32; }

// The first `limit` characters of a string (all when limit < 0) hold a
// character below 32.
template <class Text>
bool HoldsControl(const Text* text, int limit) {
    for (int i = 0; text && (limit < 0 || i < limit) && text[i]; ++i)
        if (Below32(text[i])) return true;
    return false;
}

// How many of the first `count` characters of a text are below 32.
template <class Text>
size_t CountControls(const Text* text, size_t count) {
    size_t controls = 0;
    for (size_t i = 0; i < count; ++i) controls += Below32(text[i]);
    return controls;
}
template <class Text>
size_t CountControls(const Text* text) {
    size_t controls = 0;
    for (; *text; ++text) controls += Below32(*text);
    return controls;
}

// One conversion's arguments, taken from the list in order.
struct Taken {
    int width = 0, precision = -1;
    long long integer = 0;
    long double real = 0;
    const void* pointer = nullptr;
};

template <class Ch>
Taken Take(const Spec<Ch>& spec, va_list& args) {
    Taken taken;
    if (spec.starWidth) taken.width = va_arg(args, int);
    taken.precision = spec.digitsPrecision;
    if (spec.starPrecision) taken.precision = va_arg(args, int);
    if (taken.precision < 0) taken.precision = -1;
    switch (spec.arg) {
    case Arg::Int: taken.integer = va_arg(args, int); break;
    case Arg::Long: taken.integer = va_arg(args, long); break;
    case Arg::LongLong: taken.integer = va_arg(args, long long); break;
    case Arg::Size: taken.integer = static_cast<long long>(va_arg(args, size_t)); break;
    case Arg::Double: taken.real = va_arg(args, double); break;
    case Arg::LongDouble: taken.real = va_arg(args, long double); break;
    case Arg::Pointer: case Arg::Narrow: case Arg::Wide: taken.pointer = va_arg(args, const void*); break;
    default: break;
    }
    return taken;
}

template <class Ch>
bool Escapes(const Spec<Ch>& spec, const Taken& taken) {
    if (spec.arg == Arg::Narrow) return HoldsControl(static_cast<const CHAR*>(taken.pointer), taken.precision);
    if (spec.arg == Arg::Wide) return HoldsControl(static_cast<const WCHAR*>(taken.pointer), taken.precision);
    return false;
}

// Whether the message needs escaping: a known format with a string argument
// that holds a character below 32.
template <class Ch>
bool Needed(const Ch* format, va_list args) {
    va_list walk;
    va_copy(walk, args);
    bool needed = false, known = true;
    for (const Ch* at = format; *at && known; ++at) {
        if (*at != '%') continue;
        if (at[1] == '%') {
            ++at;
            continue;
        }
        const Spec<Ch> spec = Parse(at);
        if (spec.arg == Arg::Unknown || spec.end - spec.begin > 24) {
            known = false;
            break;
        }
        needed = Escapes(spec, Take(spec, walk)) || needed;
        at = spec.end - 1;
    }
    va_end(walk);
    return known && needed;
}

// The text written so far.
template <class Ch>
struct Output {
    TextBuffer<Ch>& text;
    size_t length = 0;
    bool failed = false;

    void Append(const Ch* from, size_t count) {
        if (failed || !text.Grow(length + count + 1, length)) {
            failed = true;
            return;
        }
        std::memcpy(text.data() + length, from, count * sizeof(Ch));
        length += count;
        text.data()[length] = 0;
    }
    // One conversion formatted alone.
    void Piece(const Ch* spec, ...) {
        va_list args, copy;
        va_start(args, spec);
        va_copy(copy, args);
        const int count = failed ? -1 : CountFormatted(spec, copy);
        va_end(copy);
        if (count < 0 || !text.Grow(length + static_cast<size_t>(count) + 1, length) ||
            FormatInto(text.data() + length, static_cast<size_t>(count) + 1, spec, args) != count) {
            failed = true;
        } else {
            length += static_cast<size_t>(count);
        }
        va_end(args);
    }
};

// The string with each character below 32 as \xNN, at most `limit` of its
// characters (all when limit < 0), terminated.
template <class Text>
bool EscapedCopy(const Text* from, int limit, TextBuffer<Text>& to) {
    size_t count = 0;
    for (int i = 0; (limit < 0 || i < limit) && from[i]; ++i) count += Below32(from[i]) ? 4 : 1;
    if (!to.Grow(count + 1, 0)) return false;
    Text* at = to.data();
    for (int i = 0; (limit < 0 || i < limit) && from[i]; ++i) {
        if (!Below32(from[i])) {
            *at++ = from[i];
            continue;
        }
        const unsigned value = static_cast<unsigned>(from[i]) & 0xFF;
        *at++ = '\\';
        *at++ = 'x';
        *at++ = static_cast<Text>("0123456789ABCDEF"[value >> 4]);
        *at++ = static_cast<Text>("0123456789ABCDEF"[value & 15]);
    }
    *at = 0;
    return true;
}

// A string conversion without its precision (the escaped copy is cut already).
template <class Ch>
void StringPiece(Output<Ch>& out, const Spec<Ch>& spec, const Taken& taken, const void* text) {
    Ch format[32] = {};
    size_t n = 0;
    for (const Ch* c = spec.begin; c < (spec.precision ? spec.precision : spec.length); ++c) format[n++] = *c;
    for (const Ch* c = spec.length; c < spec.end; ++c) format[n++] = *c;
    if (spec.starWidth) out.Piece(format, taken.width, text);
    else out.Piece(format, text);
}

template <class Ch>
void Conversion(Output<Ch>& out, const Spec<Ch>& spec, const Taken& taken) {
    if (Escapes(spec, taken)) {
        bool copied = false;
        if (spec.arg == Arg::Narrow) {
            TextBuffer<CHAR> copy;
            if ((copied = EscapedCopy(static_cast<const CHAR*>(taken.pointer), taken.precision, copy)))
                StringPiece(out, spec, taken, copy.data());
        } else {
            TextBuffer<WCHAR> copy;
            if ((copied = EscapedCopy(static_cast<const WCHAR*>(taken.pointer), taken.precision, copy)))
                StringPiece(out, spec, taken, copy.data());
        }
        if (!copied) out.failed = true;
        return;
    }
    Ch format[32] = {};
    for (const Ch* c = spec.begin; c < spec.end; ++c) format[c - spec.begin] = *c;
    // The star values go first, as the conversion takes them.
    const auto with = [&](auto value) {
        if (spec.starWidth && spec.starPrecision) out.Piece(format, taken.width, taken.precision, value);
        else if (spec.starWidth) out.Piece(format, taken.width, value);
        else if (spec.starPrecision) out.Piece(format, taken.precision, value);
        else out.Piece(format, value);
    };
    switch (spec.arg) {
    case Arg::Int: with(static_cast<int>(taken.integer)); break;
    case Arg::Long: with(static_cast<long>(taken.integer)); break;
    case Arg::LongLong: with(taken.integer); break;
    case Arg::Size: with(static_cast<size_t>(taken.integer)); break;
    case Arg::Double: with(static_cast<double>(taken.real)); break;
    case Arg::LongDouble: with(taken.real); break;
    default: with(taken.pointer); break;
    }
}

// The message with its string arguments escaped; its length, or -1 when the
// runtime refuses a piece or memory runs out.
template <class Ch>
int Format(TextBuffer<Ch>& text, const Ch* format, va_list args) {
    va_list walk;
    va_copy(walk, args);
    Output<Ch> out{text};
    const Ch* literal = format;
    for (const Ch* at = format; *at && !out.failed;) {
        if (*at != '%') {
            ++at;
            continue;
        }
        out.Append(literal, static_cast<size_t>(at - literal));
        if (at[1] == '%') {
            out.Append(at, 1);
            literal = at += 2;
            continue;
        }
        const Spec<Ch> spec = Parse(at);
        Conversion(out, spec, Take(spec, walk));
        literal = at = spec.end;
    }
    va_end(walk);
    const Ch* end = literal;
    while (*end) ++end;
    out.Append(literal, static_cast<size_t>(end - literal));
    return out.failed ? -1 : static_cast<int>(out.length);
}

}  // namespace escaping

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
// thread and session forms. Returns the length written into head. Lines come
// many to a second: a thread formats its stamp again only when the second or
// the form changes (its id and the process's session stay what they were).
struct LastStamp {
    Stamp stamp;
    SYSTEMTIME time;  // to the second
    CHAR text[96];
    size_t length;
};
thread_local LastStamp lastStamp = {Stamp::None, {}, {}, 0};

size_t FormatStamp(Stamp stamp, CHAR* head, size_t capacity) {
    if (stamp == Stamp::None) return 0;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    now.wMilliseconds = 0;
    LastStamp& last = lastStamp;
    if (last.stamp != stamp || std::memcmp(&last.time, &now, sizeof(now))) {
        int length = 0;
        if (stamp == Stamp::Thread) {
            length = _snprintf(last.text, sizeof(last.text), "[%04d/%02d/%02d %02d:%02d:%02d Thread:%lu] ", now.wYear,
                               now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                               static_cast<unsigned long>(::GetCurrentThreadId()));
        } else if (stamp == Stamp::Session) {
            // The session forms print the Terminal Services session of this process.
            length = _snprintf(last.text, sizeof(last.text), "[%04d/%02d/%02d %02d:%02d:%02d Session:%lu] ", now.wYear,
                               now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                               static_cast<unsigned long>(SessionNumber()));
        } else {
            length = _snprintf(last.text, sizeof(last.text), "[%04d/%02d/%02d %02d:%02d:%02d] ", now.wYear, now.wMonth,
                               now.wDay, now.wHour, now.wMinute, now.wSecond);
        }
        last.stamp = stamp, last.time = now, last.length = length < 0 ? 0 : static_cast<size_t>(length);
    }
    if (last.length > capacity) return 0;
    std::memcpy(head, last.text, last.length);
    return last.length;
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
    const CHAR* const end = message + length;
    size_t breaks = 0;
    for (const CHAR* at = message; (at = static_cast<const CHAR*>(std::memchr(at, '\n', end - at))); ++at) ++breaks;
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
            for (const CHAR* from = message; from < end;) {
                const CHAR* lineEnd = static_cast<const CHAR*>(std::memchr(from, '\n', end - from));
                const size_t run = static_cast<size_t>((lineEnd ? lineEnd : end) - from);
                std::memcpy(at, from, run);
                at += run, from += run;
                if (lineEnd) *at++ = '\r', *at++ = '\n', ++from;
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

// A message, its string arguments escaped unless told otherwise.
template <class Ch>
int FormatMessageText(TextBuffer<Ch>& text, const Ch* format, va_list args, bool escape) {
    va_list copy;
    va_copy(copy, args);
    const int length = Format(text, format, copy);
    va_end(copy);
    if (!escape || (length >= 0 && escaping::CountControls(text.data(), static_cast<size_t>(length)) ==
                                       escaping::CountControls(format)))
        return length;
    return escaping::Needed(format, args) ? escaping::Format(text, format, args) : length;
}

template <class Log>
void Write(Log* log, int level, Stamp stamp, const WCHAR* format, va_list args, bool escape = true) {
    if (!Passes(log, level) || !format) return;
    TextBuffer<WCHAR> message;
    const int length = FormatMessageText(message, format, args, escape);
    if (length < 0) return;
    TextBuffer<CHAR> bytes;
    const int byteCount = ToAnsi(message.data(), length, bytes);
    EmitLine(log, stamp, bytes.data(), static_cast<size_t>(byteCount));
}

// A message the narrow runtime refuses (a wide argument the narrow character
// set cannot hold) is written as its unexpanded format: the line is not lost
// and the next entry still starts on a line of its own.
template <class Log>
void Write(Log* log, int level, Stamp stamp, const CHAR* format, va_list args, bool escape = true) {
    if (!Passes(log, level) || !format) return;
    TextBuffer<CHAR> message;
    const int length = FormatMessageText(message, format, args, escape);
    if (length < 0) {
        EmitLine(log, stamp, format, std::strlen(format));
    } else {
        EmitLine(log, stamp, message.data(), static_cast<size_t>(length));
    }
}

template <class Log, class Ch>
void WriteTimed(Log* log, int level, bool escape, const Ch* format, ...) {
    va_list args;
    va_start(args, format);
    Write(log, level, Stamp::Time, format, args, escape);
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
        // The system's own text, not a name: its line break stays one.
        WriteTimed(log, 0, false, KV_LITERAL(Ch, "ERROR %d: %s"), static_cast<int>(code), text);
        ::LocalFree(text);
    } else {
        WriteTimed(log, 0, false, KV_LITERAL(Ch, "ERROR %d: (failed to get error string)"), static_cast<int>(code));
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
    WriteTimed(log, level, true, KV_LITERAL(CharOf<Log>, "%s Enter\n"), name ? name : KV_LITERAL(CharOf<Log>, ""));
    ChangeDepth(log, 1);
}

template <class Log>
void Exit(Log* log, int level) {
    if (!log) return;
    ChangeDepth(log, -1);
    WriteTimed(log, level, true, KV_LITERAL(CharOf<Log>, "Exit\n"));
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
