// The client's start-up and command line.
#pragma once

#include "platform/platform.h"

// Reads the switch value of HKEY_LOCAL_MACHINE\subkey and, when it is non-zero,
// the path value into pathBuffer (512 bytes). Returns the switch; 0 when the key
// cannot be opened, the buffer is missing or the value is absent.
DWORD ReadRegistryLogPath(const WCHAR* subkey, const WCHAR* switchName, const WCHAR* pathName, WCHAR* pathBuffer);
// The narrow twin, with a 256-byte path buffer.
DWORD ReadRegistryLogPathA(const CHAR* subkey, const CHAR* switchName, const CHAR* pathName, CHAR* pathBuffer);

// Everything WinMain does, on the given whole command line: returns 1 when the
// command line could be split into arguments, 0 when it could not.
int ClientMain(const WCHAR* commandLine);
