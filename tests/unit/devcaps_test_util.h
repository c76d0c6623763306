// Shared by the tests against the fake print system (the capability queries
// first): the trace capture, a block freed at scope end, a printer to ask,
// searches of the trace and of the fake print system's calls.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fake/fake_print_system.h"
#include "platform/kernel.h"
#include "trace_capture.h"

namespace devcaps_test {

using Trace = testsupport::TraceCapture;

struct HeapFree { void operator()(void* p) const { platform::HeapFreeBlock(p); } };
template <class T>
using Block = std::unique_ptr<T, HeapFree>;

// Printer "P" (Letter and A4 at 300 and 600 dpi) of a fake print system, and the trace.
struct PrinterP {
    fake::FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    Trace trace;
};
class OnePrinter : public ::testing::Test, protected PrinterP {};

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

// The calls of one operation, in the order made, and their `arg` values.
inline std::vector<fake::Call> CallsOf(const fake::FakePrintSystem& fake, fake::Op op) {
    std::vector<fake::Call> picked;
    std::copy_if(fake.calls().begin(), fake.calls().end(), std::back_inserter(picked),
                 [op](const fake::Call& call) { return call.op == op; });
    return picked;
}
inline std::vector<int> ArgsOf(const fake::FakePrintSystem& fake, fake::Op op) {
    std::vector<int> args;
    for (const fake::Call& call : CallsOf(fake, op)) args.push_back(call.arg);
    return args;
}

}  // namespace devcaps_test
