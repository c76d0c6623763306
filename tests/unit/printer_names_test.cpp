#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/trace_log.h"
#include "print/printer_name_compose.h"
#include "print/printer_names.h"
#include "support/temp_dir.h"

namespace {

using ::testing::ElementsAre;
using testsupport::ReadLogLines;

// Points the library's logger at a scratch file for one scope.
class LibraryTrace {
public:
    LibraryTrace() : file_(dir_.File(L"trace.log")), log_(TraceLogCreate(file_.c_str(), 0)) { LibraryLog = log_; }
    ~LibraryTrace() {
        LibraryLog = nullptr;
        TraceLogDestroy(log_);
    }
    LibraryTrace(const LibraryTrace&) = delete;
    LibraryTrace& operator=(const LibraryTrace&) = delete;

    std::vector<std::string> Lines() const { return ReadLogLines(file_); }

private:
    testsupport::TempDir dir_;
    std::wstring file_;
    TraceLog* log_;
};

std::wstring Display(const std::wstring& name, BOOL on = FALSE, const std::wstring& onText = L"",
                     BOOL backslash = FALSE, const std::wstring& backslashText = L"", BOOL space = FALSE,
                     const std::wstring& spaceText = L"") {
    return vlibPRINT_PrinterNameToDisplayName(name, on, onText, backslash, backslashText, space, spaceText);
}

// The arguments of one composition, preset to the printer Laser on machine PC7
// for user ann with number 3 between "(" and ")".
struct ComposeArgs {
    std::wstring printer = L"Laser";
    DWORD scheme = 0;
    int number = 3;
    std::wstring user = L"ann";
    std::wstring machine = L"PC7";
    std::wstring open = L"(";
    std::wstring close = L")";
    std::wstring literals[5];
    DWORD parts[4] = {0, 0, 0, 0};
    BOOL replaceOn = FALSE;
    std::wstring onText;
    BOOL replaceBackslash = FALSE;
    std::wstring backslashText;
    BOOL replaceSpace = FALSE;
    std::wstring spaceText;
    BOOL limit = FALSE;
    DWORD printerLimit = 0;
    DWORD machineLimit = 0;
    DWORD userLimit = 0;
};

std::wstring Compose(const ComposeArgs& a) {
    return vlibPRINT_CreatePrinterName(a.printer, a.scheme, a.number, a.user, a.machine, a.open, a.close,
                                       a.literals[0], a.literals[1], a.literals[2], a.literals[3], a.literals[4],
                                       a.parts[0], a.parts[1], a.parts[2], a.parts[3], a.replaceOn, a.onText,
                                       a.replaceBackslash, a.backslashText, a.replaceSpace, a.spaceText, a.limit,
                                       a.printerLimit, a.machineLimit, a.userLimit);
}

ComposeArgs WithScheme(DWORD scheme) {
    ComposeArgs args;
    args.scheme = scheme;
    return args;
}

// ---- registry-safe names ----

TEST(RegistrySafeName, NetworkNameMapsToCommasAndBackWithTrace) {
    LibraryTrace trace;
    const std::wstring safe = vlibPRINT_PrinterNameToRegistrySafeName(L"\\\\srv\\Laser 5");
    EXPECT_EQ(safe, L",,srv,Laser 5");
    EXPECT_EQ(vlibPRINT_RegistrySafeNameToPrinterName(safe), L"\\\\srv\\Laser 5");
    EXPECT_THAT(trace.Lines(), ElementsAre("vlibPRINT_PrinterNameToRegistrySafeName => ",
                                           "vlibPRINT_PrinterNameToRegistrySafeName => before: \\\\srv\\Laser 5",
                                           "vlibPRINT_PrinterNameToRegistrySafeName =>  after: ,,srv,Laser 5",
                                           "vlibPRINT_RegistrySafeNameToPrinterName => ",
                                           "vlibPRINT_RegistrySafeNameToPrinterName => before: ,,srv,Laser 5",
                                           "vlibPRINT_RegistrySafeNameToPrinterName =>  after: \\\\srv\\Laser 5"));
}

TEST(RegistrySafeName, CommaInLocalNameComesBackAsBackslash) {
    EXPECT_EQ(vlibPRINT_PrinterNameToRegistrySafeName(L"Office, 2nd floor"), L"Office, 2nd floor");
    EXPECT_EQ(vlibPRINT_RegistrySafeNameToPrinterName(L"Office, 2nd floor"), L"Office\\ 2nd floor");
    EXPECT_EQ(vlibPRINT_PrinterNameToRegistrySafeName(L""), L"");
    EXPECT_EQ(vlibPRINT_RegistrySafeNameToPrinterName(L""), L"");
}

TEST(RegistrySafeName, LongNameKeepsItsLength) {
    std::wstring name;
    for (int i = 0; i < 100; ++i) name += L"\\ab";  // 300 characters
    std::wstring expected;
    for (int i = 0; i < 100; ++i) expected += L",ab";
    const std::wstring safe = vlibPRINT_PrinterNameToRegistrySafeName(name);
    EXPECT_EQ(safe, expected);
    EXPECT_EQ(vlibPRINT_RegistrySafeNameToPrinterName(safe), name);
}

// ---- display names ----

TEST(DisplayName, NetworkNamesBecomePrinterOnServer) {
    EXPECT_EQ(Display(L"\\\\srv\\Laser"), L"Laser on srv");
    EXPECT_EQ(Display(L"\\\\srv\\Laser", TRUE, L"-"), L"Laser-srv");
    EXPECT_EQ(Display(L"\\\\srv\\dept\\Laser"), L"dept\\Laser on srv");
    EXPECT_EQ(Display(L"\\\\srv\\dept\\Laser", FALSE, L"", TRUE, L"_"), L"dept_Laser on srv");
    // Only a server: the printer part is empty.
    EXPECT_EQ(Display(L"\\\\srv"), L" on srv");
    // Empty pieces between backslashes are skipped when the name is split.
    EXPECT_EQ(Display(L"\\\\\\srv\\\\dept\\\\\\Laser\\"), L"dept\\Laser on srv");
    EXPECT_EQ(Display(L"\\\\"), L" on ");
}

TEST(DisplayName, TracesEntryAndResult) {
    LibraryTrace trace;
    Display(L"\\\\srv\\Laser", TRUE, L"@");
    EXPECT_THAT(trace.Lines(), ElementsAre("vlibPRINT_PrinterNameToDisplayName => ",
                                           "vlibPRINT_PrinterNameToDisplayName => (\\\\srv\\Laser) Laser@srv"));
}

TEST(DisplayName, EmptyNameIsRejected) {
    LibraryTrace trace;
    EXPECT_EQ(Display(L"", TRUE, L"-", TRUE, L"_", TRUE, L"+"), L"");
    EXPECT_THAT(trace.Lines(), ElementsAre("vlibPRINT_PrinterNameToDisplayName => ",
                                           "vlibPRINT_PrinterNameToDisplayName => invalid parameter"));
}

TEST(DisplayName, OnSwitchSeparatesNetworkNamesAndRewritesLocalOnes) {
    EXPECT_EQ(Display(L"Laser on srv", TRUE, L"/"), L"Laser/srv");
    EXPECT_EQ(Display(L"Laser on srv"), L"Laser on srv");
    // In a network name an " on " of the printer part is left alone; the
    // switch only picks the separator.
    EXPECT_EQ(Display(L"\\\\srv\\Laser on 2", TRUE, L"-"), L"Laser on 2-srv");
    // As a separator the on text may hold " on " itself.
    LibraryTrace trace;
    EXPECT_EQ(Display(L"\\\\srv\\Laser", TRUE, L" on "), L"Laser on srv");
    EXPECT_EQ(trace.Lines().size(), 2u);
}

TEST(DisplayName, ReplacementsSearchAgainFromTheStart) {
    // " on on " rewritten once leaves a fresh " on " that is found again.
    EXPECT_EQ(Display(L"A on on B", TRUE, L" "), L"A B");
    EXPECT_EQ(Display(L"Laser on srv", FALSE, L"", FALSE, L"", TRUE, L""), L"Laseronsrv");
    EXPECT_EQ(Display(L"Laser on srv", FALSE, L"", FALSE, L"", TRUE, L"_"), L"Laser_on_srv");
    // Double backslashes go first, each to one text; single ones after.
    EXPECT_EQ(Display(L"a\\\\b", FALSE, L"", TRUE, L"_"), L"a_b");
    EXPECT_EQ(Display(L"a\\\\\\b\\c", FALSE, L"", TRUE, L"_"), L"a__b_c");
    EXPECT_EQ(Display(L"a\\\\\\\\b", FALSE, L"", TRUE, L"--"), L"a----b");
    // All switches on a network name: separator first, then the other texts.
    EXPECT_EQ(Display(L"\\\\srv\\dept\\Laser 5", TRUE, L"@", TRUE, L"/", TRUE, L"_"), L"dept/Laser_5@srv");
}

TEST(DisplayName, TextHoldingWhatItReplacesIsRefused) {
    LibraryTrace trace;
    // The other replacements still take place.
    EXPECT_EQ(Display(L"Laser on srv", TRUE, L" on ", FALSE, L"", TRUE, L"_"), L"Laser_on_srv");
    EXPECT_EQ(Display(L"dept\\\\Laser\\x", FALSE, L"", TRUE, L"<\\>"), L"dept\\\\Laser\\x");
    EXPECT_EQ(Display(L"a b", FALSE, L"", FALSE, L"", TRUE, L"  "), L"a b");
    EXPECT_THAT(
        trace.Lines(),
        ElementsAre("vlibPRINT_PrinterNameToDisplayName => ",
                    "vlibPRINT_PrinterNameToDisplayName => replacement text ( on ) contains ( on ), not replaced",
                    "vlibPRINT_PrinterNameToDisplayName => (Laser on srv) Laser_on_srv",
                    "vlibPRINT_PrinterNameToDisplayName => ",
                    "vlibPRINT_PrinterNameToDisplayName => replacement text (<\\>) contains (\\), not replaced",
                    "vlibPRINT_PrinterNameToDisplayName => (dept\\\\Laser\\x) dept\\\\Laser\\x",
                    "vlibPRINT_PrinterNameToDisplayName => ",
                    "vlibPRINT_PrinterNameToDisplayName => replacement text (  ) contains ( ), not replaced",
                    "vlibPRINT_PrinterNameToDisplayName => (a b) a b"));
}

TEST(DisplayName, LongNamesAndResultsAreCutTo259) {
    EXPECT_EQ(Display(std::wstring(300, L'x')), std::wstring(259, L'x'));
    // The copy keeps 259 characters: "\\srv\" and 253 of the printer's; the
    // formatted result is cut again.
    EXPECT_EQ(Display(L"\\\\srv\\" + std::wstring(300, L'L')), std::wstring(253, L'L') + L" on sr");
    // A replacement that grows the name past the buffer is cut as well.
    std::wstring grown;
    for (int i = 0; i < 100; ++i) grown += L"abc";
    EXPECT_EQ(Display(std::wstring(100, L' '), FALSE, L"", FALSE, L"", TRUE, L"abc"), grown.substr(0, 259));
}

// ---- composed names ----

TEST(CreatePrinterName, FixedSchemes) {
    const wchar_t* expected[] = {L"Laser (PC7:3)", L"Laser (PC7:3)", L"Laser (PC7)",  L"PC7:3 (Laser)",
                                 L"3:PC7 (Laser)", L"Laser (ann)",   L"Laser (ann:3)", L"ann:3 (Laser)",
                                 L"3:ann (Laser)"};
    for (DWORD scheme = 0; scheme <= 8; ++scheme)
        EXPECT_EQ(Compose(WithScheme(scheme)), expected[scheme]) << "scheme " << scheme;

    ComposeArgs negative = WithScheme(0);
    negative.number = -12;
    negative.open = L"[";
    negative.close = L"]";
    EXPECT_EQ(Compose(negative), L"Laser [PC7:-12]");
}

TEST(CreatePrinterName, OtherSchemesUseDefaultLayout) {
    for (DWORD scheme : {9u, 42u, 99u, 101u, 0xFFFFFFFFu}) {
        ComposeArgs args = WithScheme(scheme);
        args.open = L"<<";
        args.close = L">>";
        EXPECT_EQ(Compose(args), L"Laser (PC7:3)") << "scheme " << scheme;
    }
    // The scheme is traced as a signed number.
    LibraryTrace trace;
    Compose(WithScheme(0xFFFFFFFFu));
    const std::vector<std::string> lines = trace.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "vlibPRINT_CreatePrinterName => (-1) Laser");
    EXPECT_EQ(lines.back(), "vlibPRINT_CreatePrinterName => result: Laser (PC7:3)");
}

TEST(CreatePrinterName, CustomLayoutWithTrace) {
    LibraryTrace trace;
    ComposeArgs args = WithScheme(kPrinterNameSchemeCustom);
    args.literals[1] = L"#";
    args.parts[0] = kPrinterNamePartMachine;
    args.parts[1] = kPrinterNamePartDisplay;
    EXPECT_EQ(Compose(args), L"PC7#Laser");
    EXPECT_THAT(trace.Lines(), ElementsAre("vlibPRINT_CreatePrinterName => (100) Laser",
                                           "vlibPRINT_PrinterNameToDisplayName => ",
                                           "vlibPRINT_PrinterNameToDisplayName => (Laser) Laser",
                                           "NDCreatePrinterName => using custom naming scheme",
                                           "vlibPRINT_CreatePrinterName => result: PC7#Laser"));
}

TEST(CreatePrinterName, CustomLayoutPutsEveryPieceInOrder) {
    ComposeArgs args = WithScheme(kPrinterNameSchemeCustom);
    const wchar_t* literals[] = {L"a", L"b", L"c", L"d", L"e"};
    for (int i = 0; i < 5; ++i) args.literals[i] = literals[i];
    args.parts[0] = kPrinterNamePartNumber;
    args.parts[1] = kPrinterNamePartUser;
    args.parts[2] = kPrinterNamePartDisplay;
    args.parts[3] = kPrinterNamePartMachine;
    EXPECT_EQ(Compose(args), L"a3bannc" L"LaserdPC7e");
    // Unknown selectors add nothing.
    args.parts[0] = 0;
    args.parts[1] = 5;
    args.parts[2] = 0xFFFFFFFFu;
    args.parts[3] = 100;
    EXPECT_EQ(Compose(args), L"abcde");
}

TEST(CreatePrinterName, LimitsCutComponentsOnlyWhenSwitchedOn) {
    {
        LibraryTrace trace;
        ComposeArgs args = WithScheme(0);
        args.limit = TRUE;
        args.printerLimit = 3;
        args.machineLimit = 10;
        EXPECT_EQ(Compose(args), L"Las (PC7:3)");
        EXPECT_THAT(
            trace.Lines(),
            ElementsAre("vlibPRINT_CreatePrinterName => (0) Laser", "vlibPRINT_PrinterNameToDisplayName => ",
                        "vlibPRINT_PrinterNameToDisplayName => (Laser) Laser",
                        "vlibPRINT_CreatePrinterName => limiting printer name components to configured length(s)",
                        "vlibPRINT_CreatePrinterName => printer name limited to (3) Las",
                        "vlibPRINT_CreatePrinterName => machine name limited to (10) PC7",
                        "vlibPRINT_CreatePrinterName => result: Las (PC7:3)"));
    }
    ComposeArgs users = WithScheme(6);
    users.limit = TRUE;
    users.userLimit = 2;
    EXPECT_EQ(Compose(users), L"Laser (an:3)");
    users.scheme = 0;
    users.machineLimit = 1;
    EXPECT_EQ(Compose(users), L"Laser (P:3)");

    ComposeArgs zero = WithScheme(0);
    zero.limit = TRUE;
    EXPECT_EQ(Compose(zero), L"Laser (PC7:3)");

    ComposeArgs off = WithScheme(0);
    off.printerLimit = 1;
    off.machineLimit = 1;
    off.userLimit = 1;
    EXPECT_EQ(Compose(off), L"Laser (PC7:3)");
}

TEST(CreatePrinterName, NetworkNameIsComposedInDisplayForm) {
    LibraryTrace trace;
    ComposeArgs args = WithScheme(2);
    args.printer = L"\\\\srv\\Laser";
    EXPECT_EQ(Compose(args), L"Laser on srv (PC7)");
    EXPECT_THAT(trace.Lines(), ElementsAre("vlibPRINT_CreatePrinterName => (2) \\\\srv\\Laser",
                                           "vlibPRINT_PrinterNameToDisplayName => ",
                                           "vlibPRINT_PrinterNameToDisplayName => (\\\\srv\\Laser) Laser on srv",
                                           "vlibPRINT_CreatePrinterName => result: Laser on srv (PC7)"));

    // The display settings reach the display-name conversion unchanged.
    args.replaceOn = TRUE;
    args.onText = L"@";
    args.replaceSpace = TRUE;
    args.spaceText = L"_";
    args.printer = L"\\\\srv\\Laser 5";
    EXPECT_EQ(Compose(args), L"Laser_5@srv (PC7)");
}

TEST(CreatePrinterName, EmptyPrinterNameStillFillsTheLayout) {
    ComposeArgs args = WithScheme(3);
    args.printer = L"";
    EXPECT_EQ(Compose(args), L"PC7:3 ()");
    args.scheme = 42;
    EXPECT_EQ(Compose(args), L" (PC7:3)");
}

TEST(CreatePrinterName, LongResultsAreCutTo259) {
    ComposeArgs args = WithScheme(0);
    args.printer = std::wstring(300, L'x');
    EXPECT_EQ(Compose(args), std::wstring(259, L'x'));

    args.printer = std::wstring(251, L'x');
    EXPECT_EQ(Compose(args), std::wstring(251, L'x') + L" (PC7:3)");  // exactly 259
    args.machine = L"PC77";
    EXPECT_EQ(Compose(args), std::wstring(251, L'x') + L" (PC77:3");  // 260, cut to 259

    // In the custom layout every piece gets only the room that is left.
    ComposeArgs custom = WithScheme(kPrinterNameSchemeCustom);
    custom.literals[0] = std::wstring(255, L'a');
    custom.literals[1] = L"#";
    custom.literals[2] = L"never";
    custom.parts[0] = kPrinterNamePartMachine;
    custom.parts[1] = kPrinterNamePartDisplay;
    custom.parts[2] = kPrinterNamePartNumber;
    EXPECT_EQ(Compose(custom), std::wstring(255, L'a') + L"PC7#");
}

}  // namespace
