// The full-duplex stream: the audio callback and its ring of captured frames, the stimulus
// it plays, opening, resuming and closing the stream, and waiting for its frames.
#include "box/SoundCard.h"
#include "box/SoundCardImpl.h"

#include "box/ServerRate.h"
#include "core/Strings.h"

#include <portaudio.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace box
{

using namespace soundcard_detail;

namespace
{

// The MLS falls silent this long after the last capture. The stream runs on (silent) a little
// longer, then pauses by itself and stays open: a running full-duplex stream on a sound
// server's device wakes the program a hundred times a second or more, and on a busy machine
// PortAudio's ALSA thread can come to spin on it (half a core). A paused stream costs nothing
// and resumes within a tenth of a second, where a new one takes the server a second or more
// to deliver its first frames.
constexpr double kIdleSeconds = 1.0;
constexpr double kKeepOpenSeconds = 3.0;

constexpr double kRingSeconds = dsp::kSweepMaxSeconds + 5.0;

// A wait for frames that don't come ends after this ("Hardware Fehler" within 3 s). A stream
// that has just started may take longer for its first frames: audio servers fill their
// buffers first (PulseAudio about a second, more on a busy machine).
constexpr double kStallSeconds = 2.5;
constexpr double kStartSeconds = 6.0;

int streamCallback(const void* input, void* output, unsigned long frameCount,
                   const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user)
{
    StreamShared& s = *static_cast<StreamShared*>(user);
    const std::int64_t t0 = s.written.load(std::memory_order_relaxed);
    const float* in = static_cast<const float*>(input);
    float* out = static_cast<float*>(output);
    const sc::PlayedMls* played = s.played.load(std::memory_order_acquire);
    const std::int64_t cycle = played ? static_cast<std::int64_t>(played->frames.size()) : 0;
    const std::int64_t from = s.audibleFrom.load(std::memory_order_relaxed);
    const std::int64_t until = s.audibleUntil.load(std::memory_order_relaxed);
    const bool once = played && played->excitation == Excitation::Sweep;
    for (unsigned long k = 0; k < frameCount; ++k) {
        const std::int64_t t = t0 + static_cast<std::int64_t>(k);
        float* slot = &s.ring[static_cast<std::size_t>((t % s.ringFrames) * s.inChannels)];
        for (int c = 0; c < s.inChannels; ++c)
            slot[c] = in ? in[k * static_cast<unsigned long>(s.inChannels) + c] : 0.0f;
        float y = 0.0f;
        if (once) {
            if (t >= from && t < until && t - from < cycle) {
                if (t == from)
                    s.onceStarted.store(t, std::memory_order_relaxed);
                y = played->frames[static_cast<std::size_t>(t - from)];
            }
        } else if (cycle > 0 && t >= from && t < until) {
            y = played->frames[static_cast<std::size_t>(t % cycle)];
        }
        for (int c = 0; c < s.outChannels; ++c)
            out[k * static_cast<unsigned long>(s.outChannels) + c] = y;
    }
    const std::int64_t t1 = t0 + static_cast<std::int64_t>(frameCount);
    s.lastBuffer.store(static_cast<std::int64_t>(frameCount), std::memory_order_relaxed);
    s.written.store(t1, std::memory_order_release);
    return t1 > s.keepUntil.load(std::memory_order_relaxed) ? paComplete : paContinue;
}

} // namespace

const sc::PlayedMls& SoundCardDevice::Impl::played(int programHz, Excitation excitation,
                                                   int noisePeriod)
{
    if (excitation != Excitation::PeriodicNoise)
        noisePeriod = 4096;
    for (const auto& p : playedCache)
        if (p->link.programHz == programHz && p->excitation == excitation &&
            p->noisePeriod == noisePeriod)
            return *p;
    auto p = std::make_unique<sc::PlayedMls>(sc::makePlayedStimulus(
        sc::rateLink(programHz, config.deviceRateHz), amplitude(), excitation, noisePeriod));
    playedCache.push_back(std::move(p));
    return *playedCache.back();
}

void SoundCardDevice::Impl::closeStream()
{
    if (stream) {
        QuietStderr quiet;
        Pa_AbortStream(stream);
        Pa_CloseStream(stream);
        stream = nullptr;
    }
    shared.reset();
    trackedDelay = -1;
}

// Why the stream won't open or start, naming the device. For a sound server's device
// the audio system only says that something failed: the server is asked what it was
// (gone, or no such source).
std::string SoundCardDevice::Impl::streamFailure(const char* what, PaError e) const
{
    std::string reason;
    if (serverDevice()) {
        const ServerSource source = querySoundServerSource();
        if (!source.serverAnswered)
            reason = "der Audio-Server antwortet nicht (beendet oder nicht gestartet?)";
        else if (!source.sourceName.empty() && !source.sourceFound)
            reason = "die Aufnahmequelle \"" + source.sourceName +
                     "\" gibt es auf dem Audio-Server nicht";
    }
    if (reason.empty()) {
        switch (e) {
        case paUnanticipatedHostError: {
            const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
            reason = "Fehler im Audiosystem";
            if (host && host->errorText && *host->errorText)
                reason += std::string(" (") + host->errorText + ")";
            break;
        }
        case paBadIODeviceCombination:
            reason = "Ein- und Ausgabegerät lassen sich nicht zusammen betreiben";
            break;
        case paDeviceUnavailable:
            reason = "das Gerät ist belegt oder nicht verfügbar";
            break;
        case paInvalidSampleRate:
            reason = core::formatC("%d Hz sind nicht möglich", config.deviceRateHz);
            break;
        case paInvalidChannelCount:
            reason = "die Kanalzahl ist nicht möglich";
            break;
        default:
            reason = Pa_GetErrorText(e);
        }
    }
    return "Soundkarte \"" + inName + "\" kann nicht " + what + " werden: " + reason;
}

// Starts the stream again that paused itself while the card was idle. The server sets up
// its buffers anew, so the loop delay is found again. False when there is none, or when
// it won't start: then a new stream is opened. PortAudio waits for ever to start a stream
// whose server has gone, so the server is asked first.
bool SoundCardDevice::Impl::resumeStream()
{
    if (!stream || !shared || Pa_IsStreamActive(stream) == 1)
        return false;
    // Only a stream that paused itself (past the frame it was kept for) is resumed; one
    // that PortAudio ended on an error would never start again.
    if (shared->written.load() <= shared->keepUntil.load())
        return false;
    if (serverDevice() && !querySoundServerSource().serverAnswered)
        return false;
    QuietStderr quiet;
    Pa_StopStream(stream);
    const std::int64_t now = shared->written.load(std::memory_order_acquire);
    shared->audibleUntil.store(std::min(shared->audibleUntil.load(), now));
    shared->keepUntil.store(now + frames(kKeepOpenSeconds));
    if (Pa_StartStream(stream) != paNoError)
        return false;
    trackedDelay = -1;
    nextFree = now;
    return true;
}

bool SoundCardDevice::Impl::openStream(std::string& error)
{
    if (resumeStream())
        return true;
    closeStream();
    if (inDevice < 0 || outDevice < 0) {
        error = openError;
        return false;
    }
    const PaDeviceInfo* inInfo = Pa_GetDeviceInfo(inDevice);
    const PaDeviceInfo* outInfo = Pa_GetDeviceInfo(outDevice);
    if (!inInfo || !outInfo) {
        error = "Soundkarte nicht gefunden";
        return false;
    }
    const int inChannels = streamInputChannels();
    if (inChannels > inInfo->maxInputChannels) {
        error = core::formatC("Eingangskanal %d nicht vorhanden (%s hat %d)", inChannels,
                              inName.c_str(), inInfo->maxInputChannels);
        return false;
    }
    auto sh = std::make_unique<StreamShared>();
    sh->inChannels = inChannels;
    sh->outChannels = std::clamp(outInfo->maxOutputChannels, 1, 2);
    // Room for the longest capture and the largest delay: the longest sweep with its fades,
    // its tail and a second of delay (a period at 3.2 kHz is only 1.28 s).
    sh->ringFrames = frames(kRingSeconds);
    sh->ring.assign(static_cast<std::size_t>(sh->ringFrames * inChannels), 0.0f);
    sh->keepUntil.store(frames(kKeepOpenSeconds));

    PaStreamParameters in{};
    in.device = inDevice;
    in.channelCount = inChannels;
    in.sampleFormat = paFloat32;
    in.suggestedLatency = inInfo->defaultHighInputLatency;
    PaStreamParameters out{};
    out.device = outDevice;
    out.channelCount = sh->outChannels;
    out.sampleFormat = paFloat32;
    out.suggestedLatency = outInfo->defaultHighOutputLatency;

    QuietStderr quiet;
    PaStream* s = nullptr;
    const double rate = config.deviceRateHz;
    PaError e = Pa_OpenStream(&s, &in, &out, rate, paFramesPerBufferUnspecified,
                              paClipOff | paDitherOff, streamCallback, sh.get());
    if (e != paNoError) {
        error = streamFailure("geöffnet", e);
        return false;
    }
    e = Pa_StartStream(s);
    if (e != paNoError) {
        Pa_CloseStream(s);
        error = streamFailure("gestartet", e);
        return false;
    }
    const PaStreamInfo* info = Pa_GetStreamInfo(s);
    reportedLatency = info ? std::llround((info->inputLatency + info->outputLatency) * rate) : 0;
    stream = s;
    shared = std::move(sh);
    trackedDelay = -1;
    nextFree = 0;
    return true;
}

// Lets the MLS of `programHz` sound (or silence, for 0) and returns the stream frame from
// which it sounds. A silent stretch (or another rate) resumes a little ahead of the
// stream's position: the callback may be filling the next buffer right now.
std::int64_t SoundCardDevice::Impl::sound(const sc::PlayedMls* want)
{
    const std::int64_t now = shared->written.load(std::memory_order_acquire);
    const bool sounding = now < shared->audibleUntil.load();
    if (want == shared->played.load() && (sounding || !want))
        return shared->audibleFrom.load();
    const std::int64_t from = now + frames(0.1);
    shared->audibleUntil.store(now); // silence while switching
    shared->played.store(want, std::memory_order_release);
    shared->audibleFrom.store(from);
    shared->audibleUntil.store(want ? from + frames(kIdleSeconds) : from);
    return from;
}

// The stimulus of a sweep: made once per plan and kept for the stream's callback.
const sc::PlayedMls& SoundCardDevice::Impl::playedSweep(int programHz, const dsp::SweepPlan& plan)
{
    for (const auto& [p, sweep] : sweepCache)
        if (sweep->link.programHz == programHz && p.rateHz == plan.rateHz &&
            p.startHz == plan.startHz && p.endHz == plan.endHz &&
            p.lengthSeconds == plan.lengthSeconds && p.amplitude == plan.amplitude)
            return *sweep;
    auto sweep = std::make_unique<sc::PlayedMls>(
        sc::makePlayedSweep(sc::rateLink(programHz, config.deviceRateHz), plan));
    sweepCache.emplace_back(plan, std::move(sweep));
    return *sweepCache.back().second;
}

// Plays `sweep` once, after the silence the stream holds now, a little ahead of the stream's
// position; returns the stream frame its first frame plays on.
std::int64_t SoundCardDevice::Impl::soundOnce(const sc::PlayedMls* sweep)
{
    const std::int64_t now = shared->written.load(std::memory_order_acquire);
    // Two buffers ahead (the callback may be filling the next one right now), and no more
    // than the tenth of a second the periodic stimuli wait: a sweep whose start the callback
    // missed all the same is noticed and played again.
    const std::int64_t ahead = std::clamp<std::int64_t>(2 * shared->lastBuffer.load() + frames(0.005),
                                                        frames(0.01), frames(0.1));
    const std::int64_t from = now + ahead;
    shared->audibleUntil.store(now);
    shared->onceStarted.store(-1);
    shared->played.store(sweep, std::memory_order_release);
    shared->audibleFrom.store(from);
    shared->audibleUntil.store(from + static_cast<std::int64_t>(sweep->frames.size()));
    return from;
}

// Silences the MLS and lets it sound again: a fresh arrival after silence for the timing
// channel. Returns the stream frame from which it sounds.
std::int64_t SoundCardDevice::Impl::soundAnew(const sc::PlayedMls* want)
{
    shared->audibleUntil.store(shared->written.load(std::memory_order_acquire));
    return sound(want);
}

// Waits until the stream has delivered `frame` frames. False when the stream stops or
// stalls ("Hardware Fehler").
bool SoundCardDevice::Impl::waitFor(std::int64_t frame)
{
    using clock = std::chrono::steady_clock;
    auto lastProgress = clock::now();
    std::int64_t last = shared->written.load(std::memory_order_acquire);
    // Keep the MLS sounding for this capture and the idle time after it.
    if (shared->played.load())
        shared->audibleUntil.store(
            std::max(shared->audibleUntil.load(), frame + frames(kIdleSeconds)));
    shared->keepUntil.store(std::max(shared->keepUntil.load(), frame + frames(kKeepOpenSeconds)));
    for (;;) {
        const std::int64_t now = shared->written.load(std::memory_order_acquire);
        if (now >= frame)
            return true;
        if (now != last) {
            last = now;
            lastProgress = clock::now();
        } else if (clock::now() - lastProgress >
                   std::chrono::duration<double>(now < frames(0.25) ? kStartSeconds
                                                                    : kStallSeconds)) {
            lastError = "Soundkarte liefert keine Daten mehr";
            return false;
        }
        if (Pa_IsStreamActive(stream) != 1 &&
            shared->written.load(std::memory_order_acquire) < frame) {
            lastError = kStreamEnded;
            return false;
        }
        const double missing = double(frame - now) / config.deviceRateHz;
        std::this_thread::sleep_for(
            std::chrono::duration<double>(std::clamp(missing * 0.5, 0.002, 0.02)));
    }
}

// Copies frames [first, first + count) of input channel `channel` (from 1). False when
// they have been overwritten already.
bool SoundCardDevice::Impl::copyChannel(int channel, std::int64_t first, std::int64_t count,
                                        std::vector<float>& out)
{
    const StreamShared& s = *shared;
    if (first < 0)
        return false;
    out.resize(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i)
        out[static_cast<std::size_t>(i)] = s.ring[static_cast<std::size_t>(
            ((first + i) % s.ringFrames) * s.inChannels + (channel - 1))];
    // Still there after the copy: the callback hasn't come round the ring meanwhile.
    return s.written.load(std::memory_order_acquire) - s.ringFrames < first;
}

} // namespace box
