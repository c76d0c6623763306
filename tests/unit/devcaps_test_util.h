// Shared by the tests against the fake print system (the capability queries
// first): the trace capture, a block freed at scope end, a printer to ask,
// searches of the trace and of the fake print system's calls.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "devcaps/scalar_queries.h"
#include "fake/fake_print_system.h"
#include "platform/kernel.h"
#include "trace_capture.h"

namespace devcaps_test {

using Trace = testsupport::TraceCapture;
using testsupport::Containing;
using testsupport::Has;

struct HeapFree { void operator()(void* p) const { platform::HeapFreeBlock(p); } };
template <class T>
using Block = std::unique_ptr<T, HeapFree>;

// Printer "P" (Letter and A4 at 300 and 600 dpi) of a fake print system, and the trace.
struct PrinterP {
    fake::FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    Trace trace;
};
class OnePrinter : public ::testing::Test, protected PrinterP {};

// The calls of one operation, in the order made, and their `arg` values.
inline std::vector<fake::Call> CallsOf(const fake::FakePrintSystem& fake, fake::Op op) {
    std::vector<fake::Call> picked;
    std::copy_if(fake.calls().begin(), fake.calls().end(), std::back_inserter(picked),
                 [op](const fake::Call& call) { return call.op == op; });
    return picked;
}
inline std::vector<int> ArgsOf(const fake::FakePrintSystem& fake, fake::Op op) {
    std::vector<int> args;
    for (const fake::Call& call : CallsOf(fake, op)) args.push_back(call.arg);
    return args;
}

// The single-number queries, written out independently of the library's own
// table (in its order): the traces are the lines after the index line (null:
// the number); a driver answer of -1 or with its top bits set comes back unchanged.
struct ScalarMember {
    int (*query)(LPCWSTR, LPCWSTR, const DEVMODEW*); const char *name, *indexName; WORD index;
    int defaultValue, exceptionValue; const char* defaultTrace; int driverValue; const char* driverTrace;
};
inline const ScalarMember kScalarMembers[] = {
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

}  // namespace devcaps_test
