// The entry point: the client's own log, the start-up lines, the command line
// split and its options acted on in order.
#include <gtest/gtest.h>

#include <algorithm>

#include "client/entry.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"
#include "log/trace_log.h"
#include "printer/printer_keys.h"
#include "support/registry_steering.h"
#include "support/temp_dir.h"

using namespace testsupport;

namespace {

using Lines = std::vector<std::string>;
using Deletes = std::vector<std::pair<HKEY, size_t>>;
const char* const kSeparator = "====================================================================";
// What the fake print system reports as the OS version.
const char* const kVersionLine = "KVCLIENT => Client OS Version is (2)(6.1.7601)(Service Pack 1)";

// Printers-key deletions as the registry table saw them, each with the
// EnumPrinters calls the refresh runs made before it; the split can fail.
Deletes g_deletes;
const fake::FakePrintSystem* g_fake = nullptr;
bool g_splitFails = false;
DWORD WINAPI RecordingDeleteKey(HKEY root, LPCWSTR subkey) {
    EXPECT_STREQ(subkey, kPrintersKey);
    g_deletes.emplace_back(root, devcaps_test::ArgsOf(*g_fake, fake::Op::EnumPrinters).size());
    return ERROR_FILE_NOT_FOUND;  // the keys do not exist
}
LPWSTR* WINAPI FailingSplit(LPCWSTR commandLine, int* count) {
    return g_splitFails ? nullptr : platform::RealShell().CommandLineToArgvW(commandLine, count);
}

class ClientEntry : public ::testing::Test {
protected:
    void SetUp() override { g_fake = &fake_; }
    void TearDown() override {
        TraceLogDestroy(ClientLog);
        ClientLog = LibraryLog = nullptr;
    }
    void ConfigureLog(DWORD log, const std::wstring& path, DWORD logType = REG_DWORD) {
        registry_.SetValue(HKEY_LOCAL_MACHINE, kClientKey, L"Log", logType, &log, 4);
        registry_.SetString(HKEY_LOCAL_MACHINE, kClientKey, L"LogPath", path);
    }
    // Runs the client on a fresh log file and gives the file's lines; an
    // expected result of 0 makes the command-line split fail.
    Lines Run(const WCHAR* commandLine, int expected = 1) {
        g_deletes.clear();
        fake_.ClearCalls();
        g_splitFails = expected == 0;
        ::DeleteFileW(path_.c_str());
        platform::RegistryApi api = platform::registry;
        api.SHDeleteKeyW = RecordingDeleteKey;
        platform::ScopedApi<platform::RegistryApi> recording(platform::registry, api);
        platform::ScopedApi<platform::ShellApi> shell(platform::shell, platform::ShellApi{FailingSplit});
        EXPECT_EQ(ClientMain(commandLine), expected);
        EXPECT_EQ(LibraryLog, ClientLog);
        return ReadLogLines(path_);
    }

    RegistrySteering registry_;
    fake::FakePrintSystem fake_;  // version answers; the refresh run of -q finds no printers
    TempDir dir_;
    const std::wstring path_ = dir_.File(std::wstring(120, L'c') + L".log");  // more than 128 characters in all
};

TEST_F(ClientEntry, NoLogWhenSwitchedOffOrThePathCannotHoldAFile) {
    TraceLog* const earlier = ClientLog = TraceLogCreate(dir_.File(L"earlier.log").c_str(), 0);
    ConfigureLog(0, path_);  // a valid path, but the switch is off: the earlier logger stays
    Run(L"kvclient.exe");
    EXPECT_EQ(ClientLog, earlier);
    EXPECT_EQ(ReadLogLines(dir_.File(L"earlier.log")).size(), 3u);
    EXPECT_FALSE(FileExists(path_));
    TraceLogDestroy(earlier);

    ClientLog = nullptr;
    ConfigureLog(1, dir_.File(L"missing\\client.log"));
    Run(L"kvclient.exe -x");
    EXPECT_EQ(ClientLog, nullptr);
    EXPECT_FALSE(FileExists(dir_.File(L"missing")));
    EXPECT_EQ(g_deletes, (Deletes{{HKEY_CURRENT_USER, 0}}));  // the options still run
}

TEST_F(ClientEntry, ProgramPathAloneWritesTheStartUpLinesAndAFailedSplitGivesZero) {
    ConfigureLog(0x10000, path_, REG_BINARY);  // the switch is read as four bytes whatever its type
    EXPECT_EQ(Run(L"\"C:\\Program Files\\kvclient.exe\"  "),
              (Lines{kSeparator, kVersionLine, "KVCLIENT => commandline = \"C:\\Program Files\\kvclient.exe\"  "}));
    EXPECT_EQ(fake_.calls().back().arg, 276);  // the OSVERSIONINFOW size handed to GetVersionExW

    EXPECT_EQ(Run(L"kvclient.exe -x", 0),
              (Lines{kSeparator, kVersionLine, "KVCLIENT => couldn't process commandline"}));
    EXPECT_TRUE(g_deletes.empty());
}

TEST_F(ClientEntry, OptionsInEitherCaseActEachTimeInOrderAndUnknownWordsAreIgnored) {
    ConfigureLog(1, path_);
    // Deleting keys that do not exist and the words that are no option add no
    // line; the refresh run of -q, with no printer to refresh, adds only its
    // enumeration lines (two EnumPrinters calls). "-d -Q" clears before the
    // refresh, "-Q -d" after it.
    const struct { const WCHAR* commandLine; Deletes deletes; size_t enumerations; } cases[] = {
        {L"kvclient.exe -D x -X -d q", {{HKEY_LOCAL_MACHINE, 0}, {HKEY_CURRENT_USER, 0}, {HKEY_LOCAL_MACHINE, 0}}, 0},
        {L"kvclient.exe -d -Q -d -q", {{HKEY_LOCAL_MACHINE, 0}, {HKEY_LOCAL_MACHINE, 2}}, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.commandLine));
        Lines own, lines = Run(c.commandLine);
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(own),
                     [](const std::string& line) { return line.rfind("vlibPRINT_EnumeratePrinters", 0) != 0; });
        EXPECT_EQ(own, (Lines{kSeparator, kVersionLine, "KVCLIENT => commandline = " + Narrow(c.commandLine)}));
        EXPECT_EQ(g_deletes, c.deletes);
        EXPECT_EQ(devcaps_test::ArgsOf(fake_, fake::Op::EnumPrinters).size(), c.enumerations);
    }
}

}  // namespace
