#include "platform/platform.h"

namespace platform {

const SpoolerApi& RealSpooler() {
    static const SpoolerApi api = {
        ::EnumPrintersW,
        ::OpenPrinterW,
        ::ClosePrinter,
        ::DocumentPropertiesW,
        ::GetPrinterW,
        ::SetPrinterW,
        ::GetPrinterDriverW,
        ::EnumPrinterDriversW,
        ::DeviceCapabilitiesW,
        ::GetPrinterDataW,
        ::SetPrinterDataW,
        ::DeletePrinterDataW,
        ::FindFirstPrinterChangeNotification,
        ::FindNextPrinterChangeNotification,
        ::FreePrinterNotifyInfo,
        ::FindClosePrinterChangeNotification,
    };
    return api;
}

const GdiApi& RealGdi() {
    static const GdiApi api = {::CreateDCW, ::GetDeviceCaps, ::ExtEscape, ::DeleteDC};
    return api;
}

const VersionApi& RealVersion() {
    static const VersionApi api = {::GetVersionExW};
    return api;
}

const RegistryApi& RealRegistry() {
    static const RegistryApi api = {
        ::RegOpenKeyExW, ::RegOpenKeyExA,   ::RegQueryValueExW, ::RegQueryValueExA, ::RegCreateKeyExW,
        ::RegSetValueExW, ::RegDeleteValueW, ::RegCloseKey,      ::SHDeleteKeyW,
    };
    return api;
}

const ShellApi& RealShell() {
    static const ShellApi api = {::CommandLineToArgvW};
    return api;
}

const KernelApi& RealKernel() {
    static const KernelApi api = {
        ::CreateEventW, ::SetEvent, ::ResetEvent, ::WaitForSingleObject, ::WaitForMultipleObjects,
        ::CreateThread, ::Sleep,    ::CloseHandle,     ::SleepConditionVariableCS, ::WakeAllConditionVariable,
    };
    return api;
}

const FileApi& RealFiles() {
    static const FileApi api = {::CreateFileW, ::ReadFile, ::WriteFile, ::GetFileSize, ::DeleteFileW};
    return api;
}

SpoolerApi spooler = RealSpooler();
GdiApi gdi = RealGdi();
VersionApi version = RealVersion();
RegistryApi registry = RealRegistry();
ShellApi shell = RealShell();
KernelApi kernel = RealKernel();
FileApi files = RealFiles();

}  // namespace platform
