#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

namespace testsupport {

TempDir::TempDir() {
    static LONG counter = 0;
    WCHAR temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    path_ = temp + (L"kvtest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                    std::to_wstring(::InterlockedIncrement(&counter)));
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);  // left over by an earlier run that crashed
    std::filesystem::create_directory(path_, ignored);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> ReadLogLines(const std::wstring& path) {
    static const std::regex stamp(R"(^\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}( Thread:\d+| Session:\d+)?\] )");
    std::vector<std::string> lines;
    std::istringstream bytes(ReadFileBytes(path));
    for (std::string line; std::getline(bytes, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::regex_replace(line, stamp, "", std::regex_constants::format_first_only));
    }
    return lines;
}

std::string Narrow(const std::wstring& text) {
    const int length = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
    return out;
}

}  // namespace testsupport
