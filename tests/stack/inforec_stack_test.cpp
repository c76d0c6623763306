// Printer info records and form matching on the printers of the private CUPS
// scheduler: records of every version from a live query carry the record
// the refresh run stores, the published list reads back byte for byte, and
// every paper at every resolution slot of each stored record finds its form.
// Without the harness (scripts/test starts it) the tests are skipped.
#include <gtest/gtest.h>

#include <cstdio>
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

TEST_F(InfoRecordStack, EveryPaperAtEveryResolutionSlotFindsItsFormByCodeNameAndSize) {
    for (const auto& [name, p] : g_printers) {
        SCOPED_TRACE(Narrow(name));
        const std::string& rec = p.refreshed;
        const caps4& h = *reinterpret_cast<const caps4*>(rec.data());
        const DWORD P = h.dwNumPapers, R = h.dwIndexedResolutionsOnly ? h.dwNumResolutionsIndexed : h.dwNumResolutions;
        ASSERT_TRUE(P > 0 && P == h.dwNumPaperNames && P == h.dwNumPaperSize && h.dwNumForms == P * R) << P << " " << R;
        auto code = [&](size_t i) { return At<WORD>(rec, h.dwOffsetToPapers, i); };
        auto size = [&](size_t i) { return At<PaperSize>(rec, h.dwOffsetToPaperSize, i); };
        auto paperName = [&](size_t i) { return reinterpret_cast<const WCHAR*>(rec.data() + h.dwOffsetToPaperNames) + i * kPaperNameChars; };
        auto real = [&](size_t i) { return At<ResolutionPair>(rec, h.dwOffsetToResolutions, i); };
        // The first paper a key names, and whether it names that paper alone.
        auto first = [&](auto same) { DWORD i = 0; while (!same(i)) ++i; return i; };
        auto unique = [&](auto same) { DWORD n = 0; for (DWORD i = 0; i < P; ++i) n += same(i); return n == 1; };
        int checked[3] = {};
        for (DWORD s = 0; s < R; ++s) {
            const DWORD slot =
                h.dwIndexedResolutionsOnly ? s : first([&](DWORD i) { return real(i).x == real(s).x && real(i).y == real(s).y; });
            for (DWORD paper = 0; paper < P; ++paper) {
                auto byCode = [&](DWORD i) { return code(i) == code(paper); };
                auto byName = [&](DWORD i) { return _wcsnicmp(paperName(i), paperName(paper), kFormNameMatchChars) == 0; };
                auto bySize = [&](DWORD i) {
                    return size(i).width == short(size(paper).width) && size(i).length == short(size(paper).length);
                };
                for (int key = 0; key < 3; ++key) {
                    DEVMODEW dm = {};
                    if (key == 0) dm.dmFields = DM_PAPERSIZE, dm.dmPaperSize = static_cast<short>(code(paper));
                    if (key == 1 && !unique(byName)) continue;
                    if (key == 1) dm.dmFields = DM_FORMNAME, CopyNameSlot(dm.dmFormName, paperName(paper), kFormNameMatchChars);
                    if (key == 2 && !unique(bySize)) continue;
                    if (key == 2) {
                        dm.dmFields = DM_PAPERWIDTH | DM_PAPERLENGTH;
                        dm.dmPaperWidth = short(size(paper).width), dm.dmPaperLength = short(size(paper).length);
                    }
                    if (h.dwIndexedResolutionsOnly)
                        dm.dmFields |= DM_PRINTQUALITY, dm.dmPrintQuality = static_cast<short>(-1 - static_cast<LONG>(s));
                    else
                        dm.dmFields |= DM_PRINTQUALITY | DM_YRESOLUTION, dm.dmPrintQuality = short(real(s).x),
                        dm.dmYResolution = short(real(s).y);
                    const FormEntry form = At<FormEntry>(rec, h.dwOffsetToForms, slot * P + (key == 0 ? first(byCode) : paper));
                    for (bool landscape : {false, true}) {
                        if (landscape) dm.dmFields |= DM_ORIENTATION, dm.dmOrientation = DMORIENT_LANDSCAPE;
                        DEVMODEW out = {};
                        FormEntry got;
                        vlibPRINT_GetForm(&got, &dm, &out, 100, reinterpret_cast<const caps4*>(rec.data()), nullptr);
                        const FormEntry expected = landscape && form.orientFlag ? Turned(form) : form;
                        EXPECT_EQ(std::memcmp(&got, &expected, sizeof(got)), 0)
                            << "paper " << paper << " slot " << s << " key " << key << (landscape ? " landscape" : "");
                    }
                    ++checked[key];
                }
            }
        }
        std::printf("[ property ] %s: %lu papers x %lu resolution slots: %d requests by code, %d by name, %d by size\n",
                    Narrow(name).c_str(), static_cast<unsigned long>(P), static_cast<unsigned long>(R), checked[0], checked[1], checked[2]);
    }
}

}  // namespace
