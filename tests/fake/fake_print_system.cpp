#include "fake/fake_print_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace fake {

namespace {

FakePrintSystem* g_current = nullptr;

// Raises a real access violation, as a faulting driver does.
[[noreturn]] void DriverFault() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 0x0BAD;
    std::abort();  // not reached
}

// Sets the thread's last error and gives the failure answer.
template <class R = BOOL>
R Fail(DWORD error, R answer = R()) {
    ::SetLastError(error);
    return answer;
}

std::wstring Str(const WCHAR* text) { return text ? text : L""; }

const WCHAR kEnvironment[] = L"Windows NT x86";  // every driver's

// The first item of the list with the name, or null.
template <class List>
auto* Named(List& list, const std::wstring& name) {
    auto found = std::find_if(list.begin(), list.end(), [&](const auto& item) { return item.name == name; });
    return found == list.end() ? nullptr : &*found;
}

// ---------------------------------------------------------------- packing

// Lays out spooler records: fixed records at the front of the caller's
// buffer, their strings and DEVMODEs behind them. A sizing pass (no buffer)
// only adds up the bytes.
class Packer {
public:
    Packer(BYTE* buffer, size_t recordBytes) : base_(buffer), used_(recordBytes) {}
    size_t used() const { return used_; }

    WCHAR* String(const std::wstring& text, bool nullWhenEmpty = true) {
        if (text.empty() && nullWhenEmpty) return nullptr;
        return reinterpret_cast<WCHAR*>(Put(text.c_str(), (text.size() + 1) * sizeof(WCHAR)));
    }
    WCHAR* MultiString(const std::vector<std::wstring>& list) {
        std::wstring joined;
        for (const auto& item : list) joined += item + L'\0';
        return String(joined);  // the second terminator comes with String's own
    }
    DEVMODEW* Devmode(const std::vector<BYTE>& devmode) {
        if (devmode.empty()) return nullptr;
        used_ = (used_ + 7) & ~size_t(7);
        return reinterpret_cast<DEVMODEW*>(Put(devmode.data(), devmode.size()));
    }

private:
    BYTE* Put(const void* bytes, size_t size) {
        BYTE* at = base_ ? base_ + used_ : nullptr;
        if (at) std::memcpy(at, bytes, size);
        used_ += size;
        return at;
    }
    BYTE* base_;
    size_t used_;
};

// Two-call size pattern: fills the caller's buffer with one record per item
// when it is big enough, otherwise fails with ERROR_INSUFFICIENT_BUFFER; the
// bytes needed are reported either way.
template <class Item, class Fill>
BOOL PackRecords(const std::vector<Item>& items, size_t recordSize, BYTE* buffer, DWORD size, DWORD* needed,
                 DWORD* returned, Fill fill) {
    Packer sizing(nullptr, items.size() * recordSize);
    for (const Item& item : items) fill(sizing, item);
    if (needed) *needed = static_cast<DWORD>(sizing.used());
    if (!buffer || size < sizing.used()) return Fail(ERROR_INSUFFICIENT_BUFFER);
    Packer pack(buffer, items.size() * recordSize);
    for (size_t i = 0; i < items.size(); ++i) {
        const auto record = fill(pack, items[i]);
        std::memcpy(buffer + i * recordSize, &record, recordSize);
    }
    if (returned) *returned = static_cast<DWORD>(items.size());
    return TRUE;
}

PRINTER_INFO_2W PrinterInfo2(Packer& pack, const FakePrinter* p) {
    PRINTER_INFO_2W info = {};
    info.pServerName = pack.String(p->serverName);
    info.pPrinterName = pack.String(p->name, false);
    info.pShareName = pack.String(p->shareName);
    info.pPortName = pack.String(L"FILE:");
    info.pDriverName = pack.String(p->driverName);
    info.pComment = pack.String(p->comment);
    info.pLocation = pack.String(L"lab");
    info.pDevMode = pack.Devmode(p->devmode);
    info.pPrintProcessor = pack.String(L"winprint");
    info.pDatatype = pack.String(L"RAW");
    info.Attributes = p->attributes;
    info.Priority = 1, info.DefaultPriority = 2, info.StartTime = 60, info.UntilTime = 1380;
    return info;
}

// Driver records of every level: level 1 holds the name alone; levels 2, 3
// and 4 are prefixes of level 6; level 5 shares level 2's head.
union DriverRecord {
    DRIVER_INFO_6W six;  // the largest first: {} zero-fills the whole record
    DRIVER_INFO_5W five;
    DRIVER_INFO_1W one;
};

DriverRecord DriverInfo(DWORD level, Packer& pack, const FakeDriver& d) {
    DriverRecord record = {};
    DRIVER_INFO_6W& info = record.six;
    info.pName = pack.String(d.name, false);
    if (level == 1) return DriverRecord{.one = {info.pName}};
    const std::wstring folder = L"C:\\windows\\system32\\spool\\drivers\\x64\\3\\";
    const DWORDLONG driverVersion = 0x0003000000000001ull;
    info.cVersion = d.version;
    info.pEnvironment = pack.String(kEnvironment);
    info.pDriverPath = pack.String(folder + L"fakedrv.dll");
    info.pDataFile = pack.String(folder + L"fake.ppd");
    info.pConfigFile = pack.String(folder + L"fakeui.dll");
    if (level == 5) record.five.dwDriverVersion = static_cast<DWORD>(driverVersion);
    if (level == 2 || level == 5) return record;
    info.pHelpFile = pack.String(folder + L"fake.hlp");
    info.pDependentFiles = pack.MultiString(d.dependentFiles);
    info.pDefaultDataType = pack.String(L"RAW");
    if (level >= 4) info.pszzPreviousNames = pack.MultiString(d.previousNames);
    if (level != 6) return record;
    info.dwlDriverVersion = driverVersion;
    info.pszMfgName = pack.String(L"Fake Corp");
    info.pszOEMUrl = pack.String(L"http://localhost/fake");
    info.pszHardwareID = pack.String(L"fake_laser");
    info.pszProvider = pack.String(d.provider);
    return record;
}

BOOL PackDrivers(const std::vector<const FakeDriver*>& drivers, DWORD level, BYTE* buffer, DWORD size, DWORD* needed,
                 DWORD* returned) {
    const size_t sizes[] = {0, sizeof(DRIVER_INFO_1W), sizeof(DRIVER_INFO_2W), sizeof(DRIVER_INFO_3W),
                            sizeof(DRIVER_INFO_4W), sizeof(DRIVER_INFO_5W), sizeof(DRIVER_INFO_6W)};
    if (level == 0 || level >= std::size(sizes)) return Fail(ERROR_INVALID_LEVEL);
    return PackRecords(drivers, sizes[level], buffer, size, needed, returned,
                       [level](Packer& pack, const FakeDriver* d) { return DriverInfo(level, pack, *d); });
}

// ---------------------------------------------------------------- DEVMODEs

std::vector<BYTE> CopyDevmode(const DEVMODEW* dm) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(dm);
    return dm ? std::vector<BYTE>(bytes, bytes + dm->dmSize + dm->dmDriverExtra) : std::vector<BYTE>();
}

// Copies the page fields (paper, orientation, resolution, form) of the input
// DEVMODE into the driver's default, as a driver validating a changed DEVMODE
// does; the library's measurements change no others. The paper is taken by
// its id: the library gives a paper's own length and width with it.
void MergeForValidation(DEVMODEW* out, const DEVMODEW* in, const FakePrinter& printer) {
    const DWORD f = in->dmFields;
    if ((f & DM_ORIENTATION) && !printer.ignoresOrientation) out->dmOrientation = in->dmOrientation;
    if (f & DM_PAPERSIZE) out->dmPaperSize = in->dmPaperSize;
    if (f & DM_PRINTQUALITY) out->dmPrintQuality = in->dmPrintQuality;
    if (f & DM_YRESOLUTION) out->dmYResolution = in->dmYResolution;
    if (f & DM_FORMNAME) std::memcpy(out->dmFormName, in->dmFormName, sizeof(out->dmFormName));
}

// Page metrics of a device context, computed as a driver would from the
// DEVMODE's paper, orientation and resolution, with 4.2 mm margins.
int Metric(const FakePrinter& printer, const DEVMODEW& dm, int index) {
    LONG width = 2159, length = 2794;  // Letter
    auto paper = std::find_if(printer.papers.begin(), printer.papers.end(),
                              [&](const FakePaper& p) { return p.id == static_cast<WORD>(dm.dmPaperSize); });
    if (paper != printer.papers.end()) width = paper->width, length = paper->length;
    if (dm.dmOrientation == DMORIENT_LANDSCAPE && !printer.ignoresOrientation) std::swap(width, length);
    auto indexed = printer.indexedDpi.find(dm.dmPrintQuality);  // negative qualities name a resolution
    const int dpiX = dm.dmPrintQuality > 0                  ? dm.dmPrintQuality
                     : indexed != printer.indexedDpi.end() ? indexed->second
                                                           : 300;
    const int dpiY = (dm.dmFields & DM_YRESOLUTION) && dm.dmYResolution > 0 ? dm.dmYResolution : dpiX;
    auto pixels = [](LONG tenthsMm, int dpi) { return static_cast<int>(static_cast<long long>(tenthsMm) * dpi / 254); };
    const int physW = pixels(width, dpiX), physH = pixels(length, dpiY);
    const int offX = pixels(42, dpiX), offY = pixels(42, dpiY);
    const int horzRes = physW - 2 * offX, vertRes = physH - 2 * offY;
    switch (index) {
    case PHYSICALWIDTH: return physW;
    case PHYSICALHEIGHT: return physH;
    case PHYSICALOFFSETX: return offX;
    case PHYSICALOFFSETY: return offY;
    case HORZRES: return horzRes;
    case VERTRES: return vertRes;
    case HORZSIZE: return static_cast<int>(horzRes * 254LL / (dpiX * 10LL));
    case VERTSIZE: return static_cast<int>(vertRes * 254LL / (dpiY * 10LL));
    case LOGPIXELSX: case ASPECTY: return dpiX;
    case LOGPIXELSY: case ASPECTX: return dpiY;
    case ASPECTXY: return static_cast<int>(std::hypot(dpiX, dpiY));
    default: break;
    }
    auto fixed = printer.deviceCaps.find(index);
    return fixed != printer.deviceCaps.end() ? fixed->second : 0;
}

}  // namespace

// ---------------------------------------------------------------- tables

// The functions installed into platform/, answering from the installed fake.
struct Tables {
    static FakePrintSystem& fake() { return *g_current; }
    static void CountFileCall() { ++fake().fileCalls_; }

    // Records a call on a printer handle: gives the error to answer (0: go
    // on) and the handle's printer.
    static DWORD EnterOnPrinter(HANDLE handle, Call call, FakePrinter*& printer) {
        printer = fake().handles_.count(handle) ? fake().Find(fake().handles_[handle]) : nullptr;
        if (printer) call.printer = printer->name;
        const DWORD error = fake().Enter(call);
        return error ? error : printer ? 0 : ERROR_INVALID_HANDLE;
    }
    // Records a call on a device context: gives the context's printer, null
    // for an unknown context or a failed call.
    static FakePrinter* EnterOnDC(HDC dc, Call call, DEVMODEW** devmode = nullptr) {
        auto found = fake().dcs_.find(dc);
        const bool known = found != fake().dcs_.end();
        if (known) call.printer = found->second.printer;
        if (fake().Enter(call) || !known) return nullptr;
        if (devmode) *devmode = AsDevmode(found->second.devmode);
        return fake().Find(call.printer);
    }

    static BOOL WINAPI EnumPrinters(DWORD flags, LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                                    LPDWORD returned) {
        if (returned) *returned = 0;
        if (needed) *needed = 0;
        if (DWORD error = fake().Enter({.op = Op::EnumPrinters, .arg = static_cast<int>(flags)})) return Fail(error);
        if (level != 2) return Fail(ERROR_INVALID_LEVEL);
        // PRINTER_ENUM_LOCAL lists the printers of this machine, PRINTER_ENUM_CONNECTIONS
        // the connections; the fake hands out everything for no flags at all.
        std::vector<const FakePrinter*> listed;
        for (const FakePrinter& p : fake().printers_)
            if (!flags || (flags & (p.connection ? PRINTER_ENUM_CONNECTIONS : PRINTER_ENUM_LOCAL)))
                listed.push_back(&p);
        return PackRecords(listed, sizeof(PRINTER_INFO_2W), buffer, size, needed, returned, PrinterInfo2);
    }

    static BOOL WINAPI OpenPrinter(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults) {
        if (handle) *handle = nullptr;
        const int access = defaults ? static_cast<int>(defaults->DesiredAccess) : 0;
        if (DWORD error = fake().Enter({.op = Op::OpenPrinter, .printer = Str(name), .arg = access}))
            return Fail(error);
        FakePrinter* printer = name ? fake().Find(name) : nullptr;
        if (!printer || !printer->openable || !handle) return Fail(ERROR_INVALID_PRINTER_NAME);
        *handle = reinterpret_cast<HANDLE>(fake().nextHandle_ += 4);
        fake().handles_[*handle] = printer->name;
        return TRUE;
    }

    // The spooler lets go of the handle (the context) before the driver's own
    // code runs: a scripted failure or fault still closes it.
    static BOOL WINAPI ClosePrinter(HANDLE handle) {
        auto found = fake().handles_.find(handle);
        if (found == fake().handles_.end()) return Fail(ERROR_INVALID_HANDLE);
        const std::wstring name = found->second;
        fake().handles_.erase(found);
        fake().Enter({.op = Op::ClosePrinter, .printer = name});
        return TRUE;
    }

    static LONG WINAPI DocumentProperties(HWND, HANDLE handle, LPWSTR, PDEVMODEW out, PDEVMODEW in, DWORD mode) {
        FakePrinter* printer;
        if (DWORD error = EnterOnPrinter(handle, {.op = Op::DocumentProperties}, printer))
            return Fail<LONG>(error, printer ? 0 : -1);
        if (mode == 0) {
            if (printer->documentPropertiesSize != INT_MIN) return printer->documentPropertiesSize;
            return static_cast<LONG>(printer->devmode.size());
        }
        if (printer->devmode.empty()) return 0;
        if ((mode & DM_OUT_BUFFER) && out) {
            std::vector<BYTE> result = printer->devmode;  // the input may be the output buffer
            if ((mode & DM_IN_BUFFER) && in) MergeForValidation(AsDevmode(result), in, *printer);
            std::memcpy(out, result.data(), result.size());
        }
        return IDOK;
    }

    static BOOL WINAPI GetPrinter(HANDLE handle, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
        if (needed) *needed = 0;
        FakePrinter* printer;
        if (DWORD error = EnterOnPrinter(handle, {.op = Op::GetPrinter}, printer)) return Fail(error);
        const std::vector<const FakePrinter*> one = {printer};
        if (level == 2) return PackRecords(one, sizeof(PRINTER_INFO_2W), buffer, size, needed, nullptr, PrinterInfo2);
        if (level != 8 && level != 9) return Fail(ERROR_INVALID_LEVEL);
        const std::vector<BYTE>* devmode = level == 8 ? &printer->globalDevmode : &printer->userDevmode;
        return PackRecords(std::vector{devmode}, sizeof(PRINTER_INFO_8W), buffer, size, needed, nullptr,
                           [](Packer& pack, auto* dm) { return PRINTER_INFO_8W{pack.Devmode(*dm)}; });
    }

    static BOOL WINAPI SetPrinter(HANDLE handle, DWORD level, LPBYTE buffer, DWORD) {
        FakePrinter* printer;
        if (DWORD error = EnterOnPrinter(handle, {.op = Op::SetPrinter}, printer)) return Fail(error);
        if (!buffer) return Fail(ERROR_INVALID_PARAMETER);
        if (level != 8 && level != 9) return Fail(ERROR_INVALID_LEVEL);
        const DEVMODEW* dm = reinterpret_cast<PRINTER_INFO_8W*>(buffer)->pDevMode;
        (level == 8 ? printer->globalDevmode : printer->userDevmode) = CopyDevmode(dm);
        return TRUE;
    }

    static BOOL WINAPI GetPrinterDriver(HANDLE handle, LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
        if (needed) *needed = 0;
        FakePrinter* printer;
        if (DWORD error = EnterOnPrinter(handle, {.op = Op::GetPrinterDriver}, printer)) return Fail(error);
        const FakeDriver* driver = fake().DriverNamed(printer->driverName);
        if (!driver) return Fail(ERROR_UNKNOWN_PRINTER_DRIVER);
        return PackDrivers({driver}, level, buffer, size, needed, nullptr);
    }

    static BOOL WINAPI EnumPrinterDrivers(LPWSTR, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                          LPDWORD needed, LPDWORD returned) {
        if (returned) *returned = 0;
        if (needed) *needed = 0;
        if (DWORD error = fake().Enter({.op = Op::EnumPrinterDrivers, .text = Str(environment)})) return Fail(error);
        std::vector<const FakeDriver*> listed;
        for (const FakeDriver& d : fake().drivers_)
            if (!environment || environment == std::wstring(kEnvironment)) listed.push_back(&d);
        auto answered = fake().driverLevelAs_.find(level);
        if (answered != fake().driverLevelAs_.end()) level = answered->second;
        return PackDrivers(listed, level, buffer, size, needed, returned);
    }

    static int WINAPI DeviceCapabilities(LPCWSTR device, LPCWSTR, WORD index, LPWSTR output, const DEVMODEW*) {
        const Call call{
            .op = Op::DeviceCapabilities, .printer = Str(device), .arg = index, .withOutput = output != nullptr};
        if (DWORD error = fake().Enter(call)) return Fail(error, -1);
        FakePrinter* printer = device ? fake().Find(device) : nullptr;
        if (!printer) return Fail(ERROR_INVALID_PRINTER_NAME, -1);
        auto found = printer->caps.find(index);
        if (found == printer->caps.end()) return 0;
        CapAnswer& answer = found->second;
        // Counting calls answer in turn, the last answer repeating.
        const size_t turn = std::min<size_t>(output ? 0 : ++answer.counted, answer.counts.size());
        if (answer.faultOnCalls.count(++answer.calls)) DriverFault();
        const size_t entries = answer.entryWidth ? answer.entries.size() / answer.entryWidth : 0;
        if (!output) return turn ? answer.counts[turn - 1] : static_cast<int>(entries);
        // A real driver writes its whole list, whatever it answered when
        // counted: the caller's array (a process-heap block) must hold it.
        const size_t bytes = entries * answer.entryWidth;
        const SIZE_T room = ::HeapSize(::GetProcessHeap(), 0, output);
        if (room == static_cast<SIZE_T>(-1) || room < bytes)
            ADD_FAILURE() << "DeviceCapabilitiesW " << index << " writes " << bytes << " bytes into an array of " << room;
        else if (bytes)
            std::memcpy(output, answer.entries.data(), bytes);
        return answer.fetchAnswer != INT_MIN ? answer.fetchAnswer : static_cast<int>(entries);
    }

    static DWORD WINAPI GetPrinterData(HANDLE handle, LPWSTR name, LPDWORD type, LPBYTE data, DWORD size,
                                       LPDWORD needed) {
        FakePrinter* printer;
        if (DWORD error = EnterOnPrinter(handle, {.op = Op::GetPrinterData}, printer)) return error;
        auto found = printer->data.find(Str(name));
        if (found == printer->data.end()) return ERROR_FILE_NOT_FOUND;
        const auto& [valueType, bytes] = found->second;
        if (type) *type = valueType;
        if (needed) *needed = static_cast<DWORD>(bytes.size());
        if (!data || size < bytes.size()) return ERROR_MORE_DATA;
        std::copy(bytes.begin(), bytes.end(), data);
        return ERROR_SUCCESS;
    }

    static DWORD WINAPI SetPrinterData(HANDLE handle, LPWSTR name, DWORD type, LPBYTE data, DWORD size) {
        FakePrinter* printer;
        if (DWORD error = EnterOnPrinter(handle, {.op = Op::SetPrinterData}, printer)) return error;
        printer->data[Str(name)] = {type, std::vector<BYTE>(data, data + size)};
        return ERROR_SUCCESS;
    }

    static DWORD WINAPI DeletePrinterData(HANDLE handle, LPWSTR name) {
        FakePrinter* printer;
        if (DWORD error = EnterOnPrinter(handle, {.op = Op::DeletePrinterData}, printer)) return error;
        return printer->data.erase(Str(name)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }

    static HDC WINAPI CreateDC(LPCWSTR driver, LPCWSTR device, LPCWSTR, const DEVMODEW* dm) {
        const Call call{.op = Op::CreateDC, .printer = Str(device), .text = Str(driver), .devmode = CopyDevmode(dm)};
        if (DWORD error = fake().Enter(call)) return Fail<HDC>(error, nullptr);
        FakePrinter* printer = device ? fake().Find(device) : nullptr;
        if (!printer) return Fail<HDC>(ERROR_INVALID_PRINTER_NAME, nullptr);
        std::vector<BYTE> devmode = dm ? call.devmode : printer->devmode;
        if (devmode.empty()) devmode = MakeDevmode(printer->name, 0);
        HDC dc = reinterpret_cast<HDC>(fake().nextHandle_ += 4);
        fake().dcs_[dc] = {printer->name, std::move(devmode)};
        return dc;
    }

    static int WINAPI GetDeviceCaps(HDC dc, int index) {
        DEVMODEW* dm = nullptr;
        FakePrinter* printer = EnterOnDC(dc, {.op = Op::GetDeviceCaps, .arg = index}, &dm);
        return printer ? Metric(*printer, *dm, index) : 0;
    }

    static int WINAPI ExtEscape(HDC dc, int escape, int inputSize, LPCSTR input, int, LPSTR) {
        int asked = 0;
        if (escape == QUERYESCSUPPORT && input && inputSize >= 4) std::memcpy(&asked, input, 4);
        FakePrinter* printer = EnterOnDC(dc, {.op = Op::ExtEscape, .arg = asked});
        if (!printer || escape != QUERYESCSUPPORT) return 0;
        auto found = printer->escapes.find(asked);
        return found != printer->escapes.end() ? found->second : 0;
    }

    static BOOL WINAPI DeleteDC(HDC dc) {
        auto found = fake().dcs_.find(dc);
        if (found == fake().dcs_.end()) return FALSE;
        const std::wstring name = found->second.printer;
        fake().dcs_.erase(found);
        fake().Enter({.op = Op::DeleteDC, .printer = name});
        return TRUE;
    }

    static BOOL WINAPI GetVersionEx(LPOSVERSIONINFOW info) {
        const DWORD size = info ? info->dwOSVersionInfoSize : 0;
        const DWORD error = fake().Enter({.op = Op::GetVersionEx, .arg = static_cast<int>(size)});
        if (error || !info) return Fail(error ? error : ERROR_INVALID_PARAMETER);
        *info = fake().version_;
        return TRUE;
    }
};

namespace {

// The files are the real ones, counted.
template <auto Member, class... Args>
auto CountedFileCall(Args... args) {
    Tables::CountFileCall();
    return (platform::RealFiles().*Member)(args...);
}
const platform::FileApi kCountedFiles = {
    [](LPCWSTR n, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f, HANDLE t) -> HANDLE {
        return CountedFileCall<&platform::FileApi::CreateFileW>(n, a, s, sa, c, f, t);
    },
    [](HANDLE h, LPVOID b, DWORD n, LPDWORD r, LPOVERLAPPED o) -> BOOL {
        return CountedFileCall<&platform::FileApi::ReadFile>(h, b, n, r, o);
    },
    [](HANDLE h, LPCVOID b, DWORD n, LPDWORD w, LPOVERLAPPED o) -> BOOL {
        return CountedFileCall<&platform::FileApi::WriteFile>(h, b, n, w, o);
    },
    [](HANDLE h, LPDWORD high) -> DWORD { return CountedFileCall<&platform::FileApi::GetFileSize>(h, high); },
    [](LPCWSTR n) -> BOOL { return CountedFileCall<&platform::FileApi::DeleteFileW>(n); },
};

// Change notification stays Wine's (no change handle); the notification tests script it.
const platform::SpoolerApi kFakeSpooler = {
    Tables::EnumPrinters,       Tables::OpenPrinter,    Tables::ClosePrinter,    Tables::DocumentProperties,
    Tables::GetPrinter,         Tables::SetPrinter,     Tables::GetPrinterDriver, Tables::EnumPrinterDrivers,
    Tables::DeviceCapabilities, Tables::GetPrinterData, Tables::SetPrinterData,  Tables::DeletePrinterData,
    ::FindFirstPrinterChangeNotification, ::FindNextPrinterChangeNotification, ::FreePrinterNotifyInfo,
    ::FindClosePrinterChangeNotification,
};

// A DeviceCapabilitiesW answer listing what `field` gives for each item of
// the list, each value as its bytes.
template <class List, class Field>
CapAnswer Entries(const List& list, Field field) {
    CapAnswer answer{.entryWidth = sizeof(decltype(field(list.front())))};
    for (const auto& item : list) {
        const auto value = field(item);
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
        answer.entries.insert(answer.entries.end(), bytes, bytes + sizeof(value));
    }
    return answer;
}

// A DeviceCapabilitiesW answer listing what `name` gives for each item in
// slots of slotChars characters (a name that fills its slot has no terminator).
template <class List, class Name>
CapAnswer Names(size_t slotChars, const List& list, Name name) {
    CapAnswer answer{.entryWidth = slotChars * sizeof(WCHAR)};
    for (const auto& item : list) {
        std::wstring slot = name(item);
        slot.resize(slotChars, L'\0');
        const BYTE* bytes = reinterpret_cast<const BYTE*>(slot.data());
        answer.entries.insert(answer.entries.end(), bytes, bytes + answer.entryWidth);
    }
    return answer;
}

}  // namespace

// ---------------------------------------------------------------- printers

void FakePrinter::SetPapers(const std::vector<FakePaper>& list) {
    papers = list;
    caps[DC_PAPERNAMES] = Names(64, list, [](const FakePaper& p) { return p.name; });
    caps[DC_PAPERS] = Entries(list, [](const FakePaper& p) { return p.id; });
    caps[DC_PAPERSIZE] = Entries(list, [](const FakePaper& p) { return POINT{p.width, p.length}; });
}

void FakePrinter::SetBins(const std::vector<std::pair<WORD, std::wstring>>& list) {
    caps[DC_BINNAMES] = Names(24, list, [](const auto& bin) { return bin.second; });
    caps[DC_BINS] = Entries(list, [](const auto& bin) { return bin.first; });
}

void FakePrinter::SetMedia(const std::vector<std::pair<DWORD, std::wstring>>& list) {
    caps[DC_MEDIATYPENAMES] = Names(64, list, [](const auto& media) { return media.second; });
    caps[DC_MEDIATYPES] = Entries(list, [](const auto& media) { return media.first; });
}

void FakePrinter::SetResolutions(const std::vector<std::pair<LONG, LONG>>& list) {
    caps[DC_ENUMRESOLUTIONS] = Entries(list, [](const auto& dpi) { return POINT{dpi.first, dpi.second}; });
}

void FakePrinter::SetNames(WORD index, size_t slotChars, const std::vector<std::wstring>& names) {
    caps[index] = Names(slotChars, names, [](const std::wstring& name) { return name; });
}
void FakePrinter::SetValues(WORD index, const std::vector<DWORD>& values) {
    caps[index] = Entries(values, [](DWORD value) { return value; });
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
    dm->dmPrintQuality = dm->dmYResolution = 300;
    dm->dmColor = DMCOLOR_MONOCHROME;
    dm->dmDuplex = DMDUP_SIMPLEX;
    dm->dmCollate = DMCOLLATE_FALSE;
    lstrcpynW(dm->dmFormName, L"Letter", CCHFORMNAME);
    for (WORD i = 0; i < driverExtra; ++i) bytes[sizeof(DEVMODEW) + i] = static_cast<BYTE>(0xA0 + (i & 0x0F));
    return bytes;
}

// ---------------------------------------------------------------- system

FakePrintSystem::FakePrintSystem()
    : spooler_(platform::spooler, kFakeSpooler),
      gdi_(platform::gdi, {Tables::CreateDC, Tables::GetDeviceCaps, Tables::ExtEscape, Tables::DeleteDC}),
      version_api_(platform::version, {Tables::GetVersionEx}),
      files_(platform::files, kCountedFiles) {
    if (g_current) throw std::logic_error("only one FakePrintSystem at a time");
    g_current = this;
    SetVersion(VER_PLATFORM_WIN32_NT, 6, 1, 7601, L"Service Pack 1");
}

FakePrintSystem::~FakePrintSystem() { g_current = nullptr; }

FakePrinter& FakePrintSystem::AddPrinter(const std::wstring& name) {
    FakePrinter& p = printers_.emplace_back(FakePrinter{.name = name, .devmode = MakeDevmode(name)});
    p.SetPapers({{DMPAPER_LETTER, L"Letter", 2159, 2794}, {DMPAPER_A4, L"A4", 2100, 2970}});
    p.SetBins({{DMBIN_AUTO, L"Automatically Select"}, {DMBIN_UPPER, L"Tray 1"}});
    p.SetResolutions({{300, 300}, {600, 600}});
    p.deviceCaps = {{DRIVERVERSION, 0x0400}, {TECHNOLOGY, DT_RASPRINTER}, {BITSPIXEL, 1}, {PLANES, 1},
                    {NUMCOLORS, 2},          {RASTERCAPS, 0x6E99},      {TEXTCAPS, 0x5D37}};
    if (!DriverNamed(p.driverName)) AddDriver(p.driverName);
    return p;
}

FakePrinter* FakePrintSystem::Find(const std::wstring& name) { return Named(printers_, name); }
const FakeDriver* FakePrintSystem::DriverNamed(const std::wstring& name) const { return Named(drivers_, name); }

FakeDriver& FakePrintSystem::AddDriver(const std::wstring& name) { return drivers_.emplace_back(FakeDriver{.name = name}); }

void FakePrintSystem::SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build,
                                 const std::wstring& servicePack) {
    version_ = {sizeof(version_), major, minor, build, platformId, {}};
    lstrcpynW(version_.szCSDVersion, servicePack.c_str(), 128);
}

void FakePrintSystem::FaultOn(Op op, int nthCall) { failures_[{static_cast<int>(op), nthCall}] = 0; }

void FakePrintSystem::FailOn(Op op, int nthCall, DWORD error) { failures_[{static_cast<int>(op), nthCall}] = error; }

DWORD FakePrintSystem::Enter(const Call& call) {
    calls_.push_back(call);
    if (call.op != Op::GetVersionEx && ++driverCalls_ == faultOnDriverCall_) {
        if (throwOnDriverCall_) throw std::bad_alloc();
        DriverFault();
    }
    auto found = failures_.find({static_cast<int>(call.op), ++counts_[static_cast<int>(call.op)]});
    if (found == failures_.end()) return 0;
    if (found->second == 0) DriverFault();
    return found->second;
}

}  // namespace fake
