// kvcaps: the readable summary of a capability record and its complete
// field-by-field dump.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "export/printer_description.h"
#include "records/caps4_media.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {

// The record unpacked into a capability set (the caller frees it with
// vlibPRINT_FreeQueryBuffers); false when it does not load.
bool Unpack(const std::vector<BYTE>& bytes, QueryBuffers* set) {
    *set = QueryBuffers{};
    return vlibPRINT_UnpackCaps4(set, reinterpret_cast<const caps4*>(bytes.data()), bytes.size());
}

std::string Millimetres(double millimetres) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", millimetres);
    return text;
}
std::string Millimetres(LONG pixels, LONG dpi) { return Millimetres(pixels * 25.4 / dpi); }

// Every paper's page, printable area and margins, from its form at the
// resolution for normal printing.
void PrintPages(const std::vector<BYTE>& bytes) {
    QueryBuffers set;
    if (!Unpack(bytes, &set)) {  // the record passed its check: only memory can be missing
        std::printf("Pages: not shown, out of memory\n");
        return;
    }
    const MediaResolution normal = vlibPRINT_NormalResolution(&set);
    const std::vector<MediaPage> pages = vlibPRINT_MediaPages(&set);
    if (normal.present && !pages.empty()) {
        char which[32];
        if (set.dwIndexedResolutionsOnly)
            std::snprintf(which, sizeof(which), "quality level %ld", -1 - static_cast<long>(normal.slot));
        else
            std::snprintf(which, sizeof(which), "resolution %lu", static_cast<unsigned long>(normal.slot));
        std::printf("Pages at %ld x %ld dpi (%s, for normal printing), in millimetres:\n",
                    static_cast<long>(normal.dpi.x), static_cast<long>(normal.dpi.y), which);
        std::printf("    %5s  %-13s  %-13s  %-13s  %-29s  %s\n", "id", "paper", "page", "printable",
                    "margins left/top/right/bottom", "name");
        for (const MediaPage& page : pages) {
            const std::string paper = Millimetres(page.size.width / 10.0) + " x " + Millimetres(page.size.length / 10.0);
            std::string sheet = "-", printable = "-", margins = "-";
            if (page.hasMargins) {
                const FormEntry& f = *page.form;
                sheet = Millimetres(f.physW, f.logX) + " x " + Millimetres(f.physH, f.logY);
                printable = Millimetres(f.hres, f.logX) + " x " + Millimetres(f.vres, f.logY);
                margins = Millimetres(page.left / 100.0) + " / " + Millimetres(page.top / 100.0) + " / " +
                          Millimetres(page.right / 100.0) + " / " + Millimetres(page.bottom / 100.0);
            }
            std::printf("    %5u  %-13s  %-13s  %-13s  %-29s  %s\n", page.id, paper.c_str(), sheet.c_str(),
                        printable.c_str(), margins.c_str(), Utf8(page.name).c_str());
        }
    }
    vlibPRINT_FreeQueryBuffers(&set);
}

#define KV_SHOWN(stem, hex) ShownScalar{#stem, &caps4::dw##stem, &QueryBuffers::dw##stem, hex}
const ShownScalar kShownScalars[23] = {
    KV_SHOWN(Collate, false),      KV_SHOWN(Color, false),        KV_SHOWN(Copies, false),
    KV_SHOWN(Driver, true),        KV_SHOWN(Datatype, false),     KV_SHOWN(Duplex, false),
    KV_SHOWN(EMF, false),          KV_SHOWN(Extra, false),        KV_SHOWN(Fields, true),
    KV_SHOWN(Manufacturer, false), KV_SHOWN(MaxExtent, true),     KV_SHOWN(MinExtent, true),
    KV_SHOWN(Model, false),        KV_SHOWN(Orientation, false),  KV_SHOWN(PrinterMem, false),
    KV_SHOWN(PrintRate, false),    KV_SHOWN(PrintRatePPM, false), KV_SHOWN(PrintRateUnit, false),
    KV_SHOWN(DevModeSize, false),  KV_SHOWN(Staple, false),       KV_SHOWN(TrueType, false),
    KV_SHOWN(Version, true),       KV_SHOWN(AnsiOnly, false),
};
#undef KV_SHOWN

void PrintSummary(const std::vector<BYTE>& bytes) {
    caps4 h;
    std::memcpy(&h, bytes.data(), sizeof(h));

    // Papers: numbers, names and sizes are separate arrays whose counts may differ.
    const WCHAR* paperNames = Section<WCHAR>(bytes, h.dwOffsetToPaperNames);
    const DWORD numPapers = Listed(h.dwNumPapers), numPaperNames = Listed(h.dwNumPaperNames),
                numPaperSizes = Listed(h.dwNumPaperSize);
    const DWORD papers = std::max(numPapers, std::max(numPaperNames, numPaperSizes));
    std::printf("Papers (%ld ids, %ld names, %ld sizes):\n", Signed(h.dwNumPapers), Signed(h.dwNumPaperNames),
                Signed(h.dwNumPaperSize));
    if (papers) std::printf("    %5s  %-18s  %s\n", "id", "size (0.1 mm)", "name");
    for (DWORD i = 0; i < papers; ++i) {
        char id[16] = "-", size[32] = "-";
        if (i < numPapers) std::snprintf(id, sizeof(id), "%u", Entry<WORD>(bytes, h.dwOffsetToPapers, i));
        if (i < numPaperSizes) {
            const PaperSize paper = Entry<PaperSize>(bytes, h.dwOffsetToPaperSize, i);
            std::snprintf(size, sizeof(size), "%5ld x %5ld", static_cast<long>(paper.width), static_cast<long>(paper.length));
        }
        const std::string name = i < numPaperNames ? Utf8(paperNames + i * kPaperNameChars, kPaperNameChars) : "-";
        std::printf("    %5s  %-18s  %s\n", id, size, name.c_str());
    }

    const WCHAR* binNames = Section<WCHAR>(bytes, h.dwOffsetToBinNames);
    const DWORD numBins = Listed(h.dwNumBins), numBinNames = Listed(h.dwNumBinNames);
    // Each bin with the PWG media-source keyword the standard exports give it.
    std::vector<std::string> sources;
    bool customEvidence = false;
    QueryBuffers set;
    if (Unpack(bytes, &set)) {
        const PrinterDescription described = vlibPRINT_DescribePrinter(&set, nullptr, L"");
        for (const DescribedBin& bin : described.bins) sources.push_back(bin.source);
        customEvidence = described.custom.present;
        vlibPRINT_FreeQueryBuffers(&set);
    }
    std::printf("Bins (%ld ids, %ld names):\n", Signed(h.dwNumBins), Signed(h.dwNumBinNames));
    for (DWORD i = 0; i < std::max(numBins, numBinNames); ++i) {
        char id[16] = "-";
        if (i < numBins) std::snprintf(id, sizeof(id), "%u", Entry<WORD>(bytes, h.dwOffsetToBins, i));
        const std::string name = i < numBinNames ? Utf8(binNames + i * kBinNameChars, kBinNameChars) : "-";
        std::printf("    %5s  %-16s  %s\n", id, i < sources.size() ? sources[i].c_str() : "-", name.c_str());
    }

    const WCHAR* mediaNames = Section<WCHAR>(bytes, h.dwOffsetToMediaTypeNames);
    const DWORD numMedia = Listed(h.dwNumMediaTypes), numMediaNames = Listed(h.dwNumMediaTypeNames);
    const DWORD media = std::max(numMedia, numMediaNames);
    std::printf("Media types (%ld ids, %ld names):%s\n", Signed(h.dwNumMediaTypes), Signed(h.dwNumMediaTypeNames),
                media ? "" : " none");
    for (DWORD i = 0; i < media; ++i) {
        char id[16] = "-";
        if (i < numMedia) std::snprintf(id, sizeof(id), "%lu", static_cast<unsigned long>(Entry<DWORD>(bytes, h.dwOffsetToMediaTypes, i)));
        const std::string name = i < numMediaNames ? Utf8(mediaNames + i * kMediaNameChars, kMediaNameChars) : "-";
        std::printf("    %5s  %s\n", id, name.c_str());
    }

    auto printResolutions = [&](const char* title, DWORD offset, DWORD count) {
        std::printf("%s (%ld):", title, Signed(count));
        for (DWORD i = 0; i < Listed(count); ++i) {
            const ResolutionPair pair = Entry<ResolutionPair>(bytes, offset, i);
            std::printf("%s %ld x %ld", i ? "," : "", static_cast<long>(pair.x), static_cast<long>(pair.y));
        }
        std::printf("%s\n", Listed(count) ? "" : " none");
    };
    printResolutions("Resolutions", h.dwOffsetToResolutions, h.dwNumResolutions);
    printResolutions("Indexed resolutions", h.dwOffsetToResolutionsIndexed, h.dwNumResolutionsIndexed);
    std::printf("Indexed resolutions only: %s\n", h.dwIndexedResolutionsOnly ? "yes" : "no");

    // Forms: one per paper size at every resolution of the list in use.
    const DWORD resolutions = Listed(h.dwIndexedResolutionsOnly ? h.dwNumResolutionsIndexed : h.dwNumResolutions);
    std::printf("Forms: %ld (%lu paper sizes x %lu resolutions = %llu)\n", Signed(h.dwNumForms),
                static_cast<unsigned long>(numPaperSizes), static_cast<unsigned long>(resolutions),
                static_cast<unsigned long long>(numPaperSizes) * resolutions);
    PrintPages(bytes);

    PaperSize low, high;
    if (vlibPRINT_CustomSizes(h.dwMinExtent, h.dwMaxExtent, &low, &high))
        std::printf("Custom paper sizes: %.1f x %.1f mm to %.1f x %.1f mm (%s)\n", low.width / 10.0, low.length / 10.0,
                    high.width / 10.0, high.length / 10.0,
                    customEvidence ? "beyond the listed papers: exported" : "the listed papers' bounding box: not exported");
    else
        std::printf("Custom paper sizes: none\n");
    std::printf("Scalar capabilities:\n");
    int column = 0;
    for (const ShownScalar& scalar : kShownScalars) {
        char text[64];
        const DWORD value = h.*scalar.record;
        if (scalar.hex)
            std::snprintf(text, sizeof(text), "%s 0x%lX", scalar.name, static_cast<unsigned long>(value));
        else
            std::snprintf(text, sizeof(text), "%s %ld", scalar.name, static_cast<long>(value));
        std::printf("%s%-26s", column == 0 ? "    " : "", text);
        if (++column == 4) {
            std::printf("\n");
            column = 0;
        }
    }
    if (column) std::printf("\n");
    std::printf("Lists: %ld files, %ld N-up values, %ld personalities, %ld media ready\n", Signed(h.dwNumFiles),
                Signed(h.dwNumNUP), Signed(h.dwNumPersonality), Signed(h.dwNumMediaReady));
    std::printf("Graphics: technology %ld, %ld bits per pixel, raster caps 0x%lX, text caps 0x%lX\n",
                static_cast<long>(h.lowLevel.Technology), static_cast<long>(h.lowLevel.BitsPixel),
                static_cast<unsigned long>(h.lowLevel.RasterCaps), static_cast<unsigned long>(h.lowLevel.TextCaps));
}

// A complete dump through the trace log's own dump functions into a scratch
// file, printed without the time stamps.
void PrintTraceDump(const std::function<void(TraceLog*)>& dump) {
    WCHAR folder[MAX_PATH] = {};
    WCHAR path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    if (!::GetTempFileNameW(folder, L"kvc", 0, path)) {
        std::printf("(no scratch file for the full dump)\n");
        return;
    }
    TraceLog* log = TraceLogCreate(path, 0);
    dump(log);
    if (log) TraceLogDestroy(log);
    std::vector<BYTE> text;
    std::string why;
    if (ReadFileBytes(path, &text, &why)) {
        std::string all(text.begin(), text.end());
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('\n', start);
            if (end == std::string::npos) end = all.size();
            std::string line = all.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > 22 && line[0] == '[' && line[20] == ']' && line[21] == ' ') line.erase(0, 22);
            std::printf("%s\n", line.c_str());
            start = end + 1;
        }
    }
    ::DeleteFileW(path);
}

// The capability record's complete field-by-field dump.
void PrintFullDump(const std::vector<BYTE>& bytes) {
    PrintTraceDump([&](TraceLog* log) { LogCaps4(log, reinterpret_cast<const caps4*>(bytes.data()), bytes.size()); });
}

// ------------------------------------------------------------ printer info records
//
//   kvcaps --info-record PRINTER FILE [--record-version 400|401|402]
//   kvcaps [--full] --info FILE
//   kvcaps --publish [--type N] [--session N] [--user NAME] [--connection N]

}  // namespace kvcaps
