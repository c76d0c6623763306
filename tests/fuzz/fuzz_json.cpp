// The JSON import: never a crash; what it accepts packs into a record the
// check accepts and goes to JSON and back unchanged.
#include <string>

#include "records/caps4.h"
#include "records/caps4_check.h"
#include "records/caps4_json.h"
#include "tests/fuzz/fuzz_support.h"

int FuzzInput(const uint8_t* data, size_t size) {
    FuzzLog();
    QueryBuffers set{};
    if (!vlibPRINT_Caps4FromJson(std::string(reinterpret_cast<const char*>(data), size), &set)) {
        FUZZ_EXPECT(!set.bFilled);
        return 0;
    }
    caps4* record = vlibPRINT_PackCaps4(&set);
    FUZZ_EXPECT(record && vlibPRINT_CheckCaps4(record, record->dwSize, nullptr, 0));
    const std::string json = vlibPRINT_Caps4Json(&set);
    QueryBuffers again{};
    FUZZ_EXPECT(vlibPRINT_Caps4FromJson(json, &again) && vlibPRINT_Caps4Json(&again) == json);
    caps4* same = vlibPRINT_PackCaps4(&again);
    FUZZ_EXPECT(same && same->dwSize == record->dwSize && !std::memcmp(same, record, record->dwSize));
    vlibPRINT_FreeQueryBuffers(&set);
    vlibPRINT_FreeQueryBuffers(&again);
    platform::HeapFreeBlock(record);
    platform::HeapFreeBlock(same);
    return 0;
}
