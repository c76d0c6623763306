// Printer enumeration against the fake spooler: which printers each selection
// keeps and as what kind on both system paths, cut names and the failure lines.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"
#include "print/printer_enum.h"
#include "support/heap_counter.h"

namespace {

using fake::FakePrintSystem;
using fake::Op;
using Listed = std::vector<std::pair<std::wstring, DWORD>>;
constexpr DWORD kNT = VER_PLATFORM_WIN32_NT, k9x = VER_PLATFORM_WIN32_WINDOWS;

// Every combination of LOCAL and NETWORK, among this machine's printers (L-)
// and among the connections (C-), interleaved so that the spooler's order shows.
// The local one has a name of 300 characters, listed cut to 259.
const std::wstring kLongLocal = L"L-local" + std::wstring(293, L'x'), kCutLocal = kLongLocal.substr(0, 259);
void AddEveryCombination(FakePrintSystem& fake) {
    const DWORD L = PRINTER_ATTRIBUTE_LOCAL, N = PRINTER_ATTRIBUTE_NETWORK;
    const struct { const wchar_t* name; DWORD attributes; bool connection; } setups[] = {
        {L"L-none", 0, false}, {L"C-local", L, true}, {L"L-network", N, false}, {L"C-both", L | N, true},
        {kLongLocal.c_str(), L, false}, {L"C-none", 0, true}, {L"L-both", L | N, false}, {L"C-network", N, true}};
    for (const auto& s : setups) {
        fake::FakePrinter& p = fake.AddPrinter(s.name);
        p.attributes = s.attributes | PRINTER_ATTRIBUTE_QUEUED;  // unrelated bits do not matter
        p.connection = s.connection;
    }
}

// The selections; then no printers, or a failing second EnumPrintersW, which
// end in an empty list with the reason before the failure line.
TEST(PrinterEnumeration, SelectionsAndFailuresOnBothSystemPaths) {
    const std::string head = "vlibPRINT_EnumeratePrinters =>";
    const std::string noPrinters = " no printers, failing out", fetchFails = " enumeration failed";
    const struct { DWORD platformId, selection; int spoolerFlags; Listed expected; std::string failure = {}; } cases[] = {
        {kNT, 1, PRINTER_ENUM_LOCAL, {{kCutLocal, 1}}},
        {kNT, 2, PRINTER_ENUM_CONNECTIONS, {{L"C-both", 2}, {L"C-network", 2}}},
        {kNT, 3, PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS,
         {{L"C-local", 1}, {L"L-network", 2}, {L"C-both", 2}, {kCutLocal, 1}, {L"L-both", 2}, {L"C-network", 2}}},
        {kNT, 0, 0, {}},  // asked with no flags, every printer listed is skipped, still a success
        // The 9x path asks for local printers whatever the selection; the
        // selection only sorts what comes back. Any id but NT's takes it.
        {k9x, 2, PRINTER_ENUM_LOCAL, {{L"L-network", 2}, {L"L-both", 2}}},
        {VER_PLATFORM_WIN32s, 3, PRINTER_ENUM_LOCAL, {{L"L-network", 2}, {kCutLocal, 1}, {L"L-both", 2}}},
        {kNT, 3, PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, {}, noPrinters},
        {kNT, 3, PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, {}, fetchFails},
        {k9x, 3, PRINTER_ENUM_LOCAL, {}, noPrinters},
        {k9x, 3, PRINTER_ENUM_LOCAL, {}, fetchFails},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("platform " + std::to_string(c.platformId) + ", selection " + std::to_string(c.selection) + c.failure);
        FakePrintSystem fake;
        fake.SetVersion(c.platformId, 4, 10, 2222, L"");
        if (c.failure != noPrinters) AddEveryCombination(fake);
        if (c.failure == fetchFails) fake.FailOn(Op::EnumPrinters, 2, ERROR_ACCESS_DENIED);
        testsupport::TraceCapture trace;

        testsupport::HeapCounter heap;  // the spooler's records go back once listed
        Listed listed;
        for (const auto& record : vlibPRINT_EnumeratePrinters(c.selection))
            listed.emplace_back(record->szPrinterName, record->dwType);
        EXPECT_EQ(listed, c.expected);
        EXPECT_EQ(heap.Live(), 0);
        EXPECT_EQ(devcaps_test::ArgsOf(fake, Op::EnumPrinters), (std::vector<int>{c.spoolerFlags, c.spoolerFlags}));
        const auto lines = trace.Lines();
        EXPECT_EQ(lines.back(), head + (c.failure.empty() ? " returning success" : " returning failure"));
        if (!c.failure.empty()) EXPECT_EQ(lines.at(lines.size() - 2), head + c.failure);
        // A local printer has no server name: the null field as the runtime prints it; 9x has no such field.
        const std::string line = head + " printer: L-none; " + (c.platformId == kNT ? "server: (null); " : "") +
                                 "attributes: 1; driver: Fake Laser Driver";
        if (c.failure.empty() && (c.spoolerFlags & PRINTER_ENUM_LOCAL)) EXPECT_TRUE(devcaps_test::Has(trace, {line}));
    }
}

}  // namespace
