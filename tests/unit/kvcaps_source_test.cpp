// kvcaps takes every kind of source with every command, told by its content:
// a capability record, a printer info record, the earlier info record and a
// record's JSON document; an info record's DEVMODE gives the defaults.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "records/caps4.h"
#include "records/caps4_json.h"
#include "records/printer_info.h"
#include "support/info_records.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;
using namespace testsupport;

// A4 and Letter at 300 dpi. The earlier record cannot say whether turning
// the page changes it, which reads as 1: the forms here say 1 too.
json Form(LONG paper, LONG physW, LONG physH) {
    return {{"orientFlag", 1}, {"paprI", paper}, {"logX", 300}, {"logY", 300}, {"physW", physW}, {"physH", physH},
            {"offX", 50}, {"offY", 50}, {"hres", physW - 100}, {"vres", physH - 100}, {"hsize", 200}, {"vsize", 280}};
}
json Document() {
    return {{"papers", {9, 1}}, {"paperNames", {"A4", "Letter"}},
            {"paperSizes", {{{"width", 2099}, {"length", 2970}}, {{"width", 2159}, {"length", 2794}}}},
            {"bins", {15}}, {"binNames", {"Auto"}}, {"resolutions", {{{"x", 300}, {"y", 300}}}},
            {"forms", {Form(9, 2479, 3508), Form(1, 2550, 3300)}}, {"dwDuplex", 1}};
}
std::string Record() {
    QueryBuffers set{};
    EXPECT_TRUE(vlibPRINT_Caps4FromJson(Document().dump(), &set));
    std::string bytes = Take(vlibPRINT_PackCaps4(&set));
    vlibPRINT_FreeQueryBuffers(&set);
    return bytes;
}

// A 402 record around the capability record, its DEVMODE asking for Letter.
std::string InfoRecord(const std::string& caps) {
    std::string bytes(sizeof(KVPrinterInfo402), '\0');
    KVPrinterInfo402* r = reinterpret_cast<KVPrinterInfo402*>(bytes.data());
    r->dwSize = static_cast<DWORD>(bytes.size() + caps.size());
    r->dwRecordVersion = kKVPrinterInfo402Version;
    wcscpy(r->szDriverName, L"KV Test Driver");
    r->DevMode.dm.dmSize = sizeof(DEVMODEW);
    r->DevMode.dm.dmFields = DM_PAPERSIZE;
    r->DevMode.dm.dmPaperSize = DMPAPER_LETTER;
    r->dwOffsetToCaps = sizeof(KVPrinterInfo402);
    r->dwSizeOfCaps = static_cast<DWORD>(caps.size());
    return bytes + caps;
}

// The earlier record with the same printer in its earlier capability record.
std::string EarlierRecord() {
    const json d = Document();
    std::string bin(kBinNameBytes, '\0'), names(2 * kPaperNameBytes, '\0');
    for (size_t i = 0; i < 4; ++i) bin[2 * i] = "Auto"[i];
    for (size_t i = 0; i < 6; ++i) names[2 * i] = "A4"[i < 2 ? i : 2], names[kPaperNameBytes + 2 * i] = "Letter"[i];
    std::string bins(2, '\0'), papers(4, '\0'), sizes(16, '\0'), res(8, '\0'), forms;
    PutAt<WORD>(bins, 0, 15), PutAt<WORD>(papers, 0, 9), PutAt<WORD>(papers, 2, 1);
    PutAt<LONG>(sizes, 0, 2099), PutAt<LONG>(sizes, 4, 2970), PutAt<LONG>(sizes, 8, 2159), PutAt<LONG>(sizes, 12, 2794);
    PutAt<LONG>(res, 0, 300), PutAt<LONG>(res, 4, 300);
    for (const json& f : d["forms"]) {
        const FormEntry2 e = {f["paprI"], 0, 0, 0, 0, f["hsize"], f["vsize"], f["hres"], f["vres"], 300, 300, 0, 0, 0,
                              f["physW"], f["physH"], f["offX"], f["offY"]};
        forms.append(reinterpret_cast<const char*>(&e), sizeof(e));
    }
    std::string caps(sizeof(caps2), '\0');
    caps2* h = reinterpret_cast<caps2*>(caps.data());
    const auto add = [&](const std::string& section, DWORD count, DWORD caps2::*offset, DWORD caps2::*size, DWORD caps2::*num) {
        h = reinterpret_cast<caps2*>(caps.data());
        h->*offset = static_cast<DWORD>(caps.size()), h->*size = static_cast<DWORD>(section.size()), h->*num = count;
        caps += section;
    };
    add(bin, 1, &caps2::dwOffsetToBinNames, &caps2::dwSizeOfBinNames, &caps2::dwNumBinNames);
    add(bins, 1, &caps2::dwOffsetToBins, &caps2::dwSizeOfBins, &caps2::dwNumBins);
    add(res, 1, &caps2::dwOffsetToResolutions, &caps2::dwSizeOfResolutions, &caps2::dwNumResolutions);
    add(names, 2, &caps2::dwOffsetToPaperNames, &caps2::dwSizeOfPaperNames, &caps2::dwNumPaperNames);
    add(papers, 2, &caps2::dwOffsetToPapers, &caps2::dwSizeOfPapers, &caps2::dwNumPapers);
    add(sizes, 2, &caps2::dwOffsetToPaperSize, &caps2::dwSizeOfPaperSize, &caps2::dwNumPaperSize);
    add(forms, 2, &caps2::dwOffsetToForms, &caps2::dwSizeOfForms, &caps2::dwNumForms);
    h = reinterpret_cast<caps2*>(caps.data());
    h->dwSize = static_cast<DWORD>(caps.size());
    h->dwDuplex = 1;
    std::string bytes(sizeof(KVPrinterInfo2), '\0');
    KVPrinterInfo2* r = reinterpret_cast<KVPrinterInfo2*>(bytes.data());
    r->dwSize = static_cast<DWORD>(bytes.size() + caps.size());
    r->dwOffsetToCaps = sizeof(KVPrinterInfo2);
    r->DevMode.dm.dmFields = DM_PAPERSIZE;
    r->DevMode.dm.dmPaperSize = DMPAPER_LETTER;
    return bytes + caps;
}

std::wstring Write(const TempDir& dir, const wchar_t* name, const std::string& bytes) {
    EXPECT_TRUE(std::ofstream(dir.File(name).c_str(), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size())));
    return L" \"" + dir.File(name) + L"\"";
}

TEST(KvcapsSources, EveryCommandTakesEveryKindOfSourceByItsContent) {
    TempDir dir;
    const std::string record = Record();
    const std::wstring kvp = Write(dir, L"p.kvp", record);
    const struct { const wchar_t* name; std::string bytes; bool defaults; } sources[] = {
        {L"p.kvp", record, false},
        {L"p.json", "\xEF\xBB\xBF\r\n" + Document().dump(1), false},
        {L"p.kvi", InfoRecord(record), true},
        {L"p.kv2", EarlierRecord(), true},
    };
    for (const auto& s : sources) {
        SCOPED_TRACE(std::string(s.name, s.name + wcslen(s.name)));
        const std::wstring file = Write(dir, s.name, s.bytes);
        std::string output;
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--diff" + file + kvp, &output), 0u) << output;
        EXPECT_EQ(output, "no differences\n");
        for (const wchar_t* command : {L"", L"--full", L"--json", L"--html", L"--ipp", L"--ppd"})
            EXPECT_EQ(RunProgram(L"kvcaps.exe", command + file, &output), 0u) << output;
        // Defaults: Letter from the DEVMODE, else A4 (the fallback) and the first paper.
        RunProgram(L"kvcaps.exe", L"--ipp" + file, &output);
        EXPECT_NE(output.find(s.defaults ? "media-default na_letter" : "media-default iso_a4"), std::string::npos) << output;
        RunProgram(L"kvcaps.exe", L"--ppd" + file, &output);
        EXPECT_NE(output.find(s.defaults ? "*DefaultPageSize: Letter" : "*DefaultPageSize: A4"), std::string::npos);
    }
    // The info record's export is the one --info gives, named by its driver.
    std::string byContent, byOption;
    RunProgram(L"kvcaps.exe", L"--ipp" + Write(dir, L"p.kvi", InfoRecord(record)), &byContent);
    RunProgram(L"kvcaps.exe", L"--ipp --info" + Write(dir, L"p.kvi", InfoRecord(record)), &byOption);
    EXPECT_EQ(byContent, byOption);
    EXPECT_NE(byContent.find("\"KV Test Driver\""), std::string::npos);

    // A damaged source of each kind is refused by every command, with its kind named.
    std::string cutInfo = InfoRecord(record), cutEarlier = EarlierRecord(), cutRecord = record;
    PutAt<DWORD>(cutInfo, offsetof(KVPrinterInfo402, dwSizeOfCaps), static_cast<DWORD>(record.size() + 1));
    PutAt<DWORD>(cutEarlier, sizeof(KVPrinterInfo2) + offsetof(caps2, dwSizeOfForms), 1000000);
    PutAt<DWORD>(cutRecord, 0, static_cast<DWORD>(record.size() - 1));
    const struct { std::string bytes; const char* says; } damaged[] = {
        {cutInfo, "not a usable printer info record: the capability record"},
        {cutEarlier, "not a usable earlier printer info record: its capability record's forms"},
        {cutRecord, "not a usable capability record"},
        {"{\"papers\": [9", "not a usable capability record document"},
    };
    for (const auto& d : damaged)
        for (const std::wstring& command : {std::wstring(), std::wstring(L"--ipp"), std::wstring(L"--ppd"), L"--diff" + kvp}) {
            std::string output;
            EXPECT_EQ(RunProgram(L"kvcaps.exe", command + Write(dir, L"bad", d.bytes), &output), 3u) << output;
            EXPECT_NE(output.find(d.says), std::string::npos) << output;
        }
}

}  // namespace
