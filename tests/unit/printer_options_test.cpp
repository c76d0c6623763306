// Local print options: the four construction-time options (per machine, the
// per-user place only without the per-machine Printers key) and the two
// query-time options (per user whenever the machine did not give the value).
#include <gtest/gtest.h>

#include "printer_fixture.h"

namespace {

using namespace printer_test;
using testsupport::PrinterKeyPath;

class Options : public ::testing::Test {
protected:
    Env env;
    // A network name: every option is looked up under its registry-safe form.
    const std::wstring laser = L"\\\\srv\\Laser 5", key = PrinterKeyPath(L",,srv,Laser 5");
    void SetUp() override {
        env.fake.AddPrinter(laser);
        env.SetCacheMethod(2);  // also makes the per-machine Printers key exist
    }
};

TEST_F(Options, PerUserValuesAreIgnoredAtConstructionButUsedByTheQueryTimeLookup) {
    for (const WCHAR* name : {L"bPrintAsImage", L"bSecondDialog", L"AnsiOnly"})
        env.registry.SetDword(HKEY_CURRENT_USER, key, name, 1);
    env.registry.SetDword(HKEY_CURRENT_USER, key, L"IgnoreLogPixels", 3);
    CPrinter printer(env.trace.log(), laser, 1, 0);
    EXPECT_EQ(printer.bPrintAsImage + printer.bSecondDialog, 0u);
    env.trace.Mark();
    printer.Query(1, nullptr, nullptr);
    EXPECT_EQ(printer.queryBuffers.dwAnsiOnly, 1u);
    EXPECT_EQ(printer.dwIgnoreLogPixels, 3u);
    const std::string open = "CPrinter::Query => opened our printers key";
    const std::string none = "CPrinter::Query => couldn't open printer key";
    EXPECT_TRUE(InOrder(env.trace.Since(), {open, none, open, "CPrinter::Query => ansionly: 1", open, none, open,
                                            "CPrinter::Query => IgnoreLogPixels: 3"}));
}

TEST_F(Options, PerMachineValuesWinAndAnEightByteValueIsUnreadable) {
    env.registry.SetDword(HKEY_LOCAL_MACHINE, key, L"bSecondDialog", 0xFFFFFFFF);
    env.registry.SetDword(HKEY_LOCAL_MACHINE, key, L"dwPrintAsImageDPI", 600);
    const ULONGLONG wide = 5;
    env.registry.SetBinary(HKEY_LOCAL_MACHINE, key, L"dwFontEmbed", &wide, sizeof(wide));
    env.registry.SetDword(HKEY_LOCAL_MACHINE, key, L"AnsiOnly", 2);
    env.registry.SetDword(HKEY_LOCAL_MACHINE, key, L"IgnoreLogPixels", 0);  // a zero read is a value read
    for (const WCHAR* name : {L"bPrintAsImage", L"dwFontEmbed", L"AnsiOnly", L"IgnoreLogPixels"})
        env.registry.SetDword(HKEY_CURRENT_USER, key, name, 9);

    CPrinter printer(env.trace.log(), laser, 1, 0);
    EXPECT_EQ((std::vector<DWORD>{printer.bSecondDialog, printer.bPrintAsImage, printer.dwPrintAsImageDPI,
                                  printer.dwFontEmbed}), (std::vector<DWORD>{0xFFFFFFFF, 0, 600, 0}));
    EXPECT_TRUE(InOrder(env.trace.Lines(), {"CPrinter::GetLocalOptions => opened our printers key",
                                          "CPrinter::Query => bSecondDialog: 4294967295",
                                          "CPrinter::Query => couldn't get value bPrintAsImage",
                                          "CPrinter::Query => dwPrintAsImageDPI: 600",
                                          "CPrinter::Query => couldn't get value dwFontEmbed"}));
    printer.Query(1, nullptr, nullptr);
    EXPECT_EQ(printer.queryBuffers.dwAnsiOnly, 2u);
    EXPECT_EQ(printer.dwIgnoreLogPixels, 0u);
    EXPECT_EQ(env.registry.QueryCount(L"AnsiOnly") + env.registry.QueryCount(L"IgnoreLogPixels"), 2);
}

TEST_F(Options, WithoutThePerMachineKeyThePerUserPlaceIsReadWithItsOwnTexts) {
    env.registry.Hide(HKEY_LOCAL_MACHINE, kPrintersKey);
    env.registry.SetDword(HKEY_CURRENT_USER, key, L"bSecondDialog", 0xFFFFFFFF);
    env.registry.SetDword(HKEY_CURRENT_USER, key, L"dwFontEmbed", 2);
    env.registry.SetDword(HKEY_CURRENT_USER, key, L"IgnoreLogPixels", 3);
    CPrinter printer(env.trace.log(), laser, 1, 0);
    printer.Query(1, nullptr, nullptr);  // a query-time option, per user too
    EXPECT_TRUE(printer.dwFontEmbed == 2 && printer.dwIgnoreLogPixels == 3) << printer.dwIgnoreLogPixels;
    EXPECT_TRUE(InOrder(env.trace.Lines(), {"CPrinter::Query => couldn't open HKLM/kvprinters key",
                                          "CPrinter::Query => opened our printers key",
                                          "CPrinter::Query => bSecondDialog: -1",
                                          "CPrinter::Query => couldn't get value bPrintAsImage",
                                          "CPrinter::Query => dwFontEmbed: 2"}));

    env.registry.Hide(HKEY_CURRENT_USER, kPrintersKey);
    CPrinter neither(env.trace.log(), laser, 1, 0);
    EXPECT_EQ(neither.bSecondDialog + neither.dwFontEmbed, 0u);
    EXPECT_EQ(env.trace.Lines().back(), "CPrinter::Query => couldn't open HKCU/kvprinters key");
}

}  // namespace
