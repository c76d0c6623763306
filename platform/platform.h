// The one door to the operating system.
//
// Spooler, GDI, version, registry, shell, the event / thread / wait operations
// and the cache file's operations are reached through plain tables of function
// pointers. Each table is bound to the real Win32 functions at start-up; a
// test installs a table of its own with ScopedApi and gets the real one back
// when the scope ends. The process heap and the other kernel services (the
// trace log's files, code pages) are in platform/kernel.h.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winspool.h>
#include <shellapi.h>
#include <shlwapi.h>

namespace platform {

// Print spooler. Every operation that can run printer-driver code is called
// by the library inside a structured-exception guard (see guard.h).
struct SpoolerApi {
    decltype(&::EnumPrintersW) EnumPrintersW;
    decltype(&::OpenPrinterW) OpenPrinterW;
    decltype(&::ClosePrinter) ClosePrinter;
    decltype(&::DocumentPropertiesW) DocumentPropertiesW;
    decltype(&::GetPrinterW) GetPrinterW;
    decltype(&::SetPrinterW) SetPrinterW;
    decltype(&::GetPrinterDriverW) GetPrinterDriverW;
    decltype(&::EnumPrinterDriversW) EnumPrinterDriversW;
    decltype(&::DeviceCapabilitiesW) DeviceCapabilitiesW;
    decltype(&::GetPrinterDataW) GetPrinterDataW;
    decltype(&::SetPrinterDataW) SetPrinterDataW;
    decltype(&::DeletePrinterDataW) DeletePrinterDataW;
    decltype(&::FindFirstPrinterChangeNotification) FindFirstPrinterChangeNotification;
    decltype(&::FindNextPrinterChangeNotification) FindNextPrinterChangeNotification;
    decltype(&::FreePrinterNotifyInfo) FreePrinterNotifyInfo;
    decltype(&::FindClosePrinterChangeNotification) FindClosePrinterChangeNotification;
};

// GDI device contexts.
struct GdiApi {
    decltype(&::CreateDCW) CreateDCW;
    decltype(&::GetDeviceCaps) GetDeviceCaps;
    decltype(&::ExtEscape) ExtEscape;
    decltype(&::DeleteDC) DeleteDC;
};

// Operating-system version.
struct VersionApi {
    decltype(&::GetVersionExW) GetVersionExW;
};

// Registry.
struct RegistryApi {
    decltype(&::RegOpenKeyExW) RegOpenKeyExW;
    decltype(&::RegOpenKeyExA) RegOpenKeyExA;
    decltype(&::RegQueryValueExW) RegQueryValueExW;
    decltype(&::RegQueryValueExA) RegQueryValueExA;
    decltype(&::RegCreateKeyExW) RegCreateKeyExW;
    decltype(&::RegSetValueExW) RegSetValueExW;
    decltype(&::RegDeleteValueW) RegDeleteValueW;
    decltype(&::RegCloseKey) RegCloseKey;
    decltype(&::SHDeleteKeyW) SHDeleteKeyW;
};

// Shell.
struct ShellApi {
    decltype(&::CommandLineToArgvW) CommandLineToArgvW;
};

// Events, threads and waits of the change-notification thread, and the
// condition on which a stop or a removal waits for a callback to return.
struct KernelApi {
    decltype(&::CreateEventW) CreateEventW;
    decltype(&::SetEvent) SetEvent;
    decltype(&::ResetEvent) ResetEvent;
    decltype(&::WaitForSingleObject) WaitForSingleObject;
    decltype(&::WaitForMultipleObjects) WaitForMultipleObjects;
    decltype(&::CreateThread) CreateThread;
    decltype(&::Sleep) Sleep;
    decltype(&::CloseHandle) CloseHandle;
    decltype(&::SleepConditionVariableCS) SleepConditionVariableCS;
    decltype(&::WakeAllConditionVariable) WakeAllConditionVariable;
};

// The cache file of the capability record.
struct FileApi {
    decltype(&::CreateFileW) CreateFileW;
    decltype(&::ReadFile) ReadFile;
    decltype(&::WriteFile) WriteFile;
    decltype(&::GetFileSize) GetFileSize;
    decltype(&::DeleteFileW) DeleteFileW;
};

extern SpoolerApi spooler;
extern GdiApi gdi;
extern VersionApi version;
extern RegistryApi registry;
extern ShellApi shell;
extern KernelApi kernel;
extern FileApi files;

// The tables bound to the real Win32 functions.
const SpoolerApi& RealSpooler();
const GdiApi& RealGdi();
const VersionApi& RealVersion();
const RegistryApi& RealRegistry();
const ShellApi& RealShell();
const KernelApi& RealKernel();
const FileApi& RealFiles();

// Installs a replacement table for the lifetime of the object and puts the
// previous one back afterwards. Scopes nest.
template <class Api>
class ScopedApi {
public:
    ScopedApi(Api& slot, const Api& replacement) : slot_(slot), saved_(slot) { slot_ = replacement; }
    ~ScopedApi() { slot_ = saved_; }
    ScopedApi(const ScopedApi&) = delete;
    ScopedApi& operator=(const ScopedApi&) = delete;

private:
    Api& slot_;
    Api saved_;
};

}  // namespace platform
