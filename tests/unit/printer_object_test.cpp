// The printer object against the fake print system: construction on
// available, unknown and misbehaving printers, faults in every guarded step,
// the cache method from the registry, the default DEVMODEs, the information
// refresh and the capability set it holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

// The lines of the given prefix, in order.
std::vector<std::string> Only(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> picked;
    for (const auto& l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0) picked.push_back(l);
    return picked;
}

// ------------------------------------------------------------ construction

TEST(PrinterObjectConstruction, AvailablePrinterIsReadCompletely) {
    FakePrintSystem fake;
    fake.SetVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600, L"Service Pack 3");
    fake::FakePrinter& p = fake.AddPrinter(L"Office Laser");
    p.comment = L"second floor";
    p.location = L"room 12";
    TraceCapture trace;
    {
        CPrinter printer(trace.log(), L"Office Laser", 1, 0);
        EXPECT_EQ(printer.bAvailable, 1u);
        EXPECT_EQ(printer.bInfoChanged, 0u);
        EXPECT_EQ(printer.osvi.dwOSVersionInfoSize, 276u);
        EXPECT_EQ(printer.osvi.dwMajorVersion, 5u);
        EXPECT_EQ(printer.osvi.dwMinorVersion, 1u);
        ASSERT_NE(printer.pDefDM, nullptr);
        EXPECT_EQ(0, std::memcmp(printer.pDefDM, p.devmode.data(), p.devmode.size()));
        ASSERT_NE(printer.pPI2, nullptr);
        EXPECT_STREQ(printer.pPI2->pPortName, L"FILE:");
        ASSERT_NE(printer.pDriverInfo, nullptr);
        EXPECT_STREQ(printer.pDriverInfo->pName, L"Fake Laser Driver");
        EXPECT_EQ(printer.strPrinterName, L"Office Laser");
        EXPECT_EQ(printer.strComment, L"second floor");
        EXPECT_EQ(printer.strLocation, L"room 12");
        EXPECT_EQ(printer.queryBuffers.bFilled, 0u);
        EXPECT_EQ(printer.dwIgnoreLogPixels, 0u);
        EXPECT_EQ(fake.OpenPrinterHandles(), 0);  // opened and closed within the construction
    }
    const std::vector<std::string> expected = {
        "CPrinter => =============================================================",
        "CPrinter => printer: Office Laser",
        "CPrinter::InitializeInfo => opening printer...",
        "CPrinter::InitializeInfo => Getting required size of devmode",
        "CPrinter::InitializeInfo => required size of devmode: 284",
        "CPrinter::InitializeInfo => having driver fill in devmode with default values",
        "CPrinter::InitializeInfo => getting printer info 2",
        "CPrinter::InitializeInfo => getting driver info",
        "CPrinter::InitializeInfo => driver: Fake Laser Driver",
        "CPrinter::InitializeInfo => closing printer",
        "CPrinter::InitializeInfo => finished",
        "CPrinter::MirrorPrinterInfo2 => ",
        "CPrinter::MirrorPrinterInfo2 => finished",
    };
    const auto lines = trace.Lines();
    std::vector<std::string> own;
    for (const auto& l : lines)
        if (l.rfind("CPrinter", 0) == 0) own.push_back(l);
    EXPECT_EQ(own, expected);
    EXPECT_TRUE(Contains(lines, "~CPrinter => deleting object: Office Laser"));
    EXPECT_EQ(lines.back(), "~CPrinter => deleted");
    // The default DEVMODE and the level-2 information are dumped.
    EXPECT_FALSE(Only(lines, "LogDevmode =>").empty());
    EXPECT_FALSE(Only(lines, "vlibPRINT_LogPI2 =>").empty());
}

TEST(PrinterObjectConstruction, UnknownPrinterIsConstructedUnavailable) {
    FakePrintSystem fake;
    fake.AddPrinter(L"Known");
    TraceCapture trace;
    {
        CPrinter printer(trace.log(), L"Nobody Here", 1, 0);
        EXPECT_EQ(printer.bAvailable, 0u);
        EXPECT_EQ(printer.pDefDM, nullptr);
        EXPECT_EQ(printer.pPI2, nullptr);
        EXPECT_EQ(printer.pDriverInfo, nullptr);
        EXPECT_EQ(printer.strPrinterName, L"Nobody Here");
        EXPECT_TRUE(printer.strComment.empty());
    }
    const auto lines = trace.Lines();
    EXPECT_EQ(Only(lines, "CPrinter::InitializeInfo"),
              (std::vector<std::string>{"CPrinter::InitializeInfo => opening printer...",
                                        "CPrinter::InitializeInfo => failed to open printer",
                                        "CPrinter::InitializeInfo => finished"}));
    EXPECT_TRUE(Contains(lines, "CPrinter::MirrorPrinterInfo2 => PI2 is NULL!?!?"));
    EXPECT_EQ(lines.back(), "~CPrinter => deleted");
    EXPECT_EQ(fake.Count(Op::DocumentProperties), 0);
    EXPECT_EQ(fake.Count(Op::GetPrinter), 0);
    EXPECT_EQ(fake.Count(Op::ClosePrinter), 0);
}

TEST(PrinterObjectConstruction, DriverThatCannotFillItsDefaultKeepsAZeroedBlock) {
    FakePrintSystem fake;
    fake::FakePrinter& p = fake.AddPrinter(L"P");
    p.devmode.clear();                // the fill answers 0...
    p.documentPropertiesSize = 300;   // ...after asking for 300 bytes
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);
    EXPECT_EQ(printer.bAvailable, 1u);
    ASSERT_NE(printer.pDefDM, nullptr);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(printer.pDefDM);
    EXPECT_TRUE(std::all_of(bytes, bytes + 300, [](BYTE b) { return b == 0; }));
    const auto lines = trace.Lines();
    EXPECT_TRUE(Contains(lines, "CPrinter::InitializeInfo => DocumentProperties function failed to get default devmode"));
    EXPECT_NE(printer.pPI2, nullptr);
    EXPECT_NE(printer.pDriverInfo, nullptr);
}

TEST(PrinterObjectConstruction, DriverReportingNoDevmodeSizeLeavesNoBlock) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P").devmode.clear();  // size request answers 0
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);
    EXPECT_EQ(printer.pDefDM, nullptr);
    EXPECT_EQ(printer.bAvailable, 1u);
    EXPECT_TRUE(Contains(trace.Lines(), "CPrinter::InitializeInfo => couldn't allocate memory for pDefDM"));
    EXPECT_EQ(fake.Count(Op::DocumentProperties), 1);  // nothing to fill
}

TEST(PrinterObjectConstruction, MissingDriverInformationKeepsThePrinterAvailable) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P").driverName = L"Driver Nobody Installed";
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);
    EXPECT_EQ(printer.bAvailable, 1u);
    EXPECT_EQ(printer.pDriverInfo, nullptr);
    EXPECT_NE(printer.pPI2, nullptr);
    EXPECT_TRUE(Contains(trace.Lines(), "CPrinter::InitializeInfo => failed to get driver info"));
}

TEST(PrinterObjectConstruction, NullCommentLeavesTheCommentEmpty) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P").nullComment = true;
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);
    ASSERT_NE(printer.pPI2, nullptr);
    EXPECT_EQ(printer.pPI2->pComment, nullptr);
    EXPECT_TRUE(printer.strComment.empty());
    EXPECT_EQ(printer.strLocation, L"lab");
    EXPECT_TRUE(Contains(trace.Lines(), "CPrinter::MirrorPrinterInfo2 => finished"));
}

TEST(PrinterObjectConstruction, NullLoggerConstructsSilently) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    CPrinter printer(nullptr, L"P", 1, 0);
    EXPECT_EQ(printer.bAvailable, 1u);
}

// ------------------------------------------------------------ faults

struct FaultCase {
    Op op;
    int call;
    const char* line;
    bool devmode, info2, driver;  // what is left afterwards
    int closes;                   // ClosePrinter calls made
};

TEST(PrinterObjectFaults, EveryGuardedStepFallsBackAndConstructionEnds) {
    const FaultCase cases[] = {
        {Op::OpenPrinter, 1, "CPrinter::InitializeInfo => exception occurred during OpenPrinter", false, false, false, 0},
        {Op::DocumentProperties, 1, "CPrinter::InitializeInfo => exception occurred during DocumentProperties", false,
         false, false, 1},
        {Op::DocumentProperties, 2, "CPrinter::InitializeInfo => exception occurred during DocumentProperties", false,
         false, false, 1},
        // The information look-up catches its own faults and answers null.
        {Op::GetPrinter, 1, "CPrinter::InitializeInfo => assuming printer isn't available", true, false, false, 1},
        {Op::GetPrinter, 2, "CPrinter::InitializeInfo => assuming printer isn't available", true, false, false, 1},
        {Op::GetPrinterDriver, 2, "CPrinter::InitializeInfo => exception occurred during GetPrinter", true, true, false, 1},
        {Op::ClosePrinter, 1, "CPrinter::InitializeInfo => exception occurred during ClosePrinter", true, true, true, 1},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.line + std::string(" / call ") + std::to_string(c.call));
        FakePrintSystem fake;
        fake.AddPrinter(L"P");
        fake.FaultOn(c.op, c.call);
        TraceCapture trace;
        {
            CPrinter printer(trace.log(), L"P", 1, 0);
            const bool available = c.devmode && c.info2 && c.driver;
            EXPECT_EQ(printer.bAvailable, available ? 1u : 0u);
            EXPECT_EQ(printer.pDefDM != nullptr, c.devmode);
            EXPECT_EQ(printer.pPI2 != nullptr, c.info2);
            EXPECT_EQ(printer.pDriverInfo != nullptr, c.driver);
            // The name, comment and location come from the level-2 information only when it was read.
            EXPECT_EQ(printer.strComment, c.info2 ? L"fake printer" : L"");
        }
        const auto lines = trace.Lines();
        EXPECT_TRUE(Contains(lines, c.line));
        EXPECT_TRUE(Contains(lines, "CPrinter::InitializeInfo => finished"));
        EXPECT_EQ(lines.back(), "~CPrinter => deleted");
        EXPECT_EQ(fake.Count(Op::ClosePrinter), c.closes);
        if (c.op != Op::ClosePrinter) EXPECT_EQ(fake.OpenPrinterHandles(), 0);
        // After a fault nothing further is asked of the printer.
        if (c.op == Op::DocumentProperties || c.op == Op::GetPrinter) EXPECT_EQ(fake.Count(Op::GetPrinterDriver), 0);
    }
}

// ------------------------------------------------------------ cache method

// Creates registry keys for a test and removes what it created.
class RegistryScope {
public:
    ~RegistryScope() {
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) ::SHDeleteKeyW(it->first, it->second.c_str());
        for (const auto& v : values_) {
            HKEY key = nullptr;
            if (::RegOpenKeyExW(v.root, v.path.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                ::RegDeleteValueW(key, v.name.c_str());
                ::RegCloseKey(key);
            }
        }
    }
    static bool Exists(HKEY root, const std::wstring& path) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
        ::RegCloseKey(key);
        return true;
    }
    static bool HasValue(HKEY root, const std::wstring& path, const WCHAR* name) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
        const bool has = ::RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        ::RegCloseKey(key);
        return has;
    }
    // Makes sure the key exists; remembers the outermost key this scope
    // created (parents included) for removal.
    void Key(HKEY root, const std::wstring& path) {
        if (Exists(root, path)) return;
        std::wstring outermost = path;
        for (size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
            if (!Exists(root, path.substr(0, at))) {
                outermost = path.substr(0, at);
                break;
            }
        }
        HKEY key = nullptr;
        DWORD disposition = 0;
        ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
        created_.emplace_back(root, outermost);
    }
    void Dword(HKEY root, const std::wstring& path, const WCHAR* name, DWORD value) {
        Key(root, path);
        HKEY key = nullptr;
        ASSERT_EQ(::RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
        values_.push_back({root, path, name});
    }

private:
    struct Value {
        HKEY root;
        std::wstring path;
        std::wstring name;
    };
    std::vector<std::pair<HKEY, std::wstring>> created_;
    std::vector<Value> values_;
};

TEST(PrinterObjectCacheMethod, MachineValueTwoSwitchesCachingOff) {
    ASSERT_FALSE(RegistryScope::HasValue(HKEY_LOCAL_MACHINE, kPrintersKey, L"CacheMethod"));
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    RegistryScope registry;
    registry.Dword(HKEY_LOCAL_MACHINE, kPrintersKey, L"CacheMethod", 2);
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);
    EXPECT_EQ(printer.dwCacheMethod, 2u);
    const auto lines = trace.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "CPrinter::CPrinter => not using caching!");
}

TEST(PrinterObjectCacheMethod, UserValueIsIgnoredWhileTheMachineKeyExists) {
    ASSERT_FALSE(RegistryScope::HasValue(HKEY_LOCAL_MACHINE, kPrintersKey, L"CacheMethod"));
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    RegistryScope registry;
    registry.Key(HKEY_LOCAL_MACHINE, kPrintersKey);
    registry.Dword(HKEY_CURRENT_USER, kPrintersKey, L"CacheMethod", 2);
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);
    EXPECT_EQ(printer.dwCacheMethod, 1u);
    EXPECT_FALSE(Contains(trace.Lines(), "CPrinter::CPrinter => not using caching!"));
}

TEST(PrinterObjectCacheMethod, UserValueCountsWhenTheMachineKeyIsMissing) {
    if (RegistryScope::Exists(HKEY_LOCAL_MACHINE, kPrintersKey))
        GTEST_SKIP() << "the machine Printers key exists in this prefix";
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    RegistryScope registry;
    registry.Dword(HKEY_CURRENT_USER, kPrintersKey, L"CacheMethod", 4);
    CPrinter printer(nullptr, L"P", 1, 0);
    EXPECT_EQ(printer.dwCacheMethod, 4u);
}

TEST(PrinterObjectCacheMethod, NoValueKeepsTheDefault) {
    ASSERT_FALSE(RegistryScope::HasValue(HKEY_LOCAL_MACHINE, kPrintersKey, L"CacheMethod"));
    ASSERT_FALSE(RegistryScope::HasValue(HKEY_CURRENT_USER, kPrintersKey, L"CacheMethod"));
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    CPrinter printer(nullptr, L"P", 3, 7);
    EXPECT_EQ(printer.dwCacheMethod, 3u);
    EXPECT_EQ(printer.dwNotifyId, 7u);
}

// ------------------------------------------------------------ default DEVMODEs

TEST(PrinterObjectDefaultDevmode, GlobalAndUserDefaultsAreCopied) {
    FakePrintSystem fake;
    fake::FakePrinter& p = fake.AddPrinter(L"P");
    p.globalDevmode = fake::MakeDevmode(L"P", 32);
    fake::AsDevmode(p.globalDevmode)->dmCopies = 3;
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);

    DEVMODEW* global = printer.GetGlobalDefaultDM();
    ASSERT_NE(global, nullptr);
    EXPECT_EQ(global->dmCopies, 3);
    EXPECT_EQ(0, std::memcmp(global, p.globalDevmode.data(), p.globalDevmode.size()));
    platform::HeapFreeBlock(global);
    EXPECT_EQ(printer.GetUserDefaultDM(), nullptr);  // no per-user default
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
    const auto lines = trace.Lines();
    EXPECT_TRUE(Contains(lines, "CPrinter::GetGlobalDefaultDM => getting printer info 8"));
    EXPECT_TRUE(Contains(lines, "CPrinter::GetUserDefaultDM => getting printer info 9"));
}

TEST(PrinterObjectDefaultDevmode, SettersStoreTheDevmode) {
    FakePrintSystem fake;
    fake::FakePrinter& p = fake.AddPrinter(L"P");
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);
    std::vector<BYTE> dm = fake::MakeDevmode(L"P", 16);
    fake::AsDevmode(dm)->dmOrientation = DMORIENT_LANDSCAPE;

    printer.SetUserDefaultDM(fake::AsDevmode(dm));
    EXPECT_EQ(p.userDevmode, dm);
    fake::AsDevmode(dm)->dmCopies = 5;
    printer.SetGlobalDefaultDM(fake::AsDevmode(dm));
    EXPECT_EQ(p.globalDevmode, dm);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
    EXPECT_TRUE(Contains(trace.Lines(), "CPrinter::SetUserDefaultDM => setting printer info 9"));

    DEVMODEW* back = printer.GetUserDefaultDM();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->dmOrientation, DMORIENT_LANDSCAPE);
    platform::HeapFreeBlock(back);
}

TEST(PrinterObjectDefaultDevmode, FailuresAndFaultsAreTraced) {
    FakePrintSystem fake;
    fake::FakePrinter& p = fake.AddPrinter(L"P");
    p.userDevmode = fake::MakeDevmode(L"P");
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);
    std::vector<BYTE> dm = fake::MakeDevmode(L"P");

    fake.FailOn(Op::SetPrinter, 1, ERROR_ACCESS_DENIED);
    printer.SetUserDefaultDM(fake::AsDevmode(dm));
    fake.FaultOn(Op::SetPrinter, 2);
    printer.SetUserDefaultDM(fake::AsDevmode(dm));
    const int gets = fake.Count(Op::GetPrinter);
    fake.FaultOn(Op::GetPrinter, gets + 1);
    EXPECT_EQ(printer.GetUserDefaultDM(), nullptr);
    fake.FaultOn(Op::GetPrinter, gets + 3);  // the fetch, after the size request
    EXPECT_EQ(printer.GetGlobalDefaultDM(), nullptr);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);

    const auto lines = trace.Lines();
    EXPECT_TRUE(Contains(lines, "CPrinter::SetUserDefaultDM => failed to set printer info 9"));
    EXPECT_TRUE(Contains(lines, "CPrinter::SetUserDefaultDM => exception occurred during SetPrinter"));
    // The information look-up catches faults of GetPrinterW itself.
    EXPECT_EQ(trace.LinesStartingWith("vlibPRINT_GetPrinterInfo => exception occurred during GetPrinter").size(), 2u);

    // An unknown printer: nothing is read or written.
    CPrinter unknown(nullptr, L"Nobody", 1, 0);
    EXPECT_EQ(unknown.GetGlobalDefaultDM(), nullptr);
    unknown.SetUserDefaultDM(fake::AsDevmode(dm));
    EXPECT_EQ(fake.Count(Op::SetPrinter), 2);
}

// ------------------------------------------------------------ information refresh

TEST(PrinterObjectInfo, UpdateReadsAgainOnlyWhenMarked) {
    FakePrintSystem fake;
    fake::FakePrinter& p = fake.AddPrinter(L"P");
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);
    p.comment = L"moved";
    p.location = L"basement";

    const int opens = fake.Count(Op::OpenPrinter);
    printer.UpdatePrinterInfo();
    EXPECT_EQ(fake.Count(Op::OpenPrinter), opens);
    EXPECT_EQ(printer.strComment, L"fake printer");

    printer.bInfoChanged = 1;
    printer.UpdatePrinterInfo();
    EXPECT_EQ(printer.bInfoChanged, 0u);
    EXPECT_EQ(printer.strComment, L"moved");
    EXPECT_EQ(printer.strLocation, L"basement");
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);

    // A printer that went away: the flag is cleared all the same.
    p.openable = false;
    printer.bInfoChanged = 1;
    printer.UpdatePrinterInfo();
    EXPECT_EQ(printer.bInfoChanged, 0u);
    EXPECT_EQ(printer.strComment, L"moved");
}

// ------------------------------------------------------------ capability set

// A small packed record: two papers, one bin, forms for both at 300 dpi.
std::vector<BYTE> SmallRecord() {
    QueryBuffers b{};
    b.bFilled = 1;
    b.dwCopies = 9;
    b.dwAnsiOnly = 1;
    b.pLowLevel = platform::HeapAllocZeroAs<LowLevelCaps>(sizeof(LowLevelCaps));
    b.pLowLevel->Technology = DT_RASPRINTER;
    b.pResolutions = platform::HeapAllocZeroAs<ResolutionPair>(8);
    b.pResolutions[0] = {300, 300};
    b.dwNumResolutions = 1;
    b.dwSizeOfResolutions = 8;
    b.pForms = platform::HeapAllocZeroAs<FormEntry>(2 * sizeof(FormEntry));
    b.pForms[0].paprI = DMPAPER_LETTER;
    b.pForms[1].paprI = DMPAPER_A4;
    b.dwNumForms = 2;
    b.dwSizeOfForms = 2 * sizeof(FormEntry);
    const DWORD paperBytes = 40 + 2 * 2 + 2 * 128 + 2 * 8;
    b.pPapers = platform::HeapAllocZeroAs<PaperBuffer>(paperBytes);
    *b.pPapers = {paperBytes, 2, 4, 40, 2, 256, 44, 2, 16, 300};
    auto* ids = reinterpret_cast<WORD*>(reinterpret_cast<BYTE*>(b.pPapers) + 40);
    ids[0] = DMPAPER_LETTER;
    ids[1] = DMPAPER_A4;
    caps4* record = vlibPRINT_PackCaps4(&b);
    std::vector<BYTE> bytes(reinterpret_cast<BYTE*>(record), reinterpret_cast<BYTE*>(record) + record->dwSize);
    platform::HeapFreeBlock(record);
    vlibPRINT_FreeQueryBuffers(&b);
    return bytes;
}

TEST(PrinterObjectCaps, UnpackPackAndClear) {
    FakePrintSystem fake;
    fake.AddPrinter(L"P");
    TraceCapture trace;
    CPrinter printer(trace.log(), L"P", 1, 0);
    EXPECT_EQ(printer.SerializeCaps4(), nullptr);  // nothing queried yet

    const std::vector<BYTE> record = SmallRecord();
    printer.DeserializeCaps4(reinterpret_cast<const caps4*>(record.data()), record.size());
    ASSERT_EQ(printer.queryBuffers.bFilled, 1u);
    EXPECT_EQ(printer.queryBuffers.dwCopies, 9u);
    EXPECT_EQ(printer.queryBuffers.pPapers->dwNumPapers, 2u);
    EXPECT_EQ(printer.queryBuffers.pLowLevel->Technology, DT_RASPRINTER);
    caps4* again = printer.SerializeCaps4();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(0, std::memcmp(again, record.data(), record.size()));
    platform::HeapFreeBlock(again);

    // A second load over the filled set: cleared first, and dwIgnoreLogPixels with it.
    printer.dwIgnoreLogPixels = 1;
    printer.DeserializeCaps4(reinterpret_cast<const caps4*>(record.data()));
    EXPECT_EQ(printer.dwIgnoreLogPixels, 0u);
    EXPECT_EQ(trace.LinesStartingWith("CPrinter::DeserializeCaps4 => query buffers already filled! clearing").size(), 1u);

    // A truncated copy is refused and the set stays as it was.
    printer.DeserializeCaps4(reinterpret_cast<const caps4*>(record.data()), record.size() - 1);
    EXPECT_EQ(printer.queryBuffers.bFilled, 1u);
    EXPECT_EQ(printer.queryBuffers.dwNumForms, 2u);

    printer.dwIgnoreLogPixels = 1;
    printer.ClearQueryBuffers();
    const QueryBuffers empty{};
    EXPECT_EQ(0, std::memcmp(&printer.queryBuffers, &empty, sizeof(empty)));
    EXPECT_EQ(printer.dwIgnoreLogPixels, 0u);
}

}  // namespace
