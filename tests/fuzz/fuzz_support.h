// What every fuzz target shares: the scratch logger, the registry in memory,
// the input as a block of its own, and the property check.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "platform/kernel.h"

// The registry in memory: each value under its key's path and its name.
extern std::map<std::wstring, std::vector<BYTE>> fuzzRegistry;

#define FUZZ_EXPECT(condition) \
    ((condition) ? void() : (std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition), std::abort()))

// The logger (and LibraryLog) writing to KV_FUZZ_TRACE, else /tmp/kv-fuzz-trace.log,
// emptied now and then so that long runs do not fill the disk.
inline TraceLog* FuzzLog() {
    static const char* path = std::getenv("KV_FUZZ_TRACE") ? std::getenv("KV_FUZZ_TRACE") : "/tmp/kv-fuzz-trace.log";
    static const std::wstring wide(path, path + std::strlen(path));
    static TraceLog* log = LibraryLog = TraceLogCreate(wide.c_str(), 0);
    static unsigned runs;
    if (++runs % 4096 == 0) std::fclose(std::fopen(path, "w"));
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
