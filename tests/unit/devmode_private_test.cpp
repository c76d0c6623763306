#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "print/private_devmode.h"
#include "print/struct_dumps.h"
#include "trace_capture.h"

namespace {

using testsupport::HexAddress;
using testsupport::TraceCapture;
using Lines = std::vector<std::string>;

// The LogDevmode lines of a public part, as a reference for the dumps that embed it.
template <class DM>
Lines DevmodeDump(const DM* dm) {
    TraceCapture capture;
    LogDevmode(dm, capture.log());
    return capture.Lines();
}

Lines Join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A wide dm3 record with distinct values everywhere; the strings hold
// Western-European text ("é" is one byte in the ANSI code page).
PRIVATE_DEVMODEW MakeWide(WORD driverExtra = 3688) {
    PRIVATE_DEVMODEW pdm;
    std::memset(&pdm, 0, sizeof(pdm));
    wcscpy(pdm.dm.dmDeviceName, L"Office Laser");
    pdm.dm.dmSpecVersion = 0x0401;
    pdm.dm.dmSize = 220;
    pdm.dm.dmDriverExtra = driverExtra;
    pdm.dm.dmFields = DM_ORIENTATION;
    pdm.dm.dmOrientation = 1;
    pdm.dwSignatureStart = pdm.dwSignatureEnd = kPrivateDM4Signature;
    pdm.dwPrivateFields = 0x8001;
    pdm.dwFlags = 7;
    pdm.dwSessionID = 2;
    pdm.dwSpoolType = 3;
    pdm.dwExportMethod = 4;
    pdm.dwExportType = 5;
    pdm.dwSaveModeServer = 6;
    pdm.dwSaveModeClient = 8;
    pdm.dwIfExistsServer = 9;
    pdm.dwIfExistsClient = 0xFFFFFFFF;  // printed signed
    wcscpy(pdm.szServerCommandLine, L"srv.exe");
    wcscpy(pdm.szServerArgs, L"-s");
    wcscpy(pdm.szClientCommandLine, L"cli.exe");
    wcscpy(pdm.szClientArgs, L"-c");
    wcscpy(pdm.szNativePrinterName, L"Caf\u00e9 Laser");
    wcscpy(pdm.szServerDestination, L"\\\\srv\\out");
    wcscpy(pdm.szClientDestination, L"C:\\out");
    return pdm;
}

// The same record built natively in the narrow form (156 + 1868).
PRIVATE_DEVMODEA MakeNarrow(WORD size = 156, WORD driverExtra = 1868) {
    PRIVATE_DEVMODEA pdm;
    std::memset(&pdm, 0, sizeof(pdm));
    std::strcpy(reinterpret_cast<char*>(pdm.dm.dmDeviceName), "Office Laser");
    pdm.dm.dmSpecVersion = 0x0401;
    pdm.dm.dmSize = size;
    pdm.dm.dmDriverExtra = driverExtra;
    pdm.dwSignatureStart = pdm.dwSignatureEnd = kPrivateDM3Signature;
    pdm.dwPrivateFields = 0x8001;
    pdm.dwFlags = 7;
    pdm.dwSessionID = 2;
    std::strcpy(pdm.szServerCommandLine, "srv.exe");
    std::strcpy(pdm.szClientArgs, "-c");
    std::strcpy(pdm.szNativePrinterName, "Caf\xE9 Laser");
    return pdm;
}

TEST(PrivateDevmodeLayout, SignaturesSitAtTheirOffsetsAndDecideTheVersion) {
    PRIVATE_DEVMODEW wide = MakeWide();
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&wide);
    const unsigned char v4[4] = {0x4D, 0x44, 0x34, 0x76};
    EXPECT_EQ(std::memcmp(bytes + 220, v4, 4), 0);
    EXPECT_EQ(std::memcmp(bytes + 3904, v4, 4), 0);
    EXPECT_TRUE(IsPrivateDM4W(&wide));
    EXPECT_FALSE(IsPrivateDM3W(&wide));

    wide.dwSignatureEnd = kPrivateDM3Signature;  // start and end disagree
    EXPECT_FALSE(IsPrivateDM4W(&wide));
    EXPECT_FALSE(IsPrivateDM3W(&wide));
    wide.dwSignatureStart = kPrivateDM3Signature;
    EXPECT_TRUE(IsPrivateDM3W(&wide));
    EXPECT_FALSE(IsPrivateDM4W(&wide));
    EXPECT_FALSE(IsPrivateDM4W(nullptr));

    // The narrow tests read the narrow offsets (156 and 2020), written here as raw bytes.
    unsigned char narrow[sizeof(PRIVATE_DEVMODEA)] = {};
    const unsigned char v3[4] = {0x4D, 0x44, 0x33, 0x76};
    std::memcpy(narrow + 156, v3, 4);
    std::memcpy(narrow + 2020, v3, 4);
    const auto* pdmA = reinterpret_cast<const PRIVATE_DEVMODEA*>(narrow);
    EXPECT_TRUE(IsPrivateDM3A(pdmA));
    EXPECT_FALSE(IsPrivateDM4A(pdmA));
    std::memcpy(narrow + 2020, v4, 4);
    EXPECT_FALSE(IsPrivateDM3A(pdmA));
    EXPECT_FALSE(IsPrivateDM4A(pdmA));
    std::memcpy(narrow + 156, v4, 4);
    EXPECT_TRUE(IsPrivateDM4A(pdmA));
    EXPECT_FALSE(IsPrivateDM3A(nullptr));
}

TEST(LogDM, WideDm3DumpShowsEveryPrivateBitAndValue) {
    const PRIVATE_DEVMODEW pdm = MakeWide();
    TraceCapture capture;
    LogDM(&pdm, capture.log());
    const std::string signature = std::to_string(kPrivateDM4Signature);
    const Lines expected = Join({
        {"LogDM => --------------------------", "LogDM => " + HexAddress(&pdm)},
        DevmodeDump(&pdm.dm),
        {
            "LogDM => sizeof(dm3) = 3908",
            "LogDM => dwSignatureStart:  " + signature,
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
            "LogDM => szClientCommandLine:  (0) cli.exe",
            "LogDM => szClientArgs:\t       (1) -c",
            "LogDM => szNativePrinterName:  (0) Caf\xE9 Laser",
            "LogDM => szServerDestination:  (0) \\\\srv\\out",
            "LogDM => szClientDestination:  (0) C:\\out",
            "LogDM => dwSignatureEnd:    " + signature,
            "LogDM => --------------------------",
        },
    });
    EXPECT_EQ(capture.Lines(), expected);
}

TEST(LogDM, WideEarlierFormNamesTheFifthSlotAndHasNoSizeLine) {
    PRIVATE_DEVMODEW dm3 = MakeWide();
    dm3.dwPrivateFields = PDM_PRINTERNAME | PDM_CLIENTARGS;
    PRIVATE_DEVMODE2W earlier;
    std::memcpy(&earlier, &dm3, sizeof(earlier));
    TraceCapture capture;
    LogDM(&earlier, capture.log());
    const Lines lines = capture.Lines();
    const Lines devmode = DevmodeDump(&earlier.dm);
    ASSERT_EQ(lines.size(), 2 + devmode.size() + 19);
    EXPECT_EQ(lines[2 + devmode.size()], "LogDM => dwSignatureStart:  " + std::to_string(kPrivateDM4Signature));
    EXPECT_EQ(lines[4 + devmode.size()], "LogDM => dwFlags:\t        (0) 7");
    EXPECT_EQ(lines[15 + devmode.size()], "LogDM => szClientCommandLine:  (0) cli.exe");
    EXPECT_EQ(lines[16 + devmode.size()], "LogDM => szPrinterName:        (1) Caf\xE9 Laser");
    EXPECT_EQ(lines[17 + devmode.size()], "LogDM => szServerDestination:  (0) \\\\srv\\out");
    EXPECT_TRUE(capture.LinesStartingWith("LogDM => sizeof").empty());
    EXPECT_TRUE(capture.LinesStartingWith("LogDM => szClientArgs").empty());
}

TEST(LogDM, WideDumpsNeedExactly3908Bytes) {
    for (WORD extra : {WORD(3000), WORD(3689)}) {
        const PRIVATE_DEVMODEW pdm = MakeWide(extra);
        PRIVATE_DEVMODE2W earlier;
        std::memcpy(&earlier, &pdm, sizeof(earlier));
        TraceCapture capture;
        LogDM(&pdm, capture.log());
        LogDM(&earlier, capture.log());
        const Lines expected = Join({
            {"LogDM => --------------------------", "LogDM => " + HexAddress(&pdm)},
            DevmodeDump(&pdm.dm),
            {"LogDM => sizeof(dm3) = 3908"},
            {"LogDM => --------------------------", "LogDM => " + HexAddress(&earlier)},
            DevmodeDump(&earlier.dm),
        });
        EXPECT_EQ(capture.Lines(), expected) << "dmDriverExtra " << extra;
    }
    TraceCapture capture;
    LogDM(static_cast<const PRIVATE_DEVMODEW*>(nullptr), capture.log());
    EXPECT_EQ(capture.Lines(), (Lines{"LogDM => --------------------------", "LogDM => 0"}));
}

TEST(LogDM, NarrowDumpsTellNativeFromConvertedRecords) {
    // Natively built (156 + 1868): the dm2 dump shows the private block, the
    // narrow dm3 dump stops after its size line.
    const PRIVATE_DEVMODEA native = MakeNarrow();
    PRIVATE_DEVMODE2A native2;
    std::memcpy(&native2, &native, sizeof(native2));
    {
        TraceCapture capture;
        LogDM(&native2, capture.log());
        LogDM(&native, capture.log());
        const Lines lines = capture.Lines();
        const size_t dump = DevmodeDump(&native.dm).size();
        ASSERT_EQ(lines.size(), (2 + dump + 1 + 19) + (2 + dump + 1));
        EXPECT_EQ(lines[2 + dump], "LogDM => sizeof(dm2) = 2024");
        EXPECT_EQ(lines[3 + dump], "LogDM => dwSignatureStart:  " + std::to_string(kPrivateDM3Signature));
        EXPECT_EQ(lines[5 + dump], "LogDM => dwFlags:\t        (1) 7");
        EXPECT_EQ(lines[14 + dump], "LogDM => szServerCommandLine:  (0) srv.exe");
        EXPECT_EQ(lines[17 + dump], "LogDM => szPrinterName:        (0) Caf\xE9 Laser");
        EXPECT_EQ(lines[21 + dump], "LogDM => --------------------------");
        EXPECT_EQ(lines.back(), "LogDM => sizeof(dm3) = 2024");
    }
    // Converted from a wide record (220 + 3688): the dm3 dump shows it all,
    // with the narrow form's own spacing on the szClientArgs line.
    const PRIVATE_DEVMODEA converted = MakeNarrow(220, 3688);
    {
        TraceCapture capture;
        LogDM(&converted, capture.log());
        const Lines lines = capture.Lines();
        const size_t dump = DevmodeDump(&converted.dm).size();
        ASSERT_EQ(lines.size(), 2 + dump + 1 + 20);
        EXPECT_EQ(lines[2 + dump], "LogDM => sizeof(dm3) = 2024");
        EXPECT_EQ(lines[17 + dump], "LogDM => szClientArgs:\t      (1) -c");
        EXPECT_EQ(lines[18 + dump], "LogDM => szNativePrinterName:  (0) Caf\xE9 Laser");
    }
    // The dm2 dump asks for at least 2024 bytes.
    const PRIVATE_DEVMODEA shortRecord = MakeNarrow(156, 1867);
    PRIVATE_DEVMODE2A short2;
    std::memcpy(&short2, &shortRecord, sizeof(short2));
    TraceCapture capture;
    LogDM(&short2, capture.log());
    EXPECT_EQ(capture.Lines().back(), "LogDM => sizeof(dm2) = 2024");
}

TEST(LogTessDM, PrivatePartNeedsTheWholeRecord) {
    TESS_DEVMODEW wide;
    std::memset(&wide, 0, sizeof(wide));
    wide.dm.dmSize = 220;
    wide.dwSessionID = 3;
    wcscpy(wide.szPrinterName, L"Caf\u00e9 Laser");
    wide.dwSpoolType = 1;
    wide.dwPrintMethod = 2;
    const Lines tail = {"LogTessDM => dwSessionID:       3", "LogTessDM => szPrinterName:     Caf\xE9 Laser",
                        "LogTessDM => dwSpoolType:       1", "LogTessDM => dwPrintMethod:     2",
                        "LogTessDM => --------------------------"};
    for (WORD extra : {WORD(600), WORD(500)}) {  // sums 820 and 720
        wide.dm.dmDriverExtra = extra;
        TraceCapture capture;
        LogTessDM(&wide, capture.log());
        const Lines head = Join({{"LogTessDM => --------------------------", "LogTessDM => " + HexAddress(&wide)},
                                 DevmodeDump(&wide.dm)});
        EXPECT_EQ(capture.Lines(), extra == 600 ? Join({head, tail}) : head) << "dmDriverExtra " << extra;
    }

    TESS_DEVMODEA narrow;
    std::memset(&narrow, 0, sizeof(narrow));
    narrow.dm.dmSize = 156;
    narrow.dwSessionID = 3;
    std::strcpy(narrow.szPrinterName, "Caf\xE9 Laser");
    narrow.dwSpoolType = 1;
    narrow.dwPrintMethod = 2;
    for (WORD extra : {WORD(272), WORD(271)}) {  // sums 428 and 427
        narrow.dm.dmDriverExtra = extra;
        TraceCapture capture;
        LogTessDM(&narrow, capture.log());
        const Lines head = Join({{"LogTessDM => --------------------------", "LogTessDM => " + HexAddress(&narrow)},
                                 DevmodeDump(&narrow.dm)});
        EXPECT_EQ(capture.Lines(), extra == 272 ? Join({head, tail}) : head) << "dmDriverExtra " << extra;
    }
}

TEST(LogJobInfo, WritesLevel2OnlyWithItsDevmodeAsPrivateRecord) {
    PRIVATE_DEVMODEW pdm = MakeWide();
    WCHAR printer[] = L"Office Laser", machine[] = L"\\\\desk", user[] = L"ann", document[] = L"report.pdf",
          notify[] = L"ann", datatype[] = L"RAW", processor[] = L"winprint", parameters[] = L"",
          driver[] = L"Generic PS", status[] = L"printing";
    JOB_INFO_2W job{};
    job.JobId = 42;
    job.pPrinterName = printer;
    job.pMachineName = machine;
    job.pUserName = user;
    job.pDocument = document;
    job.pNotifyName = notify;
    job.pDatatype = datatype;
    job.pPrintProcessor = processor;
    job.pParameters = parameters;
    job.pDriverName = driver;
    job.pDevMode = &pdm.dm;
    job.pStatus = status;
    job.Status = 0x10;
    job.Priority = 1;
    job.Position = 3;
    job.StartTime = 0;
    job.UntilTime = 1439;
    job.TotalPages = 12;
    job.Size = 65536;
    job.Submitted = SYSTEMTIME{2026, 12, 6, 5, 17, 4, 9, 250};
    job.Time = 7;
    job.PagesPrinted = 5;

    TraceCapture capture;
    vlibPRINT_LogJobInfo(capture.log(), 1, &job);
    vlibPRINT_LogJobInfo(capture.log(), 2, nullptr);
    EXPECT_TRUE(capture.Lines().empty());

    vlibPRINT_LogJobInfo(capture.log(), 2, &job);
    const std::string banner = "vlibPRINT_LogJobInfo => " + std::string(39, '%');
    TraceCapture reference;
    LogDM(&pdm, reference.log());
    const Lines expected = Join({
        {
            banner,
            "vlibPRINT_LogJobInfo => " + HexAddress(&job),
            "vlibPRINT_LogJobInfo => JobId:  42\r",
            "vlibPRINT_LogJobInfo => pPrinterName:  Office Laser\r",
            "vlibPRINT_LogJobInfo => pMachineName:  \\\\desk\r",
            "vlibPRINT_LogJobInfo => pUserName:  ann\r",
            "vlibPRINT_LogJobInfo => pDocument:  report.pdf\r",
            "vlibPRINT_LogJobInfo => pNotifyName:  ann\r",
            "vlibPRINT_LogJobInfo => pDatatype:  RAW\r",
            "vlibPRINT_LogJobInfo => pPrintProcessor:  winprint\r",
            "vlibPRINT_LogJobInfo => pParameters:  \r",
            "vlibPRINT_LogJobInfo => pDriverName:  Generic PS\r",
            "vlibPRINT_LogJobInfo => pStatus:  printing\r",
            "vlibPRINT_LogJobInfo => Status:  16\r",
            "vlibPRINT_LogJobInfo => Priority:  1\r",
            "vlibPRINT_LogJobInfo => Position:  3\r",
            "vlibPRINT_LogJobInfo => StartTime:  0\r",
            "vlibPRINT_LogJobInfo => UntilTime:  1439\r",
            "vlibPRINT_LogJobInfo => TotalPages:  12\r",
            "vlibPRINT_LogJobInfo => Size:  65536\r",
            "vlibPRINT_LogJobInfo => Submitted:  2026.12.5 (6) @ 17:4:9.250\r",
            "vlibPRINT_LogJobInfo => Time:  7\r",
            "vlibPRINT_LogJobInfo => PagesPrinted:  5\r",
        },
        reference.Lines(),
        {banner},
    });
    EXPECT_EQ(capture.Lines(), expected);
    EXPECT_EQ(reference.Lines().size(), 2 + DevmodeDump(&pdm.dm).size() + 21);  // the whole private block
}

}  // namespace
