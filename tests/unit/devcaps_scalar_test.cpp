// The single-number capability queries: defaults, the driver's answer passed
// through unchanged, fault values, and the special trace forms.
#include <gtest/gtest.h>

#include <sstream>

#include "devcaps/scalar_queries.h"
#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using namespace devcaps_test;

// The traces are the lines after the index line (null: the number); a
// driver answer of -1 or with its top bits set comes back unchanged.
struct Member {
    int (*query)(LPCWSTR, LPCWSTR, const DEVMODEW*); const char *name, *indexName; WORD index;
    int defaultValue, exceptionValue; const char* defaultTrace; int driverValue; const char* driverTrace;
};

// Written out independently of the library's own table.
const Member kMembers[] = {
    {vlibPRINT_QueryDevCap_Collate, "Collate", "DC_COLLATE", 22, 1, 0, nullptr, 1022, nullptr},
    {vlibPRINT_QueryDevCap_Color, "Color", "DC_COLORDEVICE", 32, 2, 2, nullptr, 1032, nullptr},
    {vlibPRINT_QueryDevCap_Copies, "Copies", "DC_COPIES", 18, 9999, 0, nullptr, -1, nullptr},
    {vlibPRINT_QueryDevCap_Driver, "Driver", "DC_DRIVER", 11, 1280, 0, nullptr, 1011, nullptr},
    {vlibPRINT_QueryDevCap_Datatype, "Datatype", "DC_DATATYPE_PRODUCED", 21, -1, 0, nullptr, 1021, nullptr},
    {vlibPRINT_QueryDevCap_Duplex, "Duplex", "DC_DUPLEX", 7, 1, 0, nullptr, 1007, nullptr},
    {vlibPRINT_QueryDevCap_EMF, "EMF", "DC_EMF_COMPLIANT", 20, -1, 0, nullptr, 1020, nullptr},
    {vlibPRINT_QueryDevCap_Extra, "Extra", "DC_EXTRA", 9, 0, 0, nullptr, 1009, nullptr},
    {vlibPRINT_QueryDevCap_Fields, "Fields", "DC_FIELDS", 1, 0x0781EF43, 0,  // DM_SCALE (0x10) has no name
     "125955907\nDM_ORIENTATION | DM_PAPERSIZE | DM_NUP | DM_COPIES | DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_COLOR | "
     "DM_YRESOLUTION | DM_TTOPTION | DM_COLLATE | DM_FORMNAME | DM_ICMMETHOD | DM_ICMINTENT | DM_MEDIATYPE | "
     "DM_DITHERTYPE | ", 0x1012, "4114\nDM_PAPERSIZE | DM_DUPLEX | "},
    {vlibPRINT_QueryDevCap_Manufacturer, "Manufacturer", "DC_MANUFACTURER", 23, -1, 0, nullptr, 1023, nullptr},
    {vlibPRINT_QueryDevCap_MaxExtent, "MaxExtent", "DC_MAXEXTENT", 5, 0x7FFFFFFF, 0, "(W,H): 65535, 32767",
     static_cast<int>(0xFFFE00C8u), "(W,H): 200, 65534"},
    {vlibPRINT_QueryDevCap_MinExtent, "MinExtent", "DC_MINEXTENT", 4, 0, 0, "(W,H): 0, 0", 1004, "(W,H): 1004, 0"},
    {vlibPRINT_QueryDevCap_Model, "Model", "DC_MODEL", 24, -1, 0, nullptr, 1024, nullptr},
    {vlibPRINT_QueryDevCap_Orientation, "Orientation", "DC_ORIENTATION", 17, 90, 0, nullptr, 1017, nullptr},
    {vlibPRINT_QueryDevCap_PrinterMem, "PrinterMem", "DC_PRINTERMEM", 28, 0, 0, nullptr, 1028, nullptr},
    {vlibPRINT_QueryDevCap_PrintRate, "PrintRate", "DC_PRINTRATE", 26, 10, 0, nullptr, 1026, nullptr},
    {vlibPRINT_QueryDevCap_PrintRatePPM, "PrintRatePPM", "DC_PRINTRATEPPM", 31, 10, 0, nullptr, 1031, nullptr},
    {vlibPRINT_QueryDevCap_PrintRateUnit, "PrintRateUnit", "DC_PRINTRATEUNIT", 27, 1, 0, "1 Pages per minute.", 5,
     "5 unknown units."},
    {vlibPRINT_QueryDevCap_Size, "Size", "DC_SIZE", 8, 220, 0, nullptr, 1008, nullptr},
    {vlibPRINT_QueryDevCap_Staple, "Staple", "DC_STAPLE", 30, 0, 0, nullptr, 1030, nullptr},
    {vlibPRINT_QueryDevCap_TrueType, "TrueType", "DC_TRUETYPE", 15, 1, 0, nullptr, 1015, nullptr},
    {vlibPRINT_QueryDevCap_Version, "Version", "DC_VERSION", 10, 1025, 0, nullptr, 1010, nullptr},
};

using DevCapsScalar = OnePrinter;

TEST_F(DevCapsScalar, EveryMemberAnswersItsDefaultItsDriverOrItsExceptionValue) {
    for (const Member& m : kMembers) {
        SCOPED_TRACE(m.name);
        const std::string prefix = std::string("vlibPRINT_QueryDevCap_") + m.name + " => ";
        fake.ClearCalls();
        printer.SetScalar(m.index, m.driverValue);
        for (bool defaults : {true, false}) {
            const int value = defaults ? m.defaultValue : m.driverValue;
            const char* text = defaults ? m.defaultTrace : m.driverTrace;
            trace.Mark();
            EXPECT_EQ(m.query(defaults ? nullptr : L"P", L"LPT1:", nullptr), value);
            std::vector<std::string> expected = {prefix + m.indexName};
            if (defaults) expected.push_back("using defaults");
            std::istringstream lines(text ? text : std::to_string(value));
            for (std::string line; std::getline(lines, line);) expected.push_back(prefix + line);
            EXPECT_EQ(trace.Since(), expected);
        }
        // Defaults ask nothing; the driver is asked its own index without an
        // output buffer (strings are never fetched).
        ASSERT_EQ(fake.calls().size(), 1u);
        EXPECT_EQ(fake.calls()[0].arg, m.index);
        EXPECT_FALSE(fake.calls()[0].withOutput);
        printer.Cap(m.index).faultOnCalls = {2};
        trace.Mark();
        EXPECT_EQ(m.query(L"P", nullptr, nullptr), m.exceptionValue);
        EXPECT_EQ(trace.Since().at(1), "threw exception");  // after the index line
    }
}

}  // namespace
