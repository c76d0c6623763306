#include "support/run_program.h"

#include "support/temp_dir.h"

#include <string>

namespace testsupport {

DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, std::string* output) {
    WCHAR build[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, build, MAX_PATH);
    ::PathRemoveFileSpecW(build);
    ::PathRemoveFileSpecW(build);
    std::wstring commandLine = L"\"" + std::wstring(build) + L"\\" + program + L"\" " + arguments;
    // Standard output and standard error go to a file, read back when asked for.
    TempDir dir;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE file = ::CreateFileW(dir.File(L"output.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup = {.cb = sizeof(startup), .dwFlags = STARTF_USESTDHANDLES};
    startup.hStdOutput = startup.hStdError = file;
    PROCESS_INFORMATION process = {};
    DWORD exitCode = 0xFFFFFFFF;
    // Wine has been seen to refuse a start once on a loaded machine; a second
    // refusal is the test's failure, with the reason as the program's output.
    BOOL started = FALSE;
    DWORD startError = 0;
    for (int attempt = 0; attempt < 2 && !started; ++attempt) {
        if (attempt) ::Sleep(500);
        started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                                   nullptr, &startup, &process);
        if (!started) startError = ::GetLastError();
    }
    if (started) {
        if (::WaitForSingleObject(process.hProcess, 300000) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(process.hProcess, &exitCode);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(file);
    if (output)
        *output = started ? ReadFileBytes(dir.File(L"output.txt"))
                          : "CreateProcessW failed with error " + std::to_string(startError) + "\n";
    return exitCode;
}

}  // namespace testsupport
