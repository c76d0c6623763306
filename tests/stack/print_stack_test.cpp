// The real print stack: Wine's spooler and PostScript driver over the private
// CUPS scheduler of scripts/cups-harness, reached through the platform tables.
// The harness exports the printer names, the connection printer and the folder
// of the scheduler's PPDs; without them every test here is skipped.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/guard.h"
#include "platform/kernel.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

std::wstring EnvW(const WCHAR* name) {
    WCHAR buffer[1024] = {};
    DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

class PrintStack : public ::testing::Test {
protected:
    void SetUp() override {
        std::wstring names = EnvW(L"KV_CUPS_PRINTERS");
        ppdDir_ = EnvW(L"KV_CUPS_PPD_DIR");
        connection_ = EnvW(L"KV_CUPS_CONNECTION");
        if (names.empty() || ppdDir_.empty() || EnvW(L"CUPS_SERVER").empty()) {
            GTEST_SKIP() << "the CUPS harness is not running (KV_CUPS_PRINTERS, KV_CUPS_PPD_DIR or CUPS_SERVER "
                            "not set); run scripts/test, or scripts/cups-harness start and . build/cups/env";
        }
        for (WCHAR& c : names)
            if (c == L',') c = L' ';  // the list is comma-separated
        std::wistringstream split(names);
        for (std::wstring name; split >> name;) printers_.push_back(name);
        ASSERT_EQ(printers_.size(), 4u) << "the harness adds four printers";
    }

    // Number of option entries of the PPD's PageSize keyword ("*PageSize Letter/...: ").
    int PpdPageSizes(const std::wstring& printer) const {
        std::string ppd = testsupport::ReadFileBytes(ppdDir_ + L"\\" + printer + L".ppd");
        int count = 0;
        std::istringstream lines(ppd);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("*PageSize ", 0) == 0) ++count;
        return ppd.empty() ? -1 : count;
    }

    // EnumPrintersW level 2 in the two-call pattern; the names and attributes listed.
    static bool Enumerate(DWORD flags, std::vector<std::pair<std::wstring, DWORD>>& listed, DWORD& needed) {
        DWORD returned = 0;
        needed = 0;
        listed.clear();
        if (platform::spooler.EnumPrintersW(flags, nullptr, 2, nullptr, 0, &needed, &returned)) return true;
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return false;
        std::vector<BYTE> buffer(needed);
        if (!platform::spooler.EnumPrintersW(flags, nullptr, 2, buffer.data(), needed, &needed, &returned))
            return false;
        const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
        for (DWORD i = 0; i < returned; ++i) {
            listed.emplace_back(info[i].pPrinterName, info[i].Attributes);
            // Wine's CUPS printers: port "CUPS:<name>", a driver named after the printer.
            EXPECT_EQ(std::wstring(info[i].pPortName), L"CUPS:" + std::wstring(info[i].pPrinterName));
            EXPECT_EQ(std::wstring(info[i].pDriverName), std::wstring(info[i].pPrinterName));
        }
        return true;
    }

    std::vector<std::wstring> printers_;
    std::wstring ppdDir_;
    std::wstring connection_;
};

TEST_F(PrintStack, LocalEnumerationListsEveryPrinterWithItsAttributes) {
    std::vector<std::pair<std::wstring, DWORD>> listed;
    DWORD needed = 0;
    ASSERT_TRUE(Enumerate(PRINTER_ENUM_LOCAL, listed, needed));
    EXPECT_GT(needed, 4 * sizeof(PRINTER_INFO_2W));
    for (const std::wstring& name : printers_) {
        SCOPED_TRACE(testsupport::Narrow(name));
        int seen = 0;
        for (const auto& [listedName, attributes] : listed) {
            if (listedName != name) continue;
            ++seen;
            // Wine lists a printer connection (local + network) as a local printer too.
            EXPECT_EQ(attributes, name == connection_ ? DWORD{PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_NETWORK}
                                                      : DWORD{PRINTER_ATTRIBUTE_LOCAL})
                << "0 means Wine added the printer again after a Wine process ran without the scheduler; "
                   "run scripts/cups-harness register";
        }
        EXPECT_EQ(seen, 1);
    }
}

TEST_F(PrintStack, LocalAndConnectionsTogetherListEachPrinterOnce) {
    std::vector<std::pair<std::wstring, DWORD>> local, both, connections;
    DWORD needed = 0;
    ASSERT_TRUE(Enumerate(PRINTER_ENUM_LOCAL, local, needed));
    ASSERT_TRUE(Enumerate(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, both, needed));
    EXPECT_EQ(both, local);
    std::set<std::wstring> unique;
    for (const auto& entry : both) EXPECT_TRUE(unique.insert(entry.first).second);
    // Connections alone: Wine keeps no connection list and answers with none.
    ASSERT_TRUE(Enumerate(PRINTER_ENUM_CONNECTIONS, connections, needed));
    EXPECT_TRUE(connections.empty());
    EXPECT_EQ(needed, 0u);
}

TEST_F(PrintStack, OpensEveryPrinterAndRefusesAnUnknownName) {
    for (const std::wstring& name : printers_) {
        SCOPED_TRACE(testsupport::Narrow(name));
        HANDLE printer = nullptr;
        BOOL opened = FALSE;
        WCHAR buffer[64] = {};
        platform::CopyString(buffer, 64, name.c_str());
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
        ASSERT_TRUE(platform::Guarded([&] { opened = platform::spooler.OpenPrinterW(buffer, &printer, &defaults); }));
        ASSERT_TRUE(opened);
        EXPECT_NE(printer, nullptr);
        platform::spooler.ClosePrinter(printer);
    }
    HANDLE printer = nullptr;
    WCHAR unknown[] = L"KV_NoSuchPrinter";
    EXPECT_FALSE(platform::spooler.OpenPrinterW(unknown, &printer, nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
}

TEST_F(PrintStack, PaperCountMatchesThePageSizesOfThePpd) {
    for (const std::wstring& name : printers_) {
        SCOPED_TRACE(testsupport::Narrow(name));
        int expected = PpdPageSizes(name);
        ASSERT_GT(expected, 0) << "no PageSize entries read from the PPD in " << testsupport::Narrow(ppdDir_);
        int count = -1, filled = -1, names = -1;
        std::vector<WORD> papers(static_cast<size_t>(expected) + 8);
        std::vector<WCHAR> paperNames((static_cast<size_t>(expected) + 8) * 64);
        std::wstring port = L"CUPS:" + name;
        ASSERT_TRUE(platform::Guarded([&] {
            count = platform::spooler.DeviceCapabilitiesW(name.c_str(), port.c_str(), DC_PAPERS, nullptr, nullptr);
            filled = platform::spooler.DeviceCapabilitiesW(name.c_str(), port.c_str(), DC_PAPERS,
                                                           reinterpret_cast<LPWSTR>(papers.data()), nullptr);
            names = platform::spooler.DeviceCapabilitiesW(name.c_str(), port.c_str(), DC_PAPERNAMES,
                                                          paperNames.data(), nullptr);
        }));
        EXPECT_EQ(count, expected);
        EXPECT_EQ(filled, expected);
        EXPECT_EQ(names, expected);
        // Every paper has a non-zero DMPAPER number and a name.
        for (int i = 0; i < filled && i < expected; ++i) EXPECT_NE(papers[static_cast<size_t>(i)], 0);
        for (int i = 0; i < names && i < expected; ++i) EXPECT_NE(paperNames[static_cast<size_t>(i) * 64], L'\0');
    }
}

TEST_F(PrintStack, DefaultDevmodeAndDeviceContext) {
    for (const std::wstring& name : printers_) {
        SCOPED_TRACE(testsupport::Narrow(name));
        WCHAR buffer[64] = {};
        platform::CopyString(buffer, 64, name.c_str());
        HANDLE printer = nullptr;
        BOOL opened = FALSE;
        ASSERT_TRUE(platform::Guarded([&] { opened = platform::spooler.OpenPrinterW(buffer, &printer, nullptr); }));
        ASSERT_TRUE(opened);

        LONG size = 0, result = 0;
        DEVMODEW* devmode = nullptr;
        bool clean = platform::Guarded([&] {
            size = platform::spooler.DocumentPropertiesW(nullptr, printer, buffer, nullptr, nullptr, 0);
        });
        if (clean && size >= static_cast<LONG>(sizeof(DEVMODEW))) {
            devmode = platform::HeapAllocZeroAs<DEVMODEW>(static_cast<size_t>(size));
            clean = platform::Guarded([&] {
                result = platform::spooler.DocumentPropertiesW(nullptr, printer, buffer, devmode, nullptr,
                                                               DM_OUT_BUFFER);
            });
        }
        platform::spooler.ClosePrinter(printer);
        EXPECT_TRUE(clean);
        ASSERT_NE(devmode, nullptr) << "DocumentPropertiesW size " << size;
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(devmode->dmSpecVersion, 0x030A);
        EXPECT_EQ(static_cast<LONG>(devmode->dmSize + devmode->dmDriverExtra), size);
        EXPECT_EQ(std::wstring(devmode->dmDeviceName), name.substr(0, CCHDEVICENAME - 1));

        // A device context with no DEVMODE and one with the default DEVMODE.
        int dpiX = 0, dpiY = 0, width = 0, dpiWithDevmode = 0;
        ASSERT_TRUE(platform::Guarded([&] {
            HDC dc = platform::gdi.CreateDCW(nullptr, name.c_str(), nullptr, nullptr);
            if (dc) {
                dpiX = platform::gdi.GetDeviceCaps(dc, LOGPIXELSX);
                dpiY = platform::gdi.GetDeviceCaps(dc, LOGPIXELSY);
                width = platform::gdi.GetDeviceCaps(dc, HORZRES);
                platform::gdi.DeleteDC(dc);
            }
            dc = platform::gdi.CreateDCW(L"WINSPOOL", name.c_str(), nullptr, devmode);
            if (dc) {
                dpiWithDevmode = platform::gdi.GetDeviceCaps(dc, LOGPIXELSX);
                platform::gdi.DeleteDC(dc);
            }
        }));
        platform::HeapFreeBlock(devmode);
        EXPECT_GT(dpiX, 0);
        EXPECT_GT(dpiY, 0);
        EXPECT_GT(width, 0);
        EXPECT_EQ(dpiWithDevmode, dpiX);
    }
}

}  // namespace
