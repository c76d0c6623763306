#include <gtest/gtest.h>

#include <exception>
#include <new>

#include "platform/guard.h"

namespace {

// The other runtime's C++ exception can only be a driver's: a fault.
#if defined(__MINGW32__)
constexpr DWORD kForeign = 0xE06D7363;
#else
constexpr DWORD kForeign = 0x20474343;
#endif

int steps = 0;
void TouchNull() {
    volatile int* volatile target = nullptr;
    *target = 1;
}

// What the guard makes of each piece of work: it ran to its end, it faulted
// (caught, with its code), or it threw one of our own C++ exceptions, which
// are no driver faults and reach the caller's catch whole. In table order: an
// access violation right after such an exception is still caught.
TEST(Guard, TellsFinishedWorkFromFaultsAndPassesOurExceptionsOn) {
    enum Outcome { kFinished, kFaulted, kPassedOn };
    const struct { const char* what; void (*work)(); Outcome outcome; DWORD code; } cases[] = {
        {"clean run", [] { ++steps; }, kFinished, 0},
        {"our C++ exception", [] { throw std::bad_alloc(); }, kPassedOn, 123},
        // The work done before the fault is kept, none is done after it.
        {"access violation", [] { ++steps, TouchNull(), ++steps; }, kFaulted, EXCEPTION_ACCESS_VIOLATION},
        {"raised exception of code 0", [] { ::RaiseException(0, 0, 0, nullptr); }, kFaulted, 0xFFFFFFFFu},
        {"the other runtime's C++ exception", [] { ::RaiseException(kForeign, 0, 0, nullptr); }, kFaulted, kForeign},
        // A guard nested inside guarded work keeps the fault to itself (and
        // reports it: a clean inner run would count ten more steps).
        {"nested guard", [] { steps += platform::Guarded(&TouchNull) ? 10 : 0; }, kFinished, 0},
    };
    steps = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DWORD code = 123;
        Outcome outcome = kPassedOn;
        try {
            outcome = platform::Guarded(c.work, &code) ? kFinished : kFaulted;
        } catch (const std::bad_alloc&) {
        }
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(std::uncaught_exceptions(), 0);
    }
    EXPECT_EQ(steps, 2);
}

}  // namespace
