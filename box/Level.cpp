#include "box/Level.h"

#include "box/Acquisition.h"
#include "box/Mls.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Fft.h"
#include "dsp/Response.h"

#include <chrono>
#include <cmath>
#include <thread>

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace box
{

// clang-format off
const std::array<LevelBand, core::kLevelBands> kLevelBands = {{
    //  bins        K 6.4  K 51.2  pink6.4 pink51.2  A 6.4  A 51.2  B 6.4  B 51.2  C 6.4 C 51.2
    {2, 3,        -3.11f, -2.84f,  5.92f,  9.05f,  -78,   -40,    -54,   -18,    -42,  -4},
    {3, 3,        -2.19f, -1.64f, 17.82f,  5.88f,  -74,   -33,    -50,   -14,    -38,  -2},
    {4, 4,        -0.72f, -0.39f,  7.53f,  0.01f,  -70,   -30,    -46,   -11.5f, -34,  -1},
    {5, 5,         0.96f,  0.7f,  16.6f,  10.0f,   -64,   -27,    -42,   -9.5f,  -30,  -0.3f},
    {6, 7,        -1.47f, -1.49f, 11.35f,  2.37f,  -60,   -22,    -38,   -7,     -26,  -0.1f},
    {8, 9,        -0.78f, -0.8f,   4.74f,  3.45f,  -56,   -20,    -34,   -5.5f,  -22,   0},
    {10, 11,       0.52f,  0.65f,  3.13f,  4.78f,  -52,   -17,    -30,   -4,     -18,   0},
    {13, 14,       1.5f,   1.62f,  2.05f,  2.48f,  -48,   -13,    -26,   -3,     -14,   0},
    {15, 17,       0.76f,  0.76f, -1.36f,  0.84f,  -44,   -11.5f, -22,   -2,     -10,   0},
    {18, 21,       0.45f,  0.44f,  4.4f,   0.48f,  -40,   -9.5f,  -18,   -1,     -6,    0},
    {23, 27,       0.57f,  0.58f, -0.35f, -1.38f,  -33,   -7.5f,  -14,   -0.3f,  -2.5f, 0},
    {28, 35,      -0.57f, -0.57f,  2.1f,   6.0f,   -30,   -5,     -11.5f, 0,     -1,    0},
    {36, 45,      -0.45f, -0.45f,  1.07f,  1.61f,  -27,   -3.5f,  -9.5f,  0,     -0.3f, 0},
    {45, 57,      -0.64f, -0.66f,  0.3f,   4.22f,  -23,   -2,     -7,     0,     -0.1f, 0},
    {57, 71,      -0.23f, -0.23f,  0.04f,  2.04f,  -20,   -1,     -5,     0,      0,    0},
    {71, 88,       0,      0,      0,      0,      -17,    0,     -3.5f,  0,      0,    0},
    {88, 112,     -0.49f, -0.49f,  0.26f,  2.99f,  -14,    0.2f,  -2.5f,  0,      0,    0},
    {112, 144,    -0.66f, -0.66f,  0.64f,  3.37f,  -11.5f, 0.5f,  -1.5f,  0,      0,    0},
    {144, 176,     0.28f,  0.24f,  1.06f,  1.87f,  -9.5f,  1,     -1,     0,      0,    0},
    {176, 224,    -0.42f, -0.44f,  1.0f,   2.03f,  -6.5f,  1,     -0.3f,  0,      0,    0},
    {224, 284,    -0.31f, -0.35f, -0.52f,  2.04f,  -5,     0.8f,   0,     0,      0,    0},
    {284, 356,    -0.08f, -0.12f, -1.1f,   1.88f,  -3.5f,  0.5f,   0,     0,      0,    0},
    {356, 448,    -0.16f, -0.2f,   0.18f,  2.73f,  -2,     0,      0,    -0.3f,   0,   -0.5f},
    {448, 568,    -0.28f, -0.35f, -0.06f,  3.86f,  -1,    -0.5f,   0,    -1.3f,   0,   -1.5f},
    {568, 712,    -0.06f, -0.13f,  0.28f,  2.3f,    0,    -2,      0,    -2.3f,   0,   -2.5f},
    {712, 860,     0.84f,  0.74f,  1.01f,  3.74f,   0.2f, -3,      0,    -3.2f,   0,   -3.5f},
    {860, 1080,    0.05f,  0.05f, -0.04f,  3.8f,    0.3f, -5,      0,    -5.2f,   0,   -5.5f},
    {1080, 1440,  -1.02f, -1.08f,  0.17f,  3.52f,   0.4f, -8.5f,   0,    -8.6f,   0,   -8.5f},
}};
// clang-format on

std::atomic<int> levelRunning{0};
std::atomic<int> levelExit{0};
std::atomic<int> levelDialogOpen{0};

namespace
{

constexpr double kLevelFloor = 1.1754943508222875e-38; // 2^-126

// The worker's own work arrays: the user-interface thread keeps the store's pair.
float g_levelFftRe[4096];
float g_levelFftIm[4096];
// levelRecord: 4098 floats in the timeRecord layout, the rest room for the deconvolution.
float g_levelRecord[8192];
// Mean or peak state per band, in dB.
std::array<double, core::kLevelBands> g_levelAverage{};

std::mutex g_levelMutex;

std::thread g_worker;
std::atomic<bool> g_workerDone{true};
bool g_workerExists = false; // user-interface thread only

void raiseWorkerPriority()
{
#if defined(__linux__)
    // The nearest Linux has to a time-critical thread without real-time rights: a lower nice
    // value for this thread alone. Refused without the privilege, which is harmless.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    (void)setpriority(PRIO_PROCESS, tid, -10);
#endif
}

void levelWorker(core::Renderer* views)
{
    raiseWorkerPriority();
    core::ui().showView(5);
    int i = 0;
    while (levelExit.load() != 1) {
        if (levelRunning.load() == 1) {
            measureLevels(i);
            views->render(core::RenderCode::Level);
            core::ui().requestRepaint(core::RepaintTarget::MainWindow);
            ++i;
            core::ui().setStatusText(0, core::formatC("%s %i", core::str(96), i));
            const core::MeasurementSettings& s = core::settings();
            if (s.levelCountLimited == 1 && i >= s.levelCount) {
                levelRunning.store(0);
                i = 0;
            }
            if (levelDialogOpen.load())
                core::ui().requestRepaint(core::RepaintTarget::LevelDialog);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The pass count belongs to the running measurement; the read-out part gets its room
    // back when it ends.
    core::ui().setStatusText(0, "");
    g_workerDone.store(true);
}

} // namespace

float levelBandCentreHz(int band, int rateCode)
{
    const double e = rateCode == 2 ? 1.5 : 0.602;
    return static_cast<float>(std::pow(10.0, band / 10.0 + e));
}

bool levelBandResolved(int band, int rateCode)
{
    // Width of a third octave: fc (2^(1/6) - 2^(-1/6)).
    const double widthHz =
        levelBandCentreHz(band, rateCode) * (std::pow(2.0, 1.0 / 6) - std::pow(2.0, -1.0 / 6));
    const double binHz = (rateCode == 2 ? 51200.0 : 6400.0) / 4096.0;
    return widthHz >= binHz;
}

std::mutex& levelResultsMutex()
{
    return g_levelMutex;
}

void computeLevels(int passIndex, float* record)
{
    const core::MeasurementSettings& s = core::settings();
    const core::MeasurementStore& st = core::store();
    const int method = s.levelMethod;

    double factor = 0.707;
    if (method == 1) {
        factor = 0.82;
    } else if (method == 2) {
        deconvolveMls(record, 57.0f);
        // Only the falling half of the window: the start of the impulse response stays whole.
        if (s.levelWindow >= 2 && s.levelWindow <= 4)
            for (int k = 2048; k < 4096; ++k)
                record[k] =
                    static_cast<float>(record[k] * dsp::windowValue(s.levelWindow, k, 4096));
        factor = 6.38;
    }
    for (int k = 0; k < 4096; ++k) {
        g_levelFftRe[k] = static_cast<float>(factor * record[k]);
        g_levelFftIm[k] = 0.0f;
    }
    dsp::fftForward({g_levelFftRe, g_levelFftIm}, 12);

    const int t = core::rateTableIndex(s.sampleRate);
    static thread_local std::array<double, 2049> amp;
    for (int k = 0; k < 2048; ++k) {
        const double re = g_levelFftRe[k], im = g_levelFftIm[k];
        const double p = 2.0 * std::sqrt(re * re + im * im);
        double l = 20.0 * std::log10(p + kLevelFloor);
        if (s.referenceComputation == 1)
            l -= st.referenceAmplitude[t][k];
        if (s.micCorrection == 1)
            l -= st.micCorrectionAmplitude[t][k];
        amp[k] = std::pow(10.0, l / 20.0);
    }

    const bool fast = s.sampleRate == 2;
    std::array<float, core::kLevelBands> current{};
    for (int b = 0; b < core::kLevelBands; ++b) {
        const LevelBand& band = kLevelBands[b];
        double sum = 0.0;
        if (b == 0) {
            sum = 0.99 * amp[2] * amp[2] + 0.01 * amp[3] * amp[3];
        } else {
            for (int k = band.firstBin; k <= band.lastBin; ++k)
                sum += amp[k] * amp[k];
        }
        double level = 20.0 * std::log10(kLevelFloor + std::sqrt(sum));
        level -= s.preampGainDb;
        level += fast ? band.k512 : band.k64;
        if (method == 1)
            level += fast ? band.pink512 : band.pink64;
        else if (method == 2)
            level += 15 - b;
        if (s.levelWeighting == 2)
            level += fast ? band.a512 : band.a64;
        else if (s.levelWeighting == 3)
            level += fast ? band.b512 : band.b64;
        else if (s.levelWeighting == 4)
            level += fast ? band.c512 : band.c64;
        current[b] =
            levelBandResolved(b, s.sampleRate) ? static_cast<float>(level) : core::NO_VALUE;
    }

    applyLevelAverage(passIndex, current);
}

void applyLevelAverage(int passIndex, const std::array<float, core::kLevelBands>& current)
{
    const core::MeasurementSettings& s = core::settings();
    std::array<float, core::kLevelBands> meanPeak{};
    {
        std::lock_guard<std::mutex> lock(g_levelMutex);
        meanPeak = core::store().levelMeanPeak;
    }
    double a = 0.85;
    if (s.levelAveraging == 1)
        a = 0.7;
    else if (s.levelAveraging == 3)
        a = 0.95;
    for (int b = 0; b < core::kLevelBands; ++b) {
        double& v = g_levelAverage[b];
        if (passIndex == 0)
            v = 0.0;
        if (current[b] == core::NO_VALUE) {
            // A band without value has no mean or peak either (its marker is no level to
            // average).
            meanPeak[b] = core::NO_VALUE;
        } else if (passIndex < 2) {
            v = current[b];
            meanPeak[b] = static_cast<float>(v);
        } else if (s.levelCalculation == 1) {
            // Linear amplitudes are averaged, not powers.
            v = 20.0 * std::log10(kLevelFloor + a * std::pow(10.0, v / 20.0) +
                                  (1.0 - a) * std::pow(10.0, current[b] / 20.0));
            meanPeak[b] = static_cast<float>(v);
        } else if (s.levelCalculation == 2) {
            if (current[b] > v) {
                v = current[b];
                meanPeak[b] = static_cast<float>(v);
            }
        }
        if (s.levelCalculation == 0)
            meanPeak[b] = -100000.0f;
    }

    std::lock_guard<std::mutex> lock(g_levelMutex);
    core::MeasurementStore& out = core::store();
    out.levelCurrent = current;
    out.levelMeanPeak = meanPeak;
    for (int b = 0; b < core::kLevelBands; ++b) {
        out.levelBandFrequency[b] = levelBandCentreHz(b, s.sampleRate);
        out.levelBandFrequencyView[b] = out.levelBandFrequency[b];
    }
}

void measureLevels(int passIndex)
{
    const core::MeasurementSettings& s = core::settings();
    // The pass always measures with the box's MLS; the setting `method` itself is left alone,
    // so the user-interface thread never sees it change under its feet.
    AcquisitionRequest request;
    request.sampleCount = 4096;
    request.input = core::inputFromCode(s.measuringInput);
    request.rateCode = s.sampleRate;
    request.window = core::windowFromCode(s.levelMethod == 2 ? 1 : s.levelWindow);
    request.raw = true;
    request.device = acquireSettings(s);
    request.device.method = 1;
    acquireRecord(request, g_levelRecord);
    computeLevels(passIndex, g_levelRecord);
}

int startLevelMeasurement(core::Renderer& views)
{
    const int rate = core::settings().sampleRate;
    if (rate != 1 && rate != 2) {
        core::message(115, 0, core::Icon::Stop);
        return 0;
    }
    if (g_workerExists) {
        // A worker from an earlier dialog that was never closed properly: end it first.
        levelDialogCancel();
    }
    levelDialogOpen.store(0);
    levelRunning.store(1);
    levelExit.store(0);
    g_workerDone.store(false);
    g_worker = std::thread(levelWorker, &views);
    g_workerExists = true;
    return 1;
}

bool levelWorkerActive()
{
    return g_workerExists;
}

LevelButtons levelDialogInit()
{
    levelDialogOpen.store(1);
    const bool running = levelRunning.load() == 1;
    return {!running, running};
}

LevelButtons levelDialogStart()
{
    levelRunning.store(1);
    return {false, true};
}

LevelButtons levelDialogStop()
{
    levelRunning.store(0);
    return {true, false};
}

void levelDialogCancel(const std::function<void()>& pump)
{
    levelRunning.store(0);
    levelExit.store(1);
    levelDialogOpen.store(0);
    if (!g_workerExists)
        return;
    while (!g_workerDone.load()) {
        if (pump)
            pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    g_worker.join();
    g_workerExists = false;
}

LevelReadout levelReadout(double axisMinHz, double axisMaxHz, double levelAxisMax,
                          const std::string& unitText)
{
    LevelReadout r;
    const bool spl = unitText == "[dBSPL]";
    {
        std::lock_guard<std::mutex> lock(g_levelMutex);
        const core::MeasurementStore& st = core::store();
        for (int b = 0; b < core::kLevelBands; ++b) {
            if (st.levelCurrent[b] == core::NO_VALUE)
                continue;
            const double f = st.levelBandFrequencyView[b];
            if (!(f >= axisMinHz && f <= axisMaxHz))
                continue;
            float cur = st.levelCurrent[b];
            float mp = st.levelMeanPeak[b];
            if (spl) {
                cur = dsp::toDbspl(cur);
                mp = dsp::toDbspl(mp);
            }
            if (cur > r.maxCurrent)
                r.maxCurrent = cur;
            if (mp > r.maxMeanPeak)
                r.maxMeanPeak = mp;
        }
    }
    r.currentAboveAxis = r.maxCurrent > levelAxisMax;
    r.meanPeakAboveAxis = r.maxMeanPeak > levelAxisMax;
    r.line1 = core::formatC(" %s %.2f%s", core::str(98), r.maxCurrent, unitText.c_str());
    r.line2 = core::formatC(" %s %.2f%s", core::str(99), r.maxMeanPeak, unitText.c_str());
    return r;
}

} // namespace box
