// The entry shared by the inspection tools.
#pragma once

#include <cstdio>
#include <new>

// Runs the tool's work; running out of memory ends the tool with a line of
// its own and the given exit code instead of an abort.
inline int RunTool(const char* name, int (*run)(), int outOfMemory) {
    try {
        return run();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", name);
        return outOfMemory;
    }
}
