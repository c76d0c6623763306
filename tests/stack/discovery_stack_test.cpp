// Printer discovery against the real print stack: Wine's spooler over the
// private CUPS scheduler that scripts/cups-harness starts.
//
// The harness describes its printers through the environment:
//   KV_CUPS_PRINTERS     comma-separated printer names, in the spooler's order (required;
//                        without it every test here is skipped)
//   KV_CUPS_CONNECTIONS  comma-separated names of the printers set up as connections
//                        (optional; without it the kind of each printer is taken from the
//                        NETWORK attribute the spooler reports, and exactly one printer
//                        must carry it)
//   KV_CUPS_DRIVER       the driver name every harness printer uses (optional)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "platform/kernel.h"
#include "print/driver_info.h"
#include "print/printer_enum.h"
#include "support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

std::wstring Environment(const wchar_t* name) {
    const DWORD needed = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return std::wstring();
    std::wstring value(needed, L'\0');
    const DWORD got = ::GetEnvironmentVariableW(name, value.data(), needed);
    value.resize(got);
    return value;
}

std::vector<std::wstring> SplitList(const std::wstring& text) {
    std::vector<std::wstring> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L',', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring item = text.substr(start, end - start);
        while (!item.empty() && item.front() == L' ') item.erase(item.begin());
        while (!item.empty() && item.back() == L' ') item.pop_back();
        if (!item.empty()) items.push_back(item);
        start = end + 1;
    }
    return items;
}

bool Has(const std::vector<std::wstring>& list, const std::wstring& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

// Level-2 information read straight from the spooler, past the library.
struct SpoolerView {
    bool read = false;
    DWORD attributes = 0;
    std::wstring serverName, shareName, driverName;
};

SpoolerView ReadFromSpooler(const std::wstring& name) {
    SpoolerView view;
    HANDLE handle = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    std::wstring copy = name;
    if (!::OpenPrinterW(copy.data(), &handle, &defaults) || !handle) return view;
    DWORD needed = 0;
    ::GetPrinterW(handle, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    if (needed && ::GetPrinterW(handle, 2, buffer.data(), needed, &needed)) {
        const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
        view.read = true;
        view.attributes = info->Attributes;
        if (info->pServerName) view.serverName = info->pServerName;
        if (info->pShareName) view.shareName = info->pShareName;
        if (info->pDriverName) view.driverName = info->pDriverName;
    }
    ::ClosePrinter(handle);
    return view;
}

class DiscoveryStack : public ::testing::Test {
protected:
    void SetUp() override {
        printers_ = SplitList(Environment(L"KV_CUPS_PRINTERS"));
        if (printers_.empty()) GTEST_SKIP() << "KV_CUPS_PRINTERS is not set: no CUPS harness running";
        connections_ = SplitList(Environment(L"KV_CUPS_CONNECTIONS"));
        driver_ = Environment(L"KV_CUPS_DRIVER");
        log_ = TraceLogCreate(dir_.File(L"library.log").c_str(), 0);
        LibraryLog = log_;
    }
    void TearDown() override {
        LibraryLog = nullptr;
        TraceLogDestroy(log_);
        log_ = nullptr;
    }
    Lines Trace() const { return testsupport::ReadLogLines(dir_.File(L"library.log")); }
    std::string TraceText() const {
        std::string text;
        for (const auto& line : Trace()) text += line + "\n";
        return text;
    }

    // The kind the harness set each printer up as.
    DWORD ExpectedType(const std::wstring& name) {
        if (!connections_.empty()) return Has(connections_, name) ? kPrinterTypeNetwork : kPrinterTypeLocal;
        return (ReadFromSpooler(name).attributes & PRINTER_ATTRIBUTE_NETWORK) ? kPrinterTypeNetwork
                                                                               : kPrinterTypeLocal;
    }

    std::vector<std::wstring> printers_, connections_;
    std::wstring driver_;
    testsupport::TempDir dir_;
    TraceLog* log_ = nullptr;
};

TEST_F(DiscoveryStack, EnumerationListsTheHarnessPrintersInSpoolerOrder) {
    const VLIB_PRINTER_ENUM_LIST list = vlibPRINT_EnumeratePrinters(3);

    // The harness printers, in the order listed, each once; the prefix may know others.
    std::vector<std::wstring> names;
    std::vector<DWORD> types;
    for (const auto& record : list) {
        ASSERT_TRUE(record->dwType == kPrinterTypeLocal || record->dwType == kPrinterTypeNetwork);
        if (!Has(printers_, record->szPrinterName)) continue;
        names.push_back(record->szPrinterName);
        types.push_back(record->dwType);
    }
    ASSERT_EQ(names, printers_) << TraceText();

    int network = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(testsupport::Narrow(names[i]));
        EXPECT_EQ(types[i], ExpectedType(names[i]));
        if (types[i] == kPrinterTypeNetwork) ++network;
    }
    if (connections_.empty()) EXPECT_EQ(network, 1) << "the harness marks exactly one printer as a connection";

    const Lines lines = Trace();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "vlibPRINT_EnumeratePrinters =>");
    EXPECT_EQ(lines[1], "vlibPRINT_EnumeratePrinters => NT-based system, enumerating");
    EXPECT_EQ(lines[2], "vlibPRINT_EnumeratePrinters => dwEnumFlags = 6");
    EXPECT_EQ(lines.back(), "vlibPRINT_EnumeratePrinters => returning success");
    // One printer line per listed printer, naming the harness printers.
    for (const auto& name : printers_) {
        const std::string head = "vlibPRINT_EnumeratePrinters => printer: " + testsupport::Narrow(name) + "; server: ";
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(head, 0) == 0; }),
                  1)
            << testsupport::Narrow(name);
    }
}

TEST_F(DiscoveryStack, LocalSelectionLeavesOutTheConnections) {
    const VLIB_PRINTER_ENUM_LIST list = vlibPRINT_EnumeratePrinters(1);
    std::vector<std::wstring> names;
    for (const auto& record : list) {
        EXPECT_EQ(record->dwType, kPrinterTypeLocal);
        if (Has(printers_, record->szPrinterName)) names.push_back(record->szPrinterName);
    }
    std::vector<std::wstring> expected;
    for (const auto& name : printers_)
        if (ExpectedType(name) == kPrinterTypeLocal) expected.push_back(name);
    EXPECT_EQ(names, expected) << TraceText();
}

TEST_F(DiscoveryStack, LookUpsAnswerForRealPrinters) {
    for (const auto& name : printers_) {
        SCOPED_TRACE(testsupport::Narrow(name));
        const SpoolerView view = ReadFromSpooler(name);
        ASSERT_TRUE(view.read);

        // The driver's own record names the driver the printer information names.
        const std::wstring driver = vlibPRINT_GetDriverName(name);
        EXPECT_FALSE(driver.empty());
        EXPECT_EQ(driver, view.driverName);
        if (!driver_.empty()) {
            EXPECT_EQ(driver, driver_);
        }

        EXPECT_EQ(vlibPRINT_GetNativePrinterFullName(name), name);

        const std::wstring expectedShare =
            view.serverName.empty() ? view.shareName : view.serverName + L"\\" + view.shareName;
        EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(name), expectedShare);
    }

    // A name the spooler does not know.
    const std::wstring unknown = L"KV_No_Such_Printer";
    EXPECT_EQ(vlibPRINT_GetDriverName(unknown), L"");
    EXPECT_EQ(vlibPRINT_GetNativePrinterFullName(unknown), L"");
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(unknown), L"");
    const Lines lines = Trace();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "vlibPRINT_GetNativePrinterShareName => OpenPrinter failed");
}

TEST_F(DiscoveryStack, PrinterAndDriverInformationOfAnOpenPrinter) {
    std::wstring name = printers_.front();
    HANDLE handle = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    ASSERT_TRUE(::OpenPrinterW(name.data(), &handle, &defaults));

    LPBYTE info = vlibPRINT_GetPrinterInfo(handle, 2);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(reinterpret_cast<const PRINTER_INFO_2W*>(info)->pPrinterName, name.c_str());
    LPBYTE driver = GetDriverInfo(handle, 2);
    ASSERT_NE(driver, nullptr);
    EXPECT_STREQ(reinterpret_cast<const DRIVER_INFO_2W*>(driver)->pName,
                 reinterpret_cast<const PRINTER_INFO_2W*>(info)->pDriverName);
    platform::HeapFreeBlock(driver);
    platform::HeapFreeBlock(info);
    ::ClosePrinter(handle);
}

}  // namespace
