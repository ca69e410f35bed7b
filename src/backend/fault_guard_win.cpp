// GuardedCall on Windows: contains a processor exception raised inside a call we do not control.
// Three builds of the same contract, chosen at compile time:
// - MSVC: the compiler's own __try/__except.
// - MinGW i686 (the product): an exception-registration record kept in a local struct on
//   GuardedCall's stack and linked at the head of the thread's FS:[0] chain around the call. Its
//   handler records the fault, unwinds the records above it (RtlUnwind, which also lets any
//   handler there see the unwind), unlinks itself and longjmps back into GuardedCall.
//   (excpt.h's __try1 is not used: GCC at -O2 reuses the stack slot of the record it pushes.)
// - MinGW x86_64 (the test build): table-based SEH. A small assembly trampoline makes the call
//   under its own .seh_handler; the handler records the fault and unwinds with RtlUnwindEx to a
//   recovery label in the trampoline, which then returns 0.
// All three ignore unwind passes, and let debugger-output and thread-name exceptions go on to the
// system, which resolves them. Exceptions that the called code handles itself never reach us:
// their handlers are nearer the fault than ours.
#include "backend/fault_guard.h"

#include <windows.h>

#include <setjmp.h>

#include <atomic>

bool GuardPassesThrough(uint32_t code)
{
    return code == 0x40010006u      // DBG_PRINTEXCEPTION_C (OutputDebugStringA)
           || code == 0x4001000Au   // DBG_PRINTEXCEPTION_WIDE_C
           || code == 0x406D1388u;  // thread name set through the debugger protocol
}

// The thread's vendor fault code lives in a system TLS slot as a plain value: a compiler
// thread_local in a DLL that switches off thread notifications would leave a block behind for
// every worker thread that touched it. The slot is taken at first use and given back at unload.
static std::atomic<DWORD> FaultSlotIndex{TLS_OUT_OF_INDEXES};

static DWORD FaultSlot()
{
    DWORD slot = FaultSlotIndex.load();
    if (slot != TLS_OUT_OF_INDEXES)
        return slot;
    DWORD fresh = TlsAlloc();
    if (fresh == TLS_OUT_OF_INDEXES || FaultSlotIndex.compare_exchange_strong(slot, fresh))
        return fresh;
    TlsFree(fresh);  // another thread was first
    return slot;
}

uint32_t ThreadVendorFault()
{
    DWORD slot = FaultSlotIndex.load();
    return slot == TLS_OUT_OF_INDEXES ? 0 : (uint32_t)(uintptr_t)TlsGetValue(slot);
}

void SetThreadVendorFault(uint32_t code)
{
    DWORD slot = code ? FaultSlot() : FaultSlotIndex.load();
    if (slot != TLS_OUT_OF_INDEXES)
        TlsSetValue(slot, (void*)(uintptr_t)code);
}

void ReleaseThreadFaultSlot()
{
    DWORD slot = FaultSlotIndex.exchange(TLS_OUT_OF_INDEXES);
    if (slot != TLS_OUT_OF_INDEXES)
        TlsFree(slot);
}

static const DWORD kUnwindFlags = 0x2 /* EXCEPTION_UNWINDING */ | 0x4 /* EXCEPTION_EXIT_UNWIND */;

#if defined(_MSC_VER)

static int GuardFilter(EXCEPTION_POINTERS* info, GuardFault* out)
{
    if (GuardPassesThrough(info->ExceptionRecord->ExceptionCode))
        return EXCEPTION_CONTINUE_SEARCH;
    out->code = info->ExceptionRecord->ExceptionCode;
    out->address = info->ExceptionRecord->ExceptionAddress;
    return EXCEPTION_EXECUTE_HANDLER;
}

bool GuardedCall(GuardedFn fn, void* arg, GuardFault* fault)
{
    GuardFault local = {0, nullptr};
    bool ok = true;
    __try {
        if (fn)
            fn(arg);
    } __except (GuardFilter(GetExceptionInformation(), &local)) {
        ok = false;
    }
    if (fault)
        *fault = local;
    return ok;
}

#elif defined(__i386__)

// The first two fields are the registration record the system walks; the rest rides along so
// the handler finds its recovery point from the frame pointer it is given.
struct GuardFrame {
    GuardFrame* next;
    void* handler;
    jmp_buf recover;
    GuardFault fault;
};

static inline GuardFrame* ChainHead()
{
    return (GuardFrame*)(uintptr_t)__readfsdword(0);
}

static inline void SetChainHead(GuardFrame* frame)
{
    __writefsdword(0, (DWORD)(uintptr_t)frame);
}

extern "C" EXCEPTION_DISPOSITION __cdecl NyraGuardHandler(EXCEPTION_RECORD* record, void* establisher,
                                                          CONTEXT*, void*)
{
    if ((record->ExceptionFlags & kUnwindFlags) || GuardPassesThrough(record->ExceptionCode))
        return ExceptionContinueSearch;
    // RtlUnwind may not preserve the callee-saved registers: keep the frame in memory.
    GuardFrame* volatile frame = (GuardFrame*)establisher;
    frame->fault.code = record->ExceptionCode;
    frame->fault.address = record->ExceptionAddress;
    RtlUnwind(establisher, nullptr, record, nullptr);  // our record is now the head
    SetChainHead(frame->next);
    longjmp(frame->recover, 1);
}

bool __attribute__((noinline)) GuardedCall(GuardedFn fn, void* arg, GuardFault* fault)
{
    volatile GuardFrame frame;
    frame.fault.code = 0;
    frame.fault.address = nullptr;
    // setjmp before the record is linked: the saved chain head is the one longjmp must find.
    if (setjmp(*(jmp_buf*)&frame.recover) == 0) {
        frame.handler = (void*)&NyraGuardHandler;
        frame.next = ChainHead();
        SetChainHead((GuardFrame*)&frame);
        __asm__ __volatile__("" ::: "memory");
        if (fn)
            fn(arg);
        __asm__ __volatile__("" ::: "memory");
        SetChainHead(frame.next);
        if (fault) {
            fault->code = 0;
            fault->address = nullptr;
        }
        return true;
    }
    if (fault) {
        fault->code = frame.fault.code;
        fault->address = frame.fault.address;
    }
    return false;
}

#elif defined(__x86_64__)

extern "C" int NyraGuardTrampoline(GuardedFn fn, void* arg, GuardFault* fault);
extern "C" void NyraGuardRecover();

// Frame of the trampoline as its handler sees it: EstablisherFrame is the trampoline's stack
// pointer after its prologue; the fault record pointer is kept at +40, above the 32-byte home
// area of the call it makes.
static const int kTrampolineFaultSlot = 40;

extern "C" EXCEPTION_DISPOSITION NyraGuardHandler(EXCEPTION_RECORD* record, void* establisher,
                                                  CONTEXT* context, DISPATCHER_CONTEXT* dispatcher)
{
    if ((record->ExceptionFlags & kUnwindFlags) || GuardPassesThrough(record->ExceptionCode))
        return ExceptionContinueSearch;
    GuardFault* out = *(GuardFault**)((char*)establisher + kTrampolineFaultSlot);
    out->code = record->ExceptionCode;
    out->address = record->ExceptionAddress;
    // Unwinds every frame between the fault and the trampoline, then resumes at the recovery
    // label with the trampoline's own stack pointer. Does not return.
    RtlUnwindEx(establisher, (void*)&NyraGuardRecover, record, nullptr, context, dispatcher->HistoryTable);
    return ExceptionContinueSearch;
}

// int NyraGuardTrampoline(fn, arg, fault): 1 after fn returned, 0 after a contained fault.
__asm__(".text\n"
        ".p2align 4\n"
        ".globl NyraGuardTrampoline\n"
        ".def NyraGuardTrampoline; .scl 2; .type 32; .endef\n"
        ".seh_proc NyraGuardTrampoline\n"
        "NyraGuardTrampoline:\n"
        "    pushq %rbp\n"
        "    .seh_pushreg %rbp\n"
        "    subq $48, %rsp\n"
        "    .seh_stackalloc 48\n"
        "    .seh_endprologue\n"
        "    .seh_handler NyraGuardHandler, @except\n"
        "    movq %r8, 40(%rsp)\n"
        "    movq %rcx, %rax\n"
        "    movq %rdx, %rcx\n"
        "    callq *%rax\n"
        "    nop\n"
        "    movl $1, %eax\n"
        "    jmp 1f\n"
        ".globl NyraGuardRecover\n"
        "NyraGuardRecover:\n"
        "    xorl %eax, %eax\n"
        "1:\n"
        "    addq $48, %rsp\n"
        "    popq %rbp\n"
        "    retq\n"
        ".seh_endproc\n");

bool GuardedCall(GuardedFn fn, void* arg, GuardFault* fault)
{
    GuardFault local = {0, nullptr};
    bool ok = true;
    if (fn)
        ok = NyraGuardTrampoline(fn, arg, &local) != 0;
    if (fault)
        *fault = local;
    return ok;
}

#else
#error "GuardedCall needs an implementation for this compiler and processor"
#endif
