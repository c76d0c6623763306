// kvcaps: prints a readable summary of a stored capability record, and
// builds, shows and publishes printer info records (see the section
// "printer info records" below for those options).
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
// read gives exit code 2, a wrong command line 1, running out of memory 4,
// an export or a record file that cannot be written whole 5.
#include <fcntl.h>
#include <io.h>
#include <shlwapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "platform/guard.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "print/form_matching.h"
#include "print/printer_enum.h"
#include "print/printer_names.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"
#include "records/caps4.h"
#include "records/caps4_check.h"
#include "records/caps4_ipp.h"
#include "records/caps4_json.h"
#include "records/caps4_media.h"
#include "records/printer_info.h"
#include "records/printer_info_dump.h"
#include "records/printer_info_registry.h"
#include "tools/tool_main.h"

namespace {

enum ExitCode { kOk = 0, kUsage = 1, kUnreadable = 2, kDamaged = 3, kNoMemory = 4, kNotWritten = 5 };

using platform::Utf8;
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

// The value `name` of the printer's subkey of the Printers key, per machine
// and then, when `perUserToo`, per user.
bool ReadRegistryValue(const std::wstring& printer, const WCHAR* name, bool perUserToo, std::vector<BYTE>* bytes,
                       std::string* where, std::string* why) {
    const std::wstring subkey =
        std::wstring(kPrintersKey) + L"\\" + vlibPRINT_PrinterNameToRegistrySafeName(printer);
    for (HKEY hive : {HKEY_LOCAL_MACHINE, perUserToo ? HKEY_CURRENT_USER : nullptr}) {
        if (!hive) break;
        platform::ScopedKey key;
        if (platform::registry.RegOpenKeyExW(hive, subkey.c_str(), 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS)
            continue;
        DWORD size = 0;
        DWORD type = 0;
        if (platform::registry.RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            continue;
        bytes->assign(size, 0);
        if (platform::registry.RegQueryValueExW(key.get(), name, nullptr, &type, bytes->data(), &size) != ERROR_SUCCESS)
            continue;
        bytes->resize(size);
        *where = std::string(hive == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCU\\") + Utf8(subkey) + " \"" + Utf8(name) + "\"";
        return true;
    }
    *why = "no \"" + Utf8(name) + "\" value under HKLM" + (perUserToo ? " or HKCU" : "") + "\\" + Utf8(subkey);
    return false;
}

// The file's name without its extension ("KV_Laser" of "Z:\\a.b/KV_Laser"):
// a dot in a folder's name is no extension.
std::wstring FileStem(const std::wstring& path) {
    const WCHAR* name = ::PathFindFileNameW(path.c_str());
    const WCHAR* extension = ::PathFindExtensionW(name);
    return std::wstring(name, extension);
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
    if (!Unpack(bytes, &set)) {  // the record passed its check: only memory can be missing
        std::printf("Pages: not shown, out of memory\n");
        return;
    }
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

    PaperSize low, high;
    if (vlibPRINT_CustomSizes(h.dwMinExtent, h.dwMaxExtent, &low, &high))
        std::printf("Custom paper sizes: %.1f x %.1f mm to %.1f x %.1f mm\n", low.width / 10.0, low.length / 10.0,
                    high.width / 10.0, high.length / 10.0);
    else
        std::printf("Custom paper sizes: none\n");
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

// A complete dump through the trace log's own dump functions into a scratch
// file, printed without the time stamps.
void PrintTraceDump(const std::function<void(TraceLog*)>& dump) {
    WCHAR folder[MAX_PATH] = {};
    WCHAR path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    if (!::GetTempFileNameW(folder, L"kvc", 0, path)) {
        std::printf("(no scratch file for the full dump)\n");
        return;
    }
    TraceLog* log = TraceLogCreate(path, 0);
    dump(log);
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

// The capability record's complete field-by-field dump.
void PrintFullDump(const std::vector<BYTE>& bytes) {
    PrintTraceDump([&](TraceLog* log) { LogCaps4(log, reinterpret_cast<const caps4*>(bytes.data()), bytes.size()); });
}

// ------------------------------------------------------------ printer info records
//
//   kvcaps --info-record PRINTER FILE [--version 400|401|402]
//   kvcaps [--full] --info FILE
//   kvcaps --publish [--type N] [--session N] [--user NAME] [--connection N]
//   kvcaps [--full] --info-registry PRINTER

int Usage();

namespace inforec {

const char kUsageLines[] =
    "       kvcaps --info-record PRINTER FILE [--version 400|401|402]\n"
    "       kvcaps [--full] --info FILE\n"
    "       kvcaps --publish [--type N] [--session N] [--user NAME] [--connection N]\n"
    "       kvcaps [--full] --info-registry PRINTER\n";

// True when the command line asks for one of the info-record operations.
bool Wanted(int argc, LPWSTR* argv) {
    for (int i = 1; i < argc; ++i)
        for (const WCHAR* option : {L"--info-record", L"--info", L"--publish", L"--info-registry"})
            if (std::wstring(argv[i]) == option) return true;
    return false;
}

// A record of any version as its bytes, with where its parts lie.
struct InfoRecord {
    std::vector<BYTE> bytes;
    DWORD version = 0;  // 400, 401 or 402
    DWORD header = 0;
    DWORD capsOffset = 0;
    DWORD capsSize = 0;

    DWORD At(size_t offset) const {
        DWORD value;
        std::memcpy(&value, bytes.data() + offset, sizeof(value));
        return value;
    }
    const KVPrinterInfo400* As400() const { return reinterpret_cast<const KVPrinterInfo400*>(bytes.data()); }
    const KVPrinterInfo402* As402() const { return reinterpret_cast<const KVPrinterInfo402*>(bytes.data()); }
    const PRIVATE_DEVMODEW& DevMode() const { return version == 400 ? As400()->DevMode : As402()->DevMode; }
    std::vector<BYTE> Caps() const {
        return std::vector<BYTE>(bytes.begin() + capsOffset, bytes.begin() + capsOffset + capsSize);
    }
};

// Tells the version by dwRecordVersion (a 400 record has 0 there) and size,
// and checks that the header and the capability record lie inside the bytes.
bool Recognise(InfoRecord* r, std::string* why) {
    const size_t size = r->bytes.size();
    if (size < 2 * sizeof(DWORD)) {
        *why = std::to_string(size) + " bytes cannot hold a printer info record";
        return false;
    }
    const DWORD field = r->At(offsetof(KVPrinterInfo401, dwRecordVersion));
    if (field == kKVPrinterInfo401Version || field == kKVPrinterInfo402Version || field == 0) {
        r->version = field ? field : 400;
        r->header = field == 0 ? sizeof(KVPrinterInfo400) : field == 401 ? sizeof(KVPrinterInfo401) : sizeof(KVPrinterInfo402);
    } else {
        *why = "not a printer info record (version field " + std::to_string(field) + ")";
        return false;
    }
    if (size < r->header) {
        *why = std::to_string(size) + " bytes is shorter than the " + std::to_string(r->header) + "-byte header of a " +
               std::to_string(r->version) + " record";
        return false;
    }
    const size_t capsAt = r->version == 400 ? offsetof(KVPrinterInfo400, dwOffsetToCaps) : offsetof(KVPrinterInfo401, dwOffsetToCaps);
    r->capsOffset = r->At(capsAt);
    r->capsSize = r->At(capsAt + sizeof(DWORD));
    if (r->At(0) != size) {
        *why = "the record says it is " + std::to_string(r->At(0)) + " bytes long but " + std::to_string(size) +
               " bytes are there";
    } else if (r->capsOffset < r->header || r->capsOffset > size || r->capsSize > size - r->capsOffset) {
        *why = "the capability record (" + std::to_string(r->capsSize) + " bytes at " + std::to_string(r->capsOffset) +
               ") does not lie behind the header inside the " + std::to_string(size) + " bytes";
    } else {
        WCHAR reason[256] = {};
        if (vlibPRINT_CheckCaps4(r->bytes.data() + r->capsOffset, r->capsSize, reason, 256)) return true;
        *why = "the embedded capability record is not usable: " + Utf8(reason);
    }
    return false;
}

// What a DEVMODE value 1, 2, ... stands for, or "" for another value.
std::string Meaning(long value, std::initializer_list<const char*> names) {
    return value >= 1 && static_cast<size_t>(value) <= names.size() ? names.begin()[value - 1] : "";
}

// The name a list of the capability record gives an id (ids and names are
// lists of their own, paired by position), or "".
template <class Id>
std::string ListedName(const std::vector<BYTE>& caps, DWORD id, DWORD idsAt, DWORD ids, DWORD namesAt, DWORD names, size_t chars) {
    for (DWORD i = 0; i < std::min(Listed(ids), Listed(names)); ++i)
        if (*Section<Id>(caps, idsAt + i * sizeof(Id)) == id) return Utf8(Section<WCHAR>(caps, namesAt) + i * chars, chars);
    return "";
}

// The DEVMODE area's public fields that are set.
void PrintDevMode(const InfoRecord& r) {
    const DEVMODEW& dm = r.DevMode().dm;
    const DWORD f = dm.dmFields;
    std::printf("Default DEVMODE (spec version 0x%X, fields 0x%lX):%s\n", dm.dmSpecVersion, static_cast<unsigned long>(f),
                f ? "" : " no field set");
    const std::vector<BYTE> capsBytes = r.Caps();
    const caps4& caps = *reinterpret_cast<const caps4*>(capsBytes.data());
    if (f & (DM_PAPERSIZE | DM_FORMNAME | DM_PAPERWIDTH)) {
        // The paper as the printer's own lists name it, found like a request would find it.
        DEVMODEW found = dm;
        const bool listed = vlibPRINT_GetPaperIndexOfCaps4(&dm, &found, &caps, nullptr) >= 0;
        std::printf("    %-16s %d %s (%d x %d)%s\n", "paper", found.dmPaperSize,
                    Utf8(found.dmFormName, CCHFORMNAME).c_str(), found.dmPaperWidth, found.dmPaperLength,
                    listed ? "" : ", not in the printer's paper list");
    }
    if (f & (DM_PRINTQUALITY | DM_YRESOLUTION)) {
        if (dm.dmPrintQuality < 0)
            std::printf("    %-16s quality index %d\n", "resolution", dm.dmPrintQuality);
        else
            std::printf("    %-16s %d x %d dpi\n", "resolution", dm.dmPrintQuality, dm.dmYResolution);
    }
    // The bin and the media type by their names in the record's own lists.
    const std::string bin = ListedName<WORD>(capsBytes, static_cast<WORD>(dm.dmDefaultSource), caps.dwOffsetToBins, caps.dwNumBins,
                                             caps.dwOffsetToBinNames, caps.dwNumBinNames, kBinNameChars);
    const std::string media = ListedName<DWORD>(capsBytes, dm.dmMediaType, caps.dwOffsetToMediaTypes, caps.dwNumMediaTypes,
                                                caps.dwOffsetToMediaTypeNames, caps.dwNumMediaTypeNames, kMediaNameChars);
    const struct {
        DWORD bit;
        const char* label;
        long value;
        std::string meaning;
    } fields[] = {
        {DM_ORIENTATION, "orientation", dm.dmOrientation, Meaning(dm.dmOrientation, {"portrait", "landscape"})},
        {DM_COLOR, "color", dm.dmColor, Meaning(dm.dmColor, {"monochrome", "color"})},
        {DM_DUPLEX, "duplex", dm.dmDuplex, Meaning(dm.dmDuplex, {"simplex", "vertical", "horizontal"})},
        {DM_COPIES, "copies", dm.dmCopies, ""},
        {DM_COLLATE, "collate", dm.dmCollate, Meaning(dm.dmCollate + 1, {"no", "yes"})},
        {DM_SCALE, "scale", dm.dmScale, "percent"},
        {DM_DEFAULTSOURCE, "default source", dm.dmDefaultSource, bin},
        {DM_MEDIATYPE, "media type", static_cast<long>(dm.dmMediaType), media},
        {DM_TTOPTION, "TrueType option", dm.dmTTOption, Meaning(dm.dmTTOption, {"bitmap", "download", "device font", "outline"})},
        {DM_DITHERTYPE, "dither type", static_cast<long>(dm.dmDitherType),
         Meaning(dm.dmDitherType, {"none", "coarse", "fine", "line art", "grayscale"})},
        {DM_ICMMETHOD, "ICM method", static_cast<long>(dm.dmICMMethod),
         Meaning(dm.dmICMMethod, {"none", "system", "driver", "device"})},
        {DM_ICMINTENT, "ICM intent", static_cast<long>(dm.dmICMIntent),
         Meaning(dm.dmICMIntent, {"saturation", "contrast", "colorimetric", "absolute colorimetric"})},
        {DM_NUP, "N-up", static_cast<long>(dm.dmNup), Meaning(dm.dmNup, {"system", "one up"})},
        {DM_LOGPIXELS, "log pixels", dm.dmLogPixels, ""},
    };
    for (const auto& field : fields)
        if (f & field.bit) std::printf("    %-16s %ld%s%s%s\n", field.label, field.value, field.meaning.empty() ? "" : " (",
                                       field.meaning.c_str(), field.meaning.empty() ? "" : ")");
}

// The measured form the server side lays pages out on for the default
// DEVMODE: the paper and resolution it names, turned for landscape.
void PrintDefaultForm(const InfoRecord& r) {
    const std::vector<BYTE> caps = r.Caps();
    DEVMODEW request = r.DevMode().dm, normalised = request;
    FormEntry f;
    vlibPRINT_GetForm(&f, &request, &normalised, 100, reinterpret_cast<const caps4*>(caps.data()), nullptr);
    if (!f.formNo && !f.physW) {
        std::printf("Default form: none measured\n");
        return;
    }
    // An indexed resolution's form carries the quality index in resX.
    char resolution[48];
    if (f.resX < 0)
        std::snprintf(resolution, sizeof(resolution), "quality %ld", static_cast<long>(f.resX));
    else
        std::snprintf(resolution, sizeof(resolution), "%ld x %ld dpi", static_cast<long>(f.resX), static_cast<long>(f.resY));
    std::printf("Default form %ld: paper %ld at %s, page %ld x %ld dots, printable %ld x %ld from (%ld, %ld), "
                "%ld x %ld logical pixels%s\n",
                static_cast<long>(f.formNo), static_cast<long>(f.paprI), resolution, static_cast<long>(f.physW),
                static_cast<long>(f.physH), static_cast<long>(f.hres), static_cast<long>(f.vres), static_cast<long>(f.offX),
                static_cast<long>(f.offY), static_cast<long>(f.logX), static_cast<long>(f.logY),
                f.orientFlag && (request.dmFields & DM_ORIENTATION) && request.dmOrientation == DMORIENT_LANDSCAPE ? ", turned"
                                                                                                                  : "");
}

void PrintInfoSummary(const InfoRecord& r, const std::string& where, bool full) {
    std::printf("Printer info record %lu, %zu bytes, from %s\n", static_cast<unsigned long>(r.version), r.bytes.size(),
                where.c_str());
    // The names lie at the same place in 401 and 402, 4 bytes earlier in 400.
    const WCHAR* names = r.version == 400 ? r.As400()->szNativePrinterName : r.As402()->szNativePrinterName;
    const char* labels[] = {"native name", "KV name", "server", "printer", "share", "port", "driver", "comment", "location"};
    for (size_t i = 0; i < 9; ++i) {
        const std::string text = Utf8(names + i * kInfoStringChars, kInfoStringChars);
        std::printf("    %-16s %s\n", labels[i], text.empty() ? "-" : text.c_str());
    }
    if (r.version == 400) {
        std::printf("Spooler: status 0x%lX\n", static_cast<unsigned long>(r.As400()->Status));
    } else {
        const KVPrinterInfo402* p = r.As402();
        std::printf("Spooler: status 0x%lX, attributes 0x%lX, priority %lu, default priority %lu, start %lu, until %lu; "
                    "default printer %lu\n",
                    static_cast<unsigned long>(p->Status), static_cast<unsigned long>(p->Attributes),
                    static_cast<unsigned long>(p->Priority), static_cast<unsigned long>(p->DefaultPriority),
                    static_cast<unsigned long>(p->StartTime), static_cast<unsigned long>(p->UntilTime),
                    static_cast<unsigned long>(p->dwIsDefault));
    }
    PrintDevMode(r);
    PrintDefaultForm(r);
    if (r.version == 402) {
        const KVPrinterInfo402* p = r.As402();
        std::printf("Local options: second dialog %lu, print as image %lu at %lu dpi, font embedding %lu\n",
                    static_cast<unsigned long>(p->bSecondDialog), static_cast<unsigned long>(p->bPrintAsImage),
                    static_cast<unsigned long>(p->dwPrintAsImageDPI), static_cast<unsigned long>(p->dwFontEmbed));
    }
    const std::vector<BYTE> caps = r.Caps();
    std::printf("Capability record, %zu bytes\n", caps.size());
    PrintSummary(caps);
    if (!full) return;
    // The dump reads the 401/402 layout: a 400 record is dumped as its 401 conversion.
    PrintTraceDump([&](TraceLog* log) {
        if (r.version != 400) {
            vlibPRINT_LogKVPI4(log, reinterpret_cast<const KVPrinterInfo401*>(r.bytes.data()), r.bytes.size());
            return;
        }
        KVPrinterInfo401* converted = vlibPRINT_ConvertKVPI400to401(r.As400());
        vlibPRINT_LogKVPI4(log, converted);
        platform::HeapFreeBlock(converted);
    });
}

// A new record of the version for the printer after a forced query, or null
// with the reason. Without a configured cache method nothing is cached.
BYTE* BuildRecord(const std::wstring& printer, DWORD version, std::string* why) {
    CPrinter object(nullptr, printer, 2, 0);
    if (!object.bAvailable) {
        *why = "cannot open the printer";
        return nullptr;
    }
    object.Query(1, nullptr, nullptr);
    void* record = version == 400   ? static_cast<void*>(object.CreateKVPrinterInfo400W())
                   : version == 401 ? static_cast<void*>(object.CreateKVPrinterInfo401W())
                                    : static_cast<void*>(object.CreateKVPrinterInfo402W());
    if (!record) *why = "no capability record could be built";
    return static_cast<BYTE*>(record);
}

int WriteRecord(const std::wstring& printer, const std::wstring& file, DWORD version) {
    std::string why;
    BYTE* record = BuildRecord(printer, version, &why);
    if (!record) {
        std::fprintf(stderr, "kvcaps: %s: %s\n", Utf8(printer).c_str(), why.c_str());
        return kUnreadable;
    }
    const DWORD size = reinterpret_cast<const KVPrinterInfo401*>(record)->dwSize;
    // The record is written next to the file and replaces it only once whole:
    // a write that fails (a full disk, a share gone away) leaves an earlier
    // file as it was, and no cut record stays behind to pass for a whole one.
    const std::wstring partial = file + L".partial";
    HANDLE out = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0, error = 0;
    bool ok = out != INVALID_HANDLE_VALUE && ::WriteFile(out, record, size, &written, nullptr);
    if (!ok) error = ::GetLastError();
    if (ok && written != size) ok = false, error = ERROR_HANDLE_DISK_FULL;  // a short write sets no error
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    platform::HeapFreeBlock(record);
    if (ok && !::MoveFileExW(partial.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        ok = false, error = ::GetLastError();
    if (!ok) {
        if (out != INVALID_HANDLE_VALUE) ::DeleteFileW(partial.c_str());
        std::fprintf(stderr, "kvcaps: %s: cannot write the file (error %lu)\n", Utf8(file).c_str(), error);
        return kNotWritten;
    }
    std::printf("%s: printer info record %lu, %lu bytes, written to %s\n", Utf8(printer).c_str(),
                static_cast<unsigned long>(version), static_cast<unsigned long>(size), Utf8(file).c_str());
    return kOk;
}

int ShowRecord(InfoRecord* record, const std::string& where, bool full) {
    std::string why;
    if (!Recognise(record, &why)) {
        std::fprintf(stderr, "kvcaps: %s: not a usable printer info record: %s\n", where.c_str(), why.c_str());
        return kDamaged;
    }
    PrintInfoSummary(*record, where, full);
    std::fflush(stdout);
    return kOk;
}

struct PublishOptions {
    DWORD type = 0;
    DWORD session = 0;
    DWORD connection = 0;
    std::wstring user;
};

int Publish(const PublishOptions& options) {
    const VLIB_PRINTER_ENUM_LIST printers = vlibPRINT_EnumeratePrinters(kEnumSelectLocal | kEnumSelectNetwork);
    if (printers.empty()) {
        std::fprintf(stderr, "kvcaps: no local or network printer to publish\n");
        return kUnreadable;
    }
    int result = kOk;
    for (const auto& printer : printers) {
        const std::wstring name = printer->szPrinterName;
        std::string why = "the printer key could not be written";
        BYTE* record = BuildRecord(name, kKVPrinterInfo402Version, &why);
        bool stored = record && vlibPRINT_SetKVPrinterInfo(options.type, options.session, options.connection, 1,
                                                           reinterpret_cast<const KVPrinterInfo401*>(record),
                                                           L"", options.user);
        // The library counts the key as written whatever became of its values:
        // "stored" is said only of a record that reads back as written.
        if (stored) {
            const DWORD size = reinterpret_cast<const KVPrinterInfo401*>(record)->dwSize;
            std::vector<BYTE> back;
            std::string where;
            if (!ReadRegistryValue(name, L"PrinterData4", false, &back, &where, &why))
                stored = false;
            else if (back.size() != size || std::memcmp(back.data(), record, size) != 0)
                stored = false, why = "the stored value does not read back as the record";
        }
        if (stored)
            std::printf("stored %s: 402 record of %lu bytes in HKLM\\%s\\%s\n", Utf8(name).c_str(),
                        static_cast<unsigned long>(reinterpret_cast<const KVPrinterInfo401*>(record)->dwSize),
                        Utf8(kPrintersKey).c_str(), Utf8(vlibPRINT_PrinterNameToRegistrySafeName(name)).c_str());
        else
            std::fprintf(stderr, "kvcaps: %s: not stored: %s\n", Utf8(name).c_str(), why.c_str());
        platform::HeapFreeBlock(record);
        if (!stored) result = kUnreadable;
    }
    return result;
}

// A whole unsigned 32-bit number (wcstoul takes "-1" and clamps what is too large).
bool ParseNumber(const WCHAR* text, DWORD* value) {
    WCHAR* end = nullptr;
    errno = 0;
    const unsigned long parsed = std::wcstoul(text, &end, 0);
    if (!*text || *end || errno == ERANGE || std::wcschr(text, L'-')) return false;
    *value = static_cast<DWORD>(parsed);
    return true;
}

int Run(int argc, LPWSTR* argv) {
    bool full = false, publish = false;
    std::wstring infoRecordPrinter, outFile, infoFile, registryPrinter;
    DWORD version = kKVPrinterInfo402Version;
    PublishOptions options;
    WCHAR user[256] = {};
    DWORD userChars = 256;
    if (::GetUserNameW(user, &userChars)) options.user = user;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &options.session);
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--full") {
            full = true;
        } else if (arg == L"--publish") {
            publish = true;
        } else if (arg == L"--info-record" && i + 2 < argc) {
            infoRecordPrinter = argv[++i];
            outFile = argv[++i];
        } else if (arg == L"--info" && hasValue) {
            infoFile = argv[++i];
        } else if (arg == L"--info-registry" && hasValue) {
            registryPrinter = argv[++i];
        } else if (arg == L"--user" && hasValue) {
            options.user = argv[++i];
        } else if (!(hasValue && ((arg == L"--version" && ParseNumber(argv[++i], &version)) ||
                                  (arg == L"--type" && ParseNumber(argv[++i], &options.type)) ||
                                  (arg == L"--session" && ParseNumber(argv[++i], &options.session)) ||
                                  (arg == L"--connection" && ParseNumber(argv[++i], &options.connection))))) {
            return Usage();
        }
    }
    if (static_cast<int>(publish) + !infoRecordPrinter.empty() + !infoFile.empty() + !registryPrinter.empty() != 1 ||
        version < 400 || version > 402)
        return Usage();

    if (!infoRecordPrinter.empty()) return WriteRecord(infoRecordPrinter, outFile, version);
    if (publish) return Publish(options);
    InfoRecord record;
    if (!infoFile.empty()) {
        std::string why;
        if (!ReadFileBytes(infoFile, &record.bytes, &why)) {
            std::fprintf(stderr, "kvcaps: %s: %s\n", Utf8(infoFile).c_str(), why.c_str());
            return kUnreadable;
        }
        return ShowRecord(&record, Utf8(infoFile), full);
    }
    // The value as it is stored: a damaged one is refused with its reason.
    std::string where, why;
    if (!ReadRegistryValue(registryPrinter, L"PrinterData4", false, &record.bytes, &where, &why)) {
        std::fprintf(stderr, "kvcaps: %s: %s\n", Utf8(registryPrinter).c_str(), why.c_str());
        return kUnreadable;
    }
    return ShowRecord(&record, where, full);
}

}  // namespace inforec

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
    if (!Unpack(bytes, &set)) {  // the record passed its check: only memory can be missing
        std::fprintf(stderr, "kvcaps: out of memory while loading the record\n");
        return kNoMemory;
    }
    const std::string text =
        format == Export::kIpp ? vlibPRINT_Caps4IppAttributes(&set, printer) : vlibPRINT_Caps4Json(&set);
    vlibPRINT_FreeQueryBuffers(&set);
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    // A cut export (a full disk, a closed pipe) must not pass for a whole one.
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "kvcaps: the export could not be written whole\n");
        return kNotWritten;
    }
    return kOk;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kvcaps [--full | --ipp | --json] FILE.kvp\n"
                 "       kvcaps [--full | --ipp | --json] --registry PRINTER\n"
                 "       kvcaps [--full | --ipp | --json] --printer-data PRINTER\n");
    std::fputs(inforec::kUsageLines, stderr);
    return kUsage;
}

struct ArgvHolder {
    LPWSTR* argv = nullptr;
    ~ArgvHolder() {
        if (argv) ::LocalFree(argv);
    }
};

int Run() {
    int argc = 0;
    ArgvHolder args;
    args.argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!args.argv) return Usage();
    if (inforec::Wanted(argc, args.argv)) return inforec::Run(argc, args.argv);

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
        read = ReadRegistryValue(registryPrinter, L"PrinterData", true, &bytes, &where, &why);
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
                           !file.empty() ? FileStem(file) : registryPrinter + dataPrinter);
    std::printf("Capability record, %lu bytes, from %s\n", static_cast<unsigned long>(bytes.size()), where.c_str());
    PrintSummary(bytes);
    if (full) PrintFullDump(bytes);
    std::fflush(stdout);
    return kOk;
}

}  // namespace

int main() { return RunTool("kvcaps", Run, kNoMemory); }
