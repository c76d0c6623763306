// Registry-safe, display and composed printer names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "print/printer_name_compose.h"
#include "print/printer_names.h"
#include "trace_capture.h"

namespace {

using Lines = std::vector<std::string>;

TEST(RegistrySafeName, MapsBothWaysWithTrace) {
    testsupport::TraceCapture trace;
    EXPECT_EQ(vlibPRINT_PrinterNameToRegistrySafeName(L"\\\\srv\\Laser 5"), L",,srv,Laser 5");
    EXPECT_EQ(vlibPRINT_RegistrySafeNameToPrinterName(L",,srv,Laser 5"), L"\\\\srv\\Laser 5");
    EXPECT_EQ(trace.Lines(), (Lines{"vlibPRINT_PrinterNameToRegistrySafeName => ",
                                    "vlibPRINT_PrinterNameToRegistrySafeName => before: \\\\srv\\Laser 5",
                                    "vlibPRINT_PrinterNameToRegistrySafeName =>  after: ,,srv,Laser 5",
                                    "vlibPRINT_RegistrySafeNameToPrinterName => ",
                                    "vlibPRINT_RegistrySafeNameToPrinterName => before: ,,srv,Laser 5",
                                    "vlibPRINT_RegistrySafeNameToPrinterName =>  after: \\\\srv\\Laser 5"}));
    // A comma of the printer's own name comes back as a backslash.
    EXPECT_EQ(vlibPRINT_PrinterNameToRegistrySafeName(L"Office, 2nd floor"), L"Office, 2nd floor");
    EXPECT_EQ(vlibPRINT_RegistrySafeNameToPrinterName(L"Office, 2nd floor"), L"Office\\ 2nd floor");
    std::wstring name, safe;  // 300 characters, no limit
    for (int i = 0; i < 100; ++i) name += L"\\ab", safe += L",ab";
    EXPECT_EQ(vlibPRINT_PrinterNameToRegistrySafeName(name), safe);
}

TEST(DisplayName, Examples) {
    const struct {
        const wchar_t* name;
        BOOL on;
        const wchar_t* onText;
        BOOL backslash;
        const wchar_t* backslashText;
        BOOL space;
        const wchar_t* spaceText;
        std::wstring expected;
    } cases[] = {
        {L"\\\\srv\\Laser", 0, L"", 0, L"", 0, L"", L"Laser on srv"},
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
        {L"\\\\srv\\dept\\Laser 5", 1, L"@", 1, L"/", 1, L"_", L"dept/Laser_5@srv"},
        // A text holding what it replaces is refused; the other replacements take place.
        {L"Laser on srv", 1, L" on ", 0, L"", 1, L"_", L"Laser_on_srv"},
        {L"dept\\\\Laser\\x", 0, L"", 1, L"<\\>", 0, L"", L"dept\\\\Laser\\x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testsupport::Narrow(c.name));
        EXPECT_EQ(vlibPRINT_PrinterNameToDisplayName(c.name, c.on, c.onText, c.backslash, c.backslashText, c.space,
                                                     c.spaceText),
                  c.expected);
    }
}

TEST(DisplayName, TracesRefusalsAndRejection) {
    testsupport::TraceCapture trace;
    vlibPRINT_PrinterNameToDisplayName(L"a b", FALSE, L"", FALSE, L"", TRUE, L"x x");
    vlibPRINT_PrinterNameToDisplayName(L"", FALSE, L"", FALSE, L"", FALSE, L"");
    EXPECT_EQ(trace.Lines(),
              (Lines{"vlibPRINT_PrinterNameToDisplayName => ",
                     "vlibPRINT_PrinterNameToDisplayName => replacement text (x x) contains ( ), not replaced",
                     "vlibPRINT_PrinterNameToDisplayName => (a b) a b", "vlibPRINT_PrinterNameToDisplayName => ",
                     "vlibPRINT_PrinterNameToDisplayName => invalid parameter"}));
}

TEST(DisplayName, LongNamesAreCutTo259) {
    EXPECT_EQ(vlibPRINT_PrinterNameToDisplayName(std::wstring(300, L'x'), 0, L"", 0, L"", 0, L""),
              std::wstring(259, L'x'));
    // The copy keeps "\\srv\" and 253 of the printer's characters; the result is cut again.
    EXPECT_EQ(vlibPRINT_PrinterNameToDisplayName(L"\\\\srv\\" + std::wstring(300, L'L'), 0, L"", 0, L"", 0, L""),
              std::wstring(253, L'L') + L" on sr");
    std::wstring grown;
    for (int i = 0; i < 100; ++i) grown += L"abc";
    EXPECT_EQ(vlibPRINT_PrinterNameToDisplayName(std::wstring(100, L' '), 0, L"", 0, L"", 1, L"abc"),
              grown.substr(0, 259));
}

// One composition, preset to the printer Laser on machine PC7 for user ann
// with number 3 between "(" and ")".
struct Compose {
    std::wstring printer = L"Laser";
    DWORD scheme = 0;
    int number = 3;
    std::wstring machine = L"PC7", open = L"(", close = L")", literals[5];
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

TEST(CreatePrinterName, Schemes) {
    const struct {
        DWORD scheme;
        std::wstring expected;
    } cases[] = {{0, L"Laser (PC7:3)"}, {1, L"Laser (PC7:3)"}, {2, L"Laser (PC7)"},   {3, L"PC7:3 (Laser)"},
                 {4, L"3:PC7 (Laser)"}, {5, L"Laser (ann)"},   {6, L"Laser (ann:3)"}, {7, L"ann:3 (Laser)"},
                 {8, L"3:ann (Laser)"}, {9, L"Laser (PC7:3)"}, {42, L"Laser (PC7:3)"}, {101, L"Laser (PC7:3)"},
                 {0xFFFFFFFFu, L"Laser (PC7:3)"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scheme);
        Compose compose;
        compose.scheme = c.scheme;
        if (c.scheme > 8) compose.open = L"<<", compose.close = L">>";  // the default layout has no open and close
        EXPECT_EQ(compose(), c.expected);
    }
}

TEST(CreatePrinterName, CustomLayoutWithTrace) {
    Compose compose;
    compose.scheme = kPrinterNameSchemeCustom;
    compose.literals[1] = L"#";
    compose.parts[0] = kPrinterNamePartMachine;
    compose.parts[1] = kPrinterNamePartDisplay;
    testsupport::TraceCapture trace;
    EXPECT_EQ(compose(), L"PC7#Laser");
    EXPECT_EQ(trace.Lines(), (Lines{"vlibPRINT_CreatePrinterName => (100) Laser", "vlibPRINT_PrinterNameToDisplayName => ",
                                    "vlibPRINT_PrinterNameToDisplayName => (Laser) Laser",
                                    "NDCreatePrinterName => using custom naming scheme",
                                    "vlibPRINT_CreatePrinterName => result: PC7#Laser"}));
    const wchar_t* literals[] = {L"a", L"b", L"c", L"d", L"e"};
    for (int i = 0; i < 5; ++i) compose.literals[i] = literals[i];
    const DWORD parts[] = {kPrinterNamePartNumber, kPrinterNamePartUser, kPrinterNamePartDisplay, 7};
    for (int i = 0; i < 4; ++i) compose.parts[i] = parts[i];
    EXPECT_EQ(compose(), L"a3bannc" L"Laserde");  // an unknown selector adds nothing
}

TEST(CreatePrinterName, LimitsApplyOnlyWhenSwitchedOn) {
    Compose compose;
    compose.limit = TRUE;
    compose.limits[0] = 3;
    compose.limits[1] = 10;
    testsupport::TraceCapture trace;
    EXPECT_EQ(compose(), L"Las (PC7:3)");
    const Lines lines = trace.Lines();
    EXPECT_EQ(Lines(lines.begin() + 3, lines.end() - 1),
              (Lines{"vlibPRINT_CreatePrinterName => limiting printer name components to configured length(s)",
                     "vlibPRINT_CreatePrinterName => printer name limited to (3) Las",
                     "vlibPRINT_CreatePrinterName => machine name limited to (10) PC7"}));
    compose.limits[0] = 0, compose.limits[1] = 1, compose.limits[2] = 2;
    EXPECT_EQ(compose(), L"Laser (P:3)");
    compose.scheme = 6;
    EXPECT_EQ(compose(), L"Laser (an:3)");
    compose.limit = FALSE;
    compose.limits[0] = compose.limits[1] = 1;
    EXPECT_EQ(compose(), L"Laser (ann:3)");
}

TEST(CreatePrinterName, NetworkAndEmptyPrinterNames) {
    Compose compose;
    compose.scheme = 2;
    compose.printer = L"\\\\srv\\Laser";
    EXPECT_EQ(compose(), L"Laser on srv (PC7)");
    // The display settings reach the display-name conversion in their order.
    compose.printer = L"\\\\srv\\dept\\Laser 5";
    for (int i = 0; i < 3; ++i) compose.display[i] = TRUE;
    compose.texts[0] = L"@", compose.texts[1] = L"/", compose.texts[2] = L"_";
    EXPECT_EQ(compose(), L"dept/Laser_5@srv (PC7)");
    compose.display[0] = compose.display[1] = compose.display[2] = FALSE;
    compose.printer = L"";
    EXPECT_EQ(compose(), L" (PC7)");
}

TEST(CreatePrinterName, LongResultsAreCutTo259) {
    Compose compose;
    compose.printer = std::wstring(251, L'x');
    EXPECT_EQ(compose(), std::wstring(251, L'x') + L" (PC7:3)");  // exactly 259
    compose.machine = L"PC77";
    EXPECT_EQ(compose(), std::wstring(251, L'x') + L" (PC77:3");  // 260, cut
    compose.printer = std::wstring(300, L'x');
    EXPECT_EQ(compose(), std::wstring(259, L'x'));
}

}  // namespace
