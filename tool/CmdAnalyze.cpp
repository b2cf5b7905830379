#include "tool/ToolSupport.h"

#include "box/Render.h"
#include "box/Runs.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Response.h"
#include "dsp/Waterfall.h"
#include "files/MeasurementFile.h"
#include "plot/Render.h"

#include <string>

namespace {

int runAnalyze(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 3 || (ctx.args[0] != "response" && ctx.args[0] != "csd"))
        return tool::usageError("analyze takes: response|csd IN.mes OUT.mes");
    if (!ctx.inPath.empty())
        return tool::usageError("analyze: give the measurement file as IN, not with --in");
    const bool csd = ctx.args[0] == "csd";

    if (!ctx.configPath.empty() && tool::loadConfigurationForTool(ctx.configPath) != tool::kExitOk)
        return tool::kExitFailed;
    if (tool::loadMeasurementForTool(ctx.args[1]) != tool::kExitOk)
        return tool::kExitFailed;

    // The record is analysed under the FFT length and rate it was taken with, unless --set
    // says otherwise.
    core::MeasurementSettings& s = core::settings();
    core::MeasurementStore& st = core::store();
    s.fftLength = core::safeTrailerN(st.timeRecord.trailerN());
    s.sampleRate = core::safeTrailerRate(st.timeRecord.trailerRate());
    for (const std::string& assignment : ctx.sets) {
        std::string error;
        if (!tool::setSettingsField(assignment, error))
            return tool::usageError(error);
    }

    if (csd) {
        if (s.sampleRate != 2) {
            core::messageText(core::str(84), " ", core::Icon::Information);
            return tool::kExitFailed;
        }
        dsp::computeWaterfall(core::safeTrailerN(st.timeRecord.trailerN()));
    } else {
        // As the amplitude/phase run finishes: the views are rendered, so the amplitude view's
        // frequency axis follows the new curve and decides which overlays stay.
        box::setRenderFunction(plot::renderView);
        box::rotateOverlaySlots();
        dsp::computeResponse(2, s.fftLength, s.smoothing, s.phaseMode, st.amplitudeSlots[0],
                             st.phaseSlots[0]);
        core::takeSnapshot();
        box::renderView(box::kRenderTime);
        box::renderView(box::kRenderAmplitude);
        box::renderView(box::kRenderAmplitudeImpedance);
        box::finishResponseRun();
        box::setRenderFunction(nullptr);
    }
    return tool::saveStatus(files::writeMeasurementFile(ctx.args[2]), ctx.args[2]);
}

const bool registered = tool::registerCommand(
    {"analyze",
     "  analyze response|csd IN.mes OUT.mes  recompute the response (measurement mode) or the\n"
     "                                       waterfall of IN's time record with --config and\n"
     "                                       --set applied, and save the result to OUT",
     runAnalyze});

} // namespace
