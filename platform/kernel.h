// Kernel services used by the library: the process heap and string copies.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace platform {

// A zero-filled block from the process heap, or null on exhaustion.
void* HeapAllocZero(size_t bytes);
// Frees a block from HeapAllocZero; null is ignored.
void HeapFreeBlock(void* block);

template <class T>
T* HeapAllocZeroAs(size_t bytes) {
    return static_cast<T*>(HeapAllocZero(bytes));
}

// The text up to its terminator or maxChars units (a name slot may have no
// terminator) as UTF-8.
std::string Utf8(const WCHAR* text, size_t maxChars = static_cast<size_t>(-1));

// Copies at most capacity - 1 characters and always terminates (capacity > 0).
void CopyString(WCHAR* target, size_t capacity, const WCHAR* source);
void CopyString(char* target, size_t capacity, const char* source);

}  // namespace platform
