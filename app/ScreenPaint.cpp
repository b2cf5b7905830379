#include "app/ScreenPaint.h"

#include "core/Display.h"
#include "plot/Render.h"
#include "plot/qt/QtCanvas.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace app {

namespace {

// The painter's stroker handles a wide polyline as one path, and its cost grows far faster
// than the number of points: a 2048-point phase curve with its wraps took seconds at
// full-screen size. Short runs of points draw the same line in a few milliseconds.
class ScreenCanvas : public plot::QtCanvas
{
public:
    ScreenCanvas(QPainter& painter) : plot::QtCanvas(painter), painter_(painter) {}

    void polyline(const std::vector<plot::DPoint>& points, const plot::DPen& pen) override
    {
        constexpr std::size_t kRun = 16;
        begin(pen);
        painter_.setBrush(Qt::NoBrush);
        // Points closer than half a pixel to the last one drawn add nothing visible; many
        // bins of a curve fall on the same pixel at the top of a logarithmic axis.
        line_.clear();
        for (std::size_t i = 0; i < points.size(); ++i) {
            const QPointF q(points[i].x, points[i].y);
            if (!line_.empty() && i + 1 < points.size() &&
                std::abs(q.x() - line_.back().x()) < 0.5 &&
                std::abs(q.y() - line_.back().y()) < 0.5)
                continue;
            line_.push_back(q);
        }
        // Dotted lines keep their pattern only when drawn whole.
        const std::size_t run = pen.dotted ? line_.size() : kRun;
        for (std::size_t start = 0; start + 1 < line_.size(); start += run) {
            const std::size_t count = std::min(line_.size() - start, run + 1);
            painter_.drawPolyline(line_.data() + start, static_cast<int>(count));
        }
        painter_.restore();
    }

    // A face with a wide outline is filled without a pen and outlined in separate segments
    // (see plot::strokeOutline): the waterfall's ribbons spent three quarters of its paint in
    // the stroker's joins.
    void polygon(const std::vector<plot::DPoint>& points, const plot::DPen& pen,
                 std::uint32_t brush) override
    {
        begin(pen);
        painter_.setBrush(color(brush));
        poly_.resize(static_cast<qsizetype>(points.size()));
        for (std::size_t i = 0; i < points.size(); ++i)
            poly_[static_cast<qsizetype>(i)] = QPointF(points[i].x, points[i].y);
        if (pen.width <= 1.0 || pen.dotted || poly_.size() < 3) {
            painter_.drawPolygon(poly_);
        } else {
            const QPen outline = painter_.pen();
            painter_.setPen(Qt::NoPen);
            painter_.drawPolygon(poly_);
            plot::strokeOutline(painter_, poly_, outline);
        }
        painter_.restore();
    }

private:
    static QColor color(std::uint32_t c)
    {
        return QColor(core::colorRed(c), core::colorGreen(c), core::colorBlue(c));
    }

    void begin(const plot::DPen& pen)
    {
        painter_.save();
        painter_.setCompositionMode(pen.maskPen ? QPainter::RasterOp_SourceAndDestination
                                                : QPainter::CompositionMode_SourceOver);
        QPen p(color(pen.color));
        // A one-pixel pen is drawn as a hairline: the same pixels without the stroker.
        p.setWidthF(pen.width <= 1.0 ? 0.0 : pen.width);
        p.setStyle(pen.dotted ? Qt::DotLine : Qt::SolidLine);
        p.setCapStyle(Qt::FlatCap);
        p.setJoinStyle(Qt::RoundJoin);
        painter_.setPen(p);
    }

    QPainter& painter_;
    std::vector<QPointF> line_;
    QPolygonF poly_;
};

void replayDirect(QPainter& p, const plot::Picture& picture, const QRect& target)
{
    p.save();
    // Lines and faces are drawn without smoothing, as the system always drew them: smoothing
    // a phase curve that wraps hundreds of times costs some 200 ms at full-screen size.
    // Text stays smooth.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    ScreenCanvas canvas(p);
    const QRectF t(target);
    plot::replay(picture, canvas, {t.left(), t.top(), t.right(), t.bottom()});
    p.restore();
}

// Raster devices, painted through a transform that only moves: there a cached image gives
// the same pixels as the replay.
bool cacheable(const QPainter& p, const QRect& target)
{
    const QPaintDevice* device = p.device();
    if (device == nullptr)
        return false;
    const int type = device->devType();
    if (type != QInternal::Widget && type != QInternal::Image && type != QInternal::Pixmap)
        return false;
    if (p.worldTransform().type() > QTransform::TxTranslate)
        return false;
    // A zoom window replays far larger than the screen; such images are not worth keeping.
    constexpr qint64 kMaxPixels = 2560LL * 1600LL;
    return static_cast<qint64>(target.width()) * target.height() <= kMaxPixels;
}

class ImageCache
{
public:
    explicit ImageCache(std::size_t capacity) : capacity_(capacity) {}

    void paint(QPainter& p, int kind, const QRect& target)
    {
        const std::shared_ptr<const plot::Picture> picture = plot::picture(kind);
        if (picture->empty())
            return;
        if (capacity_ == 0 || !cacheable(p, target)) {
            replayDirect(p, *picture, target);
            return;
        }
        const double dpr = p.device()->devicePixelRatioF();
        auto hit = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
            return e.kind == kind && e.size == target.size() && e.dpr == dpr;
        });
        if (hit == entries_.end() || hit->picture != picture) {
            if (hit == entries_.end()) {
                // The least recently painted go first: beyond the number of images, and
                // beyond the memory the images may take together (a full-screen view and the
                // three panels of the combined view fit).
                const qint64 needed = imageBytes(target.size(), dpr);
                while (!entries_.empty() &&
                       (entries_.size() >= capacity_ || cachedBytes() + needed > kMaxBytes))
                    entries_.erase(entries_.begin());
                entries_.push_back({kind, target.size(), dpr, nullptr, QImage()});
                hit = entries_.end() - 1;
            }
            hit->picture = picture;
            hit->image = render(*picture, target.size(), dpr);
        }
        // Most recently painted last.
        if (hit != entries_.end() - 1) {
            Entry e = std::move(*hit);
            entries_.erase(hit);
            entries_.push_back(std::move(e));
            hit = entries_.end() - 1;
        }
        p.drawImage(target.topLeft(), hit->image);
    }

    qint64 cachedBytes() const
    {
        qint64 sum = 0;
        for (const Entry& e : entries_)
            sum += e.image.sizeInBytes();
        return sum;
    }

private:
    static constexpr qint64 kMaxBytes = 20LL * 1024 * 1024;

    static qint64 imageBytes(const QSize& size, double dpr)
    {
        return static_cast<qint64>(std::ceil(size.width() * dpr)) *
               static_cast<qint64>(std::ceil(size.height() * dpr)) * 4;
    }

    struct Entry {
        int kind;
        QSize size;
        double dpr;
        // Held so that a re-rendered picture can never come back at the same address.
        std::shared_ptr<const plot::Picture> picture;
        QImage image;
    };

    // Transparent where the picture paints nothing, so that the window's own background
    // shows through as it does under a direct replay.
    static QImage render(const plot::Picture& picture, const QSize& size, double dpr)
    {
        QImage image(QSize(static_cast<int>(std::ceil(size.width() * dpr)),
                           static_cast<int>(std::ceil(size.height() * dpr))),
                     QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(dpr);
        image.fill(Qt::transparent);
        QPainter ip(&image);
        replayDirect(ip, picture, QRect(QPoint(0, 0), size));
        return image;
    }

    std::size_t capacity_;
    std::vector<Entry> entries_;
};

} // namespace

PictureReplayer makeScreenReplayer(std::size_t cachedImages)
{
    auto cache = std::make_shared<ImageCache>(cachedImages);
    return [cache](QPainter& p, int kind, const QRect& target) { cache->paint(p, kind, target); };
}

} // namespace app
