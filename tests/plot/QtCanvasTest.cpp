#include "core/Display.h"
#include "plot/Render.h"
#include "plot/qt/QtCanvas.h"
#include "tests/support/TestSupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

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

TEST_F(QtCanvasTest, LongCurvesStayUnbrokenAndTextKeepsItsSizeAcrossReplays)
{
    // A curve of 1200 points is stroked in pieces; it must still be one unbroken line.
    Picture p;
    std::vector<Point> pts;
    for (int i = 0; i < 1200; ++i)
        pts.push_back({1000 + i * 8, 6000 + static_cast<int>(2000 * std::sin(i * 0.01))});
    p.polyline(Pen{0x0000ff, 40, false, false}, pts);
    p.text("Zeitsignal", 1000, 3000, 11000, 2000, Font{700, 200, 400}, 0, alignLeft | alignBottom | singleLine);
    for (bool smooth : {false, true}) {
        for (int pass = 0; pass < 2; ++pass) { // the second pass draws with the kept font sizes
            QImage img(600, 600, QImage::Format_RGB32);
            img.fill(Qt::white);
            {
                QPainter painter(&img);
                replayOnPainter(painter, p, QRectF(0, 0, 600, 600), smooth);
            }
            for (int x = 52; x < 527; ++x) {
                bool ink = false;
                for (int y = 0; y < 600 && !ink; ++y)
                    ink = img.pixelColor(x, y).red() > 200 && img.pixelColor(x, y).blue() < 100;
                ASSERT_TRUE(ink) << "gap at column " << x << (smooth ? " smooth" : " hard");
            }
            // The text's cell is 700 of 12000 units: 35 pixels; its ink stays within the
            // cell and fills most of it.
            int top = 600, bottom = 0;
            for (int y = 400; y < 600; ++y)
                for (int x = 50; x < 550; ++x)
                    if (img.pixelColor(x, y).value() < 100) {
                        top = std::min(top, y);
                        bottom = std::max(bottom, y);
                    }
            EXPECT_GE(top, 600 - 150 - 35);
            EXPECT_LE(bottom, 600 - 100);
            EXPECT_GT(bottom - top, 20);
        }
    }
}

TEST_F(QtCanvasTest, WideOutlinesOfFacesLookAsTheClosedPathDid)
{
    // A waterfall ribbon: a jagged face with a 3-pixel outline. Drawn in segments (hard lines)
    // it must cover nearly the pixels of the outline stroked as one closed path; smoothed
    // lines keep the closed path.
    std::vector<DPoint> face;
    for (int i = 0; i <= 60; ++i)
        face.push_back({20.0 + i * 9.3, 200.0 - 60.0 * std::sin(i * 0.7) - 0.4 * i});
    for (int i = 60; i >= 0; --i)
        face.push_back({26.0 + i * 9.3, 230.0 - 50.0 * std::sin(i * 0.7 + 0.3)});
    const std::uint32_t line = 0x00804000; // 0x00BBGGRR
    const std::uint32_t fill = 0x00C050C0;
    for (bool smooth : {false, true}) {
        QImage segments(600, 320, QImage::Format_RGB32);
        QImage closed(600, 320, QImage::Format_RGB32);
        segments.fill(Qt::white);
        closed.fill(Qt::white);
        {
            QPainter p(&segments);
            p.setRenderHint(QPainter::Antialiasing, smooth);
            QtCanvas canvas(p);
            canvas.polygon(face, DPen{line, 3.0, false, false}, fill);
        }
        {
            QPainter p(&closed);
            p.setRenderHint(QPainter::Antialiasing, smooth);
            QPen pen(QColor(0x00, 0x40, 0x80), 3.0);
            pen.setJoinStyle(Qt::BevelJoin);
            p.setPen(pen);
            p.setBrush(QColor(0xC0, 0x50, 0xC0));
            QPolygonF poly;
            for (const DPoint& d : face)
                poly << QPointF(d.x, d.y);
            p.drawPolygon(poly);
        }
        int outline = 0, differing = 0;
        for (int y = 0; y < 320; ++y)
            for (int x = 0; x < 600; ++x) {
                outline += closed.pixelColor(x, y).blue() > 100 && closed.pixelColor(x, y).red() < 60;
                differing += segments.pixel(x, y) != closed.pixel(x, y);
            }
        EXPECT_GT(outline, 2000) << smooth;
        EXPECT_LT(differing, smooth ? 1 : outline / 20) << (smooth ? "smooth" : "hard");
    }
}

// The dotted grid on a printer's resolution: dots and gaps long enough to survive printing
// (on the screen the dots stay one pixel, as always).
TEST_F(QtCanvasTest, DottedLinesKeepTheirRhythmAtPrinterResolution)
{
    auto longestGap = [](int dotsPerInch) {
        QImage img(1200, 20, QImage::Format_RGB32);
        img.setDotsPerMeterX(qRound(dotsPerInch / 0.0254));
        img.setDotsPerMeterY(qRound(dotsPerInch / 0.0254));
        img.fill(Qt::white);
        QPainter painter(&img);
        QtCanvas canvas(painter);
        canvas.polyline({{0, 10}, {1200, 10}}, DPen{0, 1, true, false});
        painter.end();
        int longest = 0, run = 0, ink = 0;
        for (int x = 0; x < img.width(); ++x) {
            const bool dark = img.pixelColor(x, 10).value() < 128;
            ink += dark;
            run = dark ? 0 : run + 1;
            longest = std::max(longest, run);
        }
        EXPECT_GT(ink, img.width() / 5) << dotsPerInch << " dpi";
        return longest;
    };
    EXPECT_LE(longestGap(96), 3);
    const int atPrinter = longestGap(600);
    EXPECT_GE(atPrinter, 10);
    EXPECT_LE(atPrinter, 16);
}
