#include "records/printer_info_registry.h"

#include "platform/guard.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "print/driver_info.h"
#include "print/dump_text.h"
#include "print/printer_names.h"
#include "print/struct_dumps.h"
#include "records/printer_info_dump.h"
#include "records/registry_keys.h"

namespace {

constexpr const WCHAR* kSet = L"vlibPRINT_SetKVPrinterInfo";
constexpr const WCHAR* kLoad = L"vlibPRINT_LoadKVPrinterInfoFromRegistry";

LSTATUS SetDword(HKEY key, const WCHAR* name, DWORD value) {
    return platform::registry.RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                             sizeof(value));
}

// The stored value, or null: a value that cannot hold the header of a 401
// record, or whose dwSize is not its length, is no record a reader could
// walk without leaving the block. *outOfMemory tells the caller that the look-up
// ends here.
KVPrinterInfo401* ReadRecord(HKEY printerKey, bool* outOfMemory) {
    DWORD size = 0;
    platform::registry.RegQueryValueExW(printerKey, L"PrinterData4", nullptr, nullptr, nullptr, &size);
    BYTE* block = platform::HeapAllocZeroAs<BYTE>(size ? size : 1);
    if (!block) {
        TraceLogWrite(LibraryLog, 0, L"%s => failed to allocate memory for info\n", kLoad);
        *outOfMemory = true;
        return nullptr;
    }
    auto* record = reinterpret_cast<KVPrinterInfo401*>(block);
    if (platform::registry.RegQueryValueExW(printerKey, L"PrinterData4", nullptr, nullptr, block, &size) !=
        ERROR_SUCCESS) {
        TraceLogWrite(LibraryLog, 0, L"%s => couldn't get value\n", kLoad);
    } else if (size < sizeof(KVPrinterInfo401) || record->dwSize != size) {
        TraceLogWrite(LibraryLog, 0, L"%s => stored record is damaged (%d bytes)\n", kLoad, static_cast<int>(size));
    } else {
        TraceLogWrite(LibraryLog, 0, L"%s => loaded!\n", kLoad);
        return record;
    }
    platform::HeapFreeBlock(block);
    return nullptr;
}

}  // namespace

BOOL vlibPRINT_SetKVPrinterInfo(DWORD type, DWORD session, DWORD connection, DWORD count,
                                const KVPrinterInfo401* records, std::wstring keyPath, std::wstring userName) {
    TraceLogWrite(LibraryLog, 0, L"%s => \n", kSet);
    if (!records) {
        TraceLogWrite(LibraryLog, 0, L"%s => pInfo is NULL\n", kSet);
        return FALSE;
    }
    if (keyPath.empty()) keyPath = kPrintersKey;
    platform::ScopedKey parent;
    if (platform::registry.RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, parent.receive(), nullptr) != ERROR_SUCCESS)
        return FALSE;
    TraceLogWrite(LibraryLog, 0, L"%s => created: %s\n", kSet, keyPath.c_str());

    BOOL written = FALSE;
    const BYTE* at = reinterpret_cast<const BYTE*>(records);
    for (DWORD i = 0; i < count; ++i) {
        const auto* record = reinterpret_cast<const KVPrinterInfo401*>(at);
        // The block's length is the caller's count and sizes: a record that
        // is not whole and sound by its own dwSize would lead the walk (and
        // the value stored) astray, so nothing of it or past it is read.
        WCHAR why[256] = {};
        if (!vlibPRINT_CheckKVPI4(record, why, 256)) {
            TraceLogWrite(LibraryLog, 0, L"%s => record %d refused, stopping: %s\n", kSet, static_cast<int>(i), why);
            break;
        }
        at += record->dwSize;
        const dumptext::SlotText name(record->szPrinterName);
        TraceLogWrite(LibraryLog, 0, L"%s => creating printer: %s\n", kSet, name.get());
        const std::wstring subkey = vlibPRINT_PrinterNameToRegistrySafeName(name.get());
        // An empty key name would open the list's own key and write there.
        if (subkey.empty()) {
            TraceLogWrite(LibraryLog, 0, L"%s => record %d has no printer name, skipped\n", kSet, static_cast<int>(i));
            continue;
        }
        platform::ScopedKey key;
        if (platform::registry.RegCreateKeyExW(parent.get(), subkey.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                               KEY_ALL_ACCESS, nullptr, key.receive(), nullptr) == ERROR_SUCCESS) {
            // The single writes are not checked: the key is what counts.
            SetDword(key.get(), L"Type", type);
            platform::registry.RegSetValueExW(key.get(), L"PrinterData4", 0, REG_BINARY,
                                              reinterpret_cast<const BYTE*>(record), record->dwSize);
            SetDword(key.get(), L"Session", session);
            platform::registry.RegSetValueExW(key.get(), L"UserName", 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(userName.c_str()),
                                              static_cast<DWORD>((userName.size() + 1) * sizeof(WCHAR)));
            if (type == kKVPrinterTypeConnection) SetDword(key.get(), L"Connection", connection);
            written = TRUE;
        }
    }
    return written;
}

KVPrinterInfo401* vlibPRINT_LoadKVPrinterInfoFromRegistry(std::wstring printerName) {
    TraceLogWrite(LibraryLog, 0, L"%s => \n", kLoad);
    KVPrinterInfo401* result = nullptr;
    platform::ScopedKey printers;
    if (platform::registry.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPrintersKey, 0, KEY_QUERY_VALUE, printers.receive()) !=
        ERROR_SUCCESS) {
        TraceLogWrite(LibraryLog, 0, L"%s => couldn't open kvprinters key\n", kLoad);
    } else {
        TraceLogWrite(LibraryLog, 0, L"%s => opened our printers key\n", kLoad);
        platform::ScopedKey key;
        if (platform::registry.RegOpenKeyExW(printers.get(), vlibPRINT_PrinterNameToRegistrySafeName(printerName).c_str(),
                                             0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) {
            TraceLogWrite(LibraryLog, 0, L"%s => couldn't open printer key\n", kLoad);
        } else {
            bool outOfMemory = false;
            result = ReadRecord(key.get(), &outOfMemory);
            if (outOfMemory) return nullptr;  // both keys close on the way out
        }
    }
    if (result) vlibPRINT_LogKVPI4(LibraryLog, result, result->dwSize);
    TraceLogWrite(LibraryLog, 0, L"%s => successfull, returning buffer\n", kLoad);
    return result;
}

KVPrinterInfo401* vlibPRINT_GetKVPrinterInfo(HANDLE hPrinter, std::wstring printerName) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetKVPrinterInfo => \n");
    KVPrinterInfo401* result = nullptr;
    if (!hPrinter) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetKVPrinterInfo => invalid handle, trying with printer name\n");
        result = vlibPRINT_LoadKVPrinterInfoFromRegistry(printerName);
    } else {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetKVPrinterInfo => getting printer name from handle\n");
        // GetPrinterW runs the driver: a fault there leaves no name to look up.
        LPBYTE block = nullptr;
        if (!platform::Guarded([&] { block = vlibPRINT_GetPrinterInfo(hPrinter, 4); }))
            TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetKVPrinterInfo => exception occurred during GetPrinter\n");
        auto* info = reinterpret_cast<PRINTER_INFO_4W*>(block);
        if (info) {
            vlibPRINT_LogPI4(LibraryLog, info);
            if (info->pPrinterName) result = vlibPRINT_LoadKVPrinterInfoFromRegistry(info->pPrinterName);
            platform::HeapFreeBlock(info);
        }
    }
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_GetKVPrinterInfo => successfull, returning buffer\n");
    return result;
}
