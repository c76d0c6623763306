// Printer discovery against the real print stack: Wine's spooler and
// PostScript driver over the private CUPS scheduler of scripts/cups-harness.
#include <gtest/gtest.h>

#include "harness.h"
#include "print/driver_info.h"
#include "print/printer_enum.h"

namespace {

TEST(DiscoveryStack, EnumerationListsThePrintersInSpoolerOrderWithTheirKindsAndDrivers) {
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
    // The driver look-up through the real spooler. (Wine names each driver after
    // its printer and gives no server or share name: the names themselves are
    // the unit tests' to check.)
    for (const auto& name : printers) EXPECT_FALSE(vlibPRINT_GetDriverName(name).empty()) << testsupport::Narrow(name);
}

}  // namespace
