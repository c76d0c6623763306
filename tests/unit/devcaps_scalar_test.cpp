// The single-number capability queries: defaults, the driver's answer passed
// through unchanged, fault values, and the special trace forms.
#include <gtest/gtest.h>

#include "devcaps/scalar_queries.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using namespace devcaps_test;
using fake::FakePrintSystem;

struct Member {
    int (*query)(LPCWSTR, LPCWSTR, const DEVMODEW*);
    const char* name;
    const char* indexName;
    WORD index;
    int defaultValue;
    int exceptionValue;
    const char* defaultLine;  // the result line for the default
};

// Written out independently of the library's own table.
const Member kMembers[] = {
    {vlibPRINT_QueryDevCap_Collate, "Collate", "DC_COLLATE", 22, 1, 0, "1"},
    {vlibPRINT_QueryDevCap_Color, "Color", "DC_COLORDEVICE", 32, 2, 2, "2"},
    {vlibPRINT_QueryDevCap_Copies, "Copies", "DC_COPIES", 18, 9999, 0, "9999"},
    {vlibPRINT_QueryDevCap_Driver, "Driver", "DC_DRIVER", 11, 1280, 0, "1280"},
    {vlibPRINT_QueryDevCap_Datatype, "Datatype", "DC_DATATYPE_PRODUCED", 21, -1, 0, "-1"},
    {vlibPRINT_QueryDevCap_Duplex, "Duplex", "DC_DUPLEX", 7, 1, 0, "1"},
    {vlibPRINT_QueryDevCap_EMF, "EMF", "DC_EMF_COMPLIANT", 20, -1, 0, "-1"},
    {vlibPRINT_QueryDevCap_Extra, "Extra", "DC_EXTRA", 9, 0, 0, "0"},
    {vlibPRINT_QueryDevCap_Fields, "Fields", "DC_FIELDS", 1, 0x0781EF43, 0, "125955907"},
    {vlibPRINT_QueryDevCap_Manufacturer, "Manufacturer", "DC_MANUFACTURER", 23, -1, 0, "-1"},
    {vlibPRINT_QueryDevCap_MaxExtent, "MaxExtent", "DC_MAXEXTENT", 5, 0x7FFFFFFF, 0, "(W,H): 65535, 32767"},
    {vlibPRINT_QueryDevCap_MinExtent, "MinExtent", "DC_MINEXTENT", 4, 0, 0, "(W,H): 0, 0"},
    {vlibPRINT_QueryDevCap_Model, "Model", "DC_MODEL", 24, -1, 0, "-1"},
    {vlibPRINT_QueryDevCap_Orientation, "Orientation", "DC_ORIENTATION", 17, 90, 0, "90"},
    {vlibPRINT_QueryDevCap_PrinterMem, "PrinterMem", "DC_PRINTERMEM", 28, 0, 0, "0"},
    {vlibPRINT_QueryDevCap_PrintRate, "PrintRate", "DC_PRINTRATE", 26, 10, 0, "10"},
    {vlibPRINT_QueryDevCap_PrintRatePPM, "PrintRatePPM", "DC_PRINTRATEPPM", 31, 10, 0, "10"},
    {vlibPRINT_QueryDevCap_PrintRateUnit, "PrintRateUnit", "DC_PRINTRATEUNIT", 27, 1, 0, "1 Pages per minute."},
    {vlibPRINT_QueryDevCap_Size, "Size", "DC_SIZE", 8, 220, 0, "220"},
    {vlibPRINT_QueryDevCap_Staple, "Staple", "DC_STAPLE", 30, 0, 0, "0"},
    {vlibPRINT_QueryDevCap_TrueType, "TrueType", "DC_TRUETYPE", 15, 1, 0, "1"},
    {vlibPRINT_QueryDevCap_Version, "Version", "DC_VERSION", 10, 1025, 0, "1025"},
};

// The default's flags in bit order; DM_DUPLEX, DM_PAPERLENGTH and DM_PAPERWIDTH are not among them.
const char kFieldsDefault[] =
    "DM_ORIENTATION | DM_PAPERSIZE | DM_NUP | DM_COPIES | DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_COLOR | "
    "DM_YRESOLUTION | DM_TTOPTION | DM_COLLATE | DM_FORMNAME | DM_ICMMETHOD | DM_ICMINTENT | DM_MEDIATYPE | "
    "DM_DITHERTYPE | ";

TEST(DevCapsScalar, EveryMemberAnswersItsDefaultItsDriverOrItsExceptionValue) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    for (const Member& m : kMembers) {
        SCOPED_TRACE(m.name);
        const std::string prefix = std::string("vlibPRINT_QueryDevCap_") + m.name + " => ";
        {
            Trace trace;
            EXPECT_EQ(m.query(nullptr, L"FILE:", nullptr), m.defaultValue);
            const auto lines = trace.Lines();
            ASSERT_EQ(lines.size(), m.index == DC_FIELDS ? 4u : 3u);
            EXPECT_EQ(lines[0], prefix + m.indexName);
            EXPECT_EQ(lines[1], "using defaults");
            EXPECT_EQ(lines[2], prefix + m.defaultLine);
            if (m.index == DC_FIELDS) EXPECT_EQ(lines[3], prefix + kFieldsDefault);
        }
        EXPECT_TRUE(fake.calls().empty());
        // Its own index, no output buffer (strings are never fetched), the answer unchanged.
        printer.SetScalar(m.index, 1000 + m.index);
        EXPECT_EQ(m.query(L"P", L"LPT1:", nullptr), 1000 + m.index);
        ASSERT_EQ(fake.calls().size(), 1u);
        EXPECT_EQ(fake.calls()[0].arg, m.index);
        EXPECT_FALSE(fake.calls()[0].withOutput);
        printer.Cap(m.index).faultOnCalls = {2};
        Trace trace;
        EXPECT_EQ(m.query(L"P", nullptr, nullptr), m.exceptionValue);
        EXPECT_TRUE(Has(trace, "threw exception"));
        fake.ClearCalls();
    }
}

TEST(DevCapsScalar, MinusOneExtentsFieldsAndRateUnitsAsTraced) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddBarePrinter(L"P");
    printer.SetScalar(DC_MAXEXTENT, static_cast<int>(0xFFFE00C8u));  // length 65534, width 200
    printer.SetScalar(DC_FIELDS, 0x1012);                            // DM_SCALE (0x10) has no name
    printer.SetScalar(DC_COPIES, -1);
    printer.SetScalar(DC_PRINTRATEUNIT, 5);
    Trace trace;
    EXPECT_EQ(vlibPRINT_QueryDevCap_Copies(L"P", nullptr, nullptr), -1);  // not replaced by the default
    EXPECT_EQ(static_cast<DWORD>(vlibPRINT_QueryDevCap_MaxExtent(L"P", nullptr, nullptr)), 0xFFFE00C8u);
    EXPECT_EQ(vlibPRINT_QueryDevCap_Fields(L"P", nullptr, nullptr), 0x1012);
    EXPECT_EQ(vlibPRINT_QueryDevCap_PrintRateUnit(L"P", nullptr, nullptr), 5);
    const std::vector<std::string> expected = {
        "vlibPRINT_QueryDevCap_Copies => DC_COPIES",
        "vlibPRINT_QueryDevCap_Copies => -1",
        "vlibPRINT_QueryDevCap_MaxExtent => DC_MAXEXTENT",
        "vlibPRINT_QueryDevCap_MaxExtent => (W,H): 200, 65534",
        "vlibPRINT_QueryDevCap_Fields => DC_FIELDS",
        "vlibPRINT_QueryDevCap_Fields => 4114",
        "vlibPRINT_QueryDevCap_Fields => DM_PAPERSIZE | DM_DUPLEX | ",
        "vlibPRINT_QueryDevCap_PrintRateUnit => DC_PRINTRATEUNIT",
        "vlibPRINT_QueryDevCap_PrintRateUnit => 5 unknown units.",
    };
    EXPECT_EQ(trace.Lines(), expected);
}

}  // namespace
