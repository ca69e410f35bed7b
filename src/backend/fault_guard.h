// Structured-exception guard for calls into code we do not control (the vendor library, the
// capture worker). A processor exception inside fn (access violation, divide by zero, illegal
// instruction, stack overflow, a raised exception nobody handled) is contained: GuardedCall
// returns false with the exception code and address instead of ending the host process.
//
// Rules for fn: C-like code only. Recovery jumps over every frame between the fault and the
// guard, so no destructor in those frames runs and no C++ exception may be thrown out of fn.
// A thread whose stack overflowed has lost its guard page: after a contained stack overflow
// (code 0xC00000FD) the caller should let that thread end rather than run on.
#pragma once
#include <cstdint>

struct GuardFault {
    uint32_t code;  // exception code, e.g. 0xC0000005 for an access violation
    void* address;  // instruction address of the fault
};

typedef void (*GuardedFn)(void* arg);

constexpr uint32_t kFaultAccessViolation = 0xC0000005u;
constexpr uint32_t kFaultStackOverflow = 0xC00000FDu;

// Runs fn(arg). True when fn returned normally; false when an exception was contained, with
// its code and address in *fault (fault may be null). Without structured exceptions (the
// native build) fn simply runs and the result is always true.
bool GuardedCall(GuardedFn fn, void* arg, GuardFault* fault);

// The first fault contained in a vendor call on the calling thread since it was last cleared
// (0 = none). Kept per thread so that a worker can tell its own vendor fault from one on another
// thread, and so that its later vendor calls are skipped: a library that faulted is not trusted
// again until it has been reloaded. Holds only the code, so it costs no memory per thread.
uint32_t ThreadVendorFault();
void SetThreadVendorFault(uint32_t code);
// Gives the slot behind them back to the system (at unload, when no thread of ours runs).
void ReleaseThreadFaultSlot();

// Exceptions the guard lets pass to the next handler because the system itself resolves them
// (debugger output and thread names raised as exceptions). Exposed for tests.
bool GuardPassesThrough(uint32_t code);
