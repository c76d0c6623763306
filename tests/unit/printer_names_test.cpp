// Registry-safe, display and composed printer names.
#include <gtest/gtest.h>

#include <string>

#include "print/printer_name_compose.h"
#include "print/printer_names.h"
#include "trace_capture.h"

namespace {

TEST(RegistrySafeName, MapsBothWays) {
    EXPECT_EQ(vlibPRINT_RegistrySafeNameToPrinterName(L",,srv,Laser 5"), L"\\\\srv\\Laser 5");
    // A comma of the printer's own name comes back as a backslash.
    EXPECT_EQ(vlibPRINT_PrinterNameToRegistrySafeName(L"Office, 2nd floor"), L"Office, 2nd floor");
    EXPECT_EQ(vlibPRINT_RegistrySafeNameToPrinterName(L"Office, 2nd floor"), L"Office\\ 2nd floor");
    std::wstring name, safe;  // 300 characters, no limit
    for (int i = 0; i < 100; ++i) name += L"\\ab", safe += L",ab";
    EXPECT_EQ(vlibPRINT_PrinterNameToRegistrySafeName(name), safe);
}

TEST(DisplayName, Examples) {
    std::wstring abc;  // a hundred blanks each turned into "abc": cut to 259
    for (int i = 0; i < 100; ++i) abc += L"abc";
    // The on, backslash and space switches, each with its text.
    const struct { std::wstring name; BOOL on; const wchar_t* onText; BOOL backslash; const wchar_t* backslashText;
                   BOOL space; const wchar_t* spaceText; std::wstring expected; } cases[] = {
        {L"\\\\srv\\Laser", 1, L"-", 0, L"", 0, L"", L"Laser-srv"},
        {L"\\\\srv\\dept\\Laser", 0, L"", 1, L"_", 0, L"", L"dept_Laser on srv"},
        {L"\\\\srv", 0, L"", 0, L"", 0, L"", L" on srv"},
        {L"\\\\\\srv\\\\dept\\\\\\Laser\\", 0, L"", 0, L"", 0, L"", L"dept\\Laser on srv"},  // empty pieces skipped
        {L"Laser on srv", 1, L"/", 0, L"", 0, L"", L"Laser/srv"},
        {L"Laser on srv", 0, L"/", 0, L"", 0, L"", L"Laser on srv"},
        {L"Laser on srv", 0, L"", 0, L"", 1, L"", L"Laseronsrv"},
        // For a network name the on switch only picks the separator, which may hold " on " itself.
        {L"\\\\srv\\Laser on 2", 1, L" on ", 0, L"", 0, L"", L"Laser on 2 on srv"},
        // Every search starts again at the beginning: one rewrite completes another " on ".
        {L"A on on B", 1, L" ", 0, L"", 0, L"", L"A B"},
        // Double backslashes first, each to one text, single ones after.
        {L"a\\\\\\b\\c", 0, L"", 1, L"_", 0, L"", L"a__b_c"},
        // A text holding what it replaces is refused; the other replacements take place.
        {L"Laser on srv", 1, L" on ", 0, L"", 1, L"_", L"Laser_on_srv"},
        {L"dept\\\\Laser\\x", 0, L"", 1, L"<\\>", 0, L"", L"dept\\\\Laser\\x"},
        {L"a b", 0, L"", 0, L"", 1, L"x x", L"a b"},
        {std::wstring(300, L'x'), 0, L"", 0, L"", 0, L"", std::wstring(259, L'x')},
        // The copy keeps "\\srv\" and 253 of the printer's characters; the result is cut again.
        {L"\\\\srv\\" + std::wstring(300, L'L'), 0, L"", 0, L"", 0, L"", std::wstring(253, L'L') + L" on sr"},
        {std::wstring(100, L' '), 0, L"", 0, L"", 1, L"abc", abc.substr(0, 259)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testsupport::Narrow(c.name));
        EXPECT_EQ(vlibPRINT_PrinterNameToDisplayName(c.name, c.on, c.onText, c.backslash, c.backslashText, c.space,
                                                     c.spaceText),
                  c.expected);
    }
}

// One composition, preset to the printer Laser on machine PC7 for user ann
// with number 3 between "[" and "]" (not the default layout's parentheses).
struct Compose {
    std::wstring printer = L"Laser";
    DWORD scheme = 0;
    int number = 3;
    std::wstring machine = L"PC7", open = L"[", close = L"]", literals[5];
    DWORD parts[4] = {0, 0, 0, 0};
    BOOL display[3] = {FALSE, FALSE, FALSE};  // on, backslash, space switches
    std::wstring texts[3];
    BOOL limit = FALSE;
    DWORD limits[3] = {0, 0, 0};
    std::wstring operator()() const {
        return vlibPRINT_CreatePrinterName(printer, scheme, number, L"ann", machine, open, close, literals[0],
                                           literals[1], literals[2], literals[3], literals[4], parts[0], parts[1],
                                           parts[2], parts[3], display[0], texts[0], display[1], texts[1], display[2],
                                           texts[2], limit, limits[0], limits[1], limits[2]);
    }
};

TEST(CreatePrinterName, SchemesLayoutsLimitsAndLengths) {
    const std::wstring x251(251, L'x');
    const struct { DWORD scheme; void (*setup)(Compose&); std::wstring expected; } cases[] = {
        {0, nullptr, L"Laser [PC7:3]"}, {1, nullptr, L"Laser [PC7:3]"}, {2, nullptr, L"Laser [PC7]"},
        {3, nullptr, L"PC7:3 [Laser]"}, {4, nullptr, L"3:PC7 [Laser]"}, {5, nullptr, L"Laser [ann]"},
        {6, nullptr, L"Laser [ann:3]"}, {7, nullptr, L"ann:3 [Laser]"}, {8, nullptr, L"3:ann [Laser]"},
        // Any other number takes the default layout, which has no open and close of its own.
        {9, nullptr, L"Laser (PC7:3)"}, {42, nullptr, L"Laser (PC7:3)"}, {0xFFFFFFFFu, nullptr, L"Laser (PC7:3)"},
        {kPrinterNameSchemeCustom, [](Compose& c) { c.literals[1] = L"#", c.parts[0] = kPrinterNamePartMachine,
                                                    c.parts[1] = kPrinterNamePartDisplay; }, L"PC7#Laser"},
        {kPrinterNameSchemeCustom, [](Compose& c) {  // an unknown selector adds nothing
             c.literals[0] = L"a", c.literals[1] = L"b", c.literals[2] = L"c", c.literals[3] = L"d";
             c.literals[4] = L"e", c.parts[0] = kPrinterNamePartNumber, c.parts[1] = kPrinterNamePartUser;
             c.parts[2] = kPrinterNamePartDisplay, c.parts[3] = 7; }, L"a3banncLaserde"},
        {0, [](Compose& c) { c.limit = TRUE, c.limits[0] = 3, c.limits[1] = 10; }, L"Las [PC7:3]"},
        {0, [](Compose& c) { c.limit = TRUE, c.limits[1] = 1, c.limits[2] = 2; }, L"Laser [P:3]"},
        {6, [](Compose& c) { c.limit = TRUE, c.limits[1] = 1, c.limits[2] = 2; }, L"Laser [an:3]"},
        {6, [](Compose& c) { c.limits[0] = c.limits[1] = c.limits[2] = 1; }, L"Laser [ann:3]"},  // switched off
        {2, [](Compose& c) { c.printer = L"\\\\srv\\Laser"; }, L"Laser on srv [PC7]"},
        // The display settings reach the display-name conversion in their order (backslash off, its text unused).
        {2, [](Compose& c) { c.printer = L"\\\\srv\\dept\\Laser 5", c.texts[0] = L"@", c.texts[1] = L"/";
                             c.texts[2] = L"_", c.display[0] = c.display[2] = TRUE; },
         L"dept\\Laser_5@srv [PC7]"},
        {2, [](Compose& c) { c.printer = L""; }, L" [PC7]"},
        {0, [](Compose& c) { c.printer = std::wstring(251, L'x'); }, x251 + L" [PC7:3]"},  // exactly 259
        {0, [](Compose& c) { c.printer = std::wstring(251, L'x'), c.machine = L"PC77"; }, x251 + L" [PC77:3"},  // cut
        {0, [](Compose& c) { c.printer = std::wstring(300, L'x'); }, std::wstring(259, L'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.scheme) + " " + testsupport::Narrow(c.expected));
        Compose compose;
        compose.scheme = c.scheme;
        if (c.setup) c.setup(compose);
        EXPECT_EQ(compose(), c.expected);
    }
}

}  // namespace
