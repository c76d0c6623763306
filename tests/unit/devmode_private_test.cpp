#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "print/private_devmode.h"
#include "print/struct_dumps.h"
#include "trace_capture.h"

namespace {

using testsupport::HexAddress;
using testsupport::TraceCapture;
using Lines = std::vector<std::string>;

template <class Ch, size_t N>
void Set(Ch (&slot)[N], const char* text) {
    for (size_t i = 0; text[i]; ++i) slot[i] = static_cast<Ch>(static_cast<unsigned char>(text[i]));
}

// A dump's banner and address, the dump of the public part, then the rest.
template <class R>
Lines Dump(const std::string& name, const R& r, const Lines& rest) {
    Lines lines = {name + " => --------------------------", name + " => " + HexAddress(&r)};
    TraceCapture capture;
    LogDevmode(&r.dm, capture.log());
    for (const Lines& part : {capture.Lines(), rest}) lines.insert(lines.end(), part.begin(), part.end());
    return lines;
}

// A private record of any form and width, dwPrivateFields 0x8001: only
// dwFlags and szClientArgs are marked.
template <class R>
R Make(WORD size, WORD driverExtra) {
    R r;
    std::memset(&r, 0, sizeof(r));
    r.dm.dmSize = size;
    r.dm.dmDriverExtra = driverExtra;
    r.dwSignatureStart = r.dwSignatureEnd = kPrivateDM4Signature;
    r.dwPrivateFields = 0x8001;
    r.dwFlags = 7, r.dwSessionID = 2, r.dwSpoolType = 3, r.dwExportMethod = 4, r.dwExportType = 5;
    r.dwSaveModeServer = 6, r.dwSaveModeClient = 8, r.dwIfExistsServer = 9, r.dwIfExistsClient = 0xFFFFFFFF;
    Set(r.szServerCommandLine, "srv.exe"), Set(r.szServerArgs, "-s"), Set(r.szClientCommandLine, "cli.exe");
    Set(r.szClientArgs, "-c"), Set(r.szNativePrinterName, "Caf\xE9 Laser");
    Set(r.szServerDestination, "\\\\srv\\out"), Set(r.szClientDestination, "C:\\out");
    return r;
}

// The private block of Make's record in the dump of its form and width.
template <class R>
Lines PrivateBlock() {
    constexpr bool dm3 = std::is_same_v<R, PRIVATE_DEVMODEW> || std::is_same_v<R, PRIVATE_DEVMODEA>;
    constexpr bool narrow = sizeof(R::szClientArgs[0]) == 1;
    const std::string signature = std::to_string(kPrivateDM4Signature);
    Lines lines = {"LogDM => dwSignatureStart:  " + signature,
                   "LogDM => dwPrivateFields:   32769",
                   "LogDM => dwFlags:\t        (1) 7",
                   "LogDM => dwSessionID:       (0) 2",
                   "LogDM => dwSpoolType:       (0) 3",
                   "LogDM => dwExportMethod:    (0) 4",
                   "LogDM => dwExportType:      (0) 5",
                   "LogDM => dwSaveModeServer:  (0) 6",
                   "LogDM => dwSaveModeClient:  (0) 8",
                   "LogDM => dwIfExistsServer:  (0) 9",
                   "LogDM => dwIfExistsClient:  (0) -1",
                   "LogDM => szServerCommandLine:  (0) srv.exe",
                   "LogDM => szServerArgs:         (0) -s",
                   "LogDM => szClientCommandLine:  (0) cli.exe"};
    if (dm3) {
        lines.push_back(narrow ? "LogDM => szClientArgs:\t      (1) -c" : "LogDM => szClientArgs:\t       (1) -c");
        lines.push_back("LogDM => szNativePrinterName:  (0) Caf\xE9 Laser");
    } else {
        lines.push_back("LogDM => szPrinterName:        (0) Caf\xE9 Laser");
    }
    lines.insert(lines.end(), {"LogDM => szServerDestination:  (0) \\\\srv\\out",
                               "LogDM => szClientDestination:  (0) C:\\out", "LogDM => dwSignatureEnd:    " + signature,
                               "LogDM => --------------------------"});
    return lines;
}

template <class R>
void ExpectLogDM(WORD size, WORD driverExtra, const char* sizeLine, bool block) {
    SCOPED_TRACE(testing::Message() << sizeof(R) << " bytes, " << size << " + " << driverExtra);
    const R r = Make<R>(size, driverExtra);
    TraceCapture capture;
    LogDM(&r, capture.log());
    Lines rest = block ? PrivateBlock<R>() : Lines{};
    if (sizeLine) rest.insert(rest.begin(), sizeLine);
    EXPECT_EQ(capture.Lines(), Dump("LogDM", r, rest));
}

TEST(PrivateDevmode, SignaturesAtTheirOffsetsDecideTheVersion) {
    const unsigned char v4[4] = {0x4D, 0x44, 0x34, 0x76}, v3[4] = {0x4D, 0x44, 0x33, 0x76};
    for (const unsigned char* start : {v4, v3})
        for (const unsigned char* end : {v4, v3}) {
            unsigned char wide[sizeof(PRIVATE_DEVMODEW)] = {}, narrow[sizeof(PRIVATE_DEVMODEA)] = {};
            std::memcpy(wide + 220, start, 4), std::memcpy(wide + 3904, end, 4);
            std::memcpy(narrow + 156, start, 4), std::memcpy(narrow + 2020, end, 4);
            const auto* w = reinterpret_cast<const PRIVATE_DEVMODEW*>(wide);
            const auto* a = reinterpret_cast<const PRIVATE_DEVMODEA*>(narrow);
            const BOOL dm4 = start == v4 && end == v4, dm3 = start == v3 && end == v3;
            EXPECT_EQ(IsPrivateDM4W(w), dm4);
            EXPECT_EQ(IsPrivateDM3W(w), dm3);
            EXPECT_EQ(IsPrivateDM4A(a), dm4);
            EXPECT_EQ(IsPrivateDM3A(a), dm3);
        }
}

TEST(LogDM, SizeTestsOfTheFourDumps) {
    // Wide: exactly 3908 bytes; the earlier form has no size line.
    ExpectLogDM<PRIVATE_DEVMODEW>(220, 3688, "LogDM => sizeof(dm3) = 3908", true);
    ExpectLogDM<PRIVATE_DEVMODEW>(220, 3000, "LogDM => sizeof(dm3) = 3908", false);
    ExpectLogDM<PRIVATE_DEVMODE2W>(220, 3688, nullptr, true);
    ExpectLogDM<PRIVATE_DEVMODE2W>(220, 3000, nullptr, false);
    // Narrow: a natively built record (156 + 1868) passes the dm2 test (at
    // least 2024) but not the dm3 one, which only converted records pass.
    ExpectLogDM<PRIVATE_DEVMODE2A>(156, 1868, "LogDM => sizeof(dm2) = 2024", true);
    ExpectLogDM<PRIVATE_DEVMODE2A>(156, 1867, "LogDM => sizeof(dm2) = 2024", false);
    ExpectLogDM<PRIVATE_DEVMODEA>(156, 1868, "LogDM => sizeof(dm3) = 2024", false);
    ExpectLogDM<PRIVATE_DEVMODEA>(220, 3688, "LogDM => sizeof(dm3) = 2024", true);

    TraceCapture capture;  // a null record: banner and address
    LogDM(static_cast<const PRIVATE_DEVMODEA*>(nullptr), capture.log());
    EXPECT_EQ(capture.Lines(), (Lines{"LogDM => --------------------------", "LogDM => 0"}));
}

template <class R>
void ExpectLogTessDM(WORD size, WORD driverExtra, bool whole) {
    SCOPED_TRACE(testing::Message() << sizeof(R) << " bytes, " << size << " + " << driverExtra);
    R r{};
    r.dm.dmSize = size, r.dm.dmDriverExtra = driverExtra;
    r.dwSessionID = 3, r.dwSpoolType = 1, r.dwPrintMethod = 2;
    Set(r.szPrinterName, "Caf\xE9 Laser");
    TraceCapture capture;
    LogTessDM(&r, capture.log());
    const Lines rest = {"LogTessDM => dwSessionID:       3", "LogTessDM => szPrinterName:     Caf\xE9 Laser",
                        "LogTessDM => dwSpoolType:       1", "LogTessDM => dwPrintMethod:     2",
                        "LogTessDM => --------------------------"};
    EXPECT_EQ(capture.Lines(), Dump("LogTessDM", r, whole ? rest : Lines{}));
}

TEST(LogTessDM, PrivatePartNeedsTheWholeRecord) {
    ExpectLogTessDM<TESS_DEVMODEW>(220, 600, true);  // 820
    ExpectLogTessDM<TESS_DEVMODEW>(220, 500, false);  // 720
    ExpectLogTessDM<TESS_DEVMODEA>(156, 272, true);   // 428
    ExpectLogTessDM<TESS_DEVMODEA>(156, 271, false);
}

TEST(LogJobInfo, WritesLevel2OnlyWithItsDevmodeAsDm3Record) {
    PRIVATE_DEVMODEW pdm = Make<PRIVATE_DEVMODEW>(220, 3688);
    WCHAR printer[] = L"Office Laser";
    JOB_INFO_2W job{};
    job.JobId = 42, job.pPrinterName = printer, job.pDevMode = &pdm.dm, job.PagesPrinted = 5;
    job.Submitted = SYSTEMTIME{2026, 12, 6, 5, 17, 4, 9, 250};
    TraceCapture capture, reference;
    vlibPRINT_LogJobInfo(capture.log(), 1, &job);
    vlibPRINT_LogJobInfo(capture.log(), 2, nullptr);
    EXPECT_TRUE(capture.Lines().empty());

    vlibPRINT_LogJobInfo(capture.log(), 2, &job);
    LogDM(&pdm, reference.log());
    const Lines lines = capture.Lines(), dm = reference.Lines();
    const std::string banner = "vlibPRINT_LogJobInfo => " + std::string(39, '%');
    ASSERT_EQ(lines.size(), 2 + 21 + dm.size() + 1);
    EXPECT_EQ(lines[0], banner);
    EXPECT_EQ(lines[2], "vlibPRINT_LogJobInfo => JobId:  42\r");
    EXPECT_EQ(lines[3], "vlibPRINT_LogJobInfo => pPrinterName:  Office Laser\r");
    EXPECT_EQ(lines[20], "vlibPRINT_LogJobInfo => Submitted:  2026.12.5 (6) @ 17:4:9.250\r");
    EXPECT_EQ(lines[22], "vlibPRINT_LogJobInfo => PagesPrinted:  5\r");
    EXPECT_EQ(Lines(lines.begin() + 23, lines.end() - 1), dm);
    EXPECT_EQ(lines.back(), banner);
}

}  // namespace
