// Shared by the printer object tests (options, cache store, query, refresh
// run): a fake print system, a steered registry of the test's own and a trace
// log that both the library and the client write to.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fake/fake_print_system.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"
#include "support/info_records.h"
#include "support/registry_steering.h"
#include "support/temp_dir.h"
#include "trace_capture.h"

namespace printer_test {

using testsupport::CountOf;
using testsupport::Has;
using testsupport::InOrder;
using testsupport::Lines;

// The record the printer object would store now.
inline std::string Serialized(CPrinter& printer) { return testsupport::Take(printer.SerializeCaps4()); }

// Everything a printer-object test needs, in construction order: the fake
// print system and the steered registry outlive every printer object.
struct Env {
    testsupport::RegistrySteering registry;
    fake::FakePrintSystem fake;
    testsupport::TraceCapture trace;  // of the library and the client
    testsupport::TempDir dir;

    void SetCacheMethod(DWORD method, HKEY hive = HKEY_LOCAL_MACHINE) { registry.SetDword(hive, kPrintersKey, L"CacheMethod", method); }
    // CachePath as given (a folder meant as such ends in a backslash).
    void SetCachePath(const std::wstring& path) { registry.SetString(HKEY_LOCAL_MACHINE, kProductKey, L"CachePath", path); }
    // A new printer object after a forced query.
    std::unique_ptr<CPrinter> Queried(const std::wstring& name, DWORD defaultCacheMethod = 1) {
        auto printer = std::make_unique<CPrinter>(trace.log(), name, defaultCacheMethod, 0);
        printer->Query(1, nullptr, nullptr);
        return printer;
    }
    std::string RegistryRecord(HKEY hive, const std::wstring& safeName) {
        std::string bytes;
        return registry.Read(hive, testsupport::PrinterKeyPath(safeName), L"PrinterData", &bytes) ? bytes : std::string();
    }
};

}  // namespace printer_test
