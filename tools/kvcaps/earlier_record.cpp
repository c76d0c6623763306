// kvcaps: the earlier printer info record as a source. Its earlier, shorter
// capability record holds the bins, the resolutions, the papers and their
// forms of 18 values; what today's record adds (indexed resolutions, media
// types, files, the other lists and answers) is simply absent from it. It is
// read into a record document and packed as today's record, so that every
// command reads it like any other source.
#include <cstring>
#include <cwchar>

#include <nlohmann/json.hpp>

#include "records/caps4_check.h"
#include "records/caps4_json.h"
#include "records/caps4_layout.h"
#include "records/printer_info.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {
namespace earlier {

namespace {

using Json = nlohmann::json;

DWORD At(const std::vector<BYTE>& bytes, size_t offset) {
    DWORD value;
    std::memcpy(&value, bytes.data() + offset, sizeof(value));
    return value;
}

// Where the earlier capability record starts (its place is stored at 6504).
DWORD CapsOffset(const std::vector<BYTE>& bytes) { return At(bytes, offsetof(KVPrinterInfo2, dwOffsetToCaps)); }

// The scalar values the earlier record carries, by the names today's record gives them.
struct Scalar {
    const char* name;
    DWORD caps2::*field;
};
constexpr Scalar kScalars[] = {
    {"dwCollate", &caps2::dwCollate},     {"dwColor", &caps2::dwColor},
    {"dwCopies", &caps2::dwCopies},       {"dwDriver", &caps2::dwDriver},
    {"dwDuplex", &caps2::dwDuplex},       {"dwIndexedResolutionsOnly", &caps2::dwIndexedResolutionsOnly},
    {"dwExtra", &caps2::dwExtra},         {"dwFields", &caps2::dwFields},
    {"dwMaxExtent", &caps2::dwMaxExtent}, {"dwMinExtent", &caps2::dwMinExtent},
    {"dwOrientation", &caps2::dwOrientation}, {"dwDevModeSize", &caps2::dwDevModeSize},
    {"dwTrueType", &caps2::dwTrueType},   {"dwVersion", &caps2::dwVersion},
};

// The entries of a section that were checked to lie inside the record.
template <class T>
std::vector<T> Entries(const BYTE* record, const caps2& h, Caps2SectionIndex section) {
    const SectionLayout<caps2>& s = kCaps2Layout[section];
    const LONG count = static_cast<LONG>(h.*s.count);
    std::vector<T> out(count > 0 ? static_cast<size_t>(count) : 0);
    for (size_t i = 0; i < out.size(); ++i) std::memcpy(&out[i], record + h.*s.offset + i * s.width, sizeof(T));
    return out;
}

std::vector<std::string> Names(const BYTE* record, const caps2& h, Caps2SectionIndex section, size_t chars) {
    const SectionLayout<caps2>& s = kCaps2Layout[section];
    std::vector<std::string> out;
    for (LONG i = 0; i < static_cast<LONG>(h.*s.count); ++i) {
        std::vector<WCHAR> name(chars + 1, 0);
        std::memcpy(name.data(), record + h.*s.offset + static_cast<size_t>(i) * s.width, chars * sizeof(WCHAR));
        out.push_back(Utf8(name.data()));
    }
    return out;
}

}  // namespace

bool IsEarlierRecord(const std::vector<BYTE>& bytes) {
    if (bytes.size() < sizeof(KVPrinterInfo2) || At(bytes, 0) != bytes.size() || At(bytes, 4) > 1) return false;
    const DWORD at = CapsOffset(bytes);
    return at >= sizeof(KVPrinterInfo2) && at <= bytes.size() - sizeof(caps2) &&
           At(bytes, at + offsetof(caps2, dwOffsetToBinNames)) == kCaps2HeaderSize;
}

bool CapsOf(const std::vector<BYTE>& bytes, std::vector<BYTE>* caps, DEVMODEW* devMode, std::wstring* printer, std::string* why) {
    const DWORD at = CapsOffset(bytes);
    caps2 h;
    std::memcpy(&h, bytes.data() + at, sizeof(h));
    if (h.dwSize < sizeof(caps2) || h.dwSize > bytes.size() - at) {
        *why = "its capability record says it is " + std::to_string(h.dwSize) + " bytes long, and " +
               std::to_string(bytes.size() - at) + " bytes follow its place";
        return false;
    }
    for (const SectionLayout<caps2>& s : kCaps2Layout)
        if (!SectionReadable(h.*s.offset, h.*s.size, h.*s.count, s.width, kCaps2HeaderSize, h.dwSize)) {
            *why = "its capability record's " + Utf8(s.name) + " (" + std::to_string(static_cast<LONG>(h.*s.count)) +
                   " entries, " + std::to_string(h.*s.size) + " bytes at " + std::to_string(h.*s.offset) +
                   ") do not lie inside it";
            return false;
        }
    const BYTE* record = bytes.data() + at;
    Json doc = {{"schemaVersion", kCaps4JsonSchemaVersion}};
    for (const Scalar& s : kScalars) doc[s.name] = static_cast<LONG>(h.*s.field);
    doc["binNames"] = Names(record, h, kSec2BinNames, kBinNameChars);
    doc["bins"] = Entries<WORD>(record, h, kSec2Bins);
    doc["paperNames"] = Names(record, h, kSec2PaperNames, kPaperNameChars);
    doc["papers"] = Entries<WORD>(record, h, kSec2Papers);
    Json sizes = Json::array(), resolutions = Json::array(), forms = Json::array();
    for (const PaperSize& p : Entries<PaperSize>(record, h, kSec2PaperSize)) sizes.push_back({{"width", p.width}, {"length", p.length}});
    for (const ResolutionPair& r : Entries<ResolutionPair>(record, h, kSec2Resolutions)) resolutions.push_back({{"x", r.x}, {"y", r.y}});
    doc["paperSizes"] = sizes;
    // One list of resolutions, which the forms were measured at: for a printer
    // with indexed resolutions only it is the indexed list.
    doc[h.dwIndexedResolutionsOnly ? "resolutionsIndexed" : "resolutions"] = resolutions;
    const size_t perResolution = sizes.size();
    const std::vector<FormEntry2> old = Entries<FormEntry2>(record, h, kSec2Forms);
    for (size_t f = 0; f < old.size(); ++f) {
        const FormEntry2& e = old[f];
        const LONG r = perResolution ? static_cast<LONG>(f / perResolution) : 0;
        // The earlier record never told whether turning the page changes it:
        // 1, as for a form whose flip test has not run.
        forms.push_back({{"formNo", static_cast<LONG>(f)}, {"orientFlag", 1}, {"paprI", e.paprI}, {"paprW", e.paprW},
                         {"paprL", e.paprL}, {"resX", e.resX}, {"resY", e.resY},
                         {"resNo", h.dwIndexedResolutionsOnly ? -1 - r : r}, {"hsize", e.hsize}, {"vsize", e.vsize},
                         {"hres", e.hres}, {"vres", e.vres}, {"logX", e.logX}, {"logY", e.logY}, {"aspX", e.aspX},
                         {"aspY", e.aspY}, {"aspXY", e.aspXY}, {"physW", e.physW}, {"physH", e.physH},
                         {"offX", e.offX}, {"offY", e.offY}});
    }
    doc["forms"] = forms;

    if (!RecordOfJson(doc.dump(-1, ' ', false, Json::error_handler_t::replace), caps, why)) return false;

    const KVPrinterInfo2* info = reinterpret_cast<const KVPrinterInfo2*>(bytes.data());
    *devMode = info->DevMode.dm;
    *printer = std::wstring(info->szPrinterName, wcsnlen(info->szPrinterName, kInfoStringChars));
    return true;
}

}  // namespace earlier
}  // namespace kvcaps
