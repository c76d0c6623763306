#include <gtest/gtest.h>

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

// The stamp of a time-stamped line, with an optional thread or session part.
const char* const kStamp = R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\] )";

// Owns one wide logger for a test.
class ScopedLog {
public:
    explicit ScopedLog(TraceLog* log) : log_(log) {}
    ~ScopedLog() { TraceLogDestroy(log_); }
    ScopedLog(const ScopedLog&) = delete;
    ScopedLog& operator=(const ScopedLog&) = delete;
    TraceLog* get() const { return log_; }

private:
    TraceLog* log_;
};

class ScopedLogA {
public:
    explicit ScopedLogA(TraceLogA* log) : log_(log) {}
    ~ScopedLogA() { TraceLogDestroyA(log_); }
    ScopedLogA(const ScopedLogA&) = delete;
    ScopedLogA& operator=(const ScopedLogA&) = delete;
    TraceLogA* get() const { return log_; }

private:
    TraceLogA* log_;
};

std::string Ansi(const std::wstring& text) { return testsupport::Narrow(text); }

// What text mode stores for text: every "\n" as CR LF.
std::string AsStored(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

size_t CountFiles(const std::wstring& folder) {
    size_t count = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") ++count;
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return count;
}

// ---------------------------------------------------------------------------
// Null logger and creation

TEST(TraceLogNull, EveryOperationReturnsWithoutTouchingItsArguments) {
    TempDir dir;
    // An argument that would fault if anything formatted it.
    const WCHAR* badWide = reinterpret_cast<const WCHAR*>(static_cast<uintptr_t>(8));
    const CHAR* badNarrow = reinterpret_cast<const CHAR*>(static_cast<uintptr_t>(8));

    TraceLogWrite(nullptr, 0, L"%s\n", badWide);
    TraceLogWriteRaw(nullptr, 0, L"%s\n", badWide);
    TraceLogWriteNarrowText(nullptr, 0, "%s\n", badNarrow);
    TraceLogWriteThread(nullptr, 0, L"%s\n", badWide);
    TraceLogWriteSession(nullptr, 0, L"%s\n", badWide);
    TraceLogWriteA(nullptr, 0, "%s\n", badNarrow);
    TraceLogWriteRawA(nullptr, 0, "%s\n", badNarrow);
    TraceLogWriteWideTextA(nullptr, 0, L"%s\n", badWide);
    TraceLogWriteThreadA(nullptr, 0, "%s\n", badNarrow);
    TraceLogWriteSessionA(nullptr, 0, "%s\n", badNarrow);
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
    EXPECT_EQ(TraceLogCreateA(nullptr, 0), nullptr);
    EXPECT_EQ(TraceLogCreateA("", 0), nullptr);
    EXPECT_EQ(TraceLogCreateFromRegistry(nullptr), nullptr);
    EXPECT_EQ(TraceLogCreateFromRegistry(L""), nullptr);
    EXPECT_EQ(TraceLogCreateFromRegistryA(nullptr), nullptr);
    EXPECT_EQ(TraceLogCreateFromRegistryA(""), nullptr);
    EXPECT_EQ(CountFiles(dir.path()), 0u);
}

TEST(TraceLogCreate, CreatesTheFileAndStartsAtDepthZero) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 3));
    ASSERT_NE(log.get(), nullptr);
    EXPECT_TRUE(FileExists(path));  // created empty before the first line
    EXPECT_EQ(ReadFileBytes(path), "");
    EXPECT_EQ(std::wstring(log.get()->path), path);
    EXPECT_EQ(log.get()->file, nullptr);
    EXPECT_EQ(log.get()->depth, 0);
    EXPECT_EQ(log.get()->level, 3);

    // A folder that does not exist cannot hold the file: no logger.
    EXPECT_EQ(TraceLogCreate(dir.File(L"missing\\trace.log").c_str(), 0), nullptr);
    EXPECT_FALSE(FileExists(dir.File(L"missing")));
}

TEST(TraceLogCreate, KeepsAnExistingFileAndAppends) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    FILE* seed = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(seed, nullptr);
    fputs("earlier\r\n", seed);
    fclose(seed);

    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);
    TraceLogWriteRaw(log.get(), 0, L"later\n");
    EXPECT_EQ(ReadFileBytes(path), "earlier\r\nlater\r\n");
}

// ---------------------------------------------------------------------------
// Levels

TEST(TraceLogLevel, LevelZeroWritesZeroAndBelowAndDropsAbove) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);

    TraceLogWrite(log.get(), 0, L"zero\n");
    TraceLogWrite(log.get(), -1, L"minus one\n");
    TraceLogWrite(log.get(), 1, L"one\n");
    TraceLogWrite(log.get(), 2, L"two\n");
    // Levels compare as signed 16-bit numbers: 0xFFFF is -1, 0x8000 is the
    // lowest level, 0x10000 is 0 and 0x10001 is 1.
    TraceLogWrite(log.get(), 0xFFFF, L"ffff\n");
    TraceLogWrite(log.get(), 0x8000, L"8000\n");
    TraceLogWrite(log.get(), 0x10000, L"10000\n");
    TraceLogWrite(log.get(), 0x10001, L"10001\n");
    TraceLogWrite(log.get(), 0x7FFF, L"7fff\n");
    TraceLogWriteRaw(log.get(), 1, L"raw one\n");
    TraceLogWriteNarrowText(log.get(), 1, "narrow one\n");
    TraceLogWriteThread(log.get(), 1, L"thread one\n");
    TraceLogWriteSession(log.get(), 1, L"session one\n");
    TraceLogError(log.get(), 1, ERROR_FILE_NOT_FOUND);
    TraceLogWriteRaw(log.get(), 0, L"raw zero\n");

    EXPECT_EQ(ReadLogLines(path), (Lines{"zero", "minus one", "ffff", "8000", "10000", "raw zero"}));
}

TEST(TraceLogLevel, CreationKeepsTheLowSixteenBitsSigned) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    {
        ScopedLog log(TraceLogCreate(path.c_str(), 0x10001));
        ASSERT_NE(log.get(), nullptr);
        EXPECT_EQ(log.get()->level, 1);
        TraceLogWrite(log.get(), 1, L"one\n");
        TraceLogWrite(log.get(), 2, L"two\n");
    }
    {
        ScopedLog log(TraceLogCreate(path.c_str(), 0xFFFF));
        ASSERT_NE(log.get(), nullptr);
        EXPECT_EQ(log.get()->level, -1);
        TraceLogWrite(log.get(), 0, L"zero\n");
        TraceLogWrite(log.get(), -1, L"minus one\n");
    }
    EXPECT_EQ(ReadLogLines(path), (Lines{"one", "minus one"}));
}

// ---------------------------------------------------------------------------
// Indentation

TEST(TraceLogDepth, EnterIndentsAndExitBelowZeroWritesNoIndentation) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);

    TraceLogEnter(log.get(), 0, L"Outer");
    TraceLogEnter(log.get(), 0, L"Inner");
    TraceLogWrite(log.get(), 0, L"message\n");
    TraceLogWriteRaw(log.get(), 0, L"raw\n");
    TraceLogExit(log.get(), 0);
    TraceLogExit(log.get(), 0);
    TraceLogExit(log.get(), 0);  // one more than entered: depth -1
    EXPECT_EQ(log.get()->depth, -1);
    TraceLogWrite(log.get(), 0, L"below zero\n");
    TraceLogEnter(log.get(), 0, L"Back");  // written at -1, then depth 0
    TraceLogWrite(log.get(), 0, L"at zero\n");
    // A filtered Enter still goes one step deeper.
    TraceLogEnter(log.get(), 1, L"Hidden");
    TraceLogWrite(log.get(), 0, L"hidden depth\n");
    TraceLogExit(log.get(), 1);
    TraceLogWrite(log.get(), 0, L"end\n");

    EXPECT_EQ(ReadLogLines(path), (Lines{"Outer Enter", "  Inner Enter", "    message", "    raw", "  Exit", "Exit",
                                         "Exit", "below zero", "Back Enter", "at zero", "  hidden depth", "end"}));

    // The indentation stands between the stamp and the message.
    const std::string bytes = ReadFileBytes(path);
    EXPECT_TRUE(std::regex_search(bytes, std::regex(std::string("\n") + kStamp + "    message\r\n")));
    EXPECT_NE(bytes.find("\n    raw\r\n"), std::string::npos);
}

TEST(TraceLogDepth, NarrowLoggerIndentsTheSameWay) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLogA log(TraceLogCreateA(Ansi(path).c_str(), 0));
    ASSERT_NE(log.get(), nullptr);
    TraceLogEnterA(log.get(), 0, "Outer");
    TraceLogEnterA(log.get(), 0, "Inner");
    TraceLogWriteA(log.get(), 0, "message\n");
    TraceLogExitA(log.get(), 0);
    TraceLogExitA(log.get(), 0);
    TraceLogExitA(log.get(), 0);
    TraceLogWriteA(log.get(), 0, "below zero\n");
    EXPECT_EQ(ReadLogLines(path),
              (Lines{"Outer Enter", "  Inner Enter", "    message", "  Exit", "Exit", "Exit", "below zero"}));
}

// ---------------------------------------------------------------------------
// Line format

TEST(TraceLogFormat, StampedLineCarriesTheLocalTime) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);

    SYSTEMTIME before;
    ::GetLocalTime(&before);
    TraceLogWrite(log.get(), 0, L"value %d of %s\n", 42, L"answer");
    SYSTEMTIME after;
    ::GetLocalTime(&after);

    const std::string bytes = ReadFileBytes(path);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(bytes, m,
                                 std::regex(R"(\[(\d{4})/(\d{2})/(\d{2}) (\d{2}):(\d{2}):(\d{2})\] value 42 of answer\r\n)")))
        << bytes;
    const int year = std::stoi(m[1]), month = std::stoi(m[2]), day = std::stoi(m[3]);
    const int hour = std::stoi(m[4]), minute = std::stoi(m[5]), second = std::stoi(m[6]);
    EXPECT_TRUE(year == before.wYear || year == after.wYear);
    EXPECT_TRUE(month == before.wMonth || month == after.wMonth);
    EXPECT_TRUE(day == before.wDay || day == after.wDay);
    EXPECT_TRUE(hour == before.wHour || hour == after.wHour);
    EXPECT_GE(month, 1);
    EXPECT_LE(month, 12);
    const int stamp = minute * 60 + second;
    const int low = before.wMinute * 60 + before.wSecond;
    const int high = after.wMinute * 60 + after.wSecond;
    if (low <= high) {  // unless the hour turned during the write
        EXPECT_GE(stamp, low);
        EXPECT_LE(stamp, high);
    }
}

DWORD WINAPI WriteThreadLine(void* context) {
    TraceLogWriteThread(static_cast<TraceLog*>(context), 0, L"from worker\n");
    return ::GetCurrentThreadId();
}

TEST(TraceLogFormat, ThreadAndSessionFormsNameTheirNumber) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);

    TraceLogWriteThread(log.get(), 0, L"from main\n");
    DWORD workerId = 0;
    HANDLE worker = ::CreateThread(nullptr, 0, WriteThreadLine, log.get(), 0, &workerId);
    ASSERT_NE(worker, nullptr);
    ::WaitForSingleObject(worker, INFINITE);
    ::CloseHandle(worker);
    TraceLogWriteSession(log.get(), 0, L"in session\n");
    TraceLogWriteNarrowText(log.get(), 0, "%s text\n", "narrow");

    const std::string time = R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})";
    const std::string expected = "\\[" + time + " Thread:" + std::to_string(::GetCurrentThreadId()) +
                                 "\\] from main\r\n"
                                 "\\[" +
                                 time + " Thread:" + std::to_string(workerId) +
                                 "\\] from worker\r\n"
                                 "\\[" +
                                 time + " Session:\\d+\\] in session\r\n" + kStamp + "narrow text\r\n";
    const std::string bytes = ReadFileBytes(path);
    EXPECT_TRUE(std::regex_match(bytes, std::regex(expected))) << bytes;
    EXPECT_NE(workerId, ::GetCurrentThreadId());
}

TEST(TraceLogFormat, RawWritesHaveNoStampAndNoLineEndIsAdded) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);

    TraceLogWrite(log.get(), 0, L"head:");
    TraceLogWriteRaw(log.get(), 0, L" %s", L"A");
    TraceLogWriteRaw(log.get(), 0, L" %d", 2);
    TraceLogWriteRaw(log.get(), 0, L"\n");
    TraceLogWriteRaw(log.get(), 0, L"two\nlines\n");
    TraceLogWriteRaw(log.get(), 0, L"");

    const std::string bytes = ReadFileBytes(path);
    EXPECT_TRUE(std::regex_match(bytes, std::regex(std::string(kStamp) + "head: A 2\r\ntwo\r\nlines\r\n"))) << bytes;
}

TEST(TraceLogFormat, PercentSMeansTheFormatsOwnWidth) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);

    TraceLogWrite(log.get(), 0, L"%s|%S|%hs|%ls|%c|%C\n", L"wide", "narrow", "short", L"long", L'w', 'n');
    TraceLogWriteNarrowText(log.get(), 0, "%s|%S|%hs|%ls|%c|%C\n", "narrow", L"wide", "short", L"long", 'n', L'w');
    TraceLogWriteRaw(log.get(), 0, L"%-6s|%5S|\n", L"ab", "cd");

    EXPECT_EQ(ReadLogLines(path),
              (Lines{"wide|narrow|short|long|w|n", "narrow|wide|short|long|n|w", "ab    |   cd|"}));
}

TEST(TraceLogFormat, LineEndIsStoredAsCrLf) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);

    TraceLogWriteRaw(log.get(), 0, L"a\nb\n\n");
    TraceLogWriteNarrowText(log.get(), 0, "c\n");
    EXPECT_TRUE(std::regex_match(ReadFileBytes(path), std::regex(std::string("a\r\nb\r\n\r\n") + kStamp + "c\r\n")));
}

TEST(TraceLogFormat, CharacterOutsideTheCodePageKeepsTheLineWhole) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);

    TraceLogWrite(log.get(), 0, L"before \x0416 after\n");
    TraceLogWrite(log.get(), 0, L"arg %s end\n", L"x\x0416y");
    TraceLogWriteNarrowText(log.get(), 0, "narrow %S end\n", L"x\x0416y");
    TraceLogWrite(log.get(), 0, L"next\n");

    const Lines lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 4u) << ReadFileBytes(path).substr(0, 400);
    // How the character itself is stored is the code page's business; the
    // rest of the line and its end must arrive.
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("before .{1,3} after"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("arg x.{1,3}y end"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("narrow x.{1,3}y end"))) << lines[2];
    EXPECT_EQ(lines[3], "next");
    EXPECT_LT(ReadFileBytes(path).size(), 200u);
}

TEST(TraceLogFormat, NarrowFormatWithUnholdableWideArgumentKeepsEveryArgument) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);
    ScopedLogA logA(TraceLogCreateA(Ansi(dir.File(L"narrow.log")).c_str(), 0));
    ASSERT_NE(logA.get(), nullptr);

    const char* const format = "%-4s|%3d|%S|%c|%C|%hs|%ls|%*s|%I64d|%%s|%lu|%.2s\n";
    const WCHAR* const unholdable = L"\x0416";
    TraceLogWriteNarrowText(log.get(), 0, format, "ab", 7, unholdable, 'c', L'W', "hs", L"ls", 3, "x",
                            static_cast<long long>(1) << 40, 5ul, "xyz");
    TraceLogWriteA(logA.get(), 0, format, "ab", 7, unholdable, 'c', L'W', "hs", L"ls", 3, "x",
                   static_cast<long long>(1) << 40, 5ul, "xyz");
    TraceLogWriteRawA(logA.get(), 0, "%C end\n", L'\x0416');

    const std::string expected = R"(ab  \|  7\|.{1,3}\|c\|W\|hs\|ls\|  x\|1099511627776\|%s\|5\|xy)";
    const Lines wide = ReadLogLines(path);
    ASSERT_EQ(wide.size(), 1u) << ReadFileBytes(path).substr(0, 400);
    EXPECT_TRUE(std::regex_match(wide[0], std::regex(expected))) << wide[0];
    const Lines narrow = ReadLogLines(dir.File(L"narrow.log"));
    ASSERT_EQ(narrow.size(), 2u) << ReadFileBytes(dir.File(L"narrow.log")).substr(0, 400);
    EXPECT_TRUE(std::regex_match(narrow[0], std::regex(expected))) << narrow[0];
    EXPECT_TRUE(std::regex_match(narrow[1], std::regex(".{0,3} end"))) << narrow[1];  // a lone %C may be left out
}

TEST(TraceLogFormat, LongMessagesAreWrittenWhole) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);

    const size_t lengths[] = {1022, 1023, 1024, 1025, 5000, 100000};
    for (size_t length : lengths) {
        std::wstring text(length, L'w');
        text[length - 1] = L'W';
        TraceLogWrite(log.get(), 0, L"%s\n", text.c_str());
        std::string narrow(length, 'n');
        narrow[length - 1] = 'N';
        TraceLogWriteNarrowText(log.get(), 0, "%s\n", narrow.c_str());
    }
    // Fully formed by the format itself, not by one long argument.
    TraceLogWrite(log.get(), 0, L"%01500d\n", 7);

    const Lines lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 2 * std::size(lengths) + 1);
    for (size_t i = 0; i < std::size(lengths); ++i) {
        std::string wide(lengths[i], 'w');
        wide.back() = 'W';
        std::string narrow(lengths[i], 'n');
        narrow.back() = 'N';
        EXPECT_EQ(lines[2 * i], wide) << "wide, length " << lengths[i];
        EXPECT_EQ(lines[2 * i + 1], narrow) << "narrow, length " << lengths[i];
    }
    EXPECT_EQ(lines.back(), std::string(1499, '0') + "7");
}

// ---------------------------------------------------------------------------
// The file while the program runs

TEST(TraceLogFile, DeletedFileIsCreatedAgainByTheNextLine) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);

    TraceLogWrite(log.get(), 0, L"first\n");
    ASSERT_TRUE(::DeleteFileW(path.c_str()));
    ASSERT_FALSE(FileExists(path));
    TraceLogWrite(log.get(), 0, L"second\n");
    EXPECT_EQ(ReadLogLines(path), (Lines{"second"}));
}

TEST(TraceLogFile, FileHeldOpenWithoutSharingDropsLinesUntilReleased) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);
    TraceLogWrite(log.get(), 0, L"first\n");

    HANDLE held = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    TraceLogWrite(log.get(), 0, L"dropped\n");
    TraceLogWriteRaw(log.get(), 0, L"dropped raw\n");
    TraceLogError(log.get(), 0, ERROR_FILE_NOT_FOUND);
    TraceLogEnter(log.get(), 0, L"Dropped");
    EXPECT_EQ(log.get()->file, nullptr);
    ::CloseHandle(held);

    TraceLogWrite(log.get(), 0, L"after\n");
    // The dropped Enter still counted.
    EXPECT_EQ(ReadLogLines(path), (Lines{"first", "  after"}));
}

TEST(TraceLogFile, FolderInPlaceOfTheFileDropsLinesSilently) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);

    ASSERT_TRUE(::DeleteFileW(path.c_str()));
    ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr));
    TraceLogWrite(log.get(), 0, L"dropped\n");
    TraceLogWriteNarrowText(log.get(), 0, "dropped\n");
    EXPECT_EQ(CountFiles(path), 0u);
    ASSERT_TRUE(::RemoveDirectoryW(path.c_str()));

    TraceLogWrite(log.get(), 0, L"after\n");
    EXPECT_EQ(ReadLogLines(path), (Lines{"after"}));
}

// ---------------------------------------------------------------------------
// Error texts

std::wstring SystemText(DWORD code) {
    WCHAR* text = nullptr;
    const DWORD got = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<WCHAR*>(&text), 0, nullptr);
    std::wstring result = got && text ? std::wstring(text) : std::wstring();
    if (text) ::LocalFree(text);
    return result;
}

TEST(TraceLogError, UnknownCodeWritesTheFallbackWithoutALineEnd) {
    // 12345 has no system text; the fallback must stand in for it.
    ASSERT_EQ(SystemText(12345), L"") << "the system has a text for 12345; pick a code it does not know";

    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);
    TraceLogError(log.get(), 0, 12345);
    TraceLogWrite(log.get(), 0, L"next entry\n");

    const std::string bytes = ReadFileBytes(path);
    EXPECT_TRUE(std::regex_match(
        bytes, std::regex(std::string(kStamp) + R"(ERROR 12345: \(failed to get error string\))" + kStamp + "next entry\r\n")))
        << bytes;

    ScopedLogA logA(TraceLogCreateA(Ansi(dir.File(L"narrow.log")).c_str(), 0));
    ASSERT_NE(logA.get(), nullptr);
    TraceLogErrorA(logA.get(), 0, 12345);
    TraceLogWriteA(logA.get(), 0, "next entry\n");
    const std::string narrow = ReadFileBytes(dir.File(L"narrow.log"));
    EXPECT_TRUE(std::regex_match(
        narrow, std::regex(std::string(kStamp) + R"(ERROR 12345: \(failed to get error string\))" + kStamp + "next entry\r\n")))
        << narrow;
}

TEST(TraceLogError, KnownCodeWritesTheSystemTextAsItComes) {
    const std::wstring text = SystemText(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(text.empty());

    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);
    TraceLogError(log.get(), 0, ERROR_ACCESS_DENIED);
    TraceLogError(log.get(), 1, ERROR_ACCESS_DENIED);  // filtered

    const std::string bytes = ReadFileBytes(path);
    const std::string expected = AsStored("ERROR 5: " + Ansi(text));
    ASSERT_TRUE(std::regex_search(bytes, std::regex(std::string("^") + kStamp))) << bytes;
    EXPECT_EQ(testsupport::StripStamp(bytes), expected);
}

// ---------------------------------------------------------------------------
// Registry configuration

const WCHAR* const kTestLogName = L"KvTraceLogTest";

class TraceLogRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        keyPath_ = std::wstring(kTraceLogKey) + L"\\" + kTestLogName;
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath_.c_str());
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                                    nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (key_) ::RegCloseKey(key_);
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath_.c_str());
        // Leave no empty parents behind under SOFTWARE\Vantrel.
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kTraceLogKey);
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel\\Corvane Logging");
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel");
    }
    void SetDword(const WCHAR* name, DWORD value) {
        ASSERT_EQ(::RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                  ERROR_SUCCESS);
    }
    void SetString(const WCHAR* name, const std::wstring& value, DWORD type = REG_SZ) {
        ASSERT_EQ(::RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
    }
    // The TempDir's path with the TEMP folder written as a reference to %TEMP%.
    static std::wstring ThroughTemp(const TempDir& dir, const std::wstring& name) {
        WCHAR temp[MAX_PATH];
        const DWORD length = ::GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
        std::wstring full = dir.File(name);
        if (length == 0 || full.compare(0, length, temp) != 0) return full;
        return L"%TEMP%" + full.substr(length);
    }

    std::wstring keyPath_;
    HKEY key_ = nullptr;
};

TEST_F(TraceLogRegistry, FileThroughTempAndLevelLowSixteenBits) {
    TempDir dir;
    const std::wstring file = ThroughTemp(dir, L"registry.log");
    ASSERT_EQ(file.rfind(L"%TEMP%", 0), 0u) << "the scratch folder is not under %TEMP%";
    SetDword(L"Mode", 1);
    SetString(L"File", file);
    SetDword(L"Level", 65537);

    ScopedLog log(TraceLogCreateFromRegistry(kTestLogName));
    ASSERT_NE(log.get(), nullptr);
    EXPECT_EQ(std::wstring(log.get()->path), dir.File(L"registry.log"));
    EXPECT_EQ(log.get()->level, 1);
    EXPECT_TRUE(FileExists(dir.File(L"registry.log")));
    TraceLogWrite(log.get(), 1, L"level one\n");
    TraceLogWrite(log.get(), 2, L"level two\n");
    EXPECT_EQ(ReadLogLines(dir.File(L"registry.log")), (Lines{"level one"}));

    ScopedLogA logA(TraceLogCreateFromRegistryA(Ansi(kTestLogName).c_str()));
    ASSERT_NE(logA.get(), nullptr);
    EXPECT_EQ(std::string(logA.get()->path), Ansi(dir.File(L"registry.log")));
    EXPECT_EQ(logA.get()->level, 1);
}

TEST_F(TraceLogRegistry, MissingLevelGivesZeroAndNonZeroModeSwitchesOn) {
    TempDir dir;
    SetDword(L"Mode", 0x100);
    SetString(L"File", dir.File(L"registry.log"));
    ScopedLog log(TraceLogCreateFromRegistry(kTestLogName));
    ASSERT_NE(log.get(), nullptr);
    EXPECT_EQ(log.get()->level, 0);
}

TEST_F(TraceLogRegistry, ModeZeroOrAbsentGivesNoLogger) {
    TempDir dir;
    SetString(L"File", dir.File(L"registry.log"));
    EXPECT_EQ(TraceLogCreateFromRegistry(kTestLogName), nullptr);
    EXPECT_EQ(TraceLogCreateFromRegistryA(Ansi(kTestLogName).c_str()), nullptr);
    SetDword(L"Mode", 0);
    EXPECT_EQ(TraceLogCreateFromRegistry(kTestLogName), nullptr);
    EXPECT_EQ(TraceLogCreateFromRegistryA(Ansi(kTestLogName).c_str()), nullptr);
    EXPECT_FALSE(FileExists(dir.File(L"registry.log")));
}

TEST_F(TraceLogRegistry, MissingFileOrKeyOrUnopenableFileGivesNoLogger) {
    TempDir dir;
    SetDword(L"Mode", 1);
    SetDword(L"Level", 5);
    EXPECT_EQ(TraceLogCreateFromRegistry(kTestLogName), nullptr);
    EXPECT_EQ(TraceLogCreateFromRegistryA(Ansi(kTestLogName).c_str()), nullptr);

    SetString(L"File", dir.File(L"no such folder\\registry.log"));
    EXPECT_EQ(TraceLogCreateFromRegistry(kTestLogName), nullptr);

    EXPECT_EQ(TraceLogCreateFromRegistry(L"KvTraceLogTestMissing"), nullptr);
    EXPECT_EQ(TraceLogCreateFromRegistryA("KvTraceLogTestMissing"), nullptr);
}

// ---------------------------------------------------------------------------
// The narrow logger

TEST(TraceLogNarrow, TwinsWriteTheSameLines) {
    TempDir dir;
    const std::wstring path = dir.File(L"narrow.log");
    ScopedLogA log(TraceLogCreateA(Ansi(path).c_str(), 0));
    ASSERT_NE(log.get(), nullptr);
    EXPECT_EQ(std::string(log.get()->path), Ansi(path));
    EXPECT_EQ(log.get()->depth, 0);

    TraceLogWriteA(log.get(), 0, "%s=%d|%S\n", "count", 7, L"wide");
    TraceLogWriteA(log.get(), 1, "dropped\n");
    TraceLogWriteRawA(log.get(), 0, "raw %s\n", "piece");
    TraceLogWriteWideTextA(log.get(), 0, L"%s|%S\n", L"wide", "narrow");
    TraceLogWriteWideTextA(log.get(), 1, L"dropped\n");
    TraceLogWriteThreadA(log.get(), 0, "thread\n");
    TraceLogWriteSessionA(log.get(), 0, "session\n");

    EXPECT_EQ(ReadLogLines(path), (Lines{"count=7|wide", "raw piece", "wide|narrow", "thread", "session"}));
    const std::string bytes = ReadFileBytes(path);
    EXPECT_TRUE(std::regex_search(bytes, std::regex(std::string("^") + kStamp + "count=7")));
    EXPECT_NE(bytes.find("\r\nraw piece\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("Thread:" + std::to_string(::GetCurrentThreadId()) + "] thread\r\n"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Several threads on one logger

struct WriterJob {
    TraceLog* log;
    int id;
};

const int kWriters = 4;
const int kLinesPerWriter = 40;
const int kFiller = 60000;

DWORD WINAPI WriteManyLines(void* context) {
    const WriterJob* job = static_cast<const WriterJob*>(context);
    // Longer than the runtime's stream buffer, so one line takes several
    // writes to the file.
    const std::wstring filler(kFiller, static_cast<WCHAR>(L'a' + job->id));
    for (int i = 0; i < kLinesPerWriter; ++i) {
        if (i % 2)
            TraceLogWrite(job->log, 0, L"writer %d line %d %s end\n", job->id, i, filler.c_str());
        else
            TraceLogWriteThread(job->log, 0, L"writer %d line %d %s end\n", job->id, i, filler.c_str());
    }
    return 0;
}

TEST(TraceLogThreads, LinesFromSeveralThreadsNeverInterleave) {
    TempDir dir;
    const std::wstring path = dir.File(L"trace.log");
    ScopedLog log(TraceLogCreate(path.c_str(), 0));
    ASSERT_NE(log.get(), nullptr);

    WriterJob jobs[kWriters];
    HANDLE threads[kWriters];
    for (int i = 0; i < kWriters; ++i) {
        jobs[i] = {log.get(), i};
        threads[i] = ::CreateThread(nullptr, 0, WriteManyLines, &jobs[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    ::WaitForMultipleObjects(kWriters, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) ::CloseHandle(thread);

    const Lines lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kWriters * kLinesPerWriter));
    int next[kWriters] = {};
    for (const std::string& line : lines) {
        int id = -1, number = -1, consumed = 0;
        ASSERT_EQ(sscanf(line.c_str(), "writer %d line %d %n", &id, &number, &consumed), 2) << line.substr(0, 80);
        ASSERT_GE(id, 0);
        ASSERT_LT(id, kWriters);
        const std::string expectedRest = std::string(kFiller, static_cast<char>('a' + id)) + " end";
        ASSERT_EQ(line.substr(static_cast<size_t>(consumed)), expectedRest) << "writer " << id << " line " << number;
        EXPECT_EQ(number, next[id]++);  // each writer's lines in its order
    }
    // Every line began with its own stamp at the start of a line.
    const std::string bytes = ReadFileBytes(path);
    size_t stamps = 0;
    for (size_t at = 0; (at = bytes.find("\r\n[", at)) != std::string::npos; at += 3) ++stamps;
    EXPECT_EQ(stamps + 1, lines.size());
}

}  // namespace
