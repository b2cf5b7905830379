#include "dsp/DistortionRecord.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace dsp
{

namespace
{

// NaN stays NaN, so that the record's check refuses it; anything else is held within lo..hi.
std::vector<float> toFloats(const std::vector<double>& v, std::size_t count, float lo, float hi)
{
    std::vector<float> out;
    out.reserve(std::min(count, v.size()));
    for (std::size_t i = 0; i < v.size() && i < count; ++i)
        out.push_back(std::isnan(v[i]) ? static_cast<float>(v[i])
                                       : static_cast<float>(std::clamp<double>(v[i], lo, hi)));
    return out;
}

} // namespace

core::DistortionRecord distortionRecord(const SweepPlan& plan, const DistortionCurves& curves)
{
    core::DistortionRecord r;
    const std::size_t n = std::min<std::size_t>(
        {curves.hz.size(), curves.fundamentalDb.size(), curves.thdPercent.size(),
         static_cast<std::size_t>(core::kDistortionMaxPoints)});
    if (n == 0)
        return r;
    const float db = core::kDistortionDbLimit;
    r.hz = toFloats(curves.hz, n, 0.0f, 1.0e30f);
    r.fundamentalDb = toFloats(curves.fundamentalDb, n, -db, db);
    r.thdPercent = toFloats(curves.thdPercent, n, 0.0f, core::kDistortionThdLimitPercent);
    for (std::size_t k = 0; k < r.harmonicDb.size(); ++k) {
        r.harmonicDb[k] = toFloats(curves.harmonicDb[k], n, -db, db);
        // The noise is read point for point with its harmonic, or not at all.
        if (curves.noiseDb[k].size() >= r.harmonicDb[k].size())
            r.noiseDb[k] = toFloats(curves.noiseDb[k], r.harmonicDb[k].size(), -db, db);
    }
    r.noiseCoversBand = curves.noiseCoversBand;
    r.sweepStartHz = plan.startHz;
    r.sweepEndHz = plan.endHz;
    r.sweepSeconds = plan.lengthSeconds;
    r.sweepAmplitude = plan.amplitude;
    r.sweepRateHz = plan.rateHz;
    if (!core::isPlausibleDistortionRecord(r))
        return core::DistortionRecord{};
    return r;
}

} // namespace dsp
