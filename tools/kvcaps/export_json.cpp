// kvcaps --json: the whole record as one JSON document.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "records/caps4_json.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {

int WriteJsonExport(const std::vector<BYTE>& bytes) {
    QueryBuffers set;
    if (!Unpack(bytes, &set)) {  // the record passed its check: only memory can be missing
        std::fprintf(stderr, "kvcaps: out of memory while loading the record\n");
        return kNoMemory;
    }
    const std::string text = vlibPRINT_Caps4Json(&set);
    vlibPRINT_FreeQueryBuffers(&set);
    return WriteOut(text);
}

// Every export goes out as it is: binary mode, so that Windows' text mode
// turns no LF into CR LF.
int WriteOut(const std::string& text) {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    // A cut export (a full disk, a closed pipe) must not pass for a whole one.
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "kvcaps: the export could not be written whole\n");
        return kNotWritten;
    }
    return kOk;
}

}  // namespace kvcaps
