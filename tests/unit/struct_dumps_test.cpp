#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "print/struct_dumps.h"
#include "trace_capture.h"

namespace {

using namespace testsupport;
using Lines = std::vector<std::string>;

const std::string kBanner = "LogDevmode => --------------------------";
// Every bit but DM_COLOR and DM_PANNINGHEIGHT, whose values print all the same.
constexpr DWORD kFields = 0x1FFFFFFF & ~DWORD(DM_COLOR | DM_PANNINGHEIGHT);

template <class DM>
DM Filled(WORD size) {
    DM dm{};
    for (size_t i = 0; i < 12; ++i) dm.dmDeviceName[i] = "Office Laser"[i];  // either width
    for (size_t i = 0; i < 3; ++i) dm.dmFormName[i] = "A4"[i];
    // The sizes, the driver version and dmLogPixels print unsigned.
    dm.dmSpecVersion = 0x0401, dm.dmDriverVersion = 0xFFFE, dm.dmSize = size, dm.dmDriverExtra = 0x8001;
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
    Lines body = {"dmDeviceName:    Office Laser", "dmDriverVersion: 65534", "dmSize:          " + std::to_string(size),
                  "dmDriverExtra:   32769", "dmFields:        " + std::to_string(kFields), "dmOrientation:   (1) 2",
                  "dmPaperSize:     (1) 9", "dmPaperLength:   (1) 2970", "dmPaperWidth:    (1) 2100",
                  "dmScale:         (1) 100", "dmCopies:        (1) 3", "dmDefaultSource: (1) 7",
                  "dmPrintQuality:  (1) -3", "dmColor:         (0) 2", "dmDuplex:        (1) 1",
                  "dmYResolution:   (1) 600", "dmTTOption:      (1) 4", "dmCollate:       (1) 1",
                  "dmFormName:      (1) A4", "dmLogPixels:     (1) 65535", "dmBitsPerPel:    (1) 24",
                  "dmPelsWidth:     (1) 4960", "dmPelsHeight:    (1) 7016", "dmNup:           (1) 1",
                  "dmDisplayFrequency: (1) 60"};
    if (icm)
        body.insert(body.end(), {"dmICMMethod:     (1) 2", "dmICMIntent:     (1) 3", "dmMediaType:     (1) 257",
                                 "dmDitherType:    (1) 4", "dmReserved1:     11", "dmReserved2:     12"});
    if (panning) body.insert(body.end(), {"dmPanningWidth:  (1) 13", "dmPanningHeight: (0) 14"});
    Lines lines = {kBanner, "LogDevmode => " + HexAddress(dm), kBanner};
    for (const std::string& line : body) lines.push_back("LogDevmode => " + line);
    lines.push_back(kBanner);
    return lines;
}

// The optional tails start past 188 and 212 bytes (wide), 124 and 148 (narrow).
TEST(LogDevmode, WholeDumpFollowsDmSizeInBothWidths) {
    TraceCapture nulls;
    LogDevmode(static_cast<const DEVMODEW*>(nullptr), nulls.log());
    LogDevmode(static_cast<const DEVMODEA*>(nullptr), nulls.log());
    EXPECT_EQ(nulls.Lines(), (Lines{kBanner, "LogDevmode => 0", kBanner, "LogDevmode => 0"}));
    for (WORD size : {188, 189, 212, 213, 220}) {
        const DEVMODEW wide = Filled<DEVMODEW>(size);
        const DEVMODEA narrow = Filled<DEVMODEA>(WORD(size - 64));
        TraceCapture capture;
        LogDevmode(&wide, capture.log());
        LogDevmode(&narrow, capture.log());
        Lines expected = Expected(&wide, size, size > 188, size > 212),
              more = Expected(&narrow, WORD(size - 64), size > 188, size > 212);
        expected.insert(expected.end(), more.begin(), more.end());
        EXPECT_EQ(capture.Lines(), expected) << "dmSize " << size;
    }
}

// A level-2 block embeds its DEVMODE's dump; level 4 is short. The text lines
// end in CR LF of their own; the file's LF adds another CR LF.
TEST(LogPrinterInfo, Level2EmbedsItsDevmodeAndLevel4IsShort) {
    DEVMODEW dm = Filled<DEVMODEW>(220);
    WCHAR server[] = L"\\\\spool", printer[] = L"Office Laser";
    PRINTER_INFO_2W pi2{};
    pi2.pServerName = server, pi2.pPrinterName = printer, pi2.pDevMode = &dm, pi2.AveragePPM = 22;
    PRINTER_INFO_4W pi4{};
    pi4.pServerName = server, pi4.pPrinterName = printer, pi4.Attributes = 64;
    TraceCapture capture;
    vlibPRINT_LogPI2(capture.log(), nullptr), vlibPRINT_LogPI4(capture.log(), nullptr);  // nothing
    vlibPRINT_LogPI2(capture.log(), &pi2), vlibPRINT_LogPI4(capture.log(), &pi4);
    const Lines devmode = Expected(&dm, 220, true, true), lines = capture.Lines();
    ASSERT_EQ(lines.size(), 21 + devmode.size() + 1 + 6);
    EXPECT_EQ(lines[20], "vlibPRINT_LogPI2 => AveragePPM:  22");
    EXPECT_EQ(Lines(lines.begin() + 21, lines.begin() + 21 + devmode.size()), devmode);
    EXPECT_EQ(Lines(lines.end() - 5, lines.end() - 1),
              (Lines{"vlibPRINT_LogPI4 => " + HexAddress(&pi4), "vlibPRINT_LogPI4 => pServerName:  \\\\spool\r",
                     "vlibPRINT_LogPI4 => pPrinterName:  Office Laser\r", "vlibPRINT_LogPI4 => Attributes:  64"}));
}

}  // namespace
