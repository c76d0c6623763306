// Printer discovery against the real print stack: Wine's spooler and
// PostScript driver over the private CUPS scheduler of scripts/cups-harness.
#include <gtest/gtest.h>

#include "harness.h"
#include "platform/guard.h"
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

// Driver, full and share names of each printer and its default DEVMODE: the
// stored 0x0401 one or the driver's own 0x030A. (Its papers follow the PPD:
// see the capability query stack test.)
TEST(DiscoveryStack, LookUpsAndDefaultDevmode) {
    KV_SKIP_WITHOUT_HARNESS();
    for (std::wstring name : harness::List(L"KV_CUPS_PRINTERS")) {
        SCOPED_TRACE(testsupport::Narrow(name));
        HANDLE printer = nullptr;
        ASSERT_TRUE(::OpenPrinterW(name.data(), &printer, nullptr));
        LPBYTE block = vlibPRINT_GetPrinterInfo(printer, 2);
        ASSERT_NE(block, nullptr);
        const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(block);
        const std::wstring driver = info->pDriverName ? info->pDriverName : L"";
        const std::wstring server = info->pServerName ? info->pServerName : L"";
        const std::wstring share = info->pShareName ? info->pShareName : L"";
        platform::HeapFreeBlock(block);
        EXPECT_FALSE(driver.empty());
        EXPECT_EQ(vlibPRINT_GetDriverName(name), driver);
        EXPECT_EQ(vlibPRINT_GetNativePrinterFullName(name), name);
        EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(name), server.empty() ? share : server + L"\\" + share);

        LONG size = 0, result = 0;
        DEVMODEW* devmode = nullptr;
        const bool clean = platform::Guarded([&] {
            size = platform::spooler.DocumentPropertiesW(nullptr, printer, name.data(), nullptr, nullptr, 0);
            if (size < static_cast<LONG>(sizeof(DEVMODEW))) return;
            devmode = platform::HeapAllocZeroAs<DEVMODEW>(static_cast<size_t>(size));
            result = platform::spooler.DocumentPropertiesW(nullptr, printer, name.data(), devmode, nullptr, DM_OUT_BUFFER);
        });
        ::ClosePrinter(printer);
        EXPECT_TRUE(clean);
        ASSERT_NE(devmode, nullptr) << "DocumentPropertiesW size " << size;
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(devmode->dmSpecVersion, harness::Listed(L"KV_CUPS_DEVMODE_0401", name) ? 0x0401 : 0x030A);
        EXPECT_EQ(static_cast<LONG>(devmode->dmSize + devmode->dmDriverExtra), size);
        platform::HeapFreeBlock(devmode);
    }
}

}  // namespace
