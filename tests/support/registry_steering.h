// Registry steering for tests.
//
// A RegistrySteering installs a registry table (platform::ScopedApi) that
// 1. keeps the tests away from the machine's real product keys: every path
//    under "SOFTWARE\Vantrel" of HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER is
//    redirected into a private scratch key of its own (one per hive), removed
//    when the object goes out of scope, so each test starts with no
//    configuration, no cache entries and no options;
// 2. can refuse chosen key opens: DenyFullAccess(hive, path) makes
//    RegCreateKeyExW / RegOpenKeyExW of that key fail with
//    ERROR_ACCESS_DENIED whenever write access is asked for (a per-machine key
//    that an ordinary user can only read), Hide(hive, path) makes every open
//    of it fail with ERROR_FILE_NOT_FOUND (a key that does not exist);
// 3. records the value names read, so a test can tell whether a value was
//    looked at at all.
// Everything else is forwarded to platform::RealRegistry(). Only one
// RegistrySteering may live at a time.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/registry.h"

namespace testsupport {

class RegistrySteering {
public:
    RegistrySteering();
    ~RegistrySteering();
    RegistrySteering(const RegistrySteering&) = delete;
    RegistrySteering& operator=(const RegistrySteering&) = delete;

    // Opens with write access of hive\path fail with ERROR_ACCESS_DENIED.
    void DenyFullAccess(HKEY hive, const std::wstring& path);
    // Every open of hive\path fails with ERROR_FILE_NOT_FOUND.
    void Hide(HKEY hive, const std::wstring& path);

    // Helpers that write and read through the steered table (so they land in
    // the scratch keys). Paths are relative to the hive.
    void SetDword(HKEY hive, const std::wstring& path, const std::wstring& name, DWORD value);
    void SetBinary(HKEY hive, const std::wstring& path, const std::wstring& name, const void* data, DWORD size);
    void SetString(HKEY hive, const std::wstring& path, const std::wstring& name, const std::wstring& value);
    void CreateKey(HKEY hive, const std::wstring& path);
    bool KeyExists(HKEY hive, const std::wstring& path);
    // The value's bytes and type; false when it cannot be read.
    bool Read(HKEY hive, const std::wstring& path, const std::wstring& name, std::string* bytes,
              DWORD* type = nullptr);
    bool ValueExists(HKEY hive, const std::wstring& path, const std::wstring& name);

    // Names passed to RegQueryValueExW since construction or the last Clear.
    const std::vector<std::wstring>& queried() const;
    int QueryCount(const std::wstring& name) const;
    void ClearQueried();

private:
    platform::ScopedApi<platform::RegistryApi> api_;
};

// The per-printer key path below the Printers key for a registry-safe name.
std::wstring PrinterKeyPath(const std::wstring& registrySafeName);

}  // namespace testsupport
