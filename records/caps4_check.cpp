#include "records/caps4_check.h"

#include <cstdio>
#include <cstring>

namespace {

// Header offsets of the (offset, size, count) triples, in section order, and
// the element widths.
struct SectionLayout {
    const WCHAR* name;
    DWORD at;
    DWORD width;
};

constexpr SectionLayout kLayout[kCaps4SectionCount] = {
    {L"bin names", 4, 48},        {L"bins", 16, 2},           {L"resolutions", 60, 8},
    {L"indexed resolutions", 72, 8}, {L"files", 92, 128},     {L"media ready", 112, 128},
    {L"media type names", 124, 128}, {L"media types", 136, 4}, {L"N-up", 160, 4},
    {L"paper names", 172, 128},   {L"papers", 184, 2},        {L"paper sizes", 196, 8},
    {L"personality", 208, 64},    {L"forms", 392, 84},
};

constexpr DWORD kHeaderBytes = 412;
constexpr DWORD kEndAt = 408;

DWORD At(const void* record, DWORD offset) {
    DWORD value;
    std::memcpy(&value, static_cast<const BYTE*>(record) + offset, sizeof(value));
    return value;
}

void Say(WCHAR* why, size_t whyChars, const WCHAR* format, ...) {
    if (!why || whyChars == 0) return;
    va_list args;
    va_start(args, format);
    _vsnwprintf(why, whyChars, format, args);
    va_end(args);
    why[whyChars - 1] = 0;
}

}  // namespace

void vlibPRINT_Caps4Sections(const void* record, Caps4Section sections[kCaps4SectionCount]) {
    for (int i = 0; i < kCaps4SectionCount; ++i) {
        sections[i].name = kLayout[i].name;
        sections[i].offset = At(record, kLayout[i].at);
        sections[i].size = At(record, kLayout[i].at + 4);
        sections[i].count = At(record, kLayout[i].at + 8);
        sections[i].width = kLayout[i].width;
    }
}

BOOL vlibPRINT_CheckCaps4(const void* record, size_t available, WCHAR* why, size_t whyChars) {
    if (!record || available < kHeaderBytes) {
        Say(why, whyChars, L"%u bytes is shorter than the %u-byte record header", static_cast<unsigned>(available),
            kHeaderBytes);
        return FALSE;
    }
    if (At(record, 4) != kHeaderBytes) {
        Say(why, whyChars, L"the first section is said to start at %u instead of %u (not a capability record)",
            At(record, 4), kHeaderBytes);
        return FALSE;
    }
    const DWORD size = At(record, 0);
    if (size != available) {
        Say(why, whyChars, L"the record says it is %u bytes long but %u bytes are there", size,
            static_cast<unsigned>(available));
        return FALSE;
    }
    if (At(record, kEndAt) != 0) {
        Say(why, whyChars, L"dwEnd is %u instead of 0", At(record, kEndAt));
        return FALSE;
    }
    Caps4Section sections[kCaps4SectionCount];
    vlibPRINT_Caps4Sections(record, sections);
    DWORD expected = kHeaderBytes;
    for (const Caps4Section& section : sections) {
        if (section.offset != expected) {
            Say(why, whyChars, L"the %s section starts at %u instead of %u", section.name, section.offset, expected);
            return FALSE;
        }
        if (section.size > size - section.offset) {
            Say(why, whyChars, L"the %s section (%u bytes at %u) runs past the end of the record (%u bytes)",
                section.name, section.size, section.offset, size);
            return FALSE;
        }
        if (static_cast<unsigned long long>(section.count) * section.width != section.size) {
            Say(why, whyChars, L"the %s section holds %u bytes, not %u entries of %u bytes", section.name,
                section.size, section.count, section.width);
            return FALSE;
        }
        expected = section.offset + section.size;
    }
    if (expected != size) {
        Say(why, whyChars, L"the sections end at %u but the record is %u bytes long", expected, size);
        return FALSE;
    }
    Say(why, whyChars, L"ok");
    return TRUE;
}
