#include "app/Icons.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace app {

namespace {
const QColor kInk(20, 20, 20);
const QColor kMeasure(200, 0, 0);
const QColor kCurve(0, 0, 150);
const QColor kPhase(0, 140, 0);
const QColor kImpedance(170, 40, 170);

// Small diagram frame in the right part of an image: white plot area with a dark border.
QRect plotFrame(QPainter& p, int left)
{
    const QRect r(left, 1, 31 - left, 14);
    p.fillRect(r, Qt::white);
    p.setPen(QPen(kInk, 1));
    p.drawRect(r);
    return r.adjusted(1, 1, -1, -1);
}

// A red dot on the left marks the buttons that start a measurement.
void measureDot(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kMeasure);
    p.drawEllipse(QPointF(5.5, 8), 4.5, 4.5);
    p.setBrush(Qt::NoBrush);
}

void label(QPainter& p, const QRect& r, const QString& text, const QColor& color, int px = 9)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(px);
    f.setBold(true);
    p.setFont(f);
    p.setPen(color);
    p.drawText(r, Qt::AlignCenter, text);
}

void curve(QPainter& p, const QRect& r, const QColor& color, double (*shape)(double))
{
    QPainterPath path;
    for (int i = 0; i <= 20; ++i) {
        const double t = i / 20.0;
        const QPointF pt(r.left() + t * r.width(), r.bottom() - shape(t) * r.height());
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    p.setPen(QPen(color, 1.3));
    p.drawPath(path);
}

double response(double t)
{
    return 0.15 + 0.6 * std::sqrt(std::min(1.0, t * 4)) - 0.3 * t * t;
}
double phase(double t)
{
    return 0.8 - 0.6 * t;
}
double resonance(double t)
{
    return 0.15 + 0.7 / (1 + std::pow((t - 0.3) * 9, 2)) + 0.25 * t;
}
// The harmonics under the fundamental: H2 rising toward the low end, H3 lower still.
double secondHarmonic(double t)
{
    return 0.45 - 0.3 * t + 0.15 * std::exp(-8 * t);
}
double thirdHarmonic(double t)
{
    return 0.25 - 0.18 * t + 0.1 * std::exp(-8 * t);
}

double decaying(double t)
{
    return 0.5 + 0.45 * std::exp(-4 * t) * std::sin(t * 25);
}

void bars(QPainter& p, const QRect& r, const QColor& color)
{
    static const double h[] = {0.4, 0.7, 0.9, 0.6, 0.8, 0.5};
    const int w = r.width() / 6;
    for (int i = 0; i < 6; ++i) {
        const int bh = static_cast<int>(h[i] * r.height());
        p.fillRect(r.left() + i * w + 1, r.bottom() - bh + 1, w - 1, bh, color);
    }
}

void waterfall(QPainter& p, const QRect& r)
{
    p.setPen(QPen(QColor(0, 100, 150), 1));
    for (int k = 0; k < 4; ++k) {
        const int dx = k * 3;
        const int dy = k * 3;
        QPainterPath path;
        for (int i = 0; i <= 10; ++i) {
            const double t = i / 10.0;
            const double v = (0.7 - 0.15 * k) * (0.4 + 0.6 * std::sin(t * 3.0));
            const QPointF pt(r.left() + dx + t * (r.width() - 10), r.bottom() - dy - v * 7);
            if (i == 0)
                path.moveTo(pt);
            else
                path.lineTo(pt);
        }
        p.drawPath(path);
    }
}

void magnifier(QPainter& p, QPointF c, double radius, double handle)
{
    p.setPen(QPen(kInk, 2));
    p.setBrush(QColor(210, 230, 255));
    p.drawEllipse(c, radius, radius);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kInk, 3, Qt::SolidLine, Qt::RoundCap));
    const double d = radius * 0.7071;
    p.drawLine(QPointF(c.x() + d, c.y() + d), QPointF(c.x() + d + handle, c.y() + d + handle));
}

void drawImage(QPainter& p, int index)
{
    switch (index) {
    case 0: // reference measurement
        measureDot(p);
        label(p, plotFrame(p, 12), QStringLiteral("REF"), kCurve, 8);
        break;
    case 1: { // amplitude and phase measurement
        measureDot(p);
        const QRect r = plotFrame(p, 12);
        curve(p, r, kCurve, response);
        curve(p, r, kPhase, phase);
        break;
    }
    case 2: // impedance measurement
        measureDot(p);
        curve(p, plotFrame(p, 12), kImpedance, resonance);
        break;
    case 3: // T/S measurement
        measureDot(p);
        label(p, plotFrame(p, 12), QStringLiteral("T/S"), kInk, 8);
        break;
    case 4: // level measurement
        measureDot(p);
        bars(p, plotFrame(p, 12), QColor(50, 200, 50));
        break;
    case 5: // compute waterfall
        measureDot(p);
        waterfall(p, plotFrame(p, 12));
        break;
    case 6: // time signal
        curve(p, plotFrame(p, 1), QColor(128, 0, 255), decaying);
        break;
    case 7: // amplitude response
        curve(p, plotFrame(p, 1), kCurve, response);
        break;
    case 8: { // five overlaid
        const QRect r = plotFrame(p, 1);
        static const QColor c[] = {QColor(0, 0, 128), QColor(64, 0, 192), QColor(64, 0, 255),
                                   QColor(124, 64, 255), QColor(150, 150, 255)};
        for (int k = 4; k >= 0; --k)
            curve(p, r.adjusted(0, -k * 2 + 4, 0, -k * 2 + 4), c[k], response);
        break;
    }
    case 9: { // sum
        const QRect r = plotFrame(p, 1);
        curve(p, r, kCurve, response);
        label(p, QRect(r.left(), r.top(), 12, r.height()), QString(QChar(0x03A3)), kInk, 10);
        break;
    }
    case 10: // impedance
        curve(p, plotFrame(p, 1), kImpedance, resonance);
        break;
    case 11: { // amplitude and impedance
        const QRect r = plotFrame(p, 1);
        curve(p, r, kCurve, response);
        curve(p, r, kImpedance, resonance);
        break;
    }
    case 12: { // three panels
        const QRect a(1, 1, 14, 6), b(17, 1, 14, 6), c(1, 9, 14, 6);
        for (const QRect& r : {a, b, c}) {
            p.fillRect(r, Qt::white);
            p.setPen(QPen(kInk, 1));
            p.drawRect(r);
        }
        curve(p, a.adjusted(1, 1, -1, -1), QColor(128, 0, 255), decaying);
        curve(p, b.adjusted(1, 1, -1, -1), kCurve, response);
        curve(p, c.adjusted(1, 1, -1, -1), kImpedance, resonance);
        break;
    }
    case 13: // T/S parameters
        label(p, plotFrame(p, 1), QStringLiteral("T/S"), kInk, 10);
        break;
    case 14: // level
        bars(p, plotFrame(p, 1), QColor(50, 200, 50));
        break;
    case 15: // waterfall
        waterfall(p, plotFrame(p, 1));
        break;
    case 16: { // user text
        const QRect r = plotFrame(p, 1);
        label(p, r, QStringLiteral("Abc"), kInk, 10);
        break;
    }
    case 17: // zoom
        magnifier(p, QPointF(13, 7), 5, 5);
        break;
    case 18: { // distortion: the fundamental over its harmonics
        const QRect r = plotFrame(p, 1);
        curve(p, r, kCurve, [](double) { return 0.85; });
        curve(p, r, kMeasure, secondHarmonic);
        curve(p, r, kPhase, thirdHarmonic);
        break;
    }
    default:
        break;
    }
}

QPixmap cursorPixmap(void (*draw)(QPainter&))
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return pm;
}

void drawZoomCursor(QPainter& p)
{
    magnifier(p, QPointF(12, 12), 8, 8);
    p.setPen(QPen(kInk, 1));
    p.drawLine(8, 12, 16, 12);
    p.drawLine(12, 8, 12, 16);
}

void drawMarkerCursor(QPainter& p)
{
    // A vertical marker line with arrows to both sides: white outline for contrast.
    for (int pass = 0; pass < 2; ++pass) {
        p.setPen(QPen(pass == 0 ? Qt::white : QColor(200, 0, 0), pass == 0 ? 4 : 2));
        p.drawLine(16, 4, 16, 28);
        p.drawLine(4, 16, 28, 16);
        p.drawLine(4, 16, 9, 11);
        p.drawLine(4, 16, 9, 21);
        p.drawLine(28, 16, 23, 11);
        p.drawLine(28, 16, 23, 21);
    }
}
} // namespace

QPixmap toolbarImage(int index)
{
    if (index < 0 || index >= kToolbarImageCount)
        return {};
    QPixmap pm(32, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawImage(p, index);
    return pm;
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 32, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        p.setBrush(QColor(40, 60, 120));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
        // A loudspeaker cone and a response curve.
        p.setBrush(QColor(230, 230, 230));
        p.drawRect(QRectF(10, 24, 8, 16));
        p.drawPolygon(
            QPolygonF({QPointF(18, 24), QPointF(30, 12), QPointF(30, 52), QPointF(18, 40)}));
        p.setPen(QPen(QColor(255, 200, 0), 4, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        QPainterPath path(QPointF(34, 44));
        path.cubicTo(QPointF(40, 20), QPointF(46, 20), QPointF(56, 26));
        p.drawPath(path);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QCursor zoomSelectCursor()
{
    return QCursor(cursorPixmap(drawZoomCursor), 12, 12);
}
QCursor markerDragCursor()
{
    return QCursor(cursorPixmap(drawMarkerCursor), 16, 16);
}

} // namespace app
