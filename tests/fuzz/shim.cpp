// Native stand-ins for the Windows services the record readers call: the
// Microsoft formatters and wide string functions (2-byte units), the kernel
// calls of the trace log and the heap, and the registry table, in memory.
// The link leaves out what the readers never reach.
#include <cwctype>
#include <map>
#include <string>

#include <sanitizer/common_interface_defs.h>
#include <strings.h>
#include <unistd.h>

#include "platform/platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// One formatter for both widths, on the stack: the whole text's length, at
// most `count` units stored. %s is text of the format's width, %S the other
// one, %ls wide; a wide character above 255 goes to narrow text as '?'.
template <class Ch>
struct Output {
    Ch* out;
    size_t count, length = 0;
    void Put(unsigned unit) {
        if (length < count) out[length] = static_cast<Ch>(sizeof(Ch) == 1 && unit > 255 ? '?' : unit);
        ++length;
    }
    // Units of the output's own width, stored at once.
    void Copy(const Ch* from, size_t units) {
        if (length < count) memcpy(out + length, from, std::min(units, count - length) * sizeof(Ch));
        length += units;
    }
    void Pad(size_t from, int width) {
        for (size_t n = length - from; n < static_cast<size_t>(width > 0 ? width : 0); ++n) Put(' ');
    }
};

template <class Ch>
int Format(Ch* out, size_t count, const Ch* f, va_list args) {
    Output<Ch> to{out, count};
    for (; *f; ++f) {
        if (*f != '%') {
            const Ch* text = f;
            while (f[1] && f[1] != '%') ++f;
            to.Copy(text, static_cast<size_t>(f + 1 - text));
            continue;
        }
        bool left = false, zero = false;
        for (++f; *f == '-' || *f == '0' || *f == '+' || *f == ' ' || *f == '#'; ++f) left |= *f == '-', zero |= *f == '0';
        int width = 0, precision = -1;
        if (*f == '*') width = va_arg(args, int), ++f;
        for (; *f >= '0' && *f <= '9'; ++f) width = width * 10 + (*f - '0');
        if (*f == '.' && f[1] == '*') precision = va_arg(args, int), f += 2;
        else if (*f == '.')
            for (precision = 0, ++f; *f >= '0' && *f <= '9'; ++f) precision = precision * 10 + (*f - '0');
        if (width < 0) left = true, width = -width;
        const bool isLong = *f == 'l', is64 = *f == 'I';
        f += isLong ? 1 : is64 ? 3 : 0;
        const char c = static_cast<char>(*f);
        const size_t start = to.length;
        if (c == 's' || c == 'S') {
            const bool wide = isLong || (sizeof(Ch) == 2) == (c == 's');
            const size_t most = precision < 0 ? SIZE_MAX : static_cast<size_t>(precision);
            const void* p = va_arg(args, const void*);
            const void* text = p ? p : "(null)";
            auto unit = [&](size_t i) -> unsigned {
                return wide && p ? static_cast<const WCHAR*>(text)[i] : static_cast<const unsigned char*>(text)[i];
            };
            size_t units = 0;
            while (units < most && unit(units)) ++units;
            if (!left) for (size_t i = units; i < static_cast<size_t>(width); ++i) to.Put(' ');
            if ((wide && p) == (sizeof(Ch) == 2)) to.Copy(static_cast<const Ch*>(text), units);
            else for (size_t i = 0; i < units; ++i) to.Put(unit(i));
            if (left) to.Pad(start, width);
        } else if (c == '%') {
            to.Put('%');
        } else if (c == 'c') {
            to.Put(static_cast<unsigned>(va_arg(args, int)) & (sizeof(Ch) == 1 ? 0xFF : 0xFFFF));
        } else if (c && (c == 'd' || c == 'i' || c == 'u' || c == 'x' || c == 'X')) {
            // Integers by hand: the C library's formatter is most of a dump's cost.
            const bool sign = c == 'd' || c == 'i';
            const long long v = is64 ? va_arg(args, long long) : sign ? isLong ? va_arg(args, long) : va_arg(args, int)
                                      : isLong ? static_cast<long long>(va_arg(args, unsigned long)) : va_arg(args, unsigned);
            const unsigned base = c == 'x' || c == 'X' ? 16 : 10;
            const char* digits = c == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
            unsigned long long magnitude = sign && v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
            char reversed[24];
            size_t count = 0;
            do reversed[count++] = digits[magnitude % base]; while (magnitude /= base);
            const size_t length = count + (sign && v < 0);
            if (!left && !zero) for (size_t i = length; i < static_cast<size_t>(width); ++i) to.Put(' ');
            if (sign && v < 0) to.Put('-');
            if (!left && zero) for (size_t i = length; i < static_cast<size_t>(width); ++i) to.Put('0');
            while (count) to.Put(static_cast<unsigned char>(reversed[--count]));
            if (left) to.Pad(start, width);
        } else if (c == 'f' || c == 'g') {
            char done[64], spec[16];
            snprintf(spec, sizeof(spec), "%%.%d%c", precision < 0 ? 6 : precision, c);
            snprintf(done, sizeof(done), spec, va_arg(args, double));
            for (const char* t = done; *t; ++t) to.Put(static_cast<unsigned char>(*t));
        } else {
            return -1;
        }
    }
    return static_cast<int>(to.length);
}

template <class Ch>
int Limited(Ch* out, size_t count, const Ch* format, va_list args) {
    const int length = Format(out, count, format, args);
    if (length < 0 || static_cast<size_t>(length) > count) return -1;
    if (static_cast<size_t>(length) < count) out[length] = 0;
    return length;
}

// wcstoul and wcstol: the number of the text's leading ASCII characters.
template <class T>
T Number(T (*parse)(const char*, char**, int), const WCHAR* s, WCHAR** end, int base) {
    std::string narrow;
    for (const WCHAR* c = s; *c && *c < 128; ++c) narrow += static_cast<char>(*c);
    char* stop = nullptr;
    const T value = parse(narrow.c_str(), &stop, base);
    if (end) *end = const_cast<WCHAR*>(s + (stop - narrow.c_str()));
    return value;
}

// The trace of the input being run: the logger's lines as the file would
// hold them, in memory, emptied before each input. Lines past its end are
// dropped.
char trace[1 << 20];
size_t traceUsed;

}  // namespace

void FuzzTraceSave() {
    const char* path = std::getenv("KV_FUZZ_TRACE");
    if (FILE* file = std::fopen(path ? path : "/tmp/kv-fuzz-trace.log", "wb")) {
        std::fwrite(trace, 1, traceUsed, file);
        std::fclose(file);
    }
}

// The one entry point: every input starts an empty trace, and the trace of
// the last input (that of a finding) is left in the file at the end.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = (__sanitizer_set_death_callback(FuzzTraceSave), std::atexit(FuzzTraceSave), true);
    (void)once;
    traceUsed = 0;
    const int result = FuzzInput(data, size);
    // An input's registry, files and output go with it: nothing carries over
    // or grows, and an input frees all it takes, so libFuzzer never reruns
    // it to look for a leak.
    fuzzRegistry.clear(), fuzzFiles.clear(), std::string().swap(fuzzOut);
    return result;
}

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
WCHAR* wmemchr(const WCHAR* s, WCHAR c, size_t n) {
    for (; n; --n, ++s)
        if (*s == c) return const_cast<WCHAR*>(s);
    return nullptr;
}
WCHAR* wcschr(const WCHAR* s, WCHAR c) {
    for (;; ++s) {
        if (*s == c) return const_cast<WCHAR*>(s);
        if (!*s) return nullptr;
    }
}
int wcscmp(const WCHAR* a, const WCHAR* b) {
    for (; *a && *a == *b; ++a, ++b) {}
    return *a < *b ? -1 : *a > *b;
}
unsigned long wcstoul(const WCHAR* s, WCHAR** end, int base) { return Number(strtoul, s, end, base); }
long wcstol(const WCHAR* s, WCHAR** end, int base) { return Number(strtol, s, end, base); }
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
DWORD WINAPI GetLastError() { return lastError; }
INT WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b) { return _wcsicmp(a, b); }
// No system texts, modules or disks here.
DWORD WINAPI FormatMessageW(DWORD, LPCVOID, DWORD, DWORD, LPWSTR, DWORD, __ms_va_list*) { return 0; }
HLOCAL WINAPI LocalFree(HLOCAL) { return nullptr; }
HMODULE WINAPI GetModuleHandleW(LPCWSTR) { return nullptr; }
HMODULE WINAPI GetModuleHandleA(LPCSTR) { return nullptr; }
FARPROC WINAPI GetProcAddress(HMODULE, LPCSTR) { return nullptr; }
BOOL WINAPI GetDiskFreeSpaceW(LPCWSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD) { return FALSE; }
BOOL WINAPI GetDiskFreeSpaceA(LPCSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD) { return FALSE; }
DWORD WINAPI GetTempPathW(DWORD, LPWSTR) { return 0; }
BOOL WINAPI GetUserNameW(LPWSTR, LPDWORD) { return FALSE; }
LPWSTR WINAPI PathFindFileNameW(LPCWSTR path) {
    const WCHAR* name = path;
    for (const WCHAR* c = path; *c; ++c) if (*c == '\\' || *c == '/') name = c + 1;
    return const_cast<LPWSTR>(name);
}
LPWSTR WINAPI PathFindExtensionW(LPCWSTR path) {
    const WCHAR* dot = nullptr;
    for (const WCHAR* c = path; *c; ++c) dot = *c == '.' ? c : dot;
    return const_cast<LPWSTR>(dot ? dot : path + wcslen(path));
}
UINT WINAPI GetTempFileNameW(LPCWSTR, LPCWSTR, UINT, LPWSTR) { return 0; }
BOOL WINAPI DeleteFileW(LPCWSTR) { return FALSE; }
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
void WINAPI DeleteCriticalSection(CRITICAL_SECTION*) {}
void WINAPI InitializeConditionVariable(CONDITION_VARIABLE*) {}
// The trace log's one file is the trace in memory; the files of fuzzFiles
// are read from memory, whole. No file mapping (the cross-process turn is
// then absent).
HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    if (fuzzFiles.empty()) return reinterpret_cast<HANDLE>(1);  // no key made for each trace line
    const auto file = fuzzFiles.find(path);
    return file == fuzzFiles.end() ? reinterpret_cast<HANDLE>(1) : reinterpret_cast<HANDLE>(&file->second);
}
BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
    if (file == reinterpret_cast<HANDLE>(1)) return FALSE;
    return size->QuadPart = static_cast<LONGLONG>(static_cast<std::vector<BYTE>*>(file)->size()), TRUE;
}
BOOL WINAPI ReadFile(HANDLE file, LPVOID data, DWORD n, LPDWORD read, LPOVERLAPPED) {
    if (file == reinterpret_cast<HANDLE>(1)) return FALSE;
    const auto* bytes = static_cast<std::vector<BYTE>*>(file);
    *read = std::min<DWORD>(n, static_cast<DWORD>(bytes->size()));
    return memcpy(data, bytes->data(), *read), TRUE;
}
BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED) {
    *written = n;
    if (file != reinterpret_cast<HANDLE>(1) || n > sizeof(trace) - traceUsed) return TRUE;
    memcpy(trace + traceUsed, data, n);
    traceUsed += n;
    return TRUE;
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
std::map<std::wstring, std::vector<BYTE>> fuzzRegistry, fuzzFiles;
std::string fuzzOut;

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

// kvcaps: an export goes to memory; no file is written.
namespace kvcaps {
int WriteOut(const std::string& text) { return fuzzOut += text, 0; }
int Usage() { return 1; }  // kUsage
int WriteFileWhole(const std::wstring&, const void*, DWORD) { return 5; }  // kNotWritten
}  // namespace kvcaps

namespace platform {
RegistryApi registry{Open, nullptr, Query, nullptr, Create, Set, nullptr, Close, nullptr};
// The print system's tables, filled by the targets that answer for it.
SpoolerApi spooler{};
BOOL WINAPI Nt(LPOSVERSIONINFOW v) { return v->dwPlatformId = VER_PLATFORM_WIN32_NT, TRUE; }
VersionApi version{Nt};
KernelApi kernel{};
FileApi files{};
GdiApi gdi{};
// A fake driver does not fault.
bool RunGuarded(void (*fn)(void*), void* context, DWORD* code) { return fn(context), code && (*code = 0), true; }
void RunFreeingOnFault(void (*fn)(void*), void* context, void*) { fn(context); }
void RunDeletingDcOnFault(void (*fn)(void*), void* context, HDC*) { fn(context); }
}  // namespace platform

