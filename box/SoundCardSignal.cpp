#include "box/SoundCardSignal.h"

#include "box/Mls.h"
#include "dsp/DistortionRecord.h"
#include "dsp/RealFft.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <complex>
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
// The share of the sweep's linear window tapered at either end: enough to end the noise
// softly, little enough to keep the ringing of the band's lower edge.
constexpr double kSweepTaperShare = 0.2;

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

// --- the sweep ---------------------------------------------------------------------------

dsp::SweepPlan planDeviceSweep(const CaptureRequest& request, int deviceHz, double amplitude)
{
    dsp::SweepRequest r;
    r.startHz = request.sweepStartHz;
    r.endHz = request.sweepEndHz;
    r.lengthSeconds = request.sweepSeconds;
    r.rateHz = deviceHz;
    r.amplitude = amplitude;
    // The fade-out as long as the device's rate allows: a short one leaves a steep edge
    // above the end frequency, whose ringing reaches round the record to the samples ahead
    // of the impulse that the acquisition zeroes and fades.
    r.fadeOutSeconds = 1.0;
    return dsp::planSweep(r);
}

PlayedMls makePlayedSweep(const RateLink& link, const dsp::SweepPlan& plan)
{
    PlayedMls played;
    played.link = link;
    played.excitation = Excitation::Sweep;
    played.amplitude = plan.amplitude;
    played.sequenceLevel = plan.amplitude;
    played.periods = 1;
    played.periodSamples = 0; // played once, not in periods
    const std::vector<double> sweep = dsp::makeSweep(plan);
    played.frames.assign(sweep.begin(), sweep.end());
    // The Hilbert transform: every positive frequency turned by -90 degrees.
    dsp::RealFft fft(dsp::RealFft::lengthFor(2L * static_cast<long>(sweep.size())));
    std::vector<double> x(static_cast<std::size_t>(fft.length()), 0.0);
    std::copy(sweep.begin(), sweep.end(), x.begin());
    std::vector<std::complex<double>> spectrum(x.size() / 2 + 1);
    fft.forward(x.data(), spectrum.data());
    for (std::size_t k = 0; k < spectrum.size(); ++k)
        spectrum[k] = (k == 0 || k + 1 == spectrum.size())
                          ? std::complex<double>(0.0)
                          : spectrum[k] * std::complex<double>(0.0, -1.0);
    fft.inverse(spectrum.data(), x.data());
    played.quadrature.assign(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(sweep.size()));
    return played;
}

std::int64_t sweepTailFrames(const dsp::SweepPlan& plan)
{
    // The noise estimate starts 1.25 leads after time zero and wants one segment of 4096
    // samples; 20 ms more absorb a lag found a frame or two short.
    const double seconds = 1.25 * dsp::harmonicLeadSeconds(plan, 2) + 0.02;
    return static_cast<std::int64_t>(std::ceil(seconds * plan.rateHz)) + 4096;
}

SweepArrival sweepArrival(const dsp::SweepPlan& plan, std::span<const double> capture,
                          std::int64_t maxLag)
{
    SweepArrival a;
    const dsp::SweepDeconvolution d = dsp::deconvolveSweep(plan, capture);
    const std::int64_t n = static_cast<std::int64_t>(d.response.size());
    // Lags beyond half the second harmonic's lead from the capture's end would meet the
    // harmonics of the next circle; a longer delay than the capture holds isn't there at all.
    const std::int64_t last = std::min<std::int64_t>(
        {d.arrivalIndex + maxLag, d.arrivalIndex + static_cast<std::int64_t>(capture.size()),
         n - 1});
    double peak = 0.0, energy = 0.0;
    std::int64_t at = -1;
    for (std::int64_t i = d.arrivalIndex; i <= last; ++i) {
        const double v = d.response[static_cast<std::size_t>(i)];
        energy += v * v;
        if (std::fabs(v) > peak) {
            peak = std::fabs(v);
            at = i;
        }
    }
    const double count = static_cast<double>(last - d.arrivalIndex + 1);
    // Noise alone peaks some 4.5 times above its rms over 50000 samples; an impulse stands
    // far clear of that.
    if (at < 0 || !(peak > 20.0 * std::sqrt(energy / count)))
        return a;
    a.lag = at - d.arrivalIndex;
    // The energy near the peak against that of the linear response's window.
    const std::int64_t lead = static_cast<std::int64_t>(
        std::floor(0.5 * dsp::harmonicLeadSeconds(plan, 2) * plan.rateHz));
    double near = 0.0, around = 0.0;
    for (std::int64_t i = std::max<std::int64_t>(0, at - lead); i <= std::min(n - 1, at + lead);
         ++i) {
        const double v = d.response[static_cast<std::size_t>(i)];
        around += v * v;
        if (std::llabs(i - at) <= 16)
            near += v * v;
    }
    a.concentration = around > 0.0 ? near / around : 0.0;
    return a;
}

bool sweepArrivedWhole(const dsp::SweepPlan& plan, const PlayedMls& sweep, const float* x,
                       std::size_t count)
{
    constexpr std::size_t kBlock = 2048;
    const std::size_t n = std::min({count, sweep.frames.size(), sweep.quadrature.size()});
    if (plan.timeConstantSeconds <= 0.0 || n == 0)
        return false;
    // Below 100 Hz a block holds too few turns of the sweep to tell a shift.
    const double from = plan.startSample + plan.timeConstantSeconds *
                                               std::log(std::max(1.0, 100.0 / plan.startHz)) *
                                               plan.rateHz;
    const std::size_t last = static_cast<std::size_t>(
        plan.startSample + plan.lengthSeconds * plan.rateHz);
    double worst = 1e300, best = -1e300;
    for (std::size_t b = static_cast<std::size_t>(std::max(0.0, from));
         b + kBlock <= std::min(n, last); b += kBlock) {
        double xs = 0.0, xq = 0.0, xx = 0.0, ss = 0.0;
        for (std::size_t i = b; i < b + kBlock; ++i) {
            const double v = x[i];
            const double s = sweep.frames[i];
            const double q = sweep.quadrature[i];
            xs += v * s;
            xq += v * q;
            xx += v * v;
            ss += 0.5 * (s * s + q * q);
        }
        const double c = xx > 0.0 && ss > 0.0 ? std::hypot(xs, xq) / std::sqrt(xx * ss) : 0.0;
        worst = std::min(worst, c);
        best = std::max(best, c);
    }
    return best > 0.5 && worst >= 0.85 * best;
}

double sweepStimulusGain(const dsp::SweepPlan& plan, const PlayedMls& edgeSource, double hz)
{
    return dsp::sweepResponseGain(plan, hz) * stimulusGain(edgeSource, hz);
}

bool sweepRecord(const dsp::SweepPlan& plan, const dsp::SweepDeconvolution& d,
                 const PlayedMls& edgeSource, double countsPerUnit, double* out)
{
    const RateLink& link = edgeSource.link;
    const std::vector<double>& edge = edgeSource.edge;
    const std::int64_t zero = 4 + kAlignedDelaySamples;
    if (edge.empty() || link.deviceHz != plan.rateHz)
        return false;
    // The linear response over the window the distortion analysis gives it: from half the
    // second harmonic's lead ahead of time zero to four fifths of it after, with the outer
    // fifths of both parts tapered. Its lowest frequencies ring for a tenth of a second
    // and more on either side of time zero (the band's lower edge), which a record of 4096
    // samples cut out of it would lose.
    const double lead = dsp::harmonicLeadSeconds(plan, 2) * plan.rateHz;
    const std::int64_t before = static_cast<std::int64_t>(std::floor(0.5 * lead));
    const std::int64_t after = static_cast<std::int64_t>(std::floor(0.8 * lead));
    std::vector<double> h = dsp::linearImpulseResponse(plan, d, static_cast<int>(before),
                                                       static_cast<int>(before + after + 1));
    const double rise = kSweepTaperShare * static_cast<double>(before);
    const double fall = kSweepTaperShare * static_cast<double>(after);
    for (std::int64_t n = 0; n < static_cast<std::int64_t>(h.size()); ++n) {
        const double fromStart = static_cast<double>(n);
        const double toEnd = static_cast<double>(before + after - n);
        double w = 1.0;
        if (fromStart < rise)
            w = 0.5 - 0.5 * std::cos(kPi * fromStart / rise);
        else if (toEnd < fall)
            w = 0.5 - 0.5 * std::cos(kPi * toEnd / fall);
        h[static_cast<std::size_t>(n)] *= w;
    }

    // The converter works in whole steps: its output starts `ahead` program samples (a whole
    // number of steps) before time zero.
    const std::int64_t steps = ceilDiv(std::max<std::int64_t>(before, 1), link.frameStep);
    const std::int64_t ahead = steps * link.sampleStep;
    const std::int64_t samples = ahead + ceilDiv((after + 1) * link.sampleStep, link.frameStep) + 1;
    const std::int64_t marginSamples = converterMarginSamples(link);
    const std::int64_t offset = steps * link.frameStep + converterMarginFrames(link) - before;
    const std::int64_t frameCount = framesFor(link, samples + 2 * marginSamples);
    std::vector<float> frames(static_cast<std::size_t>(frameCount), 0.0f);
    for (std::int64_t i = 0; i < static_cast<std::int64_t>(h.size()) && offset + i < frameCount;
         ++i)
        frames[static_cast<std::size_t>(offset + i)] = static_cast<float>(h[static_cast<std::size_t>(i)]);
    std::vector<double> x;
    if (!toProgramRate(link, frames.data(), frames.size(), static_cast<int>(samples), x))
        return false;

    // Resampled, an impulse response keeps its samples' values and loses the frequency
    // response's scale: each program sample stands for deviceHz/programHz device frames.
    // It is laid round a circle of 4096 samples, as the MLS's periodic deconvolution lays a
    // response, so that at the record's frequencies it reads what the chain does.
    const double scale = countsPerUnit * link.deviceHz / link.programHz;
    constexpr std::int64_t kRecord = 4096;
    std::vector<double> circle(static_cast<std::size_t>(kRecord), 0.0);
    for (std::int64_t j = 0; j < static_cast<std::int64_t>(x.size()); ++j) {
        const std::int64_t at = ((j - ahead + zero) % kRecord + kRecord) % kRecord;
        circle[static_cast<std::size_t>(at)] += x[static_cast<std::size_t>(j)] * scale;
    }
    // Band-limited round the circle with the MLS's edge.
    const std::int64_t half = static_cast<std::int64_t>(edge.size()) - 1;
    for (std::int64_t n = 0; n < kRecord; ++n) {
        double y = edge[0] * circle[static_cast<std::size_t>(n)];
        for (std::int64_t i = 1; i <= half; ++i)
            y += edge[static_cast<std::size_t>(i)] *
                 (circle[static_cast<std::size_t>(((n - i) % kRecord + kRecord) % kRecord)] +
                  circle[static_cast<std::size_t>((n + i) % kRecord)]);
        out[n] = y;
    }
    return true;
}

} // namespace box::soundcard
