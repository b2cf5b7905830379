#include "dsp/ts/TsProcedure.h"

#include "box/Acquisition.h"
#include "box/Render.h"
#include "box/Runs.h"
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

namespace ts
{

namespace
{

// Refusals of the DC-resistance prompt after which the procedure goes on with the proposal;
// an interactive dialog checks the value itself, so only a script that keeps giving an
// unacceptable value ever gets here.
constexpr int kMaxDcRefusals = 20;

// Saves the settings the procedure overrides and the time record, forces the T/S values, and
// puts everything back however the procedure ends.
class ForcedSettings
{
public:
    ForcedSettings()
    {
        auto& s = core::settings();
        markers_ = s.markerPos;
        record_ = core::store().timeRecord;
        fftLength_ = s.fftLength;
        measuringInput_ = s.measuringInput;
        phaseMode_ = s.phaseMode;
        s.markerPos = {0, 10000};
        force();
        dsp::impedanceRunActive = 1;
    }
    ~ForcedSettings()
    {
        // The added mass or the box comes off the bench with the end of the procedure.
        box::acquisitionDevice().procedureEnded();
        auto& s = core::settings();
        s.markerPos = markers_;
        s.fftLength = fftLength_;
        s.measuringInput = measuringInput_;
        s.phaseMode = phaseMode_;
        dsp::impedanceRunActive = 0;
        // As after an impedance run, the time view keeps the record it showed before; the
        // averaged captures of the procedure may have drawn theirs into it meanwhile.
        core::store().timeRecord = record_;
        box::renderView(box::kRenderTime);
    }
    ForcedSettings(const ForcedSettings&) = delete;
    ForcedSettings& operator=(const ForcedSettings&) = delete;

    static void force()
    {
        auto& s = core::settings();
        s.fftLength = kTsFftLength;
        s.phaseMode = 1;
        s.measuringInput = 1; // Line1
    }

private:
    std::array<int, 2> markers_{};
    core::TimeRecord record_;
    int fftLength_ = 0;
    int measuringInput_ = 0;
    int phaseMode_ = 0;
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

// One run into the given run buffers: the amplifier output (0) or the speaker side (1).
void measureRun(int run)
{
    box::measureAveraged();
    auto& st = core::store();
    dsp::computeResponse(2, kTsFftLength, 4, 1, st.impedanceRunAmplitude[run],
                         st.impedanceRunPhase[run]);
}

void showImpedanceView()
{
    box::renderView(box::kRenderImpedance);
    core::ui().showView(box::kRenderImpedance);
    core::ui().requestRepaint(core::RepaintTarget::MainWindow);
    core::ui().requestRepaint(core::RepaintTarget::ZoomWindow);
}

// Speaker-side run, impedance, resonance analysis; the impedance view is shown after the
// analysis whatever its outcome. Returns true when the analysis succeeded.
bool measureAndAnalyze(ResonanceResult& result, bool firstRun)
{
    measureRun(1);
    dsp::computeImpedance();
    if (analyzeResonance(result) != 0) {
        showImpedanceView();
        return false;
    }
    showResonanceNotice(result, firstRun);
    showImpedanceView();
    return true;
}

} // namespace

void showResonanceNotice(const ResonanceResult& result, bool firstRun)
{
    const double ohm = result.resonanceOhm;
    const double hz = result.resonanceHz;
    const std::string notice =
        firstRun ? core::formatC("%s  Z=%3.1f Ohm  fs:%5.1f Hz", core::str(23), ohm, hz)
                 : core::formatC("%s Z=%3.1f Ohm  fs:%5.1f Hz", core::str(24), ohm, hz);
    core::messageText(notice, " ", core::Icon::Information);
}

bool dcResistanceInRange(float ohm)
{
    return ohm >= 0.5f && ohm < 100.0f;
}

bool acceptDcResistance(float ohm)
{
    if (dcResistanceInRange(ohm))
        return true;
    core::message(112, 71, core::Icon::Information);
    return false;
}

float dcResistanceProposal(float minOhmAbove)
{
    const std::string text = core::formatC("%3.1f", static_cast<double>(0.95f * minOhmAbove));
    return static_cast<float>(core::parseLeadingNumber(text.c_str()));
}

float confirmDcResistance(float proposalOhm)
{
    // Cancelling the prompt keeps the proposal.
    for (int refusals = 0; refusals < kMaxDcRefusals; ++refusals) {
        float entered = proposalOhm;
        if (!core::ui().askDcResistance(proposalOhm, entered))
            break;
        if (acceptDcResistance(entered))
            return entered;
    }
    return proposalOhm;
}

int measureTsParameters()
{
    ForcedSettings forced;

    if (ask(19, core::Buttons::YesNo) != core::Answer::Yes)
        return 0;

    bool newAmplifierRun = ask(20, core::Buttons::YesNo) == core::Answer::Yes;
    if (!newAmplifierRun && !dsp::runMatches(core::store().impedanceRunAmplitude[0], kTsFftLength,
                                             core::settings().sampleRate)) {
        // The stored run was taken with another FFT length or rate: it can't be reused.
        core::messageText(core::str(140), " ", core::Icon::Information);
        newAmplifierRun = true;
    }
    if (newAmplifierRun) {
        if (!confirmWiring(21))
            return 0;
        box::measureAveraged();
        core::takeSnapshot();
        auto& st = core::store();
        dsp::computeResponse(2, kTsFftLength, 4, 1, st.impedanceRunAmplitude[0],
                             st.impedanceRunPhase[0]);
    }

    // Run A: the driver in free air.
    if (!confirmWiring(22))
        return 0;
    ResonanceResult runA;
    if (!measureAndAnalyze(runA, true))
        return 0;
    const float proposal = dcResistanceProposal(runA.minOhmAbove);
    const float x = reactanceSample();

    // Run B: with the added mass or in the box.
    if (!confirmWiring(103))
        return 0;
    ForcedSettings::force();
    ResonanceResult runB;
    if (!measureAndAnalyze(runB, false))
        return 0;

    return computeTsParameters(runA, runB, confirmDcResistance(proposal), x);
}

} // namespace ts
