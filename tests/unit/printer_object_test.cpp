// The printer object against the fake print system: construction on
// available, unknown and misbehaving printers, faults in every guarded step,
// the cache method from the registry, the default DEVMODEs, the information
// refresh and the capability set it holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fake/fake_print_system.h"
#include "platform/kernel.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"
#include "trace_capture.h"

namespace {

using fake::FakePrintSystem;
using fake::Op;
using testsupport::TraceCapture;

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(PrinterObjectConstruction, AvailablePrinterIsReadCompletely) {
    FakePrintSystem fake;
    fake.SetVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600, L"Service Pack 3");
    fake::FakePrinter& p = fake.AddPrinter(L"Office Laser");
    TraceCapture trace;
    CPrinter printer(trace.log(), L"Office Laser", 1, 7);
    EXPECT_EQ(printer.osvi.dwOSVersionInfoSize, 276u);
    EXPECT_EQ(printer.osvi.dwMinorVersion, 1u);
    EXPECT_EQ(printer.dwNotifyId, 7u);
    ASSERT_NE(printer.pDefDM, nullptr);
    EXPECT_EQ(0, std::memcmp(printer.pDefDM, p.devmode.data(), p.devmode.size()));
    EXPECT_STREQ(printer.pDriverInfo->pName, L"Fake Laser Driver");
    EXPECT_EQ(printer.strLocation, L"lab");
    EXPECT_EQ(printer.queryBuffers.bFilled, 0u);
    EXPECT_EQ(trace.LinesStartingWith("CPrinter::InitializeInfo => required size of devmode: 284").size(), 1u);
    EXPECT_FALSE(trace.LinesStartingWith("LogDevmode =>").empty());
    EXPECT_FALSE(trace.LinesStartingWith("vlibPRINT_LogPI2 =>").empty());
}

// Construction always ends normally; what is left depends on what the
// printer and its driver answered, or where they faulted.
TEST(PrinterObjectConstruction, MisbehavingPrintersAreBuiltWithTheirFallbacks) {
    struct Case {
        const char* line;
        std::function<void(FakePrintSystem&, fake::FakePrinter&)> setUp;
        bool available, devmode, info2, driver;
    };
#define KV_SETUP(body) [](FakePrintSystem& f, fake::FakePrinter& p) { (void)f; (void)p; body; }
    const Case cases[] = {
        {"failed to open printer", KV_SETUP(p.openable = false), false, false, false, false},
        // The fill answers 0 after the driver asked for 300 bytes: the block stays, zero-filled.
        {"DocumentProperties function failed to get default devmode",
         KV_SETUP(p.devmode.clear(); p.documentPropertiesSize = 300), true, true, true, true},
        {"couldn't allocate memory for pDefDM", KV_SETUP(p.devmode.clear()), true, false, true, true},
        {"failed to get driver info", KV_SETUP(p.driverName = L"Driver Nobody Installed"), true, true, true, false},
        {"driver: Fake Laser Driver", KV_SETUP(p.nullComment = true), true, true, true, true},
        {"exception occurred during OpenPrinter", KV_SETUP(f.FaultOn(Op::OpenPrinter, 1)), false, false, false, false},
        {"exception occurred during DocumentProperties", KV_SETUP(f.FaultOn(Op::DocumentProperties, 1)), false, false, false, false},
        {"exception occurred during DocumentProperties", KV_SETUP(f.FaultOn(Op::DocumentProperties, 2)), false, false, false, false},
        // The information look-up catches its own faults and answers null.
        {"assuming printer isn't available", KV_SETUP(f.FaultOn(Op::GetPrinter, 2)), false, true, false, false},
        {"exception occurred during GetPrinter", KV_SETUP(f.FaultOn(Op::GetPrinterDriver, 2)), false, true, true, false},
        {"exception occurred during ClosePrinter", KV_SETUP(f.FaultOn(Op::ClosePrinter, 1)), true, true, true, true},
    };
#undef KV_SETUP
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        FakePrintSystem fake;
        fake::FakePrinter& p = fake.AddPrinter(L"P");
        c.setUp(fake, p);
        TraceCapture trace;
        {
            CPrinter printer(trace.log(), L"P", 1, 0);
            EXPECT_EQ(printer.bAvailable, c.available ? 1u : 0u);
            EXPECT_EQ(printer.pDefDM != nullptr, c.devmode);
            EXPECT_EQ(printer.pPI2 != nullptr, c.info2);
            EXPECT_EQ(printer.pDriverInfo != nullptr, c.driver);
            EXPECT_EQ(printer.strComment, c.info2 && !p.nullComment ? L"fake printer" : L"");
            const BYTE* dm = reinterpret_cast<const BYTE*>(printer.pDefDM);
            if (p.documentPropertiesSize == 300) EXPECT_TRUE(std::all_of(dm, dm + 300, [](BYTE b) { return b == 0; }));
        }
        const auto lines = trace.Lines();
        EXPECT_TRUE(Contains(lines, std::string("CPrinter::InitializeInfo => ") + c.line));
        EXPECT_TRUE(Contains(lines, "CPrinter::InitializeInfo => finished"));
        EXPECT_EQ(Contains(lines, "CPrinter::MirrorPrinterInfo2 => PI2 is NULL!?!?"), !c.info2);
        EXPECT_EQ(lines.back(), "~CPrinter => deleted");
        if (std::string(c.line).find("ClosePrinter") == std::string::npos) EXPECT_EQ(fake.OpenPrinterHandles(), 0);
    }
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    TraceCapture trace;
    CPrinter unknown(trace.log(), L"Nobody Here", 1, 0);  // a name the spooler does not know
    EXPECT_EQ(unknown.bAvailable, 0u);
    EXPECT_EQ(unknown.pDefDM, nullptr);
    EXPECT_EQ(unknown.strPrinterName, L"Nobody Here");
    EXPECT_TRUE(Contains(trace.Lines(), "CPrinter::InitializeInfo => failed to open printer"));
}

// Sets "CacheMethod" (for 0 only makes sure the key exists) for the scope.
struct RegistryValue {
    HKEY root;
    bool existed;
    RegistryValue(HKEY r, DWORD value) : root(r), existed(Exists(r)) {
        HKEY key = nullptr;
        EXPECT_EQ(::RegCreateKeyExW(root, kPrintersKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
        if (value) ::RegSetValueExW(key, L"CacheMethod", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
        ::RegCloseKey(key);
    }
    ~RegistryValue() { existed ? ::SHDeleteValueW(root, kPrintersKey, L"CacheMethod") : ::SHDeleteKeyW(root, kPrintersKey); }
    static bool Exists(HKEY root) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(root, kPrintersKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
        ::RegCloseKey(key);
        return true;
    }
};

TEST(PrinterObjectCacheMethod, MachineKeyFirstUserKeyOnlyWithoutIt) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    {  // 2 per machine: caching is off, and says so.
        RegistryValue machine(HKEY_LOCAL_MACHINE, 2);
        TraceCapture trace;
        CPrinter printer(trace.log(), L"P", 1, 0);
        EXPECT_EQ(printer.dwCacheMethod, 2u);
        EXPECT_EQ(trace.Lines().at(0), "CPrinter::CPrinter => not using caching!");
    }
    {  // 2 only per user while the machine key exists without the value: the default stays.
        RegistryValue machine(HKEY_LOCAL_MACHINE, 0);
        RegistryValue user(HKEY_CURRENT_USER, 2);
        TraceCapture trace;
        CPrinter printer(trace.log(), L"P", 3, 0);
        EXPECT_EQ(printer.dwCacheMethod, 3u);
        EXPECT_TRUE(trace.LinesStartingWith("CPrinter::CPrinter => not using caching!").empty());
    }
    if (!RegistryValue::Exists(HKEY_LOCAL_MACHINE)) {  // without the machine key the user's value counts
        RegistryValue user(HKEY_CURRENT_USER, 4);
        CPrinter printer(nullptr, L"P", 1, 0);
        EXPECT_EQ(printer.dwCacheMethod, 4u);
    }
}

TEST(PrinterObjectDefaultDevmode, GetSetAndTheirFailures) {
    FakePrintSystem fake;
    fake::FakePrinter& p = fake.AddPrinter(L"P");
    p.globalDevmode = fake::MakeDevmode(L"P", 32);
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);
    DEVMODEW* global = printer.GetGlobalDefaultDM();
    ASSERT_NE(global, nullptr);
    EXPECT_EQ(0, std::memcmp(global, p.globalDevmode.data(), p.globalDevmode.size()));
    platform::HeapFreeBlock(global);
    EXPECT_EQ(printer.GetUserDefaultDM(), nullptr);  // no per-user default
    std::vector<BYTE> dm = fake::MakeDevmode(L"P", 16);
    printer.SetUserDefaultDM(fake::AsDevmode(dm));
    EXPECT_EQ(p.userDevmode, dm);
    fake::AsDevmode(dm)->dmCopies = 5;
    printer.SetGlobalDefaultDM(fake::AsDevmode(dm));
    EXPECT_EQ(p.globalDevmode, dm);

    fake.FailOn(Op::SetPrinter, 3, ERROR_ACCESS_DENIED);
    printer.SetUserDefaultDM(fake::AsDevmode(dm));
    fake.FaultOn(Op::SetPrinter, 4);
    printer.SetUserDefaultDM(fake::AsDevmode(dm));
    fake.FaultOn(Op::GetPrinter, fake.Count(Op::GetPrinter) + 1);
    EXPECT_EQ(printer.GetUserDefaultDM(), nullptr);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
    for (const char* line : {"CPrinter::GetGlobalDefaultDM => getting printer info 8",
                             "CPrinter::SetUserDefaultDM => failed to set printer info 9",
                             "CPrinter::SetUserDefaultDM => exception occurred during SetPrinter"})
        EXPECT_TRUE(Contains(trace.Lines(), line)) << line;
}

TEST(PrinterObjectInfo, UpdateReadsAgainOnlyWhenMarked) {
    FakePrintSystem fake;
    fake::FakePrinter& p = fake.AddPrinter(L"P");
    CPrinter printer(nullptr, L"P", 1, 0);
    p.comment = L"moved";
    printer.UpdatePrinterInfo();
    EXPECT_EQ(printer.strComment, L"fake printer");
    printer.bInfoChanged = 1;
    printer.UpdatePrinterInfo();
    EXPECT_EQ(printer.bInfoChanged, 0u);
    EXPECT_EQ(printer.strComment, L"moved");
    p.openable = false;  // gone: the flag is cleared all the same
    printer.bInfoChanged = 1;
    printer.UpdatePrinterInfo();
    EXPECT_EQ(printer.bInfoChanged, 0u);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

TEST(PrinterObjectCaps, UnpackPackAndClear) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);
    EXPECT_EQ(printer.SerializeCaps4(), nullptr);  // nothing queried yet
    QueryBuffers b{};
    b.bFilled = b.dwCopies = 9;
    b.pLowLevel = platform::HeapAllocZeroAs<LowLevelCaps>(sizeof(LowLevelCaps));
    caps4* record = vlibPRINT_PackCaps4(&b);
    vlibPRINT_FreeQueryBuffers(&b);
    ASSERT_NE(record, nullptr);

    printer.DeserializeCaps4(record, record->dwSize);
    EXPECT_EQ(printer.queryBuffers.dwCopies, 9u);
    printer.dwIgnoreLogPixels = 1;  // over the filled set: cleared first, dwIgnoreLogPixels with it
    printer.DeserializeCaps4(record);
    EXPECT_EQ(printer.dwIgnoreLogPixels, 0u);
    EXPECT_EQ(trace.LinesStartingWith("CPrinter::DeserializeCaps4 => query buffers already filled! clearing").size(), 1u);
    printer.queryBuffers.dwCopies = 10;  // a truncated copy is refused and the set stays as it was
    printer.DeserializeCaps4(record, record->dwSize - 1);
    EXPECT_EQ(printer.queryBuffers.dwCopies, 10u);
    platform::HeapFreeBlock(record);

    printer.dwIgnoreLogPixels = 1;
    printer.ClearQueryBuffers();
    const QueryBuffers empty{};
    EXPECT_EQ(0, std::memcmp(&printer.queryBuffers, &empty, sizeof(empty)));
    EXPECT_EQ(printer.dwIgnoreLogPixels, 0u);
}

}  // namespace
