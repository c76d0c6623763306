// Speed of a printer object's whole capability query (the 33 requests with
// the forms table) for a large printer whose driver answers at once: the fake
// print system with 118 papers and 4 resolutions, 472 forms. Run by hand;
// prints the time per printer and per form, with the trace log off and on.
// The query must stay well under 20 ms per printer with the log off.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "fake/fake_print_system.h"
#include "log/trace_log.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"
#include "support/registry_steering.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

void SetUpPrinter(fake::FakePrintSystem& fake) {
    fake::FakePrinter& printer = fake.AddPrinter(L"Bench Laser");
    std::vector<fake::FakePaper> papers;
    for (WORD i = 0; i < 118; ++i) {
        WCHAR name[32];
        _snwprintf(name, 32, L"Paper %u", static_cast<unsigned>(i + 1));
        name[31] = 0;
        papers.push_back({static_cast<WORD>(i + 1), name, static_cast<LONG>(1000 + 10 * i), static_cast<LONG>(1500 + 12 * i)});
    }
    printer.SetPapers(papers);
    printer.SetResolutions({{150, 150}, {300, 300}, {600, 600}, {1200, 1200}});
    printer.SetBins({{DMBIN_AUTO, L"Automatically Select"}, {DMBIN_UPPER, L"Tray 1"}, {DMBIN_LOWER, L"Tray 2"}});
    printer.SetMedia({{DMMEDIA_STANDARD, L"Plain"}, {DMMEDIA_GLOSSY, L"Glossy"}, {DMMEDIA_TRANSPARENCY, L"Film"}});
}

struct Figures {
    double median = 0;  // milliseconds per query
    double fastest = 0;
};

Figures Summarize(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.front()};
}

// Runs `rounds` full capability queries. The machine is shared, so the median
// and the fastest round are reported rather than the mean.
Figures TimeQueries(CPrinter& printer, fake::FakePrintSystem& fake, int rounds, DWORD* forms) {
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        printer.ClearQueryBuffers();
        fake.ClearCalls();  // the fake's call record is not part of the driver's time
        const auto start = Clock::now();
        printer.QueryCapabilities(0, nullptr, nullptr);
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    *forms = printer.queryBuffers.dwNumForms;
    return Summarize(samples);
}

void Report(const char* title, Figures f, DWORD forms) {
    std::printf("%-30s median %9.3f ms per printer %8.2f us per form, fastest %9.3f ms  (%lu forms)\n", title,
                f.median, forms ? f.median * 1000.0 / forms : 0.0, f.fastest, static_cast<unsigned long>(forms));
}

}  // namespace

int main() {
    testsupport::RegistrySteering registry;  // no configuration, nothing cached
    registry.SetDword(HKEY_LOCAL_MACHINE, kPrintersKey, L"CacheMethod", 2);
    fake::FakePrintSystem fake;
    SetUpPrinter(fake);

    CPrinter printer(nullptr, L"Bench Laser", 2, 0);
    if (!printer.bAvailable) {
        std::printf("the fake printer is not available\n");
        return 1;
    }
    DWORD forms = 0;
    TimeQueries(printer, fake, 3, &forms);  // warm-up
    const Figures logOff = TimeQueries(printer, fake, 60, &forms);
    Report("QueryCapabilities, log off:", logOff, forms);

    // The whole forced query: clearing, option lookups, queries, cache step.
    std::vector<double> samples;
    for (int i = 0; i < 60; ++i) {
        fake.ClearCalls();
        const auto start = Clock::now();
        printer.Query(1, nullptr, nullptr);
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    Report("Query(force), log off:", Summarize(samples), printer.queryBuffers.dwNumForms);

    testsupport::TempDir dir;
    const std::wstring path = dir.File(L"bench.log");
    LibraryLog = TraceLogCreate(path.c_str(), 0);
    const Figures logOn = TimeQueries(printer, fake, 10, &forms);
    TraceLog* log = LibraryLog;
    LibraryLog = nullptr;
    TraceLogDestroy(log);
    Report("QueryCapabilities, log on:", logOn, forms);
    const size_t lines = testsupport::ReadLogLines(path).size();
    std::printf("%-34s %8zu lines per query\n", "trace log:", lines / 10);

    const bool fast = logOff.median < 20.0;
    std::printf("log off under 20 ms per printer: %s\n", fast ? "yes" : "NO");
    return fast ? 0 : 2;
}
