#include "box/Runs.h"

#include "box/Acquisition.h"
#include "core/Display.h"
#include "core/Renderer.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Impedance.h"
#include "dsp/Response.h"

#include <algorithm>
#include <vector>

namespace box
{

namespace
{

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

void showTimeSignal(core::Renderer& views)
{
    views.render(core::RenderCode::Time);
    core::ui().showView(1);
    invalidateDiagrams();
}

// How strongly the device's stimulus for the settings' method excited each bin of the grid
// of `fftLength` at the settings' rate, against the box's own; empty when in full (the box
// itself, whose pulse and noise come from the user's generator).
std::vector<float> stimulusGains(const core::MeasurementSettings& s, int fftLength)
{
    const int n = (fftLength == 512 || fftLength == 1024 || fftLength == 2048) ? fftLength : 4096;
    const int rateCode = s.sampleRate;
    const double df = double(core::sampleRateHz(rateCode)) / n;
    const AcquireSettings a = acquireSettings(s);
    CaptureRequest request;
    request.rateCode = rateCode;
    request.excitation = excitationForMethod(a.method);
    request.noisePeriod = noisePeriodFor(a.fftLength);
    request.sweepStartHz = a.sweepStartHz;
    request.sweepEndHz = a.sweepEndHz;
    request.sweepSeconds = a.sweepSeconds;
    AcquisitionDevice& device = acquisitionDevice();
    std::vector<float> gains(core::kCurveBins + 1);
    bool partial = false;
    for (std::size_t i = 0; i < gains.size(); ++i) {
        gains[i] = static_cast<float>(device.stimulusGain(request, double(i) * df));
        partial = partial || gains[i] < 1.0f;
    }
    if (!partial)
        gains.clear();
    return gains;
}

// One impedance run into run buffer `run`; false (and the buffers as they were) when a
// capture failed.
bool impedanceRun(const core::MeasurementSettings& s, int run, bool snapshot, core::Renderer& views)
{
    if (!measureAveraged(impedanceAcquisition(s, s.fftLength), s.averages, views))
        return false;
    if (snapshot)
        core::takeSnapshot(kWholeRecord);
    core::MeasurementStore& st = core::store();
    dsp::computeResponse(impedanceResponse(s, s.fftLength, core::Smoothing::Twelfth), st,
                         st.impedanceRunAmplitude[run], st.impedanceRunPhase[run]);
    if (run == 0)
        dsp::computeResponse(impedanceResponse(s, s.fftLength, core::Smoothing::None), st,
                             st.amplifierRunRawAmplitude, st.amplifierRunRawPhase);
    if (run == 1)
        dsp::computeImpedance(st, s.referenceResistorOhm, s.fftLength, s.sampleRate);
    return true;
}

// A measurement that failed part-way: the time view shows the record as it was again.
void restoreTimeRecord(const core::TimeRecord& before, core::Renderer& views)
{
    core::store().timeRecord = before;
    showTimeSignal(views);
}

} // namespace

AcquisitionRequest impedanceAcquisition(const core::MeasurementSettings& s, int fftLength)
{
    AcquisitionRequest r = acquisitionRequest(s);
    r.sampleCount = fftLength;
    r.device.fftLength = fftLength;
    r.input = core::Input::Line1;
    // A sweep knows nothing below its start, and the impedance's path passes DC: its lower
    // band edge then leaves a slow response that the record's ends cut, and the resonance
    // reads a few percent off. From 10 Hz or lower the band edge lies far enough below any
    // driver's resonance for the result to be the MLS's.
    r.device.sweepStartHz = std::min(r.device.sweepStartHz, kImpedanceSweepMaxStartHz);
    return r;
}

dsp::ResponseRequest impedanceResponse(const core::MeasurementSettings& s, int fftLength,
                                       core::Smoothing smoothing)
{
    dsp::ResponseRequest r = dsp::responseRequest(s, core::ResponseMode::Measurement);
    r.fftLength = fftLength;
    r.recordFftLength = fftLength;
    r.smoothing = smoothing;
    r.phaseMode = core::PhaseMode::Real;
    r.input = core::Input::Line1;
    r.impedanceRun = true;
    r.markers = kWholeRecord;
    return r;
}

int amplitudeAxisIndex()
{
    return core::displaySettings().axisSets[1].x;
}

void finishResponseRun(core::Renderer& views)
{
    core::MeasurementStore& st = core::store();
    st.slotOccupied[0] = 1;
    const int axis = amplitudeAxisIndex();
    if (axis != st.overlayAxisIndex) {
        for (int k = 1; k < 5; ++k)
            st.slotOccupied[k] = 0;
        st.overlayAxisIndex = axis;
    }
    views.render(core::RenderCode::Overlay);
    views.render(core::RenderCode::Sum);
    // The window shows the curve the run has just made, whatever it showed before (a single
    // capture never passes through the time view).
    core::ui().showView(2);
    invalidateDiagrams();
}

bool newAmplifierRunWanted(bool storedRunFits, const core::CurveBuffer& storedRun)
{
    if (storedRunFits)
        return core::messageText(core::str(20), " ", core::Icon::Question,
                                 core::Buttons::YesNo) == core::Answer::Yes;
    // Answering No could only be refused: the run is measured, and a stored one that does
    // not fit is named first, so the user knows why the wiring prompt follows.
    if (core::isValidTrailer(storedRun.trailerN(), storedRun.trailerRate()))
        core::messageText(core::str(140), " ", core::Icon::Information);
    return true;
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
            st.overlayTags[i] = {core::overlayColorSlot(i - 1), st.overlayTags[i - 1].name};
        }
    }
    // The new curve takes a colour none of the curves still shown has, so every curve keeps
    // its colour while it stays; its name is given by whoever fills the slot.
    std::array<bool, 5> used{};
    for (int i = 1; i <= 4; ++i)
        if (st.slotOccupied[i] == 1)
            used[static_cast<std::size_t>(core::overlayColorSlot(i))] = true;
    int unused = 0;
    while (unused < 4 && used[static_cast<std::size_t>(unused)])
        ++unused;
    st.overlayTags[0] = {unused, {}};
}

void takeResponseCurve(const core::CurveBuffer& amplitude, const core::CurveBuffer& phase,
                       core::Renderer& views, const std::string& name)
{
    core::MeasurementStore& st = core::store();
    rotateOverlaySlots();
    st.amplitudeSlots[0] = amplitude;
    st.phaseSlots[0] = phase;
    st.overlayTags[0].name = name;
    views.render(core::RenderCode::Amplitude);
    views.render(core::RenderCode::AmplitudeImpedance);
    finishResponseRun(views);
}

bool measureAveraged(const AcquisitionRequest& request, int averages, core::Renderer& views,
                     core::DistortionRecord* distortion)
{
    core::MeasurementStore& st = core::store();
    // A failed capture leaves its record as it was; the mean of the earlier ones is no
    // measurement either.
    const core::TimeRecord before = st.timeRecord;
    if (!acquireRecord(request, st.timeRecord, distortion))
        return false;
    if (!views.averageTaken(1, averages)) {
        restoreTimeRecord(before, views);
        return false;
    }
    for (int i = 1; i < averages; ++i) {
        acquisitionDevice().pauseMs(100);
        if (!acquireRecord(request, g_averagingRecord, distortion)) {
            restoreTimeRecord(before, views);
            return false;
        }
        pairwiseMean(st.timeRecord, g_averagingRecord);
        showTimeSignal(views);
        if (!views.averageTaken(i + 1, averages)) {
            restoreTimeRecord(before, views);
            return false;
        }
    }
    return true;
}

void runReferenceMeasurement(core::Renderer& views)
{
    const core::MeasurementSettings& s = core::settings();
    core::MeasurementStore& st = core::store();
    const core::TimeRecord before = st.timeRecord;
    // The reference is taken over the whole record, unwindowed, at 4096 points.
    AcquisitionRequest capture = acquisitionRequest(s);
    capture.sampleCount = 4096;
    capture.input = core::inputFromCode(s.referenceInput);
    capture.window = core::Window::Rectangle;
    // The reference takes one acquisition fewer than `averages` (at least one), and no pause.
    const int captures = s.averages > 2 ? s.averages - 1 : 1;
    core::DistortionRecord distortion;
    if (!acquireRecord(capture, st.timeRecord, &distortion) || !views.averageTaken(1, captures))
        return restoreTimeRecord(before, views);
    for (int i = 1; i < captures; ++i) {
        if (!acquireRecord(capture, g_averagingRecord, &distortion))
            return restoreTimeRecord(before, views);
        pairwiseMean(st.timeRecord, g_averagingRecord);
        showTimeSignal(views);
        if (!views.averageTaken(i + 1, captures))
            return restoreTimeRecord(before, views);
    }
    rotateOverlaySlots();
    const std::vector<float> gains = stimulusGains(s, 4096);
    dsp::ResponseRequest response = dsp::responseRequest(s, core::ResponseMode::Reference);
    response.fftLength = 4096;
    response.smoothing = core::Smoothing::Twelfth;
    response.phaseMode = core::PhaseMode::Real;
    response.markers = kWholeRecord;
    response.stimulusGain = gains;
    dsp::computeResponse(response, st, st.amplitudeSlots[0], st.phaseSlots[0]);
    // Thin the 4096-point curves to the grid of the FFT-length setting; ascending order reads
    // every source bin before it is overwritten.
    const int n =
        (s.fftLength == 512 || s.fftLength == 1024 || s.fftLength == 2048) ? s.fftLength : 4096;
    for (int i = 0; i < n / 2; ++i) {
        st.amplitudeSlots[0][i] = st.amplitudeSlots[0][i * 4096 / n];
        st.phaseSlots[0][i] = st.phaseSlots[0][i * 4096 / n];
    }
    core::takeSnapshot(kWholeRecord);
    st.distortion = std::move(distortion);
    views.render(core::RenderCode::Time);
    views.render(core::RenderCode::Amplitude);
    // After every run, so that a run without a sweep clears the earlier picture too.
    views.render(core::RenderCode::Distortion);
    finishResponseRun(views);
}

void runAmplitudePhaseMeasurement(core::Renderer& views)
{
    const core::MeasurementSettings& s = core::settings();
    core::MeasurementStore& st = core::store();
    core::DistortionRecord distortion;
    if (!measureAveraged(acquisitionRequest(s), s.averages, views, &distortion))
        return;
    rotateOverlaySlots();
    // The distortion belongs to the newest response curve: a run without a sweep leaves none.
    st.distortion = std::move(distortion);
    const std::vector<float> gains = stimulusGains(s, s.fftLength);
    dsp::ResponseRequest response = dsp::responseRequest(s, core::ResponseMode::Measurement);
    response.stimulusGain = gains;
    dsp::computeResponse(response, st, st.amplitudeSlots[0], st.phaseSlots[0]);
    core::takeSnapshot();
    views.render(core::RenderCode::Time);
    views.render(core::RenderCode::Amplitude);
    views.render(core::RenderCode::AmplitudeImpedance);
    views.render(core::RenderCode::Distortion);
    finishResponseRun(views);
}

void runImpedanceMeasurement(core::Renderer& views)
{
    const core::MeasurementSettings& s = core::settings();
    core::MeasurementStore& st = core::store();
    const core::TimeRecord savedRecord = st.timeRecord;
    bool captured = false;
    bool failed = false;

    auto ask = [](int id, core::Buttons b) {
        return core::messageText(core::str(id), " ", core::Icon::Question, b);
    };
    auto amplifierRunFits = [&] {
        return dsp::runMatches(st.impedanceRunAmplitude[0], s.fftLength, s.sampleRate);
    };
    if (ask(32, core::Buttons::YesNo) == core::Answer::Yes) {
        const bool newAmplifierRun =
            newAmplifierRunWanted(amplifierRunFits(), st.impedanceRunAmplitude[0]);
        if (newAmplifierRun && ask(21, core::Buttons::OkCancel) == core::Answer::Ok) {
            acquisitionDevice().wiringConfirmed(21);
            failed = !impedanceRun(s, 0, true, views);
            captured = true;
        }
        // Asked whatever the answer above: without a new amplifier-output run the earlier
        // one is reused, as long as it fits this measurement. A failed amplifier-output run
        // ends the measurement.
        if (!failed && amplifierRunFits() && ask(22, core::Buttons::OkCancel) == core::Answer::Ok) {
            acquisitionDevice().wiringConfirmed(22);
            impedanceRun(s, 1, false, views);
            captured = true;
        }
    }

    st.timeRecord = savedRecord;
    // The averaged captures drew the run's record into the time view; it shows the record
    // it holds again.
    if (captured)
        views.render(core::RenderCode::Time);
    views.render(core::RenderCode::AmplitudeImpedance);
    views.render(core::RenderCode::Impedance);
    core::ui().showView(4);
    invalidateDiagrams();
}

} // namespace box
