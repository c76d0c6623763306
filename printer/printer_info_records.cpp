// The printer object's printer info records: everything the server side
// needs to recreate this printer, in one block (records/printer_info.h).
#include <cstring>
#include <type_traits>

#include "platform/kernel.h"
#include "print/dump_text.h"
#include "print/form_matching.h"
#include "print/private_devmode.h"
#include "printer/printer.h"
#include "records/printer_info.h"

namespace {

// The trace texts of one version.
struct BuildText {
    const WCHAR* first;      // the entry line
    const WCHAR* prefix;     // in front of the arrow of the other lines
    const WCHAR* noDefault;  // the line for a printer without default DEVMODE
    const WCHAR* returning;  // the last line
};

// A public DEVMODE field copied from the default DEVMODE when its bit is set.
struct DevmodeField {
    DWORD bit;
    size_t offset;
    size_t size;
};
#define KV_FIELD(bit, field) {bit, offsetof(DEVMODEW, field), sizeof(DEVMODEW{}.field)}
const DevmodeField kBeforeResolution[] = {
    KV_FIELD(DM_ORIENTATION, dmOrientation), KV_FIELD(DM_PAPERSIZE, dmPaperSize),
    KV_FIELD(DM_PAPERLENGTH, dmPaperLength), KV_FIELD(DM_PAPERWIDTH, dmPaperWidth),
    KV_FIELD(DM_SCALE, dmScale),             KV_FIELD(DM_COPIES, dmCopies),
    KV_FIELD(DM_DEFAULTSOURCE, dmDefaultSource),
};
// DM_FORMNAME is copied on its own (31 characters and the terminator).
const DevmodeField kAfterResolution[] = {
    KV_FIELD(DM_COLOR, dmColor),           KV_FIELD(DM_DUPLEX, dmDuplex),
    KV_FIELD(DM_TTOPTION, dmTTOption),     KV_FIELD(DM_COLLATE, dmCollate),
    KV_FIELD(DM_LOGPIXELS, dmLogPixels),   KV_FIELD(DM_BITSPERPEL, dmBitsPerPel),
    KV_FIELD(DM_PELSWIDTH, dmPelsWidth),   KV_FIELD(DM_PELSHEIGHT, dmPelsHeight),
    KV_FIELD(DM_NUP, dmNup),               KV_FIELD(DM_DISPLAYFREQUENCY, dmDisplayFrequency),
    KV_FIELD(DM_ICMMETHOD, dmICMMethod),   KV_FIELD(DM_ICMINTENT, dmICMIntent),
    KV_FIELD(DM_MEDIATYPE, dmMediaType),   KV_FIELD(DM_DITHERTYPE, dmDitherType),
};
#undef KV_FIELD

// Only fields the default DEVMODE really holds: one that lies beyond its
// dmSize is driver-private data, whatever the bit says. dmPosition and
// dmDisplayOrientation are never copied, though their bits stay set.
template <size_t N>
void CopyFields(const DEVMODEW* from, DEVMODEW* to, const DevmodeField (&fields)[N]) {
    for (const DevmodeField& f : fields)
        if ((from->dmFields & f.bit) && f.offset + f.size <= from->dmSize)
            std::memcpy(reinterpret_cast<BYTE*>(to) + f.offset, reinterpret_cast<const BYTE*>(from) + f.offset, f.size);
}

// The DEVMODE area: the fixed private header, and the public fields of the
// default DEVMODE with the resolution fixed against the capability record.
void FillDevMode(PRIVATE_DEVMODEW& area, const DEVMODEW* def, const caps4* caps, const BuildText& text) {
    area.dm.dmSpecVersion = 0x401;
    area.dm.dmDriverVersion = 0x500;
    area.dm.dmSize = sizeof(DEVMODEW);
    area.dm.dmDriverExtra = sizeof(PRIVATE_DEVMODEW) - sizeof(DEVMODEW);
    area.dwSignatureStart = area.dwSignatureEnd = kPrivateDM4Signature;
    area.dwFlags = 0;
    if (!def) {
        TraceLogWrite(LibraryLog, 0, L"%s => %s\n", text.prefix, text.noDefault);
        area.dm.dmFields = 0;
        return;
    }
    TraceLogWrite(LibraryLog, 0, L"%s => dmDeviceName: %s\n", text.prefix, dumptext::SlotText(def->dmDeviceName).get());
    area.dm.dmFields = def->dmFields;
    CopyFields(def, &area.dm, kBeforeResolution);
    vlibPRINT_GetResolutionIndexOfCaps4(def, &area.dm, caps, LibraryLog);
    CopyFields(def, &area.dm, kAfterResolution);
    if ((def->dmFields & DM_FORMNAME) && offsetof(DEVMODEW, dmFormName) + sizeof(def->dmFormName) <= def->dmSize)
        CopyNameSlot(area.dm.dmFormName, def->dmFormName, kFormNameMatchChars);
}

void CopyText(WCHAR (&field)[kInfoStringChars], const WCHAR* text) {
    // A longer text is cut to the field's 259 characters.
    if (text) platform::CopyString(field, kInfoStringChars, text);
}

template <class Record>
Record* Build(CPrinter& printer, DWORD version, const BuildText& text) {
    TraceLogWrite(LibraryLog, 0, text.first);
    caps4* caps = printer.SerializeCaps4();
    if (!caps) {
        TraceLogWrite(LibraryLog, 0, L"%s => don't have caps4!\n", text.prefix);
        return nullptr;
    }
    TraceLogWrite(LibraryLog, 0, L"%s => caps size: %d\n", text.prefix, caps->dwSize);
    Record* record = platform::HeapAllocZeroAs<Record>(sizeof(Record) + caps->dwSize);
    if (!record) {
        TraceLogWrite(LibraryLog, 0, L"not enough memory\n");
        platform::HeapFreeBlock(caps);
        return nullptr;
    }
    constexpr bool k400 = std::is_same_v<Record, KVPrinterInfo400>;
    record->dwSize = static_cast<DWORD>(sizeof(Record)) + caps->dwSize;
    record->dwSizeOfCaps = caps->dwSize;
    record->dwOffsetToCaps = sizeof(Record);
    const PRINTER_INFO_2W* pi2 = printer.pPI2;
    if constexpr (!k400) {
        record->dwRecordVersion = version;
        if (pi2) {
            record->Attributes = pi2->Attributes;
            record->Priority = pi2->Priority;
            record->DefaultPriority = pi2->DefaultPriority;
            record->StartTime = pi2->StartTime;
            record->UntilTime = pi2->UntilTime;
        }
    }
    if (pi2) record->Status = pi2->Status;
    TraceLogWrite(LibraryLog, 0, L"%s => adding caps to info\n", text.prefix);
    caps4* embedded = reinterpret_cast<caps4*>(reinterpret_cast<BYTE*>(record) + sizeof(Record));
    std::memcpy(embedded, caps, caps->dwSize);
    platform::HeapFreeBlock(caps);

    CopyText(record->szPrinterName, printer.strPrinterName.c_str());
    CopyText(record->szNativePrinterName, printer.strPrinterName.c_str());
    if (pi2) {
        CopyText(record->szServerName, pi2->pServerName);
        CopyText(record->szShareName, pi2->pShareName);
        CopyText(record->szPortName, pi2->pPortName);
        CopyText(record->szDriverName, pi2->pDriverName);
        CopyText(record->szComment, pi2->pComment);
        CopyText(record->szLocation, pi2->pLocation);
    }
    FillDevMode(record->DevMode, printer.pDefDM, embedded, text);
    if constexpr (std::is_same_v<Record, KVPrinterInfo402>) {
        record->bSecondDialog = printer.bSecondDialog;
        record->bPrintAsImage = printer.bPrintAsImage;
        record->dwPrintAsImageDPI = printer.dwPrintAsImageDPI;
        record->dwFontEmbed = printer.dwFontEmbed;
    }
    LogDM(&record->DevMode, LibraryLog);
    TraceLogWrite(LibraryLog, 0, text.returning);
    return record;
}

// 400 and 401 share their trace lines but the first.
constexpr const WCHAR* kShared = L"KVPrinter::CreateKVPrinterInfo4W";
constexpr const WCHAR* kSharedReturning = L"CPrinter::CreateKVPrinterInfo4W => returning\n";

}  // namespace

KVPrinterInfo400* CPrinter::CreateKVPrinterInfo400W() {
    return Build<KVPrinterInfo400>(
        *this, 0, {L"KVPrinter::CreateKVPrinterInfo400W => \n", kShared, L"default devmode in nully", kSharedReturning});
}

KVPrinterInfo401* CPrinter::CreateKVPrinterInfo401W() {
    return Build<KVPrinterInfo401>(*this, kKVPrinterInfo401Version,
                                   {L"KVPrinter::CreateKVPrinterInfo401W => \n", kShared, L"default devmode in nully",
                                    kSharedReturning});
}

KVPrinterInfo402* CPrinter::CreateKVPrinterInfo402W() {
    return Build<KVPrinterInfo402>(*this, kKVPrinterInfo402Version,
                                   {L"KVPrinter::CreateKVPrinterInfo402W => \n", L"KVPrinter::CreateKVPrinterInfo402W",
                                    L"default devmode in null", L"CPrinter::CreateKVPrinterInfo402W => returning\n"});
}
