#include <gtest/gtest.h>

#include <cwchar>
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
const char* const kVersionLine = "KVCLIENT => Client OS Version is (2)(6.1.7601)(Service Pack 1)";

// A registry table that forwards to the real functions and records every key
// tree deletion; the command-line split can be made to fail.
struct DeleteCall {
    HKEY root;
    std::wstring subkey;
};
std::vector<DeleteCall> g_deletes;
bool g_splitFails = false;
bool g_splitGivesNothing = false;

DWORD WINAPI RecordingDeleteKey(HKEY root, LPCWSTR subkey) {
    g_deletes.push_back({root, subkey ? subkey : L""});
    return platform::RealRegistry().SHDeleteKeyW(root, subkey);
}

LPWSTR* WINAPI RecordingSplit(LPCWSTR commandLine, int* count) {
    if (g_splitFails) {
        *count = 0;
        return nullptr;
    }
    if (g_splitGivesNothing) {
        *count = 0;
        return static_cast<LPWSTR*>(::LocalAlloc(LMEM_ZEROINIT, sizeof(LPWSTR)));
    }
    return platform::RealRegistry().CommandLineToArgvW(commandLine, count);
}

platform::RegistryApi RecordingRegistry() {
    platform::RegistryApi api = platform::RealRegistry();
    api.SHDeleteKeyW = RecordingDeleteKey;
    api.CommandLineToArgvW = RecordingSplit;
    return api;
}

DWORD g_versionSize = 0;

BOOL WINAPI FixedVersion(LPOSVERSIONINFOW info) {
    g_versionSize = info->dwOSVersionInfoSize;
    info->dwPlatformId = 2;
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 7601;
    wcscpy(info->szCSDVersion, L"Service Pack 1");
    return TRUE;
}

bool KeyExists(HKEY root, const WCHAR* path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

// A key with one value, created with its parents.
void CreateKeyWithValue(HKEY root, const std::wstring& path, const WCHAR* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
}

// Fills the printers key of root with a printer subkey and values.
void CreatePrintersKey(HKEY root) {
    CreateKeyWithValue(root, kPrintersKey, L"CacheMethod", 1);
    CreateKeyWithValue(root, std::wstring(kPrintersKey) + L"\\Office Laser", L"dwAnsiOnly", 1);
    ASSERT_TRUE(KeyExists(root, (std::wstring(kPrintersKey) + L"\\Office Laser").c_str()));
}

class ClientEntry : public ::testing::Test {
protected:
    void SetUp() override {
        g_deletes.clear();
        g_splitFails = false;
        g_splitGivesNothing = false;
        g_versionSize = 0;
        RemoveKeys();
    }

    void TearDown() override {
        if (LibraryLog && LibraryLog != ClientLog) TraceLogDestroy(LibraryLog);
        TraceLogDestroy(ClientLog);
        ClientLog = nullptr;
        LibraryLog = nullptr;
        RemoveKeys();
        // Leave no empty parents behind under SOFTWARE\Vantrel.
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProductKey);
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel");
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kProductKey);
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Vantrel");
    }

    static void RemoveKeys() {
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kClientKey);
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kPrintersKey);
        ::SHDeleteKeyW(HKEY_CURRENT_USER, kPrintersKey);
    }

    // The client key with "Log" and, when given, "LogPath".
    void ConfigureLog(DWORD log, const std::wstring* path) {
        CreateKeyWithValue(HKEY_LOCAL_MACHINE, kClientKey, L"Log", log);
        if (path) {
            HKEY key = nullptr;
            ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
            ASSERT_EQ(::RegSetValueExW(key, L"LogPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path->c_str()),
                                       static_cast<DWORD>((path->size() + 1) * sizeof(WCHAR))),
                      ERROR_SUCCESS);
            ::RegCloseKey(key);
        }
    }

    const platform::RegistryApi recording_ = RecordingRegistry();
    const platform::VersionApi fixedVersion_ = {FixedVersion};
};

// ---------------------------------------------------------------------------
// The log switch

TEST_F(ClientEntry, LogSwitchOffCreatesNoFile) {
    TempDir dir;
    const std::wstring path = dir.File(L"client.log");
    ConfigureLog(0, &path);

    EXPECT_EQ(ClientMain(L"kvclient.exe"), 1);
    EXPECT_EQ(ClientLog, nullptr);
    EXPECT_EQ(LibraryLog, nullptr);
    EXPECT_FALSE(FileExists(path));
}

TEST_F(ClientEntry, LogSwitchOffKeepsTheEarlierLogger) {
    TempDir dir;
    const std::wstring earlier = dir.File(L"earlier.log");
    const std::wstring configured = dir.File(L"client.log");
    ConfigureLog(0, &configured);
    ClientLog = TraceLogCreate(earlier.c_str(), 0);
    ASSERT_NE(ClientLog, nullptr);
    TraceLog* const before = ClientLog;
    platform::ScopedApi<platform::VersionApi> version(platform::version, fixedVersion_);

    EXPECT_EQ(ClientMain(L"kvclient.exe"), 1);
    EXPECT_EQ(ClientLog, before);
    EXPECT_EQ(LibraryLog, before);
    EXPECT_FALSE(FileExists(configured));
    EXPECT_EQ(ReadLogLines(earlier), (Lines{kSeparator, kVersionLine, "KVCLIENT => commandline = kvclient.exe"}));
}

TEST_F(ClientEntry, LogPathInMissingFolderGivesNoLogButOptionsStillRun) {
    TempDir dir;
    const std::wstring path = dir.File(L"missing\\client.log");
    ConfigureLog(1, &path);
    CreatePrintersKey(HKEY_CURRENT_USER);

    EXPECT_EQ(ClientMain(L"kvclient.exe -x"), 1);
    EXPECT_EQ(ClientLog, nullptr);
    EXPECT_EQ(LibraryLog, nullptr);
    EXPECT_FALSE(FileExists(dir.File(L"missing")));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kPrintersKey));
}

TEST_F(ClientEntry, LogSwitchWithoutPathGivesNoLog) {
    ConfigureLog(1, nullptr);
    EXPECT_EQ(ClientMain(L"kvclient.exe"), 1);
    EXPECT_EQ(ClientLog, nullptr);
    EXPECT_EQ(LibraryLog, nullptr);
}

TEST_F(ClientEntry, LogSwitchIsReadAsFourBytesWhateverItsType) {
    TempDir dir;
    const std::wstring path = dir.File(L"client.log");
    ConfigureLog(0, &path);
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    const BYTE on[4] = {0, 0, 1, 0};
    ASSERT_EQ(::RegSetValueExW(key, L"Log", 0, REG_BINARY, on, sizeof(on)), ERROR_SUCCESS);
    ::RegCloseKey(key);

    EXPECT_EQ(ClientMain(L"kvclient.exe"), 1);
    EXPECT_NE(ClientLog, nullptr);
    EXPECT_TRUE(FileExists(path));
}

TEST_F(ClientEntry, ReadRegistryLogPathReportsTheSwitch) {
    TempDir dir;
    const std::wstring path = dir.File(L"client.log");
    WCHAR buffer[256] = L"untouched";
    EXPECT_EQ(ReadRegistryLogPath(kClientKey, L"Log", L"LogPath", buffer), 0u);  // no key
    EXPECT_STREQ(buffer, L"untouched");

    ConfigureLog(0, &path);
    EXPECT_EQ(ReadRegistryLogPath(kClientKey, L"Log", L"LogPath", buffer), 0u);
    EXPECT_STREQ(buffer, L"untouched");  // the path is read only when switched on
    EXPECT_EQ(ReadRegistryLogPath(kClientKey, L"Log", L"LogPath", nullptr), 0u);
    EXPECT_EQ(ReadRegistryLogPath(kClientKey, L"NoSuchSwitch", L"LogPath", buffer), 0u);

    ConfigureLog(7, &path);
    EXPECT_EQ(ReadRegistryLogPath(kClientKey, L"Log", L"LogPath", buffer), 7u);
    EXPECT_EQ(std::wstring(buffer), path);

    CHAR narrow[256] = "untouched";
    EXPECT_EQ(ReadRegistryLogPathA(testsupport::Narrow(kClientKey).c_str(), "Log", "LogPath", narrow), 7u);
    EXPECT_EQ(std::string(narrow), testsupport::Narrow(path));
    EXPECT_EQ(ReadRegistryLogPathA("SOFTWARE\\Vantrel\\NoSuchKey", "Log", "LogPath", narrow), 0u);
}

// ---------------------------------------------------------------------------
// Start-up lines

TEST_F(ClientEntry, ProgramPathAloneWritesTheStartUpLines) {
    TempDir dir;
    const std::wstring path = dir.File(L"client.log");
    ConfigureLog(1, &path);
    platform::ScopedApi<platform::VersionApi> version(platform::version, fixedVersion_);
    platform::ScopedApi<platform::RegistryApi> registry(platform::registry, recording_);

    const WCHAR* commandLine = L"\"C:\\Program Files\\Tessaly\\kvclient.exe\"  ";
    EXPECT_EQ(ClientMain(commandLine), 1);
    ASSERT_NE(ClientLog, nullptr);
    EXPECT_EQ(LibraryLog, ClientLog);
    EXPECT_EQ(ClientLog->level, 0);
    EXPECT_EQ(g_versionSize, 276u);
    EXPECT_TRUE(g_deletes.empty());
    EXPECT_EQ(ReadLogLines(path),
              (Lines{kSeparator, kVersionLine,
                     "KVCLIENT => commandline = \"C:\\Program Files\\Tessaly\\kvclient.exe\"  "}));
}

TEST_F(ClientEntry, UnsplittableCommandLineGivesZero) {
    TempDir dir;
    const std::wstring path = dir.File(L"client.log");
    ConfigureLog(1, &path);
    CreatePrintersKey(HKEY_CURRENT_USER);
    platform::ScopedApi<platform::VersionApi> version(platform::version, fixedVersion_);
    platform::ScopedApi<platform::RegistryApi> registry(platform::registry, recording_);
    g_splitFails = true;

    EXPECT_EQ(ClientMain(L"kvclient.exe -x"), 0);
    EXPECT_TRUE(g_deletes.empty());
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kPrintersKey));
    EXPECT_EQ(ReadLogLines(path), (Lines{kSeparator, kVersionLine, "KVCLIENT => couldn't process commandline"}));
}

TEST_F(ClientEntry, SplitWithoutArgumentsGivesZero) {
    TempDir dir;
    const std::wstring path = dir.File(L"client.log");
    ConfigureLog(1, &path);
    platform::ScopedApi<platform::VersionApi> version(platform::version, fixedVersion_);
    platform::ScopedApi<platform::RegistryApi> registry(platform::registry, recording_);
    g_splitGivesNothing = true;

    EXPECT_EQ(ClientMain(L"kvclient.exe"), 0);
    EXPECT_EQ(ReadLogLines(path), (Lines{kSeparator, kVersionLine, "KVCLIENT => couldn't process commandline"}));
}

// ---------------------------------------------------------------------------
// Options

TEST_F(ClientEntry, UserKeyOptionInEitherCaseRunsEachTimeAndUnknownWordsAreIgnored) {
    TempDir dir;
    const std::wstring path = dir.File(L"client.log");
    ConfigureLog(1, &path);
    CreatePrintersKey(HKEY_CURRENT_USER);
    CreatePrintersKey(HKEY_LOCAL_MACHINE);
    fake::FakePrintSystem noPrinters;  // the refresh run of -q finds nothing to refresh
    platform::ScopedApi<platform::VersionApi> version(platform::version, fixedVersion_);
    platform::ScopedApi<platform::RegistryApi> registry(platform::registry, recording_);

    EXPECT_EQ(ClientMain(L"kvclient.exe -x -X -q -unknown"), 1);
    ASSERT_EQ(g_deletes.size(), 2u);
    for (const DeleteCall& call : g_deletes) {
        EXPECT_EQ(call.root, HKEY_CURRENT_USER);
        EXPECT_EQ(call.subkey, kPrintersKey);
    }
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kPrintersKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kPrintersKey));  // -x leaves the machine's key alone
    // Neither the second deletion nor the unknown word adds a line; the
    // refresh run writes only its enumeration lines.
    Lines own;
    for (const std::string& line : ReadLogLines(path))
        if (line.rfind("vlibPRINT_EnumeratePrinters", 0) != 0) own.push_back(line);
    EXPECT_EQ(own, (Lines{kSeparator, kVersionLine, "KVCLIENT => commandline = kvclient.exe -x -X -q -unknown"}));
    EXPECT_GT(noPrinters.Count(fake::Op::EnumPrinters), 0);  // the refresh run did look
}

TEST_F(ClientEntry, MachineKeyOptionDeletesTheWholeTree) {
    CreatePrintersKey(HKEY_LOCAL_MACHINE);
    CreatePrintersKey(HKEY_CURRENT_USER);
    platform::ScopedApi<platform::RegistryApi> registry(platform::registry, recording_);

    EXPECT_EQ(ClientMain(L"kvclient.exe -D"), 1);
    ASSERT_EQ(g_deletes.size(), 1u);
    EXPECT_EQ(g_deletes[0].root, HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPrintersKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));  // only the Printers key goes
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, (std::wstring(kPrintersKey) + L"\\Office Laser").c_str()));
}

TEST_F(ClientEntry, OptionsActInCommandLineOrder) {
    platform::ScopedApi<platform::RegistryApi> registry(platform::registry, recording_);
    EXPECT_EQ(ClientMain(L"kvclient.exe -d x -x -d q"), 1);
    ASSERT_EQ(g_deletes.size(), 3u);
    EXPECT_EQ(g_deletes[0].root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(g_deletes[1].root, HKEY_CURRENT_USER);
    EXPECT_EQ(g_deletes[2].root, HKEY_LOCAL_MACHINE);
}

TEST_F(ClientEntry, DeletingKeysThatDoNotExistDoesNothing) {
    TempDir dir;
    const std::wstring path = dir.File(L"client.log");
    ConfigureLog(1, &path);
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPrintersKey));
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, kPrintersKey));
    platform::ScopedApi<platform::VersionApi> version(platform::version, fixedVersion_);

    EXPECT_EQ(ClientMain(L"kvclient.exe -d -x"), 1);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPrintersKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kPrintersKey));
    EXPECT_EQ(ReadLogLines(path), (Lines{kSeparator, kVersionLine, "KVCLIENT => commandline = kvclient.exe -d -x"}));
}

}  // namespace
