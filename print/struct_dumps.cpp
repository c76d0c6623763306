#include "print/struct_dumps.h"

#include <cstddef>
#include <type_traits>

#include "print/dump_text.h"

// The optional tails of a DEVMODE: the ICM .. reserved fields and the panning
// fields exist only when dmSize reaches past these offsets.
static_assert(offsetof(DEVMODEW, dmICMMethod) == 188);
static_assert(offsetof(DEVMODEW, dmPanningWidth) == 212);
static_assert(offsetof(DEVMODEA, dmICMMethod) == 124);
static_assert(offsetof(DEVMODEA, dmPanningWidth) == 148);
static_assert(sizeof(DEVMODEW) == 220 && sizeof(DEVMODEA) == 156);

namespace {

using dumptext::AddressOf;
using dumptext::Bit;

template <class DM>
void LogDevmodeOf(const DM* dm, TraceLog* log) {
    using Ch = std::remove_cv_t<std::remove_reference_t<decltype(dm->dmDeviceName[0])>>;
    if (!log) return;
    TraceLogWrite(log, 0, L"LogDevmode => --------------------------\n");
    TraceLogWrite(log, 0, L"LogDevmode => %X\n", AddressOf(dm));
    if (!dm) return;

    const DWORD f = dm->dmFields;
    TraceLogWrite(log, 0, L"LogDevmode => --------------------------\n");
    dumptext::WriteLine<Ch>(log, KV_DUMP_LINE("LogDevmode => dmDeviceName:    %s\n"),
                            dumptext::SlotText(dm->dmDeviceName).get());
    // Versions, sizes and dmLogPixels are unsigned 16-bit values; the other
    // 16-bit fields are signed.
    TraceLogWrite(log, 0, L"LogDevmode => dmDriverVersion: %d\n", static_cast<unsigned>(dm->dmDriverVersion));
    TraceLogWrite(log, 0, L"LogDevmode => dmSize:          %d\n", static_cast<unsigned>(dm->dmSize));
    TraceLogWrite(log, 0, L"LogDevmode => dmDriverExtra:   %d\n", static_cast<unsigned>(dm->dmDriverExtra));
    TraceLogWrite(log, 0, L"LogDevmode => dmFields:        %d\n", f);
    TraceLogWrite(log, 0, L"LogDevmode => dmOrientation:   (%d) %d\n", Bit(f, DM_ORIENTATION), int{dm->dmOrientation});
    TraceLogWrite(log, 0, L"LogDevmode => dmPaperSize:     (%d) %d\n", Bit(f, DM_PAPERSIZE), int{dm->dmPaperSize});
    TraceLogWrite(log, 0, L"LogDevmode => dmPaperLength:   (%d) %d\n", Bit(f, DM_PAPERLENGTH), int{dm->dmPaperLength});
    TraceLogWrite(log, 0, L"LogDevmode => dmPaperWidth:    (%d) %d\n", Bit(f, DM_PAPERWIDTH), int{dm->dmPaperWidth});
    TraceLogWrite(log, 0, L"LogDevmode => dmScale:         (%d) %d\n", Bit(f, DM_SCALE), int{dm->dmScale});
    TraceLogWrite(log, 0, L"LogDevmode => dmCopies:        (%d) %d\n", Bit(f, DM_COPIES), int{dm->dmCopies});
    TraceLogWrite(log, 0, L"LogDevmode => dmDefaultSource: (%d) %d\n", Bit(f, DM_DEFAULTSOURCE),
                  int{dm->dmDefaultSource});
    TraceLogWrite(log, 0, L"LogDevmode => dmPrintQuality:  (%d) %d\n", Bit(f, DM_PRINTQUALITY),
                  int{dm->dmPrintQuality});
    TraceLogWrite(log, 0, L"LogDevmode => dmColor:         (%d) %d\n", Bit(f, DM_COLOR), int{dm->dmColor});
    TraceLogWrite(log, 0, L"LogDevmode => dmDuplex:        (%d) %d\n", Bit(f, DM_DUPLEX), int{dm->dmDuplex});
    TraceLogWrite(log, 0, L"LogDevmode => dmYResolution:   (%d) %d\n", Bit(f, DM_YRESOLUTION), int{dm->dmYResolution});
    TraceLogWrite(log, 0, L"LogDevmode => dmTTOption:      (%d) %d\n", Bit(f, DM_TTOPTION), int{dm->dmTTOption});
    TraceLogWrite(log, 0, L"LogDevmode => dmCollate:       (%d) %d\n", Bit(f, DM_COLLATE), int{dm->dmCollate});
    dumptext::WriteLine<Ch>(log, KV_DUMP_LINE("LogDevmode => dmFormName:      (%d) %s\n"), Bit(f, DM_FORMNAME),
                            dumptext::SlotText(dm->dmFormName).get());
    TraceLogWrite(log, 0, L"LogDevmode => dmLogPixels:     (%d) %d\n", Bit(f, DM_LOGPIXELS),
                  static_cast<unsigned>(dm->dmLogPixels));
    TraceLogWrite(log, 0, L"LogDevmode => dmBitsPerPel:    (%d) %d\n", Bit(f, DM_BITSPERPEL), dm->dmBitsPerPel);
    TraceLogWrite(log, 0, L"LogDevmode => dmPelsWidth:     (%d) %d\n", Bit(f, DM_PELSWIDTH), dm->dmPelsWidth);
    TraceLogWrite(log, 0, L"LogDevmode => dmPelsHeight:    (%d) %d\n", Bit(f, DM_PELSHEIGHT), dm->dmPelsHeight);
    TraceLogWrite(log, 0, L"LogDevmode => dmNup:           (%d) %d\n", Bit(f, DM_NUP), dm->dmNup);
    TraceLogWrite(log, 0, L"LogDevmode => dmDisplayFrequency: (%d) %d\n", Bit(f, DM_DISPLAYFREQUENCY),
                  dm->dmDisplayFrequency);
    // A tail is printed when dmSize holds it whole: a DEVMODE of 189 to 211
    // bytes (or 213 to 219) ends inside it, and its block may end there too.
    if (dm->dmSize >= offsetof(DM, dmPanningWidth)) {
        TraceLogWrite(log, 0, L"LogDevmode => dmICMMethod:     (%d) %d\n", Bit(f, DM_ICMMETHOD), dm->dmICMMethod);
        TraceLogWrite(log, 0, L"LogDevmode => dmICMIntent:     (%d) %d\n", Bit(f, DM_ICMINTENT), dm->dmICMIntent);
        TraceLogWrite(log, 0, L"LogDevmode => dmMediaType:     (%d) %d\n", Bit(f, DM_MEDIATYPE), dm->dmMediaType);
        TraceLogWrite(log, 0, L"LogDevmode => dmDitherType:    (%d) %d\n", Bit(f, DM_DITHERTYPE), dm->dmDitherType);
        TraceLogWrite(log, 0, L"LogDevmode => dmReserved1:     %d\n", dm->dmReserved1);
        TraceLogWrite(log, 0, L"LogDevmode => dmReserved2:     %d\n", dm->dmReserved2);
    }
    if (dm->dmSize >= sizeof(DM)) {
        TraceLogWrite(log, 0, L"LogDevmode => dmPanningWidth:  (%d) %d\n", Bit(f, DM_PANNINGWIDTH),
                      dm->dmPanningWidth);
        TraceLogWrite(log, 0, L"LogDevmode => dmPanningHeight: (%d) %d\n", Bit(f, DM_PANNINGHEIGHT),
                      dm->dmPanningHeight);
    }
    TraceLogWrite(log, 0, L"LogDevmode => --------------------------\n");
}

}  // namespace

void LogDevmode(const DEVMODEW* pDevMode, TraceLog* log) { LogDevmodeOf(pDevMode, log); }
void LogDevmode(const DEVMODEA* pDevMode, TraceLog* log) { LogDevmodeOf(pDevMode, log); }

void vlibPRINT_LogPI2(TraceLog* log, const PRINTER_INFO_2W* pInfo) {
    if (!log || !pInfo) return;
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => =======================================\n");
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => %X\n", AddressOf(pInfo));
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => pServerName:  %s\r\n", pInfo->pServerName);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => pPrinterName:  %s\r\n", pInfo->pPrinterName);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => pShareName:  %s\r\n", pInfo->pShareName);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => pPortName:  %s\r\n", pInfo->pPortName);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => pDriverName:  %s\r\n", pInfo->pDriverName);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => pComment:  %s\r\n", pInfo->pComment);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => pLocation:  %s\r\n", pInfo->pLocation);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => pSepFile:  %s\r\n", pInfo->pSepFile);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => pPrintProcessor:  %s\r\n", pInfo->pPrintProcessor);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => pDatatype:  %s\r\n", pInfo->pDatatype);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => pParameters:  %s\r\n", pInfo->pParameters);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => Attributes:  %d\n", pInfo->Attributes);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => Priority:  %d\n", pInfo->Priority);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => DefaultPriority:  %d\n", pInfo->DefaultPriority);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => StartTime:  %d\n", pInfo->StartTime);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => UntilTime:  %d\n", pInfo->UntilTime);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => Status:  %d\n", pInfo->Status);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => cJobs:  %d\n", pInfo->cJobs);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => AveragePPM:  %d\n", pInfo->AveragePPM);
    LogDevmode(pInfo->pDevMode, log);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI2 => =======================================\n");
}

void vlibPRINT_LogPI4(TraceLog* log, const PRINTER_INFO_4W* pInfo) {
    if (!log || !pInfo) return;
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI4 => =======================================\n");
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI4 => %X\n", AddressOf(pInfo));
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI4 => pServerName:  %s\r\n", pInfo->pServerName);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI4 => pPrinterName:  %s\r\n", pInfo->pPrinterName);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI4 => Attributes:  %d\n", pInfo->Attributes);
    TraceLogWrite(log, 0, L"vlibPRINT_LogPI4 => =======================================\n");
}
