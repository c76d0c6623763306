#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "print/devmode_merge.h"
#include "trace_capture.h"

namespace {

using testsupport::TraceCapture;
using Lines = std::vector<std::string>;

// The four merge entry points, each with the name it traces under.
struct MergeW {
    using DM = DEVMODEW;
    static BOOL Run(const DM* in, DM* out, TraceLog* log) { return vlibPRINT_MergeDM4W(in, out, log); }
    static constexpr const char* kName = "vlibPRINT_MergeDM4W";
};
struct MergeA {
    using DM = DEVMODEA;
    static BOOL Run(const DM* in, DM* out, TraceLog* log) { return vlibPRINT_MergeDM4A(in, out, log); }
    static constexpr const char* kName = "vlibPRINT_MergeDM4A";
};
struct MergeDmW {
    using DM = DEVMODEW;
    static BOOL Run(const DM* in, DM* out, TraceLog* log) { return MergeDM(in, out, log); }
    static constexpr const char* kName = "MergeDM";
};
struct MergeDmA {
    using DM = DEVMODEA;
    static BOOL Run(const DM* in, DM* out, TraceLog* log) { return MergeDM(in, out, log); }
    static constexpr const char* kName = "MergeDM";
};

template <class Slot>
void SetName(Slot& slot, const char* text) {
    std::memset(slot, 0, sizeof(slot));
    for (size_t i = 0; text[i]; ++i) slot[i] = static_cast<std::remove_reference_t<decltype(slot[0])>>(text[i]);
}
template <class Slot>
std::string NameOf(const Slot& slot) {
    std::string text;
    for (size_t i = 0; i < sizeof(slot) / sizeof(slot[0]) && slot[i]; ++i) text += static_cast<char>(slot[i]);
    return text;
}

// A DEVMODE followed by driver-private bytes, which no merge may touch.
template <class DM>
struct WithExtra {
    DM dm;
    BYTE extra[32];
};

template <class DM>
WithExtra<DM> Blank(WORD specVersion) {
    WithExtra<DM> r;
    std::memset(&r, 0, sizeof(r));
    SetName(r.dm.dmDeviceName, "target");
    r.dm.dmSpecVersion = specVersion;
    r.dm.dmDriverVersion = 0x0100;
    r.dm.dmSize = sizeof(DM);
    r.dm.dmDriverExtra = sizeof(r.extra);
    r.dm.dmReserved1 = 5;
    r.dm.dmReserved2 = 6;
    std::memset(r.extra, 0xEE, sizeof(r.extra));
    return r;
}

constexpr DWORD kGroup1 = DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_SCALE | DM_COPIES |
                          DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_COLOR | DM_DUPLEX | DM_YRESOLUTION | DM_TTOPTION |
                          DM_COLLATE | DM_FORMNAME | DM_LOGPIXELS | DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT |
                          DM_DISPLAYFREQUENCY;
constexpr DWORD kGroup2 =
    DM_ICMMETHOD | DM_ICMINTENT | DM_MEDIATYPE | DM_DITHERTYPE | DM_PANNINGWIDTH | DM_PANNINGHEIGHT;
constexpr DWORD kNeverMerged = DM_POSITION | DM_DISPLAYORIENTATION | DM_DISPLAYFLAGS | DM_DISPLAYFIXEDOUTPUT;

// A source that carries every mergeable field, plus bits no merge passes on.
template <class DM>
WithExtra<DM> FullSource() {
    WithExtra<DM> s = Blank<DM>(0x0300);  // the source's own version does not matter
    SetName(s.dm.dmDeviceName, "source");
    s.dm.dmDriverVersion = 0x0999;
    s.dm.dmSize = 1;
    s.dm.dmDriverExtra = 2;
    s.dm.dmReserved1 = 77;
    s.dm.dmReserved2 = 78;
    std::memset(s.extra, 0x11, sizeof(s.extra));
    s.dm.dmFields = kGroup1 | kGroup2 | DM_NUP | kNeverMerged;
    s.dm.dmOrientation = 2;
    s.dm.dmPaperSize = 9;
    s.dm.dmPaperLength = 2970;
    s.dm.dmPaperWidth = 2100;
    s.dm.dmScale = 90;
    s.dm.dmCopies = 3;
    s.dm.dmDefaultSource = 7;
    s.dm.dmPrintQuality = 600;
    s.dm.dmColor = 2;
    s.dm.dmDuplex = 3;
    s.dm.dmYResolution = 300;
    s.dm.dmTTOption = 1;
    s.dm.dmCollate = 1;
    SetName(s.dm.dmFormName, "A4");
    s.dm.dmLogPixels = 96;
    s.dm.dmBitsPerPel = 24;
    s.dm.dmPelsWidth = 4960;
    s.dm.dmPelsHeight = 7016;
    s.dm.dmDisplayFrequency = 60;
    s.dm.dmICMMethod = 2;
    s.dm.dmICMIntent = 3;
    s.dm.dmMediaType = 257;
    s.dm.dmDitherType = 4;
    s.dm.dmPanningWidth = 13;
    s.dm.dmPanningHeight = 14;
    s.dm.dmNup = 2;
    return s;
}

template <class T>
class Merge : public ::testing::Test {};
using MergeEntries = ::testing::Types<MergeW, MergeA, MergeDmW, MergeDmA>;
TYPED_TEST_SUITE(Merge, MergeEntries);

TYPED_TEST(Merge, GatesFollowTheTargetsSpecVersion) {
    using DM = typename TypeParam::DM;
    const WithExtra<DM> source = FullSource<DM>();

    for (WORD version : {WORD(0x0300), WORD(0x031F)}) {
        WithExtra<DM> target = Blank<DM>(version);
        const WithExtra<DM> before = target;
        EXPECT_TRUE(TypeParam::Run(&source.dm, &target.dm, nullptr));
        EXPECT_EQ(std::memcmp(&target, &before, sizeof(target)), 0) << "version " << version;
    }

    struct Gate {
        WORD version;
        DWORD fields;
    };
    for (const Gate gate : {Gate{0x0320, kGroup1}, Gate{0x03FF, kGroup1}, Gate{0x0400, kGroup1 | kGroup2},
                            Gate{0x0401, kGroup1 | kGroup2 | DM_NUP}, Gate{0x0500, kGroup1 | kGroup2 | DM_NUP}}) {
        WithExtra<DM> target = Blank<DM>(gate.version);
        EXPECT_TRUE(TypeParam::Run(&source.dm, &target.dm, nullptr));
        const DM& t = target.dm;
        EXPECT_EQ(t.dmFields, gate.fields) << "version " << gate.version;
        // Group 1.
        EXPECT_EQ(t.dmOrientation, 2);
        EXPECT_EQ(t.dmPaperSize, 9);
        EXPECT_EQ(t.dmPaperLength, 2970);
        EXPECT_EQ(t.dmPaperWidth, 2100);
        EXPECT_EQ(t.dmScale, 90);
        EXPECT_EQ(t.dmCopies, 3);
        EXPECT_EQ(t.dmDefaultSource, 7);
        EXPECT_EQ(t.dmPrintQuality, 600);
        EXPECT_EQ(t.dmYResolution, 300);
        EXPECT_EQ(t.dmColor, 2);
        EXPECT_EQ(t.dmDuplex, 3);
        EXPECT_EQ(t.dmTTOption, 1);
        EXPECT_EQ(t.dmCollate, 1);
        EXPECT_EQ(NameOf(t.dmFormName), "A4");
        EXPECT_EQ(t.dmLogPixels, 96);
        EXPECT_EQ(t.dmBitsPerPel, 24u);
        EXPECT_EQ(t.dmPelsWidth, 4960u);
        EXPECT_EQ(t.dmPelsHeight, 7016u);
        EXPECT_EQ(t.dmDisplayFrequency, 60u);
        // Group 2 and dmNup only past their gates.
        const bool group2 = gate.version >= 0x0400;
        EXPECT_EQ(t.dmICMMethod, group2 ? 2u : 0u);
        EXPECT_EQ(t.dmICMIntent, group2 ? 3u : 0u);
        EXPECT_EQ(t.dmMediaType, group2 ? 257u : 0u);
        EXPECT_EQ(t.dmDitherType, group2 ? 4u : 0u);
        EXPECT_EQ(t.dmPanningWidth, group2 ? 13u : 0u);
        EXPECT_EQ(t.dmPanningHeight, group2 ? 14u : 0u);
        EXPECT_EQ(t.dmNup, gate.version >= 0x0401 ? 2u : 0u);
        // Never merged.
        EXPECT_EQ(NameOf(t.dmDeviceName), "target");
        EXPECT_EQ(t.dmSpecVersion, gate.version);
        EXPECT_EQ(t.dmDriverVersion, 0x0100);
        EXPECT_EQ(t.dmSize, sizeof(DM));
        EXPECT_EQ(t.dmDriverExtra, 32);
        EXPECT_EQ(t.dmReserved1, 5u);
        EXPECT_EQ(t.dmReserved2, 6u);
        for (BYTE b : target.extra) ASSERT_EQ(b, 0xEE);
    }
}

TYPED_TEST(Merge, QualityWithoutResolutionGivesDpiAsResolution) {
    using DM = typename TypeParam::DM;
    WithExtra<DM> source = Blank<DM>(0x0401);
    source.dm.dmFields = DM_PRINTQUALITY;
    source.dm.dmPrintQuality = 600;
    source.dm.dmYResolution = 1234;  // not marked: ignored
    WithExtra<DM> target = Blank<DM>(0x0401);
    target.dm.dmYResolution = 75;

    TraceCapture capture;
    EXPECT_TRUE(TypeParam::Run(&source.dm, &target.dm, capture.log()));
    EXPECT_EQ(target.dm.dmFields, DWORD(DM_PRINTQUALITY | DM_YRESOLUTION));
    EXPECT_EQ(target.dm.dmPrintQuality, 600);
    EXPECT_EQ(target.dm.dmYResolution, 600);

    const std::string n = std::string(TypeParam::kName) + " => ";
    const Lines expected = {
        n,
        n + "testing spec version against 0x0320",
        n + "spec version is after 0x0320",
        n + "DM_PRINTQUALITY merging",
        n + "DM_YRESOLUTION copying since not init",
        n + "testing spec version against 0x0400",
        n + "spec version is after 0x0400",
        n + "testing spec version against 0x0401",
        n + "spec version is after 0x0401",
        n + "resultant devmode:",
    };
    EXPECT_EQ(capture.LinesStartingWith(n), expected);
    // Both records on the way in and the result on the way out.
    EXPECT_EQ(capture.LinesStartingWith("LogDevmode => dmPrintQuality:").size(), 3u);
}

TYPED_TEST(Merge, QualityLevelLeavesResolutionZeroAndItsBitAlone) {
    using DM = typename TypeParam::DM;
    WithExtra<DM> source = Blank<DM>(0x0401);
    source.dm.dmFields = DM_PRINTQUALITY;
    source.dm.dmPrintQuality = -3;  // DMRES_MEDIUM

    WithExtra<DM> marked = Blank<DM>(0x0401);
    marked.dm.dmFields = DM_YRESOLUTION;
    marked.dm.dmYResolution = 1200;
    TypeParam::Run(&source.dm, &marked.dm, nullptr);
    EXPECT_EQ(marked.dm.dmPrintQuality, -3);
    EXPECT_EQ(marked.dm.dmYResolution, 0);
    EXPECT_EQ(marked.dm.dmFields, DWORD(DM_PRINTQUALITY | DM_YRESOLUTION));

    WithExtra<DM> unmarked = Blank<DM>(0x0401);
    unmarked.dm.dmYResolution = 1200;
    TraceCapture capture;
    TypeParam::Run(&source.dm, &unmarked.dm, capture.log());
    EXPECT_EQ(unmarked.dm.dmPrintQuality, -3);
    EXPECT_EQ(unmarked.dm.dmYResolution, 0);
    EXPECT_EQ(unmarked.dm.dmFields, DWORD(DM_PRINTQUALITY));
    EXPECT_TRUE(capture.LinesStartingWith(std::string(TypeParam::kName) + " => DM_YRESOLUTION").empty());
}

TYPED_TEST(Merge, ResolutionAloneGivesTheSameQuality) {
    using DM = typename TypeParam::DM;
    WithExtra<DM> source = Blank<DM>(0x0320);
    source.dm.dmFields = DM_YRESOLUTION;
    source.dm.dmYResolution = 300;
    source.dm.dmPrintQuality = 1200;  // not marked: ignored
    WithExtra<DM> target = Blank<DM>(0x0320);
    TraceCapture capture;
    TypeParam::Run(&source.dm, &target.dm, capture.log());
    EXPECT_EQ(target.dm.dmFields, DWORD(DM_PRINTQUALITY | DM_YRESOLUTION));
    EXPECT_EQ(target.dm.dmYResolution, 300);
    EXPECT_EQ(target.dm.dmPrintQuality, 300);
    const std::string n = std::string(TypeParam::kName) + " => ";
    EXPECT_EQ(capture.LinesStartingWith(n + "DM_"),
              (Lines{n + "DM_YRESOLUTION merging", n + "DM_PRINTQUALITY copying since not init"}));
}

TYPED_TEST(Merge, QualityAndResolutionTogetherAreCopiedAsTheyAre) {
    using DM = typename TypeParam::DM;
    WithExtra<DM> source = Blank<DM>(0x0401);
    source.dm.dmFields = DM_PRINTQUALITY | DM_YRESOLUTION;
    source.dm.dmPrintQuality = -2;
    source.dm.dmYResolution = 0;
    WithExtra<DM> target = Blank<DM>(0x0401);
    target.dm.dmPrintQuality = 600;
    target.dm.dmYResolution = 600;
    TypeParam::Run(&source.dm, &target.dm, nullptr);
    EXPECT_EQ(target.dm.dmFields, DWORD(DM_PRINTQUALITY | DM_YRESOLUTION));
    EXPECT_EQ(target.dm.dmPrintQuality, -2);
    EXPECT_EQ(target.dm.dmYResolution, 0);
}

TYPED_TEST(Merge, FormNameBitIsSetEvenWhenTheNameIsEmpty) {
    using DM = typename TypeParam::DM;
    WithExtra<DM> source = Blank<DM>(0x0401);
    source.dm.dmFields = DM_FORMNAME;
    WithExtra<DM> target = Blank<DM>(0x0401);
    SetName(target.dm.dmFormName, "Executive");
    target.dm.dmFields = DM_COLOR;  // a bit the source lacks stays set
    target.dm.dmColor = 2;
    TraceCapture capture;
    TypeParam::Run(&source.dm, &target.dm, capture.log());
    EXPECT_EQ(target.dm.dmFields, DWORD(DM_FORMNAME | DM_COLOR));
    EXPECT_EQ(NameOf(target.dm.dmFormName), "Executive");
    EXPECT_EQ(target.dm.dmColor, 2);
    const std::string n = std::string(TypeParam::kName) + " => ";
    EXPECT_TRUE(capture.LinesStartingWith(n + "copying form name").empty());

    // A shorter name replaces a longer one whole.
    SetName(source.dm.dmFormName, "A4");
    TypeParam::Run(&source.dm, &target.dm, capture.log());
    EXPECT_EQ(NameOf(target.dm.dmFormName), "A4");
    EXPECT_EQ(capture.LinesStartingWith(n + "copying form name").size(), 1u);

    // A name filling the whole field has no room for its terminator: like a
    // failed bounded copy, the target's name ends up empty.
    std::memset(source.dm.dmFormName, 0, sizeof(source.dm.dmFormName));
    for (auto& unit : source.dm.dmFormName) unit = 'L';
    TypeParam::Run(&source.dm, &target.dm, nullptr);
    EXPECT_EQ(NameOf(target.dm.dmFormName), "");
    EXPECT_TRUE(target.dm.dmFields & DM_FORMNAME);
}

TYPED_TEST(Merge, MissingRecordLeavesTheOtherUntouched) {
    using DM = typename TypeParam::DM;
    const WithExtra<DM> source = FullSource<DM>();
    WithExtra<DM> target = Blank<DM>(0x0401);
    const WithExtra<DM> before = target;
    TraceCapture capture;
    EXPECT_TRUE(TypeParam::Run(nullptr, &target.dm, capture.log()));
    EXPECT_TRUE(TypeParam::Run(&source.dm, nullptr, capture.log()));
    EXPECT_EQ(std::memcmp(&target, &before, sizeof(target)), 0);
    const std::string n = std::string(TypeParam::kName) + " => ";
    EXPECT_EQ(capture.LinesStartingWith(n), (Lines{n, n + "pdmIn is null", n, n + "pdmOut is null"}));
}

// Compare, in both widths.
template <class DM>
class Compare : public ::testing::Test {};
using DevmodeTypes = ::testing::Types<DEVMODEW, DEVMODEA>;
TYPED_TEST_SUITE(Compare, DevmodeTypes);

TYPED_TEST(Compare, ABitOnOneSideIsAChangeWhateverTheValues) {
    using DM = TypeParam;
    WithExtra<DM> before = Blank<DM>(0x0401), after = Blank<DM>(0x0401);
    before.dm.dmFields = DM_COLOR;
    before.dm.dmColor = 1;
    after.dm.dmColor = 1;
    TraceCapture capture;
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, capture.log()), DWORD(DM_COLOR));
    EXPECT_EQ(capture.LinesStartingWith("CompareDM => "),
              (Lines{"CompareDM => old: " + testsupport::HexAddress(&before.dm),
                     "CompareDM => new:   " + testsupport::HexAddress(&after.dm), "CompareDM => old: ",
                     "CompareDM => new for page: ", "CompareDM => DM_COLOR changed",
                     "CompareDM => dwUpdatedFields: 2048"}));
    // The other way round as well.
    EXPECT_EQ(CompareDM(&after.dm, &before.dm, nullptr), DWORD(DM_COLOR));
}

TYPED_TEST(Compare, FormNamesIgnoreCaseAndUnmarkedSettingsNeverDiffer) {
    using DM = TypeParam;
    WithExtra<DM> before = Blank<DM>(0x0401), after = Blank<DM>(0x0401);
    // Nothing marked: no change, however the values differ.
    before.dm.dmOrientation = 1;
    after.dm.dmOrientation = 2;
    SetName(before.dm.dmFormName, "Letter");
    SetName(after.dm.dmFormName, "Legal");
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, nullptr), 0u);

    before.dm.dmFields = after.dm.dmFields = DM_FORMNAME;
    SetName(after.dm.dmFormName, "LETTER");
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, nullptr), 0u);
    SetName(after.dm.dmFormName, "Letter Small");
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, nullptr), DWORD(DM_FORMNAME));

    // Settings outside the compared set do not count, marked or not.
    WithExtra<DM> x = Blank<DM>(0x0401), y = Blank<DM>(0x0401);
    x.dm.dmFields = DM_TTOPTION | DM_LOGPIXELS | DM_NUP | DM_MEDIATYPE | DM_BITSPERPEL;
    x.dm.dmTTOption = 1;
    x.dm.dmLogPixels = 96;
    x.dm.dmNup = 2;
    x.dm.dmMediaType = 257;
    EXPECT_EQ(CompareDM(&x.dm, &y.dm, nullptr), 0u);
}

TYPED_TEST(Compare, EverySettingOfTheSetIsComparedByValue) {
    using DM = TypeParam;
    const DWORD compared = DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_SCALE | DM_COPIES |
                           DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_COLOR | DM_DUPLEX | DM_YRESOLUTION | DM_COLLATE |
                           DM_FORMNAME;
    WithExtra<DM> before = FullSource<DM>();
    WithExtra<DM> after = before;
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, nullptr), 0u);  // same values, same bits

    DM& a = after.dm;
    a.dmOrientation = 1;
    a.dmPaperSize = 1;
    a.dmPaperLength = 1;
    a.dmPaperWidth = 1;
    a.dmScale = 1;
    a.dmCopies = 1;
    a.dmDefaultSource = 1;
    a.dmPrintQuality = 1;
    a.dmColor = 1;
    a.dmDuplex = 1;
    a.dmYResolution = 1;
    a.dmCollate = 2;
    SetName(a.dmFormName, "A5");
    TraceCapture capture;
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, capture.log()), compared);
    const Lines changes = capture.LinesStartingWith("CompareDM => DM_");
    ASSERT_EQ(changes.size(), 13u);
    EXPECT_EQ(changes.front(), "CompareDM => DM_ORIENTATION changed");
    EXPECT_EQ(changes[7], "CompareDM => DM_PRINTQUALITY changed");
    EXPECT_EQ(changes[10], "CompareDM => DM_YRESOLUTION changed");
    EXPECT_EQ(changes.back(), "CompareDM => DM_FORMNAME changed");
}

TYPED_TEST(Compare, MissingRecordIsNoChange) {
    using DM = TypeParam;
    WithExtra<DM> record = FullSource<DM>();
    TraceCapture capture;
    EXPECT_EQ(CompareDM(static_cast<const DM*>(nullptr), &record.dm, capture.log()), 0u);
    EXPECT_EQ(CompareDM(&record.dm, static_cast<const DM*>(nullptr), capture.log()), 0u);
    EXPECT_EQ(capture.LinesStartingWith("CompareDM => p"),
              (Lines{"CompareDM => pdmOld is null", "CompareDM => pdmNew is null"}));
    EXPECT_TRUE(capture.LinesStartingWith("CompareDM => dwUpdatedFields").empty());
}

}  // namespace
