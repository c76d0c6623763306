// Shared by the capability query tests: the trace capture, a block freed at
// scope end, and the text of a name slot.
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "platform/kernel.h"
#include "trace_capture.h"

namespace devcaps_test {

using Trace = testsupport::TraceCapture;

struct HeapFree {
    void operator()(void* p) const { platform::HeapFreeBlock(p); }
};
template <class T>
using Block = std::unique_ptr<T, HeapFree>;

inline bool Has(const Trace& trace, const std::string& line) {
    const auto lines = trace.Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline std::wstring SlotText(const WCHAR* slot, size_t chars) {
    return slot ? std::wstring(slot, std::find(slot, slot + chars, L'\0')) : std::wstring();
}

}  // namespace devcaps_test
