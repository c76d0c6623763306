// The dumps of the structures: public DEVMODEs, printer and job records, and
// the private DEVMODE records with their signatures.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "print/private_devmode.h"
#include "print/struct_dumps.h"
#include "trace_capture.h"

namespace {

using namespace testsupport;
using Lines = std::vector<std::string>;

// What one dump of the record writes to a log of its own.
template <class T>
Lines DumpOf(void (*dump)(const T*, TraceLog*), const T* record) {
    TraceCapture capture;
    dump(record, capture.log());
    return capture.Lines();
}

const std::string kBanner = "LogDevmode => --------------------------";  // also the public part's last line

// Every other field's bit in print order (orientation set, paper size clear, ...), so that a line
// that tests its neighbour's bit is seen; the values of clear bits print all the same.
constexpr DWORD kFields = 0x0AAAAAF5;

template <class DM>
DM Filled(WORD size) {
    DM dm{};
    SetName(dm.dmDeviceName, "Office Laser"), SetName(dm.dmFormName, "A4");  // either width
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
                  "dmPaperSize:     (0) 9", "dmPaperLength:   (1) 2970", "dmPaperWidth:    (0) 2100",
                  "dmScale:         (1) 100", "dmCopies:        (0) 3", "dmDefaultSource: (1) 7",
                  "dmPrintQuality:  (0) -3", "dmColor:         (1) 2", "dmDuplex:        (0) 1",
                  "dmYResolution:   (1) 600", "dmTTOption:      (0) 4", "dmCollate:       (1) 1",
                  "dmFormName:      (0) A4", "dmLogPixels:     (1) 65535", "dmBitsPerPel:    (0) 24",
                  "dmPelsWidth:     (1) 4960", "dmPelsHeight:    (0) 7016", "dmNup:           (1) 1",
                  "dmDisplayFrequency: (0) 60"};
    if (icm)
        body.insert(body.end(), {"dmICMMethod:     (1) 2", "dmICMIntent:     (0) 3", "dmMediaType:     (1) 257",
                                 "dmDitherType:    (0) 4", "dmReserved1:     11", "dmReserved2:     12"});
    if (panning) body.insert(body.end(), {"dmPanningWidth:  (1) 13", "dmPanningHeight: (0) 14"});
    Lines lines = {kBanner, "LogDevmode => " + HexAddress(dm), kBanner};
    for (const std::string& line : body) lines.push_back("LogDevmode => " + line);
    lines.push_back(kBanner);
    return lines;
}

// The optional tails are printed when dmSize holds them whole: from 212 and
// 220 bytes (wide), 148 and 156 (narrow); a size that ends inside one leaves it out.
TEST(LogDevmode, WholeDumpFollowsDmSizeInBothWidths) {
    EXPECT_EQ(DumpOf<DEVMODEW>(LogDevmode, nullptr), (Lines{kBanner, "LogDevmode => 0"}));
    EXPECT_EQ(DumpOf<DEVMODEA>(LogDevmode, nullptr), (Lines{kBanner, "LogDevmode => 0"}));
    for (WORD size : {188, 189, 211, 212, 213, 219, 220}) {
        SCOPED_TRACE(testing::Message() << "dmSize " << size);
        const DEVMODEW wide = Filled<DEVMODEW>(size);
        const DEVMODEA narrow = Filled<DEVMODEA>(WORD(size - 64));
        EXPECT_EQ(DumpOf(LogDevmode, &wide), Expected(&wide, size, size >= 212, size >= 220));
        EXPECT_EQ(DumpOf(LogDevmode, &narrow), Expected(&narrow, WORD(size - 64), size >= 212, size >= 220));
    }
}

// A private record of any form and width, dwPrivateFields 0x8001: only
// dwFlags and szClientArgs are marked.
template <class R>
R Make(WORD size, WORD driverExtra) {
    R r{};
    r.dm.dmSize = size, r.dm.dmDriverExtra = driverExtra;
    r.dwSignatureStart = r.dwSignatureEnd = kPrivateDM4Signature, r.dwPrivateFields = 0x8001;
    r.dwFlags = 7;
    SetName(r.szClientArgs, "-c"), SetName(r.szNativePrinterName, "Caf\xE9 Laser");
    return r;
}

// The dump's address, the line after the public part (the size line or the
// private block), and the private block's decisive lines (19 lines, 20 with
// the dm3 form's szClientArgs).
template <class R>
void ExpectLogDM(WORD size, WORD driverExtra, const char* sizeLine, bool block) {
    SCOPED_TRACE(testing::Message() << sizeof(R) << " bytes, " << size << " + " << driverExtra);
    constexpr bool dm3 = std::is_same_v<R, PRIVATE_DEVMODEW> || std::is_same_v<R, PRIVATE_DEVMODEA>;
    const R r = Make<R>(size, driverExtra);
    const Lines lines = DumpOf(LogDM, &r);
    ASSERT_GT(lines.size(), block ? 23u : 3u);
    const size_t at = lines.size() - (block ? (dm3 ? 20 : 19) : 0);
    EXPECT_EQ(lines[1], "LogDM => " + HexAddress(&r));
    EXPECT_EQ(lines[at - 1], sizeLine ? sizeLine : kBanner);
    if (block) EXPECT_EQ(lines[at + 1], "LogDM => dwPrivateFields:   32769");
    if (block) EXPECT_EQ(lines[at + 2], "LogDM => dwFlags:\t        (1) 7");
    // A clear bit still prints its value; the narrow line has one space less.
    if (block)
        EXPECT_EQ(lines[at + 14], !dm3 ? "LogDM => szPrinterName:        (0) Caf\xE9 Laser"
                                  : sizeof(r.szClientArgs[0]) == 1 ? "LogDM => szClientArgs:\t      (1) -c"
                                                                   : "LogDM => szClientArgs:\t       (1) -c");
}

// "MD4v" at both ends is the current form, "MD3v" at both the earlier one; mixed is neither.
TEST(PrivateDevmode, SignaturesDecideTheVersion) {
    const DWORD v4 = 0x7634444D, v3 = 0x7633444D;
    const struct { DWORD start, end; BOOL dm4, dm3; } cases[] = {{v4, v4, 1, 0}, {v3, v3, 0, 1}, {v4, v3, 0, 0}, {v3, v4, 0, 0}};
    for (const auto& c : cases) {
        PRIVATE_DEVMODEW w{};
        PRIVATE_DEVMODEA a{};
        w.dwSignatureStart = a.dwSignatureStart = c.start, w.dwSignatureEnd = a.dwSignatureEnd = c.end;
        EXPECT_EQ((std::vector<BOOL>{IsPrivateDM4W(&w), IsPrivateDM3W(&w), IsPrivateDM4A(&a), IsPrivateDM3A(&a)}),
                  (std::vector<BOOL>{c.dm4, c.dm3, c.dm4, c.dm3}));
    }
}

TEST(LogDM, SizeTestsOfTheFourDumps) {
    // Wide: exactly 3908 bytes; the earlier form has no size line.
    ExpectLogDM<PRIVATE_DEVMODEW>(220, 3688, "LogDM => sizeof(dm3) = 3908", true);
    ExpectLogDM<PRIVATE_DEVMODEW>(220, 3000, "LogDM => sizeof(dm3) = 3908", false);
    ExpectLogDM<PRIVATE_DEVMODE2W>(220, 3000, nullptr, false);
    // Narrow: a natively built record (156 + 1868) passes the dm2 test (at
    // least 2024) but not the dm3 one, which only converted records pass.
    ExpectLogDM<PRIVATE_DEVMODE2A>(156, 1868, "LogDM => sizeof(dm2) = 2024", true);
    ExpectLogDM<PRIVATE_DEVMODEA>(156, 1868, "LogDM => sizeof(dm3) = 2024", false);
    ExpectLogDM<PRIVATE_DEVMODEA>(220, 3688, "LogDM => sizeof(dm3) = 2024", true);
    // A null record: banner and address.
    EXPECT_EQ(DumpOf<PRIVATE_DEVMODEA>(LogDM, nullptr), (Lines{"LogDM => --------------------------", "LogDM => 0"}));
}

// 220 + 600 = 820 bytes hold the whole wide record (752 bytes), as do exactly 752; 720 do not.
TEST(LogTessDM, PrivatePartNeedsTheWholeRecord) {
    for (WORD extra : {600, 532, 500}) {
        TESS_DEVMODEW r{};
        r.dm.dmSize = 220, r.dm.dmDriverExtra = extra, r.dwSessionID = 3, r.dwSpoolType = 1, r.dwPrintMethod = 2;
        SetName(r.szPrinterName, "Caf\xE9 Laser");
        const Lines rest = {"LogTessDM => dwSessionID:       3", "LogTessDM => szPrinterName:     Caf\xE9 Laser",
                            "LogTessDM => dwSpoolType:       1", "LogTessDM => dwPrintMethod:     2",
                            "LogTessDM => --------------------------"};
        const Lines lines = DumpOf(LogTessDM, &r);
        ASSERT_GT(lines.size(), 5u);
        EXPECT_EQ(Lines(lines.end() - (extra > 500 ? 5 : 1), lines.end()), extra > 500 ? rest : Lines{kBanner});
    }
}

// A level-2 printer or job record embeds its DEVMODE's dump (the job's as a
// private dm3 record) behind its 21 lines; level 4 is short; null records and
// job level 1 write nothing. The text lines end in CR LF of their own; the
// file's LF adds another CR LF.
TEST(LogInfoRecords, Level2EmbedsItsDevmodeAndLevel4IsShort) {
    DEVMODEW dm = Filled<DEVMODEW>(220);
    PRIVATE_DEVMODEW pdm = Make<PRIVATE_DEVMODEW>(220, 3688);
    WCHAR server[] = L"\\\\spool", printer[] = L"Office Laser";
    PRINTER_INFO_2W pi2{};
    pi2.pServerName = server, pi2.pPrinterName = printer, pi2.pDevMode = &dm, pi2.AveragePPM = 22;
    PRINTER_INFO_4W pi4{};
    pi4.pServerName = server, pi4.pPrinterName = printer, pi4.Attributes = 64;
    JOB_INFO_2W job{};
    job.JobId = 42, job.pPrinterName = printer, job.pDevMode = &pdm.dm, job.PagesPrinted = 5;
    job.Submitted = SYSTEMTIME{2026, 12, 6, 5, 17, 4, 9, 250};
    TraceCapture printers, jobs;
    vlibPRINT_LogPI2(printers.log(), nullptr), vlibPRINT_LogPI4(printers.log(), nullptr);
    vlibPRINT_LogJobInfo(jobs.log(), 1, &job), vlibPRINT_LogJobInfo(jobs.log(), 2, nullptr);
    EXPECT_TRUE(printers.Lines().empty() && jobs.Lines().empty());
    vlibPRINT_LogPI2(printers.log(), &pi2), vlibPRINT_LogPI4(printers.log(), &pi4);
    vlibPRINT_LogJobInfo(jobs.log(), 2, &job);
    const struct { Lines lines, devmode; size_t at, after; std::string line20; } cases[] = {
        {printers.Lines(), Expected(&dm, 220, true, true), 21, 1 + 6, "vlibPRINT_LogPI2 => AveragePPM:  22"},
        {jobs.Lines(), DumpOf(LogDM, &pdm), 2 + 21, 1, "vlibPRINT_LogJobInfo => Submitted:  2026.12.5 (6) @ 17:4:9.250\r"}};
    for (const auto& c : cases) {
        ASSERT_EQ(c.lines.size(), c.at + c.devmode.size() + c.after);
        EXPECT_EQ(c.lines[20], c.line20);
        EXPECT_EQ(Lines(c.lines.begin() + c.at, c.lines.begin() + c.at + c.devmode.size()), c.devmode);
    }
    EXPECT_EQ(Lines(cases[0].lines.end() - 5, cases[0].lines.end() - 1),
              (Lines{"vlibPRINT_LogPI4 => " + HexAddress(&pi4), "vlibPRINT_LogPI4 => pServerName:  \\\\spool\r",
                     "vlibPRINT_LogPI4 => pPrinterName:  Office Laser\r", "vlibPRINT_LogPI4 => Attributes:  64"}));
}

}  // namespace
