// The device itself: opening it on the configured devices, and what it tells the window.
#include "box/SoundCard.h"
#include "box/SoundCardImpl.h"

#include "core/Settings.h"
#include "core/Strings.h"

#include <portaudio.h>

namespace box
{

using namespace soundcard_detail;

SoundCardDevice::SoundCardDevice(SoundCardConfig config) : impl_(std::make_unique<Impl>())
{
    impl_->config = std::move(config);
    impl_->requestedRateHz = impl_->config.deviceRateHz;
    if (impl_->config.deviceRateHz <= 0)
        impl_->config.deviceRateHz = 48000; // until open() knows the device's own
}

SoundCardDevice::~SoundCardDevice()
{
    stop();
}

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
            d.inDevice < 0
                ? d.config.inputDevice
                : (d.config.outputDevice.empty() ? d.config.inputDevice : d.config.outputDevice);
        d.openError = "Soundkarte " +
                      (missing.empty() ? std::string("(Standardgerät)") : "\"" + missing + "\"") +
                      " nicht gefunden";
        d.inDevice = d.outDevice = -1;
        error = d.openError;
        return false;
    }
    {
        QuietStderr quiet;
        d.chooseRate();
    }
    d.playedCache.clear();
    // The stream opens now and keeps running (silent) for the captures to come: audio
    // servers take a moment to start one.
    std::string why;
    bool opened = d.openStream(why);
    if (!opened && d.requestedRateHz > 0 && d.config.deviceRateHz == d.requestedRateHz) {
        // The rate set was taken as working, but the stream won't run at it.
        int serverHz = 0;
        const int own = d.ownRateHz(serverHz);
        if (own != d.requestedRateHz) {
            d.config.deviceRateHz = own;
            d.playedCache.clear();
            opened = d.openStream(why);
            d.rateNotice = core::formatC("Soundkarte: %d Hz sind mit %s nicht möglich, das Gerät "
                                         "läuft mit %d Hz; es wird mit %d Hz gemessen",
                                         d.requestedRateHz, d.inName.c_str(), own, own);
        }
    }
    if (!opened) {
        d.openError = why;
        d.inDevice = d.outDevice = -1;
        error = why;
        return false;
    }
    d.openError.clear();
    return true;
}

int SoundCardDevice::hardwareNumber(int)
{
    return 9;
}

int SoundCardDevice::rateHz() const
{
    return impl_->config.deviceRateHz;
}

std::string SoundCardDevice::rateNotice() const
{
    return impl_->rateNotice;
}

void SoundCardDevice::pauseMs(int) {}

void SoundCardDevice::wiringConfirmed(int)
{
    impl_->rewired = true;
}

double SoundCardDevice::stimulusGain(const CaptureRequest& request, double hz)
{
    Impl& d = *impl_;
    const sc::PlayedMls& mls = d.played(core::sampleRateHz(request.rateCode));
    if (request.excitation != Excitation::Sweep)
        return sc::stimulusGain(mls, hz);
    const dsp::SweepPlan plan =
        sc::planDeviceSweep(request, d.config.deviceRateHz, d.amplitude());
    return sc::sweepStimulusGain(plan, mls, hz);
}

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
    if (impl_->timing == TimingSource::Reported || impl_->timing == TimingSource::MeasuredChannel)
        s += " (ohne Zeitreferenz)";
    if (impl_->overloaded)
        s += " (übersteuert)";
    return s;
}

TimingSource SoundCardDevice::lastTiming() const
{
    return impl_->timing;
}

std::string SoundCardDevice::lastError() const
{
    return impl_->lastError;
}

std::string SoundCardDevice::failureText() const
{
    const Impl& d = *impl_;
    const std::string& why = d.lastError;
    const std::string name = d.inName.empty() ? d.config.inputDevice : d.inName;
    if (why.empty() || name.empty() || why.find("\"" + name + "\"") != std::string::npos)
        return why;
    const std::string label = "Soundkarte \"" + name + "\"";
    if (why.rfind("Soundkarte: ", 0) == 0)
        return label + ": " + why.substr(12);
    if (why.rfind("Soundkarte ", 0) == 0)
        return label + " " + why.substr(11);
    return label + ": " + why;
}

void SoundCardDevice::stop()
{
    if (impl_)
        impl_->closeStream();
}

} // namespace box
