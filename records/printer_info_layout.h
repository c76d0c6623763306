// The printer info records field by field: one description per record, in
// the record's order, read by the record dumps and by the format reference.
// Offsets and sizes come from the structures themselves, whose every field
// printer_info.h pins to its byte.
#pragma once

#include <cstddef>
#include <iterator>

#include "records/printer_info.h"

enum InfoFieldKind {
    kInfoDword,    // little-endian 32-bit value
    kInfoString,   // UTF-16 slot, zero-padded
    kInfoDevMode,  // the private DEVMODE area
};

struct InfoField {
    const WCHAR* name;
    DWORD offset;
    DWORD size;
    InfoFieldKind kind;
    bool dumped;  // the record dumps write it (in this order)
};

#define KV_INFO(type, field, kind) InfoField{L"" #field, offsetof(type, field), sizeof(type::field), kind, true}
#define KV_INFO_UNDUMPED(type, field) InfoField{L"" #field, offsetof(type, field), sizeof(type::field), kInfoDword, false}
#define KV_INFO_STRINGS(type)                                                                  \
    KV_INFO(type, szNativePrinterName, kInfoString), KV_INFO(type, szKVPrinterName, kInfoString), \
        KV_INFO(type, szServerName, kInfoString), KV_INFO(type, szPrinterName, kInfoString),      \
        KV_INFO(type, szShareName, kInfoString), KV_INFO(type, szPortName, kInfoString),          \
        KV_INFO(type, szDriverName, kInfoString), KV_INFO(type, szComment, kInfoString),          \
        KV_INFO(type, szLocation, kInfoString)
#define KV_INFO_401(type)                                                                                       \
    KV_INFO(type, dwSize, kInfoDword), KV_INFO_UNDUMPED(type, dwRecordVersion), KV_INFO(type, dwIsDefault, kInfoDword), \
        KV_INFO_STRINGS(type), KV_INFO(type, Attributes, kInfoDword), KV_INFO(type, Priority, kInfoDword),      \
        KV_INFO(type, DefaultPriority, kInfoDword), KV_INFO(type, StartTime, kInfoDword),                       \
        KV_INFO(type, UntilTime, kInfoDword), KV_INFO(type, Status, kInfoDword),                                \
        KV_INFO(type, DevMode, kInfoDevMode), KV_INFO_UNDUMPED(type, dwOffsetToCaps),                           \
        KV_INFO_UNDUMPED(type, dwSizeOfCaps)

// No dump reads a 400 record (the dumps read the 401 / 402 layout).
inline constexpr InfoField kKVPI400Fields[] = {
    KV_INFO(KVPrinterInfo400, dwSize, kInfoDword),
    KV_INFO_UNDUMPED(KVPrinterInfo400, dwReserved),
    KV_INFO_STRINGS(KVPrinterInfo400),
    KV_INFO(KVPrinterInfo400, Status, kInfoDword),
    KV_INFO(KVPrinterInfo400, DevMode, kInfoDevMode),
    KV_INFO_UNDUMPED(KVPrinterInfo400, dwOffsetToCaps),
    KV_INFO_UNDUMPED(KVPrinterInfo400, dwSizeOfCaps),
};
inline constexpr InfoField kKVPI401Fields[] = {KV_INFO_401(KVPrinterInfo401)};
inline constexpr InfoField kKVPI402Fields[] = {
    KV_INFO_401(KVPrinterInfo402),
    KV_INFO(KVPrinterInfo402, bSecondDialog, kInfoDword),
    KV_INFO(KVPrinterInfo402, bPrintAsImage, kInfoDword),
    KV_INFO(KVPrinterInfo402, dwPrintAsImageDPI, kInfoDword),
    KV_INFO(KVPrinterInfo402, dwFontEmbed, kInfoDword),
};
inline constexpr InfoField kKVPI2Fields[] = {
    KV_INFO(KVPrinterInfo2, dwSize, kInfoDword),
    KV_INFO(KVPrinterInfo2, dwIsDefault, kInfoDword),
    KV_INFO(KVPrinterInfo2, szServerName, kInfoString),
    KV_INFO(KVPrinterInfo2, szPrinterName, kInfoString),
    KV_INFO(KVPrinterInfo2, szComment, kInfoString),
    KV_INFO(KVPrinterInfo2, szLocation, kInfoString),
    KV_INFO(KVPrinterInfo2, szNativePrinterName, kInfoString),
    KV_INFO(KVPrinterInfo2, Status, kInfoDword),
    KV_INFO(KVPrinterInfo2, DevMode, kInfoDevMode),
    KV_INFO_UNDUMPED(KVPrinterInfo2, dwOffsetToCaps),
    KV_INFO_UNDUMPED(KVPrinterInfo2, dwReserved),
};

#undef KV_INFO_401
#undef KV_INFO_STRINGS
#undef KV_INFO_UNDUMPED
#undef KV_INFO

// Each description covers its header back to back, with nothing left out.
template <size_t N>
constexpr bool InfoFieldsCover(const InfoField (&fields)[N], size_t header) {
    size_t next = 0;
    for (const InfoField& f : fields) {
        if (f.offset != next) return false;
        next += f.size;
    }
    return next == header;
}
static_assert(InfoFieldsCover(kKVPI400Fields, sizeof(KVPrinterInfo400)));
static_assert(InfoFieldsCover(kKVPI401Fields, sizeof(KVPrinterInfo401)));
static_assert(InfoFieldsCover(kKVPI402Fields, sizeof(KVPrinterInfo402)));
static_assert(InfoFieldsCover(kKVPI2Fields, sizeof(KVPrinterInfo2)));
