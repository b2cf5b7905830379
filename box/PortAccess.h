// The one way to the MeasurementBox: write a byte to an I/O address, read one back, sleep.
// Back-ends: Linux ppdev, the simulated box (box/sim), and a port with nothing attached.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace core
{
class SettingsStore;
}

namespace box
{

namespace sim
{
struct DriverDistortion;
}

struct CaptureRequest;
struct RawCapture;
enum class CaptureOutcome;

class PortAccess
{
public:
    virtual ~PortAccess() = default;
    // One real bus access each: the protocol relies on repeated status reads as settling time.
    virtual void out(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint8_t in(std::uint16_t port) = 0;
    virtual void sleepMs(int ms) = 0;
    // Called after the user has confirmed a wiring prompt (string number). Real hardware
    // ignores it; the simulated bench rewires itself accordingly.
    virtual void wiringConfirmed(int stringId) { (void)stringId; }
    // Called when a guided procedure that had the user change the bench (added mass, box)
    // ends, however it ends. Real hardware ignores it; the simulated bench takes the added
    // mass or the box off again.
    virtual void procedureEnded() {}
    // Called before a capture with what the measurement method has the user's generator play
    // into the box when it doesn't play its MLS: a pulse, or noise repeating every
    // `noisePeriod` samples. Real hardware can't know; the simulated bench plays it.
    virtual void generatorPlays(bool noise, int noisePeriod)
    {
        (void)noise;
        (void)noisePeriod;
    }
    // A sweep instead of the box's MLS (the method Sweep). The box can't play one; only the
    // simulated bench can, and delivers it as the sound card does (see RawCapture).
    virtual CaptureOutcome captureSweep(const CaptureRequest& request, RawCapture& out);
};

// A parallel port with no box attached: status lines float high, so the start handshake is
// never answered and every acquisition ends with "Hardware nicht vorhanden". Sleeps are real.
class UnconnectedPort : public PortAccess
{
public:
    void out(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t in(std::uint16_t port) override;
    void sleepMs(int ms) override;
};

// The process-wide port. Until one is installed, the unconnected port answers.
PortAccess& portAccess();
void setPortAccess(PortAccess* port); // nullptr restores the unconnected port

// Port base address for the setting `parallelPort`.
std::uint16_t portBase(int parallelPort);

class SoundCardDevice;

// The settings-store value `PortDriver`: "auto" (default), "ppdev", "simulator" or
// "soundcard".
enum class PortDriver { Auto, Ppdev, Simulator, SoundCard };
PortDriver configuredPortDriver();
std::string portDriverName(PortDriver driver);

// The result of choosing a measurement box at start-up. `port` is never null: when the
// configured driver can't be opened it is an UnconnectedPort and `error` says why (German,
// for the user). With the sound card, `soundCard` is the box the acquisitions go to (it
// reports "Hardware nicht vorhanden" itself when its device is missing). `description`
// names the box for the title and status bar.
struct PortSelection {
    std::unique_ptr<PortAccess> port;
    std::unique_ptr<SoundCardDevice> soundCard;
    bool simulated = false;
    std::string description;
    std::string error;
    PortSelection();
    ~PortSelection();
    PortSelection(PortSelection&&) noexcept;
    PortSelection& operator=(PortSelection&&) noexcept;
};
// The simulated driver's distortion as the settings store keeps it: "Simulation/Klirrfaktor"
// ("1" on, "0" off), "Simulation/H2dB" and "Simulation/H3dB" (-200..0). A missing or
// unreadable value reads as the default (off, -40 and -50 dB).
sim::DriverDistortion loadSimulatedDistortion(core::SettingsStore& store);
void saveSimulatedDistortion(core::SettingsStore& store, const sim::DriverDistortion& d);

// Opens the back-end named by `PortDriver` for the given `parallelPort` (1..3). "auto" takes
// ppdev when the port's device opens and can be claimed, otherwise the simulated box;
// "soundcard" the sound card with the configuration in the settings store. The simulated
// box's driver distorts as the settings store says.
PortSelection openConfiguredPort(int parallelPort);

} // namespace box
