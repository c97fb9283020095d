// Damaged, forged and oversized pictures: each is refused or fitted the same
// way every time, with memory bounded and no access outside a buffer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <vips/vips8>

#include "TestSupport.h"
#include "platform/picture/JpegRows.h"
#include "platform/picture/Picture.h"
#include "platform/picture/PictureProbe.h"

using namespace mvtest;
namespace fs = std::filesystem;

namespace {

std::uint32_t crc32(const std::string& data, std::size_t from, std::size_t n)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = from; i < from + n; ++i) {
        c ^= static_cast<std::uint8_t>(data[i]);
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void putBe32(std::string& d, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        d[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// A small real PNG whose header (with a valid checksum) claims w x h.
void forgePng(const std::string& path, std::uint32_t w, std::uint32_t h)
{
    writeImage(path, 16, 16);
    std::string d = readFile(path);
    putBe32(d, 16, w);
    putBe32(d, 20, h);
    putBe32(d, 29, crc32(d, 12, 17));
    writeFile(path, d);
}

// A small real TIFF whose width and length tags claim w x h.
void forgeTiff(const std::string& path, std::uint32_t w, std::uint32_t h)
{
    writeImage(path, 16, 16);
    std::string d = readFile(path);
    ASSERT_EQ(d.substr(0, 2), "II");
    auto u16 = [&](std::size_t at) { return std::uint8_t(d[at]) | std::uint8_t(d[at + 1]) << 8; };
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            d[at + i] = static_cast<char>(v >> (8 * i));
    };
    const std::size_t ifd = std::uint8_t(d[4]) | std::uint8_t(d[5]) << 8 | std::uint8_t(d[6]) << 16;
    for (int e = 0; e < u16(ifd); ++e) {
        const std::size_t entry = ifd + 2 + 12 * e;
        if (u16(entry) == 278) { // one strip for the whole claimed height
            put(entry + 2, 4, 2);
            put(entry + 8, h, 4);
        }
        if (u16(entry) == 256 || u16(entry) == 257) {
            put(entry + 2, 4, 2); // LONG
            put(entry + 4, 1, 4);
            put(entry + 8, u16(entry) == 256 ? w : h, 4);
        }
    }
    writeFile(path, d);
}

// `moirevance make ARGS` in `dir`, memory capped; the peak resident size in
// kB goes to `peak`.
CommandResult make(const TempDir& dir, const std::string& args, long* peak = nullptr)
{
    const CommandResult r = moirevance(dir, "make " + args, measured(dir));
    if (peak)
        *peak = peakKb(dir);
    return r;
}

std::string verifyList(const TempDir& dir) { return readFile(dir / "data/Moirevance/Moirevance Verify List.txt"); }

} // namespace

// Only the image library's own JPEG, PNG and TIFF loaders are ever asked:
// the parsers of its optional modules (ImageMagick, poppler, ...) are not
// even loaded.
TEST(BadPictures, ImageLibraryStartsWithoutItsOptionalModules)
{
    if (std::getenv("VIPSHOME"))
        GTEST_SKIP() << "VIPSHOME is set: the library's modules are wanted";
    const std::string maps = readFile("/proc/self/maps");
    ASSERT_NE(maps.find("libvips"), std::string::npos);
    EXPECT_EQ(maps.find("vips-modules"), std::string::npos);
}

// Headers forged to claim huge pictures are refused before any decoding;
// pictures cut short are found while decoding. Either way the run skips
// them the same way every time, with memory bounded.
TEST(BadPictures, ForgedAndTruncatedPicturesAreSkippedTheSameWayEveryTime)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    const std::vector<std::string> forged{"img-5.png", "img-6.png", "img-7.tif"};
    const std::vector<std::string> truncated{"img-1.jpg", "img-2.png", "img-3.tif"};
    for (const char* name : {"img-0.png", "img-1.jpg", "img-2.png", "img-3.tif", "img-4.png", "img-8.png"})
        writeImage(dir / ("in/" + std::string(name)), 200, 150);
    for (const auto& name : truncated) {
        const std::string whole = readFile(dir / ("in/" + name));
        writeFile(dir / ("in/" + name), whole.substr(0, whole.size() * 99 / 100));
    }
    forgePng(dir / "in/img-5.png", 65535, 65535);
    forgePng(dir / "in/img-6.png", 100000, 100000);
    forgeTiff(dir / "in/img-7.tif", 100000, 100000);
    for (const auto& name : forged) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(mv::probePicture(dir / ("in/" + name)));
        EXPECT_FALSE(mv::Picture::open(dir / ("in/" + name)));
    }

    std::vector<std::vector<std::uint8_t>> first;
    for (int k = 0; k < 20; ++k) {
        SCOPED_TRACE(k);
        const bool skip = k % 2;
        fs::remove(dir / "data/Moirevance/Moirevance Verify List.txt");
        long peakKb = 0;
        const CommandResult r =
            make(dir, std::string(skip ? "--skip-verify " : "") + "--size 50% --codec tiff -o out.mov in", &peakKb);
        ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
        EXPECT_GT(peakKb, 0);
        EXPECT_LT(peakKb, 300 * 1024) << "peak resident kB";
        const auto frames = decodeFrames(dir / "out.mov", 100, 75);
        ASSERT_EQ(frames.size(), 3u);
        if (first.empty())
            first = frames;
        EXPECT_EQ(frames, first);
        const std::string lines = verifyList(dir);
        for (const auto& name : truncated)
            EXPECT_THAT(lines, HasSubstr("Create Movie: Can not form an image from " + name));
        // The checks name the forged files first; without them the movie does.
        for (const auto& name : forged)
            EXPECT_THAT(lines, HasSubstr(skip ? "Create Movie: Can not form an image from " + name
                                              : name + " (image format error, can not create an image)"));
        fs::remove(dir / "out.mov");
    }
}

TEST(BadPictures, ScalingOddWidthsStaysInsideItsBuffers)
{
    // A sanitized program checks its own accesses; a plain one runs under
    // valgrind, which also sees the libraries' reads of our buffers.
    std::string wrapper;
    if (!underSanitizer()) {
        if (const std::string why = valgrindLeftOutBecause(); !why.empty())
            GTEST_SKIP() << why;
        wrapper = "valgrind -q --error-exitcode=99 ";
    }
    TempDir dir;
    writeImages(dir / "in", 2, 410, 120); // 205 wide at 50%
    const CommandResult r = moirevance(dir, "make --codec jpeg --size 50% -o out.mov in", wrapper);
    ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
    EXPECT_EQ(probeStream(dir / "out.mov").at("width"), "205");
}

TEST(BadPictures, FramesBeyondTheEncoderAreRefusedBeforeTheMovieOpens)
{
    TempDir dir;
    writeImages(dir / "in", 2, 11000, 8);
    // 16500 wide at 150%: beyond x264's 16384 and MPEG-4's 8190; 11000 at
    // 100% is beyond MPEG-4 only.
    for (const char* args : {"--codec h264 --size 150%", "--codec mp4 --size 100%"}) {
        SCOPED_TRACE(args);
        const CommandResult r = make(dir, std::string(args) + " -o out.mov in");
        EXPECT_EQ(r.status, 1);
        EXPECT_FALSE(fs::exists(dir / "out.mov"));
        EXPECT_THAT(readFile(dir / "stderr.txt"), HasSubstr("is too large for the chosen codec"));
    }
    EXPECT_EQ(make(dir, "--codec h264 --size 100% -o out.mov in").status, 0) << readFile(dir / "stderr.txt");
    EXPECT_EQ(probeStream(dir / "out.mov").at("width"), "11000");
}

TEST(BadPictures, FirstImageWhosePixelsDoNotDecodeEndsTheRun)
{
    TempDir dir;
    writeImages(dir / "in", 3, 64, 48, "jpg");
    // The header reads and the file ends as a JPEG should, but most of its
    // scan is gone.
    const std::string jpeg = readFile(dir / "in/img-0.jpg");
    const std::size_t scan = jpeg.find("\xFF\xDA");
    writeFile(dir / "in/img-0.jpg", jpeg.substr(0, scan + 40) + "\xFF\xD9");
    ASSERT_TRUE(mv::Picture::open(dir / "in/img-0.jpg"));
    ASSERT_TRUE(mv::probePicture(dir / "in/img-0.jpg"));

    for (const char* checks : {"", "--skip-verify "}) {
        SCOPED_TRACE(checks);
        const CommandResult r = make(dir, std::string(checks) + "--codec tiff -o out.mov in");
        EXPECT_EQ(r.status, 1);
        EXPECT_FALSE(fs::exists(dir / "out.mov"));
        EXPECT_THAT(readFile(dir / "stderr.txt"),
                    HasSubstr("Can not process the first image: You can not create a movie from this image list."));
    }
    EXPECT_THAT(verifyList(dir), HasSubstr("img-0.jpg (first image format error, can not create an image)"));
}

TEST(BadPictures, OtherSizesAreScaledToCoverAndCutLikeTheFirst)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    writeImage(dir / "in/img-0.png", 64, 48);
    writeImage(dir / "in/img-1.png", 32, 48); // covers 64 x 48 at 2x: 64 x 96, cut
    writeImage(dir / "in/img-2.png", 128, 48); // covers at 1x: 128 x 48, cut
    struct Case {
        const char* args;
        int top1, left2; // where the cut of the scaled image starts
    };
    for (const Case c : {Case{"--crop top", 0, 0}, {"--crop middle", 24, 32}, {"--crop bottom --skip-verify", 48, 64}}) {
        SCOPED_TRACE(c.args);
        const CommandResult r = make(dir, std::string(c.args) + " --size 100% --codec tiff -o out.mov in");
        ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
        const auto frames = decodeFrames(dir / "out.mov", 64, 48);
        ASSERT_EQ(frames.size(), 3u);
        for (const auto& [frame, want] :
             {std::pair{frames[1], referenceFrame(dir / "in/img-1.png", 64, 96, 0, c.top1, 64, 48)},
              {frames[2], referenceFrame(dir / "in/img-2.png", 128, 48, c.left2, 0, 64, 48)}}) {
            EXPECT_LT(meanAbsDiff(frame, want), 1.0);
            EXPECT_LE(maxAbsDiff(frame, want), 8);
        }
        fs::remove(dir / "out.mov");
    }
    EXPECT_THAT(verifyList(dir), HasSubstr("img-1.png (size 32X48 does not match first image size 64X48)"));
}

// An animation file for images of w x h: the settings give frames of half
// the image size, and every keyframe has the same crop rectangle.
std::string zoomAnimation(int w, int h, const std::string& window, const std::string& rect, int images)
{
    std::string text = "*** Moirevance 06 Dec 2026 07:00:00 ***\n\nVersion: 0.1\n\nImage: img-0.png (" +
                       std::to_string(w) + "X" + std::to_string(h) + ")\nWindow: " + window +
                       "\nImages: " + std::to_string(images) +
                       "\nFPS: 10.00\nScale: NOFORMAT (50.0%)\nCodec: Animation\nQuality: High\nDateStamp: No\n"
                       "GPS: No\nVertical: No\n\n*** Animation Sequence ***\n";
    for (int frame : {1, images})
        text += "\nFrame: " + std::to_string(frame) + "\nRate: 1X\ncropRect: " + rect +
                "\nSaturation: 1.000\nBrightness: 0.000\nContrast: 1.000\nExposure: 0.000\nMonoI: 0.000\n"
                "MonoColor: 1 1 1 1\nSepia: 0.000\nBlur: 0.000\nRotate: 0.000\nAnimFPS: 10.0\n";
    return text;
}

// A zoomed cut decodes only the part of the picture under it, memory bounded
// however tiny the cut, and shows the right part: at 2x Lanczos on that part
// (its upscaling differs from the reference's along the sharp edge of the
// pattern's blue), at 10x bicubic from the few pixels under it.
TEST(BadPictures, ZoomDecodesAndShowsOnlyTheCutOfThePicture)
{
    TempDir dir;
    writeImages(dir / "big", 3, 1600, 1200);
    writeImages(dir / "small", 2, 400, 300);
    // 16-bit copies take the deep way (the image library's scaler) and
    // must keep to the same bounds.
    for (const std::string folder : {"big", "small"}) {
        fs::create_directories(dir / (folder + "16"));
        for (const auto& entry : fs::directory_iterator(dir / folder)) {
            const std::string to = dir / (folder + "16/" + entry.path().stem().string() + ".tif");
            (vips::VImage::new_from_file(entry.path().c_str()).cast(VIPS_FORMAT_USHORT) * 257)
                .cast(VIPS_FORMAT_USHORT)
                .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16))
                .write_to_file(to.c_str());
        }
    }
    struct Case {
        const char *size, *window, *rect;
        int scaledW = 0, scaledH = 0, left = 0, top = 0; // the cut of the whole picture scaled, if compared
        double meanDiff = 0;
        int maxDiff = 0;
    };
    const Case cases[] = {
        {"big", "400X300", "(200.000000, 150.000000, 0.010000, 0.007500)"},     // a tiny cut
        {"big", "16000X12000", "(0.000000, 0.000000, 400.000000, 300.000000)"}, // a tiny whole
        {"small", "400X300", "(100.000000, 75.000000, 100.000000, 75.000000)", 800, 600, 200, 300, 1.0, 64},
        {"small", "400X300", "(150.000000, 100.000000, 20.000000, 15.000000)", 4000, 3000, 1500, 1850, 1.5, 12}};
    for (const std::string depth : {"", "16"})
        for (const Case& c : cases) {
            const std::string folder = c.size + depth;
            SCOPED_TRACE(::testing::Message() << folder << " " << c.window << " " << c.rect);
            const bool big = c.size == std::string("big");
            const int w = big ? 800 : 200, h = w * 3 / 4, n = big ? 3 : 2;
            writeFile(dir / "anim.txt", zoomAnimation(2 * w, 2 * h, c.window, c.rect, n));
            long peakKb = 0;
            const CommandResult r = make(dir, "--anim anim.txt -o out.mov " + folder, &peakKb);
            ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
            EXPECT_LT(peakKb, 300 * 1024) << "peak resident kB";
            EXPECT_EQ(probeStream(dir / "out.mov").at("width"), std::to_string(w));
            const auto frames = decodeFrames(dir / "out.mov", w, h);
            ASSERT_EQ(frames.size(), std::size_t(n));
            if (c.scaledW) {
                const auto expected =
                    referenceFrame(dir / "small/img-0.png", c.scaledW, c.scaledH, c.left, c.top, w, h);
                EXPECT_LT(meanAbsDiff(frames[0], expected), c.meanDiff);
                EXPECT_LE(maxAbsDiff(frames[0], expected), c.maxDiff);
            }
            fs::remove(dir / "out.mov");
        }
}

// A JPEG scaled down is decoded at the fewest eighths (halvings) that still
// cover the frame, then scaled: the same picture as a full decode, grey and CMYK files
// too; data that only makes the decoder warn fails there as everywhere.
TEST(BadPictures, ScaledJpegsDecodeAtEighthsAndRefuseDamagedData)
{
    TempDir dir;
    EXPECT_EQ(mv::jpegEighthsCovering(6000, 4000, 1920, 1280), 4);
    EXPECT_EQ(mv::jpegEighthsCovering(6000, 4000, 1500, 1000), 2);
    EXPECT_EQ(mv::jpegEighthsCovering(6000, 4000, 3840, 2560), 8);
    EXPECT_EQ(mv::jpegEighthsCovering(6000, 4000, 6000, 4000), 8);
    const std::string rgb = dir / "rgb.jpg", grey = dir / "grey.jpg", cmyk = dir / "cmyk.jpg";
    writeImage(rgb, 400, 300);
    vips::VImage::new_from_file(rgb.c_str()).colourspace(VIPS_INTERPRETATION_B_W).write_to_file(grey.c_str());
    vips::VImage::new_from_file(rgb.c_str()).colourspace(VIPS_INTERPRETATION_CMYK).write_to_file(cmyk.c_str());
    for (const std::string& path : {rgb, grey, cmyk}) {
        SCOPED_TRACE(path);
        mv::RgbaBitmap b;
        ASSERT_TRUE(mv::Picture::open(path)->scaled(0.32).cropped(0, 0, 128, 90).render(b));
        const std::vector<std::uint8_t> frame = rgbOf(b);
        const std::string asRgb = path + ".png";
        vips::VImage::new_from_file(path.c_str()).colourspace(VIPS_INTERPRETATION_sRGB).write_to_file(asRgb.c_str());
        const auto want = referenceFrame(asRgb, 128, 96, 0, 6, 128, 90);
        EXPECT_LT(meanAbsDiff(frame, want), 1.5);
    }

    // Bytes of the scan overwritten: the file is whole, its data is not.
    std::string bytes = readFile(rgb);
    const std::size_t scan = bytes.find("\xFF\xDA");
    for (std::size_t i = scan + 200; i < scan + 260; ++i)
        bytes[i] = static_cast<char>(i % 3 ? 0xFF : 0xD3);
    writeFile(rgb, bytes);
    mv::RgbaBitmap b;
    EXPECT_FALSE(mv::Picture::open(rgb)->scaled(0.32).render(b));
}
