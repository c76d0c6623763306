// Kernel services used by the library: the process heap, string copies, the
// files the trace log appends to and memory shared between processes.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace platform {

// The process heap's allocation and release, as a table like the spooler's:
// a test installs one of its own to count the blocks given out and back.
struct HeapApi {
    decltype(&::HeapAlloc) HeapAlloc;
    decltype(&::HeapFree) HeapFree;
};
extern HeapApi heap;
const HeapApi& RealHeap();

// A zero-filled block from the process heap, or null on exhaustion.
void* HeapAllocZero(size_t bytes);
// Frees a block from HeapAllocZero; null is ignored.
void HeapFreeBlock(void* block);

// The bytes of `count` entries of `width` bytes each, in *bytes; false when
// they would not fit in one block (block sizes travel in 32-bit fields that
// some readers take as signed, so a block stays below 2 GiB).
bool BlockBytes(unsigned long long count, unsigned long long width, DWORD* bytes);

template <class T>
T* HeapAllocZeroAs(size_t bytes) {
    return static_cast<T*>(HeapAllocZero(bytes));
}

// The array a driver list of `bytes` (as counted) is fetched into.
// DeviceCapabilitiesW takes no buffer size, and a driver whose list has grown
// since it was counted writes the whole list all the same: the array has room
// for twice the entries counted, so such a list lands in memory of ours (its
// answer then differs from the count, and the list is not taken).
template <class T>
T* HeapAllocFetchArray(DWORD bytes) {
    return HeapAllocZeroAs<T>(size_t{bytes} * 2);
}

// The text up to its terminator or maxChars units (a name slot may have no
// terminator) as UTF-8.
std::string Utf8(const WCHAR* text, size_t maxChars = static_cast<size_t>(-1));

// Copies at most capacity - 1 characters and always terminates (capacity > 0).
void CopyString(WCHAR* target, size_t capacity, const WCHAR* source);
void CopyString(char* target, size_t capacity, const char* source);

// Opens the file for appending only, creating it when it is missing, shared
// with other readers and writers: every write lands at the end of the file,
// whoever else writes to it. Null when the file cannot be opened.
HANDLE OpenForAppend(const WCHAR* path);
HANDLE OpenForAppend(const char* path);
// Writes the bytes with one call; false when they were not all written.
bool AppendBytes(HANDLE file, const void* bytes, DWORD size);
void CloseFile(HANDLE file);

// A 32-bit word in memory shared by every process that names it alike, zero
// when first created; null when it cannot be had. The mapping handle keeps
// the name alive until UnmapSharedWord.
volatile LONG* MapSharedWord(const WCHAR* name, HANDLE* mapping);
void UnmapSharedWord(volatile LONG* word, HANDLE mapping);

}  // namespace platform
