// A Canvas on a QPainter: screen, zoom window, printer, PNG and PDF all replay through it.
#pragma once

#include "plot/Picture.h"

#include <QRectF>

class QPainter;

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
    QPainter& painter_;
};

// Replays a picture into a rectangle of the painter's device.
void replayOnPainter(QPainter& painter, const Picture& picture, const QRectF& target);
// Replays a view (0..8, or 11 as three panels) the way the main window paints it.
void replayViewOnPainter(QPainter& painter, int kind, const QRect& area);

} // namespace plot
