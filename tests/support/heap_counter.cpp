#include "support/heap_counter.h"

namespace testsupport {

namespace {

volatile LONG g_live = 0;
volatile LONG g_refused = 0;  // counts down to the refused block

LPVOID WINAPI CountingAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (::InterlockedDecrement(&g_refused) == -1) return nullptr;
    LPVOID block = platform::RealHeap().HeapAlloc(heap, flags, bytes);
    if (block) ::InterlockedIncrement(&g_live);
    return block;
}

BOOL WINAPI CountingFree(HANDLE heap, DWORD flags, LPVOID block) {
    const BOOL freed = platform::RealHeap().HeapFree(heap, flags, block);
    if (freed) ::InterlockedDecrement(&g_live);
    return freed;
}

}  // namespace

HeapCounter::HeapCounter(long refused) : api_(platform::heap, {CountingAlloc, CountingFree}) {
    g_live = 0;
    g_refused = refused;
}
long HeapCounter::Live() const { return g_live; }

}  // namespace testsupport
