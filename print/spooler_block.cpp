#include "print/spooler_block.h"

#include <cstdint>
#include <cstring>
#include <iterator>

#include "log/trace_log.h"

namespace {

using Field = SpoolerBlockField;

const Field kInfo1[] = {{offsetof(PRINTER_INFO_1W, pDescription), Field::kText},
                        {offsetof(PRINTER_INFO_1W, pName), Field::kText},
                        {offsetof(PRINTER_INFO_1W, pComment), Field::kText}};
const Field kInfo2[] = {
    {offsetof(PRINTER_INFO_2W, pServerName), Field::kText},    {offsetof(PRINTER_INFO_2W, pPrinterName), Field::kText},
    {offsetof(PRINTER_INFO_2W, pShareName), Field::kText},     {offsetof(PRINTER_INFO_2W, pPortName), Field::kText},
    {offsetof(PRINTER_INFO_2W, pDriverName), Field::kText},    {offsetof(PRINTER_INFO_2W, pComment), Field::kText},
    {offsetof(PRINTER_INFO_2W, pLocation), Field::kText},      {offsetof(PRINTER_INFO_2W, pDevMode), Field::kDevmode},
    {offsetof(PRINTER_INFO_2W, pSepFile), Field::kText},       {offsetof(PRINTER_INFO_2W, pPrintProcessor), Field::kText},
    {offsetof(PRINTER_INFO_2W, pDatatype), Field::kText},      {offsetof(PRINTER_INFO_2W, pParameters), Field::kText},
    {offsetof(PRINTER_INFO_2W, pSecurityDescriptor), Field::kOpaque}};
const Field kInfo4[] = {{offsetof(PRINTER_INFO_4W, pPrinterName), Field::kText},
                        {offsetof(PRINTER_INFO_4W, pServerName), Field::kText}};
const Field kInfo5[] = {{offsetof(PRINTER_INFO_5W, pPrinterName), Field::kText},
                        {offsetof(PRINTER_INFO_5W, pPortName), Field::kText}};
const Field kInfo8[] = {{offsetof(PRINTER_INFO_8W, pDevMode), Field::kDevmode}};
static_assert(sizeof(PRINTER_INFO_8W) == sizeof(PRINTER_INFO_9W) && sizeof(PRINTER_INFO_8W) == sizeof(void*));

// The number of units from `at` to the end of the block, or 0 when `at` is
// not an aligned address inside it. Only addresses are compared: a pointer
// outside the block is never followed.
template <class T>
size_t UnitsInside(const BYTE* block, size_t size, const void* at) {
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block), p = reinterpret_cast<std::uintptr_t>(at);
    if (p < start || p - start >= size || p % alignof(T)) return 0;
    return (size - (p - start)) / sizeof(T);
}

bool Inside(const BYTE* block, size_t size, const void* at, Field::Kind kind) {
    switch (kind) {
    case Field::kText: {
        const size_t room = UnitsInside<WCHAR>(block, size, at);
        const WCHAR* text = static_cast<const WCHAR*>(at);
        for (size_t i = 0; i < room; ++i)
            if (!text[i]) return true;
        return false;
    }
    case Field::kTextList: {
        const size_t room = UnitsInside<WCHAR>(block, size, at);
        const WCHAR* text = static_cast<const WCHAR*>(at);
        size_t i = 0;
        while (i < room && text[i]) {
            while (i < room && text[i]) ++i;
            ++i;  // past that text's terminator
        }
        return i < room;
    }
    case Field::kDevmode: {
        // The dumps read every field up to dmDisplayFrequency whatever dmSize says.
        const size_t room = UnitsInside<DWORD>(block, size, at) * sizeof(DWORD);
        if (room < offsetof(DEVMODEW, dmICMMethod)) return false;
        const DEVMODEW* devmode = static_cast<const DEVMODEW*>(at);
        return size_t{devmode->dmSize} + devmode->dmDriverExtra <= room;
    }
    case Field::kOpaque: return UnitsInside<void*>(block, size, at) > 0;
    }
    return false;
}

}  // namespace

DWORD vlibPRINT_ConfineBlock(BYTE* block, size_t size, size_t recordSize, DWORD count, const Field* fields,
                             size_t fieldCount, const WCHAR* caller) {
    if (!block || !recordSize) return 0;
    if (count > size / recordSize) {
        TraceLogWrite(LibraryLog, 0, L"%s => %lu records do not fit the %lu bytes returned, keeping %lu\n", caller,
                      static_cast<unsigned long>(count), static_cast<unsigned long>(size),
                      static_cast<unsigned long>(size / recordSize));
        count = static_cast<DWORD>(size / recordSize);
    }
    for (DWORD i = 0; i < count; ++i) {
        BYTE* record = block + size_t{i} * recordSize;
        for (size_t f = 0; f < fieldCount; ++f) {
            void* at = nullptr;
            std::memcpy(&at, record + fields[f].offset, sizeof(at));
            if (!at || Inside(block, size, at, fields[f].kind)) continue;
            TraceLogWrite(LibraryLog, 0, L"%s => record %lu: field at %lu points outside the block, taken as none\n",
                          caller, static_cast<unsigned long>(i), static_cast<unsigned long>(fields[f].offset));
            std::memset(record + fields[f].offset, 0, sizeof(at));
        }
    }
    return count;
}

DWORD vlibPRINT_ConfinePrinterInfo(BYTE* block, size_t size, DWORD level, DWORD count, const WCHAR* caller) {
    switch (level) {
    case 1: return vlibPRINT_ConfineBlock(block, size, sizeof(PRINTER_INFO_1W), count, kInfo1, std::size(kInfo1), caller);
    case 2: return vlibPRINT_ConfineBlock(block, size, sizeof(PRINTER_INFO_2W), count, kInfo2, std::size(kInfo2), caller);
    case 4: return vlibPRINT_ConfineBlock(block, size, sizeof(PRINTER_INFO_4W), count, kInfo4, std::size(kInfo4), caller);
    case 5: return vlibPRINT_ConfineBlock(block, size, sizeof(PRINTER_INFO_5W), count, kInfo5, std::size(kInfo5), caller);
    case 8:
    case 9: return vlibPRINT_ConfineBlock(block, size, sizeof(PRINTER_INFO_8W), count, kInfo8, std::size(kInfo8), caller);
    default: return 0;
    }
}
