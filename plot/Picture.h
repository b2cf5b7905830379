// Picture: the retained recording of one view. Operations are kept in the logical units in
// which they were drawn (the 12000 x 12000 square with y growing upward, or plain pixels for
// the start image) and are replayed, scaled to any target rectangle, onto a Canvas.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plot {

struct Point {
    int x = 0;
    int y = 0;
};

struct Pen {
    std::uint32_t color = 0;    // 0x00BBGGRR
    int width = 1;              // logical units
    bool dotted = false;
    bool maskPen = false;       // raster operation: destination = pen colour AND destination
};

// Text placement flags.
enum TextFlags : unsigned {
    alignLeft = 0,
    alignCenter = 1u << 0,
    alignRight = 1u << 1,
    alignTop = 0,
    alignBottom = 1u << 2,
    singleLine = 1u << 3,
    wordBreak = 1u << 4,
    noClip = 1u << 5,
};

struct Font {
    int height = 400;           // logical units
    int width = 110;            // average character width, logical units
    int weight = 400;           // 100 thin .. 700 bold
};

// A palette image: 4-bit colour indices, one byte per pixel, top row first.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> palette;       // 0x00BBGGRR
    std::vector<unsigned char> pixels;        // width * height indices into palette
};

enum class OpKind { fillRect, polyline, polygon, text, origin, image };

struct Op {
    OpKind kind = OpKind::fillRect;
    Pen pen;                                  // polyline, polygon
    std::uint32_t brush = 0;                  // fillRect, polygon
    std::vector<Point> points;                // polyline, polygon; fillRect and text: 2 corners
    std::string text;                         // UTF-8, after "&&" prefix processing
    Font font;
    unsigned flags = 0;
    std::uint32_t textColor = 0;
    Point origin;                             // origin: the new window origin
    std::shared_ptr<const Bitmap> bitmap;     // image: drawn with its top-left at points[0]
};

// The recording. Coordinates given to the drawing calls are in the current logical system:
// after origin(ox, oy) a point (x, y) lands on the absolute logical point (x - ox, y - oy).
class Picture {
public:
    // A diagram picture: 12000 x 12000 logical units, y up.
    Picture();
    // A pixel picture (the start image): width x height, y down.
    static Picture pixels(int width, int height);

    // Filled rectangle without outline between two opposite corners.
    void fillRect(int x0, int y0, int x1, int y1, std::uint32_t color);
    void line(const Pen& pen, Point a, Point b);
    void polyline(const Pen& pen, std::vector<Point> points);
    void polygon(const Pen& pen, std::uint32_t brush, std::vector<Point> points);
    // Text inside the rectangle (left, top, right, bottom) in logical units; with a y-up
    // system top lies above bottom. "&&" becomes "&", a single "&" is dropped.
    void text(const std::string& utf8, int left, int top, int right, int bottom, const Font& font,
              std::uint32_t color, unsigned flags);
    void origin(int x, int y);
    void image(int x, int y, std::shared_ptr<const Bitmap> bitmap);

    const std::vector<Op>& ops() const { return ops_; }
    int extentX() const { return extentX_; }
    int extentY() const { return extentY_; }
    bool yUp() const { return yUp_; }
    bool empty() const { return ops_.empty(); }

    // One line per operation, for golden comparisons.
    std::string dump() const;

private:
    std::vector<Op> ops_;
    int extentX_ = 12000;
    int extentY_ = 12000;
    bool yUp_ = true;
};

// The drawing prefix rule: "&&" shows one "&", a lone "&" only marks a mnemonic.
std::string processPrefix(const std::string& text);

// Device-side types: coordinates in target pixels (y down), sizes already scaled.
struct DPoint {
    double x = 0;
    double y = 0;
};
struct DRect {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
};
struct DPen {
    std::uint32_t color = 0;
    double width = 1;       // at least one pixel
    bool dotted = false;
    bool maskPen = false;
};
struct DFont {
    double height = 10;     // character cell height in pixels
    double width = 5;       // average character width in pixels
    int weight = 400;
};

// A drawing surface the replay writes to. Text is always upright.
class Canvas {
public:
    virtual ~Canvas() = default;
    virtual void fillRect(const DRect& r, std::uint32_t color) = 0;
    virtual void polyline(const std::vector<DPoint>& points, const DPen& pen) = 0;
    virtual void polygon(const std::vector<DPoint>& points, const DPen& pen,
                         std::uint32_t brush) = 0;
    // rect in pixels (top < bottom); flags as TextFlags.
    virtual void text(const std::string& utf8, const DRect& rect, const DFont& font,
                      std::uint32_t color, unsigned flags) = 0;
    virtual void image(const DRect& target, const Bitmap& bitmap) = 0;
};

// Replays a picture scaled so that its logical extent fills `target` (pixels, y down).
void replay(const Picture& picture, Canvas& canvas, const DRect& target);

// The horizontal stretch that gives a font its average character width: ordinary sans-serif
// faces are about half as wide as they are tall.
double fontStretch(const DFont& font);

} // namespace plot
