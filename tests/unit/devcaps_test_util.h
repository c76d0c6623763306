// Shared by the capability query tests: a library trace log on a scratch
// file, and small readers for the blocks the queries return.
#pragma once

#include <string>
#include <vector>

#include "log/trace_log.h"
#include "platform/kernel.h"
#include "support/temp_dir.h"

namespace devcaps_test {

// Points LibraryLog at a fresh log file for the scope.
class LibraryTrace {
public:
    LibraryTrace() : path_(dir_.File(L"trace.log")) {
        log_ = TraceLogCreate(path_.c_str(), 0);
        saved_ = LibraryLog;
        LibraryLog = log_;
    }
    ~LibraryTrace() {
        LibraryLog = saved_;
        TraceLogDestroy(log_);
    }
    LibraryTrace(const LibraryTrace&) = delete;
    LibraryTrace& operator=(const LibraryTrace&) = delete;

    // The lines written so far, time stamps removed.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines = testsupport::ReadLogLines(path_);
        return lines;
    }
    // The whole text, time stamps removed, lines joined with "\n".
    std::string Text() const {
        std::string text;
        for (const auto& line : Lines()) text += line + "\n";
        return text;
    }
    bool Has(const std::string& line) const {
        for (const auto& l : Lines())
            if (l == line) return true;
        return false;
    }
    int CountOf(const std::string& line) const {
        int n = 0;
        for (const auto& l : Lines()) n += l == line;
        return n;
    }

private:
    testsupport::TempDir dir_;
    std::wstring path_;
    TraceLog* log_ = nullptr;
    TraceLog* saved_ = nullptr;
};

// Frees a query's block when the test ends.
template <class T>
struct HeapBlock {
    T* p = nullptr;
    explicit HeapBlock(T* block) : p(block) {}
    ~HeapBlock() { platform::HeapFreeBlock(p); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    T* operator->() const { return p; }
    T* get() const { return p; }
    const BYTE* bytes() const { return reinterpret_cast<const BYTE*>(p); }
};

inline std::wstring SlotText(const WCHAR* slot, size_t chars) {
    std::wstring text;
    for (size_t i = 0; slot && i < chars && slot[i]; ++i) text += slot[i];
    return text;
}

}  // namespace devcaps_test
