// The rate a sound server (PulseAudio, or PipeWire's PulseAudio service) runs the source that
// a client records from. A device such as ALSA's "pulse" or "default" accepts any rate and
// lets the server resample; it reports 44100 Hz whatever the server runs.
#pragma once

#include <string>

namespace box {

// What the sound server says about the source this process records from.
struct ServerSource {
    bool serverAnswered = false;
    std::string sourceName; // PULSE_SOURCE, or the server's default source
    bool sourceFound = false;
    int rateHz = 0;
};
// Asks the server within a second; nothing answered when it doesn't (or without the
// server's client library).
ServerSource querySoundServerSource();

// The rate of the source this process records from (PULSE_SOURCE, or the server's default
// source); 0 when no server answers within a second, or when the program was built without
// the server's client library.
int soundServerSourceRateHz();

} // namespace box
