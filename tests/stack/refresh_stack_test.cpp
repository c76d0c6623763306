// The main job from end to end: the real kvclient.exe runs "-q" under Wine
// over the private CUPS scheduler, once per store (registry, printer data,
// file), and every printer's record is taken out of the store and checked
// against what the driver reports now. Then "-d -x" clears the Printers keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "harness.h"
#include "print/printer_names.h"
#include "records/caps4.h"
#include "printer/printer_keys.h"
#include "records/caps4_check.h"
#include "support/registry_steering.h"
#include "support/run_program.h"

namespace {

using namespace testsupport;

std::string PrinterDataRecord(const std::wstring& printer) {
    HANDLE handle = nullptr;
    if (!::OpenPrinterW(const_cast<LPWSTR>(printer.c_str()), &handle, nullptr)) return {};
    WCHAR name[] = L"KVPrinterInfo";
    std::string bytes(1 << 20, '\0');
    DWORD type = 0, size = 0;
    const DWORD status = ::GetPrinterDataW(handle, name, &type, reinterpret_cast<BYTE*>(bytes.data()),
                                           static_cast<DWORD>(bytes.size()), &size);
    ::ClosePrinter(handle);
    return status == ERROR_SUCCESS ? bytes.substr(0, size) : std::string();
}

// Checks one stored record and its lists against the driver (the stack tests
// of the queries compare every form): the papers, bins and resolutions entry
// by entry, and a form for every paper size at every resolution of the list in use.
void CheckRecord(const std::wstring& printer, const std::string& bytes) {
    WCHAR why[256] = {};
    ASSERT_TRUE(vlibPRINT_CheckCaps4(bytes.data(), bytes.size(), why, 256)) << Narrow(why);  // sizes and section bounds
    const caps4& h = *reinterpret_cast<const caps4*>(bytes.data());
    const struct { WORD index; DWORD width, count, offset; } lists[] = {
        {DC_PAPERNAMES, kPaperNameBytes, h.dwNumPaperNames, h.dwOffsetToPaperNames},
        {DC_PAPERS, kPaperIdBytes, h.dwNumPapers, h.dwOffsetToPapers},
        {DC_PAPERSIZE, kPaperSizeBytes, h.dwNumPaperSize, h.dwOffsetToPaperSize},
        {DC_BINNAMES, kBinNameBytes, h.dwNumBinNames, h.dwOffsetToBinNames},
        {DC_BINS, kBinIdBytes, h.dwNumBins, h.dwOffsetToBins}};
    for (const auto& list : lists) harness::ExpectSameList(printer, list.index, list.width, bytes.data(), list.count, list.offset);
    // Wine's driver reports no resolution pairs: the record then lists none.
    if (platform::spooler.DeviceCapabilitiesW(printer.c_str(), nullptr, DC_ENUMRESOLUTIONS, nullptr, nullptr) > 0)
        harness::ExpectSameList(printer, DC_ENUMRESOLUTIONS, kResolutionBytes, bytes.data(), h.dwNumResolutions, h.dwOffsetToResolutions);
    else
        EXPECT_EQ(h.dwNumResolutions, 0u);
    const DWORD resolutions = h.dwIndexedResolutionsOnly ? h.dwNumResolutionsIndexed : h.dwNumResolutions;
    EXPECT_TRUE(resolutions > 0 && h.dwNumForms == h.dwNumPaperSize * resolutions) << h.dwNumForms << " forms";
    EXPECT_EQ(h.lowLevel.Technology, DT_RASPRINTER);
}

class RefreshStack : public ::testing::TestWithParam<DWORD> {
protected:
    void SetUp() override {
        KV_SKIP_WITHOUT_HARNESS();
        SetRealDword(HKEY_LOCAL_MACHINE, kClientKey, L"Log", 1);
        SetRealString(HKEY_LOCAL_MACHINE, kClientKey, L"LogPath", log_);
    }
    void TearDown() override {
        for (const auto& [key, name] : {std::pair{kClientKey, L"Log"}, {kClientKey, L"LogPath"},
                                        {kPrintersKey, L"CacheMethod"}, {kProductKey, L"CachePath"}})
            ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key, name);
    }
    testsupport::TempDir dir_;
    std::wstring log_ = dir_.File(L"kvclient.log");
    std::wstring folder_ = dir_.path() + L"\\";
    std::vector<std::wstring> printers_ = harness::List(L"KV_CUPS_PRINTERS");
};

TEST_P(RefreshStack, EveryPrinterGetsACheckedRecordInItsStore) {
    const DWORD method = GetParam();
    SetRealDword(HKEY_LOCAL_MACHINE, kPrintersKey, L"CacheMethod", method);
    if (method == 4) SetRealString(HKEY_LOCAL_MACHINE, kProductKey, L"CachePath", folder_);
    SetRealDword(HKEY_CURRENT_USER, std::wstring(kPrintersKey) + L"\\stack", L"CacheMethod", 2);  // a key below it for "-x"
    ASSERT_EQ(RunProgram(L"kvclient.exe", L"-q"), 1u);

    const auto lines = testsupport::ReadLogLines(log_);
    auto count = [&](const std::string& line) { return std::count(lines.begin(), lines.end(), line); };
    for (const std::wstring& printer : printers_) {
        SCOPED_TRACE(Narrow(printer));
        const std::wstring safeName = vlibPRINT_PrinterNameToRegistrySafeName(printer);
        const std::string bytes = method == 1 ? RealValue(HKEY_LOCAL_MACHINE, PrinterKeyPath(safeName), L"PrinterData")
                                  : method == 3 ? PrinterDataRecord(printer) : ReadFileBytes(folder_ + safeName + L".kvp");
        ASSERT_FALSE(bytes.empty()) << "no record in the store of method " << method;
        CheckRecord(printer, bytes);
    }

    if (method == 4) {
        // The inspection tool reads a stored record and refuses a cut one (exit code 3).
        const std::wstring file = folder_ + vlibPRINT_PrinterNameToRegistrySafeName(printers_[0]) + L".kvp";
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"\"" + file + L"\""), 0u);
        const std::string bytes = testsupport::ReadFileBytes(file);
        const std::wstring cut = folder_ + L"cut.kvp";
        std::ofstream(cut.c_str(), std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2));
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"\"" + cut + L"\""), 3u);
        // A bin list whose fetch failed keeps its space with count 0: sound.
        std::string dropped = bytes;
        caps4& d = *reinterpret_cast<caps4*>(dropped.data());
        std::fill_n(dropped.begin() + d.dwOffsetToBinNames, d.dwSizeOfBinNames, '\0');
        d.dwNumBinNames = 0;
        const std::wstring droppedFile = folder_ + L"./dropped";  // no extension, a dot before its name
        std::ofstream(droppedFile.c_str(), std::ios::binary).write(dropped.data(), static_cast<std::streamsize>(dropped.size()));
        std::string summary;
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"\"" + droppedFile + L"\"", &summary), 0u) << summary;
        const caps4& h = *reinterpret_cast<const caps4*>(bytes.data());
        EXPECT_NE(summary.find("Bins (" + std::to_string(h.dwNumBins) + " ids, 0 names):"), std::string::npos) << summary;
        const std::string custom = "Custom paper sizes: " + std::to_string(LOWORD(h.dwMinExtent) / 10) + ".";  // Wine's extents
        EXPECT_NE(summary.find(custom), std::string::npos) << custom;
        // Its JSON document gives it back byte for byte, the names' reserved space included; a document
        // with a member no record has is refused as damaged.
        std::string document;
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--json \"" + droppedFile + L"\"", &document), 0u);
        const std::wstring json = folder_ + L"dropped.json", back = folder_ + L"back.kvp";
        std::ofstream(json.c_str(), std::ios::binary) << document;
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--from-json \"" + json + L"\" \"" + back + L"\""), 0u);
        EXPECT_EQ(testsupport::ReadFileBytes(back), dropped);
        std::ofstream(json.c_str(), std::ios::binary) << "{\"dwColour\": 1}";
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--from-json \"" + json + L"\" \"" + back + L"\"", &document), 3u) << document;
    }

    EXPECT_EQ(count("CPrinter::Query => failed to cache data...") + count("CPrinter::Query => printer is not available for query"), 0);

    // "-d" and "-x" remove both Printers keys with everything below them.
    EXPECT_EQ(RunProgram(L"kvclient.exe", L"-d -x"), 1u);
    EXPECT_FALSE(RealKeyExists(HKEY_LOCAL_MACHINE, kPrintersKey) || RealKeyExists(HKEY_CURRENT_USER, kPrintersKey));
}

INSTANTIATE_TEST_SUITE_P(Stores, RefreshStack, ::testing::Values(1u, 3u, 4u),
                         [](const ::testing::TestParamInfo<DWORD>& info) { return "CacheMethod" + std::to_string(info.param); });

}  // namespace
