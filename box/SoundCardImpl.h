// The sound card's insides, shared by the SoundCard*.cpp files and by nothing else: the
// stream's state shared with the audio callback, the helpers around PortAudio, and
// SoundCardDevice::Impl, whose parts live in the file of their job:
//   SoundCard.cpp          opening the device, and what it tells the window
//   SoundCardDevices.cpp   finding the devices, choosing the rate
//   SoundCardStream.cpp    the stream, its ring and the played stimulus
//   SoundCardDelay.cpp     the search for the loop delay
//   SoundCardCapture.cpp   one capture
//   SoundCardCalibrate.cpp the "Test" button and the latency calibration
#pragma once

#include "box/SoundCard.h"
#include "box/SoundCardSignal.h"

#include <portaudio.h>

#include "dsp/Sweep.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <string>
#include <vector>

namespace box
{

namespace sc = soundcard;

namespace soundcard_detail
{

// A sample at or above -0.1 dBFS counts as clipped.
inline const double kClipLevel = std::pow(10.0, -0.1 / 20.0);
// The audio server may move the loop delay by a buffer or two while a stream runs; the
// timing channel follows it within this many frames.
inline constexpr std::int64_t kDelayTrackFrames = 800;
// Why a capture failed when the stream stopped under it.
inline const char* const kStreamEnded =
    "Soundkarte: der Datenstrom ist abgebrochen (Audio-Server beendet oder Gerät entfernt?)";

// Keeps stderr closed while it lives (SoundCardQuiet.cpp).
class QuietStderr
{
public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};

// PortAudio counts its initialisations; each session holds one.
class PortAudioSession
{
public:
    PortAudioSession();
    ~PortAudioSession();
    PortAudioSession(const PortAudioSession&) = delete;
    PortAudioSession& operator=(const PortAudioSession&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

std::string lower(std::string s);
// The device whose name contains `name` (or is contained in it), with channels in the wanted
// direction; the system's default device for an empty name. -1 when there is none.
int findDevice(const std::string& name, bool input);
std::string deviceName(int index);

// The stream's state shared with the audio callback. The callback only copies: captured
// frames into the ring, the played cycle out, and a counter of frames.
struct StreamShared {
    int inChannels = 1;
    int outChannels = 1;
    std::vector<float> ring; // inChannels interleaved, ringFrames long
    std::int64_t ringFrames = 0;
    std::atomic<std::int64_t> written{0};
    // The MLS sounds on stream frames [audibleFrom, audibleUntil), silence elsewhere. Its
    // cycle keeps its phase through silent stretches: stream frame t plays cycle frame
    // t mod cycle length, so a delay found once holds for the stream's life.
    std::atomic<const sc::PlayedMls*> played{nullptr};
    std::atomic<std::int64_t> audibleFrom{0};
    std::atomic<std::int64_t> audibleUntil{0};
    std::atomic<std::int64_t> keepUntil{0};
    // A sweep plays once, from its first frame on audibleFrom: the callback notes the stream
    // frame it played that first frame on, so that a sweep whose start the callback missed
    // (it was filling that buffer already) is known and played again.
    std::atomic<std::int64_t> onceStarted{-1};
    // Frames of the callback's last buffer: a sweep starts two buffers ahead of the stream.
    std::atomic<std::int64_t> lastBuffer{0};
};

// The input the loop delay is found on, and how the MLS comes back on it: through a
// loopback cable (the timing channel, or the loop "Test" and "Latenz kalibrieren" time), or
// through the device under test on the measured channel itself.
struct DelayPath {
    int channel = 0; // from 1
    bool cable = false;
    double minMatch() const;
};

// The frames of one capture at the device's rate.
struct CaptureLayout {
    sc::RateLink link;
    int samples = 0;         // program samples of one period
    std::int64_t margin = 0; // the rate converter's frames on either side
    std::int64_t span = 0;   // frames of one period
    std::int64_t settle = 0; // frames after the stimulus starts before the first capture
};

// The stimulus of a capture while its delay is looked for: from which stream frame it
// sounds, its delay on `path` (-1: not found), and how often it was started afresh.
struct DelayTrack {
    const sc::PlayedMls& stimulus;
    DelayPath path;
    std::int64_t audible = 0;
    std::int64_t delay = -1;
    int freshStarts = 0;
};

// Where a capture lies in the stream, or why none was found.
struct CaptureWindow {
    bool found = false;
    std::int64_t first = 0; // stream frame of the first wanted sample
    std::int64_t j0 = 0;    // the output frame it answers, a whole step
    std::string error;      // German, when not found
};

// How one attempt at a capture (or at the test) ended. `youngStream`: it failed because its
// stream died in its first second (PortAudio gives up on an audio server that is slow to
// start), and is worth one more try.
struct CaptureAttempt {
    CaptureOutcome outcome = CaptureOutcome::Failed;
    bool youngStream = false;
};

struct TestAttempt {
    SoundCardTestResult result;
    bool youngStream = false;
};

} // namespace soundcard_detail

struct SoundCardDevice::Impl {
    using CaptureAttempt = soundcard_detail::CaptureAttempt;
    using TestAttempt = soundcard_detail::TestAttempt;
    using DelayPath = soundcard_detail::DelayPath;
    using CaptureLayout = soundcard_detail::CaptureLayout;
    using DelayTrack = soundcard_detail::DelayTrack;
    using CaptureWindow = soundcard_detail::CaptureWindow;

    SoundCardConfig config;
    std::unique_ptr<soundcard_detail::PortAudioSession> session;
    int inDevice = -1;
    int outDevice = -1;
    std::string inName, outName;
    std::string openError;
    // The rate the user set (0: none); config.deviceRateHz is the rate the stream runs at.
    int requestedRateHz = 0;
    std::string rateNotice;
    bool rateNoticeShown = false;

    PaStream* stream = nullptr;
    std::unique_ptr<soundcard_detail::StreamShared> shared;
    std::int64_t reportedLatency = 0;
    // The loop delay found on the timing channel in this stream; -1 before it was found.
    std::int64_t trackedDelay = -1;
    // The first frame a capture may use: consecutive periods follow each other.
    std::int64_t nextFree = 0;
    // The user confirmed a wiring prompt: what the ring holds, and what is still on its way
    // through the loop, answers the old wiring. The next capture starts the MLS afresh after
    // silence and finds its arrival again, so that it takes only frames played after the
    // confirmation, however fast the user confirmed and however late the server delivers.
    bool rewired = false;

    std::vector<std::unique_ptr<sc::PlayedMls>> playedCache;
    // The sweeps played so far, with their plans; kept like the stimuli above, since the
    // callback may still hold one.
    std::vector<std::pair<dsp::SweepPlan, std::unique_ptr<sc::PlayedMls>>> sweepCache;
    TimingSource timing = TimingSource::None;
    // The channel trackedDelay was found on.
    int trackedChannel = 0;
    // A capture of the current measurement reached the limit of the input. The captures of
    // one measurement follow each other at once; one that comes later than kNextMeasurement
    // after the last begins the next measurement.
    bool overloaded = false;
    std::chrono::steady_clock::time_point lastCaptureEnd{};
    std::string lastError;

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

    bool streamRunning() const { return stream && Pa_IsStreamActive(stream) == 1; }

    bool timed() const
    {
        return timing == TimingSource::TimingChannel || timing == TimingSource::MeasuredChannel;
    }

    // SoundCardDevices.cpp: the device's rate.
    bool serverDevice() const;
    int ownRateHz(int& serverHz) const;
    bool rateWorks(int rateHz, int serverHz) const;
    void chooseRate();

    // SoundCardStream.cpp: the stream.
    const sc::PlayedMls& played(int programHz, Excitation excitation = Excitation::Mls,
                                int noisePeriod = 4096);
    void closeStream();
    std::string streamFailure(const char* what, PaError e) const;
    bool resumeStream();
    bool openStream(std::string& error);
    std::int64_t sound(const sc::PlayedMls* want);
    std::int64_t soundAnew(const sc::PlayedMls* want);
    const sc::PlayedMls& playedSweep(int programHz, const dsp::SweepPlan& plan);
    std::int64_t soundOnce(const sc::PlayedMls* sweep);
    bool waitFor(std::int64_t frame);
    bool copyChannel(int channel, std::int64_t first, std::int64_t count, std::vector<float>& out);

    // SoundCardDelay.cpp: the loop delay.
    std::int64_t blockFor(std::int64_t dense) const;
    // A capture's delay is found on the timing channel, or without one on the measured
    // channel itself.
    DelayPath capturePath(int measuredChannel) const;
    // "Test" and "Latenz kalibrieren" time the loop on the timing channel, or on Line1's
    // channel with a loopback cable there.
    DelayPath loopbackPath() const;
    sc::LagMatch delayOn(int channel, std::int64_t first, std::int64_t count, std::int64_t around,
                         std::int64_t range);
    bool arrivedWhole(const DelayPath& path, std::int64_t first, std::int64_t span,
                      std::int64_t lead, std::int64_t delay);
    std::int64_t delayFromOnset(int channel, std::int64_t audibleFrom);
    std::int64_t delayFromCorrelation(const DelayPath& path, std::int64_t audibleFrom);
    std::int64_t arrivalOnMeasuredChannel(const DelayPath& path, std::int64_t audibleFrom,
                                          std::int64_t lag, std::int64_t period);
    std::int64_t findDelay(const DelayPath& path, std::int64_t audibleFrom, bool heard = true);
    std::string notTimedError(const DelayPath& path) const;

    // SoundCardCalibrate.cpp: the "Test" button.
    TestAttempt testOnce();

    // SoundCardCapture.cpp: one capture.
    CaptureAttempt fail(CaptureOutcome outcome, const std::string& why);
    CaptureOutcome captureWithRetry(const CaptureRequest& request, RawCapture& out);
    CaptureAttempt capture(const CaptureRequest& request, RawCapture& out);
    double captureGain(int input, Excitation excitation, const sc::PlayedMls& stimulus) const;
    CaptureAttempt captureInternal(const sc::PlayedMls& stimulus, double gain, RawCapture& out);
    CaptureLayout captureLayout(int programHz, int samples) const;
    void timeStimulus(DelayTrack& track);
    void startAfresh(DelayTrack& track);
    CaptureWindow findWindow(const CaptureLayout& layout, DelayTrack& track);
    CaptureAttempt deliver(const CaptureLayout& layout, const CaptureWindow& window, int channel,
                           double gain, RawCapture& out);

    // SoundCardSweep.cpp: a capture of the sweep.
    double sweepCountsPerUnit(int input) const;
    CaptureAttempt captureSweep(const CaptureRequest& request, int input, int channel,
                                RawCapture& out);
    CaptureAttempt deliverSweep(const dsp::SweepPlan& plan, std::span<const double> capture,
                                const sc::PlayedMls& edgeSource, double countsPerUnit,
                                RawCapture& out);
};

} // namespace box
