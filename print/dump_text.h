// Small helpers shared by the structure dumps: addresses as the dumps print
// them, fixed text slots made safe to print, and lines that exist in a wide
// and an 8-bit form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "log/trace_log.h"

namespace dumptext {

// The dumps print an address with "%X": its low 32 bits.
template <class T>
unsigned AddressOf(const T* p) {
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p));
}

// 1 when the mask's bit is set in the field set, else 0.
inline int Bit(DWORD fields, DWORD mask) { return (fields & mask) ? 1 : 0; }

// A fixed text slot may be filled to its last unit without a terminator; the
// copy always ends in one so that printing stops inside the slot.
template <class Ch, size_t N>
struct SlotText {
    explicit SlotText(const Ch (&slot)[N]) {
        for (size_t i = 0; i < N; ++i) text[i] = slot[i];
        text[N] = 0;
    }
    const Ch* get() const { return text; }
    Ch text[N + 1];
};

// One line format in both widths; KV_DUMP_LINE("...") gives both from one literal.
struct LineFormat {
    const WCHAR* wide;
    const char* narrow;
};
#define KV_DUMP_LINE(text) (::dumptext::LineFormat{L"" text, text})

// Writes a time-stamped line in the width of Ch: wide text through the wide
// writer, 8-bit text unchanged through the narrow-message writer.
template <class Ch, class... Args>
void WriteLine(TraceLog* log, const LineFormat& format, Args... args) {
    if constexpr (std::is_same_v<Ch, WCHAR>)
        TraceLogWrite(log, 0, format.wide, args...);
    else
        TraceLogWriteNarrowText(log, 0, format.narrow, args...);
}

}  // namespace dumptext
