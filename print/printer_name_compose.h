// Composition of the name under which a client printer is reproduced in the
// remote session: the printer's display name, the machine name, the user name
// and a number, in a fixed layout or in one the caller assembles.
#pragma once

#include <string>

#include "platform/platform.h"

// Naming schemes: 0 to 8 fixed layouts, kPrinterNameSchemeCustom the caller's
// layout, anything else the default "display (machine:number)".
inline constexpr DWORD kPrinterNameSchemeCustom = 100;

// Component selectors of the custom layout; other values add nothing.
inline constexpr DWORD kPrinterNamePartDisplay = 1;
inline constexpr DWORD kPrinterNamePartMachine = 2;
inline constexpr DWORD kPrinterNamePartNumber = 3;
inline constexpr DWORD kPrinterNamePartUser = 4;

// The composed name, at most 259 characters. The six display settings are
// handed unchanged to vlibPRINT_PrinterNameToDisplayName. With bLimit set, a
// limit above 0 cuts its component to that many characters.
std::wstring vlibPRINT_CreatePrinterName(std::wstring printerName, DWORD dwScheme, int nNumber, std::wstring userName,
                                         std::wstring machineName, std::wstring openText, std::wstring closeText,
                                         std::wstring literal1, std::wstring literal2, std::wstring literal3,
                                         std::wstring literal4, std::wstring literal5, DWORD dwPart1, DWORD dwPart2,
                                         DWORD dwPart3, DWORD dwPart4, BOOL bReplaceOn, std::wstring onText,
                                         BOOL bReplaceBackslash, std::wstring backslashText, BOOL bReplaceSpace,
                                         std::wstring spaceText, BOOL bLimit, DWORD dwPrinterLimit,
                                         DWORD dwMachineLimit, DWORD dwUserLimit);
