#include "records/caps4_ipp.h"

#include "export/ipp_attributes.h"
#include "export/printer_description.h"

std::string vlibPRINT_Caps4IppAttributes(const QueryBuffers* set, const std::wstring& makeAndModel) {
    return vlibPRINT_IppAttributes(vlibPRINT_DescribePrinter(set, nullptr, makeAndModel));
}
