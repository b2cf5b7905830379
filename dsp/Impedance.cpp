#include "dsp/Impedance.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "dsp/Response.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace dsp
{

bool runMatches(const core::CurveBuffer& run, int fftLength, int rateCode)
{
    return run.trailerN() == static_cast<float>(fftLength) &&
           run.trailerRate() == static_cast<float>(rateCode);
}

void computeImpedance(core::MeasurementStore& st, double referenceResistorOhm, int fftLength,
                      int rateCode)
{
    ImpedanceRuns runs{st.impedanceRunAmplitude[0], st.impedanceRunPhase[0],
                       st.impedanceRunAmplitude[1], st.impedanceRunPhase[1]};
    computeImpedance(runs, referenceResistorOhm, fftLength, rateCode, st.impedanceMagnitude,
                     st.impedancePhase);
}

void computeImpedance(const ImpedanceRuns& runs, double referenceResistorOhm, int fftLength,
                      int rateCode, core::CurveBuffer& magnitudeOut, core::CurveBuffer& phaseOut)
{
    const core::CurveBuffer& a1 = runs.amplifierAmplitude;
    const core::CurveBuffer& a2 = runs.speakerAmplitude;
    const core::CurveBuffer& p1 = runs.amplifierPhase;
    const core::CurveBuffer& p2 = runs.speakerPhase;
    constexpr int kBins = core::kCurveBins;
    // The program's own constants: 0.0174532 degrees to radians, 3.1415 for pi.
    constexpr double kRadPerDeg = 0.0174532;
    constexpr double kDegPerRad = 180.0 / 3.1415;

    std::array<float, kBins> ratio;
    std::array<float, kBins> diffPhase;
    for (int i = 0; i < kBins; ++i) {
        const double g1 = std::pow(10.0, a1[i] / 20.0) + kLogFloor;
        const double g2 = std::pow(10.0, a2[i] / 20.0) + kLogFloor;
        const double phi1 = p1[i] * kRadPerDeg;
        const double phi2 = p2[i] * kRadPerDeg;
        // Voltage across the resistor relative to the stimulus.
        const double dRe = g1 * std::cos(phi1) + kLogFloor - g2 * std::cos(phi2);
        const double dIm = g1 * std::sin(phi1) + kLogFloor - g2 * std::sin(phi2);
        ratio[i] = static_cast<float>(g2 / (std::sqrt(dRe * dRe + dIm * dIm) + kLogFloor));
        diffPhase[i] = static_cast<float>(-std::atan2(dIm, dRe) * kDegPerRad);
    }

    // The 0.99 is the program's own calibration of the reference resistor path.
    const double resistor = 0.99 * referenceResistorOhm;
    // Clamped at 51.2 and 3.2 kHz only; at 6.4 kHz the values pass as computed.
    const bool clampValues = rateCode == 2 || rateCode == 3;
    double unwrapOffset = 0.0;
    double wrapOffset = -360.0;
    for (int i = 0; i < kBins; ++i) {
        const double qi = diffPhase[i];
        const double unwrapped = unwrapOffset + qi;
        if (i + 1 < kBins) {
            if (qi < -90.0 && diffPhase[i + 1] > 90.0)
                unwrapOffset -= 360.0;
            else if (qi > 90.0 && diffPhase[i + 1] < -90.0)
                unwrapOffset += 360.0;
        }
        double v = wrapOffset + unwrapped + p2[i];
        if (v < -180.0) {
            wrapOffset += 360.0;
            v += 360.0;
        } else if (v > 180.0) {
            wrapOffset -= 360.0;
            v -= 360.0;
        }
        double magnitude = ratio[i] * resistor;
        if (clampValues) {
            if (magnitude > 400.0)
                magnitude = 400.0;
            else if (magnitude < 0.0)
                magnitude = 0.0;
            if (v > 180.0)
                v = 180.0;
            else if (v < -180.0)
                v = -180.0;
        }
        magnitudeOut[i] = static_cast<float>(magnitude);
        phaseOut[i] = static_cast<float>(v);
    }
    magnitudeOut.stamp(fftLength, rateCode);
    phaseOut.stamp(fftLength, rateCode);
}

double impedancePeakHz(const core::CurveBuffer& magnitude)
{
    if (!core::isValidTrailer(magnitude.trailerN(), magnitude.trailerRate()))
        return 0.0;
    const int n = core::safeTrailerN(magnitude.trailerN());
    const double df =
        static_cast<double>(core::sampleRateHz(core::safeTrailerRate(magnitude.trailerRate()))) / n;
    double peakHz = 0.0;
    float peak = 0.0f;
    for (int k = 1; k < std::min(n / 2, core::kCurveBins); ++k) {
        const double f = k * df;
        const float z = magnitude[k];
        if (f < 15.0 || f > 2000.0 || z == core::NO_VALUE || !std::isfinite(z) || z <= peak)
            continue;
        peak = z;
        peakHz = f;
    }
    return peakHz;
}

void labelTsRunCurve(bool firstRun)
{
    const double peakHz = impedancePeakHz(core::store().impedanceMagnitude);
    if (firstRun) {
        core::labelImpedanceCurve(core::ImpedanceCurveKind::FreeAir, peakHz);
        return;
    }
    // The free-air run's peak, kept with its label (the curve itself is gone).
    const core::ImpedanceCurveLabel& before = core::store().impedanceLabel;
    const double freeHz =
        before.kind == core::ImpedanceCurveKind::FreeAir ? before.freeAirPeakHz : 0.0;
    core::ImpedanceCurveKind kind = core::ImpedanceCurveKind::SecondRun;
    if (freeHz > 0.0 && peakHz > 0.0 && peakHz < freeHz)
        kind = core::ImpedanceCurveKind::AddedMass;
    else if (freeHz > 0.0 && peakHz > freeHz)
        kind = core::ImpedanceCurveKind::ClosedBox;
    core::labelImpedanceCurve(kind);
}

} // namespace dsp
