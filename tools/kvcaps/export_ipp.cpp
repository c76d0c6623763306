// kvcaps --ipp: the record as the printer attributes of an IPP Everywhere
// printer, in the form `ippeveprinter -a FILE` reads, rendered from the
// printer's description.
#include <cstdio>

#include "export/ipp_attributes.h"
#include "export/printer_description.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {

int WriteIppExport(const std::vector<BYTE>& bytes, const std::wstring& makeAndModel, const DEVMODEW* devMode) {
    QueryBuffers set;
    if (!Unpack(bytes, &set)) {  // the record passed its check: only memory can be missing
        std::fprintf(stderr, "kvcaps: out of memory while loading the record\n");
        return kNoMemory;
    }
    const std::string text = vlibPRINT_IppAttributes(vlibPRINT_DescribePrinter(&set, devMode, makeAndModel));
    vlibPRINT_FreeQueryBuffers(&set);
    return WriteOut(text);
}

}  // namespace kvcaps
