// The search for the loop delay: the MLS's onset on a timing cable, its correlation and
// arrival on the measured channel without one, and whether it arrived whole.
#include "box/SoundCard.h"
#include "box/SoundCardImpl.h"

#include "core/Strings.h"

#include <algorithm>

namespace box
{

using namespace soundcard_detail;

namespace
{

// Loop delays up to this are searched for.
constexpr double kMaxLatencySeconds = 1.0;

// Blocks of a capture on the timing channel are intact when each matches the played MLS at
// least this share as well as the best one (a lost buffer of 512 frames in a block of 2048
// leaves about 0.75).
constexpr double kWholeCorrelationShare = 0.85;

// How well the MLS must match on the measured channel to time a capture without a cable.
constexpr double kMeasuredChannelMatch = 0.2;
// Without a cable the MLS's arrival after silence is where it starts to match: the block
// before it matches less than this share of the block after it.
constexpr double kArrivalContrast = 0.3;

} // namespace

// A block long enough to match the played stimulus in: `dense` frames for the MLS and
// the noise, a whole period for the pulse (one pulse in every block).
std::int64_t SoundCardDevice::Impl::blockFor(std::int64_t dense) const
{
    const sc::PlayedMls* p = shared ? shared->played.load() : nullptr;
    if (!p || p->excitation != Excitation::Pulse)
        return dense;
    return std::max(dense, static_cast<std::int64_t>(p->frames.size()) / p->periods);
}

// Where input `channel` says the delay is on frames [first, first + count), searched
// within `range` frames of `around`.
sc::LagMatch SoundCardDevice::Impl::delayOn(int channel, std::int64_t first, std::int64_t count,
                                            std::int64_t around, std::int64_t range)
{
    std::vector<float> x;
    const sc::PlayedMls* p = shared->played.load();
    if (!p || !copyChannel(channel, first, count, x))
        return {};
    return sc::bestLag(*p, x.data(), x.size(), 1, first, std::max<std::int64_t>(0, around - range),
                       around + range);
}

// Whether the MLS arrived whole on `path` over frames [first, first + span)
// at `delay`, and had been sounding at that delay for `lead` frames before: a busy
// machine may lose or repeat a buffer in the middle of a capture and leave the delay at
// both ends as it was, and without a timing cable the delay is known only up to whole
// periods, so the arrival itself may lie in the capture (a fresh stream on a loaded
// server starts several periods late). Checked in blocks, so that a lost buffer shows
// in a long capture as well; a damaged or half-silent block matches clearly worse than
// the others (how well an intact one matches depends on the path, filters included).
bool SoundCardDevice::Impl::arrivedWhole(const DelayPath& path, std::int64_t first,
                                         std::int64_t span, std::int64_t lead, std::int64_t delay)
{
    first -= lead;
    span += lead;
    const std::int64_t block = blockFor(2048);
    double worst = 1e300, best = -1e300;
    for (std::int64_t from = first; from < first + span; from += block) {
        const std::int64_t start = std::max(first, std::min(from, first + span - block));
        const double c = delayOn(path.channel, start, std::min(block, span), delay, 0).correlation;
        worst = std::min(worst, c);
        best = std::max(best, c);
    }
    return best > path.minMatch() && worst >= kWholeCorrelationShare * best;
}

// The loop delay on a loopback cable to input `channel` of a stream whose MLS started
// sounding at `audibleFrom` after silence: its arrival marks the delay, a correlation
// refines it.
std::int64_t SoundCardDevice::Impl::delayFromOnset(int channel, std::int64_t audibleFrom)
{
    const double threshold = 0.1 * amplitude();
    const std::int64_t quietRun = frames(0.03);
    const std::int64_t scanFrom = std::max<std::int64_t>(0, audibleFrom - quietRun);
    const std::int64_t limit = audibleFrom + frames(kMaxLatencySeconds);
    std::vector<float> x;
    std::int64_t onset = -1;
    for (std::int64_t upTo = audibleFrom; onset < 0 && upTo < limit;) {
        upTo = std::min(upTo + frames(0.02), limit);
        if (!waitFor(upTo) || !copyChannel(channel, scanFrom, upTo - scanFrom, x))
            return -1;
        // Rescanned from the start each time: a quiet run may straddle two chunks, and
        // the server may still deliver the end of an earlier stream before the silence.
        const std::int64_t i =
            sc::findOnset(x.data(), x.size(), 1, threshold, static_cast<std::size_t>(quietRun));
        if (i >= 0 && scanFrom + i >= audibleFrom)
            onset = scanFrom + i;
    }
    if (onset < 0)
        return -1;
    // The converter's pre-ringing crosses the threshold a few frames early, and the
    // server may still move the delay by a buffer in its first moments. On a busy
    // machine it may move it by several (a fresh stream repeated or dropped them after
    // the onset): the stimulus repeats, so a period of lags around the onset holds the
    // delay, and that one counts once the next block agrees.
    const sc::PlayedMls* p = shared->played.load();
    const std::int64_t period = p ? sc::framesFor(p->link, p->periodSamples) : 0;
    const std::int64_t onsetLag = onset - audibleFrom;
    for (int attempt = 0; attempt < 6; ++attempt) {
        const std::int64_t first = onset + frames(0.1) * (attempt + 1);
        const std::int64_t block = blockFor(2048);
        if (!waitFor(first + block))
            return -1;
        const sc::LagMatch m = delayOn(channel, first, block, onsetLag, kDelayTrackFrames);
        if (m.correlation > 0.5)
            return m.lag;
        const sc::LagMatch moved = delayOn(channel, first, block, onsetLag, period / 2);
        if (moved.correlation > 0.5 && waitFor(first + 2 * block) &&
            delayOn(channel, first + block, block, moved.lag, 0).correlation > 0.5)
            return moved.lag;
    }
    return -1;
}

// How well the MLS must match on the channel the delay is found on. A timing cable
// returns it nearly as played; the measured channel carries it through the device under
// test (a filter, a loudspeaker and its microphone), and a match by chance over a block
// stays below 0.1.
double DelayPath::minMatch() const
{
    return cable ? 0.5 : kMeasuredChannelMatch;
}

DelayPath SoundCardDevice::Impl::capturePath(int measuredChannel) const
{
    if (config.timingChannel > 0)
        return {config.timingChannel, true};
    return {measuredChannel, false};
}

DelayPath SoundCardDevice::Impl::loopbackPath() const
{
    return {config.timingChannel > 0 ? config.timingChannel : config.channel[0], true};
}

// The loop delay on the measured channel, without a timing cable. The MLS repeats every
// period, so one period of lags around the calibrated (or reported) latency holds the
// delay or one a period off; the settling time of at least a period keeps the capture
// clear of the arrival either way, and a capture that still catches part of it matches
// worse in one block and is taken again.
std::int64_t SoundCardDevice::Impl::delayFromCorrelation(const DelayPath& path,
                                                         std::int64_t audibleFrom)
{
    const sc::PlayedMls* p = shared->played.load();
    if (!p)
        return -1;
    const std::int64_t guess =
        config.calibratedLatencyFrames >= 0 ? config.calibratedLatencyFrames : reportedLatency;
    const std::int64_t period = sc::framesFor(p->link, p->periodSamples);
    const std::int64_t low = std::max<std::int64_t>(0, guess - period / 2);
    const std::int64_t block = blockFor(4096);
    std::vector<float> x;
    for (int attempt = 0; attempt < 6; ++attempt) {
        const std::int64_t first = audibleFrom + guess + period + frames(0.1) * (attempt + 1);
        if (!waitFor(first + block) || !copyChannel(path.channel, first, block, x))
            return -1;
        const sc::LagMatch m = sc::bestLag(*p, x.data(), x.size(), 1, first, low, low + period);
        if (m.correlation > path.minMatch())
            return arrivalOnMeasuredChannel(path, audibleFrom, m.lag, period);
    }
    return -1;
}

// The MLS repeats, so its match on the measured channel gives the delay only up to whole
// periods; a fresh stream and a fresh start after a prompt both let it sound after
// silence, and the delay is the one (`lag` and whole periods on) at which the match
// begins: none in the block before the arrival, a clear one in the block after it. The
// period is not always a whole number of frames, so each candidate is refined by a frame
// or two. -1 when no steady arrival is found within the longest delay searched (the MLS
// is then started afresh).
std::int64_t SoundCardDevice::Impl::arrivalOnMeasuredChannel(const DelayPath& path,
                                                             std::int64_t audibleFrom,
                                                             std::int64_t lag, std::int64_t period)
{
    // The block before is short: the silence before a fresh start may begin a buffer
    // late, when the callback was filling one at that moment.
    constexpr std::int64_t shortBlock = 1024, guard = 256, refine = 2;
    const std::int64_t block = blockFor(2048);
    const std::int64_t limit = frames(kMaxLatencySeconds);
    for (std::int64_t d = lag % period; d <= limit; d += period) {
        const std::int64_t at = audibleFrom + d;
        if (!waitFor(at + guard + block))
            return -1;
        const sc::LagMatch after = delayOn(path.channel, at + guard, block, d, refine);
        const std::int64_t beforeFrom = at - guard - shortBlock;
        const double before =
            beforeFrom >= 0 ? delayOn(path.channel, beforeFrom, shortBlock, d, refine).correlation
                            : 0.0;
        if (after.correlation > path.minMatch() && before < kArrivalContrast * after.correlation) {
            // A young stream's delay may still drift: the arrival counts once a period
            // later the MLS still matches at its delay as well.
            if (!waitFor(at + period + guard + block))
                return -1;
            const double later =
                delayOn(path.channel, at + period + guard, block, after.lag, 0).correlation;
            return later >= kWholeCorrelationShare * after.correlation ? after.lag : -1;
        }
        if (after.correlation > path.minMatch())
            d = after.lag;
    }
    return -1;
}

// The loop delay on `path`: the timing channel, or the measured channel without one; -1
// (and no timing) when the MLS isn't there.
std::int64_t SoundCardDevice::Impl::findDelay(const DelayPath& path, std::int64_t audibleFrom,
                                              bool heard)
{
    if (heard && trackedDelay < 0)
        trackedDelay = path.cable ? delayFromOnset(path.channel, audibleFrom)
                                  : delayFromCorrelation(path, audibleFrom);
    if (heard && trackedDelay >= 0) {
        timing = path.cable ? TimingSource::TimingChannel : TimingSource::MeasuredChannel;
        return trackedDelay;
    }
    timing = TimingSource::None;
    return -1;
}

// Why a capture found no delay: the user is told, and nothing is saved.
std::string SoundCardDevice::Impl::notTimedError(const DelayPath& path) const
{
    if (path.cable)
        return core::formatC("Soundkarte: auf dem Zeitreferenz-Kanal %d kommt das Messsignal "
                             "nicht an (Kabel vom Ausgang zu diesem Eingang?)",
                             path.channel);
    return core::formatC("Soundkarte: das Messsignal ist auf Kanal %d nicht zu finden; "
                         "die Aufnahme lässt sich nicht ausrichten",
                         path.channel);
}

} // namespace box
