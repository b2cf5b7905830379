// The distortion view: curves at the level and frequency they belong to, the choice of curves,
// the noise floors and the view's place among the pictures.
#include "core/Display.h"
#include "core/Store.h"
#include "plot/Diagram.h"
#include "plot/DistortionView.h"
#include "plot/Render.h"
#include "plot/Scales.h"
#include "plot/Zoom.h"
#include "tests/support/TestSupport.h"

#include <cmath>

using namespace plot;

namespace
{

class DistortionViewTest : public testsupport::RecordsTest
{
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        resetPictures();
    }
};

// A sweep of 20 Hz..20 kHz read at 1/24 octave from 20 Hz to 10 kHz: H2 at -40 dB and H3 at
// -50 dB throughout, H4 and H5 at -60 and -70 dB, each ending where it leaves the band, and
// a fundamental peaking at -12 dB.
core::DistortionRecord knownRecord()
{
    core::DistortionRecord r;
    for (double f = 20.0; f <= 10000.0; f *= std::pow(2.0, 1.0 / 24.0))
        r.hz.push_back(static_cast<float>(f));
    const std::size_t n = r.hz.size();
    const float levels[4] = {-40.0f, -50.0f, -60.0f, -70.0f};
    for (std::size_t k = 0; k < 4; ++k) {
        std::size_t inBand = 0;
        while (inBand < n && r.hz[inBand] * static_cast<float>(k + 2) <= 20000.0f)
            ++inBand;
        r.harmonicDb[k].assign(inBand, levels[k]);
        r.noiseDb[k].assign(inBand, -90.0f);
    }
    for (std::size_t i = 0; i < n; ++i)
        r.fundamentalDb.push_back(i == n / 2 ? -12.0f : -20.0f);
    r.thdPercent.assign(n, 1.0f);
    r.noiseCoversBand = true;
    r.sweepStartHz = 20.0;
    r.sweepEndHz = 20000.0;
    r.sweepSeconds = 2.0;
    r.sweepAmplitude = 0.5;
    r.sweepRateHz = 48000;
    return r;
}

// The curves of a colour; the legend's two-point keys are left out.
std::vector<const Op*> polylines(const Picture& p, std::uint32_t color, bool dotted)
{
    std::vector<const Op*> out;
    for (const Op& op : p.ops())
        if (op.kind == OpKind::polyline && op.pen.color == color && op.pen.dotted == dotted &&
            op.points.size() > 2)
            out.push_back(&op);
    return out;
}

bool hasText(const Picture& p, const std::string& text)
{
    for (const Op& op : p.ops())
        if (op.kind == OpKind::text && op.text.find(text) != std::string::npos)
            return true;
    return false;
}

// The point of a curve nearest to plot x.
Point pointAt(const Op& line, int x)
{
    Point best = line.points.front();
    for (const Point& pt : line.points)
        if (std::abs(pt.x - x) < std::abs(best.x - x))
            best = pt;
    return best;
}

TEST_F(DistortionViewTest, HarmonicsStandAtTheirLevelAndFrequency)
{
    const core::DistortionRecord r = knownRecord();
    Picture p;
    drawDistortion(p, r, DistortionShown::LowHarmonics);
    const DistortionAxes axes = distortionAxes(r, DistortionShown::LowHarmonics);
    EXPECT_EQ(axes.frequency.min, 20.0f);
    EXPECT_EQ(axes.frequency.max, 20000.0f);

    const auto h2 = polylines(p, harmonicColor(2), false);
    ASSERT_EQ(h2.size(), 1u);
    // -40 dB on the -100..0 dB axis is 60 % up the plot, and 1 kHz lies where the log axis
    // puts it.
    const int x1k = mapLogFrequency(1000.0, axes.frequency);
    const Point at1k = pointAt(*h2[0], x1k);
    EXPECT_NEAR(at1k.x, x1k, 30);
    EXPECT_EQ(at1k.y, 6000);
    // The -40 dB grid line is the one labelled so, at the same height (plus the plot's base).
    bool labelled = false;
    for (int i = 0; i < axes.relative.gridCount; ++i)
        if (axes.relative.tickLabel[static_cast<std::size_t>(i)] == "-40")
            labelled = axes.relative.gridPos[static_cast<std::size_t>(i)] == 1000 + 6000;
    EXPECT_TRUE(labelled);

    // H2 ends at 10 kHz excitation (20 kHz harmonic), H3 a third of the band earlier.
    const auto h3 = polylines(p, harmonicColor(3), false);
    ASSERT_EQ(h3.size(), 1u);
    EXPECT_EQ(h3[0]->points.front().y, 5000);
    EXPECT_NEAR(h2[0]->points.back().x, mapLogFrequency(r.hz.back(), axes.frequency), 1);
    const float h3End = r.hz[r.harmonicDb[1].size() - 1];
    EXPECT_NEAR(h3[0]->points.back().x, mapLogFrequency(h3End, axes.frequency), 1);
    EXPECT_LT(h3[0]->points.back().x, h2[0]->points.back().x - 500); // log 1.5 of 1000

    // The fundamental's peak of -12 dB stands under the top of its own axis (-10 dB).
    const auto fundamental = polylines(p, core::displaySettings().colors[core::amplitudeColor0], false);
    ASSERT_EQ(fundamental.size(), 1u);
    EXPECT_EQ(axes.fundamental.max, -10.0f);
    int top = 0;
    for (const Point& pt : fundamental[0]->points)
        top = std::max(top, pt.y);
    EXPECT_EQ(top, 9800);
    EXPECT_TRUE(hasText(p, "Sweep 20 Hz \u2013 20 kHz, 2 s"));
}

TEST_F(DistortionViewTest, HigherHarmonicsOnlyWhenChosenAndThdInstead)
{
    const core::DistortionRecord r = knownRecord();
    Picture low, all, thd;
    drawDistortion(low, r, DistortionShown::LowHarmonics);
    drawDistortion(all, r, DistortionShown::AllHarmonics);
    drawDistortion(thd, r, DistortionShown::Thd);

    for (int k : {4, 5}) {
        EXPECT_TRUE(polylines(low, harmonicColor(k), false).empty()) << k;
        EXPECT_FALSE(hasText(low, "H" + std::to_string(k))) << k;
        ASSERT_EQ(polylines(all, harmonicColor(k), false).size(), 1u) << k;
        EXPECT_TRUE(hasText(all, "H" + std::to_string(k))) << k;
    }
    EXPECT_EQ(polylines(all, harmonicColor(5), false)[0]->points.front().y, 3000);
    // With all five curves and the noise the legend still ends left of the fundamental's axis.
    int legendEnd = 0;
    for (const Op& op : all.ops())
        if (op.kind == OpKind::text && op.text == "Rauschgrenze")
            legendEnd = op.points[0].x + 12 * kLegendFont.width;
    EXPECT_GT(legendEnd, 0);
    EXPECT_LE(legendEnd, 11500);

    // THD: 1 % halfway up the 0.01..100 % log axis; no single harmonic drawn.
    EXPECT_TRUE(hasText(thd, "THD"));
    EXPECT_TRUE(polylines(thd, harmonicColor(3), false).empty());
    const auto curve = polylines(thd, harmonicColor(2), false);
    ASSERT_EQ(curve.size(), 1u);
    EXPECT_EQ(curve[0]->points.front().y, 5000);
    EXPECT_EQ(distortionShown(true, true), DistortionShown::Thd);
    EXPECT_EQ(distortionShown(true, false), DistortionShown::AllHarmonics);
}

TEST_F(DistortionViewTest, NoiseFloorsDottedBesideTheirHarmonics)
{
    core::DistortionRecord r = knownRecord();
    Picture p;
    drawDistortion(p, r, DistortionShown::LowHarmonics);
    EXPECT_TRUE(hasText(p, "Rauschgrenze"));
    EXPECT_FALSE(hasText(p, "unsicher"));
    for (int k : {2, 3}) {
        const auto solid = polylines(p, harmonicColor(k), false);
        ASSERT_EQ(solid.size(), 1u);
        int dotted = 0;
        for (const Op& op : p.ops())
            if (op.kind == OpKind::polyline && op.pen.dotted &&
                op.points.size() == solid[0]->points.size()) {
                ++dotted;
                EXPECT_EQ(op.points.front().y, 1000); // -90 dB
                EXPECT_NE(op.pen.color, harmonicColor(k));
            }
        EXPECT_GE(dotted, 1) << k;
    }

    // A capture too short after the sweep says its floor is not to be trusted at the top.
    r.noiseCoversBand = false;
    Picture shortCapture;
    drawDistortion(shortCapture, r, DistortionShown::LowHarmonics);
    EXPECT_TRUE(hasText(shortCapture, "Rauschgrenze oben unsicher"));

    // Without noise readings no floor and no legend entry for one.
    for (auto& n : r.noiseDb)
        n.clear();
    Picture quiet;
    drawDistortion(quiet, r, DistortionShown::LowHarmonics);
    EXPECT_FALSE(hasText(quiet, "Rauschgrenze"));
    for (const Op& op : quiet.ops())
        EXPECT_FALSE(op.kind == OpKind::polyline && op.pen.dotted);
    EXPECT_FALSE(hasText(quiet, "unsicher"));
}

TEST_F(DistortionViewTest, ThdNoiseSumsTheHarmonicsStillInTheBand)
{
    core::DistortionRecord r;
    r.hz = {100.0f, 200.0f, 300.0f};
    r.harmonicDb[0] = {-40.0f, -40.0f, -40.0f};
    r.harmonicDb[1] = {-40.0f, -40.0f};
    r.noiseDb[0] = {-60.0f, -60.0f, -60.0f};
    r.noiseDb[1] = {-60.0f, -60.0f};
    const std::vector<float> thd = thdNoisePercent(r);
    ASSERT_EQ(thd.size(), 3u);
    EXPECT_NEAR(thd[0], 100.0 * std::sqrt(2e-6), 1e-4); // two floors of 0.1 %
    EXPECT_NEAR(thd[2], 0.1, 1e-4);                      // H3 has left the band
    EXPECT_TRUE(thdNoisePercent(core::DistortionRecord{}).empty());
}

TEST_F(DistortionViewTest, FrequencyAxisFollowsTheSweepsBand)
{
    core::DistortionRecord r = knownRecord();
    EXPECT_EQ(distortionAxes(r, DistortionShown::LowHarmonics).frequency.max, 20000.0f);
    r.hz = {12.0f, 100.0f, 1000.0f};
    const ScaleRecord low = distortionAxes(r, DistortionShown::LowHarmonics).frequency;
    EXPECT_EQ(low.min, 10.0f);
    EXPECT_EQ(low.max, 1250.0f);
    // Points beyond the axis are left out, not piled on its edge.
    r.hz = {20.0f, 1000.0f, 15000.0f, 30000.0f};
    r.fundamentalDb = {0.0f, 0.0f, 0.0f, 0.0f};
    r.harmonicDb[0] = {-40.0f, -40.0f, -40.0f, -40.0f};
    r.thdPercent = {1.0f, 1.0f, 1.0f, 1.0f};
    for (auto& n : r.noiseDb)
        n.clear();
    for (std::size_t k = 1; k < 4; ++k)
        r.harmonicDb[k].clear();
    Picture p;
    drawDistortion(p, r, DistortionShown::LowHarmonics);
    const auto h2 = polylines(p, harmonicColor(2), false);
    ASSERT_EQ(h2.size(), 1u);
    EXPECT_EQ(h2[0]->points.size(), 3u);
    EXPECT_LE(h2[0]->points.back().x, 10000);
}

TEST_F(DistortionViewTest, ReadoutInvertsTheAxes)
{
    const core::DistortionRecord r = knownRecord();
    EXPECT_EQ(distortionReadout(r, DistortionShown::LowHarmonics, 0, 6000),
              "Wert (X|Y): 20.00[Hz] | -40.00[dB] | -50.00[dB]");
    EXPECT_EQ(distortionReadout(r, DistortionShown::Thd, 10000, 5000),
              "Wert (X|Y): 20000.00[Hz] | 1.000[%] | -60.00[dB]");
}

TEST_F(DistortionViewTest, EmptyStoreSaysHowToMeasure)
{
    renderView(core::RenderCode::Distortion);
    const auto p = picture(9);
    ASSERT_FALSE(p->empty());
    EXPECT_TRUE(hasText(*p, kNoDistortionText));
    EXPECT_TRUE(hasText(*p, "Klirrfaktor"));
    for (const Op& op : p->ops())
        EXPECT_FALSE(op.kind == OpKind::polyline && op.points.size() > 2); // the grid only
}

TEST_F(DistortionViewTest, RecordedWithAllViewsAndFromTheDisplayChoice)
{
    core::store().distortion = knownRecord();
    renderView(100);
    const auto shown = picture(9);
    EXPECT_FALSE(hasText(*shown, kNoDistortionText));
    EXPECT_EQ(polylines(*shown, harmonicColor(2), false).size(), 1u);
    EXPECT_TRUE(polylines(*shown, harmonicColor(4), false).empty());

    core::displaySettings().showHigherHarmonics = true;
    renderView(9);
    EXPECT_EQ(polylines(*picture(9), harmonicColor(4), false).size(), 1u);
    core::displaySettings().showThdInsteadOfHarmonics = true;
    deferAllViews();
    EXPECT_TRUE(hasText(*picture(9), "THD"));
    EXPECT_TRUE(std::string(zoomViewName(9)) == "Klirrfaktor");
}

} // namespace
