// Printer enumeration against the fake spooler: which printers each selection
// keeps and as what kind, both system paths, cut names and the failure lines.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fake/fake_print_system.h"
#include "log/trace_log.h"
#include "print/printer_enum.h"
#include "support/temp_dir.h"

namespace {

using fake::FakePrintSystem;
using fake::Op;
using Lines = std::vector<std::string>;
using Listed = std::vector<std::pair<std::wstring, DWORD>>;

// Points LibraryLog at a fresh trace file for the scope of a test.
class LibraryTrace {
public:
    LibraryTrace() : path_(dir_.File(L"library.log")) {
        log_ = TraceLogCreate(path_.c_str(), 0);
        LibraryLog = log_;
    }
    ~LibraryTrace() {
        LibraryLog = nullptr;
        TraceLogDestroy(log_);
    }
    LibraryTrace(const LibraryTrace&) = delete;
    LibraryTrace& operator=(const LibraryTrace&) = delete;
    Lines Read() const { return testsupport::ReadLogLines(path_); }

private:
    testsupport::TempDir dir_;
    std::wstring path_;
    TraceLog* log_ = nullptr;
};

Listed Flatten(const VLIB_PRINTER_ENUM_LIST& list) {
    Listed out;
    for (const auto& record : list) out.emplace_back(record->szPrinterName, record->dwType);
    return out;
}

// The spooler flags of the EnumPrintersW calls made so far.
std::vector<int> EnumFlags(const FakePrintSystem& fake) {
    std::vector<int> flags;
    for (const auto& call : fake.calls())
        if (call.op == Op::EnumPrinters) flags.push_back(call.arg);
    return flags;
}

bool Contains(const Lines& lines, const std::string& line) {
    for (const auto& l : lines)
        if (l == line) return true;
    return false;
}

// Eight printers: every attribute combination of LOCAL and NETWORK, once
// among this machine's printers and once among the connections, interleaved
// so that the spooler's order is visible in the result.
void AddEveryCombination(FakePrintSystem& fake) {
    struct Setup {
        const wchar_t* name;
        DWORD attributes;
        bool connection;
    };
    const Setup setups[] = {
        {L"L-none", 0, false},
        {L"C-local", PRINTER_ATTRIBUTE_LOCAL, true},
        {L"L-network", PRINTER_ATTRIBUTE_NETWORK, false},
        {L"C-both", PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_NETWORK, true},
        {L"L-local", PRINTER_ATTRIBUTE_LOCAL, false},
        {L"C-none", 0, true},
        {L"L-both", PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_NETWORK, false},
        {L"C-network", PRINTER_ATTRIBUTE_NETWORK, true},
    };
    for (const auto& s : setups) {
        fake::FakePrinter& p = fake.AddPrinter(s.name);
        p.attributes = s.attributes | PRINTER_ATTRIBUTE_QUEUED;  // unrelated bits do not matter
        p.connection = s.connection;
    }
}

TEST(PrinterEnumeration, NtSelectionsKeepTheRightPrintersAsTheRightKind) {
    struct Case {
        DWORD selection;
        int spoolerFlags;
        Listed expected;
    };
    const Case cases[] = {
        // Local only: LOCAL without NETWORK; a printer with both is left out.
        {1, PRINTER_ENUM_LOCAL, {{L"L-local", 1}}},
        // Network only: NETWORK set, whether LOCAL is set or not.
        {2, PRINTER_ENUM_CONNECTIONS, {{L"C-both", 2}, {L"C-network", 2}}},
        // Both: everything with LOCAL or NETWORK, in the spooler's order; both bits make a network printer.
        {3,
         PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS,
         {{L"C-local", 1}, {L"L-network", 2}, {L"C-both", 2}, {L"L-local", 1}, {L"L-both", 2}, {L"C-network", 2}}},
        // Nothing selected: the spooler is asked with no flags and every printer it lists is skipped.
        {0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("selection " + std::to_string(c.selection));
        FakePrintSystem fake;
        AddEveryCombination(fake);
        LibraryTrace trace;

        const VLIB_PRINTER_ENUM_LIST list = vlibPRINT_EnumeratePrinters(c.selection);

        EXPECT_EQ(Flatten(list), c.expected);
        EXPECT_EQ(EnumFlags(fake), (std::vector<int>{c.spoolerFlags, c.spoolerFlags}));
        const Lines lines = trace.Read();
        EXPECT_TRUE(Contains(lines, "vlibPRINT_EnumeratePrinters => dwEnumFlags = " + std::to_string(c.spoolerFlags)));
        // Success even when the selection leaves nothing.
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "vlibPRINT_EnumeratePrinters => returning success");
    }
}

TEST(PrinterEnumeration, NinetyXPathAsksForLocalPrintersWhateverTheSelection) {
    struct Case {
        DWORD selection;
        Listed expected;
    };
    // The 9x spooler lists only this machine's printers: connections never
    // appear, and the selection only sorts what is listed.
    const Case cases[] = {
        {1, {{L"L-local", 1}}},
        {2, {{L"L-network", 2}, {L"L-both", 2}}},
        {3, {{L"L-network", 2}, {L"L-local", 1}, {L"L-both", 2}}},
        {0, {}},
    };
    // Any platform id but the NT one takes this path.
    for (DWORD platformId : {DWORD(VER_PLATFORM_WIN32_WINDOWS), DWORD(VER_PLATFORM_WIN32s), DWORD(3)}) {
        for (const Case& c : cases) {
            SCOPED_TRACE("platform " + std::to_string(platformId) + ", selection " + std::to_string(c.selection));
            FakePrintSystem fake;
            fake.SetVersion(platformId, 4, 10, 2222, L"A");
            AddEveryCombination(fake);

            EXPECT_EQ(Flatten(vlibPRINT_EnumeratePrinters(c.selection)), c.expected);
            EXPECT_EQ(EnumFlags(fake), (std::vector<int>{PRINTER_ENUM_LOCAL, PRINTER_ENUM_LOCAL}));
        }
    }
}

TEST(PrinterEnumeration, NtTraceOfAWholeEnumeration) {
    FakePrintSystem fake;
    fake.AddPrinter(L"Office Laser");
    fake::FakePrinter& shared = fake.AddPrinter(L"\\\\srv\\Shared Inkjet");
    shared.connection = true;
    shared.serverName = L"\\\\srv";
    shared.attributes = PRINTER_ATTRIBUTE_NETWORK | PRINTER_ATTRIBUTE_LOCAL;
    shared.driverName = L"Inkjet Driver";
    fake.AddBarePrinter(L"Odd One").attributes = PRINTER_ATTRIBUTE_QUEUED;
    LibraryTrace trace;

    const VLIB_PRINTER_ENUM_LIST list = vlibPRINT_EnumeratePrinters(3);

    EXPECT_EQ(Flatten(list), (Listed{{L"Office Laser", 1}, {L"\\\\srv\\Shared Inkjet", 2}}));
    // A local printer has no server name: the trace shows the null field as the runtime prints it.
    const Lines expected = {
        "vlibPRINT_EnumeratePrinters =>",
        "vlibPRINT_EnumeratePrinters => NT-based system, enumerating",
        "vlibPRINT_EnumeratePrinters => dwEnumFlags = 6",
        "vlibPRINT_EnumeratePrinters => printers enumerated, 3",
        "vlibPRINT_EnumeratePrinters => number of printers: 3",
        "vlibPRINT_EnumeratePrinters => printer: Office Laser; server: (null); attributes: 64; driver: Fake Laser Driver",
        "vlibPRINT_EnumeratePrinters => printer: \\\\srv\\Shared Inkjet; server: \\\\srv; attributes: 80; driver: Inkjet Driver",
        "vlibPRINT_EnumeratePrinters => printer: Odd One; server: (null); attributes: 1; driver: Fake Laser Driver",
        "vlibPRINT_EnumeratePrinters => returning success",
    };
    EXPECT_EQ(trace.Read(), expected);
}

TEST(PrinterEnumeration, NinetyXTraceOfAWholeEnumeration) {
    FakePrintSystem fake;
    fake.SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3000, L" A ");
    fake.AddPrinter(L"Office Laser");
    fake.AddPrinter(L"Shared Inkjet").attributes = PRINTER_ATTRIBUTE_NETWORK;
    LibraryTrace trace;

    EXPECT_EQ(Flatten(vlibPRINT_EnumeratePrinters(1)), (Listed{{L"Office Laser", 1}}));

    const Lines expected = {
        "vlibPRINT_EnumeratePrinters =>",
        "vlibPRINT_EnumeratePrinters => 9x-based system, enumerating",
        "vlibPRINT_EnumeratePrinters => printers enumerated",
        "vlibPRINT_EnumeratePrinters => number of printers: 2",
        "vlibPRINT_EnumeratePrinters => printer: Office Laser; attributes: 64; driver: Fake Laser Driver",
        "vlibPRINT_EnumeratePrinters => printer: Shared Inkjet; attributes: 16; driver: Fake Laser Driver",
        "vlibPRINT_EnumeratePrinters => returning success",
    };
    EXPECT_EQ(trace.Read(), expected);
}

TEST(PrinterEnumeration, LongNamesAreCutTo259Characters) {
    FakePrintSystem fake;
    std::wstring name;
    for (int i = 0; i < 300; ++i) name += static_cast<wchar_t>(L'A' + i % 26);
    fake.AddPrinter(name);
    const std::wstring exact(259, L'x');
    fake.AddPrinter(exact);

    const VLIB_PRINTER_ENUM_LIST list = vlibPRINT_EnumeratePrinters(3);

    ASSERT_EQ(list.size(), 2u);
    const VLIB_PRINTER_ENUM_1W& cut = *list.front();
    EXPECT_EQ(std::wstring(cut.szPrinterName), name.substr(0, 259));
    EXPECT_EQ(cut.szPrinterName[259], L'\0');
    EXPECT_EQ(std::wstring(list.back()->szPrinterName), exact);
}

TEST(PrinterEnumeration, NoPrintersFailsOut) {
    FakePrintSystem fake;
    fake.AddPrinter(L"Connection only").connection = true;  // not listed for local printers
    LibraryTrace trace;

    EXPECT_TRUE(vlibPRINT_EnumeratePrinters(1).empty());

    const Lines expected = {
        "vlibPRINT_EnumeratePrinters =>",
        "vlibPRINT_EnumeratePrinters => NT-based system, enumerating",
        "vlibPRINT_EnumeratePrinters => dwEnumFlags = 2",
        "vlibPRINT_EnumeratePrinters => printers enumerated, 0",
        "vlibPRINT_EnumeratePrinters => number of printers: 0",
        "vlibPRINT_EnumeratePrinters => no printers, failing out",
        "vlibPRINT_EnumeratePrinters => returning failure",
    };
    EXPECT_EQ(trace.Read(), expected);
}

TEST(PrinterEnumeration, FailingFetchEndsInAnEmptyList) {
    for (DWORD platformId : {DWORD(VER_PLATFORM_WIN32_NT), DWORD(VER_PLATFORM_WIN32_WINDOWS)}) {
        SCOPED_TRACE("platform " + std::to_string(platformId));
        FakePrintSystem fake;
        fake.SetVersion(platformId, 5, 0, 2195, L"");
        fake.AddPrinter(L"Office Laser");
        fake.FailOn(Op::EnumPrinters, 2, ERROR_ACCESS_DENIED);
        LibraryTrace trace;

        EXPECT_TRUE(vlibPRINT_EnumeratePrinters(3).empty());

        const Lines lines = trace.Read();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "vlibPRINT_EnumeratePrinters => enumeration failed");
        EXPECT_EQ(lines.back(), "vlibPRINT_EnumeratePrinters => returning failure");
        EXPECT_EQ(fake.Count(Op::EnumPrinters), 2);
    }
}

}  // namespace
