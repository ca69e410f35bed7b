// Native build: no structured exceptions and no vendor library, so the guard just runs the
// call. Faults in the native build end the test program, which is what the sanitizers want.
#include "backend/fault_guard.h"

bool GuardPassesThrough(uint32_t code)
{
    return code == 0x40010006u || code == 0x4001000Au || code == 0x406D1388u;
}

bool GuardedCall(GuardedFn fn, void* arg, GuardFault* fault)
{
    if (fault) {
        fault->code = 0;
        fault->address = nullptr;
    }
    if (fn)
        fn(arg);
    return true;
}

static thread_local uint32_t VendorFaultCode;

uint32_t ThreadVendorFault()
{
    return VendorFaultCode;
}

void SetThreadVendorFault(uint32_t code)
{
    VendorFaultCode = code;
}

void ReleaseThreadFaultSlot() {}
