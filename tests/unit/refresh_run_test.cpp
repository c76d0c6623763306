// The refresh run behind "-q": every printer is built, queried by force and
// cached one after the other, and one printer's trouble does not stop it.
#include <gtest/gtest.h>

#include "client/entry.h"
#include "client/refresh_run.h"
#include "printer_fixture.h"

namespace {

using namespace printer_test;

std::string Creating(const std::string& name) { return "KVCLIENT => creating printer (name = " + name + ")"; }
std::string Forcing(const std::string& name) { return "KVCLIENT => forcing requery of printer (name = " + name + ")"; }

TEST(Refresh, AnUnreachablePrinterDoesNotStopTheRun) {
    Env env;
    env.fake.AddPrinter(L"First");
    env.fake.AddPrinter(L"Second").openable = false;
    env.fake.AddPrinter(L"Third");
    RunRefresh();
    const Lines lines = env.trace.All();
    EXPECT_TRUE(InOrder(lines, {Creating("First"), Forcing("First"), "CPrinter::SaveToCache => cached!",
                                "~CPrinter => deleted", Creating("Second"), Forcing("Second"),
                                "CPrinter::Query => printer is not available for query", "~CPrinter => deleted",
                                Creating("Third"), Forcing("Third"), "CPrinter::SaveToCache => cached!"}));
    EXPECT_FALSE(env.RegistryRecord(HKEY_LOCAL_MACHINE, L"First").empty() ||
                 env.RegistryRecord(HKEY_LOCAL_MACHINE, L"Third").empty());
    EXPECT_EQ(env.fake.OpenPrinterHandles() + env.fake.OpenDCs(), 0);  // one object at a time, all given back
}

TEST(Refresh, ADriverFaultingOutsideTheQueryGuardsEndsOnlyItsPrinter) {
    Env env;
    env.fake.AddPrinter(L"First").Cap(DC_PAPERS).faultOnCalls = {1};  // the first, unguarded paper count
    env.fake.AddPrinter(L"Second");
    RunRefresh();
    const Lines lines = env.trace.All();
    EXPECT_TRUE(InOrder(lines, {Forcing("First"), "KVCLIENT => exception occurred during query of printer (name = First)",
                                "~CPrinter => deleted", Creating("Second"), "CPrinter::SaveToCache => cached!"}));
    EXPECT_TRUE(env.RegistryRecord(HKEY_LOCAL_MACHINE, L"First").empty());
    EXPECT_FALSE(env.RegistryRecord(HKEY_LOCAL_MACHINE, L"Second").empty());
}

TEST(Refresh, TwiceOnTheCommandLineRunsTwiceAndRewritesTheEntries) {
    Env env;
    env.fake.AddPrinter(L"First");
    env.fake.AddPrinter(L"Second");
    const std::wstring logPath = env.dir.File(L"client.log");  // the client's own log, as start-up reads it
    env.registry.SetDword(HKEY_LOCAL_MACHINE, kClientKey, L"Log", 1);
    env.registry.SetString(HKEY_LOCAL_MACHINE, kClientKey, L"LogPath", logPath);
    TraceLog* const ours = LibraryLog;
    EXPECT_EQ(ClientMain(L"kvclient.exe -q -Q"), 1);
    if (ClientLog != ours) TraceLogDestroy(ClientLog);
    LibraryLog = ClientLog = ours;
    const Lines lines = testsupport::ReadLogLines(logPath);
    EXPECT_EQ(CountOf(lines, "CPrinter::SaveToCache => cached!"), 4);
    // The second run starts from what the first one stored.
    EXPECT_TRUE(InOrder(lines, {Creating("First"), Creating("Second"), Creating("First"),
                                "CPrinter::LoadFromCache => loaded!", Creating("Second"),
                                "CPrinter::LoadFromCache => loaded!"}));
}

TEST(Refresh, NoPrintersGivesOnlyTheEnumerationLines) {
    Env env;
    RunRefresh();
    EXPECT_GT(env.fake.Count(fake::Op::EnumPrinters), 0);
    for (const auto& line : env.trace.All())
        EXPECT_TRUE(line.rfind("KVCLIENT", 0) != 0 && line.rfind("CPrinter", 0) != 0) << line;
    EXPECT_EQ(env.fake.Count(fake::Op::OpenPrinter), 0);
}

TEST(Refresh, CacheMethodTwoQueriesWithoutStoring) {
    Env env;
    env.fake.AddPrinter(L"First");
    env.SetCacheMethod(2);
    RunRefresh();
    const Lines lines = env.trace.All();
    EXPECT_TRUE(InOrder(lines, {Creating("First"), Forcing("First"), "CPrinter::Query => queried, now caching data",
                                "CPrinter::SaveToCache => set to not cache!"}));
    EXPECT_FALSE(Has(lines, "CPrinter::Query => failed to cache data..."));
    EXPECT_FALSE(env.registry.KeyExists(HKEY_LOCAL_MACHINE, testsupport::PrinterKeyPath(L"First")));
}

}  // namespace
