// Printer names in the forms the rest of the system needs: the registry-safe
// form (one registry key name, also the cache file name) and the display form
// used when a client printer name is composed.
#pragma once

#include <string>

#include "platform/platform.h"

// Working buffers of the display-name conversion, in UTF-16 units; a name
// has at most kPrinterNameBufferChars - 1 characters.
inline constexpr size_t kPrinterNameBufferChars = 260;

// Every backslash becomes a comma; the length stays the same.
std::wstring vlibPRINT_PrinterNameToRegistrySafeName(std::wstring printerName);

// Every comma becomes a backslash. Not the exact inverse of the mapping above:
// a comma that was part of the printer name comes back as a backslash.
std::wstring vlibPRINT_RegistrySafeNameToPrinterName(std::wstring registrySafeName);

// Whether a registry-safe name is a plain file name, one the file system
// takes as a file of the folder it is put in and nothing else. It is not when
// it holds / : * ? " < > | or a character below 32 (another folder, a data
// stream, a pattern), is . or .., ends in a dot or a blank (Windows drops
// those, so the file would be another name's), or is a device name: CON,
// PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 (and COM / LPT with the superscript
// digits 1 to 3, which Windows takes as the same ports) in any case, alone
// or before a dot, blanks before that dot included. Does not trace.
bool vlibPRINT_IsPlainFileName(const std::wstring& registrySafeName);

// A network name ("\\server\printer") becomes "printer on server", or printer,
// on text and server when bReplaceOn is set; a local name keeps its text, and
// bReplaceOn then rewrites every " on " in it with the on text. Afterwards
// backslashes (double ones first) and blanks are replaced by their texts when
// their switches are set. The texts are read up to their first zero and only
// when their switch is non-zero. An empty name gives an empty result.
std::wstring vlibPRINT_PrinterNameToDisplayName(std::wstring printerName, BOOL bReplaceOn, std::wstring onText,
                                                BOOL bReplaceBackslash, std::wstring backslashText,
                                                BOOL bReplaceSpace, std::wstring spaceText);
