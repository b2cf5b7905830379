#include "dsp/Waterfall.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "dsp/Response.h"
#include "dsp/Tapers.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace dsp {

namespace {
constexpr int kSegment = 512;
constexpr int kSliceShift = 6;        // samples between slice starts
constexpr double kDt = kCsdSamplePeriodS;

bool counts(float v) { return v != core::NO_VALUE && std::isfinite(v); }
} // namespace

int impulseArrival(std::span<const float> samples, int from, int to)
{
    from = std::max(from, 0);
    to = std::min(to, static_cast<int>(samples.size()));
    double peak = 0.0;
    for (int i = from; i < to; ++i)
        if (counts(samples[i]))
            peak = std::max(peak, std::fabs(double(samples[i])));
    if (!(peak > 0.0))
        return -1;
    const double threshold = kArrivalFraction * peak;
    for (int i = from; i < to; ++i)
        if (counts(samples[i]) && std::fabs(double(samples[i])) >= threshold)
            return i;
    return -1;
}

WaterfallSpan waterfallSpan(std::span<const float> samples, int N, int marker1Pos, int marker2Pos)
{
    // N comes from a trailer that a file may have damaged; any other value counts as 4096.
    N = fftLengthFor(N);
    const int p0 = std::clamp(marker1Pos, 0, 10000);
    const int p1 = std::clamp(marker2Pos, 0, 10000);
    WaterfallSpan span;
    span.start = static_cast<int>(p0 / 10000.0 * (N - 1));
    span.end = static_cast<int>(p1 / 10000.0 * (N - 1));
    // The whole marked range is searched: with a distant microphone the sound may arrive more
    // than one segment after M1.
    const int arrival =
        impulseArrival(samples, span.start, std::min(span.end, core::kRecordSamples));
    if (arrival >= 0 && arrival - kArrivalLeadSamples > span.start) {
        span.start = arrival - kArrivalLeadSamples;
        span.startsAtArrival = true;
    }
    return span;
}

int computeWaterfall(int N)
{
    return computeWaterfall(sharedFftWork(), N);
}

int computeWaterfall(FftWork work, int N)
{
    const core::MeasurementSettings& s = core::settings();
    core::MeasurementStore& st = core::store();
    float* re = work.re;
    float* im = work.im;

    const WaterfallSpan span =
        waterfallSpan(std::span<const float>(st.timeRecord.v.data(), core::kRecordSamples), N,
                      s.markerPos[0], s.markerPos[1]);
    const int start = span.start;
    const int end = span.end;

    std::array<double, kSegment> seg{};
    for (int i = start; i < core::kRecordSamples && i < start + kSegment && i < end; ++i)
        seg[i - start] = st.timeRecord[i] * edgeTaper[i - start];
    for (int i = end; i >= end - 7; --i) {
        if (i <= start || i >= start + kSegment)
            break;
        seg[i - start] = st.timeRecord[i] * edgeTaper[kSegment - 1 - (end - i)];
    }

    const int table51k = core::rateTableIndex(2);
    const auto& refAmp = st.referenceAmplitude[table51k];
    const auto& micAmp = st.micCorrectionAmplitude[table51k];
    const bool useRef = s.referenceComputation == 1;
    const bool useMic = useRef && s.micCorrection == 1; // no mic correction without reference

    auto& freq = st.csdFrequency;
    auto& level = st.csdLevel;
    auto& time = st.csdTime;
    int point = 0;
    auto append = [&](float f, float l, float t) {
        freq[point] = f;
        level[point] = l;
        time[point] = t;
        ++point;
    };
    append(core::NO_VALUE, core::NO_VALUE, core::NO_VALUE);
    double maxLevel = -100000.0;

    for (int slice = 0; slice < kCsdSlices; ++slice) {
        const int d = kSliceShift * slice;
        const int remaining = (end - start) - d;
        if (remaining < 4) {
            for (int k = 0; k < kCsdBinsPerSlice; ++k)
                append(core::NO_VALUE, core::NO_VALUE, core::NO_VALUE);
            continue;
        }
        // ceil((1 / (L dt)) / 100) in integers: 51200 / 100 = 512.
        const int kMin = std::min((kSegment + remaining - 1) / remaining, kCsdBinsPerSlice);

        std::fill(im, im + kSegment, 0.0f);
        if (slice == 0) {
            for (int j = 0; j < kSegment; ++j)
                re[j] = static_cast<float>(seg[j]);
        } else {
            // The later slices lose their mean (taken under both tapers) before the transform.
            for (int j = d; j < kSegment; ++j)
                re[j - d] = static_cast<float>(edgeTaper[j - d] * sliceTaper[j - d] * seg[j]);
            std::fill(re + kSegment - d, re + kSegment, 0.0f);
            fftForward(work, 9);
            const double mean = (double(kSegment) / remaining) * re[0];
            for (int j = d; j < kSegment; ++j)
                re[j - d] = static_cast<float>(edgeTaper[j - d] * (seg[j] - mean));
            std::fill(re + kSegment - d, re + kSegment, 0.0f);
            std::fill(im, im + kSegment, 0.0f);
        }
        fftForward(work, 9);

        const float sliceTime = static_cast<float>(d * kDt);
        for (int k = 0; k < kMin; ++k)
            append(core::NO_VALUE, core::NO_VALUE, core::NO_VALUE);
        for (int k = kMin; k < kCsdBinsPerSlice; ++k) {
            // 1.41 x 28.2 is the program's own level calibration of the 512-point slices.
            const double magnitude =
                std::sqrt(double(re[k]) * re[k] + double(im[k]) * im[k]) * 1.41 * 28.2;
            double l = 20.0 * std::log10(magnitude + kLogFloor);
            if (useRef) {
                l -= refAmp[8 * k];
                if (useMic)
                    l -= micAmp[8 * k];
            }
            maxLevel = std::max(maxLevel, l);
            append(static_cast<float>(k * 100.0), static_cast<float>(l), sliceTime);
        }
    }
    append(core::NO_VALUE, core::NO_VALUE, core::NO_VALUE);

    freq[core::kCsdPoints] = core::NO_VALUE;
    level[core::kCsdPoints] = static_cast<float>(maxLevel);
    time[core::kCsdPoints] = core::NO_VALUE;
    return 0;
}

} // namespace dsp
