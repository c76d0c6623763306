// The cache store: where a printer object keeps its last capability record
// (one caps4 record, as raw bytes) so that a later object for the same
// printer, and the server side, can use it without asking the device again.
// The methods are those of CacheMethod; with kCacheInRegistry the per-user
// hive is the fallback of the per-machine one, with kCacheNowhere every
// operation succeeds at once, and with any other value every operation fails
// ("unknown cache method").
// A C++ exception (our own code out of memory, or a driver built with our
// runtime throwing out of its call: the guards let those pass) goes on to the
// caller; the record, buffers and printer handles held go back on that way.
#include "platform/guard.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "print/printer_handle.h"
#include "print/printer_names.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"

namespace {

constexpr const WCHAR* kRegistryValue = L"PrinterData";
constexpr const WCHAR* kAnsiOnlyValue = L"dwAnsiOnly";
constexpr const WCHAR* kPrinterDataValue = L"KVPrinterInfo";
constexpr DWORD kCachePathBytes = 520;

// Creates or opens hive\path (or a subkey of an open key) with full access,
// non-volatile.
LSTATUS CreateFullAccess(HKEY parent, const WCHAR* path, platform::ScopedKey* key) {
    return platform::registry.RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                              nullptr, key->receive(), nullptr);
}

// A zero-filled block of at least one byte, so that an empty value still
// gets a buffer and its read reports what the store says.
BYTE* AllocRecordBuffer(DWORD bytes) { return platform::HeapAllocZeroAs<BYTE>(bytes ? bytes : 1); }

}  // namespace

std::wstring CPrinter::GetCacheFilePath(bool* plainName) {
    if (plainName) *plainName = true;
    // The trace lines of this step carry SaveToCache's name for every caller.
    platform::ScopedKey product;
    if (CreateFullAccess(HKEY_LOCAL_MACHINE, kProductKey, &product) != ERROR_SUCCESS) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => failed to open corvane printing key\n");
        return std::wstring();
    }
    TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => opened corvane printing key\n");
    // Only a string is a folder. A value that fills every unit of the buffer
    // has lost its end (and with it the closing backslash, so the file would
    // land beside the folder): it is no path either.
    WCHAR folder[kCachePathBytes / sizeof(WCHAR)] = {};
    DWORD type = REG_NONE;
    DWORD size = kCachePathBytes;
    const LSTATUS status = platform::registry.RegQueryValueExW(product.get(), L"CachePath", nullptr, &type,
                                                               reinterpret_cast<BYTE*>(folder), &size);
    constexpr DWORD kLast = kCachePathBytes / sizeof(WCHAR) - 1;
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) ||
        (size > kLast * sizeof(WCHAR) && folder[kLast] != L'\0')) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => failed to get cache path\n");
        return std::wstring();
    }
    folder[kLast] = L'\0';
    TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => cache path: %s\n", folder);
    product.Reset();
    const std::wstring name = vlibPRINT_PrinterNameToRegistrySafeName(strPrinterName);
    if (!vlibPRINT_IsPlainFileName(name)) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => not a plain file name, not used as one: %s\n",
                      name.c_str());
        if (plainName) *plainName = false;
    }
    // No separator is put in: a CachePath meant as a folder ends in a backslash.
    return std::wstring(folder) + name + L".kvp";
}

// ------------------------------------------------------------ saving

BOOL CPrinter::SaveRecordToRegistry(const caps4* record) {
    TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => caching to registry\n");
    const std::wstring subkey = vlibPRINT_PrinterNameToRegistrySafeName(strPrinterName);
    // A failed "dwAnsiOnly" does not count against the hive that took the record.
    return platform::PerMachineThenPerUser([&](HKEY hive) {
        platform::ScopedKey printers;
        if (CreateFullAccess(hive, kPrintersKey, &printers) != ERROR_SUCCESS) return false;
        platform::ScopedKey printerKey;
        if (CreateFullAccess(printers.get(), subkey.c_str(), &printerKey) != ERROR_SUCCESS) {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => couldn't create printer key\n");
            return false;
        }
        bool stored = false;
        if (platform::registry.RegSetValueExW(printerKey.get(), kRegistryValue, 0, REG_BINARY,
                                              reinterpret_cast<const BYTE*>(record), record->dwSize) == ERROR_SUCCESS) {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => cached!\n");
            stored = true;
        } else {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => couldn't set value\n");
        }
        // A zero dwAnsiOnly writes nothing: an earlier non-zero value stays.
        if (record->dwAnsiOnly != 0) {
            const DWORD ansiOnly = record->dwAnsiOnly;
            if (platform::registry.RegSetValueExW(printerKey.get(), kAnsiOnlyValue, 0, REG_DWORD,
                                                  reinterpret_cast<const BYTE*>(&ansiOnly),
                                                  sizeof(ansiOnly)) == ERROR_SUCCESS)
                TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => saved dwAnsiOnly setting\n");
            else
                TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => could not save dwAnsiOnly setting\n");
        }
        return stored;
    });
}

BOOL CPrinter::SaveRecordToFile(const caps4* record) {
    bool plain = true;
    const std::wstring path = GetCacheFilePath(&plain);
    TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => caching to file\n");
    // Not shared: while one process writes the file nobody else opens it.
    HANDLE file = plain ? platform::files.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr)
                        : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => couldn't open file: %s\n", path.c_str());
        return FALSE;
    }
    DWORD written = 0;
    BOOL result = platform::files.WriteFile(file, record, record->dwSize, &written, nullptr);
    // A write that stops short (a full disk) counts as failed; its system
    // error is that of a full disk when the call itself reported none.
    if (!result || written != record->dwSize) {
        TraceLogError(LibraryLog, 0, result ? ERROR_HANDLE_DISK_FULL : ::GetLastError());
        TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => failed to write file, read %d bytes\n",
                      static_cast<int>(written));
        result = FALSE;
    }
    platform::kernel.CloseHandle(file);
    // The old record went when the file was created; a cut one must not be
    // left to pass for a record.
    if (!result) platform::files.DeleteFileW(path.c_str());
    return result;
}

BOOL CPrinter::SaveRecordToPrinter(const caps4* record) {
    TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => caching to printer\n");
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    HANDLE printer = vlibPRINT_OpenPrinterGuarded(strPrinterName.c_str(), &defaults);
    if (!printer) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => failed to open printer\n");
        return FALSE;
    }
    DWORD status = ERROR_INVALID_FUNCTION;
    LPWSTR valueName = const_cast<LPWSTR>(kPrinterDataValue);
    LPBYTE data = reinterpret_cast<LPBYTE>(const_cast<caps4*>(record));
    const DWORD size = record->dwSize;
    try {
        platform::Guarded([&] { status = platform::spooler.SetPrinterDataW(printer, valueName, REG_BINARY, data, size); });
    } catch (...) {
        vlibPRINT_ClosePrinterGuarded(printer);
        throw;
    }
    BOOL result = FALSE;
    if (status == ERROR_SUCCESS) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => cached!\n");
        result = TRUE;
    } else {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => failed to cache printer info\n");
    }
    vlibPRINT_ClosePrinterGuarded(printer);
    return result;
}

BOOL CPrinter::SaveToCache() {
    TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache =>\n");
    if (!queryBuffers.bFilled) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => nothing to cache!\n");
        return FALSE;
    }
    if (dwCacheMethod == kCacheNowhere) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => set to not cache!\n");
        return TRUE;
    }
    caps4* record = SerializeCaps4();
    if (!record) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => don't have caps, failing\n");
        return FALSE;
    }
    TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => caps is %d bytes\n", static_cast<int>(record->dwSize));
    BOOL result = FALSE;
    try {
        switch (dwCacheMethod) {
        case kCacheInRegistry:
            result = SaveRecordToRegistry(record);
            break;
        case kCacheInFile:
            result = SaveRecordToFile(record);
            break;
        case kCacheInPrinterData:
            result = SaveRecordToPrinter(record);
            break;
        default:
            TraceLogWrite(LibraryLog, 0, L"CPrinter::SaveToCache => unknown cache method\n");
            break;
        }
    } catch (...) {
        platform::HeapFreeBlock(record);
        throw;
    }
    platform::HeapFreeBlock(record);
    return result;
}

// ------------------------------------------------------------ loading

BOOL CPrinter::LoadRecordFromRegistry() {
    TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => loading cache from registry\n");
    const std::wstring subkey = vlibPRINT_PrinterNameToRegistrySafeName(strPrinterName);
    return platform::PerMachineThenPerUser([&](HKEY hive) {
        platform::ScopedKey printers;
        if (CreateFullAccess(hive, kPrintersKey, &printers) != ERROR_SUCCESS) {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => couldn't open kvprinters key\n");
            return false;
        }
        TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => opened kvprinters key\n");
        platform::ScopedKey printerKey;
        if (platform::registry.RegOpenKeyExW(printers.get(), subkey.c_str(), 0, KEY_QUERY_VALUE,
                                             printerKey.receive()) != ERROR_SUCCESS) {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => couldn't open printer key\n");
            return false;
        }
        DWORD size = 0;
        platform::registry.RegQueryValueExW(printerKey.get(), kRegistryValue, nullptr, nullptr, nullptr, &size);
        BYTE* buffer = AllocRecordBuffer(size);
        if (!buffer) {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => failed to allocate memory for pcaps\n");
            return false;
        }
        TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => size required: %d\n", static_cast<int>(size));
        bool loaded = false;
        if (platform::registry.RegQueryValueExW(printerKey.get(), kRegistryValue, nullptr, nullptr, buffer, &size) ==
            ERROR_SUCCESS) {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => loaded!\n");
            DeserializeCaps4(reinterpret_cast<const caps4*>(buffer), size);
            loaded = true;
        } else {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => couldn't get value\n");
        }
        platform::HeapFreeBlock(buffer);
        return loaded;
    });
}

BOOL CPrinter::LoadRecordFromFile() {
    bool plain = true;
    const std::wstring path = GetCacheFilePath(&plain);
    TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => loading cache from file\n");
    HANDLE file = plain ? platform::files.CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                        : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => couldn't open file: %s\n", path.c_str());
        return FALSE;
    }
    BOOL result = FALSE;
    const DWORD size = platform::files.GetFileSize(file, nullptr);
    BYTE* buffer = size == INVALID_FILE_SIZE ? nullptr : AllocRecordBuffer(size);
    if (!buffer) {
        TraceLogError(LibraryLog, 0, ::GetLastError());
        TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => failed to allocate memory\n");
    } else {
        DWORD read = 0;
        if (!platform::files.ReadFile(file, buffer, size, &read, nullptr)) {
            TraceLogError(LibraryLog, 0, ::GetLastError());
            TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => failed to read file, read %d bytes\n",
                          static_cast<int>(read));
        } else {
            DeserializeCaps4(reinterpret_cast<const caps4*>(buffer), read);
            result = TRUE;
        }
    }
    platform::HeapFreeBlock(buffer);
    platform::kernel.CloseHandle(file);
    return result;
}

BOOL CPrinter::LoadRecordFromPrinter() {
    TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => loading cache from printer\n");
    HANDLE printer = vlibPRINT_OpenPrinterGuarded(strPrinterName.c_str(), nullptr);
    if (!printer) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => failed to open printer\n");
        return FALSE;
    }
    LPWSTR valueName = const_cast<LPWSTR>(kPrinterDataValue);
    DWORD type = 0;
    DWORD needed = 0;
    BOOL result = FALSE;
    const auto fetch = [&] {
        platform::Guarded([&] { platform::spooler.GetPrinterDataW(printer, valueName, &type, nullptr, 0, &needed); });
        return AllocRecordBuffer(needed);
    };
    vlibPRINT_ReadAndClosePrinter(printer, fetch, [&](BYTE* buffer) {
        if (!buffer) {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => failed to allocate memory for printer info\n");
            return;
        }
        DWORD status = ERROR_INVALID_FUNCTION;
        const DWORD capacity = needed;
        platform::Guarded(
            [&] { status = platform::spooler.GetPrinterDataW(printer, valueName, &type, buffer, capacity, &needed); });
        if (status != ERROR_SUCCESS) {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => failed GetPrinterData\n");
        } else {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => got cached info\n");
            DeserializeCaps4(reinterpret_cast<const caps4*>(buffer), needed < capacity ? needed : capacity);
            result = TRUE;
        }
    });
    return result;
}

BOOL CPrinter::LoadFromCache() {
    TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache =>\n");
    switch (dwCacheMethod) {
    case kCacheInRegistry:
        return LoadRecordFromRegistry();
    case kCacheInFile:
        return LoadRecordFromFile();
    case kCacheInPrinterData:
        return LoadRecordFromPrinter();
    case kCacheNowhere:
        TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => set to not cache!\n");
        return TRUE;
    default:
        TraceLogWrite(LibraryLog, 0, L"CPrinter::LoadFromCache => unknown cache method\n");
        return FALSE;
    }
}

// ------------------------------------------------------------ removing

BOOL CPrinter::FlushRegistry() {
    TraceLogWrite(LibraryLog, 0, L"CPrinter::FlushCache => registry\n");
    const std::wstring subkey = vlibPRINT_PrinterNameToRegistrySafeName(strPrinterName);
    return platform::PerMachineThenPerUser([&](HKEY hive) {
        platform::ScopedKey printers;
        if (platform::registry.RegOpenKeyExW(hive, kPrintersKey, 0, KEY_ALL_ACCESS, printers.receive()) !=
            ERROR_SUCCESS)
            return false;
        platform::ScopedKey printerKey;
        if (platform::registry.RegOpenKeyExW(printers.get(), subkey.c_str(), 0, KEY_ALL_ACCESS,
                                             printerKey.receive()) != ERROR_SUCCESS) {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::FlushCache => couldn't open printer key\n");
            return false;
        }
        // Removed as far as this store is concerned, whether or not a value
        // was there.
        platform::registry.RegDeleteValueW(printerKey.get(), kRegistryValue);
        return true;
    });
}

BOOL CPrinter::FlushFile() {
    bool plain = true;
    const std::wstring path = GetCacheFilePath(&plain);
    TraceLogWrite(LibraryLog, 0, L"CPrinter::FlushCache => deleting file: %s\n", path.c_str());
    if (!plain || !platform::files.DeleteFileW(path.c_str())) {
        // A name refused above made no call: its reason is traced already.
        if (plain) TraceLogError(LibraryLog, 0, ::GetLastError());
        TraceLogWrite(LibraryLog, 0, L"CPrinter::FlushCache => failed to delete file\n");
        return FALSE;
    }
    return TRUE;
}

BOOL CPrinter::FlushPrinterData() {
    TraceLogWrite(LibraryLog, 0, L"CPrinter::FlushCache => caching to printer\n");
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    HANDLE printer = vlibPRINT_OpenPrinterGuarded(strPrinterName.c_str(), &defaults);
    if (!printer) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::FlushCache => failed to open printer\n");
        return FALSE;
    }
    LPWSTR valueName = const_cast<LPWSTR>(kPrinterDataValue);
    DWORD status = ERROR_INVALID_FUNCTION;
    try {
        platform::Guarded([&] { status = platform::spooler.DeletePrinterDataW(printer, valueName); });
    } catch (...) {
        vlibPRINT_ClosePrinterGuarded(printer);
        throw;
    }
    BOOL result = FALSE;
    if (status == ERROR_SUCCESS) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::FlushCache => deleted!\n");
        result = TRUE;
    } else {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::FlushCache => failed to delete cache\n");
    }
    vlibPRINT_ClosePrinterGuarded(printer);
    return result;
}

BOOL CPrinter::FlushCache() {
    switch (dwCacheMethod) {
    case kCacheInRegistry:
        return FlushRegistry();
    case kCacheInFile:
        return FlushFile();
    case kCacheInPrinterData:
        return FlushPrinterData();
    case kCacheNowhere:
        TraceLogWrite(LibraryLog, 0, L"CPrinter::FlushCache => set to not cache!\n");
        return TRUE;
    default:
        TraceLogWrite(LibraryLog, 0, L"CPrinter::FlushCache => unknown cache method\n");
        return FALSE;
    }
}
