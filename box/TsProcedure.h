// The guided T/S measurement: two impedance measurements of a drive unit (free air, then
// with an added mass or in a closed box), the DC-resistance prompt and the evaluation.
#pragma once

#include "core/Renderer.h"
#include "dsp/ts/TsPrompts.h"

namespace ts
{

// The whole procedure with its prompts. It measures with the conditions it needs (Line1,
// 4096 points, real phase, no time window) whatever the settings say, and leaves them as they
// are. Returns 1 when the parameters were computed and shown, 0 otherwise (declined,
// cancelled, or a failure the user has already been told about).
int measureTsParameters(core::Renderer& views);

} // namespace ts
