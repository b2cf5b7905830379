#include "dsp/Distortion.h"

#include "dsp/RealFft.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dsp
{

namespace
{

constexpr double kPi = std::numbers::pi;
// Added to powers before the logarithm so that silence gives a finite, very low value.
constexpr double kPowerFloor = 1e-30;
// The stretch of pure noise starts this many second-harmonic leads after time zero: past the
// linear window (0.8 of a lead) with room for the device's ringing to die away.
constexpr double kNoiseStartLeads = 1.25;
constexpr int kNoiseSegment = 4096;
constexpr int kMinNoiseSegment = 256;

double at(const std::vector<double>& circle, long index)
{
    const long n = static_cast<long>(circle.size());
    return circle[static_cast<std::size_t>(((index % n) + n) % n)];
}

double halfHann(double x) // 0 -> 0, 1 -> 1
{
    return 0.5 - 0.5 * std::cos(kPi * std::clamp(x, 0.0, 1.0));
}

HarmonicResponse cutHarmonic(const SweepDeconvolution& d, double arrival, double pre, double post)
{
    HarmonicResponse h;
    h.zeroIndex = static_cast<int>(std::ceil(pre));
    const int width = h.zeroIndex + static_cast<int>(std::floor(post)) + 1;
    const double start = arrival - h.zeroIndex;
    const long first = static_cast<long>(std::floor(start));
    const double fraction = start - static_cast<double>(first);

    RealFft fft(RealFft::lengthFor(2L * width));
    const int m = fft.length();
    std::vector<double> seg(static_cast<std::size_t>(m), 0.0);
    // Rising over the first half of the part ahead of time zero, falling over the second half
    // of the part after it.
    const double rise = 0.5 * h.zeroIndex;
    const double fallStart = h.zeroIndex + 0.5 * (width - 1 - h.zeroIndex);
    const double fall = (width - 1) - fallStart;
    for (int n = 0; n < width; ++n) {
        double w = 1.0;
        if (n < rise)
            w = halfHann(n / rise);
        else if (n > fallStart && fall > 0.0)
            w = halfHann((width - 1 - n) / fall);
        seg[static_cast<std::size_t>(n)] = w * at(d.response, first + n);
        h.windowEnergy += w * w;
    }
    std::vector<std::complex<double>> spectrum(static_cast<std::size_t>(m / 2 + 1));
    fft.forward(seg.data(), spectrum.data());
    // Advancing by the fraction puts time zero on sample zeroIndex; the spectrum kept is
    // referred to time zero itself.
    h.binHz = static_cast<double>(d.rateHz) / m;
    h.spectrum.resize(spectrum.size());
    // The phase factors advance by a fixed rotation from bin to bin; each is taken afresh
    // from its angle every 256 bins so that the rotations' rounding cannot accumulate.
    const double shiftTurns = fraction / m;
    const double zeroTurns = static_cast<double>(h.zeroIndex) / m;
    const std::complex<double> shiftStep = std::polar(1.0, 2.0 * kPi * shiftTurns);
    const std::complex<double> zeroStep = std::polar(1.0, 2.0 * kPi * zeroTurns);
    std::complex<double> shift = 1.0;
    std::complex<double> zero = 1.0;
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
        if (k % 256 == 0) {
            const double bin = static_cast<double>(k);
            shift = std::polar(1.0, 2.0 * kPi * std::remainder(shiftTurns * bin, 1.0));
            zero = std::polar(1.0, 2.0 * kPi * std::remainder(zeroTurns * bin, 1.0));
        }
        spectrum[k] *= shift;
        h.spectrum[k] = spectrum[k] * zero;
        shift *= shiftStep;
        zero *= zeroStep;
    }
    fft.inverse(spectrum.data(), seg.data());
    h.samples.assign(seg.begin(), seg.begin() + width);
    return h;
}

// Mean of |S|^2 over the band lowHz..highHz; a band narrower than the bins takes the value
// interpolated at its centre.
double bandPower(const std::vector<std::complex<double>>& s, double binHz, double lowHz,
                 double highHz)
{
    const long last = static_cast<long>(s.size()) - 1;
    const long from = static_cast<long>(std::ceil(lowHz / binHz));
    const long to = std::min(last, static_cast<long>(std::floor(highHz / binHz)));
    if (to >= from && from >= 0) {
        double sum = 0.0;
        for (long k = from; k <= to; ++k)
            sum += std::norm(s[static_cast<std::size_t>(k)]);
        return sum / static_cast<double>(to - from + 1);
    }
    const double pos =
        std::clamp(std::sqrt(lowHz * highHz) / binHz, 0.0, static_cast<double>(last));
    const long k0 = std::min(last - 1, static_cast<long>(std::floor(pos)));
    if (k0 < 0)
        return std::norm(s.front());
    const double frac = pos - static_cast<double>(k0);
    return (1.0 - frac) * std::norm(s[static_cast<std::size_t>(k0)]) +
           frac * std::norm(s[static_cast<std::size_t>(k0 + 1)]);
}

// The deconvolved noise's power per unit of window energy, by frequency: Hann-windowed
// segments of a stretch after the linear response, half overlapping, averaged.
struct NoiseSpectrum {
    double binHz = 1.0;
    std::vector<std::complex<double>> magnitude; // sqrt of the mean power, phase 0
    bool complete = false;
};

NoiseSpectrum estimateNoise(const SweepPlan& plan, const SweepDeconvolution& d)
{
    NoiseSpectrum noise;
    const long from =
        d.arrivalIndex +
        static_cast<long>(std::ceil(kNoiseStartLeads * harmonicLeadSeconds(plan, 2) * plan.rateHz));
    // Up to here every sample of the inverse filter met a captured sample, so the noise of
    // the whole band is in it; further on the highest frequencies fall away.
    const long covered = d.arrivalIndex + d.captureSamples - plan.totalSamples;
    // Beyond this the circle wraps into what lies ahead of time zero.
    const long usable = static_cast<long>(d.response.size()) - plan.totalSamples;
    long to = covered;
    noise.complete = covered - from >= kNoiseSegment;
    if (!noise.complete)
        to = std::min(usable, std::max(covered, from + kNoiseSegment));
    int segment = kNoiseSegment;
    while (segment > kMinNoiseSegment && to - from < segment)
        segment /= 2;
    if (to - from < segment) {
        noise.complete = false;
        return noise;
    }
    RealFft fft(segment);
    std::vector<double> window(static_cast<std::size_t>(segment));
    double energy = 0.0;
    for (int n = 0; n < segment; ++n) {
        window[static_cast<std::size_t>(n)] = 0.5 - 0.5 * std::cos(2.0 * kPi * n / segment);
        energy += window[static_cast<std::size_t>(n)] * window[static_cast<std::size_t>(n)];
    }
    std::vector<double> seg(static_cast<std::size_t>(segment));
    std::vector<std::complex<double>> spectrum(static_cast<std::size_t>(segment / 2 + 1));
    std::vector<double> power(spectrum.size(), 0.0);
    int count = 0;
    for (long start = from; start + segment <= to && count < 16; start += segment / 2, ++count) {
        for (int n = 0; n < segment; ++n)
            seg[static_cast<std::size_t>(n)] =
                window[static_cast<std::size_t>(n)] * at(d.response, start + n);
        fft.forward(seg.data(), spectrum.data());
        for (std::size_t k = 0; k < power.size(); ++k)
            power[k] += std::norm(spectrum[k]);
    }
    noise.binHz = static_cast<double>(plan.rateHz) / segment;
    noise.magnitude.resize(power.size());
    for (std::size_t k = 0; k < power.size(); ++k)
        noise.magnitude[k] = std::sqrt(power[k] / (count * energy));
    return noise;
}

double toDb(double power)
{
    return 10.0 * std::log10(power + kPowerFloor);
}

} // namespace

HarmonicResponses separateHarmonics(const SweepPlan& plan, const SweepDeconvolution& d)
{
    HarmonicResponses out;
    if (d.response.empty())
        return out;
    const double rate = plan.rateHz;
    const double L = plan.timeConstantSeconds;
    for (int k = 1; k <= kSweepHarmonics; ++k) {
        const double arrival = d.arrivalIndex - harmonicLeadSeconds(plan, k) * rate;
        const double toHigher = L * std::log((k + 1.0) / k) * rate;
        const double toLower =
            k == 1 ? L * std::log(2.0) * rate : L * std::log(k / (k - 1.0)) * rate;
        // Between the linear response and the second harmonic the gap is split in the middle:
        // the lower edge of the band makes the linear response ring ahead of its time zero
        // as well, and both need that room at low frequencies.
        const double pre = k == 1 ? 0.5 * toHigher : 0.2 * toHigher;
        const double post = k == 2 ? 0.5 * toLower : 0.8 * toLower;
        out.h[static_cast<std::size_t>(k - 1)] = cutHarmonic(d, arrival, pre, post);
    }
    return out;
}

DistortionCurves distortionCurves(const SweepPlan& plan, const SweepDeconvolution& d,
                                  const HarmonicResponses& harmonics, int pointsPerOctave)
{
    DistortionCurves c;
    if (harmonics.h[0].spectrum.empty())
        return c;
    const int perOctave = std::clamp(pointsPerOctave, kDistortionMinPointsPerOctave, 96);
    const double halfStep = std::exp2(0.5 / perOctave);
    const NoiseSpectrum noise = estimateNoise(plan, d);
    c.noiseCoversBand = noise.complete;

    for (int i = 0;; ++i) {
        const double hz = plan.startHz * std::exp2(static_cast<double>(i) / perOctave);
        if (hz > 0.5 * plan.endHz * (1.0 + 1e-12))
            break;
        c.hz.push_back(hz);
        const HarmonicResponse& h1 = harmonics.h[0];
        const double fundamental = bandPower(h1.spectrum, h1.binHz, hz / halfStep, hz * halfStep);
        c.fundamentalDb.push_back(toDb(fundamental));
        double harmonicSum = 0.0;
        for (int k = 2; k <= kSweepHarmonics; ++k) {
            const double outHz = k * hz;
            if (outHz > plan.endHz * (1.0 + 1e-12))
                continue;
            const HarmonicResponse& h = harmonics.h[static_cast<std::size_t>(k - 1)];
            const double power = bandPower(h.spectrum, h.binHz, outHz / halfStep, outHz * halfStep);
            harmonicSum += power;
            const std::size_t j = static_cast<std::size_t>(k - 2);
            c.harmonicDb[j].push_back(toDb(power) - toDb(fundamental));
            if (!noise.magnitude.empty()) {
                const double floor =
                    bandPower(noise.magnitude, noise.binHz, outHz / halfStep, outHz * halfStep) *
                    h.windowEnergy;
                c.noiseDb[j].push_back(toDb(floor) - toDb(fundamental));
            }
        }
        c.thdPercent.push_back(100.0 * std::sqrt(harmonicSum / (fundamental + kPowerFloor)));
    }
    return c;
}

SweepAnalysis analyzeSweep(const SweepPlan& plan, std::span<const double> capture)
{
    SweepAnalysis a;
    a.deconvolution = deconvolveSweep(plan, capture);
    a.harmonics = separateHarmonics(plan, a.deconvolution);
    a.curves = distortionCurves(plan, a.deconvolution, a.harmonics);
    return a;
}

} // namespace dsp
