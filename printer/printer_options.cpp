// Local print options: the per-printer values administrators and users set
// in the registry. Four are read when the printer object is built; "AnsiOnly"
// and "IgnoreLogPixels" are looked up at the start of every capability query.
//
// Several trace texts here carry the name of CPrinter::Query although they are
// written at construction; they are kept as they are because the log readers
// know them by these texts.
#include "platform/registry.h"
#include "print/printer_names.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"

namespace {

// The four construction-time options in the order they are read, with the
// member each lands in.
struct LocalOption {
    const WCHAR* name;
    DWORD CPrinter::*member;
    const WCHAR* readLine;  // the value line under HKEY_LOCAL_MACHINE
    const WCHAR* userReadLine;  // the value line under HKEY_CURRENT_USER
    const WCHAR* failLine;
};

const LocalOption kLocalOptions[] = {
    {L"bSecondDialog", &CPrinter::bSecondDialog, L"CPrinter::Query => bSecondDialog: %lu\n",
     L"CPrinter::Query => bSecondDialog: %d\n", L"CPrinter::Query => couldn't get value bSecondDialog\n"},
    {L"bPrintAsImage", &CPrinter::bPrintAsImage, L"CPrinter::Query => bPrintAsImage: %d\n",
     L"CPrinter::Query => bPrintAsImage: %d\n", L"CPrinter::Query => couldn't get value bPrintAsImage\n"},
    {L"dwPrintAsImageDPI", &CPrinter::dwPrintAsImageDPI, L"CPrinter::Query => dwPrintAsImageDPI: %d\n",
     L"CPrinter::Query => dwPrintAsImageDPI: %d\n", L"CPrinter::Query => couldn't get value dwPrintAsImageDPI\n"},
    {L"dwFontEmbed", &CPrinter::dwFontEmbed, L"CPrinter::Query => dwFontEmbed: %d\n",
     L"CPrinter::Query => dwFontEmbed: %d\n", L"CPrinter::Query => couldn't get value dwFontEmbed\n"},
};

}  // namespace

void CPrinter::ReadLocalOptionValues(HKEY printersKey, BOOL perUser) {
    platform::ScopedKey printerKey;
    const std::wstring subkey = vlibPRINT_PrinterNameToRegistrySafeName(strPrinterName);
    if (platform::registry.RegOpenKeyExW(printersKey, subkey.c_str(), 0, KEY_QUERY_VALUE, printerKey.receive()) !=
        ERROR_SUCCESS) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => couldn't open printer key\n");
        return;
    }
    for (const LocalOption& option : kLocalOptions) {
        DWORD value = 0;
        if (platform::QueryDword(printerKey.get(), option.name, &value) == ERROR_SUCCESS) {
            this->*option.member = value;
            TraceLogWrite(LibraryLog, 0, perUser ? option.userReadLine : option.readLine, value);
        } else {
            this->*option.member = 0;
            TraceLogWrite(LibraryLog, 0, option.failLine);
        }
    }
}

void CPrinter::GetLocalOptions() {
    // The per-machine place decides alone as soon as its Printers key exists,
    // even when the printer's subkey or a value is missing there.
    platform::PerMachineThenPerUser([&](HKEY hive) {
        const bool perUser = hive == HKEY_CURRENT_USER;
        platform::ScopedKey printers;
        if (platform::registry.RegOpenKeyExW(hive, kPrintersKey, 0, KEY_QUERY_VALUE, printers.receive()) !=
            ERROR_SUCCESS) {
            TraceLogWrite(LibraryLog, 0, perUser ? L"CPrinter::Query => couldn't open HKCU/kvprinters key\n"
                                                 : L"CPrinter::Query => couldn't open HKLM/kvprinters key\n");
            return false;
        }
        TraceLogWrite(LibraryLog, 0, perUser ? L"CPrinter::Query => opened our printers key\n"
                                             : L"CPrinter::GetLocalOptions => opened our printers key\n");
        ReadLocalOptionValues(printers.get(), perUser ? TRUE : FALSE);
        return true;
    });
}

BOOL CPrinter::LookUpOptionIn(HKEY hive, const WCHAR* valueName, DWORD* member, const WCHAR* valueLine) {
    platform::ScopedKey printers;
    if (platform::registry.RegOpenKeyExW(hive, kPrintersKey, 0, KEY_QUERY_VALUE, printers.receive()) !=
        ERROR_SUCCESS) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => couldn't open kvprinters key\n");
        return FALSE;
    }
    TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => opened our printers key\n");
    platform::ScopedKey printerKey;
    const std::wstring subkey = vlibPRINT_PrinterNameToRegistrySafeName(strPrinterName);
    if (platform::registry.RegOpenKeyExW(printers.get(), subkey.c_str(), 0, KEY_QUERY_VALUE, printerKey.receive()) !=
        ERROR_SUCCESS) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => couldn't open printer key\n");
        return FALSE;
    }
    if (platform::QueryDword(printerKey.get(), valueName, member) != ERROR_SUCCESS) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => couldn't get value\n");
        return FALSE;
    }
    TraceLogWrite(LibraryLog, 0, valueLine, *member);
    return TRUE;
}

void CPrinter::LookUpQueryOption(const WCHAR* valueName, DWORD* member, const WCHAR* valueLine) {
    // A value that is already set (a generic driver's AnsiOnly, say) is not
    // looked up at all. Otherwise the per-user place is asked whenever the
    // per-machine one did not give the value.
    if (*member != 0) return;
    if (LookUpOptionIn(HKEY_LOCAL_MACHINE, valueName, member, valueLine)) return;
    LookUpOptionIn(HKEY_CURRENT_USER, valueName, member, valueLine);
}
