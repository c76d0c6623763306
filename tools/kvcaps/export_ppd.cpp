// kvcaps --ppd: the printer description of the record as a PostScript
// Printer Description, with the defaults of an info record's DEVMODE when
// the source is one. What a PostScript driver reading the file will number
// otherwise (paper and bin codes) is said on standard error and in comments
// at the file's end.
#include <cstdio>

#include "export/ppd.h"
#include "export/printer_description.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {

int WritePpdExport(const Source& source) {
    QueryBuffers set;
    if (!Unpack(source.record, &set)) {  // the record passed its check: only memory can be missing
        std::fprintf(stderr, "kvcaps: out of memory while loading the record\n");
        return kNoMemory;
    }
    const PrinterDescription description =
        vlibPRINT_DescribePrinter(&set, source.hasDevMode ? &source.devMode : nullptr, source.Printer());
    vlibPRINT_FreeQueryBuffers(&set);
    std::vector<std::string> moved;
    const std::string text = vlibPRINT_PpdText(vlibPRINT_PpdPrinter(description, Utf8(source.Printer())), &moved);
    for (const std::string& line : moved) std::fprintf(stderr, "kvcaps: %s: %s\n", source.where.c_str(), line.c_str());
    return WriteOut(text);
}

}  // namespace kvcaps
