// The papers of a capability set as pages: each paper's size and, from its
// form at the resolution for normal printing, its page, printable area and
// margins, for the record summaries. The standard exports describe papers
// through the printer description (export/printer_description.h).
#pragma once

#include <string>
#include <vector>

#include "records/query_buffers.h"

// The resolution a capability set uses for normal printing: the one the
// resolution matching falls back to when a DEVMODE asks for none, the middle
// entry (index count / 2) of the resolution list, or for a printer with
// indexed resolutions only, of the indexed list (the medium quality level of
// four). Forms exist for every entry of that list.
struct MediaResolution {
    bool present;        // false when the list in use is empty
    DWORD slot;          // index into the list in use
    ResolutionPair dpi;  // its pair; for an indexed level, the dots per inch measured for it
};
MediaResolution vlibPRINT_NormalResolution(const QueryBuffers* set);

// The list the forms were measured at: the resolution list, or for a printer
// with indexed resolutions only, the indexed list; null with a count of 0 when
// it is empty.
const ResolutionPair* vlibPRINT_ResolutionsInUse(const QueryBuffers* set, DWORD* count);

// One paper size of the set. Margins are in hundredths of a millimetre,
// converted from the form's pixels with its own logical pixels per inch;
// a margin the driver reports below zero counts as 0.
struct MediaPage {
    WORD id;                          // paper id, 0 when the id list is shorter
    WCHAR name[kPaperNameChars + 1];  // paper name, empty when the name list is shorter
    PaperSize size;                   // tenths of a millimetre, from the paper size list
    const FormEntry* form;            // the paper's form at the normal resolution (in the set), or null
    bool hasMargins;                  // a form with logical pixels and a measured page: the margins below
    LONG left, top, right, bottom;
};
// One page per paper size of the set, in the set's order.
std::vector<MediaPage> vlibPRINT_MediaPages(const QueryBuffers* set);

// The range of custom paper sizes the driver's extents give (DC_MINEXTENT
// and DC_MAXEXTENT: a POINTS of tenths of a millimetre, width in the low
// word): false, and no range, for a missing answer (-1 or 0) or an empty range.
bool vlibPRINT_CustomSizes(DWORD minExtent, DWORD maxExtent, PaperSize* smallest, PaperSize* largest);
