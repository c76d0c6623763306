#include "print/printer_enum.h"

#include <new>

#include <boost/make_shared.hpp>

#include "log/trace_log.h"
#include "platform/guard.h"
#include "platform/kernel.h"
#include "print/spooler_block.h"

static_assert(sizeof(OSVERSIONINFOW) == 276);

namespace {

// The kind a printer is listed as under the selection, or 0 to skip it.
// A printer that is both local and shared from the network counts as a
// network printer.
DWORD ClassifyPrinter(DWORD attributes, DWORD selection) {
    const bool local = (attributes & PRINTER_ATTRIBUTE_LOCAL) != 0;
    const bool network = (attributes & PRINTER_ATTRIBUTE_NETWORK) != 0;
    if (local && (selection & kEnumSelectLocal)) {
        if (!network) return kPrinterTypeLocal;
        return (selection & kEnumSelectNetwork) ? kPrinterTypeNetwork : 0;
    }
    return (network && (selection & kEnumSelectNetwork)) ? kPrinterTypeNetwork : 0;
}

bool IsNtBased() {
    // A failed version query leaves the platform id at 0 and so takes the
    // 9x path, the one that asks the least of the spooler.
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    platform::version.GetVersionExW(&info);
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Asks the spooler for its printers into a buffer of the size it reports
// (handed out in `buffer` for the caller to free) and lists the selected ones
// into `printers`, tracing each step.
void ListPrinters(DWORD enumFlags, DWORD dwFlags, bool nt, BYTE** buffer, VLIB_PRINTER_ENUM_LIST& printers) {
    // The size query is expected to fail with an insufficient-buffer status;
    // only the size it reports matters.
    // A spooler that faults is taken as one that fails.
    DWORD needed = 0, returned = 0;
    if (!platform::Guarded([&] { platform::spooler.EnumPrintersW(enumFlags, nullptr, 2, nullptr, 0, &needed, &returned); })) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => exception occurred during EnumPrinters\n");
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => returning failure\n");
        return;
    }
    *buffer = platform::HeapAllocZeroAs<BYTE>(needed);
    if (!*buffer) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => couldn't allocate memory\n");
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => returning failure\n");
        return;
    }
    BYTE* const records = *buffer;
    const DWORD size = needed;
    returned = 0;
    BOOL enumerated = FALSE;
    if (!platform::Guarded([&] {
            enumerated = platform::spooler.EnumPrintersW(enumFlags, nullptr, 2, records, size, &needed, &returned);
        }))
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => exception occurred during EnumPrinters\n");
    if (!enumerated) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => enumeration failed\n");
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => returning failure\n");
        return;
    }
    returned = vlibPRINT_ConfinePrinterInfo(records, size, 2, returned, L"vlibPRINT_EnumeratePrinters");
    if (nt)
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => printers enumerated, %d\n",
                      static_cast<int>(returned));
    else
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => printers enumerated\n");

    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => number of printers: %d\n",
                  static_cast<int>(returned));
    if (returned == 0) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => no printers, failing out\n");
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => returning failure\n");
        return;
    }

    const PRINTER_INFO_2W* info = reinterpret_cast<const PRINTER_INFO_2W*>(records);
    for (DWORD i = 0; i < returned; ++i) {
        const PRINTER_INFO_2W& printer = info[i];
        if (nt)
            TraceLogWrite(LibraryLog, 0,
                          L"vlibPRINT_EnumeratePrinters => printer: %s; server: %s; attributes: %d; driver: %s\n",
                          printer.pPrinterName, printer.pServerName, static_cast<int>(printer.Attributes),
                          printer.pDriverName);
        else
            TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => printer: %s; attributes: %d; driver: %s\n",
                          printer.pPrinterName, static_cast<int>(printer.Attributes), printer.pDriverName);

        const DWORD type = ClassifyPrinter(printer.Attributes, dwFlags);
        if (type == 0) continue;
        boost::shared_ptr<VLIB_PRINTER_ENUM_1W> record = boost::make_shared<VLIB_PRINTER_ENUM_1W>();
        record->dwType = type;
        platform::CopyString(record->szPrinterName, 260, printer.pPrinterName);
        printers.push_back(record);
    }

    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => returning success\n");
}

}  // namespace

VLIB_PRINTER_ENUM_LIST vlibPRINT_EnumeratePrinters(DWORD dwFlags) {
    VLIB_PRINTER_ENUM_LIST printers;
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters =>\n");

    const bool nt = IsNtBased();
    DWORD enumFlags = PRINTER_ENUM_LOCAL;
    if (nt) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => NT-based system, enumerating\n");
        enumFlags = 0;
        if (dwFlags & kEnumSelectLocal) enumFlags = PRINTER_ENUM_LOCAL;
        if (dwFlags & kEnumSelectNetwork) enumFlags |= PRINTER_ENUM_CONNECTIONS;
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => dwEnumFlags = %lu\n",
                      static_cast<unsigned long>(enumFlags));
    } else {
        // The 9x spooler has no connections of its own: network printers show
        // up among the local ones.
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => 9x-based system, enumerating\n");
    }

    // Out of memory in our own code is the same failure as no buffer for the
    // records: reported by an empty list, the buffer freed on every way out.
    BYTE* buffer = nullptr;
    try {
        ListPrinters(enumFlags, dwFlags, nt, &buffer, printers);
    } catch (const std::bad_alloc&) {
        printers.clear();
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => couldn't allocate memory\n");
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_EnumeratePrinters => returning failure\n");
    } catch (...) {  // any other exception goes on to the caller
        platform::HeapFreeBlock(buffer);
        throw;
    }
    platform::HeapFreeBlock(buffer);
    return printers;
}
