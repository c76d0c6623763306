#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "print/devmode_merge.h"
#include "trace_capture.h"

namespace {

using testsupport::TraceCapture;
using Lines = std::vector<std::string>;

// The four merge entry points, each with the name it traces under.
template <class T, BOOL (*F)(const T*, T*, TraceLog*), const char* N>
struct Entry {
    using DM = T;
    static BOOL Run(const T* in, T* out, TraceLog* log) { return F(in, out, log); }
    static constexpr const char* kName = N;
};
constexpr char kMergeW[] = "vlibPRINT_MergeDM4W", kMergeA[] = "vlibPRINT_MergeDM4A", kMergeDM[] = "MergeDM";

template <class Slot>
void SetName(Slot& slot, const char* text) {
    std::memset(slot, 0, sizeof(slot));
    for (size_t i = 0; text[i]; ++i) slot[i] = text[i];
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

// All zero but the version; the source below differs from it in every byte
// no merge may write.
template <class DM>
WithExtra<DM> Blank(WORD specVersion) {
    WithExtra<DM> r;
    std::memset(&r, 0, sizeof(r));
    r.dm.dmSpecVersion = specVersion;
    return r;
}

constexpr DWORD kGroup1 = DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_SCALE | DM_COPIES |
                          DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_COLOR | DM_DUPLEX | DM_YRESOLUTION | DM_TTOPTION |
                          DM_COLLATE | DM_FORMNAME | DM_LOGPIXELS | DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT |
                          DM_DISPLAYFREQUENCY;
constexpr DWORD kGroup2 = DM_ICMMETHOD | DM_ICMINTENT | DM_MEDIATYPE | DM_DITHERTYPE | DM_PANNINGWIDTH | DM_PANNINGHEIGHT;

// Every bit, no byte zero, a form name, and quality and y-resolution as DPI values.
template <class DM>
WithExtra<DM> FullSource() {
    WithExtra<DM> s;
    for (size_t i = 0; i < sizeof(s); ++i) reinterpret_cast<BYTE*>(&s)[i] = BYTE(i % 250 + 3);
    SetName(s.dm.dmFormName, "A4");
    s.dm.dmSpecVersion = 0x0300;  // the source's own version does not matter
    s.dm.dmFields = 0xFFFFFFFF;
    s.dm.dmPrintQuality = 600, s.dm.dmYResolution = 300;
    return s;
}

template <class T>
class Merge : public ::testing::Test {};
using MergeEntries =
    ::testing::Types<Entry<DEVMODEW, vlibPRINT_MergeDM4W, kMergeW>, Entry<DEVMODEA, vlibPRINT_MergeDM4A, kMergeA>,
                     Entry<DEVMODEW, MergeDM, kMergeDM>, Entry<DEVMODEA, MergeDM, kMergeDM>>;
TYPED_TEST_SUITE(Merge, MergeEntries);

TYPED_TEST(Merge, GatesFollowTheTargetsSpecVersion) {
    using DM = typename TypeParam::DM;
    const WithExtra<DM> source = FullSource<DM>();
    const std::string n = std::string(TypeParam::kName) + " => ";
    const Lines after = {n + "spec version is after 0x0320", n + "spec version is after 0x0400",
                         n + "spec version is after 0x0401"};
    struct Gate {
        WORD version;
        size_t groups;
    };
    for (const Gate gate : {Gate{0x0300, 0}, Gate{0x031F, 0}, Gate{0x0320, 1}, Gate{0x03FF, 1}, Gate{0x0400, 2},
                            Gate{0x0401, 3}, Gate{0xFFFF, 3}}) {
        SCOPED_TRACE(gate.version);
        WithExtra<DM> target = Blank<DM>(gate.version);
        // What the target should hold: the source's values in the merged
        // groups, its own everywhere else.
        WithExtra<DM> expected = target;
        DM& e = expected.dm;
        const auto take = [&](size_t from, size_t to) {
            std::memcpy(reinterpret_cast<BYTE*>(&e) + from, reinterpret_cast<const BYTE*>(&source.dm) + from, to - from);
        };
        if (gate.groups >= 1) take(offsetof(DM, dmOrientation), offsetof(DM, dmICMMethod)), e.dmNup = 0;
        if (gate.groups >= 2) take(offsetof(DM, dmICMMethod), offsetof(DM, dmReserved1));
        if (gate.groups >= 2) take(offsetof(DM, dmPanningWidth), sizeof(DM));
        if (gate.groups >= 3) e.dmNup = source.dm.dmNup;
        e.dmFields = (gate.groups >= 1 ? kGroup1 : 0) | (gate.groups >= 2 ? kGroup2 : 0) | (gate.groups >= 3 ? DM_NUP : 0);

        TraceCapture capture;
        EXPECT_TRUE(TypeParam::Run(&source.dm, &target.dm, capture.log()));
        EXPECT_EQ(target.dm.dmFields, e.dmFields);
        EXPECT_EQ(std::memcmp(&target, &expected, sizeof(target)), 0);
        EXPECT_EQ(capture.LinesStartingWith(n + "spec version is after"),
                  Lines(after.begin(), after.begin() + gate.groups));
        EXPECT_EQ(capture.LinesStartingWith(n + "testing spec version against 0x04").size(), 2u);
    }
}

TYPED_TEST(Merge, QualityAndYResolutionTravelTogether) {
    using DM = typename TypeParam::DM;
    const std::string n = std::string(TypeParam::kName) + " => ";
    struct Case {
        DWORD inFields;
        short inQuality, inY;
        DWORD outFields;  // the target's before the merge
        DWORD wantFields;
        short wantQuality, wantY;
        Lines traces;
    };
    const DWORD both = DM_PRINTQUALITY | DM_YRESOLUTION;
    const Case cases[] = {
        {DM_PRINTQUALITY, 600, 1234, 0, both, 600, 600,
         {n + "DM_PRINTQUALITY merging", n + "DM_YRESOLUTION copying since not init"}},
        // A quality level (DMRES_MEDIUM) is no DPI value: y-resolution 0, its bit as it was.
        {DM_PRINTQUALITY, -3, 1234, 0, DM_PRINTQUALITY, -3, 0, {n + "DM_PRINTQUALITY merging"}},
        {DM_PRINTQUALITY, -3, 1234, DM_YRESOLUTION, both, -3, 0, {n + "DM_PRINTQUALITY merging"}},
        {DM_YRESOLUTION, 1200, 300, 0, both, 300, 300,
         {n + "DM_YRESOLUTION merging", n + "DM_PRINTQUALITY copying since not init"}},
        {both, -2, 0, 0, both, -2, 0, {n + "DM_PRINTQUALITY merging", n + "DM_YRESOLUTION merging"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "quality " << c.inQuality << ", y " << c.inY);
        WithExtra<DM> source = Blank<DM>(0x0320), target = Blank<DM>(0x0320);
        source.dm.dmFields = c.inFields, source.dm.dmPrintQuality = c.inQuality, source.dm.dmYResolution = c.inY;
        target.dm.dmFields = c.outFields, target.dm.dmPrintQuality = 75, target.dm.dmYResolution = 75;
        TraceCapture capture;
        TypeParam::Run(&source.dm, &target.dm, capture.log());
        EXPECT_EQ(target.dm.dmFields, c.wantFields);
        EXPECT_EQ(target.dm.dmPrintQuality, c.wantQuality);
        EXPECT_EQ(target.dm.dmYResolution, c.wantY);
        EXPECT_EQ(capture.LinesStartingWith(n + "DM_"), c.traces);
    }
}

TYPED_TEST(Merge, FormNameBitIsSetEvenWhenTheNameIsEmpty) {
    using DM = typename TypeParam::DM;
    const std::string n = std::string(TypeParam::kName) + " => ";
    WithExtra<DM> source = Blank<DM>(0x0401), target = Blank<DM>(0x0401);
    source.dm.dmFields = DM_FORMNAME;
    SetName(target.dm.dmFormName, "Executive");
    target.dm.dmFields = DM_COLOR;  // a bit the source lacks stays set
    TraceCapture capture;
    TypeParam::Run(&source.dm, &target.dm, capture.log());
    EXPECT_EQ(target.dm.dmFields, DWORD(DM_FORMNAME | DM_COLOR));
    EXPECT_EQ(NameOf(target.dm.dmFormName), "Executive");
    EXPECT_EQ(capture.LinesStartingWith(n + "DM_"), Lines{n + "DM_FORMNAME merging"});
    EXPECT_TRUE(capture.LinesStartingWith(n + "copying form name").empty());

    SetName(source.dm.dmFormName, "A4");  // a shorter name replaces a longer one whole
    TypeParam::Run(&source.dm, &target.dm, capture.log());
    EXPECT_EQ(NameOf(target.dm.dmFormName), "A4");
    EXPECT_EQ(capture.LinesStartingWith(n + "copying form name").size(), 1u);

    // A name filling the whole field has no room for its terminator: like a
    // failed bounded copy, the target's name ends up empty.
    for (auto& unit : source.dm.dmFormName) unit = 'L';
    TypeParam::Run(&source.dm, &target.dm, nullptr);
    EXPECT_EQ(NameOf(target.dm.dmFormName), "");
}

TYPED_TEST(Merge, MissingRecordLeavesTheOtherUntouched) {
    WithExtra<typename TypeParam::DM> target = Blank<typename TypeParam::DM>(0x0401);
    const auto before = target;
    TraceCapture capture;
    EXPECT_TRUE(TypeParam::Run(nullptr, &target.dm, capture.log()));
    EXPECT_TRUE(TypeParam::Run(&before.dm, nullptr, capture.log()));
    EXPECT_EQ(std::memcmp(&target, &before, sizeof(target)), 0);
    const std::string n = std::string(TypeParam::kName) + " => ";
    EXPECT_EQ(capture.LinesStartingWith(n), (Lines{n, n + "pdmIn is null", n, n + "pdmOut is null"}));
}

template <class DM>
class Compare : public ::testing::Test {};
using DevmodeTypes = ::testing::Types<DEVMODEW, DEVMODEA>;
TYPED_TEST_SUITE(Compare, DevmodeTypes);

TYPED_TEST(Compare, ChangedSettingsAsMask) {
    using DM = TypeParam;
    WithExtra<DM> before = Blank<DM>(0x0401), after = Blank<DM>(0x0401);
    // Nothing marked: no change, however the values differ.
    after.dm.dmOrientation = 2, after.dm.dmColor = 2;
    SetName(after.dm.dmFormName, "Legal");
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, nullptr), 0u);

    // A bit on one side only is a change whatever the values, both ways round.
    after = before;
    before.dm.dmFields = DM_COLOR, before.dm.dmColor = after.dm.dmColor = 1;
    TraceCapture capture;
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, capture.log()), DWORD(DM_COLOR));
    EXPECT_EQ(CompareDM(&after.dm, &before.dm, nullptr), DWORD(DM_COLOR));
    EXPECT_EQ(capture.LinesStartingWith("CompareDM => "),
              (Lines{"CompareDM => old: " + testsupport::HexAddress(&before.dm),
                     "CompareDM => new:   " + testsupport::HexAddress(&after.dm), "CompareDM => old: ",
                     "CompareDM => new for page: ", "CompareDM => DM_COLOR changed",
                     "CompareDM => dwUpdatedFields: 2048"}));

    // Form names are compared without regard to case.
    before.dm.dmFields = after.dm.dmFields = DM_FORMNAME;
    SetName(before.dm.dmFormName, "Letter");
    SetName(after.dm.dmFormName, "LETTER");
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, nullptr), 0u);
    SetName(after.dm.dmFormName, "Letter Small");
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, nullptr), DWORD(DM_FORMNAME));
}

TYPED_TEST(Compare, EverySettingOfTheSetIsComparedByValue) {
    using DM = TypeParam;
    WithExtra<DM> before = FullSource<DM>(), after = before;
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, nullptr), 0u);
    // Change every 16-bit value from dmOrientation to dmCollate and the form
    // name; drop the bits of settings outside the compared set.
    for (size_t at = offsetof(DM, dmOrientation); at < offsetof(DM, dmFormName); at += 2)
        reinterpret_cast<BYTE*>(&after.dm)[at] ^= 1;
    SetName(after.dm.dmFormName, "A5");
    after.dm.dmFields &= ~DWORD(DM_TTOPTION | DM_LOGPIXELS | DM_NUP | DM_MEDIATYPE | DM_BITSPERPEL | DM_ICMMETHOD);
    TraceCapture capture;
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, capture.log()),
              DWORD(DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_SCALE | DM_COPIES |
                    DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_COLOR | DM_DUPLEX | DM_YRESOLUTION | DM_COLLATE |
                    DM_FORMNAME));
    const Lines changes = capture.LinesStartingWith("CompareDM => DM_");
    ASSERT_EQ(changes.size(), 13u);
    EXPECT_EQ(changes[0], "CompareDM => DM_ORIENTATION changed");
    EXPECT_EQ(changes[7], "CompareDM => DM_PRINTQUALITY changed");
    EXPECT_EQ(changes[10], "CompareDM => DM_YRESOLUTION changed");
    EXPECT_EQ(changes[12], "CompareDM => DM_FORMNAME changed");

    EXPECT_EQ(CompareDM(static_cast<const DM*>(nullptr), &after.dm, capture.log()), 0u);
    EXPECT_EQ(CompareDM(&before.dm, static_cast<const DM*>(nullptr), capture.log()), 0u);
    EXPECT_EQ(capture.LinesStartingWith("CompareDM => p"),
              (Lines{"CompareDM => pdmOld is null", "CompareDM => pdmNew is null"}));
}

}  // namespace
