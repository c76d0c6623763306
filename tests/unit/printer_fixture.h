// Shared by the printer object tests (options, cache store, query, refresh
// run): a fake print system, a steered registry of the test's own and a trace
// log that both the library and the client write to.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/fake_print_system.h"
#include "log/trace_log.h"
#include "platform/kernel.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"
#include "support/registry_steering.h"
#include "support/temp_dir.h"

namespace printer_test {

using Lines = std::vector<std::string>;

// LibraryLog and ClientLog point at one scratch log for the scope.
class SharedTrace {
public:
    SharedTrace() : path_(dir_.File(L"trace.log")), log_(TraceLogCreate(path_.c_str(), 0)) {
        LibraryLog = log_;
        ClientLog = log_;
    }
    ~SharedTrace() {
        LibraryLog = nullptr;
        ClientLog = nullptr;
        TraceLogDestroy(log_);
    }
    SharedTrace(const SharedTrace&) = delete;
    SharedTrace& operator=(const SharedTrace&) = delete;

    TraceLog* log() const { return log_; }
    Lines All() const { return testsupport::ReadLogLines(path_); }
    // The lines written since the last Mark().
    Lines Since() const {
        Lines all = All();
        return Lines(all.begin() + static_cast<long>(std::min(mark_, all.size())), all.end());
    }
    void Mark() { mark_ = All().size(); }

private:
    testsupport::TempDir dir_;
    std::wstring path_;
    TraceLog* log_;
    size_t mark_ = 0;
};

inline bool Has(const Lines& lines, const std::string& line) {
    for (const auto& l : lines)
        if (l == line) return true;
    return false;
}

inline int CountOf(const Lines& lines, const std::string& line) {
    int n = 0;
    for (const auto& l : lines) n += l == line;
    return n;
}

// Index of the first line equal to `line` at or after `from`, or -1.
inline int Find(const Lines& lines, const std::string& line, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i] == line) return static_cast<int>(i);
    return -1;
}

// True when the lines appear in this order (not necessarily adjacent).
inline bool InOrder(const Lines& lines, const Lines& wanted) {
    size_t at = 0;
    for (const auto& w : wanted) {
        const int found = Find(lines, w, at);
        if (found < 0) return false;
        at = static_cast<size_t>(found) + 1;
    }
    return true;
}

inline std::string RecordBytes(const caps4* record) {
    return record ? std::string(reinterpret_cast<const char*>(record), record->dwSize) : std::string();
}

// The record the printer object would store now.
inline std::string Serialized(CPrinter& printer) {
    caps4* record = printer.SerializeCaps4();
    std::string bytes = RecordBytes(record);
    platform::HeapFreeBlock(record);
    return bytes;
}

// Everything a printer-object test needs, in construction order: the fake
// print system and the steered registry outlive every printer object.
struct Env {
    testsupport::RegistrySteering registry;
    fake::FakePrintSystem fake;
    SharedTrace trace;
    testsupport::TempDir dir;

    void SetCacheMethod(DWORD method, HKEY hive = HKEY_LOCAL_MACHINE) {
        registry.SetDword(hive, kPrintersKey, L"CacheMethod", method);
    }
    // CachePath as given (a folder meant as such ends in a backslash).
    void SetCachePath(const std::wstring& path) { registry.SetString(HKEY_LOCAL_MACHINE, kProductKey, L"CachePath", path); }
    std::string RegistryRecord(HKEY hive, const std::wstring& safeName) {
        std::string bytes;
        if (!registry.Read(hive, testsupport::PrinterKeyPath(safeName), L"PrinterData", &bytes)) return std::string();
        return bytes;
    }
};

}  // namespace printer_test
