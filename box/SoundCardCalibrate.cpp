// The "Test" button and "Latenz kalibrieren": the MLS at 51.2 kHz through a loopback.
#include "box/SoundCard.h"
#include "box/SoundCardImpl.h"

#include <algorithm>
#include <cmath>

namespace box
{

using namespace soundcard_detail;

SoundCardTestResult SoundCardDevice::test()
{
    TestAttempt attempt = impl_->testOnce();
    if (!attempt.result.ok && attempt.youngStream)
        attempt = impl_->testOnce();
    return attempt.result;
}

SoundCardDevice::Impl::TestAttempt SoundCardDevice::Impl::testOnce()
{
    QuietStderr quiet;
    SoundCardTestResult r;
    r.separateDevices = inDevice != outDevice;
    if (!session || inDevice < 0) {
        r.error = openError;
        return {r};
    }
    if (!streamRunning() && !openStream(r.error))
        return {r};
    // The MLS at 51.2 kHz, converted, for half a second after it arrived.
    const std::int64_t from = sound(&played(51200));
    const std::int64_t delay = delayFromOnset(loopbackPath().channel, from);
    // The test's MLS replaced the capture's: the next capture finds its delay afresh.
    trackedDelay = -1;
    if (delay >= 0) {
        r.latencyFrames = static_cast<int>(delay);
        r.latencyMs = 1000.0 * double(delay) / config.deviceRateHz;
    }
    const std::int64_t start = from + std::max<std::int64_t>(delay, 0);
    const std::int64_t end = start + frames(0.5);
    if (!waitFor(end)) {
        r.error = lastError;
        return {r, fail(CaptureOutcome::Failed, lastError).youngStream};
    }
    std::vector<float> x;
    for (int c = 1; c <= shared->inChannels; ++c) {
        double peak = 0.0;
        if (copyChannel(c, start, end - start, x))
            for (float v : x)
                peak = std::max(peak, double(std::fabs(v)));
        r.peakDbfs.push_back(20.0 * std::log10(peak + 1e-12));
        r.clipped.push_back(peak >= kClipLevel);
    }
    // Silence again, and the next capture starts afresh.
    sound(nullptr);
    nextFree = shared->written.load();
    r.ok = true;
    return {r};
}

int SoundCardDevice::calibrateLatency(std::string& error)
{
    Impl& d = *impl_;
    QuietStderr quiet;
    if (!d.session || d.inDevice < 0) {
        error = d.openError;
        return -1;
    }
    if (!d.streamRunning() && !d.openStream(error))
        return -1;
    const int channel = d.loopbackPath().channel;
    const std::int64_t from = d.sound(&d.played(51200));
    std::int64_t result = d.delayFromOnset(channel, from);
    if (result >= 0) {
        // Take the delay that holds once the server has settled.
        const std::int64_t first = from + result + d.frames(0.5);
        if (d.waitFor(first + 4096)) {
            const sc::LagMatch m = d.delayOn(channel, first, 4096, result, kDelayTrackFrames);
            result = m.correlation > 0.5 ? m.lag : -1;
        }
    }
    // The calibration's MLS replaced the capture's: the next capture finds its delay afresh.
    d.trackedDelay = -1;
    d.sound(nullptr);
    d.nextFree = d.shared ? d.shared->written.load() : 0;
    if (result < 0) {
        error = "Keine Schleife gefunden: den Ausgang mit dem Eingang verbinden";
        return -1;
    }
    d.config.calibratedLatencyFrames = static_cast<int>(result);
    return static_cast<int>(result);
}

} // namespace box
