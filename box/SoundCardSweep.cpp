// A capture of the sweep: it plays once, its arrival gives the loop's delay, and the
// deconvolved answer becomes a record like the MLS's and the harmonic distortion beside it.
#include "box/SoundCard.h"
#include "box/SoundCardImpl.h"

#include "core/Settings.h"
#include "dsp/Distortion.h"
#include "dsp/DistortionRecord.h"

#include <algorithm>
#include <cmath>

namespace box
{

using namespace soundcard_detail;

namespace
{

// Loop delays up to this are searched for, as with the MLS.
constexpr double kMaxLatencySeconds = 1.0;
// The first look for the delay is taken this long after the sweep should have come back at the
// expected delay. Should it come later, the part that has come back by then (its lowest
// frequencies are enough) still gives the delay, and the capture ends right after the tail.
constexpr double kFirstLookSeconds = 0.05;
// Through a cable the impulse holds nearly all of its energy within a few samples (a digital
// loop 0.9988, through a plugin's DC filter or a 3 kHz low-pass 0.995 and more); a buffer lost
// or repeated in mid-sweep splits it (0.990 down to 0.45 for captures spoiled on a loaded
// machine). A real card's converters and coupling capacitors spread the impulse more than the
// sound server's digital loop does, so the bar stays well below the clean loop's values; the
// spoiled captures between it and them are caught by the block-by-block comparison below.
constexpr double kMinConcentration = 0.95;
// Plays of the sweep in one capture when the server spoiled one.
constexpr int kSweepAttempts = 3;

std::vector<double> toDoubles(const std::vector<float>& frames)
{
    return std::vector<double>(frames.begin(), frames.end());
}

} // namespace

// The linear response as a record and the distortion beside it.
CaptureAttempt SoundCardDevice::Impl::deliverSweep(const dsp::SweepPlan& plan,
                                                   std::span<const double> capture,
                                                   const sc::PlayedMls& edgeSource,
                                                   double countsPerUnit, RawCapture& out)
{
    const dsp::SweepAnalysis analysis = dsp::analyzeSweep(plan, capture);
    if (!sc::sweepRecord(plan, analysis.deconvolution, edgeSource, countsPerUnit, out.v.data()))
        return fail(CaptureOutcome::Failed, "Soundkarte: Umrechnung der Abtastrate fehlgeschlagen");
    out.distortion = dsp::distortionRecord(plan, analysis.curves);
    return {CaptureOutcome::Delivered};
}

CaptureAttempt SoundCardDevice::Impl::captureSweep(const CaptureRequest& request, int input,
                                                   int channel, RawCapture& out)
{
    const int programHz = core::sampleRateHz(request.rateCode);
    const dsp::SweepPlan plan = sc::planDeviceSweep(request, config.deviceRateHz, amplitude());
    // The record is band-limited with the MLS's edge at the program rate.
    const sc::PlayedMls& edgeSource = played(programHz);
    const double countsPerUnit = sweepCountsPerUnit(input);
    out.distortion = {};
    if (input == 4 && channel == 0) {
        // The ideal internal path: the played sweep itself, deconvolved.
        const std::vector<double> ideal = dsp::makeSweep(plan);
        const CaptureAttempt a = deliverSweep(plan, ideal, edgeSource, countsPerUnit, out);
        out.clipped = plan.amplitude >= kClipLevel;
        timing = TimingSource::TimingChannel;
        return a;
    }
    if (!session || inDevice < 0 || outDevice < 0)
        return fail(CaptureOutcome::NotPresent, openError);
    if (!streamRunning()) {
        std::string error;
        if (!openStream(error))
            return fail(CaptureOutcome::NotPresent, error);
    }

    const sc::PlayedMls& sweep = playedSweep(programHz, plan);
    const std::int64_t total = static_cast<std::int64_t>(sweep.frames.size());
    const std::int64_t tail = sc::sweepTailFrames(plan);
    const DelayPath path = capturePath(channel);
    // A sweep always starts after silence, so it takes only what the wiring now answers.
    rewired = false;
    std::vector<float> captured;
    for (int attempt = 0; attempt < kSweepAttempts; ++attempt) {
        const std::int64_t from = soundOnce(&sweep);
        // The delay: where the impulse of the loop lies in the answer on the delay's path,
        // looked for first once the sweep should have come back whole (at the delay found
        // last on this stream, or the one the audio system reports), then, for a longer
        // delay, once the longest delay has passed. This runs while the tail is recorded.
        const std::int64_t expected =
            trackedChannel == path.channel && trackedDelay >= 0 ? trackedDelay : reportedLatency;
        sc::SweepArrival arrival;
        std::int64_t looked = 0;
        const std::int64_t firstLook =
            std::clamp<std::int64_t>(expected, 0, frames(kMaxLatencySeconds)) +
            frames(kFirstLookSeconds);
        for (const std::int64_t wait :
             {firstLook, std::max(firstLook, frames(kMaxLatencySeconds + kFirstLookSeconds))}) {
            looked = total + wait;
            if (!waitFor(from + looked))
                return fail(CaptureOutcome::Failed, lastError);
            if (!copyChannel(path.channel, from, looked, captured))
                return fail(CaptureOutcome::Failed, "Soundkarte: Daten wurden überschrieben");
            arrival = sc::sweepArrival(plan, toDoubles(captured), frames(kMaxLatencySeconds));
            if (arrival.lag >= 0)
                break;
        }
        if (shared->onceStarted.load() != from)
            continue; // the callback began the sweep late: play it again
        if (arrival.lag < 0) {
            timing = TimingSource::None;
            return fail(CaptureOutcome::Failed, notTimedError(path));
        }
        const std::int64_t first = from + arrival.lag;
        if (!waitFor(first + total + tail))
            return fail(CaptureOutcome::Failed, lastError);
        // Through a cable the delay must have held over the whole sweep: its impulse lies in
        // one piece. When the first look ended before the whole sweep had come back, it is
        // taken again on the capture's own frames.
        if (path.cable) {
            sc::SweepArrival held = arrival;
            if (looked < arrival.lag + total) {
                if (!copyChannel(path.channel, first, total + tail, captured))
                    return fail(CaptureOutcome::Failed, "Soundkarte: Daten wurden überschrieben");
                held = sc::sweepArrival(plan, toDoubles(captured), frames(kMaxLatencySeconds));
                held.lag += arrival.lag;
            }
            if (held.lag != arrival.lag || held.concentration < kMinConcentration)
                continue;
            // The impulse's shape can hide a short loss near the sweep's end; the sweep
            // itself, block by block, does not.
            if (!copyChannel(path.channel, first, total, captured))
                return fail(CaptureOutcome::Failed, "Soundkarte: Daten wurden überschrieben");
            if (!sc::sweepArrivedWhole(plan, sweep, captured.data(), captured.size()))
                continue;
        }
        if (!copyChannel(channel, first, total + tail, captured))
            return fail(CaptureOutcome::Failed, "Soundkarte: Daten wurden überschrieben");
        const bool clipped = std::any_of(captured.begin(), captured.end(),
                                         [](float v) { return std::fabs(v) >= kClipLevel; });
        timing = path.cable ? TimingSource::TimingChannel : TimingSource::MeasuredChannel;
        // The next MLS on this stream starts from the delay found here; it checks it anew.
        trackedDelay = arrival.lag;
        trackedChannel = path.channel;
        nextFree = first + total + tail;
        const CaptureAttempt a =
            deliverSweep(plan, toDoubles(captured), edgeSource, countsPerUnit, out);
        out.clipped = clipped;
        return a;
    }
    return fail(CaptureOutcome::Failed, "Soundkarte: die Aufnahme wird ständig gestört");
}

} // namespace box
