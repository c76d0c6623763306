#include "printer/printer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/guard.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "print/driver_info.h"
#include "print/printer_handle.h"
#include "print/struct_dumps.h"
#include "printer/printer_keys.h"

// ------------------------------------------------------------ construction

CPrinter::CPrinter(TraceLog* log, std::wstring name, DWORD defaultCacheMethod, DWORD notifyId)
    : pLog(log),
      bInfoChanged(0),
      osvi{},
      dwNotifyId(notifyId),
      pDefDM(nullptr),
      bAvailable(0),
      pPI2(nullptr),
      pDriverInfo(nullptr),
      strPrinterName(std::move(name)),
      queryBuffers{},
      dwIgnoreLogPixels(0),
      dwCacheMethod(defaultCacheMethod) {
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    platform::version.GetVersionExW(&osvi);

    dwCacheMethod = ReadCacheMethod(defaultCacheMethod);
    SetUpNotification();

    // A constructor that throws (our own code out of memory) gets no
    // destructor: what the object holds so far goes back here.
    try {
        TraceLogWrite(pLog, 0, L"CPrinter => =============================================================\n");
        TraceLogWrite(pLog, 0, L"CPrinter => printer: %s\n", strPrinterName.c_str());
        InitializeInfo();
        MirrorPrinterInfo2(pPI2);
        LoadFromCache();
        GetLocalOptions();
    } catch (...) {
        TearDownNotification();
        ReleaseInfo();
        ClearQueryBuffers();
        throw;
    }
}

static_assert(sizeof(OSVERSIONINFOW) == 276);

DWORD CPrinter::ReadCacheMethod(DWORD defaultMethod) {
    DWORD method = defaultMethod;
    // Per machine first; the per-user key only when the machine key cannot be
    // opened, not when it merely lacks the value.
    platform::PerMachineThenPerUser([&](HKEY hive) {
        platform::ScopedKey key;
        if (platform::registry.RegOpenKeyExW(hive, kPrintersKey, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS)
            return false;
        platform::QueryDword(key.get(), L"CacheMethod", &method);
        return true;
    });
    if (method == kCacheNowhere) TraceLogWrite(pLog, 0, L"CPrinter::CPrinter => not using caching!\n");
    return method;
}

// ------------------------------------------------------------ information

void CPrinter::InitializeInfo() {
    // A second call starts from nothing rather than leaking what the first read.
    ReleaseInfo();

    bAvailable = 0;
    TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => opening printer...\n");

    LPWSTR name = const_cast<LPWSTR>(strPrinterName.c_str());
    bool openFaulted = false;
    HANDLE printer = vlibPRINT_OpenPrinterGuarded(name, nullptr, &openFaulted);
    if (!printer) {
        TraceLogWrite(pLog, 0, openFaulted ? L"CPrinter::InitializeInfo => exception occurred during OpenPrinter\n"
                                           : L"CPrinter::InitializeInfo => failed to open printer\n");
        TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => finished\n");
        return;
    }

    // Our own code may run out of memory while the printer is open: the
    // handle goes back on that way out too.
    try {
        // The driver's default DEVMODE.
        bAvailable = 1;
        TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => Getting required size of devmode\n");
        LONG required = 0;
        bool faulted = !platform::Guarded(
            [&] { required = platform::spooler.DocumentPropertiesW(nullptr, printer, name, nullptr, nullptr, 0); });
        if (!faulted) {
            TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => required size of devmode: %d\n", required);
            // A negative or zero size leaves nothing to fill. The block is never
            // smaller than the public DEVMODE, so its dump cannot read past it.
            if (required > 0) {
                const size_t bytes = std::max(static_cast<size_t>(required), sizeof(DEVMODEW));
                pDefDM = platform::HeapAllocZeroAs<DEVMODEW>(bytes);
            }
            if (!pDefDM) {
                TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => couldn't allocate memory for pDefDM\n");
            } else {
                TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => having driver fill in devmode with default values\n");
                LONG filled = 0;
                DWORD error = 0;
                DEVMODEW* out = pDefDM;
                faulted = !platform::Guarded([&] {
                    filled = platform::spooler.DocumentPropertiesW(nullptr, printer, name, out, nullptr, DM_OUT_BUFFER);
                    error = ::GetLastError();
                });
                if (!faulted) {
                    // Only 0 is a failure: drivers answer IDOK or other positive values.
                    if (filled == 0) {
                        TraceLogError(pLog, 0, error);
                        TraceLogWrite(pLog, 0,
                                      L"CPrinter::InitializeInfo => DocumentProperties function failed to get default devmode\n");
                    }
                    LogDevmode(pDefDM, pLog);
                }
            }
        }
        if (faulted) {
            TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => exception occurred during DocumentProperties\n");
            platform::HeapFreeBlock(pDefDM);
            pDefDM = nullptr;
            bAvailable = 0;
        }

        // Level-2 printer information.
        if (bAvailable) {
            TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => getting printer info 2\n");
            LPBYTE info = nullptr;
            if (!platform::Guarded([&] { info = vlibPRINT_GetPrinterInfo(printer, 2); })) {
                TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => exception occurred during GetPrinter\n");
                bAvailable = 0;
            } else if (!info) {
                TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => assuming printer isn't available\n");
                bAvailable = 0;
            } else {
                pPI2 = reinterpret_cast<PRINTER_INFO_2W*>(info);
                vlibPRINT_LogPI2(pLog, pPI2);
            }
        }

        // Driver information.
        if (bAvailable) {
            TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => getting driver info\n");
            LPBYTE info = nullptr;
            if (!platform::Guarded([&] { info = GetDriverInfo(printer, 1); })) {
                TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => exception occurred during GetPrinter\n");
                bAvailable = 0;
            } else if (info) {
                pDriverInfo = reinterpret_cast<DRIVER_INFO_1W*>(info);
                TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => driver: %s\n", pDriverInfo->pName);
            } else {
                TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => failed to get driver info\n");
            }
        }
    } catch (...) {
        vlibPRINT_ClosePrinterGuarded(printer);
        throw;
    }

    TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => closing printer\n");
    if (!vlibPRINT_ClosePrinterGuarded(printer))
        TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => exception occurred during ClosePrinter\n");
    TraceLogWrite(pLog, 0, L"CPrinter::InitializeInfo => finished\n");
}

void CPrinter::MirrorPrinterInfo2(PRINTER_INFO_2W* pi2) {
    TraceLogWrite(pLog, 0, L"CPrinter::MirrorPrinterInfo2 => \n");
    if (!pi2) {
        TraceLogWrite(pLog, 0, L"CPrinter::MirrorPrinterInfo2 => PI2 is NULL!?!?\n");
        return;
    }
    if (pi2->pPrinterName) strPrinterName = pi2->pPrinterName;
    if (pi2->pComment) strComment = pi2->pComment;
    if (pi2->pLocation) strLocation = pi2->pLocation;
    TraceLogWrite(pLog, 0, L"CPrinter::MirrorPrinterInfo2 => finished\n");
}

void CPrinter::UpdatePrinterInfo() {
    if (!bInfoChanged) return;
    bool openFaulted = false;
    HANDLE printer = vlibPRINT_OpenPrinterGuarded(strPrinterName.c_str(), nullptr, &openFaulted);
    if (openFaulted) TraceLogWrite(pLog, 0, L"CPrinter::UpdatePrinterInfo => exception occurred during OpenPrinter\n");
    if (printer) {
        LPBYTE info = nullptr;
        try {
            if (!platform::Guarded([&] { info = vlibPRINT_GetPrinterInfo(printer, 2); })) {
                TraceLogWrite(pLog, 0, L"CPrinter::UpdatePrinterInfo => exception occurred during GetPrinter\n");
                info = nullptr;
            }
            MirrorPrinterInfo2(reinterpret_cast<PRINTER_INFO_2W*>(info));
        } catch (...) {  // out of memory for the strings: the block and the handle go back
            platform::HeapFreeBlock(info);
            vlibPRINT_ClosePrinterGuarded(printer);
            throw;
        }
        platform::HeapFreeBlock(info);
        if (!vlibPRINT_ClosePrinterGuarded(printer))
            TraceLogWrite(pLog, 0, L"CPrinter::UpdatePrinterInfo => exception occurred during ClosePrinter\n");
    }
    bInfoChanged = 0;
}

void CPrinter::ReleaseInfo() {
    platform::HeapFreeBlock(pDefDM);
    platform::HeapFreeBlock(pPI2);
    platform::HeapFreeBlock(pDriverInfo);
    pDefDM = nullptr;
    pPI2 = nullptr;
    pDriverInfo = nullptr;
}

// ------------------------------------------------------------ default DEVMODEs

DEVMODEW* CPrinter::GetGlobalDefaultDM() { return GetDefaultDM(8, L"CPrinter::GetGlobalDefaultDM"); }
DEVMODEW* CPrinter::GetUserDefaultDM() { return GetDefaultDM(9, L"CPrinter::GetUserDefaultDM"); }

DEVMODEW* CPrinter::GetDefaultDM(DWORD level, const WCHAR* function) {
    bool openFaulted = false;
    HANDLE printer = vlibPRINT_OpenPrinterGuarded(strPrinterName.c_str(), nullptr, &openFaulted);
    if (openFaulted) TraceLogWrite(pLog, 0, L"%s => exception occurred during OpenPrinter\n", function);
    if (!printer) return nullptr;

    TraceLogWrite(pLog, 0, L"%s => getting printer info %d\n", function, level);
    LPBYTE info = nullptr;
    DEVMODEW* copy = nullptr;
    bool closing = false;
    try {
        const bool clean = platform::Guarded([&] {
            info = vlibPRINT_GetPrinterInfo(printer, level);
            // Levels 8 and 9 hold nothing but the DEVMODE pointer.
            const DEVMODEW* dm = info ? reinterpret_cast<PRINTER_INFO_8W*>(info)->pDevMode : nullptr;
            if (dm) {
                const size_t bytes = static_cast<size_t>(dm->dmSize) + dm->dmDriverExtra;
                copy = platform::HeapAllocZeroAs<DEVMODEW>(std::max(bytes, sizeof(DEVMODEW)));
                if (copy) std::memcpy(copy, dm, bytes);
            }
        });
        if (!clean) TraceLogWrite(pLog, 0, L"%s => exception occurred during GetPrinter\n", function);
        if (copy) LogDevmode(copy, pLog);
        platform::HeapFreeBlock(std::exchange(info, nullptr));
        closing = true;  // the spooler lets go of the handle before the driver's code runs
        vlibPRINT_ClosePrinterGuarded(printer);
    } catch (...) {  // a C++ exception passing the guards: nothing is kept, the handle goes back
        platform::HeapFreeBlock(copy);
        platform::HeapFreeBlock(info);
        if (!closing) vlibPRINT_ClosePrinterGuarded(printer);
        throw;
    }
    return copy;
}

void CPrinter::SetGlobalDefaultDM(DEVMODEW* pDevMode) { SetDefaultDM(8, pDevMode, L"CPrinter::SetGlobalDefaultDM"); }
void CPrinter::SetUserDefaultDM(DEVMODEW* pDevMode) { SetDefaultDM(9, pDevMode, L"CPrinter::SetUserDefaultDM"); }

// The level-8 setter traces the same steps as the level-9 one, under its own name.
void CPrinter::SetDefaultDM(DWORD level, DEVMODEW* pDevMode, const WCHAR* function) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    bool openFaulted = false;
    HANDLE printer = vlibPRINT_OpenPrinterGuarded(strPrinterName.c_str(), &defaults, &openFaulted);
    if (openFaulted) TraceLogWrite(pLog, 0, L"%s => exception occurred during OpenPrinter\n", function);
    if (!printer) return;

    TraceLogWrite(pLog, 0, L"%s => setting printer info %d\n", function, level);
    // PRINTER_INFO_8W and PRINTER_INFO_9W are the same single pointer.
    auto* info = platform::HeapAllocZeroAs<PRINTER_INFO_9W>(sizeof(PRINTER_INFO_9W));
    if (info) {
        info->pDevMode = pDevMode;
        BOOL set = FALSE;
        bool clean = false;
        try {
            LogDevmode(pDevMode, pLog);
            clean = platform::Guarded(
                [&] { set = platform::spooler.SetPrinterW(printer, level, reinterpret_cast<LPBYTE>(info), 0); });
        } catch (...) {  // a C++ exception passing the guards: the block and the handle go back
            platform::HeapFreeBlock(info);
            vlibPRINT_ClosePrinterGuarded(printer);
            throw;
        }
        if (!clean)
            TraceLogWrite(pLog, 0, L"%s => exception occurred during SetPrinter\n", function);
        else if (!set)
            TraceLogWrite(pLog, 0, L"%s => failed to set printer info %d\n", function, level);
        platform::HeapFreeBlock(info);
    }
    vlibPRINT_ClosePrinterGuarded(printer);
}

// ------------------------------------------------------------ capability set

void CPrinter::ClearQueryBuffers() {
    vlibPRINT_FreeQueryBuffers(&queryBuffers);
    dwIgnoreLogPixels = 0;
}

caps4* CPrinter::SerializeCaps4() { return vlibPRINT_PackCaps4(&queryBuffers); }

void CPrinter::DeserializeCaps4(const caps4* record, size_t available) {
    if (!vlibPRINT_Caps4Loadable(record, available)) return;
    if (queryBuffers.bFilled) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::DeserializeCaps4 => query buffers already filled! clearing\n");
        ClearQueryBuffers();
    } else {
        vlibPRINT_FreeQueryBuffers(&queryBuffers);  // what an unfinished query left behind
    }
    vlibPRINT_LoadCaps4(&queryBuffers, record);
}

void CPrinter::DeserializeCaps4(const caps4* record) { DeserializeCaps4(record, record ? record->dwSize : 0); }

// ------------------------------------------------------------ destruction

CPrinter::~CPrinter() {
    TraceLogWrite(pLog, 0, L"~CPrinter => deleting object: %s\n", strPrinterName.c_str());
    TearDownNotification();
    ReleaseInfo();
    ClearQueryBuffers();
    TraceLogWrite(pLog, 0, L"~CPrinter => deleted\n");
}
