#include "core/Display.h"
#include "plot/Render.h"
#include "plot/qt/QtCanvas.h"
#include "tests/support/TestSupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

using namespace plot;

namespace {
class QtCanvasTest : public testsupport::RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        resetPictures();
        static int argc = 1;
        static char name[] = "test";
        static char* argv[] = {name, nullptr};
        static QGuiApplication app(argc, argv);
    }
};

QImage paint(int view, int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    replayViewOnPainter(p, view, QRect(0, 0, w, h));
    return img;
}
} // namespace

TEST_F(QtCanvasTest, FrameColoursLandWhereTheSquareSaysAndTextIsUpright)
{
    renderView(100);
    const QImage img = paint(2, 600, 600);
    EXPECT_EQ(img.pixelColor(5, 5), QColor(192, 192, 192));      // background
    EXPECT_EQ(img.pixelColor(300, 250), QColor(255, 255, 255));  // plot area (no grid there)
    // The title stands above the plot, in the top rows of the image.
    int inkTop = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 85; x < 300; ++x)
            inkTop += img.pixelColor(x, y).value() < 100;
    EXPECT_GT(inkTop, 50);
    // The start picture stretches its bitmap over the whole target.
    const QImage start = paint(0, 692, 434);
    EXPECT_EQ(start.pixelColor(2, 2), QColor(0, 0, 128));
    EXPECT_EQ(start.pixelColor(346, 230), QColor(255, 255, 255));
}
