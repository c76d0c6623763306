// A capability record (and the DEVMODE an info record carries) through the
// printer description to the exports: each one well formed in its own syntax.
// The input's first byte says whether its last bytes are a DEVMODE, and
// which one export the record goes through: all four of a record of some
// thousand bytes took some milliseconds, and the choice lies beside the
// record's bytes, so every export still sees every record the fuzzer makes.
#include <set>

#include <nlohmann/json.hpp>

#include "export/ipp_attributes.h"
#include "export/ppd.h"
#include "records/caps4_json.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/kvcaps/kvcaps.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

// A main keyword line is `*Keyword`, a value in quotes may run over lines,
// and no line is longer than 255 bytes.
void CheckPpd(const std::string& ppd) {
    size_t quotes = 0;
    for (const std::string& line : Lines(ppd)) {
        FUZZ_EXPECT(line.size() <= 255);
        if (quotes % 2 == 0 && !line.empty() && line[0] == '*' && line.compare(0, 2, "*%")) {
            FUZZ_EXPECT(line.size() > 1 && std::isalpha(static_cast<unsigned char>(line[1])));
            for (size_t i = 1; i < line.size() && line[i] != ' ' && line[i] != ':'; ++i)
                FUZZ_EXPECT(std::isalnum(static_cast<unsigned char>(line[i])) || line[i] == '-' || line[i] == '_');
        }
        quotes += std::count(line.begin(), line.end(), '"');
    }
    FUZZ_EXPECT(quotes % 2 == 0);
}

// Every ATTR line names a syntax ippeveprinter knows and closes its quotes.
void CheckIpp(const std::string& attributes) {
    static const std::set<std::string> syntaxes = {"integer", "boolean", "enum", "keyword", "name", "text", "uri",
                                                   "uriScheme", "charset", "naturalLanguage", "mimeMediaType",
                                                   "resolution", "rangeOfInteger", "collection", "octetString",
                                                   "dateTime", "no-value", "unknown"};
    for (const std::string& line : Lines(attributes)) {
        if (line.compare(0, 5, "ATTR ")) continue;
        const size_t end = line.find(' ', 5);
        FUZZ_EXPECT(end != std::string::npos && syntaxes.count(line.substr(5, end - 5)));
        size_t quotes = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\') ++i;
            else quotes += line[i] == '"';
        }
        FUZZ_EXPECT(quotes % 2 == 0);
    }
}

}  // namespace

int FuzzInput(const uint8_t* data, size_t size) {
    if (!size) return 0;
    FuzzLog();
    const bool withDevMode = data[0] & 1 && size > 1 + sizeof(DEVMODEW);
    const size_t recordSize = size - 1 - (withDevMode ? sizeof(DEVMODEW) : 0);
    FuzzBlock record(data + 1, recordSize, recordSize);
    FuzzBlock devMode(data + 1 + recordSize, size - 1 - recordSize, sizeof(DEVMODEW));
    QueryBuffers set{};
    if (!vlibPRINT_UnpackCaps4(&set, record.as<caps4>(), recordSize)) return 0;
    const int which = data[0] >> 1 & 3;
    const PrinterDescription description =
        which != 2 ? vlibPRINT_DescribePrinter(&set, withDevMode ? devMode.as<DEVMODEW>() : nullptr, L"Fuzz Laser 9") : PrinterDescription{};
    std::vector<std::string> moved;
    if (which == 0) CheckIpp(vlibPRINT_IppAttributes(description));
    if (which == 1) CheckPpd(vlibPRINT_PpdText(vlibPRINT_PpdPrinter(description, "Fuzz Laser 9"), &moved));
    if (which == 2) FUZZ_EXPECT(nlohmann::json::accept(vlibPRINT_Caps4Json(&set)));
    if (which == 3) {
        // No name reaches the page report as markup.
        const std::string html = kvcaps::WriteHtmlExport(record.bytes, L"P<b>") == kvcaps::kOk ? fuzzOut : std::string();
        FUZZ_EXPECT(html.find("P<b>") == std::string::npos);
        for (const DescribedPaper& paper : description.papers)
            FUZZ_EXPECT(paper.name.find(L'<') == std::wstring::npos || html.find(platform::Utf8(paper.name.c_str())) == std::string::npos);
    }
    vlibPRINT_FreeQueryBuffers(&set);
    return 0;
}
