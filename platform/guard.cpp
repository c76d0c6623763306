#include "platform/guard.h"

namespace platform {

namespace {
// Kept out of line so that nothing with a destructor can be inlined into the
// guarded frame.
DWORD CallUnderGuard(void (*fn)(void*), void* context) {
    DWORD caught = 0;
    __try {
        fn(context);
    } __except (caught = GetExceptionCode(), EXCEPTION_EXECUTE_HANDLER) {
        if (caught == 0) caught = static_cast<DWORD>(-1);
    }
    return caught;
}
}  // namespace

bool RunGuarded(void (*fn)(void* context), void* context, DWORD* code) {
    const DWORD caught = CallUnderGuard(fn, context);
    if (code) *code = caught;
    return caught == 0;
}

}  // namespace platform
