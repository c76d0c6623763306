#include "platform/kernel.h"

namespace platform {

void* HeapAllocZero(size_t bytes) { return ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, bytes); }

void HeapFreeBlock(void* block) {
    if (block) ::HeapFree(::GetProcessHeap(), 0, block);
}

void CopyString(WCHAR* target, size_t capacity, const WCHAR* source) {
    if (!target || capacity == 0) return;
    size_t i = 0;
    if (source) {
        for (; i + 1 < capacity && source[i]; ++i) target[i] = source[i];
    }
    target[i] = L'\0';
}

void CopyString(char* target, size_t capacity, const char* source) {
    if (!target || capacity == 0) return;
    size_t i = 0;
    if (source) {
        for (; i + 1 < capacity && source[i]; ++i) target[i] = source[i];
    }
    target[i] = '\0';
}

namespace {
HANDLE NullOnFailure(HANDLE file) { return file == INVALID_HANDLE_VALUE ? nullptr : file; }
constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;
}  // namespace

HANDLE OpenForAppend(const WCHAR* path) {
    return NullOnFailure(::CreateFileW(path, FILE_APPEND_DATA, kShared, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

HANDLE OpenForAppend(const char* path) {
    return NullOnFailure(::CreateFileA(path, FILE_APPEND_DATA, kShared, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool AppendBytes(HANDLE file, const void* bytes, DWORD size) {
    DWORD written = 0;
    return ::WriteFile(file, bytes, size, &written, nullptr) && written == size;
}

void CloseFile(HANDLE file) {
    if (file) ::CloseHandle(file);
}

volatile LONG* MapSharedWord(const WCHAR* name, HANDLE* mapping) {
    *mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG), name);
    void* view = *mapping ? ::MapViewOfFile(*mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LONG)) : nullptr;
    if (!view && *mapping) {
        ::CloseHandle(*mapping);
        *mapping = nullptr;
    }
    return static_cast<volatile LONG*>(view);
}

void UnmapSharedWord(volatile LONG* word, HANDLE mapping) {
    if (word) ::UnmapViewOfFile(const_cast<LONG*>(word));
    if (mapping) ::CloseHandle(mapping);
}

}  // namespace platform
