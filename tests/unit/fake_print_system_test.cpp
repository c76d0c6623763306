// The fake print system stands in for drivers in every other test: these
// checks keep its scripted behaviour honest.
#include <gtest/gtest.h>

#include "fake/fake_print_system.h"
#include "platform/guard.h"

namespace {

using fake::Op;

TEST(FakePrintSystem, EnumeratesWithTheTwoCallSizePattern) {
    fake::FakePrintSystem fake;
    fake.AddPrinter(L"Local One");
    fake.AddPrinter(L"Conn Two").connection = true;
    DWORD needed = 0, returned = 0;
    EXPECT_FALSE(platform::spooler.EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0,
                                                 &needed, &returned));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(platform::spooler.EnumPrintersW(PRINTER_ENUM_CONNECTIONS, nullptr, 2, buffer.data(), needed, &needed,
                                                &returned));
    ASSERT_EQ(returned, 1u);
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    EXPECT_STREQ(info->pPrinterName, L"Conn Two");
    // Strings and DEVMODEs lie inside the caller's buffer.
    EXPECT_TRUE(reinterpret_cast<BYTE*>(info->pDevMode) > buffer.data() &&
                reinterpret_cast<BYTE*>(info->pDevMode) < buffer.data() + needed);
    EXPECT_EQ(info->pDevMode->dmSpecVersion, 0x0401);
}

TEST(FakePrintSystem, ScriptsChangingCountsFaultsAndPageMetrics) {
    fake::FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    printer.Cap(DC_PAPERS).counts = {2, 1};  // the driver changes its mind on the second call
    EXPECT_EQ(platform::spooler.DeviceCapabilitiesW(L"P", L"FILE:", DC_PAPERS, nullptr, nullptr), 2);
    EXPECT_EQ(platform::spooler.DeviceCapabilitiesW(L"P", L"FILE:", DC_PAPERS, nullptr, nullptr), 1);
    WORD ids[2] = {0xFFFF, 0xFFFF};  // only as many entries as the last count are copied
    EXPECT_EQ(platform::spooler.DeviceCapabilitiesW(L"P", L"FILE:", DC_PAPERS, reinterpret_cast<LPWSTR>(ids), nullptr), 1);
    EXPECT_TRUE(ids[0] == DMPAPER_LETTER && ids[1] == 0xFFFF);

    fake.FaultOn(Op::OpenPrinter, 1);
    HANDLE handle = nullptr;
    EXPECT_FALSE(platform::Guarded([&] { platform::spooler.OpenPrinterW(const_cast<LPWSTR>(L"P"), &handle, nullptr); }));
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);

    printer.marginLeft = printer.marginTop = printer.marginRight = printer.marginBottom = 0;
    std::vector<BYTE> devmode = fake::MakeDevmode(L"P");
    DEVMODEW* dm = fake::AsDevmode(devmode);
    dm->dmPaperSize = DMPAPER_A4;
    dm->dmPrintQuality = dm->dmYResolution = 600;
    dm->dmOrientation = DMORIENT_LANDSCAPE;
    HDC dc = platform::gdi.CreateDCW(L"winprint", L"P", nullptr, dm);
    EXPECT_EQ(platform::gdi.GetDeviceCaps(dc, PHYSICALWIDTH), 2970 * 600 / 254);  // landscape swaps
    EXPECT_EQ(platform::gdi.GetDeviceCaps(dc, HORZSIZE), 296);
    EXPECT_EQ(platform::gdi.GetDeviceCaps(dc, ASPECTXY), 848);
    EXPECT_EQ(fake.OpenDCs(), 1);
    platform::gdi.DeleteDC(dc);
    EXPECT_EQ(fake.OpenDCs(), 0);
}

TEST(FakePrintSystem, ValidatesChangedDevmodes) {
    fake::FakePrintSystem fake;
    fake.AddPrinter(L"P");
    HANDLE handle = nullptr;
    ASSERT_TRUE(platform::spooler.OpenPrinterW(const_cast<LPWSTR>(L"P"), &handle, nullptr));
    std::vector<BYTE> in(sizeof(DEVMODEW) + 64), out(in.size());
    ASSERT_EQ(platform::spooler.DocumentPropertiesW(nullptr, handle, nullptr, nullptr, nullptr, 0), LONG(in.size()));
    platform::spooler.DocumentPropertiesW(nullptr, handle, nullptr, fake::AsDevmode(in), nullptr, DM_OUT_BUFFER);
    fake::AsDevmode(in)->dmPrintQuality = -3;
    platform::spooler.DocumentPropertiesW(nullptr, handle, nullptr, fake::AsDevmode(out), fake::AsDevmode(in),
                                          DM_IN_BUFFER | DM_OUT_BUFFER);
    EXPECT_EQ(fake::AsDevmode(out)->dmPrintQuality, -3);
    EXPECT_EQ(fake.calls().back().quality, -3);

    EXPECT_TRUE(platform::spooler.ClosePrinter(handle));
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

}  // namespace
