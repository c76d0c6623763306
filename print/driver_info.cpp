#include "print/driver_info.h"

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "platform/guard.h"
#include "platform/kernel.h"
#include "print/printer_handle.h"
#include "print/spooler_block.h"

// DRIVER_INFO_n record sizes. The 32-bit spooler lays them out in 4, 24, 40,
// 44, 36 and 80 bytes; a 64-bit process sees pointer-sized string fields.
#if defined(_WIN64)
static_assert(sizeof(DRIVER_INFO_1W) == 8);
static_assert(sizeof(DRIVER_INFO_2W) == 48);
static_assert(sizeof(DRIVER_INFO_3W) == 80);
static_assert(sizeof(DRIVER_INFO_4W) == 88);
static_assert(sizeof(DRIVER_INFO_5W) == 64);
static_assert(sizeof(DRIVER_INFO_6W) == 136);
#else
static_assert(sizeof(DRIVER_INFO_1W) == 4);
static_assert(sizeof(DRIVER_INFO_2W) == 24);
static_assert(sizeof(DRIVER_INFO_3W) == 40);
static_assert(sizeof(DRIVER_INFO_4W) == 44);
static_assert(sizeof(DRIVER_INFO_5W) == 36);
static_assert(sizeof(DRIVER_INFO_6W) == 80);
#endif
// In every level but 1 the driver name follows the version.
static_assert(offsetof(DRIVER_INFO_2W, pName) == sizeof(void*));
static_assert(offsetof(DRIVER_INFO_5W, pName) == offsetof(DRIVER_INFO_2W, pName));
static_assert(offsetof(DRIVER_INFO_6W, pName) == offsetof(DRIVER_INFO_2W, pName));
// Levels 3 and 4 are prefixes of level 6.
static_assert(offsetof(DRIVER_INFO_4W, pszzPreviousNames) == offsetof(DRIVER_INFO_6W, pszzPreviousNames));
static_assert(offsetof(DRIVER_INFO_3W, pDefaultDataType) == offsetof(DRIVER_INFO_6W, pDefaultDataType));

namespace {

// Environment of the drivers asked for on a print server.
const WCHAR kDriverEnvironment[] = L"Windows NT x86";

// Opens the printer for use with no data type and no DEVMODE. Null when it
// cannot be opened; a fault inside the driver counts as that.
HANDLE OpenForUse(const std::wstring& name, const WCHAR* caller) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    bool faulted = false;
    HANDLE handle = vlibPRINT_OpenPrinterGuarded(name.c_str(), &defaults, &faulted);
    if (faulted) TraceLogWrite(LibraryLog, 0, L"%s => exception occurred during OpenPrinter\n", caller);
    return handle;
}

// The string fields of the driver records in DRIVER_INFO_6W order. Levels 2
// to 6 share the offsets of their common fields and hold the first
// kStringFieldCount[level] of them (level 5 only level 2's); level 1 has its
// name alone, at the start. A multi-string is a list ended by an empty string.
struct StringField {
    size_t offset;
    bool multi;
};
const StringField kStringFields[] = {
    {offsetof(DRIVER_INFO_6W, pName), false},          {offsetof(DRIVER_INFO_6W, pEnvironment), false},
    {offsetof(DRIVER_INFO_6W, pDriverPath), false},    {offsetof(DRIVER_INFO_6W, pDataFile), false},
    {offsetof(DRIVER_INFO_6W, pConfigFile), false},    {offsetof(DRIVER_INFO_6W, pHelpFile), false},
    {offsetof(DRIVER_INFO_6W, pDependentFiles), true}, {offsetof(DRIVER_INFO_6W, pMonitorName), false},
    {offsetof(DRIVER_INFO_6W, pDefaultDataType), false}, {offsetof(DRIVER_INFO_6W, pszzPreviousNames), true},
    {offsetof(DRIVER_INFO_6W, pszMfgName), false},     {offsetof(DRIVER_INFO_6W, pszOEMUrl), false},
    {offsetof(DRIVER_INFO_6W, pszHardwareID), false},  {offsetof(DRIVER_INFO_6W, pszProvider), false},
};
const size_t kStringFieldCount[] = {0, 1, 5, 9, 10, 5, 14};
const StringField kLevel1Name = {offsetof(DRIVER_INFO_1W, pName), false};
static_assert(offsetof(DRIVER_INFO_5W, pConfigFile) == offsetof(DRIVER_INFO_6W, pConfigFile));

// Characters of a string field, terminators included; a multi-string gets
// room for a second terminator, so that even a bare "\0" ends as a list.
size_t FieldChars(const WCHAR* text, bool multi) {
    if (!text) return 0;
    if (!multi) return std::wcslen(text) + 1;
    size_t n = 0;
    while (text[n]) n += std::wcslen(text + n) + 1;
    return n + 2;
}

// A copy of one driver record whose strings live in the same block, so that
// the block stands on its own once the enumeration data is freed.
BYTE* CopyDriverRecord(const BYTE* record, DWORD level) {
    const size_t recordSize = vlibPRINT_DriverInfoRecordSize(level);
    const StringField* fields = level == 1 ? &kLevel1Name : kStringFields;
    const size_t count = kStringFieldCount[level];
    WCHAR* texts[14] = {};
    size_t total = recordSize;
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(&texts[i], record + fields[i].offset, sizeof(WCHAR*));
        total += FieldChars(texts[i], fields[i].multi) * sizeof(WCHAR);
    }
    BYTE* copy = platform::HeapAllocZeroAs<BYTE>(total);
    if (!copy) return nullptr;
    std::memcpy(copy, record, recordSize);
    BYTE* at = copy + recordSize;
    for (size_t i = 0; i < count; ++i) {
        if (!texts[i]) continue;  // a null field stays null
        // The zero-filled block supplies a multi-string's second terminator.
        const size_t chars = FieldChars(texts[i], fields[i].multi);
        std::memcpy(at, texts[i], (fields[i].multi ? chars - 1 : chars) * sizeof(WCHAR));
        std::memcpy(copy + fields[i].offset, &at, sizeof(at));
        at += chars * sizeof(WCHAR);
    }
    return copy;
}

// The driver records of the block that lie whole inside it, their string
// pointers confined to it.
DWORD ConfineDriverInfo(BYTE* block, size_t size, DWORD level, DWORD count, const WCHAR* caller) {
    const size_t recordSize = vlibPRINT_DriverInfoRecordSize(level);
    if (!recordSize) return 0;
    const StringField* strings = level == 1 ? &kLevel1Name : kStringFields;
    SpoolerBlockField fields[std::size(kStringFields)];
    for (size_t i = 0; i < kStringFieldCount[level]; ++i)
        fields[i] = {strings[i].offset, strings[i].multi ? SpoolerBlockField::kTextList : SpoolerBlockField::kText};
    return vlibPRINT_ConfineBlock(block, size, recordSize, count, fields, kStringFieldCount[level], caller);
}

const WCHAR* DriverNameOf(const BYTE* record, DWORD level) {
    if (level == 1) return reinterpret_cast<const DRIVER_INFO_1W*>(record)->pName;
    return reinterpret_cast<const DRIVER_INFO_2W*>(record)->pName;
}

using vlibprint_detail::DiskFreeEx;

// The extended free-space call of each width, looked up in kernel32 at run
// time: null when the system lacks it.
template <class Fn>
Fn LookUpKernel32(HMODULE kernel, const char* name) {
    if (!kernel) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(kernel, name)));
}
DiskFreeEx<WCHAR> LookUpDiskFreeEx(const WCHAR*) {
    return LookUpKernel32<DiskFreeEx<WCHAR>>(::GetModuleHandleW(L"kernel32.dll"), "GetDiskFreeSpaceExW");
}
DiskFreeEx<CHAR> LookUpDiskFreeEx(const CHAR*) {
    return LookUpKernel32<DiskFreeEx<CHAR>>(::GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA");
}

}  // namespace

size_t vlibPRINT_DriverInfoRecordSize(DWORD dwLevel) {
    switch (dwLevel) {
    case 1: return sizeof(DRIVER_INFO_1W);
    case 2: return sizeof(DRIVER_INFO_2W);
    case 3: return sizeof(DRIVER_INFO_3W);
    case 4: return sizeof(DRIVER_INFO_4W);
    case 5: return sizeof(DRIVER_INFO_5W);
    case 6: return sizeof(DRIVER_INFO_6W);
    default: return 0;
    }
}

// Both look-ups run the driver and are guarded by their callers; a fault
// while the driver fills the block frees it on its way to that guard.
LPBYTE vlibPRINT_GetPrinterInfo(HANDLE hPrinter, DWORD dwLevel) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetPrinterInfo => \n");
    DWORD needed = 0;
    platform::spooler.GetPrinterW(hPrinter, dwLevel, nullptr, 0, &needed);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        TraceLogWrite(LibraryLog, 0,
                      L"vlibPRINT_GetPrinterInfo => Not Insufficient Buffer? impossible i say. (no printer info available)\n");
        return nullptr;
    }
    LPBYTE block = platform::HeapAllocZeroAs<BYTE>(needed);
    if (!block) {
        TraceLogError(LibraryLog, 0, ::GetLastError());
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetPrinterInfo => alloc failed.\n");
        return nullptr;
    }
    BOOL ok = FALSE;
    const DWORD size = needed;
    platform::FreeingOnFault(block, [&] { ok = platform::spooler.GetPrinterW(hPrinter, dwLevel, block, size, &needed); });
    if (ok && !vlibPRINT_ConfinePrinterInfo(block, size, dwLevel, 1, L"vlibPRINT_GetPrinterInfo")) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetPrinterInfo => %lu bytes hold no record of level %lu\n",
                      static_cast<unsigned long>(size), static_cast<unsigned long>(dwLevel));
        ok = FALSE;
    }
    if (!ok) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetPrinterInfo => error\n");
        platform::HeapFreeBlock(block);
        return nullptr;
    }
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetPrinterInfo => Got Printer Info successfully, returning\n");
    return block;
}

LPBYTE GetDriverInfo(HANDLE hPrinter, DWORD dwLevel) {
    TraceLogWrite(LibraryLog, 0, L"GetDriverInfo => entering\n");
    DWORD needed = 0;
    platform::spooler.GetPrinterDriverW(hPrinter, nullptr, dwLevel, nullptr, 0, &needed);
    DWORD error = ::GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) {
        TraceLogError(LibraryLog, 0, error);
        TraceLogWrite(LibraryLog, 0, L"GetDriverInfo => didn't get size required?\n");
        return nullptr;
    }
    LPBYTE block = platform::HeapAllocZeroAs<BYTE>(needed);
    if (!block) {
        TraceLogError(LibraryLog, 0, ::GetLastError());
        TraceLogWrite(LibraryLog, 0, L"GetDriverInfo => alloc failed\n");
        return nullptr;
    }
    BOOL ok = FALSE;
    const DWORD size = needed;
    platform::FreeingOnFault(block, [&] {
        ok = platform::spooler.GetPrinterDriverW(hPrinter, nullptr, dwLevel, block, size, &needed);
        error = ::GetLastError();
    });
    if (ok && ConfineDriverInfo(block, size, dwLevel, 1, L"GetDriverInfo")) return block;
    if (ok) error = ERROR_INVALID_DATA;
    TraceLogError(LibraryLog, 0, error);
    TraceLogWrite(LibraryLog, 0, L"GetDriverInfo => error:\n");
    platform::HeapFreeBlock(block);
    return nullptr;
}

namespace {

// The by-name look-ups below guard the driver calls themselves: a fault is
// traced and the look-up goes on with no information.
LPBYTE GuardedPrinterInfo2(HANDLE printer, const WCHAR* caller) {
    LPBYTE block = nullptr;
    if (!platform::Guarded([&] { block = vlibPRINT_GetPrinterInfo(printer, 2); }))
        TraceLogWrite(LibraryLog, 0, L"%s => exception occurred during GetPrinter\n", caller);
    return block;
}

}  // namespace

std::wstring vlibPRINT_GetDriverName(std::wstring printerName) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetDriverName => printer: %s\n", printerName.c_str());
    std::wstring driverName;
    HANDLE printer = OpenForUse(printerName, L"vlibPRINT_GetDriverName");
    if (!printer) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetDriverName => OpenPrinter failed\n");
        return driverName;
    }
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetDriverName => printer Opened\n");
    const auto fetch = [printer] {
        LPBYTE info = nullptr;
        if (!platform::Guarded([&] { info = GetDriverInfo(printer, 1); }))
            TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetDriverName => exception occurred during GetPrinterDriver\n");
        return info;
    };
    vlibPRINT_ReadAndClosePrinter(printer, fetch, [&](LPBYTE info) {
        if (!info) return;
        const WCHAR* name = reinterpret_cast<DRIVER_INFO_1W*>(info)->pName;
        if (name) driverName = name;
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetDriverName => driver name: %s\n", driverName.c_str());
    });
    return driverName;
}

LPBYTE NDGetRemoteDriverInfo(std::wstring serverName, std::wstring driverName, DWORD dwLevel) {
    TraceLogWrite(LibraryLog, 0, L"NDGetRemoteDriverInfo => %s; %s\n", serverName.c_str(), driverName.c_str());
    // An empty server name asks this machine's spooler.
    LPWSTR server = serverName.empty() ? nullptr : serverName.data();
    WCHAR environment[sizeof(kDriverEnvironment) / sizeof(WCHAR)];
    std::memcpy(environment, kDriverEnvironment, sizeof(kDriverEnvironment));

    LPBYTE found = nullptr;
    DWORD needed = 0, returned = 0;
    platform::spooler.EnumPrinterDriversW(server, environment, dwLevel, nullptr, 0, &needed, &returned);
    const DWORD size = needed;
    BYTE* buffer = platform::HeapAllocZeroAs<BYTE>(needed);
    bool failed = false;
    // The spooler's answer and the copy go back on every way out, a C++
    // exception included.
    try {
        if (!buffer) {
            TraceLogWrite(LibraryLog, 0, L"NDGetRemoteDriverInfo => couldn't allocate memory\n");
            failed = true;
        } else if (!platform::spooler.EnumPrinterDriversW(server, environment, dwLevel, buffer, size, &needed,
                                                         &returned)) {
            TraceLogWrite(LibraryLog, 0, L"NDGetRemoteDriverInfo => enumeration failed\n");
            failed = true;
        } else {
            if (vlibPRINT_DriverInfoRecordSize(dwLevel))
                returned = ConfineDriverInfo(buffer, size, dwLevel, returned, L"NDGetRemoteDriverInfo");
            TraceLogWrite(LibraryLog, 0, L"NDGetRemoteDriverInfo => drivers enumerated\n");
            TraceLogWrite(LibraryLog, 0, L"NDGetRemoteDriverInfo => number of drivers: %d\n",
                          static_cast<int>(returned));
            if (returned == 0) {
                TraceLogWrite(LibraryLog, 0, L"NDGetRemoteDriverInfo => no drivers, failing out\n");
                failed = true;
            }
        }

        const size_t recordSize = vlibPRINT_DriverInfoRecordSize(dwLevel);
        for (DWORD i = 0; !failed && i < returned; ++i) {
            if (recordSize == 0) {
                TraceLogWrite(LibraryLog, 0, L"NDGetRemoteDriverInfo => unknown info level: %d\n",
                              static_cast<int>(dwLevel));
                failed = true;
                break;
            }
            const BYTE* record = buffer + i * recordSize;
            const WCHAR* name = DriverNameOf(record, dwLevel);
            TraceLogWrite(LibraryLog, 0, L"NDGetRemoteDriverInfo => driver: %s\n", name);
            if (name && ::lstrcmpiW(name, driverName.c_str()) == 0) {
                // Keep walking: of several matching versions the last one listed wins.
                platform::HeapFreeBlock(found);
                found = CopyDriverRecord(record, dwLevel);
                // Without the copy, an earlier match or a null "info" would
                // pass for the answer: no memory fails the look-up.
                if (!found) {
                    TraceLogWrite(LibraryLog, 0, L"NDGetRemoteDriverInfo => couldn't allocate memory\n");
                    failed = true;
                }
            }
        }
    } catch (...) {
        platform::HeapFreeBlock(found);
        platform::HeapFreeBlock(buffer);
        throw;
    }

    platform::HeapFreeBlock(buffer);
    if (failed) {
        platform::HeapFreeBlock(found);
        TraceLogWrite(LibraryLog, 0, L"NDGetRemoteDriverInfo => returning failure\n");
        return nullptr;
    }
    TraceLogWrite(LibraryLog, 0, L"NDGetRemoteDriverInfo => returning info\n");
    return found;
}

std::wstring vlibPRINT_GetNativePrinterShareName(std::wstring printerName) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetNativePrinterShareName => %s\n", printerName.c_str());
    std::wstring shareName;
    HANDLE printer = OpenForUse(printerName, L"vlibPRINT_GetNativePrinterShareName");
    if (!printer) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetNativePrinterShareName => OpenPrinter failed\n");
        return shareName;
    }
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetNativePrinterShareName => printer Opened\n");
    const auto fetch = [printer] { return GuardedPrinterInfo2(printer, L"vlibPRINT_GetNativePrinterShareName"); };
    vlibPRINT_ReadAndClosePrinter(printer, fetch, [&](LPBYTE block) {
        const PRINTER_INFO_2W* info = reinterpret_cast<const PRINTER_INFO_2W*>(block);
        const std::wstring share = info && info->pShareName ? info->pShareName : L"";
        const std::wstring server = info && info->pServerName ? info->pServerName : L"";
        shareName = server.empty() ? share : server + L"\\" + share;
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetNativePrinterShareName => share name: %s\n", shareName.c_str());
    });
    return shareName;
}

std::wstring vlibPRINT_GetNativePrinterFullName(std::wstring printerName) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetNativePrinterFullName => %s\n", printerName.c_str());
    std::wstring fullName = printerName;
    HANDLE printer = OpenForUse(printerName, L"vlibPRINT_GetNativePrinterFullName");
    if (!printer) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetNativePrinterFullName => OpenPrinter failed\n");
        return std::wstring();
    }
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetNativePrinterFullName => printer Opened\n");
    const auto fetch = [printer] { return GuardedPrinterInfo2(printer, L"vlibPRINT_GetNativePrinterFullName"); };
    vlibPRINT_ReadAndClosePrinter(printer, fetch, [&](LPBYTE block) {
        const WCHAR* name = block ? reinterpret_cast<const PRINTER_INFO_2W*>(block)->pPrinterName : nullptr;
        if (name) fullName = name;
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetNativePrinterFullName => full name: %s\n", fullName.c_str());
    });
    return fullName;
}

namespace vlibprint_detail {

// The free bytes of the disk (not the caller's quota), named after the
// public function of the path's width.
template <class Ch>
void LogFreeSpace(const Ch* path, TraceLog* log, std::type_identity_t<DiskFreeEx<Ch>> extended,
                  std::type_identity_t<DiskFree<Ch>> plain) {
    const WCHAR* name = std::is_same_v<Ch, CHAR> ? L"LogFreeSpaceA" : L"LogFreeSpaceW";
    if (extended) {
        ULARGE_INTEGER available = {}, total = {}, free = {};
        extended(path, &available, &total, &free);
        TraceLogWrite(log, 0, L"%s => free bytes ex = %I64d\n", name, static_cast<LONGLONG>(free.QuadPart));
        return;
    }
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    plain(path, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters);
    const LONGLONG bytes = static_cast<LONGLONG>(sectorsPerCluster) * bytesPerSector * freeClusters;
    TraceLogWrite(log, 0, L"%s => free bytes = %I64d\n", name, bytes);
}
template void LogFreeSpace(const WCHAR*, TraceLog*, DiskFreeEx<WCHAR>, DiskFree<WCHAR>);
template void LogFreeSpace(const CHAR*, TraceLog*, DiskFreeEx<CHAR>, DiskFree<CHAR>);

}  // namespace vlibprint_detail

void LogFreeSpaceW(LPCWSTR path, TraceLog* log) {
    vlibprint_detail::LogFreeSpace(path, log, LookUpDiskFreeEx(path), &::GetDiskFreeSpaceW);
}
void LogFreeSpaceA(LPCSTR path, TraceLog* log) {
    vlibprint_detail::LogFreeSpace(path, log, LookUpDiskFreeEx(path), &::GetDiskFreeSpaceA);
}
