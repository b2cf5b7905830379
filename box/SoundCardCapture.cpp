// One capture: the stimulus sounds, the delay is found and held, and one period of the
// measured channel is converted to the program's rate and aligned on the stimulus.
#include "box/SoundCard.h"
#include "box/SoundCardImpl.h"

#include "core/Settings.h"
#include "core/Ui.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace box
{

using namespace soundcard_detail;

namespace
{

// Peak of the box's MLS in volts: a unity chain then reads 0 dB with the MLS method (the
// deconvolution peak 4095/3300 times the response computation's MLS scale 393/512). The
// sound card's captures are scaled as if this level had been played, so that a unity loop
// reads 0 dB whatever the output level.
constexpr double kBoxMlsPeakVolts = 1.0 / (4095.0 / 3300.0 * 393.0 / 512.0);
// The box-side levels of the other stimuli that make a unity chain read 0 dB: the pulse
// the response computation's Impuls scale (72 / 512) expects, and the line peak its analyser
// scale (1.41, peak to rms) expects.
constexpr double kBoxPulseVolts = 512.0 / 72.0;
constexpr double kBoxNoiseLineVolts = 2.0 / 1.41;
// Volts at digital full scale of the output, taken as the line inputs' range: a cable from
// the output to a line input is a unity loop.
constexpr double kOutputFullScaleVolts = 1.6;
// Converter counts per volt of the box's inputs (1280 on the line inputs, 12800 on Mic.).
double countsPerVolt(int input)
{
    return input == 2 ? 12800.0 : 1280.0;
}

// Settling after the MLS arrives before the first capture: at least one period, and the
// audio server's buffers adjust themselves during the first tenth of a second or so.
constexpr double kSettleSeconds = 0.15;

// A capture this long after the last one belongs to another measurement: those of one
// measurement (averages, the two of an impedance step) follow each other at once.
constexpr std::chrono::milliseconds kNextMeasurement{500};

// Fresh starts of the MLS in one capture when the timing channel lost it.
constexpr int kFreshStarts = 2;

} // namespace

// Records why an attempt failed; a failed capture closes the stream, and says whether the
// stream died young.
CaptureAttempt SoundCardDevice::Impl::fail(CaptureOutcome outcome, const std::string& why)
{
    // A stream that ended in mid-capture (the server gone, the device removed) is the
    // reason, whichever step noticed it: the delay search then only finds no signal. One
    // that paused itself has gone past the frame it was kept for.
    const bool ended =
        stream && !streamRunning() && shared->written.load() <= shared->keepUntil.load();
    lastError = ended ? kStreamEnded : why;
    CaptureAttempt attempt{outcome};
    if (outcome == CaptureOutcome::Failed) {
        attempt.youngStream = shared && shared->written.load() < frames(1.0);
        closeStream();
    }
    return attempt;
}

// A stream that dies in its first second (PortAudio gives up on an audio server that
// is slow to start) is tried once more before the capture counts as failed.
CaptureOutcome SoundCardDevice::Impl::captureWithRetry(const CaptureRequest& request,
                                                       RawCapture& out)
{
    const CaptureAttempt first = capture(request, out);
    if (first.outcome != CaptureOutcome::Failed || !first.youngStream)
        return first.outcome;
    const std::string why = lastError;
    const CaptureOutcome second = capture(request, out).outcome;
    if (second == CaptureOutcome::NotPresent) {
        // The device was there a moment ago: the failure is the stream's.
        lastError = why;
        return CaptureOutcome::Failed;
    }
    return second;
}

// Converter counts per unit of digital signal. The card plays every method's stimulus; its
// captures are scaled as if the box's own level had been played.
double SoundCardDevice::Impl::captureGain(int input, Excitation excitation,
                                          const sc::PlayedMls& stimulus) const
{
    const double fullScale = config.fullScaleVolts[static_cast<std::size_t>(input - 1)];
    const double boxVolts = excitation == Excitation::Mls     ? kBoxMlsPeakVolts
                            : excitation == Excitation::Pulse ? kBoxPulseVolts
                                                              : kBoxNoiseLineVolts;
    return fullScale * countsPerVolt(input) * boxVolts /
           (stimulus.sequenceLevel * kOutputFullScaleVolts);
}

// Counts per unit of a sweep's deconvolved response: what the MLS's deconvolution gives for
// the same chain. A unity chain's MLS reads the played sequence in counts scaled by
// captureGain (the box's MLS level), and its deconvolution by the sequence's correlation
// peak (4095 + 1, as the sequence's mean is removed with it) over the system's divisor 3300.
double SoundCardDevice::Impl::sweepCountsPerUnit(int input) const
{
    const double fullScale = config.fullScaleVolts[static_cast<std::size_t>(input - 1)];
    return fullScale * countsPerVolt(input) * kBoxMlsPeakVolts * (4096.0 / 3300.0) /
           kOutputFullScaleVolts;
}

// The internal path is the played signal itself.
CaptureAttempt SoundCardDevice::Impl::captureInternal(const sc::PlayedMls& stimulus, double gain,
                                                      RawCapture& out)
{
    const int samples = stimulus.periodSamples;
    std::array<double, 4096> ideal{};
    sc::digitalMlsPeriod(stimulus, ideal.data());
    for (int k = 0; k < samples; ++k)
        out.v[static_cast<std::size_t>(k)] = ideal[static_cast<std::size_t>(k)] * gain;
    if (samples < 4096)
        out.v[4095] = out.v[4094];
    out.clipped = stimulus.amplitude >= kClipLevel;
    timing = TimingSource::TimingChannel;
    return {CaptureOutcome::Delivered};
}

CaptureLayout SoundCardDevice::Impl::captureLayout(int programHz, int samples) const
{
    CaptureLayout l;
    l.link = sc::rateLink(programHz, config.deviceRateHz);
    l.samples = samples;
    l.margin = sc::converterMarginFrames(l.link);
    l.span = sc::framesFor(l.link, samples + sc::converterMarginSamples(l.link)) -
             sc::framesFor(l.link, sc::converterMarginSamples(l.link));
    // Skip at least one period after the MLS starts to sound, and the first moments in
    // which the audio server settles.
    l.settle = std::max(frames(kSettleSeconds), sc::framesFor(l.link, samples));
    return l;
}

// Lets the stimulus sound and finds its delay on `track.path`: the one kept from the last
// capture, unless the delay channel changed or the user rewired.
void SoundCardDevice::Impl::timeStimulus(DelayTrack& track)
{
    track.audible = sound(&track.stimulus);
    if (track.path.channel != trackedChannel) {
        trackedDelay = -1;
        trackedChannel = track.path.channel;
    }
    if (rewired) {
        trackedDelay = -1;
        track.audible = soundAnew(&track.stimulus);
    }
    rewired = false;
    track.delay = findDelay(track.path, track.audible);
    // On a busy machine the server drops or late-delivers buffers, and the delay may
    // jump further than it can be followed, or the MLS's arrival is missed. With a
    // timing cable there, the calibrated or reported latency would be a buffer or
    // more off without anyone noticing: the MLS is started afresh, and only when
    // its arrival is missed again is the loopback taken as silent.
    while (!timed() && track.freshStarts < kFreshStarts)
        startAfresh(track);
}

void SoundCardDevice::Impl::startAfresh(DelayTrack& track)
{
    trackedDelay = -1;
    track.audible = soundAnew(&track.stimulus);
    track.delay = findDelay(track.path, track.audible, track.freshStarts++ < kFreshStarts);
}

// The first period after the settling, from nextFree on, over which the delay holds from
// start to end and the stimulus arrived whole; the delay is followed when the server moves
// it.
CaptureWindow SoundCardDevice::Impl::findWindow(const CaptureLayout& layout, DelayTrack& track)
{
    const sc::RateLink& link = layout.link;
    const std::int64_t span = layout.span;
    const DelayPath& path = track.path;
    CaptureWindow w;
    for (int attempt = 0;; ++attempt) {
        const std::int64_t delay = track.delay;
        const std::int64_t earliest =
            std::max(nextFree, track.audible + delay + layout.settle) - delay;
        w.j0 = (earliest + link.frameStep - 1) / link.frameStep * link.frameStep;
        w.first = w.j0 + delay;
        if (!waitFor(w.first + span + layout.margin)) {
            w.error = lastError;
            return w;
        }
        if (!timed()) {
            w.error = notTimedError(path);
            return w;
        }
        // The delay must hold from the start of the capture to its end; the audio
        // server may move it by a buffer, then take the next period.
        const std::int64_t probe = std::min<std::int64_t>(span, blockFor(2048));
        const sc::LagMatch head = delayOn(path.channel, w.first, probe, delay, kDelayTrackFrames);
        const sc::LagMatch tail =
            delayOn(path.channel, w.first + span - probe, probe, delay, kDelayTrackFrames);
        const bool held = head.lag == delay && tail.lag == delay;
        if (held && arrivedWhole(path, w.first, span, sc::framesFor(link, layout.samples), delay)) {
            w.found = true;
            return w;
        }
        if (attempt >= 8) {
            w.error = held ? "Soundkarte: die Aufnahme wird ständig gestört"
                           : "Soundkarte: die Verzögerung ändert sich ständig";
            return w;
        }
        if (held) {
            // The delay held, but something in between was lost: take the next period.
            nextFree = w.first + span;
        } else if (head.correlation < path.minMatch() && tail.correlation < path.minMatch() &&
                   attempt >= 2) {
            // Nothing of the MLS near the delay: it jumped far, or the loopback went
            // silent (then there is no timing reference any more).
            startAfresh(track);
        } else if (head.lag == tail.lag && head.correlation >= path.minMatch()) {
            trackedDelay = track.delay = head.lag;
            nextFree = w.first;
        } else {
            nextFree = w.first + span;
        }
    }
}

// Converts the window's frames of input `channel` to the program's rate and rotates them
// into the stimulus's phase.
CaptureAttempt SoundCardDevice::Impl::deliver(const CaptureLayout& layout,
                                              const CaptureWindow& window, int channel, double gain,
                                              RawCapture& out)
{
    const sc::RateLink& link = layout.link;
    const std::int64_t margin = layout.margin;
    const std::int64_t span = layout.span;
    const int samples = layout.samples;
    std::vector<float> frames;
    if (!copyChannel(channel, window.first - margin, span + 2 * margin, frames))
        return fail(CaptureOutcome::Failed, "Soundkarte: Daten wurden überschrieben");
    out.clipped = false;
    for (std::int64_t i = margin; i < margin + span; ++i)
        if (std::fabs(frames[static_cast<std::size_t>(i)]) >= kClipLevel)
            out.clipped = true;
    std::vector<double> converted;
    if (!sc::toProgramRate(link, frames.data(), frames.size(), samples, converted))
        return fail(CaptureOutcome::Failed, "Soundkarte: Umrechnung der Abtastrate fehlgeschlagen");
    // Rotated into the stimulus's phase: the pulse then lies where the MLS's deconvolved
    // impulse lies, and every method's record starts at the same moment.
    std::array<double, 4096> aligned{};
    const std::int64_t firstSample = (window.j0 / link.frameStep) * link.sampleStep % samples;
    sc::alignMlsPeriod(converted, firstSample, aligned.data(), samples);
    for (int k = 0; k < samples; ++k)
        out.v[static_cast<std::size_t>(k)] = aligned[static_cast<std::size_t>(k)] * gain;
    if (samples < 4096)
        out.v[4095] = out.v[4094];
    return {CaptureOutcome::Delivered};
}

CaptureAttempt SoundCardDevice::Impl::capture(const CaptureRequest& request, RawCapture& out)
{
    // PortAudio's stream thread reports a failing server on stderr; the user hears of it
    // through the "Hardware Fehler" message instead.
    QuietStderr quiet;
    const int input = std::clamp(request.input, 1, 4);
    if (request.excitation == Excitation::Sweep)
        return captureSweep(request, input, config.channel[static_cast<std::size_t>(input - 1)],
                            out);
    const int programHz = core::sampleRateHz(request.rateCode);
    const sc::PlayedMls& stimulus = played(programHz, request.excitation, request.noisePeriod);
    const double gain = captureGain(input, request.excitation, stimulus);
    const int channel = config.channel[static_cast<std::size_t>(input - 1)];
    if (input == 4 && channel == 0)
        return captureInternal(stimulus, gain, out);
    if (!session || inDevice < 0 || outDevice < 0)
        return fail(CaptureOutcome::NotPresent, openError);
    if (!streamRunning()) {
        std::string error;
        if (!openStream(error))
            return fail(CaptureOutcome::NotPresent, error);
    }

    const CaptureLayout layout = captureLayout(programHz, stimulus.periodSamples);
    DelayTrack track{stimulus, capturePath(channel)};
    timeStimulus(track);
    if (!timed())
        return fail(CaptureOutcome::Failed, notTimedError(track.path));
    const CaptureWindow window = findWindow(layout, track);
    if (!window.found)
        return fail(CaptureOutcome::Failed, window.error);
    nextFree = window.first + layout.span;
    return deliver(layout, window, channel, gain, out);
}

CaptureOutcome SoundCardDevice::capture(const CaptureRequest& request, RawCapture& out)
{
    if (!impl_->rateNotice.empty() && !impl_->rateNoticeShown) {
        impl_->rateNoticeShown = true;
        core::messageText(impl_->rateNotice, " ", core::Icon::Warning);
    }
    Impl& d = *impl_;
    const TimingSource before = d.timing;
    const bool overloadedBefore = d.overloaded;
    if (std::chrono::steady_clock::now() - d.lastCaptureEnd > kNextMeasurement)
        d.overloaded = false;
    const CaptureOutcome outcome = d.captureWithRetry(request, out);
    d.lastCaptureEnd = std::chrono::steady_clock::now();
    if (outcome == CaptureOutcome::Delivered && out.clipped)
        d.overloaded = true;
    // The status bar names the device, and says when a capture had no timing reference or
    // the curve comes from an overloaded input.
    if (outcome != CaptureOutcome::Delivered)
        core::ui().setStatusText(2, d.lastError);
    else if (d.timing != before || d.overloaded != overloadedBefore)
        core::ui().setStatusText(2, statusText());
    return outcome;
}

} // namespace box
