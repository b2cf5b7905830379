// Impedance from the two runs across the reference resistor.
#pragma once

#include "core/Store.h"

namespace dsp {

// Whether a run curve was computed with this FFT length and rate code. Runs of another length
// or rate lie on another bin grid; combined bin by bin they give a wrong impedance (a 512-point
// run against a 4096-point one read 36 ohm for 52), so a stored amplifier-output run is reused
// only when it matches.
bool runMatches(const core::CurveBuffer& run, int fftLength, int rateCode);

// Combines impedanceRunAmplitude/Phase [0] (amplifier output) and [1] (loudspeaker side) into
// impedanceMagnitude (ohm) and impedancePhase (degrees): Z = 0.99 R U2 / (U1 - U2).
void computeImpedance();

} // namespace dsp
