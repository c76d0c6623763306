// Scratch folders and log-file reading for tests.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace testsupport {

// A fresh folder under %TEMP%, removed with its files when the scope ends.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// The whole file as bytes ("" when it cannot be read).
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

// The file's lines (CR LF or LF ends removed), with the "[yyyy/mm/dd hh:mm:ss] "
// stamp taken off the front of each line that carries one.
std::vector<std::string> ReadLogLines(const std::wstring& path);

std::string Narrow(const std::wstring& text);

}  // namespace testsupport
