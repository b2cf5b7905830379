#include "plot/SvgCanvas.h"

#include "core/Strings.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace plot {

namespace {

std::string num(double v)
{
    // A decimal point whatever the desktop's locale: the app writes pictures too.
    std::string s = core::formatC("%.2f", v);
    // Shorter output: drop trailing zeros of the fraction.
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string rgbText(std::uint32_t c)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", static_cast<unsigned>(c & 0xFF),
                  static_cast<unsigned>((c >> 8) & 0xFF), static_cast<unsigned>((c >> 16) & 0xFF));
    return buf;
}

std::string escapeXml(const std::string& s)
{
    std::string out;
    for (char ch : s) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Control characters are not allowed in XML text.
            if (static_cast<unsigned char>(ch) >= 0x20 || ch == '\t')
                out += ch;
        }
    }
    return out;
}

std::string penAttributes(const DPen& pen)
{
    std::string s = " stroke=\"" + rgbText(pen.color) + "\" stroke-width=\"" + num(pen.width) +
                    "\" stroke-linejoin=\"round\"";
    if (pen.dotted)
        s += " stroke-dasharray=\"" + num(pen.width) + "," + num(2 * pen.width) + "\"";
    if (pen.maskPen)
        s += " style=\"mix-blend-mode:multiply\"";
    return s;
}

std::string pointList(const std::vector<DPoint>& pts)
{
    std::string s;
    for (const DPoint& p : pts) {
        if (!s.empty())
            s += ' ';
        s += num(p.x) + "," + num(p.y);
    }
    return s;
}

std::uint32_t crc32(const std::string& data, std::size_t from)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = from; i < data.size(); ++i)
        c = table[(c ^ static_cast<unsigned char>(data[i])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void put32(std::string& s, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        s += static_cast<char>((v >> shift) & 0xFF);
}

void chunk(std::string& png, const char* type, const std::string& data)
{
    put32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png += type;
    png += data;
    put32(png, crc32(png, start));
}

} // namespace

std::string encodePalettePng(const Bitmap& bm)
{
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    put32(ihdr, static_cast<std::uint32_t>(bm.width));
    put32(ihdr, static_cast<std::uint32_t>(bm.height));
    ihdr += std::string("\x08\x03\x00\x00\x00", 5); // 8-bit palette indices
    chunk(png, "IHDR", ihdr);
    std::string plte;
    for (std::uint32_t c : bm.palette) {
        plte += static_cast<char>(c & 0xFF);
        plte += static_cast<char>((c >> 8) & 0xFF);
        plte += static_cast<char>((c >> 16) & 0xFF);
    }
    chunk(png, "PLTE", plte);
    // Raw scanlines (filter byte 0), wrapped in stored deflate blocks of a zlib stream.
    std::string raw;
    for (int y = 0; y < bm.height; ++y) {
        raw += '\0';
        raw.append(reinterpret_cast<const char*>(bm.pixels.data()) + static_cast<std::size_t>(y * bm.width),
                   static_cast<std::size_t>(bm.width));
    }
    std::string z = "\x78\x01";
    std::uint32_t a = 1, b = 0;
    for (unsigned char ch : raw) {
        a = (a + ch) % 65521;
        b = (b + a) % 65521;
    }
    for (std::size_t off = 0; off < raw.size() || off == 0; off += 65535) {
        const std::size_t len = std::min<std::size_t>(65535, raw.size() - off);
        const bool last = off + len >= raw.size();
        z += static_cast<char>(last ? 1 : 0);
        z += static_cast<char>(len & 0xFF);
        z += static_cast<char>((len >> 8) & 0xFF);
        z += static_cast<char>(~len & 0xFF);
        z += static_cast<char>((~len >> 8) & 0xFF);
        z.append(raw, off, len);
        if (last)
            break;
    }
    put32(z, (b << 16) | a);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    return png;
}

std::string base64(const std::string& bytes)
{
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        out += digits[(v >> 18) & 63];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += digits[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += digits[(v >> 18) & 63];
        out += digits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::vector<std::string> wrapText(const std::string& utf8, double maxWidth, double charWidth)
{
    std::vector<std::string> lines;
    const auto chars = [](const std::string& s) {
        return static_cast<double>(std::count_if(s.begin(), s.end(), [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        }));
    };
    std::string line, word;
    auto flushWord = [&] {
        if (word.empty())
            return;
        const std::string candidate = line.empty() ? word : line + " " + word;
        if (!line.empty() && chars(candidate) * charWidth > maxWidth) {
            lines.push_back(line);
            line = word;
        } else {
            line = candidate;
        }
        word.clear();
    };
    for (char c : utf8) {
        if (c == ' ') {
            flushWord();
        } else if (c == '\n') {
            flushWord();
            lines.push_back(line);
            line.clear();
        } else {
            word += c;
        }
    }
    flushWord();
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

SvgCanvas::SvgCanvas(int width, int height) : width_(width), height_(height) {}

void SvgCanvas::fillRect(const DRect& r, std::uint32_t color)
{
    body_ += "<rect x=\"" + num(r.left) + "\" y=\"" + num(r.top) + "\" width=\"" + num(r.right - r.left) +
             "\" height=\"" + num(r.bottom - r.top) + "\" fill=\"" + rgbText(color) + "\"/>\n";
}

void SvgCanvas::polyline(const std::vector<DPoint>& points, const DPen& pen)
{
    body_ += "<polyline fill=\"none\"" + penAttributes(pen) + " points=\"" + pointList(points) + "\"/>\n";
}

void SvgCanvas::polygon(const std::vector<DPoint>& points, const DPen& pen, std::uint32_t brush)
{
    body_ += "<polygon fill=\"" + rgbText(brush) + "\"" + penAttributes(pen) + " points=\"" +
             pointList(points) + "\"/>\n";
}

void SvgCanvas::text(const std::string& utf8, const DRect& rect, const DFont& font, std::uint32_t color,
                     unsigned flags)
{
    // The font height is the character cell; a sans-serif em is about 0.86 of it, with the
    // baseline 0.2 of the cell above the cell's bottom.
    const double em = font.height * 0.86;
    const double sx = fontStretch(font);
    std::vector<std::string> lines;
    if ((flags & wordBreak) && !(flags & singleLine))
        lines = wrapText(utf8, rect.right - rect.left, font.width);
    else
        lines = {utf8};
    const char* anchor = (flags & alignCenter) ? "middle" : (flags & alignRight) ? "end" : "start";
    const double x = (flags & alignCenter) ? (rect.left + rect.right) / 2 : (flags & alignRight) ? rect.right : rect.left;
    // Bottom alignment applies to single lines only; wrapped text starts at the top.
    const bool bottom = (flags & alignBottom) && lines.size() <= 1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const double baseline = bottom ? rect.bottom - 0.2 * font.height
                                       : rect.top + 0.8 * font.height + static_cast<double>(i) * font.height;
        body_ += "<text transform=\"translate(" + num(x) + "," + num(baseline) + ") scale(" + num(sx) +
                 ",1)\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" font-size=\"" + num(em) +
                 "\" font-weight=\"" + std::to_string(std::clamp(font.weight, 100, 900) / 100 * 100) +
                 "\" text-anchor=\"" + anchor + "\" fill=\"" + rgbText(color) + "\" xml:space=\"preserve\">" +
                 escapeXml(lines[i]) + "</text>\n";
    }
}

void SvgCanvas::image(const DRect& target, const Bitmap& bitmap)
{
    if (bitmap.width <= 0 || bitmap.height <= 0 ||
        bitmap.pixels.size() < static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height))
        return;
    body_ += "<image x=\"" + num(target.left) + "\" y=\"" + num(target.top) + "\" width=\"" +
             num(target.right - target.left) + "\" height=\"" + num(target.bottom - target.top) +
             "\" preserveAspectRatio=\"none\" image-rendering=\"pixelated\" href=\"data:image/png;base64," +
             base64(encodePalettePng(bitmap)) + "\"/>\n";
}

std::string SvgCanvas::finish() const
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           std::to_string(width_) + "\" height=\"" + std::to_string(height_) + "\" viewBox=\"0 0 " +
           std::to_string(width_) + " " + std::to_string(height_) + "\">\n" + body_ + "</svg>\n";
}

} // namespace plot
