// Printer things under their PWG names: paper sizes as PWG 5101.1 media
// names, bins as PWG 5100.7 media-source keywords, media types as
// media-type keywords. The printer description (printer_description.h)
// names everything through these; the exports only copy the names.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "devcaps/devcaps_types.h"

// Sizes above this many tenths of a millimetre have no size in hundredths
// that IPP can carry (a signed 32-bit integer).
inline constexpr LONG kPwgMaxTenths = 0x7FFFFFFF / 10;

// A paper size under its PWG 5101.1 self-describing name, with the size that
// name stands for in hundredths of a millimetre, short side first.
struct PwgMedia {
    std::string name;
    LONG width;      // hundredths of a millimetre, the short side
    LONG length;     // the long side
    bool standard;   // a standard size of the PWG table (the size is the standard's)
};

// A size within 0.5 mm of a standard size in both directions, in either
// orientation, takes the nearest standard's name and exact size
// ("iso_a4_210x297mm", 21000 x 29700). Any other size keeps its own under a
// custom name made of the paper name's letters and digits, short side first,
// in inches when both sides are whole quarters of an inch
// ("custom_label_4x6in"), else in millimetres ("custom_address_28.5x88.9mm").
PwgMedia vlibPRINT_PwgMedia(PaperSize size, const WCHAR* paperName);

// A size under the custom name custom_<namePart>_<short>x<long><unit>,
// whatever its size; namePart is in keyword characters, no underscore. With
// asGiven the sides keep their order (the width first), as the ends of a
// custom range ("custom_min_...", "custom_max_...") need.
PwgMedia vlibPRINT_PwgCustomMedia(PaperSize size, const char* namePart, bool asGiven = false);

// A bin as a PWG 5100.7 media-source keyword, by what it is: by its DMBIN_
// id first (DMBIN_MANUAL "manual", DMBIN_LARGECAPACITY "large-capacity",
// ...), then by its name ("Tray 2" "tray-2", "Envelope Feeder" "envelope",
// "Bypass" "by-pass-tray"); empty when neither tells. `taken` holds the
// keywords of the bins before it: a keyword already taken is not given twice.
std::string vlibPRINT_PwgMediaSource(WORD id, const WCHAR* name, const std::vector<std::string>& taken);

// The keyword a bin gets when neither its id nor its name tells what it is:
// the first tray-N no other bin has with N above *last, the number the bin
// before it took (0 for the first), which it then holds. Every number up to
// *last is taken by then, so a printer's bins cost one pass, not one each.
std::string vlibPRINT_PwgNextTray(const std::set<std::string>& taken, int* last);

// A media type as a PWG media-type keyword: the three standard types by their
// codes ("stationery", "transparency", "photographic-glossy"), a
// driver-defined one by its name in keyword characters ("Heavy Card 200g":
// "heavy-card-200g"). Empty for a driver-defined type without a usable name.
std::string vlibPRINT_PwgMediaType(DWORD type, const WCHAR* name);

// A name in keyword characters: its ASCII letters and digits in lower case,
// every run of other characters one hyphen, at most 32 characters; empty when
// it has no letter or digit.
std::string vlibPRINT_KeywordPart(const WCHAR* name);

// A number with at most `decimals` decimals and no trailing zeros ("28.5",
// "210", "4.125"; never "-0"), as media names and PPD values write it.
std::string vlibPRINT_ShortNumber(double value, int decimals);
