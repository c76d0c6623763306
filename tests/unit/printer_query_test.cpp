// The capability query of the printer object: when it runs at all, what a
// forced query throws away, the generic text driver, the requests that
// depend on the system version, the progress reports and the export.
#include <gtest/gtest.h>

#include <set>

#include "devcaps/scalar_queries.h"
#include "devcaps_test_util.h"
#include "printer_fixture.h"
#include "support/heap_counter.h"

namespace {

using namespace printer_test;

class Query : public ::testing::Test {
protected:
    Env env;
    fake::FakePrinter* office = nullptr;
    void SetUp() override {
        office = &env.fake.AddPrinter(L"Office");
        office->SetMedia({{DMMEDIA_STANDARD, L"Plain"}, {DMMEDIA_GLOSSY, L"Glossy"}});
        office->Cap(DC_COLORDEVICE).counts = {1};
        env.SetCacheMethod(2);
    }
};

TEST_F(Query, WithoutForceACacheLoadedObjectOnlyWritesTwoLinesAndWithForceAllIsRedone) {
    env.SetCacheMethod(1);
    // Nothing loaded yet: queried even without force.
    CPrinter(env.trace.log(), L"Office", 1, 0).Query(0, nullptr, nullptr);
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    // Anything written to the store from here on would replace this marker.
    env.registry.SetBinary(HKEY_LOCAL_MACHINE, testsupport::PrinterKeyPath(L"Office"), L"PrinterData", "mark", 4);
    env.fake.ClearCalls();
    env.trace.Mark();
    printer.Query(0, nullptr, nullptr);
    EXPECT_EQ(env.trace.Since(), (Lines{"CPrinter::Query => ", "CPrinter::Query => already have query data"}));
    EXPECT_EQ(env.fake.calls().size(), 0u);
    EXPECT_EQ(env.RegistryRecord(HKEY_LOCAL_MACHINE, L"Office"), "mark");

    // Forced: cleared, asked again (the driver now reports other papers) and rewritten.
    office->SetPapers({{DMPAPER_A3, L"A3", 2970, 4200}});
    printer.queryBuffers.dwAnsiOnly = 1;  // as loaded; nothing of the old set may survive the new query
    printer.Query(1, nullptr, nullptr);
    EXPECT_EQ(printer.queryBuffers.dwAnsiOnly, 0u);
    EXPECT_EQ(printer.queryBuffers.pPapers ? printer.queryBuffers.pPapers->dwNumPapers : 0u, 1u);
    EXPECT_EQ(printer.queryBuffers.dwNumForms, 2u);  // one paper at two resolutions
    EXPECT_EQ(env.RegistryRecord(HKEY_LOCAL_MACHINE, L"Office"), Serialized(printer));
}

// Every one-number answer lands in its own field of the set.
TEST_F(Query, EveryScalarAnswerLandsInItsOwnField) {
    std::vector<DWORD> expected;  // in the order of the test's own table
    for (const devcaps_test::ScalarMember& m : devcaps_test::kScalarMembers) {
        office->Cap(m.index).counts = {1000 + m.index};
        expected.push_back(1000 + m.index);
    }
    const auto printer = env.Queried(L"Office");
    const QueryBuffers& q = printer->queryBuffers;
    EXPECT_EQ((std::vector<DWORD>{q.dwCollate, q.dwColor, q.dwCopies, q.dwDriver, q.dwDatatype, q.dwDuplex, q.dwEMF,
                                  q.dwExtra, q.dwFields, q.dwManufacturer, q.dwMaxExtent, q.dwMinExtent, q.dwModel,
                                  q.dwOrientation, q.dwPrinterMem, q.dwPrintRate, q.dwPrintRatePPM, q.dwPrintRateUnit,
                                  q.dwDevModeSize, q.dwStaple, q.dwTrueType, q.dwVersion}),
              expected);
}

TEST_F(Query, OnlyTheExactGenericTextDriverNameSetsAnsiOnly) {
    // lookups: reads of "AnsiOnly" (the per-machine subkey exists, the per-user place has no key).
    const struct { const WCHAR* driver; DWORD ansiOnly; int lookups; std::string line; } cases[] = {
        {L"Generic / Text Only", 1, 0, "CPrinter::Query => using generic driver..."},
        {L"generic / text only", 0, 1, "CPrinter::Query => using generic driver.... unicode: generic / text only"},
        {L"Driver Nobody Installed", 0, 1, "CPrinter::Query => no driver name to check against AnsiOnly"},
    };
    for (const WCHAR* driver : {L"Generic / Text Only", L"generic / text only"}) env.fake.AddDriver(driver);
    env.registry.CreateKey(HKEY_LOCAL_MACHINE, testsupport::PrinterKeyPath(L"Office"));
    for (const auto& c : cases) {
        SCOPED_TRACE(testsupport::Narrow(c.driver));
        office->driverName = c.driver;
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        env.registry.ClearQueried();
        env.trace.Mark();
        printer.Query(1, nullptr, nullptr);
        EXPECT_EQ(printer.queryBuffers.dwAnsiOnly, c.ansiOnly);
        EXPECT_EQ(env.registry.QueryCount(L"AnsiOnly"), c.lookups);
        EXPECT_EQ(CountOf(env.trace.Since(), "CPrinter::Query => using generic driver..."), int(c.ansiOnly));
        EXPECT_TRUE(Has(env.trace.Since(), c.line));
    }
}

TEST_F(Query, TheVersionDecidesHowTheVersionGroupAndTheMediaTypesAreAsked) {
    // Requests 15 to 23, and the media type list (request 24).
    const std::set<int> group = {DC_COLORDEVICE,  DC_NUP,           DC_PERSONALITY, DC_PRINTERMEM, DC_PRINTRATE,
                                 DC_PRINTRATEPPM, DC_PRINTRATEUNIT, DC_STAPLE,      DC_MEDIAREADY};
    const struct { DWORD major, minor; bool groupAsked, mediaAsked; } cases[] = {
        {4, 0, false, false}, {5, 0, true, false}, {5, 1, true, true}, {6, 0, true, false}, {6, 1, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
        env.fake.SetVersion(VER_PLATFORM_WIN32_NT, c.major, c.minor, 1000, L"");
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        env.fake.ClearCalls();
        printer.Query(1, nullptr, nullptr);
        const std::vector<int> asked = devcaps_test::ArgsOf(env.fake, fake::Op::DeviceCapabilities);
        for (int index : group) EXPECT_EQ(std::count(asked.begin(), asked.end(), index) > 0, c.groupAsked) << "index " << index;
        EXPECT_EQ(std::count(asked.begin(), asked.end(), DC_MEDIATYPES) > 0, c.mediaAsked);
        const QueryBuffers& qb = printer.queryBuffers;
        EXPECT_EQ(qb.dwColor, c.groupAsked ? 1u : DWORD(vlibPRINT_QueryDevCap_Color(nullptr, nullptr, nullptr)));
        // Below 5 no media list at all; with minor 0 the one the request gives with no printer.
        if (c.major < 5) EXPECT_EQ(qb.pMedias, nullptr);
        if (c.mediaAsked) EXPECT_EQ(qb.pMedias ? qb.pMedias->dwNumMediaTypes : 0u, 2u);
    }
}

// Each report with the DeviceCapabilitiesW indexes asked before it, and the
// GetDeviceCaps indexes as 1000 + index.
using Progress = std::vector<std::pair<std::pair<std::wstring, DWORD>, std::multiset<int>>>;

TEST_F(Query, ProgressIsReportedInOrderBeforeEachGroupAndANullCallbackAsksTheSame) {
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    env.fake.ClearCalls();
    std::pair<fake::FakePrintSystem*, Progress> log{&env.fake, {}};
    printer.Query(1, [](LPVOID context, std::wstring text, DWORD percent) {
        auto* log = static_cast<std::pair<fake::FakePrintSystem*, Progress>*>(context);
        log->second.push_back({{text, percent}, {}});
        for (const auto& call : log->first->calls())
            if (call.op == fake::Op::DeviceCapabilities || call.op == fake::Op::GetDeviceCaps)
                log->second.back().second.insert(call.arg + (call.op == fake::Op::GetDeviceCaps ? 1000 : 0));
    }, &log);
    const std::pair<std::wstring, DWORD> expected[] = {
        {L"Querying Bins", 0},       {L"Querying Extents", 7}, {L"Querying Medias", 14},
        {L"Querying Datatypes", 30}, {L"Querying Papers", 40}, {L"Querying Resolutions", 50},
        {L"Querying Forms", 70},     {L"Querying System Caps", 90}, {L"Query Complete", 100}};
    ASSERT_EQ(log.second.size(), std::size(expected));
    // Each report comes before its group's first request and after the previous group's.
    const int firstOfGroup[] = {DC_BINS, DC_FILEDEPENDENCIES, DC_COLORDEVICE, DC_DATATYPE_PRODUCED, DC_PAPERS,
                                DC_ENUMRESOLUTIONS, 1000 + PHYSICALWIDTH, 1000 + DRIVERVERSION};
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(log.second[i].first, expected[i]) << i;
        if (i < 8) EXPECT_EQ(log.second[i].second.count(firstOfGroup[i]), 0u) << i;
        if (i > 0) EXPECT_GT(log.second[i].second.count(firstOfGroup[i - 1]), 0u) << i;
    }
    const size_t withCallback = env.fake.calls().size();
    env.fake.ClearCalls();
    printer.Query(1, nullptr, nullptr);
    EXPECT_EQ(env.fake.calls().size(), withCallback);
}

// An object that was not queried has nothing to export; one whose printer
// is unavailable is not queried at all, nor is one without information.
TEST_F(Query, ExportBeforeAnyQueryWritesNoFileAndAnUnavailablePrinterIsNotQueried) {
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    const std::wstring path = env.dir.File(L"export.log");
    env.trace.Mark();
    printer.ExportCapsLog(path);
    EXPECT_EQ(env.trace.Since(), (Lines{"CPrinter::ExportCapsLog => " + testsupport::Narrow(path),
                                        "CPrinter::ExportCapsLog => not queried yet, nothing to export"}));
    EXPECT_FALSE(testsupport::FileExists(path));
    printer.Query(1, nullptr, nullptr);
    {
        testsupport::HeapCounter heap;  // the export's logger and record go back
        printer.ExportCapsLog(path);
        EXPECT_EQ(heap.Live(), 0);
    }
    const std::string size = "dwSize: " + std::to_string(Serialized(printer).size());
    EXPECT_TRUE(InOrder(testsupport::ReadLogLines(path), {"Printer Capabilities", size, "dwAnsiOnly: 0", "dwEnd: 0"}));

    office->openable = false;
    CPrinter unavailable(env.trace.log(), L"Office", 1, 0);
    env.fake.ClearCalls();
    env.trace.Mark();
    unavailable.Query(1, nullptr, nullptr);
    unavailable.QueryCapabilities(0, nullptr, nullptr);
    EXPECT_EQ(env.trace.Since(), (Lines{"CPrinter::Query => ", "CPrinter::Query => printer is not available for query",
                                        "CPrinter::QueryCapabilities => ",
                                        "CPrinter::QueryCapabilities => no printer info?  how do we query?"}));
    EXPECT_TRUE(env.fake.calls().empty());
}

}  // namespace
