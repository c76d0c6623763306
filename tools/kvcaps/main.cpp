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
//   kvcaps --ppd SOURCE    the record as a PostScript Printer Description (PPD 4.3)
//   kvcaps --diff [--px N] [--json] A B
//                          what differs between two records, one line per
//                          difference and a total; --px N lets form values in
//                          device pixels differ by N; exit code 0 when equal,
//                          1 when different (see diff.cpp)
//   kvcaps --html SOURCE   the page report: the summary's tables and every paper's page and
//                          printable area drawn to scale, as one self-contained HTML page
//   kvcaps --from-json FILE.json OUT.kvp   such a document written back as a record
//
// Every SOURCE is told by its content (source.cpp): a capability record, a
// printer info record of any version or the earlier one (whose DEVMODE gives
// the defaults of --ipp and --ppd), or a record's JSON document.
//
// A printer info record (--info FILE, --info-registry PRINTER) carries the
// printer's default DEVMODE: `kvcaps --ipp --info FILE` takes every default
// of the export from it, and the driver's name for the make and model.
//
//   kvcaps --version       the program's version (its version resource)
//
// The summary lists the papers with their ids and sizes, the bins, the media
// types, the resolutions, the number of forms, every paper's page, printable
// area and margins at the resolution for normal printing, and the scalar
// capabilities. --full adds the record's complete
// field-by-field dump. A record that is damaged or not a capability record
// at all is refused with the reason and exit code 3; a record that cannot be
// read gives exit code 2, a wrong command line 1, running out of memory 4,
// an export or a record file that cannot be written whole 5.
#include <cstdio>
#include <string>
#include <vector>

#include "records/caps4_check.h"
#include "tools/kvcaps/kvcaps.h"
#include "tools/tool_main.h"
#include "tools/tool_version.h"

namespace kvcaps {

int Usage() {
    // Each command's lines are kept beside its code; the first line says "usage:".
    std::fprintf(stderr, "usage: %s", kSourceUsageLines + 7);
    std::fputs(kDiffUsageLines, stderr);
    std::fputs(kHtmlUsageLines, stderr);
    std::fputs(inforec::kUsageLines, stderr);
    std::fputs(kFromJsonUsageLines, stderr);
    std::fputs("       kvcaps --version\n", stderr);
    return kUsage;
}

namespace {

enum class Export { kNone, kIpp, kJson, kHtml, kPpd };

// The export option, or kNone for another argument.
Export ExportOption(const std::wstring& arg) {
    return arg == L"--ipp"    ? Export::kIpp
           : arg == L"--json" ? Export::kJson
           : arg == L"--html" ? Export::kHtml
           : arg == L"--ppd"  ? Export::kPpd
                              : Export::kNone;
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
    if (argc == 2 && std::wstring(args.argv[1]) == L"--version") return PrintToolVersion("kvcaps");
    if (inforec::Wanted(argc, args.argv)) return inforec::Run(argc, args.argv);
    if (argc > 1 && std::wstring(args.argv[1]) == L"--diff") return RunDiff(argc, args.argv);
    if (argc >= 2 && std::wstring(args.argv[1]) == L"--from-json")
        return argc == 4 ? WriteRecordFromJson(args.argv[2], args.argv[3]) : Usage();

    bool full = false;
    Export format = Export::kNone;
    Source source;
    int given = 0;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = args.argv[i];
        if (arg == L"--full") {
            full = true;
        } else if (ExportOption(arg) != Export::kNone && format == Export::kNone) {
            format = ExportOption(arg);
        } else if (given == 0 && ParseSource(argc, args.argv, &i, &source)) {
            ++given;
        } else {
            return Usage();
        }
    }
    if (given != 1 || (full && format != Export::kNone)) return Usage();

    // Every command takes every kind of source; an info record's DEVMODE gives
    // the defaults of the exports that have defaults.
    if (const int read = ReadSource(&source); read != kOk) return read;
    const std::vector<BYTE>& bytes = source.record;
    if (format == Export::kIpp) return WriteIppExport(bytes, source.MakeAndModel(), source.Defaults());
    if (format == Export::kPpd) return WritePpdExport(source);
    if (format == Export::kJson) return WriteJsonExport(bytes);
    if (format == Export::kHtml) return WriteHtmlExport(bytes, source.Printer());
    std::printf("Capability record, %lu bytes, from %s%s\n", static_cast<unsigned long>(bytes.size()), source.where.c_str(),
                source.kind.c_str());
    PrintSummary(bytes);
    if (full) PrintFullDump(bytes);
    std::fflush(stdout);
    return kOk;
}

}  // namespace
}  // namespace kvcaps

int main() { return RunTool("kvcaps", kvcaps::Run, kvcaps::kNoMemory); }
