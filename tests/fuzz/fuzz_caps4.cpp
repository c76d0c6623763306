// A capability record as storage holds it: check, unpack, dump, pack.
#include "records/caps4_check.h"
#include "tests/fuzz/fuzz_support.h"

int FuzzInput(const uint8_t* data, size_t size) {
    FuzzBlock input(data, size, size), expected(data, size, size);
    const caps4* record = input.as<caps4>();
    WCHAR why[200];
    const BOOL sound = vlibPRINT_CheckCaps4(record, size, why, 200);
    LogCaps4(FuzzLog(), record, size);
    QueryBuffers set{}, again{};
    if (!vlibPRINT_UnpackCaps4(&set, record, size)) return 0;
    LogCaps4(FuzzLog(), record);

    auto PackedAndChecked = [](const QueryBuffers& from) {
        caps4* packed = vlibPRINT_PackCaps4(&from);
        FUZZ_EXPECT(packed && vlibPRINT_CheckCaps4(packed, packed->dwSize, nullptr, 0));
        return packed;
    };
    // Packing after unpacking is a projection: what it gives unpacks into a
    // set that packs into the same bytes.
    caps4* once = PackedAndChecked(set);
    FUZZ_EXPECT(vlibPRINT_UnpackCaps4(&again, once, once->dwSize));
    caps4* twice = PackedAndChecked(again);
    FUZZ_EXPECT(once->dwSize == twice->dwSize && !std::memcmp(once, twice, once->dwSize));

    // A record the check accepts is laid out as packing lays it out and comes
    // back byte for byte, but for the counts unpacking does not keep: that of
    // an empty array, those of a list block whose lists are all empty.
    if (sound) {
        caps4* want = expected.as<caps4>();
        const int blockOf[kCaps4SectionCount] = {0, 0, -1, -1, -1, -1, 1, 1, -1, 2, 2, 2, -1, -1};
        bool blockEmpty[3] = {true, true, true};
        for (int i = 0; i < kCaps4SectionCount; ++i)
            if (blockOf[i] >= 0 && want->*kCaps4Layout[i].size) blockEmpty[blockOf[i]] = false;
        for (int i = 0; i < kCaps4SectionCount; ++i)
            if (!(want->*kCaps4Layout[i].size) && (blockOf[i] < 0 || blockEmpty[blockOf[i]])) want->*kCaps4Layout[i].count = 0;
        FUZZ_EXPECT(once->dwSize == size && !std::memcmp(once, want, size));
    }
    vlibPRINT_FreeQueryBuffers(&set);
    vlibPRINT_FreeQueryBuffers(&again);
    platform::HeapFreeBlock(once);
    platform::HeapFreeBlock(twice);
    return 0;
}
