#include "platform/registry.h"

namespace platform {

LSTATUS OpenKeyToRead(HKEY root, const WCHAR* path, HKEY* key) {
    return registry.RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, key);
}

LSTATUS OpenKeyToRead(HKEY root, const CHAR* path, HKEY* key) {
    return registry.RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, key);
}

LSTATUS QueryDword(HKEY key, const WCHAR* name, DWORD* value) {
    DWORD data = 0;
    DWORD size = sizeof(data);
    const LSTATUS status = registry.RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
    if (status == ERROR_SUCCESS) *value = data;
    return status;
}

LSTATUS QueryDword(HKEY key, const CHAR* name, DWORD* value) {
    DWORD data = 0;
    DWORD size = sizeof(data);
    const LSTATUS status = registry.RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
    if (status == ERROR_SUCCESS) *value = data;
    return status;
}

LSTATUS QueryString(HKEY key, const WCHAR* name, WCHAR* buffer, DWORD bufferBytes) {
    DWORD size = bufferBytes;
    const LSTATUS status = registry.RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    if (status == ERROR_SUCCESS && bufferBytes >= sizeof(WCHAR)) {
        const DWORD count = bufferBytes / sizeof(WCHAR);
        const DWORD end = size / sizeof(WCHAR) < count ? size / sizeof(WCHAR) : count - 1;
        buffer[end] = L'\0';
    }
    return status;
}

LSTATUS QueryString(HKEY key, const CHAR* name, CHAR* buffer, DWORD bufferBytes) {
    DWORD size = bufferBytes;
    const LSTATUS status = registry.RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    if (status == ERROR_SUCCESS && bufferBytes > 0) buffer[size < bufferBytes ? size : bufferBytes - 1] = '\0';
    return status;
}

}  // namespace platform
