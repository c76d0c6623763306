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

namespace guard_detail {
// The callable behind a context pointer, called through a plain function.
template <class F>
void Call(void* context) { (*static_cast<std::remove_reference_t<F>*>(context))(); }
template <class F>
void* Context(F& work) { return const_cast<void*>(static_cast<const void*>(&work)); }
}  // namespace guard_detail

template <class F>
bool Guarded(F&& work, DWORD* code = nullptr) {
    return RunGuarded(guard_detail::Call<F>, guard_detail::Context(work), code);
}

// Runs fn(context) with no guard of its own: a fault goes on to the caller's
// guard. On that way out (and only then) the process-heap block is freed, so
// that a driver faulting while it fills a block leaks nothing.
void RunFreeingOnFault(void (*fn)(void* context), void* context, void* block);

template <class F>
void FreeingOnFault(void* block, F&& work) {
    RunFreeingOnFault(guard_detail::Call<F>, guard_detail::Context(work), block);
}

// The same for a device context that the work keeps in *dc while it is open:
// a fault's way out deletes it and clears *dc.
void RunDeletingDcOnFault(void (*fn)(void* context), void* context, HDC* dc);

template <class F>
void DeletingDcOnFault(HDC* dc, F&& work) {
    RunDeletingDcOnFault(guard_detail::Call<F>, guard_detail::Context(work), dc);
}

}  // namespace platform
