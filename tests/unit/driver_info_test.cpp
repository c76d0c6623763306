// Printer and driver look-ups against the fake spooler: information blocks,
// driver names, remote driver records, share and full names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"
#include "print/driver_info.h"
#include "support/heap_counter.h"

namespace {

using fake::FakePrintSystem;
using fake::Op;
using Lines = std::vector<std::string>;

using devcaps_test::Block;

// The text, terminators included, lies wholly inside the library's block.
bool Holds(const Block<BYTE>& block, const WCHAR* text, size_t chars = 0) {
    const BYTE* at = reinterpret_cast<const BYTE*>(text);
    const BYTE* end = block.get() + ::HeapSize(::GetProcessHeap(), 0, block.get());
    return text && at >= block.get() && at + (chars ? chars : std::wcslen(text) + 1) * sizeof(WCHAR) <= end;
}

// Printer information that cannot be read, and a driver the spooler cannot
// describe or fails to fetch: null, with the reason as the last line (a fault
// inside GetPrinter is caught in the full-name test below).
TEST(PrinterInfo, NullOnEveryFailure) {
    const struct {
        bool driver;  // else the printer information
        DWORD level, call, error;  // call 0: no call made to fail
        std::string lastLine;
    } cases[] = {
        {false, 3, 0, 0, "vlibPRINT_GetPrinterInfo => Not Insufficient Buffer? impossible i say. (no printer info available)"},
        {false, 2, 2, ERROR_ACCESS_DENIED, "vlibPRINT_GetPrinterInfo => error"},
        {true, 1, 0, ERROR_UNKNOWN_PRINTER_DRIVER, "GetDriverInfo => didn't get size required?"},
        {true, 1, 2, ERROR_ACCESS_DENIED, "GetDriverInfo => error:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lastLine);
        FakePrintSystem fake;
        fake.AddPrinter(L"P").driverName = c.driver && !c.call ? L"Vanished Driver" : L"Fake Laser Driver";
        HANDLE handle = nullptr;
        platform::spooler.OpenPrinterW(const_cast<LPWSTR>(L"P"), &handle, nullptr);
        if (c.call) fake.FailOn(c.driver ? Op::GetPrinterDriver : Op::GetPrinter, c.call, c.error);
        testsupport::TraceCapture trace;
        testsupport::HeapCounter heap;  // nothing is kept
        EXPECT_EQ(c.driver ? GetDriverInfo(handle, c.level) : vlibPRINT_GetPrinterInfo(handle, c.level), nullptr);
        EXPECT_EQ(heap.Live(), 0);
        const Lines lines = trace.Lines();
        EXPECT_EQ(lines.back(), c.lastLine);
        if (c.driver) EXPECT_EQ(lines.at(1).rfind("ERROR " + std::to_string(c.error) + ": ", 0), 0u) << lines[1];
        if (c.driver) EXPECT_EQ(fake.Count(Op::GetPrinterDriver), c.call ? 2 : 1);
        platform::spooler.ClosePrinter(handle);
    }
}

// Three drivers, two of them versions of one driver under names that differ in
// case; the one listed first has the higher version.
void AddTwoVersions(FakePrintSystem& fake) {
    fake::FakeDriver& first = fake.AddDriver(L"Alpha");
    first.version = 4, first.provider = L"Old Provider", first.dependentFiles = {L"old.dll"};
    fake.AddDriver(L"Beta").version = 4;
    fake::FakeDriver& later = fake.AddDriver(L"ALPHA");
    later.dependentFiles = {L"new1.dll", L"new2.dat"}, later.previousNames = {L"Alpha Classic"};
}

// The later of two matching versions comes back at every level, in a block
// that holds every string it points to, the multi-strings with all entries.
TEST(RemoteDriverInfo, LastMatchingVersionInAStandAloneBlock) {
    for (DWORD level = 1; level <= 6; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        FakePrintSystem fake;
        AddTwoVersions(fake);
        Block<BYTE> block(NDGetRemoteDriverInfo(L"\\\\printsrv", L"alpha", level));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(fake.calls().back().text, L"Windows NT x86");
        const auto* info = reinterpret_cast<const DRIVER_INFO_6W*>(block.get());
        EXPECT_TRUE(Holds(block, level == 1 ? reinterpret_cast<const DRIVER_INFO_1W*>(info)->pName : info->pName));
        if (level == 1) continue;
        EXPECT_EQ(info->cVersion, 3u);
        EXPECT_STREQ(info->pName, L"ALPHA");
        for (const WCHAR* text : {info->pEnvironment, info->pDriverPath, info->pDataFile, info->pConfigFile})
            EXPECT_TRUE(Holds(block, text));
        if (level == 2 || level == 5) continue;
        EXPECT_EQ(info->pMonitorName, nullptr);  // a null field stays null
        const wchar_t files[] = L"new1.dll\0new2.dat\0", previous[] = L"Alpha Classic\0";
        ASSERT_TRUE(Holds(block, info->pDependentFiles, sizeof(files) / sizeof(WCHAR)));
        EXPECT_EQ(std::memcmp(info->pDependentFiles, files, sizeof(files)), 0);
        if (level == 3) continue;
        ASSERT_TRUE(Holds(block, info->pszzPreviousNames, sizeof(previous) / sizeof(WCHAR)));
        EXPECT_EQ(std::memcmp(info->pszzPreviousNames, previous, sizeof(previous)), 0);
        if (level == 4) continue;
        EXPECT_TRUE(Holds(block, info->pszProvider));
        EXPECT_STREQ(info->pszProvider, L"Fake Provider");  // the later one's
    }
}

TEST(RemoteDriverInfo, WalkFailures) {
    const std::string head = "NDGetRemoteDriverInfo =>";
    // Level 7 answered with records the library cannot walk; no drivers at
    // all; no memory for the copy of the second match (the first is freed).
    for (const char* why : {" unknown info level: 7", " no drivers, failing out", " couldn't allocate memory"}) {
        const bool drivers = why[1] != 'n', refuse = why[1] == 'c';
        FakePrintSystem fake;
        if (drivers) AddTwoVersions(fake);
        fake.AnswerDriverLevelAs(drivers ? 7 : 2, drivers ? 6 : 2);
        testsupport::TraceCapture trace;
        testsupport::HeapCounter heap(refuse ? 2 : LONG_MAX);  // the enumeration buffer and the first copy
        EXPECT_EQ(NDGetRemoteDriverInfo(L"", L"Alpha", drivers && !refuse ? 7 : 2), nullptr);
        const Lines lines = trace.Lines();
        EXPECT_EQ(Lines(lines.end() - std::min<size_t>(2, lines.size()), lines.end()),
                  (Lines{head + why, head + " returning failure"}));
    }
}

// A remote shared printer answers "\\server\share"; a local unshared one nothing.
TEST(NativeNames, DriverShareAndFullNames) {
    FakePrintSystem fake;
    fake.AddPrinter(L"Office Laser").driverName = L"Laser Driver 5";
    fake.AddDriver(L"Laser Driver 5");
    fake::FakePrinter& remote = fake.AddPrinter(L"\\\\srv\\Laser");
    remote.serverName = L"\\\\srv";
    remote.shareName = L"LaserShare";
    fake.AddPrinter(L"Local Unshared");
    fake.AddPrinter(L"Local Shared").shareName = L"DeskShare";

    EXPECT_EQ(vlibPRINT_GetDriverName(L"Office Laser"), L"Laser Driver 5");
    EXPECT_EQ(vlibPRINT_GetDriverName(L"Nobody"), L"");
    EXPECT_EQ(NDGetRemoteDriverInfo(L"", L"Gamma", 2), nullptr);  // no driver of that name
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"\\\\srv\\Laser"), L"\\\\srv\\LaserShare");
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"Local Unshared"), L"");
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"Local Shared"), L"DeskShare");
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"Nobody"), L"");
    EXPECT_EQ(vlibPRINT_GetNativePrinterFullName(L"Nobody"), L"");
    // Level-2 information that cannot be read: no share name, the given full name.
    fake.FailOn(Op::GetPrinter, fake.Count(Op::GetPrinter) + 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"\\\\srv\\Laser"), L"");
    fake.FaultOn(Op::GetPrinter, fake.Count(Op::GetPrinter) + 2);
    EXPECT_EQ(vlibPRINT_GetNativePrinterFullName(L"\\\\srv\\Laser"), L"\\\\srv\\Laser");
    fake.FaultOn(Op::OpenPrinter, fake.Count(Op::OpenPrinter) + 1);
    EXPECT_EQ(vlibPRINT_GetDriverName(L"Office Laser"), L"");
    for (const int access : devcaps_test::ArgsOf(fake, Op::OpenPrinter)) EXPECT_EQ(access, PRINTER_ACCESS_USE);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

// Stand-ins for the free-space calls of the path "D:\": distinct quota,
// total and free counts, and a free size beyond 32 bits from the clusters.
template <class Ch>
BOOL WINAPI FakeDiskFreeEx(const Ch* path, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free) {
    EXPECT_EQ(path[0], 'D');
    available->QuadPart = 1, total->QuadPart = 2, free->QuadPart = 0x123456789A;
    return TRUE;
}
template <class Ch>
BOOL WINAPI FakeDiskFree(const Ch* path, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector, LPDWORD free, LPDWORD total) {
    EXPECT_EQ(path[0], 'D');
    *sectorsPerCluster = 8, *bytesPerSector = 512, *free = 0x300000, *total = 7;  // 12 GiB free
    return TRUE;
}

TEST(FreeSpace, TheDiskFreeBytesThroughTheLoggerGiven) {
    testsupport::TraceCapture given, library;  // LibraryLog is the second
    using vlibprint_detail::LogFreeSpace;
    LogFreeSpace(L"D:\\", given.log(), FakeDiskFreeEx<WCHAR>, FakeDiskFree<WCHAR>);
    LogFreeSpace("D:\\", given.log(), FakeDiskFreeEx<CHAR>, FakeDiskFree<CHAR>);
    LogFreeSpace(L"D:\\", given.log(), nullptr, FakeDiskFree<WCHAR>);
    LogFreeSpace("D:\\", given.log(), nullptr, FakeDiskFree<CHAR>);
    LogFreeSpaceW(L"C:\\", given.log());  // the system's calls
    LogFreeSpaceA("C:\\", given.log());
    const Lines lines = given.Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 4),
              (Lines{"LogFreeSpaceW => free bytes ex = 78187493530", "LogFreeSpaceA => free bytes ex = 78187493530",
                     "LogFreeSpaceW => free bytes = 12884901888", "LogFreeSpaceA => free bytes = 12884901888"}));
    EXPECT_EQ(lines[4].rfind("LogFreeSpaceW => free bytes ex = ", 0), 0u) << lines[4];
    EXPECT_EQ(lines[5].rfind("LogFreeSpaceA => free bytes ex = ", 0), 0u) << lines[5];
    EXPECT_TRUE(library.Lines().empty());
}

}  // namespace
