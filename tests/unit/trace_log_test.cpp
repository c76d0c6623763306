#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "support/temp_dir.h"

using testsupport::FileExists;
using testsupport::ReadFileBytes;
using testsupport::ReadLogLines;
using testsupport::TempDir;

namespace {

using Lines = std::vector<std::string>;
const std::string kStamp = R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\] )";

// A wide logger of level 0 on a fresh file, and a narrow one next to it.
struct LogFile {
    TempDir dir;
    std::wstring path = dir.File(L"trace.log");
    std::wstring narrowPath = dir.File(L"narrow.log");
    TraceLog* log = TraceLogCreate(path.c_str(), 0);
    std::unique_ptr<TraceLogA, void (*)(TraceLogA*)> logA{
        TraceLogCreateA(testsupport::Narrow(narrowPath).c_str(), 0), TraceLogDestroyA};
    ~LogFile() { TraceLogDestroy(log); }
    Lines lines() const { return ReadLogLines(path); }
    std::string bytes() const { return ReadFileBytes(path); }
};

bool Matches(const std::string& text, const std::string& pattern) { return std::regex_match(text, std::regex(pattern)); }

TEST(TraceLog, NullLoggerAndMissingNamesDoNothing) {
    TempDir dir;
    // An argument that would fault if anything formatted it.
    const WCHAR* badW = reinterpret_cast<const WCHAR*>(static_cast<uintptr_t>(8));
    const CHAR* badA = reinterpret_cast<const CHAR*>(static_cast<uintptr_t>(8));
    TraceLogWrite(nullptr, 0, L"%s\n", badW);
    TraceLogWriteRaw(nullptr, 0, L"%s\n", badW);
    TraceLogWriteNarrowText(nullptr, 0, "%s\n", badA);
    TraceLogWriteThread(nullptr, 0, L"%s\n", badW);
    TraceLogWriteSession(nullptr, 0, L"%s\n", badW);
    TraceLogWriteA(nullptr, 0, "%s\n", badA);
    TraceLogWriteRawA(nullptr, 0, "%s\n", badA);
    TraceLogWriteWideTextA(nullptr, 0, L"%s\n", badW);
    TraceLogWriteThreadA(nullptr, 0, "%s\n", badA);
    TraceLogWriteSessionA(nullptr, 0, "%s\n", badA);
    TraceLogError(nullptr, 0, ERROR_FILE_NOT_FOUND);
    TraceLogErrorA(nullptr, 0, ERROR_FILE_NOT_FOUND);
    TraceLogEnter(nullptr, 0, L"Nothing");
    TraceLogEnterA(nullptr, 0, "Nothing");
    TraceLogExit(nullptr, 0);
    TraceLogExitA(nullptr, 0);
    TraceLogDestroy(nullptr);
    TraceLogDestroyA(nullptr);
    EXPECT_EQ(TraceLogCreate(nullptr, 0), nullptr);
    EXPECT_EQ(TraceLogCreate(L"", 0), nullptr);
    EXPECT_EQ(TraceLogCreateA("", 0), nullptr);
    EXPECT_EQ(TraceLogCreateFromRegistry(L""), nullptr);
    EXPECT_EQ(TraceLogCreateFromRegistryA(nullptr), nullptr);
    // A folder that does not exist cannot hold the file: no logger, nothing created.
    EXPECT_EQ(TraceLogCreate(dir.File(L"missing\\trace.log").c_str(), 0), nullptr);
    EXPECT_FALSE(FileExists(dir.File(L"missing")));
}

TEST(TraceLog, LevelsCompareAsSigned16BitNumbers) {
    const struct {
        int logger, line;
        bool written;
    } cases[] = {{0, 0, true},       {0, -1, true},       {0, 1, false},     {0, 0xFFFF, true},
                 {0, 0x8000, true},  {0, 0x10000, true},  {0, 0x10001, false}, {0, 0x7FFF, false},
                 {0x10001, 1, true}, {0x10001, 2, false}, {0xFFFF, 0, false}, {0xFFFF, -1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "logger " << c.logger << ", line " << c.line);
        TempDir dir;
        const std::wstring path = dir.File(L"trace.log");
        TraceLog* log = TraceLogCreate(path.c_str(), c.logger);
        ASSERT_NE(log, nullptr);
        TraceLogWrite(log, c.line, L"line\n");
        TraceLogDestroy(log);
        EXPECT_EQ(ReadLogLines(path), c.written ? Lines{"line"} : Lines{});
    }
    // Every write form filters the same way.
    LogFile f;
    TraceLogWriteRaw(f.log, 1, L"x\n");
    TraceLogWriteNarrowText(f.log, 1, "x\n");
    TraceLogWriteThread(f.log, 1, L"x\n");
    TraceLogError(f.log, 1, ERROR_FILE_NOT_FOUND);
    TraceLogWriteA(f.logA.get(), 1, "x\n");
    EXPECT_EQ(f.bytes(), "");
    EXPECT_EQ(ReadFileBytes(f.narrowPath), "");
}

TEST(TraceLog, EnterAndExitIndentBetweenStampAndMessage) {
    LogFile f;
    TraceLogEnter(f.log, 0, L"Outer");
    TraceLogEnter(f.log, 0, L"Inner");
    TraceLogWrite(f.log, 0, L"message\n");
    EXPECT_TRUE(Matches(f.bytes(), kStamp + "Outer Enter\r\n" + kStamp + "  Inner Enter\r\n" + kStamp + "    message\r\n"))
        << f.bytes();
    TraceLogWriteRaw(f.log, 0, L"raw\n");
    TraceLogExit(f.log, 0);
    TraceLogExit(f.log, 0);
    TraceLogExit(f.log, 0);  // one more than entered: depth -1, no indentation
    EXPECT_EQ(f.log->depth, -1);
    TraceLogWrite(f.log, 0, L"below zero\n");
    TraceLogEnter(f.log, 0, L"Back");
    TraceLogEnter(f.log, 1, L"Hidden");  // filtered, but still one step deeper
    TraceLogWrite(f.log, 0, L"hidden depth\n");
    EXPECT_EQ(f.lines(), (Lines{"Outer Enter", "  Inner Enter", "    message", "    raw", "  Exit", "Exit", "Exit",
                                "below zero", "Back Enter", "  hidden depth"}));

    // The narrow logger's twins, %s meaning the format's own width there too.
    TraceLogEnterA(f.logA.get(), 0, "Outer");
    TraceLogWriteA(f.logA.get(), 0, "%s=%d|%S\n", "count", 7, L"wide");
    TraceLogWriteWideTextA(f.logA.get(), 0, L"%s|%S\n", L"wide", "narrow");
    TraceLogWriteThreadA(f.logA.get(), 0, "thread\n");
    TraceLogExitA(f.logA.get(), 0);
    TraceLogWriteRawA(f.logA.get(), 0, "raw\n");
    EXPECT_EQ(ReadLogLines(f.narrowPath), (Lines{"Outer Enter", "  count=7|wide", "  wide|narrow", "  thread", "Exit", "raw"}));
    EXPECT_NE(ReadFileBytes(f.narrowPath).find(" Thread:" + std::to_string(::GetCurrentThreadId()) + "]   thread\r\n"),
              std::string::npos);
}

DWORD WINAPI WriteThreadLine(void* log) {
    TraceLogWriteThread(static_cast<TraceLog*>(log), 0, L"from worker\n");
    return 0;
}

TEST(TraceLog, LineLayoutStampsRawPiecesAndTextMode) {
    LogFile f;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    TraceLogWrite(f.log, 0, L"head %d:", 42);
    TraceLogWriteRaw(f.log, 0, L" %s|%S|%hs|%ls|%c|%C", L"wide", "narrow", "short", L"long", L'w', 'n');
    TraceLogWriteRaw(f.log, 0, L"\ntwo\n\n");
    TraceLogWriteNarrowText(f.log, 0, "%s|%S|%-4s|%3d\n", "narrow", L"wide", "ab", 7);
    TraceLogWriteThread(f.log, 0, L"from main\n");
    DWORD workerId = 0;
    HANDLE worker = ::CreateThread(nullptr, 0, WriteThreadLine, f.log, 0, &workerId);
    ASSERT_NE(worker, nullptr);
    ::WaitForSingleObject(worker, INFINITE);
    ::CloseHandle(worker);
    TraceLogWriteSession(f.log, 0, L"in session\n");

    char date[16];
    snprintf(date, sizeof(date), "%04d/%02d/%02d", now.wYear, now.wMonth, now.wDay);
    const std::string time = R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})";
    const std::string bytes = f.bytes();
    EXPECT_EQ(bytes.substr(1, 10), date);  // local date (unless the day turned meanwhile)
    EXPECT_TRUE(Matches(bytes, kStamp + "head 42: wide\\|narrow\\|short\\|long\\|w\\|n\r\ntwo\r\n\r\n" + kStamp +
                                   "narrow\\|wide\\|ab  \\|  7\r\n\\[" + time + " Thread:" +
                                   std::to_string(::GetCurrentThreadId()) + "\\] from main\r\n\\[" + time +
                                   " Thread:" + std::to_string(workerId) + "\\] from worker\r\n\\[" + time +
                                   " Session:\\d+\\] in session\r\n"))
        << bytes;
}

TEST(TraceLog, CharactersOutsideTheCodePageAndLongMessages) {
    LogFile f;
    TraceLogWrite(f.log, 0, L"arg %s end\n", L"x\x0416y");
    // The narrow runtime refuses the character: the line arrives unexpanded.
    TraceLogWriteNarrowText(f.log, 0, "narrow %S end\n", L"x\x0416y");
    const size_t lengths[] = {1023, 1024, 1025, 100000};
    for (size_t length : lengths) {
        const std::wstring text = std::wstring(length - 1, L'w') + L'W';
        TraceLogWrite(f.log, 0, L"%s\n", text.c_str());
        TraceLogWriteNarrowText(f.log, 0, "%s\n", testsupport::Narrow(text).c_str());
    }
    TraceLogWrite(f.log, 0, L"%01500d\n", 7);

    const Lines lines = f.lines();
    ASSERT_EQ(lines.size(), 2 + 2 * std::size(lengths) + 1);
    EXPECT_TRUE(Matches(lines[0], "arg x.{1,3}y end")) << lines[0];
    EXPECT_EQ(lines[1], "narrow %S end");
    for (size_t i = 0; i < std::size(lengths); ++i) {
        SCOPED_TRACE(lengths[i]);
        EXPECT_EQ(lines[2 + 2 * i], std::string(lengths[i] - 1, 'w') + 'W');
        EXPECT_EQ(lines[3 + 2 * i], std::string(lengths[i] - 1, 'w') + 'W');
    }
    EXPECT_EQ(lines.back(), std::string(1499, '0') + "7");
}

TEST(TraceLog, DeletedFileIsCreatedAgainAndUnopenableFileDropsLines) {
    LogFile f;
    ASSERT_NE(f.log, nullptr);
    EXPECT_EQ(f.log->depth, 0);
    EXPECT_TRUE(FileExists(f.path));  // created empty at once
    TraceLogWrite(f.log, 0, L"first\n");
    ASSERT_TRUE(::DeleteFileW(f.path.c_str()));
    TraceLogWrite(f.log, 0, L"second\n");
    TraceLog* again = TraceLogCreate(f.path.c_str(), 0);  // an existing file is appended to
    TraceLogWrite(again, 0, L"third\n");
    TraceLogDestroy(again);
    EXPECT_EQ(f.lines(), (Lines{"second", "third"}));

    HANDLE held = ::CreateFileW(f.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    TraceLogWrite(f.log, 0, L"dropped\n");
    TraceLogWriteNarrowText(f.log, 0, "dropped\n");
    TraceLogError(f.log, 0, ERROR_FILE_NOT_FOUND);
    TraceLogEnter(f.log, 0, L"Dropped");  // still counted
    EXPECT_EQ(f.log->file, nullptr);
    ::CloseHandle(held);
    TraceLogWrite(f.log, 0, L"after\n");
    EXPECT_EQ(f.lines(), (Lines{"second", "third", "  after"}));
}

TEST(TraceLog, ErrorTextOrFallbackWithoutLineEnd) {
    LogFile f;
    TraceLogError(f.log, 0, 12345);  // a code without a system text
    TraceLogWrite(f.log, 0, L"next entry\n");
    TraceLogErrorA(f.logA.get(), 0, 12345);
    TraceLogWriteA(f.logA.get(), 0, "next entry\n");
    const std::string expected = kStamp + R"(ERROR 12345: \(failed to get error string\))" + kStamp + "next entry\r\n";
    EXPECT_TRUE(Matches(f.bytes(), expected)) << f.bytes();
    EXPECT_TRUE(Matches(ReadFileBytes(f.narrowPath), expected)) << ReadFileBytes(f.narrowPath);

    // A known code: the system's text as it comes, with its own line break.
    LogFile known;
    TraceLogError(known.log, 0, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Matches(known.bytes(), kStamp + "ERROR 5: [A-Za-z][^\r\n]+\r*\n")) << known.bytes();
}

class TraceLogRegistry : public ::testing::Test {
protected:
    const std::wstring keyPath_ = std::wstring(kTraceLogKey) + L"\\KvTraceLogTest";
    HKEY key_ = nullptr;
    void SetUp() override {
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath_.c_str());
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        ::RegCloseKey(key_);
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath_.c_str());
        // Leave no empty parents behind.
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kTraceLogKey);
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel\\Corvane Logging");
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel");
    }
    void Set(const WCHAR* name, DWORD value) {
        ::RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    }
    void Set(const WCHAR* name, const std::wstring& value) {
        ::RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
    }
};

TEST_F(TraceLogRegistry, FileThroughTempAndLevel65537) {
    TempDir dir;
    WCHAR temp[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
    const std::wstring file = dir.File(L"registry.log");
    ASSERT_TRUE(length > 0 && file.compare(0, length, temp) == 0) << "the scratch folder is not under %TEMP%";
    Set(L"Mode", 1);
    Set(L"File", L"%TEMP%" + file.substr(length));
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
    EXPECT_EQ(std::string(logA->path), testsupport::Narrow(file));
    EXPECT_EQ(logA->level, 1);
    TraceLogDestroyA(logA);
}

TEST_F(TraceLogRegistry, ModeFileAndLevelDecideWhetherThereIsALogger) {
    TempDir dir;
    EXPECT_EQ(TraceLogCreateFromRegistry(L"KvTraceLogTestMissing"), nullptr);
    Set(L"File", dir.File(L"registry.log"));
    EXPECT_EQ(TraceLogCreateFromRegistry(L"KvTraceLogTest"), nullptr);  // no "Mode"
    Set(L"Mode", 0);
    EXPECT_EQ(TraceLogCreateFromRegistryA("KvTraceLogTest"), nullptr);
    EXPECT_FALSE(FileExists(dir.File(L"registry.log")));
    Set(L"Mode", 0x100);
    TraceLog* log = TraceLogCreateFromRegistry(L"KvTraceLogTest");
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->level, 0);  // no "Level"
    TraceLogDestroy(log);
    Set(L"File", dir.File(L"no such folder\\registry.log"));
    EXPECT_EQ(TraceLogCreateFromRegistry(L"KvTraceLogTest"), nullptr);
    ::RegDeleteValueW(key_, L"File");
    EXPECT_EQ(TraceLogCreateFromRegistryA("KvTraceLogTest"), nullptr);
}

const int kWriters = 4, kLinesPerWriter = 40, kFiller = 60000;
TraceLog* g_shared = nullptr;

DWORD WINAPI WriteManyLines(void* context) {
    const int id = static_cast<int>(reinterpret_cast<intptr_t>(context));
    // Longer than the runtime's stream buffer: one line takes several writes to the file.
    const std::wstring filler(kFiller, static_cast<WCHAR>(L'a' + id));
    for (int i = 0; i < kLinesPerWriter; ++i) TraceLogWrite(g_shared, 0, L"writer %d line %d %s end\n", id, i, filler.c_str());
    return 0;
}

TEST(TraceLog, ConcurrentWritersNeverInterleaveWithinALine) {
    LogFile f;
    g_shared = f.log;
    HANDLE threads[kWriters];
    for (intptr_t i = 0; i < kWriters; ++i) {
        threads[i] = ::CreateThread(nullptr, 0, WriteManyLines, reinterpret_cast<void*>(i), 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    ::WaitForMultipleObjects(kWriters, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) ::CloseHandle(thread);

    const Lines lines = f.lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kWriters * kLinesPerWriter));
    int next[kWriters] = {};
    for (const std::string& line : lines) {
        int id = -1, number = -1, consumed = 0;
        ASSERT_EQ(sscanf(line.c_str(), "writer %d line %d %n", &id, &number, &consumed), 2) << line.substr(0, 80);
        ASSERT_TRUE(id >= 0 && id < kWriters);
        ASSERT_EQ(line.substr(static_cast<size_t>(consumed)), std::string(kFiller, static_cast<char>('a' + id)) + " end");
        EXPECT_EQ(number, next[id]++);
    }
}

}  // namespace
