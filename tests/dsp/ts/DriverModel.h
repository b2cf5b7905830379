// The electrical impedance of a drive unit from its physical parameters, written straight
// from the physics, as an independent reference for the T/S evaluation.
#pragma once

#include "core/Store.h"
#include "dsp/ts/ImpedanceFit.h"

#include <cmath>
#include <complex>
#include <vector>

namespace tstest
{

// Air stiffness rho*c^2 in Pa, the value the T/S formulas assume.
inline constexpr double kRhoC2 = 1.42e5;
inline constexpr double kPi = 3.14159265358979;

struct Driver {
    double reOhm = 6.0;
    double leH = 0.5e-3;
    double fsHz = 35.0;
    double qms = 3.0;
    double qes = 0.45;
    double vasL = 40.0;
    double diameterMm = 170.0;

    double sd() const { return kPi * std::pow(diameterMm / 2000.0, 2); }
    double cms() const { return vasL / 1000.0 / (kRhoC2 * sd() * sd()); }
    double mmsKg() const { return 1.0 / (std::pow(2.0 * kPi * fsHz, 2) * cms()); }
    double rms() const { return 2.0 * kPi * fsHz * mmsKg() / qms; }
    double bl() const { return std::sqrt(2.0 * kPi * fsHz * mmsKg() * reOhm / qes); }
    double qts() const { return qms * qes / (qms + qes); }

    // The same motor with `extraKg` on the cone and a closed box of `boxL` litres behind it
    // (0 = free air); the box also adds `boxExtraKg` of air mass.
    Driver loaded(double extraKg, double boxL, double boxExtraKg = 0.0) const
    {
        const double m = mmsKg() + extraKg + boxExtraKg;
        double k = 1.0 / cms();
        if (boxL > 0.0)
            k += kRhoC2 * sd() * sd() / (boxL / 1000.0);
        Driver d = *this;
        const double w = std::sqrt(k / m);
        d.fsHz = w / (2.0 * kPi);
        d.qms = w * m / rms();
        d.qes = w * m * reOhm / (bl() * bl());
        d.vasL = kRhoC2 * sd() * sd() / k * 1000.0; // keeps cms() = 1/k for the curve
        return d;
    }

    std::complex<double> impedance(double f) const
    {
        const std::complex<double> j(0.0, 1.0);
        const double w = 2.0 * kPi * f;
        const double res = reOhm * qms / qes;
        const std::complex<double> mot = res / (1.0 + j * qms * (f / fsHz - fsHz / f));
        return reOhm + j * w * leH + mot;
    }
};

// Writes the driver's impedance into the store's impedance curves, as a T/S run at the given
// rate code would leave them (N = 4096).
inline void writeImpedance(const Driver& d, int rateCode)
{
    const double fsRate = rateCode == 2 ? 51200.0 : rateCode == 3 ? 3200.0 : 6400.0;
    auto& st = core::store();
    for (int i = 0; i < core::kCurveBins; ++i) {
        const double f = i == 0 ? 1e-3 : i * fsRate / 4096.0;
        const auto z = d.impedance(f);
        st.impedanceMagnitude[i] = static_cast<float>(std::abs(z));
        st.impedancePhase[i] = static_cast<float>(std::arg(z) * 180.0 / kPi);
    }
    st.impedanceMagnitude.stamp(4096, rateCode);
    st.impedancePhase.stamp(4096, rateCode);
}

// The driver's impedance at the bins of a T/S run at the given rate (N = 4096), from bin 1 to
// `lastBin`, as complex points.
inline std::vector<ts::ImpedancePoint> binPoints(const Driver& d, int rateCode, int lastBin = 1600)
{
    const double fsRate = rateCode == 2 ? 51200.0 : rateCode == 3 ? 3200.0 : 6400.0;
    std::vector<ts::ImpedancePoint> pts;
    for (int i = 1; i <= lastBin; ++i) {
        const double f = i * fsRate / 4096.0;
        const auto z = d.impedance(f);
        pts.push_back({f, std::abs(z), std::arg(z) * 180.0 / kPi, true});
    }
    return pts;
}

// The same at `perOctave` log-spaced points from loHz to hiHz, as an impedance file holds them.
inline std::vector<ts::ImpedancePoint> filePoints(const Driver& d, double loHz, double hiHz,
                                                  int perOctave, bool withPhase = true)
{
    std::vector<ts::ImpedancePoint> pts;
    for (double f = loHz; f <= hiHz * 1.0001; f *= std::pow(2.0, 1.0 / perOctave)) {
        const auto z = d.impedance(f);
        pts.push_back({f, std::abs(z), withPhase ? std::arg(z) * 180.0 / kPi : 0.0, withPhase});
    }
    return pts;
}

} // namespace tstest
