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

template <class Ch, size_t N>
void Set(Ch (&slot)[N], const char* text) {
    for (size_t i = 0; text[i]; ++i) slot[i] = static_cast<Ch>(static_cast<unsigned char>(text[i]));
}

const std::string kDevmodeEnd = "LogDevmode => --------------------------";  // the public part's last line

// A private record of any form and width, dwPrivateFields 0x8001: only
// dwFlags and szClientArgs are marked.
template <class R>
R Make(WORD size, WORD driverExtra) {
    R r{};
    r.dm.dmSize = size, r.dm.dmDriverExtra = driverExtra;
    r.dwSignatureStart = r.dwSignatureEnd = kPrivateDM4Signature, r.dwPrivateFields = 0x8001;
    r.dwFlags = 7, r.dwSessionID = 2, r.dwSpoolType = 3, r.dwExportMethod = 4, r.dwExportType = 5;
    r.dwSaveModeServer = 6, r.dwSaveModeClient = 8, r.dwIfExistsServer = 9, r.dwIfExistsClient = 0xFFFFFFFF;
    Set(r.szServerCommandLine, "srv.exe"), Set(r.szServerArgs, "-s"), Set(r.szClientCommandLine, "cli.exe");
    Set(r.szClientArgs, "-c"), Set(r.szNativePrinterName, "Caf\xE9 Laser");
    Set(r.szServerDestination, "\\\\srv\\out"), Set(r.szClientDestination, "C:\\out");
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
    TraceCapture capture;
    LogDM(&r, capture.log());
    const Lines lines = capture.Lines();
    ASSERT_GT(lines.size(), block ? 23u : 3u);
    const size_t at = lines.size() - (block ? (dm3 ? 20 : 19) : 0);
    EXPECT_EQ(lines[1], "LogDM => " + HexAddress(&r));
    EXPECT_EQ(lines[at - 1], sizeLine ? sizeLine : kDevmodeEnd);
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
    for (DWORD start : {v4, v3})
        for (DWORD end : {v4, v3}) {
            PRIVATE_DEVMODEW w{};
            PRIVATE_DEVMODEA a{};
            w.dwSignatureStart = a.dwSignatureStart = start, w.dwSignatureEnd = a.dwSignatureEnd = end;
            const BOOL dm4 = start == v4 && end == v4, dm3 = start == v3 && end == v3;
            EXPECT_EQ((std::vector<BOOL>{IsPrivateDM4W(&w), IsPrivateDM3W(&w), IsPrivateDM4A(&a), IsPrivateDM3A(&a)}),
                      (std::vector<BOOL>{dm4, dm3, dm4, dm3}));
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
    TraceCapture capture;  // a null record: banner and address
    LogDM(static_cast<const PRIVATE_DEVMODEA*>(nullptr), capture.log());
    EXPECT_EQ(capture.Lines(), (Lines{"LogDM => --------------------------", "LogDM => 0"}));
}

// 220 + 600 = 820 bytes hold the whole wide record (752 bytes), as do exactly 752; 720 do not.
TEST(LogTessDM, PrivatePartNeedsTheWholeRecord) {
    for (WORD extra : {600, 532, 500}) {
        TESS_DEVMODEW r{};
        r.dm.dmSize = 220, r.dm.dmDriverExtra = extra, r.dwSessionID = 3, r.dwSpoolType = 1, r.dwPrintMethod = 2;
        Set(r.szPrinterName, "Caf\xE9 Laser");
        TraceCapture capture;
        LogTessDM(&r, capture.log());
        const Lines rest = {"LogTessDM => dwSessionID:       3", "LogTessDM => szPrinterName:     Caf\xE9 Laser",
                            "LogTessDM => dwSpoolType:       1", "LogTessDM => dwPrintMethod:     2",
                            "LogTessDM => --------------------------"};
        const Lines lines = capture.Lines();
        ASSERT_GT(lines.size(), 5u);
        EXPECT_EQ(Lines(lines.end() - (extra > 500 ? 5 : 1), lines.end()), extra > 500 ? rest : Lines{kDevmodeEnd});
    }
}

TEST(LogJobInfo, WritesLevel2OnlyWithItsDevmodeAsDm3Record) {
    PRIVATE_DEVMODEW pdm = Make<PRIVATE_DEVMODEW>(220, 3688);
    WCHAR printer[] = L"Office Laser";
    JOB_INFO_2W job{};
    job.JobId = 42, job.pPrinterName = printer, job.pDevMode = &pdm.dm, job.PagesPrinted = 5;
    job.Submitted = SYSTEMTIME{2026, 12, 6, 5, 17, 4, 9, 250};
    TraceCapture capture, reference;
    vlibPRINT_LogJobInfo(capture.log(), 1, &job), vlibPRINT_LogJobInfo(capture.log(), 2, nullptr);
    EXPECT_TRUE(capture.Lines().empty());
    vlibPRINT_LogJobInfo(capture.log(), 2, &job), LogDM(&pdm, reference.log());
    const Lines lines = capture.Lines(), dm = reference.Lines();
    ASSERT_EQ(lines.size(), 2 + 21 + dm.size() + 1);
    EXPECT_EQ(lines[20], "vlibPRINT_LogJobInfo => Submitted:  2026.12.5 (6) @ 17:4:9.250\r");
    EXPECT_EQ(Lines(lines.begin() + 23, lines.end() - 1), dm);
}

}  // namespace
