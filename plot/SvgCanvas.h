// A Canvas that writes an SVG document (plain text, no libraries), for files and tests.
#pragma once

#include "plot/Picture.h"

#include <string>

namespace plot {

class SvgCanvas : public Canvas {
public:
    SvgCanvas(int width, int height);

    void fillRect(const DRect& r, std::uint32_t color) override;
    void polyline(const std::vector<DPoint>& points, const DPen& pen) override;
    void polygon(const std::vector<DPoint>& points, const DPen& pen, std::uint32_t brush) override;
    void text(const std::string& utf8, const DRect& rect, const DFont& font, std::uint32_t color,
              unsigned flags) override;
    void image(const DRect& target, const Bitmap& bitmap) override;

    // The complete document.
    std::string finish() const;

private:
    int width_;
    int height_;
    std::string body_;
};

// A palette bitmap as a PNG file image (uncompressed deflate blocks), for embedding.
std::string encodePalettePng(const Bitmap& bitmap);
std::string base64(const std::string& bytes);

// Splits text into lines that fit `maxWidth` when each character is `charWidth` wide,
// breaking at blanks (and at explicit newlines); used where no font metrics exist.
std::vector<std::string> wrapText(const std::string& utf8, double maxWidth, double charWidth);

} // namespace plot
