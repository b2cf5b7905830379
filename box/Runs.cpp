#include "box/Runs.h"

#include "box/Acquisition.h"
#include "box/Render.h"
#include "core/Display.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Store.h"
#include "core/Ui.h"
#include "dsp/Impedance.h"
#include "dsp/Response.h"

namespace box {

namespace {

// The averaging record: a second record of the timeRecord layout.
core::TimeRecord g_averagingRecord;

void pairwiseMean(core::TimeRecord& into, const core::TimeRecord& next)
{
    for (int k = 0; k < core::kRecordSamples; ++k)
        into[k] = (into[k] + next[k]) / 2.0f;
}

void invalidateDiagrams()
{
    core::ui().requestRepaint(core::RepaintTarget::MainWindow);
    core::ui().requestRepaint(core::RepaintTarget::ZoomWindow);
}

void showTimeSignal()
{
    renderView(kRenderTime);
    core::ui().showView(1);
    invalidateDiagrams();
}

// One impedance run: Line1, real phase, into run buffer `run`.
void impedanceRun(int run, bool snapshot)
{
    core::MeasurementSettings& s = core::settings();
    const int savedPhase = s.phaseMode;
    const int savedInput = s.measuringInput;
    s.phaseMode = 1;
    s.measuringInput = 1;
    measureAveraged();
    if (snapshot)
        core::takeSnapshot();
    core::MeasurementStore& st = core::store();
    dsp::impedanceRunActive = 1;
    dsp::computeResponse(2, s.fftLength, 4, 1, st.impedanceRunAmplitude[run],
                         st.impedanceRunPhase[run]);
    dsp::impedanceRunActive = 0;
    if (run == 1)
        dsp::computeImpedance();
    s.measuringInput = savedInput;
    s.phaseMode = savedPhase;
}

} // namespace

int amplitudeAxisIndex() { return core::displaySettings().axisSets[1].x; }

void finishResponseRun()
{
    core::MeasurementStore& st = core::store();
    st.slotOccupied[0] = 1;
    const int axis = amplitudeAxisIndex();
    if (axis != st.overlayAxisIndex) {
        for (int k = 1; k < 5; ++k)
            st.slotOccupied[k] = 0;
        st.overlayAxisIndex = axis;
    }
    renderView(kRenderOverlay);
    renderView(kRenderSum);
    invalidateDiagrams();
}

void rotateOverlaySlots()
{
    core::MeasurementStore& st = core::store();
    for (int i = 4; i >= 1; --i) {
        // Only 1 marks a slot; any other value (from a damaged file) is an empty one, as the
        // views take it.
        if (st.slotOccupied[i - 1] == 1) {
            st.amplitudeSlots[i] = st.amplitudeSlots[i - 1];
            st.phaseSlots[i] = st.phaseSlots[i - 1];
            st.slotOccupied[i] = 1;
        }
    }
}

void takeResponseCurve(const core::CurveBuffer& amplitude, const core::CurveBuffer& phase)
{
    core::MeasurementStore& st = core::store();
    rotateOverlaySlots();
    st.amplitudeSlots[0] = amplitude;
    st.phaseSlots[0] = phase;
    renderView(kRenderAmplitude);
    renderView(kRenderAmplitudeImpedance);
    finishResponseRun();
}

void measureAveraged()
{
    const core::MeasurementSettings& s = core::settings();
    core::MeasurementStore& st = core::store();
    acquireRecord(s.fftLength, s.measuringInput, s.sampleRate, s.window, st.timeRecord, 0);
    for (int i = 1; i < s.averages; ++i) {
        acquisitionDevice().pauseMs(100);
        acquireRecord(s.fftLength, s.measuringInput, s.sampleRate, s.window, g_averagingRecord,
                      0);
        pairwiseMean(st.timeRecord, g_averagingRecord);
        showTimeSignal();
    }
}

void runReferenceMeasurement()
{
    core::MeasurementSettings& s = core::settings();
    core::MeasurementStore& st = core::store();
    rotateOverlaySlots();
    const auto savedMarkers = s.markerPos;
    s.markerPos = {0, 10000};
    acquireRecord(4096, s.referenceInput, s.sampleRate, 1, st.timeRecord, 0);
    // The reference takes one acquisition fewer than `averages` (at least one), and no pause.
    for (int i = 1; i < s.averages - 1; ++i) {
        acquireRecord(4096, s.referenceInput, s.sampleRate, 1, g_averagingRecord, 0);
        pairwiseMean(st.timeRecord, g_averagingRecord);
        showTimeSignal();
    }
    dsp::computeResponse(1, 4096, 4, 1, st.amplitudeSlots[0], st.phaseSlots[0]);
    // Thin the 4096-point curves to the grid of the FFT-length setting; ascending order reads
    // every source bin before it is overwritten.
    const int n = (s.fftLength == 512 || s.fftLength == 1024 || s.fftLength == 2048) ? s.fftLength
                                                                                     : 4096;
    for (int i = 0; i < n / 2; ++i) {
        st.amplitudeSlots[0][i] = st.amplitudeSlots[0][i * 4096 / n];
        st.phaseSlots[0][i] = st.phaseSlots[0][i * 4096 / n];
    }
    core::takeSnapshot();
    s.markerPos = savedMarkers;
    renderView(kRenderTime);
    renderView(kRenderAmplitude);
    finishResponseRun();
}

void runAmplitudePhaseMeasurement()
{
    const core::MeasurementSettings& s = core::settings();
    core::MeasurementStore& st = core::store();
    rotateOverlaySlots();
    measureAveraged();
    dsp::computeResponse(2, s.fftLength, s.smoothing, s.phaseMode, st.amplitudeSlots[0],
                         st.phaseSlots[0]);
    core::takeSnapshot();
    renderView(kRenderTime);
    renderView(kRenderAmplitude);
    renderView(kRenderAmplitudeImpedance);
    finishResponseRun();
}

void runImpedanceMeasurement()
{
    core::MeasurementSettings& s = core::settings();
    core::MeasurementStore& st = core::store();
    const auto savedMarkers = s.markerPos;
    s.markerPos = {0, 10000};
    const core::TimeRecord savedRecord = st.timeRecord;
    bool captured = false;

    auto ask = [](int id, core::Buttons b) {
        return core::messageText(core::str(id), " ", core::Icon::Question, b);
    };
    auto amplifierRunFits = [&] {
        return dsp::runMatches(st.impedanceRunAmplitude[0], s.fftLength, s.sampleRate);
    };
    if (ask(32, core::Buttons::YesNo) == core::Answer::Yes) {
        bool newAmplifierRun = ask(20, core::Buttons::YesNo) == core::Answer::Yes;
        if (!newAmplifierRun && !amplifierRunFits()) {
            // The earlier run was taken with another FFT length or rate: it can't be reused.
            core::messageText(core::str(140), " ", core::Icon::Information);
            newAmplifierRun = true;
        }
        if (newAmplifierRun && ask(21, core::Buttons::OkCancel) == core::Answer::Ok) {
            acquisitionDevice().wiringConfirmed(21);
            impedanceRun(0, true);
            captured = true;
        }
        // Asked whatever the answer above: without a new amplifier-output run the earlier
        // one is reused, as long as it fits this measurement.
        if (amplifierRunFits() && ask(22, core::Buttons::OkCancel) == core::Answer::Ok) {
            acquisitionDevice().wiringConfirmed(22);
            impedanceRun(1, false);
            captured = true;
        }
    }

    s.markerPos = savedMarkers;
    st.timeRecord = savedRecord;
    // The averaged captures drew the run's record into the time view; it shows the record
    // it holds again.
    if (captured)
        renderView(kRenderTime);
    renderView(kRenderAmplitudeImpedance);
    renderView(kRenderImpedance);
    core::ui().showView(4);
    invalidateDiagrams();
}

} // namespace box
