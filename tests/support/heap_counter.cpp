#include "support/heap_counter.h"

namespace testsupport {

namespace {

volatile LONG g_live = 0;

LPVOID WINAPI CountingAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    LPVOID block = platform::RealHeap().HeapAlloc(heap, flags, bytes);
    if (block) ::InterlockedIncrement(&g_live);
    return block;
}

BOOL WINAPI CountingFree(HANDLE heap, DWORD flags, LPVOID block) {
    const BOOL freed = platform::RealHeap().HeapFree(heap, flags, block);
    if (freed) ::InterlockedDecrement(&g_live);
    return freed;
}

const platform::HeapApi kCounting = {CountingAlloc, CountingFree};

}  // namespace

HeapCounter::HeapCounter() : api_(platform::heap, kCounting) { g_live = 0; }
long HeapCounter::Live() const { return g_live; }

}  // namespace testsupport
