// kvcaps: reading a capability record from where it is stored: a `.kvp`
// file of the file cache, the "PrinterData" value of the printer's subkey of
// the Printers key, or the printer's data value "KVPrinterInfo".
#include <shlwapi.h>

#include <cstdio>
#include <cstring>

#include "platform/guard.h"
#include "platform/registry.h"
#include "print/printer_names.h"
#include "printer/printer_keys.h"
#include "records/caps4_check.h"
#include "records/caps4_json.h"
#include "records/printer_info.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {

const char kSourceUsageLines[] =
    "       kvcaps [--full | --ipp | --json | --html | --ppd] SOURCE\n"
    "         SOURCE: FILE (a .kvp record, a printer info record of any version, the earlier\n"
    "         record, or a record's JSON document), --registry PRINTER or --printer-data PRINTER\n";

bool ReadFileBytes(const std::wstring& path, std::vector<BYTE>* bytes, std::string* why) {
    HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = "cannot open the file (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    LARGE_INTEGER size = {};
    bool ok = ::GetFileSizeEx(file, &size) && size.QuadPart < (64ll << 20);
    if (ok) {
        bytes->assign(static_cast<size_t>(size.QuadPart), 0);
        DWORD read = 0;
        ok = bytes->empty() || (::ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
                                read == bytes->size());
    }
    ::CloseHandle(file);
    if (!ok) *why = "cannot read the file";
    return ok;
}

bool ReadRegistryValue(const std::wstring& printer, const WCHAR* name, bool perUserToo, std::vector<BYTE>* bytes,
                       std::string* where, std::string* why) {
    const std::wstring subkey =
        std::wstring(kPrintersKey) + L"\\" + vlibPRINT_PrinterNameToRegistrySafeName(printer);
    for (HKEY hive : {HKEY_LOCAL_MACHINE, perUserToo ? HKEY_CURRENT_USER : nullptr}) {
        if (!hive) break;
        platform::ScopedKey key;
        if (platform::registry.RegOpenKeyExW(hive, subkey.c_str(), 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS)
            continue;
        DWORD size = 0;
        DWORD type = 0;
        if (platform::registry.RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            continue;
        bytes->assign(size, 0);
        if (platform::registry.RegQueryValueExW(key.get(), name, nullptr, &type, bytes->data(), &size) != ERROR_SUCCESS)
            continue;
        bytes->resize(size);
        *where = std::string(hive == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCU\\") + Utf8(subkey) + " \"" + Utf8(name) + "\"";
        return true;
    }
    *why = "no \"" + Utf8(name) + "\" value under HKLM" + (perUserToo ? " or HKCU" : "") + "\\" + Utf8(subkey);
    return false;
}

// The file's name without its extension ("KV_Laser" of "Z:\\a.b/KV_Laser"):
// a dot in a folder's name is no extension.
std::wstring FileStem(const std::wstring& path) {
    const WCHAR* name = ::PathFindFileNameW(path.c_str());
    const WCHAR* extension = ::PathFindExtensionW(name);
    return std::wstring(name, extension);
}

bool ReadPrinterData(const std::wstring& printer, std::vector<BYTE>* bytes, std::string* why) {
    LPWSTR name = const_cast<LPWSTR>(printer.c_str());
    HANDLE handle = nullptr;
    BOOL opened = FALSE;
    platform::Guarded([&] { opened = platform::spooler.OpenPrinterW(name, &handle, nullptr); });
    if (!opened || !handle) {
        *why = "cannot open the printer";
        return false;
    }
    WCHAR value[] = L"KVPrinterInfo";
    DWORD type = 0, needed = 0, status = ERROR_INVALID_FUNCTION;
    platform::Guarded([&] { platform::spooler.GetPrinterDataW(handle, value, &type, nullptr, 0, &needed); });
    bytes->assign(needed ? needed : 1, 0);
    BYTE* data = bytes->data();
    const DWORD capacity = static_cast<DWORD>(bytes->size());
    platform::Guarded([&] { status = platform::spooler.GetPrinterDataW(handle, value, &type, data, capacity, &needed); });
    platform::Guarded([&] { platform::spooler.ClosePrinter(handle); });
    if (status != ERROR_SUCCESS) {
        *why = "the printer has no \"KVPrinterInfo\" data value (error " + std::to_string(status) + ")";
        return false;
    }
    bytes->resize(needed);
    return true;
}

bool ParseSource(int argc, LPWSTR* argv, int* i, Source* source) {
    const std::wstring arg = argv[*i];
    if ((arg == L"--registry" || arg == L"--printer-data") && *i + 1 < argc) {
        (arg == L"--registry" ? source->registryPrinter : source->dataPrinter) = argv[++*i];
        return true;
    }
    if (arg.empty() || arg[0] == L'-') return false;
    source->file = arg;
    return true;
}

namespace {

// A JSON document starts with "{" (after a byte order mark and blanks); no
// record does at its second value, which holds 0, 401, 402 or 412 there.
bool LooksLikeJson(const std::vector<BYTE>& bytes) {
    size_t i = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    while (i < bytes.size() && std::strchr(" \t\r\n", bytes[i]) && bytes[i]) ++i;
    return i < bytes.size() && bytes[i] == '{';
}

}  // namespace

// A record document written back as the record's bytes.
bool RecordOfJson(const std::string& json, std::vector<BYTE>* record, std::string* why) {
    QueryBuffers set = {};
    if (!vlibPRINT_Caps4FromJson(json, &set, why)) return false;
    caps4* packed = vlibPRINT_PackCaps4(&set);
    vlibPRINT_FreeQueryBuffers(&set);
    if (!packed) {
        *why = "out of memory while packing the record";
        return false;
    }
    const BYTE* begin = reinterpret_cast<const BYTE*>(packed);
    record->assign(begin, begin + packed->dwSize);
    platform::HeapFreeBlock(packed);
    return true;
}

int TakeRecord(std::vector<BYTE> bytes, Source* source) {
    // Told by the second 32-bit value: 412, where a capability record's first
    // section starts; 0, 401 or 402, the version field of an info record (0 of
    // a 400 record). The earlier record holds its default flag there, 0 or 1,
    // and is told by the earlier capability record its header places; a JSON
    // document holds text.
    DWORD second = 0;
    if (bytes.size() >= 2 * sizeof(DWORD)) std::memcpy(&second, bytes.data() + 4, sizeof(second));
    std::string why;
    const char* kind = "capability record";
    bool usable = true;
    std::vector<BYTE> caps;
    const bool infoVersion = bytes.size() >= 2 * sizeof(DWORD) &&
                             (second == 0 || second == kKVPrinterInfo401Version || second == kKVPrinterInfo402Version);
    // An info record that is sound is one, whatever its bytes at 6504 hold.
    const bool info = infoVersion && inforec::CapsOf(bytes, &caps, &source->devMode, &source->driver, &why);
    if (!info && second != kCaps4HeaderSize && bytes.size() >= 2 * sizeof(DWORD) && earlier::IsEarlierRecord(bytes)) {
        kind = "earlier printer info record";
        why.clear();
        usable = earlier::CapsOf(bytes, &caps, &source->devMode, &source->driver, &why);
    } else if (infoVersion) {
        kind = "printer info record";
        usable = info;
    } else if (second != kCaps4HeaderSize && LooksLikeJson(bytes)) {
        kind = "capability record document";
        usable = RecordOfJson(std::string(bytes.begin(), bytes.end()), &source->record, &why);
    } else {
        source->record = std::move(bytes);
    }
    if (usable && !caps.empty()) source->record = std::move(caps), source->hasDevMode = true;
    if (usable && !source->hasDevMode) {
        // A capability record, or the one a document gives: checked as every stored record is.
        WCHAR reason[256] = {};
        usable = vlibPRINT_CheckCaps4(source->record.data(), source->record.size(), reason, 256);
        if (!usable) why = Utf8(reason);
    }
    if (!usable) {
        std::fprintf(stderr, "kvcaps: %s: not a usable %s: %s\n", source->where.c_str(), kind, why.c_str());
        return kDamaged;
    }
    if (std::strcmp(kind, "capability record")) source->kind = std::string(" (of a ") + kind + ")";
    return kOk;
}

int ReadSource(Source* source) {
    std::vector<BYTE> bytes;
    std::string why;
    bool read = false;
    if (!source->file.empty()) {
        source->where = Utf8(source->file);
        read = ReadFileBytes(source->file, &bytes, &why);
    } else if (!source->registryPrinter.empty()) {
        source->where = Utf8(source->registryPrinter);
        read = ReadRegistryValue(source->registryPrinter, L"PrinterData", true, &bytes, &source->where, &why);
    } else {
        source->where = "printer data \"KVPrinterInfo\" of " + Utf8(source->dataPrinter);
        read = ReadPrinterData(source->dataPrinter, &bytes, &why);
    }
    if (!read) {
        std::fprintf(stderr, "kvcaps: %s: %s\n", source->where.c_str(), why.c_str());
        return kUnreadable;
    }
    return TakeRecord(std::move(bytes), source);
}

}  // namespace kvcaps
