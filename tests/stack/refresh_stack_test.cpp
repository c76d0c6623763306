// The main job from end to end: the real kvclient.exe runs "-q" under Wine
// over the private CUPS scheduler, once per store (registry, printer data,
// file), and every printer's record is taken out of the store and checked
// against what the driver reports now. Then "-d -x" clears the Printers keys.
// Without the harness (scripts/test starts it) the tests are skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "platform/guard.h"
#include "platform/kernel.h"
#include "platform/platform.h"
#include "print/printer_names.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"
#include "records/caps4.h"
#include "records/caps4_check.h"
#include "support/temp_dir.h"
#include "unit/trace_capture.h"

namespace {

using testsupport::Narrow;
using testsupport::ReadLogLines;

std::wstring EnvW(const WCHAR* name) {
    WCHAR buffer[1024] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

// The build folder: this program lives in build\tests.
std::wstring BuildDir() {
    WCHAR path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    for (int i = 0; i < 2; ++i) dir = dir.substr(0, dir.find_last_of(L'\\'));
    return dir;
}

struct ProgramRun {
    DWORD exitCode = 0xFFFFFFFF;
    double seconds = 0;
};

// Runs a program of the build with the given arguments and waits for it.
ProgramRun RunProgram(const std::wstring& program, const std::wstring& arguments) {
    ProgramRun run;
    std::wstring commandLine = L"\"" + BuildDir() + L"\\" + program + L"\" " + arguments;
    // The programs' own output is not wanted in the test report.
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    const auto start = std::chrono::steady_clock::now();
    const BOOL created = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                          &startup, &process);
    if (nul != INVALID_HANDLE_VALUE) ::CloseHandle(nul);
    if (!created) return run;
    if (::WaitForSingleObject(process.hProcess, 300000) == WAIT_OBJECT_0) ::GetExitCodeProcess(process.hProcess, &run.exitCode);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return run;
}

void SetValue(HKEY hive, const WCHAR* path, const WCHAR* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(hive, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    ::RegCloseKey(key);
}
void SetDword(HKEY hive, const WCHAR* path, const WCHAR* name, DWORD value) {
    SetValue(hive, path, name, REG_DWORD, &value, sizeof(value));
}
void SetString(HKEY hive, const WCHAR* path, const WCHAR* name, const std::wstring& value) {
    SetValue(hive, path, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}
void DeleteValue(HKEY hive, const WCHAR* path, const WCHAR* name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(hive, path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    ::RegDeleteValueW(key, name);
    ::RegCloseKey(key);
}
bool KeyExists(HKEY hive, const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(hive, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

std::string RegistryRecord(const std::wstring& printer) {
    const std::wstring path = std::wstring(kPrintersKey) + L"\\" + vlibPRINT_PrinterNameToRegistrySafeName(printer);
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
    DWORD size = 0;
    std::string bytes;
    if (::RegQueryValueExW(key, L"PrinterData", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        bytes.assign(size, '\0');
        if (::RegQueryValueExW(key, L"PrinterData", nullptr, nullptr, reinterpret_cast<BYTE*>(bytes.data()), &size) !=
            ERROR_SUCCESS)
            bytes.clear();
    }
    ::RegCloseKey(key);
    return bytes;
}

std::string PrinterDataRecord(const std::wstring& printer) {
    HANDLE handle = nullptr;
    if (!::OpenPrinterW(const_cast<LPWSTR>(printer.c_str()), &handle, nullptr)) return {};
    WCHAR name[] = L"KVPrinterInfo";
    DWORD type = 0, needed = 0;
    ::GetPrinterDataW(handle, name, &type, nullptr, 0, &needed);
    std::string bytes(needed, '\0');
    if (needed == 0 || ::GetPrinterDataW(handle, name, &type, reinterpret_cast<BYTE*>(bytes.data()), needed, &needed) !=
                           ERROR_SUCCESS)
        bytes.clear();
    ::ClosePrinter(handle);
    return bytes;
}

// The printers of the spooler, local and connections.
std::vector<std::wstring> Printers() {
    DWORD needed = 0, returned = 0;
    ::EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed ? needed : 1);
    std::vector<std::wstring> names;
    if (!::EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, buffer.data(), needed, &needed,
                         &returned))
        return names;
    const auto* info = reinterpret_cast<const PRINTER_INFO_4W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) names.push_back(info[i].pPrinterName);
    return names;
}

// What the driver reports now for a list index.
template <class T>
std::vector<T> DriverList(const std::wstring& printer, WORD index, size_t width = sizeof(T)) {
    const int count = ::DeviceCapabilitiesW(printer.c_str(), nullptr, index, nullptr, nullptr);
    if (count <= 0) return {};
    std::vector<BYTE> bytes(static_cast<size_t>(count) * width);
    const int got = ::DeviceCapabilitiesW(printer.c_str(), nullptr, index, reinterpret_cast<LPWSTR>(bytes.data()), nullptr);
    std::vector<T> list(static_cast<size_t>(got > 0 ? got : 0));
    for (size_t i = 0; i < list.size(); ++i) std::memcpy(&list[i], bytes.data() + i * width, std::min(width, sizeof(T)));
    return list;
}

// Unpacks one stored record and checks it against the driver.
void CheckRecord(const std::wstring& printer, const std::string& bytes) {
    SCOPED_TRACE(Narrow(printer));
    WCHAR why[256] = {};
    ASSERT_TRUE(vlibPRINT_CheckCaps4(bytes.data(), bytes.size(), why, 256)) << Narrow(why);
    caps4 h;
    std::memcpy(&h, bytes.data(), sizeof(h));
    EXPECT_EQ(h.dwEnd, 0u);
    EXPECT_EQ(h.dwOffsetToBinNames, 412u);

    // Papers: ids and sizes as the driver reports them.
    const std::vector<WORD> ids = DriverList<WORD>(printer, DC_PAPERS);
    const std::vector<POINT> sizes = DriverList<POINT>(printer, DC_PAPERSIZE);
    ASSERT_FALSE(ids.empty());
    ASSERT_EQ(h.dwNumPapers, ids.size());
    ASSERT_EQ(h.dwNumPaperSize, sizes.size());
    const auto* storedIds = reinterpret_cast<const WORD*>(bytes.data() + h.dwOffsetToPapers);
    const auto* storedSizes = reinterpret_cast<const PaperSize*>(bytes.data() + h.dwOffsetToPaperSize);
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(storedIds[i], ids[i]) << "paper " << i;
        EXPECT_EQ(storedSizes[i].width, sizes[i].x) << "paper " << i;
        EXPECT_EQ(storedSizes[i].length, sizes[i].y) << "paper " << i;
    }
    const std::vector<WORD> bins = DriverList<WORD>(printer, DC_BINS);
    EXPECT_EQ(h.dwNumBins, bins.size());

    // Forms: every paper size at every resolution of the list in use, resolution-major.
    const DWORD resolutions = h.dwIndexedResolutionsOnly ? h.dwNumResolutionsIndexed : h.dwNumResolutions;
    ASSERT_GT(resolutions, 0u);
    ASSERT_EQ(h.dwNumForms, h.dwNumPaperSize * resolutions);
    const auto* forms = reinterpret_cast<const FormEntry*>(bytes.data() + h.dwOffsetToForms);
    for (DWORD r = 0; r < resolutions; ++r)
        for (DWORD j = 0; j < h.dwNumPaperSize; ++j) {
            const FormEntry& f = forms[r * h.dwNumPaperSize + j];
            EXPECT_EQ(f.paprI, storedIds[j]) << "form " << r << "x" << j;
            EXPECT_EQ(f.paprW, storedSizes[j].width) << "form " << r << "x" << j;
            EXPECT_EQ(f.paprL, storedSizes[j].length) << "form " << r << "x" << j;
            EXPECT_GT(f.physW, 0) << "form " << r << "x" << j;
            EXPECT_GT(f.logX, 0) << "form " << r << "x" << j;
        }
    // The low-level block of a printer device context.
    EXPECT_EQ(h.lowLevel.Technology, DT_RASPRINTER);
}

class RefreshStack : public ::testing::TestWithParam<DWORD> {
protected:
    void SetUp() override {
        if (EnvW(L"KV_CUPS_PRINTERS").empty() || EnvW(L"CUPS_SERVER").empty())
            GTEST_SKIP() << "the CUPS harness is not running; run scripts/test";
        printers_ = Printers();
        ASSERT_GE(printers_.size(), 3u);
        SetDword(HKEY_LOCAL_MACHINE, kClientKey, L"Log", 1);
        SetString(HKEY_LOCAL_MACHINE, kClientKey, L"LogPath", log_);
    }
    void TearDown() override {
        DeleteValue(HKEY_LOCAL_MACHINE, kClientKey, L"Log");
        DeleteValue(HKEY_LOCAL_MACHINE, kClientKey, L"LogPath");
        DeleteValue(HKEY_LOCAL_MACHINE, kPrintersKey, L"CacheMethod");
        DeleteValue(HKEY_LOCAL_MACHINE, kProductKey, L"CachePath");
    }

    testsupport::TempDir dir_;
    std::wstring log_ = dir_.File(L"kvclient.log");
    std::vector<std::wstring> printers_;
};

TEST_P(RefreshStack, EveryPrinterGetsACheckedRecordInItsStore) {
    const DWORD method = GetParam();
    SetDword(HKEY_LOCAL_MACHINE, kPrintersKey, L"CacheMethod", method);
    const std::wstring folder = dir_.path() + L"\\";
    if (method == 4) SetString(HKEY_LOCAL_MACHINE, kProductKey, L"CachePath", folder);
    // A per-user key for "-x" to remove.
    SetDword(HKEY_CURRENT_USER, kPrintersKey, L"CacheMethod", 2);

    const ProgramRun refresh = RunProgram(L"kvclient.exe", L"-q");
    ASSERT_EQ(refresh.exitCode, 1u);
    std::printf("[ timing   ] cache method %lu: kvclient.exe -q took %.2f s for %zu printers, %.2f s per printer\n",
                static_cast<unsigned long>(method), refresh.seconds, printers_.size(),
                refresh.seconds / static_cast<double>(printers_.size()));
    RecordProperty("seconds_per_printer", std::to_string(refresh.seconds / static_cast<double>(printers_.size())));

    for (const std::wstring& printer : printers_) {
        std::string bytes;
        if (method == 1) bytes = RegistryRecord(printer);
        if (method == 3) bytes = PrinterDataRecord(printer);
        if (method == 4)
            bytes = testsupport::ReadFileBytes(folder + vlibPRINT_PrinterNameToRegistrySafeName(printer) + L".kvp");
        ASSERT_FALSE(bytes.empty()) << "no record for " << Narrow(printer) << " in the store of method " << method;
        CheckRecord(printer, bytes);
        // The other stores stay empty.
        if (method != 1) EXPECT_TRUE(RegistryRecord(printer).empty());
        if (method != 4) EXPECT_FALSE(testsupport::FileExists(folder + printer + L".kvp"));
    }

    const auto lines = ReadLogLines(log_);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "====================================================================");
    EXPECT_EQ(lines[1].rfind("KVCLIENT => Client OS Version is (2)(", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("KVCLIENT => commandline = ", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find(" -q"), std::string::npos) << lines[2];
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    for (const std::wstring& printer : printers_) {
        EXPECT_TRUE(has("KVCLIENT => creating printer (name = " + Narrow(printer) + ")")) << Narrow(printer);
        EXPECT_TRUE(has("KVCLIENT => forcing requery of printer (name = " + Narrow(printer) + ")")) << Narrow(printer);
    }
    EXPECT_FALSE(has("CPrinter::Query => failed to cache data..."));
    EXPECT_FALSE(has("CPrinter::Query => printer is not available for query"));

    // The inspection tool reads the same store and refuses a damaged record.
    const std::wstring first = printers_.front();
    if (method == 1) EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--registry \"" + first + L"\"").exitCode, 0u);
    if (method == 3) EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--printer-data \"" + first + L"\"").exitCode, 0u);
    if (method == 4) {
        const std::wstring file = folder + vlibPRINT_PrinterNameToRegistrySafeName(first) + L".kvp";
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"\"" + file + L"\"").exitCode, 0u);
        const std::string bytes = testsupport::ReadFileBytes(file);
        const std::wstring cut = dir_.File(L"cut.kvp");
        FILE* out = _wfopen(cut.c_str(), L"wb");
        ASSERT_NE(out, nullptr);
        fwrite(bytes.data(), 1, bytes.size() - 10, out);
        fclose(out);
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"\"" + cut + L"\"").exitCode, 3u);
    }

    // "-d" and "-x" remove both Printers keys with everything below them.
    ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kPrintersKey));
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, kPrintersKey));
    EXPECT_EQ(RunProgram(L"kvclient.exe", L"-d -x").exitCode, 1u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPrintersKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kPrintersKey));
}

// The printer-data store inside this process: Wine keeps the value with the
// printer (SetPrinterDataW / GetPrinterDataW work), but has no
// DeletePrinterDataW; its call raises an exception that the guard catches, so
// removing the entry fails and the value stays. Also times each printer's
// forced query with the trace log off.
TEST_F(RefreshStack, PrinterDataStoreInProcess) {
    SetDword(HKEY_LOCAL_MACHINE, kPrintersKey, L"CacheMethod", 3);
    for (const std::wstring& printer : printers_) {
        SCOPED_TRACE(Narrow(printer));
        std::string stored;
        {
            CPrinter object(nullptr, printer, 1, 0);
            ASSERT_EQ(object.dwCacheMethod, 3u);
            ASSERT_EQ(object.bAvailable, 1u);
            const auto start = std::chrono::steady_clock::now();
            object.Query(1, nullptr, nullptr);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            std::printf("[ timing   ] %s: forced query and cache write in process, log off: %.0f ms, %lu forms\n",
                        Narrow(printer).c_str(), ms, static_cast<unsigned long>(object.queryBuffers.dwNumForms));
            ASSERT_EQ(object.queryBuffers.bFilled, 1u);
            caps4* record = object.SerializeCaps4();
            ASSERT_NE(record, nullptr);
            stored.assign(reinterpret_cast<const char*>(record), record->dwSize);
            platform::HeapFreeBlock(record);
        }
        EXPECT_EQ(PrinterDataRecord(printer), stored);

        testsupport::TraceCapture trace;
        CPrinter loaded(nullptr, printer, 1, 0);
        EXPECT_EQ(loaded.queryBuffers.bFilled, 1u);
        const BOOL flushed = loaded.FlushCache();
        const auto lines = trace.Lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "CPrinter::LoadFromCache => got cached info"), lines.end());
        if (flushed) {
            EXPECT_TRUE(PrinterDataRecord(printer).empty());
        } else {
            EXPECT_NE(std::find(lines.begin(), lines.end(), "CPrinter::FlushCache => failed to delete cache"), lines.end());
            EXPECT_EQ(PrinterDataRecord(printer), stored);
            std::printf("[ wine     ] DeletePrinterDataW is not available: the printer-data entry of %s stays\n",
                        Narrow(printer).c_str());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Stores, RefreshStack, ::testing::Values(1u, 3u, 4u),
                         [](const ::testing::TestParamInfo<DWORD>& info) {
                             return "CacheMethod" + std::to_string(info.param);
                         });

}  // namespace
