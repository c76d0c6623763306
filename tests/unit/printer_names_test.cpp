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
    const struct { Compose compose; std::wstring expected; } cases[] = {
        {{.scheme = 0}, L"Laser [PC7:3]"}, {{.scheme = 1}, L"Laser [PC7:3]"}, {{.scheme = 2}, L"Laser [PC7]"},
        {{.scheme = 3}, L"PC7:3 [Laser]"}, {{.scheme = 4}, L"3:PC7 [Laser]"}, {{.scheme = 5}, L"Laser [ann]"},
        {{.scheme = 6}, L"Laser [ann:3]"}, {{.scheme = 7}, L"ann:3 [Laser]"}, {{.scheme = 8}, L"3:ann [Laser]"},
        // Any other number takes the default layout, which has no open and close of its own.
        {{.scheme = 9}, L"Laser (PC7:3)"}, {{.scheme = 42}, L"Laser (PC7:3)"}, {{.scheme = 0xFFFFFFFF}, L"Laser (PC7:3)"},
        {{.scheme = kPrinterNameSchemeCustom, .literals = {L"", L"#"},
          .parts = {kPrinterNamePartMachine, kPrinterNamePartDisplay}}, L"PC7#Laser"},
        // An unknown selector adds nothing.
        {{.scheme = kPrinterNameSchemeCustom, .literals = {L"a", L"b", L"c", L"d", L"e"},
          .parts = {kPrinterNamePartNumber, kPrinterNamePartUser, kPrinterNamePartDisplay, 7}}, L"a3banncLaserde"},
        {{.scheme = 0, .limit = TRUE, .limits = {3, 10, 0}}, L"Las [PC7:3]"},
        {{.scheme = 0, .limit = TRUE, .limits = {0, 1, 2}}, L"Laser [P:3]"},
        {{.scheme = 6, .limit = TRUE, .limits = {0, 1, 2}}, L"Laser [an:3]"},
        {{.scheme = 6, .limits = {1, 1, 1}}, L"Laser [ann:3]"},  // switched off
        {{.printer = L"\\\\srv\\Laser", .scheme = 2}, L"Laser on srv [PC7]"},
        // The display settings reach the display-name conversion in their order (backslash off, its text unused).
        {{.printer = L"\\\\srv\\dept\\Laser 5", .scheme = 2, .display = {TRUE, FALSE, TRUE},
          .texts = {L"@", L"/", L"_"}}, L"dept\\Laser_5@srv [PC7]"},
        {{.printer = L"", .scheme = 2}, L" [PC7]"},
        {{.printer = x251, .scheme = 0}, x251 + L" [PC7:3]"},  // exactly 259
        {{.printer = x251, .scheme = 0, .machine = L"PC77"}, x251 + L" [PC77:3"},  // cut
        {{.printer = std::wstring(300, L'x'), .scheme = 0}, std::wstring(259, L'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.compose.scheme) + " " + testsupport::Narrow(c.expected));
        EXPECT_EQ(c.compose(), c.expected);
    }
}

}  // namespace
