#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "support/temp_dir.h"

using namespace testsupport;

namespace {

using Lines = std::vector<std::string>;
const std::string kTime = R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})", kStamp = "\\[" + kTime + "\\] ";
const std::string kFallback = R"(ERROR 12345: \(failed to get error string\))";  // no line end

// A wide logger of level 0 on a fresh file, and a narrow one next to it.
struct LogFile {
    TempDir dir;
    std::wstring path = dir.File(L"trace.log"), narrowPath = dir.File(L"narrow.log");
    TraceLog* log = TraceLogCreate(path.c_str(), 0);
    TraceLogA* logA = TraceLogCreateA(Narrow(narrowPath).c_str(), 0);
    ~LogFile() { TraceLogDestroy(log), TraceLogDestroyA(logA); }
    Lines lines() const { return ReadLogLines(path); }
    std::string bytes() const { return ReadFileBytes(path); }
};

bool Matches(const std::string& text, const std::string& pattern) {
    return std::regex_match(text, std::regex(pattern));
}

TEST(TraceLog, NullLoggerDoesNothingAndNoPathGivesNoLogger) {
    const WCHAR* badW = reinterpret_cast<const WCHAR*>(uintptr_t{8});  // faults if anything formats it
    TraceLogWrite(nullptr, 0, L"%s\n", badW);
    TraceLogWriteA(nullptr, 0, "%s\n", reinterpret_cast<const CHAR*>(badW));
    TraceLogEnter(nullptr, 0, L"Nothing");
    TraceLogEnterA(nullptr, 0, "Nothing");
    TraceLogExit(nullptr, 0);
    TraceLogExitA(nullptr, 0);
    TraceLogDestroy(nullptr);
    TraceLogDestroyA(nullptr);
    EXPECT_EQ(TraceLogCreate(nullptr, 0), nullptr);
    EXPECT_EQ(TraceLogCreateA("", 0), nullptr);
    EXPECT_EQ(TraceLogCreateFromRegistry(L""), nullptr);
    EXPECT_EQ(TraceLogCreateFromRegistryA(nullptr), nullptr);
}

TEST(TraceLog, LevelsCompareAsSigned16BitNumbers) {
    LogFile f;
    for (int level : {0, -1, 1, 0xFFFF, 0x8000, 0x10000, 0x10001, 0x7FFF}) TraceLogWrite(f.log, level, L"%x\n", level);
    TraceLogError(f.log, 1, ERROR_FILE_NOT_FOUND);  // the error texts filter on their own
    TraceLogErrorA(f.logA, 1, ERROR_FILE_NOT_FOUND);
    f.log->level = -1;  // as a logger level of 0xFFFF gives
    TraceLogWrite(f.log, 0, L"zero\n");
    TraceLogWrite(f.log, -1, L"minus one\n");
    EXPECT_EQ(f.lines(), (Lines{"0", "ffffffff", "ffff", "8000", "10000", "minus one"}));
    EXPECT_EQ(ReadFileBytes(f.narrowPath), "");
}

TEST(TraceLog, LineLayoutStampsIndentationAndFormatWidths) {
    LogFile f;
    TraceLogWrite(f.log, 0, L"head %d:", 42);
    TraceLogWriteRaw(f.log, 0, L" %s|%S|%hs|%ls|%c|%C\ntwo\n", L"wide", "narrow", "short", L"long", L'w', 'n');
    TraceLogWriteNarrowText(f.log, 0, "%s|%S|%-4s|%3d\n", "narrow", L"wide", "ab", 7);
    TraceLogWriteNarrowText(f.log, 0, "%S|%s\n", L"x\x0416y", "z");  // refused: written unexpanded
    TraceLogWriteThread(f.log, 0, L"thread\n");
    TraceLogWriteSession(f.log, 0, L"session\n");
    TraceLogEnter(f.log, 0, L"Outer");
    TraceLogEnter(f.log, 0, L"Inner");
    TraceLogWrite(f.log, 0, L"message\n");
    EXPECT_TRUE(Matches(f.bytes(), kStamp + "head 42: wide\\|narrow\\|short\\|long\\|w\\|n\r\ntwo\r\n" + kStamp +
                                       "narrow\\|wide\\|ab  \\|  7\r\n" + kStamp + "%S\\|%s\r\n\\[" + kTime + " Thread:" +
                                       std::to_string(::GetCurrentThreadId()) + "\\] thread\r\n\\[" + kTime +
                                       " Session:\\d+\\] session\r\n" + kStamp + "Outer Enter\r\n" + kStamp +
                                       "  Inner Enter\r\n" + kStamp + "    message\r\n"))
        << f.bytes();
    // Raw pieces are indented too; more Exits than Enters write no indentation;
    // a filtered Enter still goes one step deeper.
    TraceLogWriteRaw(f.log, 0, L"raw\n");
    for (int i = 0; i < 3; ++i) TraceLogExit(f.log, 0);
    TraceLogWrite(f.log, 0, L"below zero\n");
    TraceLogEnter(f.log, 0, L"Back");
    TraceLogEnter(f.log, 1, L"Hidden");
    TraceLogWrite(f.log, 0, L"hidden depth\n");
    const Lines lines = f.lines();
    EXPECT_EQ(Lines(lines.begin() + 9, lines.end()),
              (Lines{"    raw", "  Exit", "Exit", "Exit", "below zero", "Back Enter", "  hidden depth"}));
    // The narrow logger's twins, %s meaning the format's own width there too.
    TraceLogEnterA(f.logA, 0, "Outer");
    TraceLogErrorA(f.logA, 0, 12345);
    TraceLogWriteA(f.logA, 0, "%s=%d|%S\n", "count", 7, L"wide");
    TraceLogWriteWideTextA(f.logA, 0, L"%s|%S\n", L"wide", "narrow");
    TraceLogExitA(f.logA, 0);
    EXPECT_TRUE(Matches(ReadFileBytes(f.narrowPath), kStamp + "Outer Enter\r\n" + kStamp + "  " + kFallback + kStamp +
                                                         "  count=7\\|wide\r\n" + kStamp + "  wide\\|narrow\r\n" +
                                                         kStamp + "Exit\r\n"));
}

TEST(TraceLog, DeletedFileIsCreatedAgainUnopenableFileDropsLinesAndErrorFallback) {
    LogFile f;
    EXPECT_TRUE(FileExists(f.path));  // created empty at once
    TraceLogWrite(f.log, 0, L"first\n");
    ASSERT_TRUE(::DeleteFileW(f.path.c_str()));
    TraceLogWrite(f.log, 0, L"second\n");
    HANDLE held = ::CreateFileW(f.path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    TraceLogWrite(f.log, 0, L"dropped\n");
    TraceLogEnter(f.log, 0, L"Dropped");  // still counted
    ::CloseHandle(held);
    TraceLog* again = TraceLogCreate(f.path.c_str(), 0);  // an existing file is appended to
    TraceLogWrite(again, 0, L"third\n");
    TraceLogDestroy(again);
    TraceLogError(f.log, 0, 12345);  // a code without a system text: no line end
    TraceLogWrite(f.log, 0, L"next entry\n");
    TraceLogError(f.log, 0, ERROR_ACCESS_DENIED);  // the system's text with its own line break
    EXPECT_TRUE(Matches(f.bytes(), kStamp + "second\r\n" + kStamp + "third\r\n" + kStamp + "  " + kFallback + kStamp +
                                       "  next entry\r\n" + kStamp + "  ERROR 5: [A-Za-z][^\r\n]+\r*\n"))
        << f.bytes();
}

const WCHAR* const kKey = L"SOFTWARE\\Vantrel\\Corvane Logging\\Logs\\KvTraceLogTest";
void Set(const WCHAR* name, DWORD value) { ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, name, REG_DWORD, &value, 4); }
void Set(const WCHAR* name, const std::wstring& text) {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, name, REG_SZ, text.c_str(), DWORD(2 * text.size() + 2));
}
// Removes the test key, and its parents when they are empty.
struct RegistryCleanup {
    ~RegistryCleanup() {
        for (const WCHAR* key : {kKey, kTraceLogKey, L"SOFTWARE\\Vantrel\\Corvane Logging", L"SOFTWARE\\Vantrel"})
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    }
};

TEST(TraceLog, RegistryConfiguration) {
    TempDir dir;
    RegistryCleanup cleanup;
    const std::wstring file = dir.File(L"registry.log"), temp = _wgetenv(L"TEMP");
    ASSERT_EQ(file.compare(0, temp.size(), temp), 0) << "the scratch folder is not under %TEMP%";
    Set(L"File", L"%TEMP%" + file.substr(temp.size()));
    EXPECT_EQ(TraceLogCreateFromRegistry(L"KvTraceLogTest"), nullptr);  // no "Mode"
    Set(L"Mode", DWORD{0});
    EXPECT_EQ(TraceLogCreateFromRegistryA("KvTraceLogTest"), nullptr);
    EXPECT_FALSE(FileExists(file));
    Set(L"Mode", 0x100);
    Set(L"Level", 65537);
    TraceLog* log = TraceLogCreateFromRegistry(L"KvTraceLogTest");
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(std::wstring(log->path), file);
    TraceLogWrite(log, 1, L"level one\n");
    TraceLogWrite(log, 2, L"level two\n");
    TraceLogDestroy(log);
    EXPECT_EQ(ReadLogLines(file), (Lines{"level one"}));
    TraceLogA* logA = TraceLogCreateFromRegistryA("KvTraceLogTest");
    ASSERT_NE(logA, nullptr);
    EXPECT_EQ(std::string(logA->path) + " level " + std::to_string(logA->level), Narrow(file) + " level 1");
    TraceLogDestroyA(logA);
}

TEST(TraceLog, ConcurrentWritersNeverInterleaveWithinALine) {
    static const int kWriters = 4, kLines = 40, kFiller = 60000;  // longer than the runtime's stream buffer
    static TraceLog* shared;
    LogFile f;
    shared = f.log;
    HANDLE threads[kWriters];
    for (intptr_t i = 0; i < kWriters; ++i)
        threads[i] = ::CreateThread(nullptr, 0, [](void* id) -> DWORD {
            const std::wstring filler(kFiller, static_cast<WCHAR>(L'a' + reinterpret_cast<intptr_t>(id)));
            for (int n = 0; n < kLines; ++n) TraceLogWrite(shared, 0, L"%d %d %s\n", int(intptr_t(id)), n, filler.c_str());
            return 0;
        }, reinterpret_cast<void*>(i), 0, nullptr);
    ::WaitForMultipleObjects(kWriters, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) ::CloseHandle(thread);
    const Lines lines = f.lines();
    ASSERT_EQ(lines.size(), size_t{kWriters * kLines});
    int next[kWriters] = {};  // each writer's lines whole and in its own order
    for (const std::string& line : lines) {
        const int id = line.empty() ? -1 : line[0] - '0';
        ASSERT_TRUE(id >= 0 && id < kWriters && line == std::to_string(id) + " " + std::to_string(next[id]++) + " " +
                                                            std::string(kFiller, char('a' + id)))
            << line.substr(0, 80);
    }
}

}  // namespace
