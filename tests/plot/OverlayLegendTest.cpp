// The overlay view tells its curves apart: each is named in the legend, newest first, in the
// colour it keeps; the default overlay colours stand out on the white plot.
#include "core/Display.h"
#include "core/Store.h"
#include "plot/Render.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace
{

// WCAG relative luminance of a 0x00BBGGRR colour.
double luminance(std::uint32_t c)
{
    auto channel = [](unsigned v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c & 0xFFu) + 0.7152 * channel((c >> 8) & 0xFFu) +
           0.0722 * channel((c >> 16) & 0xFFu);
}

double contrastOnWhite(std::uint32_t c)
{
    return 1.05 / (luminance(c) + 0.05);
}

TEST(OverlayColours, DefaultsReadableOnWhiteAndDistinct)
{
    const core::DisplaySettings d;
    EXPECT_NEAR(contrastOnWhite(0x00FFFFFF), 1.0, 1e-9);
    EXPECT_NEAR(contrastOnWhite(0), 21.0, 1e-9);
    std::vector<std::uint32_t> seen;
    for (int k = 0; k < 5; ++k)
        for (int base : {core::amplitudeColor0, core::phaseColor0}) {
            const std::uint32_t c = d.colors[static_cast<std::size_t>(base + k)];
            EXPECT_GE(contrastOnWhite(c), 3.0) << "colour " << base + k;
            EXPECT_EQ(std::count(seen.begin(), seen.end(), c), 0) << "colour " << base + k;
            seen.push_back(c);
        }
}

class OverlayLegendTest : public testsupport::RecordsTest
{
};

std::vector<std::string> texts(const plot::Picture& p)
{
    std::vector<std::string> out;
    for (const plot::Op& op : p.ops())
        if (op.kind == plot::OpKind::text)
            out.push_back(op.text);
    return out;
}

std::ptrdiff_t indexOf(const std::vector<std::string>& v, const std::string& s)
{
    const auto it = std::find(v.begin(), v.end(), s);
    return it == v.end() ? -1 : it - v.begin();
}

TEST_F(OverlayLegendTest, NamesEachCurveNewestFirstInItsColour)
{
    core::MeasurementStore& st = core::store();
    core::DisplaySettings& d = core::displaySettings();
    d.showPhase = 0;
    for (int s = 0; s < 3; ++s) {
        auto& c = st.amplitudeSlots[static_cast<std::size_t>(s)];
        for (int i = 0; i < core::kCurveBins; ++i)
            c[static_cast<std::size_t>(i)] = -20.0f - 5.0f * s;
        c.stamp(1024, 1);
        st.slotOccupied[static_cast<std::size_t>(s)] = 1;
    }
    st.overlayTags[0] = {3, "Messung 10:02:00"};
    st.overlayTags[1] = {0, "Tief & Mittel.frd"};
    st.overlayTags[2] = {1, ""};
    plot::renderView(20);
    const auto pic = plot::picture(7);
    const auto t = texts(*pic);
    const auto newest = indexOf(t, "Messung 10:02:00");
    const auto older = indexOf(t, "Tief & Mittel.frd"); // not taken for a prefix mark
    const auto oldest = indexOf(t, "Kurve 3");
    ASSERT_GE(newest, 0);
    ASSERT_GT(older, newest);
    ASSERT_GT(oldest, older);

    // Each curve and its key line in the legend have the curve's own colour.
    std::vector<std::uint32_t> curveColours, keyColours;
    for (const plot::Op& op : pic->ops()) {
        if (op.kind != plot::OpKind::polyline)
            continue;
        if (op.pen.width == d.lineWidth && op.points.size() > 2)
            curveColours.push_back(op.pen.color);
        else if (op.pen.width == 30 && op.points.size() == 2 && op.points[0].x > 1500)
            keyColours.push_back(op.pen.color);
    }
    const std::vector<std::uint32_t> want = {d.colors[core::amplitudeColor0 + 3],
                                             d.colors[core::amplitudeColor0 + 0],
                                             d.colors[core::amplitudeColor0 + 1]};
    EXPECT_EQ(curveColours, want);
    EXPECT_EQ(keyColours, want);

    // Nothing in the overlay: no legend.
    st.slotOccupied = {0, 0, 0, 0, 0};
    plot::renderView(20);
    EXPECT_EQ(indexOf(texts(*plot::picture(7)), "Kurve 1"), -1);
}

} // namespace
