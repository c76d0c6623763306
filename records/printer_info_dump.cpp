#include "records/printer_info_dump.h"

#include "print/dump_text.h"

namespace {

using dumptext::AddressOf;
using dumptext::SlotText;

// Banner and address; false (after a closing banner) when the record does
// not hold its whole header within the bound.
template <class Record>
bool Open(TraceLog* log, const WCHAR* name, const Record* record, size_t available, size_t header, size_t* bound) {
    TraceLogWrite(log, 0, L"%s => ***************************************\n", name);
    TraceLogWrite(log, 0, L"%s => %X\n", name, AddressOf(record));
    *bound = available >= sizeof(DWORD) && record->dwSize < available ? record->dwSize : available;
    if (*bound >= header) return true;
    TraceLogWrite(log, 0, L"%s => record of %d bytes is shorter than its header, not listed\n", name,
                  static_cast<int>(*bound));
    TraceLogWrite(log, 0, L"%s => ***************************************\n", name);
    return false;
}

}  // namespace

void vlibPRINT_LogKVPI4(TraceLog* log, const KVPrinterInfo401* record) {
    if (log && record) vlibPRINT_LogKVPI4(log, record, record->dwSize);
}

void vlibPRINT_LogKVPI4(TraceLog* log, const KVPrinterInfo401* record, size_t available) {
    if (!log || !record) return;
    // Read through the 402 layout: a 401 record is always longer than that
    // header, its capability record starting where 402 keeps the options.
    const auto* r = reinterpret_cast<const KVPrinterInfo402*>(record);
    size_t bound = 0;
    if (!Open(log, L"vlibPRINT_LogKVPI4", r, available, sizeof(KVPrinterInfo402), &bound)) return;
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => dwSize: %d\n", r->dwSize);
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => dwIsDefault: %d\n", r->dwIsDefault);
    const struct {
        const WCHAR* format;
        const WCHAR (&text)[kInfoStringChars];
    } strings[] = {
        {L"vlibPRINT_LogKVPI4 => szNativePrinterName:  %s\r\n", r->szNativePrinterName},
        {L"vlibPRINT_LogKVPI4 => szKVPrinterName:  %s\r\n", r->szKVPrinterName},
        {L"vlibPRINT_LogKVPI4 => szServerName:  %s\r\n", r->szServerName},
        {L"vlibPRINT_LogKVPI4 => szPrinterName:  %s\r\n", r->szPrinterName},
        {L"vlibPRINT_LogKVPI4 => szShareName:  %s\r\n", r->szShareName},
        {L"vlibPRINT_LogKVPI4 => szPortName:  %s\r\n", r->szPortName},
        {L"vlibPRINT_LogKVPI4 => szDriverName:  %s\r\n", r->szDriverName},
        {L"vlibPRINT_LogKVPI4 => szComment:  %s\r\n", r->szComment},
        {L"vlibPRINT_LogKVPI4 => szLocation:  %s\r\n", r->szLocation},
    };
    for (const auto& line : strings) TraceLogWrite(log, 0, line.format, SlotText(line.text).get());
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => Attributes: %d\n", r->Attributes);
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => Priority: %d\n", r->Priority);
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => DefaultPriority: %d\n", r->DefaultPriority);
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => StartTime: %d\n", r->StartTime);
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => UntilTime: %d\n", r->UntilTime);
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => Status: %d\n", r->Status);
    LogDM(&r->DevMode, log);
    DWORD capsSize = 0;
    if (const caps4* caps = vlibPRINT_KVPICaps(record, bound, &capsSize))
        LogCaps4(log, caps, capsSize);
    else
        TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => no capability record inside the record\n");
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => bSecondDialog: %d\n", r->bSecondDialog);
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => bPrintAsImage: %d\n", r->bPrintAsImage);
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => dwPrintAsImageDPI: %d\n", r->dwPrintAsImageDPI);
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => dwFontEmbed: %d\n", r->dwFontEmbed);
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => ***************************************\n");
}

void vlibPRINT_LogKVPI2(TraceLog* log, const KVPrinterInfo2* record) {
    if (log && record) vlibPRINT_LogKVPI2(log, record, record->dwSize);
}

void vlibPRINT_LogKVPI2(TraceLog* log, const KVPrinterInfo2* record, size_t available) {
    if (!log || !record) return;
    size_t bound = 0;
    if (!Open(log, L"vlibPRINT_LogKVPI2", record, available, sizeof(KVPrinterInfo2), &bound)) return;
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI2 => dwSize: %d\n", record->dwSize);
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI2 => dwIsDefault: %d\n", record->dwIsDefault);
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI2 => szServerName:  %s\r\n", SlotText(record->szServerName).get());
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI2 => szPrinterName:  %s\r\n", SlotText(record->szPrinterName).get());
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI2 => szComment:  %s\r\n", SlotText(record->szComment).get());
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI2 => szLocation:  %s\r\n", SlotText(record->szLocation).get());
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI2 => szNativePrinterName:  %s\r\n",
                  SlotText(record->szNativePrinterName).get());
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI2 => Status: %d\n", record->Status);
    LogDM(&record->DevMode, log);
    // The capability record lies behind the header; an empty record (the
    // generic one has offset 0) has none.
    const DWORD offset = record->dwOffsetToCaps;
    if (offset >= sizeof(KVPrinterInfo2) && offset < bound)
        LogCaps2(log, reinterpret_cast<const caps2*>(reinterpret_cast<const BYTE*>(record) + offset), bound - offset);
    else
        TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI2 => no capability record inside the record\n");
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI2 => ***************************************\n");
}
