// A software MeasurementBox that speaks the parallel-port protocol byte for byte, wired to a
// simulated bench: generator (the box's MLS, or an impulse/noise source), amplifier, a
// loudspeaker driver behind the reference resistor, a microphone in front of it. Time is
// virtual: sleeps advance the box's clock at once, so a capture costs no wall time.
#pragma once

#include "box/PortAccess.h"
#include "dsp/Sweep.h"
#include "dsp/ts/DriverPhysics.h"

#include <complex>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace box::sim
{

// Electrical and mechanical model of a moving-coil driver from its small-signal parameters.
struct DriverParameters {
    double reOhm = 6.2;
    double leMh = 0.6;
    double fsHz = 38.0;
    double qms = 3.2;
    double qes = 0.42;
    double vasL = 45.0;
    bool operator==(const DriverParameters&) const = default;
};

// A memoryless nonlinearity in the driver's motor, off by default. A sine of peak
// `referenceVolts` at the amplifier's output moves the driver as if the drive had its second
// and third harmonic at h2Db and h3Db re the fundamental, exactly (Chebyshev polynomials of
// the drive, whose fundamental stays that of the sine); a louder drive distorts more, the
// second harmonic in proportion to the level, the third to its square.
struct DriverDistortion {
    bool enabled = false;
    double h2Db = -40.0;
    double h3Db = -50.0;
    double referenceVolts = 1.0;
    bool operator==(const DriverDistortion&) const = default;
};

// The drive the driver's motor sees for `volts` at its terminals: v + R (c2 2s^2 + c3 T3(s)),
// s = v/R, c = 10^(dB/20); 2s^2 = T2(s) + 1 keeps silence silent. `volts` itself when off.
double distortDrive(const DriverDistortion& d, double volts);

// Parses "H2DB,H3DB" (two numbers from -200 to 0) into an enabled distortion; false otherwise.
bool parseDistortion(const std::string& text, DriverDistortion& out);

// What a line input (or the microphone input) is connected to.
enum class Wiring {
    Open,            // nothing: noise only
    AmplifierOutput, // the amplifier's output terminals
    SpeakerSide,     // the loudspeaker side of the reference resistor
    Microphone,      // a measuring microphone in front of the driver
};

enum class Fault {
    None,
    Absent, // no box on the port: the start is never acknowledged
    Stuck,  // the capture starts but never finishes
    Clip,   // the input stage is overdriven: every capture clips
};

// Generator when the box's MLS is off. Impulse: one sample (the method Impuls). Noise:
// periodic noise, one line of equal level on every bin of the 4096-sample frame (the method
// FFT-Analyzer). ForMethod: what the program's settings need at the capture, as a user would
// connect it: the pulse for Impuls; for FFT-Analyzer the noise with the period of the FFT
// length, one line on every bin the analyser computes.
enum class Stimulus { ForMethod, Impulse, Noise, Silence };

// Everything on the bench. The settings the program also holds (resistor, diameter,
// distance, microphone sensitivity, added mass, box volume) are physical facts here; the
// tool keeps them equal to the settings unless told otherwise.
struct Bench {
    int hardwareNumber = 9;
    Fault fault = Fault::None;
    // Number of start sequences the box ignores before it acknowledges one (0 = the first).
    int ignoredStarts = 0;

    // Generator when the box's MLS is off (methods Impuls and FFT-Analyzer). The levels are
    // those the program's scaling of each method reads as the chain's true transfer:
    // - Impuls scales the 1/N spectrum by N / 512 x 72, so the pulse carries 512 / 72 volt
    //   samples. Such a pulse overdrives a line input on a unity chain (it is meant for the
    //   microphone and the loudspeaker); a lower pulse reads that much less.
    // - FFT-Analyzer reads a line of peak A as A / 2 x 1.41 (the rms of a sine), so every
    //   line has the peak 2 / 1.41. Over the 2047 lines of N = 4096 that is some 45 V rms, as
    //   much as the analyser's scale asks of a broadband signal (16 V at N = 512); it
    //   overdrives a line input on a unity chain and suits the microphone.
    Stimulus stimulus = Stimulus::ForMethod;
    double impulseVolts = 512.0 / 72.0;
    int impulseSample = 64;
    double noiseLineVolts = 2.0 / 1.41;
    // Peak level of the box's MLS at its output. A unity chain on a line input then reads
    // 0 dB with the MLS method: the deconvolution peak 4095/3300 times the MLS scale 393/512
    // of the response computation makes 0.9525 per volt.
    double mlsVolts = 1.0 / (4095.0 / 3300.0 * 393.0 / 512.0);

    // Delay of the box's converters and filters, samples. The deconvolved impulse of a direct
    // path lands at index 4 + latency: clear of the response computation's fade-in and of the
    // samples the acquisition zeroes, together with the symmetric ringing of the anti-alias
    // filter and the pre-ringing that a response sampled up to half the rate carries. With 8
    // the acquisition's zeroed samples cut into that ringing, and the impedance near 0.45 fs
    // came out 5 % high.
    int latencySamples = 32;

    double amplifierGainDb = 0.0;
    // Noise at the converter, dB relative to full scale (2048 counts), Gaussian. A 12-bit
    // converter's own noise is about half a step (-72 dBFS); much less would leave the
    // rounding error the same in every capture, where no averaging could remove it.
    double noiseDbFs = -72.0;

    // The line inputs follow the wiring prompts. The microphone always hears the driver as
    // it hangs on the amplifier: an acoustic measurement is made with the driver wired to
    // the amplifier, whatever an impedance run left on the line inputs.
    Wiring line1 = Wiring::AmplifierOutput;
    Wiring line2 = Wiring::AmplifierOutput;
    Wiring mic = Wiring::Microphone;

    DriverParameters driver;
    // Heard by the microphone only: the voltage across the driver stays that of the linear
    // model.
    DriverDistortion distortion;
    double referenceResistorOhm = 22.0;
    double diaphragmDiameterMm = 170.0;
    double distanceMm = 1000.0;
    double micSensitivityMvPerPa = 6.0;
    // Second T/S run: a closed box of this volume when > 0, otherwise the added mass.
    double addedMassG = 50.0;
    double closedBoxL = 0.0;
    // Set when the "Zusatzmasse ..." prompt has been confirmed, cleared when the procedure
    // that asked for it ends.
    bool massOrBoxApplied = false;

    bool operator==(const Bench&) const = default;
};

// The air's constants and loads are those of the T/S evaluation (dsp/ts/DriverPhysics.h).
using ts::kRho;
using ts::kRhoC2;
using ts::kSpeedOfSound;

// Mechanical values derived from the parameters (SI units).
struct DriverModel {
    double re, le, bl, mms, cms, rms, sd;
};
using ts::closedBoxAirLoadKg;
using ts::freeAirLoadKg;
DriverModel driverModel(const Bench& bench);
// Electrical impedance of the driver as mounted on the bench (mass or box included when
// applied), ohm.
std::complex<double> driverImpedance(const Bench& bench, double fHz);
// Transfer from generator volts to the volts at a wiring point (microphone: mic output volts).
std::complex<double> wiringTransfer(const Bench& bench, Wiring w, double fHz);

// Parses "Re,LeMh,fs,Qms,Qes,VasL"; false when it does not hold six positive numbers.
bool parseDriver(const std::string& text, DriverParameters& out);
// "absent", "stuck", "clip" or "none".
bool parseFault(const std::string& text, Fault& out);

// One traced port access, for tests of the protocol.
struct TraceEntry {
    enum Kind : std::uint8_t { Out, In, Sleep } kind;
    std::uint16_t port;
    int value; // byte written or read, or milliseconds slept
};

class SimulatedBox : public PortAccess
{
public:
    explicit SimulatedBox(const Bench& bench = Bench());

    void out(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t in(std::uint16_t port) override;
    void sleepMs(int ms) override;
    void wiringConfirmed(int stringId) override;
    void procedureEnded() override;
    void generatorPlays(bool noise, int noisePeriod) override;
    // Plays the planned sweep through the same chain as the MLS and delivers, like a sound
    // card, the linear impulse response where and as large as the MLS's deconvolution would
    // put it, and the sweep's harmonic distortion.
    CaptureOutcome captureSweep(const CaptureRequest& request, RawCapture& out) override;

    Bench& bench() { return bench_; }
    const Bench& bench() const { return bench_; }

    // Called with the bench when a wiring prompt has been confirmed, before the bench follows
    // the prompt: lets the program's window tell the bench what the user set up (the added
    // mass or the box, the resistor, the diaphragm). Without it the bench stays as built.
    using WiringHook = std::function<void(Bench&, int stringId)>;
    void setWiringHook(WiringHook hook) { wiringHook_ = std::move(hook); }

    // The port base the box listens on (0x378 by default); accesses elsewhere hit nothing.
    void setBase(std::uint16_t base) { base_ = base; }

    // Virtual clock in microseconds; every port access costs one microsecond of bus time.
    std::int64_t nowUs() const { return nowUs_; }
    std::int64_t sleptMs() const { return sleptMs_; }

    // Trace of every access while enabled.
    void setTracing(bool on) { tracing_ = on; }
    const std::vector<TraceEntry>& trace() const { return trace_; }
    void clearTrace() { trace_.clear(); }

    // Number of captures started so far.
    int captureCount() const { return captures_; }
    // Replaces the next capture's codes (4096 values 0..4095), for tests of the decoding.
    void setNextCapture(const std::vector<int>& codes) { forcedCodes_ = codes; }
    // Codes of the last capture.
    const std::vector<int>& lastCapture() const { return codes_; }

    // Input and rate codes the box derived from the control byte and selection bits of the
    // last capture (the system's codes: input 1..4, rate 1..3) and whether its MLS played.
    int lastInput() const { return lastInput_; }
    int lastRate() const { return lastRate_; }
    bool lastMls() const { return lastMls_; }
    bool lastSweep() const { return lastSweep_; }

private:
    void startCapture();
    void present(int nibble);
    std::uint8_t statusByte();
    double signalVoltsScale(int input) const;
    // What input `input` hears: its wiring, or the box's own flat reference path.
    Wiring inputWiring(int input, bool& internal) const;
    // The chain's answer at `input`, volts, to the spectrum `spectrum` of a signal of
    // spectrum.size() samples at the rate of `rate` (in place): wiring, anti-alias filter.
    void applyChain(int input, int rate, std::vector<std::complex<double>>& spectrum) const;
    void computeSweepSignal(int input, int rate, const dsp::SweepPlan& plan, int captureSamples,
                            std::vector<double>& volts);
    void computeCleanSignal(int input, int rate, bool mls, Stimulus stimulus, int noisePeriod,
                            std::vector<double>& volts);

    Bench bench_;
    WiringHook wiringHook_;
    std::uint16_t base_ = 0x378;
    std::uint8_t control_ = 0;
    std::uint8_t lastData_ = 0x3F;
    int startStep_ = 0; // progress through 0x3F, 0x37, 0x33, 0x13
    int startsSeen_ = 0;
    bool capturing_ = false;
    std::int64_t captureEndUs_ = 0;
    bool memoryReady_ = false;

    // Read-out: byte stream of the memory (a dummy byte, then low byte and high nibble of
    // every sample), its position and which nibble the status lines show.
    std::vector<std::uint8_t> stream_;
    int byteIndex_ = -1;
    bool byteEnded_ = true;
    int shownNibble_ = 0;
    int pendingNibble_ = 0;
    int readsSinceChange_ = 0;
    std::int64_t changeUs_ = 0;

    std::int64_t nowUs_ = 0;
    std::int64_t sleptMs_ = 0;
    bool tracing_ = false;
    std::vector<TraceEntry> trace_;

    int captures_ = 0;
    std::vector<int> forcedCodes_;
    std::vector<int> codes_;
    int lastInput_ = 0;
    int lastRate_ = 0;
    bool lastMls_ = false;
    bool lastSweep_ = false;
    // What the method's generator plays (Stimulus::ForMethod): a pulse until told otherwise.
    bool generatorNoise_ = false;
    int generatorNoisePeriod_ = 4096;
    std::mt19937 rng_{12345};

    // The clean signal of the last capture and what it was computed for: repeated captures
    // of an unchanged bench only add fresh noise.
    struct CleanKey {
        int input = 0, rate = 0;
        bool mls = false;
        Stimulus stimulus = Stimulus::Silence;
        int noisePeriod = 0;
        Bench bench;
        bool operator==(const CleanKey&) const = default;
    };
    CleanKey cleanKey_;
    bool cleanValid_ = false;
    std::vector<double> clean_;

    // The same for the sweep, whose capture is longer than the box's memory.
    struct SweepKey {
        int input = 0, rate = 0;
        double startHz = 0.0, endHz = 0.0, seconds = 0.0;
        Bench bench;
        bool operator==(const SweepKey&) const = default;
    };
    SweepKey sweepKey_;
    bool sweepValid_ = false;
    std::vector<double> sweepClean_;
};

} // namespace box::sim
