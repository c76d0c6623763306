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

#include "records/caps4_fields.h"
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
const NamedValue<FormEntry> kComparedForm[] = {
    {"orientFlag", &FormEntry::orientFlag}, {"hsize", &FormEntry::hsize}, {"vsize", &FormEntry::vsize},
    {"hres", &FormEntry::hres},             {"vres", &FormEntry::vres},   {"logX", &FormEntry::logX},
    {"logY", &FormEntry::logY},             {"aspX", &FormEntry::aspX},   {"aspY", &FormEntry::aspY},
    {"aspXY", &FormEntry::aspXY},           {"physW", &FormEntry::physW}, {"physH", &FormEntry::physH},
    {"offX", &FormEntry::offX},             {"offY", &FormEntry::offY}};
bool InPixels(const LONG FormEntry::*field) {
    return field == &FormEntry::hres || field == &FormEntry::vres || field == &FormEntry::physW ||
           field == &FormEntry::physH || field == &FormEntry::offX || field == &FormEntry::offY;
}

std::string Text(const Json& value) { return value.is_string() ? value.get<std::string>() : value.dump(); }
std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

bool Equal(const ResolutionPair& x, const ResolutionPair& y) { return x.x == y.x && x.y == y.y; }
bool Equal(const PaperSize& x, const PaperSize& y) { return x.width == y.width && x.length == y.length; }
bool Equal(const std::string& x, const std::string& y) { return x == y; }
bool Equal(DWORD x, DWORD y) { return x == y; }

// An entry of a list with ids and names (papers, bins, media types); the
// names and sizes lists may be shorter than the id list and the reverse.
struct Entry {
    bool hasId = false, hasName = false, hasSize = false;
    DWORD id = 0;
    std::string name;
    PaperSize size = {};
    int partner = -1;
    Json Id() const { return hasId ? Json(id) : Json(); }
    Json Name() const { return hasName ? Json(name) : Json(); }
    std::string Item() const { return (hasId ? std::to_string(id) : std::string("-")) + (hasName ? " " + Quoted(name) : ""); }
};
// The lists of one block, each through its accessor (which knows the list's bounds).
struct Block {
    std::vector<DWORD> ids;
    std::vector<std::string> names;
    std::vector<PaperSize> sizes;
};
template <class B, class Id>
Block Read(const B* block, bool (*idAt)(const B*, DWORD, Id*), const WCHAR* (*nameAt)(const B*, DWORD), size_t chars) {
    Block lists;
    Id id = 0;
    for (DWORD i = 0; block && idAt(block, i, &id); ++i) lists.ids.push_back(id);
    for (DWORD i = 0; block && nameAt(block, i); ++i) lists.names.push_back(Utf8(nameAt(block, i), chars));
    return lists;
}
std::vector<Entry> Entries(const Block& lists, bool sizes) {
    std::vector<Entry> list(std::max({lists.ids.size(), lists.names.size(), sizes ? lists.sizes.size() : 0}));
    for (size_t i = 0; i < list.size(); ++i) {
        Entry& e = list[i];
        if ((e.hasId = i < lists.ids.size())) e.id = lists.ids[i];
        if ((e.hasName = i < lists.names.size())) e.name = lists.names[i];
        if ((e.hasSize = sizes && i < lists.sizes.size())) e.size = lists.sizes[i];
    }
    return list;
}
std::vector<std::string> Names(const WCHAR* slots, DWORD count, size_t chars) {
    std::vector<std::string> list;
    for (DWORD i = 0; slots && i < count; ++i) list.push_back(Utf8(slots + i * chars, chars));
    return list;
}
std::vector<ResolutionPair> Pairs(const ResolutionPair* pairs, DWORD count) {
    return pairs ? std::vector<ResolutionPair>(pairs, pairs + count) : std::vector<ResolutionPair>();
}

// A record as the diff compares it, from its unpacked set.
struct Record {
    const QueryBuffers* set;
    Block papers, bins, media;
    std::vector<ResolutionPair> resolutions, indexed;
    std::vector<std::string> files, mediaReady, personality;
    std::vector<DWORD> nup;
    LowLevelCaps lowLevel = {};

    explicit Record(const QueryBuffers* s)
        : set(s),
          papers(Read(s->pPapers, PaperIdAt, PaperNameAt, kPaperNameChars)),
          bins(Read(s->pBins, BinIdAt, BinNameAt, kBinNameChars)),
          media(Read(s->pMedias, MediaIdAt, MediaNameAt, kMediaNameChars)),
          resolutions(Pairs(s->pResolutions, s->dwNumResolutions)),
          indexed(Pairs(s->pResolutionsIndexed, s->dwNumResolutionsIndexed)),
          files(Names(s->pFiles, s->dwNumFiles, kFileNameChars)),
          mediaReady(Names(s->pMediaReady, s->dwNumMediaReady, kMediaReadyChars)),
          personality(Names(s->pPersonality, s->dwNumPersonality, kPersonalityChars)) {
        PaperSize size = {};
        for (DWORD i = 0; s->pPapers && PaperSizeAt(s->pPapers, i, &size); ++i) papers.sizes.push_back(size);
        if (s->pNUP) nup.assign(s->pNUP, s->pNUP + s->dwNumNUP);
        if (s->pLowLevel) lowLevel = *s->pLowLevel;
    }
    // The list the forms were measured at.
    const std::vector<ResolutionPair>& InUse() const { return set->dwIndexedResolutionsOnly ? indexed : resolutions; }
};

// A paper size as its reader writes it: "2100 x 2970".
std::string Size(const Entry& e) {
    return e.hasSize ? std::to_string(e.size.width) + " x " + std::to_string(e.size.length) : "-";
}
// How far apart two sizes are: the larger of the two differences, tenths of a millimetre.
long long SizeGap(const PaperSize& x, const PaperSize& y) {
    return std::max(std::llabs(static_cast<long long>(x.width) - y.width), std::llabs(static_cast<long long>(x.length) - y.length));
}
// Papers this close in size are taken for the same paper when their ids do not pair them.
constexpr long long kSizeSlack = 5;
std::string Pair(const ResolutionPair& pair) { return std::to_string(pair.x) + " x " + std::to_string(pair.y); }
std::string Number(DWORD value) { return std::to_string(value); }
std::string Same(const std::string& name) { return name; }

// The fields of a table in the order of their names.
template <class T, size_t N>
std::vector<NamedValue<T>> ByName(const NamedValue<T> (&fields)[N], size_t from, size_t to) {
    std::vector<NamedValue<T>> sorted(fields + from, fields + to);
    std::sort(sorted.begin(), sorted.end(), [](const auto& x, const auto& y) { return std::strcmp(x.name, y.name) < 0; });
    return sorted;
}

class Differ {
public:
    Differ(const Record& a, const Record& b, long px) : a_(a), b_(b), px_(px) {}

    std::vector<Difference> Run() {
        const std::vector<std::pair<int, int>> papers = Listed("paper", a_.papers, b_.papers, true);
        Listed("bin", a_.bins, b_.bins, false);
        Listed("media type", a_.media, b_.media, false);
        Values("resolution", a_.resolutions, b_.resolutions, Pair);
        Values("indexed resolution", a_.indexed, b_.indexed, Pair);
        Forms(papers);
        Values("file", a_.files, b_.files, Same);
        Values("media ready", a_.mediaReady, b_.mediaReady, Same);
        Values("N-up", a_.nup, b_.nup, Number);
        Values("personality", a_.personality, b_.personality, Same);
        // The scalars, graphics values and escape answers in the order of their names.
        static const std::vector<NamedScalar> scalars = [] {
            std::vector<NamedScalar> sorted(std::begin(kNamedScalars), std::end(kNamedScalars));
            std::sort(sorted.begin(), sorted.end(), [](const auto& x, const auto& y) { return std::strcmp(x.name, y.name) < 0; });
            return sorted;
        }();
        for (const NamedScalar& s : scalars) {
            const LONG x = static_cast<LONG>(a_.set->*s.member), y = static_cast<LONG>(b_.set->*s.member);
            if (x != y) Add("scalar", s.name, "value", x, y);
        }
        static const std::vector<NamedValue<LowLevelCaps>> graphics = ByName(kLowLevelFields, 0, kDeviceValues),
                                                           escapes = ByName(kLowLevelFields, kDeviceValues, std::size(kLowLevelFields));
        for (auto [kind, fields] : {std::pair{"graphics", &graphics}, {"escape", &escapes}})
            for (const NamedValue<LowLevelCaps>& f : *fields)
                if (a_.lowLevel.*f.member != b_.lowLevel.*f.member) Add(kind, f.name, "value", a_.lowLevel.*f.member, b_.lowLevel.*f.member);
        return std::move(out_);
    }

private:
    void Add(const std::string& kind, const std::string& item, const std::string& field, const Json& a, const Json& b) {
        out_.push_back({kind, item, field, a, b});
    }

    // Pairs the entries by id, then what is left by size (papers) or name;
    // reports every unpaired entry and every difference of a pair. The pairs
    // as indexes into A's and B's lists, in A's order.
    std::vector<std::pair<int, int>> Listed(const char* kind, const Block& listsA, const Block& listsB, bool sizes) {
        std::vector<Entry> a = Entries(listsA, sizes), b = Entries(listsB, sizes);
        auto pairBy = [&](auto same) {
            for (size_t i = 0; i < a.size(); ++i)
                for (size_t j = 0; a[i].partner < 0 && j < b.size(); ++j)
                    if (b[j].partner < 0 && same(a[i], b[j])) a[i].partner = static_cast<int>(j), b[j].partner = static_cast<int>(i);
        };
        // Papers: the same id and about the same size, then about the same size
        // alone (nearest first: a driver of another kind numbers custom papers its
        // own way and may snap sizes to a standard's), then the same id.
        auto alike = [](const Entry& x, const Entry& y) {
            return !x.hasSize || !y.hasSize ? x.hasSize == y.hasSize : SizeGap(x.size, y.size) <= kSizeSlack;
        };
        pairBy([&](const Entry& x, const Entry& y) { return x.hasId && y.hasId && x.id == y.id && (!sizes || alike(x, y)); });
        if (sizes) {
            for (size_t i = 0; i < a.size(); ++i) {
                int best = -1;
                for (size_t j = 0; a[i].partner < 0 && j < b.size(); ++j)
                    if (b[j].partner < 0 && alike(a[i], b[j]) && a[i].hasSize &&
                        (best < 0 || SizeGap(a[i].size, b[j].size) < SizeGap(a[i].size, b[best].size)))
                        best = static_cast<int>(j);
                if (best >= 0) a[i].partner = best, b[best].partner = static_cast<int>(i);
            }
        } else {
            pairBy([](const Entry& x, const Entry& y) { return x.hasName && y.hasName && x.name == y.name; });
        }
        pairBy([](const Entry& x, const Entry& y) { return x.hasId && y.hasId && x.id == y.id; });
        std::vector<std::pair<int, int>> pairs;
        for (size_t i = 0; i < a.size(); ++i) {
            const Entry& x = a[i];
            if (x.partner < 0) {
                Add(kind, x.Item(), "", sizes ? Json(Size(x)) : Json(true), Json());
                continue;
            }
            const Entry& y = b[x.partner];
            pairs.emplace_back(static_cast<int>(i), x.partner);
            if (x.hasId != y.hasId || x.id != y.id) Add(kind, x.Item(), "id", x.Id(), y.Id());
            if (x.hasName != y.hasName || x.name != y.name) Add(kind, x.Item(), "name", x.Name(), y.Name());
            if (sizes && (x.hasSize != y.hasSize || !Equal(x.size, y.size))) Add(kind, x.Item(), "size", Size(x), Size(y));
        }
        for (const Entry& y : b)
            if (y.partner < 0) Add(kind, y.Item(), "", Json(), sizes ? Json(Size(y)) : Json(true));
        // Forms and the server's lists go by position: a list in another order is a difference of its own.
        bool ordered = true;
        for (size_t k = 1; k < pairs.size(); ++k) ordered = ordered && pairs[k].second > pairs[k - 1].second;
        if (!ordered) {
            Json orderA = Json::array(), orderB = Json::array();
            for (const Entry& x : a) if (x.partner >= 0) orderA.push_back(x.Id());
            for (const Entry& y : b) if (y.partner >= 0) orderB.push_back(y.Id());
            Add(kind, "list", "order", orderA, orderB);
        }
        return pairs;
    }

    // A list compared as a set of values: each value that only one record has.
    template <class T, class Show>
    void Values(const char* kind, const std::vector<T>& a, std::vector<T> b, Show show) {
        for (const T& value : a) {
            const auto found = std::find_if(b.begin(), b.end(), [&](const T& other) { return Equal(other, value); });
            if (found != b.end()) b.erase(found);
            else Add(kind, show(value), "", true, Json());
        }
        for (const T& value : b) Add(kind, show(value), "", Json(), true);
    }

    // Every form of a paired paper at a resolution both records have: one
    // difference per form, naming each value that differs. Pixel values may
    // differ by px, millimetre values by what px pixels make at the form's dpi.
    void Forms(const std::vector<std::pair<int, int>>& papers) {
        const std::vector<ResolutionPair> &resA = a_.InUse(), &resB = b_.InUse();
        const size_t perA = a_.papers.sizes.size(), perB = b_.papers.sizes.size();
        const size_t formsA = a_.set->pForms ? a_.set->dwNumForms : 0, formsB = b_.set->pForms ? b_.set->dwNumForms : 0;
        for (size_t ra = 0; ra < resA.size(); ++ra) {
            // A resolution listed twice pairs its n-th time in A with its n-th
            // time in B: the forms of each time are a block of their own.
            auto same = [&](const ResolutionPair& pair) { return Equal(pair, resA[ra]); };
            auto rb = resB.begin();
            for (size_t earlier = std::count_if(resA.begin(), resA.begin() + ra, same);; --earlier, ++rb) {
                rb = std::find_if(rb, resB.end(), same);
                if (rb == resB.end() || !earlier) break;
            }
            if (rb == resB.end()) continue;  // reported with the resolutions
            for (auto [i, j] : papers) {
                const size_t fa = ra * perA + i, fb = static_cast<size_t>(rb - resB.begin()) * perB + j;
                if (i >= static_cast<int>(perA) || j >= static_cast<int>(perB)) continue;  // no size, no form
                const std::vector<DWORD>& ids = a_.papers.ids;
                const std::string item = "paper " + (static_cast<size_t>(i) < ids.size() ? Number(ids[i]) : "-") + " at " + Pair(resA[ra]);
                if (fa >= formsA || fb >= formsB) {
                    if ((fa < formsA) != (fb < formsB))
                        Add("form", item, "", fa < formsA ? Json(true) : Json(), fb < formsB ? Json(true) : Json());
                    continue;
                }
                const FormEntry &formA = a_.set->pForms[fa], &formB = b_.set->pForms[fb];
                std::string names;
                Json va = Json::array(), vb = Json::array();
                for (const NamedValue<FormEntry>& field : kComparedForm) {
                    const long long x = formA.*field.member, y = formB.*field.member;
                    const long long dpi = std::max<long long>(1, field.name[0] == 'v' ? formA.logY : formA.logX);
                    const bool millimetres = field.member == &FormEntry::hsize || field.member == &FormEntry::vsize;
                    const long long tolerance = InPixels(field.member) ? px_ : millimetres ? (px_ * 254 + dpi * 10 - 1) / (dpi * 10) : 0;
                    if (std::llabs(x - y) > tolerance)
                        names += (names.empty() ? "" : ",") + std::string(field.name), va.push_back(x), vb.push_back(y);
                }
                if (!names.empty()) Add("form", item, names, va, vb);
            }
        }
    }

    const Record &a_, &b_;
    long px_;
    std::vector<Difference> out_;
};

std::string Line(const Difference& d) {
    std::string line = d.kind + " " + d.item + ": ";
    if (d.field.empty()) return line + "only in " + (d.a.is_null() ? "B" : "A") + (d.kind == "paper" ? " (" + Text(d.a.is_null() ? d.b : d.a) + ")" : "");
    if (d.kind == "scalar" || d.kind == "graphics" || d.kind == "escape") return d.kind + " " + d.item + ": " + Text(d.a) + " -> " + Text(d.b);
    // A name that is not UTF-8 is shown with its bytes replaced, as the JSON form shows it.
    const auto quoted = [](const Json& name) { return name.dump(-1, ' ', false, Json::error_handler_t::replace); };
    if (d.field == "name") return line + "name " + quoted(d.a) + " -> " + quoted(d.b);
    return line + d.field + " " + Text(d.a) + " -> " + Text(d.b);
}

// A set unpacked from a record, freed with it.
struct Unpacked {
    QueryBuffers set = {};
    bool loaded = false;
    explicit Unpacked(const std::vector<BYTE>& bytes) : loaded(Unpack(bytes, &set)) {}
    ~Unpacked() { vlibPRINT_FreeQueryBuffers(&set); }
    Unpacked(const Unpacked&) = delete;
    Unpacked& operator=(const Unpacked&) = delete;
};

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
    const Unpacked a(sources[0].record), b(sources[1].record);
    if (!a.loaded || !b.loaded) {  // both passed their check: only memory can be missing
        std::fprintf(stderr, "kvcaps: out of memory while loading the records\n");
        return kNoMemory;
    }
    const std::vector<Difference> differences = Differ(Record(&a.set), Record(&b.set), px).Run();
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
