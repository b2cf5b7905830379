#include "box/sim/SimulatedBox.h"

#include "box/Acquisition.h"
#include "box/Mls.h"
#include "core/Settings.h"
#include "dsp/Distortion.h"
#include "dsp/DistortionRecord.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace box::sim
{

namespace
{

using cd = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;

// Iterative radix-2 transform, e^(-j...) forward, unscaled. The bench's own maths: it models
// the world outside the program, so it does not use the program's FFT.
void fftPow2(std::vector<cd>& a, bool inverse)
{
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double ang = 2 * kPi / static_cast<double>(len) * (inverse ? 1 : -1);
        const cd wl(std::cos(ang), std::sin(ang));
        for (std::size_t i = 0; i < n; i += len) {
            cd w(1);
            for (std::size_t j = 0; j < len / 2; ++j) {
                const cd u = a[i + j];
                const cd v = a[i + j + len / 2] * w;
                a[i + j] = u + v;
                a[i + j + len / 2] = u - v;
                w *= wl;
            }
        }
    }
}

// DFT of any length by Bluestein's chirp; the MLS period 4095 is not a power of two.
std::vector<cd> dftAny(const std::vector<cd>& x, bool inverse)
{
    const std::size_t n = x.size();
    if ((n & (n - 1)) == 0) {
        std::vector<cd> a = x;
        fftPow2(a, inverse);
        return a;
    }
    std::size_t m = 1;
    while (m < 2 * n - 1)
        m <<= 1;
    const double sign = inverse ? 1.0 : -1.0;
    std::vector<cd> chirp(n);
    for (std::size_t k = 0; k < n; ++k) {
        // k^2 mod 2n keeps the angle exact for large k.
        const std::size_t k2 = (k * k) % (2 * n);
        const double ang = sign * kPi * static_cast<double>(k2) / static_cast<double>(n);
        chirp[k] = cd(std::cos(ang), std::sin(ang));
    }
    std::vector<cd> a(m), b(m);
    for (std::size_t k = 0; k < n; ++k)
        a[k] = x[k] * chirp[k];
    b[0] = std::conj(chirp[0]);
    for (std::size_t k = 1; k < n; ++k)
        b[k] = b[m - k] = std::conj(chirp[k]);
    fftPow2(a, false);
    fftPow2(b, false);
    for (std::size_t k = 0; k < m; ++k)
        a[k] *= b[k];
    fftPow2(a, true);
    std::vector<cd> out(n);
    for (std::size_t k = 0; k < n; ++k)
        out[k] = a[k] / static_cast<double>(m) * chirp[k];
    return out;
}

// The converter's anti-alias filter at a frequency relative to the rate. It sits in front of
// the converter on every input, so ratios of two inputs (the impedance) stay true up to
// 0.45 fs, where it is -5 dB. Why this shape:
// - A response that still has phase at half the rate cannot be held by a sampled system and
//   would fold into pre-ringing that the acquisition's zeroed first samples cut off; the
//   filter is down 10 dB there. Zero phase: its short symmetric ringing lies inside the
//   latency.
// - A steep filter makes the MLS ring: filtered, its chips of 1.05 V (two thirds of full
//   scale) overshoot by the sum of the filter's taps, and on the loudspeaker side the voice
//   coil's rising impedance adds its own overshoot at 51.2 kHz. A raised cosine from 0.4 fs
//   overdrove every input with an MLS; exp(-ln2 (f / 0.47 fs)^8) keeps the amplifier output
//   and the loudspeaker side of the default driver below 1950 of the 2048 counts, and is
//   flat within 0.15 dB to 0.29 fs (15 kHz at 51.2 kHz) and -3 dB at 0.43 fs.
double antiAliasFilter(double rel)
{
    return std::exp(-std::log(2.0) * std::pow(std::fabs(rel) / 0.47, 8.0));
}

} // namespace

DriverModel driverModel(const Bench& bench)
{
    const DriverParameters& d = bench.driver;
    DriverModel m{};
    m.re = d.reOhm;
    m.le = d.leMh * 1e-3;
    const double r = bench.diaphragmDiameterMm * 1e-3 / 2.0;
    m.sd = kPi * r * r;
    const double ws = 2 * kPi * d.fsHz;
    m.cms = d.vasL * 1e-3 / (kRhoC2 * m.sd * m.sd);
    m.mms = 1.0 / (ws * ws * m.cms);
    m.rms = ws * m.mms / d.qms;
    m.bl = std::sqrt(ws * m.mms * d.reOhm / d.qes);
    if (bench.massOrBoxApplied) {
        if (bench.closedBoxL > 0.0) {
            const double cb = ts::boxComplianceMPerN(bench.closedBoxL, m.sd);
            m.cms = 1.0 / (1.0 / m.cms + 1.0 / cb);
            m.mms += ts::boxAirMassIncrementKg(m.sd);
        } else {
            m.mms += bench.addedMassG * 1e-3;
        }
    }
    return m;
}

namespace
{
// Mechanical impedance of the moving system, N s/m; infinite at DC (the suspension).
cd mechanicalImpedance(const DriverModel& m, double w)
{
    return cd(m.rms, w * m.mms - 1.0 / (w * m.cms));
}
} // namespace

std::complex<double> driverImpedance(const Bench& bench, double fHz)
{
    const DriverModel m = driverModel(bench);
    if (fHz <= 0.0)
        return cd(m.re, 0.0);
    const double w = 2 * kPi * fHz;
    return cd(m.re, w * m.le) + m.bl * m.bl / mechanicalImpedance(m, w);
}

std::complex<double> wiringTransfer(const Bench& bench, Wiring wiring, double fHz)
{
    const double g = std::pow(10.0, bench.amplifierGainDb / 20.0);
    const double rRef = bench.referenceResistorOhm;
    switch (wiring) {
    case Wiring::Open:
        return 0.0;
    case Wiring::AmplifierOutput:
        return g;
    case Wiring::SpeakerSide: {
        const cd z = driverImpedance(bench, fHz);
        return g * z / (rRef + z);
    }
    case Wiring::Microphone: {
        if (fHz <= 0.0)
            return 0.0;
        const DriverModel m = driverModel(bench);
        const double w = 2 * kPi * fHz;
        // The driver hangs on the amplifier directly (see Bench::mic).
        const cd ze = cd(m.re, w * m.le);
        const cd zm = mechanicalImpedance(m, w);
        const cd current = g / (ze + m.bl * m.bl / zm);
        const cd velocity = m.bl * current / zm;
        // Baffled piston, far field on axis: p = rho Sd j w v / (2 pi r), delayed by r/c.
        const double r = std::max(bench.distanceMm, 1.0) * 1e-3;
        const cd delay = std::exp(cd(0.0, -w * r / kSpeedOfSound));
        const cd p = kRho * m.sd * cd(0.0, w) * velocity / (2 * kPi * r) * delay;
        return p * bench.micSensitivityMvPerPa * 1e-3;
    }
    }
    return 0.0;
}

bool parseDriver(const std::string& text, DriverParameters& out)
{
    std::stringstream ss(text);
    std::string item;
    double v[6];
    int n = 0;
    while (std::getline(ss, item, ',')) {
        if (n >= 6)
            return false;
        // from_chars reads a decimal point whatever the process locale (the app runs under the
        // desktop's locale).
        const char* first = item.data();
        const char* last = item.data() + item.size();
        const auto [end, ec] = std::from_chars(first, last, v[n]);
        if (ec != std::errc() || end != last || !(v[n] > 0.0) || !std::isfinite(v[n]))
            return false;
        ++n;
    }
    if (n != 6)
        return false;
    out = {v[0], v[1], v[2], v[3], v[4], v[5]};
    return true;
}

double distortDrive(const DriverDistortion& d, double volts)
{
    if (!d.enabled || !(d.referenceVolts > 0.0))
        return volts;
    const double r = d.referenceVolts;
    const double s = volts / r;
    const double c2 = std::pow(10.0, d.h2Db / 20.0);
    const double c3 = std::pow(10.0, d.h3Db / 20.0);
    return volts + r * (c2 * 2.0 * s * s + c3 * s * (4.0 * s * s - 3.0));
}

bool parseDistortion(const std::string& text, DriverDistortion& out)
{
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos)
        return false;
    double v[2];
    const std::string parts[2] = {text.substr(0, comma), text.substr(comma + 1)};
    for (int i = 0; i < 2; ++i) {
        const char* first = parts[i].data();
        const char* last = first + parts[i].size();
        const auto [end, ec] = std::from_chars(first, last, v[i]);
        if (ec != std::errc() || end != last || !(v[i] >= -200.0 && v[i] <= 0.0))
            return false;
    }
    out.enabled = true;
    out.h2Db = v[0];
    out.h3Db = v[1];
    return true;
}

bool parseFault(const std::string& text, Fault& out)
{
    if (text == "none")
        out = Fault::None;
    else if (text == "absent")
        out = Fault::Absent;
    else if (text == "stuck")
        out = Fault::Stuck;
    else if (text == "clip")
        out = Fault::Clip;
    else
        return false;
    return true;
}

SimulatedBox::SimulatedBox(const Bench& bench) : bench_(bench) {}

void SimulatedBox::sleepMs(int ms)
{
    if (tracing_)
        trace_.push_back({TraceEntry::Sleep, 0, ms});
    if (ms > 0) {
        nowUs_ += static_cast<std::int64_t>(ms) * 1000;
        sleptMs_ += ms;
    }
}

void SimulatedBox::wiringConfirmed(int stringId)
{
    if (wiringHook_)
        wiringHook_(bench_, stringId);
    switch (stringId) {
    case 21: // "Vebindung LINE1  Eingang mit Verstärkerausgang !"
        bench_.line1 = Wiring::AmplifierOutput;
        break;
    case 22: // "Verbindung LINE1 mit Ref. - Widerstand (Lautsprecherseitig)! "
        // Rewiring to the speaker side starts from the bare driver in free air.
        bench_.line1 = Wiring::SpeakerSide;
        bench_.massOrBoxApplied = false;
        break;
    case 103: // "Zusatzmasse am Lautsprecher anbringen ! ..."
        bench_.massOrBoxApplied = true;
        break;
    default:
        break;
    }
}

void SimulatedBox::procedureEnded()
{
    bench_.massOrBoxApplied = false;
}

void SimulatedBox::present(int nibble)
{
    pendingNibble_ = nibble & 0x0F;
    readsSinceChange_ = 0;
    changeUs_ = nowUs_;
}

std::uint8_t SimulatedBox::statusByte()
{
    if (bench_.fault == Fault::Absent)
        return 0xFF;
    // The status lines need a moment after each data write: the new nibble shows from the
    // third read on, or after a millisecond. A single read right after a write sees the old
    // one, which is why the protocol reads five times.
    ++readsSinceChange_;
    if (readsSinceChange_ >= 3 || nowUs_ - changeUs_ >= 1000)
        shownNibble_ = pendingNibble_;
    bool ready = true;
    if (capturing_) {
        if (bench_.fault != Fault::Stuck && nowUs_ >= captureEndUs_) {
            capturing_ = false;
            memoryReady_ = true;
        } else {
            ready = false;
        }
    }
    std::uint8_t s = static_cast<std::uint8_t>(((shownNibble_ << 4) ^ 0x80) & 0xF0);
    if (ready)
        s |= 0x08;
    return static_cast<std::uint8_t>(s | 0x07);
}

void SimulatedBox::out(std::uint16_t port, std::uint8_t value)
{
    nowUs_ += 1;
    if (tracing_)
        trace_.push_back({TraceEntry::Out, port, value});
    if (port == base_ + 2) {
        control_ = value;
        return;
    }
    if (port != base_)
        return;
    lastData_ = value;
    if (value == 0x04 || value == 0x06) {
        const int n = bench_.hardwareNumber & 0xFF;
        present(value == 0x04 ? n & 0x0F : n >> 4);
        return;
    }
    const int cmd = value & 0x3F;
    switch (cmd) {
    case 0x3F:
        startStep_ = 1;
        break;
    case 0x37:
        startStep_ = startStep_ == 1 ? 2 : 0;
        byteIndex_ = -1;
        byteEnded_ = true;
        break;
    case 0x33:
        startStep_ = startStep_ == 2 ? 3 : 0;
        break;
    case 0x13:
        if (startStep_ == 3)
            startCapture();
        startStep_ = 0;
        break;
    case 0x32:
        startStep_ = 0;
        if (byteEnded_) {
            ++byteIndex_;
            byteEnded_ = false;
        }
        if (memoryReady_ && byteIndex_ >= 0 && byteIndex_ < static_cast<int>(stream_.size()))
            present(stream_[byteIndex_] & 0x0F);
        else
            present(0);
        break;
    case 0x30:
        startStep_ = 0;
        if (memoryReady_ && byteIndex_ >= 0 && byteIndex_ < static_cast<int>(stream_.size()))
            present(stream_[byteIndex_] >> 4);
        else
            present(0);
        break;
    case 0x22:
        startStep_ = 0;
        byteEnded_ = true;
        break;
    default:
        startStep_ = 0;
        break;
    }
}

std::uint8_t SimulatedBox::in(std::uint16_t port)
{
    nowUs_ += 1;
    std::uint8_t v = 0xFF;
    if (port == base_ + 1)
        v = statusByte();
    else if (port == base_)
        v = lastData_;
    else if (port == base_ + 2)
        v = control_;
    if (tracing_)
        trace_.push_back({TraceEntry::In, port, v});
    return v;
}

double SimulatedBox::signalVoltsScale(int input) const
{
    return input == 2 ? 12800.0 : 1280.0;
}

Wiring SimulatedBox::inputWiring(int input, bool& internal) const
{
    internal = false;
    if (input == 1)
        return bench_.line1;
    if (input == 2)
        return bench_.mic;
    if (input == 3)
        return bench_.line2;
    internal = true; // the box's own reference path: flat, before the amplifier
    return Wiring::AmplifierOutput;
}

void SimulatedBox::applyChain(int input, int rate, std::vector<cd>& spectrum) const
{
    const double fs = core::sampleRateHz(rate);
    bool internal = false;
    const Wiring w = inputWiring(input, internal);
    const std::size_t p = spectrum.size();
    for (std::size_t k = 0; k <= p / 2; ++k) {
        const double f = static_cast<double>(k) * fs / static_cast<double>(p);
        cd h = internal ? cd(1.0) : wiringTransfer(bench_, w, f);
        h *= antiAliasFilter(f / fs);
        if (k == 0 || (p % 2 == 0 && k == p / 2))
            h = cd(h.real(), 0.0); // a real system has a real response at DC and Nyquist
        spectrum[k] *= h;
        if (k != 0 && k != p - k)
            spectrum[p - k] *= std::conj(h);
    }
}

void SimulatedBox::computeCleanSignal(int input, int rate, bool mls, Stimulus stimulus,
                                      int noisePeriod, std::vector<double>& volts)
{
    volts.assign(4096, 0.0);
    bool internal = false;
    const Wiring w = inputWiring(input, internal);

    // One period of the generator: the MLS repeats every 4095 samples, the other sources
    // are taken as one 4096-sample frame.
    std::vector<cd> x;
    if (mls) {
        // The generator of the deconvolution, same start state and phase: capture sample n
        // holds sequence bit a(n).
        x.resize(kMlsPeriod);
        for (int n = 0; n < kMlsPeriod; ++n)
            x[n] = mlsBit(n) ? bench_.mlsVolts : -bench_.mlsVolts;
    } else {
        x.assign(4096, 0.0);
        if (stimulus == Stimulus::Impulse) {
            x[static_cast<std::size_t>(std::clamp(bench_.impulseSample, 0, 4095))] =
                bench_.impulseVolts;
        } else if (stimulus == Stimulus::Noise) {
            // Periodic noise made in the frequency domain: equal lines with Schroeder's
            // phases, which keep the crest factor of a flat spectrum low, one line on every
            // bin of the period (which divides the frame's 4096 samples).
            std::vector<cd> lines(4096, 0.0);
            const int step = 4096 / noisePeriod;
            const int count = noisePeriod / 2 - 1;
            for (int j = 1; j <= count; ++j) {
                const double phase =
                    -kPi * static_cast<double>(j) * static_cast<double>(j - 1) / count;
                const cd line = std::polar(bench_.noiseLineVolts * 2048.0, phase);
                lines[static_cast<std::size_t>(j * step)] = line;
                lines[static_cast<std::size_t>(4096 - j * step)] = std::conj(line);
            }
            // Line k of peak A is A N / 2 in the unscaled transform.
            x = dftAny(lines, true);
            for (cd& v : x)
                v = v.real() / 4096.0;
        }
    }
    // The driver's motor distorts what the amplifier gives it; the microphone hears that.
    if (w == Wiring::Microphone && !internal && bench_.distortion.enabled) {
        const double g = std::pow(10.0, bench_.amplifierGainDb / 20.0);
        for (cd& v : x)
            v = distortDrive(bench_.distortion, g * v.real()) / g;
    }
    const std::size_t p = x.size();
    std::vector<cd> spectrum = dftAny(x, false);
    applyChain(input, rate, spectrum);
    const std::vector<cd> y = dftAny(spectrum, true);
    const std::size_t lat = static_cast<std::size_t>(std::clamp(bench_.latencySamples, 0, 1000));
    for (std::size_t n = 0; n < 4096; ++n)
        volts[n] = y[(n + p - lat) % p].real() / static_cast<double>(p);
}

void SimulatedBox::generatorPlays(bool noise, int noisePeriod)
{
    generatorNoise_ = noise;
    generatorNoisePeriod_ = noisePeriod;
}

void SimulatedBox::startCapture()
{
    if (bench_.fault == Fault::Absent)
        return;
    ++startsSeen_;
    if (startsSeen_ <= bench_.ignoredStarts)
        return;

    // Input and rate from the control byte and the selection bits of the start byte.
    const bool ctrlInput = control_ & 0x01;
    const bool sel6 = lastData_ & 0x40;
    int input = 3;
    if (ctrlInput)
        input = sel6 ? 1 : 2;
    else
        input = sel6 ? 4 : 3;
    int rate = 3;
    if (lastData_ & 0x80)
        rate = 2;
    else if (control_ & 0x04)
        rate = 1;
    const bool mls = control_ & 0x02;
    lastInput_ = input;
    lastRate_ = rate;
    lastMls_ = mls;
    lastSweep_ = false;
    ++captures_;

    codes_.assign(4096, 2047);
    if (forcedCodes_.size() == 4096) {
        codes_ = forcedCodes_;
        forcedCodes_.clear();
    } else {
        // The generator the user would connect for the program's method: a pulse, or for the
        // analyser periodic noise whose period is the analyser's FFT length, so that every
        // bin holds one line.
        Stimulus stimulus = bench_.stimulus;
        int noisePeriod = 4096;
        if (stimulus == Stimulus::ForMethod) {
            stimulus = generatorNoise_ ? Stimulus::Noise : Stimulus::Impulse;
            noisePeriod = generatorNoisePeriod_;
        }
        const CleanKey key{input, rate, mls, stimulus, noisePeriod, bench_};
        if (!cleanValid_ || !(key == cleanKey_)) {
            computeCleanSignal(input, rate, mls, stimulus, noisePeriod, clean_);
            cleanKey_ = key;
            cleanValid_ = true;
        }
        const std::vector<double>& volts = clean_;
        const double k = signalVoltsScale(input) * (bench_.fault == Fault::Clip ? 40.0 : 1.0);
        const double sigma = 2048.0 * std::pow(10.0, bench_.noiseDbFs / 20.0);
        std::normal_distribution<double> nd(0.0, 1.0);
        for (int n = 0; n < 4096; ++n) {
            const double c = volts[n] * k + sigma * nd(rng_) + 2047.0;
            codes_[n] = static_cast<int>(std::clamp(std::lround(c), 0L, 4095L));
        }
    }

    // Memory as the read-out presents it: one byte ahead of the samples, then the low byte
    // and the high nibble of each sample.
    stream_.assign(1 + 2 * 4096, 0);
    for (int n = 0; n < 4096; ++n) {
        stream_[1 + 2 * n] = static_cast<std::uint8_t>(codes_[n] & 0xFF);
        stream_[2 + 2 * n] = static_cast<std::uint8_t>((codes_[n] >> 8) & 0x0F);
    }
    memoryReady_ = false;
    capturing_ = true;
    captureEndUs_ = nowUs_ + static_cast<std::int64_t>(4096.0 * 1e6 / core::sampleRateHz(rate));
}

namespace
{
// The peak of the MLS's deconvolved impulse per volt of its chips on a direct path, in the
// acquisition's units: the correlation sums the 4095 chips of a period, and acquireRecord
// divides by 3300.
constexpr double kMlsDeconvolutionGain = 4095.0 / 3300.0;
// Where that deconvolution puts the impulse of a path without delay: the box records three
// samples behind its generator, and the deconvolution's sample 0 is always empty.
constexpr int kMlsImpulseIndex = 4;
// How much of the sweep's response ahead of its time zero the record keeps (at its end). On
// the line inputs, whose path passes DC, the band edge at the start frequency rings on far
// ahead of time zero and all the deconvolution holds before the second harmonic is kept;
// behind the microphone, whose path doesn't, a shorter stretch takes in less noise.
constexpr int kSweepRecordAhead = 1024;
// How much of the sweep's linear response, at least, is wrapped into the record.
constexpr double kSweepWrapSeconds = 0.25;
// The lowest rate the sweep's planning takes (dsp::planSweep).
constexpr int kSweepPlanMinRateHz = 8000;
} // namespace

void SimulatedBox::computeSweepSignal(int input, int rate, const dsp::SweepPlan& plan,
                                      int captureSamples, std::vector<double>& volts)
{
    bool internal = false;
    const Wiring w = inputWiring(input, internal);
    // Zero-padded to twice the capture, so that what still rings after the capture's end (a
    // driver of high Q on the speaker side) does not wrap around onto its start.
    std::size_t m = 1;
    while (m < static_cast<std::size_t>(captureSamples))
        m <<= 1;
    m <<= 1;
    // The sweep's peak drives the chain as the MLS's chips do.
    const std::vector<double> sweep = dsp::makeSweep(plan);
    std::vector<cd> x(m, 0.0);
    const double g = std::pow(10.0, bench_.amplifierGainDb / 20.0);
    const bool distorted = w == Wiring::Microphone && !internal && bench_.distortion.enabled;
    for (std::size_t n = 0; n < sweep.size() && n < m; ++n) {
        const double v = sweep[n] * bench_.mlsVolts;
        // The driver's motor distorts what the amplifier gives it; the microphone hears that.
        x[n] = distorted ? distortDrive(bench_.distortion, g * v) / g : v;
    }
    fftPow2(x, false);
    applyChain(input, rate, x);
    fftPow2(x, true);
    const std::size_t lat = static_cast<std::size_t>(std::clamp(bench_.latencySamples, 0, 1000));
    volts.assign(static_cast<std::size_t>(captureSamples), 0.0);
    for (std::size_t n = 0; n < volts.size(); ++n)
        volts[n] = x[(n + m - lat) % m].real() / static_cast<double>(m);
}

CaptureOutcome SimulatedBox::captureSweep(const CaptureRequest& request, RawCapture& out)
{
    if (bench_.fault == Fault::Absent)
        return CaptureOutcome::NotPresent;
    const int rate = request.rateCode;
    const double fs = core::sampleRateHz(rate);
    // The sweep's planning starts at 8 kHz, above the box's 6.4 and 3.2 kHz: the plan is made
    // at a rate `planScale` times the box's, for the same samples, and its frequencies and
    // times are read back at the box's rate.
    const int planRate = std::max(static_cast<int>(std::lround(fs)), kSweepPlanMinRateHz);
    const double planScale = planRate / fs;
    dsp::SweepRequest sweepRequest;
    sweepRequest.startHz = request.sweepStartHz * planScale;
    sweepRequest.endHz = request.sweepEndHz * planScale;
    sweepRequest.lengthSeconds = request.sweepSeconds / planScale;
    sweepRequest.rateHz = planRate;
    sweepRequest.amplitude = 1.0; // one unit of the plan is the MLS's chip level
    const dsp::SweepPlan plan = dsp::planSweep(sweepRequest);

    // The capture runs past the sweep by the tail the noise estimate needs, and by the
    // chain's delays, so that the highest frequencies arrive before it ends.
    const double acousticDelay = std::max(bench_.distanceMm, 1.0) * 1e-3 / kSpeedOfSound * fs;
    const int captureSamples = dsp::recommendedCaptureSamples(plan) +
                               std::clamp(bench_.latencySamples, 0, 1000) +
                               static_cast<int>(std::ceil(acousticDelay));

    lastInput_ = request.input;
    lastRate_ = rate;
    lastMls_ = false;
    lastSweep_ = true;
    ++captures_;
    nowUs_ += static_cast<std::int64_t>(std::ceil(captureSamples * 1e6 / fs));
    if (bench_.fault == Fault::Stuck)
        return CaptureOutcome::Failed;

    const SweepKey key{request.input,        rate,  request.sweepStartHz, request.sweepEndHz,
                       request.sweepSeconds, bench_};
    if (!sweepValid_ || !(key == sweepKey_)) {
        computeSweepSignal(request.input, rate, plan, captureSamples, sweepClean_);
        sweepKey_ = key;
        sweepValid_ = true;
    }

    // The converter as in an MLS capture: gain, noise, 12-bit codes and their limits.
    const double countsPerVolt = signalVoltsScale(request.input);
    const double k = countsPerVolt * (bench_.fault == Fault::Clip ? 40.0 : 1.0);
    const double sigma = 2048.0 * std::pow(10.0, bench_.noiseDbFs / 20.0);
    std::normal_distribution<double> nd(0.0, 1.0);
    // In units of the sweep's peak at the input, so that the deconvolution reads the chain's
    // transfer in volts per volt.
    const double toSweepUnits = 1.0 / (countsPerVolt * bench_.mlsVolts);
    std::vector<double> capture(sweepClean_.size());
    bool clipped = false;
    for (std::size_t n = 0; n < capture.size(); ++n) {
        const double c = sweepClean_[n] * k + sigma * nd(rng_) + 2047.0;
        const long code = std::clamp(std::lround(c), 0L, 4095L);
        if (code < 3 || code > 4092)
            clipped = true;
        capture[n] = static_cast<double>(code - 2047) * toSweepUnits;
    }

    const dsp::SweepAnalysis analysis = dsp::analyzeSweep(plan, capture);
    // The MLS's record is one period of the response: what comes before its time zero (the
    // filters' pre-ringing, and the sweep's band edges, which act as filters without phase)
    // lies at the record's end. Cut off instead, a band edge's response ahead of time zero
    // would leave a ripple of some tenths of a dB an octave and more above it. The stretch
    // ahead stays within the deconvolution's clean part before the second harmonic. On a path
    // that passes DC the lower band edge's slow response still reaches the record's first and
    // last samples, which the acquisition zeroes: such a path reads up to some 0.25 dB off in
    // the lowest octaves of the band, where the MLS, which plays down to DC, reads it true.
    const int maxBefore =
        static_cast<int>(std::floor(0.5 * dsp::harmonicLeadSeconds(plan, 2) * plan.rateHz));
    const bool passesDc = request.input != 2;
    const int before = passesDc ? maxBefore : std::clamp(kSweepRecordAhead, kMlsImpulseIndex, maxBefore);
    // What lasts longer than the record is wrapped around it, as the MLS's period wraps it;
    // a quarter of a second holds the band edge's and the driver's slow responses.
    const int span = std::max(4096, static_cast<int>(std::ceil(kSweepWrapSeconds * fs / 4096.0)) * 4096);
    const std::vector<double> h = dsp::periodicImpulseResponse(
        plan, analysis.deconvolution, before, span, 4096, kMlsImpulseIndex);
    const double toMlsCounts = kMlsDeconvolutionGain * countsPerVolt * bench_.mlsVolts;
    for (int i = 0; i < 4096; ++i)
        out.v[static_cast<std::size_t>(i)] = h[static_cast<std::size_t>(i)] * toMlsCounts;
    out.clipped = clipped;
    out.distortion = dsp::distortionRecord(plan, analysis.curves);
    core::DistortionRecord& d = out.distortion;
    if (planScale != 1.0 && !d.empty()) {
        for (float& hz : d.hz)
            hz = static_cast<float>(hz / planScale);
        d.sweepStartHz /= planScale;
        d.sweepEndHz /= planScale;
        d.sweepSeconds *= planScale;
        d.sweepRateHz = static_cast<int>(std::lround(fs));
    }
    return CaptureOutcome::Delivered;
}

} // namespace box::sim
