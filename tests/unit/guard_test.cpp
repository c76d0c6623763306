#include <gtest/gtest.h>

#include <exception>
#include <new>

#include "platform/guard.h"

namespace {

void TouchNull() {
    volatile int* volatile target = nullptr;
    *target = 1;
}

TEST(Guard, ReportsCleanRunAndRealAccessViolation) {
    int steps = 0;
    DWORD code = 123;
    EXPECT_TRUE(platform::Guarded([&] { ++steps; }, &code));
    EXPECT_EQ(code, 0u);

    EXPECT_FALSE(platform::Guarded(
        [&] {
            ++steps;
            TouchNull();
            ++steps;  // never reached
        },
        &code));
    EXPECT_EQ(code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(steps, 2);  // work done before the fault is kept
}

TEST(Guard, CatchesRaisedExceptionsWithTheirCode) {
    DWORD code = 0;
    EXPECT_FALSE(platform::Guarded([] { ::RaiseException(0xE0000001u, 0, 0, nullptr); }, &code));
    EXPECT_EQ(code, 0xE0000001u);
    // A guard nested inside guarded work keeps the fault to itself.
    bool inner = true;
    EXPECT_TRUE(platform::Guarded([&] { inner = platform::Guarded([] { TouchNull(); }); }));
    EXPECT_FALSE(inner);
}

// Our own C++ exceptions are not driver faults: they reach the caller's
// catch whole, and an access violation right after is still caught.
TEST(Guard, LetsCxxExceptionsReachTheCallersCatch) {
    bool caught = false;
    try {
        platform::Guarded([] { throw std::bad_alloc(); });
    } catch (const std::bad_alloc&) {
        caught = true;
    }
    EXPECT_TRUE(caught);
    EXPECT_EQ(std::uncaught_exceptions(), 0);
    EXPECT_FALSE(platform::Guarded([] { TouchNull(); }));
    // The other runtime's C++ exception can only be a driver's: a fault.
#if defined(__MINGW32__)
    static constexpr DWORD kForeign = 0xE06D7363;
#else
    static constexpr DWORD kForeign = 0x20474343;
#endif
    DWORD code = 0;
    EXPECT_FALSE(platform::Guarded([] { ::RaiseException(kForeign, 0, 0, nullptr); }, &code));
    EXPECT_EQ(code, kForeign);
}

}  // namespace
