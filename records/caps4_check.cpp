#include "records/caps4_check.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void vlibPRINT_SayWhy(WCHAR* why, size_t whyChars, const WCHAR* format, ...) {
    if (!why || whyChars == 0) return;
    va_list args;
    va_start(args, format);
    _vsnwprintf(why, whyChars, format, args);
    va_end(args);
    why[whyChars - 1] = 0;
}

BOOL vlibPRINT_CheckCaps4(const void* record, size_t available, WCHAR* why, size_t whyChars) {
    if (!record || available < kCaps4HeaderSize) {
        vlibPRINT_SayWhy(why, whyChars, L"%u bytes is shorter than the %u-byte record header", static_cast<unsigned>(available),
            kCaps4HeaderSize);
        return FALSE;
    }
    caps4 header;
    std::memcpy(&header, record, sizeof(header));
    if (header.dwOffsetToBinNames != kCaps4HeaderSize) {
        vlibPRINT_SayWhy(why, whyChars, L"the first section is said to start at %u instead of %u (not a capability record)",
            header.dwOffsetToBinNames, kCaps4HeaderSize);
        return FALSE;
    }
    if (header.dwSize != available) {
        vlibPRINT_SayWhy(why, whyChars, L"the record says it is %u bytes long but %u bytes are there", header.dwSize,
            static_cast<unsigned>(available));
        return FALSE;
    }
    if (header.dwEnd != 0) {
        vlibPRINT_SayWhy(why, whyChars, L"dwEnd is %u instead of 0", header.dwEnd);
        return FALSE;
    }
    for (const SectionLayout<caps4>& layout : kCaps4Layout) {
        const DWORD offset = header.*layout.offset, size = header.*layout.size, count = header.*layout.count;
        if (SectionReadable(offset, size, count, layout.width, kCaps4HeaderSize, header.dwSize)) continue;
        if (static_cast<LONG>(count) < 0 && size != 0) {
            vlibPRINT_SayWhy(why, whyChars, L"the %s section holds %u bytes but a negative count (%ld)", layout.name, size,
                static_cast<long>(static_cast<LONG>(count)));
        } else if (static_cast<LONG>(count) > 0 && static_cast<unsigned long long>(count) * layout.width > size) {
            vlibPRINT_SayWhy(why, whyChars, L"the %s section holds %u bytes, too few for %u entries of %u bytes", layout.name, size,
                count, layout.width);
        } else if (offset < kCaps4HeaderSize) {
            vlibPRINT_SayWhy(why, whyChars, L"the %s section (%u bytes at %u) overlaps the record header", layout.name, size, offset);
        } else {
            vlibPRINT_SayWhy(why, whyChars, L"the %s section (%u bytes at %u) runs past the end of the record (%u bytes)", layout.name,
                size, offset, header.dwSize);
        }
        return FALSE;
    }
    // Every section starts where the one before it ends: a gap or an overlap
    // is no record this system writes.
    DWORD next = kCaps4HeaderSize;
    for (const SectionLayout<caps4>& layout : kCaps4Layout) {
        const DWORD offset = header.*layout.offset;
        if (offset != next) {
            vlibPRINT_SayWhy(why, whyChars, L"the %s section starts at %u instead of %u, where the section before it ends (%s)",
                layout.name, offset, next, offset > next ? L"a gap" : L"an overlap");
            return FALSE;
        }
        next += header.*layout.size;
    }
    if (next != header.dwSize) {
        vlibPRINT_SayWhy(why, whyChars, L"the sections end at %u but the record is %u bytes long (a gap at its end)", next,
            header.dwSize);
        return FALSE;
    }
    vlibPRINT_SayWhy(why, whyChars, L"ok");
    return TRUE;
}
