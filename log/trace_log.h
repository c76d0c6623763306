// The trace log: a plain text file to which every part of the system appends
// time-stamped lines. Each line is written with its own open / append / close
// of the file, under the logger's lock. A null logger means no logging.
#pragma once

#include "platform/platform.h"

struct TraceLog {
    WCHAR path[MAX_PATH];  // full path of the log file
    HANDLE file;           // open only while one line is being written; null otherwise
    SHORT depth;           // indentation depth
    SHORT level;           // highest message level that is written
    CRITICAL_SECTION lock; // held for the whole of one line
    volatile LONG* turn;   // taken by one writer of the file at a time, across processes; null: none
    HANDLE turnMapping;    // keeps the turn's shared memory named
    BOOL turnGivenUp;      // a holder kept the turn past a line's wait: no line waits for it again
};

struct TraceLogA {
    CHAR path[MAX_PATH];
    HANDLE file;
    SHORT depth;
    SHORT level;
    CRITICAL_SECTION lock;
    volatile LONG* turn;
    HANDLE turnMapping;
    BOOL turnGivenUp;
};

// Process-wide loggers: the client's and the printing library's. Both start
// out null; start-up points them at one logger.
extern TraceLog* ClientLog;
extern TraceLog* LibraryLog;

// The logging configuration of TraceLogCreateFromRegistry lives below this
// key under HKEY_LOCAL_MACHINE.
inline constexpr const WCHAR* kTraceLogKey = L"SOFTWARE\\Vantrel\\Corvane Logging\\Logs";

TraceLog* TraceLogCreate(const WCHAR* path, int level);
TraceLogA* TraceLogCreateA(const CHAR* path, int level);
TraceLog* TraceLogCreateFromRegistry(const WCHAR* name);
TraceLogA* TraceLogCreateFromRegistryA(const CHAR* name);
void TraceLogDestroy(TraceLog* log);
void TraceLogDestroyA(TraceLogA* log);

// Write forms: (logger, level, printf-style format in the Microsoft meaning
// of %s / %S, arguments).
void TraceLogWrite(TraceLog* log, int level, const WCHAR* format, ...);
void TraceLogWriteRaw(TraceLog* log, int level, const WCHAR* format, ...);
void TraceLogWriteNarrowText(TraceLog* log, int level, const CHAR* format, ...);
void TraceLogWriteThread(TraceLog* log, int level, const WCHAR* format, ...);
void TraceLogWriteSession(TraceLog* log, int level, const WCHAR* format, ...);
void TraceLogWriteA(TraceLogA* log, int level, const CHAR* format, ...);
void TraceLogWriteRawA(TraceLogA* log, int level, const CHAR* format, ...);
void TraceLogWriteWideTextA(TraceLogA* log, int level, const WCHAR* format, ...);
void TraceLogWriteThreadA(TraceLogA* log, int level, const CHAR* format, ...);
void TraceLogWriteSessionA(TraceLogA* log, int level, const CHAR* format, ...);

// The system's text for a Windows error code ("ERROR %d: %s").
void TraceLogError(TraceLog* log, int level, DWORD code);
void TraceLogErrorA(TraceLogA* log, int level, DWORD code);

// "%s Enter\n" then one step deeper; one step back then "Exit\n".
void TraceLogEnter(TraceLog* log, int level, const WCHAR* name);
void TraceLogEnterA(TraceLogA* log, int level, const CHAR* name);
void TraceLogExit(TraceLog* log, int level);
void TraceLogExitA(TraceLogA* log, int level);
