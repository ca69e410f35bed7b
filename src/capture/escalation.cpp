// The wait's escalation as a state machine over millisecond ticks (unsigned, so it survives the
// 49-day wrap). A capture's timeout counts from the start of the wait and again from each new
// arming; a new arming also ends an abort in progress. While aborting, the clock counts from the
// abort's return: past 2 s the device is force-closed, past 6 s the worker is abandoned. The
// forced close does not restart that clock. After Abandon the state asks for nothing more.
#include "capture/escalation.h"

static const uint32_t kForceCloseAfterMs = 2000;
static const uint32_t kAbandonAfterMs = 6000;

EscalationState StartEscalation(uint32_t now)
{
    return EscalationState{now, 0, 0, 0, false, false};
}

void NoteAbortIssued(EscalationState* state, uint32_t now)
{
    state->aborting = true;
    state->abortTick = now;
}

static EscalationAction Escalate(EscalationState* state, uint32_t now)
{
    uint32_t sinceAbort = now - state->abortTick;
    if (state->stage == 0 && sinceAbort > kForceCloseAfterMs) {
        state->stage = 1;
        return EscalationAction::ForceClose;
    }
    if (state->stage == 1 && sinceAbort > kAbandonAfterMs) {
        state->abandoned = true;
        return EscalationAction::Abandon;
    }
    return EscalationAction::None;
}

EscalationStep StepEscalation(EscalationState* state, const EscalationInput& in)
{
    EscalationStep step{false, EscalationAction::None};
    if (state->abandoned)
        return step;
    if (in.watchArming && in.armed && in.armCount != state->lastArmCount) {
        state->lastArmCount = in.armCount;
        state->startTick = in.now;
        state->aborting = false;
        step.rearmed = true;
    } else if (state->aborting) {
        step.action = Escalate(state, in.now);
        return step;
    }

    if (in.cancelRequested && in.watchArming)
        step.action = EscalationAction::AbortOnCancel;
    else if (in.now - state->startTick > (uint32_t)in.timeoutSeconds * 1000u)
        step.action = EscalationAction::AbortOnTimeout;
    return step;
}
