// Printer and driver look-ups: printer information of an open printer, its
// driver information and driver name, a named driver's record on a print
// server, the printer's share and full names, and free-space traces.
//
// Blocks are single zero-filled process-heap blocks owned by the caller, who
// frees them with platform::HeapFreeBlock. Failures come back as null or as
// the empty string; every step is traced to LibraryLog.
#pragma once

#include <string>
#include <type_traits>

#include "log/trace_log.h"
#include "platform/platform.h"

// The printer information of that level as GetPrinterW fills it (the record
// followed by the strings and DEVMODE it points to), or null.
LPBYTE vlibPRINT_GetPrinterInfo(HANDLE hPrinter, DWORD dwLevel);

// The driver information (DRIVER_INFO_n) of the open printer, or null.
LPBYTE GetDriverInfo(HANDLE hPrinter, DWORD dwLevel);

// The name of the printer's driver, or the empty string.
std::wstring vlibPRINT_GetDriverName(std::wstring printerName);

// The DRIVER_INFO_n record (levels 1 to 6) of the named driver on the server
// (empty: this machine), for the "Windows NT x86" environment, or null. When
// several installed versions match, the last one listed is returned. The
// strings the record points to are held in the same block.
LPBYTE NDGetRemoteDriverInfo(std::wstring serverName, std::wstring driverName, DWORD dwLevel);

// "\\server\share" for a printer shared from a server, the share name alone
// for a local one (empty when it is not shared), or the empty string.
std::wstring vlibPRINT_GetNativePrinterShareName(std::wstring printerName);

// The spooler's name of the printer; the given name when its information
// cannot be read; the empty string when it cannot be opened.
std::wstring vlibPRINT_GetNativePrinterFullName(std::wstring printerName);

// Trace the free bytes of the disk holding the path.
void LogFreeSpaceW(LPCWSTR path, TraceLog* log);
void LogFreeSpaceA(LPCSTR path, TraceLog* log);

// Size of one DRIVER_INFO_n record, 0 for a level outside 1 to 6.
size_t vlibPRINT_DriverInfoRecordSize(DWORD dwLevel);

namespace vlibprint_detail {
// The free-space trace with the system's calls given (W or A by the path's
// width); a null extended call takes the path for systems without it.
template <class Ch>
using DiskFreeEx = BOOL(WINAPI*)(const Ch*, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
template <class Ch>
using DiskFree = BOOL(WINAPI*)(const Ch*, LPDWORD, LPDWORD, LPDWORD, LPDWORD);
template <class Ch>
void LogFreeSpace(const Ch* path, TraceLog* log, std::type_identity_t<DiskFreeEx<Ch>> extended,
                  std::type_identity_t<DiskFree<Ch>> plain);
}  // namespace vlibprint_detail
