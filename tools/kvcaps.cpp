// kvcaps: prints a readable summary of a stored capability record.
//
//   kvcaps [--full] FILE.kvp                 a record of the file cache
//   kvcaps [--full] --registry PRINTER       "PrinterData" of the printer's subkey of the
//                                            Printers key (per machine, then per user)
//   kvcaps [--full] --printer-data PRINTER   the printer's data value "KVPrinterInfo"
//
//   kvcaps --ipp SOURCE    the record as the printer attributes of an IPP Everywhere printer,
//                          in the form `ippeveprinter -a FILE` reads (SOURCE as above)
//   kvcaps --json SOURCE   the whole record as one JSON document
//
// The summary lists the papers with their ids and sizes, the bins, the media
// types, the resolutions, the number of forms, every paper's page, printable
// area and margins at the resolution for normal printing, and the scalar
// capabilities. --full adds the record's complete
// field-by-field dump. A record that is damaged or not a capability record
// at all is refused with the reason and exit code 3; a record that cannot be
// read gives exit code 2, a wrong command line 1.
#include <fcntl.h>
#include <io.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "platform/guard.h"
#include "platform/registry.h"
#include "print/printer_names.h"
#include "printer/printer_keys.h"
#include "records/caps4.h"
#include "records/caps4_check.h"
#include "records/caps4_ipp.h"
#include "records/caps4_json.h"
#include "records/caps4_media.h"

namespace {

enum ExitCode { kOk = 0, kUsage = 1, kUnreadable = 2, kDamaged = 3 };

std::string Utf8(const WCHAR* text, size_t maxChars = static_cast<size_t>(-1)) {
    size_t length = 0;
    while (length < maxChars && text[length]) ++length;
    if (length == 0) return std::string();
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), bytes, nullptr, nullptr);
    return out;
}
std::string Utf8(const std::wstring& text) { return Utf8(text.c_str()); }

bool ReadFileBytes(const std::wstring& path, std::vector<BYTE>* bytes, std::string* why) {
    HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = "cannot open the file (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    LARGE_INTEGER size = {};
    bool ok = ::GetFileSizeEx(file, &size) && size.QuadPart < (64ll << 20);
    if (ok) {
        bytes->assign(static_cast<size_t>(size.QuadPart), 0);
        DWORD read = 0;
        ok = bytes->empty() || (::ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
                                read == bytes->size());
    }
    ::CloseHandle(file);
    if (!ok) *why = "cannot read the file";
    return ok;
}

bool ReadRegistryRecord(const std::wstring& printer, std::vector<BYTE>* bytes, std::string* where,
                        std::string* why) {
    const std::wstring subkey =
        std::wstring(kPrintersKey) + L"\\" + vlibPRINT_PrinterNameToRegistrySafeName(printer);
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        platform::ScopedKey key;
        if (platform::registry.RegOpenKeyExW(hive, subkey.c_str(), 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS)
            continue;
        DWORD size = 0;
        DWORD type = 0;
        if (platform::registry.RegQueryValueExW(key.get(), L"PrinterData", nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            continue;
        bytes->assign(size, 0);
        if (platform::registry.RegQueryValueExW(key.get(), L"PrinterData", nullptr, &type, bytes->data(), &size) !=
            ERROR_SUCCESS)
            continue;
        bytes->resize(size);
        *where = std::string(hive == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCU\\") + Utf8(subkey) + " \"PrinterData\"";
        return true;
    }
    *why = "no \"PrinterData\" value under HKLM or HKCU\\" + Utf8(subkey);
    return false;
}

bool ReadPrinterData(const std::wstring& printer, std::vector<BYTE>* bytes, std::string* why) {
    LPWSTR name = const_cast<LPWSTR>(printer.c_str());
    HANDLE handle = nullptr;
    BOOL opened = FALSE;
    platform::Guarded([&] { opened = platform::spooler.OpenPrinterW(name, &handle, nullptr); });
    if (!opened || !handle) {
        *why = "cannot open the printer";
        return false;
    }
    WCHAR value[] = L"KVPrinterInfo";
    DWORD type = 0, needed = 0, status = ERROR_INVALID_FUNCTION;
    platform::Guarded([&] { platform::spooler.GetPrinterDataW(handle, value, &type, nullptr, 0, &needed); });
    bytes->assign(needed ? needed : 1, 0);
    BYTE* data = bytes->data();
    const DWORD capacity = static_cast<DWORD>(bytes->size());
    platform::Guarded([&] { status = platform::spooler.GetPrinterDataW(handle, value, &type, data, capacity, &needed); });
    platform::Guarded([&] { platform::spooler.ClosePrinter(handle); });
    if (status != ERROR_SUCCESS) {
        *why = "the printer has no \"KVPrinterInfo\" data value (error " + std::to_string(status) + ")";
        return false;
    }
    bytes->resize(needed);
    return true;
}

// ------------------------------------------------------------ summary

template <class T>
const T* Section(const std::vector<BYTE>& bytes, DWORD offset) {
    return reinterpret_cast<const T*>(bytes.data() + offset);
}

// A count as stored is printed signed; only a positive one lists entries
// (the record check made sure they fit in their section).
long Signed(DWORD count) { return static_cast<long>(static_cast<LONG>(count)); }
DWORD Listed(DWORD count) { return Signed(count) > 0 ? count : 0; }

// The record unpacked into a capability set (the caller frees it with
// vlibPRINT_FreeQueryBuffers); false when it does not load.
bool Unpack(const std::vector<BYTE>& bytes, QueryBuffers* set) {
    *set = QueryBuffers{};
    return vlibPRINT_UnpackCaps4(set, reinterpret_cast<const caps4*>(bytes.data()), bytes.size());
}

std::string Millimetres(double millimetres) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", millimetres);
    return text;
}
std::string Millimetres(LONG pixels, LONG dpi) { return Millimetres(pixels * 25.4 / dpi); }

// Every paper's page, printable area and margins, from its form at the
// resolution for normal printing.
void PrintPages(const std::vector<BYTE>& bytes) {
    QueryBuffers set;
    if (!Unpack(bytes, &set)) return;
    const MediaResolution normal = vlibPRINT_NormalResolution(&set);
    const std::vector<MediaPage> pages = vlibPRINT_MediaPages(&set);
    if (normal.present && !pages.empty()) {
        char which[32];
        if (set.dwIndexedResolutionsOnly)
            std::snprintf(which, sizeof(which), "quality level %ld", -1 - static_cast<long>(normal.slot));
        else
            std::snprintf(which, sizeof(which), "resolution %lu", static_cast<unsigned long>(normal.slot));
        std::printf("Pages at %ld x %ld dpi (%s, for normal printing), in millimetres:\n",
                    static_cast<long>(normal.dpi.x), static_cast<long>(normal.dpi.y), which);
        std::printf("    %5s  %-13s  %-13s  %-13s  %-29s  %s\n", "id", "paper", "page", "printable",
                    "margins left/top/right/bottom", "name");
        for (const MediaPage& page : pages) {
            const std::string paper = Millimetres(page.size.width / 10.0) + " x " + Millimetres(page.size.length / 10.0);
            std::string sheet = "-", printable = "-", margins = "-";
            if (page.hasMargins) {
                const FormEntry& f = *page.form;
                sheet = Millimetres(f.physW, f.logX) + " x " + Millimetres(f.physH, f.logY);
                printable = Millimetres(f.hres, f.logX) + " x " + Millimetres(f.vres, f.logY);
                margins = Millimetres(page.left / 100.0) + " / " + Millimetres(page.top / 100.0) + " / " +
                          Millimetres(page.right / 100.0) + " / " + Millimetres(page.bottom / 100.0);
            }
            std::printf("    %5u  %-13s  %-13s  %-13s  %-29s  %s\n", page.id, paper.c_str(), sheet.c_str(),
                        printable.c_str(), margins.c_str(), Utf8(page.name).c_str());
        }
    }
    vlibPRINT_FreeQueryBuffers(&set);
}

void PrintSummary(const std::vector<BYTE>& bytes) {
    caps4 h;
    std::memcpy(&h, bytes.data(), sizeof(h));

    // Papers: numbers, names and sizes are separate arrays whose counts may differ.
    const WORD* paperIds = Section<WORD>(bytes, h.dwOffsetToPapers);
    const WCHAR* paperNames = Section<WCHAR>(bytes, h.dwOffsetToPaperNames);
    const PaperSize* paperSizes = Section<PaperSize>(bytes, h.dwOffsetToPaperSize);
    const DWORD numPapers = Listed(h.dwNumPapers), numPaperNames = Listed(h.dwNumPaperNames),
                numPaperSizes = Listed(h.dwNumPaperSize);
    const DWORD papers = std::max(numPapers, std::max(numPaperNames, numPaperSizes));
    std::printf("Papers (%ld ids, %ld names, %ld sizes):\n", Signed(h.dwNumPapers), Signed(h.dwNumPaperNames),
                Signed(h.dwNumPaperSize));
    if (papers) std::printf("    %5s  %-18s  %s\n", "id", "size (0.1 mm)", "name");
    for (DWORD i = 0; i < papers; ++i) {
        char id[16] = "-", size[32] = "-";
        if (i < numPapers) std::snprintf(id, sizeof(id), "%u", paperIds[i]);
        if (i < numPaperSizes)
            std::snprintf(size, sizeof(size), "%5ld x %5ld", static_cast<long>(paperSizes[i].width),
                          static_cast<long>(paperSizes[i].length));
        const std::string name = i < numPaperNames ? Utf8(paperNames + i * kPaperNameChars, kPaperNameChars) : "-";
        std::printf("    %5s  %-18s  %s\n", id, size, name.c_str());
    }

    const WORD* binIds = Section<WORD>(bytes, h.dwOffsetToBins);
    const WCHAR* binNames = Section<WCHAR>(bytes, h.dwOffsetToBinNames);
    const DWORD numBins = Listed(h.dwNumBins), numBinNames = Listed(h.dwNumBinNames);
    std::printf("Bins (%ld ids, %ld names):\n", Signed(h.dwNumBins), Signed(h.dwNumBinNames));
    for (DWORD i = 0; i < std::max(numBins, numBinNames); ++i) {
        char id[16] = "-";
        if (i < numBins) std::snprintf(id, sizeof(id), "%u", binIds[i]);
        const std::string name = i < numBinNames ? Utf8(binNames + i * kBinNameChars, kBinNameChars) : "-";
        std::printf("    %5s  %s\n", id, name.c_str());
    }

    const DWORD* mediaIds = Section<DWORD>(bytes, h.dwOffsetToMediaTypes);
    const WCHAR* mediaNames = Section<WCHAR>(bytes, h.dwOffsetToMediaTypeNames);
    const DWORD numMedia = Listed(h.dwNumMediaTypes), numMediaNames = Listed(h.dwNumMediaTypeNames);
    const DWORD media = std::max(numMedia, numMediaNames);
    std::printf("Media types (%ld ids, %ld names):%s\n", Signed(h.dwNumMediaTypes), Signed(h.dwNumMediaTypeNames),
                media ? "" : " none");
    for (DWORD i = 0; i < media; ++i) {
        char id[16] = "-";
        if (i < numMedia) std::snprintf(id, sizeof(id), "%lu", static_cast<unsigned long>(mediaIds[i]));
        const std::string name = i < numMediaNames ? Utf8(mediaNames + i * kMediaNameChars, kMediaNameChars) : "-";
        std::printf("    %5s  %s\n", id, name.c_str());
    }

    auto printResolutions = [&](const char* title, DWORD offset, DWORD count) {
        const ResolutionPair* list = Section<ResolutionPair>(bytes, offset);
        std::printf("%s (%ld):", title, Signed(count));
        for (DWORD i = 0; i < Listed(count); ++i)
            std::printf("%s %ld x %ld", i ? "," : "", static_cast<long>(list[i].x), static_cast<long>(list[i].y));
        std::printf("%s\n", Listed(count) ? "" : " none");
    };
    printResolutions("Resolutions", h.dwOffsetToResolutions, h.dwNumResolutions);
    printResolutions("Indexed resolutions", h.dwOffsetToResolutionsIndexed, h.dwNumResolutionsIndexed);
    std::printf("Indexed resolutions only: %s\n", h.dwIndexedResolutionsOnly ? "yes" : "no");

    // Forms: one per paper size at every resolution of the list in use.
    const DWORD resolutions = Listed(h.dwIndexedResolutionsOnly ? h.dwNumResolutionsIndexed : h.dwNumResolutions);
    std::printf("Forms: %ld (%lu paper sizes x %lu resolutions = %llu)\n", Signed(h.dwNumForms),
                static_cast<unsigned long>(numPaperSizes), static_cast<unsigned long>(resolutions),
                static_cast<unsigned long long>(numPaperSizes) * resolutions);
    PrintPages(bytes);

    std::printf("Scalar capabilities:\n");
    const struct {
        const char* name;
        DWORD value;
    } scalars[] = {
        {"Collate", h.dwCollate},       {"Color", h.dwColor},         {"Copies", h.dwCopies},
        {"Driver", h.dwDriver},         {"Datatype", h.dwDatatype},   {"Duplex", h.dwDuplex},
        {"EMF", h.dwEMF},               {"Extra", h.dwExtra},         {"Fields", h.dwFields},
        {"Manufacturer", h.dwManufacturer}, {"MaxExtent", h.dwMaxExtent}, {"MinExtent", h.dwMinExtent},
        {"Model", h.dwModel},           {"Orientation", h.dwOrientation}, {"PrinterMem", h.dwPrinterMem},
        {"PrintRate", h.dwPrintRate},   {"PrintRatePPM", h.dwPrintRatePPM}, {"PrintRateUnit", h.dwPrintRateUnit},
        {"DevModeSize", h.dwDevModeSize}, {"Staple", h.dwStaple},     {"TrueType", h.dwTrueType},
        {"Version", h.dwVersion},       {"AnsiOnly", h.dwAnsiOnly},
    };
    int column = 0;
    for (const auto& scalar : scalars) {
        char text[64];
        const bool hex = !std::strcmp(scalar.name, "Fields") || !std::strcmp(scalar.name, "Driver") ||
                         !std::strcmp(scalar.name, "Version") || std::strstr(scalar.name, "Extent");
        if (hex)
            std::snprintf(text, sizeof(text), "%s 0x%lX", scalar.name, static_cast<unsigned long>(scalar.value));
        else
            std::snprintf(text, sizeof(text), "%s %ld", scalar.name, static_cast<long>(scalar.value));
        std::printf("%s%-26s", column == 0 ? "    " : "", text);
        if (++column == 4) {
            std::printf("\n");
            column = 0;
        }
    }
    if (column) std::printf("\n");
    std::printf("Lists: %ld files, %ld N-up values, %ld personalities, %ld media ready\n", Signed(h.dwNumFiles),
                Signed(h.dwNumNUP), Signed(h.dwNumPersonality), Signed(h.dwNumMediaReady));
    std::printf("Graphics: technology %ld, %ld bits per pixel, raster caps 0x%lX, text caps 0x%lX\n",
                static_cast<long>(h.lowLevel.Technology), static_cast<long>(h.lowLevel.BitsPixel),
                static_cast<unsigned long>(h.lowLevel.RasterCaps), static_cast<unsigned long>(h.lowLevel.TextCaps));
}

// The record's complete dump, through the trace log's own dump into a
// scratch file, printed without the time stamps.
void PrintFullDump(const std::vector<BYTE>& bytes) {
    WCHAR folder[MAX_PATH] = {};
    WCHAR path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    if (!::GetTempFileNameW(folder, L"kvc", 0, path)) {
        std::printf("(no scratch file for the full dump)\n");
        return;
    }
    TraceLog* log = TraceLogCreate(path, 0);
    LogCaps4(log, reinterpret_cast<const caps4*>(bytes.data()), bytes.size());
    if (log) TraceLogDestroy(log);
    std::vector<BYTE> text;
    std::string why;
    if (ReadFileBytes(path, &text, &why)) {
        std::string all(text.begin(), text.end());
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('\n', start);
            if (end == std::string::npos) end = all.size();
            std::string line = all.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > 22 && line[0] == '[' && line[20] == ']' && line[21] == ' ') line.erase(0, 22);
            std::printf("%s\n", line.c_str());
            start = end + 1;
        }
    }
    ::DeleteFileW(path);
}

// ------------------------------------------------------------ standard exports

enum class Export { kNone, kIpp, kJson };

// The export option, or kNone for another argument.
Export ExportOption(const std::wstring& arg) {
    return arg == L"--ipp" ? Export::kIpp : arg == L"--json" ? Export::kJson : Export::kNone;
}

// Writes the record as IPP Everywhere printer attributes or as JSON to
// standard output, UTF-8 with LF line ends. printer names the printer
// (printer-make-and-model): the printer of the source, or the file's name.
int WriteExport(Export format, const std::vector<BYTE>& bytes, const std::wstring& printer) {
    QueryBuffers set;
    if (!Unpack(bytes, &set)) {
        std::fprintf(stderr, "kvcaps: the record does not load\n");
        return kDamaged;
    }
    const std::string text =
        format == Export::kIpp ? vlibPRINT_Caps4IppAttributes(&set, printer) : vlibPRINT_Caps4Json(&set);
    vlibPRINT_FreeQueryBuffers(&set);
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return kOk;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kvcaps [--full | --ipp | --json] FILE.kvp\n"
                 "       kvcaps [--full | --ipp | --json] --registry PRINTER\n"
                 "       kvcaps [--full | --ipp | --json] --printer-data PRINTER\n");
    return kUsage;
}

struct ArgvHolder {
    LPWSTR* argv = nullptr;
    ~ArgvHolder() {
        if (argv) ::LocalFree(argv);
    }
};

}  // namespace

int main() {
    int argc = 0;
    ArgvHolder args;
    args.argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!args.argv) return Usage();

    bool full = false;
    Export format = Export::kNone;
    std::wstring file, registryPrinter, dataPrinter;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = args.argv[i];
        if (arg == L"--full") {
            full = true;
        } else if (ExportOption(arg) != Export::kNone && format == Export::kNone) {
            format = ExportOption(arg);
        } else if (arg == L"--registry" && i + 1 < argc) {
            registryPrinter = args.argv[++i];
        } else if (arg == L"--printer-data" && i + 1 < argc) {
            dataPrinter = args.argv[++i];
        } else if (!arg.empty() && arg[0] != L'-' && file.empty()) {
            file = arg;
        } else {
            return Usage();
        }
    }
    if (static_cast<int>(!file.empty()) + !registryPrinter.empty() + !dataPrinter.empty() != 1) return Usage();
    if (full && format != Export::kNone) return Usage();

    std::vector<BYTE> bytes;
    std::string where, why;
    bool read = false;
    if (!file.empty()) {
        where = Utf8(file);
        read = ReadFileBytes(file, &bytes, &why);
    } else if (!registryPrinter.empty()) {
        read = ReadRegistryRecord(registryPrinter, &bytes, &where, &why);
    } else {
        where = "printer data \"KVPrinterInfo\" of " + Utf8(dataPrinter);
        read = ReadPrinterData(dataPrinter, &bytes, &why);
    }
    if (!read) {
        std::fprintf(stderr, "kvcaps: %s: %s\n", where.empty() ? Utf8(registryPrinter).c_str() : where.c_str(),
                     why.c_str());
        return kUnreadable;
    }

    WCHAR reason[256] = {};
    if (!vlibPRINT_CheckCaps4(bytes.data(), bytes.size(), reason, 256)) {
        std::fprintf(stderr, "kvcaps: %s: not a usable capability record: %s\n", where.c_str(), Utf8(reason).c_str());
        return kDamaged;
    }
    if (format != Export::kNone)
        return WriteExport(format, bytes,
                           !file.empty() ? std::wstring(::PathFindFileNameW(file.c_str()), ::PathFindExtensionW(file.c_str()))
                                         : registryPrinter + dataPrinter);
    std::printf("Capability record, %lu bytes, from %s\n", static_cast<unsigned long>(bytes.size()), where.c_str());
    PrintSummary(bytes);
    if (full) PrintFullDump(bytes);
    std::fflush(stdout);
    return kOk;
}
