// The prompts and notices of a T/S evaluation, shared by the measured procedure and the
// evaluation of impedance files: the DC-resistance prompt and the resonance notices.
#pragma once

#include "dsp/ts/Resonance.h"

namespace ts
{
// The DC-resistance prompt's limits: 0.5 <= value < 100 ohm.
bool dcResistanceInRange(float ohm);
// Checks a value entered in the prompt; out of range shows message 112 with caption 71 and
// returns false.
bool acceptDcResistance(float ohm);

// The proposal the prompt opens with: the Re of the impedance model fitted to the free-air
// run, as the prompt's one-decimal text reads back. It is an estimate; a DC resistance
// measured with an ohmmeter is better, and the prompt says so.
float dcResistanceProposal(const ResonanceResult& freeAir);

// The notice after a successful analysis: string 23 for the free-air run, 24 for the second.
// The two differ in their blanks: two after the first label, one after the second.
void showResonanceNotice(const ResonanceResult& result, bool firstRun);

// The DC-resistance prompt as the procedure runs it: the proposal is shown, a value out of
// range is refused with message 112 and asked again; cancelling keeps the proposal.
float confirmDcResistance(float proposalOhm);

} // namespace ts
