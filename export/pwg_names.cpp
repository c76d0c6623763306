#include "export/pwg_names.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <vector>

namespace {

// PWG 5101.1 standard sheet and envelope sizes. The names describe their own
// sizes, in inches or millimetres, short side first.
constexpr const char* kPwgSizes[] = {
    // North American
    "na_index-3x5_3x5in", "na_personal_3.625x6.5in", "na_monarch_3.875x7.5in", "na_number-9_3.875x8.875in",
    "na_index-4x6_4x6in", "na_number-10_4.125x9.5in", "na_a2_4.375x5.75in", "na_number-11_4.5x10.375in",
    "na_number-12_4.75x11in", "na_5x7_5x7in", "na_index-5x8_5x8in", "na_number-14_5x11.5in",
    "na_invoice_5.5x8.5in", "na_index-4x6-ext_6x8in", "na_6x9_6x9in", "na_c5_6.5x9.5in", "na_7x9_7x9in",
    "na_executive_7.25x10.5in", "na_govt-letter_8x10in", "na_govt-legal_8x13in", "na_quarto_8.5x10.83in",
    "na_letter_8.5x11in", "na_fanfold-eur_8.5x12in", "na_letter-plus_8.5x12.69in", "na_foolscap_8.5x13in",
    "na_oficio_8.5x13.4in", "na_legal_8.5x14in", "na_super-a_8.94x14in", "na_9x11_9x11in", "na_arch-a_9x12in",
    "na_letter-extra_9.5x12in", "na_legal-extra_9.5x15in", "na_10x11_10x11in", "na_10x13_10x13in",
    "na_10x14_10x14in", "na_10x15_10x15in", "na_11x12_11x12in", "na_edp_11x14in", "na_fanfold-us_11x14.875in",
    "na_11x15_11x15in", "na_ledger_11x17in", "na_eur-edp_12x14in", "na_arch-b_12x18in", "na_12x19_12x19in",
    "na_b-plus_12x19.17in", "na_super-b_13x19in", "na_c_17x22in", "na_arch-c_18x24in", "na_d_22x34in",
    "na_arch-d_24x36in", "na_e_34x44in", "na_arch-e_36x48in",
    // ISO
    "iso_a10_26x37mm", "iso_a9_37x52mm", "iso_a8_52x74mm", "iso_a7_74x105mm", "iso_a6_105x148mm",
    "iso_a5_148x210mm", "iso_a5-extra_174x235mm", "iso_a4_210x297mm", "iso_a4-tab_225x297mm",
    "iso_a4-extra_235.5x322.3mm", "iso_a3_297x420mm", "iso_a3-extra_322x445mm", "iso_a2_420x594mm",
    "iso_a1_594x841mm", "iso_a0_841x1189mm", "iso_b10_31x44mm", "iso_b9_44x62mm", "iso_b8_62x88mm",
    "iso_b7_88x125mm", "iso_b6_125x176mm", "iso_b6c4_125x324mm", "iso_b5_176x250mm", "iso_b5-extra_201x276mm",
    "iso_b4_250x353mm", "iso_b3_353x500mm", "iso_b2_500x707mm", "iso_b1_707x1000mm", "iso_b0_1000x1414mm",
    "iso_c10_28x40mm", "iso_c9_40x57mm", "iso_c8_57x81mm", "iso_c7_81x114mm", "iso_c7c6_81x162mm",
    "iso_c6_114x162mm", "iso_c6c5_114x229mm", "iso_c5_162x229mm", "iso_c4_229x324mm", "iso_c3_324x458mm",
    "iso_c2_458x648mm", "iso_c1_648x917mm", "iso_c0_917x1297mm", "iso_dl_110x220mm", "iso_ra4_215x305mm",
    "iso_sra4_225x320mm", "iso_ra3_305x430mm", "iso_sra3_320x450mm",
    // Japanese and Chinese
    "jis_b10_32x45mm", "jis_b9_45x64mm", "jis_b8_64x91mm", "jis_b7_91x128mm", "jis_b6_128x182mm",
    "jis_b5_182x257mm", "jis_b4_257x364mm", "jis_b3_364x515mm", "jis_b2_515x728mm", "jis_b1_728x1030mm",
    "jis_b0_1030x1456mm", "jis_exec_216x330mm", "jpn_kaku2_240x332mm", "jpn_kaku3_216x277mm",
    "jpn_chou3_120x235mm", "jpn_chou4_90x205mm", "jpn_hagaki_100x148mm", "jpn_oufuku_148x200mm",
    "jpn_you4_105x235mm", "prc_32k_97x151mm", "prc_1_102x165mm", "prc_2_102x176mm", "prc_4_110x208mm",
    "prc_8_120x309mm", "prc_6_120x320mm", "prc_16k_146x215mm", "prc_7_160x230mm",
    // Other
    "om_small-photo_100x150mm", "om_italian_110x230mm", "om_folio_210x330mm", "om_folio-sp_215x315mm",
    "om_invite_220x220mm", "oe_photo-l_3.5x5in",
};

// The size a self-describing name gives, in hundredths of a millimetre.
bool PwgNameSize(const char* name, LONG* width, LONG* length) {
    const char* size = std::strrchr(name, '_');
    char* end = nullptr;
    if (!size) return false;
    const double w = std::strtod(size + 1, &end);
    if (*end != 'x') return false;
    const double l = std::strtod(end + 1, &end);
    const double unit = std::strcmp(end, "in") == 0 ? 2540 : std::strcmp(end, "mm") == 0 ? 100 : 0;
    *width = std::lround(w * unit);
    *length = std::lround(l * unit);
    return unit > 0;
}


// The number of quarter inches a length in tenths of a millimetre is, when
// it is one to within the tenth the driver rounded to; else 0. A quarter inch
// is 63.5 tenths.
long long Quarters(LONG tenths) {
    const long long quarters = std::llround(tenths * 2.0 / 127);
    return quarters > 0 && std::llabs(tenths * 2LL - quarters * 127) <= 2 ? quarters : 0;
}

bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

std::string vlibPRINT_KeywordPart(const WCHAR* name) {
    std::string part;
    for (const WCHAR* c = name; c && *c && part.size() < 32; ++c) {
        if (*c < 128 && std::iswalnum(*c))
            part += static_cast<char>(std::towlower(*c));
        else if (!part.empty() && part.back() != '-')
            part += '-';
    }
    while (!part.empty() && part.back() == '-') part.pop_back();
    return part;
}

std::string vlibPRINT_PwgMediaType(DWORD type, const WCHAR* name) {
    switch (type) {
    case DMMEDIA_STANDARD: return "stationery";
    case DMMEDIA_TRANSPARENCY: return "transparency";
    case DMMEDIA_GLOSSY: return "photographic-glossy";
    default: break;
    }
    // A driver-defined type is known by its name alone. A keyword starts
    // with a letter: a name that starts with a digit gets "media-" before it.
    const std::string part = vlibPRINT_KeywordPart(name);
    return part.empty() || std::isalpha(static_cast<unsigned char>(part[0])) ? part : "media-" + part;
}

PwgMedia vlibPRINT_PwgMedia(PaperSize size, const WCHAR* paperName) {
    // The nearest standard size within half a millimetre, as for portrait or turned.
    const long long w = size.width * 10LL, l = size.length * 10LL;
    const char* nearest = nullptr;
    long long best = 0;
    LONG bestWidth = 0, bestLength = 0;
    // The sizes the names give, read from them once.
    struct Named {
        const char* name;
        LONG width, length;
    };
    static const std::vector<Named> sizes = [] {
        std::vector<Named> list;
        for (const char* name : kPwgSizes)
            if (LONG width = 0, length = 0; PwgNameSize(name, &width, &length)) list.push_back({name, width, length});
        return list;
    }();
    for (const auto& [name, width, length] : sizes) {
        for (const auto& [x, y] : {std::pair{w, l}, std::pair{l, w}}) {
            const long long dx = std::llabs(x - width), dy = std::llabs(y - length);
            if (dx > 50 || dy > 50 || (nearest && dx + dy >= best)) continue;
            nearest = name, best = dx + dy, bestWidth = width, bestLength = length;
        }
    }
    if (nearest) return {nearest, bestWidth, bestLength, true};
    const std::string part = vlibPRINT_KeywordPart(paperName);
    return vlibPRINT_PwgCustomMedia(size, part.empty() ? "paper" : part.c_str());
}

PwgMedia vlibPRINT_PwgCustomMedia(PaperSize size, const char* namePart, bool asGiven) {
    const LONG shortSide = asGiven ? size.width : std::min(size.width, size.length);
    const LONG longSide = asGiven ? size.length : std::max(size.width, size.length);
    const long long shortQuarters = Quarters(shortSide), longQuarters = Quarters(longSide);
    if (shortQuarters && longQuarters)  // a quarter inch is 635 hundredths of a millimetre
        return {std::string("custom_") + namePart + "_" + vlibPRINT_ShortNumber(shortQuarters / 4.0, 2) + "x" + vlibPRINT_ShortNumber(longQuarters / 4.0, 2) + "in",
                static_cast<LONG>(shortQuarters * 635), static_cast<LONG>(longQuarters * 635), false};
    return {std::string("custom_") + namePart + "_" + vlibPRINT_ShortNumber(shortSide / 10.0, 1) + "x" + vlibPRINT_ShortNumber(longSide / 10.0, 1) + "mm",
            shortSide * 10, longSide * 10, false};
}

std::string vlibPRINT_PwgNextTray(const std::set<std::string>& taken, int* last) {
    for (int n = *last + 1;; ++n)
        if (std::string keyword = "tray-" + std::to_string(n); !taken.count(keyword)) return *last = n, keyword;
}

std::string vlibPRINT_PwgMediaSource(WORD id, const WCHAR* name, const std::vector<std::string>& taken) {
    const auto free = [&](const std::string& keyword) {
        return std::find(taken.begin(), taken.end(), keyword) == taken.end() ? keyword : std::string();
    };
    // By what the id says the bin is. DMBIN_FORMSOURCE is the driver's own
    // choice of bin by the form, which IPP calls auto.
    const char* byId = nullptr;
    switch (id) {
    case DMBIN_UPPER: byId = "top"; break;
    case DMBIN_LOWER: byId = "bottom"; break;
    case DMBIN_MIDDLE: byId = "middle"; break;
    case DMBIN_MANUAL: byId = "manual"; break;
    case DMBIN_ENVELOPE: byId = "envelope"; break;
    case DMBIN_ENVMANUAL: byId = "manual"; break;
    case DMBIN_AUTO: byId = "auto"; break;
    case DMBIN_LARGECAPACITY: byId = "large-capacity"; break;
    case DMBIN_CASSETTE: byId = "main"; break;
    case DMBIN_FORMSOURCE: byId = "auto"; break;
    default: break;
    }
    if (byId && !free(byId).empty()) return byId;

    // By the bin's name.
    const std::string words = vlibPRINT_KeywordPart(name);
    std::string keyword;
    const size_t tray = words.find("tray");
    if (tray != std::string::npos) {
        size_t digits = tray + 4;
        if (digits < words.size() && words[digits] == '-') ++digits;
        const int n = std::atoi(words.c_str() + digits);
        if (digits < words.size() && std::isdigit(static_cast<unsigned char>(words[digits])) && n >= 1 && n <= 20)
            keyword = free("tray-" + std::to_string(n));
    }
    const struct { const char* part; const char* keyword; } byName[] = {
        {"envelope", "envelope"},   {"bypass", "by-pass-tray"},  {"by-pass", "by-pass-tray"},
        {"multi-purpose", "by-pass-tray"}, {"multipurpose", "by-pass-tray"}, {"mp-tray", "by-pass-tray"},
        {"manual", "manual"},       {"large-capacity", "large-capacity"}, {"high-capacity", "large-capacity"},
        {"lct", "large-capacity"},  {"upper", "top"},            {"top", "top"},
        {"lower", "bottom"},        {"bottom", "bottom"},        {"middle", "middle"},
        {"auto", "auto"},           {"cassette", "main"},        {"main", "main"},
        {"rear", "rear"},           {"side", "side"},            {"photo", "photo"},
        {"roll", "main-roll"},      {"disc", "disc"},            {"hagaki", "hagaki"},
        {"postcard", "hagaki"},     {"alternate", "alternate"},  {"left", "left"},
        {"right", "right"},         {"center", "center"},
    };
    for (const auto& entry : byName)
        if (keyword.empty() && Has(words, entry.part)) keyword = free(entry.keyword);
    return keyword;
}

std::string vlibPRINT_ShortNumber(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    std::string out = text;
    if (out.find('.') != std::string::npos) {
        while (out.back() == '0') out.pop_back();
        if (out.back() == '.') out.pop_back();
    }
    return out == "-0" ? "0" : out;
}
