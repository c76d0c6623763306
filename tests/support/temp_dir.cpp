#include "support/temp_dir.h"

#include <cstdio>
#include <regex>

namespace testsupport {

namespace {
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = folder + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                ::DeleteFileW(full.c_str());
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(folder.c_str());
}
}  // namespace

TempDir::TempDir() {
    static LONG counter = 0;
    WCHAR temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    WCHAR name[MAX_PATH];
    _snwprintf(name, MAX_PATH, L"%skvtest-%lu-%ld", temp, ::GetCurrentProcessId(), ::InterlockedIncrement(&counter));
    name[MAX_PATH - 1] = 0;
    path_ = name;
    RemoveTree(path_);
    ::CreateDirectoryW(path_.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(path_); }

std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return bytes;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.append(chunk, got);
    fclose(file);
    return bytes;
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string StripStamp(const std::string& line) {
    static const std::regex stamp(R"(^\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}( Thread:\d+| Session:\d+)?\] )");
    return std::regex_replace(line, stamp, "", std::regex_constants::format_first_only);
}

std::vector<std::string> ReadLogLines(const std::wstring& path) {
    std::vector<std::string> lines;
    const std::string bytes = ReadFileBytes(path);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(StripStamp(line));
        start = end + 1;
    }
    return lines;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int needed = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                             nullptr, nullptr);
    std::string out(static_cast<size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), needed, nullptr, nullptr);
    return out;
}

}  // namespace testsupport
