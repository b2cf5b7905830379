#include "tool/ToolSupport.h"

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

namespace
{

int runAnalyze(tool::ToolContext& ctx)
{
    if (ctx.args.size() != 3 || (ctx.args[0] != "response" && ctx.args[0] != "csd"))
        return tool::usageError("analyze nimmt: response|csd IN.mes OUT.mes");
    if (!ctx.inPath.empty())
        return tool::usageError("analyze: die Messdatei als IN angeben, nicht mit --in");
    const bool csd = ctx.args[0] == "csd";

    if (const int bad = tool::checkSettingsAssignments(ctx); bad != tool::kExitOk)
        return bad;
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
        core::Renderer& views = plot::viewRenderer();
        box::rotateOverlaySlots();
        dsp::computeResponse(dsp::responseRequest(s, core::ResponseMode::Measurement), st,
                             st.amplitudeSlots[0], st.phaseSlots[0]);
        core::takeSnapshot();
        views.render(core::RenderCode::Time);
        views.render(core::RenderCode::Amplitude);
        views.render(core::RenderCode::AmplitudeImpedance);
        box::finishResponseRun(views);
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
