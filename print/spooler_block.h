// What the spooler hands back from GetPrinterW, EnumPrintersW,
// GetPrinterDriverW and EnumPrinterDriversW is one block: the records at its
// start, the strings and DEVMODEs they point to after them. A print server or
// a driver fills it, so nothing in it is taken on trust: before anything reads
// a record, its pointers are confined to the block.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// A pointer field of a record: its offset and what it points to.
struct SpoolerBlockField {
    enum Kind { kText, kTextList, kDevmode, kOpaque };
    size_t offset;
    Kind kind;
};

// The records of the block that lie whole inside it (at most `count`), each
// pointer field that does not point at a whole item inside the block (a text
// with its terminator, a list with its empty last text, a DEVMODE with its
// dmSize and dmDriverExtra, an aligned address for the rest) set to null and
// traced by `caller`. A pointer outside the block so reads as no string.
DWORD vlibPRINT_ConfineBlock(BYTE* block, size_t size, size_t recordSize, DWORD count,
                             const SpoolerBlockField* fields, size_t fieldCount, const WCHAR* caller);

// The same for PRINTER_INFO_n records; levels it has no table for keep no
// record (0).
DWORD vlibPRINT_ConfinePrinterInfo(BYTE* block, size_t size, DWORD level, DWORD count, const WCHAR* caller);
