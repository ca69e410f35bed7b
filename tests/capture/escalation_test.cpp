// The wait's escalation over scripted slices: each row is one slice's observation and what the
// state machine must answer. Aborts are noted as returning `abortTook` ms after the decision.
#include <gtest/gtest.h>

#include <vector>

#include "capture/escalation.h"

namespace {

using A = EscalationAction;

struct Slice {
    uint32_t at;  // ms after the wait started
    bool armed;
    int32_t armCount;
    bool cancel;
    bool rearmed;
    A action;
};

struct Scenario {
    const char* name;
    uint32_t startTick;
    bool capture;  // captures watch armings and cancels; sensor tasks do not
    int32_t timeoutSeconds;
    uint32_t abortTook;
    std::vector<Slice> slices;
};

const Scenario kScenarios[] = {
    {"timeout, then close at 2 s and abandon at 6 s after the abort",
     1000,
     true,
     5,
     0,
     {{5000, true, 1, false, true, A::None},  // arming restarts the 5 s timeout
      {10000, true, 1, false, false, A::None},
      {10001, true, 1, false, false, A::AbortOnTimeout},
      {12001, true, 1, false, false, A::None},
      {12002, true, 1, false, false, A::ForceClose},
      {14000, true, 1, true, false, A::None},  // a cancel while aborting changes nothing
      {16001, true, 1, false, false, A::None},
      {16002, true, 1, false, false, A::Abandon},
      {30000, true, 2, false, false, A::None}}},
    {"the escalation clock starts when the abort call returns",
     0,
     true,
     1,
     1500,
     {{1001, false, 0, false, false, A::AbortOnTimeout},
      {4501, false, 0, false, false, A::None},
      {4502, false, 0, false, false, A::ForceClose},
      {8501, false, 0, false, false, A::None},
      {8502, false, 0, false, false, A::Abandon}}},
    {"a re-arm ends the abort and gives the full timeout again",
     0,
     true,
     3,
     0,
     {{100, false, 0, true, false, A::AbortOnCancel},
      {2200, true, 1, false, true, A::None},
      {5200, true, 1, false, false, A::None},
      {5201, true, 1, false, false, A::AbortOnTimeout},
      {5300, true, 2, true, true, A::AbortOnCancel}}},  // arming announced, then the cancel
    {"sensor tasks ignore cancels and armings, and time out from the start",
     0,
     false,
     2,
     0,
     {{1000, true, 1, true, false, A::None},
      {2001, true, 2, true, false, A::AbortOnTimeout},
      {4002, true, 3, false, false, A::ForceClose}}},
    {"ticks wrapping past 2^32 keep every interval",
     0xFFFFF000u,
     true,
     5,
     0,
     {{5000, false, 0, false, false, A::None},
      {5001, false, 0, false, false, A::AbortOnTimeout},
      {7002, false, 0, false, false, A::ForceClose},
      {11002, false, 0, false, false, A::Abandon}}},
};

TEST(Escalation, ScriptedWaits)
{
    for (const Scenario& sc : kScenarios) {
        SCOPED_TRACE(sc.name);
        EscalationState state = StartEscalation(sc.startTick);
        for (const Slice& s : sc.slices) {
            SCOPED_TRACE(s.at);
            uint32_t now = sc.startTick + s.at;
            EscalationInput in{now, s.armed, s.armCount, sc.capture, s.cancel, sc.timeoutSeconds};
            EscalationStep step = StepEscalation(&state, in);
            EXPECT_EQ(step.rearmed, s.rearmed);
            EXPECT_EQ((int)step.action, (int)s.action);
            if (step.action == A::AbortOnCancel || step.action == A::AbortOnTimeout)
                NoteAbortIssued(&state, now + sc.abortTook);
        }
    }
}

}  // namespace
