// kvdefaultdm: reads or stores a printer's global default DEVMODE.
//
//   kvdefaultdm PRINTER...                        prints "PRINTER 0xVVVV" for each printer: the
//                                                 dmSpecVersion of the default DEVMODE the printer
//                                                 object gets from the driver
//   kvdefaultdm --spec-version V PRINTER...       takes the driver's default DEVMODE, gives it
//                                                 dmSpecVersion V (0x0401: what real drivers
//                                                 report) and stores it as the printer's global
//                                                 default (SetPrinterW level 8)
//
// A driver caches its default per process: check a stored default from a
// new process. Exit code 0; 2 when a printer gave no DEVMODE; 1 for a wrong
// command line; 3 when memory runs out; 4 when the spooler did not keep a
// default that was to be stored.
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "printer/printer.h"
#include "tools/tool_main.h"

namespace {

enum ExitCode { kOk = 0, kUsage = 1, kNoDevMode = 2, kNoMemory = 3, kNotStored = 4 };

int Usage() {
    std::fprintf(stderr,
                 "usage: kvdefaultdm PRINTER...\n"
                 "       kvdefaultdm --spec-version V PRINTER...\n");
    return kUsage;
}

// Cache method 2 (unless the registry's CacheMethod says otherwise): the
// printer object keeps no record; the tool never stores one.
constexpr DWORD kNoCache = 2;

int Run() {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv) return Usage();
    std::vector<std::wstring> args(argv + 1, argv + argc);
    ::LocalFree(argv);

    long version = -1;
    if (!args.empty() && args[0] == L"--spec-version") {
        wchar_t* end = nullptr;
        version = args.size() >= 2 ? std::wcstol(args[1].c_str(), &end, 0) : 0;
        if (!end || *end || version <= 0 || version > 0xFFFF) return Usage();
        args.erase(args.begin(), args.begin() + 2);
    }
    // An option anywhere else is a mistake, not a printer name.
    if (args.empty() || std::any_of(args.begin(), args.end(), [](const std::wstring& a) { return a.starts_with(L"--"); }))
        return Usage();

    int result = kOk;
    for (const std::wstring& name : args) {
        CPrinter printer(nullptr, name, kNoCache, 0);
        if (!printer.pDefDM || !printer.pDefDM->dmSize) {
            std::fprintf(stderr, "kvdefaultdm: %s: the driver gave no default DEVMODE\n", platform::Utf8(name.c_str()).c_str());
            result = kNoDevMode;
            continue;
        }
        if (version < 0) {
            std::printf("%s 0x%04X\n", platform::Utf8(name.c_str()).c_str(), printer.pDefDM->dmSpecVersion);
            continue;
        }
        printer.pDefDM->dmSpecVersion = static_cast<WORD>(version);
        printer.SetGlobalDefaultDM(printer.pDefDM);
        // The setter only traces a refusal (no right to manage the printer,
        // say): the stored default read back tells.
        DEVMODEW* stored = printer.GetGlobalDefaultDM();
        const bool kept = stored && stored->dmSpecVersion == version;
        platform::HeapFreeBlock(stored);
        if (!kept) {
            std::fprintf(stderr, "kvdefaultdm: %s: the spooler did not keep the default DEVMODE\n",
                         platform::Utf8(name.c_str()).c_str());
            result = kNotStored;
            continue;
        }
        std::printf("%s 0x%04lX stored\n", platform::Utf8(name.c_str()).c_str(), static_cast<unsigned long>(version));
    }
    std::fflush(stdout);
    return result;
}

}  // namespace

int main() { return RunTool("kvdefaultdm", Run, kNoMemory); }
