#include "records/printer_info.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "log/trace_log.h"
#include "platform/kernel.h"
#include "records/caps4_check.h"

namespace {

DWORD DwordAt(const void* base, size_t offset) {
    DWORD value;
    std::memcpy(&value, static_cast<const BYTE*>(base) + offset, sizeof(value));
    return value;
}

template <class Record>
const caps4* CapsOf(const Record* record, size_t available, DWORD* capsSize) {
    if (!record) return nullptr;
    const size_t bound = record->dwSize < available ? record->dwSize : available;
    const DWORD offset = record->dwOffsetToCaps;
    if (bound < sizeof(Record) || offset < sizeof(Record) || offset > bound || bound - offset < sizeof(DWORD))
        return nullptr;
    // A capability record holds at least its own dwSize: a shorter one is none
    // (a copy of it would not even say how long it is).
    const DWORD size = DwordAt(record, offset);
    if (size < sizeof(DWORD) || size > bound - offset) return nullptr;
    if (capsSize) *capsSize = size;
    return reinterpret_cast<const caps4*>(reinterpret_cast<const BYTE*>(record) + offset);
}

// The nine name fields lie back to back in every record of 400 to 402.
constexpr size_t kStringBytes = 9 * kInfoStringChars * sizeof(WCHAR);
static_assert(offsetof(KVPrinterInfo400, szLocation) + kInfoStringChars * sizeof(WCHAR) ==
              offsetof(KVPrinterInfo400, szNativePrinterName) + kStringBytes);
static_assert(offsetof(KVPrinterInfo401, szLocation) + kInfoStringChars * sizeof(WCHAR) ==
              offsetof(KVPrinterInfo401, szNativePrinterName) + kStringBytes);

// One conversion: the newer record with the older one's names, Status,
// DEVMODE area and capability record; for a 401 source the other spooler
// values too. The capability record's length is its own dwSize.
template <class To, class From>
To* Convert(const From* from, DWORD version, const WCHAR* name) {
    TraceLogWrite(LibraryLog, 0, L"%s => \n", name);
    DWORD capsSize = 0;
    const caps4* caps = CapsOf(from, SIZE_MAX, &capsSize);
    if (!caps) {
        TraceLogWrite(LibraryLog, 0, L"%s => invalid param\n", name);
        return nullptr;
    }
    To* to = platform::HeapAllocZeroAs<To>(sizeof(To) + capsSize);
    if (!to) {
        TraceLogWrite(LibraryLog, 0, L"not enough memory\n");
        return nullptr;
    }
    to->dwSize = static_cast<DWORD>(sizeof(To)) + capsSize;
    to->dwRecordVersion = version;
    to->dwIsDefault = 0;
    std::memcpy(to->szNativePrinterName, from->szNativePrinterName, kStringBytes);
    if constexpr (std::is_same_v<From, KVPrinterInfo401>) {
        to->Attributes = from->Attributes;
        to->Priority = from->Priority;
        to->DefaultPriority = from->DefaultPriority;
        to->StartTime = from->StartTime;
        to->UntilTime = from->UntilTime;
    }
    to->Status = from->Status;
    to->dwSizeOfCaps = capsSize;
    to->dwOffsetToCaps = sizeof(To);
    TraceLogWrite(LibraryLog, 0, L"%s => adding caps to info\n", name);
    std::memcpy(reinterpret_cast<BYTE*>(to) + sizeof(To), caps, capsSize);
    to->DevMode = from->DevMode;
    TraceLogWrite(LibraryLog, 0, L"%s => returning\n", name);
    return to;
}

}  // namespace

const caps4* vlibPRINT_KVPICaps(const KVPrinterInfo400* record, size_t available, DWORD* capsSize) {
    return CapsOf(record, available, capsSize);
}
const caps4* vlibPRINT_KVPICaps(const KVPrinterInfo401* record, size_t available, DWORD* capsSize) {
    return CapsOf(record, available, capsSize);
}
const caps4* vlibPRINT_KVPICaps(const KVPrinterInfo402* record, size_t available, DWORD* capsSize) {
    return CapsOf(record, available, capsSize);
}


BOOL vlibPRINT_CheckKVPI4(const KVPrinterInfo401* record, WCHAR* why, size_t whyChars) {
    if (!record) {
        vlibPRINT_SayWhy(why, whyChars, L"no record");
        return FALSE;
    }
    const DWORD size = DwordAt(record, offsetof(KVPrinterInfo401, dwSize));
    if (size < offsetof(KVPrinterInfo401, dwIsDefault)) {
        vlibPRINT_SayWhy(why, whyChars, L"its dwSize (%u) cannot hold a record version", size);
        return FALSE;
    }
    const DWORD version = DwordAt(record, offsetof(KVPrinterInfo401, dwRecordVersion));
    if (version != kKVPrinterInfo401Version && version != kKVPrinterInfo402Version) {
        vlibPRINT_SayWhy(why, whyChars, L"its version is %u, not 401 or 402", version);
        return FALSE;
    }
    const DWORD header = version == kKVPrinterInfo401Version ? sizeof(KVPrinterInfo401) : sizeof(KVPrinterInfo402);
    if (size < header) {
        vlibPRINT_SayWhy(why, whyChars, L"its dwSize (%u) is shorter than the %u-byte header of a %u record", size, header, version);
        return FALSE;
    }
    const DWORD offset = record->dwOffsetToCaps, capsSize = record->dwSizeOfCaps;
    if (offset < header || offset > size || capsSize != size - offset) {
        vlibPRINT_SayWhy(why, whyChars,
            L"its capability record (%u bytes at %u) does not lie behind the header and end the record (%u bytes)",
            capsSize, offset, size);
        return FALSE;
    }
    WCHAR reason[200] = {};
    if (!vlibPRINT_CheckCaps4(reinterpret_cast<const BYTE*>(record) + offset, capsSize, reason, 200)) {
        vlibPRINT_SayWhy(why, whyChars, L"its capability record is not sound: %s", reason);
        return FALSE;
    }
    vlibPRINT_SayWhy(why, whyChars, L"ok");
    return TRUE;
}

KVPrinterInfo2* vlibPRINT_GetKVPrinterInfoGeneric() {
    KVPrinterInfo2* record = platform::HeapAllocZeroAs<KVPrinterInfo2>(sizeof(KVPrinterInfo2));
    if (!record) return nullptr;
    record->dwSize = sizeof(KVPrinterInfo2);
    record->dwIsDefault = 1;
    return record;
}

KVPrinterInfo401* vlibPRINT_ConvertKVPI400to401(const KVPrinterInfo400* record) {
    return Convert<KVPrinterInfo401>(record, kKVPrinterInfo401Version, L"vlibPRINT_ConvertKVPI400to401");
}

KVPrinterInfo402* vlibPRINT_ConvertKVPI400to402(const KVPrinterInfo400* record) {
    return Convert<KVPrinterInfo402>(record, kKVPrinterInfo402Version, L"vlibPRINT_ConvertKVPI400to402");
}

KVPrinterInfo402* vlibPRINT_ConvertKVPI401to402(const KVPrinterInfo401* record) {
    return Convert<KVPrinterInfo402>(record, kKVPrinterInfo402Version, L"vlibPRINT_ConvertKVPI401to402");
}
