#include "plot/Picture.h"
#include "plot/SvgCanvas.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace plot;

namespace {

// Records what the replay hands to a canvas, in device coordinates.
struct RecordingCanvas : Canvas {
    std::vector<DRect> rects;
    std::vector<std::vector<DPoint>> lines;
    std::vector<DPen> pens;
    struct Text {
        std::string s;
        DRect r;
        DFont f;
        unsigned flags;
    };
    std::vector<Text> texts;
    std::vector<DRect> images;
    void fillRect(const DRect& r, std::uint32_t) override { rects.push_back(r); }
    void polyline(const std::vector<DPoint>& p, const DPen& pen) override
    {
        lines.push_back(p);
        pens.push_back(pen);
    }
    void polygon(const std::vector<DPoint>& p, const DPen& pen, std::uint32_t) override
    {
        lines.push_back(p);
        pens.push_back(pen);
    }
    void text(const std::string& s, const DRect& r, const DFont& f, std::uint32_t, unsigned fl) override
    {
        texts.push_back({s, r, f, fl});
    }
    void image(const DRect& r, const Bitmap&) override { images.push_back(r); }
};

} // namespace

TEST(Picture, PrefixProcessing)
{
    EXPECT_EQ(processPrefix("Amplituden- && Impedanzfre."), "Amplituden- & Impedanzfre.");
    EXPECT_EQ(processPrefix("&Zeitsignal"), "Zeitsignal");
    EXPECT_EQ(processPrefix("a&&&&b&"), "a&&b");
    Picture p;
    p.text("&", 0, 1, 2, 0, Font{}, 0, 0); // nothing visible left: not recorded
    EXPECT_TRUE(p.empty());
}

TEST(Picture, ReplayScalesYUpWithOriginAndUprightText)
{
    Picture p;
    p.fillRect(0, 0, 12000, 12000, 1);
    p.origin(-1500, -1000);
    p.line(Pen{0, 20, false, false}, {0, 0}, {10000, 10000});
    p.text("M1", 20, 10000, 3000, 8750, Font{500, 150, 100}, 0, alignBottom | singleLine);
    RecordingCanvas c;
    replay(p, c, {100, 50, 100 + 1200, 50 + 600});
    ASSERT_EQ(c.rects.size(), 1u);
    EXPECT_DOUBLE_EQ(c.rects[0].left, 100);
    EXPECT_DOUBLE_EQ(c.rects[0].top, 50);
    EXPECT_DOUBLE_EQ(c.rects[0].bottom, 650);
    // Plot corner (0,0) is absolute (1500,1000): 10 % from the left, 1/12 above the bottom.
    ASSERT_EQ(c.lines.size(), 1u);
    EXPECT_DOUBLE_EQ(c.lines[0][0].x, 100 + 150);
    EXPECT_DOUBLE_EQ(c.lines[0][0].y, 50 + 600 - 50);
    EXPECT_DOUBLE_EQ(c.lines[0][1].x, 100 + 1150);
    EXPECT_DOUBLE_EQ(c.lines[0][1].y, 50 + 600 - 550);
    EXPECT_DOUBLE_EQ(c.pens[0].width, 2.0);
    // The text rectangle reaches the canvas with top above bottom, heights scaled by the
    // vertical factor and widths by the horizontal one.
    ASSERT_EQ(c.texts.size(), 1u);
    EXPECT_LT(c.texts[0].r.top, c.texts[0].r.bottom);
    EXPECT_DOUBLE_EQ(c.texts[0].r.top, 50 + 600 - 11000 * 0.05);
    EXPECT_DOUBLE_EQ(c.texts[0].f.height, 25);
    EXPECT_DOUBLE_EQ(c.texts[0].f.width, 15);
    // Thin pens stay visible.
    Picture q;
    q.line(Pen{0, 1, true, false}, {0, 0}, {1, 1});
    RecordingCanvas c2;
    replay(q, c2, {0, 0, 120, 120});
    EXPECT_DOUBLE_EQ(c2.pens[0].width, 1.0);
    EXPECT_TRUE(c2.pens[0].dotted);
}

TEST(Picture, PixelPictureFillsTarget)
{
    auto bm = std::make_shared<Bitmap>();
    bm->width = 4;
    bm->height = 2;
    bm->palette = {0, 0xFFFFFF};
    bm->pixels = {0, 1, 0, 1, 1, 0, 1, 0};
    Picture p = Picture::pixels(4, 2);
    p.image(0, 0, bm);
    RecordingCanvas c;
    replay(p, c, {0, 0, 400, 100});
    ASSERT_EQ(c.images.size(), 1u);
    EXPECT_DOUBLE_EQ(c.images[0].right, 400);
    EXPECT_DOUBLE_EQ(c.images[0].bottom, 100);
    EXPECT_EQ(p.dump(), "picture 4x2 ydown\nimage 0,0 4x2\n");

    SvgCanvas svg(400, 100);
    replay(p, svg, {0, 0, 400, 100});
    const std::string doc = svg.finish();
    EXPECT_NE(doc.find("data:image/png;base64,iVBORw0KGgo"), std::string::npos);
    // A bitmap claiming more pixels than it has is not read past its end.
    auto bad = std::make_shared<Bitmap>(*bm);
    bad->pixels.resize(3);
    SvgCanvas svg2(10, 10);
    svg2.image({0, 0, 10, 10}, *bad);
    EXPECT_EQ(svg2.finish().find("<image"), std::string::npos);
}

TEST(Picture, PngEncoderChecksums)
{
    EXPECT_EQ(base64("Man"), "TWFu");
    EXPECT_EQ(base64("Ma"), "TWE=");
    EXPECT_EQ(base64("M"), "TQ==");
    Bitmap bm;
    bm.width = 1;
    bm.height = 1;
    bm.palette = {0x0000FF};
    bm.pixels = {0};
    const std::string png = encodePalettePng(bm);
    // IEND chunk with its fixed CRC closes the file.
    EXPECT_EQ(png.substr(png.size() - 12), std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12));
    // IHDR of a 1 x 1 palette image has the well-known CRC 0x5B A9 04 0D... checked by size:
    EXPECT_EQ(png.substr(8, 8), std::string("\0\0\0\x0dIHDR", 8));
}

TEST(Picture, SvgTextIsEscapedAndAligned)
{
    SvgCanvas svg(100, 100);
    svg.text("a<b & \"c\"", {10, 10, 90, 30}, DFont{20, 10, 400}, 0xFF, alignRight | alignBottom | singleLine);
    const std::string doc = svg.finish();
    EXPECT_NE(doc.find("a&lt;b &amp; &quot;c&quot;"), std::string::npos);
    EXPECT_NE(doc.find("text-anchor=\"end\""), std::string::npos);
    EXPECT_NE(doc.find("translate(90,26)"), std::string::npos);
    EXPECT_NE(doc.find("fill=\"#ff0000\""), std::string::npos);
}

TEST(Picture, SvgNumbersUseADecimalPointUnderAGermanLocale)
{
    // The app runs under the desktop's locale; an SVG with "12,5" would be broken.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    SvgCanvas svg(100, 100);
    svg.text("x", {10.5, 10.25, 90, 30}, DFont{20, 10, 400}, 0xFF, alignLeft | alignTop | singleLine);
    const std::string doc = svg.finish();
    std::setlocale(LC_ALL, "C");
    EXPECT_NE(doc.find("10.5"), std::string::npos);
    EXPECT_EQ(doc.find("10,5"), std::string::npos);
}

TEST(Picture, WrapText)
{
    EXPECT_EQ(wrapText("eins zwei drei", 9 * 1.0, 1.0), (std::vector<std::string>{"eins zwei", "drei"}));
    EXPECT_EQ(wrapText("ueberlangeswort x", 3, 1.0), (std::vector<std::string>{"ueberlangeswort", "x"}));
    EXPECT_TRUE(wrapText("", 10, 1).empty());
}
