#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "dsp/Waterfall.h"
#include "plot/Diagram.h"
#include "plot/Render.h"
#include "plot/Scales.h"
#include "plot/SvgCanvas.h"
#include "plot/Zoom.h"
#include "tests/support/TestSupport.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

using namespace plot;
using core::NO_VALUE;

namespace {

class RenderTest : public testsupport::RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        resetPictures();
    }
};

// Compares a picture dump with tests/data/plot/<name>.txt; ORVO_UPDATE_GOLDENS=1 rewrites it.
void expectGolden(const std::string& name, const std::string& dump)
{
    const std::string path = std::string(ORVO_TEST_DATA) + "/plot/" + name + ".txt";
    if (std::getenv("ORVO_UPDATE_GOLDENS")) {
        std::ofstream(path, std::ios::binary) << dump;
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "missing golden " << path;
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), dump) << "golden " << name << " differs";
}

std::vector<const Op*> opsOf(const Picture& p, OpKind kind)
{
    std::vector<const Op*> out;
    for (const Op& op : p.ops())
        if (op.kind == kind)
            out.push_back(&op);
    return out;
}

const Op* findText(const Picture& p, const std::string& s)
{
    for (const Op& op : p.ops())
        if (op.kind == OpKind::text && op.text == s)
            return &op;
    return nullptr;
}

// Curves are drawn with the line width of the display settings; grid lines never are.
std::vector<const Op*> curves(const Picture& p)
{
    std::vector<const Op*> out;
    for (const Op* op : opsOf(p, OpKind::polyline))
        if (op->pen.width == core::displaySettings().lineWidth && op->points.size() > 2)
            out.push_back(op);
    return out;
}

void fillCurve(core::CurveBuffer& c, int n, int rate, float value)
{
    for (int i = 0; i < core::kCurveBins; ++i)
        c[static_cast<std::size_t>(i)] = value;
    c.stamp(n, rate);
}

} // namespace

TEST_F(RenderTest, FrameGoldens)
{
    renderView(100);
    expectGolden("view1_time_frame", picture(1)->dump());
    expectGolden("view2_amplitude_frame", picture(2)->dump());
    expectGolden("view3_amplitude_impedance_frame", picture(3)->dump());
    expectGolden("view4_impedance_frame", picture(4)->dump());
    expectGolden("view5_level_frame", picture(5)->dump());
    expectGolden("view6_waterfall_empty", picture(6)->dump());
    expectGolden("view7_overlay_frame", picture(7)->dump());
    expectGolden("view8_sum_frame", picture(8)->dump());
}

TEST_F(RenderTest, CurveGoldens)
{
    core::MeasurementStore& st = core::store();
    core::DisplaySettings& d = core::displaySettings();
    st.timeRecord.stamp(512, 1);
    for (int i = 0; i < 512; ++i)
        st.timeRecord[static_cast<std::size_t>(i)] = 0.008f * static_cast<float>(std::sin(i * 0.1));
    d.showStepResponse = 1;
    for (int i = 0; i < 512; ++i)
        st.stepResponseCurve[static_cast<std::size_t>(i)] = 0.0001f * static_cast<float>(i);
    d.userText[0] = {'R', '&', '&', 'D', ' ', static_cast<char>(0xE4), 0};
    renderView(1);
    expectGolden("view1_time_curves", picture(1)->dump());

    fillCurve(st.amplitudeSlots[0], 512, 1, 0.0f);
    fillCurve(st.phaseSlots[0], 512, 1, 0.0f);
    for (int i = 0; i < 200; ++i) {
        st.amplitudeSlots[0][static_cast<std::size_t>(i)] = -60.0f + 0.3f * static_cast<float>(i);
        st.phaseSlots[0][static_cast<std::size_t>(i)] = static_cast<float>(i) * 3.0f - 200.0f;
    }
    st.amplitudeSlots[0][0] = NO_VALUE;
    st.amplitudeSlots[0][1] = NO_VALUE;
    st.slotOccupied[0] = 1;
    d.axisSets[1].y = 12;
    renderView(2);
    expectGolden("view2_amplitude_curves", picture(2)->dump());
}

TEST_F(RenderTest, PolylineRuleSkipsClampsAndDropsTheLeftEdge)
{
    core::MeasurementStore& st = core::store();
    core::displaySettings().axisSets[1].y = 12; // -100..40 dB
    core::displaySettings().showPhase = 0;
    fillCurve(st.amplitudeSlots[0], 512, 2, 0.0f); // 80 Hz .. 20 kHz, c = 200
    st.amplitudeSlots[0][3] = NO_VALUE;
    st.amplitudeSlots[0][50] = 500.0f;               // far above: along the top edge
    st.amplitudeSlots[0][60] = -500.0f;              // far below: along the bottom edge
    st.amplitudeSlots[0][70] = std::numeric_limits<float>::quiet_NaN();
    renderView(2);
    auto c = curves(*picture(2));
    ASSERT_EQ(c.size(), 1u);
    const auto& pts = c[0]->points;
    // Elements 1..199 lie at 100 Hz steps (20 kHz / 200), all above the 80 Hz axis start;
    // the NO_VALUE and NaN elements are skipped.
    EXPECT_EQ(pts.size(), 199u - 2);
    for (const Point& p : pts) {
        EXPECT_GT(p.x, 0);
        EXPECT_LE(p.x, 10000);
        EXPECT_GE(p.y, 0);
        EXPECT_LE(p.y, 10000);
    }
    bool top = false, bottom = false;
    for (const Point& p : pts) {
        top = top || p.y == 10000;
        bottom = bottom || p.y == 0;
    }
    EXPECT_TRUE(top);
    EXPECT_TRUE(bottom);
    // The last point is element 199: 199 * 100 Hz.
    EXPECT_EQ(pts.back().x, mapLogFrequency(19900.0, scaleRecord(9)));

    // At 6.4 kHz the axis starts at 20 Hz; element 1 (12.5 Hz) maps below it and is
    // skipped, the line starts at element 2 (25 Hz).
    fillCurve(st.amplitudeSlots[0], 512, 1, -30.0f);
    renderView(2);
    c = curves(*picture(2));
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0]->points.front().x, mapLogFrequency(25.0, scaleRecord(10)));
    EXPECT_EQ(c[0]->points.size(), 198u);
}

TEST_F(RenderTest, TimeSignalSkipsSampleZeroAndMissingSamples)
{
    core::MeasurementStore& st = core::store();
    st.timeRecord.stamp(1024, 1);
    st.timeRecord[5] = NO_VALUE;
    renderView(1);
    auto c = curves(*picture(1));
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0]->points.size(), 1022u);
    EXPECT_EQ(c[0]->points.front().x, mapTimeSample(1, 1024));
    EXPECT_EQ(c[0]->points.front().y, 5000);
    // The step response follows the time record's missing samples.
    core::displaySettings().showStepResponse = 1;
    core::displaySettings().showTimeSignal = 0;
    renderView(1);
    c = curves(*picture(1));
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0]->pen.color, core::displaySettings().colors[core::stepResponseColor]);
    EXPECT_EQ(c[0]->points.size(), 1022u);
}

TEST_F(RenderTest, TimeCurveScalesTheValueBeforeDividingBySpan)
{
    // On the +-0,15 V axis the top value lands on the top edge only when the value is scaled
    // before the division; the value-axis mapping (span first) gives one unit less.
    core::MeasurementStore& st = core::store();
    core::displaySettings().axisSets[0].y = 6;
    st.timeRecord.stamp(512, 1);
    st.timeRecord[1] = 0.15f;
    st.timeRecord[2] = -0.15f;
    ASSERT_EQ(mapLinear(0.15f, scaleRecord(6)), 9999);
    renderView(1);
    const auto c = curves(*picture(1));
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0]->points[0].y, 10000);
    EXPECT_EQ(c[0]->points[1].y, 0);
    EXPECT_EQ(c[0]->points[2].y, 5000);
}

TEST_F(RenderTest, OverlayStopsAtTheFirstEmptySlot)
{
    core::MeasurementStore& st = core::store();
    core::displaySettings().showPhase = 0;
    for (int s : {0, 1, 3}) {
        fillCurve(st.amplitudeSlots[static_cast<std::size_t>(s)], 1024, 1, -20.0f);
        st.slotOccupied[static_cast<std::size_t>(s)] = 1;
    }
    core::displaySettings().axisSets[1].y = 12;
    renderView(20);
    const auto c = curves(*picture(7));
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0]->pen.color, core::displaySettings().colors[core::amplitudeColor0]);
    EXPECT_EQ(c[1]->pen.color, core::displaySettings().colors[core::amplitudeColor0 + 1]);
    EXPECT_EQ(st.overlayAxisIndex, 10);
}

TEST_F(RenderTest, SumOfTwoIdenticalResponsesIsSixDecibelsHigher)
{
    core::MeasurementStore& st = core::store();
    core::DisplaySettings& d = core::displaySettings();
    d.axisSets[1].y = 12; // 140 dB over 10000 units
    for (int s = 0; s < 2; ++s) {
        fillCurve(st.amplitudeSlots[static_cast<std::size_t>(s)], 4096, 2, -40.0f);
        fillCurve(st.phaseSlots[static_cast<std::size_t>(s)], 4096, 2, 30.0f);
        st.slotOccupied[static_cast<std::size_t>(s)] = 1;
    }
    for (int mode : {0, 1}) {
        core::settings().sumMode = mode;
        renderView(2);
        renderView(40);
        const auto single = curves(*picture(2));
        const auto sum = curves(*picture(8));
        ASSERT_EQ(single.size(), 2u);
        // "Betrag" has no sum phase curve.
        ASSERT_EQ(sum.size(), mode == 0 ? 2u : 1u);
        EXPECT_EQ(sum[0]->points.size(), 1601u); // c = 1603, elements 1..1602, 20 Hz skipped
        const int expected = mapLinear(-40.0 + 20 * std::log10(2.0), scaleRecord(12));
        EXPECT_NEAR(sum[0]->points[100].y, expected, 1);
        EXPECT_NEAR(sum[0]->points[100].y - single[0]->points[100].y, 6.0206 * 10000 / 140, 1.5);
    }
    // Antiphase: the complex sum falls far below, the magnitude sum stays 6 dB above.
    for (auto& v : st.phaseSlots[1].v)
        v = 210.0f;
    st.phaseSlots[1].stamp(4096, 2);
    core::settings().sumMode = 0;
    renderView(40);
    EXPECT_EQ(curves(*picture(8))[0]->points[100].y, 0);
}

TEST_F(RenderTest, CombinedViewNeedsEqualFrequencyAxes)
{
    core::MeasurementStore& st = core::store();
    fillCurve(st.amplitudeSlots[0], 1024, 1, 0.0f);
    fillCurve(st.phaseSlots[0], 1024, 1, 0.0f);
    fillCurve(st.impedanceMagnitude, 1024, 1, 8.0f);
    fillCurve(st.impedancePhase, 1024, 1, 0.0f);
    renderView(3);
    EXPECT_EQ(curves(*picture(3)).size(), 2u);
    EXPECT_EQ(findText(*picture(3), core::str(67)), nullptr);

    st.impedancePhase.stamp(1024, 2);
    renderView(3);
    EXPECT_TRUE(curves(*picture(3)).empty());
    const Op* msg = findText(*picture(3), core::str(67));
    ASSERT_NE(msg, nullptr);
    EXPECT_TRUE(msg->flags & wordBreak);
    EXPECT_EQ(msg->points[0].x, 2000);
    EXPECT_EQ(msg->points[0].y, 8000);
}

TEST_F(RenderTest, LevelViewAxisFollowsTheLiveRate)
{
    core::settings().sampleRate = 1;
    renderView(5);
    EXPECT_NE(findText(*picture(5), "4"), nullptr);
    EXPECT_NE(findText(*picture(5), "2k"), nullptr);
    EXPECT_EQ(findText(*picture(5), "16k"), nullptr);
    core::settings().sampleRate = 2;
    renderView(5);
    EXPECT_NE(findText(*picture(5), "31,5"), nullptr);
    EXPECT_NE(findText(*picture(5), "16k"), nullptr);
}

TEST_F(RenderTest, PhaseOnlyMovesLabelsAndMakesTheGridSolid)
{
    core::DisplaySettings& d = core::displaySettings();
    auto phaseLabel = [] { return findText(*picture(2), "-135"); };
    auto gridAt = [](int y) -> const Op* {
        for (const Op* op : opsOf(*picture(2), OpKind::polyline))
            if (op->points[0].x == 1500 && op->points[0].y == y && op->points[1].x == 11500)
                return op;
        return nullptr;
    };
    const int y = scaleRecord(19).gridPos[1];
    renderView(2);
    ASSERT_NE(phaseLabel(), nullptr);
    EXPECT_EQ(phaseLabel()->points[0].x, 100);
    EXPECT_EQ(phaseLabel()->points[1].x, 650);
    ASSERT_NE(gridAt(y), nullptr);
    EXPECT_TRUE(gridAt(y)->pen.dotted);
    d.showAmplitude = 0;
    renderView(2);
    EXPECT_EQ(phaseLabel()->points[0].x, 900);
    EXPECT_EQ(phaseLabel()->points[1].x, 1450);
    EXPECT_FALSE(gridAt(y)->pen.dotted);
    EXPECT_EQ(findText(*picture(2), "Amplitude"), nullptr);
}

TEST_F(RenderTest, RenderCodes)
{
    renderView(0);
    EXPECT_FALSE(picture(0)->empty());
    for (int k = 1; k <= 9; ++k)
        EXPECT_TRUE(picture(k)->empty()) << k;
    renderView(7);
    renderView(99);
    EXPECT_TRUE(picture(7)->empty());
    renderView(100);
    for (int k = 0; k <= 9; ++k)
        EXPECT_FALSE(picture(k)->empty()) << k;
    EXPECT_TRUE(picture(10)->empty());
    EXPECT_TRUE(picture(11)->empty());
    EXPECT_TRUE(picture(-1)->empty());
    // The start picture is the 692 x 434 bitmap, copied 1:1 at the corner.
    EXPECT_EQ(picture(0)->dump(), "picture 692x434 ydown\nimage 0,0 692x434\n");
    EXPECT_EQ(startBitmap()->pixels.size(), 692u * 434u);
    // Every picture but the start picture ends with its user text (here a visible one).
    core::displaySettings().userText[6] = {'a', 'b', 0};
    renderView(5);
    EXPECT_EQ(picture(5)->ops().back().text, "ab");
}

// A deferred picture is recorded from the data as they are when it is first asked for; a
// recording meanwhile takes the deferral away, and the overlays' axis is taken at once.
TEST_F(RenderTest, DeferredPicturesAreRecordedWhenFirstAskedFor)
{
    core::displaySettings().userText[5] = {'a', 0};
    core::store().overlayAxisIndex = -1;
    deferAllViews();
    EXPECT_EQ(core::store().overlayAxisIndex, core::displaySettings().axisSets[1].x);
    core::displaySettings().userText[5] = {'b', 0};
    ASSERT_FALSE(picture(3)->empty());
    EXPECT_EQ(picture(3)->ops().back().text, "b");
    const auto first = picture(3);
    EXPECT_EQ(picture(3), first); // recorded once, not at every request

    deferAllViews();
    renderView(core::RenderCode::AmplitudeImpedance);
    const auto recorded = picture(3);
    core::displaySettings().userText[5] = {'c', 0};
    EXPECT_EQ(picture(3), recorded);
    EXPECT_EQ(picture(3)->ops().back().text, "b");
}

TEST_F(RenderTest, GarbageInputsNeverReadOutside)
{
    core::MeasurementStore& st = core::store();
    core::DisplaySettings& d = core::displaySettings();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (auto* c : {&st.amplitudeSlots[0], &st.amplitudeSlots[1], &st.phaseSlots[0],
                    &st.impedanceMagnitude, &st.impedancePhase}) {
        fillCurve(*c, 7, 99, nan);
        (*c)[1] = inf;
    }
    st.amplitudeSlots[1].trailerN() = 1e20f;
    st.phaseSlots[1].trailerN() = -4096.0f;
    st.slotOccupied = {1, 1, 1, 1, 1};
    st.timeRecord.stamp(7, 7);
    st.timeRecord[1] = inf;
    st.stepResponseCurve.trailerN() = nan;
    st.timeRecord.trailerN() = 1e9f;
    d.showStepResponse = 1;
    d.axisSets[0].y = -7;
    d.axisSets[1].y = 500;
    d.axisSets[3].y = 78;        // a frequency scale as impedance axis: odd but harmless
    d.axisSets[5].y = 1 << 30;
    d.axisSets[6] = core::AxisSet{{}, -1, 9999, 14};
    core::settings().markerPos = {9000, 100};
    d.observer = {5000, 5000, 5000}; // inside the cube: projections must stay finite
    for (int k = 0; k < core::kCsdPoints; ++k) {
        st.csdFrequency[static_cast<std::size_t>(k)] = (k % 3) ? 1000.0f : nan;
        st.csdLevel[static_cast<std::size_t>(k)] = (k % 5) ? -10.0f : inf;
        st.csdTime[static_cast<std::size_t>(k)] = static_cast<float>(k) * 1e-7f;
    }
    st.levelBandFrequency.fill(nan);
    st.levelCurrent.fill(inf);
    d.userText[3].fill('x'); // no terminating NUL
    renderView(100);
    for (int k = 0; k <= 8; ++k)
        EXPECT_FALSE(picture(k)->empty());
    // A waterfall with more than 64 distinct times inside the axes keeps to its grid.
    d.axisSets[6] = core::defaultAxisSet(6);
    d.observer = {15000, 60000, 45000};
    renderView(6);
    SvgCanvas svg(300, 300);
    replayView(svg, 11, 0, 0, 300, 300);
    replayView(svg, 6, 0, 0, 300, 300);
    EXPECT_FALSE(svg.finish().empty());
}

TEST_F(RenderTest, DefaultObserverCubeCorners)
{
    EXPECT_EQ(projectCube(0, 0, 0).x, 2999);
    EXPECT_EQ(projectCube(0, 0, 0).y, 6315);
    EXPECT_EQ(projectCube(10000, 0, 0).x, 9999);
    EXPECT_EQ(projectCube(0, 10000, 0).y, 10000);
    EXPECT_EQ(projectCube(10000, 10000, 0).x, 9999);
    EXPECT_EQ(projectCube(0, 0, 10000).x, -1);
    EXPECT_EQ(projectCube(0, 0, 10000).y, -1);
    EXPECT_EQ(projectCube(10000, 0, 10000).x, 8999);
    EXPECT_EQ(projectCube(10000, 0, 10000).y, -1);
    EXPECT_EQ(projectCube(0, 10000, 10000).x, -1);
    EXPECT_EQ(projectCube(0, 10000, 10000).y, 4736);
    EXPECT_EQ(projectCube(10000, 10000, 10000).x, 8999);
    EXPECT_EQ(projectCube(10000, 10000, 10000).y, 4736);
}

TEST_F(RenderTest, WaterfallRibbonsAndRelativeLevels)
{
    core::MeasurementStore& st = core::store();
    // Two slices of 201 points (0..20 kHz), the loudest point 0 dB relative at 1 kHz.
    int k = 1;
    st.csdFrequency.fill(NO_VALUE);
    st.csdLevel.fill(NO_VALUE);
    st.csdTime.fill(NO_VALUE);
    for (int s = 0; s < 2; ++s)
        for (int i = 0; i <= 200; ++i, ++k) {
            st.csdFrequency[static_cast<std::size_t>(k)] = 100.0f * static_cast<float>(i);
            st.csdLevel[static_cast<std::size_t>(k)] = (i == 10 && s == 0) ? 7.0f : -3.0f - 10.0f * static_cast<float>(s);
            st.csdTime[static_cast<std::size_t>(k)] = 0.0005f * static_cast<float>(s);
        }
    st.csdLevel[core::kCsdPoints] = 7.0f;
    renderView(6);
    const Picture& p = *picture(6);
    const auto polys = opsOf(p, OpKind::polygon);
    // Three walls plus one ribbon per band that holds points inside 300 Hz .. 20 kHz (the
    // bands 200..300 and 20000..30000 share an edge with the axis), for slice pairs 0/1 and
    // 1/2 (the last slice alone).
    EXPECT_EQ(polys.size(), 3u + 2u * 19u);
    // The loudest point lies at 0 dB relative: cube y = 10000 * 30/35 on the back wall.
    int maxY = -100000;
    for (const Op* op : opsOf(p, OpKind::polyline))
        if (op->pen.dotted && op->pen.maskPen)
            for (const Point& pt : op->points)
                maxY = std::max(maxY, pt.y);
    EXPECT_EQ(maxY, projectCube(0, 8571, 0).y);
    EXPECT_NE(findText(p, "Wasserfalldiagramm (CSD)"), nullptr);
}

TEST_F(RenderTest, LevelBarModes)
{
    core::MeasurementStore& st = core::store();
    core::DisplaySettings& d = core::displaySettings();
    core::settings().sampleRate = 2;
    d.axisSets[5].y = 12;
    for (int b = 0; b < core::kLevelBands; ++b) {
        st.levelBandFrequency[static_cast<std::size_t>(b)] = 31.5f * std::pow(2.0f, b / 3.0f);
        st.levelCurrent[static_cast<std::size_t>(b)] = -30.0f;
        st.levelMeanPeak[static_cast<std::size_t>(b)] = -20.0f;
    }
    st.levelCurrent[4] = NO_VALUE;
    st.levelMeanPeak[5] = -100000.0f;
    auto barWidths = [] {
        std::vector<int> w;
        for (const Op* op : opsOf(*picture(5), OpKind::fillRect))
            if (op->points[0].y == 0 && op->points[1].x != 12000)
                w.push_back(op->points[1].x - op->points[0].x);
        return w;
    };
    // Bands 0..27 reach 31.5 Hz * 2^9 = 16 kHz; all but band 4 are drawn.
    d.levelDisplayMode = 2;
    renderView(5);
    EXPECT_EQ(barWidths(), std::vector<int>(27, 320));
    d.levelDisplayMode = 1;
    renderView(5);
    EXPECT_EQ(barWidths(), std::vector<int>(27, 140));
    d.levelDisplayMode = 3;
    renderView(5);
    const auto w = barWidths();
    ASSERT_EQ(w.size(), 54u);
    EXPECT_EQ(w.front(), 320);
    EXPECT_EQ(w.back(), 140); // narrow bars in front
    // A mean of -100000 dB has zero height.
    const auto rects = opsOf(*picture(5), OpKind::fillRect);
    EXPECT_EQ(rects[2 + 4]->points[1].y, 0); // background, plot area, then bands 0..3, 5
}

TEST_F(RenderTest, LevelPictureSwappedWhileReplaying)
{
    renderView(5);
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        for (int i = 0; i < 200 && !stop; ++i) {
            core::store().levelCurrent[0] = static_cast<float>(i);
            renderView(5);
        }
    });
    for (int i = 0; i < 200; ++i) {
        const std::shared_ptr<const Picture> p = picture(5);
        SvgCanvas svg(200, 200);
        replay(*p, svg, {0, 0, 200, 200});
        EXPECT_FALSE(p->empty());
    }
    stop = true;
    worker.join();
}

TEST(Zoom, FactorsOriginsAndTitles)
{
    ZoomState st;
    ZoomGeometry g = zoomGeometry(st, 300, 200, 0, 10000);
    EXPECT_FLOAT_EQ(g.zoomFactorX, 1.2f);
    EXPECT_FLOAT_EQ(g.zoomFactorY, 1.0f);
    EXPECT_EQ(g.originX, 45);  // 300 * 1500/12000 * 1.2
    EXPECT_EQ(g.originY, 0);
    EXPECT_EQ(g.targetWidth, 360);
    // Crossed or equal markers (foreign files) show the whole axis instead of dividing by 0.
    g = zoomGeometry(st, 300, 200, 5000, 5000);
    EXPECT_FLOAT_EQ(g.zoomFactorX, 1.2f);
    st.timeWindowMode = 0;
    g = zoomGeometry(st, 300, 200, 0, 10000);
    EXPECT_FLOAT_EQ(g.zoomFactorX, 4.0f);
    EXPECT_EQ(g.originX, 450);  // 6000/12000 * 300 * 4 - 150
    EXPECT_EQ(g.originY, 300);
    EXPECT_EQ(g.targetHeight, 800);
    EXPECT_EQ(zoomTitle(3, 4.0f, 4.0f), "ZOOM   Phasenfrequenzgang (X - Faktor:4.0; Y - Faktor=4.0)");
    EXPECT_EQ(logicalFromClient(10, 29, 0, 29, 600, 329).x, 200);
    EXPECT_EQ(logicalFromClient(10, 29, 0, 29, 600, 329).y, 12000);
    EXPECT_EQ(logicalFromClient(5, 5, 0, 0, 0, 0).x, 0);
}

TEST(Zoom, MarkerDragging)
{
    int m1 = 1000, m2 = 5000;
    EXPECT_EQ(markerHit(1100, 9000, m1, m2), 1);
    EXPECT_EQ(markerHit(1100, 5000, m1, m2), 0); // on the line, outside the label band
    EXPECT_EQ(markerHit(4800, 8000, m1, m2), 2);
    EXPECT_EQ(dragMarker(1, 10, m1, m2), 1);
    EXPECT_EQ(m1, 0);
    EXPECT_EQ(dragMarker(1, 5000, m1, m2), 0);
    EXPECT_EQ(m1, 0);
    EXPECT_EQ(dragMarker(2, 9990, m1, m2), 1);
    EXPECT_EQ(m2, 10000);
    EXPECT_EQ(dragMarker(2, 0, m1, m2), 0);
}

TEST_F(RenderTest, AnImpedanceCurveOfTheTsProcedureIsNamedInItsViews)
{
    core::MeasurementStore& st = core::store();
    fillCurve(st.impedanceMagnitude, 4096, 1, 8.0f);
    fillCurve(st.impedancePhase, 4096, 1, 0.0f);
    const std::string name = "Impedanz: T/S-Messung mit Zusatzmasse";
    renderView(4);
    EXPECT_EQ(findText(*picture(4), name), nullptr);
    core::labelImpedanceCurve(core::ImpedanceCurveKind::AddedMass);
    renderView(3);
    renderView(4);
    const Op* label = findText(*picture(4), name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textColor, core::displaySettings().colors[core::impedanceColor]);
    EXPECT_NE(findText(*picture(3), name), nullptr);
    // Any other curve in the store has no label.
    st.impedanceMagnitude[100] = 9.0f;
    renderView(4);
    EXPECT_EQ(findText(*picture(4), name), nullptr);
}

namespace {
// A burst of +-amplitude over the first 40 samples of a 51.2 kHz record, silence after it.
void burstAtStart(float amplitude)
{
    core::MeasurementStore& st = core::store();
    st.timeRecord.v.fill(0.0f);
    st.timeRecord.stamp(4096, 2);
    for (int i = 1; i <= 40; ++i)
        st.timeRecord[static_cast<std::size_t>(i)] = (i % 2 ? amplitude : -amplitude);
}
} // namespace

TEST_F(RenderTest, TimeViewScaleHoldsTheShownCurve)
{
    core::DisplaySettings& d = core::displaySettings();
    // 1.2 V on the +-0,01 V scale: the smallest listed scale that holds it is +-1,5 V.
    burstAtStart(1.2f);
    d.axisSets[0].y = 57;
    renderView(1);
    EXPECT_EQ(d.axisSets[0].y, 4);
    EXPECT_NE(findText(*picture(1), "+1,0"), nullptr);
    // A scale that holds the curve is the user's and stays, even a much larger one.
    burstAtStart(0.004f);
    renderView(1);
    EXPECT_EQ(d.axisSets[0].y, 4);
    d.axisSets[0].y = 59; // +-0,002 V
    renderView(1);
    EXPECT_EQ(d.axisSets[0].y, 58); // +-0,005 V
    // The step response counts only when it is shown.
    core::store().stepResponseCurve.v.fill(0.1f);
    renderView(1);
    EXPECT_EQ(d.axisSets[0].y, 58);
    d.showStepResponse = 1;
    renderView(1);
    EXPECT_EQ(d.axisSets[0].y, 6); // +-0,15 V
}

TEST_F(RenderTest, MarkerLabelsKeepClearOfTheCurve)
{
    // A full-height burst right of M1 at 0: the label moves right past it, and no curve
    // point lies under the label's text.
    burstAtStart(1.4f);
    core::settings().markerPos = {0, 10000};
    renderView(1);
    const Picture& p = *picture(1);
    const Op* name = findText(p, "M1");
    const Op* time = findText(p, "(0.00msec)");
    ASSERT_NE(name, nullptr);
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(name->points[0].x, time->points[0].x);
    const int left = name->points[0].x;
    const int right = left + 10 * kMarkerTimeFont.width;
    auto c = curves(p);
    ASSERT_EQ(c.size(), 1u);
    int burstEnd = 0;
    for (const Point& pt : c[0]->points) {
        if (pt.y > 9000)
            burstEnd = std::max(burstEnd, pt.x);
        if (pt.y >= 8250 && pt.y <= 9250) {
            EXPECT_TRUE(pt.x < left || pt.x > right) << pt.x << "," << pt.y;
        }
    }
    EXPECT_GT(left, burstEnd);
    EXPECT_LT(left, burstEnd + 300); // beside the burst, not far off

    // M2's label moves left of a burst at its line in the same way.
    for (int i = 4000; i < 4096; ++i)
        core::store().timeRecord[static_cast<std::size_t>(i)] = (i % 2 ? 1.4f : -1.4f);
    renderView(1);
    const Op* m2 = findText(*picture(1), "M2");
    ASSERT_NE(m2, nullptr);
    EXPECT_LT(m2->points[1].x, mapTimeSample(4000, 4096));
}

TEST_F(RenderTest, WaterfallSaysWhenItStartsAtTheArrival)
{
    core::MeasurementStore& st = core::store();
    st.timeRecord.v.fill(0.0f);
    st.timeRecord.stamp(4096, 2);
    for (int n = 200; n < 400; ++n)
        st.timeRecord[static_cast<std::size_t>(n)] =
            static_cast<float>(std::exp(-(n - 200) / 20.0) * std::cos((n - 200) * 0.3));
    const std::string note = "Beginn bei Ankunft des Impulses: 3,52 ms"; // sample 180
    core::settings().markerPos = {0, 10000};
    // No waterfall yet: no note.
    st.csdFrequency.fill(NO_VALUE);
    renderView(6);
    EXPECT_EQ(findText(*picture(6), note), nullptr);
    dsp::computeWaterfall(4096);
    renderView(6);
    EXPECT_NE(findText(*picture(6), note), nullptr);
    // M1 after the arrival, or a record of another rate: the slices start at M1, no note.
    EXPECT_EQ(waterfallStartNote(st, 750, 10000), "");
    st.timeRecord.stamp(4096, 1);
    EXPECT_EQ(waterfallStartNote(st, 0, 10000), "");
}
