// Cost of one trace line: 10,000 lines of the kinds a refresh run writes
// (a time-stamped line with a name, a table row, a line one step deeper)
// through one logger into a scratch file. Run by hand; prints microseconds per
// line, the median of five rounds and the fastest; then the time of 3,000
// lines while another writer keeps the file's turn fresh for ever, against
// the same lines with the turn free.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "log/trace_log.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLines = 10000;

double MicrosecondsPerLine(TraceLog* log) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kLines; i += 4) {
        TraceLogWrite(log, 0, L"vlibPRINT_QueryDevCap_Papers => paper %d: %s\n", i, L"Letter 8.5 x 11 in");
        TraceLogWriteRaw(log, 0, L"    %5d  %-24s %6d x %6d\n", i, L"A4", 2100, 2970);
        TraceLogEnter(log, 0, L"CPrinter::QueryCapabilities");
        TraceLogWrite(log, 0, L"CPrinter::QueryCapabilities => DeviceCapabilities(%d) returned %d\n", 16, i);
        TraceLogExit(log, 1);  // filtered: costs the depth change only
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kLines;
}

// Seconds for 3,000 lines, with the turn held by a writer that never gives it
// back when `held`.
double SecondsForLines(const std::wstring& path, bool held) {
    TraceLog* log = TraceLogCreate(path.c_str(), 0);
    if (!log || !log->turn) return -1;
    std::atomic<bool> hold = held;
    std::thread holder([&] {
        while (hold) *log->turn = static_cast<LONG>(::GetTickCount() | 1), ::Sleep(5);
    });
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 3000; ++i) TraceLogWrite(log, 0, L"line %d\n", i);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    hold = false;
    holder.join();
    TraceLogDestroy(log);
    ::DeleteFileW(path.c_str());
    return seconds;
}

}  // namespace

int main() {
    testsupport::TempDir dir;
    const std::wstring path = dir.File(L"bench.log");
    TraceLog* log = TraceLogCreate(path.c_str(), 0);
    if (!log) {
        std::printf("cannot create the log file\n");
        return 1;
    }
    std::vector<double> rounds;
    for (int round = 0; round < 5; ++round) {
        rounds.push_back(MicrosecondsPerLine(log));
        ::DeleteFileW(path.c_str());  // every round starts from an empty file
    }
    TraceLogDestroy(log);
    std::sort(rounds.begin(), rounds.end());
    std::printf("trace log: %d lines per round, %.1f us per line (median of 5), fastest %.1f us\n", kLines, rounds[2],
                rounds[0]);
    const double free = SecondsForLines(path, false), held = SecondsForLines(path, true);
    std::printf("trace log: 3000 lines in %.2f s with the turn free, %.2f s with it held for ever\n", free, held);
    return 0;
}
