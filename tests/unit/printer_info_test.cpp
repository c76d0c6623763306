// Printer info records: the three layouts to the byte with their DEVMODE
// area, the conversions, the registry list and the dumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "printer_fixture.h"
#include "records/printer_info_dump.h"
#include "records/printer_info_registry.h"
#include "support/heap_counter.h"
#include "support/info_records.h"

namespace {

using namespace printer_test;
using namespace testsupport;

void Put(std::string& bytes, size_t offset, const void* data, size_t size) { std::memcpy(bytes.data() + offset, data, size); }

std::string Create(CPrinter& printer, DWORD version) {
    return version == 400 ? Take(printer.CreateKVPrinterInfo400W())
           : version == 401 ? Take(printer.CreateKVPrinterInfo401W()) : Take(printer.CreateKVPrinterInfo402W());
}

class InfoRecords : public ::testing::Test {
protected:
    Env env;
    fake::FakePrinter& office = env.fake.AddPrinter(L"Office");
    // A queried printer object (nothing cached).
    std::unique_ptr<CPrinter> Queried(const std::wstring& name = L"Office") { return env.Queried(name, 2); }
};

TEST_F(InfoRecords, LayoutsToTheByteAndTheirConversions) {
    office.comment = std::wstring(300, L'c');  // cut to the field's 259 characters
    office.attributes = 0x240;
    const DWORD options[] = {1, 3, 300, 2};
    for (const auto& [name, value] : {std::pair{L"bSecondDialog", 1}, {L"bPrintAsImage", 3}, {L"dwPrintAsImageDPI", 300}, {L"dwFontEmbed", 2}})
        env.registry.SetDword(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), name, value);
    // dmPosition and dmDisplayOrientation share their place with the paper fields, scale and copies.
    DEVMODEW* def = fake::AsDevmode(office.devmode);
    def->dmFields = (def->dmFields | DM_POSITION | DM_DISPLAYORIENTATION | DM_NUP | DM_MEDIATYPE) & ~(DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES);
    def->dmPosition = {0x1111, 0x2222}, def->dmDisplayOrientation = 0x3333;
    def->dmNup = 2, def->dmMediaType = 5, def->dmPrintQuality = 600, def->dmYResolution = 300;
    std::memcpy(def->dmFormName, L"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", 32 * sizeof(WCHAR));  // no terminator
    env.fake.AddPrinter(L"Bare").devmode.clear();
    auto printer = Queried(), bare = Queried(L"Bare");
    printer->pPI2->Status = 7;  // a Status of its own, carried into every layout
    const std::string caps = Serialized(*printer);
    const struct { DWORD version; size_t header, strings, spoolerValues, area, capsField; } layouts[] = {
        {400, 8608, 8, 1, 4692, 8600}, {401, 8632, 12, 6, 4716, 8624}, {402, 8648, 12, 6, 4716, 8624}};
    std::string records[3];
    for (const auto& l : layouts) {
        SCOPED_TRACE(l.version);
        HeapCounter heap;
        const std::string& record = records[l.version - 400] = Create(*printer, l.version);
        EXPECT_EQ(heap.Live(), 0);  // the capability record packed for it goes back too
        {
            HeapCounter noRoom(1);  // room for the capability record alone: no info record, nothing kept
            EXPECT_TRUE(Create(*printer, l.version).empty() && noRoom.Live() == 0) << noRoom.Live();
        }
        ASSERT_EQ(record.size(), l.header + caps.size());
        std::string expected(record.size(), '\0');
        PutAt<DWORD>(expected, 0, static_cast<DWORD>(record.size()));
        if (l.version != 400) PutAt<DWORD>(expected, 4, l.version);
        const std::wstring strings[9] = {L"Office", L"", L"", L"Office", L"", L"FILE:", L"Fake Laser Driver", std::wstring(259, L'c'), L"lab"};
        for (size_t i = 0; i < 9; ++i) Put(expected, l.strings + i * 520, strings[i].c_str(), strings[i].size() * 2);
        const DWORD spooler[6] = {0x240, 1, 2, 60, 1380, 7};  // Attributes, Priority, DefaultPriority, StartTime, UntilTime, Status
        Put(expected, l.area - 4 * l.spoolerValues, spooler + 6 - l.spoolerValues, 4 * l.spoolerValues);  // before the DEVMODE area
        Put(expected, l.area, record.data() + l.area, 3908);  // checked below
        PutAt<DWORD>(expected, l.capsField, static_cast<DWORD>(l.header));
        PutAt<DWORD>(expected, l.capsField + 4, static_cast<DWORD>(caps.size()));
        if (l.version == 402) Put(expected, 8632, options, sizeof(options));
        Put(expected, l.header, caps.data(), caps.size());
        EXPECT_EQ(std::mismatch(record.begin(), record.end(), expected.begin()).first - record.begin(),
                  static_cast<long>(record.size())) << "the first difference";

        // Without a default DEVMODE: no field, the fixed header all the same.
        env.trace.Mark();
        const std::string without = Create(*bare, l.version);
        const auto* a = reinterpret_cast<const PRIVATE_DEVMODEW*>(without.data() + l.area);
        EXPECT_TRUE(a->dm.dmFields == 0 && a->dm.dmSize == 220 && a->dm.dmDriverExtra == 3688 && IsPrivateDM4W(a));
        EXPECT_TRUE(Has(env.trace.Since(), l.version == 402 ? "KVPrinter::CreateKVPrinterInfo402W => default devmode in null"
                                                            : "KVPrinter::CreateKVPrinterInfo4W => default devmode in nully"));
    }
    // The DEVMODE area: the fixed header, the default's bits (DM_POSITION and DM_DISPLAYORIENTATION too) without
    // those two values, the form name cut to 31 characters, the resolution fixed against the record's lists.
    const PRIVATE_DEVMODEW& area = As<KVPrinterInfo402>(records[2])->DevMode;
    EXPECT_TRUE(area.dm.dmFields == def->dmFields && area.dm.dmPrintQuality == 600 && area.dm.dmYResolution == 600);
    EXPECT_TRUE(area.dm.dmDefaultSource == DMBIN_AUTO && area.dm.dmColor == DMCOLOR_MONOCHROME && area.dm.dmDuplex == DMDUP_SIMPLEX);
    // Zero position and display orientation: orientation, paper size, scale and copies, whose bits are cleared, stay 0 too.
    EXPECT_TRUE(area.dm.dmPosition.x == 0 && area.dm.dmPosition.y == 0 && area.dm.dmDisplayOrientation == 0 &&
                area.dm.dmNup == 2 && area.dm.dmMediaType == 5 && std::wstring(area.dm.dmFormName) == L"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
    EXPECT_TRUE(area.dm.dmSpecVersion == 0x401 && area.dm.dmDriverVersion == 0x500 && area.dm.dmSize == 220 &&
                area.dm.dmDriverExtra == 3688 && area.dm.dmDeviceName[0] == 0 && IsPrivateDM4W(&area) && area.dwFlags == 0);

    // Conversions: with a Status to carry over, what the older record lacks is 0.
    ExpectConversionsGiveTheDirectRecords(records[0], records[1], records[2]);
    env.trace.Mark();
    EXPECT_EQ(vlibPRINT_ConvertKVPI400to401(nullptr), nullptr);
    PutAt<DWORD>(records[0], 8600, static_cast<DWORD>(records[0].size()) - 2);  // a capability record reaching past the record
    EXPECT_EQ(vlibPRINT_ConvertKVPI400to402(As<KVPrinterInfo400>(records[0])), nullptr);
    EXPECT_TRUE(InOrder(env.trace.Since(), {"vlibPRINT_ConvertKVPI400to401 => invalid param", "vlibPRINT_ConvertKVPI400to402 => invalid param"}));
    PutAt<DWORD>(records[0], 8600, 8608), PutAt<DWORD>(records[0], 8608, 3);  // one that cannot hold its own size
    EXPECT_EQ(vlibPRINT_ConvertKVPI400to401(As<KVPrinterInfo400>(records[0])), nullptr);

    EXPECT_EQ(CPrinter(env.trace.log(), L"Office", 2, 0).CreateKVPrinterInfo402W(), nullptr);  // not queried
    EXPECT_TRUE(Has(env.trace.Lines(), "KVPrinter::CreateKVPrinterInfo402W => don't have caps4!"));
}

// The block's count and sizes are the caller's: a record that is not whole and
// sound by its own dwSize ends the walk before anything of it is written, and
// a record without a printer name is skipped, not written into the list's key.
TEST_F(InfoRecords, StoringTheListChecksEachRecordBeforeWritingAnythingOfIt) {
    const std::string good = Create(*Queried(), 402), unnamed = std::string(good).replace(1572, 2, 2, '\0');
    ASSERT_TRUE(vlibPRINT_SetKVPrinterInfo(0, 1, 0, 3, As<KVPrinterInfo401>(unnamed + good + std::string(8, '\0')), L"", L"u"));
    std::string value;
    EXPECT_TRUE(env.registry.Read(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"PrinterData4", &value) && value == good);
    EXPECT_FALSE(env.registry.Read(HKEY_LOCAL_MACHINE, kPrintersKey, L"PrinterData4") ||
                 env.registry.Read(HKEY_LOCAL_MACHINE, kPrintersKey, L"Type"));
    const Lines lines = env.trace.Lines();
    EXPECT_TRUE(InOrder(lines, {"vlibPRINT_SetKVPrinterInfo => record 0 has no printer name, skipped",
                                "vlibPRINT_SetKVPrinterInfo => creating printer: Office",
                                "vlibPRINT_SetKVPrinterInfo => record 2 refused, stopping: its dwSize (0) cannot hold a record version"}));
    const DWORD size = static_cast<DWORD>(good.size());
    const struct { size_t offset; DWORD value; std::string why; } damages[] = {
        {0, 0xFFFFFFF0, "its capability record (" + std::to_string(size - 8648) + " bytes at 8648) does not lie behind the header and end the record (4294967280 bytes)"},
        {0, 8640, "its dwSize (8640) is shorter than the 8648-byte header of a 402 record"},
        {4, 400, "its version is 400, not 401 or 402"},
        {8624, 8644, "its capability record (" + std::to_string(size - 8648) + " bytes at 8644) does not lie behind the header and end the record (" + std::to_string(size) + " bytes)"},
        {8628, size - 8648 - 1, "its capability record (" + std::to_string(size - 8649) + " bytes at 8648) does not lie behind the header and end the record (" + std::to_string(size) + " bytes)"},
        {8648 + offsetof(caps4, dwEnd), 1, "its capability record is not sound: dwEnd is 1 instead of 0"}};
    for (const auto& d : damages) {
        std::string damaged = good;
        PutAt<DWORD>(damaged, d.offset, d.value);
        EXPECT_FALSE(vlibPRINT_SetKVPrinterInfo(0, 1, 0, 2, As<KVPrinterInfo401>(damaged + good), L"SOFTWARE\\Vantrel\\Damaged", L"u")) << d.why;
        EXPECT_TRUE(Has(env.trace.Lines(), "vlibPRINT_SetKVPrinterInfo => record 0 refused, stopping: " + d.why)) << d.why;
    }
    EXPECT_FALSE(env.registry.KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel\\Damaged\\Office"));
}

TEST_F(InfoRecords, RegistryListStoresUnderRegistrySafeKeysAndReadsBackAndTheDumps) {
    env.fake.AddPrinter(L"\\\\srv\\Laser").SetResolutions({{300, 300}, {600, 600}, {1200, 1200}});  // a longer record than Office's
    const std::string office402 = Create(*Queried(), 402), laser402 = Create(*Queried(L"\\\\srv\\Laser"), 402);
    const std::string both = office402 + laser402;  // two records back to back
    ASSERT_TRUE(vlibPRINT_SetKVPrinterInfo(16, 3, 9, 2, As<KVPrinterInfo401>(both), L"", L"tester"));
    std::string value;
    for (const auto& [name, expected] : {std::pair{L"PrinterData4", laser402}, {L"Type", std::string("\x10\0\0\0", 4)},
                                         {L"Session", std::string("\3\0\0\0", 4)}, {L"Connection", std::string("\x9\0\0\0", 4)},
                                         {L"UserName", std::string("t\0e\0s\0t\0e\0r\0\0\0", 14)}})
        EXPECT_TRUE(env.registry.Read(HKEY_LOCAL_MACHINE, PrinterKeyPath(L",,srv,Laser"), name, &value) && value == expected) << Narrow(name);
    EXPECT_FALSE(env.registry.KeyExists(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"srv")));
    // Another type: no "Connection"; another key path.
    ASSERT_TRUE(vlibPRINT_SetKVPrinterInfo(5, 3, 9, 1, As<KVPrinterInfo401>(both), L"SOFTWARE\\Vantrel\\Other", L""));
    EXPECT_TRUE(env.registry.Read(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel\\Other\\Office", L"Type", &value) &&
                value == std::string("\5\0\0\0", 4) && !env.registry.Read(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel\\Other\\Office", L"Connection"));
    EXPECT_FALSE(vlibPRINT_SetKVPrinterInfo(16, 3, 9, 1, nullptr, L"", L""));
    env.registry.DenyFullAccess(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel\\ReadOnly");  // a list key this user cannot write
    EXPECT_FALSE(vlibPRINT_SetKVPrinterInfo(16, 3, 9, 1, As<KVPrinterInfo401>(both), L"SOFTWARE\\Vantrel\\ReadOnly", L""));

    env.trace.Mark();
    EXPECT_TRUE(Take(vlibPRINT_GetKVPrinterInfo(nullptr, L"\\\\srv\\Laser")) == laser402);
    EXPECT_TRUE(InOrder(env.trace.Since(), {"vlibPRINT_GetKVPrinterInfo => invalid handle, trying with printer name",
                                            "vlibPRINT_LoadKVPrinterInfoFromRegistry => loaded!", "vlibPRINT_LogKVPI4 => szPrinterName:  \\\\srv\\Laser\r",
                                            "Printer Capabilities", "vlibPRINT_LogKVPI4 => bPrintAsImage: 0",
                                            "vlibPRINT_GetKVPrinterInfo => successfull, returning buffer"}));
    env.trace.Mark();
    EXPECT_EQ(vlibPRINT_GetKVPrinterInfo(nullptr, L"Nobody"), nullptr);
    EXPECT_TRUE(Has(env.trace.Since(), "vlibPRINT_LoadKVPrinterInfoFromRegistry => couldn't open printer key"));
    HANDLE handle = nullptr;  // a driver that faults while the handle's printer name is asked for: no record
    platform::spooler.OpenPrinterW(const_cast<LPWSTR>(L"Office"), &handle, nullptr);
    env.fake.FaultOn(fake::Op::GetPrinter, env.fake.Count(fake::Op::GetPrinter) + 1);
    EXPECT_EQ(vlibPRINT_GetKVPrinterInfo(handle, L"Office"), nullptr);
    platform::spooler.ClosePrinter(handle);
    // A value shorter than a record, or whose dwSize is not its length, is refused.
    for (const std::string& damaged : {office402.substr(0, 100), office402.substr(0, office402.size() - 1)}) {
        env.registry.SetBinary(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"PrinterData4", damaged.data(), DWORD(damaged.size()));
        EXPECT_EQ(vlibPRINT_LoadKVPrinterInfoFromRegistry(L"Office"), nullptr);
    }
    // The earlier record: only the generic empty one, and its dump (which shows its size and default mark).
    KVPrinterInfo2* generic = vlibPRINT_GetKVPrinterInfoGeneric();
    vlibPRINT_LogKVPI2(env.trace.log(), generic);
    platform::HeapFreeBlock(generic);
    EXPECT_TRUE(InOrder(env.trace.Lines(), {"vlibPRINT_LogKVPI2 => dwSize: 6512", "vlibPRINT_LogKVPI2 => dwIsDefault: 1",
                                          "vlibPRINT_LogKVPI2 => szNativePrinterName:  \r", "vlibPRINT_LogKVPI2 => Status: 0",
                                          "vlibPRINT_LogKVPI2 => no capability record inside the record"}));
    // No memory for the stored value: its line ends the look-up.
    testsupport::HeapCounter refusing(0);
    EXPECT_EQ(vlibPRINT_LoadKVPrinterInfoFromRegistry(L"Office"), nullptr);
    EXPECT_EQ(env.trace.Lines().back(), "vlibPRINT_LoadKVPrinterInfoFromRegistry => failed to allocate memory for info");
}

}  // namespace
