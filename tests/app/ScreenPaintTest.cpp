// The screen painter keeps the painted image of a view: a repeated paint must give the very
// pixels of a replay, on a plain image and in the panels of the combined view, and a view
// rendered afresh must never show its older image.
#include "app/Painting.h"
#include "app/ScreenPaint.h"
#include "core/Display.h"
#include "core/Store.h"
#include "plot/Render.h"
#include "tests/support/TestSupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>

namespace {

class ScreenPaintTest : public testsupport::RecordsTest
{
protected:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "app_screen_paint_test";
        static char* argv[] = {name, nullptr};
        static QGuiApplication app(argc, argv);
        RecordsTest::SetUp();
        plot::resetPictures();
    }
    void TearDown() override
    {
        app::setPictureReplayer(nullptr);
        plot::resetPictures();
        RecordsTest::TearDown();
    }

    static QImage paint(const app::PictureReplayer& replayer, int view, QSize size = {900, 500})
    {
        app::setPictureReplayer(replayer);
        QImage image(size, QImage::Format_RGB32);
        image.fill(QColor(192, 192, 192));
        QPainter p(&image);
        app::paintDiagram(p, view, image.rect());
        return image;
    }
};

void fillImpedance(double peakHz)
{
    auto& st = core::store();
    for (int i = 0; i < core::kCurveBins; ++i) {
        const double f = i * 12.5;
        st.impedanceMagnitude[i] =
            static_cast<float>(6.0 + 40.0 / (1.0 + std::pow((f - peakHz) / 8.0, 2)));
        st.impedancePhase[i] = static_cast<float>(30.0 * std::sin(i * 0.01));
    }
    st.impedanceMagnitude.stamp(4096, 2);
    st.impedancePhase.stamp(4096, 2);
}

int differingPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return a.width() * a.height();
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

} // namespace

TEST_F(ScreenPaintTest, KeptImagesGiveTheReplaysPixelsAndFollowNewPictures)
{
    fillImpedance(40.0);
    plot::renderView(100);
    const app::PictureReplayer direct = app::makeScreenReplayer(0);
    const app::PictureReplayer kept = app::makeScreenReplayer();
    for (int view : {4, 6}) {
        const QImage expected = paint(direct, view);
        EXPECT_EQ(paint(kept, view), expected) << "first paint, view " << view;
        EXPECT_EQ(paint(kept, view), expected) << "repeated paint, view " << view;
    }
    // The panels of the combined view are painted at an offset, where the rasterizer may
    // round a wide line's edge to the other pixel: a few hundred pixels of 450,000.
    const QImage panels = paint(direct, 11);
    EXPECT_LT(differingPixels(paint(kept, 11), panels), 1000);
    EXPECT_LT(differingPixels(paint(kept, 11), panels), 1000);
    // Another size is painted for itself.
    EXPECT_EQ(paint(kept, 4, {640, 480}), paint(direct, 4, {640, 480}));

    // New data, rendered afresh: the kept image of the same view and size must not come back.
    const QImage before = paint(kept, 4);
    fillImpedance(400.0);
    plot::renderView(4);
    const QImage after = paint(kept, 4);
    EXPECT_NE(after, before);
    EXPECT_EQ(after, paint(direct, 4));
    // A new colour changes the picture just the same.
    core::displaySettings().colors[core::plotAreaColor] = core::rgb(250, 250, 200);
    plot::renderView(4);
    EXPECT_EQ(paint(kept, 4), paint(direct, 4));
}
