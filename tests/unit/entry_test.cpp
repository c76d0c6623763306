#include <gtest/gtest.h>

#include <algorithm>

#include "client/entry.h"
#include "fake/fake_print_system.h"
#include "log/trace_log.h"
#include "printer/printer_keys.h"
#include "support/temp_dir.h"

using namespace testsupport;

namespace {

using Lines = std::vector<std::string>;
using Roots = std::vector<HKEY>;
const char* const kSeparator = "====================================================================";
// What the fake print system reports as the OS version.
const char* const kVersionLine = "KVCLIENT => Client OS Version is (2)(6.1.7601)(Service Pack 1)";

// Printers-key deletions as the registry table saw them (passed on to the
// real registry, where the keys do not exist); the split can fail.
Roots g_deletes;
bool g_splitFails = false;
DWORD WINAPI RecordingDeleteKey(HKEY root, LPCWSTR subkey) {
    EXPECT_STREQ(subkey, kPrintersKey);
    g_deletes.push_back(root);
    return platform::RealRegistry().SHDeleteKeyW(root, subkey);
}
LPWSTR* WINAPI FailingSplit(LPCWSTR commandLine, int* count) {
    return g_splitFails ? nullptr : platform::RealRegistry().CommandLineToArgvW(commandLine, count);
}

class ClientEntry : public ::testing::Test {
protected:
    void SetUp() override { RemoveKeys(); }
    void TearDown() override {
        TraceLogDestroy(ClientLog);
        ClientLog = LibraryLog = nullptr;
        RemoveKeys();
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            for (const WCHAR* key : {kProductKey, L"SOFTWARE\\Vantrel"}) ::RegDeleteKeyW(root, key);  // when empty
    }
    static void RemoveKeys() {
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kClientKey);
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) ::SHDeleteKeyW(root, kPrintersKey);
    }
    void ConfigureLog(DWORD log, const std::wstring& path, DWORD logType = REG_DWORD) {
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kClientKey, L"Log", logType, &log, 4);
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kClientKey, L"LogPath", REG_SZ, path.c_str(), DWORD(2 * path.size() + 2));
    }
    // Runs the client on a fresh log file and gives the file's lines; an
    // expected result of 0 makes the command-line split fail.
    Lines Run(const WCHAR* commandLine, int expected = 1) {
        g_deletes.clear();
        g_splitFails = expected == 0;
        ::DeleteFileW(path_.c_str());
        platform::RegistryApi api = platform::RealRegistry();
        api.SHDeleteKeyW = RecordingDeleteKey;
        api.CommandLineToArgvW = FailingSplit;
        platform::ScopedApi<platform::RegistryApi> registry(platform::registry, api);
        EXPECT_EQ(ClientMain(commandLine), expected);
        EXPECT_EQ(LibraryLog, ClientLog);
        return ReadLogLines(path_);
    }

    fake::FakePrintSystem fake_;  // version answers; the refresh run of -q finds no printers
    TempDir dir_;
    const std::wstring path_ = dir_.File(L"client.log");
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
    EXPECT_EQ(g_deletes, Roots{HKEY_CURRENT_USER});  // the options still run
}

TEST_F(ClientEntry, ProgramPathAloneWritesTheStartUpLinesAndAFailedSplitGivesZero) {
    ConfigureLog(0x10000, path_, REG_BINARY);  // the switch is read as four bytes whatever its type
    EXPECT_EQ(Run(L"\"C:\\Program Files\\kvclient.exe\"  "),
              (Lines{kSeparator, kVersionLine, "KVCLIENT => commandline = \"C:\\Program Files\\kvclient.exe\"  "}));
    EXPECT_EQ(fake_.calls().back().arg, 276);  // the OSVERSIONINFOW size handed to GetVersionExW
    EXPECT_TRUE(g_deletes.empty());

    EXPECT_EQ(Run(L"kvclient.exe -x", 0),
              (Lines{kSeparator, kVersionLine, "KVCLIENT => couldn't process commandline"}));
    EXPECT_TRUE(g_deletes.empty());
}

TEST_F(ClientEntry, OptionsInEitherCaseActEachTimeInOrderAndUnknownWordsAreIgnored) {
    ConfigureLog(1, path_);
    // Deleting keys that do not exist, the second deletion and the unknown
    // word add no line; the refresh run of -q, with no printer to refresh,
    // writes only its enumeration lines, once.
    Lines own, lines = Run(L"kvclient.exe -x -X -q -unknown");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "vlibPRINT_EnumeratePrinters =>"), 1);
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(own),
                 [](const std::string& line) { return line.rfind("vlibPRINT_EnumeratePrinters", 0) != 0; });
    EXPECT_EQ(own, (Lines{kSeparator, kVersionLine, "KVCLIENT => commandline = kvclient.exe -x -X -q -unknown"}));
    EXPECT_EQ(g_deletes, (Roots{HKEY_CURRENT_USER, HKEY_CURRENT_USER}));

    EXPECT_EQ(Run(L"kvclient.exe -D x -x -d q"),
              (Lines{kSeparator, kVersionLine, "KVCLIENT => commandline = kvclient.exe -D x -x -d q"}));
    EXPECT_EQ(g_deletes, (Roots{HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}));
}

}  // namespace
