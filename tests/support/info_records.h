// Printer info records and forms in tests: records as byte strings, the
// check that the conversions of a printer's records give its directly built
// ones, and a form as a landscape request gets it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/kernel.h"
#include "devcaps/devcaps_types.h"
#include "records/printer_info.h"

namespace testsupport {

// A record's bytes (empty for null); the block is freed.
template <class R>
std::string Take(R* record) {
    std::string bytes = record ? std::string(reinterpret_cast<const char*>(record), record->dwSize) : std::string();
    platform::HeapFreeBlock(record);
    return bytes;
}
template <class R>
const R* As(const std::string& bytes) { return reinterpret_cast<const R*>(bytes.data()); }
template <class T = DWORD>
T At(const std::string& bytes, size_t offset, size_t i = 0) {
    T value;
    std::memcpy(&value, bytes.data() + offset + i * sizeof(T), sizeof(T));
    return value;
}
// Writes a value's bytes at offset, where At reads them.
template <class T = DWORD>
void PutAt(std::string& bytes, size_t offset, T value) { std::memcpy(bytes.data() + offset, &value, sizeof(T)); }

// Converting a printer's 400 record to 401 and 402 and its 401 record to 402
// gives its directly built 401 and 402 records, except that what the older
// record lacks is 0: the spooler values but Status (4692, 20 bytes, from
// 400) and the local print options (8632, 16 bytes).
void ExpectConversionsGiveTheDirectRecords(const std::string& r400, const std::string& r401, const std::string& r402);

// The form with its seven x / y pairs swapped (resolution, size, printable
// area, logical pixels, aspect, physical page, offset).
FormEntry Turned(FormEntry form);

}  // namespace testsupport
