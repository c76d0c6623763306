#include "client/refresh_run.h"

#include <string>

#include "log/trace_log.h"
#include "platform/guard.h"
#include "print/printer_enum.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"

namespace {

// One printer: build the object (which reads the printer, loads its cache
// entry and its options), force a full query (which rewrites the cache entry)
// and destroy it before the next one is built. Failures are traced by the
// object itself and end with this printer.
void RefreshPrinter(const VLIB_PRINTER_ENUM_1W& record) {
    TraceLogWrite(ClientLog, 0, L"KVCLIENT => creating printer (name = %s)\n", record.szPrinterName);
    CPrinter printer(ClientLog, std::wstring(record.szPrinterName), kCacheInRegistry, 0);
    TraceLogWrite(ClientLog, 0, L"KVCLIENT => forcing requery of printer (name = %s)\n", record.szPrinterName);
    // The queries guard their fetches, but some driver calls (the counting
    // calls of the lists) are made unguarded. A driver that faults there
    // ends this printer's query, not the run: its cache entry stays as it was.
    CPrinter* const target = &printer;
    if (!platform::Guarded([target] { target->Query(1, nullptr, nullptr); }))
        TraceLogWrite(ClientLog, 0, L"KVCLIENT => exception occurred during query of printer (name = %s)\n",
                      record.szPrinterName);
}

}  // namespace

void RunRefresh() {
    // Local and network printers alike; the record's kind is not looked at.
    VLIB_PRINTER_ENUM_LIST printers = vlibPRINT_EnumeratePrinters(kEnumSelectLocal | kEnumSelectNetwork);
    for (const boost::shared_ptr<VLIB_PRINTER_ENUM_1W>& entry : printers) {
        boost::shared_ptr<VLIB_PRINTER_ENUM_1W> held = entry;  // kept for the whole of this printer
        try {
            RefreshPrinter(*held);
        } catch (...) {
            // Out of memory for a name or a list: this printer is given up,
            // the run goes on with the next one.
            TraceLogWrite(ClientLog, 0, L"KVCLIENT => refresh of printer failed (name = %s)\n", held->szPrinterName);
        }
    }
}
