// The decisions of the host's thread while it waits for a worker: when to abort the pending
// read, when to force the device closed and when to give the worker up. Portable and driven
// by ticks, so the timings are tested without threads or a vendor library; the caller acts.
#pragma once
#include <cstdint>

enum class EscalationAction : int32_t {
    None,
    AbortOnCancel,   // the user cancelled: abort the pending read
    AbortOnTimeout,  // no exposure within the timeout: abort the pending read
    ForceClose,      // the abort did not end the read: close the device under it
    Abandon,         // the close did not end it either: stop waiting for the worker
};

struct EscalationState {
    uint32_t startTick;    // start of the wait, restarted at each arming (ms ticks)
    uint32_t abortTick;    // when the abort call returned (ms ticks)
    int32_t lastArmCount;  // the worker's arm count at the last arming seen
    int32_t stage;         // 0 before the forced close, 1 after it
    bool aborting;
    bool abandoned;
};

struct EscalationInput {
    uint32_t now;      // ms ticks, wrapping
    bool armed;        // the worker's armed flag
    int32_t armCount;  // the worker's arm count
    bool watchArming;  // captures follow armings and cancels; sensor tasks do not
    bool cancelRequested;
    int32_t timeoutSeconds;  // the settings snapshot's capture timeout
};

struct EscalationStep {
    bool rearmed;  // a new arming was seen: the caller announces it
    EscalationAction action;
};

EscalationState StartEscalation(uint32_t now);
// One slice of the wait; at most one action, after the arming.
EscalationStep StepEscalation(EscalationState* state, const EscalationInput& in);
// The abort call may block; the escalation clock counts from its return.
void NoteAbortIssued(EscalationState* state, uint32_t now);
