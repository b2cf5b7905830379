#include "plot/qt/QtCanvas.h"

#include "plot/Render.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>

namespace plot {

namespace {

QColor qColor(std::uint32_t c)
{
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

QPen qPen(const DPen& pen)
{
    QPen p(qColor(pen.color));
    p.setWidthF(pen.width);
    p.setStyle(pen.dotted ? Qt::DotLine : Qt::SolidLine);
    p.setCapStyle(Qt::FlatCap);
    p.setJoinStyle(Qt::RoundJoin);
    return p;
}

QPolygonF qPolygon(const std::vector<DPoint>& points)
{
    QPolygonF poly;
    poly.reserve(static_cast<qsizetype>(points.size()));
    for (const DPoint& p : points)
        poly << QPointF(p.x, p.y);
    return poly;
}

// Mask-pen lines combine with what lies below (pen AND destination).
void setRasterMode(QPainter& painter, const DPen& pen)
{
    painter.setCompositionMode(pen.maskPen ? QPainter::RasterOp_SourceAndDestination
                                           : QPainter::CompositionMode_SourceOver);
}

} // namespace

QtCanvas::QtCanvas(QPainter& painter) : painter_(painter) {}

void QtCanvas::fillRect(const DRect& r, std::uint32_t color)
{
    painter_.fillRect(QRectF(QPointF(r.left, r.top), QPointF(r.right, r.bottom)), qColor(color));
}

void QtCanvas::polyline(const std::vector<DPoint>& points, const DPen& pen)
{
    painter_.save();
    setRasterMode(painter_, pen);
    painter_.setPen(qPen(pen));
    painter_.setBrush(Qt::NoBrush);
    painter_.drawPolyline(qPolygon(points));
    painter_.restore();
}

void QtCanvas::polygon(const std::vector<DPoint>& points, const DPen& pen, std::uint32_t brush)
{
    painter_.save();
    setRasterMode(painter_, pen);
    painter_.setPen(qPen(pen));
    painter_.setBrush(qColor(brush));
    painter_.drawPolygon(qPolygon(points));
    painter_.restore();
}

void QtCanvas::text(const std::string& utf8, const DRect& rect, const DFont& font, std::uint32_t color,
                    unsigned flags)
{
    if (!(font.height > 0.5))
        return;
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    // The height is the character cell (ascent plus descent), as the diagrams state it.
    f.setPixelSize(std::max(1, qRound(font.height)));
    const QFontMetricsF probe(f);
    if (probe.height() > 0)
        f.setPixelSize(std::max(1, qRound(font.height * font.height / probe.height())));
    f.setWeight(font.weight <= 200 ? QFont::Light : font.weight >= 600 ? QFont::Bold : QFont::Normal);

    int align = (flags & alignCenter) ? Qt::AlignHCenter : (flags & alignRight) ? Qt::AlignRight : Qt::AlignLeft;
    const bool wrap = (flags & wordBreak) && !(flags & singleLine);
    // Bottom alignment holds for single lines; wrapped text starts at the top.
    align |= ((flags & alignBottom) && !wrap) ? Qt::AlignBottom : Qt::AlignTop;
    align |= wrap ? Qt::TextWordWrap : Qt::TextSingleLine;
    if (flags & noClip)
        align |= Qt::TextDontClip;

    // Narrow fonts: the painter squeezes horizontally; the rectangle is widened to match.
    const double sx = fontStretch(font);
    painter_.save();
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.setFont(f);
    painter_.setPen(qColor(color));
    painter_.scale(sx, 1.0);
    const QRectF r(QPointF(rect.left / sx, rect.top), QPointF(rect.right / sx, rect.bottom));
    painter_.drawText(r, align, QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    painter_.restore();
}

void QtCanvas::image(const DRect& target, const Bitmap& bm)
{
    if (bm.width <= 0 || bm.height <= 0 ||
        bm.pixels.size() < static_cast<std::size_t>(bm.width) * static_cast<std::size_t>(bm.height))
        return;
    QImage img(bm.width, bm.height, QImage::Format_RGB32);
    for (int y = 0; y < bm.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < bm.width; ++x) {
            const unsigned idx = bm.pixels[static_cast<std::size_t>(y * bm.width + x)];
            const std::uint32_t c = idx < bm.palette.size() ? bm.palette[idx] : 0;
            line[x] = qRgb(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                           static_cast<int>((c >> 16) & 0xFF));
        }
    }
    painter_.drawImage(QRectF(QPointF(target.left, target.top), QPointF(target.right, target.bottom)), img);
}

void replayOnPainter(QPainter& painter, const Picture& picture, const QRectF& target)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    QtCanvas canvas(painter);
    replay(picture, canvas, {target.left(), target.top(), target.right(), target.bottom()});
    painter.restore();
}

void replayViewOnPainter(QPainter& painter, int kind, const QRect& area)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    QtCanvas canvas(painter);
    replayView(canvas, kind, area.left(), area.top(), area.left() + area.width(), area.top() + area.height());
    painter.restore();
}

} // namespace plot
