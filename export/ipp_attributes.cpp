#include "export/ipp_attributes.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "export/pwg_names.h"
#include "log/trace_log.h"
#include "platform/kernel.h"

namespace {

// A text value in double quotes; quotes, backslashes and the commas that
// would part values are escaped, and a dollar sign, which the reader of the
// attributes file takes for a variable, is doubled.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\' || c == ',') out += '\\';
        if (c == '$') out += '$';
        out += c;
    }
    return out + "\"";
}

std::string Joined(const std::vector<std::string>& values, const char* between = ",") {
    std::string out;
    for (const std::string& value : values) out += (out.empty() ? "" : between) + value;
    return out;
}

template <class T>
void AddUnique(std::vector<T>* values, const T& value) {
    if (std::find(values->begin(), values->end(), value) == values->end()) values->push_back(value);
}

bool Usable(const ResolutionPair& dpi) { return dpi.x > 0 && dpi.y > 0; }

std::string Resolution(const ResolutionPair& dpi) {
    char text[48];
    if (dpi.x == dpi.y)
        std::snprintf(text, sizeof(text), "%lddpi", static_cast<long>(dpi.x));
    else
        std::snprintf(text, sizeof(text), "%ldx%lddpi", static_cast<long>(dpi.x), static_cast<long>(dpi.y));
    return text;
}

std::string Int(long value) { return std::to_string(value); }

// UTF-8 text cut to at most `bytes` bytes, never inside a character.
std::string Cut(std::string text, size_t bytes) {
    if (text.size() <= bytes) return text;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
    return text.substr(0, bytes);
}

// One media-col collection: the size, the margins when known, and the size
// name, source and type when given.
std::string MediaCol(LONG width, LONG length, const DescribedMargins* margins, const std::string& source = "",
                     const std::string& type = "", const std::string& sizeName = "") {
    std::string text = "{ MEMBER collection media-size { MEMBER integer x-dimension " + Int(width) +
                       " MEMBER integer y-dimension " + Int(length) + " }";
    if (!sizeName.empty()) text += " MEMBER keyword media-size-name " + sizeName;
    if (margins)
        text += " MEMBER integer media-left-margin " + Int(margins->left) + " MEMBER integer media-top-margin " +
                Int(margins->top) + " MEMBER integer media-right-margin " + Int(margins->right) +
                " MEMBER integer media-bottom-margin " + Int(margins->bottom);
    if (!source.empty()) text += " MEMBER keyword media-source " + source;
    if (!type.empty()) text += " MEMBER keyword media-type " + type;
    return text + " }";
}

// A paper's medium: its size as it lies, x-dimension across, and its margins
// the same way. A paper listed long side across lies so; its margins are
// kept upright, turned a quarter back here.
struct Medium {
    LONG x, y;
    DescribedMargins margins;
};
Medium MediumOf(const DescribedPaper& p) {
    if (!p.across) return {p.width, p.length, p.margins};
    const DescribedMargins& m = p.margins;
    return {p.length, p.width, {m.bottom, m.left, m.top, m.right}};
}
std::string MediaCol(const DescribedPaper& p, const std::string& source = "", const std::string& type = "",
                     const std::string& sizeName = "") {
    const Medium m = MediumOf(p);
    return MediaCol(m.x, m.y, p.measured ? &m.margins : nullptr, source, type, sizeName);
}

void Attr(std::string* out, const char* tag, const char* name, const std::string& values) {
    if (!values.empty()) *out += std::string("ATTR ") + tag + " " + name + " " + values + "\n";
}

}  // namespace

std::string vlibPRINT_IppAttributes(const PrinterDescription& d) {
    const DescribedDefaults& def = d.defaults;
    std::string out = "# IPP Everywhere printer attributes of a printer description, for ippeveprinter -a\n";

    // Identity. MFG and MDL are what the driver's name tells.
    // A device ID value holds no colon or semicolon: they part its keys and values.
    const auto value = [](const std::wstring& text) {
        std::string v = Cut(platform::Utf8(text.c_str()), 100);
        std::replace(v.begin(), v.end(), ':', ' ');
        std::replace(v.begin(), v.end(), ';', ' ');
        return v;
    };
    Attr(&out, "text", "printer-make-and-model", Quoted(Cut(platform::Utf8(d.makeAndModel.c_str()), 127)));
    Attr(&out, "text", "printer-device-id",
         Quoted("MFG:" + (d.manufacturer.empty() ? std::string("Unknown") : value(d.manufacturer)) + ";MDL:" + value(d.model) +
                ";CMD:PWGRaster;"));
    // Where the printer is and who runs it (printer-location, -geo-location,
    // -organization) the server says.

    // Media: one name per paper; a borderless paper of a size already named is
    // a media-col entry of that name with four zero margins.
    const std::string source = def.bin >= 0 ? d.bins[def.bin].source : "";
    const std::string type = def.mediaType >= 0 && !d.mediaTypes[def.mediaType].keyword.empty()
                                 ? d.mediaTypes[def.mediaType].keyword : "stationery";
    std::vector<std::string> names, sizes, database;
    std::vector<LONG> left, top, right, bottom;
    for (const DescribedPaper& p : d.papers) {
        const Medium m = MediumOf(p);
        AddUnique(&names, p.media);
        AddUnique(&sizes, "{ MEMBER integer x-dimension " + Int(m.x) + " MEMBER integer y-dimension " + Int(m.y) + " }");
        // Each entry names its medium: two papers of one size stay two entries.
        AddUnique(&database, MediaCol(p, "", "", p.media));
        if (!p.measured) continue;
        AddUnique(&left, m.margins.left), AddUnique(&top, m.margins.top);
        AddUnique(&right, m.margins.right), AddUnique(&bottom, m.margins.bottom);
    }
    if (d.custom.present) {
        const PwgMedia low = vlibPRINT_PwgCustomMedia({d.custom.minWidth / 10, d.custom.minLength / 10}, "min", true);
        const PwgMedia high = vlibPRINT_PwgCustomMedia({d.custom.maxWidth / 10, d.custom.maxLength / 10}, "max", true);
        names.push_back(low.name);
        names.push_back(high.name);
        const std::string range = "{ MEMBER rangeOfInteger x-dimension " + Int(d.custom.minWidth) + "-" + Int(d.custom.maxWidth) +
                                  " MEMBER rangeOfInteger y-dimension " + Int(d.custom.minLength) + "-" + Int(d.custom.maxLength) + " }";
        sizes.push_back(range);
        const DescribedMargins& m = d.custom.margins;
        database.push_back("{ MEMBER collection media-size " + range + " MEMBER integer media-left-margin " + Int(m.left) +
                           " MEMBER integer media-top-margin " + Int(m.top) + " MEMBER integer media-right-margin " +
                           Int(m.right) + " MEMBER integer media-bottom-margin " + Int(m.bottom) + " }");
    }
    const auto margins = [](std::vector<LONG> values) {
        std::sort(values.begin(), values.end());
        std::vector<std::string> text;
        for (LONG v : values) text.push_back(Int(v));
        return text.empty() ? std::string("0") : Joined(text);  // nothing measured: a printer without margins
    };
    Attr(&out, "keyword", "media-supported", Joined(names));
    Attr(&out, "collection", "media-size-supported", Joined(sizes));
    Attr(&out, "collection", "media-col-database", Joined(database, ",\n  "));
    Attr(&out, "integer", "media-left-margin-supported", margins(left));
    Attr(&out, "integer", "media-top-margin-supported", margins(top));
    Attr(&out, "integer", "media-right-margin-supported", margins(right));
    Attr(&out, "integer", "media-bottom-margin-supported", margins(bottom));
    if (def.paper >= 0) {
        const DescribedPaper& p = d.papers[def.paper];
        Attr(&out, "keyword", "media-default", p.media);
        Attr(&out, "collection", "media-col-default", MediaCol(p, source, type));
    } else {
        out += "ATTR no-value media-default\n";
    }
    // Loaded media: the ready list's papers in the default bin, with their margins.
    std::vector<std::string> ready;
    for (const std::string& media : d.mediaReady)
        for (const DescribedPaper& p : d.papers)
            if (p.media == media) {
                ready.push_back(MediaCol(p, source, type));
                break;
            }
    Attr(&out, "keyword", "media-ready", Joined(d.mediaReady));
    Attr(&out, "collection", "media-col-ready", Joined(ready, ",\n  "));
    // media-col-supported, the members a job may give, is the server's: they are what it takes.

    // Bins and media types.
    std::vector<std::string> sources, types;
    for (const DescribedBin& bin : d.bins) sources.push_back(bin.source);
    // A printer that lists no bin feeds from one it chooses itself.
    Attr(&out, "keyword", "media-source-supported", sources.empty() ? "auto" : Joined(sources));
    Attr(&out, "keyword", "media-source-default", source.empty() ? "auto" : source);
    for (const DescribedMediaType& media : d.mediaTypes)
        if (!media.keyword.empty()) AddUnique(&types, media.keyword);
    if (types.empty()) types.push_back("stationery");  // a printer that names no type prints on plain paper
    Attr(&out, "keyword", "media-type-supported", Joined(types));
    Attr(&out, "keyword", "media-type-default", type);

    // Resolutions and quality.
    std::vector<std::string> resolutions;
    // The resolutions a page is printed at: a coarse one only when there is nothing finer.
    bool fine = false;
    for (const DescribedResolution& r : d.resolutions) fine = fine || (Usable(r.dpi) && !r.coarse);
    const auto offered = [fine](const DescribedResolution& r) { return Usable(r.dpi) && !(fine && r.coarse); };
    for (const DescribedResolution& r : d.resolutions)
        if (offered(r)) AddUnique(&resolutions, Resolution(r.dpi));
    const bool defaultUsable = def.resolution >= 0 && offered(d.resolutions[def.resolution]);
    if (resolutions.empty()) resolutions.push_back("300dpi");  // a driver that gives none: the common raster resolution
    const std::string defaultResolution = defaultUsable ? Resolution(d.resolutions[def.resolution].dpi) : resolutions.front();
    Attr(&out, "resolution", "printer-resolution-supported", Joined(resolutions));
    Attr(&out, "resolution", "printer-resolution-default", defaultResolution);
    std::vector<std::string> qualities;
    for (int q : d.qualities) qualities.push_back(Int(q));
    Attr(&out, "enum", "print-quality-supported", Joined(qualities));
    Attr(&out, "enum", "print-quality-default", Int(def.quality));

    // Sides, colour, copies, orientation, finishings, N-up.
    Attr(&out, "keyword", "sides-supported", d.duplex ? "one-sided,two-sided-long-edge,two-sided-short-edge" : "one-sided");
    Attr(&out, "keyword", "sides-default", def.sides);
    Attr(&out, "boolean", "color-supported", d.color ? "true" : "false");
    Attr(&out, "keyword", "print-color-mode-supported", d.color ? "monochrome,color" : "monochrome");
    Attr(&out, "keyword", "print-color-mode-default", def.colorMode);
    Attr(&out, "rangeOfInteger", "copies-supported", "1-" + Int(d.maxCopies));
    Attr(&out, "integer", "copies-default", Int(def.copies));
    Attr(&out, "enum", "orientation-requested-supported", d.landscape ? "3,4,5,6" : "3");
    Attr(&out, "enum", "orientation-requested-default", Int(def.orientation));
    Attr(&out, "enum", "finishings-supported", d.staple ? "3,4" : "3");  // none, staple
    Attr(&out, "enum", "finishings-default", "3");
    std::vector<std::string> up;
    for (int n : d.numberUp) up.push_back(Int(n));
    Attr(&out, "integer", "number-up-supported", Joined(up));
    Attr(&out, "integer", "number-up-default", "1");
    // The speed: a driver that does not say is taken for the slowest printer that prints at all.
    const int ppm = d.pagesPerMinute > 0 ? d.pagesPerMinute : 1;
    Attr(&out, "integer", "pages-per-minute", Int(ppm));
    if (d.color) Attr(&out, "integer", "pages-per-minute-color", Int(ppm));

    // What the record cannot know: a conforming printer of unknown make
    // delivers face down, chooses its own optimisation and rendering intent.
    Attr(&out, "keyword", "output-bin-supported", "face-down");
    Attr(&out, "keyword", "output-bin-default", "face-down");
    Attr(&out, "keyword", "print-content-optimize-supported", "auto");
    Attr(&out, "keyword", "print-content-optimize-default", "auto");
    Attr(&out, "keyword", "print-rendering-intent-supported", "auto");
    Attr(&out, "keyword", "print-rendering-intent-default", "auto");
    // The supplies: one of unknown kind and level (-2, RFC 3805's unknown).
    Attr(&out, "octetString", "printer-supply",
         Quoted("index=1;class=supplyThatIsConsumed;type=other;unit=percent;maxcapacity=100;level=-2;colorantname=unknown;"));
    Attr(&out, "text", "printer-supply-description", Quoted("Supply"));
    // The overrides every IPP Everywhere printer takes (PWG 5100.6).
    Attr(&out, "keyword", "overrides-supported", "document-number,pages");

    // What a driverless client needs to send PWG raster.
    Attr(&out, "resolution", "pwg-raster-document-resolution-supported", Joined(resolutions));
    Attr(&out, "keyword", "pwg-raster-document-type-supported", d.color ? "black_1,sgray_8,srgb_8" : "black_1,sgray_8");
    Attr(&out, "keyword", "pwg-raster-document-sheet-back", "normal");
    // The server also takes Apple raster (image/urf): what it may hold.
    std::vector<std::string> square;
    for (const DescribedResolution& r : d.resolutions)
        if (Usable(r.dpi) && r.dpi.x == r.dpi.y) AddUnique(&square, Int(r.dpi.x));
    if (square.empty()) square.push_back("300");
    std::vector<std::string> urf = {"V1.4", "CP1", "W8"};
    if (d.color) urf.push_back("SRGB24");
    if (d.duplex) urf.push_back("DM1");
    urf.push_back("PQ" + Joined(qualities, "-"));
    urf.push_back("RS" + Joined(square, "-"));
    Attr(&out, "keyword", "urf-supported", Joined(urf));
    TraceLogWrite(LibraryLog, 0,
                  L"vlibPRINT_IppAttributes => %d media names, %d media collections, %d media types, %d resolutions, "
                  L"%d sources\n",
                  static_cast<int>(names.size()), static_cast<int>(database.size()), static_cast<int>(types.size()),
                  static_cast<int>(resolutions.size()), static_cast<int>(sources.size()));
    return out;
}
