// The distortion curves of a sweep as the store keeps them with the measurement.
#pragma once

#include "core/Store.h"
#include "dsp/Distortion.h"

namespace dsp
{

// The curves as floats, with the sweep they came from. Levels beyond the record's bounds
// (a silent capture reads some -300 dB) are held at the bounds; a capture that gave values
// that are not numbers at all (a NaN in the input) gives an empty record, as no curve of it
// means anything.
core::DistortionRecord distortionRecord(const SweepPlan& plan, const DistortionCurves& curves);

} // namespace dsp
