#include "box/PortAccess.h"

#include "box/PpdevPort.h"
#include "box/SoundCard.h"
#include "box/sim/SimulatedBox.h"
#include "core/SettingsStore.h"

#include <chrono>
#include <thread>

namespace box {

namespace {
UnconnectedPort g_unconnected;
PortAccess* g_port = &g_unconnected;
} // namespace

void UnconnectedPort::out(std::uint16_t, std::uint8_t) {}
std::uint8_t UnconnectedPort::in(std::uint16_t) { return 0xFF; }
void UnconnectedPort::sleepMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

PortAccess& portAccess() { return *g_port; }
void setPortAccess(PortAccess* port) { g_port = port ? port : &g_unconnected; }

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
            sel.description = sel.error.rfind("Soundkarte", 0) == 0 ? sel.error
                                                                    : "Soundkarte: " + sel.error;
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
    auto simBox = std::make_unique<sim::SimulatedBox>();
    simBox->setBase(portBase(parallelPort));
    sel.port = std::move(simBox);
    sel.simulated = true;
    sel.description = "Simulierte Messbox";
    return sel;
}

} // namespace box
