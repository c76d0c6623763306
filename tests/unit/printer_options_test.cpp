// Local print options: where the four construction-time options and the two
// query-time options are found, what an absent or oversized value gives, and
// the different per-user fallback rules of the two lookups.
#include <gtest/gtest.h>

#include "printer_fixture.h"

namespace {

using namespace printer_test;
using testsupport::PrinterKeyPath;

class Options : public ::testing::Test {
protected:
    Env env;
    void SetUp() override {
        env.fake.AddPrinter(L"Office");
        // No caching in these tests: the cache store does not touch the keys.
        env.SetCacheMethod(2);
    }
};

TEST_F(Options, PerUserValuesAreIgnoredAtConstructionButUsedByTheQueryTimeLookup) {
    // The per-machine Printers key exists (it holds CacheMethod) but has no
    // subkey for the printer; the per-user subkey has both kinds of value.
    env.registry.SetDword(HKEY_CURRENT_USER, PrinterKeyPath(L"Office"), L"bPrintAsImage", 1);
    env.registry.SetDword(HKEY_CURRENT_USER, PrinterKeyPath(L"Office"), L"bSecondDialog", 1);
    env.registry.SetDword(HKEY_CURRENT_USER, PrinterKeyPath(L"Office"), L"AnsiOnly", 1);
    env.registry.SetDword(HKEY_CURRENT_USER, PrinterKeyPath(L"Office"), L"IgnoreLogPixels", 3);

    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    EXPECT_EQ(printer.bPrintAsImage, 0u);
    EXPECT_EQ(printer.bSecondDialog, 0u);
    const Lines built = env.trace.All();
    EXPECT_TRUE(InOrder(built, {"CPrinter::GetLocalOptions => opened our printers key",
                                "CPrinter::Query => couldn't open printer key"}));
    EXPECT_FALSE(Has(built, "CPrinter::Query => couldn't open HKLM/kvprinters key"));

    env.trace.Mark();
    printer.Query(1, nullptr, nullptr);
    EXPECT_EQ(printer.queryBuffers.dwAnsiOnly, 1u);
    EXPECT_EQ(printer.dwIgnoreLogPixels, 3u);
    const Lines queried = env.trace.Since();
    // Each lookup: the machine subkey is missing, the user subkey gives it.
    EXPECT_TRUE(InOrder(queried, {"CPrinter::Query => opened our printers key",
                                  "CPrinter::Query => couldn't open printer key",
                                  "CPrinter::Query => opened our printers key", "CPrinter::Query => ansionly: 1",
                                  "CPrinter::Query => opened our printers key",
                                  "CPrinter::Query => couldn't open printer key",
                                  "CPrinter::Query => opened our printers key",
                                  "CPrinter::Query => IgnoreLogPixels: 3"}));
}

TEST_F(Options, PerMachineValueWinsAndAPerMachineZeroStillCounts) {
    env.registry.SetDword(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"AnsiOnly", 2);
    env.registry.SetDword(HKEY_CURRENT_USER, PrinterKeyPath(L"Office"), L"AnsiOnly", 1);
    // A zero read from the machine's place is a value read: no fallback.
    env.registry.SetDword(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"IgnoreLogPixels", 0);
    env.registry.SetDword(HKEY_CURRENT_USER, PrinterKeyPath(L"Office"), L"IgnoreLogPixels", 1);

    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    env.registry.ClearQueried();
    env.trace.Mark();
    printer.Query(1, nullptr, nullptr);
    EXPECT_EQ(printer.queryBuffers.dwAnsiOnly, 2u);
    EXPECT_EQ(printer.dwIgnoreLogPixels, 0u);
    EXPECT_EQ(env.registry.QueryCount(L"AnsiOnly"), 1);
    EXPECT_EQ(env.registry.QueryCount(L"IgnoreLogPixels"), 1);
    const Lines lines = env.trace.Since();
    EXPECT_TRUE(Has(lines, "CPrinter::Query => ansionly: 2"));
    EXPECT_TRUE(Has(lines, "CPrinter::Query => IgnoreLogPixels: 0"));
    EXPECT_EQ(CountOf(lines, "CPrinter::Query => couldn't get value"), 0);
}

TEST_F(Options, FourOptionsReadPerMachineAndAnEightByteValueIsUnreadable) {
    const std::wstring key = PrinterKeyPath(L"Office");
    env.registry.SetDword(HKEY_LOCAL_MACHINE, key, L"bSecondDialog", 1);
    env.registry.SetDword(HKEY_LOCAL_MACHINE, key, L"bPrintAsImage", 1);
    env.registry.SetDword(HKEY_LOCAL_MACHINE, key, L"dwPrintAsImageDPI", 600);
    const ULONGLONG wide = 5;
    env.registry.SetBinary(HKEY_LOCAL_MACHINE, key, L"dwFontEmbed", &wide, sizeof(wide));
    // The per-user place is not consulted once the machine's key opened.
    env.registry.SetDword(HKEY_CURRENT_USER, key, L"dwFontEmbed", 9);

    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    EXPECT_EQ(printer.bSecondDialog, 1u);
    EXPECT_EQ(printer.bPrintAsImage, 1u);
    EXPECT_EQ(printer.dwPrintAsImageDPI, 600u);
    EXPECT_EQ(printer.dwFontEmbed, 0u);
    EXPECT_TRUE(InOrder(env.trace.All(), {"CPrinter::GetLocalOptions => opened our printers key",
                                          "CPrinter::Query => bSecondDialog: 1", "CPrinter::Query => bPrintAsImage: 1",
                                          "CPrinter::Query => dwPrintAsImageDPI: 600",
                                          "CPrinter::Query => couldn't get value dwFontEmbed"}));
}

TEST_F(Options, MissingValuesGiveZeroWithTheirOwnFailureLines) {
    env.registry.SetDword(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"dwPrintAsImageDPI", 300);
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    EXPECT_EQ(printer.dwPrintAsImageDPI, 300u);
    EXPECT_TRUE(InOrder(env.trace.All(), {"CPrinter::Query => couldn't get value bSecondDialog",
                                          "CPrinter::Query => couldn't get value bPrintAsImage",
                                          "CPrinter::Query => dwPrintAsImageDPI: 300",
                                          "CPrinter::Query => couldn't get value dwFontEmbed"}));
}

TEST_F(Options, WithoutThePerMachineKeyThePerUserPlaceIsReadWithItsOwnTexts) {
    env.registry.Hide(HKEY_LOCAL_MACHINE, kPrintersKey);
    env.registry.SetDword(HKEY_CURRENT_USER, PrinterKeyPath(L"Office"), L"bSecondDialog", 4);
    env.registry.SetDword(HKEY_CURRENT_USER, PrinterKeyPath(L"Office"), L"dwFontEmbed", 2);

    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    EXPECT_EQ(printer.bSecondDialog, 4u);
    EXPECT_EQ(printer.dwFontEmbed, 2u);
    EXPECT_TRUE(InOrder(env.trace.All(), {"CPrinter::Query => couldn't open HKLM/kvprinters key",
                                          "CPrinter::Query => opened our printers key",
                                          "CPrinter::Query => bSecondDialog: 4",
                                          "CPrinter::Query => couldn't get value bPrintAsImage",
                                          "CPrinter::Query => dwFontEmbed: 2"}));

    env.trace.Mark();
    printer.Query(1, nullptr, nullptr);
    EXPECT_TRUE(InOrder(env.trace.Since(), {"CPrinter::Query => couldn't open kvprinters key",
                                            "CPrinter::Query => opened our printers key",
                                            "CPrinter::Query => couldn't get value"}));
}

TEST_F(Options, NeitherPrintersKeyLeavesEveryOptionZero) {
    env.registry.Hide(HKEY_LOCAL_MACHINE, kPrintersKey);
    env.registry.Hide(HKEY_CURRENT_USER, kPrintersKey);
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    EXPECT_EQ(printer.bSecondDialog + printer.bPrintAsImage + printer.dwPrintAsImageDPI + printer.dwFontEmbed, 0u);
    EXPECT_TRUE(InOrder(env.trace.All(), {"CPrinter::Query => couldn't open HKLM/kvprinters key",
                                          "CPrinter::Query => couldn't open HKCU/kvprinters key"}));
    env.trace.Mark();
    printer.Query(1, nullptr, nullptr);
    EXPECT_EQ(CountOf(env.trace.Since(), "CPrinter::Query => couldn't open kvprinters key"), 4);
    EXPECT_EQ(printer.queryBuffers.dwAnsiOnly, 0u);
}

TEST_F(Options, ANetworkNameIsLookedUpUnderItsRegistrySafeForm) {
    env.fake.AddPrinter(L"\\\\srv\\Laser 5");
    env.registry.SetDword(HKEY_LOCAL_MACHINE, PrinterKeyPath(L",,srv,Laser 5"), L"bPrintAsImage", 1);
    env.registry.SetDword(HKEY_LOCAL_MACHINE, PrinterKeyPath(L",,srv,Laser 5"), L"AnsiOnly", 1);

    CPrinter printer(env.trace.log(), L"\\\\srv\\Laser 5", 1, 0);
    EXPECT_EQ(printer.bPrintAsImage, 1u);
    printer.Query(1, nullptr, nullptr);
    EXPECT_EQ(printer.queryBuffers.dwAnsiOnly, 1u);
}

TEST_F(Options, TheQueryTimeLookupSkipsAnOptionThatIsAlreadySet) {
    env.fake.Find(L"Office")->driverName = L"Generic / Text Only";
    env.fake.AddDriver(L"Generic / Text Only");
    env.registry.SetDword(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"AnsiOnly", 7);
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    env.registry.ClearQueried();
    printer.Query(1, nullptr, nullptr);
    EXPECT_EQ(printer.queryBuffers.dwAnsiOnly, 1u);
    EXPECT_EQ(env.registry.QueryCount(L"AnsiOnly"), 0);
    EXPECT_EQ(env.registry.QueryCount(L"IgnoreLogPixels"), 1);
}

}  // namespace
