// kvcaps --ipp: the record as the printer attributes of an IPP Everywhere
// printer, in the form `ippeveprinter -a FILE` reads.
#include <cstdio>

#include "records/caps4_ipp.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {

// printer names the printer (printer-make-and-model): the printer of the
// source, or the file's name.
int WriteIppExport(const std::vector<BYTE>& bytes, const std::wstring& printer) {
    QueryBuffers set;
    if (!Unpack(bytes, &set)) {  // the record passed its check: only memory can be missing
        std::fprintf(stderr, "kvcaps: out of memory while loading the record\n");
        return kNoMemory;
    }
    const std::string text = vlibPRINT_Caps4IppAttributes(&set, printer);
    vlibPRINT_FreeQueryBuffers(&set);
    return WriteOut(text);
}

}  // namespace kvcaps
