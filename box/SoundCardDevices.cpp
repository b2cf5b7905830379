// Finding the devices by name, listing them, and choosing the rate the stream runs at.
#include "box/SoundCard.h"
#include "box/SoundCardImpl.h"

#include "box/ServerRate.h"
#include "core/Strings.h"

#include <portaudio.h>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace box
{

namespace soundcard_detail
{

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

} // namespace soundcard_detail

using namespace soundcard_detail;

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

// --- the device's rate ------------------------------------------------------------------

// Whether the input device is a sound server's: ALSA's plugins that hand the stream to
// the server accept any rate and report 44100 Hz whatever the server runs.
bool SoundCardDevice::Impl::serverDevice() const
{
    const PaDeviceInfo* info = Pa_GetDeviceInfo(inDevice);
    const PaHostApiInfo* api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    const std::string n = lower(inName);
    return api && api->type == paALSA && (n == "pulse" || n == "default" || n == "pipewire");
}

// The device's own rate, and the server's rate when it is a server's device (0 when it
// isn't, or when no server answered).
int SoundCardDevice::Impl::ownRateHz(int& serverHz) const
{
    serverHz = serverDevice() ? soundServerSourceRateHz() : 0;
    if (serverHz > 0)
        return serverHz;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(inDevice);
    const int rate = info ? static_cast<int>(std::lround(info->defaultSampleRate)) : 0;
    return rate >= 8000 ? rate : 48000;
}

// Whether a full-duplex stream of the configured channels can run at `rateHz`. A
// server's device takes any rate, but the server then resamples the monitor and the
// ALSA plugin loses frames now and then; only the server's own rate is sure to run.
bool SoundCardDevice::Impl::rateWorks(int rateHz, int serverHz) const
{
    if (serverHz > 0)
        return rateHz == serverHz;
    const PaDeviceInfo* inInfo = Pa_GetDeviceInfo(inDevice);
    const PaDeviceInfo* outInfo = Pa_GetDeviceInfo(outDevice);
    if (!inInfo || !outInfo)
        return false;
    PaStreamParameters in{};
    in.device = inDevice;
    in.channelCount = std::min(streamInputChannels(), std::max(inInfo->maxInputChannels, 1));
    in.sampleFormat = paFloat32;
    in.suggestedLatency = inInfo->defaultHighInputLatency;
    PaStreamParameters out{};
    out.device = outDevice;
    out.channelCount = std::clamp(outInfo->maxOutputChannels, 1, 2);
    out.sampleFormat = paFloat32;
    out.suggestedLatency = outInfo->defaultHighOutputLatency;
    return Pa_IsFormatSupported(&in, &out, rateHz) == paFormatIsSupported;
}

// Chooses the rate the stream runs at: the one set, when it works; the device's own
// otherwise, with one message that names both.
void SoundCardDevice::Impl::chooseRate()
{
    int serverHz = 0;
    const int own = ownRateHz(serverHz);
    rateNotice.clear();
    rateNoticeShown = false;
    config.deviceRateHz = own;
    if (requestedRateHz <= 0 || requestedRateHz == own)
        return;
    if (rateWorks(requestedRateHz, serverHz)) {
        config.deviceRateHz = requestedRateHz;
        return;
    }
    rateNotice = core::formatC("Soundkarte: %d Hz sind mit %s nicht möglich, das Gerät läuft "
                               "mit %d Hz; es wird mit %d Hz gemessen",
                               requestedRateHz, inName.c_str(), own, own);
}

} // namespace box
