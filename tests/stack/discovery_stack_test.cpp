// Printer discovery against the real print stack: Wine's spooler and
// PostScript driver over the private CUPS scheduler of scripts/cups-harness.
#include <gtest/gtest.h>

#include "harness.h"
#include "platform/kernel.h"
#include "print/driver_info.h"
#include "print/printer_enum.h"

namespace {

TEST(DiscoveryStack, EnumerationListsThePrintersInSpoolerOrderWithTheirKinds) {
    KV_SKIP_WITHOUT_HARNESS();
    const std::vector<std::wstring> printers = harness::List(L"KV_CUPS_PRINTERS");
    std::vector<std::pair<std::wstring, DWORD>> expected, found;
    for (const auto& name : printers)  // a connection is a network printer
        expected.emplace_back(name, harness::Listed(L"KV_CUPS_CONNECTIONS", name) ? kPrinterTypeNetwork : kPrinterTypeLocal);
    for (const auto& record : vlibPRINT_EnumeratePrinters(3))  // others the prefix may know are left out
        if (std::count(printers.begin(), printers.end(), record->szPrinterName))
            found.emplace_back(record->szPrinterName, record->dwType);
    EXPECT_EQ(found, expected)
        << "an empty list when Wine added the printers again without the scheduler; run scripts/cups-harness register";
}

// The driver's name of each printer, through the real driver look-up. (Wine
// names every printer's driver after the printer and gives no server or share
// name, so full and share names are left to the unit tests. Its default
// DEVMODE and papers: see the forms stack test.)
TEST(DiscoveryStack, DriverNames) {
    KV_SKIP_WITHOUT_HARNESS();
    for (std::wstring name : harness::List(L"KV_CUPS_PRINTERS")) {
        SCOPED_TRACE(testsupport::Narrow(name));
        HANDLE printer = nullptr;
        ASSERT_TRUE(::OpenPrinterW(name.data(), &printer, nullptr));
        LPBYTE block = vlibPRINT_GetPrinterInfo(printer, 2);
        ::ClosePrinter(printer);
        ASSERT_NE(block, nullptr);
        const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(block);
        const std::wstring driver = info->pDriverName ? info->pDriverName : L"";
        platform::HeapFreeBlock(block);
        EXPECT_FALSE(driver.empty());
        EXPECT_EQ(vlibPRINT_GetDriverName(name), driver);
    }
}

}  // namespace
