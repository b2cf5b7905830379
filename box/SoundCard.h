// A sound card as the measurement box: one full-duplex PortAudio stream plays the box's MLS
// (converted to the device's rate) and captures the inputs; the capture is converted back
// to the program's rate, aligned on a timing reference and handed on in converter counts,
// as the box's codes would be. The runs, the level worker and the T/S procedure don't know
// which box they drive.
#pragma once

#include "box/Acquisition.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace core {
class SettingsStore;
}

namespace box {

// The box's inputs in the order of their codes 1..4.
enum class BoxInput { Line1 = 0, Mic = 1, Line2 = 2, RefInt = 3 };

struct SoundCardConfig {
    // A part of the device's name (or the name containing this text); empty: the system's
    // default device. The output device defaults to the input device.
    std::string inputDevice;
    std::string outputDevice;
    // The rate the device runs at; 0: the device's own (for a sound server, the rate the
    // server runs), which is what a user who doesn't know the rate gets.
    int deviceRateHz = 0;
    // Input channel (from 1) for Line1, Mic., Line2, Ref_Int; 0 for Ref_Int is the played
    // signal itself, an ideal internal path.
    std::array<int, 4> channel{1, 1, 2, 0};
    // Channel of a loopback cable recorded with every capture to remove the loop's delay;
    // 0: none.
    int timingChannel = 0;
    // Peak of the played MLS, dB re digital full scale.
    double outputLevelDbfs = -10.0;
    // Volts at the input for digital full scale, per input; the box's ranges by default.
    std::array<double, 4> fullScaleVolts{1.6, 0.16, 1.6, 1.6};
    // Loop delay in device frames from "Latenz kalibrieren"; -1: not calibrated.
    int calibratedLatencyFrames = -1;
};

// The settings-store keys of the configuration ("Soundkarte/..."), and the calibrated
// latency per device ("Soundkarte/Latenz/<device>").
SoundCardConfig loadSoundCardConfig(core::SettingsStore& store);
void saveSoundCardConfig(core::SettingsStore& store, const SoundCardConfig& config);
void saveCalibratedLatency(core::SettingsStore& store, const std::string& device, int frames);

// Parses "L1,MIC,L2,REF" (channel numbers from 1, "digital" for REF); false when malformed.
bool parseInputMap(const std::string& text, std::array<int, 4>& channel);

struct AudioDeviceInfo {
    int index = -1;
    std::string name;
    std::string hostApi;
    int inputChannels = 0;
    int outputChannels = 0;
    double defaultRateHz = 0.0;
};
// Every device the audio system offers. The diagnostics the audio libraries print while they
// probe never reach the terminal.
std::vector<AudioDeviceInfo> listAudioDevices();
std::string audioDevicesJson(const std::vector<AudioDeviceInfo>& devices);

// Where the delay of the last capture came from.
enum class TimingSource {
    None,            // no capture yet, or no stimulus played
    TimingChannel,   // the loopback channel recorded with the capture
    MeasuredChannel, // no cable: the MLS found in the measured channel itself
    // Earlier fallbacks, kept for their codes: a capture no longer takes the calibrated or
    // reported latency as it is (it is only where the search on the measured channel starts).
    Calibrated, // the latency measured with "Latenz kalibrieren"
    Reported,   // what the audio system reports: "ohne Zeitreferenz"
};

// What the "Test" button shows.
struct SoundCardTestResult {
    bool ok = false;
    std::string error;                      // German, for the user
    std::vector<double> peakDbfs;           // per input channel of the stream
    std::vector<bool> clipped;              // per input channel: at or above -0.1 dBFS
    int latencyFrames = -1;                 // loop delay on the timing (or Line1) channel
    double latencyMs = -1.0;
    bool separateDevices = false;           // input and output on different clocks
};

class SoundCardDevice : public AcquisitionDevice {
public:
    explicit SoundCardDevice(SoundCardConfig config);
    ~SoundCardDevice() override;
    SoundCardDevice(const SoundCardDevice&) = delete;
    SoundCardDevice& operator=(const SoundCardDevice&) = delete;

    // Finds the devices and checks that a stream opens at the device rate. On failure
    // `error` says why (German) and captures report "Hardware nicht vorhanden".
    bool open(std::string& error);

    CaptureOutcome capture(const CaptureRequest& request, RawCapture& out) override;
    // The sound card offers every rate the program has.
    int hardwareNumber(int parallelPort) override;
    // Averages take consecutive periods of the one running stream: no pause is needed.
    void pauseMs(int ms) override;
    // The user has changed the wiring: the next capture takes only what is played after
    // this moment.
    void wiringConfirmed(int stringId) override;
    // Every played stimulus is band-limited below the lower of the two Nyquist frequencies; a
    // sweep's record holds its band besides.
    double stimulusGain(const CaptureRequest& request, double hz) override;

    // The rate the stream runs at, known once open() succeeded.
    int rateHz() const;
    // Set by open() when the rate the user set doesn't work on the device and its own rate
    // is taken instead: one message that names both rates (German); empty otherwise. The
    // first capture shows it.
    std::string rateNotice() const;

    // "Soundkarte: <device>" for the title and the status bar.
    std::string description() const;
    // The device text with "(ohne Zeitreferenz)" when the last capture had no timing
    // reference, and "(übersteuert)" from an overloaded capture until the next measurement,
    // for the status bar.
    std::string statusText() const;
    TimingSource lastTiming() const;
    // The reason of the last "Hardware nicht vorhanden" or "Hardware Fehler", German.
    std::string lastError() const;
    // The same, naming the device, for the message of the failed measurement.
    std::string failureText() const override;
    // Stops and closes the stream. Until then it stays open: the MLS falls silent a second
    // after the last capture, and the stream pauses itself a little later (an idle card
    // costs nothing) and resumes at once for the next capture.
    void stop();

    // Plays the MLS at 51.2 kHz (converted) for about half a second and reports the inputs.
    SoundCardTestResult test();
    // Measures the loop delay on the timing channel (or Line1's channel when none is set)
    // through a loopback cable; -1 and `error` when no loop was heard.
    int calibrateLatency(std::string& error);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace box
