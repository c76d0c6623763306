#include "print/printer_names.h"

#include <cwchar>

#include "log/trace_log.h"
#include "platform/kernel.h"

namespace {

constexpr size_t kBuffer = kPrinterNameBufferChars;

std::wstring MapCharacter(std::wstring name, WCHAR from, WCHAR to) {
    for (WCHAR& c : name) {
        if (c == from) c = to;
    }
    return name;
}

// Names longer than the 260-unit buffers are cut to 259 characters; nothing is
// ever written past a buffer.
void CopyName(WCHAR* buffer, const WCHAR* text) { platform::CopyString(buffer, kBuffer, text); }

// Replaces the first occurrence of target in buffer by text; a result that does
// not fit the buffer is cut to 259 characters. False when target is not found.
bool ReplaceFirst(WCHAR* buffer, const WCHAR* target, const WCHAR* text) {
    WCHAR* hit = wcsstr(buffer, target);
    if (!hit) return false;
    WCHAR rest[kBuffer] = {};
    CopyName(rest, hit + wcslen(target));
    const size_t at = static_cast<size_t>(hit - buffer);
    platform::CopyString(hit, kBuffer - at, text);
    const size_t length = wcslen(buffer);
    platform::CopyString(buffer + length, kBuffer - length, rest);
    return true;
}

// Every search starts again at the beginning of the name, so a replacement may
// complete a new occurrence together with the text around it.
void ReplaceAll(WCHAR* buffer, const WCHAR* target, const WCHAR* text) {
    while (ReplaceFirst(buffer, target, text)) {
    }
}

// A replacement text that holds what it replaces would be found again by the
// search from the start, endlessly. Such a text is refused: the replacement is
// left out and the name keeps that part of its text.
bool AcceptReplacement(const WCHAR* text, const WCHAR* target) {
    if (!wcsstr(text, target)) return true;
    TraceLogWrite(LibraryLog, 0,
                  L"vlibPRINT_PrinterNameToDisplayName => replacement text (%s) contains (%s), not replaced\n", text,
                  target);
    return false;
}

// "\\server\printer\more" split at backslashes, empty pieces skipped as wcstok_s
// does: the first piece is the server, the others joined by single backslashes
// are the printer part.
void SplitNetworkName(WCHAR* copy, WCHAR* server, WCHAR* printer) {
    WCHAR* context = nullptr;
    const WCHAR* piece = wcstok_s(copy, L"\\", &context);
    if (!piece) return;
    _snwprintf(server, kBuffer - 1, L"%s", piece);
    server[kBuffer - 1] = L'\0';
    bool first = true;
    while ((piece = wcstok_s(nullptr, L"\\", &context)) != nullptr) {
        size_t length = wcslen(printer);
        if (!first) {
            platform::CopyString(printer + length, kBuffer - length, L"\\");
            length = wcslen(printer);
        }
        platform::CopyString(printer + length, kBuffer - length, piece);
        first = false;
    }
}

}  // namespace

namespace {

WCHAR AsciiUpper(WCHAR c) { return c >= L'a' && c <= L'z' ? static_cast<WCHAR>(c - L'a' + L'A') : c; }

// The stem (what comes before the first dot, its trailing blanks dropped as
// the device look-up drops them) is one of the reserved device names.
bool IsDeviceName(const std::wstring& name) {
    size_t stem = 0;
    while (stem < name.size() && name[stem] != L'.') ++stem;
    while (stem > 0 && name[stem - 1] == L' ') --stem;
    if (stem != 3 && stem != 4) return false;
    WCHAR upper[4] = {};
    for (size_t i = 0; i < stem; ++i) upper[i] = AsciiUpper(name[i]);
    const auto is = [&](const char* word) {
        return upper[0] == word[0] && upper[1] == word[1] && upper[2] == word[2];
    };
    if (stem == 3) return is("CON") || is("PRN") || is("AUX") || is("NUL");
    const WCHAR digit = upper[3];
    const bool port = (digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
    return port && (is("COM") || is("LPT"));
}

}  // namespace

bool vlibPRINT_IsPlainFileName(const std::wstring& registrySafeName) {
    for (const WCHAR c : registrySafeName) {
        if (c < 32) return false;
        for (const WCHAR* refused = L"/:*?\"<>|\\"; *refused; ++refused)
            if (c == *refused) return false;
    }
    // "." and ".." end in a dot too.
    if (!registrySafeName.empty() && (registrySafeName.back() == L'.' || registrySafeName.back() == L' ')) return false;
    return !IsDeviceName(registrySafeName);
}

std::wstring vlibPRINT_PrinterNameToRegistrySafeName(std::wstring printerName) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_PrinterNameToRegistrySafeName => \n");
    std::wstring safe = MapCharacter(printerName, L'\\', L',');
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_PrinterNameToRegistrySafeName => before: %s\n", printerName.c_str());
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_PrinterNameToRegistrySafeName =>  after: %s\n", safe.c_str());
    return safe;
}

std::wstring vlibPRINT_RegistrySafeNameToPrinterName(std::wstring registrySafeName) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_RegistrySafeNameToPrinterName => \n");
    std::wstring name = MapCharacter(registrySafeName, L',', L'\\');
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_RegistrySafeNameToPrinterName => before: %s\n",
                  registrySafeName.c_str());
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_RegistrySafeNameToPrinterName =>  after: %s\n", name.c_str());
    return name;
}

std::wstring vlibPRINT_PrinterNameToDisplayName(std::wstring printerName, BOOL bReplaceOn, std::wstring onText,
                                                BOOL bReplaceBackslash, std::wstring backslashText,
                                                BOOL bReplaceSpace, std::wstring spaceText) {
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_PrinterNameToDisplayName => \n");
    if (printerName.c_str()[0] == L'\0') {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_PrinterNameToDisplayName => invalid parameter\n");
        return std::wstring();
    }

    WCHAR copy[kBuffer] = {};
    CopyName(copy, printerName.c_str());
    WCHAR result[kBuffer] = {};

    if (copy[0] == L'\\' && copy[1] == L'\\') {
        WCHAR server[kBuffer] = {};
        WCHAR printer[kBuffer] = {};
        SplitNetworkName(copy, server, printer);
        // For a network name the on switch chooses the separator; the on text
        // is put in as it is, whatever it holds.
        if (bReplaceOn)
            _snwprintf(result, kBuffer - 1, L"%s%s%s", printer, onText.c_str(), server);
        else
            _snwprintf(result, kBuffer - 1, L"%s on %s", printer, server);
        result[kBuffer - 1] = L'\0';  // a longer result is cut to 259 characters
    } else {
        CopyName(result, copy);
        // For a local name the on switch rewrites an " on " already in it.
        if (bReplaceOn && AcceptReplacement(onText.c_str(), L" on ")) ReplaceAll(result, L" on ", onText.c_str());
    }

    // The backslash text is refused as a whole when it holds a backslash: the
    // single-backslash pass could never end.
    if (bReplaceBackslash && AcceptReplacement(backslashText.c_str(), L"\\")) {
        ReplaceAll(result, L"\\\\", backslashText.c_str());
        ReplaceAll(result, L"\\", backslashText.c_str());
    }
    if (bReplaceSpace && AcceptReplacement(spaceText.c_str(), L" ")) ReplaceAll(result, L" ", spaceText.c_str());

    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_PrinterNameToDisplayName => (%s) %s\n", printerName.c_str(), result);
    return std::wstring(result);
}
