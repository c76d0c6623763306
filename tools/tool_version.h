// --version of the inspection tools: prints the program's own VERSIONINFO
// resource (built from the project's version, see res/version.rc.in).
#pragma once

#include <windows.h>
#include <winver.h>

#include <cstdio>
#include <string>
#include <vector>

// A string of the resource's US English block, or "" when it is missing.
inline std::string ToolVersionString(const std::vector<BYTE>& block, const WCHAR* name) {
    std::wstring path = L"\\StringFileInfo\\040904B0\\";
    path += name;
    void* text = nullptr;
    UINT chars = 0;
    if (!::VerQueryValueW(block.data(), path.c_str(), &text, &chars) || !text || chars == 0) return {};
    const WCHAR* wide = static_cast<const WCHAR*>(text);
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide, -1, out.data(), bytes, nullptr, nullptr);
    out.pop_back();  // the terminator
    return out;
}

// Prints three lines: file name and version, description, product with its
// version and company. Exit code 0, or 1 (with a line saying so) when the
// executable carries no version resource.
inline int PrintToolVersion(const char* tool) {
    WCHAR self[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    DWORD ignored = 0;
    const DWORD size = length && length < MAX_PATH ? ::GetFileVersionInfoSizeW(self, &ignored) : 0;
    std::vector<BYTE> block(size);
    if (!size || !::GetFileVersionInfoW(self, 0, size, block.data())) {
        std::fprintf(stderr, "%s: no version resource (error %lu)\n", tool, ::GetLastError());
        return 1;
    }
    std::printf("%s %s\n%s\n%s %s, %s\n", ToolVersionString(block, L"OriginalFilename").c_str(),
                ToolVersionString(block, L"FileVersion").c_str(), ToolVersionString(block, L"FileDescription").c_str(),
                ToolVersionString(block, L"ProductName").c_str(), ToolVersionString(block, L"ProductVersion").c_str(),
                ToolVersionString(block, L"CompanyName").c_str());
    return 0;
}
