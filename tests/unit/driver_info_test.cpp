// Printer and driver look-ups against the fake spooler: printer and driver
// information blocks, driver names, remote driver records, share and full
// names, and the free-space traces.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fake/fake_print_system.h"
#include "log/trace_log.h"
#include "platform/kernel.h"
#include "print/driver_info.h"
#include "support/temp_dir.h"

namespace {

using fake::FakePrintSystem;
using fake::Op;
using Lines = std::vector<std::string>;

class LibraryTrace {
public:
    LibraryTrace() : path_(dir_.File(L"library.log")) {
        log_ = TraceLogCreate(path_.c_str(), 0);
        LibraryLog = log_;
    }
    ~LibraryTrace() {
        LibraryLog = nullptr;
        TraceLogDestroy(log_);
    }
    LibraryTrace(const LibraryTrace&) = delete;
    LibraryTrace& operator=(const LibraryTrace&) = delete;
    Lines Read() const { return testsupport::ReadLogLines(path_); }
    TraceLog* log() const { return log_; }
    const testsupport::TempDir& dir() const { return dir_; }

private:
    testsupport::TempDir dir_;
    std::wstring path_;
    TraceLog* log_ = nullptr;
};

// Frees a heap block handed out by the library when the test ends.
struct Block {
    explicit Block(LPBYTE p) : bytes(p) {}
    ~Block() { platform::HeapFreeBlock(bytes); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    size_t size() const { return bytes ? ::HeapSize(::GetProcessHeap(), 0, bytes) : 0; }
    // The text lies wholly inside the block.
    bool Holds(const WCHAR* text, size_t chars) const {
        const BYTE* at = reinterpret_cast<const BYTE*>(text);
        return at >= bytes && at + chars * sizeof(WCHAR) <= bytes + size();
    }
    bool Holds(const WCHAR* text) const { return text && Holds(text, std::wcslen(text) + 1); }
    LPBYTE bytes;
};

HANDLE Open(const wchar_t* name) {
    HANDLE handle = nullptr;
    platform::spooler.OpenPrinterW(const_cast<LPWSTR>(name), &handle, nullptr);
    return handle;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The accesses asked for by the OpenPrinterW calls so far.
std::vector<int> OpenAccesses(const FakePrintSystem& fake) {
    std::vector<int> accesses;
    for (const auto& call : fake.calls())
        if (call.op == Op::OpenPrinter) accesses.push_back(call.arg);
    return accesses;
}

// ------------------------------------------------------------ printer information

TEST(PrinterInfo, ReturnsTheWholeLevelTwoBlock) {
    FakePrintSystem fake;
    fake.AddPrinter(L"Office Laser").shareName = L"laser";
    HANDLE handle = Open(L"Office Laser");
    LibraryTrace trace;

    Block block(vlibPRINT_GetPrinterInfo(handle, 2));

    ASSERT_NE(block.bytes, nullptr);
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(block.bytes);
    EXPECT_STREQ(info->pPrinterName, L"Office Laser");
    EXPECT_STREQ(info->pShareName, L"laser");
    EXPECT_TRUE(block.Holds(info->pPrinterName));
    ASSERT_NE(info->pDevMode, nullptr);
    EXPECT_EQ(info->pDevMode->dmSize, sizeof(DEVMODEW));
    EXPECT_EQ(trace.Read(), (Lines{"vlibPRINT_GetPrinterInfo => ",
                                   "vlibPRINT_GetPrinterInfo => Got Printer Info successfully, returning"}));
    platform::spooler.ClosePrinter(handle);
}

TEST(PrinterInfo, FailuresAndDriverFaultsGiveNull) {
    struct Case {
        const char* what;
        DWORD level;
        Op faultOrFail;
        int call;
        DWORD error;  // 0: the call faults inside the driver
        std::string lastLine;
    };
    const Case cases[] = {
        {"unknown level", 3, Op::kCount, 0, 0,
         "vlibPRINT_GetPrinterInfo => Not Insufficient Buffer? impossible i say. (no printer info available)"},
        {"size query denied", 2, Op::GetPrinter, 1, ERROR_ACCESS_DENIED,
         "vlibPRINT_GetPrinterInfo => Not Insufficient Buffer? impossible i say. (no printer info available)"},
        {"fetch fails", 2, Op::GetPrinter, 2, ERROR_ACCESS_DENIED, "vlibPRINT_GetPrinterInfo => error"},
        {"size query faults", 2, Op::GetPrinter, 1, 0,
         "vlibPRINT_GetPrinterInfo => exception occurred during GetPrinter"},
        {"fetch faults", 2, Op::GetPrinter, 2, 0, "vlibPRINT_GetPrinterInfo => exception occurred during GetPrinter"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePrintSystem fake;
        fake.AddPrinter(L"P");
        HANDLE handle = Open(L"P");
        if (c.faultOrFail != Op::kCount) {
            if (c.error)
                fake.FailOn(c.faultOrFail, c.call, c.error);
            else
                fake.FaultOn(c.faultOrFail, c.call);
        }
        LibraryTrace trace;

        EXPECT_EQ(vlibPRINT_GetPrinterInfo(handle, c.level), nullptr);

        const Lines lines = trace.Read();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), c.lastLine);
        platform::spooler.ClosePrinter(handle);
    }
}

// ------------------------------------------------------------ driver information

TEST(DriverInfo, ReturnsTheDriverRecordOfTheOpenPrinter) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    HANDLE handle = Open(L"P");
    LibraryTrace trace;

    Block block(GetDriverInfo(handle, 3));

    ASSERT_NE(block.bytes, nullptr);
    const auto* info = reinterpret_cast<const DRIVER_INFO_3W*>(block.bytes);
    EXPECT_EQ(info->cVersion, 3u);
    EXPECT_STREQ(info->pName, L"Fake Laser Driver");
    EXPECT_STREQ(info->pDependentFiles, L"fake1.dll");
    EXPECT_EQ(trace.Read(), (Lines{"GetDriverInfo => entering"}));
    // The default environment is asked for: no environment string passed.
    EXPECT_EQ(fake.calls().back().op, Op::GetPrinterDriver);
    EXPECT_EQ(fake.calls().back().arg, 3);
    platform::spooler.ClosePrinter(handle);
}

TEST(DriverInfo, DriverTheSpoolerCannotDescribe) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P").driverName = L"Vanished Driver";  // no driver of that name is installed
    HANDLE handle = Open(L"P");
    LibraryTrace trace;

    EXPECT_EQ(GetDriverInfo(handle, 1), nullptr);

    const Lines lines = trace.Read();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "GetDriverInfo => entering");
    EXPECT_TRUE(StartsWith(lines[1], "ERROR " + std::to_string(ERROR_UNKNOWN_PRINTER_DRIVER) + ": ")) << lines[1];
    EXPECT_EQ(lines[2], "GetDriverInfo => didn't get size required?");
    EXPECT_EQ(fake.Count(Op::GetPrinterDriver), 1);
    platform::spooler.ClosePrinter(handle);
}

TEST(DriverInfo, FailingFetchTracesTheErrorAndGivesNull) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    HANDLE handle = Open(L"P");
    fake.FailOn(Op::GetPrinterDriver, 2, ERROR_ACCESS_DENIED);
    LibraryTrace trace;

    EXPECT_EQ(GetDriverInfo(handle, 2), nullptr);

    const Lines lines = trace.Read();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(StartsWith(lines[1], "ERROR 5: ")) << lines[1];
    EXPECT_EQ(lines[2], "GetDriverInfo => error:");
    platform::spooler.ClosePrinter(handle);
}

// ------------------------------------------------------------ driver name

TEST(DriverName, NamesTheDriverOfAKnownPrinter) {
    FakePrintSystem fake;
    fake.AddPrinter(L"Office Laser").driverName = L"Laser Driver 5";
    fake.AddDriver(L"Laser Driver 5");
    LibraryTrace trace;

    EXPECT_EQ(vlibPRINT_GetDriverName(L"Office Laser"), L"Laser Driver 5");

    EXPECT_EQ(trace.Read(), (Lines{
                                "vlibPRINT_GetDriverName => printer: Office Laser",
                                "vlibPRINT_GetDriverName => printer Opened",
                                "GetDriverInfo => entering",
                                "vlibPRINT_GetDriverName => driver name: Laser Driver 5",
                            }));
    EXPECT_EQ(OpenAccesses(fake), std::vector<int>{PRINTER_ACCESS_USE});
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

TEST(DriverName, EmptyWhenThePrinterOrItsDriverIsUnknown) {
    FakePrintSystem fake;
    fake.AddPrinter(L"No Driver").driverName = L"Vanished Driver";
    fake.AddPrinter(L"Faulting");
    {
        LibraryTrace trace;
        EXPECT_EQ(vlibPRINT_GetDriverName(L"Nobody"), L"");
        EXPECT_EQ(trace.Read(), (Lines{"vlibPRINT_GetDriverName => printer: Nobody",
                                       "vlibPRINT_GetDriverName => OpenPrinter failed"}));
    }
    {
        LibraryTrace trace;
        EXPECT_EQ(vlibPRINT_GetDriverName(L"No Driver"), L"");
        const Lines lines = trace.Read();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "GetDriverInfo => didn't get size required?");
    }
    {
        fake.FaultOn(Op::OpenPrinter, fake.Count(Op::OpenPrinter) + 1);
        LibraryTrace trace;
        EXPECT_EQ(vlibPRINT_GetDriverName(L"Faulting"), L"");
        EXPECT_EQ(trace.Read(), (Lines{"vlibPRINT_GetDriverName => printer: Faulting",
                                       "vlibPRINT_GetDriverName => exception occurred during OpenPrinter",
                                       "vlibPRINT_GetDriverName => OpenPrinter failed"}));
    }
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

// ------------------------------------------------------------ remote driver records

// Three drivers, two of them versions of one driver under names that differ in case.
void AddTwoVersions(FakePrintSystem& fake) {
    fake::FakeDriver& older = fake.AddDriver(L"Alpha");
    older.version = 2;
    older.provider = L"Old Provider";
    older.dependentFiles = {L"old.dll"};
    fake.AddDriver(L"Beta").version = 4;
    fake::FakeDriver& newer = fake.AddDriver(L"ALPHA");
    newer.version = 3;
    newer.dependentFiles = {L"new1.dll", L"new2.dat"};
    newer.previousNames = {L"Alpha Classic"};
}

TEST(RemoteDriverInfo, LastMatchingVersionWinsAtEveryLevel) {
    for (DWORD level = 1; level <= 6; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        FakePrintSystem fake;
        AddTwoVersions(fake);

        Block block(NDGetRemoteDriverInfo(L"\\\\printsrv", L"alpha", level));

        ASSERT_NE(block.bytes, nullptr);
        EXPECT_GE(block.size(), vlibPRINT_DriverInfoRecordSize(level));
        if (level == 1) {
            EXPECT_STREQ(reinterpret_cast<const DRIVER_INFO_1W*>(block.bytes)->pName, L"ALPHA");
            continue;
        }
        const auto* info = reinterpret_cast<const DRIVER_INFO_2W*>(block.bytes);
        EXPECT_EQ(info->cVersion, 3u);
        EXPECT_STREQ(info->pName, L"ALPHA");
        EXPECT_STREQ(info->pEnvironment, L"Windows NT x86");
        EXPECT_EQ(fake.calls().back().text, L"Windows NT x86");
        EXPECT_EQ(fake.calls().back().arg, static_cast<int>(level));
    }
}

// The returned block stands on its own: every string it points to lies
// inside it, the multi-strings with all their entries.
TEST(RemoteDriverInfo, StringsAreHeldInTheReturnedBlock) {
    for (DWORD level = 1; level <= 6; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        FakePrintSystem fake;
        AddTwoVersions(fake);

        Block block(NDGetRemoteDriverInfo(L"", L"Alpha", level));

        ASSERT_NE(block.bytes, nullptr);
        const auto* info6 = reinterpret_cast<const DRIVER_INFO_6W*>(block.bytes);
        if (level == 1) {
            EXPECT_TRUE(block.Holds(reinterpret_cast<const DRIVER_INFO_1W*>(block.bytes)->pName));
            continue;
        }
        for (const WCHAR* text : {info6->pName, info6->pEnvironment, info6->pDriverPath, info6->pDataFile,
                                  info6->pConfigFile})
            EXPECT_TRUE(block.Holds(text));
        if (level == 2 || level == 5) continue;
        EXPECT_TRUE(block.Holds(info6->pHelpFile));
        EXPECT_TRUE(block.Holds(info6->pDefaultDataType));
        EXPECT_EQ(info6->pMonitorName, nullptr);  // a null field stays null
        const wchar_t files[] = L"new1.dll\0new2.dat\0";
        ASSERT_TRUE(block.Holds(info6->pDependentFiles, sizeof(files) / sizeof(WCHAR)));
        EXPECT_EQ(std::memcmp(info6->pDependentFiles, files, sizeof(files)), 0);
        if (level == 3) continue;
        const wchar_t previous[] = L"Alpha Classic\0";
        ASSERT_TRUE(block.Holds(info6->pszzPreviousNames, sizeof(previous) / sizeof(WCHAR)));
        EXPECT_EQ(std::memcmp(info6->pszzPreviousNames, previous, sizeof(previous)), 0);
        if (level == 4) continue;
        EXPECT_TRUE(block.Holds(info6->pszProvider));
        EXPECT_STREQ(info6->pszProvider, L"Fake Provider");  // the newer driver's, not "Old Provider"
        EXPECT_STREQ(info6->pszMfgName, L"Fake Corp");
        EXPECT_TRUE(block.Holds(info6->pszHardwareID));
        EXPECT_TRUE(block.Holds(info6->pszOEMUrl));
    }
}

TEST(RemoteDriverInfo, TraceOfAWalkOverAllDrivers) {
    FakePrintSystem fake;
    AddTwoVersions(fake);
    LibraryTrace trace;

    Block block(NDGetRemoteDriverInfo(L"\\\\printsrv", L"Alpha", 2));

    EXPECT_NE(block.bytes, nullptr);
    EXPECT_EQ(trace.Read(), (Lines{
                                "NDGetRemoteDriverInfo => \\\\printsrv; Alpha",
                                "NDGetRemoteDriverInfo => drivers enumerated",
                                "NDGetRemoteDriverInfo => number of drivers: 3",
                                "NDGetRemoteDriverInfo => driver: Alpha",
                                "NDGetRemoteDriverInfo => driver: Beta",
                                "NDGetRemoteDriverInfo => driver: ALPHA",
                                "NDGetRemoteDriverInfo => returning info",
                            }));
}

TEST(RemoteDriverInfo, NoMatchNoDriversAndUnknownLevels) {
    {
        FakePrintSystem fake;
        AddTwoVersions(fake);
        LibraryTrace trace;
        EXPECT_EQ(NDGetRemoteDriverInfo(L"", L"Gamma", 4), nullptr);
        EXPECT_EQ(trace.Read().back(), "NDGetRemoteDriverInfo => returning info");  // a clean walk, nothing found
    }
    {
        FakePrintSystem fake;
        LibraryTrace trace;
        EXPECT_EQ(NDGetRemoteDriverInfo(L"", L"Alpha", 2), nullptr);
        EXPECT_EQ(trace.Read(), (Lines{
                                    "NDGetRemoteDriverInfo => ; Alpha",
                                    "NDGetRemoteDriverInfo => drivers enumerated",
                                    "NDGetRemoteDriverInfo => number of drivers: 0",
                                    "NDGetRemoteDriverInfo => no drivers, failing out",
                                    "NDGetRemoteDriverInfo => returning failure",
                                }));
    }
    {
        // Level 7 refused by the spooler.
        FakePrintSystem fake;
        AddTwoVersions(fake);
        LibraryTrace trace;
        EXPECT_EQ(NDGetRemoteDriverInfo(L"", L"Alpha", 7), nullptr);
        EXPECT_EQ(trace.Read(), (Lines{
                                    "NDGetRemoteDriverInfo => ; Alpha",
                                    "NDGetRemoteDriverInfo => enumeration failed",
                                    "NDGetRemoteDriverInfo => returning failure",
                                }));
    }
    {
        // Level 7 answered with records the library cannot walk.
        FakePrintSystem fake;
        AddTwoVersions(fake);
        fake.AnswerDriverLevelAs(7, 6);
        LibraryTrace trace;
        EXPECT_EQ(NDGetRemoteDriverInfo(L"", L"Alpha", 7), nullptr);
        EXPECT_EQ(trace.Read(), (Lines{
                                    "NDGetRemoteDriverInfo => ; Alpha",
                                    "NDGetRemoteDriverInfo => drivers enumerated",
                                    "NDGetRemoteDriverInfo => number of drivers: 3",
                                    "NDGetRemoteDriverInfo => unknown info level: 7",
                                    "NDGetRemoteDriverInfo => returning failure",
                                }));
    }
}

// ------------------------------------------------------------ share and full names

TEST(NativeNames, ShareNameOfRemoteLocalAndUnknownPrinters) {
    FakePrintSystem fake;
    fake::FakePrinter& remote = fake.AddPrinter(L"\\\\srv\\Laser");
    remote.connection = true;
    remote.serverName = L"\\\\srv";
    remote.shareName = L"Laser";
    remote.attributes = PRINTER_ATTRIBUTE_NETWORK | PRINTER_ATTRIBUTE_SHARED;
    fake.AddPrinter(L"Local Unshared");
    fake.AddPrinter(L"Local Shared").shareName = L"DeskShare";

    {
        LibraryTrace trace;
        EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"\\\\srv\\Laser"), L"\\\\srv\\Laser");
        EXPECT_EQ(trace.Read(), (Lines{
                                    "vlibPRINT_GetNativePrinterShareName => \\\\srv\\Laser",
                                    "vlibPRINT_GetNativePrinterShareName => printer Opened",
                                    "vlibPRINT_GetPrinterInfo => ",
                                    "vlibPRINT_GetPrinterInfo => Got Printer Info successfully, returning",
                                    "vlibPRINT_GetNativePrinterShareName => share name: \\\\srv\\Laser",
                                }));
    }
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"Local Unshared"), L"");
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"Local Shared"), L"DeskShare");
    {
        LibraryTrace trace;
        EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"Nobody"), L"");
        EXPECT_EQ(trace.Read(), (Lines{"vlibPRINT_GetNativePrinterShareName => Nobody",
                                       "vlibPRINT_GetNativePrinterShareName => OpenPrinter failed"}));
    }
    // Information that cannot be read leaves nothing to name.
    fake.FailOn(Op::GetPrinter, fake.Count(Op::GetPrinter) + 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(vlibPRINT_GetNativePrinterShareName(L"\\\\srv\\Laser"), L"");

    EXPECT_EQ(OpenAccesses(fake), std::vector<int>(5, PRINTER_ACCESS_USE));
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

TEST(NativeNames, FullNameFallsBackToTheGivenName) {
    FakePrintSystem fake;
    fake.AddPrinter(L"Office Laser");
    {
        LibraryTrace trace;
        EXPECT_EQ(vlibPRINT_GetNativePrinterFullName(L"Office Laser"), L"Office Laser");
        const Lines lines = trace.Read();
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_EQ(lines[0], "vlibPRINT_GetNativePrinterFullName => Office Laser");
        EXPECT_EQ(lines[1], "vlibPRINT_GetNativePrinterFullName => printer Opened");
        EXPECT_EQ(lines[4], "vlibPRINT_GetNativePrinterFullName => full name: Office Laser");
    }
    // Level-2 information that cannot be read, by refusal or by a driver fault.
    fake.FailOn(Op::GetPrinter, fake.Count(Op::GetPrinter) + 2, ERROR_ACCESS_DENIED);
    EXPECT_EQ(vlibPRINT_GetNativePrinterFullName(L"Office Laser"), L"Office Laser");
    fake.FaultOn(Op::GetPrinter, fake.Count(Op::GetPrinter) + 1);
    EXPECT_EQ(vlibPRINT_GetNativePrinterFullName(L"Office Laser"), L"Office Laser");
    // A printer that cannot be opened has no name at all.
    {
        LibraryTrace trace;
        EXPECT_EQ(vlibPRINT_GetNativePrinterFullName(L"Nobody"), L"");
        EXPECT_EQ(trace.Read().back(), "vlibPRINT_GetNativePrinterFullName => OpenPrinter failed");
    }
    EXPECT_EQ(fake.Count(Op::GetPrinter), 5);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

// ------------------------------------------------------------ free space

long long NumberAfter(const std::string& line, const std::string& prefix) {
    if (!StartsWith(line, prefix)) return -1;
    return std::stoll(line.substr(prefix.size()));
}

// Other processes write to the disk meanwhile: compare up to a margin.
constexpr long long kSlack = 256ll << 20;

TEST(FreeSpace, BothPathsReportTheDisksFreeBytes) {
    LibraryTrace trace;
    const std::wstring folder = trace.dir().path() + L"\\";
    const std::string narrowFolder = testsupport::Narrow(folder);
    ULARGE_INTEGER available = {}, total = {}, free = {};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(folder.c_str(), &available, &total, &free));
    const long long expected = static_cast<long long>(free.QuadPart);

    LogFreeSpaceW(folder.c_str(), trace.log());
    LogFreeSpaceA(narrowFolder.c_str(), trace.log());
    vlibprint_detail::LogFreeSpaceW(folder.c_str(), trace.log(), false);
    vlibprint_detail::LogFreeSpaceA(narrowFolder.c_str(), trace.log(), false);

    const Lines lines = trace.Read();
    ASSERT_EQ(lines.size(), 4u);
    const long long reported[] = {
        NumberAfter(lines[0], "LogFreeSpaceW => free bytes ex = "),
        NumberAfter(lines[1], "LogFreeSpaceA => free bytes ex = "),
        NumberAfter(lines[2], "LogFreeSpaceW => free bytes = "),
        NumberAfter(lines[3], "LogFreeSpaceA => free bytes = "),
    };
    // The older call's product must not wrap at 32 bits on a disk with more than 4 GB free.
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_GT(reported[i], 0);
        EXPECT_LT(std::llabs(reported[i] - expected), kSlack);
    }
}

}  // namespace
