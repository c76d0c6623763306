// A capability set as one JSON document, for tools and servers that do not
// read the binary record: every scalar under its record field name, every
// list, every form with its 21 values by name, the low-level capabilities
// and the escape answers.
#pragma once

#include <string>

#include "records/query_buffers.h"

// The document (UTF-8, indented). Names are taken up to their terminator or
// the end of their slot; every value is the stored 32-bit value, signed; the
// ids of bins, papers, media types and the N-up numbers are unsigned.
std::string vlibPRINT_Caps4Json(const QueryBuffers* set);

// The reverse: fills an empty set (every member 0 or null) from a document
// of that form; the set is then filled (bFilled 1) and holds every value of
// the document (exported again, it gives the same document). A member
// missing from the document stays empty.
// A document that does not parse, has a value of the wrong kind, or a name
// longer than its slot is refused: false, traced to LibraryLog, and the set
// is left empty.
bool vlibPRINT_Caps4FromJson(const std::string& json, QueryBuffers* set);
