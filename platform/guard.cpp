#include "platform/guard.h"

#include "platform/kernel.h"

namespace platform {

namespace {

// What a C++ throw of our own raises underneath: mingw's unwinder and MSVC's
// runtime each use their own code. Such an exception belongs to a catch of
// ours and goes on to it. The other runtime's code can only come from a
// driver built with that runtime, and no catch of ours could take it: that is
// a driver fault like any other.
#if defined(__MINGW32__)
constexpr DWORD kOwnCxxException = 0x20474343;  // "GCC" with a marker byte
#else
constexpr DWORD kOwnCxxException = 0xE06D7363;  // "msc" with a marker byte
#endif

bool IsCxxException(DWORD code) { return code == kOwnCxxException; }

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

void RunDeletingDcOnFault(void (*fn)(void* context), void* context, HDC* dc) {
    __try {
        fn(context);
    } __finally {
        // The work clears *dc once it has deleted the context itself.
        if (*dc) {
            gdi.DeleteDC(*dc);
            *dc = nullptr;
        }
    }
}

}  // namespace platform
