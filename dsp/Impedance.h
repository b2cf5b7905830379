// Impedance from the two runs across the reference resistor.
#pragma once

#include "core/Store.h"

namespace dsp
{

// Whether a run curve was computed with this FFT length and rate code. Runs of another length
// or rate lie on another bin grid; combined bin by bin they give a wrong impedance (a 512-point
// run against a 4096-point one read 36 ohm for 52), so a stored amplifier-output run is reused
// only when it matches.
bool runMatches(const core::CurveBuffer& run, int fftLength, int rateCode);

// Combines impedanceRunAmplitude/Phase [0] (amplifier output) and [1] (loudspeaker side) into
// impedanceMagnitude (ohm) and impedancePhase (degrees): Z = 0.99 R U2 / (U1 - U2), the runs
// taken with `fftLength` at `rateCode`.
void computeImpedance(core::MeasurementStore& store, double referenceResistorOhm, int fftLength,
                      int rateCode);

// The same on any pair of runs, with the resistor and the grid given.
struct ImpedanceRuns {
    const core::CurveBuffer& amplifierAmplitude;
    const core::CurveBuffer& amplifierPhase;
    const core::CurveBuffer& speakerAmplitude;
    const core::CurveBuffer& speakerPhase;
};
void computeImpedance(const ImpedanceRuns& runs, double referenceResistorOhm, int fftLength,
                      int rateCode, core::CurveBuffer& magnitudeOut, core::CurveBuffer& phaseOut);

// For the T/S procedure, right after a run's computeImpedance: labels the impedance curve in
// the store as the free-air run (firstRun) or the second run, which is the one with the added
// mass when its peak lies below the free-air run's and the one in the box when above (as the
// evaluation tells the two apart).
void labelTsRunCurve(bool firstRun);

// The frequency of the highest impedance between 15 and 2000 Hz (where a driver's resonance
// is searched), 0 without a value there.
double impedancePeakHz(const core::CurveBuffer& magnitude);

} // namespace dsp
