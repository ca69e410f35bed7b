// The fault guard under Wine: each kind of processor exception is contained and reported with
// its code, a clean call runs normally, exceptions that the called code handles itself or that
// the system resolves never count as faults, and the guard keeps working after many faults.
#include <windows.h>

#include <gtest/gtest.h>

#include "backend/fault_guard.h"

namespace {

void Nothing(void* arg)
{
    ++*static_cast<int*>(arg);
}

void ReadNull(void*)
{
    volatile int* p = nullptr;
    (void)*p;
}

void DivideByZero(void* arg)
{
    volatile int zero = *static_cast<int*>(arg);
    volatile int r = 7 / zero;
    (void)r;
}

void IllegalInstruction(void*)
{
    __asm__ __volatile__("ud2");
}

void RaiseCustom(void*)
{
    RaiseException(0xE0001234u, 0, 0, nullptr);
}

#pragma GCC diagnostic ignored "-Winfinite-recursion"
void Recurse(void* arg)
{
    volatile char pad[4096];
    pad[0] = (char)(uintptr_t)arg;
    Recurse((void*)(uintptr_t)(pad[0] + 1));
    pad[1] = 0;
}

void InnerGuardHandlesIt(void* arg)
{
    GuardFault inner;
    *static_cast<bool*>(arg) =
        GuardedCall(ReadNull, nullptr, &inner) == false && inner.code == kFaultAccessViolation;
}

void DebugOutput(void* arg)
{
    OutputDebugStringA("[NyraSED] guard test\n");
    ++*static_cast<int*>(arg);
}

struct Case {
    const char* name;
    GuardedFn fn;
    uint32_t code;
};

}  // namespace

TEST(FaultGuard, ContainsEachKindOfFaultWithItsCode)
{
    const Case cases[] = {
        {"access violation", ReadNull, 0xC0000005u},
        {"divide by zero", DivideByZero, 0xC0000094u},
        {"illegal instruction", IllegalInstruction, 0xC000001Du},
        {"raised exception", RaiseCustom, 0xE0001234u},
    };
    for (const Case& c : cases) {
        int zero = 0;
        GuardFault fault = {0, nullptr};
        EXPECT_FALSE(GuardedCall(c.fn, &zero, &fault)) << c.name;
        EXPECT_EQ(c.code, fault.code) << c.name;
        EXPECT_NE(nullptr, fault.address) << c.name;
    }
}

TEST(FaultGuard, CleanCallRunsOnceAndClearsTheFault)
{
    int count = 0;
    GuardFault fault = {123, &count};
    EXPECT_TRUE(GuardedCall(Nothing, &count, &fault));
    EXPECT_EQ(1, count);
    EXPECT_EQ(0u, fault.code);
    EXPECT_TRUE(GuardedCall(Nothing, &count, nullptr));
    EXPECT_EQ(2, count);
}

TEST(FaultGuard, StaysUsableAfterManyFaultsAndNests)
{
    for (int i = 0; i < 500; ++i)
        ASSERT_FALSE(GuardedCall(ReadNull, nullptr, nullptr)) << i;
    bool innerContained = false;
    GuardFault outer = {0, nullptr};
    EXPECT_TRUE(GuardedCall(InnerGuardHandlesIt, &innerContained, &outer));
    EXPECT_TRUE(innerContained);
    EXPECT_EQ(0u, outer.code);
    int count = 0;
    EXPECT_TRUE(GuardedCall(Nothing, &count, nullptr));
    EXPECT_EQ(1, count);
}

TEST(FaultGuard, DebuggerOutputIsNotAFault)
{
    int count = 0;
    EXPECT_TRUE(GuardedCall(DebugOutput, &count, nullptr));
    EXPECT_EQ(1, count);
    EXPECT_TRUE(GuardPassesThrough(0x40010006u));
    EXPECT_TRUE(GuardPassesThrough(0x406D1388u));
    EXPECT_FALSE(GuardPassesThrough(kFaultAccessViolation));
}

static DWORD WINAPI OverflowThread(void* arg)
{
    GuardFault* fault = static_cast<GuardFault*>(arg);
    GuardedCall(Recurse, nullptr, fault);
    return 7;  // the thread ends right after a contained overflow
}

TEST(FaultGuard, StackOverflowOnAWorkerThreadIsContained)
{
    GuardFault fault = {0, nullptr};
    HANDLE thread =
        CreateThread(nullptr, 256 * 1024, OverflowThread, &fault, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(7u, code);
    EXPECT_EQ(kFaultStackOverflow, fault.code);
}
