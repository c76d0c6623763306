#include "print/printer_name_compose.h"

#include <cstdarg>
#include <cwchar>

#include "log/trace_log.h"
#include "print/printer_names.h"

namespace {

constexpr size_t kBuffer = kPrinterNameBufferChars;

// Formats at the current end of the buffer into the room that is left. A name
// that would reach 260 characters is cut to 259: the buffer always ends in a
// terminator and nothing is written past it.
void AppendFormat(WCHAR* buffer, const WCHAR* format, ...) {
    const size_t length = wcslen(buffer);
    if (length + 1 >= kBuffer) return;
    va_list args;
    va_start(args, format);
    _vsnwprintf(buffer + length, kBuffer - 1 - length, format, args);
    va_end(args);
    buffer[kBuffer - 1] = L'\0';
}

void AppendPart(WCHAR* buffer, DWORD part, const std::wstring& display, const std::wstring& machine, int number,
                const std::wstring& user) {
    switch (part) {
        case kPrinterNamePartDisplay: AppendFormat(buffer, L"%s", display.c_str()); break;
        case kPrinterNamePartMachine: AppendFormat(buffer, L"%s", machine.c_str()); break;
        case kPrinterNamePartNumber: AppendFormat(buffer, L"%d", number); break;
        case kPrinterNamePartUser: AppendFormat(buffer, L"%s", user.c_str()); break;
        default: break;
    }
}

// A component shorter than its limit keeps its text.
void Limit(std::wstring& component, DWORD limit) {
    if (component.size() > limit) component.resize(limit);
}

}  // namespace

std::wstring vlibPRINT_CreatePrinterName(std::wstring printerName, DWORD dwScheme, int nNumber, std::wstring userName,
                                         std::wstring machineName, std::wstring openText, std::wstring closeText,
                                         std::wstring literal1, std::wstring literal2, std::wstring literal3,
                                         std::wstring literal4, std::wstring literal5, DWORD dwPart1, DWORD dwPart2,
                                         DWORD dwPart3, DWORD dwPart4, BOOL bReplaceOn, std::wstring onText,
                                         BOOL bReplaceBackslash, std::wstring backslashText, BOOL bReplaceSpace,
                                         std::wstring spaceText, BOOL bLimit, DWORD dwPrinterLimit,
                                         DWORD dwMachineLimit, DWORD dwUserLimit) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_CreatePrinterName => (%d) %s\n", static_cast<int>(dwScheme),
                  printerName.c_str());

    std::wstring display = vlibPRINT_PrinterNameToDisplayName(printerName, bReplaceOn, onText, bReplaceBackslash,
                                                               backslashText, bReplaceSpace, spaceText);

    if (bLimit) {
        TraceLogWrite(LibraryLog, 0,
                      L"vlibPRINT_CreatePrinterName => limiting printer name components to configured length(s)\n");
        if (dwPrinterLimit > 0) {
            Limit(display, dwPrinterLimit);
            TraceLogWrite(LibraryLog, 0, L"vlibPRINT_CreatePrinterName => printer name limited to (%d) %s\n",
                          static_cast<int>(dwPrinterLimit), display.c_str());
        }
        if (dwMachineLimit > 0) {
            Limit(machineName, dwMachineLimit);
            TraceLogWrite(LibraryLog, 0, L"vlibPRINT_CreatePrinterName => machine name limited to (%d) %s\n",
                          static_cast<int>(dwMachineLimit), machineName.c_str());
        }
        if (dwUserLimit > 0) {
            Limit(userName, dwUserLimit);
            TraceLogWrite(LibraryLog, 0, L"vlibPRINT_CreatePrinterName => user name limited to (%d) %s\n",
                          static_cast<int>(dwUserLimit), userName.c_str());
        }
    }

    const WCHAR* d = display.c_str();
    const WCHAR* m = machineName.c_str();
    const WCHAR* u = userName.c_str();
    const WCHAR* o = openText.c_str();
    const WCHAR* c = closeText.c_str();

    WCHAR name[kBuffer] = {};
    switch (dwScheme) {
        case 0:
        case 1: AppendFormat(name, L"%s %s%s:%d%s", d, o, m, nNumber, c); break;
        case 2: AppendFormat(name, L"%s %s%s%s", d, o, m, c); break;
        case 3: AppendFormat(name, L"%s:%d %s%s%s", m, nNumber, o, d, c); break;
        case 4: AppendFormat(name, L"%d:%s %s%s%s", nNumber, m, o, d, c); break;
        case 5: AppendFormat(name, L"%s %s%s%s", d, o, u, c); break;
        case 6: AppendFormat(name, L"%s %s%s:%d%s", d, o, u, nNumber, c); break;
        case 7: AppendFormat(name, L"%s:%d %s%s%s", u, nNumber, o, d, c); break;
        case 8: AppendFormat(name, L"%d:%s %s%s%s", nNumber, u, o, d, c); break;
        case kPrinterNameSchemeCustom: {
            TraceLogWrite(LibraryLog, 0, L"NDCreatePrinterName => using custom naming scheme\n");
            const std::wstring* literals[] = {&literal1, &literal2, &literal3, &literal4};
            const DWORD parts[] = {dwPart1, dwPart2, dwPart3, dwPart4};
            for (int i = 0; i < 4; ++i) {
                if (literals[i]->c_str()[0] != L'\0') AppendFormat(name, L"%s", literals[i]->c_str());
                AppendPart(name, parts[i], display, machineName, nNumber, userName);
            }
            if (literal5.c_str()[0] != L'\0') AppendFormat(name, L"%s", literal5.c_str());
            break;
        }
        default: AppendFormat(name, L"%s (%s:%d)", d, m, nNumber); break;
    }

    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_CreatePrinterName => result: %s\n", name);
    return std::wstring(name);
}
