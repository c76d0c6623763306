// kvcaps --json: the whole record as one JSON document.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include <nlohmann/json.hpp>

#include "export/printer_description.h"
#include "records/caps4_json.h"
#include "tools/kvcaps/kvcaps.h"

namespace kvcaps {

int WriteJsonExport(const std::vector<BYTE>& bytes) {
    QueryBuffers set;
    if (!Unpack(bytes, &set)) {  // the record passed its check: only memory can be missing
        std::fprintf(stderr, "kvcaps: out of memory while loading the record\n");
        return kNoMemory;
    }
    // The record's document, and the media-source keyword each bin gets in
    // the standard exports ("binSources", which a reader of the document
    // does not need to read back: it follows from the bins).
    auto document = nlohmann::ordered_json::parse(vlibPRINT_Caps4Json(&set));
    nlohmann::ordered_json sources = nlohmann::ordered_json::array();
    for (const DescribedBin& bin : vlibPRINT_DescribePrinter(&set, nullptr, L"").bins)
        sources.push_back({{"id", bin.id}, {"name", Utf8(bin.name)}, {"source", bin.source}});
    document["binSources"] = sources;
    vlibPRINT_FreeQueryBuffers(&set);
    return WriteOut(document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
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

int WriteFileWhole(const std::wstring& file, const void* bytes, DWORD size) {
    // The file is written next to its place and replaces it only once whole:
    // a write that fails (a full disk, a share gone away) leaves an earlier
    // file as it was, and no cut record stays behind to pass for a whole one.
    const std::wstring partial = file + L".partial";
    HANDLE out = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0, error = 0;
    bool ok = out != INVALID_HANDLE_VALUE && ::WriteFile(out, bytes, size, &written, nullptr);
    if (!ok) error = ::GetLastError();
    if (ok && written != size) ok = false, error = ERROR_HANDLE_DISK_FULL;  // a short write sets no error
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    if (ok && !::MoveFileExW(partial.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        ok = false, error = ::GetLastError();
    if (!ok) {
        if (out != INVALID_HANDLE_VALUE) ::DeleteFileW(partial.c_str());
        std::fprintf(stderr, "kvcaps: %s: cannot write the file (error %lu)\n", Utf8(file).c_str(), error);
        return kNotWritten;
    }
    return kOk;
}

}  // namespace kvcaps
