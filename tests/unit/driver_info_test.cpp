// Printer and driver look-ups against the fake spooler: information blocks,
// driver names, remote driver records, share and full names, free space.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fake/fake_print_system.h"
#include "platform/kernel.h"
#include "print/driver_info.h"
#include "trace_capture.h"

namespace {

using fake::FakePrintSystem;
using fake::Op;
using Lines = std::vector<std::string>;

// A library heap block, freed when the test ends.
struct Block {
    explicit Block(LPBYTE p) : bytes(p) {}
    ~Block() { platform::HeapFreeBlock(bytes); }
    // The text, terminators included, lies wholly inside the block.
    bool Holds(const WCHAR* text, size_t chars = 0) const {
        const BYTE* at = reinterpret_cast<const BYTE*>(text);
        const size_t size = ::HeapSize(::GetProcessHeap(), 0, bytes);
        return text && at >= bytes && at + (chars ? chars : std::wcslen(text) + 1) * sizeof(WCHAR) <= bytes + size;
    }
    LPBYTE bytes;
};

HANDLE Open(const wchar_t* name) {
    HANDLE handle = nullptr;
    platform::spooler.OpenPrinterW(const_cast<LPWSTR>(name), &handle, nullptr);
    return handle;
}

TEST(PrinterInfo, NullOnEveryFailure) {
    const struct {
        DWORD level;
        int call;
        DWORD error;  // 0: the call faults inside the driver
        std::string lastLine;
    } cases[] = {
        {3, 0, 0, "vlibPRINT_GetPrinterInfo => Not Insufficient Buffer? impossible i say. (no printer info available)"},
        {2, 2, ERROR_ACCESS_DENIED, "vlibPRINT_GetPrinterInfo => error"},
        {2, 2, 0, "vlibPRINT_GetPrinterInfo => exception occurred during GetPrinter"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lastLine);
        FakePrintSystem fake;
        fake.AddPrinter(L"P");
        HANDLE handle = Open(L"P");
        if (c.call && c.error) fake.FailOn(Op::GetPrinter, c.call, c.error);
        if (c.call && !c.error) fake.FaultOn(Op::GetPrinter, c.call);
        testsupport::TraceCapture trace;
        EXPECT_EQ(vlibPRINT_GetPrinterInfo(handle, c.level), nullptr);
        EXPECT_EQ(trace.Lines().back(), c.lastLine);
        platform::spooler.ClosePrinter(handle);
    }
}

TEST(DriverInfo, DriverUnknownToTheSpoolerOrFailingFetch) {
    const struct {
        bool vanished;  // else the second call fails
        DWORD error;
        std::string lastLine;
    } cases[] = {
        {true, ERROR_UNKNOWN_PRINTER_DRIVER, "GetDriverInfo => didn't get size required?"},
        {false, ERROR_ACCESS_DENIED, "GetDriverInfo => error:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lastLine);
        FakePrintSystem fake;
        fake.AddPrinter(L"P").driverName = c.vanished ? L"Vanished Driver" : L"Fake Laser Driver";
        HANDLE handle = Open(L"P");
        if (!c.vanished) fake.FailOn(Op::GetPrinterDriver, 2, c.error);
        testsupport::TraceCapture trace;

        EXPECT_EQ(GetDriverInfo(handle, 1), nullptr);

        const Lines lines = trace.Lines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], "GetDriverInfo => entering");
        EXPECT_EQ(lines[1].rfind("ERROR " + std::to_string(c.error) + ": ", 0), 0u) << lines[1];
        EXPECT_EQ(lines[2], c.lastLine);
        EXPECT_EQ(fake.Count(Op::GetPrinterDriver), c.vanished ? 1 : 2);
        platform::spooler.ClosePrinter(handle);
    }
}

TEST(DriverName, KnownUnknownAndFaultingPrinters) {
    FakePrintSystem fake;
    fake.AddPrinter(L"Office Laser").driverName = L"Laser Driver 5";
    fake.AddDriver(L"Laser Driver 5");
    fake.AddPrinter(L"Faulting");
    {
        testsupport::TraceCapture trace;
        EXPECT_EQ(vlibPRINT_GetDriverName(L"Office Laser"), L"Laser Driver 5");
        EXPECT_EQ(trace.Lines(), (Lines{"vlibPRINT_GetDriverName => printer: Office Laser",
                                        "vlibPRINT_GetDriverName => printer Opened", "GetDriverInfo => entering",
                                        "vlibPRINT_GetDriverName => driver name: Laser Driver 5"}));
    }
    EXPECT_EQ(vlibPRINT_GetDriverName(L"Nobody"), L"");
    fake.FaultOn(Op::OpenPrinter, fake.Count(Op::OpenPrinter) + 1);
    testsupport::TraceCapture trace;
    EXPECT_EQ(vlibPRINT_GetDriverName(L"Faulting"), L"");
    EXPECT_EQ(trace.Lines(), (Lines{"vlibPRINT_GetDriverName => printer: Faulting",
                                    "vlibPRINT_GetDriverName => exception occurred during OpenPrinter",
                                    "vlibPRINT_GetDriverName => OpenPrinter failed"}));
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

// Three drivers, two of them versions of one driver under names that differ in case.
void AddTwoVersions(FakePrintSystem& fake) {
    fake::FakeDriver& older = fake.AddDriver(L"Alpha");
    older.version = 2;
    older.provider = L"Old Provider";
    older.dependentFiles = {L"old.dll"};
    fake.AddDriver(L"Beta").version = 4;
    fake::FakeDriver& newer = fake.AddDriver(L"ALPHA");
    newer.dependentFiles = {L"new1.dll", L"new2.dat"};
    newer.previousNames = {L"Alpha Classic"};
}

// The later of two matching versions comes back at every level, in a block
// that holds every string it points to, the multi-strings with all entries.
TEST(RemoteDriverInfo, LastMatchingVersionInAStandAloneBlock) {
    for (DWORD level = 1; level <= 6; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        FakePrintSystem fake;
        AddTwoVersions(fake);

        Block block(NDGetRemoteDriverInfo(L"\\\\printsrv", L"alpha", level));

        ASSERT_NE(block.bytes, nullptr);
        EXPECT_EQ(fake.calls().back().text, L"Windows NT x86");
        if (level == 1) {
            EXPECT_TRUE(block.Holds(reinterpret_cast<const DRIVER_INFO_1W*>(block.bytes)->pName));
            EXPECT_STREQ(reinterpret_cast<const DRIVER_INFO_1W*>(block.bytes)->pName, L"ALPHA");
            continue;
        }
        const auto* info = reinterpret_cast<const DRIVER_INFO_6W*>(block.bytes);
        EXPECT_EQ(info->cVersion, 3u);
        EXPECT_STREQ(info->pName, L"ALPHA");
        for (const WCHAR* text : {info->pName, info->pEnvironment, info->pDriverPath, info->pDataFile, info->pConfigFile})
            EXPECT_TRUE(block.Holds(text));
        if (level == 2 || level == 5) continue;
        EXPECT_TRUE(block.Holds(info->pDefaultDataType));
        EXPECT_EQ(info->pMonitorName, nullptr);  // a null field stays null
        const wchar_t files[] = L"new1.dll\0new2.dat\0";
        ASSERT_TRUE(block.Holds(info->pDependentFiles, sizeof(files) / sizeof(WCHAR)));
        EXPECT_EQ(std::memcmp(info->pDependentFiles, files, sizeof(files)), 0);
        if (level == 3) continue;
        const wchar_t previous[] = L"Alpha Classic\0";
        ASSERT_TRUE(block.Holds(info->pszzPreviousNames, sizeof(previous) / sizeof(WCHAR)));
        EXPECT_EQ(std::memcmp(info->pszzPreviousNames, previous, sizeof(previous)), 0);
        if (level == 4) continue;
        EXPECT_TRUE(block.Holds(info->pszProvider));
        EXPECT_STREQ(info->pszProvider, L"Fake Provider");  // the newer driver's
        EXPECT_TRUE(block.Holds(info->pszHardwareID));
    }
}

TEST(RemoteDriverInfo, WalkTraces) {
    const std::string head = "NDGetRemoteDriverInfo =>";
    const Lines walk = {head + " ; Alpha", head + " drivers enumerated", head + " number of drivers: 3"};
    const struct {
        bool drivers;
        DWORD level, answeredAs;
        Lines tail;
    } cases[] = {
        {true, 2, 2, {head + " driver: Alpha", head + " driver: Beta", head + " driver: ALPHA", head + " returning info"}},
        {false, 2, 2, {head + " no drivers, failing out", head + " returning failure"}},
        // Level 7 answered with records the library cannot walk, or refused by the spooler.
        {true, 7, 6, {head + " unknown info level: 7", head + " returning failure"}},
        {true, 7, 7, {head + " enumeration failed", head + " returning failure"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail.front());
        FakePrintSystem fake;
        if (c.drivers) AddTwoVersions(fake);
        fake.AnswerDriverLevelAs(c.level, c.answeredAs);
        testsupport::TraceCapture trace;
        Block block(NDGetRemoteDriverInfo(L"", L"Alpha", c.level));
        EXPECT_EQ(block.bytes != nullptr, c.level == 2 && c.drivers);
        Lines expected = c.answeredAs == 7 ? Lines{walk.front()} : walk;
        if (!c.drivers) expected.back() = head + " number of drivers: 0";
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(trace.Lines(), expected);
        if (c.drivers && c.level == 2) EXPECT_EQ(NDGetRemoteDriverInfo(L"", L"Gamma", 2), nullptr);
    }
}

TEST(NativeNames, ShareAndFullNames) {
    FakePrintSystem fake;
    fake::FakePrinter& remote = fake.AddPrinter(L"\\\\srv\\Laser");
    remote.connection = true;
    remote.serverName = L"\\\\srv";
    remote.shareName = L"Laser";
    remote.attributes = PRINTER_ATTRIBUTE_NETWORK | PRINTER_ATTRIBUTE_SHARED;
    fake.AddPrinter(L"Local Unshared");
    fake.AddPrinter(L"Local Shared").shareName = L"DeskShare";

    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"\\\\srv\\Laser"), L"\\\\srv\\Laser");
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"Local Unshared"), L"");
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"Local Shared"), L"DeskShare");
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"Nobody"), L"");
    EXPECT_EQ(vlibPRINT_GetNativePrinterFullName(L"Local Shared"), L"Local Shared");
    EXPECT_EQ(vlibPRINT_GetNativePrinterFullName(L"Nobody"), L"");
    // Level-2 information that cannot be read: no share name, the given full name.
    fake.FailOn(Op::GetPrinter, fake.Count(Op::GetPrinter) + 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"\\\\srv\\Laser"), L"");
    fake.FaultOn(Op::GetPrinter, fake.Count(Op::GetPrinter) + 2);
    testsupport::TraceCapture trace;
    EXPECT_EQ(vlibPRINT_GetNativePrinterFullName(L"\\\\srv\\Laser"), L"\\\\srv\\Laser");
    const Lines lines = trace.Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "vlibPRINT_GetNativePrinterFullName => printer Opened");
    EXPECT_EQ(lines[4], "vlibPRINT_GetNativePrinterFullName => full name: \\\\srv\\Laser");

    for (const auto& call : fake.calls())
        if (call.op == Op::OpenPrinter) EXPECT_EQ(call.arg, PRINTER_ACCESS_USE);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

// Other processes write meanwhile; a product wrapped at 32 bits would be far off.
TEST(FreeSpace, BothPathsReportTheDisksFreeBytes) {
    testsupport::TraceCapture trace;
    testsupport::TempDir dir;
    const std::wstring folder = dir.path() + L"\\";
    ULARGE_INTEGER available = {}, total = {}, free = {};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(folder.c_str(), &available, &total, &free));
    for (bool extended : {true, false}) {
        vlibprint_detail::LogFreeSpaceW(folder.c_str(), trace.log(), extended);
        vlibprint_detail::LogFreeSpaceA(testsupport::Narrow(folder).c_str(), trace.log(), extended);
    }
    const Lines lines = trace.Lines();
    const std::string prefixes[] = {"LogFreeSpaceW => free bytes ex = ", "LogFreeSpaceA => free bytes ex = ",
                                    "LogFreeSpaceW => free bytes = ", "LogFreeSpaceA => free bytes = "};
    ASSERT_EQ(lines.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(lines[i].rfind(prefixes[i], 0), 0u) << lines[i];
        EXPECT_LT(std::llabs(std::stoll(lines[i].substr(prefixes[i].size())) - static_cast<long long>(free.QuadPart)),
                  256ll << 20) << lines[i];
    }
}

}  // namespace
