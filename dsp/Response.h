// Frequency response: the amplitude and phase of a time record, the reference tables, the
// step response; the dB SPL conversion and the overlay sum used by diagrams and exports.
#pragma once

#include "core/Store.h"
#include "dsp/Fft.h"

namespace dsp {

// Added to every logarithm's argument so that zero magnitudes never fail.
inline constexpr double kLogFloor = 1.1754944e-38;

// Set by the impedance run and the T/S procedure around their computeResponse calls: no time
// window, no preamplifier correction, no step response, unwrapped phase as output.
extern int impedanceRunActive;

// mode 1 = reference (writes the reference tables of the current rate), 2 = measurement.
// N: 512, 1024, 2048, anything else counts as 4096. smoothingCode 1..4 as `smoothing`,
// phaseMode 1..3 as `phaseMode`. Reads the store's timeRecord and the live settings, writes
// the two curves (trailer: `fftLength`, `sampleRate`) and stepResponseCurve. Coinciding
// markers are reported with message 89; the computation goes on.
void computeResponse(int mode, int N, int smoothingCode, int phaseMode,
                     core::CurveBuffer& amplitudeOut, core::CurveBuffer& phaseOut);
void computeResponse(FftWork work, int mode, int N, int smoothingCode, int phaseMode,
                     core::CurveBuffer& amplitudeOut, core::CurveBuffer& phaseOut);

// Converts a stored dB value to dB SPL with the live settings (microphone sensitivity,
// loudspeaker impedance, distance); NO_VALUE passes through.
float toDbspl(float db);

struct OverlaySum {
    float amplitudeDb;
    float phaseDeg;
};
// Sum of the occupied overlay slots at one bin: complex or magnitude sum by `sumMode`.
OverlaySum overlaySum(int bin);

} // namespace dsp
