// kvcaps --from-json FILE.json OUT.kvp: a JSON document of a capability
// record (what --json writes) written back as the record, which the file
// cache and every reader of records take.
#include <cstdio>

#include "platform/kernel.h"
#include "records/caps4.h"
#include "records/caps4_check.h"
#include "records/caps4_json.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {

const char kFromJsonUsageLines[] = "       kvcaps --from-json FILE.json OUT.kvp\n";

int WriteRecordFromJson(const std::wstring& json, const std::wstring& out) {
    std::vector<BYTE> text;
    std::string why;
    if (!ReadFileBytes(json, &text, &why)) {
        std::fprintf(stderr, "kvcaps: %s: %s\n", Utf8(json).c_str(), why.c_str());
        return kUnreadable;
    }
    QueryBuffers set = {};
    if (!vlibPRINT_Caps4FromJson(std::string(text.begin(), text.end()), &set, &why)) {
        std::fprintf(stderr, "kvcaps: %s: not a capability record document: %s\n", Utf8(json).c_str(), why.c_str());
        return kDamaged;
    }
    caps4* record = vlibPRINT_PackCaps4(&set);
    vlibPRINT_FreeQueryBuffers(&set);
    if (!record) {
        std::fprintf(stderr, "kvcaps: out of memory while packing the record\n");
        return kNoMemory;
    }
    const DWORD size = record->dwSize;
    WCHAR reason[256] = {};
    int result = vlibPRINT_CheckCaps4(record, size, reason, 256) ? WriteFileWhole(out, record, size) : kDamaged;
    if (result == kDamaged) std::fprintf(stderr, "kvcaps: %s: the record it gives is not usable: %s\n", Utf8(json).c_str(), Utf8(reason).c_str());
    if (result == kOk) std::printf("%s: capability record, %lu bytes, written to %s\n", Utf8(json).c_str(), static_cast<unsigned long>(size), Utf8(out).c_str());
    platform::HeapFreeBlock(record);
    return result;
}

}  // namespace kvcaps
