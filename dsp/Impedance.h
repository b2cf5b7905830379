// Impedance from the two runs across the reference resistor.
#pragma once

namespace dsp {

// Combines impedanceRunAmplitude/Phase [0] (amplifier output) and [1] (loudspeaker side) into
// impedanceMagnitude (ohm) and impedancePhase (degrees): Z = 0.99 R U2 / (U1 - U2).
void computeImpedance();

} // namespace dsp
