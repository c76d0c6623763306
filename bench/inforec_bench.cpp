// Speed of what the server side's printer info records cost for a large
// printer (the fake print system with 118 papers and 4 resolutions, 472
// forms, queried once): building a 402 record, storing it in the registry
// list and reading it back, and finding a form in its capability record by
// paper code, form name or size. Run by hand; prints the median and the
// fastest of several rounds (the machine is shared), trace log off.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fake/fake_print_system.h"
#include "platform/kernel.h"
#include "print/form_matching.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"
#include "records/printer_info_registry.h"
#include "support/registry_steering.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs `work` `rounds` times `perRound` times; prints microseconds per call.
void Time(const char* title, int rounds, int perRound, const std::function<void()>& work) {
    std::vector<double> samples;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        for (int i = 0; i < perRound; ++i) work();
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() / perRound);
    }
    std::sort(samples.begin(), samples.end());
    std::printf("%-44s median %10.2f us per call, fastest %10.2f us\n", title, samples[samples.size() / 2], samples.front());
}

}  // namespace

int main() {
    testsupport::RegistrySteering registry;  // the Printers key in a scratch key, nothing cached
    registry.SetDword(HKEY_LOCAL_MACHINE, kPrintersKey, L"CacheMethod", 2);
    fake::FakePrintSystem fake;
    std::vector<fake::FakePaper> papers;
    for (WORD id = 1; id <= 118; ++id)
        papers.push_back({id, L"Paper number " + std::to_wstring(id), LONG(900 + 11 * id), LONG(1400 + 13 * id)});
    fake::FakePrinter& large = fake.AddPrinter(L"Bench Laser");
    large.SetPapers(papers);
    large.SetResolutions({{150, 150}, {300, 300}, {600, 600}, {1200, 1200}});
    CPrinter printer(nullptr, L"Bench Laser", 2, 0);
    printer.Query(1, nullptr, nullptr);
    caps4* caps = printer.SerializeCaps4();
    KVPrinterInfo402* record = printer.CreateKVPrinterInfo402W();
    if (!caps || !record) {
        std::printf("the fake printer gave no capability record\n");
        return 1;
    }
    std::printf("402 record of %lu bytes, %lu forms\n", static_cast<unsigned long>(record->dwSize),
                static_cast<unsigned long>(caps->dwNumForms));

    Time("CreateKVPrinterInfo402W", 9, 20, [&] { platform::HeapFreeBlock(printer.CreateKVPrinterInfo402W()); });
    Time("SetKVPrinterInfo + GetKVPrinterInfo", 9, 20, [&] {
        vlibPRINT_SetKVPrinterInfo(0, 1, 0, 1, reinterpret_cast<const KVPrinterInfo401*>(record), L"", L"bench");
        platform::HeapFreeBlock(vlibPRINT_GetKVPrinterInfo(nullptr, L"Bench Laser"));
    });

    // Every paper at the last resolution, named by one key alone.
    const struct { const char* title; DWORD fields; } keys[] = {
        {"GetForm by paper code (118 x 1200 dpi)", DM_PAPERSIZE},
        {"GetForm by form name (118 x 1200 dpi)", DM_FORMNAME},
        {"GetForm by paper size (118 x 1200 dpi)", DM_PAPERWIDTH | DM_PAPERLENGTH},
    };
    for (const auto& key : keys) {
        std::vector<DEVMODEW> requests(papers.size());
        for (size_t i = 0; i < papers.size(); ++i) {
            DEVMODEW& dm = requests[i];
            dm.dmFields = key.fields | DM_PRINTQUALITY | DM_YRESOLUTION;
            dm.dmPaperSize = static_cast<short>(papers[i].id);
            platform::CopyString(dm.dmFormName, CCHFORMNAME, papers[i].name.c_str());
            dm.dmPaperWidth = static_cast<short>(papers[i].width), dm.dmPaperLength = static_cast<short>(papers[i].length);
            dm.dmPrintQuality = dm.dmYResolution = 1200;
        }
        size_t next = 0;
        Time(key.title, 9, 2000, [&] {
            DEVMODEW out = {};
            FormEntry form;
            vlibPRINT_GetForm(&form, &requests[next], &out, 100, caps, nullptr);
            next = (next + 1) % requests.size();
        });
    }
    platform::HeapFreeBlock(record);
    platform::HeapFreeBlock(caps);
    return 0;
}
