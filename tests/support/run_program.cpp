#include "support/run_program.h"

#include "support/temp_dir.h"

namespace testsupport {

DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, std::string* output) {
    WCHAR build[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, build, MAX_PATH);
    ::PathRemoveFileSpecW(build);
    ::PathRemoveFileSpecW(build);
    std::wstring commandLine = L"\"" + std::wstring(build) + L"\\" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    TempDir dir;
    const std::wstring outputPath = dir.File(L"output.txt");
    HANDLE file = INVALID_HANDLE_VALUE;
    if (output) {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        file = ::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = file;
    }
    PROCESS_INFORMATION process = {};
    DWORD exitCode = 0xFFFFFFFF;
    if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr, DETACHED_PROCESS, nullptr,
                         nullptr, &startup, &process)) {
        if (::WaitForSingleObject(process.hProcess, 300000) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(process.hProcess, &exitCode);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    if (output) *output = ReadFileBytes(outputPath);
    return exitCode;
}

}  // namespace testsupport
