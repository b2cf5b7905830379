// orvo-tool measure ts: the guided Thiele-Small procedure on the simulated box (or a real
// port), its result text printed and saved with the measurement file.
#include "tool/MeasureRuns.h"

#include "box/sim/SimulatedBox.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "box/TsProcedure.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{

bool hasSetting(const tool::ToolContext& ctx, const std::string& field)
{
    for (const std::string& s : ctx.sets)
        if (s.rfind(field + "=", 0) == 0)
            return true;
    return false;
}

int runTs(tool::MeasureContext& mc)
{
    tool::ToolContext& ctx = mc.ctx;
    auto* scripted = dynamic_cast<core::ScriptedUi*>(&core::ui());

    // --dc-ohm answers the DC-resistance prompt; without it the prompt keeps its proposal.
    if (auto it = ctx.options.find("dc-ohm"); it != ctx.options.end()) {
        char* end = nullptr;
        const double v = std::strtod(it->second.c_str(), &end);
        if (it->second.empty() || *end != '\0' || !std::isfinite(v) || v <= 0.0)
            return tool::usageError("--dc-ohm nimmt einen Widerstand in Ohm");
        if (scripted)
            scripted->queueDcResistance(static_cast<float>(v));
    }

    // A simulated closed box is one the program is told about too, unless the command line
    // sets the volume itself.
    if (mc.sim && mc.sim->bench().closedBoxL > 0.0 && !hasSetting(ctx, "boxVolumeL"))
        core::settings().boxVolumeL = static_cast<float>(mc.sim->bench().closedBoxL);

    if (ts::measureTsParameters(mc.views) != 1)
        return tool::kExitFailed;
    // The stored text keeps its CR LF line ends; the terminal gets plain ones.
    const auto& stored = core::store().tsResultText;
    std::string text = core::cp1252ToUtf8(stored.data(), stored.size());
    std::erase(text, '\r');
    std::fputs(text.c_str(), stdout);
    return tool::kExitOk;
}

const bool registered = tool::registerMeasureRun(
    {"ts", "Thiele-Small parameters: free air, then added mass or --sim-box-l; --dc-ohm V", runTs});

} // namespace
