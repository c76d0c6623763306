// The refresh run behind "-q": every printer is built, queried by force and
// cached one after the other, and one printer's trouble does not stop it.
#include <gtest/gtest.h>

#include "client/entry.h"
#include "client/refresh_run.h"
#include "printer_fixture.h"

namespace {

using namespace printer_test;
using fake::Op;
using testsupport::PrinterKeyPath;

std::string Creating(const std::string& name) { return "KVCLIENT => creating printer (name = " + name + ")"; }
std::string Forcing(const std::string& name) { return "KVCLIENT => forcing requery of printer (name = " + name + ")"; }

class Refresh : public ::testing::Test {
protected:
    Env env;
};

TEST_F(Refresh, AnUnreachablePrinterDoesNotStopTheRun) {
    env.fake.AddPrinter(L"First");
    env.fake.AddPrinter(L"Second").openable = false;
    env.fake.AddPrinter(L"Third");
    RunRefresh();

    const Lines lines = env.trace.All();
    EXPECT_TRUE(InOrder(lines, {Creating("First"), Forcing("First"), "CPrinter::Query => queried, now caching data",
                                "CPrinter::SaveToCache => cached!", "~CPrinter => deleted",
                                Creating("Second"), "CPrinter::InitializeInfo => failed to open printer", Forcing("Second"),
                                "CPrinter::Query => printer is not available for query", "~CPrinter => deleted",
                                Creating("Third"), Forcing("Third"), "CPrinter::SaveToCache => cached!",
                                "~CPrinter => deleted"}));
    EXPECT_EQ(CountOf(lines, "CPrinter::Query => printer is not available for query"), 1);
    EXPECT_FALSE(env.RegistryRecord(HKEY_LOCAL_MACHINE, L"First").empty());
    EXPECT_FALSE(env.RegistryRecord(HKEY_LOCAL_MACHINE, L"Third").empty());
    EXPECT_FALSE(env.registry.ValueExists(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Second"), L"PrinterData"));
    // One object at a time: every handle and device context was given back.
    EXPECT_EQ(env.fake.OpenPrinterHandles(), 0);
    EXPECT_EQ(env.fake.OpenDCs(), 0);
}

TEST_F(Refresh, TheRecordsAreWhatTheDriverReports) {
    auto& laser = env.fake.AddPrinter(L"Laser");
    laser.SetPapers({{DMPAPER_LETTER, L"Letter", 2159, 2794},
                     {DMPAPER_LEGAL, L"Legal", 2159, 3556},
                     {DMPAPER_A4, L"A4", 2100, 2970}});
    laser.SetResolutions({{300, 300}, {600, 600}, {1200, 1200}});
    RunRefresh();
    const std::string bytes = env.RegistryRecord(HKEY_LOCAL_MACHINE, L"Laser");
    ASSERT_GE(bytes.size(), sizeof(caps4));
    const caps4* record = reinterpret_cast<const caps4*>(bytes.data());
    EXPECT_EQ(record->dwSize, bytes.size());
    EXPECT_EQ(record->dwNumPapers, 3u);
    EXPECT_EQ(record->dwNumResolutions, 3u);
    EXPECT_EQ(record->dwNumForms, 9u);
    const WORD* ids = reinterpret_cast<const WORD*>(bytes.data() + record->dwOffsetToPapers);
    const PaperSize* sizes = reinterpret_cast<const PaperSize*>(bytes.data() + record->dwOffsetToPaperSize);
    EXPECT_EQ(ids[1], DMPAPER_LEGAL);
    EXPECT_EQ(sizes[1].length, 3556);
}

TEST_F(Refresh, TwiceOnTheCommandLineRunsTwiceAndRewritesTheEntries) {
    env.fake.AddPrinter(L"First");
    env.fake.AddPrinter(L"Second");
    // The client's own log, as start-up reads it.
    const std::wstring logPath = env.dir.File(L"client.log");
    env.registry.SetDword(HKEY_LOCAL_MACHINE, kClientKey, L"Log", 1);
    env.registry.SetString(HKEY_LOCAL_MACHINE, kClientKey, L"LogPath", logPath);
    TraceLog* const ours = LibraryLog;
    const int result = ClientMain(L"kvclient.exe -q -Q");
    TraceLog* const created = ClientLog;
    LibraryLog = ours;
    ClientLog = ours;
    TraceLogDestroy(created == ours ? nullptr : created);
    EXPECT_EQ(result, 1);

    const Lines lines = testsupport::ReadLogLines(logPath);
    EXPECT_EQ(CountOf(lines, Creating("First")), 2);
    EXPECT_EQ(CountOf(lines, Forcing("Second")), 2);
    EXPECT_EQ(CountOf(lines, "CPrinter::SaveToCache => cached!"), 4);
    // The second run starts from what the first one stored.
    EXPECT_EQ(CountOf(lines, "CPrinter::LoadFromCache => loaded!"), 2);
    EXPECT_TRUE(InOrder(lines, {Creating("First"), Creating("Second"), Creating("First"),
                                "CPrinter::LoadFromCache => loaded!", Creating("Second"),
                                "CPrinter::LoadFromCache => loaded!"}));
    EXPECT_FALSE(env.RegistryRecord(HKEY_LOCAL_MACHINE, L"Second").empty());
}

TEST_F(Refresh, NoPrintersGivesOnlyTheEnumerationLines) {
    RunRefresh();
    for (const auto& line : env.trace.All()) {
        EXPECT_NE(line.rfind("KVCLIENT", 0), 0u) << line;
        EXPECT_NE(line.rfind("CPrinter", 0), 0u) << line;
    }
    EXPECT_EQ(env.fake.Count(Op::OpenPrinter), 0);
    EXPECT_GT(env.fake.Count(Op::EnumPrinters), 0);
}

TEST_F(Refresh, CacheMethodTwoQueriesWithoutStoring) {
    env.fake.AddPrinter(L"First");
    env.SetCacheMethod(2);
    RunRefresh();
    const Lines lines = env.trace.All();
    EXPECT_TRUE(InOrder(lines, {Creating("First"), "CPrinter::CPrinter => not using caching!", Forcing("First"),
                                "CPrinter::Query => queried, now caching data",
                                "CPrinter::SaveToCache => set to not cache!"}));
    EXPECT_FALSE(Has(lines, "CPrinter::Query => failed to cache data..."));
    EXPECT_GT(env.fake.Count(Op::DeviceCapabilities), 0);
    EXPECT_FALSE(env.registry.KeyExists(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"First")));
}

}  // namespace
