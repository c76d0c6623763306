// kvclient: a windowless client that describes this machine's printers for
// the remote-printing server side.
#include "client/entry.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return ClientMain(::GetCommandLineW()); }
