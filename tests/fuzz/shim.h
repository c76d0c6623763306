// Included ahead of every file of the native build of the readers: what Wine's
// Windows headers and the C library lack. WCHAR is wchar_t of 2 bytes here
// (-fshort-wchar): the shim defines the C library's wide functions that the
// readers and the C++ library use, and _GLIBCXX_ASSERTIONS (set for the build)
// keeps the C++ library's own 4-byte wide strings out.
#pragma once
#include <windows.h>
#include <winspool.h>

#include <cstdarg>
#include <cstddef>

extern "C" {
BOOL WINAPI DeletePrinterDataW(HANDLE printer, LPWSTR name);
// The Microsoft formatters: %s is the format's own width, %S the other one.
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);
int _vsnprintf(char* buffer, size_t count, const char* format, va_list args);
int _vscwprintf(const WCHAR* format, va_list args);
int _vscprintf(const char* format, va_list args);
int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
int _snprintf(char* buffer, size_t count, const char* format, ...);
int _wcsicmp(const WCHAR* a, const WCHAR* b);
int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t count);
int _stricmp(const char* a, const char* b);
WCHAR* wcstok_s(WCHAR* text, const WCHAR* delimiters, WCHAR** context);
}

// What the device capability query asks for and Wine's headers lack.
#ifndef SPCLPASSTHROUGH2
#define SPCLPASSTHROUGH2 4568
#endif
#ifndef CM_DEVICE_ICM
#define CM_DEVICE_ICM 0x00000001
#define CM_GAMMA_RAMP 0x00000002
#define CM_CMYK_COLOR 0x00000004
#endif
