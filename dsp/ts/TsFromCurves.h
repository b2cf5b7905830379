// Thiele-Small parameters from two impedance curves that were not measured here (impedance
// files of a drive unit in free air and with an added mass or in a closed box), through the
// same resonance analysis and evaluation as the measurement.
#pragma once

#include "core/Store.h"
#include "dsp/ts/TsParameters.h"

namespace ts
{

enum class SecondRun { AddedMass, ClosedBox };

struct TsCurveInputs {
    // The DC resistance; 0 asks with the proposal (0.95 x the smallest impedance above the
    // free-air resonance) as the measurement does.
    float dcResistanceOhm = 0.0f;
    float diaphragmDiameterMm = 170.0f;
    SecondRun second = SecondRun::AddedMass;
    float addedMassG = 0.0f;
    float boxVolumeL = 0.0f;
};

// The curves lie on the grid of 6.4 kHz and N 4096 (the measurement's) and need values with
// phase over the searched bins. Shows the notices 23/24 and the analysis and evaluation
// messages as the measurement does; refuses, with its own message, curves that do not cover
// the searched range, a DC resistance out of range (message 112) and a second resonance that
// moves the wrong way for the kind of second run (swapped files). Returns 1 with the result
// text in tsResultText, 0 otherwise (tsResultText then unchanged).
int tsFromImpedanceCurves(const core::CurveBuffer& freeMagnitude,
                          const core::CurveBuffer& freePhase,
                          const core::CurveBuffer& loadedMagnitude,
                          const core::CurveBuffer& loadedPhase, const TsCurveInputs& in,
                          TsParameters* out = nullptr);

// The rate code and N the curves must be brought onto.
inline constexpr int kTsFileRateCode = 1;

} // namespace ts
