// Printer info records: the one block of bytes that describes a client
// printer completely for the server side: its names, its spooler values, a
// default DEVMODE in the private dm3 form and, at the end of the same block,
// its capability record. Three versions exist (400, 401, 402); the earlier,
// shorter KVPrinterInfo2 is still recognised by its dump. The layouts are
// exchanged with the server side and fixed to the byte (little-endian).
//
// Every record is one zero-filled process-heap block; whoever receives one
// owns it and frees it with platform::HeapFreeBlock.
#pragma once

#include <cstddef>

#include "platform/platform.h"
#include "print/private_devmode.h"
#include "records/caps4.h"

// Width of the name fields, in UTF-16 units with the terminator: a longer
// name, comment or location is cut to 259 characters.
inline constexpr size_t kInfoStringChars = 260;
// The earlier record's comment and location.
inline constexpr size_t kInfo2ShortStringChars = 256;

inline constexpr DWORD kKVPrinterInfo401Version = 401;
inline constexpr DWORD kKVPrinterInfo402Version = 402;

#pragma pack(push, 1)

// The nine name fields of records 400 to 402, in this order.
#define KV_INFO_STRINGS                          \
    WCHAR szNativePrinterName[kInfoStringChars]; \
    WCHAR szKVPrinterName[kInfoStringChars];     \
    WCHAR szServerName[kInfoStringChars];        \
    WCHAR szPrinterName[kInfoStringChars];       \
    WCHAR szShareName[kInfoStringChars];         \
    WCHAR szPortName[kInfoStringChars];          \
    WCHAR szDriverName[kInfoStringChars];        \
    WCHAR szComment[kInfoStringChars];           \
    WCHAR szLocation[kInfoStringChars];

// Records 401 and 402 up to the capability record's place.
#define KV_INFO_401_FIELDS \
    DWORD dwSize;          \
    DWORD dwRecordVersion; \
    DWORD dwIsDefault;     \
    KV_INFO_STRINGS        \
    DWORD Attributes;      \
    DWORD Priority;        \
    DWORD DefaultPriority; \
    DWORD StartTime;       \
    DWORD UntilTime;       \
    DWORD Status;          \
    PRIVATE_DEVMODEW DevMode; \
    DWORD dwOffsetToCaps;  \
    DWORD dwSizeOfCaps;

// The capability record follows each header at dwOffsetToCaps (the header's size).
struct KVPrinterInfo400 {
    DWORD dwSize;      // header plus the capability record
    DWORD dwReserved;  // not written by this program (0)
    KV_INFO_STRINGS
    DWORD Status;
    PRIVATE_DEVMODEW DevMode;
    DWORD dwOffsetToCaps;
    DWORD dwSizeOfCaps;
};

struct KVPrinterInfo401 {
    KV_INFO_401_FIELDS
};

struct KVPrinterInfo402 {
    KV_INFO_401_FIELDS
    // The printer's local print options.
    DWORD bSecondDialog;
    DWORD bPrintAsImage;
    DWORD dwPrintAsImageDPI;
    DWORD dwFontEmbed;
};

// The earlier record; its capability record is the earlier caps2.
struct KVPrinterInfo2 {
    DWORD dwSize;
    DWORD dwIsDefault;
    WCHAR szServerName[kInfoStringChars];
    WCHAR szPrinterName[kInfoStringChars];
    WCHAR szComment[kInfo2ShortStringChars];
    WCHAR szLocation[kInfo2ShortStringChars];
    WCHAR szNativePrinterName[kInfoStringChars];
    DWORD Status;
    PRIVATE_DEVMODE2W DevMode;
    DWORD dwOffsetToCaps;
    DWORD dwReserved;  // not read by this program
};

#pragma pack(pop)

#undef KV_INFO_401_FIELDS
#undef KV_INFO_STRINGS

#define KV_PIN(type, field, offset) static_assert(offsetof(type, field) == (offset), #type "::" #field)

static_assert(sizeof(KVPrinterInfo400) == 8608);
KV_PIN(KVPrinterInfo400, dwSize, 0);
KV_PIN(KVPrinterInfo400, dwReserved, 4);
KV_PIN(KVPrinterInfo400, szNativePrinterName, 8);
KV_PIN(KVPrinterInfo400, szKVPrinterName, 528);
KV_PIN(KVPrinterInfo400, szServerName, 1048);
KV_PIN(KVPrinterInfo400, szPrinterName, 1568);
KV_PIN(KVPrinterInfo400, szShareName, 2088);
KV_PIN(KVPrinterInfo400, szPortName, 2608);
KV_PIN(KVPrinterInfo400, szDriverName, 3128);
KV_PIN(KVPrinterInfo400, szComment, 3648);
KV_PIN(KVPrinterInfo400, szLocation, 4168);
KV_PIN(KVPrinterInfo400, Status, 4688);
KV_PIN(KVPrinterInfo400, DevMode, 4692);
KV_PIN(KVPrinterInfo400, dwOffsetToCaps, 8600);
KV_PIN(KVPrinterInfo400, dwSizeOfCaps, 8604);

static_assert(sizeof(KVPrinterInfo401) == 8632);
KV_PIN(KVPrinterInfo401, dwSize, 0);
KV_PIN(KVPrinterInfo401, dwRecordVersion, 4);
KV_PIN(KVPrinterInfo401, dwIsDefault, 8);
KV_PIN(KVPrinterInfo401, szNativePrinterName, 12);
KV_PIN(KVPrinterInfo401, szKVPrinterName, 532);
KV_PIN(KVPrinterInfo401, szServerName, 1052);
KV_PIN(KVPrinterInfo401, szPrinterName, 1572);
KV_PIN(KVPrinterInfo401, szShareName, 2092);
KV_PIN(KVPrinterInfo401, szPortName, 2612);
KV_PIN(KVPrinterInfo401, szDriverName, 3132);
KV_PIN(KVPrinterInfo401, szComment, 3652);
KV_PIN(KVPrinterInfo401, szLocation, 4172);
KV_PIN(KVPrinterInfo401, Attributes, 4692);
KV_PIN(KVPrinterInfo401, Priority, 4696);
KV_PIN(KVPrinterInfo401, DefaultPriority, 4700);
KV_PIN(KVPrinterInfo401, StartTime, 4704);
KV_PIN(KVPrinterInfo401, UntilTime, 4708);
KV_PIN(KVPrinterInfo401, Status, 4712);
KV_PIN(KVPrinterInfo401, DevMode, 4716);
KV_PIN(KVPrinterInfo401, dwOffsetToCaps, 8624);
KV_PIN(KVPrinterInfo401, dwSizeOfCaps, 8628);

// 402 is the 401 layout followed by the four local print options.
static_assert(sizeof(KVPrinterInfo402) == 8648);
KV_PIN(KVPrinterInfo402, dwRecordVersion, 4);
KV_PIN(KVPrinterInfo402, szPrinterName, 1572);
KV_PIN(KVPrinterInfo402, Status, 4712);
KV_PIN(KVPrinterInfo402, DevMode, 4716);
KV_PIN(KVPrinterInfo402, dwOffsetToCaps, 8624);
KV_PIN(KVPrinterInfo402, dwSizeOfCaps, 8628);
KV_PIN(KVPrinterInfo402, bSecondDialog, 8632);
KV_PIN(KVPrinterInfo402, bPrintAsImage, 8636);
KV_PIN(KVPrinterInfo402, dwPrintAsImageDPI, 8640);
KV_PIN(KVPrinterInfo402, dwFontEmbed, 8644);

static_assert(sizeof(KVPrinterInfo2) == 6512);
KV_PIN(KVPrinterInfo2, dwIsDefault, 4);
KV_PIN(KVPrinterInfo2, szServerName, 8);
KV_PIN(KVPrinterInfo2, szPrinterName, 528);
KV_PIN(KVPrinterInfo2, szComment, 1048);
KV_PIN(KVPrinterInfo2, szLocation, 1560);
KV_PIN(KVPrinterInfo2, szNativePrinterName, 2072);
KV_PIN(KVPrinterInfo2, Status, 2592);
KV_PIN(KVPrinterInfo2, DevMode, 2596);
KV_PIN(KVPrinterInfo2, dwOffsetToCaps, 6504);
KV_PIN(KVPrinterInfo2, dwReserved, 6508);

#undef KV_PIN

// A new empty earlier record: dwSize 6512, dwIsDefault 1, nothing else set
// (no capability record).
KVPrinterInfo2* vlibPRINT_GetKVPrinterInfoGeneric();

// New records of the newer version built from an older one, which is neither
// changed nor freed: names, Status (and for 401 to 402 the other spooler
// values), DEVMODE area and capability record carried over, dwIsDefault and
// the local print options 0. Null for a null record, one whose capability
// record does not lie inside its dwSize bytes, or when memory runs out.
KVPrinterInfo401* vlibPRINT_ConvertKVPI400to401(const KVPrinterInfo400* record);
KVPrinterInfo402* vlibPRINT_ConvertKVPI400to402(const KVPrinterInfo400* record);
KVPrinterInfo402* vlibPRINT_ConvertKVPI401to402(const KVPrinterInfo401* record);

// The capability record a record carries at dwOffsetToCaps, with its own
// dwSize in *capsSize, when it lies behind the header and inside both the
// record's dwSize bytes and the `available` bytes the caller holds, and its
// dwSize covers at least that field itself; else null.
const caps4* vlibPRINT_KVPICaps(const KVPrinterInfo400* record, size_t available, DWORD* capsSize);
const caps4* vlibPRINT_KVPICaps(const KVPrinterInfo401* record, size_t available, DWORD* capsSize);
const caps4* vlibPRINT_KVPICaps(const KVPrinterInfo402* record, size_t available, DWORD* capsSize);

// Whether a 401 or 402 record whose length only its dwSize tells (a caller's
// block) is one whole record: dwSize holds at least the header of the version
// dwRecordVersion names (401 or 402), the capability record lies behind the
// header and ends the record (so that the record's length is that of a
// capability record that was checked), and that record is sound
// (vlibPRINT_CheckCaps4). Reads the record's first 8 bytes, then nothing
// beyond the header and the capability record's header inside dwSize.
// Otherwise FALSE, with the reason (a sentence without line end) in `why`
// when given.
BOOL vlibPRINT_CheckKVPI4(const KVPrinterInfo401* record, WCHAR* why, size_t whyChars);
