// The capability query of the printer object: when it runs at all, what a
// forced query throws away, the generic text driver, the requests that
// depend on the system version, the progress reports and the export.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "devcaps/scalar_queries.h"
#include "printer_fixture.h"

namespace {

using namespace printer_test;
using fake::Op;
using testsupport::PrinterKeyPath;

class Query : public ::testing::Test {
protected:
    Env env;
    fake::FakePrinter* office = nullptr;
    void SetUp() override {
        office = &env.fake.AddPrinter(L"Office");
        office->SetMedia({{DMMEDIA_STANDARD, L"Plain"}, {DMMEDIA_GLOSSY, L"Glossy"}});
        office->SetScalar(DC_COLORDEVICE, 1);
        office->SetScalar(DC_STAPLE, 1);
        office->SetValues(DC_NUP, {1, 2, 4});
    }
    // DeviceCapabilitiesW indexes asked of the printer by its own name.
    std::multiset<int> AskedOfPrinter(const std::wstring& name = L"Office") const {
        std::multiset<int> indexes;
        for (const auto& call : env.fake.calls())
            if (call.op == Op::DeviceCapabilities && call.printer == name) indexes.insert(call.arg);
        return indexes;
    }
};

TEST_F(Query, WithoutForceACacheLoadedObjectOnlyWritesTwoLines) {
    std::string stored;
    {
        CPrinter first(env.trace.log(), L"Office", 1, 0);
        first.Query(1, nullptr, nullptr);
        stored = env.RegistryRecord(HKEY_LOCAL_MACHINE, L"Office");
    }
    ASSERT_FALSE(stored.empty());
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    ASSERT_EQ(printer.queryBuffers.bFilled, 1u);
    // Anything written to the store from here on would replace this marker.
    const std::string marker = stored.substr(0, 412);
    env.registry.SetBinary(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"PrinterData", marker.data(), 412);
    env.fake.ClearCalls();
    env.trace.Mark();

    printer.Query(0, nullptr, nullptr);
    EXPECT_EQ(env.trace.Since(), (Lines{"CPrinter::Query => ", "CPrinter::Query => already have query data"}));
    EXPECT_EQ(env.fake.calls().size(), 0u);
    EXPECT_EQ(env.RegistryRecord(HKEY_LOCAL_MACHINE, L"Office"), marker);

    // Forced: cleared, asked again (the driver now reports other papers) and rewritten.
    office->SetPapers({{DMPAPER_A3, L"A3", 2970, 4200}});
    printer.Query(1, nullptr, nullptr);
    ASSERT_NE(printer.queryBuffers.pPapers, nullptr);
    EXPECT_EQ(printer.queryBuffers.pPapers->dwNumPapers, 1u);
    EXPECT_EQ(printer.queryBuffers.dwNumForms, 2u);  // one paper at two resolutions
    EXPECT_GT(env.fake.Count(Op::DeviceCapabilities), 0);
    const std::string rewritten = env.RegistryRecord(HKEY_LOCAL_MACHINE, L"Office");
    EXPECT_EQ(rewritten, Serialized(printer));
    EXPECT_NE(rewritten, stored);
}

TEST_F(Query, WithoutForceAnEmptyObjectIsQueried) {
    env.SetCacheMethod(2);
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    ASSERT_EQ(printer.queryBuffers.bFilled, 0u);
    printer.Query(0, nullptr, nullptr);
    EXPECT_EQ(printer.queryBuffers.bFilled, 1u);
    EXPECT_NE(printer.queryBuffers.pLowLevel, nullptr);
    EXPECT_TRUE(InOrder(env.trace.All(), {"CPrinter::QueryCapabilities => ",
                                          "CPrinter::QueryCapabilities => query of dev caps completed successfully",
                                          "CPrinter::Query => queried, now caching data"}));
}

TEST_F(Query, AnUnavailablePrinterIsNotQueried) {
    office->openable = false;
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    env.fake.ClearCalls();
    env.trace.Mark();
    printer.Query(1, nullptr, nullptr);
    EXPECT_EQ(env.trace.Since(), (Lines{"CPrinter::Query => ", "CPrinter::Query => printer is not available for query"}));
    EXPECT_EQ(env.fake.Count(Op::DeviceCapabilities), 0);
    EXPECT_EQ(printer.queryBuffers.bFilled, 0u);

    // Asked directly, the capability query has no printer information to go by.
    env.trace.Mark();
    printer.QueryCapabilities(0, nullptr, nullptr);
    EXPECT_EQ(env.trace.Since(), (Lines{"CPrinter::QueryCapabilities => ",
                                        "CPrinter::QueryCapabilities => no printer info?  how do we query?"}));
    EXPECT_EQ(env.fake.Count(Op::DeviceCapabilities), 0);
    EXPECT_EQ(printer.queryBuffers.pPapers, nullptr);
}

TEST_F(Query, OnlyTheExactGenericTextDriverNameSetsAnsiOnly) {
    env.SetCacheMethod(2);
    env.fake.AddDriver(L"Generic / Text Only");
    env.fake.AddDriver(L"generic / text only");
    office->driverName = L"Generic / Text Only";
    // The printer's subkey exists, so a lookup would read the value.
    env.registry.CreateKey(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"));
    {
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        env.registry.ClearQueried();
        env.trace.Mark();
        printer.Query(1, nullptr, nullptr);
        EXPECT_EQ(printer.queryBuffers.dwAnsiOnly, 1u);
        EXPECT_EQ(env.registry.QueryCount(L"AnsiOnly"), 0);
        EXPECT_TRUE(InOrder(env.trace.Since(), {"CPrinter::Query => using generic driver.... unicode: Generic / Text Only",
                                                "CPrinter::Query => using generic driver..."}));
        caps4* record = printer.SerializeCaps4();
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->dwAnsiOnly, 1u);
        platform::HeapFreeBlock(record);
    }
    office->driverName = L"generic / text only";
    {
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        env.registry.ClearQueried();
        env.trace.Mark();
        printer.Query(1, nullptr, nullptr);
        EXPECT_EQ(printer.queryBuffers.dwAnsiOnly, 0u);
        EXPECT_EQ(env.registry.QueryCount(L"AnsiOnly"), 1);  // the user's Printers key does not exist
        const Lines lines = env.trace.Since();
        EXPECT_TRUE(Has(lines, "CPrinter::Query => using generic driver.... unicode: generic / text only"));
        EXPECT_FALSE(Has(lines, "CPrinter::Query => using generic driver..."));
    }
    // No driver information at all.
    office->driverName = L"Driver Nobody Installed";
    CPrinter noDriver(env.trace.log(), L"Office", 1, 0);
    ASSERT_EQ(noDriver.pDriverInfo, nullptr);
    env.trace.Mark();
    noDriver.Query(1, nullptr, nullptr);
    EXPECT_TRUE(Has(env.trace.Since(), "CPrinter::Query => no driver name to check against AnsiOnly"));
    EXPECT_EQ(noDriver.queryBuffers.bFilled, 1u);
}

// The indexes of requests 15 to 24.
const std::set<int> kVersionGroup = {DC_COLORDEVICE, DC_NUP,       DC_PERSONALITY, DC_PRINTERMEM, DC_PRINTRATE,
                                     DC_PRINTRATEPPM, DC_PRINTRATEUNIT, DC_STAPLE,  DC_MEDIAREADY};
const std::set<int> kMediaIndexes = {DC_MEDIATYPES, DC_MEDIATYPENAMES};

TEST_F(Query, MajorVersionFourAsksTheVersionGroupForDefaultsAndNoMediaTypes) {
    env.SetCacheMethod(2);
    env.fake.SetVersion(VER_PLATFORM_WIN32_NT, 4, 0, 1381, L"Service Pack 6");
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    env.fake.ClearCalls();
    printer.Query(1, nullptr, nullptr);
    const std::multiset<int> asked = AskedOfPrinter();
    for (int index : kVersionGroup) EXPECT_EQ(asked.count(index), 0u) << "index " << index;
    for (int index : kMediaIndexes) EXPECT_EQ(asked.count(index), 0u) << "index " << index;
    // The rest is asked of the printer.
    for (int index : {DC_BINS, DC_COLLATE, DC_PAPERS, DC_ENUMRESOLUTIONS, DC_VERSION, DC_MODEL})
        EXPECT_GT(asked.count(index), 0u) << "index " << index;
    const QueryBuffers& qb = printer.queryBuffers;
    EXPECT_EQ(qb.pMedias, nullptr);
    EXPECT_EQ(qb.dwColor, static_cast<DWORD>(vlibPRINT_QueryDevCap_Color(nullptr, nullptr, nullptr)));
    EXPECT_EQ(qb.dwStaple, static_cast<DWORD>(vlibPRINT_QueryDevCap_Staple(nullptr, nullptr, nullptr)));
    EXPECT_EQ(qb.pNUP, nullptr);
    EXPECT_EQ(qb.dwNumNUP, 0u);
}

TEST_F(Query, VersionSixZeroAsksEverythingButTheMediaTypesOfThePrinter) {
    env.SetCacheMethod(2);
    env.fake.SetVersion(VER_PLATFORM_WIN32_NT, 6, 0, 6002, L"Service Pack 2");
    {
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        env.fake.ClearCalls();
        printer.Query(1, nullptr, nullptr);
        const std::multiset<int> asked = AskedOfPrinter();
        for (int index : kVersionGroup) EXPECT_GT(asked.count(index), 0u) << "index " << index;
        for (int index : kMediaIndexes) EXPECT_EQ(asked.count(index), 0u) << "index " << index;
        EXPECT_EQ(printer.queryBuffers.dwColor, 1u);
        EXPECT_EQ(printer.queryBuffers.dwNumNUP, 3u);
    }
    // With minor version 1 the media types come from the printer too.
    env.fake.SetVersion(VER_PLATFORM_WIN32_NT, 6, 1, 7601, L"Service Pack 1");
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    env.fake.ClearCalls();
    printer.Query(1, nullptr, nullptr);
    const std::multiset<int> asked = AskedOfPrinter();
    for (int index : kMediaIndexes) EXPECT_GT(asked.count(index), 0u) << "index " << index;
    ASSERT_NE(printer.queryBuffers.pMedias, nullptr);
    EXPECT_EQ(printer.queryBuffers.pMedias->dwNumMediaTypes, 2u);
}

struct ProgressLog {
    std::vector<std::pair<std::wstring, DWORD>> reports;
    std::vector<std::multiset<int>> askedBefore;  // indexes asked so far, at each report
    fake::FakePrintSystem* fake = nullptr;
};

void RecordProgress(LPVOID context, std::wstring text, DWORD percent) {
    auto* log = static_cast<ProgressLog*>(context);
    log->reports.emplace_back(text, percent);
    std::multiset<int> asked;
    for (const auto& call : log->fake->calls())
        if (call.op == Op::DeviceCapabilities) asked.insert(call.arg);
    log->askedBefore.push_back(asked);
}

TEST_F(Query, ProgressIsReportedInOrderBeforeEachGroup) {
    env.SetCacheMethod(2);
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    env.fake.ClearCalls();
    ProgressLog log;
    log.fake = &env.fake;
    printer.Query(1, RecordProgress, &log);
    const std::vector<std::pair<std::wstring, DWORD>> expected = {
        {L"Querying Bins", 0},         {L"Querying Extents", 7}, {L"Querying Medias", 14},
        {L"Querying Datatypes", 30},   {L"Querying Papers", 40}, {L"Querying Resolutions", 50},
        {L"Querying Forms", 70},       {L"Querying System Caps", 90}, {L"Query Complete", 100}};
    ASSERT_EQ(log.reports, expected);
    // Each report comes before its group's first request and after the previous group's.
    const std::pair<int, int> firstOfGroup[] = {{0, DC_BINS},         {1, DC_FILEDEPENDENCIES}, {2, DC_COLORDEVICE},
                                                {3, DC_DATATYPE_PRODUCED}, {4, DC_PAPERS},     {5, DC_ENUMRESOLUTIONS}};
    for (const auto& [report, index] : firstOfGroup) {
        EXPECT_EQ(log.askedBefore[report].count(index), 0u) << "report " << report;
        EXPECT_GT(log.askedBefore[report + 1].count(index), 0u) << "report " << report + 1;
    }
    EXPECT_EQ(env.fake.OpenDCs(), 0);

    // Without a callback: the same requests in the same order.
    std::vector<std::pair<int, int>> withCallback;
    for (const auto& call : env.fake.calls()) withCallback.emplace_back(static_cast<int>(call.op), call.arg);
    env.fake.ClearCalls();
    printer.Query(1, nullptr, nullptr);
    std::vector<std::pair<int, int>> without;
    for (const auto& call : env.fake.calls()) without.emplace_back(static_cast<int>(call.op), call.arg);
    EXPECT_EQ(without, withCallback);
}

TEST_F(Query, DefaultsOnlyAsksNothingOfThePrinter) {
    env.SetCacheMethod(2);
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    env.fake.ClearCalls();
    env.trace.Mark();
    printer.QueryCapabilities(1, nullptr, nullptr);
    EXPECT_TRUE(AskedOfPrinter().empty());
    EXPECT_TRUE(Has(env.trace.Since(), "CPrinter::QueryCapabilities => returning defaults only"));
    ASSERT_NE(printer.queryBuffers.pPapers, nullptr);  // the built-in paper table
    EXPECT_GT(printer.queryBuffers.pPapers->dwNumPapers, 0u);
}

TEST_F(Query, ExportBeforeAnyQueryWritesNoFile) {
    env.SetCacheMethod(2);
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    const std::wstring path = env.dir.File(L"export.log");
    env.trace.Mark();
    printer.ExportCapsLog(path);
    EXPECT_EQ(env.trace.Since(), (Lines{"CPrinter::ExportCapsLog => " + testsupport::Narrow(path),
                                        "CPrinter::ExportCapsLog => not queried yet, nothing to export"}));
    EXPECT_FALSE(testsupport::FileExists(path));

    printer.Query(1, nullptr, nullptr);
    printer.ExportCapsLog(path);
    const Lines exported = testsupport::ReadLogLines(path);
    char sizeLine[64];
    caps4* record = printer.SerializeCaps4();
    ASSERT_NE(record, nullptr);
    std::snprintf(sizeLine, sizeof(sizeLine), "dwSize: %u", static_cast<unsigned>(record->dwSize));
    platform::HeapFreeBlock(record);
    EXPECT_TRUE(InOrder(exported, {"Printer Capabilities", sizeLine, "dwAnsiOnly: 0", "dwEnd: 0"}));

    // A file that cannot be created: nothing is written, nothing breaks.
    const std::wstring nowhere = env.dir.File(L"missing\\export.log");
    env.trace.Mark();
    printer.ExportCapsLog(nowhere);
    const Lines lines = env.trace.Since();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "CPrinter::ExportCapsLog => " + testsupport::Narrow(nowhere));
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("CPrinter::SerializeCaps4 => ", 0), 0u) << lines[i];
    EXPECT_FALSE(testsupport::FileExists(nowhere));
}

}  // namespace
