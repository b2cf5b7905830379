// The sound card's configuration in the settings store, and the device list as JSON.
#include "box/SoundCard.h"
#include "box/SoundCardImpl.h"

#include "core/SettingsStore.h"
#include "core/Strings.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <locale>
#include <optional>
#include <sstream>

namespace box
{

using soundcard_detail::lower;

namespace
{

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

std::string latencyKey(const std::string& device)
{
    return "Soundkarte/Latenz/" + device;
}

const char* const kInputKeys[4] = {"Line1", "Mic", "Line2", "Ref"};

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
    c.deviceRateHz = parseInt(store.value("Soundkarte/Abtastrate"), 0);
    if (c.deviceRateHz != 0)
        c.deviceRateHz = std::clamp(c.deviceRateHz, 8000, 384000);
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

} // namespace box
