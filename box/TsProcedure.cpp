#include "box/TsProcedure.h"

#include "box/Acquisition.h"
#include "box/Runs.h"
#include "core/Renderer.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Impedance.h"
#include "dsp/Response.h"
#include "dsp/ts/Resonance.h"
#include "dsp/ts/TsParameters.h"

#include <array>
#include <string>
#include <vector>

namespace ts
{

namespace
{

// However the procedure ends, the added mass or the box comes off the bench, and the time
// view shows the record it showed before (the procedure's averaged captures draw theirs into
// it meanwhile), as after an impedance run.
class ProcedureEnd
{
public:
    explicit ProcedureEnd(core::Renderer& views) : views_(views), record_(core::store().timeRecord)
    {
    }
    ~ProcedureEnd()
    {
        box::acquisitionDevice().procedureEnded();
        core::store().timeRecord = record_;
        views_.render(core::RenderCode::Time);
    }
    ProcedureEnd(const ProcedureEnd&) = delete;
    ProcedureEnd& operator=(const ProcedureEnd&) = delete;

private:
    core::Renderer& views_;
    core::TimeRecord record_;
};

core::Answer ask(int id, core::Buttons buttons)
{
    return core::messageText(core::str(id), " ", core::Icon::Question, buttons);
}

// Asks a wiring prompt; on OK the bench (real or simulated) is told what was connected.
bool confirmWiring(int id)
{
    if (ask(id, core::Buttons::OkCancel) != core::Answer::Ok)
        return false;
    box::acquisitionDevice().wiringConfirmed(id);
    return true;
}

// One run into the store's run buffers: the amplifier output (0) or the speaker side (1),
// smoothed as the views show it; the same run unsmoothed into `rawAmplitude`/`rawPhase`
// (for the amplifier output, the store's unsmoothed copy). False, and nothing stored, when a
// capture failed (the user has had its message).
bool measureRun(const core::MeasurementSettings& s, core::Renderer& views, int run,
                core::CurveBuffer& rawAmplitude, core::CurveBuffer& rawPhase)
{
    if (!box::measureAveraged(box::impedanceAcquisition(s, kTsFftLength), s.averages, views))
        return false;
    auto& st = core::store();
    dsp::computeResponse(box::impedanceResponse(s, kTsFftLength, core::Smoothing::Twelfth), st,
                         st.impedanceRunAmplitude[run], st.impedanceRunPhase[run]);
    dsp::computeResponse(box::impedanceResponse(s, kTsFftLength, core::Smoothing::None), st,
                         rawAmplitude, rawPhase);
    return true;
}

void showImpedanceView(core::Renderer& views)
{
    views.render(core::RenderCode::Impedance);
    core::ui().showView(static_cast<int>(core::RenderCode::Impedance));
    core::ui().requestRepaint(core::RepaintTarget::MainWindow);
    core::ui().requestRepaint(core::RepaintTarget::ZoomWindow);
}

// Speaker-side run, impedance (smoothed into the store for the view, unsmoothed into
// `points` for the analysis), resonance analysis; the impedance view is shown after the
// analysis whatever its outcome. Returns true when the analysis succeeded; false also when a
// capture failed, which ends the procedure before any analysis (the view shows the impedance
// it held).
bool measureAndAnalyze(const core::MeasurementSettings& s, core::Renderer& views,
                       std::vector<ImpedancePoint>& points, ResonanceResult& result, bool firstRun)
{
    const double resistorOhm = s.referenceResistorOhm;
    const int rateCode = s.sampleRate;
    core::CurveBuffer speakerAmplitude;
    core::CurveBuffer speakerPhase;
    if (!measureRun(s, views, 1, speakerAmplitude, speakerPhase)) {
        showImpedanceView(views);
        return false;
    }
    dsp::computeImpedance(core::store(), resistorOhm, kTsFftLength, rateCode);
    dsp::labelTsRunCurve(firstRun);
    core::CurveBuffer magnitude;
    core::CurveBuffer phase;
    const auto& st = core::store();
    dsp::computeImpedance(
        {st.amplifierRunRawAmplitude, st.amplifierRunRawPhase, speakerAmplitude, speakerPhase},
        resistorOhm, kTsFftLength, rateCode, magnitude, phase);
    points = measuredPoints(magnitude, phase);
    if (analyzeResonance(points, measuredFitRequest(rateCode), result) != 0) {
        showImpedanceView(views);
        return false;
    }
    showResonanceNotice(result, firstRun);
    showImpedanceView(views);
    return true;
}

} // namespace

int measureTsParameters(core::Renderer& views)
{
    ProcedureEnd end(views);
    const core::MeasurementSettings& s = core::settings();
    const TsEvaluationInputs inputs = evaluationInputsFromSettings();
    const int rate = inputs.rateCode;

    if (ask(19, core::Buttons::YesNo) != core::Answer::Yes)
        return 0;

    const auto& st = core::store();
    const bool newAmplifierRun = box::newAmplifierRunWanted(
        dsp::runMatches(st.impedanceRunAmplitude[0], kTsFftLength, rate) &&
            dsp::runMatches(st.amplifierRunRawAmplitude, kTsFftLength, rate),
        st.impedanceRunAmplitude[0]);
    if (newAmplifierRun) {
        if (!confirmWiring(21))
            return 0;
        auto& store = core::store();
        if (!measureRun(s, views, 0, store.amplifierRunRawAmplitude, store.amplifierRunRawPhase)) {
            showImpedanceView(views);
            return 0;
        }
        core::takeSnapshot(box::kWholeRecord);
    }

    // Run A: the driver in free air.
    if (!confirmWiring(22))
        return 0;
    std::vector<ImpedancePoint> pointsA;
    ResonanceResult runA;
    if (!measureAndAnalyze(s, views, pointsA, runA, true))
        return 0;
    const float proposal = dcResistanceProposal(runA);

    // Run B: with the added mass or in the box.
    if (!confirmWiring(103))
        return 0;
    std::vector<ImpedancePoint> pointsB;
    ResonanceResult runB;
    if (!measureAndAnalyze(s, views, pointsB, runB, false))
        return 0;

    const float reOhm = confirmDcResistance(proposal);
    return computeTsParameters(
        inputs, refitWithDcResistance(pointsA, measuredFitRequest(rate), runA, reOhm), runB, reOhm);
}

} // namespace ts
