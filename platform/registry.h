// Small registry helpers over platform::registry.
#pragma once

#include <initializer_list>

#include "platform/platform.h"

namespace platform {

// The operations below come in both character widths, so that code reading
// narrow and wide configuration is written once.

// Opens root\path for reading values; the registry status.
LSTATUS OpenKeyToRead(HKEY root, const WCHAR* path, HKEY* key);
LSTATUS OpenKeyToRead(HKEY root, const CHAR* path, HKEY* key);

// Reads a value as exactly 4 bytes, whatever its registry type. Returns the
// registry status; *value is written only on success.
LSTATUS QueryDword(HKEY key, const WCHAR* name, DWORD* value);
LSTATUS QueryDword(HKEY key, const CHAR* name, DWORD* value);

// Reads a value into a fixed byte buffer (string values keep their terminator
// when it fits). On success the buffer is terminated within its last character.
LSTATUS QueryString(HKEY key, const WCHAR* name, WCHAR* buffer, DWORD bufferBytes);
LSTATUS QueryString(HKEY key, const CHAR* name, CHAR* buffer, DWORD bufferBytes);

// The walk of settings kept per machine and per user: the step runs per
// machine first, and per user only when it did not succeed per machine.
template <class Step>
BOOL PerMachineThenPerUser(Step&& step) {
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        if (step(hive)) return TRUE;
    return FALSE;
}

// Closes a key when the scope ends.
class ScopedKey {
public:
    ScopedKey() = default;
    explicit ScopedKey(HKEY key) : key_(key) {}
    ~ScopedKey() { Reset(); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    HKEY get() const { return key_; }
    HKEY* receive() {
        Reset();
        return &key_;
    }
    explicit operator bool() const { return key_ != nullptr; }
    void Reset() {
        if (key_) registry.RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace platform
