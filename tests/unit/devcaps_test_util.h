// Shared by the capability query tests: the trace capture, a block freed at
// scope end, and searches of the trace.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "trace_capture.h"

namespace devcaps_test {

using Trace = testsupport::TraceCapture;

struct HeapFree { void operator()(void* p) const { platform::HeapFreeBlock(p); } };
template <class T>
using Block = std::unique_ptr<T, HeapFree>;

// Whether the lines appear one right after the other in the trace.
inline bool Has(const Trace& trace, const std::vector<std::string>& run) {
    const auto lines = trace.Lines();
    return std::search(lines.begin(), lines.end(), run.begin(), run.end()) != lines.end();
}

// How many lines hold the text (a time stamp may sit in the middle of a row).
inline long Containing(const Trace& trace, const std::string& text) {
    const auto lines = trace.Lines();
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != l.npos; });
}

}  // namespace devcaps_test
