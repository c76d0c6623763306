#include "records/printer_info_dump.h"

#include <cstring>

#include "print/dump_text.h"
#include "records/printer_info_layout.h"

namespace {

using dumptext::AddressOf;

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

// The fields a dump writes, in the record's order: a 32-bit value as
// "NAME: %d", a name as "NAME:  %s" and a CR LF; at the DEVMODE area `area`
// dumps it (and what follows it in the dump).
template <size_t N, class Area>
void DumpFields(TraceLog* log, const WCHAR* dump, const void* record, const InfoField (&fields)[N], Area area) {
    const BYTE* base = static_cast<const BYTE*>(record);
    for (const InfoField& f : fields) {
        if (!f.dumped) continue;
        if (f.kind == kInfoDword) {
            DWORD value;
            std::memcpy(&value, base + f.offset, sizeof(value));
            TraceLogWrite(log, 0, L"%s => %s: %d\n", dump, f.name, value);
        } else if (f.kind == kInfoString) {
            WCHAR text[kInfoStringChars + 1] = {};  // a slot filled to its end has no terminator
            std::memcpy(text, base + f.offset, f.size < sizeof(text) - sizeof(WCHAR) ? f.size : sizeof(text) - sizeof(WCHAR));
            TraceLogWrite(log, 0, L"%s => %s:  %s\r\n", dump, f.name, text);
        } else {
            area();
        }
    }
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
    DumpFields(log, L"vlibPRINT_LogKVPI4", r, kKVPI402Fields, [&] {
        LogDM(&r->DevMode, log);
        DWORD capsSize = 0;
        if (const caps4* caps = vlibPRINT_KVPICaps(record, bound, &capsSize))
            LogCaps4(log, caps, capsSize);
        else
            TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => no capability record inside the record\n");
    });
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI4 => ***************************************\n");
}

void vlibPRINT_LogKVPI2(TraceLog* log, const KVPrinterInfo2* record) {
    if (log && record) vlibPRINT_LogKVPI2(log, record, record->dwSize);
}

void vlibPRINT_LogKVPI2(TraceLog* log, const KVPrinterInfo2* record, size_t available) {
    if (!log || !record) return;
    size_t bound = 0;
    if (!Open(log, L"vlibPRINT_LogKVPI2", record, available, sizeof(KVPrinterInfo2), &bound)) return;
    DumpFields(log, L"vlibPRINT_LogKVPI2", record, kKVPI2Fields, [&] {
        LogDM(&record->DevMode, log);
        // The capability record lies behind the header; an empty record (the
        // generic one has offset 0) has none.
        const DWORD offset = record->dwOffsetToCaps;
        if (offset >= sizeof(KVPrinterInfo2) && offset < bound)
            LogCaps2(log, reinterpret_cast<const caps2*>(reinterpret_cast<const BYTE*>(record) + offset),
                     bound - offset);
        else
            TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI2 => no capability record inside the record\n");
    });
    TraceLogWrite(log, 0, L"vlibPRINT_LogKVPI2 => ***************************************\n");
}
