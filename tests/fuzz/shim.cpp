// Native stand-ins for the Windows services the record readers call: the
// Microsoft formatters and wide string functions (2-byte units), the kernel
// calls of the trace log and the heap, and the registry table, in memory.
// The link leaves out what the readers never reach.
#include <cwctype>
#include <map>
#include <string>

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include "platform/platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// One formatter for both widths: the whole text's length, at most `count`
// units stored. %s is text of the format's width, %S the other one, %ls wide.
template <class Ch>
int Format(Ch* out, size_t count, const Ch* f, va_list args) {
    std::string text;
    for (; *f; ++f) {
        if (*f != '%') {
            text += static_cast<char>(*f);
            continue;
        }
        std::string spec = "%";
        for (++f; *f && strchr("-+ #0123456789.", static_cast<char>(*f)); ++f) spec += static_cast<char>(*f);
        const bool isLong = *f == 'l', is64 = *f == 'I';
        f += isLong ? 1 : is64 ? 3 : 0;
        const char c = static_cast<char>(*f);
        std::vector<char> done(64);
        if (c == 's' || c == 'S') {
            const bool wide = isLong || (sizeof(Ch) == 2) == (c == 's');
            const void* p = va_arg(args, const void*);
            std::string value = p ? "" : "(null)";
            if (p && wide) for (const WCHAR* w = static_cast<const WCHAR*>(p); *w; ++w) value += static_cast<char>(*w < 256 ? *w : '?');
            else if (p) value = static_cast<const char*>(p);
            done.resize(value.size() + 300);
            snprintf(done.data(), done.size(), (spec + "s").c_str(), value.c_str());
        } else if (c == '%') {
            done[0] = '%';
        } else if (c && strchr("diuxX", c)) {
            const bool sign = c == 'd' || c == 'i';
            const long long v = is64 ? va_arg(args, long long) : sign ? isLong ? va_arg(args, long) : va_arg(args, int)
                                      : isLong ? static_cast<long long>(va_arg(args, unsigned long)) : va_arg(args, unsigned);
            snprintf(done.data(), done.size(), (spec + "ll" + c).c_str(), v);
        } else {
            return -1;
        }
        text += done.data();
    }
    for (size_t i = 0; i < count && i < text.size(); ++i) out[i] = static_cast<unsigned char>(text[i]);
    return static_cast<int>(text.size());
}

template <class Ch>
int Limited(Ch* out, size_t count, const Ch* format, va_list args) {
    const int length = Format(out, count, format, args);
    if (length < 0 || static_cast<size_t>(length) > count) return -1;
    if (static_cast<size_t>(length) < count) out[length] = 0;
    return length;
}

}  // namespace

// Each of these the readers or the C++ library call (scripts/fuzz checks
// that no target takes the C library's 4-byte one instead).
extern "C" {
size_t wcslen(const WCHAR* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}
int wmemcmp(const WCHAR* a, const WCHAR* b, size_t n) {
    for (; n; --n, ++a, ++b)
        if (*a != *b) return *a < *b ? -1 : 1;
    return 0;
}
WCHAR* wmemcpy(WCHAR* d, const WCHAR* s, size_t n) { return static_cast<WCHAR*>(memcpy(d, s, n * sizeof(WCHAR))); }
WCHAR* wmemmove(WCHAR* d, const WCHAR* s, size_t n) { return static_cast<WCHAR*>(memmove(d, s, n * sizeof(WCHAR))); }
WCHAR* wcsstr(const WCHAR* s, const WCHAR* t) {
    for (const size_t n = wcslen(t); *s || !n; ++s)
        if (!memcmp(s, t, n * sizeof(WCHAR))) return const_cast<WCHAR*>(s);
    return nullptr;
}
int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n) {
    for (size_t i = 0; i < n; ++i) if (towlower(a[i]) != towlower(b[i]) || !a[i]) return towlower(a[i]) - towlower(b[i]);
    return 0;
}
int _wcsicmp(const WCHAR* a, const WCHAR* b) { return _wcsnicmp(a, b, SIZE_MAX); }
int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }
WCHAR* wcstok_s(WCHAR* text, const WCHAR* delimiters, WCHAR** context) {
    WCHAR* s = text ? text : *context;
    const std::u16string_view set(reinterpret_cast<const char16_t*>(delimiters));
    auto delimiter = [&](WCHAR c) { return c && set.find(c) != set.npos; };
    while (delimiter(*s)) ++s;
    WCHAR* token = *s ? s : nullptr;
    while (*s && !delimiter(*s)) ++s;
    if (*s) *s++ = 0;
    return *context = s, token;
}
int _vsnprintf(char* b, size_t n, const char* f, va_list a) { return Limited(b, n, f, a); }
int _vscprintf(const char* f, va_list a) { return Format<char>(nullptr, 0, f, a); }
int _snwprintf(WCHAR* b, size_t n, const WCHAR* f, ...) { va_list a; va_start(a, f); int r = _vsnwprintf(b, n, f, a); va_end(a); return r; }
int _vsnwprintf(WCHAR* b, size_t n, const WCHAR* f, va_list a) { return Limited(b, n, f, a); }
int _vscwprintf(const WCHAR* f, va_list a) { return Format<WCHAR>(nullptr, 0, f, a); }
int _snprintf(char* b, size_t n, const char* f, ...) { va_list a; va_start(a, f); int r = _vsnprintf(b, n, f, a); va_end(a); return r; }

thread_local DWORD lastError;
void WINAPI SetLastError(DWORD e) { lastError = e; }
HANDLE WINAPI GetProcessHeap() { return reinterpret_cast<HANDLE>(1); }
LPVOID WINAPI HeapAlloc(HANDLE, DWORD, SIZE_T n) { return calloc(n, 1); }
BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID p) { return free(p), TRUE; }
// The ANSI code page is Latin-1 here; a conversion stops where the destination ends.
INT WINAPI WideCharToMultiByte(UINT, DWORD, LPCWSTR s, INT n, LPSTR d, INT size, LPCSTR, LPBOOL) {
    if (n < 0) n = static_cast<INT>(wcslen(s)) + 1;
    for (INT i = 0; d && size && i < n; ++i) if (i == size) return SetLastError(ERROR_INSUFFICIENT_BUFFER), 0; else d[i] = static_cast<char>(s[i] < 256 ? s[i] : '?');
    return n;
}
INT WINAPI MultiByteToWideChar(UINT, DWORD, LPCSTR s, INT n, LPWSTR d, INT size) {
    if (n < 0) n = static_cast<INT>(strlen(s)) + 1;
    for (INT i = 0; d && size && i < n; ++i) if (i == size) return SetLastError(ERROR_INSUFFICIENT_BUFFER), 0; else d[i] = static_cast<unsigned char>(s[i]);
    return n;
}
DWORD WINAPI GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }
DWORD WINAPI GetCurrentThreadId() { return static_cast<DWORD>(gettid()); }
BOOL WINAPI ProcessIdToSessionId(DWORD, DWORD* session) { return *session = 0, TRUE; }
DWORD WINAPI GetTickCount() { return 1; }
void WINAPI Sleep(DWORD) {}
void WINAPI GetLocalTime(SYSTEMTIME* t) { *t = SYSTEMTIME{2026, 1, 1, 1, 0, 0, 0, 0}; }
DWORD WINAPI GetFullPathNameW(LPCWSTR path, DWORD size, LPWSTR out, LPWSTR*) {
    const DWORD n = static_cast<DWORD>(wcslen(path));
    return n < size ? (wmemcpy(out, path, n + 1), n) : n + 1;
}
// One thread: the logger's lock has nothing to exclude.
void WINAPI InitializeCriticalSection(CRITICAL_SECTION*) {}
void WINAPI EnterCriticalSection(CRITICAL_SECTION*) {}
void WINAPI LeaveCriticalSection(CRITICAL_SECTION*) {}
// The trace log's scratch file (the process's one file), opened once and kept
// open (a line opens and closes it); no file mapping (the cross-process turn
// is then absent).
HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    static const int file = open(std::string(path, path + wcslen(path)).c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    return file < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(static_cast<intptr_t>(file) + 1);
}
BOOL WINAPI WriteFile(HANDLE h, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED) {
    const ssize_t r = write(static_cast<int>(reinterpret_cast<intptr_t>(h) - 1), data, n);
    return *written = r < 0 ? 0 : static_cast<DWORD>(r), r >= 0;
}
// No logger here has a narrow path.
HANDLE WINAPI CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) { return INVALID_HANDLE_VALUE; }
BOOL WINAPI CloseHandle(HANDLE) { return TRUE; }
HANDLE WINAPI CreateFileMappingW(HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD, LPCWSTR) { return nullptr; }
LPVOID WINAPI MapViewOfFile(HANDLE, DWORD, DWORD, DWORD, SIZE_T) { return nullptr; }
BOOL WINAPI UnmapViewOfFile(LPCVOID) { return TRUE; }
}

// The registry: every key exists; a key's handle is its path from
// HKEY_LOCAL_MACHINE, a value's name a path below it.
std::map<std::wstring, std::vector<BYTE>> fuzzRegistry;

namespace {

std::wstring Path(HKEY parent, const WCHAR* sub) {
    const std::wstring path = parent == HKEY_LOCAL_MACHINE ? L"" : *reinterpret_cast<std::wstring*>(parent) + L"\\";
    return path + sub;
}
LSTATUS WINAPI Open(HKEY parent, LPCWSTR sub, DWORD, REGSAM, PHKEY key) {
    *key = reinterpret_cast<HKEY>(new std::wstring(Path(parent, sub)));
    return ERROR_SUCCESS;
}
LSTATUS WINAPI Create(HKEY parent, LPCWSTR sub, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY key, LPDWORD) {
    return Open(parent, sub, 0, 0, key);
}
LSTATUS WINAPI Query(HKEY key, LPCWSTR name, LPDWORD, LPDWORD, LPBYTE data, LPDWORD size) {
    const auto value = fuzzRegistry.find(Path(key, name));
    if (value == fuzzRegistry.end()) return ERROR_FILE_NOT_FOUND;
    const DWORD held = static_cast<DWORD>(value->second.size());
    if (data && *size < held) return *size = held, ERROR_MORE_DATA;
    if (data) std::copy(value->second.begin(), value->second.end(), data);
    return *size = held, ERROR_SUCCESS;
}
LSTATUS WINAPI Set(HKEY key, LPCWSTR name, DWORD, DWORD, const BYTE* data, DWORD size) {
    fuzzRegistry[Path(key, name)].assign(data, data + size);
    return ERROR_SUCCESS;
}
LSTATUS WINAPI Close(HKEY key) { return delete reinterpret_cast<std::wstring*>(key), ERROR_SUCCESS; }

}  // namespace

namespace platform {
RegistryApi registry{Open, nullptr, Query, nullptr, Create, Set, nullptr, Close, nullptr};
// Nothing here runs driver code.
bool RunGuarded(void (*fn)(void*), void* context, DWORD* code) { return fn(context), code && (*code = 0), true; }
}  // namespace platform

// The spooler's printer information: only asked for with a printer handle,
// which no target has.
LPBYTE vlibPRINT_GetPrinterInfo(HANDLE, DWORD) { return nullptr; }
