#include "box/PortAccess.h"

#include "box/PpdevPort.h"
#include "box/SoundCard.h"
#include "box/sim/SimulatedBox.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Strings.h"
#include "core/Ui.h"

#include <charconv>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

namespace box
{

namespace
{
UnconnectedPort g_unconnected;
PortAccess* g_port = &g_unconnected;

std::string germanNumber(double v)
{
    std::string s = core::formatC("%.2f", v);
    for (char& c : s)
        if (c == '.')
            c = ',';
    return s;
}

// The window's simulated bench does what the user says was done: it takes the resistor, the
// diaphragm, the microphone's distance and sensitivity from the settings, and at the
// "Zusatzmasse ..." prompt asks whether the added mass or the box goes on, with the mass and
// volume of the settings. A user rehearsing the T/S procedure gets the values entered.
void followSettings(sim::Bench& bench, int stringId)
{
    const core::MeasurementSettings& s = core::settings();
    bench.referenceResistorOhm = s.referenceResistorOhm;
    bench.diaphragmDiameterMm = s.diaphragmDiameterMm;
    bench.distanceMm = s.distanceMm;
    bench.micSensitivityMvPerPa = s.micSensitivityMvPerPa;
    if (stringId != 103)
        return;
    bench.addedMassG = s.addedMassG;
    const std::string text = "Simulierte Messbox: eine Zusatzmasse von " +
                             germanNumber(s.addedMassG) + " g anbringen?\n\nNein: im Gehäuse von " +
                             germanNumber(s.boxVolumeL) + " l messen.";
    const core::Answer a =
        core::messageText(text, "Simulierte Messbox", core::Icon::Question, core::Buttons::YesNo);
    bench.closedBoxL = a == core::Answer::Yes ? 0.0 : s.boxVolumeL;
}
} // namespace

sim::DriverDistortion loadSimulatedDistortion(core::SettingsStore& store)
{
    sim::DriverDistortion d;
    d.enabled = store.value("Simulation/Klirrfaktor").value_or("0") == "1";
    auto level = [&store](const char* key, double& out) {
        const std::optional<std::string> v = store.value(key);
        if (!v)
            return;
        double x = 0.0;
        // from_chars reads a decimal point whatever the desktop's locale.
        const auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), x);
        if (ec == std::errc() && end == v->data() + v->size() && x >= -200.0 && x <= 0.0)
            out = x;
    };
    level("Simulation/H2dB", d.h2Db);
    level("Simulation/H3dB", d.h3Db);
    return d;
}

void saveSimulatedDistortion(core::SettingsStore& store, const sim::DriverDistortion& d)
{
    store.setValue("Simulation/Klirrfaktor", d.enabled ? "1" : "0");
    store.setValue("Simulation/H2dB", core::formatC("%.6g", d.h2Db));
    store.setValue("Simulation/H3dB", core::formatC("%.6g", d.h3Db));
}

void UnconnectedPort::out(std::uint16_t, std::uint8_t) {}
std::uint8_t UnconnectedPort::in(std::uint16_t)
{
    return 0xFF;
}
void UnconnectedPort::sleepMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

PortAccess& portAccess()
{
    return *g_port;
}
void setPortAccess(PortAccess* port)
{
    g_port = port ? port : &g_unconnected;
}

std::uint16_t portBase(int parallelPort)
{
    switch (parallelPort) {
    case 1:
        return 0x378;
    case 2:
        return 0x278;
    case 4:
        return 0x2BC;
    default:
        return 0x3BC;
    }
}

PortDriver configuredPortDriver()
{
    const auto v = core::settingsStore().value("PortDriver");
    if (v && *v == "ppdev")
        return PortDriver::Ppdev;
    if (v && *v == "simulator")
        return PortDriver::Simulator;
    if (v && *v == "soundcard")
        return PortDriver::SoundCard;
    return PortDriver::Auto;
}

std::string portDriverName(PortDriver driver)
{
    switch (driver) {
    case PortDriver::Ppdev:
        return "ppdev";
    case PortDriver::Simulator:
        return "simulator";
    case PortDriver::SoundCard:
        return "soundcard";
    case PortDriver::Auto:
        break;
    }
    return "auto";
}

PortSelection::PortSelection() = default;
PortSelection::~PortSelection() = default;
PortSelection::PortSelection(PortSelection&&) noexcept = default;
PortSelection& PortSelection::operator=(PortSelection&&) noexcept = default;

PortSelection openConfiguredPort(int parallelPort)
{
    PortSelection sel;
    const PortDriver driver = configuredPortDriver();
    if (driver == PortDriver::SoundCard) {
        sel.port = std::make_unique<UnconnectedPort>();
        sel.soundCard =
            std::make_unique<SoundCardDevice>(loadSoundCardConfig(core::settingsStore()));
        if (!sel.soundCard->open(sel.error))
            sel.description =
                sel.error.rfind("Soundkarte", 0) == 0 ? sel.error : "Soundkarte: " + sel.error;
        else
            sel.description = sel.soundCard->description();
        return sel;
    }
    if (driver != PortDriver::Simulator) {
        const std::string path = ppdevPath(parallelPort);
        std::string error;
        if (auto p = PpdevPort::open(path, error)) {
            sel.port = std::move(p);
            sel.description = "ppdev " + path;
            return sel;
        }
        if (driver == PortDriver::Ppdev) {
            // Configured explicitly: say so plainly and leave the port unconnected rather
            // than pretend with the simulator.
            sel.port = std::make_unique<UnconnectedPort>();
            sel.description = "kein Parallelport";
            sel.error = error;
            return sel;
        }
    }
    sim::Bench bench;
    bench.distortion = loadSimulatedDistortion(core::settingsStore());
    auto simBox = std::make_unique<sim::SimulatedBox>(bench);
    simBox->setBase(portBase(parallelPort));
    simBox->setWiringHook(followSettings);
    sel.port = std::move(simBox);
    sel.simulated = true;
    sel.description = "Simulierte Messbox";
    return sel;
}

} // namespace box
