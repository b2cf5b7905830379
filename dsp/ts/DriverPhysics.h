// The physics of a driver on the bench that both the simulated bench and the T/S evaluation
// use, stated once so the two can't disagree.
#pragma once

#include <cmath>

namespace ts
{

// Air as the Thiele-Small formulas take it: rho c^2 in Pa (so that Vas = rho c^2 Sd^2 Cms),
// density in kg/m^3, speed of sound in m/s.
inline constexpr double kRhoC2 = 1.42e5;
inline constexpr double kRho = 1.18;
inline constexpr double kSpeedOfSound = 343.0;

// Air load of the cone at low frequencies (ka << 1), with a the radius of the diaphragm:
// - Free air: the cone is a disk open on both sides. A disk moving broadside carries
//   8 rho a^3 / 3 of air in all (Lamb, Hydrodynamics, 6th ed. 1932, par. 108: the added mass
//   of a circular disk in an ideal fluid). The driver's parameters, measured in free air,
//   already hold this mass in Mms, so an added mass on the cone adds only itself.
// - On a closed box the front radiates from the box's baffle: 8 rho a^3 / 3 on that side
//   alone, the low-frequency limit of the radiation reactance of a piston in a baffle
//   (Rayleigh, Theory of Sound, par. 302; Beranek, Acoustics, 1954, ch. 5). The rear works
//   into the box's air; we take the same 8 rho a^3 / 3 for it, the usual engineering
//   assumption of two baffled sides for a driver in a box of ordinary shape (Beranek's
//   treatment of a piston in one wall of a closed box puts it somewhat lower, depending on
//   the box's proportions).
// So mounting on the box adds boxAirMassIncrementKg to the moving mass, besides the box's
// air spring Vb / (rho c^2 Sd^2) in series with the suspension's compliance.
inline double freeAirLoadKg(double sdM2)
{
    const double a = std::sqrt(sdM2 / 3.14159265358979323846);
    return 8.0 / 3.0 * kRho * a * a * a;
}

inline double closedBoxAirLoadKg(double sdM2)
{
    return 2.0 * freeAirLoadKg(sdM2);
}

inline double boxAirMassIncrementKg(double sdM2)
{
    return closedBoxAirLoadKg(sdM2) - freeAirLoadKg(sdM2);
}

// Compliance of the air in a closed box of vbL litres behind a diaphragm of sdM2, m/N.
inline double boxComplianceMPerN(double vbL, double sdM2)
{
    return vbL * 1e-3 / (kRhoC2 * sdM2 * sdM2);
}

} // namespace ts
