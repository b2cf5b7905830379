#include "dsp/Response.h"

#include "core/Settings.h"
#include "core/Store.h"

#include <cmath>

namespace dsp {

float toDbspl(float db)
{
    if (db == core::NO_VALUE)
        return db;
    const core::MeasurementSettings& s = core::settings();
    const double a = std::pow(10.0, db / 20.0);
    const double impedanceTerm = 10.0 * std::log10(s.dbsplSpeakerImpedanceOhm / 8.0 + kLogFloor);
    double result = 20.0 * std::log10(a * 5e7 / s.micSensitivityMvPerPa + kLogFloor) + impedanceTerm;
    if (s.dbsplRealDistance == 1)
        result += 20.0 * std::log10(s.distanceMm / 1000.0 + kLogFloor);
    return static_cast<float>(result);
}

OverlaySum overlaySum(int bin)
{
    const core::MeasurementStore& st = core::store();
    double re = 0.0;
    double im = 0.0;
    double mag = 0.0;
    if (bin >= 0 && bin < core::kCurveBins) {
        for (int k = 0; k < 5; ++k) {
            if (st.slotOccupied[k] != 1)
                continue;
            const float db = st.amplitudeSlots[k][bin];
            if (db == core::NO_VALUE)
                continue;
            const double g = std::pow(10.0, db / 20.0);
            // 3.14159 is the program's own value of pi here; kept so sums match stored results.
            const double phi = st.phaseSlots[k][bin] * 3.14159 / 180.0;
            re += g * std::cos(phi);
            im += g * std::sin(phi);
            mag += g;
        }
    }
    OverlaySum r;
    if (core::settings().sumMode == 1)
        r.amplitudeDb = static_cast<float>(20.0 * std::log10(mag + kLogFloor));
    else
        r.amplitudeDb = static_cast<float>(20.0 * std::log10(std::sqrt(re * re + im * im) + kLogFloor));
    r.phaseDeg = static_cast<float>(std::atan2(im, re) * 180.0 / 3.14159);
    return r;
}

} // namespace dsp
