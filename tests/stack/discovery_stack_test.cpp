// Printer discovery against the real print stack: Wine's spooler and
// PostScript driver over the private CUPS scheduler of scripts/cups-harness.
// The harness exports KV_CUPS_PRINTERS (comma-separated, in the spooler's
// order), KV_CUPS_CONNECTIONS (the printers set up as connections),
// KV_CUPS_DEVMODE_0401 (the printers with a stored 0x0401 default DEVMODE) and
// KV_CUPS_PPD_DIR (the scheduler's PPDs); without them every test is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "platform/guard.h"
#include "platform/kernel.h"
#include "print/driver_info.h"
#include "print/printer_enum.h"
#include "unit/trace_capture.h"

namespace {

std::wstring Environment(const wchar_t* name) {
    WCHAR buffer[2048] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, 2048);
    return length < 2048 ? buffer : L"";
}

std::vector<std::wstring> EnvironmentList(const wchar_t* name) {
    std::vector<std::wstring> items;
    std::wstringstream list(Environment(name));
    for (std::wstring item; std::getline(list, item, L',');)
        if (!item.empty()) items.push_back(item);
    return items;
}

class DiscoveryStack : public ::testing::Test {
protected:
    void SetUp() override {
        printers_ = EnvironmentList(L"KV_CUPS_PRINTERS");
        connections_ = EnvironmentList(L"KV_CUPS_CONNECTIONS");
        stored0401_ = EnvironmentList(L"KV_CUPS_DEVMODE_0401");
        ppdDir_ = Environment(L"KV_CUPS_PPD_DIR");
        if (printers_.empty() || ppdDir_.empty())
            GTEST_SKIP() << "the CUPS harness is not running (KV_CUPS_PRINTERS or KV_CUPS_PPD_DIR not set)";
    }
    // The harness printers in a listing, with their kinds; others the prefix may know are left out.
    std::vector<std::pair<std::wstring, DWORD>> Harness(const VLIB_PRINTER_ENUM_LIST& list) const {
        std::vector<std::pair<std::wstring, DWORD>> found;
        for (const auto& record : list)
            if (std::find(printers_.begin(), printers_.end(), record->szPrinterName) != printers_.end())
                found.emplace_back(record->szPrinterName, record->dwType);
        return found;
    }

    std::vector<std::wstring> printers_, connections_, stored0401_;
    std::wstring ppdDir_;
};

TEST_F(DiscoveryStack, EnumerationListsThePrintersInSpoolerOrderWithTheirKinds) {
    std::vector<std::pair<std::wstring, DWORD>> all;
    for (const auto& name : printers_)  // a connection is a network printer
        all.emplace_back(name, std::count(connections_.begin(), connections_.end(), name) ? kPrinterTypeNetwork : kPrinterTypeLocal);
    EXPECT_EQ(Harness(vlibPRINT_EnumeratePrinters(3)), all)
        << "an empty list when Wine added the printers again without the scheduler; run scripts/cups-harness register";
}

// Driver, full and share names of each printer, its papers (one per PageSize
// entry of its PPD) and its default DEVMODE: the stored 0x0401 one or the driver's own 0x030A.
TEST_F(DiscoveryStack, LookUpsPapersAndDefaultDevmode) {
    for (std::wstring name : printers_) {
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

        std::istringstream ppd(testsupport::ReadFileBytes(ppdDir_ + L"\\" + name + L".ppd"));
        int pageSizes = 0, papers = -1;
        for (std::string line; std::getline(ppd, line);) pageSizes += line.rfind("*PageSize ", 0) == 0;
        LONG size = 0, result = 0;
        DEVMODEW* devmode = nullptr;
        const bool clean = platform::Guarded([&] {
            papers = platform::spooler.DeviceCapabilitiesW(name.c_str(), (L"CUPS:" + name).c_str(), DC_PAPERS, nullptr, nullptr);
            size = platform::spooler.DocumentPropertiesW(nullptr, printer, name.data(), nullptr, nullptr, 0);
            if (size < static_cast<LONG>(sizeof(DEVMODEW))) return;
            devmode = platform::HeapAllocZeroAs<DEVMODEW>(static_cast<size_t>(size));
            result = platform::spooler.DocumentPropertiesW(nullptr, printer, name.data(), devmode, nullptr, DM_OUT_BUFFER);
        });
        ::ClosePrinter(printer);
        EXPECT_TRUE(clean);
        EXPECT_GT(pageSizes, 0) << "no PageSize entries in the PPD under " << testsupport::Narrow(ppdDir_);
        EXPECT_EQ(papers, pageSizes);
        ASSERT_NE(devmode, nullptr) << "DocumentPropertiesW size " << size;
        EXPECT_EQ(result, IDOK);
        const bool stored = std::count(stored0401_.begin(), stored0401_.end(), name) != 0;
        EXPECT_EQ(devmode->dmSpecVersion, stored ? 0x0401 : 0x030A);
        EXPECT_EQ(static_cast<LONG>(devmode->dmSize + devmode->dmDriverExtra), size);
        platform::HeapFreeBlock(devmode);
    }
}

}  // namespace
