// The refresh run behind "-q": every printer is built, queried by force and
// cached one after the other, and one printer's trouble does not stop it.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "client/refresh_run.h"
#include "printer_fixture.h"
#include "records/caps4_check.h"
#include "support/heap_counter.h"

namespace {

using namespace printer_test;

std::string Creating(const std::string& name) { return "KVCLIENT => creating printer (name = " + name + ")"; }
std::string Forcing(const std::string& name) { return "KVCLIENT => forcing requery of printer (name = " + name + ")"; }

// The first printer cannot be opened, its driver faults where the queries do
// not guard, or our own code runs out of memory: that printer's query ends,
// its stored record stays as it was and the run goes on, one object at a
// time, with every handle given back.
TEST(Refresh, OnePrintersTroubleEndsOnlyThatPrinter) {
    const struct { void (*script)(fake::FakePrintSystem&); std::string line; } cases[] = {
        {[](fake::FakePrintSystem& f) { f.Find(L"First")->openable = false; },
         "CPrinter::Query => printer is not available for query"},
        {[](fake::FakePrintSystem& f) { f.Find(L"First")->Cap(DC_PAPERS).faultOnCalls = {1}; },  // an unguarded count
         "KVCLIENT => exception occurred during query of printer (name = First)"},
        {[](fake::FakePrintSystem& f) { f.ThrowOnDriverCall(3); },  // at its opening, after the enumeration's two
         "KVCLIENT => refresh of printer failed (name = First)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Env env;
        const std::string old = "an earlier record";
        for (const WCHAR* name : {L"First", L"Second", L"Third"}) {
            env.fake.AddPrinter(name).connection = std::wstring(name) == L"Third";  // a connection, not local
            env.registry.SetBinary(HKEY_LOCAL_MACHINE, testsupport::PrinterKeyPath(name), L"PrinterData", old.data(),
                                   static_cast<DWORD>(old.size()));
        }
        c.script(env.fake);
        RunRefresh();
        const std::string saved = "CPrinter::SaveToCache => cached!";
        EXPECT_TRUE(InOrder(env.trace.Lines(), {Creating("First"), c.line, Creating("Second"), Forcing("Second"), saved,
                                                "~CPrinter => deleted", Creating("Third"), Forcing("Third"), saved}));
        EXPECT_EQ(env.RegistryRecord(HKEY_LOCAL_MACHINE, L"First"), old);
        EXPECT_EQ(env.fake.OpenPrinterHandles() + env.fake.OpenDCs(), 0);
    }
}

// One access violation, or one C++ exception of our own runtime (a driver
// built with it, or our own code out of memory: the guards let those pass),
// at the k-th driver-facing call of a refresh run over three printers, for
// every k the clean run makes: the run ends normally, the other printers get
// the record of the clean run, the faulted one gets a record that loads back
// or keeps the one stored before, and no printer handle, device context or
// heap block is left behind.
TEST(Refresh, AFaultOrAThrowAtAnyDriverCallEndsOnlyThatPrintersQueryAndLeaksNothing) {
    const std::wstring names[] = {L"First", L"Second", L"Third"};
    std::string before;  // the record each printer has before the run: one of the defaults
    {
        fake::FakePrintSystem none;
        CPrinter defaults(nullptr, L"", 2, 0);
        defaults.QueryCapabilities(TRUE, nullptr, nullptr);
        defaults.queryBuffers.bFilled = 1;
        before = Serialized(defaults);
    }
    std::map<std::wstring, std::string> clean;
    int calls = 0;
    for (int k = 0; k <= 2 * calls; ++k) {  // 0: the clean run, which counts the calls
        const bool throws = k > calls;
        const int at = throws ? k - calls : k;
        SCOPED_TRACE(testing::Message() << (throws ? "throw at " : "fault at ") << at);
        // Three printers with bins, media types and dependent files, each holding that record; no
        // trace, the run is made hundreds of times.
        Env run;
        LibraryLog = ClientLog = nullptr;
        for (const std::wstring& name : names) {
            fake::FakePrinter& p = run.fake.AddPrinter(name);
            p.SetBins({{DMBIN_UPPER, L"Upper"}, {DMBIN_MANUAL, L"Manual"}});
            p.SetMedia({{DMMEDIA_STANDARD, L"Plain"}});
            p.SetNames(DC_FILEDEPENDENCIES, kFileNameChars, {L"fake1.dll"});
            run.registry.SetBinary(HKEY_LOCAL_MACHINE, testsupport::PrinterKeyPath(name), L"PrinterData", before.data(),
                                   static_cast<DWORD>(before.size()));
        }
        throws ? run.fake.ThrowOnDriverCall(at) : run.fake.FaultOnDriverCall(at);  // at 0: none
        {
            testsupport::HeapCounter heap;
            RunRefresh();
            EXPECT_EQ(heap.Live(), 0);
        }
        if (k == 0) {
            calls = run.fake.DriverCalls();
            for (const std::wstring& name : names) clean[name] = run.RegistryRecord(HKEY_LOCAL_MACHINE, name);
            continue;
        }
        // The printer of the k-th driver-facing call; empty for the enumeration.
        std::wstring faulted;
        int seen = 0;
        for (const fake::Call& call : run.fake.calls())
            if (call.op != fake::Op::GetVersionEx && ++seen == at) faulted = call.printer;
        for (const std::wstring& name : names) {
            SCOPED_TRACE(testsupport::Narrow(name));
            const std::string stored = run.RegistryRecord(HKEY_LOCAL_MACHINE, name);
            if (faulted.empty()) {
                EXPECT_TRUE(stored == before) << "enumeration faulted, yet the record changed";
            } else if (name != faulted) {
                EXPECT_TRUE(stored == clean[name]) << "not faulted, yet not the clean run's record";
            } else if (stored != before) {
                WCHAR why[256] = {};
                EXPECT_TRUE(vlibPRINT_CheckCaps4(stored.data(), stored.size(), why, 256)) << testsupport::Narrow(why);
                QueryBuffers loaded{};
                EXPECT_TRUE(vlibPRINT_UnpackCaps4(&loaded, reinterpret_cast<const caps4*>(stored.data()), stored.size()));
                vlibPRINT_FreeQueryBuffers(&loaded);
            }
        }
        EXPECT_EQ(run.fake.OpenPrinterHandles(), 0);
        EXPECT_EQ(run.fake.OpenDCs(), 0);
        if (HasFailure()) break;
    }
    ASSERT_GT(calls, 100);
    std::printf("[ sweep    ] %d driver calls, a fault and a throw injected at each\n", calls);
}

}  // namespace
