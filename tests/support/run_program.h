// Runs one of the build's programs (kvclient.exe, kvcaps.exe, ...) from a
// test program that lives in build\tests.
#pragma once

#include <string>

#include "platform/platform.h"

namespace testsupport {

// Runs build\<program> with the arguments, detached from the console, and
// waits for it. Its exit code, or 0xFFFFFFFF when it did not run to its end.
// With `output`, what it wrote to standard output and standard error.
DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, std::string* output = nullptr);

}  // namespace testsupport
