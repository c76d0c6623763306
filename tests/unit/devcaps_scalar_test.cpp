// The single-number capability queries: defaults, the driver's answer passed
// through unchanged, fault values, and the special trace forms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devcaps/scalar_queries.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using devcaps_test::LibraryTrace;
using fake::FakePrintSystem;
using fake::Op;

using Query = int (*)(LPCWSTR, LPCWSTR, const DEVMODEW*);

struct Member {
    Query query;
    const char* name;
    const char* indexName;
    int index;
    int defaultValue;
    int exceptionValue;
};

// Written out independently of the library's own table.
const std::vector<Member>& Members() {
    static const std::vector<Member> members = {
        {vlibPRINT_QueryDevCap_Collate, "Collate", "DC_COLLATE", 22, 1, 0},
        {vlibPRINT_QueryDevCap_Color, "Color", "DC_COLORDEVICE", 32, 2, 2},
        {vlibPRINT_QueryDevCap_Copies, "Copies", "DC_COPIES", 18, 9999, 0},
        {vlibPRINT_QueryDevCap_Driver, "Driver", "DC_DRIVER", 11, 1280, 0},
        {vlibPRINT_QueryDevCap_Datatype, "Datatype", "DC_DATATYPE_PRODUCED", 21, -1, 0},
        {vlibPRINT_QueryDevCap_Duplex, "Duplex", "DC_DUPLEX", 7, 1, 0},
        {vlibPRINT_QueryDevCap_EMF, "EMF", "DC_EMF_COMPLIANT", 20, -1, 0},
        {vlibPRINT_QueryDevCap_Extra, "Extra", "DC_EXTRA", 9, 0, 0},
        {vlibPRINT_QueryDevCap_Fields, "Fields", "DC_FIELDS", 1, 0x0781EF43, 0},
        {vlibPRINT_QueryDevCap_Manufacturer, "Manufacturer", "DC_MANUFACTURER", 23, -1, 0},
        {vlibPRINT_QueryDevCap_MaxExtent, "MaxExtent", "DC_MAXEXTENT", 5, 0x7FFFFFFF, 0},
        {vlibPRINT_QueryDevCap_MinExtent, "MinExtent", "DC_MINEXTENT", 4, 0, 0},
        {vlibPRINT_QueryDevCap_Model, "Model", "DC_MODEL", 24, -1, 0},
        {vlibPRINT_QueryDevCap_Orientation, "Orientation", "DC_ORIENTATION", 17, 90, 0},
        {vlibPRINT_QueryDevCap_PrinterMem, "PrinterMem", "DC_PRINTERMEM", 28, 0, 0},
        {vlibPRINT_QueryDevCap_PrintRate, "PrintRate", "DC_PRINTRATE", 26, 10, 0},
        {vlibPRINT_QueryDevCap_PrintRatePPM, "PrintRatePPM", "DC_PRINTRATEPPM", 31, 10, 0},
        {vlibPRINT_QueryDevCap_PrintRateUnit, "PrintRateUnit", "DC_PRINTRATEUNIT", 27, 1, 0},
        {vlibPRINT_QueryDevCap_Size, "Size", "DC_SIZE", 8, 220, 0},
        {vlibPRINT_QueryDevCap_Staple, "Staple", "DC_STAPLE", 30, 0, 0},
        {vlibPRINT_QueryDevCap_TrueType, "TrueType", "DC_TRUETYPE", 15, 1, 0},
        {vlibPRINT_QueryDevCap_Version, "Version", "DC_VERSION", 10, 1025, 0},
    };
    return members;
}

std::string Prefix(const Member& m) { return std::string("vlibPRINT_QueryDevCap_") + m.name + " => "; }

TEST(DevCapsScalarDefaults, EveryMemberAnswersItsDefaultWithoutThePrintSystem) {
    ASSERT_EQ(Members().size(), 22u);
    FakePrintSystem fake;
    for (const Member& m : Members()) {
        LibraryTrace trace;
        EXPECT_EQ(m.query(nullptr, L"FILE:", nullptr), m.defaultValue) << m.name;
        const auto lines = trace.Lines();
        ASSERT_GE(lines.size(), 3u) << m.name;
        EXPECT_EQ(lines[0], Prefix(m) + m.indexName);
        EXPECT_EQ(lines[1], "using defaults");
        const std::string name = m.name;
        if (name == "MaxExtent") {
            EXPECT_EQ(lines[2], Prefix(m) + "(W,H): 65535, 32767");
        } else if (name == "MinExtent") {
            EXPECT_EQ(lines[2], Prefix(m) + "(W,H): 0, 0");
        } else if (name == "PrintRateUnit") {
            EXPECT_EQ(lines[2], Prefix(m) + "1 Pages per minute.");
        } else {
            EXPECT_EQ(lines[2], Prefix(m) + std::to_string(m.defaultValue));
        }
        EXPECT_EQ(lines.size(), name == "Fields" ? 4u : 3u) << m.name;
    }
    EXPECT_TRUE(fake.calls().empty());
}

TEST(DevCapsScalarDefaults, FieldsDefaultListsItsFlagsInBitOrder) {
    LibraryTrace trace;
    EXPECT_EQ(vlibPRINT_QueryDevCap_Fields(nullptr, nullptr, nullptr), 0x0781EF43);
    const std::vector<std::string> expected = {
        "vlibPRINT_QueryDevCap_Fields => DC_FIELDS",
        "using defaults",
        "vlibPRINT_QueryDevCap_Fields => 125955907",
        "vlibPRINT_QueryDevCap_Fields => DM_ORIENTATION | DM_PAPERSIZE | DM_NUP | DM_COPIES | DM_DEFAULTSOURCE | "
        "DM_PRINTQUALITY | DM_COLOR | DM_YRESOLUTION | DM_TTOPTION | DM_COLLATE | DM_FORMNAME | DM_ICMMETHOD | "
        "DM_ICMINTENT | DM_MEDIATYPE | DM_DITHERTYPE | ",
    };
    EXPECT_EQ(trace.Lines(), expected);
}

// ---------------------------------------------------------------- drivers

TEST(DevCapsScalarDrivers, EachMemberAsksItsOwnIndexAndPassesTheAnswerThrough) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    for (const Member& m : Members()) printer.SetScalar(static_cast<WORD>(m.index), 1000 + m.index);
    for (const Member& m : Members()) {
        fake.ClearCalls();
        EXPECT_EQ(m.query(L"P", L"LPT1:", nullptr), 1000 + m.index) << m.name;
        ASSERT_EQ(fake.calls().size(), 1u) << m.name;
        EXPECT_EQ(fake.calls()[0].arg, m.index) << m.name;
        EXPECT_FALSE(fake.calls()[0].withOutput) << m.name;  // strings are never fetched
    }
}

TEST(DevCapsScalarDrivers, FaultsGiveTheExceptionValueAndMinusOnePassesThrough) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    for (const Member& m : Members()) {
        printer.SetScalar(static_cast<WORD>(m.index), 77);
        printer.Cap(static_cast<WORD>(m.index)).faultOnCalls = {1};
    }
    for (const Member& m : Members()) {
        LibraryTrace trace;
        EXPECT_EQ(m.query(L"P", nullptr, nullptr), m.exceptionValue) << m.name;
        EXPECT_TRUE(trace.Has("threw exception")) << m.name;
    }
    // Color is the one member whose fault value is not 0.
    printer.Cap(DC_COLORDEVICE).faultOnCalls = {2};
    EXPECT_EQ(vlibPRINT_QueryDevCap_Color(L"P", nullptr, nullptr), 2);
    printer.SetScalar(DC_COPIES, -1);
    LibraryTrace trace;
    EXPECT_EQ(static_cast<DWORD>(vlibPRINT_QueryDevCap_Copies(L"P", nullptr, nullptr)), 0xFFFFFFFFu);
    const std::vector<std::string> expected = {"vlibPRINT_QueryDevCap_Copies => DC_COPIES",
                                               "vlibPRINT_QueryDevCap_Copies => -1"};
    EXPECT_EQ(trace.Lines(), expected);
}

TEST(DevCapsScalarDrivers, ExtentsTraceWidthAndLengthAsUnsignedHalves) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.SetScalar(DC_MAXEXTENT, static_cast<int>(0xFFFE00C8u));  // length 65534, width 200
    printer.SetScalar(DC_MINEXTENT, (1000 << 16) | 500);
    LibraryTrace trace;
    EXPECT_EQ(static_cast<DWORD>(vlibPRINT_QueryDevCap_MaxExtent(L"P", nullptr, nullptr)), 0xFFFE00C8u);
    EXPECT_EQ(vlibPRINT_QueryDevCap_MinExtent(L"P", nullptr, nullptr), (1000 << 16) | 500);
    const std::vector<std::string> expected = {
        "vlibPRINT_QueryDevCap_MaxExtent => DC_MAXEXTENT",
        "vlibPRINT_QueryDevCap_MaxExtent => (W,H): 200, 65534",
        "vlibPRINT_QueryDevCap_MinExtent => DC_MINEXTENT",
        "vlibPRINT_QueryDevCap_MinExtent => (W,H): 500, 1000",
    };
    EXPECT_EQ(trace.Lines(), expected);
}

TEST(DevCapsScalarDrivers, PrintRateUnitNamesItsUnit) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    const std::pair<int, std::string> units[] = {{1, "Pages per minute."},  {2, "Characters per second."},
                                                 {3, "Lines per minute. "}, {4, "Inches per minute."},
                                                 {5, "unknown units."},     {0, "unknown units."}};
    for (const auto& [unit, text] : units) {
        printer.SetScalar(DC_PRINTRATEUNIT, unit);
        LibraryTrace trace;
        EXPECT_EQ(vlibPRINT_QueryDevCap_PrintRateUnit(L"P", nullptr, nullptr), unit);
        const auto lines = trace.Lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1], "vlibPRINT_QueryDevCap_PrintRateUnit => " + std::to_string(unit) + " " + text);
    }
}

TEST(DevCapsScalarDrivers, FieldsNameOnlyTheNamedBits) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.SetScalar(DC_FIELDS, 0x1012);  // DM_SCALE (0x10) has no name
    {
        LibraryTrace trace;
        EXPECT_EQ(vlibPRINT_QueryDevCap_Fields(L"P", nullptr, nullptr), 0x1012);
        const std::vector<std::string> expected = {
            "vlibPRINT_QueryDevCap_Fields => DC_FIELDS",
            "vlibPRINT_QueryDevCap_Fields => 4114",
            "vlibPRINT_QueryDevCap_Fields => DM_PAPERSIZE | DM_DUPLEX | ",
        };
        EXPECT_EQ(trace.Lines(), expected);
    }
    // DM_DISPLAYORIENTATION and the bits above DM_PANNINGHEIGHT are silent;
    // the lowest and highest named bits are written.
    printer.SetScalar(DC_FIELDS, static_cast<int>(0xE0000080u | 0x10000000 | 0x1));
    LibraryTrace trace;
    vlibPRINT_QueryDevCap_Fields(L"P", nullptr, nullptr);
    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "vlibPRINT_QueryDevCap_Fields => DM_ORIENTATION | DM_PANNINGHEIGHT | ");
}

}  // namespace
