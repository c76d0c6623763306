// A trace log on a scratch file for one test (LibraryLog and ClientLog point
// at it while the object lives and are null again afterwards), and the
// searches of its lines.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "support/temp_dir.h"

namespace testsupport {

// Fills a name slot of a record or DEVMODE with an 8-bit text (bytes above
// 0x7F as the code points of the same number), zero-padded.
template <class Ch, size_t N>
void SetName(Ch (&slot)[N], const char* text) {
    std::fill_n(slot, N, Ch());
    for (size_t i = 0; text[i]; ++i) slot[i] = static_cast<Ch>(static_cast<unsigned char>(text[i]));
}

class TraceCapture {
public:
    TraceCapture() : path_(dir_.File(L"trace.log")), log_(TraceLogCreate(path_.c_str(), 0)) { LibraryLog = ClientLog = log_; }
    ~TraceCapture() {
        LibraryLog = ClientLog = nullptr;
        TraceLogDestroy(log_);
    }

    TraceLog* log() const { return log_; }
    // Every line written so far, time stamps removed.
    std::vector<std::string> Lines() const { return LinesStartingWith(""); }
    std::vector<std::string> LinesStartingWith(const std::string& prefix) const {
        std::vector<std::string> picked;
        for (const std::string& line : ReadLogLines(path_))
            if (line.compare(0, prefix.size(), prefix) == 0) picked.push_back(line);
        return picked;
    }
    // The lines written since the last Mark().
    std::vector<std::string> Since() const {
        const std::vector<std::string> all = Lines();
        return std::vector<std::string>(all.begin() + static_cast<long>(std::min(mark_, all.size())), all.end());
    }
    void Mark() { mark_ = Lines().size(); }

private:
    TempDir dir_;
    std::wstring path_;
    TraceLog* log_;
    size_t mark_ = 0;
};

// Searches of trace lines.
using Lines = std::vector<std::string>;
inline int CountOf(const Lines& lines, const std::string& line) { return static_cast<int>(std::count(lines.begin(), lines.end(), line)); }
inline bool Has(const Lines& lines, const std::string& line) { return CountOf(lines, line) > 0; }
// True when the lines appear in this order (not necessarily adjacent).
inline bool InOrder(const Lines& lines, const Lines& wanted) {
    auto at = lines.begin();
    for (const auto& w : wanted) {
        at = std::find(at, lines.end(), w);
        if (at == lines.end()) return false;
        ++at;
    }
    return true;
}
// Whether the lines appear one right after the other in the trace.
inline bool Has(const TraceCapture& trace, const Lines& run) {
    const Lines lines = trace.Lines();
    return std::search(lines.begin(), lines.end(), run.begin(), run.end()) != lines.end();
}
// How many lines hold the text (a time stamp may sit in the middle of a row).
inline long Containing(const TraceCapture& trace, const std::string& text) {
    const Lines lines = trace.Lines();
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != l.npos; });
}

// An address the way the dumps print it ("%X", low 32 bits).
inline std::string HexAddress(const void* p) {
    char text[32];
    std::snprintf(text, sizeof(text), "%X", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p)));
    return text;
}

}  // namespace testsupport
