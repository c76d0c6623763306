// Counts the process-heap blocks the library gives out and back while it
// lives (it installs a heap table of its own). Given a number, it refuses the
// block asked for after that many others, as a heap that has run out for it.
// Only one may live at a time (not copyable).
#pragma once

#include <climits>

#include "platform/kernel.h"

namespace testsupport {

class HeapCounter {
public:
    explicit HeapCounter(long refused = LONG_MAX);

    // Blocks allocated and not yet freed since construction (negative when
    // blocks from before were freed).
    long Live() const;

private:
    platform::ScopedApi<platform::HeapApi> api_;
};

}  // namespace testsupport
