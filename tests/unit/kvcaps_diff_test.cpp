// kvcaps --diff on hand-made records: papers paired by id and else by size,
// forms paired through their papers and resolutions, pixel tolerance, exit codes.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "records/caps4.h"
#include "records/caps4_json.h"
#include "support/info_records.h"
#include "support/json_form.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;
using namespace testsupport;

json Form(LONG paper, LONG dpi, LONG hres) {
    return WholeForm({{"paprI", paper}, {"logX", dpi}, {"logY", dpi}, {"hres", hres}, {"hsize", 200}});
}

// A4, Letter and a custom paper at 300 and 600 dpi; `change` edits the copy.
json Record() {
    return {{"papers", {9, 1, 260}}, {"paperNames", {"A4", "Letter", "Custom"}},
            {"paperSizes", {{{"width", 2100}, {"length", 2970}}, {{"width", 2159}, {"length", 2794}}, {{"width", 1000}, {"length", 1500}}}},
            {"bins", {15, 256}}, {"binNames", {"Auto", "Tray 1"}}, {"resolutions", {{{"x", 300}, {"y", 300}}, {{"x", 600}, {"y", 600}}}},
            {"forms", {Form(9, 300, 2380), Form(1, 300, 2450), Form(260, 300, 1100), Form(9, 600, 4760), Form(1, 600, 4900), Form(260, 600, 2200)}},
            {"dwDuplex", 1}, {"lowLevel", {{"TextCaps", 7}}}};
}

// The record of the document written to the file, cut after `cut` bytes; its quoted path.
std::wstring Write(const TempDir& dir, const wchar_t* name, const json& document, size_t cut = std::string::npos) {
    QueryBuffers set{};
    EXPECT_TRUE(vlibPRINT_Caps4FromJson(document.dump(), &set));
    const std::string bytes = Take(vlibPRINT_PackCaps4(&set)).substr(0, cut);
    vlibPRINT_FreeQueryBuffers(&set);
    EXPECT_TRUE(std::ofstream(dir.File(name).c_str(), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size())));
    return L"\"" + dir.File(name) + L"\"";
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

}  // namespace
