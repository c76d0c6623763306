// Local print options: the four construction-time options (per machine, the
// per-user place only without the per-machine Printers key) and the two
// query-time options (per user whenever the machine did not give the value).
#include <gtest/gtest.h>

#include <tuple>

#include "printer_fixture.h"

namespace {

using namespace printer_test;
using testsupport::PrinterKeyPath;

// A network name: every option is looked up under its registry-safe form.
const std::wstring kLaser = L"\\\\srv\\Laser 5", kKey = PrinterKeyPath(L",,srv,Laser 5");
constexpr DWORD kEightBytes = 0xEEEEEEEE;  // the value 5, written as eight bytes: unreadable as a number

TEST(Options, PerMachineValuesWinThePerUserPlaceCountsWithoutThePerMachineKeyOrAtQueryTime) {
    const HKEY M = HKEY_LOCAL_MACHINE, U = HKEY_CURRENT_USER;
    const std::string q = "CPrinter::Query => ";
    // hidden: 1 the per-machine Printers key, 2 both; options: bSecondDialog, bPrintAsImage,
    // dwPrintAsImageDPI, dwFontEmbed, then the query-time AnsiOnly and IgnoreLogPixels, and how often those two were read.
    const struct { const char* what; std::vector<std::tuple<HKEY, const WCHAR*, DWORD>> values; int hidden;
                   std::vector<DWORD> options; int queryTimeReads; Lines lines; } cases[] = {
        {"per-user values count only at query time",
         {{U, L"bPrintAsImage", 1}, {U, L"bSecondDialog", 1}, {U, L"AnsiOnly", 1}, {U, L"IgnoreLogPixels", 3}}, 0,
         {0, 0, 0, 0, 1, 3}, 2, {q + "couldn't open printer key", q + "ansionly: 1", q + "couldn't open printer key", q + "IgnoreLogPixels: 3"}},
        {"per-machine values win, a zero too",
         {{M, L"bSecondDialog", 0xFFFFFFFF}, {M, L"dwPrintAsImageDPI", 600}, {M, L"dwFontEmbed", kEightBytes}, {M, L"AnsiOnly", 2},
          {M, L"IgnoreLogPixels", 0}, {U, L"bPrintAsImage", 9}, {U, L"dwFontEmbed", 9}, {U, L"AnsiOnly", 9}, {U, L"IgnoreLogPixels", 9}}, 0,
         {0xFFFFFFFF, 0, 600, 0, 2, 0}, 2,
         {q + "bSecondDialog: 4294967295", q + "couldn't get value bPrintAsImage", q + "dwPrintAsImageDPI: 600", q + "couldn't get value dwFontEmbed"}},
        {"no per-machine key: the per-user place with its own texts",
         {{U, L"bSecondDialog", 0xFFFFFFFF}, {U, L"dwFontEmbed", 2}, {U, L"IgnoreLogPixels", 3}}, 1, {0xFFFFFFFF, 0, 0, 2, 0, 3}, 2,
         {q + "couldn't open HKLM/kvprinters key", q + "bSecondDialog: -1", q + "couldn't get value bPrintAsImage", q + "dwFontEmbed: 2"}},
        {"neither key", {{U, L"bSecondDialog", 1}}, 2, {0, 0, 0, 0, 0, 0}, 0, {q + "couldn't open HKCU/kvprinters key"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Env env;
        env.fake.AddPrinter(kLaser);
        env.SetCacheMethod(2);  // also makes the per-machine Printers key exist
        const ULONGLONG wide = 5;
        for (const auto& [hive, name, value] : c.values)
            if (value == kEightBytes) env.registry.SetBinary(hive, kKey, name, &wide, sizeof(wide));
            else env.registry.SetDword(hive, kKey, name, value);
        if (c.hidden) env.registry.Hide(M, kPrintersKey);
        if (c.hidden > 1) env.registry.Hide(U, kPrintersKey);
        CPrinter printer(env.trace.log(), kLaser, 1, 0);
        env.registry.ClearQueried();
        printer.Query(1, nullptr, nullptr);
        EXPECT_EQ((std::vector<DWORD>{printer.bSecondDialog, printer.bPrintAsImage, printer.dwPrintAsImageDPI, printer.dwFontEmbed,
                                      printer.queryBuffers.dwAnsiOnly, printer.dwIgnoreLogPixels}), c.options);
        EXPECT_EQ(env.registry.QueryCount(L"AnsiOnly") + env.registry.QueryCount(L"IgnoreLogPixels"), c.queryTimeReads);
        EXPECT_TRUE(InOrder(env.trace.Lines(), c.lines));
    }
}

}  // namespace
