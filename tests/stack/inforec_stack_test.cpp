// Printer info records and form matching on the printers of the private CUPS
// scheduler: records of every version from a live query carry the record
// the refresh run stores, the published list reads back byte for byte, and
// every paper at every resolution slot of each stored record finds its form.
// Without the harness (scripts/test starts it) the tests are skipped.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

#include "platform/kernel.h"
#include "print/form_matching.h"
#include "print/printer_names.h"
#include "printer/printer.h"
#include "printer/printer_keys.h"
#include "records/printer_info.h"
#include "records/printer_info_registry.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace {

using testsupport::Narrow;
using testsupport::RunProgram;

template <class R>
std::string Take(R* record) {
    std::string bytes = record ? std::string(reinterpret_cast<const char*>(record), record->dwSize) : std::string();
    platform::HeapFreeBlock(record);
    return bytes;
}
template <class T>
T Entry(const std::string& record, DWORD offset, size_t i) {
    T value;
    std::memcpy(&value, record.data() + offset + i * sizeof(T), sizeof(T));
    return value;
}

// What each printer's records look like, made once for the suite.
struct Printer {
    std::string refreshed;  // "PrinterData" after kvclient.exe -q
    std::string r400, r401, r402;
};
std::map<std::wstring, Printer> g_printers;

class InfoRecordStack : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* env = std::getenv("KV_CUPS_PRINTERS");
        if (!env || !*env || !std::getenv("CUPS_SERVER")) return;
        const DWORD registry = 1, option = 1;
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPrintersKey, L"CacheMethod", REG_DWORD, &registry, 4);
        std::stringstream list(env);
        for (std::string name; std::getline(list, name, ',');) {
            const std::wstring wide(name.begin(), name.end());
            // A local option, so that the 402 record differs from a converted one there.
            ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (std::wstring(kPrintersKey) + L"\\" + wide).c_str(), L"bPrintAsImage",
                              REG_DWORD, &option, 4);
            g_printers[wide];
        }
        if (RunProgram(L"kvclient.exe", L"-q") != 1) return;
        for (auto& [name, p] : g_printers) {
            p.refreshed.assign(1 << 20, '\0');
            DWORD size = static_cast<DWORD>(p.refreshed.size());
            const std::wstring key = std::wstring(kPrintersKey) + L"\\" + vlibPRINT_PrinterNameToRegistrySafeName(name);
            if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"PrinterData", RRF_RT_REG_BINARY, nullptr,
                               p.refreshed.data(), &size) != ERROR_SUCCESS)
                size = 0;
            p.refreshed.resize(size);
            CPrinter printer(nullptr, name, 1, 0);
            printer.Query(1, nullptr, nullptr);
            p.r400 = Take(printer.CreateKVPrinterInfo400W());
            p.r401 = Take(printer.CreateKVPrinterInfo401W());
            p.r402 = Take(printer.CreateKVPrinterInfo402W());
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

TEST_F(InfoRecordStack, EveryVersionCarriesTheRefreshedRecordAndConvertsToTheDirectOne) {
    for (const auto& [name, p] : g_printers) {
        SCOPED_TRACE(Narrow(name));
        EXPECT_TRUE(p.r400.substr(8608) == p.refreshed && p.r401.substr(8632) == p.refreshed && p.r402.substr(8648) == p.refreshed);
        // From 400 the spooler values (Attributes .. UntilTime) are 0, from 400 and 401 the local options.
        std::string from400 = Take(vlibPRINT_ConvertKVPI400to402(reinterpret_cast<const KVPrinterInfo400*>(p.r400.data())));
        std::string from401 = Take(vlibPRINT_ConvertKVPI401to402(reinterpret_cast<const KVPrinterInfo401*>(p.r401.data())));
        ASSERT_TRUE(from400.size() == p.r402.size() && from401.size() == p.r402.size());
        EXPECT_EQ(from400.substr(4692, 20) + from400.substr(8632, 16) + from401.substr(8632, 16), std::string(52, '\0'));
        EXPECT_EQ(Entry<DWORD>(p.r402, 8636, 0), 1u);  // bPrintAsImage
        from400.replace(4692, 20, p.r402, 4692, 20);
        for (std::string* converted : {&from400, &from401}) {
            converted->replace(8632, 16, p.r402, 8632, 16);
            EXPECT_TRUE(*converted == p.r402);
        }
    }
}

TEST_F(InfoRecordStack, PublishedRecordsReadBackByteForByte) {
    std::string published, output;
    ASSERT_EQ(RunProgram(L"kvcaps.exe", L"--publish --type 16 --session 2 --user stack --connection 5", &published), 0u) << published;
    testsupport::TempDir dir;
    DWORD version = 400;  // the tool's own record: each version on some printer
    for (const auto& [name, p] : g_printers) {
        SCOPED_TRACE(Narrow(name));
        EXPECT_NE(published.find("stored " + Narrow(name) + ": 402 record"), std::string::npos) << published;
        const std::string stored = Take(vlibPRINT_GetKVPrinterInfo(nullptr, name));
        EXPECT_TRUE(stored == p.r402) << stored.size() << " bytes stored, " << p.r402.size() << " built";
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--info-registry \"" + name + L"\"", &output), 0u) << output;
        EXPECT_NE(output.find("Printer info record 402, " + std::to_string(p.r402.size()) + " bytes"), std::string::npos);
        // The tool's own record, its summary with the full dump, and a cut one refused.
        const std::wstring file = dir.File(name + L".kvi");
        ASSERT_EQ(RunProgram(L"kvcaps.exe", L"--info-record \"" + name + L"\" \"" + file + L"\" --version " + std::to_wstring(version)), 0u);
        const std::string written = testsupport::ReadFileBytes(file);
        EXPECT_TRUE(written == (version == 400 ? p.r400 : version == 401 ? p.r401 : stored)) << version;
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--full --info \"" + file + L"\"", &output), 0u) << output;
        EXPECT_NE(output.find("vlibPRINT_LogKVPI4 => szPrinterName:  " + Narrow(name)), std::string::npos) << version;
        std::ofstream(file.c_str(), std::ios::binary).write(written.data(), 9000);
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--info \"" + file + L"\""), 3u);
        version = version == 402 ? 400 : version + 1;
    }
    EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--info-record NoSuchPrinter \"" + dir.File(L"x.kvi") + L"\""), 2u);
}

// The form as a landscape request gets it from a form whose flag is set.
FormEntry Turned(FormEntry f) {
    std::swap(f.resX, f.resY), std::swap(f.hsize, f.vsize), std::swap(f.hres, f.vres), std::swap(f.logX, f.logY);
    std::swap(f.aspX, f.aspY), std::swap(f.physW, f.physH), std::swap(f.offX, f.offY);
    return f;
}

TEST_F(InfoRecordStack, EveryPaperAtEveryResolutionSlotFindsItsFormByCodeNameAndSize) {
    for (const auto& [name, p] : g_printers) {
        SCOPED_TRACE(Narrow(name));
        const std::string& rec = p.refreshed;
        const caps4& h = *reinterpret_cast<const caps4*>(rec.data());
        const DWORD P = h.dwNumPapers, R = h.dwIndexedResolutionsOnly ? h.dwNumResolutionsIndexed : h.dwNumResolutions;
        ASSERT_TRUE(P > 0 && P == h.dwNumPaperNames && P == h.dwNumPaperSize && h.dwNumForms == P * R) << P << " " << R;
        auto code = [&](size_t i) { return Entry<WORD>(rec, h.dwOffsetToPapers, i); };
        auto size = [&](size_t i) { return Entry<PaperSize>(rec, h.dwOffsetToPaperSize, i); };
        auto paperName = [&](size_t i) { return reinterpret_cast<const WCHAR*>(rec.data() + h.dwOffsetToPaperNames) + i * kPaperNameChars; };
        auto real = [&](size_t i) { return Entry<ResolutionPair>(rec, h.dwOffsetToResolutions, i); };
        // The first paper a key names, and whether it names that paper alone.
        auto first = [&](auto same) { DWORD i = 0; while (!same(i)) ++i; return i; };
        auto unique = [&](auto same) { DWORD n = 0; for (DWORD i = 0; i < P; ++i) n += same(i); return n == 1; };
        int checked[3] = {};
        for (DWORD s = 0; s < R; ++s) {
            const DWORD slot = h.dwIndexedResolutionsOnly ? s : first([&](DWORD i) { return real(i).x == real(s).x && real(i).y == real(s).y; });
            for (DWORD paper = 0; paper < P; ++paper) {
                auto byCode = [&](DWORD i) { return code(i) == code(paper); };
                auto byName = [&](DWORD i) { return _wcsnicmp(paperName(i), paperName(paper), kFormNameMatchChars) == 0; };
                auto bySize = [&](DWORD i) { return size(i).width == short(size(paper).width) && size(i).length == short(size(paper).length); };
                for (int key = 0; key < 3; ++key) {
                    DEVMODEW dm = {};
                    if (key == 0) dm.dmFields = DM_PAPERSIZE, dm.dmPaperSize = static_cast<short>(code(paper));
                    if (key == 1 && !unique(byName)) continue;
                    if (key == 1) dm.dmFields = DM_FORMNAME, CopyNameSlot(dm.dmFormName, paperName(paper), kFormNameMatchChars);
                    if (key == 2 && !unique(bySize)) continue;
                    if (key == 2) dm.dmFields = DM_PAPERWIDTH | DM_PAPERLENGTH, dm.dmPaperWidth = short(size(paper).width), dm.dmPaperLength = short(size(paper).length);
                    if (h.dwIndexedResolutionsOnly)
                        dm.dmFields |= DM_PRINTQUALITY, dm.dmPrintQuality = static_cast<short>(-1 - static_cast<LONG>(s));
                    else
                        dm.dmFields |= DM_PRINTQUALITY | DM_YRESOLUTION, dm.dmPrintQuality = short(real(s).x), dm.dmYResolution = short(real(s).y);
                    const FormEntry form = Entry<FormEntry>(rec, h.dwOffsetToForms, slot * P + (key == 0 ? first(byCode) : paper));
                    for (bool landscape : {false, true}) {
                        if (landscape) dm.dmFields |= DM_ORIENTATION, dm.dmOrientation = DMORIENT_LANDSCAPE;
                        DEVMODEW out = {};
                        FormEntry got;
                        vlibPRINT_GetForm(&got, &dm, &out, 100, reinterpret_cast<const caps4*>(rec.data()), nullptr);
                        const FormEntry expected = landscape && form.orientFlag ? Turned(form) : form;
                        EXPECT_EQ(std::memcmp(&got, &expected, sizeof(got)), 0) << "paper " << paper << " slot " << s << " key " << key << (landscape ? " landscape" : "");
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
