#include "platform/kernel.h"

namespace platform {

const HeapApi& RealHeap() {
    static const HeapApi api = {::HeapAlloc, ::HeapFree};
    return api;
}

HeapApi heap = RealHeap();

void* HeapAllocZero(size_t bytes) {
    void* block = heap.HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
    // HeapAlloc sets no error of its own: the error line a caller writes after
    // a refused block would otherwise name whatever an earlier call left.
    if (!block) ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

void HeapFreeBlock(void* block) {
    if (block) heap.HeapFree(::GetProcessHeap(), 0, block);
}

bool BlockBytes(unsigned long long count, unsigned long long width, DWORD* bytes) {
    constexpr unsigned long long kLargest = 0x7FFFFFFF;
    if (width != 0 && count > kLargest / width) return false;
    *bytes = static_cast<DWORD>(count * width);
    return true;
}

std::string Utf8(const WCHAR* text, size_t maxChars) {
    size_t length = 0;
    while (text && length < maxChars && text[length]) ++length;
    const int bytes = length ? ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr) : 0;
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), bytes, nullptr, nullptr);
    return out;
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
