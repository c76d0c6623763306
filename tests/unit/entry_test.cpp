#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/entry.h"
#include "fake/fake_print_system.h"
#include "log/trace_log.h"
#include "printer/printer_keys.h"
#include "support/temp_dir.h"

using testsupport::FileExists;
using testsupport::ReadLogLines;
using testsupport::TempDir;

namespace {

using Lines = std::vector<std::string>;
const char* const kSeparator = "====================================================================";
// What the fake print system reports as the OS version.
const char* const kVersionLine = "KVCLIENT => Client OS Version is (2)(6.1.7601)(Service Pack 1)";

// Key tree deletions as the registry table saw them; the split can fail.
std::vector<HKEY> g_deletes;
bool g_splitFails = false;

DWORD WINAPI RecordingDeleteKey(HKEY root, LPCWSTR subkey) {
    EXPECT_STREQ(subkey, kPrintersKey);
    g_deletes.push_back(root);
    return platform::RealRegistry().SHDeleteKeyW(root, subkey);
}
LPWSTR* WINAPI FailingSplit(LPCWSTR commandLine, int* count) {
    return g_splitFails ? nullptr : platform::RealRegistry().CommandLineToArgvW(commandLine, count);
}

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

void SetValue(HKEY root, const std::wstring& path, const WCHAR* name, DWORD type, const void* data, size_t bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    ASSERT_EQ(::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes)), 0);
    ::RegCloseKey(key);
}

class ClientEntry : public ::testing::Test {
protected:
    void SetUp() override {
        g_deletes.clear();
        g_splitFails = false;
        TearDownKeys();
        const DWORD one = 1;  // a printer subkey with a value under both roots
        SetValue(HKEY_LOCAL_MACHINE, std::wstring(kPrintersKey) + L"\\Office", L"dwAnsiOnly", REG_DWORD, &one, 4);
        SetValue(HKEY_CURRENT_USER, std::wstring(kPrintersKey) + L"\\Office", L"dwAnsiOnly", REG_DWORD, &one, 4);
    }
    void TearDown() override {
        TraceLogDestroy(ClientLog);
        ClientLog = LibraryLog = nullptr;
        TearDownKeys();
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProductKey);  // no empty parents left behind
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kProductKey);
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel");
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Vantrel");
    }
    static void TearDownKeys() {
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kClientKey);
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kPrintersKey);
        ::SHDeleteKeyW(HKEY_CURRENT_USER, kPrintersKey);
    }
    void ConfigureLog(DWORD log, const std::wstring& path) {
        SetValue(HKEY_LOCAL_MACHINE, kClientKey, L"Log", REG_DWORD, &log, 4);
        SetValue(HKEY_LOCAL_MACHINE, kClientKey, L"LogPath", REG_SZ, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    }
    Lines Run(const WCHAR* commandLine, int expected) {
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
    Run(L"kvclient.exe", 1);
    EXPECT_EQ(ClientLog, earlier);
    EXPECT_EQ(ReadLogLines(dir_.File(L"earlier.log")).size(), 3u);
    EXPECT_FALSE(FileExists(path_));
    TraceLogDestroy(earlier);
    ClientLog = nullptr;

    ConfigureLog(1, dir_.File(L"missing\\client.log"));
    Run(L"kvclient.exe -x", 1);
    EXPECT_EQ(ClientLog, nullptr);
    EXPECT_FALSE(FileExists(dir_.File(L"missing")));
    EXPECT_EQ(g_deletes, std::vector<HKEY>{HKEY_CURRENT_USER});  // the options still run
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kPrintersKey));
}

TEST_F(ClientEntry, LogSwitchIsReadAsFourBytesWhateverItsType) {
    ConfigureLog(0, path_);
    const BYTE on[4] = {0, 0, 1, 0};
    SetValue(HKEY_LOCAL_MACHINE, kClientKey, L"Log", REG_BINARY, on, sizeof(on));
    WCHAR buffer[256] = L"untouched";
    EXPECT_EQ(ReadRegistryLogPath(kClientKey, L"Log", L"LogPath", buffer), 0x10000u);
    EXPECT_EQ(std::wstring(buffer), path_);
    CHAR narrow[256] = "";
    EXPECT_EQ(ReadRegistryLogPathA(testsupport::Narrow(kClientKey).c_str(), "Log", "LogPath", narrow), 0x10000u);
    EXPECT_EQ(std::string(narrow), testsupport::Narrow(path_));
    EXPECT_EQ(ReadRegistryLogPath(kClientKey, L"NoSwitch", L"LogPath", buffer), 0u);
    EXPECT_EQ(ReadRegistryLogPath(L"SOFTWARE\\Vantrel\\NoSuchKey", L"Log", L"LogPath", buffer), 0u);
}

TEST_F(ClientEntry, ProgramPathAloneWritesTheStartUpLines) {
    ConfigureLog(1, path_);
    EXPECT_EQ(Run(L"\"C:\\Program Files\\Tessaly\\kvclient.exe\"  ", 1),
              (Lines{kSeparator, kVersionLine, "KVCLIENT => commandline = \"C:\\Program Files\\Tessaly\\kvclient.exe\"  "}));
    ASSERT_NE(ClientLog, nullptr);
    EXPECT_EQ(ClientLog->level, 0);
    EXPECT_EQ(fake_.calls().back().arg, 276);  // the OSVERSIONINFOW size handed to GetVersionExW
    EXPECT_TRUE(g_deletes.empty());
}

TEST_F(ClientEntry, UnsplittableCommandLineGivesZeroAndRunsNothing) {
    ConfigureLog(1, path_);
    g_splitFails = true;
    EXPECT_EQ(Run(L"kvclient.exe -x", 0), (Lines{kSeparator, kVersionLine, "KVCLIENT => couldn't process commandline"}));
    EXPECT_TRUE(g_deletes.empty());
}

TEST_F(ClientEntry, OptionsInEitherCaseActEachTimeInOrderAndUnknownWordsAreIgnored) {
    ConfigureLog(1, path_);
    // Neither the second deletion nor the unknown word adds a line; the
    // refresh run of -q, with no printer to refresh, writes only its
    // enumeration lines.
    Lines own;
    for (const std::string& line : Run(L"kvclient.exe -x -X -q -unknown", 1))
        if (line.rfind("vlibPRINT_EnumeratePrinters", 0) != 0) own.push_back(line);
    EXPECT_EQ(own, (Lines{kSeparator, kVersionLine, "KVCLIENT => commandline = kvclient.exe -x -X -q -unknown"}));
    EXPECT_GT(fake_.Count(fake::Op::EnumPrinters), 0);  // the refresh run did look
    EXPECT_EQ(g_deletes, (std::vector<HKEY>{HKEY_CURRENT_USER, HKEY_CURRENT_USER}));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kPrintersKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kPrintersKey) + L"\\Office"));

    g_deletes.clear();
    Run(L"kvclient.exe -D x -x -d q", 1);
    EXPECT_EQ(g_deletes, (std::vector<HKEY>{HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPrintersKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));  // only the Printers key goes
}

TEST_F(ClientEntry, DeletingKeysThatDoNotExistDoesNothing) {
    TearDownKeys();
    ConfigureLog(1, path_);
    EXPECT_EQ(Run(L"kvclient.exe -d -x", 1),
              (Lines{kSeparator, kVersionLine, "KVCLIENT => commandline = kvclient.exe -d -x"}));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPrintersKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kPrintersKey));
}

}  // namespace
