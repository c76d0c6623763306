#include "print/private_devmode.h"

#include <type_traits>

#include "print/dump_text.h"
#include "print/struct_dumps.h"

namespace {

using dumptext::AddressOf;
using dumptext::Bit;
using dumptext::SlotText;

template <class Record>
BOOL HasSignature(const Record* pdm, DWORD signature) {
    if (!pdm) return FALSE;
    return pdm->dwSignatureStart == signature && pdm->dwSignatureEnd == signature;
}

// What tells the four private DEVMODE dumps apart: the size line, the size
// test and the naming of the fourth and fifth string slots.
template <class Record>
struct DumpForm;

template <>
struct DumpForm<PRIVATE_DEVMODEW> {
    static constexpr bool kDm3 = true;
    static constexpr const WCHAR* kSizeLine = L"LogDM => sizeof(dm3) = %d\n";
    static bool HoldsPrivateBlock(DWORD total) { return total == sizeof(PRIVATE_DEVMODEW); }
    static constexpr dumptext::LineFormat kClientArgs = KV_DUMP_LINE("LogDM => szClientArgs:\t       (%d) %s\n");
};

template <>
struct DumpForm<PRIVATE_DEVMODEA> {
    static constexpr bool kDm3 = true;
    static constexpr const WCHAR* kSizeLine = L"LogDM => sizeof(dm3) = %d\n";
    // Narrow dm3 records are the converter's output, which keeps the wide
    // sizes; a natively built narrow record (156 + 1868) does not qualify.
    static bool HoldsPrivateBlock(DWORD total) { return total == sizeof(PRIVATE_DEVMODEW); }
    static constexpr dumptext::LineFormat kClientArgs = KV_DUMP_LINE("LogDM => szClientArgs:\t      (%d) %s\n");
};

template <>
struct DumpForm<PRIVATE_DEVMODE2W> {
    static constexpr bool kDm3 = false;
    static constexpr const WCHAR* kSizeLine = nullptr;  // the wide earlier dump has no size line
    static bool HoldsPrivateBlock(DWORD total) { return total == sizeof(PRIVATE_DEVMODE2W); }
};

template <>
struct DumpForm<PRIVATE_DEVMODE2A> {
    static constexpr bool kDm3 = false;
    static constexpr const WCHAR* kSizeLine = L"LogDM => sizeof(dm2) = %d\n";
    static bool HoldsPrivateBlock(DWORD total) { return total >= sizeof(PRIVATE_DEVMODE2A); }
};

template <class Record>
void LogPrivateDM(const Record* pdm, TraceLog* log) {
    using Form = DumpForm<Record>;
    using Ch = std::remove_cv_t<std::remove_reference_t<decltype(pdm->szServerArgs[0])>>;
    if (!log) return;
    TraceLogWrite(log, 0, L"LogDM => --------------------------\n");
    TraceLogWrite(log, 0, L"LogDM => %X\n", AddressOf(pdm));
    if (!pdm) return;

    LogDevmode(&pdm->dm, log);
    if (Form::kSizeLine) TraceLogWrite(log, 0, Form::kSizeLine, static_cast<int>(sizeof(Record)));
    const DWORD total = static_cast<DWORD>(pdm->dm.dmSize) + pdm->dm.dmDriverExtra;
    if (!Form::HoldsPrivateBlock(total)) return;

    const DWORD bits = pdm->dwPrivateFields;
    TraceLogWrite(log, 0, L"LogDM => dwSignatureStart:  %d\n", pdm->dwSignatureStart);
    TraceLogWrite(log, 0, L"LogDM => dwPrivateFields:   %d\n", bits);
    TraceLogWrite(log, 0, L"LogDM => dwFlags:\t        (%d) %d\n", Bit(bits, PDM_FLAGS), pdm->dwFlags);
    TraceLogWrite(log, 0, L"LogDM => dwSessionID:       (%d) %d\n", Bit(bits, PDM_SESSIONID), pdm->dwSessionID);
    TraceLogWrite(log, 0, L"LogDM => dwSpoolType:       (%d) %d\n", Bit(bits, PDM_SPOOLTYPE), pdm->dwSpoolType);
    TraceLogWrite(log, 0, L"LogDM => dwExportMethod:    (%d) %d\n", Bit(bits, PDM_EXPORTMETHOD), pdm->dwExportMethod);
    TraceLogWrite(log, 0, L"LogDM => dwExportType:      (%d) %d\n", Bit(bits, PDM_EXPORTTYPE), pdm->dwExportType);
    TraceLogWrite(log, 0, L"LogDM => dwSaveModeServer:  (%d) %d\n", Bit(bits, PDM_SAVEMODESERVER),
                  pdm->dwSaveModeServer);
    TraceLogWrite(log, 0, L"LogDM => dwSaveModeClient:  (%d) %d\n", Bit(bits, PDM_SAVEMODECLIENT),
                  pdm->dwSaveModeClient);
    TraceLogWrite(log, 0, L"LogDM => dwIfExistsServer:  (%d) %d\n", Bit(bits, PDM_IFEXISTSSERVER),
                  pdm->dwIfExistsServer);
    TraceLogWrite(log, 0, L"LogDM => dwIfExistsClient:  (%d) %d\n", Bit(bits, PDM_IFEXISTSCLIENT),
                  pdm->dwIfExistsClient);
    // String values go out in the record's own width: 8-bit text unchanged
    // through the narrow-message writer.
    dumptext::WriteLine<Ch>(log, KV_DUMP_LINE("LogDM => szServerCommandLine:  (%d) %s\n"),
                            Bit(bits, PDM_SERVERCOMMANDLINE), SlotText(pdm->szServerCommandLine).get());
    dumptext::WriteLine<Ch>(log, KV_DUMP_LINE("LogDM => szServerArgs:         (%d) %s\n"), Bit(bits, PDM_SERVERARGS),
                            SlotText(pdm->szServerArgs).get());
    dumptext::WriteLine<Ch>(log, KV_DUMP_LINE("LogDM => szClientCommandLine:  (%d) %s\n"),
                            Bit(bits, PDM_CLIENTCOMMANDLINE), SlotText(pdm->szClientCommandLine).get());
    if constexpr (Form::kDm3) {
        dumptext::WriteLine<Ch>(log, Form::kClientArgs, Bit(bits, PDM_CLIENTARGS), SlotText(pdm->szClientArgs).get());
        dumptext::WriteLine<Ch>(log, KV_DUMP_LINE("LogDM => szNativePrinterName:  (%d) %s\n"),
                                Bit(bits, PDM_NATIVEPRINTERNAME), SlotText(pdm->szNativePrinterName).get());
    } else {
        dumptext::WriteLine<Ch>(log, KV_DUMP_LINE("LogDM => szPrinterName:        (%d) %s\n"),
                                Bit(bits, PDM_PRINTERNAME), SlotText(pdm->szPrinterName).get());
    }
    dumptext::WriteLine<Ch>(log, KV_DUMP_LINE("LogDM => szServerDestination:  (%d) %s\n"),
                            Bit(bits, PDM_SERVERDESTINATION), SlotText(pdm->szServerDestination).get());
    dumptext::WriteLine<Ch>(log, KV_DUMP_LINE("LogDM => szClientDestination:  (%d) %s\n"),
                            Bit(bits, PDM_CLIENTDESTINATION), SlotText(pdm->szClientDestination).get());
    TraceLogWrite(log, 0, L"LogDM => dwSignatureEnd:    %d\n", pdm->dwSignatureEnd);
    TraceLogWrite(log, 0, L"LogDM => --------------------------\n");
}

template <class Record>
void LogTess(const Record* pdm, TraceLog* log) {
    using Ch = std::remove_cv_t<std::remove_reference_t<decltype(pdm->szPrinterName[0])>>;
    if (!log) return;
    TraceLogWrite(log, 0, L"LogTessDM => --------------------------\n");
    TraceLogWrite(log, 0, L"LogTessDM => %X\n", AddressOf(pdm));
    if (!pdm) return;

    LogDevmode(&pdm->dm, log);
    const DWORD total = static_cast<DWORD>(pdm->dm.dmSize) + pdm->dm.dmDriverExtra;
    if (total < sizeof(Record)) return;
    TraceLogWrite(log, 0, L"LogTessDM => dwSessionID:       %d\n", pdm->dwSessionID);
    dumptext::WriteLine<Ch>(log, KV_DUMP_LINE("LogTessDM => szPrinterName:     %s\n"),
                            SlotText(pdm->szPrinterName).get());
    TraceLogWrite(log, 0, L"LogTessDM => dwSpoolType:       %d\n", pdm->dwSpoolType);
    TraceLogWrite(log, 0, L"LogTessDM => dwPrintMethod:     %d\n", pdm->dwPrintMethod);
    TraceLogWrite(log, 0, L"LogTessDM => --------------------------\n");
}

}  // namespace

BOOL IsPrivateDM4W(const PRIVATE_DEVMODEW* pdm) { return HasSignature(pdm, kPrivateDM4Signature); }
BOOL IsPrivateDM4A(const PRIVATE_DEVMODEA* pdm) { return HasSignature(pdm, kPrivateDM4Signature); }
BOOL IsPrivateDM3W(const PRIVATE_DEVMODEW* pdm) { return HasSignature(pdm, kPrivateDM3Signature); }
BOOL IsPrivateDM3A(const PRIVATE_DEVMODEA* pdm) { return HasSignature(pdm, kPrivateDM3Signature); }

void LogDM(const PRIVATE_DEVMODEW* pdm, TraceLog* log) { LogPrivateDM(pdm, log); }
void LogDM(const PRIVATE_DEVMODEA* pdm, TraceLog* log) { LogPrivateDM(pdm, log); }
void LogDM(const PRIVATE_DEVMODE2W* pdm, TraceLog* log) { LogPrivateDM(pdm, log); }
void LogDM(const PRIVATE_DEVMODE2A* pdm, TraceLog* log) { LogPrivateDM(pdm, log); }

void LogTessDM(const TESS_DEVMODEW* pdm, TraceLog* log) { LogTess(pdm, log); }
void LogTessDM(const TESS_DEVMODEA* pdm, TraceLog* log) { LogTess(pdm, log); }

void vlibPRINT_LogJobInfo(TraceLog* log, DWORD level, const JOB_INFO_2W* pJob) {
    if (!log || level != 2 || !pJob) return;
    static const WCHAR kBanner[] = L"%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%";  // 39 percent signs
    static_assert(sizeof(kBanner) / sizeof(kBanner[0]) == 40);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => %s\n", kBanner);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => %X\n", AddressOf(pJob));
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => JobId:  %d\r\n", pJob->JobId);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => pPrinterName:  %s\r\n", pJob->pPrinterName);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => pMachineName:  %s\r\n", pJob->pMachineName);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => pUserName:  %s\r\n", pJob->pUserName);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => pDocument:  %s\r\n", pJob->pDocument);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => pNotifyName:  %s\r\n", pJob->pNotifyName);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => pDatatype:  %s\r\n", pJob->pDatatype);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => pPrintProcessor:  %s\r\n", pJob->pPrintProcessor);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => pParameters:  %s\r\n", pJob->pParameters);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => pDriverName:  %s\r\n", pJob->pDriverName);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => pStatus:  %s\r\n", pJob->pStatus);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => Status:  %d\r\n", pJob->Status);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => Priority:  %d\r\n", pJob->Priority);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => Position:  %d\r\n", pJob->Position);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => StartTime:  %d\r\n", pJob->StartTime);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => UntilTime:  %d\r\n", pJob->UntilTime);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => TotalPages:  %d\r\n", pJob->TotalPages);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => Size:  %d\r\n", pJob->Size);
    const SYSTEMTIME& at = pJob->Submitted;
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => Submitted:  %d.%d.%d (%d) @ %d:%d:%d.%d\r\n", at.wYear, at.wMonth,
                  at.wDay, at.wDayOfWeek, at.wHour, at.wMinute, at.wSecond, at.wMilliseconds);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => Time:  %d\r\n", pJob->Time);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => PagesPrinted:  %d\r\n", pJob->PagesPrinted);
    // A job DEVMODE is read as a dm3 private DEVMODE; its size fields decide
    // whether the private block is read at all.
    LogDM(reinterpret_cast<const PRIVATE_DEVMODEW*>(pJob->pDevMode), log);
    TraceLogWrite(log, 0, L"vlibPRINT_LogJobInfo => %s\n", kBanner);
}
