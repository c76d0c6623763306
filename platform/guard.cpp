#include "platform/guard.h"

#include "platform/kernel.h"

namespace platform {

namespace {

// What a C++ throw raises underneath: mingw's unwinder and MSVC's runtime
// each use their own code. Those belong to our own code's handlers, not to a
// driver fault.
constexpr DWORD kMingwCxxException = 0x20474343;  // "GCC" with a marker byte
constexpr DWORD kMsvcCxxException = 0xE06D7363;   // "msc" with a marker byte

bool IsCxxException(DWORD code) { return code == kMingwCxxException || code == kMsvcCxxException; }

// Lets C++ exceptions go on to the caller's catch; takes everything else.
int FaultFilter(DWORD code, DWORD* caught) {
    if (IsCxxException(code)) return EXCEPTION_CONTINUE_SEARCH;
    *caught = code ? code : static_cast<DWORD>(-1);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Kept out of line so that nothing with a destructor can be inlined into the
// guarded frame.
DWORD CallUnderGuard(void (*fn)(void*), void* context) {
    DWORD caught = 0;
    __try {
        fn(context);
    } __except (FaultFilter(GetExceptionCode(), &caught)) {
    }
    return caught;
}

}  // namespace

bool RunGuarded(void (*fn)(void* context), void* context, DWORD* code) {
    const DWORD caught = CallUnderGuard(fn, context);
    if (code) *code = caught;
    return caught == 0;
}

void RunFreeingOnFault(void (*fn)(void* context), void* context, void* block) {
    bool finished = false;
    __try {
        fn(context);
        finished = true;
    } __finally {
        if (!finished) HeapFreeBlock(block);
    }
}

}  // namespace platform
