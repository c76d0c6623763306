// Printer enumeration against the fake spooler: which printers each selection
// keeps and as what kind on both system paths, cut names and the failure lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"
#include "print/printer_enum.h"

namespace {

using fake::FakePrintSystem;
using fake::Op;
using Lines = std::vector<std::string>;
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

TEST(PrinterEnumeration, SelectionsOnBothSystemPaths) {
    const std::string head = "vlibPRINT_EnumeratePrinters =>";
    const struct { DWORD platformId, selection; int spoolerFlags; Listed expected; } cases[] = {
        {kNT, 1, PRINTER_ENUM_LOCAL, {{kCutLocal, 1}}},
        {kNT, 2, PRINTER_ENUM_CONNECTIONS, {{L"C-both", 2}, {L"C-network", 2}}},
        {kNT, 3, PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS,
         {{L"C-local", 1}, {L"L-network", 2}, {L"C-both", 2}, {kCutLocal, 1}, {L"L-both", 2}, {L"C-network", 2}}},
        {kNT, 0, 0, {}},  // asked with no flags, every printer listed is skipped, still a success
        // The 9x path asks for local printers whatever the selection; the
        // selection only sorts what comes back. Any id but NT's takes it.
        {k9x, 2, PRINTER_ENUM_LOCAL, {{L"L-network", 2}, {L"L-both", 2}}},
        {VER_PLATFORM_WIN32s, 3, PRINTER_ENUM_LOCAL, {{L"L-network", 2}, {kCutLocal, 1}, {L"L-both", 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("platform " + std::to_string(c.platformId) + ", selection " + std::to_string(c.selection));
        FakePrintSystem fake;
        fake.SetVersion(c.platformId, 4, 10, 2222, L"");
        AddEveryCombination(fake);
        testsupport::TraceCapture trace;

        Listed listed;
        for (const auto& record : vlibPRINT_EnumeratePrinters(c.selection))
            listed.emplace_back(record->szPrinterName, record->dwType);
        EXPECT_EQ(listed, c.expected);
        EXPECT_EQ(devcaps_test::ArgsOf(fake, Op::EnumPrinters), (std::vector<int>{c.spoolerFlags, c.spoolerFlags}));
        const Lines lines = trace.Lines();
        EXPECT_EQ(lines.back(), head + " returning success");
        // A local printer has no server name: the null field as the runtime prints it; 9x has no such field.
        const std::string line = head + " printer: L-none; " + (c.platformId == kNT ? "server: (null); " : "") +
                                 "attributes: 1; driver: Fake Laser Driver";
        if (c.spoolerFlags & PRINTER_ENUM_LOCAL) EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end());
    }
}

// No printers, or a failing second EnumPrintersW, on both system paths.
TEST(PrinterEnumeration, FailuresEndInAnEmptyList) {
    const std::string head = "vlibPRINT_EnumeratePrinters =>";
    for (DWORD platformId : {kNT, k9x})
        for (bool noPrinters : {true, false}) {
            SCOPED_TRACE(std::to_string(platformId) + (noPrinters ? " no printers" : " failing fetch"));
            FakePrintSystem fake;
            fake.SetVersion(platformId, 5, 0, 2195, L"");
            if (!noPrinters) fake.AddPrinter(L"Office Laser"), fake.FailOn(Op::EnumPrinters, 2, ERROR_ACCESS_DENIED);
            testsupport::TraceCapture trace;
            EXPECT_TRUE(vlibPRINT_EnumeratePrinters(3).empty());
            const Lines lines = trace.Lines();
            EXPECT_EQ(Lines(lines.end() - std::min<size_t>(2, lines.size()), lines.end()),
                      (Lines{head + (noPrinters ? " no printers, failing out" : " enumeration failed"),
                             head + " returning failure"}));
        }
}

}  // namespace
