// The distortion view: the fundamental and the harmonics of a sweep against the excitation
// frequency, or the THD, each harmonic with the capture's noise floor beside it.
#pragma once

#include "core/Store.h"
#include "plot/Picture.h"
#include "plot/Scales.h"

#include <string>
#include <vector>

namespace plot
{

// What the view draws besides the fundamental.
enum class DistortionShown {
    LowHarmonics, // H2 and H3
    AllHarmonics, // H2..H5
    Thd,          // the total harmonic distortion in percent
};

// The choice the two entries of the Darstellung menu make; THD wins over the harmonics.
DistortionShown distortionShown(bool higherHarmonics, bool thdInstead);

// The axes of the view. The frequency axis is the narrowest of the amplitude view's logarithmic
// scales that holds the record's band (20 Hz..20 kHz when none does, and for an empty record). The left axis
// is the harmonics' level re the fundamental, -100..0 dB, or the THD from 0.01 to 100 % on a
// logarithmic scale. The fundamental has its own axis on the right, 100 dB high with the same
// 10 dB steps, its top the next multiple of 10 dB above the fundamental's peak: the fundamental
// then runs along the top of the chart and the distance down to a harmonic reads in dB.
struct DistortionAxes {
    ScaleRecord frequency;
    ScaleRecord relative;    // harmonics in dB, or THD in percent (logarithmic)
    ScaleRecord fundamental; // dB re the sweep's level
};
DistortionAxes distortionAxes(const core::DistortionRecord& r, DistortionShown shown);

// Plot coordinates (0..10000, not clamped) of a value on the left axis: dB for the harmonics,
// percent for the THD; 0 for a value that is not a positive percentage on the THD axis.
int mapRelative(double value, const ScaleRecord& relative);

// The THD the noise alone would read at each point, in percent: the noise powers of the
// harmonics still within the band, summed. Empty when the record has no noise.
std::vector<float> thdNoisePercent(const core::DistortionRecord& r);

// The colour of a harmonic's curve, k = 2..5; its noise floor is the same colour paled.
std::uint32_t harmonicColor(int k);

// The whole view: frame, axes, curves, noise floors, legend and the sweep it came from; an
// empty record gives the frame with the note that there is no distortion measurement.
void drawDistortion(Picture& p, const core::DistortionRecord& r, DistortionShown shown);

// The note an empty record shows.
inline constexpr const char* kNoDistortionText =
    "Keine Klirrfaktor-Messung: mit dem Meßverfahren Sweep messen";

// The values under plot point (px, py), 0..10000 each, as the status bar shows them:
// "Wert (X|Y): 1000.00[Hz] | -40.00[dB] | -12.00[dB]" (frequency, left axis, fundamental's
// axis), with the read-outs' decimal point.
std::string distortionReadout(const core::DistortionRecord& r, DistortionShown shown, int px,
                              int py);

// The sweep as the foot of the view names it: "Sweep 20 Hz – 20 kHz, 2 s".
std::string sweepDescription(const core::DistortionRecord& r);

} // namespace plot
