#include "plot/qt/QtCanvas.h"

#include "plot/Render.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QImage>
#include <QLineF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QPolygonF>

#include <algorithm>
#include <vector>

namespace plot {

namespace {

QColor qColor(std::uint32_t c)
{
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

// Qt's dotted pen measures its dots in pen widths. A grid line one device pixel wide on a
// printer or in a PDF (600 or 1200 dots per inch) then has dots too small to print, and the
// dotted grid prints as a solid one. On such devices the dots and gaps are as long as on the
// screen: one and two screen pixels (1/96 inch).
QPen qPen(const DPen& pen, const QPaintDevice* device)
{
    QPen p(qColor(pen.color));
    p.setWidthF(pen.width);
    p.setStyle(pen.dotted ? Qt::DotLine : Qt::SolidLine);
    if (pen.dotted && device != nullptr) {
        const double perScreenPixel = device->logicalDpiX() / 96.0;
        if (perScreenPixel > 1.5) {
            const double dot = perScreenPixel / std::max(pen.width, 0.01);
            p.setDashPattern({dot, 2.0 * dot});
        }
    }
    p.setCapStyle(Qt::FlatCap);
    p.setJoinStyle(Qt::BevelJoin);
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

// Wide antialiased pens are stroked as one outline per call, and the cost of filling that
// outline grows much faster than its length: a curve of 1600 points takes twenty times as
// long in one piece as in pieces of sixteen. Round caps close the joints between pieces.
// Dotted lines stay whole so that their dots keep one rhythm.
void strokeInPieces(QPainter& painter, const QPolygonF& poly, const DPen& pen)
{
    constexpr qsizetype kPiece = 16;
    QPen qp = qPen(pen, painter.device());
    if (pen.dotted || poly.size() <= kPiece) {
        painter.setPen(qp);
        painter.drawPolyline(poly);
        return;
    }
    qp.setCapStyle(Qt::RoundCap);
    painter.setPen(qp);
    for (qsizetype at = 0; at + 1 < poly.size(); at += kPiece - 1)
        painter.drawPolyline(poly.constData() + at, static_cast<int>(std::min(kPiece, poly.size() - at)));
}

// The height is the character cell (ascent plus descent), as the diagrams state it. Finding
// the pixel size that gives that cell needs the font's metrics, which costs more than
// drawing the text, so the sizes found are kept (a window repaints with a handful of sizes).
QFont fontFor(const DFont& font)
{
    struct CachedFont {
        int pixelHeight;
        int weight;
        QFont font;
    };
    thread_local std::vector<CachedFont> cache;
    const int pixelHeight = std::max(1, qRound(font.height));
    const int weight = font.weight <= 200 ? QFont::Light : font.weight >= 600 ? QFont::Bold : QFont::Normal;
    for (const CachedFont& c : cache)
        if (c.pixelHeight == pixelHeight && c.weight == weight)
            return c.font;
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelHeight);
    const QFontMetricsF probe(f);
    if (probe.height() > 0)
        f.setPixelSize(std::max(1, qRound(pixelHeight * pixelHeight / probe.height())));
    f.setWeight(static_cast<QFont::Weight>(weight));
    if (cache.size() >= 64)
        cache.clear(); // windows resized many times: start afresh rather than grow
    cache.push_back({pixelHeight, weight, f});
    return f;
}

void setHints(QPainter& painter, bool smoothLines)
{
    painter.setRenderHint(QPainter::Antialiasing, smoothLines);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
}

} // namespace

// Stroked as one closed path, the joins cost the stroker most of its time (a waterfall has
// some 1,300 ribbons, three quarters of its paint went there); separate segments have none.
// Square caps close the corners: round ones would cost as much as the joins (every cap an
// arc), flat ones leave notches.
void strokeOutline(QPainter& painter, const QPolygonF& outline, QPen pen)
{
    pen.setCapStyle(Qt::SquareCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    thread_local std::vector<QLineF> segments;
    segments.clear();
    for (qsizetype i = 0; i < outline.size(); ++i) {
        const QPointF& a = outline[i];
        const QPointF& b = outline[(i + 1) % outline.size()];
        if (a != b)
            segments.emplace_back(a, b);
    }
    painter.drawLines(segments.data(), static_cast<int>(segments.size()));
}

QtCanvas::QtCanvas(QPainter& painter) : painter_(painter), base_(painter.worldTransform())
{
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// Mask-pen lines combine with what lies below (pen AND destination); everything else paints over.
void QtCanvas::setMode(bool maskPen)
{
    if (maskPen == maskMode_)
        return;
    maskMode_ = maskPen;
    painter_.setCompositionMode(maskPen ? QPainter::RasterOp_SourceAndDestination
                                        : QPainter::CompositionMode_SourceOver);
}

void QtCanvas::fillRect(const DRect& r, std::uint32_t color)
{
    setMode(false);
    painter_.fillRect(QRectF(QPointF(r.left, r.top), QPointF(r.right, r.bottom)), qColor(color));
}

void QtCanvas::polyline(const std::vector<DPoint>& points, const DPen& pen)
{
    setMode(pen.maskPen);
    painter_.setBrush(Qt::NoBrush);
    strokeInPieces(painter_, qPolygon(points), pen);
}

void QtCanvas::polygon(const std::vector<DPoint>& points, const DPen& pen, std::uint32_t brush)
{
    setMode(pen.maskPen);
    painter_.setBrush(qColor(brush));
    const QPolygonF poly = qPolygon(points);
    // Smoothed lines (image files) keep the closed path: overlapping segments would blend
    // their edges twice at every corner.
    if (pen.width <= 1.0 || pen.dotted || poly.size() < 3 ||
        painter_.testRenderHint(QPainter::Antialiasing)) {
        painter_.setPen(qPen(pen, painter_.device()));
        painter_.drawPolygon(poly);
        return;
    }
    painter_.setPen(Qt::NoPen);
    painter_.drawPolygon(poly);
    strokeOutline(painter_, poly, qPen(pen, painter_.device()));
}

void QtCanvas::text(const std::string& utf8, const DRect& rect, const DFont& font, std::uint32_t color,
                    unsigned flags)
{
    if (!(font.height > 0.5))
        return;
    int align = (flags & alignCenter) ? Qt::AlignHCenter : (flags & alignRight) ? Qt::AlignRight : Qt::AlignLeft;
    const bool wrap = (flags & wordBreak) && !(flags & singleLine);
    // Bottom alignment holds for single lines; wrapped text starts at the top.
    align |= ((flags & alignBottom) && !wrap) ? Qt::AlignBottom : Qt::AlignTop;
    align |= wrap ? Qt::TextWordWrap : Qt::TextSingleLine;
    if (flags & noClip)
        align |= Qt::TextDontClip;

    // Narrow fonts: the painter squeezes horizontally; the rectangle is widened to match.
    const double sx = fontStretch(font);
    setMode(false);
    painter_.setFont(fontFor(font));
    painter_.setPen(qColor(color));
    painter_.setWorldTransform(QTransform::fromScale(sx, 1.0) * base_);
    const QRectF r(QPointF(rect.left / sx, rect.top), QPointF(rect.right / sx, rect.bottom));
    painter_.drawText(r, align, QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    painter_.setWorldTransform(base_);
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
    setMode(false);
    painter_.drawImage(QRectF(QPointF(target.left, target.top), QPointF(target.right, target.bottom)), img);
}

void replayOnPainter(QPainter& painter, const Picture& picture, const QRectF& target, bool smoothLines)
{
    painter.save();
    setHints(painter, smoothLines);
    QtCanvas canvas(painter);
    replay(picture, canvas, {target.left(), target.top(), target.right(), target.bottom()});
    painter.restore();
}

void replayViewOnPainter(QPainter& painter, int kind, const QRect& area, bool smoothLines)
{
    painter.save();
    setHints(painter, smoothLines);
    QtCanvas canvas(painter);
    replayView(canvas, kind, area.left(), area.top(), area.left() + area.width(), area.top() + area.height());
    painter.restore();
}

bool viewPdf(int kind, int width, int height, const QString& creator, QByteArray& out)
{
    out.clear();
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    // The document is complete once the writer is gone.
    QPdfWriter pdf(&buffer);
    pdf.setResolution(72);
    pdf.setPageLayout(QPageLayout(QPageSize(QSizeF(width, height), QPageSize::Point),
                                  QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
    pdf.setCreator(creator);
    QPainter painter;
    if (!painter.begin(&pdf))
        return false;
    replayViewOnPainter(painter, kind, QRect(0, 0, width, height), true);
    return painter.end();
}

} // namespace plot
