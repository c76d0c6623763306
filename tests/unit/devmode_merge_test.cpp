#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <tuple>

#include "print/devmode_merge.h"
#include "trace_capture.h"

namespace {

using testsupport::SetName;

// The four merge entry points.
template <class T, BOOL (*F)(const T*, T*, TraceLog*)>
struct Entry {
    using DM = T;
    static BOOL Run(const T* in, T* out) { return F(in, out, nullptr); }
};

// A DEVMODE followed by driver-private bytes, which no merge may touch.
template <class DM>
struct WithExtra {
    DM dm;
    BYTE extra[32];
};

// All zero but the version.
template <class DM>
WithExtra<DM> Blank(WORD specVersion) {
    WithExtra<DM> r{};
    r.dm.dmSpecVersion = specVersion;
    return r;
}

// Every bit, no byte zero, a form name, and quality and y-resolution as DPI
// values: it differs in every byte no merge may write from the all-zero targets.
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
using MergeEntries = ::testing::Types<Entry<DEVMODEW, vlibPRINT_MergeDM4W>, Entry<DEVMODEA, vlibPRINT_MergeDM4A>,
                                      Entry<DEVMODEW, MergeDM>, Entry<DEVMODEA, MergeDM>>;
TYPED_TEST_SUITE(Merge, MergeEntries);

// Group 1 (DM_ORIENTATION .. DM_SCALE, DM_COPIES .. DM_PELSHEIGHT, DM_DISPLAYFREQUENCY)
// from 0x0320, group 2 (DM_ICMMETHOD .. DM_PANNINGHEIGHT) from 0x0400, DM_NUP from 0x0401.
TYPED_TEST(Merge, GatesFollowTheTargetsSpecVersion) {
    using DM = typename TypeParam::DM;
    const WithExtra<DM> source = FullSource<DM>();
    const std::pair<WORD, int> gates[] = {{0x0300, 0}, {0x031F, 0}, {0x0320, 1}, {0x03FF, 1}, {0x0400, 2}, {0x0401, 3}};
    for (const auto& [version, groups] : gates) {
        SCOPED_TRACE(version);
        WithExtra<DM> target = Blank<DM>(version), expected = target;
        // What the target should hold: the source's values in the merged groups, its own elsewhere.
        const auto take = [&](size_t from, size_t to) {
            std::memcpy(reinterpret_cast<BYTE*>(&expected) + from, reinterpret_cast<const BYTE*>(&source) + from, to - from);
        };
        if (groups >= 1) take(offsetof(DM, dmOrientation), offsetof(DM, dmICMMethod)), expected.dm.dmNup = 0;
        if (groups >= 2) take(offsetof(DM, dmICMMethod), offsetof(DM, dmReserved1)), take(offsetof(DM, dmPanningWidth), sizeof(DM));
        if (groups >= 3) expected.dm.dmNup = source.dm.dmNup;
        expected.dm.dmFields = (groups >= 1 ? 0x005FFF1Fu : 0) | (groups >= 2 ? 0x1F800000u : 0) | (groups >= 3 ? DM_NUP : 0);
        EXPECT_TRUE(TypeParam::Run(&source.dm, &target.dm));
        EXPECT_EQ(std::memcmp(&target, &expected, sizeof(target)), 0);
    }
}

TYPED_TEST(Merge, QualityAndYResolutionTravelTogether) {
    const DWORD both = DM_PRINTQUALITY | DM_YRESOLUTION;
    // The target's fields before and after the merge.
    const struct { DWORD inFields; short inQuality, inY; DWORD outFields, wantFields; short wantQuality, wantY; } cases[] = {
        {DM_PRINTQUALITY, 600, 1234, 0, both, 600, 600},
        // Quality 0, like a quality level (DMRES_MEDIUM), is no DPI value: y-resolution 0, its bit as it was.
        {DM_PRINTQUALITY, 0, 1234, 0, DM_PRINTQUALITY, 0, 0},
        {DM_PRINTQUALITY, -3, 1234, DM_YRESOLUTION, both, -3, 0},
        {DM_YRESOLUTION, 1200, 300, 0, both, 300, 300},
        {both, -2, 0, 0, both, -2, 0},
    };
    for (const auto& c : cases) {
        auto source = Blank<typename TypeParam::DM>(0x0320), target = source;
        source.dm.dmFields = c.inFields, source.dm.dmPrintQuality = c.inQuality, source.dm.dmYResolution = c.inY;
        target.dm.dmFields = c.outFields, target.dm.dmPrintQuality = 75, target.dm.dmYResolution = 75;
        TypeParam::Run(&source.dm, &target.dm);
        EXPECT_EQ(std::tuple(target.dm.dmFields, target.dm.dmPrintQuality, target.dm.dmYResolution),
                  std::tuple(c.wantFields, c.wantQuality, c.wantY)) << "quality " << c.inQuality << ", y " << c.inY;
    }
}

TYPED_TEST(Merge, FormNameBitIsSetEvenWhenTheNameIsEmpty) {
    auto source = Blank<typename TypeParam::DM>(0x0401), target = source;
    source.dm.dmFields = DM_FORMNAME;
    SetName(target.dm.dmFormName, "Executive");
    target.dm.dmFields = DM_COLOR;  // a bit the source lacks stays set
    source.dm.dmLogPixels = 96;     // the field after the name is no part of it
    // An empty name leaves the target's; a shorter name replaces a longer one
    // whole; a name filling the whole field has no room for its terminator:
    // like a failed bounded copy, the target's name ends up empty.
    const std::pair<std::string, std::string> names[] = {{"", "Executive"}, {"A4", "A4"}, {std::string(32, 'L'), ""}};
    for (const auto& [name, kept] : names) {
        SetName(source.dm.dmFormName, name.c_str());
        TypeParam::Run(&source.dm, &target.dm);
        EXPECT_EQ(target.dm.dmFields, DWORD(DM_FORMNAME | DM_COLOR)) << name;
        const auto& got = target.dm.dmFormName;  // up to its terminator or the end of the field
        EXPECT_EQ(std::string(std::begin(got), std::find(std::begin(got), std::end(got), 0)), kept) << name;
    }
    // A missing record on either side leaves the other untouched.
    const auto before = target;
    EXPECT_TRUE(TypeParam::Run(nullptr, &target.dm) && TypeParam::Run(&source.dm, nullptr));
    EXPECT_EQ(std::memcmp(&target, &before, sizeof(target)), 0);
}

template <class DM>
class Compare : public ::testing::Test {};
using DevmodeTypes = ::testing::Types<DEVMODEW, DEVMODEA>;
TYPED_TEST_SUITE(Compare, DevmodeTypes);

TYPED_TEST(Compare, ChangedSettingsAsMask) {
    using DM = TypeParam;
    WithExtra<DM> before = FullSource<DM>(), after = before;
    // Every 16-bit value from dmOrientation to dmCollate and the form name
    // differ; the bits of settings outside the compared set are dropped on one
    // side: DM_ORIENTATION .. DM_SCALE, DM_COPIES .. DM_COLLATE but DM_TTOPTION, DM_FORMNAME.
    for (size_t at = offsetof(DM, dmOrientation); at < offsetof(DM, dmFormName); at += 2)
        reinterpret_cast<BYTE*>(&after.dm)[at] ^= 1;
    SetName(after.dm.dmFormName, "A5");
    after.dm.dmFields &= ~DWORD(DM_TTOPTION | DM_LOGPIXELS | DM_NUP | DM_MEDIATYPE | DM_BITSPERPEL | DM_ICMMETHOD);
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, nullptr), 0x1BF1Fu);
    // Nothing marked is no change, however the values differ (every setting but
    // the colour below); a bit on one side only is a change whatever the
    // values, both ways round.
    before.dm.dmFields = after.dm.dmFields = 0;
    before.dm.dmFields = DM_COLOR, before.dm.dmColor = after.dm.dmColor = 1;
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, nullptr), DWORD(DM_COLOR));
    EXPECT_EQ(CompareDM(&after.dm, &before.dm, nullptr), DWORD(DM_COLOR));
    // Form names are compared without regard to case.
    before.dm.dmFields = after.dm.dmFields = DM_FORMNAME;
    SetName(before.dm.dmFormName, "Letter");
    SetName(after.dm.dmFormName, "LETTER");
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, nullptr), 0u);
    SetName(after.dm.dmFormName, "Letter Small");
    EXPECT_EQ(CompareDM(&before.dm, &after.dm, nullptr), DWORD(DM_FORMNAME));
    EXPECT_EQ(CompareDM(static_cast<const DM*>(nullptr), &after.dm, nullptr), 0u);
    EXPECT_EQ(CompareDM(&before.dm, static_cast<const DM*>(nullptr), nullptr), 0u);
}

// The merge's and the compare's own lines, the dumps between them aside.
TEST(DevmodeTrace, MergeTracesItsGatesAndFieldsCompareItsChanges) {
    testsupport::TraceCapture trace;
    WithExtra<DEVMODEW> source = Blank<DEVMODEW>(0), target = Blank<DEVMODEW>(0x0320);
    source.dm.dmFields = DM_ORIENTATION | DM_PRINTQUALITY | DM_NUP;  // DM_NUP is beyond the 0x0320 gate
    source.dm.dmPrintQuality = 600;
    vlibPRINT_MergeDM4W(&source.dm, &target.dm, trace.log());
    source.dm.dmFields = DM_YRESOLUTION, source.dm.dmYResolution = 300, target.dm.dmSpecVersion = 0x0401;
    MergeDM(&source.dm, &target.dm, trace.log());
    const std::string m = "vlibPRINT_MergeDM4W => ", g = "MergeDM => ", t = "testing spec version against 0x0";
    EXPECT_EQ(trace.LinesStartingWith(m), (std::vector<std::string>{m, m + t + "320", m + "spec version is after 0x0320",
                                                m + "DM_ORIENTATION merging", m + "DM_PRINTQUALITY merging",
                                                m + "DM_YRESOLUTION copying since not init", m + t + "400",
                                                m + t + "401", m + "resultant devmode:"}));
    EXPECT_EQ(trace.LinesStartingWith(g), (std::vector<std::string>{g, g + t + "320", g + "spec version is after 0x0320",
                                                g + "DM_YRESOLUTION merging", g + "DM_PRINTQUALITY copying since not init",
                                                g + t + "400", g + "spec version is after 0x0400", g + t + "401",
                                                g + "spec version is after 0x0401", g + "resultant devmode:"}));
    WithExtra<DEVMODEW> after = target;
    after.dm.dmFields |= DM_COLOR;
    after.dm.dmYResolution = 150;
    EXPECT_EQ(CompareDM(&target.dm, &after.dm, trace.log()), DWORD(DM_COLOR | DM_YRESOLUTION));
    EXPECT_EQ(trace.LinesStartingWith("CompareDM => DM"),
              (std::vector<std::string>{"CompareDM => DM_COLOR changed", "CompareDM => DM_YRESOLUTION changed"}));
    EXPECT_EQ(trace.LinesStartingWith("CompareDM => dw"), (std::vector<std::string>{"CompareDM => dwUpdatedFields: 10240"}));
}

}  // namespace
