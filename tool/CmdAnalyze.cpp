#include "tool/ToolSupport.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Response.h"
#include "dsp/Waterfall.h"
#include "files/MeasurementFile.h"

#include <string>

namespace {

// Slot rotation of a response run: each occupied slot moves one place back.
void rotateOverlays()
{
    core::MeasurementStore& st = core::store();
    for (int i = 4; i >= 1; --i) {
        if (st.slotOccupied[i - 1] == 1) {
            st.amplitudeSlots[i] = st.amplitudeSlots[i - 1];
            st.phaseSlots[i] = st.phaseSlots[i - 1];
            st.slotOccupied[i] = 1;
        }
    }
}

// Overlays of another sample rate or FFT length cannot be drawn with the new curve; the
// window drops them by its frequency-axis scale, which follows exactly these two values.
void dropForeignOverlays()
{
    core::MeasurementStore& st = core::store();
    const core::CurveBuffer& current = st.amplitudeSlots[0];
    for (int i = 1; i < 5; ++i) {
        const core::CurveBuffer& c = st.amplitudeSlots[i];
        if (c.trailerN() != current.trailerN() || c.trailerRate() != current.trailerRate())
            st.slotOccupied[i] = 0;
    }
}

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
        rotateOverlays();
        dsp::computeResponse(2, s.fftLength, s.smoothing, s.phaseMode, st.amplitudeSlots[0],
                             st.phaseSlots[0]);
        core::takeSnapshot();
        st.slotOccupied[0] = 1;
        dropForeignOverlays();
    }
    return files::writeMeasurementFile(ctx.args[2]) == files::WriteStatus::Written
               ? tool::kExitOk
               : tool::kExitFailed;
}

const bool registered = tool::registerCommand(
    {"analyze",
     "  analyze response|csd IN.mes OUT.mes  recompute the response (measurement mode) or the\n"
     "                                       waterfall of IN's time record with --config and\n"
     "                                       --set applied, and save the result to OUT",
     runAnalyze});

} // namespace
