// Printer info records and form matching on the printers of the private CUPS
// scheduler: records of every version from a live query carry the record
// the refresh run stores, the published list reads back byte for byte, and
// every paper at every resolution slot of each stored record gets a form of
// that paper and resolution.
// Without the harness (scripts/test starts it) the tests are skipped.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "client/refresh_run.h"
#include "harness.h"
#include "print/form_matching.h"
#include "print/printer_names.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"
#include "records/printer_info_registry.h"
#include "support/info_records.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace {

using namespace testsupport;

// What each printer's records look like, made once for the suite.
// The capability record the refresh run stored, and the three info records of a live query.
struct Printer { std::string refreshed, r400, r401, r402; };
std::map<std::wstring, Printer> g_printers;

class InfoRecordStack : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::getenv("CUPS_SERVER")) return;
        for (const std::wstring& name : harness::List(L"KV_CUPS_PRINTERS")) g_printers[name];
        // The info records first: Wine's driver keeps what a DEVMODE made valid
        // through a printer handle as that printer's default for the rest of
        // the process, so the default DEVMODE is read before any measurement.
        for (auto& [name, p] : g_printers) {
            CPrinter printer(nullptr, name, 2, 0);
            printer.Query(1, nullptr, nullptr);
            p.r400 = Take(printer.CreateKVPrinterInfo400W());
            p.r401 = Take(printer.CreateKVPrinterInfo401W());
            p.r402 = Take(printer.CreateKVPrinterInfo402W());
        }
        RunRefresh();
        for (auto& [name, p] : g_printers) {
            CPrinter printer(nullptr, name, 1, 0);  // loads what the refresh run stored
            p.refreshed = Take(printer.SerializeCaps4());
        }
    }
    static void TearDownTestSuite() {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrintersKey);
        g_printers.clear();
    }
    void SetUp() override {
        if (g_printers.empty()) GTEST_SKIP() << "no CUPS harness: run scripts/test";
        for (const auto& [name, p] : g_printers)
            ASSERT_FALSE(p.refreshed.empty() || p.r400.empty() || p.r401.empty() || p.r402.empty()) << Narrow(name);
    }
};

TEST_F(InfoRecordStack, EveryVersionCarriesTheRefreshedRecordAndThePublishedOnesReadBackByteForByte) {
    std::string published, output;
    ASSERT_EQ(RunProgram(L"kvcaps.exe", L"--publish --type 16 --session 2 --user stack --connection 5", &published), 0u) << published;
    for (const auto& [name, p] : g_printers) {
        SCOPED_TRACE(Narrow(name));
        EXPECT_TRUE(p.r400.substr(8608) == p.refreshed && p.r401.substr(8632) == p.refreshed && p.r402.substr(8648) == p.refreshed);
        ExpectConversionsGiveTheDirectRecords(p.r400, p.r401, p.r402);
        EXPECT_NE(published.find("stored " + Narrow(name) + ": 402 record"), std::string::npos) << published;
        HANDLE handle = nullptr;
        ASSERT_TRUE(::OpenPrinterW(const_cast<LPWSTR>(name.c_str()), &handle, nullptr));
        const std::string stored = Take(vlibPRINT_GetKVPrinterInfo(handle, L""));  // by the handle's printer name
        ::ClosePrinter(handle);
        EXPECT_TRUE(stored == p.r402) << stored.size() << " bytes stored, " << p.r402.size() << " built";
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--info-registry \"" + name + L"\"", &output), 0u) << output;
        EXPECT_NE(output.find("Printer info record 402, " + std::to_string(p.r402.size()) + " bytes"), std::string::npos);
    }
    // A stored value cut short is refused with its reason, as a file is.
    const auto& [name, p] = *g_printers.begin();
    const std::wstring key = std::wstring(kPrintersKey) + L"\\" + vlibPRINT_PrinterNameToRegistrySafeName(name);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"PrinterData4", REG_BINARY, p.r402.data(), 9000), 0);
    EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--info-registry \"" + name + L"\"", &output), 3u) << output;
}

// kvcaps --info-record writes a whole record or leaves the file as it was.
TEST_F(InfoRecordStack, AnInfoRecordFileIsReplacedOnlyByAWholeRecord) {
    const std::wstring& name = g_printers.begin()->first;
    TempDir dir;
    const std::wstring file = dir.File(L"printer.kvi"), quoted = L" \"" + file + L"\"";
    std::string output;
    ASSERT_EQ(RunProgram(L"kvcaps.exe", L"--info-record \"" + name + L"\"" + quoted + L" --version 401", &output), 0u) << output;
    const std::string written = ReadFileBytes(file);
    EXPECT_EQ(written.size(), g_printers.begin()->second.r401.size());
    EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--info" + quoted, &output), 0u) << output;
    // No room for the new record (its scratch name is taken by a folder), or no printer: the file stays.
    ASSERT_TRUE(::CreateDirectoryW((file + L".partial").c_str(), nullptr));
    EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--info-record \"" + name + L"\"" + quoted, &output), 5u) << output;
    ASSERT_TRUE(::RemoveDirectoryW((file + L".partial").c_str()));
    EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--info-record NoSuchPrinter" + quoted, &output), 2u) << output;
    EXPECT_TRUE(ReadFileBytes(file) == written) << "the earlier file was changed";
    EXPECT_FALSE(FileExists(file + L".partial"));
}

// Whatever form the matching picks for a paper (by its code or by its size)
// at a resolution slot, it is of that paper and that resolution, and a
// landscape request gets it turned exactly when it is flagged as turning.
TEST_F(InfoRecordStack, EveryPaperAtEveryResolutionSlotGetsAFormOfThatPaperAndResolution) {
    for (const auto& [name, p] : g_printers) {
        SCOPED_TRACE(Narrow(name));
        const std::string& rec = p.refreshed;
        const caps4& h = *As<caps4>(rec);
        const bool indexed = h.dwIndexedResolutionsOnly != 0;
        const DWORD P = h.dwNumPapers, R = indexed ? h.dwNumResolutionsIndexed : h.dwNumResolutions;
        ASSERT_TRUE(P > 0 && R > 0 && P == h.dwNumPaperSize && h.dwNumForms == P * R) << P << " " << R;
        for (DWORD s = 0; s < R; ++s)
            for (DWORD paper = 0; paper < P; ++paper) {
                const WORD code = At<WORD>(rec, h.dwOffsetToPapers, paper);
                const PaperSize size = At<PaperSize>(rec, h.dwOffsetToPaperSize, paper);
                const ResolutionPair res = indexed ? ResolutionPair{-1 - LONG(s), 0} : At<ResolutionPair>(rec, h.dwOffsetToResolutions, s);
                for (bool byCode : {true, false}) {
                    SCOPED_TRACE(testing::Message() << "paper " << paper << " slot " << s << (byCode ? " by code" : " by size"));
                    DEVMODEW dm = {};
                    dm.dmFields = (byCode ? DM_PAPERSIZE : DM_PAPERWIDTH | DM_PAPERLENGTH) | DM_PRINTQUALITY | (indexed ? 0 : DM_YRESOLUTION);
                    dm.dmPaperSize = short(code), dm.dmPaperWidth = short(size.width), dm.dmPaperLength = short(size.length);
                    dm.dmPrintQuality = short(res.x), dm.dmYResolution = short(res.y);
                    FormEntry upright, turned;
                    DEVMODEW out = {};
                    vlibPRINT_GetForm(&upright, &dm, &out, 100, &h, nullptr);
                    dm.dmFields |= DM_ORIENTATION, dm.dmOrientation = DMORIENT_LANDSCAPE, out = {};
                    vlibPRINT_GetForm(&turned, &dm, &out, 100, &h, nullptr);
                    EXPECT_TRUE(byCode ? upright.paprI == code : upright.paprW == size.width && upright.paprL == size.length)
                        << upright.paprI << " " << upright.paprW << " x " << upright.paprL;
                    EXPECT_TRUE(upright.resX == res.x && upright.resY == res.y) << upright.resX << " x " << upright.resY;
                    const FormEntry expected = upright.orientFlag ? Turned(upright) : upright;
                    EXPECT_EQ(std::memcmp(&turned, &expected, sizeof(turned)), 0);
                }
            }
    }
}

}  // namespace
