// A printer description as the printer attributes of an IPP Everywhere
// printer, for a server that recreates printers from IPP (a CUPS driverless
// queue: `lpadmin -m everywhere` builds its PPD from these attributes).
#pragma once

#include <string>

#include "export/printer_description.h"

// The attributes as `ippeveprinter -a` reads them (ipptool ATTR lines,
// UTF-8, LF line ends): every printer description and job template
// attribute of PWG 5100.12 and 5100.14 the description can say, and for
// what it cannot know the value a conforming printer of unknown make reports.
// The operations, the document formats and what else the server answers on
// its own are left to the server (ippeveprinter reports a duplicate).
std::string vlibPRINT_IppAttributes(const PrinterDescription& d);
