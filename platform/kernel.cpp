#include "platform/kernel.h"

namespace platform {

const HeapApi& RealHeap() {
    static const HeapApi api = {::HeapAlloc, ::HeapFree};
    return api;
}

HeapApi heap = RealHeap();

void* HeapAllocZero(size_t bytes) { return heap.HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, bytes); }

void HeapFreeBlock(void* block) {
    if (block) heap.HeapFree(::GetProcessHeap(), 0, block);
}

bool BlockBytes(unsigned long long count, unsigned long long width, DWORD* bytes) {
    constexpr unsigned long long kLargest = 0x7FFFFFFF;
    if (width != 0 && count > kLargest / width) return false;
    *bytes = static_cast<DWORD>(count * width);
    return true;
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

}  // namespace platform
