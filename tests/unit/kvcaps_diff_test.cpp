// kvcaps on hand-made records. --diff: papers paired by id and else by size,
// forms paired through their papers and resolutions, pixel tolerance, exit
// codes. Every command takes every kind of source, told by its content.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "records/caps4.h"
#include "records/caps4_json.h"
#include "records/caps4_layout.h"
#include "records/printer_info.h"
#include "support/info_records.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;
using namespace testsupport;

json Form(LONG paper, LONG dpi, LONG hres) { return {{"paprI", paper}, {"logX", dpi}, {"logY", dpi}, {"hres", hres}, {"hsize", 200}}; }

// A4, Letter and a custom paper at 300 and 600 dpi; `change` edits the copy.
json Record() {
    return {{"papers", {9, 1, 260}}, {"paperNames", {"A4", "Letter", "Custom"}},
            {"paperSizes", {{{"width", 2100}, {"length", 2970}}, {{"width", 2159}, {"length", 2794}}, {{"width", 1000}, {"length", 1500}}}},
            {"bins", {15, 256}}, {"binNames", {"Auto", "Tray 1"}}, {"resolutions", {{{"x", 300}, {"y", 300}}, {{"x", 600}, {"y", 600}}}},
            {"forms", {Form(9, 300, 2380), Form(1, 300, 2450), Form(260, 300, 1100), Form(9, 600, 4760), Form(1, 600, 4900), Form(260, 600, 2200)}},
            {"dwDuplex", 1}, {"lowLevel", {{"TextCaps", 7}}}};
}

std::string Bytes(const json& document) {
    QueryBuffers set{};
    EXPECT_TRUE(vlibPRINT_Caps4FromJson(document.dump(), &set));
    const std::string bytes = Take(vlibPRINT_PackCaps4(&set));
    vlibPRINT_FreeQueryBuffers(&set);
    return bytes;
}
// The bytes written to the file; its quoted path.
std::wstring Write(const TempDir& dir, const wchar_t* name, const std::string& bytes) {
    EXPECT_TRUE(std::ofstream(dir.File(name).c_str(), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size())));
    return L"\"" + dir.File(name) + L"\"";
}
// The record of the document written to the file, cut after `cut` bytes.
std::wstring Write(const TempDir& dir, const wchar_t* name, const json& document, size_t cut = std::string::npos) {
    return Write(dir, name, Bytes(document).substr(0, cut));
}

// An info record of layout R around the capability record, its DEVMODE asking for Letter.
template <class R>
std::string Around(const std::string& caps) {
    std::string bytes(sizeof(R), '\0');
    R* r = reinterpret_cast<R*>(bytes.data());
    r->dwSize = static_cast<DWORD>(bytes.size() + caps.size());
    r->dwOffsetToCaps = sizeof(R);
    r->DevMode.dm.dmFields = DM_PAPERSIZE, r->DevMode.dm.dmPaperSize = DMPAPER_LETTER;
    return bytes + caps;
}
std::string InfoRecord(const std::string& caps) {
    std::string bytes = Around<KVPrinterInfo402>(caps);
    KVPrinterInfo402* r = reinterpret_cast<KVPrinterInfo402*>(bytes.data());
    r->dwRecordVersion = kKVPrinterInfo402Version, r->dwSizeOfCaps = static_cast<DWORD>(caps.size());
    wcscpy(r->szDriverName, L"KV Test Driver");
    return bytes;
}

// The earlier record around the same lists, each form without its number,
// flag and resolution index.
std::string EarlierRecord(const std::string& record) {
    const caps4& c = *As<caps4>(record);
    std::string caps(sizeof(caps2), '\0');
    for (const SectionLayout<caps2>& to : kCaps2Layout) {
        const SectionLayout<caps4>& from = kCaps4Layout[to.kind];
        std::string section = record.substr(c.*from.offset, c.*from.size), forms;
        for (size_t f = 0; to.kind == kSecForms && f < section.size(); f += sizeof(FormEntry))
            forms += section.substr(f + 8, 20) + section.substr(f + 32, 52);
        if (to.kind == kSecForms) section = forms;
        caps2* h = reinterpret_cast<caps2*>(caps.data());
        h->*to.offset = static_cast<DWORD>(caps.size()), h->*to.size = static_cast<DWORD>(section.size()), h->*to.count = c.*from.count;
        caps += section;
    }
    PutAt<DWORD>(caps, 0, static_cast<DWORD>(caps.size()));
    PutAt<DWORD>(caps, offsetof(caps2, dwDuplex), 1);
    return Around<KVPrinterInfo2>(caps);
}

TEST(KvcapsDiff, ReportsWhatDiffersInTheRecordsOwnTermsOneLineEach) {
    auto swapped = [](json r) {  // A4 and Letter change places, with their forms
        for (const char* list : {"papers", "paperNames", "paperSizes"}) std::swap(r[list][0], r[list][1]);
        std::swap(r["forms"][0], r["forms"][1]), std::swap(r["forms"][3], r["forms"][4]);
        return r;
    };
    const struct { const char* what; json b; const wchar_t* options; DWORD exit; std::string output; } cases[] = {
        {"equal", Record(), L"", 0, "no differences\n"},
        {"a custom paper renumbered and a tenth larger is paired by its size, its forms with it",
         [] { json r = Record(); r["papers"][2] = 261; r["paperSizes"][2]["width"] = 1001; r["forms"][5]["hres"] = 2201; return r; }(), L"", 1,
         "paper 260 \"Custom\": id 260 -> 261\npaper 260 \"Custom\": size 1000 x 1500 -> 1001 x 1500\n"
         "form paper 260 at 600 x 600: hres [2200] -> [2201]\n3 differences\n"},
        {"a pixel within --px", [] { json r = Record(); r["forms"][3]["hres"] = 4761; return r; }(), L"--px 1", 0, "no differences\n"},
        {"the order is one difference, the forms follow their papers", swapped(Record()), L"", 1,
         "paper list: order [9,1,260] -> [1,9,260]\n1 difference\n"},
        {"bins by id, a resolution gone with its forms, scalars and graphics by name",
         [] { json r = Record(); r["binNames"][1] = "Tray 2"; r["bins"].push_back(4); r["binNames"].push_back("Manual");
              r["resolutions"].erase(1); for (int k = 0; k < 3; ++k) r["forms"].erase(3); r["dwDuplex"] = 0; r["lowLevel"]["TextCaps"] = 8; return r; }(), L"", 1,
         "bin 256 \"Tray 1\": name \"Tray 1\" -> \"Tray 2\"\nbin 4 \"Manual\": only in B\nresolution 600 x 600: only in A\n"
         "scalar dwDuplex: 1 -> 0\ngraphics TextCaps: 7 -> 8\n5 differences\n"},
    };
    TempDir dir;
    const std::wstring a = Write(dir, L"a.kvp", Record());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string output;
        EXPECT_EQ(RunProgram(L"kvcaps.exe", std::wstring(L"--diff ") + c.options + L" " + a + L" " + Write(dir, L"b.kvp", c.b), &output), c.exit);
        EXPECT_EQ(output, c.output);
    }
    std::string output;  // JSON: the same differences; a record that is not there, or cut, is refused
    EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--diff --json " + a + L" " + Write(dir, L"b.kvp", swapped(Record())), &output), 1u);
    EXPECT_EQ(json::parse(output)["differences"][0]["b"], json({1, 9, 260}));
    EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--diff " + a + L" \"" + dir.File(L"none.kvp") + L"\""), 2u);
    EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--diff " + a + L" " + Write(dir, L"b.kvp", swapped(Record()), 500)), 3u);
}

TEST(KvcapsSources, EveryCommandTakesEveryKindOfSourceByItsContent) {
    TempDir dir;
    json document = Record();  // as the earlier record can hold it: no graphics values, the orientation flag not known (1)
    document.erase("lowLevel");
    for (json& form : document["forms"]) form["orientFlag"] = 1;
    const std::string record = Bytes(document);
    const std::wstring kvp = L" " + Write(dir, L"p.kvp", record);
    const struct { const wchar_t* name; std::string bytes; bool defaults; } sources[] = {
        {L"p.kvp", record, false},
        {L"p.json", "\xEF\xBB\xBF\r\n" + document.dump(1), false},
        {L"p.kvi", InfoRecord(record), true},
        {L"p.kv2", EarlierRecord(record), true},
    };
    const auto run = [](const std::wstring& arguments) {
        std::string output;
        RunProgram(L"kvcaps.exe", arguments, &output);
        return output;
    };
    for (const auto& s : sources) {
        SCOPED_TRACE(std::string(s.name, s.name + wcslen(s.name)));
        const std::wstring file = L" " + Write(dir, s.name, s.bytes);
        std::string output;
        EXPECT_EQ(RunProgram(L"kvcaps.exe", L"--diff" + file + kvp, &output), 0u) << output;
        EXPECT_EQ(output, "no differences\n");
        for (const wchar_t* command : {L"", L"--full", L"--json", L"--html", L"--ipp", L"--ppd"})
            EXPECT_EQ(RunProgram(L"kvcaps.exe", command + file, &output), 0u) << output;
        // Defaults: Letter from the DEVMODE, else A4 (the fallback).
        EXPECT_NE(run(L"--ipp" + file).find(s.defaults ? "media-default na_letter" : "media-default iso_a4"), std::string::npos);
        EXPECT_NE(run(L"--ppd" + file).find(s.defaults ? "*DefaultPageSize: Letter" : "*DefaultPageSize: A4"), std::string::npos);
    }
    // The info record's export is the one --info gives (its defaults, named by its driver).
    const std::wstring kvi = L" " + Write(dir, L"p.kvi", InfoRecord(record));
    EXPECT_EQ(run(L"--ipp" + kvi), run(L"--ipp --info" + kvi));

    std::string cutInfo = InfoRecord(record), cutEarlier = EarlierRecord(record);
    PutAt<DWORD>(cutInfo, offsetof(KVPrinterInfo402, dwSizeOfCaps), static_cast<DWORD>(record.size() + 1));
    PutAt<DWORD>(cutEarlier, sizeof(KVPrinterInfo2) + offsetof(caps2, dwSizeOfForms), 1000000);
    const struct { std::string bytes; const char* says; } damaged[] = {
        {cutInfo, "not a usable printer info record: the capability record"},
        {cutEarlier, "not a usable earlier printer info record: its capability record's forms"},
        {"{\"papers\": [9", "not a usable capability record document"},
    };
    for (const auto& d : damaged)
        for (const std::wstring& command : {std::wstring(), std::wstring(L"--ipp"), std::wstring(L"--ppd"), L"--diff" + kvp}) {
            std::string output;
            EXPECT_EQ(RunProgram(L"kvcaps.exe", command + L" " + Write(dir, L"bad", d.bytes), &output), 3u) << output;
            EXPECT_NE(output.find(d.says), std::string::npos) << output;
        }
}

}  // namespace
