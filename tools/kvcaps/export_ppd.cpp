// kvcaps --ppd: the record as a PostScript Printer Description, with the
// defaults of an info record's DEVMODE when the source is one. What a
// PostScript driver reading the file will number otherwise (paper and bin
// codes) is said on standard error and in comments at the file's end.
#include <cstdio>

#include "export/ppd.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {

int WritePpdExport(const Source& source) {
    QueryBuffers set;
    if (!Unpack(source.record, &set)) {  // the record passed its check: only memory can be missing
        std::fprintf(stderr, "kvcaps: out of memory while loading the record\n");
        return kNoMemory;
    }
    std::vector<std::string> moved;
    const PpdPrinter printer =
        vlibPRINT_PpdPrinterOfSet(&set, source.hasDevMode ? &source.devMode : nullptr, Utf8(source.Printer()));
    const std::string text = vlibPRINT_PpdText(printer, &moved);
    vlibPRINT_FreeQueryBuffers(&set);
    for (const std::string& line : moved) std::fprintf(stderr, "kvcaps: %s: %s\n", source.where.c_str(), line.c_str());
    return WriteOut(text);
}

}  // namespace kvcaps
