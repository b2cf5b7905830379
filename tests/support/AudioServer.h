// A private PulseAudio daemon for the sound-card tests: its own runtime folder, a null sink
// whose monitor is the loop, ended by its process id. Where it can't start, the tests skip
// with the reason, unless ORVO_REQUIRE_AUDIO=1 (CI), which makes that a failure.
#pragma once

#include <string>
#include <sys/types.h>

namespace testsupport {

class AudioServer {
public:
    AudioServer() = default;
    ~AudioServer();
    AudioServer(const AudioServer&) = delete;
    AudioServer& operator=(const AudioServer&) = delete;

    // Starts the daemon with a null sink "orvo_loop" (float, stereo, at `rateHz`: 48 kHz, or
    // 44.1 kHz as on a usual desktop) and points this process's audio clients at it
    // (PULSE_SERVER, PULSE_SINK, PULSE_SOURCE). False with `why` when it can't.
    bool start(const std::string& folder, std::string& why, int rateHz = 48000);
    int rateHz() const { return rateHz_; }
    void stop();
    bool running() const { return pid_ > 0; }

    // pactl against this server; its exit status.
    int pactl(const std::string& args) const;
    // Loads a LADSPA filter sink in front of the null sink and makes it the playback sink.
    // `plugin` e.g. "filter", `label` "lpf", `control` "1000". False when it won't load.
    bool loadLadspaSink(const std::string& name, const std::string& plugin,
                        const std::string& label, const std::string& control);
    // Sets the gain of every client's playing stream (not the filters' own), as pactl takes
    // it ("0.5", "-6dB"): a cable switched to another path while the stream runs. False when
    // no such stream plays.
    bool setStreamGain(const std::string& factor) const;
    // Kills the daemon at once (a server that dies in mid-capture).
    void kill();

    std::string serverAddress() const { return "unix:" + runtime_ + "/pulse/native"; }
    pid_t pid() const { return pid_; }

private:
    std::string runtime_;
    pid_t pid_ = -1;
    int rateHz_ = 48000;
};

// True when ORVO_REQUIRE_AUDIO=1: a daemon that can't start is a failure, not a skip.
bool audioRequired();

} // namespace testsupport
