#include "records/caps4_ipp.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "log/trace_log.h"
#include "platform/kernel.h"
#include "records/caps4_media.h"

namespace {

// Bins by their DMBIN_ code, as PWG media-source keywords. Codes not listed
// here (driver-defined bins from DMBIN_USER on) become tray-1, tray-2, ... in
// the order of the bin list.
struct BinSource {
    WORD bin;
    const char* source;
};
constexpr BinSource kBinSources[] = {
    {DMBIN_UPPER, "top"},          {DMBIN_LOWER, "bottom"},      {DMBIN_MIDDLE, "middle"},
    {DMBIN_MANUAL, "manual"},      {DMBIN_ENVELOPE, "envelope"}, {DMBIN_ENVMANUAL, "by-pass-tray"},
    {DMBIN_AUTO, "auto"},          {DMBIN_TRACTOR, "main-roll"}, {DMBIN_SMALLFMT, "photo"},
    {DMBIN_LARGEFMT, "alternate"}, {DMBIN_LARGECAPACITY, "large-capacity"},
    {DMBIN_CASSETTE, "main"},      {DMBIN_FORMSOURCE, "auto"},
};

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

std::string Joined(const std::vector<std::string>& values) {
    std::string out;
    for (const std::string& value : values) out += (out.empty() ? "" : ",") + value;
    return out;
}

void AddUnique(std::vector<std::string>* values, const std::string& value) {
    if (std::find(values->begin(), values->end(), value) == values->end()) values->push_back(value);
}

std::string Resolution(const ResolutionPair& dpi) {
    char text[48];
    if (dpi.x == dpi.y)
        std::snprintf(text, sizeof(text), "%lddpi", static_cast<long>(dpi.x));
    else
        std::snprintf(text, sizeof(text), "%ldx%lddpi", static_cast<long>(dpi.x), static_cast<long>(dpi.y));
    return text;
}

// One media-col collection: the size, when measured the four margins, and
// the media type when one is given.
std::string MediaCol(const PwgMedia& media, const MediaPage& page, const std::string& type = "") {
    char text[320];
    int length = std::snprintf(text, sizeof(text),
                               "{ MEMBER collection media-size { MEMBER integer x-dimension %ld MEMBER integer "
                               "y-dimension %ld }",
                               static_cast<long>(media.width), static_cast<long>(media.length));
    if (page.hasMargins)
        length += std::snprintf(text + length, sizeof(text) - length,
                                " MEMBER integer media-left-margin %ld MEMBER integer media-top-margin %ld"
                                " MEMBER integer media-right-margin %ld MEMBER integer media-bottom-margin %ld",
                                static_cast<long>(page.left), static_cast<long>(page.top),
                                static_cast<long>(page.right), static_cast<long>(page.bottom));
    return std::string(text, static_cast<size_t>(length)) + (type.empty() ? "" : " MEMBER keyword media-type " + type) + " }";
}

// One media-size-supported collection: a size, or with rangeOfInteger the
// range of custom sizes, in hundredths of a millimetre.
std::string MediaSize(const std::string& x, const std::string& y, const char* tag = "integer") {
    return std::string("{ MEMBER ") + tag + " x-dimension " + x + " MEMBER " + tag + " y-dimension " + y + " }";
}

void Attr(std::string* out, const char* tag, const char* name, const std::string& values) {
    if (!values.empty()) *out += std::string("ATTR ") + tag + " " + name + " " + values + "\n";
}

}  // namespace

std::string vlibPRINT_Caps4IppAttributes(const QueryBuffers* set, const std::wstring& makeAndModel) {
    std::string out = "# IPP Everywhere printer attributes of a capability record, for ippeveprinter -a\n";
    Attr(&out, "text", "printer-make-and-model", Quoted(platform::Utf8(makeAndModel.c_str())));

    // Media types. The record keeps no default type either: the first of the
    // list stands for it, as the first paper does below.
    std::vector<std::string> types;
    DWORD type = 0;
    for (DWORD i = 0; set->pMedias && MediaIdAt(set->pMedias, i, &type); ++i) {
        WCHAR name[kMediaNameChars + 1];
        CopyNameSlot(name, MediaNameAt(set->pMedias, i), kMediaNameChars);
        if (const std::string keyword = vlibPRINT_PwgMediaType(type, name); !keyword.empty()) AddUnique(&types, keyword);
    }

    // Media: one name per paper size, one collection per size and margins.
    // The record keeps no default paper; the first paper of the list (drivers
    // list their default first as a rule) stands for it.
    std::vector<std::string> names, collections, sizes;
    std::string defaultCollection;
    for (const MediaPage& page : vlibPRINT_MediaPages(set)) {
        if (page.size.width <= 0 || page.size.length <= 0 || std::max(page.size.width, page.size.length) > kPwgMaxTenths)
            continue;
        const PwgMedia media = vlibPRINT_PwgMedia(page.size, page.name);
        AddUnique(&names, media.name);
        AddUnique(&sizes, MediaSize(std::to_string(media.width), std::to_string(media.length)));
        AddUnique(&collections, MediaCol(media, page));
        if (defaultCollection.empty()) defaultCollection = MediaCol(media, page, types.empty() ? "" : types.front());
    }
    if (!names.empty()) Attr(&out, "keyword", "media-default", names.front());
    // Custom sizes: the driver takes any paper width and length between its extents.
    PaperSize low, high;
    if (vlibPRINT_CustomSizes(set->dwMinExtent, set->dwMaxExtent, &low, &high)) {
        const PwgMedia smallest = vlibPRINT_PwgCustomMedia(low, "min"), largest = vlibPRINT_PwgCustomMedia(high, "max");
        names.push_back(smallest.name);
        names.push_back(largest.name);
        sizes.push_back(MediaSize(std::to_string(smallest.width) + "-" + std::to_string(largest.width),
                                  std::to_string(smallest.length) + "-" + std::to_string(largest.length), "rangeOfInteger"));
    }
    Attr(&out, "keyword", "media-supported", Joined(names));
    Attr(&out, "collection", "media-size-supported", Joined(sizes));
    if (!collections.empty()) {
        std::string database;
        for (const std::string& collection : collections) database += (database.empty() ? "" : ",\n  ") + collection;
        Attr(&out, "collection", "media-col-database", database);
        Attr(&out, "collection", "media-col-default", defaultCollection);
    }
    Attr(&out, "keyword", "media-type-supported", Joined(types));

    std::vector<std::string> sources;
    int trays = 0;
    for (DWORD i = 0; set->pBins; ++i) {
        WORD bin = 0;
        if (!BinIdAt(set->pBins, i, &bin)) break;
        const auto known = std::find_if(std::begin(kBinSources), std::end(kBinSources),
                                        [&](const BinSource& entry) { return entry.bin == bin; });
        AddUnique(&sources, known != std::end(kBinSources) ? known->source : "tray-" + std::to_string(++trays));
    }
    Attr(&out, "keyword", "media-source-supported", Joined(sources));

    // Resolutions: the true ones, or for a printer with indexed resolutions
    // only, the dots per inch its indexed levels were measured at.
    DWORD count = 0;
    const ResolutionPair* list = vlibPRINT_ResolutionsInUse(set, &count);
    std::vector<std::string> resolutions;
    for (DWORD i = 0; i < count; ++i)
        if (list[i].x > 0 && list[i].y > 0) AddUnique(&resolutions, Resolution(list[i]));
    const MediaResolution normal = vlibPRINT_NormalResolution(set);
    const bool normalUsable = normal.present && normal.dpi.x > 0 && normal.dpi.y > 0;
    Attr(&out, "resolution", "printer-resolution-supported", Joined(resolutions));
    if (!resolutions.empty())
        Attr(&out, "resolution", "printer-resolution-default", normalUsable ? Resolution(normal.dpi) : resolutions.front());

    const bool duplex = set->dwDuplex == 1, color = set->dwColor == 1;
    Attr(&out, "keyword", "sides-supported", duplex ? "one-sided,two-sided-long-edge,two-sided-short-edge" : "one-sided");
    Attr(&out, "keyword", "print-color-mode-supported", color ? "monochrome,color" : "monochrome");
    Attr(&out, "boolean", "color-supported", color ? "true" : "false");
    const LONG copies = static_cast<LONG>(set->dwCopies);
    Attr(&out, "rangeOfInteger", "copies-supported", "1-" + std::to_string(copies > 1 ? copies : 1));

    // What a driverless client needs to send PWG raster.
    Attr(&out, "resolution", "pwg-raster-document-resolution-supported", Joined(resolutions));
    Attr(&out, "keyword", "pwg-raster-document-type-supported", color ? "black_1,sgray_8,srgb_8" : "black_1,sgray_8");
    Attr(&out, "keyword", "pwg-raster-document-sheet-back", "normal");
    TraceLogWrite(LibraryLog, 0,
                  L"vlibPRINT_Caps4IppAttributes => %d media names, %d media collections, %d media types, %d resolutions, "
                  L"%d sources\n",
                  static_cast<int>(names.size()), static_cast<int>(collections.size()), static_cast<int>(types.size()),
                  static_cast<int>(resolutions.size()), static_cast<int>(sources.size()));
    return out;
}
