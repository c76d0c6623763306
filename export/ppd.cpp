#include "export/ppd.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <unordered_map>

#include "export/pwg_names.h"

namespace {

// The standard PPD page keywords that a PostScript driver maps
// to paper codes; any other keyword gets the next code from DMPAPER_USER
// (256) on, in the order the page sizes first appear. A code listed twice
// is written with its first keyword.
struct PageKeyword {
    const char* keyword;
    WORD code;
};
constexpr PageKeyword kPageKeywords[] = {
    {"Letter", 1}, {"LetterSmall", 2}, {"Tabloid", 3}, {"Ledger", 4}, {"Legal", 5}, {"Statement", 6},
    {"Executive", 7}, {"A3", 8}, {"A4", 9}, {"A4Small", 10}, {"A5", 11}, {"B4", 12}, {"B5", 13}, {"Folio", 14},
    {"Quarto", 15}, {"10x14", 16}, {"11x17", 17}, {"Note", 18}, {"Env9", 19}, {"Env10", 20}, {"Env11", 21},
    {"Env12", 22}, {"Env14", 23}, {"ARCHC", 24}, {"ARCHD", 25}, {"ARCHE", 26}, {"EnvDL", 27}, {"EnvC5", 28},
    {"EnvC3", 29}, {"EnvC4", 30}, {"EnvC6", 31}, {"EnvC65", 32}, {"EnvISOB4", 33}, {"EnvISOB5", 34},
    {"EnvISOB6", 35}, {"EnvItalian", 36}, {"EnvMonarch", 37}, {"EnvPersonal", 38}, {"FanFoldUS", 39},
    {"FanFoldGerman", 40}, {"FanFoldGermanLegal", 41}, {"ISOB4", 42}, {"Postcard", 43}, {"9x11", 44},
    {"10x11", 45}, {"15x11", 46}, {"EnvInvite", 47}, {"LetterExtra", 50}, {"LegalExtra", 51},
    {"TabloidExtra", 52}, {"A4Extra", 53}, {"Letter.Transverse", 54}, {"A4.Transverse", 55},
    {"LetterExtra.Transverse", 56}, {"SuperA", 57}, {"SuperB", 58}, {"LetterPlus", 59}, {"A4Plus", 60},
    {"A5.Transverse", 61}, {"B5.Transverse", 62}, {"A3Extra", 63}, {"A5Extra", 64}, {"ISOB5Extra", 65},
    {"A2", 66}, {"A3.Transverse", 67}, {"A3Extra.Transverse", 68}, {"DoublePostcard", 69}, {"A6", 70},
    {"EnvKaku2", 71}, {"EnvKaku3", 72}, {"EnvChou3", 73}, {"EnvChou4", 74}, {"LetterRotated", 75},
    {"A3Rotated", 76}, {"A4Rotated", 77}, {"A5Rotated", 78}, {"B4Rotated", 79}, {"B5Rotated", 80},
    {"PostcardRotated", 81}, {"DoublePostcardRotated", 82}, {"A6Rotated", 83}, {"EnvKaku2Rotated", 84},
    {"EnvKaku3Rotated", 85}, {"EnvChou3Rotated", 86}, {"EnvChou4Rotated", 87}, {"B6", 88}, {"B6Rotated", 89},
    {"12x11", 90}, {"EnvYou4", 91}, {"EnvYou4Rotated", 92}, {"PRC16K", 93}, {"PRC32K", 94}, {"PRC32KBig", 95},
    {"EnvPRC1", 96}, {"EnvPRC2", 97}, {"EnvPRC3", 98}, {"EnvPRC4", 99}, {"EnvPRC5", 100}, {"EnvPRC6", 101},
    {"EnvPRC7", 102}, {"EnvPRC8", 103}, {"EnvPRC9", 104}, {"EnvPRC10", 105}, {"PRC16KRotated", 106},
    {"PRC32KRotated", 107}, {"PRC32KBigRotated", 108}, {"EnvPRC1Rotated", 109}, {"EnvPRC2Rotated", 110},
    {"EnvPRC3Rotated", 111}, {"EnvPRC4Rotated", 112}, {"EnvPRC5Rotated", 113}, {"EnvPRC6Rotated", 114},
    {"EnvPRC7Rotated", 115}, {"EnvPRC8Rotated", 116}, {"EnvPRC9Rotated", 117}, {"EnvPRC10Rotated", 118},
    // Other spellings the driver knows: never made up for a paper of another code.
    {"C4", 30}, {"C5", 28}, {"C6", 31}, {"Comm10", 20}, {"DL", 27}, {"Monarch", 37},
};
constexpr WORD kFirstUserCode = 256;  // DMPAPER_USER and DMBIN_USER

// Looked up by hash: every paper and bin keyword made up is checked here.
const PageKeyword* KnownKeyword(const std::string& keyword) {
    static const std::unordered_map<std::string, const PageKeyword*> known = [] {
        std::unordered_map<std::string, const PageKeyword*> byKeyword;
        for (const PageKeyword& k : kPageKeywords) byKeyword.emplace(k.keyword, &k);
        return byKeyword;
    }();
    const auto found = known.find(keyword);
    return found == known.end() ? nullptr : found->second;
}

// The name in the file's encoding (Windows-1252, which the driver decodes
// names with; ISOLatin1 to the PPD readers), a translation string: a colon
// would end it and angle brackets start hexadecimal, so they and every byte
// above 127 are written in hexadecimal. A character outside the code page
// becomes "?".
std::string Translation(const std::wstring& name) {
    std::string out;
    bool hex = false;
    for (WCHAR c : name) {
        char byte = '?';
        BOOL lost = FALSE;
        if (!::WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, &c, 1, &byte, 1, nullptr, &lost) || lost) byte = '?';
        const unsigned char u = static_cast<unsigned char>(byte);
        const bool special = u > 126 || u < 32 || byte == ':' || byte == '<' || byte == '>' || byte == '"';
        if (special) {
            char text[4];
            std::snprintf(text, sizeof(text), "%02X", u);
            out += (hex ? "" : "<") + std::string(text);
        } else {
            out += (hex ? ">" : "") + std::string(1, byte);
        }
        hex = special;
    }
    return out + (hex ? ">" : "");
}

// The keywords of one option given so far, and for each name's keyword the
// number its next namesake tries first: every number below it is taken, and
// stays so.
struct Taken {
    std::set<std::string> keywords;
    std::unordered_map<std::string, int> next;
};

// An option keyword made of the name's ASCII letters and digits (at most 32),
// never a keyword already taken nor one the driver maps to a paper code.
std::string Keyword(const std::wstring& name, const char* fallback, Taken* taken) {
    std::string base;
    for (WCHAR c : name)
        if (c < 128 && std::isalnum(c) && base.size() < 32) base += static_cast<char>(c);
    if (base.empty()) base = fallback;
    std::string keyword = base;
    if (KnownKeyword(keyword) || taken->keywords.count(keyword)) {
        int& n = taken->next.try_emplace(base, 2).first->second;
        do keyword = base + "_" + std::to_string(n++);
        while (KnownKeyword(keyword) || taken->keywords.count(keyword));
    }
    taken->keywords.insert(keyword);
    return keyword;
}

// What the driver makes of a number of points: points x units / 72 in single
// precision, truncated toward zero. A result no LONG holds is reached by no
// target the driver could have measured.
long long DriverUnits(float points, LONG units) {
    const float scaled = points * static_cast<float>(units) / 72.0f;
    if (!(scaled > -2147483648.0f && scaled < 2147483648.0f)) return LLONG_MIN;
    return static_cast<LONG>(scaled);
}

// k / 10^decimals as vlibPRINT_ShortNumber writes it: no trailing zeros, no
// "-0". (The points lie within 10^9 of 0, so |k| stays near 10^15 at most,
// where k x 10^-decimals in double precision still rounds back to k.)
std::string Decimals(long long k, int decimals) {
    std::string digits = std::to_string(k < 0 ? -k : k);
    if (decimals > 0) {
        if (digits.size() <= static_cast<size_t>(decimals)) digits.insert(0, decimals + 1 - digits.size(), '0');
        digits.insert(digits.size() - decimals, 1, '.');
        while (digits.back() == '0') digits.pop_back();
        if (digits.back() == '.') digits.pop_back();
    }
    return k < 0 && digits != "0" ? "-" + digits : digits;
}

// What the driver makes of k / 10^decimals against the targets: whether it
// falls short of one and whether it goes past one. The driver's value grows
// with the points, so along the multiples of a step those that give every
// target lie together: after every one short of a target, before every one
// past a target.
struct Reading {
    bool under = false, over = false;
};
Reading Read(long long k, int decimals, const std::vector<PpdTarget>& targets) {
    const float points = std::strtof(Decimals(k, decimals).c_str(), nullptr);  // as the driver reads it
    Reading reading;
    for (const PpdTarget& t : targets) {
        const long long units = DriverUnits(points, t.units);
        if (units == LLONG_MIN) (points > 0 ? reading.over : reading.under) = true;  // beyond any LONG
        else if (units != t.value) (units < t.value ? reading.under : reading.over) = true;
    }
    return reading;
}

// The points truncation toward zero turns into the target: [v, v + 1) units
// for v above 0, (v - 1, v] below, (-1, 1) for 0. Bounds only: the ends are
// checked the driver's way.
void Allowed(const PpdTarget& t, double* low, double* high) {
    const double unit = 72.0 / t.units;
    *low = static_cast<double>(t.value > 0 ? t.value : t.value - 1) * unit;
    *high = static_cast<double>(t.value < 0 ? t.value : t.value + 1) * unit;
}

// A number of points that gives the targets; `exact` says whether it does.
// Without one, the first target (the paper size) decides alone for a size;
// an edge of the printable area leans to the side `lean` gives (1 larger, -1
// smaller) past every measured value, so that the printable area is never
// larger than measured.
std::string Points(const std::vector<PpdTarget>& targets, int lean, bool* exact) {
    *exact = true;
    if (targets.empty()) return "0";
    if (std::string text = vlibPRINT_PpdPoints(targets); !text.empty()) return text;
    *exact = false;
    if (lean == 0) return vlibPRINT_PpdPoints({targets.front()});
    double edge = lean > 0 ? -1e18 : 1e18;
    for (const PpdTarget& t : targets) {
        if (t.units <= 0) continue;
        double low = 0, high = 0;
        Allowed(t, &low, &high);
        edge = lean > 0 ? std::max(edge, low) : std::min(edge, high);
    }
    if (std::fabs(edge) > 1e9) return "0";  // no usable target
    return vlibPRINT_ShortNumber(lean > 0 ? std::ceil(edge * 100 + 1e-6) / 100 : (std::ceil(edge * 100 - 1e-6) - 1) / 100, 2);
}

struct Out {
    std::string text;
    void Line(const std::string& line) { text += line + "\n"; }
};

std::string Dpi(const ResolutionPair& r) {
    return r.x == r.y ? std::to_string(r.x) + "dpi" : std::to_string(r.x) + "x" + std::to_string(r.y) + "dpi";
}

}  // namespace

std::string vlibPRINT_PpdPoints(const std::vector<PpdTarget>& targets) {
    double low = -1e18, high = 1e18;
    for (const PpdTarget& t : targets) {
        if (t.units <= 0) return "";
        double from = 0, to = 0;
        Allowed(t, &from, &to);
        low = std::max(low, from), high = std::min(high, to);
    }
    // Nothing lies in an empty interval, nor in one no PPD number could write.
    if (low > high || low < -1e9 || high > 1e9) return "";
    // The interval every target allows, widened by the rounding of single
    // precision; each candidate is checked the driver's way.
    const double slack = 1e-4 * std::max({1.0, std::fabs(low), std::fabs(high)});
    // The candidates as multiples k of the step, written without the
    // formatter: the text of k x step at that many decimals is k's own digits.
    // Those that give every target are a run of them, found by halving; the
    // one taken is the first of the run in the order of nearness to the middle.
    std::vector<double> multiples;
    multiples.reserve(64);
    for (int decimals = 0; decimals <= 6; ++decimals) {
        const double step = std::pow(10.0, -decimals);
        const double middle = (low + high) / 2;
        multiples.clear();
        for (double k = std::ceil((low - slack) / step); k * step < high + slack && multiples.size() < 64; ++k)
            multiples.push_back(k);
        if (multiples.empty()) continue;
        const long long first = static_cast<long long>(multiples.front());
        const long long count = static_cast<long long>(multiples.size());
        long long from = 0, to = count;  // the first multiple not short of any target
        while (from < to) {
            const long long at = (from + to) / 2;
            Read(first + at, decimals, targets).under ? from = at + 1 : to = at;
        }
        const long long runFrom = from;
        from = 0, to = count;  // one past the last multiple not past any target
        while (from < to) {
            const long long at = (from + to) / 2;
            Read(first + at, decimals, targets).over ? to = at : from = at + 1;
        }
        if (runFrom >= from) continue;
        std::sort(multiples.begin(), multiples.end(),
                  [&](double a, double b) { return std::fabs(a * step - middle) < std::fabs(b * step - middle); });
        for (double k : multiples)
            if (k >= first + runFrom && k < first + from) return Decimals(static_cast<long long>(k), decimals);
    }
    return "";
}

std::string vlibPRINT_PpdText(const PpdPrinter& p, std::vector<std::string>* moved) {
    Out out;
    // The model in the characters a model name may hold: letters, digits and " ./-+".
    std::string model;
    for (char c : p.model) model += std::isalnum(static_cast<unsigned char>(c)) || std::strchr(" ./-+", c) ? c : ' ';
    if (model.find_first_not_of(' ') == std::string::npos) model = "Printer";
    out.Line("*PPD-Adobe: \"4.3\"");
    out.Line("*% The printer " + model + " as its capability record describes it.");
    out.Line("*FormatVersion: \"4.3\"");
    out.Line("*FileVersion: \"1.0\"");
    out.Line("*LanguageVersion: English");
    out.Line("*LanguageEncoding: ISOLatin1");
    out.Line("*PCFileName: \"KVCAPS.PPD\"");
    out.Line("*Manufacturer: \"Recreated\"");
    out.Line("*Product: \"(" + model + ")\"");
    out.Line("*ModelName: \"" + model + "\"");
    out.Line("*ShortNickName: \"" + model.substr(0, 31) + "\"");
    out.Line("*NickName: \"" + model + "\"");
    out.Line("*PSVersion: \"(3010.000) 0\"");
    out.Line("*LanguageLevel: \"3\"");
    // A description without the entry reads as a colour printer.
    out.Line(std::string("*ColorDevice: ") + (p.color ? "True" : "False"));
    out.Line(std::string("*DefaultColorSpace: ") + (p.color ? "RGB" : "Gray"));
    out.Line("*FileSystem: False");
    out.Line("*Throughput: \"1\"");
    const LONG landscape = p.landscape == 270 ? -90 : p.landscape;
    out.Line(std::string("*LandscapeOrientation: ") + (landscape == 90 ? "Plus90" : landscape == -90 ? "Minus90" : "Any"));
    out.Line("*TTRasterizer: Type42");

    // Papers: the keyword of a standard code, else one of the name's own.
    Taken taken;
    std::vector<std::string> keywords, names;
    WORD nextUser = kFirstUserCode;
    for (const PpdPaper& paper : p.papers) {
        const auto standard = std::find_if(std::begin(kPageKeywords), std::end(kPageKeywords),
                                           [&](const PageKeyword& k) { return k.code == paper.id; });
        std::string keyword;
        if (standard != std::end(kPageKeywords) && !taken.keywords.count(standard->keyword)) {
            keyword = standard->keyword;
            taken.keywords.insert(keyword);
        } else {
            keyword = Keyword(paper.name, "Paper", &taken);
        }
        const WORD back = KnownKeyword(keyword) ? KnownKeyword(keyword)->code : nextUser++;
        if (back != paper.id)
            moved->push_back("paper " + std::to_string(paper.id) + " comes back as " + std::to_string(back));
        keywords.push_back(keyword);
        names.push_back(Translation(paper.name));
    }
    const size_t defaultPaper = p.defaultPaper >= 0 && static_cast<size_t>(p.defaultPaper) < p.papers.size() ? p.defaultPaper : 0;
    std::vector<std::string> widths, lengths, areas;
    for (const PpdPaper& paper : p.papers) {
        // Every number as the driver will compute with it: the size in tenths
        // of a millimetre and every page value at every resolution measured,
        // the printable area as reported, even where it reaches past the sheet.
        std::vector<PpdTarget> w = {{254, paper.width}}, l = {{254, paper.length}}, llx, lly, urx, ury;
        for (const PpdPage& g : paper.pages) {
            w.push_back({g.logX, g.physW});
            l.push_back({g.logY, g.physH});
            llx.push_back({g.logX, g.offX});
            urx.push_back({g.logX, 0LL + g.offX + g.hres});
            ury.push_back({g.logY, 0LL + g.physH - g.offY});
            lly.push_back({g.logY, 0LL + g.physH - g.offY - g.vres});
        }
        bool exact[6] = {true, true, true, true, true, true};
        widths.push_back(Points(w, 0, &exact[0]));
        lengths.push_back(Points(l, 0, &exact[1]));
        if (paper.pages.empty())
            areas.push_back("0 0 " + widths.back() + " " + lengths.back());
        else
            areas.push_back(Points(llx, 1, &exact[2]) + " " + Points(lly, 1, &exact[3]) + " " + Points(urx, -1, &exact[4]) +
                            " " + Points(ury, -1, &exact[5]));
        // What no number of points gives back at every resolution: the forms
        // of such a driver disagree with any one PPD value.
        static const char* const kValues[] = {"width", "length", "printable area's left edge", "printable area's bottom edge",
                                              "printable area's right edge", "printable area's top edge"};
        for (size_t v = 0; v < 6; ++v)
            if (!exact[v])
                moved->push_back("paper " + std::to_string(paper.id) + ": no number of points gives its " + kValues[v] +
                                  " at every resolution" + (v < 2 ? " (the paper size decides)" : " (written inward)"));
    }
    if (!p.papers.empty()) {
        for (const char* option : {"PageSize", "PageRegion"}) {
            out.Line(std::string("*OpenUI *") + option + "/Media Size: PickOne");
            out.Line(std::string("*OrderDependency: 10 AnySetup *") + option);
            out.Line(std::string("*Default") + option + ": " + keywords[defaultPaper]);
            for (size_t i = 0; i < p.papers.size(); ++i)
                out.Line("*" + std::string(option) + " " + keywords[i] + "/" + names[i] + ": \"<</PageSize[" + widths[i] + " " +
                         lengths[i] + "]/ImagingBBox null>>setpagedevice\"");
            out.Line(std::string("*CloseUI: *") + option);
        }
        out.Line("*DefaultImageableArea: " + keywords[defaultPaper]);
        for (size_t i = 0; i < p.papers.size(); ++i)
            out.Line("*ImageableArea " + keywords[i] + "/" + names[i] + ": \"" + areas[i] + "\"");
        out.Line("*DefaultPaperDimension: " + keywords[defaultPaper]);
        for (size_t i = 0; i < p.papers.size(); ++i)
            out.Line("*PaperDimension " + keywords[i] + "/" + names[i] + ": \"" + widths[i] + " " + lengths[i] + "\"");
    }
    if (p.customSizes) {
        const auto pt = [](LONG tenths) { return vlibPRINT_ShortNumber(tenths * 72.0 / 254, 2); };
        out.Line("*VariablePaperSize: True");
        out.Line("*HWMargins: 0 0 0 0");
        out.Line("*MaxMediaWidth: \"" + pt(p.customMax.width) + "\"");
        out.Line("*MaxMediaHeight: \"" + pt(p.customMax.length) + "\"");
        out.Line("*NonUIOrderDependency: 10 AnySetup *CustomPageSize");
        out.Line("*CustomPageSize True: \"pop pop pop <</PageSize[5 -2 roll]/ImagingBBox null>>setpagedevice\"");
        out.Line("*ParamCustomPageSize Width: 1 points " + pt(p.customMin.width) + " " + pt(p.customMax.width));
        out.Line("*ParamCustomPageSize Height: 2 points " + pt(p.customMin.length) + " " + pt(p.customMax.length));
        out.Line("*ParamCustomPageSize WidthOffset: 3 points 0 0");
        out.Line("*ParamCustomPageSize HeightOffset: 4 points 0 0");
        out.Line("*ParamCustomPageSize Orientation: 5 int 0 0");
    }

    // Bins: the driver adds the automatic bin (15) first by itself, numbers
    // every input slot from DMBIN_USER (256) on in order, and makes bin 4,
    // "Manual Feed", of a manual feed option: written before or after the
    // slots, where the bin list has it.
    std::vector<const PpdBin*> slots;
    int manual = -1;  // where the manual feed bin goes: 0 before the slots, 1 after
    for (size_t i = 0; i < p.bins.size(); ++i) {
        const PpdBin& bin = p.bins[i];
        if (bin.id == DMBIN_FORMSOURCE && i == 0) continue;
        if (bin.id == DMBIN_MANUAL && bin.name == L"Manual Feed" && manual < 0) {
            manual = slots.empty() ? 0 : 1;
            continue;
        }
        slots.push_back(&bin);
    }
    if (p.bins.empty() || p.bins[0].id != DMBIN_FORMSOURCE) moved->push_back("bin 15 is added first");
    auto manualFeed = [&] {
        out.Line("*OpenUI *ManualFeed/Manual Feed: Boolean");
        out.Line("*OrderDependency: 20 AnySetup *ManualFeed");
        out.Line("*DefaultManualFeed: False");
        out.Line("*ManualFeed True/On: \"<</ManualFeed true>>setpagedevice\"");
        out.Line("*ManualFeed False/Off: \"<</ManualFeed false>>setpagedevice\"");
        out.Line("*CloseUI: *ManualFeed");
    };
    if (manual == 0) manualFeed();
    if (!slots.empty()) {
        std::vector<std::string> binKeywords;
        Taken binTaken;
        for (const PpdBin* bin : slots) binKeywords.push_back(Keyword(bin->name, "Tray", &binTaken));
        size_t defaultSlot = 0;
        if (p.defaultBin >= 0 && static_cast<size_t>(p.defaultBin) < p.bins.size())
            for (size_t i = 0; i < slots.size(); ++i)
                if (slots[i] == &p.bins[p.defaultBin]) defaultSlot = i;
        out.Line("*OpenUI *InputSlot/Media Source: PickOne");
        out.Line("*OrderDependency: 20 AnySetup *InputSlot");
        out.Line("*DefaultInputSlot: " + binKeywords[defaultSlot]);
        for (size_t i = 0; i < slots.size(); ++i) {
            out.Line("*InputSlot " + binKeywords[i] + "/" + Translation(slots[i]->name) + ": \"<</MediaPosition " +
                     std::to_string(i) + ">>setpagedevice\"");
            if (slots[i]->id != kFirstUserCode + i)
                moved->push_back("bin " + std::to_string(slots[i]->id) + " comes back as " + std::to_string(kFirstUserCode + i));
        }
        out.Line("*CloseUI: *InputSlot");
    }
    if (manual == 1) manualFeed();

    // Resolutions: the true ones, or for a printer without, the one it prints at.
    if (p.resolutions.empty()) {
        out.Line("*DefaultResolution: " + std::to_string(p.fixedDpi > 0 ? p.fixedDpi : 300) + "dpi");
    } else {
        const bool listed = std::any_of(p.resolutions.begin(), p.resolutions.end(), [&](const ResolutionPair& r) {
            return r.x == p.defaultResolution.x && r.y == p.defaultResolution.y;
        });
        out.Line("*OpenUI *Resolution/Resolution: PickOne");
        out.Line("*OrderDependency: 10 AnySetup *Resolution");
        out.Line("*DefaultResolution: " + Dpi(listed ? p.defaultResolution : p.resolutions[p.resolutions.size() / 2]));
        for (const ResolutionPair& r : p.resolutions)
            out.Line("*Resolution " + Dpi(r) + "/" + Dpi(r) + ": \"<</HWResolution[" + std::to_string(r.x) + " " +
                     std::to_string(r.y) + "]>>setpagedevice\"");
        out.Line("*CloseUI: *Resolution");
    }
    if (p.duplex) {
        const char* const choice[] = {"None", "DuplexNoTumble", "DuplexTumble"};
        out.Line("*OpenUI *Duplex/2-Sided Printing: PickOne");
        out.Line("*OrderDependency: 10 AnySetup *Duplex");
        out.Line(std::string("*DefaultDuplex: ") + choice[p.defaultDuplex >= 1 && p.defaultDuplex <= 3 ? p.defaultDuplex - 1 : 0]);
        out.Line("*Duplex None/Off: \"<</Duplex false>>setpagedevice\"");
        out.Line("*Duplex DuplexNoTumble/Long Edge: \"<</Duplex true/Tumble false>>setpagedevice\"");
        out.Line("*Duplex DuplexTumble/Short Edge: \"<</Duplex true/Tumble true>>setpagedevice\"");
        out.Line("*CloseUI: *Duplex");
    }
    if (p.color) {
        out.Line("*OpenUI *ColorModel/Color Mode: PickOne");
        out.Line("*OrderDependency: 10 AnySetup *ColorModel");
        out.Line(std::string("*DefaultColorModel: ") + (p.defaultColor == DMCOLOR_MONOCHROME ? "Gray" : "RGB"));
        out.Line("*ColorModel Gray/Grayscale: \"<</ProcessColorModel /DeviceGray>>setpagedevice\"");
        out.Line("*ColorModel RGB/Color: \"<</ProcessColorModel /DeviceRGB>>setpagedevice\"");
        out.Line("*CloseUI: *ColorModel");
    }
    out.Line("*DefaultFont: Courier");
    for (const char* font : {"Courier", "Courier-Bold", "Courier-BoldOblique", "Courier-Oblique", "Helvetica",
                             "Helvetica-Bold", "Helvetica-BoldOblique", "Helvetica-Oblique", "Symbol", "Times-Bold",
                             "Times-BoldItalic", "Times-Italic", "Times-Roman"})
        out.Line(std::string("*Font ") + font + ": " + (std::strcmp(font, "Symbol") ? "Standard" : "Special") +
                 " \"(001.000)\" " + (std::strcmp(font, "Symbol") ? "Standard" : "Special") + " ROM");
    for (const std::string& line : *moved) out.Line("*% Not kept: " + line);
    out.Line("*% End of the description");
    return out.text;
}
