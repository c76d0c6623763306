// The printer object against the fake print system: construction on
// available, unknown and misbehaving printers, faults in every guarded step,
// the cache method from the registry, the default DEVMODEs, the information
// refresh and the capability set it holds; and a C++ exception out of the
// object's and the driver look-ups' spooler calls.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "print/driver_info.h"
#include "printer_fixture.h"
#include "support/heap_counter.h"

namespace {

using namespace printer_test;
using fake::Op;

// Construction always ends normally; what is left depends on what the
// printer and its driver answered, or where they faulted.
TEST(PrinterObjectConstruction, EveryPrinterIsBuiltWithWhatItAnswered) {
    struct Case {
        const char* line;
        void (*setUp)(fake::FakePrintSystem&, fake::FakePrinter&);
        bool available, devmode, info2, driver;
        const WCHAR* name = L"P";
    };
#define KV_SETUP(body) [](fake::FakePrintSystem& f, fake::FakePrinter& p) { (void)f; (void)p; body; }
    const Case cases[] = {
        {"driver: Fake Laser Driver", KV_SETUP(), true, true, true, true},
        {"failed to open printer", KV_SETUP(), false, false, false, false, L"Nobody Here"},  // unknown to the spooler
        // The fill answers 0 after the driver asked for 300 bytes: the block stays, zero-filled.
        {"DocumentProperties function failed to get default devmode",
         KV_SETUP(p.devmode.clear(); p.documentPropertiesSize = 300), true, true, true, true},
        {"couldn't allocate memory for pDefDM", KV_SETUP(p.devmode.clear()), true, false, true, true},
        {"failed to get driver info", KV_SETUP(p.driverName = L"Driver Nobody Installed"), true, true, true, false},
        {"driver: Fake Laser Driver", KV_SETUP(p.comment.clear()), true, true, true, true},
        {"exception occurred during OpenPrinter", KV_SETUP(f.FaultOn(Op::OpenPrinter, 1)), false, false, false, false},
        {"exception occurred during DocumentProperties", KV_SETUP(f.FaultOn(Op::DocumentProperties, 1)), false, false, false, false},
        {"exception occurred during DocumentProperties", KV_SETUP(f.FaultOn(Op::DocumentProperties, 2)), false, false, false, false},
        // A fault inside the information look-ups is the object's to trace.
        {"exception occurred during GetPrinter", KV_SETUP(f.FaultOn(Op::GetPrinter, 1)), false, true, false, false},
        {"exception occurred during GetPrinter", KV_SETUP(f.FaultOn(Op::GetPrinter, 2)), false, true, false, false},
        {"exception occurred during GetPrinter", KV_SETUP(f.FaultOn(Op::GetPrinterDriver, 2)), false, true, true, false},
        {"assuming printer isn't available", KV_SETUP(f.FailOn(Op::GetPrinter, 2, ERROR_INVALID_HANDLE)), false, true, false, false},
        {"exception occurred during ClosePrinter", KV_SETUP(f.FaultOn(Op::ClosePrinter, 1)), true, true, true, true},
    };
#undef KV_SETUP
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Env env;
        fake::FakePrinter& p = env.fake.AddPrinter(L"P");
        c.setUp(env.fake, p);
        testsupport::HeapCounter heap;  // whatever faulted, every block goes back
        {
            CPrinter printer(env.trace.log(), c.name, 1, 0);
            EXPECT_EQ((std::vector<bool>{printer.bAvailable == 1, !!printer.pDefDM, !!printer.pPI2, !!printer.pDriverInfo}),
                      (std::vector<bool>{c.available, c.devmode, c.info2, c.driver}));
            EXPECT_EQ(printer.strComment, c.info2 && !p.comment.empty() ? L"fake printer" : L"");
            EXPECT_EQ(printer.strLocation, c.info2 ? L"lab" : L"");
            const std::vector<BYTE> dm = p.devmode.empty() ? std::vector<BYTE>(300) : p.devmode;
            if (c.devmode) EXPECT_EQ(0, std::memcmp(printer.pDefDM, dm.data(), dm.size()));
        }
        const Lines lines = env.trace.Lines();
        EXPECT_TRUE(InOrder(lines, {std::string("CPrinter::InitializeInfo => ") + c.line, "CPrinter::InitializeInfo => finished"}));
        EXPECT_EQ(Has(lines, "CPrinter::MirrorPrinterInfo2 => PI2 is NULL!?!?"), !c.info2);
        EXPECT_EQ(lines.back(), "~CPrinter => deleted");
        if (!std::strstr(c.line, "ClosePrinter")) EXPECT_EQ(env.fake.OpenPrinterHandles(), 0);
        EXPECT_EQ(heap.Live(), 0);
    }
}

TEST(PrinterObjectConstruction, CacheMethodPerMachineFirstPerUserOnlyWithoutTheMachineKey) {
    const struct { DWORD machine, user; bool machineKey; DWORD expected; } cases[] = {
        {2, 0, true, 2}, {0, 2, true, 3}, {0, 4, false, 4}};  // 0: no value
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        Env env;
        env.fake.AddPrinter(L"P");
        if (c.machineKey) env.registry.CreateKey(HKEY_LOCAL_MACHINE, kPrintersKey);
        if (c.machine) env.SetCacheMethod(c.machine);
        if (c.user) env.SetCacheMethod(c.user, HKEY_CURRENT_USER);
        CPrinter printer(env.trace.log(), L"P", 3, 0);
        EXPECT_EQ(printer.dwCacheMethod, c.expected);
        EXPECT_EQ(Has(env.trace.Lines(), "CPrinter::CPrinter => not using caching!"), c.expected == 2);
    }
}

// A C++ exception of our runtime out of any spooler call (the guards let it
// pass) of a look-up that opens the printer on its own reaches the caller,
// and no handle or block is left.
TEST(PrinterObject, AThrowAtAnyCallOfALookUpLeavesNothingHeld) {
    void (*const lookUps[])() = {
        [] { vlibPRINT_GetDriverName(L"Shared"); }, [] { vlibPRINT_GetNativePrinterShareName(L"Shared"); },
        [] { vlibPRINT_GetNativePrinterFullName(L"Shared"); },
        [] { platform::HeapFreeBlock(NDGetRemoteDriverInfo(L"", L"Fake Laser Driver", 6)); },
        [] {  // the object's own: its construction, the default DEVMODEs read and stored, the information read again
            CPrinter printer(nullptr, L"Shared", 1, 0);
            platform::HeapFreeBlock(printer.GetGlobalDefaultDM());
            printer.SetUserDefaultDM(printer.pDefDM);
            printer.bInfoChanged = 1;
            printer.UpdatePrinterInfo();
        }};
    for (size_t i = 0; i < std::size(lookUps); ++i) {
        int calls = 0;
        for (int k = 0; k <= calls; ++k) {  // 0: a clean run, which counts the calls
            SCOPED_TRACE(testing::Message() << "look-up " << i << ", throw at " << k);
            Env env;
            env.fake.AddPrinter(L"Shared").globalDevmode = fake::MakeDevmode(L"Shared");
            if (k) env.fake.ThrowOnDriverCall(k);
            testsupport::HeapCounter heap;
            if (k) EXPECT_THROW(lookUps[i](), std::bad_alloc);
            else lookUps[i](), calls = env.fake.DriverCalls();
            EXPECT_EQ(heap.Live(), 0);
            EXPECT_EQ(env.fake.OpenPrinterHandles(), 0);
        }
        EXPECT_GE(calls, 2);
    }
}

TEST(PrinterObject, DefaultDevmodesInformationRefreshAndCapabilitySet) {
    Env env;
    fake::FakePrinter& p = env.fake.AddPrinter(L"P");
    p.globalDevmode = fake::MakeDevmode(L"P", 32);
    CPrinter printer(env.trace.log(), L"P", 1, 0);
    DEVMODEW* global = printer.GetGlobalDefaultDM();
    EXPECT_EQ(0, std::memcmp(global, p.globalDevmode.data(), p.globalDevmode.size()));
    platform::HeapFreeBlock(global);
    EXPECT_EQ(printer.GetUserDefaultDM(), nullptr);  // no per-user default
    std::vector<BYTE> dm = fake::MakeDevmode(L"P", 16);
    printer.SetUserDefaultDM(fake::AsDevmode(dm));
    EXPECT_EQ(p.userDevmode, dm);
    printer.SetGlobalDefaultDM(fake::AsDevmode(dm));
    EXPECT_EQ(p.globalDevmode, dm);
    env.fake.FailOn(Op::SetPrinter, 3, ERROR_ACCESS_DENIED);
    printer.SetUserDefaultDM(fake::AsDevmode(dm));
    env.fake.FaultOn(Op::SetPrinter, 4);
    printer.SetUserDefaultDM(fake::AsDevmode(dm));
    env.fake.FaultOn(Op::GetPrinter, env.fake.Count(Op::GetPrinter) + 1);
    EXPECT_EQ(printer.GetUserDefaultDM(), nullptr);
    env.fake.FaultOn(Op::GetPrinter, env.fake.Count(Op::GetPrinter) + 2);  // while the level-8 block is filled
    EXPECT_EQ(printer.GetGlobalDefaultDM(), nullptr);
    EXPECT_TRUE(InOrder(env.trace.Lines(), {"CPrinter::GetGlobalDefaultDM => getting printer info 8",
                                          "CPrinter::SetUserDefaultDM => failed to set printer info 9",
                                          "CPrinter::SetUserDefaultDM => exception occurred during SetPrinter",
                                          "CPrinter::GetUserDefaultDM => exception occurred during GetPrinter",
                                          "CPrinter::GetGlobalDefaultDM => exception occurred during GetPrinter"}));

    // The information is read again only when marked changed; the mark goes even when the printer is gone.
    p.comment = L"moved";
    for (DWORD step : {0, 1, 2}) {  // not marked, marked, marked but gone
        p.openable = step < 2;
        printer.bInfoChanged = step > 0;
        printer.UpdatePrinterInfo();
        EXPECT_EQ(printer.bInfoChanged, 0u);
        EXPECT_EQ(printer.strComment, step ? L"moved" : L"fake printer");
    }
    EXPECT_EQ(env.fake.OpenPrinterHandles(), 0);
    p.openable = true;
    {
        testsupport::HeapCounter heap;  // read again, the information replaces what the object held
        printer.InitializeInfo();
        EXPECT_TRUE(heap.Live() == 0 && printer.strComment == L"moved") << heap.Live();
    }

    // Capability set: nothing to store before a query; a truncated copy is refused.
    EXPECT_TRUE(printer.SerializeCaps4() == nullptr && !printer.SaveToCache());
    printer.Query(1, nullptr, nullptr);
    caps4* record = printer.SerializeCaps4();
    ASSERT_NE(record, nullptr);
    const std::string stored(reinterpret_cast<const char*>(record), record->dwSize);
    printer.dwIgnoreLogPixels = 1;
    printer.DeserializeCaps4(record);  // over the filled set: cleared first, dwIgnoreLogPixels with it
    EXPECT_EQ(printer.dwIgnoreLogPixels, 0u);
    EXPECT_EQ(Serialized(printer), stored);
    printer.queryBuffers.dwCopies = 1234;
    printer.DeserializeCaps4(record, record->dwSize - 1);
    EXPECT_EQ(printer.queryBuffers.dwCopies, 1234u);
    platform::HeapFreeBlock(record);
    printer.ClearQueryBuffers();
    const QueryBuffers empty{};
    EXPECT_EQ(0, std::memcmp(&printer.queryBuffers, &empty, sizeof(empty)));
}

}  // namespace
