// What every fuzz target shares: the scratch logger, the registry in memory,
// the input as a block of its own, and the property check.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <map>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "platform/kernel.h"

// The registry in memory: each value under its key's path and its name.
extern std::map<std::wstring, std::vector<BYTE>> fuzzRegistry;
// The files in memory (read whole), by their path.
extern std::map<std::wstring, std::vector<BYTE>> fuzzFiles;
// What kvcaps writes to its standard output or an export file.
extern std::string fuzzOut;

#define FUZZ_EXPECT(condition) \
    ((condition) ? void() : (dprintf(2, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition), FuzzTraceSave(), std::abort()))

// Each target's body, run for every input with an empty trace.
int FuzzInput(const uint8_t* data, size_t size);
// Writes the last input's trace to KV_FUZZ_TRACE, else /tmp/kv-fuzz-trace.log.
void FuzzTraceSave();

// The logger (and LibraryLog), writing to the trace in memory.
inline TraceLog* FuzzLog() {
    static TraceLog* log = LibraryLog = TraceLogCreate(L"fuzz-trace", 0);
    return log;
}

// `size` bytes in a heap block of their own (a read past them is seen): the
// input's first ones, then zeros.
struct FuzzBlock {
    std::vector<uint8_t> bytes;
    FuzzBlock(const uint8_t* data, size_t available, size_t size) : bytes(size) {
        if (available && size) std::memcpy(bytes.data(), data, available < size ? available : size);
    }
    template <class T>
    T* as() { return reinterpret_cast<T*>(bytes.data()); }
};

template <class T>
T Read(const void* at) {
    T value;
    std::memcpy(&value, at, sizeof(value));
    return value;
}
