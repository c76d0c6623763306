// The private DEVMODE: a public DEVMODE whose driver-private block carries the
// settings of the remote-printing components, and the smaller Tess DEVMODE.
// Both layouts are exchanged with the server side and are fixed byte for byte
// (little-endian). Also the trace dumps of both and of spooler job information.
#pragma once

#include <cstddef>

#include "log/trace_log.h"
#include "platform/platform.h"

// Width of every private string slot, in characters of the record's width.
inline constexpr size_t kPrivateDMStringChars = 260;

// dwSignatureStart and dwSignatureEnd hold the same value, one of these.
inline constexpr DWORD kPrivateDM4Signature = 0x7634444D;  // "MD4v" in memory
inline constexpr DWORD kPrivateDM3Signature = 0x7633444D;  // "MD3v" in memory

// dwPrivateFields: a set bit says the field holds a value. Bits 16 to 31 are unused.
inline constexpr DWORD PDM_FLAGS = 0x1;
inline constexpr DWORD PDM_SESSIONID = 0x2;
inline constexpr DWORD PDM_SPOOLTYPE = 0x4;
inline constexpr DWORD PDM_EXPORTMETHOD = 0x8;
inline constexpr DWORD PDM_EXPORTTYPE = 0x10;
inline constexpr DWORD PDM_SAVEMODESERVER = 0x20;
inline constexpr DWORD PDM_SAVEMODECLIENT = 0x40;
inline constexpr DWORD PDM_IFEXISTSSERVER = 0x80;
inline constexpr DWORD PDM_IFEXISTSCLIENT = 0x100;
inline constexpr DWORD PDM_SERVERCOMMANDLINE = 0x200;
inline constexpr DWORD PDM_SERVERARGS = 0x400;
inline constexpr DWORD PDM_CLIENTCOMMANDLINE = 0x800;
inline constexpr DWORD PDM_NATIVEPRINTERNAME = 0x1000;
inline constexpr DWORD PDM_PRINTERNAME = PDM_NATIVEPRINTERNAME;  // name of bit 12 in the earlier form
inline constexpr DWORD PDM_SERVERDESTINATION = 0x2000;
inline constexpr DWORD PDM_CLIENTDESTINATION = 0x4000;
inline constexpr DWORD PDM_CLIENTARGS = 0x8000;  // dm3 form only

// The private DEVMODE in one width: DM is the public DEVMODE of that width,
// Ch the character of the seven string slots (UTF-16 wide, ANSI code page
// narrow). Form tells the two generations of field naming apart, so that each
// has its own dump (LogDM is chosen by the record's type).
template <class DM, class Ch, class Form>
struct PrivateDevmode {
    DM dm;
    DWORD dwSignatureStart;
    DWORD dwPrivateFields;
    DWORD dwFlags;
    DWORD dwSessionID;
    DWORD dwSpoolType;
    DWORD dwExportMethod;
    DWORD dwExportType;
    DWORD dwSaveModeServer;
    DWORD dwSaveModeClient;
    DWORD dwIfExistsServer;
    DWORD dwIfExistsClient;
    Ch szServerCommandLine[kPrivateDMStringChars];
    Ch szServerArgs[kPrivateDMStringChars];
    Ch szClientCommandLine[kPrivateDMStringChars];
    Ch szClientArgs[kPrivateDMStringChars];  // dm3 form only; means nothing in the earlier form
    union {
        Ch szNativePrinterName[kPrivateDMStringChars];  // dm3 form
        Ch szPrinterName[kPrivateDMStringChars];        // the same slot in the earlier form
    };
    Ch szServerDestination[kPrivateDMStringChars];
    Ch szClientDestination[kPrivateDMStringChars];
    DWORD dwSignatureEnd;
};

struct PrivateDevmodeDm3Form;      // printer info records 400 to 402, job DEVMODEs
struct PrivateDevmodeEarlierForm;  // the earlier printer info record

// dmSize 220 + dmDriverExtra 3688.
using PRIVATE_DEVMODEW = PrivateDevmode<DEVMODEW, WCHAR, PrivateDevmodeDm3Form>;
// dmSize 156 + dmDriverExtra 1868 when built natively; one converted from a
// wide record keeps the wide sizes (220 + 3688).
using PRIVATE_DEVMODEA = PrivateDevmode<DEVMODEA, CHAR, PrivateDevmodeDm3Form>;
using PRIVATE_DEVMODE2W = PrivateDevmode<DEVMODEW, WCHAR, PrivateDevmodeEarlierForm>;
using PRIVATE_DEVMODE2A = PrivateDevmode<DEVMODEA, CHAR, PrivateDevmodeEarlierForm>;

// The Tess DEVMODE: public DEVMODE, session, printer name, spool type, print method.
template <class DM, class Ch>
struct TessDevmode {
    DM dm;
    DWORD dwSessionID;
    Ch szPrinterName[kPrivateDMStringChars];
    DWORD dwSpoolType;
    DWORD dwPrintMethod;
};
using TESS_DEVMODEW = TessDevmode<DEVMODEW, WCHAR>;
using TESS_DEVMODEA = TessDevmode<DEVMODEA, CHAR>;

#define KV_PIN(type, field, offset) static_assert(offsetof(type, field) == (offset), #type "::" #field)

static_assert(sizeof(PRIVATE_DEVMODEW) == 3908);
KV_PIN(PRIVATE_DEVMODEW, dm, 0);
KV_PIN(PRIVATE_DEVMODEW, dwSignatureStart, 220);
KV_PIN(PRIVATE_DEVMODEW, dwPrivateFields, 224);
KV_PIN(PRIVATE_DEVMODEW, dwFlags, 228);
KV_PIN(PRIVATE_DEVMODEW, dwSessionID, 232);
KV_PIN(PRIVATE_DEVMODEW, dwSpoolType, 236);
KV_PIN(PRIVATE_DEVMODEW, dwExportMethod, 240);
KV_PIN(PRIVATE_DEVMODEW, dwExportType, 244);
KV_PIN(PRIVATE_DEVMODEW, dwSaveModeServer, 248);
KV_PIN(PRIVATE_DEVMODEW, dwSaveModeClient, 252);
KV_PIN(PRIVATE_DEVMODEW, dwIfExistsServer, 256);
KV_PIN(PRIVATE_DEVMODEW, dwIfExistsClient, 260);
KV_PIN(PRIVATE_DEVMODEW, szServerCommandLine, 264);
KV_PIN(PRIVATE_DEVMODEW, szServerArgs, 784);
KV_PIN(PRIVATE_DEVMODEW, szClientCommandLine, 1304);
KV_PIN(PRIVATE_DEVMODEW, szClientArgs, 1824);
KV_PIN(PRIVATE_DEVMODEW, szNativePrinterName, 2344);
KV_PIN(PRIVATE_DEVMODEW, szServerDestination, 2864);
KV_PIN(PRIVATE_DEVMODEW, szClientDestination, 3384);
KV_PIN(PRIVATE_DEVMODEW, dwSignatureEnd, 3904);

static_assert(sizeof(PRIVATE_DEVMODEA) == 2024);
KV_PIN(PRIVATE_DEVMODEA, dm, 0);
KV_PIN(PRIVATE_DEVMODEA, dwSignatureStart, 156);
KV_PIN(PRIVATE_DEVMODEA, dwPrivateFields, 160);
KV_PIN(PRIVATE_DEVMODEA, dwFlags, 164);
KV_PIN(PRIVATE_DEVMODEA, dwSessionID, 168);
KV_PIN(PRIVATE_DEVMODEA, dwSpoolType, 172);
KV_PIN(PRIVATE_DEVMODEA, dwExportMethod, 176);
KV_PIN(PRIVATE_DEVMODEA, dwExportType, 180);
KV_PIN(PRIVATE_DEVMODEA, dwSaveModeServer, 184);
KV_PIN(PRIVATE_DEVMODEA, dwSaveModeClient, 188);
KV_PIN(PRIVATE_DEVMODEA, dwIfExistsServer, 192);
KV_PIN(PRIVATE_DEVMODEA, dwIfExistsClient, 196);
KV_PIN(PRIVATE_DEVMODEA, szServerCommandLine, 200);
KV_PIN(PRIVATE_DEVMODEA, szServerArgs, 460);
KV_PIN(PRIVATE_DEVMODEA, szClientCommandLine, 720);
KV_PIN(PRIVATE_DEVMODEA, szClientArgs, 980);
KV_PIN(PRIVATE_DEVMODEA, szNativePrinterName, 1240);
KV_PIN(PRIVATE_DEVMODEA, szServerDestination, 1500);
KV_PIN(PRIVATE_DEVMODEA, szClientDestination, 1760);
KV_PIN(PRIVATE_DEVMODEA, dwSignatureEnd, 2020);

// The earlier form is the same layout under its own type.
static_assert(sizeof(PRIVATE_DEVMODE2W) == 3908 && sizeof(PRIVATE_DEVMODE2A) == 2024);
KV_PIN(PRIVATE_DEVMODE2W, szPrinterName, 2344);
KV_PIN(PRIVATE_DEVMODE2A, szPrinterName, 1240);

static_assert(sizeof(TESS_DEVMODEW) == 752);
KV_PIN(TESS_DEVMODEW, dm, 0);
KV_PIN(TESS_DEVMODEW, dwSessionID, 220);
KV_PIN(TESS_DEVMODEW, szPrinterName, 224);
KV_PIN(TESS_DEVMODEW, dwSpoolType, 744);
KV_PIN(TESS_DEVMODEW, dwPrintMethod, 748);
static_assert(sizeof(TESS_DEVMODEA) == 428);
KV_PIN(TESS_DEVMODEA, dm, 0);
KV_PIN(TESS_DEVMODEA, dwSessionID, 156);
KV_PIN(TESS_DEVMODEA, szPrinterName, 160);
KV_PIN(TESS_DEVMODEA, dwSpoolType, 420);
KV_PIN(TESS_DEVMODEA, dwPrintMethod, 424);

#undef KV_PIN

// Signature tests: TRUE when both signature words hold the version's value.
// Only the two words are read; a null record gives FALSE.
BOOL IsPrivateDM4W(const PRIVATE_DEVMODEW* pdm);
BOOL IsPrivateDM4A(const PRIVATE_DEVMODEA* pdm);
BOOL IsPrivateDM3W(const PRIVATE_DEVMODEW* pdm);
BOOL IsPrivateDM3A(const PRIVATE_DEVMODEA* pdm);

// Dumps of the private DEVMODE: the dm3 form and the earlier form, each in
// both widths. The private block is printed only when dmSize + dmDriverExtra
// says the record holds it.
void LogDM(const PRIVATE_DEVMODEW* pdm, TraceLog* log);
void LogDM(const PRIVATE_DEVMODEA* pdm, TraceLog* log);
void LogDM(const PRIVATE_DEVMODE2W* pdm, TraceLog* log);
void LogDM(const PRIVATE_DEVMODE2A* pdm, TraceLog* log);

void LogTessDM(const TESS_DEVMODEW* pdm, TraceLog* log);
void LogTessDM(const TESS_DEVMODEA* pdm, TraceLog* log);

// Spooler job information; writes only for level 2. The job's DEVMODE is
// printed as a dm3 private DEVMODE.
void vlibPRINT_LogJobInfo(TraceLog* log, DWORD level, const JOB_INFO_2W* pJob);
