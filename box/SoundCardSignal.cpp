#include "box/SoundCardSignal.h"

#include "box/Mls.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

namespace box::soundcard {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The converter passes 97 % of the lower rate's Nyquist frequency unchanged (flat, linear
// phase, its delay compensated: sample k of the output lies at input time k·in/out exactly).
constexpr double kConverterPassband = 0.97;
// The played sequence is band-limited below that (see bandLimit).
constexpr double kStimulusStopband = 0.965;
constexpr double kStimulusPassband = 0.91 * kStimulusStopband;
constexpr int kStimulusFilterHalfLength = 512;

bool convert(double inHz, double outHz, const float* in, std::size_t inCount, float* out,
             std::size_t outCount, std::size_t& produced)
{
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    quality.passband_end = kConverterPassband;
    std::size_t consumed = 0;
    produced = 0;
    const soxr_error_t error = soxr_oneshot(inHz, outHz, 1, in, inCount, &consumed, out,
                                            outCount, &produced, &io, &quality, nullptr);
    return error == nullptr;
}

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) { return (a + b - 1) / b; }

// The MLS is white up to the program's Nyquist frequency, which neither the device (at
// 51.2 kHz against 48 kHz) nor the converters can pass. A steep edge there rings for hundreds
// of samples around the deconvolved impulse, and the part before the impulse wraps round to
// the end of the record and ripples the response by tenths of a dB. So the played period is
// band-limited first, with a raised-cosine edge (zero phase) between 91 % and 100 % of
// 96.5 % of the lower Nyquist frequency: flat to 20 kHz at 51.2 kHz and to 2.8 kHz at 6.4 kHz,
// and ringing short enough to decay within the room before the aligned impulse.
std::vector<double> bandLimitedPeriod(const RateLink& link, const std::vector<double>& raw,
                                      std::vector<double>& edge)
{
    const int p = static_cast<int>(raw.size());
    const double nyquist = 0.5 * std::min(link.programHz, link.deviceHz);
    const double f2 = kStimulusStopband * nyquist;
    const double f1 = kStimulusPassband * nyquist;
    const double fc = 0.5 * (f1 + f2) / link.programHz;   // cycles per sample
    const double b = 0.5 * (f2 - f1) / link.programHz;
    const int half = kStimulusFilterHalfLength;
    std::vector<double> h(2 * half + 1);
    double sum = 0.0;
    for (int n = -half; n <= half; ++n) {
        const double t = n;
        const double x = 2.0 * fc * t;
        const double sinc = n == 0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
        const double d = 4.0 * b * t;
        // The raised cosine's factor, and its limit where the denominator vanishes.
        const double rc = std::fabs(std::fabs(d) - 1.0) < 1e-9
                              ? kPi / 4.0
                              : std::cos(2.0 * kPi * b * t) / (1.0 - d * d);
        const double w = 0.42 + 0.5 * std::cos(kPi * t / (half + 1)) +
                         0.08 * std::cos(2.0 * kPi * t / (half + 1)); // Blackman
        h[static_cast<std::size_t>(n + half)] = 2.0 * fc * sinc * rc * w;
        sum += h[static_cast<std::size_t>(n + half)];
    }
    edge.assign(h.begin() + half, h.end());
    for (double& v : edge)
        v /= sum;
    // The period extended on both sides so the circular convolution runs straight.
    std::vector<double> x(static_cast<std::size_t>(p + 2 * half));
    for (int i = 0; i < p + 2 * half; ++i)
        x[static_cast<std::size_t>(i)] = raw[static_cast<std::size_t>(((i - half) % p + p) % p)];
    std::vector<double> period(static_cast<std::size_t>(p));
    for (int n = 0; n < p; ++n) {
        // y(n) = sum over k of h(k) x(n − k), with x(n − k) at index n − k + half.
        double y = 0.0;
        const double* xn = x.data() + n + 2 * half;
        for (int k = 0; k <= 2 * half; ++k)
            y += h[static_cast<std::size_t>(k)] * xn[-k];
        period[static_cast<std::size_t>(n)] = y / sum;
    }
    return period;
}

// One period of the stimulus at unit level, before band-limiting: the sequence as ±1, a unit
// pulse, or lines of unit peak.
std::vector<double> rawPeriod(Excitation excitation, int noisePeriod)
{
    if (excitation == Excitation::Mls) {
        std::vector<double> x(kMlsPeriod);
        for (int i = 0; i < kMlsPeriod; ++i)
            x[static_cast<std::size_t>(i)] = mlsBit(i) ? 1.0 : -1.0;
        return x;
    }
    std::vector<double> x(4096, 0.0);
    if (excitation == Excitation::Pulse) {
        x[0] = 1.0;
        return x;
    }
    // Line j sits on bin j of the noise period, i.e. every (4096 / period)-th bin of the
    // record. The phases are random (a fixed sequence): then every part of a period holds
    // every frequency, as in the MLS, and the delay found on any block of it is the same.
    // Phases in a sweep (Schroeder's) would give a lower crest factor, but a block would hold
    // only part of the band, and a filter's group delay would move the delay from block to
    // block.
    const int period = std::clamp(noisePeriod, 2, 4096);
    const int count = period / 2 - 1;
    std::mt19937 phases(4095);
    for (int j = 1; j <= count; ++j) {
        const double phase = 2.0 * kPi * (double(phases()) / 4294967296.0);
        for (int n = 0; n < 4096; ++n)
            x[static_cast<std::size_t>(n)] += std::cos(2.0 * kPi * j * (n % period) / period + phase);
    }
    return x;
}

} // namespace

RateLink rateLink(int programHz, int deviceHz)
{
    RateLink link;
    link.programHz = programHz;
    link.deviceHz = deviceHz;
    const int g = std::gcd(programHz, deviceHz);
    link.sampleStep = g > 0 ? programHz / g : 1;
    link.frameStep = g > 0 ? deviceHz / g : 1;
    return link;
}

std::int64_t framesFor(const RateLink& link, std::int64_t samples)
{
    return ceilDiv(samples * link.frameStep, link.sampleStep);
}

std::int64_t converterMarginSamples(const RateLink& link)
{
    // At least 256 program samples and 512 device frames, rounded up to whole steps.
    const std::int64_t steps =
        std::max(ceilDiv(256, link.sampleStep), ceilDiv(512, link.frameStep));
    return steps * link.sampleStep;
}

std::int64_t converterMarginFrames(const RateLink& link)
{
    return converterMarginSamples(link) / link.sampleStep * link.frameStep;
}

PlayedMls makePlayedMls(const RateLink& link, double amplitude)
{
    return makePlayedStimulus(link, amplitude, Excitation::Mls, 4096);
}

PlayedMls makePlayedStimulus(const RateLink& link, double amplitude, Excitation excitation,
                             int noisePeriod)
{
    PlayedMls played;
    played.link = link;
    played.amplitude = amplitude;
    played.excitation = excitation;
    played.noisePeriod = noisePeriod;
    const std::vector<double> raw = rawPeriod(excitation, noisePeriod);
    const int p = static_cast<int>(raw.size());
    played.periodSamples = p;
    // Periods per cycle: the smallest count with count·p·frameStep divisible by sampleStep.
    const std::int64_t g =
        std::gcd<std::int64_t>(std::int64_t{p} * link.frameStep, link.sampleStep);
    played.periods = static_cast<int>(link.sampleStep / g);
    const std::int64_t cycleSamples = std::int64_t{played.periods} * p;
    const std::int64_t cycleFrames = cycleSamples * link.frameStep / link.sampleStep;

    // Convert three cycles of the periodic sequence and keep the middle one: the converter's
    // start and end transients fall into the outer two.
    played.period = bandLimitedPeriod(link, raw, played.edge);
    double peak = 0.0;
    for (double v : played.period)
        peak = std::max(peak, std::fabs(v));
    played.sequenceLevel = peak > 0.0 ? amplitude / peak : amplitude;
    for (double& v : played.period)
        v *= played.sequenceLevel;
    std::vector<float> in(static_cast<std::size_t>(3 * cycleSamples));
    for (std::size_t n = 0; n < in.size(); ++n)
        in[n] = static_cast<float>(played.period[n % static_cast<std::size_t>(p)]);
    std::vector<float> out(static_cast<std::size_t>(3 * cycleFrames));
    std::size_t produced = 0;
    convert(link.programHz, link.deviceHz, in.data(), in.size(), out.data(), out.size(),
            produced);
    played.frames.assign(out.begin() + cycleFrames, out.begin() + 2 * cycleFrames);
    return played;
}

double stimulusGain(const PlayedMls& played, double hz)
{
    const double w = 2.0 * kPi * hz / played.link.programHz;
    if (played.edge.empty() || hz < 0.0 || 2.0 * hz > played.link.programHz)
        return 0.0;
    // h(0) + 2 sum of h(n) cos(n w), the cosines by the recurrence cos((n+1)w) =
    // 2 cos w cos(nw) - cos((n-1)w).
    const double c1 = std::cos(w);
    double previous = 1.0, current = c1;
    double gain = played.edge[0];
    for (std::size_t n = 1; n < played.edge.size(); ++n) {
        gain += 2.0 * played.edge[n] * current;
        const double next = 2.0 * c1 * current - previous;
        previous = current;
        current = next;
    }
    return gain;
}

bool toProgramRate(const RateLink& link, const float* frames, std::size_t frameCount,
                   int samples, std::vector<double>& out)
{
    const std::int64_t margin = converterMarginSamples(link);
    const std::int64_t wanted = margin + samples;
    if (static_cast<std::int64_t>(frameCount) < framesFor(link, wanted + margin))
        return false;
    const std::size_t outCount = static_cast<std::size_t>(
        std::int64_t(frameCount) * link.sampleStep / link.frameStep);
    std::vector<float> converted(outCount);
    std::size_t produced = 0;
    if (!convert(link.deviceHz, link.programHz, frames, frameCount, converted.data(), outCount,
                 produced) ||
        static_cast<std::int64_t>(produced) < wanted)
        return false;
    out.assign(converted.begin() + margin, converted.begin() + wanted);
    return true;
}

void alignMlsPeriod(const std::vector<double>& captured, std::int64_t firstSample, double* out,
                    int period)
{
    const std::int64_t p = period;
    for (std::int64_t n = 0; n < p; ++n) {
        std::int64_t k = (n - kAlignedDelaySamples - firstSample) % p;
        if (k < 0)
            k += p;
        out[n] = captured[static_cast<std::size_t>(k)];
    }
}

void digitalMlsPeriod(const PlayedMls& played, double* out)
{
    const int p = played.periodSamples;
    for (int n = 0; n < p; ++n)
        out[n] = played.period[static_cast<std::size_t>(((n - kAlignedDelaySamples) % p + p) % p)];
}

std::int64_t findOnset(const float* x, std::size_t count, int stride, double threshold,
                       std::size_t quietRun)
{
    std::size_t quiet = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (std::fabs(x[i * static_cast<std::size_t>(stride)]) < threshold)
            ++quiet;
        else if (quiet >= quietRun)
            return static_cast<std::int64_t>(i);
        else
            quiet = 0;
    }
    return -1;
}

LagMatch bestLag(const PlayedMls& played, const float* x, std::size_t count, int stride,
                 std::int64_t firstFrame, std::int64_t minLag, std::int64_t maxLag)
{
    LagMatch best;
    const std::int64_t cycle = static_cast<std::int64_t>(played.frames.size());
    if (cycle == 0 || count == 0 || maxLag < minLag)
        return best;
    double xx = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double v = x[i * static_cast<std::size_t>(stride)];
        xx += v * v;
    }
    if (!(xx > 0.0))
        return best;
    double bestValue = -1e300;
    for (std::int64_t lag = minLag; lag <= maxLag; ++lag) {
        std::int64_t j = (firstFrame - lag) % cycle;
        if (j < 0)
            j += cycle;
        double sum = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            sum += double(x[i * static_cast<std::size_t>(stride)]) *
                   played.frames[static_cast<std::size_t>(j)];
            if (++j == cycle)
                j = 0;
        }
        if (sum > bestValue) {
            bestValue = sum;
            best.lag = lag;
        }
    }
    // Normalised by the power of the played frames the block answers at that lag: noise
    // (unlike the MLS) is not equally loud in every short block.
    double pp = 0.0;
    std::int64_t j = (firstFrame - best.lag) % cycle;
    if (j < 0)
        j += cycle;
    for (std::size_t i = 0; i < count; ++i) {
        const double v = played.frames[static_cast<std::size_t>(j)];
        pp += v * v;
        if (++j == cycle)
            j = 0;
    }
    const double norm = std::sqrt(xx * pp);
    best.correlation = norm > 0.0 ? bestValue / norm : 0.0;
    return best;
}

} // namespace box::soundcard
