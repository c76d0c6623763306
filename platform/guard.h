// Structured-exception guard for work that can run printer-driver code.
//
// A driver may fault (an access violation inside DeviceCapabilitiesW, say).
// The work runs under __try / __except; the caller learns whether it faulted
// and puts its fallback in place. A C++ exception thrown by our own code
// inside the work is raised as a structured exception too; the guard lets it
// pass on to the caller's catch, untouched.
//
// The guarded callable must not own objects with destructors: a fault leaves
// its frame without running them. Capture by reference and write results into
// plain variables of the caller.
#pragma once

#include <type_traits>

#include "platform/platform.h"

namespace platform {

// Runs fn(context) under the guard. Returns true when it ran to its end and
// false when a structured exception was caught; *code, when given, receives
// the exception code (0 when nothing faulted).
bool RunGuarded(void (*fn)(void* context), void* context, DWORD* code = nullptr);

template <class F>
bool Guarded(F&& work, DWORD* code = nullptr) {
    using Work = std::remove_reference_t<F>;
    return RunGuarded([](void* context) { (*static_cast<Work*>(context))(); },
                      const_cast<void*>(static_cast<const void*>(&work)), code);
}

// Runs fn(context) with no guard of its own: a fault goes on to the caller's
// guard. On that way out (and only then) the process-heap block is freed, so
// that a driver faulting while it fills a block leaks nothing.
void RunFreeingOnFault(void (*fn)(void* context), void* context, void* block);

template <class F>
void FreeingOnFault(void* block, F&& work) {
    using Work = std::remove_reference_t<F>;
    RunFreeingOnFault([](void* context) { (*static_cast<Work*>(context))(); },
                      const_cast<void*>(static_cast<const void*>(&work)), block);
}

// The same for a device context that the work keeps in *dc while it is open:
// a fault's way out deletes it and clears *dc.
void RunDeletingDcOnFault(void (*fn)(void* context), void* context, HDC* dc);

template <class F>
void DeletingDcOnFault(HDC* dc, F&& work) {
    using Work = std::remove_reference_t<F>;
    RunDeletingDcOnFault([](void* context) { (*static_cast<Work*>(context))(); },
                         const_cast<void*>(static_cast<const void*>(&work)), dc);
}

}  // namespace platform
