// A JPEG that is only scaled and cut goes to a 4:2:0 encoder from its
// decoder's own Y'CbCr planes, never through RGB: what comes out must be
// the RGB rendering of the same picture in BT.601 video levels.
#include <cmath>
#include <fstream>
#include <vips/vips8>

#include "TestSupport.h"
#include "platform/picture/JpegRows.h"
#include "platform/picture/Picture.h"

using namespace mvtest;

namespace {

// The RGB rendering in BT.601 video levels, chroma averaged over each
// pair of rows and columns (the encoder's own conversion filters them
// somewhat differently).
mv::Yuv420Bitmap videoLevels(const mv::RgbaBitmap& rgb)
{
    mv::Yuv420Bitmap out;
    out.resize(rgb.width, rgb.height);
    auto at = [&](int x, int y, int c) { return double(rgb.pixels[(std::size_t(y) * rgb.width + x) * 4 + c]); };
    for (int y = 0; y < rgb.height; ++y)
        for (int x = 0; x < rgb.width; ++x) {
            const double luma = 0.299 * at(x, y, 0) + 0.587 * at(x, y, 1) + 0.114 * at(x, y, 2);
            out.plane(0)[y * out.stride(0) + x] = static_cast<std::uint8_t>(std::lround(16 + luma * 219 / 255));
        }
    for (int y = 0; y < rgb.height / 2; ++y)
        for (int x = 0; x < rgb.width / 2; ++x) {
            double cb = 0, cr = 0;
            for (int d = 0; d < 4; ++d) {
                const int px = 2 * x + d % 2, py = 2 * y + d / 2;
                const double r = at(px, py, 0), g = at(px, py, 1), b = at(px, py, 2);
                cb += -0.168736 * r - 0.331264 * g + 0.5 * b;
                cr += 0.5 * r - 0.418688 * g - 0.081312 * b;
            }
            out.plane(1)[y * out.stride(1) + x] = static_cast<std::uint8_t>(std::lround(128 + cb / 4 * 224 / 255));
            out.plane(2)[y * out.stride(2) + x] = static_cast<std::uint8_t>(std::lround(128 + cr / 4 * 224 / 255));
        }
    return out;
}

std::vector<std::uint8_t> plane(const mv::Yuv420Bitmap& b, int p)
{
    const std::uint8_t* first = b.plane(p);
    return {first, first + std::size_t(b.stride(p)) * (p == 0 ? b.height : b.height / 2)};
}

} // namespace

TEST(Planes, ScaledJpegsMatchTheirRgbRenderingInVideoLevels)
{
    TempDir dir;
    // Sharp coloured edges over smooth waves: chroma one pixel off, or in
    // the wrong matrix or range, shows at once.
    const Pattern pattern = [](int x, int y) {
        const Rgb wave = wavePattern(x, y);
        return (x / 13 + y / 11) % 3 == 0 ? Rgb{170, 100, wave.b} : wave;
    };
    const std::string png = dir / "source.png";
    writeImage(png, 1200, 800, pattern); // odd sides: the last chroma samples stand alone
    const vips::VImage source = vips::VImage::new_from_file(png.c_str());
    const std::string sub420 = dir / "420.jpg", sub444 = dir / "444.jpg";
    source.jpegsave(sub420.c_str(), vips::VImage::option()->set("Q", 95)->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON));
    source.jpegsave(sub444.c_str(), vips::VImage::option()->set("Q", 95)->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_OFF));

    struct Case {
        std::string path;
        double scale; // 0.45 decodes at a half, 0.7 whole
        int x, y;     // the cut's lower-left corner, odd or even
        int w, h;
    };
    for (const Case& c : {Case{sub420, 0.45, 0, 0, 500, 340}, Case{sub420, 0.45, 3, 5, 500, 340},
                          Case{sub420, 0.7, 7, 1, 780, 520}, Case{sub444, 0.45, 1, 2, 500, 340},
                          Case{sub444, 0.7, 2, 2, 780, 520}}) {
        SCOPED_TRACE(::testing::Message() << c.path << " at " << c.scale << ", corner " << c.x << "," << c.y);
        const mv::Picture cut = mv::Picture::open(c.path)->scaled(c.scale).cropped(c.x, c.y, c.w, c.h);
        // The colour filters' pass goes along, with and without a tint.
        mv::Picture::PixelPass adjust, tint = mv::Picture::monochromePass(0.9f, 0.6f, 0.3f, 0.7f);
        adjust.first = mv::Picture::colorControlsTransform(1.3f, 0.05f, 1.1f).then(mv::Picture::exposureTransform(0.3f));
        tint.first = mv::Picture::sepiaTransform(0.4f);
        const mv::Picture pictures[] = {cut, cut.pixelPass(adjust, false), cut.pixelPass(tint, false)};
        for (const mv::Picture& picture : pictures) {
            mv::Yuv420Bitmap planes;
            mv::RgbaBitmap rgb;
            const bool fast = picture.renderYuv420(planes);
            ASSERT_TRUE(picture.render(rgb));
            if (&picture != &pictures[0] && c.scale > 0.5 && c.path == sub420) {
                EXPECT_FALSE(fast); // 4:2:0 chroma is upsampled by the decoder only
                continue;
            }
            ASSERT_TRUE(fast);
            ASSERT_EQ(planes.width, c.w);
            ASSERT_EQ(planes.height, c.h);
            const mv::Yuv420Bitmap want = videoLevels(rgb);
            // The cut's chroma is filtered down differently on the two ways
            // (Lanczos here, a box in the reference; a pixel off costs 4 or
            // more). The pass gets the same colours, only rounded elsewhere:
            // after the scale rather than before it.
            const bool cutOnly = &picture == &pictures[0];
            for (int p = 0; p < 3; ++p)
                EXPECT_LT(meanAbsDiff(plane(planes, p), plane(want, p)), cutOnly && p > 0 ? 2.5 : 0.5) << p;
        }
        // The vector code (8 pixels at a time, without a tint) and the
        // plain code agree to the bit: a tint of intensity 0 takes the plain
        // code with the same transform.
        mv::Picture::PixelPass plain = mv::Picture::monochromePass(0.5f, 0.5f, 0.5f, 0.0f);
        plain.first = adjust.first;
        mv::Yuv420Bitmap vector, scalar;
        if (cut.pixelPass(adjust, false).renderYuv420(vector)) {
            ASSERT_TRUE(cut.pixelPass(plain, false).renderYuv420(scalar));
            for (int p = 0; p < 3; ++p)
                EXPECT_TRUE(plane(vector, p) == plane(scalar, p)) << p;
        }
    }

    // Everything else is left to the RGB way: other formats, grey and CMYK
    // JPEGs, a picture, a scale or a cut with an odd side, a cut reaching
    // past the picture, a filter that needs neighbours, and a JPEG whose
    // data is damaged.
    const std::string grey = dir / "grey.jpg", cmyk = dir / "cmyk.jpg", damaged = dir / "damaged.jpg",
                      odd = dir / "odd.jpg";
    source.colourspace(VIPS_INTERPRETATION_B_W).jpegsave(grey.c_str());
    source.crop(0, 0, 1200, 798).jpegsave(odd.c_str());
    source.colourspace(VIPS_INTERPRETATION_CMYK).jpegsave(cmyk.c_str());
    std::string bytes = readFile(sub420);
    const std::size_t scan = bytes.find("\xFF\xDA");
    for (std::size_t i = scan + 300; i < scan + 360; ++i)
        bytes[i] = static_cast<char>(i % 3 ? 0xFF : 0xD3);
    std::ofstream(damaged, std::ios::binary) << bytes;
    const mv::Picture jpeg = *mv::Picture::open(sub420);
    for (const mv::Picture& p :
         {mv::Picture::open(png)->scaled(0.5).cropped(0, 0, 400, 300), mv::Picture::open(grey)->scaled(0.5),
          mv::Picture::open(cmyk)->scaled(0.5), mv::Picture::open(odd)->scaled(0.5).cropped(0, 0, 400, 300),
          jpeg.scaled(0.5).cropped(-2, 0, 400, 300), jpeg.scaled(0.5025).cropped(0, 0, 500, 340),
          jpeg.scaled(0.5).cropped(0, 0, 401, 300), jpeg.scaled(0.5).gaussianBlur(1.0f), jpeg,
          mv::Picture::open(damaged)->scaled(0.5)}) {
        mv::Yuv420Bitmap planes;
        EXPECT_FALSE(p.renderYuv420(planes));
    }
}

// The decoder hands over as many rows as its reader asks for next: planes
// in whole row groups (8 luma rows for 4:2:0 at a half), RGB rows exactly,
// at most a strip's worth, and nothing once it is told to stop.
TEST(Planes, TheDecoderHandsOverTheRowsAskedFor)
{
    TempDir dir;
    const std::string png = dir / "strips.png", jpeg = dir / "strips.jpg";
    writeImage(png, 640, 480); // 320 x 240 at a half
    vips::VImage::new_from_file(png.c_str())
        .jpegsave(jpeg.c_str(), vips::VImage::option()->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON));
    const int asks[] = {20, 1, 500, 0};
    for (const bool planes : {true, false}) {
        std::vector<int> strips;
        auto next = [&](int n) {
            strips.push_back(n);
            return strips.size() <= std::size(asks) ? asks[strips.size() - 1] : 0;
        };
        const mv::JpegRowsResult result =
            planes ? mv::decodeJpegPlanes(
                         jpeg, 4, [](const mv::JpegPlanes&) { return true; },
                         [&](const std::uint8_t* const*, const int*, int n) { return next(n); })
                   : mv::decodeJpegRows(jpeg, 4, [&](const std::uint8_t*, int, int n) { return next(n); });
        EXPECT_EQ(result, mv::JpegRowsResult::Ok);
        const std::vector<int> want = planes ? std::vector<int>{mv::kJpegStripRows, 24, 8, mv::kJpegStripRows}
                                             : std::vector<int>{mv::kJpegStripRows, 20, 1, mv::kJpegStripRows};
        EXPECT_EQ(strips, want) << (planes ? "planes" : "rows");
    }
}
