#include "dsp/Sweep.h"

#include "dsp/RealFft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace dsp
{

namespace
{

constexpr double kPi = std::numbers::pi;

double clampFinite(double value, double low, double high, double fallback)
{
    if (!std::isfinite(value))
        return fallback;
    return std::clamp(value, low, high);
}

// 0 -> 0, 1 -> 1, with zero slope at both ends.
double raisedCosine(double x)
{
    return 0.5 - 0.5 * std::cos(kPi * std::clamp(x, 0.0, 1.0));
}

// The fades' shape: 0 -> 0, 1 -> 1 with the first two derivatives zero at both ends. Where
// a fade meets the steady sweep, a jump in the level's curvature would leave a ripple of some
// tenths of a dB in the response an octave above the start frequency.
double fadeShape(double x)
{
    const double u = std::clamp(x, 0.0, 1.0);
    return u * u * u * (10.0 + u * (-15.0 + 6.0 * u));
}

// Weight of the inverse filter at `hz`: 1 from startHz to endHz, falling to 0 across the fades
// on a logarithmic frequency scale, 0 outside what was played. Where the sweep was faded the
// response is less exact, and a soft edge keeps the impulse responses short.
double bandWeight(const SweepPlan& plan, double hz)
{
    if (hz < plan.lowestHz || hz > plan.highestHz || hz <= 0.0)
        return 0.0;
    if (hz < plan.startHz)
        return raisedCosine(std::log(hz / plan.lowestHz) / std::log(plan.startHz / plan.lowestHz));
    if (hz > plan.endHz)
        return raisedCosine(std::log(plan.highestHz / hz) / std::log(plan.highestHz / plan.endHz));
    return 1.0;
}

} // namespace

double sweepResponseGain(const SweepPlan& plan, double hz)
{
    const double weight = bandWeight(plan, hz);
    if (weight == 0.0 || plan.timeConstantSeconds <= 0.0)
        return 0.0;
    // The sweep passes `hz` at t = L ln(hz / startHz), at the level the fades give it then.
    const double t = plan.timeConstantSeconds * std::log(hz / plan.startHz);
    const double fadeIn = static_cast<double>(plan.startSample) / plan.rateHz;
    double level = 1.0;
    if (t < 0.0)
        level = fadeIn > 0.0 ? fadeShape((t + fadeIn) / fadeIn) : 0.0;
    else if (t > plan.lengthSeconds)
        level = plan.fadeOutSeconds > 0.0
                    ? fadeShape((plan.lengthSeconds + plan.fadeOutSeconds - t) / plan.fadeOutSeconds)
                    : 0.0;
    return weight * level;
}

SweepPlan planSweep(const SweepRequest& request)
{
    SweepPlan p;
    p.rateHz = std::clamp(request.rateHz, 8000, 768000);
    const double nyquist = 0.5 * p.rateHz;
    p.endHz = clampFinite(request.endHz, 2.0 * kSweepMinStartHz, kSweepEndNyquistShare * nyquist,
                          std::min(20000.0, kSweepEndNyquistShare * nyquist));
    p.startHz = clampFinite(request.startHz, kSweepMinStartHz, 0.5 * p.endHz, kSweepMinStartHz);
    p.amplitude = clampFinite(request.amplitude, 0.0, 1.0, 0.0);

    // startHz * L whole: the lengths that allow it are multiples of ln(end/start)/start.
    const double logRatio = std::log(p.endHz / p.startHz);
    const double step = logRatio / p.startHz;
    const double wanted =
        clampFinite(request.lengthSeconds, kSweepMinSeconds, kSweepMaxSeconds, 2.0);
    double cycles = std::max(1.0, std::round(wanted / step));
    if (cycles * step > kSweepMaxSeconds)
        cycles -= 1.0;
    if (cycles * step < kSweepMinSeconds)
        cycles += 1.0;
    p.timeConstantSeconds = cycles / p.startHz;
    p.lengthSeconds = p.timeConstantSeconds * logRatio;

    const double fadeIn = clampFinite(request.fadeInSeconds, 0.0, 1.0, 0.0);
    p.startSample = static_cast<int>(std::lround(fadeIn * p.rateHz));
    const double L = p.timeConstantSeconds;
    p.lowestHz = p.startHz * std::exp(-static_cast<double>(p.startSample) / p.rateHz / L);
    const double fadeOutLimit = L * std::log(kSweepFadeNyquistShare * nyquist / p.endHz);
    p.fadeOutSeconds = clampFinite(request.fadeOutSeconds, 0.0, std::max(0.0, fadeOutLimit), 0.0);
    p.highestHz = p.endHz * std::exp(p.fadeOutSeconds / L);
    p.totalSamples = p.startSample +
                     static_cast<int>(std::floor((p.lengthSeconds + p.fadeOutSeconds) * p.rateHz)) +
                     1;
    return p;
}

std::vector<double> makeSweep(const SweepPlan& plan)
{
    std::vector<double> out(static_cast<std::size_t>(std::max(0, plan.totalSamples)));
    const double L = plan.timeConstantSeconds;
    if (L <= 0.0)
        return out;
    const double fadeIn = static_cast<double>(plan.startSample) / plan.rateHz;
    // The phase reaches whole turns at t = 0 (startHz * L is whole): the sweep advanced by
    // L ln k is then exactly sin(k phase).
    const double phaseScale = 2.0 * kPi * plan.startHz * L;
    for (std::size_t n = 0; n < out.size(); ++n) {
        const double t = (static_cast<double>(n) - plan.startSample) / plan.rateHz;
        double level = plan.amplitude;
        if (t < 0.0)
            level *= fadeShape((t + fadeIn) / fadeIn);
        else if (t > plan.lengthSeconds)
            level *= plan.fadeOutSeconds > 0.0
                         ? fadeShape((plan.lengthSeconds + plan.fadeOutSeconds - t) /
                                     plan.fadeOutSeconds)
                         : 0.0;
        out[n] = level * std::sin(phaseScale * std::expm1(t / L));
    }
    return out;
}

double harmonicLeadSeconds(const SweepPlan& plan, int harmonic)
{
    return harmonic < 1 ? 0.0 : plan.timeConstantSeconds * std::log(static_cast<double>(harmonic));
}

int recommendedCaptureSamples(const SweepPlan& plan)
{
    const double tail = harmonicLeadSeconds(plan, 2) + 0.25;
    return plan.totalSamples + static_cast<int>(std::ceil(tail * plan.rateHz));
}

SweepDeconvolution deconvolveSweep(const SweepPlan& plan, std::span<const double> capture)
{
    SweepDeconvolution d;
    d.rateHz = plan.rateHz;
    d.arrivalIndex = plan.startSample;
    // The longest transform holds 2^24 samples: beyond that a capture is cut.
    const std::size_t room = (std::size_t{1} << 24) - static_cast<std::size_t>(plan.totalSamples);
    capture = capture.first(std::min(capture.size(), room));
    d.captureSamples = static_cast<int>(capture.size());
    // Long enough that the response to the whole capture and the inverse filter's extent
    // ahead of time zero (the played length) do not overlap around the circle.
    const long span =
        static_cast<long>(std::max(capture.size(), static_cast<std::size_t>(plan.totalSamples))) +
        plan.totalSamples;
    RealFft fft(RealFft::lengthFor(span));
    const int n = fft.length();
    d.response.assign(static_cast<std::size_t>(n), 0.0);
    if (plan.amplitude <= 0.0 || plan.timeConstantSeconds <= 0.0)
        return d;
    std::copy(capture.begin(), capture.end(), d.response.begin());

    std::vector<std::complex<double>> spectrum(static_cast<std::size_t>(n / 2 + 1));
    fft.forward(d.response.data(), spectrum.data());

    // The sweep's spectrum by stationary phase (unit amplitude, t = 0 at startSample):
    //   X(f) = 1/2 sqrt(L/f) e^(j(2pi L f (1 - ln(f/f1)) - pi/4)),
    // and the DFT of the sampled sweep is rate * X(f) delayed by startSample. Dividing by
    // rate * X(f) alone leaves the response's time zero at startSample.
    const double L = plan.timeConstantSeconds;
    const double scale = 2.0 / (plan.rateHz * plan.amplitude * std::sqrt(L));
    const double binHz = static_cast<double>(plan.rateHz) / n;
    for (int k = 0; k <= n / 2; ++k) {
        const double f = k * binHz;
        const double weight = bandWeight(plan, f);
        if (weight == 0.0) {
            spectrum[static_cast<std::size_t>(k)] = 0.0;
            continue;
        }
        // The phase in whole turns runs to some 10^4; only its fraction goes to the sine, which
        // keeps the sine's argument small and fast to reduce.
        const double turns = L * f * (1.0 - std::log(f / plan.startHz)) - 0.125;
        const double phase = 2.0 * kPi * (turns - std::floor(turns));
        spectrum[static_cast<std::size_t>(k)] *= std::polar(weight * scale * std::sqrt(f), -phase);
    }
    fft.inverse(spectrum.data(), d.response.data());
    return d;
}

namespace
{

// How far ahead of its time zero the linear response may be taken: half the second
// harmonic's lead, so that no harmonic enters.
int clampedSamplesBefore(const SweepPlan& plan, int samplesBefore)
{
    const int maxBefore =
        static_cast<int>(std::floor(0.5 * harmonicLeadSeconds(plan, 2) * plan.rateHz));
    return std::clamp(samplesBefore, 0, maxBefore);
}

} // namespace

std::vector<double> linearImpulseResponse(const SweepPlan& plan, const SweepDeconvolution& d,
                                          int samplesBefore, int length)
{
    std::vector<double> out(static_cast<std::size_t>(std::max(0, length)), 0.0);
    const long n = static_cast<long>(d.response.size());
    if (n == 0)
        return out;
    const long before = clampedSamplesBefore(plan, samplesBefore);
    // After time zero the response is the capture's up to its end plus the sweep's start;
    // beyond, the circle carries the inverse filter's part ahead of time zero.
    const long last = d.arrivalIndex + std::max(d.captureSamples, plan.totalSamples);
    for (long i = 0; i < static_cast<long>(out.size()); ++i) {
        const long at = d.arrivalIndex - before + i;
        if (at >= last)
            break;
        out[static_cast<std::size_t>(i)] = d.response[static_cast<std::size_t>(((at % n) + n) % n)];
    }
    return out;
}

std::vector<double> periodicImpulseResponse(const SweepPlan& plan, const SweepDeconvolution& d,
                                            int samplesBefore, int span, int period, int index)
{
    std::vector<double> out(static_cast<std::size_t>(std::max(0, period)), 0.0);
    if (period <= 0)
        return out;
    const int before = clampedSamplesBefore(plan, samplesBefore);
    const std::vector<double> h = linearImpulseResponse(plan, d, before, std::max(span, period));
    for (std::size_t i = 0; i < h.size(); ++i) {
        const long at = ((static_cast<long>(i) - before + index) % period + period) % period;
        out[static_cast<std::size_t>(at)] += h[i];
    }
    return out;
}

} // namespace dsp
