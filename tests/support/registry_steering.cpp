#include "support/registry_steering.h"

#include <cwchar>

#include "printer/printer_keys.h"

namespace testsupport {

namespace {

struct Rule {
    HKEY hive;
    std::wstring path;
};

struct SteeringState {
    std::wstring scratchPath;  // below HKEY_CURRENT_USER
    HKEY machineRoot = nullptr;
    HKEY userRoot = nullptr;
    std::vector<Rule> denied;
    std::vector<Rule> hidden;
    std::vector<std::wstring> queried;
};

SteeringState* g_state = nullptr;

constexpr const WCHAR* kSteeredPrefix = L"SOFTWARE\\Vantrel";

std::wstring Trimmed(const WCHAR* path) {
    std::wstring text = path ? path : L"";
    while (!text.empty() && text.back() == L'\\') text.pop_back();
    return text;
}

bool SameKey(const std::wstring& a, const std::wstring& b) { return ::lstrcmpiW(a.c_str(), b.c_str()) == 0; }

// path equals prefix or lies below it.
bool Within(const std::wstring& path, const std::wstring& prefix) {
    if (path.size() < prefix.size()) return false;
    if (_wcsnicmp(path.c_str(), prefix.c_str(), prefix.size()) != 0) return false;
    return path.size() == prefix.size() || path[prefix.size()] == L'\\';
}

bool IsHive(HKEY key) { return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER; }

// Where a hive-relative open really goes.
HKEY SteeredRoot(HKEY key, const std::wstring& path) {
    if (!g_state || !IsHive(key) || !Within(path, kSteeredPrefix)) return key;
    return key == HKEY_LOCAL_MACHINE ? g_state->machineRoot : g_state->userRoot;
}

bool WantsWrite(REGSAM access) {
    return (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE | WRITE_DAC | WRITE_OWNER)) != 0;
}

// An error for a refused open, or ERROR_SUCCESS to go on.
LSTATUS Refusal(HKEY key, const std::wstring& path, REGSAM access) {
    if (!g_state || !IsHive(key)) return ERROR_SUCCESS;
    for (const Rule& rule : g_state->hidden)
        if (rule.hive == key && Within(path, rule.path)) return ERROR_FILE_NOT_FOUND;
    if (WantsWrite(access))
        for (const Rule& rule : g_state->denied)
            if (rule.hive == key && SameKey(path, rule.path)) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI SteeredOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    const std::wstring path = Trimmed(subKey);
    const LSTATUS refused = Refusal(key, path, access);
    if (refused != ERROR_SUCCESS) return refused;
    return platform::RealRegistry().RegOpenKeyExW(SteeredRoot(key, path), subKey, options, access, result);
}

LSTATUS WINAPI SteeredCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                                   REGSAM access, const LPSECURITY_ATTRIBUTES security, PHKEY result,
                                   LPDWORD disposition) {
    const std::wstring path = Trimmed(subKey);
    const LSTATUS refused = Refusal(key, path, access);
    if (refused != ERROR_SUCCESS) return refused;
    return platform::RealRegistry().RegCreateKeyExW(SteeredRoot(key, path), subKey, reserved, keyClass, options,
                                                    access, security, result, disposition);
}

LSTATUS WINAPI SteeredQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                    LPDWORD size) {
    if (g_state) g_state->queried.push_back(name ? name : L"");
    return platform::RealRegistry().RegQueryValueExW(key, name, reserved, type, data, size);
}

DWORD WINAPI SteeredDeleteKeyW(HKEY key, LPCWSTR subKey) {
    const std::wstring path = Trimmed(subKey);
    return platform::RealRegistry().SHDeleteKeyW(SteeredRoot(key, path), subKey);
}

platform::RegistryApi SteeredTable() {
    platform::RegistryApi api = platform::RealRegistry();
    api.RegOpenKeyExW = SteeredOpenKeyExW;
    api.RegCreateKeyExW = SteeredCreateKeyExW;
    api.RegQueryValueExW = SteeredQueryValueExW;
    api.SHDeleteKeyW = SteeredDeleteKeyW;
    return api;
}

HKEY CreateReal(HKEY parent, const std::wstring& path) {
    HKEY key = nullptr;
    platform::RealRegistry().RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

}  // namespace

RegistrySteering::RegistrySteering() : api_(platform::registry, SteeredTable()) {
    static LONG counter = 0;
    WCHAR name[96];
    _snwprintf(name, 96, L"Software\\KVTestSteering\\%lu-%ld", ::GetCurrentProcessId(),
               ::InterlockedIncrement(&counter));
    name[95] = 0;
    g_state = new SteeringState;
    g_state->scratchPath = name;
    platform::RealRegistry().SHDeleteKeyW(HKEY_CURRENT_USER, name);
    g_state->machineRoot = CreateReal(HKEY_CURRENT_USER, g_state->scratchPath + L"\\HKLM");
    g_state->userRoot = CreateReal(HKEY_CURRENT_USER, g_state->scratchPath + L"\\HKCU");
}

RegistrySteering::~RegistrySteering() {
    const auto& real = platform::RealRegistry();
    if (g_state->machineRoot) real.RegCloseKey(g_state->machineRoot);
    if (g_state->userRoot) real.RegCloseKey(g_state->userRoot);
    real.SHDeleteKeyW(HKEY_CURRENT_USER, g_state->scratchPath.c_str());
    delete g_state;
    g_state = nullptr;
}

void RegistrySteering::DenyFullAccess(HKEY hive, const std::wstring& path) {
    g_state->denied.push_back({hive, Trimmed(path.c_str())});
}

void RegistrySteering::Hide(HKEY hive, const std::wstring& path) {
    g_state->hidden.push_back({hive, Trimmed(path.c_str())});
}

namespace {
void SetValue(HKEY hive, const std::wstring& path, const std::wstring& name, DWORD type, const void* data,
              DWORD size) {
    // Written below the steering's rules: set-up is not subject to DenyFullAccess.
    HKEY key = nullptr;
    const std::wstring trimmed = Trimmed(path.c_str());
    if (platform::RealRegistry().RegCreateKeyExW(SteeredRoot(hive, trimmed), path.c_str(), 0, nullptr,
                                                 REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                                                 nullptr) != ERROR_SUCCESS)
        return;
    platform::RealRegistry().RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    platform::RealRegistry().RegCloseKey(key);
}
}  // namespace

void RegistrySteering::CreateKey(HKEY hive, const std::wstring& path) {
    HKEY key = nullptr;
    if (platform::RealRegistry().RegCreateKeyExW(SteeredRoot(hive, Trimmed(path.c_str())), path.c_str(), 0, nullptr,
                                                 REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                                                 nullptr) == ERROR_SUCCESS)
        platform::RealRegistry().RegCloseKey(key);
}

void RegistrySteering::SetDword(HKEY hive, const std::wstring& path, const std::wstring& name, DWORD value) {
    SetValue(hive, path, name, REG_DWORD, &value, sizeof(value));
}

void RegistrySteering::SetBinary(HKEY hive, const std::wstring& path, const std::wstring& name, const void* data,
                                 DWORD size) {
    SetValue(hive, path, name, REG_BINARY, data, size);
}

void RegistrySteering::SetString(HKEY hive, const std::wstring& path, const std::wstring& name,
                                 const std::wstring& value) {
    SetValue(hive, path, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

bool RegistrySteering::KeyExists(HKEY hive, const std::wstring& path) {
    HKEY key = nullptr;
    const std::wstring trimmed = Trimmed(path.c_str());
    if (platform::RealRegistry().RegOpenKeyExW(SteeredRoot(hive, trimmed), path.c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    platform::RealRegistry().RegCloseKey(key);
    return true;
}

bool RegistrySteering::Read(HKEY hive, const std::wstring& path, const std::wstring& name, std::string* bytes,
                            DWORD* type) {
    HKEY key = nullptr;
    const std::wstring trimmed = Trimmed(path.c_str());
    const auto& real = platform::RealRegistry();
    if (real.RegOpenKeyExW(SteeredRoot(hive, trimmed), path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    DWORD kind = 0;
    LSTATUS status = real.RegQueryValueExW(key, name.c_str(), nullptr, &kind, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        std::string data(size, '\0');
        status = real.RegQueryValueExW(key, name.c_str(), nullptr, &kind, reinterpret_cast<BYTE*>(data.data()),
                                       &size);
        data.resize(size);
        if (status == ERROR_SUCCESS && bytes) *bytes = data;
        if (type) *type = kind;
    }
    real.RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool RegistrySteering::ValueExists(HKEY hive, const std::wstring& path, const std::wstring& name) {
    return Read(hive, path, name, nullptr);
}

const std::vector<std::wstring>& RegistrySteering::queried() const { return g_state->queried; }

int RegistrySteering::QueryCount(const std::wstring& name) const {
    int count = 0;
    for (const std::wstring& queried : g_state->queried)
        if (SameKey(queried, name)) ++count;
    return count;
}

void RegistrySteering::ClearQueried() { g_state->queried.clear(); }

std::wstring PrinterKeyPath(const std::wstring& registrySafeName) {
    return std::wstring(kPrintersKey) + L"\\" + registrySafeName;
}

}  // namespace testsupport
