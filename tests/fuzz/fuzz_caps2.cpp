// The earlier capability record: only ever dumped, as far as the bytes held
// go and, given a block of exactly dwSize bytes, trusting dwSize.
#include "records/caps4.h"
#include "tests/fuzz/fuzz_support.h"

int FuzzInput(const uint8_t* data, size_t size) {
    FuzzBlock input(data, size, size);
    LogCaps2(FuzzLog(), input.as<caps2>(), size);
    const DWORD dwSize = size >= sizeof(DWORD) ? Read<DWORD>(data) : 0;
    if (dwSize < sizeof(DWORD) || dwSize > (1u << 20)) return 0;
    FuzzBlock exact(data, size, dwSize);
    LogCaps2(FuzzLog(), exact.as<caps2>());
    return 0;
}
