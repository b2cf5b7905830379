#include "dsp/ts/Resonance.h"

#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Ui.h"

#include <algorithm>
#include <cmath>

namespace ts
{

namespace
{

// Bins up to this one are no use to the analysis, per rate: the first bins of a measurement
// carry no usable impedance.
int lowerEdgeLimit(int rateCode)
{
    if (rateCode == 2)
        return 8;
    if (rateCode == 3)
        return 3;
    return 2;
}

// The highest bin a measurement's impedance is taken from: the anti-alias filters of the
// inputs keep the ratio of the two runs true to some 0.45 of the rate; 0.39 leaves room.
constexpr int kLastUsableBin = 1600;

void showAnalysisMessage(int id)
{
    core::messageText(core::str(id), " ", core::Icon::Information);
}

} // namespace

float tsBinHz(int rateCode)
{
    return static_cast<float>(core::sampleRateHz(rateCode)) / static_cast<float>(kTsFftLength);
}

InductanceSample inductanceSample(int rateCode)
{
    if (rateCode == 2)
        return {10000.0f, "L @ 10kHz"};
    if (rateCode == 3)
        return {500.0f, "L @ 500Hz"};
    return {1000.0f, "L @ 1kHz"};
}

std::vector<ImpedancePoint> measuredPoints(const core::CurveBuffer& magnitude,
                                           const core::CurveBuffer& phase)
{
    const int rate = core::safeTrailerRate(magnitude.trailerRate());
    const double binHz = tsBinHz(rate);
    std::vector<ImpedancePoint> points;
    points.reserve(kLastUsableBin);
    for (int b = lowerEdgeLimit(rate) + 1; b <= kLastUsableBin; ++b) {
        const float m = magnitude[b];
        const float p = phase[b];
        if (m == core::NO_VALUE || !std::isfinite(m) || !(m > 0.0f))
            continue;
        const bool withPhase = p != core::NO_VALUE && std::isfinite(p);
        points.push_back({b * binHz, m, withPhase ? p : 0.0, withPhase});
    }
    return points;
}

FitRequest measuredFitRequest(int rateCode, std::optional<double> fixedReOhm)
{
    const double binHz = tsBinHz(rateCode);
    FitRequest r;
    r.lowestHz = (lowerEdgeLimit(rateCode) + 1) * binHz;
    r.searchHighHz = kLastSearchBin * binHz;
    r.coilHz = inductanceSample(rateCode).hz;
    r.fixedReOhm = fixedReOhm;
    return r;
}

FitRequest fileFitRequest(int rateCode, std::optional<double> fixedReOhm)
{
    FitRequest r = measuredFitRequest(rateCode, fixedReOhm);
    // A file's first points are as good as any other.
    r.lowestHz = 0.0;
    return r;
}

ResonanceResult resonanceResultOf(const ImpedanceFit& fit)
{
    ResonanceResult r;
    r.fit = fit;
    r.resonanceHz = static_cast<float>(fit.model.fsHz);
    r.resonanceOhm = static_cast<float>(fit.model.peakOhm());
    return r;
}

int analyzeResonance(const std::vector<ImpedancePoint>& points, const FitRequest& request,
                     ResonanceResult& result)
{
    const ImpedanceFit fit = fitImpedanceModel(points, request);
    switch (fit.failure) {
    case FitFailure::None:
        break;
    case FitFailure::NoResonance:
        showAnalysisMessage(85);
        return 1;
    case FitFailure::ResonanceAtLowEnd:
        showAnalysisMessage(86);
        return 1;
    case FitFailure::TooFewPoints:
        showAnalysisMessage(87);
        return 1;
    }
    result = resonanceResultOf(fit);
    return 0;
}

ResonanceResult refitWithDcResistance(const std::vector<ImpedancePoint>& points,
                                      const FitRequest& request, const ResonanceResult& freeFit,
                                      float reOhm)
{
    if (!(freeFit.resonanceOhm - reOhm >= 0.1f) || !(freeFit.resonanceOhm * 0.7f > reOhm))
        return freeFit;
    FitRequest fixed = request;
    fixed.fixedReOhm = reOhm;
    const ImpedanceFit fit = fitImpedanceModel(points, fixed);
    return fit.failure == FitFailure::None ? resonanceResultOf(fit) : freeFit;
}

} // namespace ts
