#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "log/trace_log.h"
#include "support/heap_counter.h"
#include "support/registry_steering.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using namespace testsupport;

namespace {

using Lines = std::vector<std::string>;
const WCHAR* const kWriterFile = L"KV_TRACE_WRITER_FILE";  // tells a second copy of this program to write lines

// A wide logger of level 0 on a fresh file, and a narrow one next to it.
struct LogFile {
    TempDir dir;
    std::wstring path = dir.File(L"trace.log"), narrowPath = dir.File(L"narrow.log");
    TraceLog* log = TraceLogCreate(path.c_str(), 0);
    TraceLogA* logA = TraceLogCreateA(Narrow(narrowPath).c_str(), 0);
    ~LogFile() { TraceLogDestroy(log), TraceLogDestroyA(logA); }
    Lines lines() const { return ReadLogLines(path); }
};

// The file's bytes with the clock readings as "T" and this thread's id as "me".
std::string Masked(const std::wstring& path) {
    const std::string bytes =
        std::regex_replace(ReadFileBytes(path), std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d)"), "T");
    return std::regex_replace(bytes, std::regex("Thread:" + std::to_string(::GetCurrentThreadId()) + "\\]"), "Thread:me]");
}

TEST(TraceLog, NullLoggerDoesNothingAndNoPathGivesNoLogger) {
    const WCHAR* badW = reinterpret_cast<const WCHAR*>(uintptr_t{8});  // faults if anything formats it
    TraceLogWrite(nullptr, 0, L"%s\n", badW), TraceLogWriteA(nullptr, 0, "%s\n", reinterpret_cast<const CHAR*>(badW));
    TraceLogEnter(nullptr, 0, L"Nothing"), TraceLogEnterA(nullptr, 0, "Nothing"), TraceLogExit(nullptr, 0), TraceLogExitA(nullptr, 0);
    TraceLogDestroy(nullptr), TraceLogDestroyA(nullptr);
    EXPECT_TRUE(!TraceLogCreate(nullptr, 0) && !TraceLogCreateA("", 0) && !TraceLogCreateFromRegistry(L"") &&
                !TraceLogCreateFromRegistryA(nullptr));
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
    HeapCounter noRoom(0);  // no memory for a second logger of the file
    EXPECT_EQ(TraceLogCreate(f.path.c_str(), 0), nullptr);
}

// Every write form of both loggers, their stamps and indentation, %s / %S in
// the Microsoft meaning, text-mode line ends, characters inside and outside
// the ANSI code page, the error line without a line end: the bytes the logger
// has always written (code page 1252 and session 1, as Wine runs the tests).
TEST(TraceLog, KnownSequenceKeepsItsBytes) {
    LogFile f;
    TraceLogWrite(f.log, 0, L"head %d:", 42);
    TraceLogWriteRaw(f.log, 0, L" %s|%S|%hs|%ls|%c|%C\ntwo\n", L"wide", "narrow", "short", L"long", L'w', 'n');
    TraceLogWriteNarrowText(f.log, 0, "%s|%S|%-4s|%3d caf\xe9\n", "narrow", L"wide", "ab", 7);
    TraceLogWriteNarrowText(f.log, 0, "%S|%s\n", L"x\x0416y", "z");  // refused by the runtime: written unexpanded
    TraceLogWriteThread(f.log, 0, L"thread\n");
    TraceLogWriteSession(f.log, 0, L"session\n");
    TraceLogEnter(f.log, 0, L"Outer");
    TraceLogEnter(f.log, 1, L"Inner");  // filtered, one step deeper all the same
    TraceLogWrite(f.log, 0, L"caf\x00e9 \x0141 \x4e2d\n");  // a look-alike, then none
    TraceLogWriteRaw(f.log, 0, L"raw\r\n");
    for (int i = 0; i < 3; ++i) TraceLogExit(f.log, 0);  // more Exits than Enters: no indentation
    TraceLogError(f.log, 0, 12345);  // a code without a system text
    TraceLogWrite(f.log, 0, L"");
    TraceLogWrite(f.log, 0, L"next\n");
    EXPECT_EQ(Masked(f.path),
              "[T] head 42: wide|narrow|short|long|w|n\r\ntwo\r\n"
              "[T] narrow|wide|ab  |  7 caf\xE9\r\n"
              "[T] %S|%s\r\n"
              "[T Thread:me] thread\r\n"
              "[T Session:1] session\r\n"
              "[T] Outer Enter\r\n"
              "[T]     caf\xE9 L ?\r\n"
              "    raw\r\r\n"
              "[T]   Exit\r\n"
              "[T] Exit\r\n"
              "[T] Exit\r\n"
              "[T] ERROR 12345: (failed to get error string)[T] [T] next\r\n");

    TraceLogEnterA(f.logA, 0, "Outer");
    TraceLogErrorA(f.logA, 0, 12345);
    TraceLogWriteA(f.logA, 0, "%s=%d|%S caf\xe9\n", "count", 7, L"wide");
    TraceLogWriteRawA(f.logA, 0, "raw %s\n", "piece");
    TraceLogWriteWideTextA(f.logA, 0, L"%s|%S \x0416\n", L"wide", "narrow");
    TraceLogWriteThreadA(f.logA, 0, "thread\n");
    TraceLogWriteSessionA(f.logA, 0, "session\n");
    TraceLogExitA(f.logA, 0);
    EXPECT_EQ(Masked(f.narrowPath),
              "[T] Outer Enter\r\n"
              "[T]   ERROR 12345: (failed to get error string)[T]   count=7|wide caf\xE9\r\n"
              "  raw piece\r\n"
              "[T]   wide|narrow ?\r\n"
              "[T Thread:me]   thread\r\n"
              "[T Session:1]   session\r\n"
              "[T] Exit\r\n");
}

// A name with line ends or other characters below 32 cannot start a line that
// looks like the system's own; the other conversions of its message come out
// as they would without it, and the system's error text keeps its line break.
TEST(TraceLog, CharactersBelow32InStringArgumentsAreWrittenEscaped) {
    LogFile f;
    TraceLogWrite(f.log, 0, L"name: %s|%-12hs|%.3s|%*S|%5.1f|%I64d|%%|%s\n", L"a\r\n[x] forged\x1f", "b\tc", L"\n\nxyz", 6,
                  "\x7f\x01", 2.5, -5ll, L"plain");
    TraceLogWriteNarrowText(f.log, 0, "%s|%S\n", "x\ny", L"\x1b[0m");
    TraceLogEnter(f.log, 0, L"in\nside");
    TraceLogExit(f.log, 0);
    TraceLogError(f.log, 0, ERROR_ACCESS_DENIED);
    TraceLogWrite(f.log, 0, L"next\n");
    const std::string text = Masked(f.path);
    EXPECT_EQ(text.substr(0, text.find("[T] ERROR 5: ")),
              R"([T] name: a\x0D\x0A[x] forged\x1F|b\x09c      |\x0A\x0Ax|)" " \x7f" R"(\x01|  2.5|-5|%|plain)" "\r\n"
              R"([T] x\x0Ay|\x1B[0m)" "\r\n"
              R"([T] in\x0Aside Enter)" "\r\n"
              "[T] Exit\r\n");
    EXPECT_TRUE(text.find("\\x", text.find("[T] ERROR 5: ")) == text.npos && text.ends_with("\n[T] next\r\n")) << text;
    TraceLogWriteA(f.logA, 0, "%s %d\n", "p\rq", 3);
    EXPECT_EQ(Masked(f.narrowPath), "[T] p\\x0Dq 3\r\n");
}

TEST(TraceLog, DeletedFileIsCreatedAgainAndALineTheFileRefusesIsLost) {
    LogFile f;
    EXPECT_TRUE(FileExists(f.path));  // created empty at once
    TraceLogWrite(f.log, 0, L"first\n");
    ASSERT_TRUE(::DeleteFileW(f.path.c_str()));
    TraceLogWrite(f.log, 0, L"second\n");
    // Another writer holds the file without sharing it.
    HANDLE held = ::CreateFileW(f.path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    TraceLogWrite(f.log, 0, L"dropped\n");
    TraceLogEnter(f.log, 0, L"Dropped");  // still counted
    ::CloseHandle(held);
    TraceLogWrite(f.log, 0, L"third\n");
    TraceLogError(f.log, 0, ERROR_ACCESS_DENIED);  // the system's text with its own line break
    const Lines lines = f.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 2), (Lines{"second", "  third"}));
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("  ERROR 5: [A-Za-z][^\r\n]+\r*"))) << lines[2];
}

const WCHAR* const kKey = L"SOFTWARE\\Vantrel\\Corvane Logging\\Logs\\KvTraceLogTest";
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
    SetRealString(HKEY_LOCAL_MACHINE, kKey, L"File", L"%TEMP%" + file.substr(temp.size()));
    EXPECT_EQ(TraceLogCreateFromRegistry(L"KvTraceLogTest"), nullptr);  // no "Mode"
    SetRealDword(HKEY_LOCAL_MACHINE, kKey, L"Mode", 0);
    EXPECT_EQ(TraceLogCreateFromRegistryA("KvTraceLogTest"), nullptr);
    EXPECT_FALSE(FileExists(file));
    SetRealDword(HKEY_LOCAL_MACHINE, kKey, L"Mode", 0x100);
    SetRealDword(HKEY_LOCAL_MACHINE, kKey, L"Level", 65537);
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

constexpr int kLines = 40, kFiller = 60000;
// Writer id's lines: "<id> <n> <filler of one letter>".
void WriteLines(TraceLog* log, int id) {
    const std::wstring filler(kFiller, static_cast<WCHAR>(L'a' + id));
    for (int n = 0; n < kLines; ++n) TraceLogWrite(log, 0, L"%d %d %s\n", id, n, filler.c_str());
}

// The turn shared by every process writing the file: a holder that read the
// clock after the writer did is waited for; one held past a second is taken over.
TEST(TraceLog, AYoungerHolderOfTheTurnIsWaitedForAndADeadOneTakenOver) {
    LogFile f;
    ASSERT_NE(f.log->turn, nullptr);
    *f.log->turn = static_cast<LONG>((::GetTickCount() + 300) | 1);
    std::thread writer([&] { TraceLogWrite(f.log, 0, L"waited\n"); });
    ::Sleep(100);
    EXPECT_EQ(ReadFileBytes(f.path), "");
    *f.log->turn = 0;
    writer.join();
    *f.log->turn = static_cast<LONG>((::GetTickCount() - 5000) | 1);
    TraceLogWrite(f.log, 0, L"took over\n");
    EXPECT_EQ(f.lines(), (Lines{"waited", "took over"}));
    EXPECT_EQ(*f.log->turn, 0);
}

// Another process of the session keeps a fresh tick in the turn for ever: the
// first line waits for it once, the others are written at once, all of them.
TEST(TraceLog, ATurnHeldForEverCostsOneWait) {
    LogFile f;
    std::atomic<bool> hold = true, done = false;
    std::thread holder([&] { while (hold) *f.log->turn = static_cast<LONG>(::GetTickCount() | 1), ::Sleep(5); });
    std::thread writer([&] { while (!*f.log->turn) ::Sleep(1); for (int n = 0; n < 3000; ++n) TraceLogWrite(f.log, 0, L"%d\n", n); done = true; });
    for (int ms = 0; ms < 30000 && !done; ms += 10) ::Sleep(10);  // a wait per line would take 6000 s
    EXPECT_TRUE(done);
    hold = false, holder.join(), writer.join();
    Lines lines = f.lines();  // the notice before the first line that gave up, the lines all there
    EXPECT_EQ(std::erase(lines, std::string("TraceLog => the file's turn was held for 2000 ms, writing without it")), 1u);
    EXPECT_TRUE(lines.size() == 3000 && lines[0] == "0" && lines[2999] == "2999") << lines.size();
}

// Started by the next test with kWriterFile set: writer 2, in a process of its own.
TEST(TraceLogWriter, DISABLED_SecondProcess) {
    TraceLog* log = TraceLogCreate(_wgetenv(kWriterFile), 0);
    ASSERT_NE(log, nullptr);
    WriteLines(log, 2);
    TraceLogDestroy(log);
}

TEST(TraceLog, TwoThreadsAndTwoProcessesWriteWholeLines) {
    LogFile f;
    ::SetEnvironmentVariableW(kWriterFile, f.path.c_str());
    std::atomic<DWORD> exitCode = STILL_ACTIVE;
    std::thread child([&] {
        exitCode = RunProgram(L"tests\\kvtests.exe", L"--gtest_also_run_disabled_tests --gtest_filter=TraceLogWriter.*");
    });
    // The threads start once the second process has written its first line.
    while (ReadFileBytes(f.path).empty() && exitCode == STILL_ACTIVE) ::Sleep(5);
    ::SetEnvironmentVariableW(kWriterFile, nullptr);
    std::thread first(WriteLines, f.log, 0), second(WriteLines, f.log, 1);
    first.join(), second.join(), child.join();
    EXPECT_EQ(exitCode, 0u);

    int next[3] = {};  // each writer's lines whole and in its own order
    for (const std::string& line : f.lines()) {
        const int id = line[0] - '0';
        ASSERT_TRUE(id >= 0 && id < 3 && line == std::to_string(id) + " " + std::to_string(next[id]++) + " " +
                                                     std::string(kFiller, char('a' + id)))
            << line.substr(0, 80);
    }
    EXPECT_EQ(std::vector<int>(next, next + 3), std::vector<int>(3, kLines));
}

}  // namespace
