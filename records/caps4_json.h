// A capability set as one JSON document, for tools and servers that do not
// read the binary record: every scalar under its record field name, every
// list, every form with its 21 values by name, the low-level capabilities
// and the escape answers.
#pragma once

#include <string>

#include "records/query_buffers.h"

// The version of the document's form, its member "schemaVersion".
inline constexpr int kCaps4JsonSchemaVersion = 1;

// The document (UTF-8, indented). Names are taken up to their terminator or
// the end of their slot; every value is the stored 32-bit value, signed; the
// ids of bins, papers, media types and the N-up numbers are unsigned. A list
// of a block whose count or bytes say more than its entries (a count dropped
// to 0 over its reserved bytes, a negative count) is listed under "reserved"
// with its count and bytes, so that the record comes back byte for byte.
std::string vlibPRINT_Caps4Json(const QueryBuffers* set);

// The reverse: fills an empty set (every member 0 or null) from a document
// of that form; the set is then filled (bFilled 1) and holds every value of
// the document (exported again, it gives the same document). A member
// missing from the document stays empty (but a form holds all 21 values);
// a document without "schemaVersion" is read as version 1. A 32-bit field takes a signed or an unsigned value.
// A document that does not parse, has another schema version, an unknown
// member (anywhere), a value of the wrong kind, or a name longer than its
// slot is refused: false, the reason traced to LibraryLog (with the unknown
// member's name), and the set is left empty.
// why, when given, receives the reason of a refusal.
bool vlibPRINT_Caps4FromJson(const std::string& json, QueryBuffers* set, std::string* why = nullptr);
