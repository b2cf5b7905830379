// The one acquisition operation every measurement uses, the box's hardware number, and the
// small interface behind them: the box on the parallel port, or a sound card.
#pragma once

#include "core/Conditions.h"
#include "core/Settings.h"
#include "core/Store.h"

#include <array>
#include <string>

namespace box
{

// The settings an acquisition's device side reads: the port, the method (what is played,
// and whether an MLS is deconvolved), the FFT-length setting (stored in the record's trailer,
// and the period of the analyser's noise) and the microphone's polarity.
struct AcquireSettings {
    int parallelPort = 1;
    int method = 1;       // 0 Impuls, 1 MLS, 2 FFT-Analyzer, 3 Sweep
    int fftLength = 512;  // the setting, stored in the record's trailer
    int micPhase0Deg = 1; // 0 = "180 Deg": Mic. records are negated
    // The sweep's band and length (method 3), as the settings give them.
    double sweepStartHz = 20.0;
    double sweepEndHz = 20000.0;
    double sweepSeconds = 2.0;
};
AcquireSettings acquireSettings(const core::MeasurementSettings& s);

// What one capture asks of the measurement box.
// What the measurement plays while it records. The box plays only its MLS; for a pulse or
// periodic noise the user connects a generator to it. A sound card plays all four, the
// simulated bench too; the box on the parallel port refuses the sweep.
enum class Excitation {
    Pulse,         // one pulse per record (Impuls)
    Mls,           // the box's MLS
    PeriodicNoise, // noise whose period is the analyser's FFT length (FFT-Analyzer)
    Sweep,         // one synchronised exponential sweep (Sweep)
};

// The excitation of a measurement method code (0 Impuls, 1 MLS, 2 FFT-Analyzer, 3 Sweep).
Excitation excitationForMethod(int method);
// The period of the analyser's noise for an FFT length: 512..4096, a power of two, so that
// every bin of the analysed length holds one line.
int noisePeriodFor(int fftLength);

struct CaptureRequest {
    int parallelPort = 1;
    int input = 1;    // 1 Line1, 2 Mic., 3 Line2, 4 Ref_Int
    int rateCode = 1; // 1 6.4 kHz, 2 51.2 kHz, 3 3.2 kHz
    Excitation excitation = Excitation::Mls;
    int noisePeriod = 4096; // samples, for PeriodicNoise
    // For Sweep: the band and length asked for; the device plans the sweep at its own rate
    // (dsp::planSweep), which also keeps the end below its Nyquist frequency.
    double sweepStartHz = 20.0;
    double sweepEndHz = 20000.0;
    double sweepSeconds = 2.0;
    bool mls() const { return excitation == Excitation::Mls; }
};

// One capture as the converter delivered it, before any processing: 4096 sample values in
// converter counts (code − 2047, so −2047..+2048 is the input's range; 1280 counts per volt
// on the line inputs, 12800 on Mic.), and whether a sample reached the limit of the range.
//
// For a sweep the device delivers the deconvolved linear impulse response instead, at the
// program rate, in the counts the MLS's deconvolution would give for the same chain and with
// its time zero where the MLS's impulse of the same chain lies, so that everything after
// the capture treats it as an MLS record; and the harmonic distortion of the same sweep.
struct RawCapture {
    std::array<double, 4096> v{};
    bool clipped = false;
    core::DistortionRecord distortion; // Sweep only; empty otherwise
};

enum class CaptureOutcome {
    Delivered,
    NotPresent, // "Hardware nicht vorhanden": the box never answered, or no such device
    Failed,     // "Hardware Fehler": the capture started but never finished
    Refused,    // the device cannot play what was asked (the box and a sweep)
};

// Why the box on the parallel port measures no sweep (German).
std::string sweepRefusedText();

// A measurement box: the parallel-port box (ppdev, simulated, unconnected) or a sound card.
// Used by one thread at a time (the runs on the user-interface thread, or the level worker
// while its modal dialog holds the window).
class AcquisitionDevice
{
public:
    virtual ~AcquisitionDevice() = default;
    virtual CaptureOutcome capture(const CaptureRequest& request, RawCapture& out) = 0;
    virtual int hardwareNumber(int parallelPort) = 0;
    // The pause between two averaged acquisitions.
    virtual void pauseMs(int ms) = 0;
    // Called after the user has confirmed a wiring prompt (string number). Real hardware
    // ignores it; the simulated bench rewires itself accordingly.
    virtual void wiringConfirmed(int stringId) { (void)stringId; }
    // Called when a guided procedure that had the user change the bench (added mass, box)
    // ends, however it ends.
    virtual void procedureEnded() {}
    // What the last capture that failed ran into, naming the device (German), for the
    // message the user gets; empty where "Hardware nicht vorhanden" or "Hardware Fehler"
    // says all that is known (the box on the parallel port).
    virtual std::string failureText() const { return {}; }
    // How strongly the stimulus it plays for `request` (its program rate and excitation, for a
    // sweep also its band) excites `hz`, against the box's own MLS: 1 where it is played in
    // full, 0 where it isn't played. The box plays its MLS over the whole band.
    virtual double stimulusGain(const CaptureRequest& request, double hz)
    {
        (void)request;
        (void)hz;
        return 1.0;
    }
};

// The box's byte protocol on whatever portAccess() is at the time of the call.
class ParallelPortBox : public AcquisitionDevice
{
public:
    CaptureOutcome capture(const CaptureRequest& request, RawCapture& out) override;
    int hardwareNumber(int parallelPort) override;
    void pauseMs(int ms) override;
    void wiringConfirmed(int stringId) override;
    void procedureEnded() override;
};

// The box the program measures with. Until one is installed, the parallel-port box on
// portAccess() answers.
AcquisitionDevice& acquisitionDevice();
void setAcquisitionDevice(AcquisitionDevice* device); // nullptr restores the parallel port

// What one acquisition of a record asks for.
struct AcquisitionRequest {
    int sampleCount = 4096; // N: 512..4096; 4096 with MLS
    core::Input input = core::Input::Line1;
    int rateCode = 1; // 1 6.4 kHz, 2 51.2 kHz, 3 3.2 kHz
    core::Window window = core::Window::Rectangle;
    // The level measurement's raw capture: no clip warning, no deconvolution.
    bool raw = false;
    AcquireSettings device;
};
// A measurement's acquisition as the settings ask for it: the measuring input, the FFT
// length, the rate and the window.
AcquisitionRequest acquisitionRequest(const core::MeasurementSettings& s);

// Captures one record from the box. `record` holds at least 4098 floats in the timeRecord
// layout. Failures are told to the user (strings 15, 16, 18, with the device's
// failureText() when it has one) and leave the record as it was. Returns true when a record
// was delivered. With a sweep, `distortion` (when given) receives its harmonic distortion;
// otherwise it is emptied.
bool acquireRecord(const AcquisitionRequest& request, float* record,
                   core::DistortionRecord* distortion = nullptr);
bool acquireRecord(const AcquisitionRequest& request, core::TimeRecord& record,
                   core::DistortionRecord* distortion = nullptr);

// Reads the box's identification number (0..255); 9 is the box that can sample at 3.2 kHz.
int readHardwareNumber();
int readHardwareNumber(int parallelPort);

} // namespace box
