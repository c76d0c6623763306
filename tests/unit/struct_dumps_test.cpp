#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "print/struct_dumps.h"
#include "trace_capture.h"

namespace {

using testsupport::HexAddress;
using testsupport::TraceCapture;
using Lines = std::vector<std::string>;

const std::string kBanner = "LogDevmode => --------------------------";
// Every bit but DM_COLOR and DM_PANNINGHEIGHT, whose values print all the same.
constexpr DWORD kFields = 0x1FFFFFFF & ~DWORD(DM_COLOR | DM_PANNINGHEIGHT);

template <class DM>
DM Filled(WORD size) {
    DM dm;
    std::memset(&dm, 0, sizeof(dm));
    for (size_t i = 0; i < 12; ++i) dm.dmDeviceName[i] = "Office Laser"[i];  // either width
    for (size_t i = 0; i < 3; ++i) dm.dmFormName[i] = "A4"[i];
    dm.dmSpecVersion = 0x0401;
    dm.dmDriverVersion = 0xFFFE;  // the sizes, the version and dmLogPixels print unsigned
    dm.dmSize = size;
    dm.dmDriverExtra = 0x8001;
    dm.dmFields = kFields;
    dm.dmOrientation = 2, dm.dmPaperSize = 9, dm.dmPaperLength = 2970, dm.dmPaperWidth = 2100;
    dm.dmScale = 100, dm.dmCopies = 3, dm.dmDefaultSource = 7, dm.dmPrintQuality = -3, dm.dmColor = 2;
    dm.dmDuplex = 1, dm.dmYResolution = 600, dm.dmTTOption = 4, dm.dmCollate = 1, dm.dmLogPixels = 0xFFFF;
    dm.dmBitsPerPel = 24, dm.dmPelsWidth = 4960, dm.dmPelsHeight = 7016, dm.dmNup = 1, dm.dmDisplayFrequency = 60;
    dm.dmICMMethod = 2, dm.dmICMIntent = 3, dm.dmMediaType = 257, dm.dmDitherType = 4;
    dm.dmReserved1 = 11, dm.dmReserved2 = 12, dm.dmPanningWidth = 13, dm.dmPanningHeight = 14;
    return dm;
}

Lines Expected(const void* dm, WORD size, bool icm, bool panning) {
    Lines lines = {kBanner,
                   "LogDevmode => " + HexAddress(dm),
                   kBanner,
                   "LogDevmode => dmDeviceName:    Office Laser",
                   "LogDevmode => dmDriverVersion: 65534",
                   "LogDevmode => dmSize:          " + std::to_string(size),
                   "LogDevmode => dmDriverExtra:   32769",
                   "LogDevmode => dmFields:        " + std::to_string(kFields),
                   "LogDevmode => dmOrientation:   (1) 2",
                   "LogDevmode => dmPaperSize:     (1) 9",
                   "LogDevmode => dmPaperLength:   (1) 2970",
                   "LogDevmode => dmPaperWidth:    (1) 2100",
                   "LogDevmode => dmScale:         (1) 100",
                   "LogDevmode => dmCopies:        (1) 3",
                   "LogDevmode => dmDefaultSource: (1) 7",
                   "LogDevmode => dmPrintQuality:  (1) -3",
                   "LogDevmode => dmColor:         (0) 2",
                   "LogDevmode => dmDuplex:        (1) 1",
                   "LogDevmode => dmYResolution:   (1) 600",
                   "LogDevmode => dmTTOption:      (1) 4",
                   "LogDevmode => dmCollate:       (1) 1",
                   "LogDevmode => dmFormName:      (1) A4",
                   "LogDevmode => dmLogPixels:     (1) 65535",
                   "LogDevmode => dmBitsPerPel:    (1) 24",
                   "LogDevmode => dmPelsWidth:     (1) 4960",
                   "LogDevmode => dmPelsHeight:    (1) 7016",
                   "LogDevmode => dmNup:           (1) 1",
                   "LogDevmode => dmDisplayFrequency: (1) 60"};
    if (icm)
        lines.insert(lines.end(), {"LogDevmode => dmICMMethod:     (1) 2", "LogDevmode => dmICMIntent:     (1) 3",
                                   "LogDevmode => dmMediaType:     (1) 257", "LogDevmode => dmDitherType:    (1) 4",
                                   "LogDevmode => dmReserved1:     11", "LogDevmode => dmReserved2:     12"});
    if (panning)
        lines.insert(lines.end(), {"LogDevmode => dmPanningWidth:  (1) 13", "LogDevmode => dmPanningHeight: (0) 14"});
    lines.push_back(kBanner);
    return lines;
}

TEST(LogDevmode, WholeDumpFollowsDmSizeInBothWidths) {
    {
        TraceCapture capture;
        LogDevmode(static_cast<const DEVMODEW*>(nullptr), capture.log());
        LogDevmode(static_cast<const DEVMODEA*>(nullptr), capture.log());
        EXPECT_EQ(capture.Lines(), (Lines{kBanner, "LogDevmode => 0", kBanner, "LogDevmode => 0"}));
    }
    // The optional tails start past 188 and 212 bytes (wide), 124 and 148 (narrow).
    for (WORD size : {188, 189, 212, 213, 220}) {
        const DEVMODEW dm = Filled<DEVMODEW>(size);
        TraceCapture capture;
        LogDevmode(&dm, capture.log());
        EXPECT_EQ(capture.Lines(), Expected(&dm, size, size > 188, size > 212)) << "wide dmSize " << size;
    }
    for (WORD size : {124, 125, 148, 149}) {
        const DEVMODEA dm = Filled<DEVMODEA>(size);
        TraceCapture capture;
        LogDevmode(&dm, capture.log());
        EXPECT_EQ(capture.Lines(), Expected(&dm, size, size > 124, size > 148)) << "narrow dmSize " << size;
    }
}

TEST(LogPrinterInfo, Level2EmbedsItsDevmodeAndLevel4IsShort) {
    DEVMODEW dm = Filled<DEVMODEW>(220);
    WCHAR server[] = L"\\\\spool", printer[] = L"Office Laser";
    PRINTER_INFO_2W pi2{};
    pi2.pServerName = server, pi2.pPrinterName = printer, pi2.pDevMode = &dm, pi2.AveragePPM = 22;
    PRINTER_INFO_4W pi4{};
    pi4.pServerName = server, pi4.pPrinterName = printer, pi4.Attributes = 64;
    TraceCapture capture;
    vlibPRINT_LogPI2(capture.log(), nullptr);  // nothing
    vlibPRINT_LogPI4(capture.log(), nullptr);  // nothing
    vlibPRINT_LogPI2(capture.log(), &pi2);
    vlibPRINT_LogPI4(capture.log(), &pi4);
    const std::string banner2 = "vlibPRINT_LogPI2 => =======================================";
    const std::string banner4 = "vlibPRINT_LogPI4 => =======================================";
    const Lines devmode = Expected(&dm, 220, true, true), lines = capture.Lines();
    ASSERT_EQ(lines.size(), 21 + devmode.size() + 1 + 6);
    EXPECT_EQ(lines[20], "vlibPRINT_LogPI2 => AveragePPM:  22");
    EXPECT_EQ(Lines(lines.begin() + 21, lines.begin() + 21 + devmode.size()), devmode);
    // The text lines end in CR LF of their own; the file's LF adds another CR LF.
    EXPECT_EQ(Lines(lines.end() - 7, lines.end()),
              (Lines{banner2, banner4, "vlibPRINT_LogPI4 => " + HexAddress(&pi4),
                     "vlibPRINT_LogPI4 => pServerName:  \\\\spool\r",
                     "vlibPRINT_LogPI4 => pPrinterName:  Office Laser\r", "vlibPRINT_LogPI4 => Attributes:  64",
                     banner4}));
}

}  // namespace
