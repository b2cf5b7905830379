#include "box/SoundCard.h"

#include "box/Mls.h"
#include "box/SoundCardSignal.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Strings.h"
#include "core/Ui.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <thread>

namespace box {

namespace sc = soundcard;

namespace {

// Peak of the box's MLS in volts: a unity chain then reads 0 dB with the MLS method (the
// deconvolution peak 4095/3300 times the response computation's MLS scale 393/512). The
// sound card's captures are scaled as if this level had been played, so that a unity loop
// reads 0 dB whatever the output level.
constexpr double kBoxMlsPeakVolts = 1.0 / (4095.0 / 3300.0 * 393.0 / 512.0);
// Volts at digital full scale of the output, taken as the line inputs' range: a cable from
// the output to a line input is a unity loop.
constexpr double kOutputFullScaleVolts = 1.6;
// Converter counts per volt of the box's inputs (1280 on the line inputs, 12800 on Mic.).
double countsPerVolt(int input) { return input == 2 ? 12800.0 : 1280.0; }
// A sample at or above -0.1 dBFS counts as clipped.
const double kClipLevel = std::pow(10.0, -0.1 / 20.0);

// Settling after the MLS arrives before the first capture: at least one period, and the
// audio server's buffers adjust themselves during the first tenth of a second or so.
constexpr double kSettleSeconds = 0.15;
// The MLS falls silent this long after the last capture; the stream itself runs on (silent)
// for a while, because audio servers take up to a second or more to start a new stream, and
// ends by itself after that.
constexpr double kIdleSeconds = 1.0;
constexpr double kKeepOpenSeconds = 60.0;
// Loop delays up to this are searched for.
constexpr double kMaxLatencySeconds = 1.0;
// A wait for frames that don't come ends after this ("Hardware Fehler" within 3 s). A stream
// that has just started may take longer for its first frames: audio servers fill their
// buffers first (PulseAudio about a second, more on a busy machine).
constexpr double kStallSeconds = 2.5;
constexpr double kStartSeconds = 6.0;
// The audio server may move the loop delay by a buffer or two while a stream runs; the
// timing channel follows it within this many frames.
constexpr std::int64_t kDelayTrackFrames = 800;
// Blocks of a capture on the timing channel are intact when each matches the played MLS at
// least this share as well as the best one (a lost buffer of 512 frames in a block of 2048
// leaves about 0.75).
constexpr double kWholeCorrelationShare = 0.85;
// Fresh starts of the MLS in one capture when the timing channel lost it.
constexpr int kFreshStarts = 2;

// The libraries behind PortAudio (ALSA's configuration, JACK's client) print their probing
// diagnostics on stderr. None of that is for the user: ALSA's go to a silent handler, and
// stderr is closed for the duration of the calls that probe.
void silentAlsaHandler(const char*, int, const char*, int, const char*, ...) {}

class QuietStderr {
public:
    QuietStderr()
    {
        static std::once_flag once;
        std::call_once(once, [] { snd_lib_error_set_handler(silentAlsaHandler); });
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && devNull >= 0)
            ::dup2(devNull, 2);
        if (devNull >= 0)
            ::close(devNull);
    }
    ~QuietStderr()
    {
        if (saved_ >= 0) {
            ::dup2(saved_, 2);
            ::close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};

// PortAudio counts its initialisations; each session holds one.
class PortAudioSession {
public:
    PortAudioSession()
    {
        QuietStderr quiet;
        ok_ = Pa_Initialize() == paNoError;
    }
    ~PortAudioSession()
    {
        if (ok_) {
            QuietStderr quiet;
            Pa_Terminate();
        }
    }
    PortAudioSession(const PortAudioSession&) = delete;
    PortAudioSession& operator=(const PortAudioSession&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The device whose name contains `name` (or is contained in it), with channels in the wanted
// direction; the system's default device for an empty name. -1 when there is none.
int findDevice(const std::string& name, bool input)
{
    const int count = Pa_GetDeviceCount();
    if (name.empty()) {
        const int d = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
        return d >= 0 ? d : -1;
    }
    const std::string wanted = lower(name);
    int partial = -1;
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info || !info->name)
            continue;
        if ((input ? info->maxInputChannels : info->maxOutputChannels) <= 0)
            continue;
        const std::string n = lower(info->name);
        if (n == wanted)
            return i;
        if (partial < 0 &&
            (n.find(wanted) != std::string::npos || wanted.find(n) != std::string::npos))
            partial = i;
    }
    return partial;
}

std::string deviceName(int index)
{
    const PaDeviceInfo* info = index >= 0 ? Pa_GetDeviceInfo(index) : nullptr;
    return info && info->name ? info->name : "";
}

std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    for (const char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out += core::formatC("\\u%04x", static_cast<unsigned>(c));
            else
                out += c;
        }
    }
    return out + "\"";
}

double parseDouble(const std::optional<std::string>& v, double fallback)
{
    if (!v)
        return fallback;
    std::istringstream in(*v);
    in.imbue(std::locale::classic());
    double x = 0;
    if (!(in >> x) || !std::isfinite(x))
        return fallback;
    return x;
}

int parseInt(const std::optional<std::string>& v, int fallback)
{
    const double x = parseDouble(v, fallback);
    return x >= -1e9 && x <= 1e9 ? static_cast<int>(std::lround(x)) : fallback;
}

std::string latencyKey(const std::string& device) { return "Soundkarte/Latenz/" + device; }

const char* const kInputKeys[4] = {"Line1", "Mic", "Line2", "Ref"};

// The stream's state shared with the audio callback. The callback only copies: captured
// frames into the ring, the played cycle out, and a counter of frames.
struct StreamShared {
    int inChannels = 1;
    int outChannels = 1;
    std::vector<float> ring;            // inChannels interleaved, ringFrames long
    std::int64_t ringFrames = 0;
    std::atomic<std::int64_t> written{0};
    // The MLS sounds on stream frames [audibleFrom, audibleUntil), silence elsewhere. Its
    // cycle keeps its phase through silent stretches: stream frame t plays cycle frame
    // t mod cycle length, so a delay found once holds for the stream's life.
    std::atomic<const sc::PlayedMls*> played{nullptr};
    std::atomic<std::int64_t> audibleFrom{0};
    std::atomic<std::int64_t> audibleUntil{0};
    std::atomic<std::int64_t> keepUntil{0};
};

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
    for (unsigned long k = 0; k < frameCount; ++k) {
        const std::int64_t t = t0 + static_cast<std::int64_t>(k);
        float* slot = &s.ring[static_cast<std::size_t>((t % s.ringFrames) * s.inChannels)];
        for (int c = 0; c < s.inChannels; ++c)
            slot[c] = in ? in[k * static_cast<unsigned long>(s.inChannels) + c] : 0.0f;
        float y = 0.0f;
        if (cycle > 0 && t >= from && t < until)
            y = played->frames[static_cast<std::size_t>(t % cycle)];
        for (int c = 0; c < s.outChannels; ++c)
            out[k * static_cast<unsigned long>(s.outChannels) + c] = y;
    }
    const std::int64_t t1 = t0 + static_cast<std::int64_t>(frameCount);
    s.written.store(t1, std::memory_order_release);
    return t1 > s.keepUntil.load(std::memory_order_relaxed) ? paComplete : paContinue;
}

} // namespace

// --- settings ---------------------------------------------------------------------------

bool parseInputMap(const std::string& text, std::array<int, 4>& channel)
{
    std::array<int, 4> c{};
    std::istringstream in(text);
    std::string item;
    int i = 0;
    while (std::getline(in, item, ',')) {
        if (i >= 4)
            return false;
        if (i == 3 && lower(item) == "digital") {
            c[3] = 0;
        } else {
            if (item.empty() || item.size() > 3 ||
                !std::all_of(item.begin(), item.end(),
                             [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)); }))
                return false;
            c[static_cast<std::size_t>(i)] = std::stoi(item);
            if (c[static_cast<std::size_t>(i)] < 1 || c[static_cast<std::size_t>(i)] > 64)
                return false;
        }
        ++i;
    }
    if (i != 4)
        return false;
    channel = c;
    return true;
}

SoundCardConfig loadSoundCardConfig(core::SettingsStore& store)
{
    SoundCardConfig c;
    c.inputDevice = store.value("Soundkarte/Eingabegeraet").value_or("");
    c.outputDevice = store.value("Soundkarte/Ausgabegeraet").value_or("");
    c.deviceRateHz = std::clamp(parseInt(store.value("Soundkarte/Abtastrate"), 48000), 8000,
                                384000);
    for (int i = 0; i < 4; ++i) {
        const int v = parseInt(store.value(std::string("Soundkarte/Kanal/") + kInputKeys[i]),
                               c.channel[static_cast<std::size_t>(i)]);
        if (v >= (i == 3 ? 0 : 1) && v <= 64)
            c.channel[static_cast<std::size_t>(i)] = v;
        const double fs =
            parseDouble(store.value(std::string("Soundkarte/Vollaussteuerung/") + kInputKeys[i]),
                        c.fullScaleVolts[static_cast<std::size_t>(i)]);
        if (fs > 0.0 && fs < 1000.0)
            c.fullScaleVolts[static_cast<std::size_t>(i)] = fs;
    }
    c.timingChannel = std::clamp(parseInt(store.value("Soundkarte/Zeitkanal"), 0), 0, 64);
    c.outputLevelDbfs =
        std::clamp(parseDouble(store.value("Soundkarte/Ausgangspegel"), -10.0), -60.0, 0.0);
    const std::string device = c.inputDevice.empty() ? "default" : c.inputDevice;
    c.calibratedLatencyFrames = parseInt(store.value(latencyKey(device)), -1);
    if (c.calibratedLatencyFrames < -1)
        c.calibratedLatencyFrames = -1;
    return c;
}

void saveSoundCardConfig(core::SettingsStore& store, const SoundCardConfig& c)
{
    store.setValue("Soundkarte/Eingabegeraet", c.inputDevice);
    store.setValue("Soundkarte/Ausgabegeraet", c.outputDevice);
    store.setValue("Soundkarte/Abtastrate", std::to_string(c.deviceRateHz));
    for (int i = 0; i < 4; ++i) {
        store.setValue(std::string("Soundkarte/Kanal/") + kInputKeys[i],
                       std::to_string(c.channel[static_cast<std::size_t>(i)]));
        store.setValue(std::string("Soundkarte/Vollaussteuerung/") + kInputKeys[i],
                       core::formatC("%.6g", c.fullScaleVolts[static_cast<std::size_t>(i)]));
    }
    store.setValue("Soundkarte/Zeitkanal", std::to_string(c.timingChannel));
    store.setValue("Soundkarte/Ausgangspegel", core::formatC("%.6g", c.outputLevelDbfs));
}

void saveCalibratedLatency(core::SettingsStore& store, const std::string& device, int frames)
{
    store.setValue(latencyKey(device.empty() ? "default" : device), std::to_string(frames));
}

// --- devices ----------------------------------------------------------------------------

std::vector<AudioDeviceInfo> listAudioDevices()
{
    std::vector<AudioDeviceInfo> list;
    PortAudioSession session;
    if (!session.ok())
        return list;
    QuietStderr quiet;
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* d = Pa_GetDeviceInfo(i);
        if (!d)
            continue;
        const PaHostApiInfo* api = Pa_GetHostApiInfo(d->hostApi);
        list.push_back({i, d->name ? d->name : "", api && api->name ? api->name : "",
                        d->maxInputChannels, d->maxOutputChannels, d->defaultSampleRate});
    }
    return list;
}

std::string audioDevicesJson(const std::vector<AudioDeviceInfo>& devices)
{
    std::string out = "[";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const AudioDeviceInfo& d = devices[i];
        out += i ? ",\n  " : "\n  ";
        out += core::formatC("{\"index\": %d, \"name\": %s, \"hostApi\": %s, "
                             "\"inputChannels\": %d, \"outputChannels\": %d, "
                             "\"defaultRateHz\": %.0f}",
                             d.index, jsonString(d.name).c_str(), jsonString(d.hostApi).c_str(),
                             d.inputChannels, d.outputChannels, d.defaultRateHz);
    }
    out += devices.empty() ? "]\n" : "\n]\n";
    return out;
}

// --- the device -------------------------------------------------------------------------

struct SoundCardDevice::Impl {
    SoundCardConfig config;
    std::unique_ptr<PortAudioSession> session;
    int inDevice = -1;
    int outDevice = -1;
    std::string inName, outName;
    std::string openError;

    PaStream* stream = nullptr;
    std::unique_ptr<StreamShared> shared;
    std::int64_t reportedLatency = 0;
    // The loop delay found on the timing channel in this stream; -1 before it was found.
    std::int64_t trackedDelay = -1;
    // The first frame a capture may use: consecutive periods follow each other.
    std::int64_t nextFree = 0;

    std::vector<std::unique_ptr<sc::PlayedMls>> playedCache;
    TimingSource timing = TimingSource::None;
    std::string lastError;
    bool youngStreamFailed = false;

    double amplitude() const { return std::pow(10.0, config.outputLevelDbfs / 20.0); }
    std::int64_t frames(double seconds) const
    {
        return static_cast<std::int64_t>(seconds * config.deviceRateHz);
    }

    int streamInputChannels() const
    {
        int n = config.timingChannel;
        for (int c : config.channel)
            n = std::max(n, c);
        return std::max(n, 1);
    }

    const sc::PlayedMls& played(int programHz)
    {
        for (const auto& p : playedCache)
            if (p->link.programHz == programHz)
                return *p;
        playedCache.push_back(std::make_unique<sc::PlayedMls>(
            sc::makePlayedMls(sc::rateLink(programHz, config.deviceRateHz), amplitude())));
        return *playedCache.back();
    }

    void closeStream()
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

    bool streamRunning() const { return stream && Pa_IsStreamActive(stream) == 1; }

    bool openStream(std::string& error)
    {
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
        // Room for the longest capture (3.2 kHz: 1.28 s and its margins) and the largest delay.
        sh->ringFrames = frames(6.0);
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
            error = core::formatC("%s kann nicht geöffnet werden (%s)", inName.c_str(),
                                  Pa_GetErrorText(e));
            return false;
        }
        e = Pa_StartStream(s);
        if (e != paNoError) {
            Pa_CloseStream(s);
            error = core::formatC("%s kann nicht gestartet werden (%s)", inName.c_str(),
                                  Pa_GetErrorText(e));
            return false;
        }
        const PaStreamInfo* info = Pa_GetStreamInfo(s);
        reportedLatency =
            info ? std::llround((info->inputLatency + info->outputLatency) * rate) : 0;
        stream = s;
        shared = std::move(sh);
        trackedDelay = -1;
        nextFree = 0;
        return true;
    }

    // Lets the MLS of `programHz` sound (or silence, for 0) and returns the stream frame from
    // which it sounds. A silent stretch (or another rate) resumes a little ahead of the
    // stream's position: the callback may be filling the next buffer right now.
    std::int64_t sound(int programHz)
    {
        const sc::PlayedMls* want = programHz > 0 ? &played(programHz) : nullptr;
        const std::int64_t now = shared->written.load(std::memory_order_acquire);
        const bool sounding = now < shared->audibleUntil.load();
        if (want == shared->played.load() && (sounding || !want))
            return shared->audibleFrom.load();
        const std::int64_t from = now + frames(0.1);
        shared->audibleUntil.store(now);     // silence while switching
        shared->played.store(want, std::memory_order_release);
        shared->audibleFrom.store(from);
        shared->audibleUntil.store(want ? from + frames(kIdleSeconds) : from);
        return from;
    }

    // Silences the MLS and lets it sound again: a fresh arrival after silence for the timing
    // channel. Returns the stream frame from which it sounds.
    std::int64_t soundAnew(int programHz)
    {
        shared->audibleUntil.store(shared->written.load(std::memory_order_acquire));
        return sound(programHz);
    }

    // Waits until the stream has delivered `frame` frames. False when the stream stops or
    // stalls ("Hardware Fehler").
    bool waitFor(std::int64_t frame)
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
                lastError = "Soundkarte: der Datenstrom ist abgebrochen";
                return false;
            }
            const double missing = double(frame - now) / config.deviceRateHz;
            std::this_thread::sleep_for(
                std::chrono::duration<double>(std::clamp(missing * 0.5, 0.002, 0.02)));
        }
    }

    // Copies frames [first, first + count) of input channel `channel` (from 1). False when
    // they have been overwritten already.
    bool copyChannel(int channel, std::int64_t first, std::int64_t count, std::vector<float>& out)
    {
        const StreamShared& s = *shared;
        if (first < 0)
            return false;
        out.resize(static_cast<std::size_t>(count));
        for (std::int64_t i = 0; i < count; ++i)
            out[static_cast<std::size_t>(i)] =
                s.ring[static_cast<std::size_t>(((first + i) % s.ringFrames) * s.inChannels +
                                                (channel - 1))];
        // Still there after the copy: the callback hasn't come round the ring meanwhile.
        return s.written.load(std::memory_order_acquire) - s.ringFrames < first;
    }

    // Where the timing channel says the delay is on frames [first, first + count), searched
    // within `range` frames of `around`.
    sc::LagMatch delayOn(std::int64_t first, std::int64_t count, std::int64_t around,
                         std::int64_t range)
    {
        std::vector<float> x;
        const sc::PlayedMls* p = shared->played.load();
        if (!p || !copyChannel(config.timingChannel, first, count, x))
            return {};
        return sc::bestLag(*p, x.data(), x.size(), 1, first, std::max<std::int64_t>(0, around - range),
                           around + range);
    }

    // Whether the MLS arrived whole on the timing channel over frames [first, first + span)
    // at `delay`: a busy machine may lose or repeat a buffer in the middle of a capture and
    // leave the delay at both ends as it was. Checked in blocks, so that a lost buffer shows
    // in a long capture as well; a damaged block matches clearly worse than the others (how
    // well an intact one matches depends on the cable's path, filters included).
    bool arrivedWhole(std::int64_t first, std::int64_t span, std::int64_t delay)
    {
        constexpr std::int64_t block = 2048;
        double worst = 1e300, best = -1e300;
        for (std::int64_t from = first; from < first + span; from += block) {
            const std::int64_t start = std::max(first, std::min(from, first + span - block));
            const double c = delayOn(start, std::min(block, span), delay, 0).correlation;
            worst = std::min(worst, c);
            best = std::max(best, c);
        }
        return best > 0.5 && worst >= kWholeCorrelationShare * best;
    }

    // The loop delay on the timing channel of a stream whose MLS started sounding at
    // `audibleFrom` after silence: its arrival marks the delay, a correlation refines it.
    std::int64_t delayFromOnset(std::int64_t audibleFrom)
    {
        const double threshold = 0.1 * amplitude();
        const std::int64_t quietRun = frames(0.03);
        const std::int64_t scanFrom = std::max<std::int64_t>(0, audibleFrom - quietRun);
        const std::int64_t limit = audibleFrom + frames(kMaxLatencySeconds);
        std::vector<float> x;
        std::int64_t onset = -1;
        for (std::int64_t upTo = audibleFrom; onset < 0 && upTo < limit;) {
            upTo = std::min(upTo + frames(0.02), limit);
            if (!waitFor(upTo) || !copyChannel(config.timingChannel, scanFrom, upTo - scanFrom, x))
                return -1;
            // Rescanned from the start each time: a quiet run may straddle two chunks, and
            // the server may still deliver the end of an earlier stream before the silence.
            const std::int64_t i = sc::findOnset(x.data(), x.size(), 1, threshold,
                                                 static_cast<std::size_t>(quietRun));
            if (i >= 0 && scanFrom + i >= audibleFrom)
                onset = scanFrom + i;
        }
        if (onset < 0)
            return -1;
        // The converter's pre-ringing crosses the threshold a few frames early, and the
        // server may still move the delay by a buffer in its first moments.
        for (int attempt = 0; attempt < 6; ++attempt) {
            const std::int64_t first = onset + frames(0.1) * (attempt + 1);
            if (!waitFor(first + 2048))
                return -1;
            const sc::LagMatch m = delayOn(first, 2048, onset - audibleFrom, kDelayTrackFrames);
            if (m.correlation > 0.5)
                return m.lag;
        }
        return -1;
    }

    // The loop delay: found on the timing channel, or calibrated, or reported.
    std::int64_t findDelay(std::int64_t audibleFrom, bool timingChannelHeard = true)
    {
        if (config.timingChannel > 0 && timingChannelHeard) {
            if (trackedDelay < 0)
                trackedDelay = delayFromOnset(audibleFrom);
            if (trackedDelay >= 0) {
                timing = TimingSource::TimingChannel;
                return trackedDelay;
            }
        }
        if (config.calibratedLatencyFrames >= 0) {
            timing = TimingSource::Calibrated;
            return config.calibratedLatencyFrames;
        }
        timing = TimingSource::Reported;
        return reportedLatency;
    }

    CaptureOutcome fail(CaptureOutcome outcome, const std::string& why)
    {
        lastError = why;
        if (outcome == CaptureOutcome::Failed) {
            youngStreamFailed = shared && shared->written.load() < frames(1.0);
            closeStream();
        }
        return outcome;
    }

    // A stream that dies in its first second (PortAudio gives up on an audio server that
    // is slow to start) is tried once more before the capture counts as failed.
    CaptureOutcome captureWithRetry(const CaptureRequest& request, RawCapture& out)
    {
        youngStreamFailed = false;
        const CaptureOutcome first = capture(request, out);
        if (first != CaptureOutcome::Failed || !youngStreamFailed)
            return first;
        const std::string why = lastError;
        const CaptureOutcome second = capture(request, out);
        if (second == CaptureOutcome::NotPresent) {
            // The device was there a moment ago: the failure is the stream's.
            lastError = why;
            return CaptureOutcome::Failed;
        }
        return second;
    }

    CaptureOutcome capture(const CaptureRequest& request, RawCapture& out)
    {
        // PortAudio's stream thread reports a failing server on stderr; the user hears of it
        // through the "Hardware Fehler" message instead.
        QuietStderr quiet;
        const int input = std::clamp(request.input, 1, 4);
        const int programHz = core::sampleRateHz(request.rateCode);
        const double fullScale = config.fullScaleVolts[static_cast<std::size_t>(input - 1)];
        // Converter counts per unit of digital signal.
        double gain = fullScale * countsPerVolt(input);
        if (request.mls)
            gain *= kBoxMlsPeakVolts / (played(programHz).sequenceLevel * kOutputFullScaleVolts);
        const int channel = config.channel[static_cast<std::size_t>(input - 1)];

        if (input == 4 && channel == 0) {
            // The internal path is the played signal itself.
            std::array<double, kMlsPeriod> ideal{};
            if (request.mls)
                sc::digitalMlsPeriod(played(programHz), ideal.data());
            for (int k = 0; k < kMlsPeriod; ++k)
                out.v[static_cast<std::size_t>(k)] = ideal[static_cast<std::size_t>(k)] * gain;
            out.v[4095] = out.v[4094];
            out.clipped = request.mls && played(programHz).amplitude >= kClipLevel;
            timing = TimingSource::TimingChannel;
            return CaptureOutcome::Delivered;
        }
        if (!session || inDevice < 0 || outDevice < 0)
            return fail(CaptureOutcome::NotPresent, openError);
        if (!streamRunning()) {
            std::string error;
            if (!openStream(error))
                return fail(CaptureOutcome::NotPresent, error);
        }

        const sc::RateLink link = sc::rateLink(programHz, config.deviceRateHz);
        const int samples = request.mls ? kMlsPeriod : 4096;
        const std::int64_t margin = sc::converterMarginFrames(link);
        const std::int64_t span = sc::framesFor(link, samples + sc::converterMarginSamples(link)) -
                                  sc::framesFor(link, sc::converterMarginSamples(link));
        // Skip at least one period after the MLS starts to sound, and the first moments in
        // which the audio server settles.
        const std::int64_t settle =
            std::max(frames(kSettleSeconds), sc::framesFor(link, kMlsPeriod));
        std::int64_t audible = sound(request.mls ? programHz : 0);

        std::int64_t first = 0;   // stream frame of the first wanted sample
        std::int64_t j0 = 0;      // the output frame it answers, a whole step
        if (request.mls) {
            std::int64_t delay = findDelay(audible);
            // On a busy machine the server drops or late-delivers buffers, and the delay may
            // jump further than it can be followed, or the MLS's arrival is missed. With a
            // timing cable there, the calibrated or reported latency would be a buffer or
            // more off without anyone noticing: the MLS is started afresh, and only when
            // its arrival is missed again is the loopback taken as silent.
            int freshStarts = 0;
            auto startAfresh = [&] {
                trackedDelay = -1;
                audible = soundAnew(programHz);
                delay = findDelay(audible, freshStarts++ < kFreshStarts);
            };
            while (config.timingChannel > 0 && timing != TimingSource::TimingChannel &&
                   freshStarts < kFreshStarts)
                startAfresh();
            for (int attempt = 0;; ++attempt) {
                const std::int64_t earliest = std::max(nextFree, audible + delay + settle) - delay;
                j0 = (earliest + link.frameStep - 1) / link.frameStep * link.frameStep;
                first = j0 + delay;
                if (!waitFor(first + span + margin))
                    return fail(CaptureOutcome::Failed, lastError);
                if (timing != TimingSource::TimingChannel)
                    break;
                // The delay must hold from the start of the capture to its end; the audio
                // server may move it by a buffer, then take the next period.
                const std::int64_t probe = std::min<std::int64_t>(span, 2048);
                const sc::LagMatch head = delayOn(first, probe, delay, kDelayTrackFrames);
                const sc::LagMatch tail =
                    delayOn(first + span - probe, probe, delay, kDelayTrackFrames);
                const bool held = head.lag == delay && tail.lag == delay;
                if (held && arrivedWhole(first, span, delay))
                    break;
                if (attempt >= 8)
                    return fail(CaptureOutcome::Failed,
                                held ? "Soundkarte: die Aufnahme wird ständig gestört"
                                     : "Soundkarte: die Verzögerung ändert sich ständig");
                if (held) {
                    // The delay held, but something in between was lost: take the next period.
                    nextFree = first + span;
                } else if (head.correlation < 0.5 && tail.correlation < 0.5 && attempt >= 2) {
                    // Nothing of the MLS near the delay: it jumped far, or the loopback went
                    // silent (then there is no timing reference any more).
                    startAfresh();
                } else if (head.lag == tail.lag && head.correlation >= 0.5) {
                    trackedDelay = delay = head.lag;
                    nextFree = first;
                } else {
                    nextFree = first + span;
                }
            }
        } else {
            timing = TimingSource::None;
            first = std::max(nextFree, audible + settle);
            if (!waitFor(first + span + margin))
                return fail(CaptureOutcome::Failed, lastError);
        }
        nextFree = first + span;

        std::vector<float> frames;
        if (!copyChannel(channel, first - margin, span + 2 * margin, frames))
            return fail(CaptureOutcome::Failed, "Soundkarte: Daten wurden überschrieben");
        out.clipped = false;
        for (std::int64_t i = margin; i < margin + span; ++i)
            if (std::fabs(frames[static_cast<std::size_t>(i)]) >= kClipLevel)
                out.clipped = true;
        std::vector<double> converted;
        if (!sc::toProgramRate(link, frames.data(), frames.size(), samples, converted))
            return fail(CaptureOutcome::Failed,
                        "Soundkarte: Umrechnung der Abtastrate fehlgeschlagen");
        if (request.mls) {
            std::array<double, kMlsPeriod> aligned{};
            const std::int64_t firstSample = (j0 / link.frameStep) * link.sampleStep % kMlsPeriod;
            sc::alignMlsPeriod(converted, firstSample, aligned.data());
            for (int k = 0; k < kMlsPeriod; ++k)
                out.v[static_cast<std::size_t>(k)] = aligned[static_cast<std::size_t>(k)] * gain;
            out.v[4095] = out.v[4094];
        } else {
            for (int k = 0; k < 4096; ++k)
                out.v[static_cast<std::size_t>(k)] = converted[static_cast<std::size_t>(k)] * gain;
        }
        return CaptureOutcome::Delivered;
    }
};

SoundCardDevice::SoundCardDevice(SoundCardConfig config) : impl_(std::make_unique<Impl>())
{
    impl_->config = std::move(config);
}

SoundCardDevice::~SoundCardDevice() { stop(); }

bool SoundCardDevice::open(std::string& error)
{
    Impl& d = *impl_;
    d.closeStream();
    d.session = std::make_unique<PortAudioSession>();
    d.inDevice = d.outDevice = -1;
    if (!d.session->ok()) {
        d.openError = "Audiosystem nicht verfügbar";
        error = d.openError;
        return false;
    }
    {
        QuietStderr quiet;
        d.inDevice = findDevice(d.config.inputDevice, true);
        d.outDevice = findDevice(
            d.config.outputDevice.empty() ? d.config.inputDevice : d.config.outputDevice, false);
        d.inName = deviceName(d.inDevice);
        d.outName = deviceName(d.outDevice);
    }
    if (d.inDevice < 0 || d.outDevice < 0) {
        const std::string missing =
            d.inDevice < 0 ? d.config.inputDevice
                           : (d.config.outputDevice.empty() ? d.config.inputDevice
                                                            : d.config.outputDevice);
        d.openError = "Soundkarte " +
                      (missing.empty() ? std::string("(Standardgerät)") : "\"" + missing + "\"") +
                      " nicht gefunden";
        d.inDevice = d.outDevice = -1;
        error = d.openError;
        return false;
    }
    // The stream opens now and keeps running (silent) for the captures to come: audio
    // servers take a moment to start one.
    std::string why;
    if (!d.openStream(why)) {
        d.openError = why;
        d.inDevice = d.outDevice = -1;
        error = why;
        return false;
    }
    d.openError.clear();
    return true;
}

CaptureOutcome SoundCardDevice::capture(const CaptureRequest& request, RawCapture& out)
{
    const TimingSource before = impl_->timing;
    const CaptureOutcome outcome = impl_->captureWithRetry(request, out);
    // The status bar names the device, and says when a capture had no timing reference.
    if (outcome != CaptureOutcome::Delivered)
        core::ui().setStatusText(2, impl_->lastError);
    else if (impl_->timing != before)
        core::ui().setStatusText(2, statusText());
    return outcome;
}

int SoundCardDevice::hardwareNumber(int) { return 9; }

void SoundCardDevice::pauseMs(int) {}

std::string SoundCardDevice::description() const
{
    const Impl& d = *impl_;
    std::string name = d.inName.empty() ? (d.config.inputDevice.empty() ? std::string("Standard")
                                                                         : d.config.inputDevice)
                                        : d.inName;
    if (!d.outName.empty() && d.outName != d.inName)
        name += " / " + d.outName;
    return "Soundkarte: " + name;
}

std::string SoundCardDevice::statusText() const
{
    std::string s = description();
    if (impl_->timing == TimingSource::Reported)
        s += " (ohne Zeitreferenz)";
    return s;
}

TimingSource SoundCardDevice::lastTiming() const { return impl_->timing; }

std::string SoundCardDevice::lastError() const { return impl_->lastError; }

void SoundCardDevice::stop()
{
    if (impl_)
        impl_->closeStream();
}

SoundCardTestResult SoundCardDevice::test()
{
    SoundCardTestResult r = testOnce();
    if (!r.ok && impl_->youngStreamFailed)
        r = testOnce();
    return r;
}

SoundCardTestResult SoundCardDevice::testOnce()
{
    Impl& d = *impl_;
    d.youngStreamFailed = false;
    QuietStderr quiet;
    SoundCardTestResult r;
    r.separateDevices = d.inDevice != d.outDevice;
    if (!d.session || d.inDevice < 0) {
        r.error = d.openError;
        return r;
    }
    if (!d.streamRunning() && !d.openStream(r.error))
        return r;
    // The MLS at 51.2 kHz, converted, for half a second after it arrived.
    const std::int64_t from = d.sound(51200);
    // The delay on the timing channel, or on Line1's channel with a loopback cable there.
    const int savedTiming = d.config.timingChannel;
    if (d.config.timingChannel <= 0)
        d.config.timingChannel = d.config.channel[0];
    d.trackedDelay = -1;
    const std::int64_t delay = d.delayFromOnset(from);
    d.config.timingChannel = savedTiming;
    d.trackedDelay = -1;
    if (delay >= 0) {
        r.latencyFrames = static_cast<int>(delay);
        r.latencyMs = 1000.0 * double(delay) / d.config.deviceRateHz;
    }
    const std::int64_t start = from + std::max<std::int64_t>(delay, 0);
    const std::int64_t end = start + d.frames(0.5);
    if (!d.waitFor(end)) {
        r.error = d.lastError;
        d.fail(CaptureOutcome::Failed, d.lastError);
        return r;
    }
    std::vector<float> x;
    for (int c = 1; c <= d.shared->inChannels; ++c) {
        double peak = 0.0;
        if (d.copyChannel(c, start, end - start, x))
            for (float v : x)
                peak = std::max(peak, double(std::fabs(v)));
        r.peakDbfs.push_back(20.0 * std::log10(peak + 1e-12));
        r.clipped.push_back(peak >= kClipLevel);
    }
    // Silence again, and the next capture starts afresh.
    d.sound(0);
    d.nextFree = d.shared->written.load();
    r.ok = true;
    return r;
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
    const int savedTiming = d.config.timingChannel;
    if (d.config.timingChannel <= 0)
        d.config.timingChannel = d.config.channel[0];
    d.trackedDelay = -1;
    const std::int64_t from = d.sound(51200);
    std::int64_t result = d.delayFromOnset(from);
    if (result >= 0) {
        // Take the delay that holds once the server has settled.
        const std::int64_t first = from + result + d.frames(0.5);
        if (d.waitFor(first + 4096)) {
            const sc::LagMatch m = d.delayOn(first, 4096, result, kDelayTrackFrames);
            result = m.correlation > 0.5 ? m.lag : -1;
        }
    }
    d.config.timingChannel = savedTiming;
    d.trackedDelay = -1;
    d.sound(0);
    d.nextFree = d.shared ? d.shared->written.load() : 0;
    if (result < 0) {
        error = "Keine Schleife gefunden: den Ausgang mit dem Eingang verbinden";
        return -1;
    }
    d.config.calibratedLatencyFrames = static_cast<int>(result);
    return static_cast<int>(result);
}

} // namespace box
