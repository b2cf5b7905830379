// Frequency-response helpers shared by diagrams, exports and the level read-out.
#pragma once

namespace dsp {

// Added to every logarithm's argument so that zero magnitudes never fail.
inline constexpr double kLogFloor = 1.1754944e-38;

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
