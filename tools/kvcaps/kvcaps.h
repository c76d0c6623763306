// kvcaps: what the files of the tool share (each command is a file of its own:
// source.cpp reads a record from where it is stored, summary.cpp prints it,
// info_records.cpp builds, shows and publishes printer info records, the
// export_*.cpp files write the standard exports, main.cpp reads the command
// line and hands it to one of them).
#pragma once

#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "platform/kernel.h"
#include "records/caps4.h"

namespace kvcaps {

enum ExitCode { kOk = 0, kUsage = 1, kUnreadable = 2, kDamaged = 3, kNoMemory = 4, kNotWritten = 5 };
// --diff: the two records differ (as a wrong command line does).
inline constexpr int kDifferent = 1;

using platform::Utf8;
inline std::string Utf8(const std::wstring& text) { return Utf8(text.c_str()); }

// Prints the usage lines of every command and gives kUsage.
int Usage();

// ------------------------------------------------------------ sources (source.cpp)

// The usage lines of the commands that read a capability record from a source.
extern const char kSourceUsageLines[];

bool ReadFileBytes(const std::wstring& path, std::vector<BYTE>* bytes, std::string* why);
// The value `name` of the printer's subkey of the Printers key, per machine
// and then, when `perUserToo`, per user; `where` says which one was read.
bool ReadRegistryValue(const std::wstring& printer, const WCHAR* name, bool perUserToo, std::vector<BYTE>* bytes,
                       std::string* where, std::string* why);
bool ReadPrinterData(const std::wstring& printer, std::vector<BYTE>* bytes, std::string* why);
// The file's name without its extension.
std::wstring FileStem(const std::wstring& path);

// A capability record read from any source: a file, "--registry PRINTER"
// or "--printer-data PRINTER". Whatever the source, its bytes are told apart
// by their content: a capability record, a printer info record of any
// version, the earlier printer info record, or a record's JSON document
// (what --json writes). From an info record it also carries the record's
// DEVMODE, whose fields give the printer's defaults, and its driver's name.
struct Source {
    std::wstring file, registryPrinter, dataPrinter;  // exactly one is set
    std::vector<BYTE> record;                         // the capability record's bytes
    std::string where;                                // where it was read, for messages
    bool hasDevMode = false;
    DEVMODEW devMode = {};
    std::wstring driver;                              // an info record's driver name, else empty
    std::string kind;                                 // " (of a printer info record)" and the like; empty for a record
    // The printer's name: the source's printer, or the file's name.
    std::wstring Printer() const { return !file.empty() ? FileStem(file) : registryPrinter + dataPrinter; }
    // The make and model an export names: the driver's name, else the printer's.
    std::wstring MakeAndModel() const { return !driver.empty() ? driver : Printer(); }
    const DEVMODEW* Defaults() const { return hasDevMode ? &devMode : nullptr; }
};
// Takes one SOURCE from argv at *i (a file or one of the two options with its
// printer), leaving *i on its last argument; false when argv[*i] is none.
bool ParseSource(int argc, LPWSTR* argv, int* i, Source* source);
// Reads the source and takes its record as TakeRecord does: kOk, or
// kUnreadable / kDamaged after a line on standard error that says why.
int ReadSource(Source* source);
// The capability record of bytes of any of the kinds above, checked; kOk, or
// kDamaged after a line on standard error that names the kind and the reason.
int TakeRecord(std::vector<BYTE> bytes, Source* source);

// ------------------------------------------------------------ record access

template <class T>
const T* Section(const std::vector<BYTE>& bytes, DWORD offset) {
    return reinterpret_cast<const T*>(bytes.data() + offset);
}
// Entry i of a section, read whatever the section's alignment: packing
// places a section at any offset, and a number read in place from an odd
// one is undefined.
template <class T>
T Entry(const std::vector<BYTE>& bytes, DWORD offset, DWORD i) {
    T value;
    std::memcpy(&value, bytes.data() + offset + size_t{i} * sizeof(T), sizeof(T));
    return value;
}

// A count as stored is printed signed; only a positive one lists entries
// (the record check made sure they fit in their section).
inline long Signed(DWORD count) { return static_cast<long>(static_cast<LONG>(count)); }
inline DWORD Listed(DWORD count) { return Signed(count) > 0 ? count : 0; }

// The record unpacked into a capability set (the caller frees it with
// vlibPRINT_FreeQueryBuffers); false when it does not load.
bool Unpack(const std::vector<BYTE>& bytes, QueryBuffers* set);

// ------------------------------------------------------------ summary (summary.cpp)

void PrintSummary(const std::vector<BYTE>& bytes);
// The scalar capabilities the summary and the page report show, in their
// order, with the record's and the set's member of each.
struct ShownScalar {
    const char* name;
    DWORD caps4::*record;
    DWORD QueryBuffers::*set;
    bool hex;  // a bit mask or a packed value, shown in hexadecimal
};
extern const ShownScalar kShownScalars[23];
// The capability record's complete field-by-field dump.
void PrintFullDump(const std::vector<BYTE>& bytes);
// A complete dump through the trace log's own dump functions into a scratch
// file, printed without the time stamps.
void PrintTraceDump(const std::function<void(TraceLog*)>& dump);

// ------------------------------------------------------------ exports (export_*.cpp)

// Writes an export to standard output as it is (UTF-8, LF line ends); a cut
// export gives kNotWritten.
int WriteOut(const std::string& text);
// makeAndModel names the printer's driver, or the printer when the source
// does not tell the driver; devMode, the printer's default DEVMODE (an info
// record's), gives the defaults, or null for a bare capability record.
int WriteIppExport(const std::vector<BYTE>& bytes, const std::wstring& makeAndModel, const DEVMODEW* devMode);
int WriteJsonExport(const std::vector<BYTE>& bytes);
int WritePpdExport(const Source& source);

// ------------------------------------------------------------ comparison (diff.cpp)

extern const char kDiffUsageLines[];
// kvcaps --diff A B: argv holds the whole command line.
int RunDiff(int argc, LPWSTR* argv);
// The page report (export_html.cpp); printer names it.
extern const char kHtmlUsageLines[];
int WriteHtmlExport(const std::vector<BYTE>& bytes, const std::wstring& printer);
// kvcaps --from-json FILE.json OUT.kvp: the document written back as a record.
extern const char kFromJsonUsageLines[];
int WriteRecordFromJson(const std::wstring& json, const std::wstring& out);
// Writes bytes to a file through a partial file that replaces it only once
// whole: kOk, or kNotWritten with the reason on standard error.
int WriteFileWhole(const std::wstring& file, const void* bytes, DWORD size);

// ------------------------------------------------------------ printer info records (info_records.cpp)

namespace inforec {
extern const char kUsageLines[];
// The capability record, DEVMODE and driver name of an info record of any
// version; false with the reason when the bytes are no usable info record.
bool CapsOf(const std::vector<BYTE>& bytes, std::vector<BYTE>* caps, DEVMODEW* devMode, std::wstring* driver, std::string* why);
// True when the command line asks for one of the info-record operations.
bool Wanted(int argc, LPWSTR* argv);
int Run(int argc, LPWSTR* argv);
}  // namespace inforec

// ------------------------------------------------------------ the earlier info record (earlier_record.cpp)

// A record's JSON document packed as the record's bytes; false with the
// reason when the import refuses it.
bool RecordOfJson(const std::string& json, std::vector<BYTE>* record, std::string* why);

namespace earlier {
// Whether the bytes are laid out as the earlier printer info record: its
// header, and at the offset it names an earlier capability record.
bool IsEarlierRecord(const std::vector<BYTE>& bytes);
// Its earlier capability record as a capability record of today's layout,
// its DEVMODE and its printer's name; false with the reason when a section
// of it lies outside the bytes.
bool CapsOf(const std::vector<BYTE>& bytes, std::vector<BYTE>* caps, DEVMODEW* devMode, std::wstring* printer, std::string* why);
}  // namespace earlier

}  // namespace kvcaps
