#include "dsp/Impedance.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "dsp/Response.h"

#include <array>
#include <cmath>

namespace dsp {

bool runMatches(const core::CurveBuffer& run, int fftLength, int rateCode)
{
    return run.trailerN() == static_cast<float>(fftLength) &&
           run.trailerRate() == static_cast<float>(rateCode);
}

void computeImpedance()
{
    const core::MeasurementSettings& s = core::settings();
    core::MeasurementStore& st = core::store();
    const core::CurveBuffer& a1 = st.impedanceRunAmplitude[0];
    const core::CurveBuffer& a2 = st.impedanceRunAmplitude[1];
    const core::CurveBuffer& p1 = st.impedanceRunPhase[0];
    const core::CurveBuffer& p2 = st.impedanceRunPhase[1];
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
    const double resistor = 0.99 * s.referenceResistorOhm;
    // Clamped at 51.2 and 3.2 kHz only; at 6.4 kHz the values pass as computed.
    const bool clampValues = s.sampleRate == 2 || s.sampleRate == 3;
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
        st.impedanceMagnitude[i] = static_cast<float>(magnitude);
        st.impedancePhase[i] = static_cast<float>(v);
    }
    st.impedanceMagnitude.stamp(s.fftLength, s.sampleRate);
    st.impedancePhase.stamp(s.fftLength, s.sampleRate);
}

} // namespace dsp
