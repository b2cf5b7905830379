#include "dsp/Response.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace dsp
{

namespace
{

constexpr int kBins = core::kCurveBins;

// Degrees from radians with the program's own pi of 3.1415 (not 3.14159...): phases stored in
// older files were computed this way, so the constant stays.
constexpr double kDegPerRad = 180.0 / 3.1415;

// The five-point fades at the window edges take their values from the waterfall's edge taper.
constexpr double kFadeIn[5] = {0.0488, 0.1502, 0.3332, 0.5799, 0.8247};
constexpr double kFadeOut[5] = {0.0093, 0.0488, 0.1502, 0.3332, 0.5799};

// Running-offset unwrap: a jump from below -T to above +T (or back) between neighbours moves
// every later bin by 360 degrees. The last bin has no successor.
void unwrapPhase(const float* p, float* u, int count, double threshold)
{
    double offset = 0.0;
    for (int i = 0; i < count; ++i) {
        u[i] = static_cast<float>(offset + p[i]);
        if (i + 1 < count) {
            if (p[i] < -threshold && p[i + 1] > threshold)
                offset -= 360.0;
            else if (p[i] > threshold && p[i + 1] < -threshold)
                offset += 360.0;
        }
    }
}

// Running-offset wrap into +-limit with at most one correction per bin; the offset carries
// forward, so a steady slope is folded once per turn.
void wrapPhase(float* v, int count, double limit, double addDeg)
{
    double offset = 0.0;
    for (int i = 0; i < count; ++i) {
        double x = offset + v[i] + addDeg;
        if (x < -limit) {
            offset += 360.0;
            x += 360.0;
        } else if (x > limit) {
            offset -= 360.0;
            x -= 360.0;
        }
        v[i] = static_cast<float>(x);
    }
}

// Cuts the analysed part of the record out of re[0..N-1] and returns the first bin the
// remaining time span can resolve.
int applyTimeWindow(float* re, int N, const std::array<int, 2>& markers)
{
    // Markers from a file may lie anywhere; keep them on the time axis.
    const int p0 = std::clamp(markers[0], 0, 10000);
    const int p1 = std::clamp(markers[1], 0, 10000);
    // The divisors differ (10000 and 9999); that is how the program always placed the window.
    const int start = static_cast<int>(p0 / 10000.0 * (N - 1));
    const int end = std::min(static_cast<int>(p1 / 9999.0 * (N - 1)), N - 1);

    for (int i = 0; i < start; ++i)
        re[i] = 0.0f;
    for (int i = end; i < N; ++i)
        re[i] = 0.0f;
    for (int k = 0; k < 5 && start + k < end; ++k)
        re[start + k] = static_cast<float>(re[start + k] * kFadeIn[k]);
    for (int k = 0; k < 5 && end - k > start; ++k)
        re[end - k] = static_cast<float>(re[end - k] * kFadeOut[k]);

    if (start >= end) {
        // Crossed markers (only possible from a damaged file) leave nothing either.
        core::messageText(core::str(89), " ", core::Icon::Information);
        return N / 2 - 2;
    }
    // ceil(fLow / df) with fLow = 1 / ((end - start + 2) dt) and df = fs / N, in integers.
    const int span = end - start + 2;
    return (N + span - 1) / span;
}

} // namespace

ResponseRequest responseRequest(const core::MeasurementSettings& s, core::ResponseMode mode)
{
    ResponseRequest r;
    r.mode = mode;
    r.fftLength = s.fftLength;
    r.smoothing = core::smoothingFromCode(s.smoothing);
    r.phaseMode = core::phaseModeFromCode(s.phaseMode);
    r.markers = s.markerPos;
    r.rateCode = s.sampleRate;
    r.method = core::methodFromCode(s.method);
    r.input = core::inputFromCode(s.measuringInput);
    r.recordFftLength = s.fftLength;
    r.preampGainDb = s.preampGainDb;
    r.stepResponse = s.stepResponse == 1;
    r.useReference = s.referenceComputation == 1;
    r.useMicCorrection = s.micCorrection == 1;
    r.distanceMm = s.distanceMm;
    r.phaseOffsetDeg = s.phaseOffsetDeg;
    return r;
}

void computeResponse(const ResponseRequest& request, core::MeasurementStore& store,
                     core::CurveBuffer& amplitudeOut, core::CurveBuffer& phaseOut)
{
    computeResponse(sharedFftWork(), request, store, amplitudeOut, phaseOut);
}

void computeResponse(FftWork work, const ResponseRequest& request, core::MeasurementStore& st,
                     core::CurveBuffer& amplitudeOut, core::CurveBuffer& phaseOut)
{
    const ResponseRequest& r = request;
    const std::span<const float> stimulusGain = r.stimulusGain;
    const bool reference = r.mode == core::ResponseMode::Reference;
    float* re = work.re;
    float* im = work.im;

    const int order = fftOrderFor(r.fftLength);
    const int N = 1 << order;
    const int half = N / 2;
    const int gridStep = kFftMaxSize / N;
    const int fs = core::sampleRateHz(r.rateCode);
    const int q = r.rateCode == 2 ? 1 : (r.rateCode == 3 ? 16 : 8);
    const int table = core::rateTableIndex(r.rateCode);
    const bool impedanceRun = r.impedanceRun;
    const int userA = core::octaveDivisor(r.smoothing);
    const bool micInput = r.input == core::Input::Mic;

    std::copy(st.timeRecord.data(), st.timeRecord.data() + kFftMaxSize, re);
    std::fill(im, im + kFftMaxSize, 0.0f);
    int firstValidBin = 0;
    if (!impedanceRun)
        firstValidBin = applyTimeWindow(re, N, r.markers);

    fftForward(work, order);

    // Linear magnitude scaled by method. 72 and 393 bring the impulse and MLS excitations to
    // the level of the reference; 1.41 is the FFT analyser's peak-to-RMS factor. A sweep's
    // record is delivered in the MLS's units.
    double scale = 1.41;
    if (r.method == core::Method::Impulse)
        scale = N / 512.0 * 72.0;
    else if (r.method == core::Method::Mls || r.method == core::Method::Sweep)
        scale = N / 512.0 * 393.0;
    if (!impedanceRun)
        scale /= std::pow(10.0, r.preampGainDb / 20.0) + kLogFloor;
    std::array<float, kFftMaxSize + 1> m{};
    for (int i = 0; i < N; ++i)
        m[i] = static_cast<float>(std::sqrt(double(re[i]) * re[i] + double(im[i]) * im[i]) * scale);

    // A bin the stimulus excited weakly is divided by its strength. One it didn't excite
    // carries no value; until then it holds the last measured value, so that the smoothing
    // near the edge sees no cliff.
    auto excited = [&](int i) {
        return stimulusGain.empty() ||
               (i < static_cast<int>(stimulusGain.size()) &&
                stimulusGain[static_cast<std::size_t>(i)] >= kMinStimulusGain);
    };
    if (!stimulusGain.empty()) {
        float held = m[0];
        for (int i = 0; i <= half; ++i) {
            if (excited(i))
                held = m[i] = static_cast<float>(m[i] / stimulusGain[static_cast<std::size_t>(i)]);
            else
                m[i] = held;
        }
    }

    if (micInput)
        smoothProportional(m.data(), 24, 0, half);
    if (userA != 0)
        smoothProportional(m.data(), userA, 0, half);

    // Step response: integrate the spectrum (divide by j i) and transform back.
    float* step = st.stepResponseCurve.data();
    std::fill(step, step + kFftMaxSize, 0.0f);
    if (r.stepResponse && !impedanceRun) {
        std::array<float, kFftMaxSize> keepRe;
        std::array<float, kFftMaxSize> keepIm;
        std::copy(re, re + kFftMaxSize, keepRe.begin());
        std::copy(im, im + kFftMaxSize, keepIm.begin());
        re[0] *= 0.5f;
        im[0] *= 0.5f;
        for (int i = 1; i < kFftMaxSize; ++i) {
            const float real = re[i];
            re[i] = im[i] / static_cast<float>(i);
            im[i] = -real / static_cast<float>(i);
        }
        fftInverse(work, order);
        for (int i = 0; i < N; ++i)
            step[i] = static_cast<float>((double(re[i]) - re[0]) * N / 16.0);
        std::copy(keepRe.begin(), keepRe.end(), re);
        std::copy(keepIm.begin(), keepIm.end(), im);
    }

    // Reference level: around 125 Hz (3.2 and 6.4 kHz) or 1 kHz (51.2 kHz) of the 4096 grid.
    const int levelBin = fs == 3200 ? 160 : 80;
    double level0 = 0.0;
    for (int k = 0; k < 4; ++k)
        level0 += 20.0 * std::log10(m[levelBin + k] + 2.0 * kLogFloor);
    level0 /= 4.0;

    auto& refAmp = st.referenceAmplitude[table];
    auto& refPhase = st.referencePhase[table];
    const auto& micAmp = st.micCorrectionAmplitude[table];
    const auto& micPhase = st.micCorrectionPhase[table];
    const bool useRef = r.useReference;
    const bool useMic = r.useMicCorrection;

    // Amplitude A[0..2048]; bin 2048 is needed by the minimum phase.
    std::array<float, kBins + 1> amp;
    if (reference) {
        for (int i = 0; i < kBins; ++i) {
            refAmp[i] = static_cast<float>(20.0 * std::log10(m[i] + kLogFloor) - level0);
            amplitudeOut[i] = excited(i) ? refAmp[i] : core::NO_VALUE;
        }
    } else {
        for (int i = 0; i <= kBins; ++i) {
            double a = 20.0 * std::log10(m[i] + kLogFloor);
            // The tables hold the 4096 grid; bins beyond N/2 of a shorter FFT would read past
            // their ends and carry no meaning, so they get no correction.
            const int g = i * gridStep;
            if (useRef && g < kBins)
                a -= refAmp[g];
            if (useMic && g < core::kMicTableSize)
                a -= micAmp[g];
            amp[i] = static_cast<float>(a);
        }
        for (int i = 0; i < kBins; ++i)
            amplitudeOut[i] = (i < firstValidBin || !excited(i)) ? core::NO_VALUE : amp[i];
    }

    // Raw phase and its unwrapped form over 2049 bins (the extra bin only feeds the smoothing
    // at N/2 = 2048 and changes nothing below it).
    std::array<float, kBins + 1> raw;
    for (int i = 0; i <= kBins; ++i)
        raw[i] = static_cast<float>(std::atan2(double(im[i]), double(re[i])) * kDegPerRad);
    std::array<float, kBins + 1> u;
    unwrapPhase(raw.data(), u.data(), kBins + 1,
                (!reference && r.phaseMode == core::PhaseMode::RealDelayCompensated) ? 85.0 : 90.0);

    if (reference) {
        for (int i = 0; i < half; ++i) {
            refPhase[i] = u[i];
            phaseOut[i] = excited(i) ? raw[i] : core::NO_VALUE;
        }
    } else if (r.phaseMode == core::PhaseMode::RealDelayCompensated) {
        // Real phase with the sound's travel time over distanceMm taken out: 3.76 / 3440 is
        // the program's degrees per Hz and mm, 12.5 / q the 4096-grid bin spacing.
        const double delta = (12.5 / q) * (r.distanceMm * 3.76 / 3440.0);
        std::array<float, kBins + 1> v{};
        for (int i = 0; i < half; ++i) {
            const int g = i * gridStep;
            double x = u[i];
            if (useMic)
                x -= micPhase[g];
            if (useRef)
                x = x - refPhase[g] + (g + 1) * delta;
            else
                x += g * delta;
            v[i] = static_cast<float>(x);
        }
        wrapPhase(v.data(), half, 181.0, r.phaseOffsetDeg);
        if (userA != 0)
            smoothProportional(v.data(), 4 * userA, 0, half);
        for (int i = 0; i < kBins; ++i)
            phaseOut[i] = (i < firstValidBin || i >= half || !excited(i)) ? core::NO_VALUE : v[i];
    } else if (r.phaseMode == core::PhaseMode::Minimum) {
        // Minimum phase: the Hilbert transform of the log magnitude. 2.1 x 3.14 is the
        // program's own factor from dB to degrees (close to 180 ln10 / (20 pi)).
        for (int i = 0; i <= half; ++i)
            re[i] = amp[i] * 2.1f;
        for (int i = half + 1; i < N; ++i)
            re[i] = amp[N - i] * 2.1f;
        std::fill(im, im + N, 0.0f);
        re[0] = 0.0f;
        re[half] = 0.0f;
        hilbertTransform(work, N);
        std::array<float, kBins + 1> v{};
        for (int i = 0; i <= half; ++i)
            v[i] = re[i] * -3.14f;
        smoothProportional(v.data(), 12, 0, half);
        smoothProportional(v.data(), 2, 1, 50);
        if (userA != 0)
            smoothProportional(v.data(), userA, 0, half);
        if (useMic)
            for (int i = 0; i < half; ++i)
                v[i] -= micPhase[i * gridStep];
        wrapPhase(v.data(), half, 180.0, r.phaseOffsetDeg);
        for (int i = 0; i < kBins; ++i)
            phaseOut[i] = (i < firstValidBin || i >= half || !excited(i)) ? core::NO_VALUE : v[i];
    } else {
        // Real phase.
        for (int i = 0; i < kBins; ++i) {
            const int g = i * gridStep;
            if (useMic && g < core::kMicTableSize)
                u[i] -= micPhase[g];
            if (useRef && g < kBins)
                u[i] -= refPhase[g];
        }
        if (micInput)
            smoothProportional(u.data(), 24, 0, half);
        if (userA != 0)
            smoothProportional(u.data(), userA, 0, half);
        if (impedanceRun) {
            for (int i = 0; i < kBins; ++i)
                phaseOut[i] = u[i];
        } else {
            std::array<float, kBins + 1> v = u;
            wrapPhase(v.data(), kBins, 180.0, 0.0);
            for (int i = 0; i < kBins; ++i)
                phaseOut[i] = (i < firstValidBin || !excited(i)) ? core::NO_VALUE : v[i];
        }
    }

    amplitudeOut.stamp(r.recordFftLength, r.rateCode);
    phaseOut.stamp(r.recordFftLength, r.rateCode);
    st.stepResponseCurve.stamp(r.recordFftLength, r.rateCode);
}

float toDbspl(float db)
{
    if (db == core::NO_VALUE)
        return db;
    const core::MeasurementSettings& s = core::settings();
    const double a = std::pow(10.0, db / 20.0);
    const double impedanceTerm = 10.0 * std::log10(s.dbsplSpeakerImpedanceOhm / 8.0 + kLogFloor);
    double result =
        20.0 * std::log10(a * 5e7 / s.micSensitivityMvPerPa + kLogFloor) + impedanceTerm;
    if (s.dbsplRealDistance == 1)
        result += 20.0 * std::log10(s.distanceMm / 1000.0 + kLogFloor);
    return static_cast<float>(result);
}

OverlaySum overlaySum(int bin)
{
    const core::MeasurementStore& st = core::store();
    double re = 0.0;
    double im = 0.0;
    double mag = 0.0;
    if (bin >= 0 && bin < core::kCurveBins) {
        for (int k = 0; k < 5; ++k) {
            if (st.slotOccupied[k] != 1)
                continue;
            const float db = st.amplitudeSlots[k][bin];
            if (db == core::NO_VALUE)
                continue;
            const double g = std::pow(10.0, db / 20.0);
            // 3.14159 is the program's own value of pi here; kept so sums match stored results.
            const double phi = st.phaseSlots[k][bin] * 3.14159 / 180.0;
            re += g * std::cos(phi);
            im += g * std::sin(phi);
            mag += g;
        }
    }
    OverlaySum r;
    if (core::settings().sumMode == 1)
        r.amplitudeDb = static_cast<float>(20.0 * std::log10(mag + kLogFloor));
    else
        r.amplitudeDb =
            static_cast<float>(20.0 * std::log10(std::sqrt(re * re + im * im) + kLogFloor));
    r.phaseDeg = static_cast<float>(std::atan2(im, re) * 180.0 / 3.14159);
    return r;
}

} // namespace dsp
