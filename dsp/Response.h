// Frequency response: the amplitude and phase of a time record, the reference tables, the
// step response; the dB SPL conversion and the overlay sum used by diagrams and exports.
#pragma once

#include "core/Conditions.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "dsp/Fft.h"

#include <array>
#include <span>

namespace dsp
{

// Added to every logarithm's argument so that zero magnitudes never fail.
inline constexpr double kLogFloor = 1.1754944e-38;

// Below this share of the box's MLS a played stimulus is too weak to measure with.
inline constexpr double kMinStimulusGain = 0.1;

// Everything a response computation uses besides the record and the tables it reads: the
// conditions of the measurement the record came from and how to compute it.
struct ResponseRequest {
    core::ResponseMode mode = core::ResponseMode::Measurement; // Reference writes the tables
    int fftLength = 4096; // N of the transform: 512, 1024, 2048, anything else 4096
    core::Smoothing smoothing = core::Smoothing::None;
    core::PhaseMode phaseMode = core::PhaseMode::Real;
    // An impedance run: no time window, no preamplifier correction, no step response, and
    // the phase unwrapped.
    bool impedanceRun = false;
    std::array<int, 2> markers{0, 10000}; // M1, M2 in 1/10000 of the record
    // How the record was measured.
    int rateCode = 1;
    core::Method method = core::Method::Mls;
    core::Input input = core::Input::Line1; // Mic. records get the microphone's smoothing
    int recordFftLength = 512; // the FFT-length setting, stamped into the curves' trailers
    double preampGainDb = 0.0;
    bool stepResponse = false;
    bool useReference = false;
    bool useMicCorrection = false;
    double distanceMm = 0.0;
    double phaseOffsetDeg = 0.0;
    // How strongly the stimulus excited bin i of the N-point grid (i = 0..N/2) against the
    // box's MLS (a sound card's band-limited one); empty: in full. Where it is strong
    // enough the response is divided by it, before any smoothing; the other bins carry no
    // value, so that views and exports end where the measurement ends.
    std::span<const float> stimulusGain;
};

// A measurement's response as the settings ask for it: mode, FFT length, smoothing, phase
// mode, markers and the measuring conditions all read from `s` once.
ResponseRequest responseRequest(const core::MeasurementSettings& s, core::ResponseMode mode);

// Computes the amplitude and phase of the store's timeRecord into the two curves (trailer:
// `recordFftLength`, `rateCode`) and its stepResponseCurve; a Reference writes the
// reference tables of the rate as well, a Measurement reads them (and the microphone's).
// Coinciding markers are reported with message 89; the computation goes on.
void computeResponse(const ResponseRequest& request, core::MeasurementStore& store,
                     core::CurveBuffer& amplitudeOut, core::CurveBuffer& phaseOut);
void computeResponse(FftWork work, const ResponseRequest& request, core::MeasurementStore& store,
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
