// Thiele-Small parameters from two impedance curves that were not measured here (impedance
// files of a drive unit in free air and with an added mass or in a closed box), through the
// same impedance-model fit and evaluation as the measurement, on the files' own points.
#pragma once

#include "dsp/ts/ImpedanceFit.h"
#include "dsp/ts/TsParameters.h"

#include <vector>

namespace ts
{

enum class SecondRun { AddedMass, ClosedBox };

struct TsCurveInputs {
    // The DC resistance; 0 asks with the proposal (the fitted model's Re) as the measurement
    // does.
    float dcResistanceOhm = 0.0f;
    float diaphragmDiameterMm = 170.0f;
    SecondRun second = SecondRun::AddedMass;
    float addedMassG = 0.0f;
    float boxVolumeL = 0.0f;
};

// The points of an impedance table: frequencies, ohm values and, where the file has them,
// phases in degrees (an empty `phaseDeg` is a file without phase).
std::vector<ImpedancePoint> impedancePoints(const std::vector<double>& frequencyHz,
                                            const std::vector<double>& ohm,
                                            const std::vector<double>& phaseDeg);

// Shows the notices 23/24 and the evaluation's messages as the measurement does; refuses,
// with its own message naming what is missing, a curve without the points the fit needs
// around its resonance, a DC resistance out of range (message 112) and a second resonance
// that moves the wrong way for the kind of second run (swapped files). Returns 1 with the
// result text in tsResultText, 0 otherwise (tsResultText then unchanged).
int tsFromImpedanceCurves(const std::vector<ImpedancePoint>& freeAir,
                          const std::vector<ImpedancePoint>& loaded, const TsCurveInputs& in,
                          TsParameters* out = nullptr);

// The rate code whose conventions the files' results take (the inductance at 1 kHz).
inline constexpr int kTsFileRateCode = 1;

} // namespace ts
