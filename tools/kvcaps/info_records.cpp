// kvcaps: printer info records: builds one for a printer into a file, shows
// one from a file or the registry, and publishes one per printer.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "print/form_matching.h"
#include "print/printer_enum.h"
#include "print/printer_names.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"
#include "records/caps4_check.h"
#include "records/printer_info.h"
#include "records/printer_info_dump.h"
#include "records/printer_info_registry.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {
namespace inforec {


const char kUsageLines[] =
    "       kvcaps --info-record PRINTER FILE [--record-version 400|401|402]\n"
    "       kvcaps [--full | --ipp] --info FILE\n"
    "       kvcaps --publish [--type N] [--session N] [--user NAME] [--connection N]\n"
    "       kvcaps [--full | --ipp] --info-registry PRINTER\n";

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
    // The driver's name, else the printer's: what the exports name as make and model.
    std::wstring Driver() const {
        const WCHAR* driver = version == 400 ? As400()->szDriverName : As402()->szDriverName;
        const WCHAR* printer = version == 400 ? As400()->szPrinterName : As402()->szPrinterName;
        const WCHAR* name = driver[0] ? driver : printer;
        return std::wstring(name, wcsnlen(name, kInfoStringChars));
    }
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

bool CapsOf(const std::vector<BYTE>& bytes, std::vector<BYTE>* caps, DEVMODEW* devMode, std::wstring* driver, std::string* why) {
    InfoRecord record;
    record.bytes = bytes;
    if (!Recognise(&record, why)) return false;
    *caps = record.Caps();
    *devMode = record.DevMode().dm;
    *driver = record.Driver();
    return true;
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
    const int written = WriteFileWhole(file, record, size);
    platform::HeapFreeBlock(record);
    if (written != kOk) return written;
    std::printf("%s: printer info record %lu, %lu bytes, written to %s\n", Utf8(printer).c_str(),
                static_cast<unsigned long>(version), static_cast<unsigned long>(size), Utf8(file).c_str());
    return kOk;
}

// The IPP export of a record: its capability record with the defaults of
// its DEVMODE, named by its driver (else its printer).
int ExportRecord(const InfoRecord& r) { return WriteIppExport(r.Caps(), r.Driver(), &r.DevMode().dm); }

int ShowRecord(InfoRecord* record, const std::string& where, bool full, bool ipp) {
    std::string why;
    if (!Recognise(record, &why)) {
        std::fprintf(stderr, "kvcaps: %s: not a usable printer info record: %s\n", where.c_str(), why.c_str());
        return kDamaged;
    }
    if (ipp) return ExportRecord(*record);
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

// --record-version N, or the older spelling --version N (kvcaps --version
// alone prints the program's version).
bool IsRecordVersionOption(const std::wstring& arg) { return arg == L"--record-version" || arg == L"--version"; }

int Run(int argc, LPWSTR* argv) {
    bool full = false, publish = false, ipp = false;
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
        } else if (arg == L"--ipp") {
            ipp = true;
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
        } else if (!(hasValue && ((IsRecordVersionOption(arg) && ParseNumber(argv[++i], &version)) ||
                                  (arg == L"--type" && ParseNumber(argv[++i], &options.type)) ||
                                  (arg == L"--session" && ParseNumber(argv[++i], &options.session)) ||
                                  (arg == L"--connection" && ParseNumber(argv[++i], &options.connection))))) {
            return Usage();
        }
    }
    if (static_cast<int>(publish) + !infoRecordPrinter.empty() + !infoFile.empty() + !registryPrinter.empty() != 1 ||
        version < 400 || version > 402 || (ipp && (full || (infoFile.empty() && registryPrinter.empty()))))
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
        return ShowRecord(&record, Utf8(infoFile), full, ipp);
    }
    // The value as it is stored: a damaged one is refused with its reason.
    std::string where, why;
    if (!ReadRegistryValue(registryPrinter, L"PrinterData4", false, &record.bytes, &where, &why)) {
        std::fprintf(stderr, "kvcaps: %s: %s\n", Utf8(registryPrinter).c_str(), why.c_str());
        return kUnreadable;
    }
    return ShowRecord(&record, where, full, ipp);
}

}  // namespace inforec

}  // namespace kvcaps
