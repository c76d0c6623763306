// The private and the Tess DEVMODE field by field, in memory order, for the
// format reference. Offsets and sizes come from the structures themselves,
// whose every field private_devmode.h pins to its byte.
#pragma once

#include <cstddef>

#include "print/private_devmode.h"

enum DevmodeFieldKind {
    kDevmodePublic,  // the public DEVMODEW / DEVMODEA
    kDevmodeDword,   // little-endian 32-bit value
    kDevmodeWide,    // UTF-16 slot
    kDevmodeNarrow,  // slot of bytes in the ANSI code page
};

struct DevmodeField {
    const WCHAR* name;
    DWORD offset;
    DWORD size;
    DevmodeFieldKind kind;
};

#define KV_DM(type, field, kind) DevmodeField{L"" #field, offsetof(type, field), sizeof(type::field), kind}
#define KV_PRIVATE_DM(type, text, slot)                                                                            \
    {KV_DM(type, dm, kDevmodePublic),           KV_DM(type, dwSignatureStart, kDevmodeDword),                      \
     KV_DM(type, dwPrivateFields, kDevmodeDword), KV_DM(type, dwFlags, kDevmodeDword),                             \
     KV_DM(type, dwSessionID, kDevmodeDword),   KV_DM(type, dwSpoolType, kDevmodeDword),                           \
     KV_DM(type, dwExportMethod, kDevmodeDword), KV_DM(type, dwExportType, kDevmodeDword),                         \
     KV_DM(type, dwSaveModeServer, kDevmodeDword), KV_DM(type, dwSaveModeClient, kDevmodeDword),                   \
     KV_DM(type, dwIfExistsServer, kDevmodeDword), KV_DM(type, dwIfExistsClient, kDevmodeDword),                   \
     KV_DM(type, szServerCommandLine, text),    KV_DM(type, szServerArgs, text),                                   \
     KV_DM(type, szClientCommandLine, text),    KV_DM(type, szClientArgs, text),                                   \
     KV_DM(type, slot, text),                   KV_DM(type, szServerDestination, text),                            \
     KV_DM(type, szClientDestination, text),    KV_DM(type, dwSignatureEnd, kDevmodeDword)}
#define KV_TESS_DM(type, text)                                                                                    \
    {KV_DM(type, dm, kDevmodePublic), KV_DM(type, dwSessionID, kDevmodeDword), KV_DM(type, szPrinterName, text), \
     KV_DM(type, dwSpoolType, kDevmodeDword), KV_DM(type, dwPrintMethod, kDevmodeDword)}

inline constexpr DevmodeField kPrivateDMWFields[] = KV_PRIVATE_DM(PRIVATE_DEVMODEW, kDevmodeWide, szNativePrinterName);
inline constexpr DevmodeField kPrivateDMAFields[] = KV_PRIVATE_DM(PRIVATE_DEVMODEA, kDevmodeNarrow, szNativePrinterName);
inline constexpr DevmodeField kPrivateDM2WFields[] = KV_PRIVATE_DM(PRIVATE_DEVMODE2W, kDevmodeWide, szPrinterName);
inline constexpr DevmodeField kTessDMWFields[] = KV_TESS_DM(TESS_DEVMODEW, kDevmodeWide);
inline constexpr DevmodeField kTessDMAFields[] = KV_TESS_DM(TESS_DEVMODEA, kDevmodeNarrow);

#undef KV_TESS_DM
#undef KV_PRIVATE_DM
#undef KV_DM

template <size_t N>
constexpr bool DevmodeFieldsCover(const DevmodeField (&fields)[N], size_t whole) {
    size_t next = 0;
    for (const DevmodeField& f : fields) {
        if (f.offset != next) return false;
        next += f.size;
    }
    return next == whole;
}
static_assert(DevmodeFieldsCover(kPrivateDMWFields, sizeof(PRIVATE_DEVMODEW)));
static_assert(DevmodeFieldsCover(kPrivateDMAFields, sizeof(PRIVATE_DEVMODEA)));
static_assert(DevmodeFieldsCover(kPrivateDM2WFields, sizeof(PRIVATE_DEVMODE2W)));
static_assert(DevmodeFieldsCover(kTessDMWFields, sizeof(TESS_DEVMODEW)));
static_assert(DevmodeFieldsCover(kTessDMAFields, sizeof(TESS_DEVMODEA)));
