// The guided T/S measurement: two impedance measurements of a drive unit (free air, then
// with an added mass or in a closed box), the DC-resistance prompt and the evaluation.
#pragma once

#include "dsp/ts/Resonance.h"

namespace ts
{

// The whole procedure with its prompts. Every setting it forces is restored on every way
// out. Returns 1 when the parameters were computed and shown, 0 otherwise (declined,
// cancelled, or a failure the user has already been told about).
int measureTsParameters();

// The DC-resistance prompt's limits: 0.5 <= value < 100 ohm.
bool dcResistanceInRange(float ohm);
// Checks a value entered in the prompt; out of range shows message 112 with caption 71 and
// returns false.
bool acceptDcResistance(float ohm);

// The proposal the prompt opens with: 0.95 x the smallest impedance above the resonance, as
// the prompt's one-decimal text reads back.
float dcResistanceProposal(float minOhmAbove);

// The notice after a successful analysis: string 23 for the free-air run, 24 for the second.
// The two differ in their blanks: two after the first label, one after the second.
void showResonanceNotice(const ResonanceResult& result, bool firstRun);

// The DC-resistance prompt as the procedure runs it: the proposal is shown, a value out of
// range is refused with message 112 and asked again; cancelling keeps the proposal.
float confirmDcResistance(float proposalOhm);

} // namespace ts
