// A Canvas on a QPainter: screen, zoom window, printer, PNG and PDF all replay through it.
#pragma once

#include "plot/Picture.h"

#include <QPainter>
#include <QPolygonF>
#include <QRectF>
#include <QTransform>

class QByteArray;
class QString;

namespace plot {

class QtCanvas : public Canvas {
public:
    explicit QtCanvas(QPainter& painter);

    void fillRect(const DRect& r, std::uint32_t color) override;
    void polyline(const std::vector<DPoint>& points, const DPen& pen) override;
    void polygon(const std::vector<DPoint>& points, const DPen& pen, std::uint32_t brush) override;
    void text(const std::string& utf8, const DRect& rect, const DFont& font, std::uint32_t color,
              unsigned flags) override;
    void image(const DRect& target, const Bitmap& bitmap) override;

private:
    void setMode(bool maskPen);

    QPainter& painter_;
    QTransform base_;                   // the painter's transform when the replay began
    bool maskMode_ = false;
};

// Strokes the outline of a face (closing edge included) with a wide pen as separate
// segments with square caps: nearly the same pixels as the closed path, without the joins
// that cost the stroker most of its time. The painter's brush is left empty.
void strokeOutline(QPainter& painter, const QPolygonF& outline, QPen pen);

// Replays a picture into a rectangle of the painter's device. Text is always smoothed; lines
// and areas only on request: smoothing wide lines costs several times the whole replay, too
// much for painting a window, and the pictures were always drawn with hard edges. Image
// files, made once, ask for smooth lines.
void replayOnPainter(QPainter& painter, const Picture& picture, const QRectF& target,
                     bool smoothLines = false);
// Replays a view (0..9, or 11 as three panels) the way the main window paints it.
void replayViewOnPainter(QPainter& painter, int kind, const QRect& area, bool smoothLines = false);
// A view as a one-page PDF of width x height points, lines smoothed; false when the document
// can't be drawn.
bool viewPdf(int kind, int width, int height, const QString& creator, QByteArray& out);

} // namespace plot
