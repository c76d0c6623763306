// A capability set as the printer attributes of an IPP Everywhere printer,
// for a server that recreates printers from IPP (a CUPS driverless queue:
// `lpadmin -m everywhere` builds its PPD from these attributes).
#pragma once

#include <string>

#include "records/query_buffers.h"

// The attributes as `ippeveprinter -a` reads them (ipptool ATTR lines,
// UTF-8, LF line ends). makeAndModel is the printer-make-and-model text.
// Papers with no size of their own (zero or below) are left out; lists the
// set does not have (no bins, no resolutions) leave their attributes out
// rather than invent values. document-format-supported is left to the
// server, which supplies its own.
std::string vlibPRINT_Caps4IppAttributes(const QueryBuffers* set, const std::wstring& makeAndModel);
