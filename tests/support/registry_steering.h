// Registry steering for tests: a registry table (platform::ScopedApi) that
// 1. redirects every path under "SOFTWARE\Vantrel" of HKEY_LOCAL_MACHINE or
//    HKEY_CURRENT_USER into a scratch key of its own (one per hive), removed
//    at the end of the scope, so each test starts with no configuration;
// 2. refuses chosen opens: DenyFullAccess(hive, path) fails opens of that key
//    asking for write access with ERROR_ACCESS_DENIED (a per-machine key an
//    ordinary user can only read), Hide(hive, path) fails every open of it
//    and below it with ERROR_FILE_NOT_FOUND;
// 3. counts the value names read. Only one may live at a time (not copyable).
#pragma once

#include <string>

#include "platform/platform.h"

namespace testsupport {

class RegistrySteering {
public:
    RegistrySteering();
    ~RegistrySteering();

    // Paths exactly as the code passes them.
    void DenyFullAccess(HKEY hive, const std::wstring& path) { Refuse(hive, path, ERROR_ACCESS_DENIED); }
    void Hide(HKEY hive, const std::wstring& path) { Refuse(hive, path, ERROR_FILE_NOT_FOUND); }
    void Refuse(HKEY hive, const std::wstring& path, LSTATUS error);

    // Set-up and inspection of the scratch keys, not subject to the refusals.
    // Paths are relative to the hive; a null name only creates the key.
    using Str = const std::wstring&;
    void SetValue(HKEY hive, Str path, const WCHAR* name, DWORD type, const void* data, DWORD size);
    void SetDword(HKEY hive, Str path, Str name, DWORD v) { SetValue(hive, path, name.c_str(), REG_DWORD, &v, 4); }
    void SetBinary(HKEY h, Str path, Str v, const void* d, DWORD n) { SetValue(h, path, v.c_str(), REG_BINARY, d, n); }
    void SetString(HKEY h, Str path, Str name, Str v) { SetValue(h, path, name.c_str(), REG_SZ, v.c_str(), DWORD(v.size() + 1) * 2); }
    void CreateKey(HKEY hive, Str path) { SetValue(hive, path, nullptr, 0, nullptr, 0); }
    bool KeyExists(HKEY hive, Str path);
    // The value's bytes (bytes may be null) and type; false when it cannot be read.
    bool Read(HKEY hive, Str path, Str name, std::string* bytes = nullptr, DWORD* type = nullptr);

    // How often a value name was read since construction or ClearQueried.
    int QueryCount(Str name) const;
    void ClearQueried();

private:
    platform::ScopedApi<platform::RegistryApi> api_;
};

// The per-printer key path below the Printers key for a registry-safe name.
std::wstring PrinterKeyPath(const std::wstring& registrySafeName);

// The real registry, for the tests that run whole programs or set up what a
// logger reads before anything is steered: a value set (a number, or a text
// as REG_SZ; a failure fails the test), whether a key is there, and a value's
// bytes (empty when it cannot be read).
void SetRealDword(HKEY hive, const std::wstring& path, const std::wstring& name, DWORD value);
void SetRealString(HKEY hive, const std::wstring& path, const std::wstring& name, const std::wstring& text);
bool RealKeyExists(HKEY hive, const std::wstring& path);
std::string RealValue(HKEY hive, const std::wstring& path, const std::wstring& name);

}  // namespace testsupport
