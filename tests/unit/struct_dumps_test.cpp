#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "log/trace_log.h"
#include "print/struct_dumps.h"
#include "trace_capture.h"

namespace {

using LogFile = testsupport::TraceCapture;
using testsupport::HexAddress;

DEVMODEW FilledDevmodeW(WORD size) {
    DEVMODEW dm;
    std::memset(&dm, 0, sizeof(dm));
    wcscpy(dm.dmDeviceName, L"Office Laser");
    dm.dmSpecVersion = 0x0401;
    dm.dmDriverVersion = 0xFFFE;  // unsigned: 65534
    dm.dmSize = size;
    dm.dmDriverExtra = 0x8001;  // unsigned: 32769
    // Every bit but DM_COLOR and DM_PANNINGHEIGHT.
    dm.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_SCALE | DM_COPIES |
                  DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_DUPLEX | DM_YRESOLUTION | DM_TTOPTION | DM_COLLATE |
                  DM_FORMNAME | DM_LOGPIXELS | DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_NUP |
                  DM_DISPLAYFREQUENCY | DM_ICMMETHOD | DM_ICMINTENT | DM_MEDIATYPE | DM_DITHERTYPE | DM_PANNINGWIDTH;
    dm.dmOrientation = 2;
    dm.dmPaperSize = 9;
    dm.dmPaperLength = 2970;
    dm.dmPaperWidth = 2100;
    dm.dmScale = 100;
    dm.dmCopies = 3;
    dm.dmDefaultSource = 7;
    dm.dmPrintQuality = -3;  // signed
    dm.dmColor = 2;          // printed although DM_COLOR is clear
    dm.dmDuplex = 1;
    dm.dmYResolution = 600;
    dm.dmTTOption = 4;
    dm.dmCollate = 1;
    wcscpy(dm.dmFormName, L"A4");
    dm.dmLogPixels = 0xFFFF;  // unsigned: 65535
    dm.dmBitsPerPel = 24;
    dm.dmPelsWidth = 4960;
    dm.dmPelsHeight = 7016;
    dm.dmNup = 1;
    dm.dmDisplayFrequency = 60;
    dm.dmICMMethod = 2;
    dm.dmICMIntent = 3;
    dm.dmMediaType = 257;
    dm.dmDitherType = 4;
    dm.dmReserved1 = 11;
    dm.dmReserved2 = 12;
    dm.dmPanningWidth = 13;
    dm.dmPanningHeight = 14;
    return dm;
}

std::vector<std::string> ExpectedDevmodeDump(const void* address, unsigned size, bool icm, bool panning) {
    const std::string fields = std::to_string(DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH |
                                              DM_SCALE | DM_COPIES | DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_DUPLEX |
                                              DM_YRESOLUTION | DM_TTOPTION | DM_COLLATE | DM_FORMNAME | DM_LOGPIXELS |
                                              DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_NUP |
                                              DM_DISPLAYFREQUENCY | DM_ICMMETHOD | DM_ICMINTENT | DM_MEDIATYPE |
                                              DM_DITHERTYPE | DM_PANNINGWIDTH);
    std::vector<std::string> lines = {
        "LogDevmode => --------------------------",
        "LogDevmode => " + HexAddress(address),
        "LogDevmode => --------------------------",
        "LogDevmode => dmDeviceName:    Office Laser",
        "LogDevmode => dmDriverVersion: 65534",
        "LogDevmode => dmSize:          " + std::to_string(size),
        "LogDevmode => dmDriverExtra:   32769",
        "LogDevmode => dmFields:        " + fields,
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
        "LogDevmode => dmDisplayFrequency: (1) 60",
    };
    if (icm) {
        lines.insert(lines.end(), {
                                      "LogDevmode => dmICMMethod:     (1) 2",
                                      "LogDevmode => dmICMIntent:     (1) 3",
                                      "LogDevmode => dmMediaType:     (1) 257",
                                      "LogDevmode => dmDitherType:    (1) 4",
                                      "LogDevmode => dmReserved1:     11",
                                      "LogDevmode => dmReserved2:     12",
                                  });
    }
    if (panning) {
        lines.push_back("LogDevmode => dmPanningWidth:  (1) 13");
        lines.push_back("LogDevmode => dmPanningHeight: (0) 14");
    }
    lines.push_back("LogDevmode => --------------------------");
    return lines;
}

TEST(LogDevmode, NullDevmodeWritesBannerAndAddressOnly) {
    LogFile file;
    LogDevmode(static_cast<const DEVMODEW*>(nullptr), file.log());
    LogDevmode(static_cast<const DEVMODEA*>(nullptr), file.log());
    const std::vector<std::string> expected = {
        "LogDevmode => --------------------------", "LogDevmode => 0",
        "LogDevmode => --------------------------", "LogDevmode => 0"};
    EXPECT_EQ(file.Lines(), expected);
}

TEST(LogDevmode, WideTailsFollowDmSize) {
    LogFile file;
    // 188: up to dmDisplayFrequency only; 212: the ICM .. reserved lines too;
    // 220: panning as well. A clear DM_COLOR / DM_PANNINGHEIGHT prints "(0)".
    const DEVMODEW small = FilledDevmodeW(188);
    LogDevmode(&small, file.log());
    EXPECT_EQ(file.Lines(), ExpectedDevmodeDump(&small, 188, false, false));

    LogFile second;
    const DEVMODEW middle = FilledDevmodeW(212);
    LogDevmode(&middle, second.log());
    EXPECT_EQ(second.Lines(), ExpectedDevmodeDump(&middle, 212, true, false));

    LogFile third;
    const DEVMODEW full = FilledDevmodeW(220);
    LogDevmode(&full, third.log());
    EXPECT_EQ(third.Lines(), ExpectedDevmodeDump(&full, 220, true, true));
}

TEST(LogDevmode, NarrowUsesNarrowThresholdsAndPrintsBytesAsText) {
    const DEVMODEW wide = FilledDevmodeW(220);
    DEVMODEA dm;
    std::memset(&dm, 0, sizeof(dm));
    // Same public values; the names as 8-bit text (0xE9 is e-acute in the
    // Western code page and must reach the file unchanged).
    std::memcpy(&dm.dmSpecVersion, &wide.dmSpecVersion, offsetof(DEVMODEA, dmFormName) - offsetof(DEVMODEA, dmSpecVersion));
    std::memcpy(&dm.dmLogPixels, &wide.dmLogPixels, sizeof(DEVMODEA) - offsetof(DEVMODEA, dmLogPixels));
    std::strcpy(reinterpret_cast<char*>(dm.dmDeviceName), "Office Laser");
    // A name filling its whole slot stops at the slot's end.
    std::memset(dm.dmFormName, 'F', sizeof(dm.dmFormName));
    dm.dmFormName[0] = 0xE9;

    for (WORD size : {WORD(124), WORD(125), WORD(148), WORD(149)}) {
        LogFile file;
        dm.dmSize = size;
        LogDevmode(&dm, file.log());
        std::vector<std::string> expected = ExpectedDevmodeDump(&dm, size, size > 124, size > 148);
        for (std::string& line : expected)
            if (line.rfind("LogDevmode => dmFormName:", 0) == 0)
                line = "LogDevmode => dmFormName:      (1) \xE9" + std::string(31, 'F');
        EXPECT_EQ(file.Lines(), expected) << "dmSize " << size;
    }
}

TEST(LogPrinterInfo, Level2And4DumpEveryFieldWithTheirLineEnds) {
    LogFile file;
    DEVMODEW dm = FilledDevmodeW(188);
    PRINTER_INFO_2W pi2{};
    WCHAR server[] = L"\\\\spool", printer[] = L"Office Laser", share[] = L"laser", port[] = L"LPT1:",
          driver[] = L"Generic PS", comment[] = L"second floor", location[] = L"room 2.14", sep[] = L"sep.sep",
          processor[] = L"winprint", datatype[] = L"RAW", parameters[] = L"-x";
    pi2.pServerName = server;
    pi2.pPrinterName = printer;
    pi2.pShareName = share;
    pi2.pPortName = port;
    pi2.pDriverName = driver;
    pi2.pComment = comment;
    pi2.pLocation = location;
    pi2.pSepFile = sep;
    pi2.pPrintProcessor = processor;
    pi2.pDatatype = datatype;
    pi2.pParameters = parameters;
    pi2.pDevMode = &dm;
    pi2.Attributes = 0x240;
    pi2.Priority = 1;
    pi2.DefaultPriority = 2;
    pi2.StartTime = 60;
    pi2.UntilTime = 1380;
    pi2.Status = 0x80;
    pi2.cJobs = 4;
    pi2.AveragePPM = 22;
    vlibPRINT_LogPI2(file.log(), &pi2);

    std::vector<std::string> expected = {
        "vlibPRINT_LogPI2 => =======================================",
        "vlibPRINT_LogPI2 => " + HexAddress(&pi2),
        // Text lines end in CR LF of their own; the text-mode file turns the
        // LF into another CR LF, so one CR stays on the line.
        "vlibPRINT_LogPI2 => pServerName:  \\\\spool\r",
        "vlibPRINT_LogPI2 => pPrinterName:  Office Laser\r",
        "vlibPRINT_LogPI2 => pShareName:  laser\r",
        "vlibPRINT_LogPI2 => pPortName:  LPT1:\r",
        "vlibPRINT_LogPI2 => pDriverName:  Generic PS\r",
        "vlibPRINT_LogPI2 => pComment:  second floor\r",
        "vlibPRINT_LogPI2 => pLocation:  room 2.14\r",
        "vlibPRINT_LogPI2 => pSepFile:  sep.sep\r",
        "vlibPRINT_LogPI2 => pPrintProcessor:  winprint\r",
        "vlibPRINT_LogPI2 => pDatatype:  RAW\r",
        "vlibPRINT_LogPI2 => pParameters:  -x\r",
        "vlibPRINT_LogPI2 => Attributes:  576",
        "vlibPRINT_LogPI2 => Priority:  1",
        "vlibPRINT_LogPI2 => DefaultPriority:  2",
        "vlibPRINT_LogPI2 => StartTime:  60",
        "vlibPRINT_LogPI2 => UntilTime:  1380",
        "vlibPRINT_LogPI2 => Status:  128",
        "vlibPRINT_LogPI2 => cJobs:  4",
        "vlibPRINT_LogPI2 => AveragePPM:  22",
    };
    const std::vector<std::string> devmode = ExpectedDevmodeDump(&dm, 188, false, false);
    expected.insert(expected.end(), devmode.begin(), devmode.end());
    expected.push_back("vlibPRINT_LogPI2 => =======================================");

    PRINTER_INFO_4W pi4{};
    pi4.pServerName = server;
    pi4.pPrinterName = printer;
    pi4.Attributes = 0x40;
    vlibPRINT_LogPI4(file.log(), &pi4);
    vlibPRINT_LogPI2(file.log(), nullptr);  // nothing
    vlibPRINT_LogPI4(file.log(), nullptr);  // nothing
    expected.insert(expected.end(), {
                                        "vlibPRINT_LogPI4 => =======================================",
                                        "vlibPRINT_LogPI4 => " + HexAddress(&pi4),
                                        "vlibPRINT_LogPI4 => pServerName:  \\\\spool\r",
                                        "vlibPRINT_LogPI4 => pPrinterName:  Office Laser\r",
                                        "vlibPRINT_LogPI4 => Attributes:  64",
                                        "vlibPRINT_LogPI4 => =======================================",
                                    });
    EXPECT_EQ(file.Lines(), expected);
}

}  // namespace
