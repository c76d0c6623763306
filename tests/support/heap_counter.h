// Counts the process-heap blocks the library gives out and back while it
// lives (it installs a heap table of its own). Only one may live at a time
// (not copyable).
#pragma once

#include "platform/kernel.h"

namespace testsupport {

class HeapCounter {
public:
    HeapCounter();

    // Blocks allocated and not yet freed since construction (negative when
    // blocks from before were freed).
    long Live() const;

private:
    platform::ScopedApi<platform::HeapApi> api_;
};

}  // namespace testsupport
