#include "fake/fake_print_system.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace fake {

namespace {

FakePrintSystem* g_current = nullptr;

// ---------------------------------------------------------------- packing

// Lays out spooler records: fixed records at the front of the caller's
// buffer, their strings and DEVMODEs behind them. A sizing pass (no buffer)
// only adds up the bytes.
class Packer {
public:
    Packer(BYTE* buffer, size_t recordBytes) : base_(buffer), used_(recordBytes) {}
    size_t used() const { return used_; }
    bool sizing() const { return base_ == nullptr; }

    WCHAR* String(const std::wstring& text, bool nullWhenEmpty = true) {
        if (text.empty() && nullWhenEmpty) return nullptr;
        const size_t bytes = (text.size() + 1) * sizeof(WCHAR);
        WCHAR* at = sizing() ? nullptr : reinterpret_cast<WCHAR*>(base_ + used_);
        if (at) std::memcpy(at, text.c_str(), bytes);
        used_ += bytes;
        return at;
    }
    WCHAR* MultiString(const std::vector<std::wstring>& list) {
        if (list.empty()) return nullptr;
        std::wstring joined;
        for (const auto& item : list) joined += item + L'\0';
        return String(joined);  // the second terminator comes with String's own
    }
    DEVMODEW* Devmode(const std::vector<BYTE>& devmode) {
        if (devmode.empty()) return nullptr;
        used_ = (used_ + 7) & ~size_t(7);
        DEVMODEW* at = sizing() ? nullptr : reinterpret_cast<DEVMODEW*>(base_ + used_);
        if (at) std::memcpy(at, devmode.data(), devmode.size());
        used_ += devmode.size();
        return at;
    }

private:
    BYTE* base_;
    size_t used_;
};

void FillPrinterInfo2(PRINTER_INFO_2W* info, Packer& pack, const FakePrinter& p) {
    PRINTER_INFO_2W value = {};
    value.pServerName = pack.String(p.serverName);
    value.pPrinterName = pack.String(p.name, false);
    value.pShareName = pack.String(p.shareName);
    value.pPortName = pack.String(p.portName);
    value.pDriverName = pack.String(p.driverName);
    value.pComment = p.nullComment ? nullptr : pack.String(p.comment, false);
    value.pLocation = pack.String(p.location, false);
    value.pDevMode = pack.Devmode(p.devmode);
    value.pPrintProcessor = pack.String(p.printProcessor);
    value.pDatatype = pack.String(p.datatype);
    value.Attributes = p.attributes;
    value.Priority = value.DefaultPriority = 1;
    if (info) *info = value;
}

template <class Info>
void FillDriverCommon(Info& info, Packer& pack, const FakeDriver& d) {
    info.cVersion = d.version;
    info.pName = pack.String(d.name, false);
    info.pEnvironment = pack.String(d.environment);
    info.pDriverPath = pack.String(d.driverPath);
    info.pDataFile = pack.String(d.dataFile);
    info.pConfigFile = pack.String(d.configFile);
}

size_t DriverRecordSize(DWORD level) {
    const size_t sizes[] = {0, sizeof(DRIVER_INFO_1W), sizeof(DRIVER_INFO_2W), sizeof(DRIVER_INFO_3W),
                            sizeof(DRIVER_INFO_4W), sizeof(DRIVER_INFO_5W), sizeof(DRIVER_INFO_6W)};
    return level < std::size(sizes) ? sizes[level] : 0;
}

void FillDriverInfo(BYTE* record, DWORD level, Packer& pack, const FakeDriver& d) {
    switch (level) {
    case 1: {
        DRIVER_INFO_1W info = {};
        info.pName = pack.String(d.name, false);
        if (record) std::memcpy(record, &info, sizeof(info));
        break;
    }
    case 2: {
        DRIVER_INFO_2W info = {};
        FillDriverCommon(info, pack, d);
        if (record) std::memcpy(record, &info, sizeof(info));
        break;
    }
    case 3:
    case 4:
    case 6: {
        DRIVER_INFO_6W info = {};
        FillDriverCommon(info, pack, d);
        info.pHelpFile = pack.String(d.helpFile);
        info.pDependentFiles = pack.MultiString(d.dependentFiles);
        info.pMonitorName = pack.String(d.monitorName);
        info.pDefaultDataType = pack.String(d.defaultDataType);
        if (level >= 4) info.pszzPreviousNames = pack.MultiString(d.previousNames);
        if (level == 6) {
            info.dwlDriverVersion = d.driverVersion;
            info.pszMfgName = pack.String(d.manufacturer);
            info.pszOEMUrl = pack.String(d.oemUrl);
            info.pszHardwareID = pack.String(d.hardwareId);
            info.pszProvider = pack.String(d.provider);
        }
        // Levels 3 and 4 are prefixes of level 6.
        if (record) std::memcpy(record, &info, DriverRecordSize(level));
        break;
    }
    case 5: {
        DRIVER_INFO_5W info = {};
        FillDriverCommon(info, pack, d);
        info.dwDriverVersion = static_cast<DWORD>(d.driverVersion);
        if (record) std::memcpy(record, &info, sizeof(info));
        break;
    }
    default: break;
    }
}

// Two-call size pattern: fills the caller's buffer when it is big enough,
// otherwise fails with ERROR_INSUFFICIENT_BUFFER and reports the bytes needed.
template <class Fill>
BOOL PackRecords(size_t count, size_t recordSize, BYTE* buffer, DWORD bufferSize, DWORD* needed, Fill fill) {
    Packer sizing(nullptr, count * recordSize);
    for (size_t i = 0; i < count; ++i) fill(nullptr, sizing, i);
    if (needed) *needed = static_cast<DWORD>(sizing.used());
    if (!buffer || bufferSize < sizing.used()) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    Packer pack(buffer, count * recordSize);
    for (size_t i = 0; i < count; ++i) fill(buffer + i * recordSize, pack, i);
    return TRUE;
}

std::wstring Str(const WCHAR* text) { return text ? std::wstring(text) : std::wstring(); }

Call MakeCall(Op op, const std::wstring& printer, int arg = 0) {
    Call call;
    call.op = op;
    call.printer = printer;
    call.arg = arg;
    return call;
}

void NoteDevmode(Call& call, const DEVMODEW* dm) {
    if (!dm) return;
    call.quality = dm->dmPrintQuality;
    call.yResolution = dm->dmYResolution;
    call.paperSize = dm->dmPaperSize;
    call.orientation = dm->dmOrientation;
    call.paperWidth = dm->dmPaperWidth;
    call.paperLength = dm->dmPaperLength;
    call.fields = dm->dmFields;
    call.formName.assign(dm->dmFormName, wcsnlen(dm->dmFormName, CCHFORMNAME));
}

std::vector<BYTE> CopyDevmode(const DEVMODEW* dm) {
    if (!dm) return {};
    const BYTE* bytes = reinterpret_cast<const BYTE*>(dm);
    return std::vector<BYTE>(bytes, bytes + dm->dmSize + dm->dmDriverExtra);
}

// ---------------------------------------------------------------- spooler

BOOL WINAPI FakeEnumPrinters(DWORD flags, LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                             LPDWORD returned) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    const DWORD error = fake.Enter(MakeCall(Op::EnumPrinters, L"", static_cast<int>(flags)));
    if (returned) *returned = 0;
    if (error) {
        if (needed) *needed = 0;
        ::SetLastError(error);
        return FALSE;
    }
    if (level != 2) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    // PRINTER_ENUM_LOCAL lists the printers of this machine, PRINTER_ENUM_CONNECTIONS
    // the connections; the fake hands out everything for no flags at all.
    std::vector<const FakePrinter*> listed;
    for (const auto& p : fake.printers()) {
        const bool wanted = flags == 0 || ((flags & PRINTER_ENUM_LOCAL) && !p->connection) ||
                            ((flags & PRINTER_ENUM_CONNECTIONS) && p->connection);
        if (wanted) listed.push_back(p.get());
    }
    const BOOL ok = PackRecords(listed.size(), sizeof(PRINTER_INFO_2W), buffer, size, needed,
                                [&](BYTE* record, Packer& pack, size_t i) {
                                    FillPrinterInfo2(reinterpret_cast<PRINTER_INFO_2W*>(record), pack, *listed[i]);
                                });
    if (ok && returned) *returned = static_cast<DWORD>(listed.size());
    return ok;
}

BOOL WINAPI FakeOpenPrinter(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    const int access = defaults ? static_cast<int>(defaults->DesiredAccess) : 0;
    const DWORD error = fake.Enter(MakeCall(Op::OpenPrinter, Str(name), access));
    if (handle) *handle = nullptr;
    if (error) {
        ::SetLastError(error);
        return FALSE;
    }
    FakePrinter* printer = name ? fake.Find(name) : nullptr;
    if (!printer || !printer->openable || !handle) {
        ::SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    *handle = fake.OpenHandle(printer->name);
    return TRUE;
}

BOOL WINAPI FakeClosePrinter(HANDLE handle) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    FakePrinter* printer = fake.PrinterOf(handle);
    fake.Enter(MakeCall(Op::ClosePrinter, printer ? printer->name : L""));
    if (!fake.CloseHandle(handle)) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

// Copies the fields an application may set from the input DEVMODE into the
// driver's default, as a driver validating a changed DEVMODE does.
void MergeForValidation(DEVMODEW* out, const DEVMODEW* in, const FakePrinter& printer) {
    const DWORD f = in->dmFields;
    if ((f & DM_ORIENTATION) && !printer.ignoresOrientation) out->dmOrientation = in->dmOrientation;
    if (f & DM_PAPERSIZE) out->dmPaperSize = in->dmPaperSize;
    if (f & DM_PAPERLENGTH) out->dmPaperLength = in->dmPaperLength;
    if (f & DM_PAPERWIDTH) out->dmPaperWidth = in->dmPaperWidth;
    if (f & DM_SCALE) out->dmScale = in->dmScale;
    if (f & DM_COPIES) out->dmCopies = in->dmCopies;
    if (f & DM_DEFAULTSOURCE) out->dmDefaultSource = in->dmDefaultSource;
    if (f & DM_PRINTQUALITY) out->dmPrintQuality = in->dmPrintQuality;
    if (f & DM_COLOR) out->dmColor = in->dmColor;
    if (f & DM_DUPLEX) out->dmDuplex = in->dmDuplex;
    if (f & DM_YRESOLUTION) out->dmYResolution = in->dmYResolution;
    if (f & DM_COLLATE) out->dmCollate = in->dmCollate;
    if (f & DM_FORMNAME) std::memcpy(out->dmFormName, in->dmFormName, sizeof(out->dmFormName));
    if (f & DM_MEDIATYPE) out->dmMediaType = in->dmMediaType;
    // A paper chosen by id replaces a custom size.
    if ((f & DM_PAPERSIZE) && !(f & (DM_PAPERLENGTH | DM_PAPERWIDTH))) {
        out->dmPaperLength = 0;
        out->dmPaperWidth = 0;
        out->dmFields &= ~(DM_PAPERLENGTH | DM_PAPERWIDTH);
    }
}

LONG WINAPI FakeDocumentProperties(HWND, HANDLE handle, LPWSTR name, PDEVMODEW out, PDEVMODEW in, DWORD mode) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    FakePrinter* printer = fake.PrinterOf(handle);
    if (!printer && name) printer = fake.Find(name);
    Call call = MakeCall(Op::DocumentProperties, printer ? printer->name : Str(name), static_cast<int>(mode));
    call.withOutput = out != nullptr;
    if (mode & DM_IN_BUFFER) NoteDevmode(call, in);
    const DWORD error = fake.Enter(call);
    if (error || !printer) {
        ::SetLastError(error ? error : ERROR_INVALID_HANDLE);
        return error ? 0 : -1;
    }
    if (mode == 0) {
        if (printer->documentPropertiesSize != INT_MIN) return printer->documentPropertiesSize;
        return static_cast<LONG>(printer->devmode.size());
    }
    if (printer->devmode.empty()) return 0;
    if ((mode & DM_OUT_BUFFER) && out) {
        std::vector<BYTE> result = printer->devmode;
        DEVMODEW* dm = AsDevmode(result);
        if ((mode & DM_IN_BUFFER) && in) MergeForValidation(dm, in, *printer);
        std::memcpy(out, result.data(), result.size());
    }
    return IDOK;
}

BOOL WINAPI FakeGetPrinter(HANDLE handle, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    FakePrinter* printer = fake.PrinterOf(handle);
    const DWORD error = fake.Enter(MakeCall(Op::GetPrinter, printer ? printer->name : L"", static_cast<int>(level)));
    if (error || !printer) {
        if (needed) *needed = 0;
        ::SetLastError(error ? error : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (level == 2) {
        return PackRecords(1, sizeof(PRINTER_INFO_2W), buffer, size, needed, [&](BYTE* record, Packer& pack, size_t) {
            FillPrinterInfo2(reinterpret_cast<PRINTER_INFO_2W*>(record), pack, *printer);
        });
    }
    if (level == 8 || level == 9) {
        const std::vector<BYTE>& devmode = level == 8 ? printer->globalDevmode : printer->userDevmode;
        return PackRecords(1, sizeof(PRINTER_INFO_8W), buffer, size, needed, [&](BYTE* record, Packer& pack, size_t) {
            PRINTER_INFO_8W info = {pack.Devmode(devmode)};
            if (record) std::memcpy(record, &info, sizeof(info));
        });
    }
    ::SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
}

BOOL WINAPI FakeSetPrinter(HANDLE handle, DWORD level, LPBYTE buffer, DWORD) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    FakePrinter* printer = fake.PrinterOf(handle);
    const DWORD error = fake.Enter(MakeCall(Op::SetPrinter, printer ? printer->name : L"", static_cast<int>(level)));
    if (error || !printer || !buffer) {
        ::SetLastError(error ? error : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (level != 8 && level != 9) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const DEVMODEW* dm = reinterpret_cast<PRINTER_INFO_8W*>(buffer)->pDevMode;
    (level == 8 ? printer->globalDevmode : printer->userDevmode) = CopyDevmode(dm);
    return TRUE;
}

const FakeDriver* DriverNamed(FakePrintSystem& fake, const std::wstring& name) {
    for (const auto& d : fake.drivers())
        if (d.name == name) return &d;
    return nullptr;
}

BOOL WINAPI FakeGetPrinterDriver(HANDLE handle, LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    FakePrinter* printer = fake.PrinterOf(handle);
    const DWORD error = fake.Enter(MakeCall(Op::GetPrinterDriver, printer ? printer->name : L"",
                                                                 static_cast<int>(level)));
    if (needed) *needed = 0;
    if (error || !printer) {
        ::SetLastError(error ? error : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const FakeDriver* driver = DriverNamed(fake, printer->driverName);
    if (!driver) {
        ::SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
        return FALSE;
    }
    const size_t recordSize = DriverRecordSize(level);
    if (!recordSize) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    return PackRecords(1, recordSize, buffer, size, needed,
                       [&](BYTE* record, Packer& pack, size_t) { FillDriverInfo(record, level, pack, *driver); });
}

BOOL WINAPI FakeEnumPrinterDrivers(LPWSTR, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                   LPDWORD needed, LPDWORD returned) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    Call call = MakeCall(Op::EnumPrinterDrivers, L"", static_cast<int>(level));
    call.text = Str(environment);
    const DWORD error = fake.Enter(call);
    if (returned) *returned = 0;
    if (error) {
        if (needed) *needed = 0;
        ::SetLastError(error);
        return FALSE;
    }
    level = fake.DriverLevelAnswered(level);
    const size_t recordSize = DriverRecordSize(level);
    if (!recordSize) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    std::vector<const FakeDriver*> listed;
    for (const auto& d : fake.drivers())
        if (!environment || d.environment == environment) listed.push_back(&d);
    const BOOL ok = PackRecords(listed.size(), recordSize, buffer, size, needed,
                                [&](BYTE* record, Packer& pack, size_t i) { FillDriverInfo(record, level, pack, *listed[i]); });
    if (ok && returned) *returned = static_cast<DWORD>(listed.size());
    return ok;
}

int WINAPI FakeDeviceCapabilities(LPCWSTR device, LPCWSTR, WORD index, LPWSTR output, const DEVMODEW*) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    Call call = MakeCall(Op::DeviceCapabilities, Str(device), index);
    call.withOutput = output != nullptr;
    const DWORD error = fake.Enter(call);
    if (error) {
        ::SetLastError(error);
        return -1;
    }
    FakePrinter* printer = device ? fake.Find(device) : nullptr;
    if (!printer) {
        ::SetLastError(ERROR_INVALID_PRINTER_NAME);
        return -1;
    }
    auto found = printer->caps.find(index);
    if (found == printer->caps.end()) return 0;
    CapAnswer& answer = found->second;
    const int indexCall = ++answer.calls;
    if (answer.faultOnCalls.count(indexCall)) DriverFault();

    const size_t entries = answer.entryWidth ? answer.entries.size() / answer.entryWidth : 0;
    // Counting calls answer in turn, the last answer repeating; a fetch copies
    // no more entries than the caller was last told (it sized its buffer so).
    size_t counted = 0;
    for (const auto& c : fake.calls())
        counted += c.op == Op::DeviceCapabilities && c.printer == printer->name && c.arg == index && !c.withOutput;
    const int told = answer.counts.empty() ? static_cast<int>(entries)
                     : counted            ? answer.counts[std::min(counted, answer.counts.size()) - 1]
                                          : 0;
    if (!output) return told;
    const size_t copied = std::min(entries, static_cast<size_t>(std::max(told, 0)));
    if (copied) std::memcpy(output, answer.entries.data(), copied * answer.entryWidth);
    return answer.fetchAnswer != INT_MIN ? answer.fetchAnswer : static_cast<int>(copied);
}

DWORD WINAPI FakeGetPrinterData(HANDLE handle, LPWSTR name, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    FakePrinter* printer = fake.PrinterOf(handle);
    Call call = MakeCall(Op::GetPrinterData, printer ? printer->name : L"");
    call.text = Str(name);
    const DWORD error = fake.Enter(call);
    if (error) return error;
    if (!printer) return ERROR_INVALID_HANDLE;
    auto found = printer->data.find(Str(name));
    if (found == printer->data.end()) return ERROR_FILE_NOT_FOUND;
    const auto& [valueType, bytes] = found->second;
    if (type) *type = valueType;
    if (needed) *needed = static_cast<DWORD>(bytes.size());
    if (!data || size < bytes.size()) return ERROR_MORE_DATA;
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    return ERROR_SUCCESS;
}

DWORD WINAPI FakeSetPrinterData(HANDLE handle, LPWSTR name, DWORD type, LPBYTE data, DWORD size) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    FakePrinter* printer = fake.PrinterOf(handle);
    Call call = MakeCall(Op::SetPrinterData, printer ? printer->name : L"");
    call.text = Str(name);
    const DWORD error = fake.Enter(call);
    if (error) return error;
    if (!printer) return ERROR_INVALID_HANDLE;
    printer->data[Str(name)] = {type, std::vector<BYTE>(data, data + size)};
    return ERROR_SUCCESS;
}

DWORD WINAPI FakeDeletePrinterData(HANDLE handle, LPWSTR name) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    FakePrinter* printer = fake.PrinterOf(handle);
    Call call = MakeCall(Op::DeletePrinterData, printer ? printer->name : L"");
    call.text = Str(name);
    const DWORD error = fake.Enter(call);
    if (error) return error;
    if (!printer) return ERROR_INVALID_HANDLE;
    return printer->data.erase(Str(name)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

// Change notification is not scripted yet: it answers as Wine does.
HANDLE WINAPI FakeFindFirstChange(HANDLE, DWORD, DWORD, LPVOID) {
    FakePrintSystem::Current().Enter(MakeCall(Op::FindFirstChange, L""));
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return INVALID_HANDLE_VALUE;
}
BOOL WINAPI FakeFindNextChange(HANDLE, PDWORD, LPVOID, LPVOID*) {
    FakePrintSystem::Current().Enter(MakeCall(Op::FindNextChange, L""));
    return FALSE;
}
BOOL WINAPI FakeFreeNotifyInfo(PPRINTER_NOTIFY_INFO) {
    FakePrintSystem::Current().Enter(MakeCall(Op::FreeNotifyInfo, L""));
    return TRUE;
}
BOOL WINAPI FakeFindCloseChange(HANDLE) {
    FakePrintSystem::Current().Enter(MakeCall(Op::FindCloseChange, L""));
    return FALSE;
}

// ---------------------------------------------------------------- GDI

HDC WINAPI FakeCreateDC(LPCWSTR driver, LPCWSTR device, LPCWSTR, const DEVMODEW* dm) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    Call call = MakeCall(Op::CreateDC, Str(device));
    call.text = Str(driver);
    NoteDevmode(call, dm);
    const DWORD error = fake.Enter(call);
    if (error) {
        ::SetLastError(error);
        return nullptr;
    }
    FakePrinter* printer = device ? fake.Find(device) : nullptr;
    if (!printer) {
        ::SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    std::vector<BYTE> devmode = dm ? CopyDevmode(dm) : printer->devmode;
    if (devmode.empty()) devmode = MakeDevmode(printer->name, 0);
    return fake.NewDC(printer->name, std::move(devmode));
}

// Page metrics of a device context, computed as a driver would from the
// DEVMODE's paper, orientation and resolution and the printer's margins.
int Metric(const FakePrinter& printer, const DEVMODEW& dm, int index) {
    LONG width = 2159, length = 2794;  // Letter
    bool known = false;
    if ((dm.dmFields & DM_PAPERWIDTH) && (dm.dmFields & DM_PAPERLENGTH) && dm.dmPaperWidth > 0 && dm.dmPaperLength > 0) {
        width = dm.dmPaperWidth;
        length = dm.dmPaperLength;
        known = true;
    }
    for (size_t i = 0; !known && i < printer.papers.size(); ++i) {
        if (printer.papers[i].id == static_cast<WORD>(dm.dmPaperSize)) {
            width = printer.papers[i].width;
            length = printer.papers[i].length;
            known = true;
        }
    }
    LONG left = printer.marginLeft, top = printer.marginTop, right = printer.marginRight, bottom = printer.marginBottom;
    if (dm.dmOrientation == DMORIENT_LANDSCAPE && !printer.ignoresOrientation) {
        std::swap(width, length);
        // The page turns counter-clockwise: the left margin comes from the bottom.
        const LONG l = left, t = top;
        left = bottom;
        top = l;
        bottom = right;
        right = t;
    }
    auto dpiOf = [&](short value, bool across) -> int {
        if (value > 0) return value;
        auto found = printer.indexedDpi.find(value);
        if (found != printer.indexedDpi.end()) return found->second;
        return across ? 300 : 0;
    };
    const int dpiX = dpiOf(dm.dmPrintQuality, true);
    int dpiY = (dm.dmFields & DM_YRESOLUTION) && dm.dmYResolution > 0 ? dm.dmYResolution : dpiX;
    if (dm.dmPrintQuality < 0 && dm.dmYResolution <= 0) dpiY = dpiX;
    auto pixels = [](LONG tenthsMm, int dpi) { return static_cast<int>((static_cast<long long>(tenthsMm) * dpi) / 254); };
    const int physW = pixels(width, dpiX), physH = pixels(length, dpiY);
    const int offX = pixels(left, dpiX), offY = pixels(top, dpiY);
    const int horzRes = physW - offX - pixels(right, dpiX);
    const int vertRes = physH - offY - pixels(bottom, dpiY);
    switch (index) {
    case PHYSICALWIDTH: return physW;
    case PHYSICALHEIGHT: return physH;
    case PHYSICALOFFSETX: return offX;
    case PHYSICALOFFSETY: return offY;
    case HORZRES: return horzRes;
    case VERTRES: return vertRes;
    case HORZSIZE: return static_cast<int>(static_cast<long long>(horzRes) * 254 / (static_cast<long long>(dpiX) * 10));
    case VERTSIZE: return static_cast<int>(static_cast<long long>(vertRes) * 254 / (static_cast<long long>(dpiY) * 10));
    case LOGPIXELSX: return dpiX;
    case LOGPIXELSY: return dpiY;
    case ASPECTX: return dpiY;
    case ASPECTY: return dpiX;
    case ASPECTXY: return static_cast<int>(std::sqrt(static_cast<double>(dpiX) * dpiX + static_cast<double>(dpiY) * dpiY));
    default: break;
    }
    auto fixed = printer.deviceCaps.find(index);
    return fixed != printer.deviceCaps.end() ? fixed->second : 0;
}

int WINAPI FakeGetDeviceCaps(HDC dc, int index) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    FakePrintSystem::DeviceContext* context = fake.DCOf(dc);
    const DWORD error = fake.Enter(MakeCall(Op::GetDeviceCaps, context ? context->printer : L"", index));
    if (error || !context) return 0;
    FakePrinter* printer = fake.Find(context->printer);
    if (!printer) return 0;
    if (printer->faultingDeviceCaps.count(index)) DriverFault();
    return Metric(*printer, *reinterpret_cast<const DEVMODEW*>(context->devmode.data()), index);
}

int WINAPI FakeExtEscape(HDC dc, int escape, int inputSize, LPCSTR input, int, LPSTR) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    FakePrintSystem::DeviceContext* context = fake.DCOf(dc);
    int asked = 0;
    if (escape == QUERYESCSUPPORT && input && inputSize >= 4) std::memcpy(&asked, input, 4);
    const DWORD error = fake.Enter(MakeCall(Op::ExtEscape, context ? context->printer : L"", asked));
    if (error || !context) return 0;
    FakePrinter* printer = fake.Find(context->printer);
    if (!printer || escape != QUERYESCSUPPORT) return 0;
    if (printer->faultingEscapes.count(asked)) DriverFault();
    auto found = printer->escapes.find(asked);
    return found != printer->escapes.end() ? found->second : 0;
}

BOOL WINAPI FakeDeleteDC(HDC dc) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    FakePrintSystem::DeviceContext* context = fake.DCOf(dc);
    fake.Enter(MakeCall(Op::DeleteDC, context ? context->printer : L""));
    return fake.DeleteDC(dc) ? TRUE : FALSE;
}

// ---------------------------------------------------------------- version

BOOL WINAPI FakeGetVersionEx(LPOSVERSIONINFOW info) {
    FakePrintSystem& fake = FakePrintSystem::Current();
    const int size = info ? static_cast<int>(info->dwOSVersionInfoSize) : 0;
    const DWORD error = fake.Enter(MakeCall(Op::GetVersionEx, L"", size));
    if (error || !info) {
        ::SetLastError(error ? error : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *info = fake.versionInfo();
    info->dwOSVersionInfoSize = static_cast<DWORD>(size);
    return TRUE;
}

const platform::SpoolerApi kFakeSpooler = {
    FakeEnumPrinters,     FakeOpenPrinter,         FakeClosePrinter,     FakeDocumentProperties,
    FakeGetPrinter,       FakeSetPrinter,          FakeGetPrinterDriver, FakeEnumPrinterDrivers,
    FakeDeviceCapabilities, FakeGetPrinterData,    FakeSetPrinterData,   FakeDeletePrinterData,
    FakeFindFirstChange,  FakeFindNextChange,      FakeFreeNotifyInfo,   FakeFindCloseChange,
};
const platform::GdiApi kFakeGdi = {FakeCreateDC, FakeGetDeviceCaps, FakeExtEscape, FakeDeleteDC};
const platform::VersionApi kFakeVersion = {FakeGetVersionEx};

template <class T>
void Append(std::vector<BYTE>& out, const T& value) {
    const BYTE* p = reinterpret_cast<const BYTE*>(&value);
    out.insert(out.end(), p, p + sizeof(T));
}

void AppendName(std::vector<BYTE>& out, const std::wstring& name, size_t slotChars) {
    std::vector<WCHAR> slot(slotChars, L'\0');
    std::copy_n(name.begin(), std::min(name.size(), slotChars), slot.begin());  // may fill the slot unterminated
    const BYTE* p = reinterpret_cast<const BYTE*>(slot.data());
    out.insert(out.end(), p, p + slotChars * sizeof(WCHAR));
}

}  // namespace

// ---------------------------------------------------------------- printers

void FakePrinter::SetPapers(const std::vector<FakePaper>& list) {
    papers = list;
    CapAnswer names, ids, sizes;
    names.entryWidth = 64 * sizeof(WCHAR);
    ids.entryWidth = sizeof(WORD);
    sizes.entryWidth = sizeof(POINT);
    for (const auto& paper : list) {
        AppendName(names.entries, paper.name, 64);
        Append(ids.entries, paper.id);
        Append(sizes.entries, POINT{paper.width, paper.length});
    }
    caps[DC_PAPERNAMES] = names;
    caps[DC_PAPERS] = ids;
    caps[DC_PAPERSIZE] = sizes;
}

void FakePrinter::SetBins(const std::vector<std::pair<WORD, std::wstring>>& list) {
    CapAnswer names, ids;
    names.entryWidth = 24 * sizeof(WCHAR);
    ids.entryWidth = sizeof(WORD);
    for (const auto& bin : list) {
        AppendName(names.entries, bin.second, 24);
        Append(ids.entries, bin.first);
    }
    caps[DC_BINNAMES] = names;
    caps[DC_BINS] = ids;
}

void FakePrinter::SetMedia(const std::vector<std::pair<DWORD, std::wstring>>& list) {
    CapAnswer names, ids;
    names.entryWidth = 64 * sizeof(WCHAR);
    ids.entryWidth = sizeof(DWORD);
    for (const auto& [id, name] : list) {
        AppendName(names.entries, name, 64);
        Append(ids.entries, id);
    }
    caps[DC_MEDIATYPENAMES] = names;
    caps[DC_MEDIATYPES] = ids;
}

void FakePrinter::SetResolutions(const std::vector<std::pair<LONG, LONG>>& list) {
    CapAnswer answer;
    answer.entryWidth = 2 * sizeof(LONG);
    for (const auto& [x, y] : list) {
        Append(answer.entries, x);
        Append(answer.entries, y);
    }
    caps[DC_ENUMRESOLUTIONS] = answer;
}

void FakePrinter::SetScalar(WORD index, int value) {
    CapAnswer answer;
    answer.counts = {value};
    caps[index] = answer;
}

void FakePrinter::SetNames(WORD index, size_t slotChars, const std::vector<std::wstring>& names) {
    CapAnswer answer;
    answer.entryWidth = slotChars * sizeof(WCHAR);
    for (const auto& name : names) AppendName(answer.entries, name, slotChars);
    caps[index] = answer;
}

void FakePrinter::SetValues(WORD index, const std::vector<DWORD>& values) {
    CapAnswer answer;
    answer.entryWidth = sizeof(DWORD);
    for (DWORD value : values) Append(answer.entries, value);
    caps[index] = answer;
}

std::vector<BYTE> MakeDevmode(const std::wstring& deviceName, WORD driverExtra) {
    std::vector<BYTE> bytes(sizeof(DEVMODEW) + driverExtra, 0);
    DEVMODEW* dm = AsDevmode(bytes);
    std::copy_n(deviceName.begin(), std::min<size_t>(deviceName.size(), CCHDEVICENAME - 1), dm->dmDeviceName);
    dm->dmSpecVersion = 0x0401;
    dm->dmDriverVersion = 0x0100;
    dm->dmSize = sizeof(DEVMODEW);
    dm->dmDriverExtra = driverExtra;
    dm->dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_COLOR |
                   DM_DUPLEX | DM_YRESOLUTION | DM_COLLATE | DM_FORMNAME;
    dm->dmOrientation = DMORIENT_PORTRAIT;
    dm->dmPaperSize = DMPAPER_LETTER;
    dm->dmScale = 100;
    dm->dmCopies = 1;
    dm->dmDefaultSource = DMBIN_AUTO;
    dm->dmPrintQuality = 300;
    dm->dmColor = DMCOLOR_MONOCHROME;
    dm->dmDuplex = DMDUP_SIMPLEX;
    dm->dmYResolution = 300;
    dm->dmCollate = DMCOLLATE_FALSE;
    lstrcpynW(dm->dmFormName, L"Letter", CCHFORMNAME);
    for (WORD i = 0; i < driverExtra; ++i) bytes[sizeof(DEVMODEW) + i] = static_cast<BYTE>(0xA0 + (i & 0x0F));
    return bytes;
}

[[noreturn]] void DriverFault() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 0x0BAD;
    ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);  // not reached
    for (;;) {
    }
}

// ---------------------------------------------------------------- system

FakePrintSystem::FakePrintSystem()
    : spooler_(platform::spooler, kFakeSpooler),
      gdi_(platform::gdi, kFakeGdi),
      version_api_(platform::version, kFakeVersion) {
    if (g_current) throw std::logic_error("only one FakePrintSystem at a time");
    g_current = this;
    SetVersion(VER_PLATFORM_WIN32_NT, 6, 1, 7601, L"Service Pack 1");
}

FakePrintSystem::~FakePrintSystem() { g_current = nullptr; }

FakePrintSystem& FakePrintSystem::Current() {
    if (!g_current) throw std::logic_error("no FakePrintSystem installed");
    return *g_current;
}

FakePrinter& FakePrintSystem::AddBarePrinter(const std::wstring& name) {
    printers_.push_back(std::make_unique<FakePrinter>());
    printers_.back()->name = name;
    return *printers_.back();
}

FakePrinter& FakePrintSystem::AddPrinter(const std::wstring& name) {
    FakePrinter& p = AddBarePrinter(name);
    p.devmode = MakeDevmode(name);
    p.SetPapers({{DMPAPER_LETTER, L"Letter", 2159, 2794}, {DMPAPER_A4, L"A4", 2100, 2970}});
    p.SetBins({{DMBIN_AUTO, L"Automatically Select"}, {DMBIN_UPPER, L"Tray 1"}});
    p.SetResolutions({{300, 300}, {600, 600}});
    p.marginLeft = p.marginTop = p.marginRight = p.marginBottom = 42;  // about 1/6 inch
    p.deviceCaps = {{DRIVERVERSION, 0x0400}, {TECHNOLOGY, DT_RASPRINTER}, {BITSPIXEL, 1}, {PLANES, 1},
                    {NUMCOLORS, 2},          {RASTERCAPS, 0x6E99},      {TEXTCAPS, 0x5D37}};
    if (!DriverNamed(*this, p.driverName)) AddDriver(p.driverName);
    return p;
}

FakePrinter* FakePrintSystem::Find(const std::wstring& name) {
    for (auto& p : printers_)
        if (p->name == name) return p.get();
    return nullptr;
}

FakeDriver& FakePrintSystem::AddDriver(const std::wstring& name) {
    drivers_.emplace_back();
    drivers_.back().name = name;
    return drivers_.back();
}

void FakePrintSystem::SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build,
                                 const std::wstring& servicePack) {
    version_ = {};
    version_.dwOSVersionInfoSize = sizeof(version_);
    version_.dwPlatformId = platformId;
    version_.dwMajorVersion = major;
    version_.dwMinorVersion = minor;
    version_.dwBuildNumber = build;
    lstrcpynW(version_.szCSDVersion, servicePack.c_str(), 128);
}

void FakePrintSystem::FaultOn(Op op, int nthCall) { failures_[{static_cast<int>(op), nthCall}] = 0; }

void FakePrintSystem::FailOn(Op op, int nthCall, DWORD error) {
    failures_[{static_cast<int>(op), nthCall}] = error ? error : ERROR_GEN_FAILURE;
}

DWORD FakePrintSystem::Enter(const Call& call) {
    const int callNo = ++counts_[static_cast<int>(call.op)];
    calls_.push_back(call);
    auto found = failures_.find({static_cast<int>(call.op), callNo});
    if (found == failures_.end()) return 0;
    if (found->second == 0) DriverFault();
    return found->second;
}

FakePrinter* FakePrintSystem::PrinterOf(HANDLE handle) {
    auto found = handles_.find(handle);
    return found == handles_.end() ? nullptr : Find(found->second);
}

HANDLE FakePrintSystem::OpenHandle(const std::wstring& name) {
    HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
    nextHandle_ += 4;
    handles_[handle] = name;
    return handle;
}

bool FakePrintSystem::CloseHandle(HANDLE handle) { return handles_.erase(handle) > 0; }

HDC FakePrintSystem::NewDC(const std::wstring& printer, std::vector<BYTE> devmode) {
    auto context = std::make_unique<DeviceContext>();
    context->printer = printer;
    context->devmode = std::move(devmode);
    HDC dc = reinterpret_cast<HDC>(context.get());
    dcs_[dc] = std::move(context);
    return dc;
}

FakePrintSystem::DeviceContext* FakePrintSystem::DCOf(HDC dc) {
    auto found = dcs_.find(dc);
    return found == dcs_.end() ? nullptr : found->second.get();
}

bool FakePrintSystem::DeleteDC(HDC dc) { return dcs_.erase(dc) > 0; }

}  // namespace fake
