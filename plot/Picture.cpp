#include "plot/Picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace plot {

Picture::Picture() = default;

Picture Picture::pixels(int width, int height)
{
    Picture p;
    p.extentX_ = std::max(1, width);
    p.extentY_ = std::max(1, height);
    p.yUp_ = false;
    return p;
}

void Picture::fillRect(int x0, int y0, int x1, int y1, std::uint32_t color)
{
    Op op;
    op.kind = OpKind::fillRect;
    op.brush = color;
    op.points = {{x0, y0}, {x1, y1}};
    ops_.push_back(std::move(op));
}

void Picture::line(const Pen& pen, Point a, Point b) { polyline(pen, {a, b}); }

void Picture::polyline(const Pen& pen, std::vector<Point> points)
{
    if (points.size() < 2)
        return;
    Op op;
    op.kind = OpKind::polyline;
    op.pen = pen;
    op.points = std::move(points);
    ops_.push_back(std::move(op));
}

void Picture::polygon(const Pen& pen, std::uint32_t brush, std::vector<Point> points)
{
    if (points.empty())
        return;
    Op op;
    op.kind = OpKind::polygon;
    op.pen = pen;
    op.brush = brush;
    op.points = std::move(points);
    ops_.push_back(std::move(op));
}

void Picture::text(const std::string& utf8, int left, int top, int right, int bottom,
                   const Font& font, std::uint32_t color, unsigned flags)
{
    std::string shown = processPrefix(utf8);
    if (shown.empty())
        return;
    Op op;
    op.kind = OpKind::text;
    op.text = std::move(shown);
    op.points = {{left, top}, {right, bottom}};
    op.font = font;
    op.textColor = color;
    op.flags = flags;
    ops_.push_back(std::move(op));
}

void Picture::origin(int x, int y)
{
    Op op;
    op.kind = OpKind::origin;
    op.origin = {x, y};
    ops_.push_back(std::move(op));
}

void Picture::image(int x, int y, std::shared_ptr<const Bitmap> bitmap)
{
    if (!bitmap)
        return;
    Op op;
    op.kind = OpKind::image;
    op.points = {{x, y}};
    op.bitmap = std::move(bitmap);
    ops_.push_back(std::move(op));
}

std::string processPrefix(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}

namespace {

std::string colorText(std::uint32_t c)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", static_cast<unsigned>(c & 0xFF),
                  static_cast<unsigned>((c >> 8) & 0xFF), static_cast<unsigned>((c >> 16) & 0xFF));
    return buf;
}

std::string penText(const Pen& pen)
{
    std::string s = colorText(pen.color) + " w" + std::to_string(pen.width) +
                    (pen.dotted ? " dotted" : " solid");
    if (pen.maskPen)
        s += " maskpen";
    return s;
}

std::string pointsText(const std::vector<Point>& pts)
{
    std::string s;
    for (const Point& p : pts) {
        s += ' ';
        s += std::to_string(p.x);
        s += ',';
        s += std::to_string(p.y);
    }
    return s;
}

std::string flagsText(unsigned f)
{
    std::string s = (f & alignCenter) ? "center" : (f & alignRight) ? "right" : "left";
    s += (f & alignBottom) ? " bottom" : " top";
    if (f & singleLine)
        s += " single";
    if (f & wordBreak)
        s += " wrap";
    if (f & noClip)
        s += " noclip";
    return s;
}

} // namespace

std::string Picture::dump() const
{
    std::string out = "picture " + std::to_string(extentX_) + "x" + std::to_string(extentY_) +
                      (yUp_ ? " yup\n" : " ydown\n");
    for (const Op& op : ops_) {
        switch (op.kind) {
        case OpKind::fillRect:
            out += "fill " + colorText(op.brush) + pointsText(op.points);
            break;
        case OpKind::polyline:
            out += "polyline " + penText(op.pen) + pointsText(op.points);
            break;
        case OpKind::polygon:
            out += "polygon " + penText(op.pen) + " brush " + colorText(op.brush) +
                   pointsText(op.points);
            break;
        case OpKind::text:
            out += "text " + colorText(op.textColor) + " font " + std::to_string(op.font.height) +
                   "x" + std::to_string(op.font.width) + "w" + std::to_string(op.font.weight) +
                   " rect" + pointsText(op.points) + " " + flagsText(op.flags) + " \"" + op.text +
                   "\"";
            break;
        case OpKind::origin:
            out += "origin " + std::to_string(op.origin.x) + "," + std::to_string(op.origin.y);
            break;
        case OpKind::image:
            out += "image" + pointsText(op.points) + " " + std::to_string(op.bitmap->width) + "x" +
                   std::to_string(op.bitmap->height);
            break;
        }
        out += '\n';
    }
    return out;
}

double fontStretch(const DFont& font)
{
    if (!(font.height > 0) || !(font.width > 0))
        return 1.0;
    return std::clamp(font.width / (0.5 * font.height), 0.3, 3.0);
}

void replay(const Picture& picture, Canvas& canvas, const DRect& target)
{
    const double sx = (target.right - target.left) / picture.extentX();
    const double sy = (target.bottom - target.top) / picture.extentY();
    const double ey = picture.extentY();
    const bool yUp = picture.yUp();
    Point org;
    auto map = [&](Point p) {
        const double ax = static_cast<double>(p.x) - org.x;
        const double ay = static_cast<double>(p.y) - org.y;
        return DPoint{target.left + ax * sx, target.top + (yUp ? (ey - ay) : ay) * sy};
    };
    auto mapPen = [&](const Pen& pen) {
        DPen d;
        d.color = pen.color;
        d.width = std::max(1.0, pen.width * std::fabs(sx));
        d.dotted = pen.dotted;
        d.maskPen = pen.maskPen;
        return d;
    };
    std::vector<DPoint> pts;
    for (const Op& op : picture.ops()) {
        switch (op.kind) {
        case OpKind::origin:
            org = op.origin;
            break;
        case OpKind::fillRect: {
            const DPoint a = map(op.points[0]);
            const DPoint b = map(op.points[1]);
            canvas.fillRect({std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x),
                             std::max(a.y, b.y)},
                            op.brush);
            break;
        }
        case OpKind::polyline:
        case OpKind::polygon:
            pts.clear();
            for (const Point& p : op.points)
                pts.push_back(map(p));
            if (op.kind == OpKind::polyline)
                canvas.polyline(pts, mapPen(op.pen));
            else
                canvas.polygon(pts, mapPen(op.pen), op.brush);
            break;
        case OpKind::text: {
            // Positions are mapped here and the text is handed over upright: a mirrored y
            // axis must never reach the glyphs.
            const DPoint a = map(op.points[0]);
            const DPoint b = map(op.points[1]);
            const DRect r{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x),
                          std::max(a.y, b.y)};
            DFont f;
            f.height = op.font.height * std::fabs(sy);
            f.width = op.font.width * std::fabs(sx);
            f.weight = op.font.weight;
            canvas.text(op.text, r, f, op.textColor, op.flags);
            break;
        }
        case OpKind::image: {
            const Bitmap& bm = *op.bitmap;
            const DPoint a = map(op.points[0]);
            const DPoint b = map({op.points[0].x + bm.width, op.points[0].y + (yUp ? -bm.height : bm.height)});
            canvas.image({std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x),
                          std::max(a.y, b.y)},
                         bm);
            break;
        }
        }
    }
}

} // namespace plot
