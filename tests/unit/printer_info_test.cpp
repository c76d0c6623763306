// Printer info records: the three layouts to the byte, the DEVMODE area,
// the conversions, the registry list and the dumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "print/form_matching.h"
#include "printer_fixture.h"
#include "records/printer_info_dump.h"
#include "records/printer_info_registry.h"

namespace {

using namespace printer_test;
using testsupport::Narrow;
using testsupport::PrinterKeyPath;

// A record's bytes; the block is freed.
template <class R>
std::string Take(R* record) {
    std::string bytes = record ? std::string(reinterpret_cast<const char*>(record), record->dwSize) : std::string();
    platform::HeapFreeBlock(record);
    return bytes;
}
DWORD At(const std::string& bytes, size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}
void Put(std::string& bytes, size_t offset, const void* data, size_t size) { std::memcpy(bytes.data() + offset, data, size); }
void PutDword(std::string& bytes, size_t offset, DWORD value) { Put(bytes, offset, &value, 4); }
void PutText(std::string& bytes, size_t offset, const std::wstring& text) { Put(bytes, offset, text.c_str(), text.size() * 2); }
template <class R>
const R* As(const std::string& bytes) { return reinterpret_cast<const R*>(bytes.data()); }

std::string Create(CPrinter& printer, DWORD version) {
    return version == 400 ? Take(printer.CreateKVPrinterInfo400W())
           : version == 401 ? Take(printer.CreateKVPrinterInfo401W()) : Take(printer.CreateKVPrinterInfo402W());
}

class InfoRecords : public ::testing::Test {
protected:
    Env env;
    fake::FakePrinter& office = env.fake.AddPrinter(L"Office");
    // A queried printer object (nothing cached).
    std::unique_ptr<CPrinter> Queried(const std::wstring& name = L"Office") {
        auto printer = std::make_unique<CPrinter>(env.trace.log(), name, 2, 0);
        printer->Query(1, nullptr, nullptr);
        return printer;
    }
};

TEST_F(InfoRecords, LayoutsToTheByte) {
    office.comment = std::wstring(300, L'c');  // cut to the field's 259 characters
    office.attributes = 0x40 | 0x200;
    const DWORD options[] = {1, 1, 300, 2};
    const WCHAR* optionNames[] = {L"bSecondDialog", L"bPrintAsImage", L"dwPrintAsImageDPI", L"dwFontEmbed"};
    for (int i = 0; i < 4; ++i) env.registry.SetDword(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), optionNames[i], options[i]);
    auto printer = Queried();
    const std::string caps = Serialized(*printer);
    const struct {
        DWORD version;
        size_t header, strings, spooler, status, area, capsField;
    } layouts[] = {{400, 8608, 8, 0, 4688, 4692, 8600}, {401, 8632, 12, 4692, 4712, 4716, 8624}, {402, 8648, 12, 4692, 4712, 4716, 8624}};
    for (const auto& l : layouts) {
        SCOPED_TRACE(l.version);
        const std::string record = Create(*printer, l.version);
        ASSERT_EQ(record.size(), l.header + caps.size());
        std::string expected(record.size(), '\0');
        PutDword(expected, 0, static_cast<DWORD>(record.size()));
        if (l.version != 400) PutDword(expected, 4, l.version);
        const std::wstring strings[9] = {L"Office", L"", L"", L"Office", L"", L"FILE:", L"Fake Laser Driver", std::wstring(259, L'c'), L"lab"};
        for (size_t i = 0; i < 9; ++i) PutText(expected, l.strings + i * 520, strings[i]);
        const DWORD spooler[5] = {0x240, 1, 1, 0, 0};  // Attributes, Priority, DefaultPriority, StartTime, UntilTime
        if (l.spooler) Put(expected, l.spooler, spooler, sizeof(spooler));
        Put(expected, l.area, record.data() + l.area, 3908);  // checked on its own below
        PutDword(expected, l.capsField, static_cast<DWORD>(l.header));
        PutDword(expected, l.capsField + 4, static_cast<DWORD>(caps.size()));
        if (l.version == 402) Put(expected, 8632, options, sizeof(options));
        Put(expected, l.header, caps.data(), caps.size());
        EXPECT_EQ(std::mismatch(record.begin(), record.end(), expected.begin()).first - record.begin(),
                  static_cast<long>(record.size())) << "the first difference";
    }
}

TEST_F(InfoRecords, DevmodeAreaCopiesThePrinterFieldsAndFixesTheResolution) {
    DEVMODEW* def = fake::AsDevmode(office.devmode);
    // dmPosition and dmDisplayOrientation share their place with the paper fields, scale and copies.
    def->dmFields |= DM_POSITION | DM_DISPLAYORIENTATION | DM_NUP | DM_MEDIATYPE;
    def->dmFields &= ~(DM_ORIENTATION | DM_PAPERSIZE | DM_SCALE | DM_COPIES);
    def->dmPosition = {0x1111, 0x2222};
    def->dmDisplayOrientation = 0x3333;
    def->dmNup = 2, def->dmMediaType = 5, def->dmColor = DMCOLOR_COLOR;
    def->dmPrintQuality = 600, def->dmYResolution = 600;
    std::memcpy(def->dmFormName, L"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", 32 * sizeof(WCHAR));  // no terminator
    auto printer = Queried();
    const std::string record = Create(*printer, 401);
    const PRIVATE_DEVMODEW& area = As<KVPrinterInfo401>(record)->DevMode;
    const caps4* caps = reinterpret_cast<const caps4*>(record.data() + 8632);
    const auto list = [&](DWORD offset) { return reinterpret_cast<const ResolutionPair*>(record.data() + 8632 + offset); };
    DEVMODEW resolved = *def;
    const LONG r = vlibPRINT_GetResolutionIndex(def, &resolved, caps->dwIndexedResolutionsOnly, caps->dwNumResolutions,
                                                list(caps->dwOffsetToResolutions), caps->dwNumResolutionsIndexed,
                                                list(caps->dwOffsetToResolutionsIndexed), nullptr);
    EXPECT_EQ(r, 1);  // 600 x 600 of the fake's 300 / 600 list
    EXPECT_TRUE(area.dm.dmPrintQuality == resolved.dmPrintQuality && area.dm.dmYResolution == resolved.dmYResolution);
    EXPECT_EQ(area.dm.dmFields, resolved.dmFields);  // the default's bits, DM_POSITION and DM_DISPLAYORIENTATION too
    EXPECT_TRUE(area.dm.dmPosition.x == 0 && area.dm.dmPosition.y == 0 && area.dm.dmDisplayOrientation == 0);
    EXPECT_TRUE(area.dm.dmNup == 2 && area.dm.dmMediaType == 5 && area.dm.dmColor == DMCOLOR_COLOR);
    EXPECT_EQ(std::wstring(area.dm.dmFormName), L"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
    EXPECT_TRUE(area.dm.dmSpecVersion == 0x401 && area.dm.dmDriverVersion == 0x500 && area.dm.dmSize == 220 &&
                area.dm.dmDriverExtra == 3688 && area.dm.dmDeviceName[0] == 0 && IsPrivateDM4W(&area) && area.dwFlags == 0);

    // A field beyond the default's dmSize is driver data, not the field.
    def->dmSize = offsetof(DEVMODEW, dmICMMethod);
    EXPECT_EQ(As<KVPrinterInfo401>(Create(*Queried(), 401))->DevMode.dm.dmMediaType, 0u);

    // Without a default DEVMODE: no field, the fixed header all the same.
    office.devmode.clear();
    auto bare = Queried();
    for (DWORD version : {400u, 401u, 402u}) {
        env.trace.Mark();
        const std::string without = Create(*bare, version);
        const PRIVATE_DEVMODEW& a = version == 400 ? As<KVPrinterInfo400>(without)->DevMode : As<KVPrinterInfo401>(without)->DevMode;
        EXPECT_TRUE(a.dm.dmFields == 0 && a.dm.dmSize == 220 && a.dm.dmDriverExtra == 3688 && IsPrivateDM4W(&a));
        EXPECT_TRUE(Has(env.trace.Since(), version == 402 ? "KVPrinter::CreateKVPrinterInfo402W => default devmode in null"
                                                          : "KVPrinter::CreateKVPrinterInfo4W => default devmode in nully"));
    }
    CPrinter unqueried(env.trace.log(), L"Office", 2, 0);
    EXPECT_EQ(unqueried.CreateKVPrinterInfo402W(), nullptr);
    EXPECT_TRUE(Has(env.trace.All(), "KVPrinter::CreateKVPrinterInfo402W => don't have caps4!"));
}

TEST_F(InfoRecords, ConversionsMoveTheNamesAndZeroWhatTheOlderRecordLacks) {
    auto printer = Queried();
    std::string r400 = Create(*printer, 400), r401 = Create(*printer, 401);
    PutDword(r400, 4688, 7);  // a Status to carry over
    const std::string c401 = Take(vlibPRINT_ConvertKVPI400to401(As<KVPrinterInfo400>(r400)));
    ASSERT_EQ(c401.size(), r400.size() + 24);
    EXPECT_TRUE(At(c401, 4) == 401 && At(c401, 8) == 0 && At(c401, 4712) == 7 && At(c401, 8624) == 8632);
    EXPECT_TRUE(c401.substr(12, 4680) == r400.substr(8, 4680));                       // the nine names
    EXPECT_EQ(c401.substr(4692, 20), std::string(20, '\0'));                         // Attributes .. UntilTime
    EXPECT_TRUE(c401.substr(4716, 3908) == r400.substr(4692, 3908));                 // DEVMODE area
    EXPECT_TRUE(At(c401, 8628) == At(r400, 8604) && c401.substr(8632) == r400.substr(8608));

    const std::string c402 = Take(vlibPRINT_ConvertKVPI401to402(As<KVPrinterInfo401>(r401)));
    ASSERT_EQ(c402.size(), r401.size() + 16);
    EXPECT_EQ(At(c402, 4), 402u);
    EXPECT_TRUE(c402.substr(8, 8616) == r401.substr(8, 8616));  // dwIsDefault .. DEVMODE area
    EXPECT_EQ(c402.substr(8632, 16), std::string(16, '\0'));
    EXPECT_TRUE(c402.substr(8648) == r401.substr(8632));
    const std::string direct = Take(vlibPRINT_ConvertKVPI400to402(As<KVPrinterInfo400>(r400)));
    EXPECT_TRUE(direct == Take(vlibPRINT_ConvertKVPI401to402(As<KVPrinterInfo401>(c401))));

    env.trace.Mark();
    EXPECT_EQ(vlibPRINT_ConvertKVPI400to401(nullptr), nullptr);
    PutDword(r400, 8600, static_cast<DWORD>(r400.size()) - 2);  // a capability record reaching past the record
    EXPECT_EQ(vlibPRINT_ConvertKVPI400to402(As<KVPrinterInfo400>(r400)), nullptr);
    EXPECT_EQ(CountOf(env.trace.Since(), "vlibPRINT_ConvertKVPI400to401 => invalid param") +
                  CountOf(env.trace.Since(), "vlibPRINT_ConvertKVPI400to402 => invalid param"), 2);
}

TEST_F(InfoRecords, RegistryListStoresUnderRegistrySafeKeysAndReadsBack) {
    env.fake.AddPrinter(L"\\\\srv\\Laser");
    const std::string office402 = Create(*Queried(), 402), laser402 = Create(*Queried(L"\\\\srv\\Laser"), 402);
    const std::string both = office402 + laser402;
    const auto* records = As<KVPrinterInfo401>(both);
    ASSERT_TRUE(vlibPRINT_SetKVPrinterInfo(16, 3, 9, 2, records, L"", L"tester"));
    const std::wstring laserKey = PrinterKeyPath(L",,srv,Laser");
    std::string value;
    for (const auto& [name, expected] : {std::pair{L"PrinterData4", laser402}, {L"Type", std::string("\x10\0\0\0", 4)},
                                         {L"Session", std::string("\3\0\0\0", 4)}, {L"Connection", std::string("\x9\0\0\0", 4)},
                                         {L"UserName", std::string("t\0e\0s\0t\0e\0r\0\0\0", 14)}}) {
        EXPECT_TRUE(env.registry.Read(HKEY_LOCAL_MACHINE, laserKey, name, &value) && value == expected) << Narrow(name);
    }
    EXPECT_FALSE(env.registry.KeyExists(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"srv")));
    // Another type: no "Connection"; another key path.
    ASSERT_TRUE(vlibPRINT_SetKVPrinterInfo(5, 3, 9, 1, records, L"SOFTWARE\\Vantrel\\Other", L""));
    EXPECT_TRUE(env.registry.Read(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel\\Other\\Office", L"Type"));
    EXPECT_FALSE(env.registry.Read(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel\\Other\\Office", L"Connection"));
    EXPECT_FALSE(vlibPRINT_SetKVPrinterInfo(16, 3, 9, 1, nullptr, L"", L""));

    env.trace.Mark();
    EXPECT_TRUE(Take(vlibPRINT_GetKVPrinterInfo(nullptr, L"\\\\srv\\Laser")) == laser402);
    EXPECT_TRUE(InOrder(env.trace.Since(), {"vlibPRINT_GetKVPrinterInfo => invalid handle, trying with printer name",
                                            "vlibPRINT_LoadKVPrinterInfoFromRegistry => loaded!",
                                            "vlibPRINT_LogKVPI4 => szPrinterName:  \\\\srv\\Laser\r",
                                            "vlibPRINT_GetKVPrinterInfo => successfull, returning buffer"}));
    HANDLE handle = nullptr;
    ASSERT_TRUE(platform::spooler.OpenPrinterW(const_cast<LPWSTR>(L"Office"), &handle, nullptr));
    EXPECT_TRUE(Take(vlibPRINT_GetKVPrinterInfo(handle, L"")) == office402);
    platform::spooler.ClosePrinter(handle);

    env.trace.Mark();
    EXPECT_EQ(vlibPRINT_GetKVPrinterInfo(nullptr, L"Nobody"), nullptr);
    EXPECT_TRUE(Has(env.trace.Since(), "vlibPRINT_LoadKVPrinterInfoFromRegistry => couldn't open printer key"));
    // A value shorter than a record, or whose dwSize is not its length, is refused.
    for (const std::string& damaged : {office402.substr(0, 100), office402.substr(0, office402.size() - 1)}) {
        env.registry.SetBinary(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"PrinterData4", damaged.data(), DWORD(damaged.size()));
        EXPECT_EQ(vlibPRINT_LoadKVPrinterInfoFromRegistry(L"Office"), nullptr);
    }
}

TEST_F(InfoRecords, DumpsWalkTheFieldsWithinTheRecord) {
    const std::string record = Create(*Queried(), 402);
    KVPrinterInfo2* generic = vlibPRINT_GetKVPrinterInfoGeneric();
    ASSERT_TRUE(generic && generic->dwSize == 6512 && generic->dwIsDefault == 1);
    env.trace.Mark();
    vlibPRINT_LogKVPI4(env.trace.log(), As<KVPrinterInfo401>(record));
    vlibPRINT_LogKVPI2(env.trace.log(), generic);
    vlibPRINT_LogKVPI4(env.trace.log(), As<KVPrinterInfo401>(record), 8000);  // a cut copy: no field read
    platform::HeapFreeBlock(generic);
    const std::string banner4 = "vlibPRINT_LogKVPI4 => ***************************************";
    const std::string banner2 = "vlibPRINT_LogKVPI2 => ***************************************";
    EXPECT_TRUE(InOrder(env.trace.Since(), {
        banner4, "vlibPRINT_LogKVPI4 => dwSize: " + std::to_string(record.size()), "vlibPRINT_LogKVPI4 => dwIsDefault: 0",
        "vlibPRINT_LogKVPI4 => szNativePrinterName:  Office\r", "vlibPRINT_LogKVPI4 => szPortName:  FILE:\r",
        "vlibPRINT_LogKVPI4 => Attributes: 64", "vlibPRINT_LogKVPI4 => Status: 0", "LogDM => dwSignatureStart:  1983136845",
        "Printer Capabilities", "vlibPRINT_LogKVPI4 => bSecondDialog: 0", "vlibPRINT_LogKVPI4 => dwFontEmbed: 0", banner4,
        banner2, "vlibPRINT_LogKVPI2 => dwSize: 6512", "vlibPRINT_LogKVPI2 => dwIsDefault: 1",
        "vlibPRINT_LogKVPI2 => no capability record inside the record", banner2,
        banner4, "vlibPRINT_LogKVPI4 => record of 8000 bytes is shorter than its header, not listed", banner4}));
}

}  // namespace
