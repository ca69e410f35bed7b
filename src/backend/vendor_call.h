// One call into the vendor library behind its own fault guard. Only the library's frames lie
// between the guard and a fault, so a fault unwinds none of ours: the caller gets false and
// takes its ordinary failure path, freeing what it owns. The fault is kept as the thread's
// vendor fault (fault_guard.h) and named in BackendLastError; from then on every CallVendor on
// that thread returns false without calling, because a library that has faulted is reloaded
// before anybody trusts it again. The worker reads the thread's fault when it ends to report
// the crash.
#pragma once
#include <cstdint>

#include "backend/fault_guard.h"

// Keeps a contained fault of entry as the thread's vendor fault and sets BackendLastError to
// "<entry> faulted (exception 0x%08X)".
void RecordVendorFault(const char* entry, const GuardFault& fault);

// Runs body() (a lambda that makes exactly one vendor call and stores its result) behind the
// guard. True when it returned normally; false after a fault, or without calling when this
// thread has already seen one.
template <typename Body>
bool CallVendor(const char* entry, Body body)
{
    if (ThreadVendorFault() != 0)
        return false;
    GuardFault fault{};
    if (GuardedCall([](void* p) { (*static_cast<Body*>(p))(); }, &body, &fault))
        return true;
    RecordVendorFault(entry, fault);
    return false;
}
