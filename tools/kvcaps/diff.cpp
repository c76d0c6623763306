// kvcaps --diff: what differs between two capability records, in the
// record's own terms. Papers are paired by id (a paper whose id has no
// partner of about its size, within half a millimetre, is paired by its size,
// and the ids are reported), bins and media
// types by id and then by name; forms by their paper pair and their
// resolution; the scalar capabilities, graphics values and escape answers by
// name; resolutions and the other lists as sets of values.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <nlohmann/json.hpp>

#include "records/caps4_json.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {

const char kDiffUsageLines[] =
    "       kvcaps --diff [--px N] [--json] SOURCE SOURCE   (exit 0 equal, 1 different)\n";

namespace {

using Json = nlohmann::json;

struct Difference {
    std::string kind, item, field;  // an empty field: the item is only in one record
    Json a, b;                      // the values, or null where the item is missing
};

// The form values compared, and those counted in device pixels.
const char* const kFormFields[] = {"orientFlag", "hsize", "vsize", "hres", "vres", "logX", "logY", "aspX",
                                   "aspY",       "aspXY", "physW", "physH", "offX", "offY"};
bool InPixels(const std::string& field) {
    return field == "hres" || field == "vres" || field == "physW" || field == "physH" || field == "offX" || field == "offY";
}

std::string Text(const Json& value) { return value.is_string() ? value.get<std::string>() : value.dump(); }
std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// An entry of a list with ids and names (papers, bins, media types); the
// names and sizes lists may be shorter than the id list and the reverse.
struct Entry {
    Json id, name, size;
    int partner = -1;
    std::string Item() const { return (id.is_null() ? std::string("-") : Text(id)) + (name.is_null() ? "" : " " + Quoted(Text(name))); }
};
std::vector<Entry> Entries(const Json& doc, const char* ids, const char* names, const char* sizes) {
    std::vector<Entry> list;
    size_t count = std::max(doc[ids].size(), doc[names].size());
    if (sizes) count = std::max(count, doc[sizes].size());
    for (size_t i = 0; i < count; ++i) {
        Entry e;
        if (i < doc[ids].size()) e.id = doc[ids][i];
        if (i < doc[names].size()) e.name = doc[names][i];
        if (sizes && i < doc[sizes].size()) e.size = doc[sizes][i];
        list.push_back(e);
    }
    return list;
}

// A paper size as its reader writes it: "2100 x 2970".
std::string Size(const Json& size) {
    return size.is_null() ? "-" : std::to_string(size["width"].get<long long>()) + " x " + std::to_string(size["length"].get<long long>());
}
// How far apart two sizes are: the larger of the two differences, tenths of a millimetre.
long long SizeGap(const Json& x, const Json& y) {
    return std::max(std::llabs(x["width"].get<long long>() - y["width"].get<long long>()),
                    std::llabs(x["length"].get<long long>() - y["length"].get<long long>()));
}
// Papers this close in size are taken for the same paper when their ids do not pair them.
constexpr long long kSizeSlack = 5;
std::string Pair(const Json& pair) { return std::to_string(pair["x"].get<long long>()) + " x " + std::to_string(pair["y"].get<long long>()); }

class Differ {
public:
    Differ(const Json& a, const Json& b, long px) : a_(a), b_(b), px_(px) {}

    std::vector<Difference> Run() {
        const std::vector<std::pair<int, int>> papers = Listed("paper", "papers", "paperNames", "paperSizes");
        Listed("bin", "bins", "binNames", nullptr);
        Listed("media type", "mediaTypes", "mediaTypeNames", nullptr);
        Values("resolution", "resolutions", Pair);
        Values("indexed resolution", "resolutionsIndexed", Pair);
        Forms(papers);
        for (auto [kind, member] : {std::pair{"file", "files"}, {"media ready", "mediaReady"}, {"N-up", "nup"},
                                    {"personality", "personality"}})
            Values(kind, member, Text);
        for (auto it = a_.begin(); it != a_.end(); ++it)
            if (it->is_number() && (*it) != b_.value(it.key(), Json())) Add("scalar", it.key(), "value", *it, b_.value(it.key(), Json()));
        for (auto [kind, member] : {std::pair{"graphics", "lowLevel"}, {"escape", "escapes"}})
            for (auto it = a_[member].begin(); it != a_[member].end(); ++it)
                if (*it != b_[member][it.key()]) Add(kind, it.key(), "value", *it, b_[member][it.key()]);
        return std::move(out_);
    }

private:
    void Add(const std::string& kind, const std::string& item, const std::string& field, const Json& a, const Json& b) {
        out_.push_back({kind, item, field, a, b});
    }

    // Pairs the entries by id, then what is left by size (papers) or name;
    // reports every unpaired entry and every difference of a pair. The pairs
    // as indexes into A's and B's lists, in A's order.
    std::vector<std::pair<int, int>> Listed(const char* kind, const char* ids, const char* names, const char* sizes) {
        std::vector<Entry> a = Entries(a_, ids, names, sizes), b = Entries(b_, ids, names, sizes);
        auto pairBy = [&](auto same) {
            for (size_t i = 0; i < a.size(); ++i)
                for (size_t j = 0; a[i].partner < 0 && j < b.size(); ++j)
                    if (b[j].partner < 0 && same(a[i], b[j])) a[i].partner = static_cast<int>(j), b[j].partner = static_cast<int>(i);
        };
        // Papers: the same id and about the same size, then about the same size
        // alone (nearest first: a driver of another kind numbers custom papers its
        // own way and may snap sizes to a standard's), then the same id.
        auto alike = [](const Entry& x, const Entry& y) {
            return x.size.is_null() || y.size.is_null() ? x.size == y.size : SizeGap(x.size, y.size) <= kSizeSlack;
        };
        pairBy([&](const Entry& x, const Entry& y) { return !x.id.is_null() && x.id == y.id && (!sizes || alike(x, y)); });
        if (sizes) {
            for (size_t i = 0; i < a.size(); ++i) {
                int best = -1;
                for (size_t j = 0; a[i].partner < 0 && j < b.size(); ++j)
                    if (b[j].partner < 0 && alike(a[i], b[j]) && !a[i].size.is_null() &&
                        (best < 0 || SizeGap(a[i].size, b[j].size) < SizeGap(a[i].size, b[best].size)))
                        best = static_cast<int>(j);
                if (best >= 0) a[i].partner = best, b[best].partner = static_cast<int>(i);
            }
        } else {
            pairBy([](const Entry& x, const Entry& y) { return !x.name.is_null() && x.name == y.name; });
        }
        pairBy([](const Entry& x, const Entry& y) { return !x.id.is_null() && x.id == y.id; });
        std::vector<std::pair<int, int>> pairs;
        for (size_t i = 0; i < a.size(); ++i) {
            const Entry& x = a[i];
            if (x.partner < 0) {
                Add(kind, x.Item(), "", sizes ? Json(Size(x.size)) : Json(true), Json());
                continue;
            }
            const Entry& y = b[x.partner];
            pairs.emplace_back(static_cast<int>(i), x.partner);
            if (x.id != y.id) Add(kind, x.Item(), "id", x.id, y.id);
            if (x.name != y.name) Add(kind, x.Item(), "name", x.name, y.name);
            if (sizes && x.size != y.size) Add(kind, x.Item(), "size", Size(x.size), Size(y.size));
        }
        for (const Entry& y : b)
            if (y.partner < 0) Add(kind, y.Item(), "", Json(), sizes ? Json(Size(y.size)) : Json(true));
        // Forms and the server's lists go by position: a list in another order is a difference of its own.
        bool ordered = true;
        for (size_t k = 1; k < pairs.size(); ++k) ordered = ordered && pairs[k].second > pairs[k - 1].second;
        if (!ordered) {
            Json orderA = Json::array(), orderB = Json::array();
            for (const Entry& x : a) if (x.partner >= 0) orderA.push_back(x.id);
            for (const Entry& y : b) if (y.partner >= 0) orderB.push_back(y.id);
            Add(kind, "list", "order", orderA, orderB);
        }
        return pairs;
    }

    // A list compared as a set of values: each value that only one record has.
    template <class Show>
    void Values(const char* kind, const char* member, Show show) {
        Json a = a_[member], b = b_[member];
        for (const Json& value : a) {
            const auto found = std::find(b.begin(), b.end(), value);
            if (found != b.end()) b.erase(found);
            else Add(kind, show(value), "", true, Json());
        }
        for (const Json& value : b) Add(kind, show(value), "", Json(), true);
    }

    // The list the forms were measured at.
    static const Json& InUse(const Json& doc) {
        return doc["dwIndexedResolutionsOnly"].get<long long>() ? doc["resolutionsIndexed"] : doc["resolutions"];
    }

    // Every form of a paired paper at a resolution both records have: one
    // difference per form, naming each value that differs. Pixel values may
    // differ by px, millimetre values by what px pixels make at the form's dpi.
    void Forms(const std::vector<std::pair<int, int>>& papers) {
        const Json &resA = InUse(a_), &resB = InUse(b_);
        const size_t perA = a_["paperSizes"].size(), perB = b_["paperSizes"].size();
        const Json &formsA = a_["forms"], &formsB = b_["forms"];
        for (size_t ra = 0; ra < resA.size(); ++ra) {
            const auto rb = std::find(resB.begin(), resB.end(), resA[ra]);
            if (rb == resB.end()) continue;  // reported with the resolutions
            for (auto [i, j] : papers) {
                const size_t fa = ra * perA + i, fb = static_cast<size_t>(rb - resB.begin()) * perB + j;
                if (i >= static_cast<int>(perA) || j >= static_cast<int>(perB)) continue;  // no size, no form
                const Json& ids = a_["papers"];
                const std::string item = "paper " + (static_cast<size_t>(i) < ids.size() ? Text(ids[i]) : "-") + " at " + Pair(resA[ra]);
                if (fa >= formsA.size() || fb >= formsB.size()) {
                    if ((fa < formsA.size()) != (fb < formsB.size()))
                        Add("form", item, "", fa < formsA.size() ? Json(true) : Json(), fb < formsB.size() ? Json(true) : Json());
                    continue;
                }
                Json fields = Json::array(), va = Json::array(), vb = Json::array();
                for (const char* field : kFormFields) {
                    const long long x = formsA[fa][field], y = formsB[fb][field];
                    const long long dpi = std::max<long long>(1, formsA[fa][field[0] == 'v' ? "logY" : "logX"]);
                    const bool millimetres = !std::strcmp(field, "hsize") || !std::strcmp(field, "vsize");
                    const long long tolerance = InPixels(field) ? px_ : millimetres ? (px_ * 254 + dpi * 10 - 1) / (dpi * 10) : 0;
                    if (std::llabs(x - y) > tolerance) fields.push_back(field), va.push_back(x), vb.push_back(y);
                }
                if (!fields.empty()) {
                    std::string names;
                    for (const Json& f : fields) names += (names.empty() ? "" : ",") + f.get<std::string>();
                    Add("form", item, names, va, vb);
                }
            }
        }
    }

    const Json &a_, &b_;
    long px_;
    std::vector<Difference> out_;
};

std::string Line(const Difference& d) {
    std::string line = d.kind + " " + d.item + ": ";
    if (d.field.empty()) return line + "only in " + (d.a.is_null() ? "B" : "A") + (d.kind == "paper" ? " (" + Text(d.a.is_null() ? d.b : d.a) + ")" : "");
    if (d.kind == "scalar" || d.kind == "graphics" || d.kind == "escape") return d.kind + " " + d.item + ": " + Text(d.a) + " -> " + Text(d.b);
    if (d.field == "name") return line + "name " + d.a.dump() + " -> " + d.b.dump();
    return line + d.field + " " + Text(d.a) + " -> " + Text(d.b);
}

// The record as the JSON export describes it, or null when it does not load.
Json Document(const std::vector<BYTE>& bytes) {
    QueryBuffers set;
    if (!Unpack(bytes, &set)) return Json();
    const std::string text = vlibPRINT_Caps4Json(&set);
    vlibPRINT_FreeQueryBuffers(&set);
    return Json::parse(text);
}

}  // namespace

int RunDiff(int argc, LPWSTR* argv) {
    Source sources[2];
    int given = 0;
    long px = 0;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--diff") continue;
        if (arg == L"--json") {
            json = true;
        } else if (arg == L"--px" && i + 1 < argc) {
            WCHAR* end = nullptr;
            px = std::wcstol(argv[++i], &end, 10);
            if (*end || px < 0) return Usage();
        } else if (given == 2 || !ParseSource(argc, argv, &i, &sources[given++])) {
            return Usage();
        }
    }
    if (given != 2) return Usage();
    for (Source& source : sources)
        if (const int read = ReadSource(&source); read != kOk) return read;
    const Json a = Document(sources[0].record), b = Document(sources[1].record);
    if (a.is_null() || b.is_null()) {  // both passed their check: only memory can be missing
        std::fprintf(stderr, "kvcaps: out of memory while loading the records\n");
        return kNoMemory;
    }
    const std::vector<Difference> differences = Differ(a, b, px).Run();
    std::string text;
    if (json) {
        Json list = Json::array();
        for (const Difference& d : differences)
            list.push_back({{"kind", d.kind}, {"item", d.item}, {"field", d.field}, {"a", d.a}, {"b", d.b}});
        text = Json({{"a", sources[0].where}, {"b", sources[1].where}, {"px", px}, {"differences", list},
                     {"total", differences.size()}})
                   .dump(2, ' ', false, Json::error_handler_t::replace) +
               "\n";
    } else {
        for (const Difference& d : differences) text += Line(d) + "\n";
        text += differences.empty() ? "no differences\n"
                                    : std::to_string(differences.size()) + (differences.size() == 1 ? " difference\n" : " differences\n");
    }
    const int written = WriteOut(text);
    return written != kOk ? written : differences.empty() ? kOk : kDifferent;
}

}  // namespace kvcaps
