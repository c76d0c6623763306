#include "support/registry_steering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "printer/printer_keys.h"

namespace testsupport {

using Str = const std::wstring&;

namespace {

// Hide rules (ERROR_FILE_NOT_FOUND) cover the key and everything below it;
// deny rules (ERROR_ACCESS_DENIED) the key itself, for opens asking to write.
struct Rule {
    HKEY hive;
    std::wstring path;
    LSTATUS error;
};

// The state of the one steering alive.
std::wstring g_scratchPath;  // below the real HKEY_CURRENT_USER
HKEY g_roots[2] = {};        // stand-ins for HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER
std::vector<Rule> g_rules;
std::vector<std::wstring> g_queried;

const platform::RegistryApi& Real() { return platform::RealRegistry(); }

// path equals prefix or lies below it (case-insensitive, like the registry).
bool Within(const std::wstring& path, const std::wstring& prefix) {
    return path.size() >= prefix.size() && _wcsnicmp(path.c_str(), prefix.c_str(), prefix.size()) == 0 &&
           (path.size() == prefix.size() || path[prefix.size()] == L'\\');
}

// Where a hive-relative open really goes, or a refusal of it.
HKEY Steered(HKEY key, const WCHAR* subKey, REGSAM access, LSTATUS* refusal) {
    const std::wstring path = subKey ? subKey : L"";
    for (const Rule& rule : g_rules)
        if (refusal && rule.hive == key && Within(path, rule.path) &&
            (rule.error == ERROR_FILE_NOT_FOUND || ((access & KEY_SET_VALUE) && path.size() == rule.path.size())))
            *refusal = rule.error;
    if (key != HKEY_LOCAL_MACHINE && key != HKEY_CURRENT_USER) return key;
    return Within(path, L"SOFTWARE\\Vantrel") ? g_roots[key == HKEY_CURRENT_USER] : key;
}

LSTATUS WINAPI SteeredOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    LSTATUS refusal = ERROR_SUCCESS;
    const HKEY root = Steered(key, subKey, access, &refusal);
    return refusal ? refusal : Real().RegOpenKeyExW(root, subKey, options, access, result);
}

LSTATUS WINAPI SteeredCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                                   REGSAM access, const LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD how) {
    LSTATUS refusal = ERROR_SUCCESS;
    const HKEY root = Steered(key, subKey, access, &refusal);
    return refusal ? refusal
                   : Real().RegCreateKeyExW(root, subKey, reserved, keyClass, options, access, security, result, how);
}

LSTATUS WINAPI SteeredQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    g_queried.push_back(name ? name : L"");
    return Real().RegQueryValueExW(key, name, reserved, type, data, size);
}

// Opens (or creates) a scratch key, below the refusals; null on failure.
HKEY OpenScratch(HKEY hive, const std::wstring& path, bool create) {
    HKEY key = nullptr;
    const HKEY root = Steered(hive, path.c_str(), 0, nullptr);
    const LSTATUS status = create ? Real().RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                           KEY_ALL_ACCESS, nullptr, &key, nullptr)
                                  : Real().RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key);
    return status == ERROR_SUCCESS ? key : nullptr;
}

}  // namespace

RegistrySteering::RegistrySteering() : api_(platform::registry, Real()) {
    g_scratchPath = L"Software\\KVTestSteering\\" + std::to_wstring(::GetCurrentProcessId());
    Real().SHDeleteKeyW(HKEY_CURRENT_USER, g_scratchPath.c_str());
    g_roots[0] = OpenScratch(HKEY_CURRENT_USER, g_scratchPath + L"\\HKLM", true);
    g_roots[1] = OpenScratch(HKEY_CURRENT_USER, g_scratchPath + L"\\HKCU", true);
    platform::registry.RegOpenKeyExW = SteeredOpenKeyExW;
    platform::registry.RegCreateKeyExW = SteeredCreateKeyExW;
    platform::registry.RegQueryValueExW = SteeredQueryValueExW;
}

RegistrySteering::~RegistrySteering() {
    for (HKEY& root : g_roots) Real().RegCloseKey(std::exchange(root, nullptr));
    Real().SHDeleteKeyW(HKEY_CURRENT_USER, g_scratchPath.c_str());
    g_rules.clear();
    ClearQueried();
}

void RegistrySteering::Refuse(HKEY hive, Str path, LSTATUS error) { g_rules.push_back({hive, path, error}); }

void RegistrySteering::SetValue(HKEY hive, Str path, const WCHAR* name, DWORD type, const void* data, DWORD size) {
    platform::ScopedKey key(OpenScratch(hive, path, true));
    if (key && name) Real().RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

bool RegistrySteering::KeyExists(HKEY hive, Str path) { return bool(platform::ScopedKey(OpenScratch(hive, path, 0))); }

bool RegistrySteering::Read(HKEY hive, Str path, Str name, std::string* bytes, DWORD* type) {
    platform::ScopedKey key(OpenScratch(hive, path, false));
    std::string data(1 << 20, '\0');  // far more than any record
    DWORD size = static_cast<DWORD>(data.size());
    if (!key || Real().RegQueryValueExW(key.get(), name.c_str(), nullptr, type, reinterpret_cast<BYTE*>(data.data()),
                                        &size) != ERROR_SUCCESS)
        return false;
    if (bytes) *bytes = data.substr(0, size);
    return true;
}

int RegistrySteering::QueryCount(Str name) const { return int(std::count(g_queried.begin(), g_queried.end(), name)); }

void RegistrySteering::ClearQueried() { g_queried.clear(); }

std::wstring PrinterKeyPath(const std::wstring& name) { return std::wstring(kPrintersKey) + L"\\" + name; }

void SetRealDword(HKEY hive, Str path, Str name, DWORD value) {
    EXPECT_EQ(::RegSetKeyValueW(hive, path.c_str(), name.c_str(), REG_DWORD, &value, 4), ERROR_SUCCESS);
}
void SetRealString(HKEY hive, Str path, Str name, Str text) {
    EXPECT_EQ(::RegSetKeyValueW(hive, path.c_str(), name.c_str(), REG_SZ, text.c_str(), DWORD(text.size() + 1) * 2), ERROR_SUCCESS);
}
bool RealKeyExists(HKEY hive, Str path) {
    HKEY key = nullptr;
    return ::RegOpenKeyExW(hive, path.c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS && ::RegCloseKey(key) == ERROR_SUCCESS;
}
std::string RealValue(HKEY hive, Str path, Str name) {
    std::string bytes(1 << 20, '\0');  // far more than any record
    DWORD size = static_cast<DWORD>(bytes.size());
    return ::RegGetValueW(hive, path.c_str(), name.c_str(), RRF_RT_ANY, nullptr, bytes.data(), &size) == ERROR_SUCCESS
               ? bytes.substr(0, size) : std::string();
}

}  // namespace testsupport
