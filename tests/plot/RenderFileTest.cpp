// Pictures of whole measurement files: a plausible loudspeaker measurement and a file whose
// trailers and values are garbage, written and read back through the measurement file.
#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "files/Export.h"
#include "files/MeasurementFile.h"
#include "plot/Render.h"
#include "plot/Scales.h"
#include "plot/SvgCanvas.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <limits>

using namespace plot;

namespace {

class RenderFileTest : public testsupport::RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        resetPictures();
    }
};

constexpr double kPi = 3.141592653589793;

// A closed-box woofer: second-order high-pass at 60 Hz (Q 0.8), gentle roll-off above 6 kHz.
std::complex<double> speaker(double f)
{
    const std::complex<double> s(0.0, f / 60.0);
    const std::complex<double> hp = s * s / (s * s + s / 0.8 + 1.0);
    const std::complex<double> lp = 1.0 / (1.0 + std::complex<double>(0.0, f / 6000.0));
    return hp * lp;
}

// Electrical impedance of the same driver: Re 6.2 ohm, Le 0.4 mH, fs 50 Hz, Qms 3, Qes 0.45.
std::complex<double> impedance(double f)
{
    const double res = 6.2 * 3.0 / 0.45;
    const std::complex<double> motional = res / (1.0 + std::complex<double>(0.0, 3.0 * (f / 50.0 - 50.0 / f)));
    return 6.2 + std::complex<double>(0.0, 2 * kPi * f * 0.0004) + motional;
}

void fillDemoStore()
{
    core::MeasurementStore& st = core::store();
    const int n = 4096;
    const double fs = 51200.0;
    for (int s = 0; s < 2; ++s) {
        auto& a = st.amplitudeSlots[static_cast<std::size_t>(s)];
        auto& p = st.phaseSlots[static_cast<std::size_t>(s)];
        for (int i = 0; i < core::kCurveBins; ++i) {
            const double f = i * fs / n;
            if (i < 2) {
                a[i] = core::NO_VALUE;
                p[i] = core::NO_VALUE;
                continue;
            }
            const std::complex<double> h = speaker(f * (s == 0 ? 1.0 : 1.3));
            a[i] = static_cast<float>(20 * std::log10(std::abs(h)) - 50.0 - 3.0 * s);
            p[i] = static_cast<float>(std::arg(h) * 180 / kPi);
        }
        a.stamp(n, 2);
        p.stamp(n, 2);
        st.slotOccupied[static_cast<std::size_t>(s)] = 1;
    }
    for (int i = 0; i < core::kCurveBins; ++i) {
        const double f = std::max(1.0, i * fs / n);
        st.impedanceMagnitude[i] = static_cast<float>(std::abs(impedance(f)));
        st.impedancePhase[i] = static_cast<float>(std::arg(impedance(f)) * 180 / kPi);
    }
    st.impedanceMagnitude.stamp(n, 2);
    st.impedancePhase.stamp(n, 2);
    // Impulse response: a decaying 1 kHz ring after 2 ms.
    for (int i = 0; i < n; ++i) {
        const double t = i / fs - 0.002;
        st.timeRecord[static_cast<std::size_t>(i)] =
            t < 0 ? 0.0f : static_cast<float>(0.008 * std::exp(-t * 900) * std::sin(2 * kPi * 1000 * t));
        st.stepResponseCurve[static_cast<std::size_t>(i)] =
            t < 0 ? 0.0f : static_cast<float>(0.006 * (1 - std::exp(-t * 400)) * std::exp(-t * 60));
    }
    st.timeRecord.stamp(n, 2);
    st.stepResponseCurve.stamp(n, 2);
    for (int b = 0; b < core::kLevelBands; ++b) {
        const float f = static_cast<float>(25.0 * std::pow(2.0, b / 3.0));
        st.levelBandFrequency[static_cast<std::size_t>(b)] = f;
        st.levelBandFrequencyView[static_cast<std::size_t>(b)] = f;
        const float db = static_cast<float>(20 * std::log10(std::abs(speaker(f))) - 58.0);
        st.levelCurrent[static_cast<std::size_t>(b)] = db;
        st.levelMeanPeak[static_cast<std::size_t>(b)] = db + 4.0f;
    }
    // Waterfall: 40 slices of 201 points, resonances at 2 and 7 kHz decaying slowly.
    st.csdFrequency.fill(core::NO_VALUE);
    st.csdLevel.fill(core::NO_VALUE);
    st.csdTime.fill(core::NO_VALUE);
    int k = 1;
    float highest = -1000.0f;
    for (int s = 0; s < 40; ++s)
        for (int i = 0; i <= 200; ++i, ++k) {
            const double f = 100.0 * i, t = 0.0001 * s;
            const double base = 20 * std::log10(std::abs(speaker(std::max(f, 1.0))) + 1e-9);
            const double decay = t * 8000.0 * (1.0 - 0.8 * std::exp(-std::pow((f - 2000) / 300, 2)) -
                                               0.7 * std::exp(-std::pow((f - 7000) / 500, 2)));
            const float level = static_cast<float>(base - decay - 40.0);
            st.csdFrequency[static_cast<std::size_t>(k)] = static_cast<float>(f);
            st.csdLevel[static_cast<std::size_t>(k)] = level;
            st.csdTime[static_cast<std::size_t>(k)] = static_cast<float>(t);
            highest = std::max(highest, level);
        }
    st.csdLevel[core::kCsdPoints] = highest;
    core::settings().markerPos = {1500, 6000};
    core::takeSnapshot();
    std::snprintf(core::displaySettings().userText[1].data(), 100, "Tieft\xf6ner 20 cm, 1 m");
}

int renderAllViews()
{
    renderView(100);
    int total = 0;
    for (int view : {0, 1, 2, 3, 4, 5, 6, 7, 8, 11}) {
        SvgCanvas svg(600, 600);
        replayView(svg, view, 0, 0, 600, 600);
        total += static_cast<int>(svg.finish().size());
    }
    return total;
}

} // namespace

TEST_F(RenderFileTest, DemoMeasurementRoundTripsAndRenders)
{
    fillDemoStore();
    const std::string dir = testsupport::makeTempDir();
    const std::string path = dir + "/demo.mes";
    ASSERT_EQ(files::writeMeasurementFile(path), files::WriteStatus::Written);
    // ORVO_DEMO_MES=path keeps a copy for looking at the pictures with orvo-tool render.
    if (const char* keep = std::getenv("ORVO_DEMO_MES"))
        std::filesystem::copy_file(path, keep, std::filesystem::copy_options::overwrite_existing);
    core::resetStore();
    ASSERT_EQ(files::readMeasurementFile(path), files::FileStatus::Loaded);
    EXPECT_GT(renderAllViews(), 0);
    EXPECT_EQ(core::displaySettings().axisSets[0].x, 3);   // 80 ms
    EXPECT_EQ(core::displaySettings().axisSets[1].x, 8);   // 20 Hz .. 20 kHz
    EXPECT_EQ(core::store().overlayAxisIndex, 8);
    std::filesystem::remove_all(dir);
}

TEST_F(RenderFileTest, GarbageFileRendersWithoutOutOfBoundsAccess)
{
    fillDemoStore();
    core::MeasurementStore& st = core::store();
    for (auto* c : {&st.amplitudeSlots[0], &st.amplitudeSlots[1], &st.amplitudeSlots[2], &st.phaseSlots[0],
                    &st.phaseSlots[3], &st.impedanceMagnitude, &st.impedancePhase})
        c->stamp(7, 7);
    st.amplitudeSlots[1].trailerN() = 3e9f;
    st.phaseSlots[1].trailerN() = std::numeric_limits<float>::infinity();
    st.timeRecord.stamp(7, 7);
    st.stepResponseCurve.stamp(100000, -3);
    st.slotOccupied = {1, 1, 1, 1, 1};
    st.amplitudeSlots[0][3] = std::numeric_limits<float>::quiet_NaN();
    st.csdTime[100] = std::numeric_limits<float>::quiet_NaN();
    core::settings().markerPos = {12000, -5};
    const std::string dir = testsupport::makeTempDir();
    const std::string path = dir + "/garbage.mes";
    ASSERT_EQ(files::writeMeasurementFile(path), files::WriteStatus::Written);
    core::resetStore();
    ASSERT_EQ(files::readMeasurementFile(path), files::FileStatus::Loaded);
    core::restoreSnapshot();
    EXPECT_GT(renderAllViews(), 0);
    std::filesystem::remove_all(dir);
}

TEST_F(RenderFileTest, AmplitudeExportConvertsExactlyWhenTheDiagramDoes)
{
    // The export and the amplitude diagram must agree on dB SPL for every scale the
    // amplitude list offers, and for a scale index from a foreign configuration file.
    int dbspl = 0;
    for (int index : scaleList(ScaleList::amplitude)) {
        core::displaySettings().axisSets[1].y = index;
        const bool expected = scaleRecord(index).unitText == "[dBSPL]";
        EXPECT_EQ(files::amplitudeAxisIsDbspl(), expected) << "scale " << index;
        dbspl += expected ? 1 : 0;
    }
    EXPECT_EQ(dbspl, 11);
    for (int index : {-1, 14, 32, 79, 100000}) {
        core::displaySettings().axisSets[1].y = index;
        EXPECT_EQ(files::amplitudeAxisIsDbspl(), scaleRecord(index).unitText == "[dBSPL]") << index;
    }
}
