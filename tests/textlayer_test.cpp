#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "TestSupport.h"
#include "imagelist/ImagesList.h"
#include "render/MovieRun.h"
#include "textlayer/CITextLayer.h"

using namespace mv;
using namespace mvtest;
namespace fs = std::filesystem;

namespace {

RgbaBitmap frameOf(int w, int h, const std::vector<std::uint8_t>& rgb = {})
{
    return bitmapOf(w, h, [&](int x, int y) {
        const std::size_t i = (std::size_t(y) * w + x) * 3;
        return rgb.empty() ? Rgb{0, 0, 0} : Rgb{rgb[i], rgb[i + 1], rgb[i + 2]};
    });
}

// The drawn pixels of a frame that was black, with y counted upwards:
// left and bottom are the first inked column and row, right and top one past
// the last.
struct Box {
    int left = 1 << 30, right = -1, bottom = 1 << 30, top = -1;
};
Box inkBox(const RgbaBitmap& b)
{
    Box box;
    for (int row = 0; row < b.height; ++row)
        for (int x = 0; x < b.width; ++x) {
            const std::uint8_t* p = &b.pixels[(std::size_t(row) * b.width + x) * 4];
            if (p[0] + p[1] + p[2] < 60)
                continue;
            const int y = b.height - 1 - row;
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x + 1);
            box.bottom = std::min(box.bottom, y);
            box.top = std::max(box.top, y + 1);
        }
    return box;
}

auto within(long low, long high) { return ::testing::AllOf(::testing::Ge(low), ::testing::Le(high)); }

struct Ports : RecordingPorts {
    std::atomic<int> dateOff{0}, gpsOff{0};
    std::function<void()> onHighlight; // on the worker, after a frame was appended
    void setDateEnable(bool on) override { dateOff += !on; }
    void setGPSEnable(bool on) override { gpsOff += !on; }
    void highlight(std::size_t offset, std::size_t length) override
    {
        RecordingPorts::highlight(offset, length);
        if (onHighlight)
            onHighlight();
    }
};

struct TextLayerTest : ::testing::Test {
    TempDir dir;
    JobSettings settings;
    Ports ports;
    VerifyList verify{dir / "verify.txt"};
    ImagesList list{settings, ports, ports, ports, ports, verify};
    CITextLayer layer{list};

    static void SetUpTestSuite() { ensureTextEngine(); }

    std::string verifyText() const { return readFile(dir / "verify.txt"); }

    // JPEGs of w x h with their own capture date and one GPS position each,
    // listed; or PNGs without any EXIF (file dates only, no GPS).
    std::vector<std::string> listImages(int n, bool exif, int w = 320, int h = 96)
    {
        std::vector<std::string> files;
        std::string tags = "exiftool -q -overwrite_original";
        for (int i = 0; i < n; ++i) {
            files.push_back(dir / ("img-" + std::to_string(i) + (exif ? ".jpg" : ".png")));
            const auto shade = static_cast<std::uint8_t>(40 + 30 * i);
            writeImage(files.back(), w, h, [=](int, int) { return Rgb{shade, 60, 90}; });
            tags += (i ? " -execute" : "") + std::string(" -DateTimeOriginal='2012:03:30 22:0") + std::to_string(i) +
                    ":00' -GPSLatitude=44.48 -GPSLatitudeRef=N -GPSLongitude=63." + std::to_string(i) +
                    " -GPSLongitudeRef=W " + quote(files.back());
        }
        EXPECT_TRUE(!exif || run(tags).status == 0);
        ports.nextChoice = files;
        list.selectFiles();
        EXPECT_EQ(list.fileCount(), unsigned(n));
        return files;
    }

    void prepare()
    {
        layer.createAttributes();
        layer.watermarkText(settings.watermarkFont, settings.watermarkColor, settings.watermarkStr, 0, 0);
        layer.dateText(settings.textFont, settings.textColor);
    }

    // The frames, decoded: one per image listed at the start (any missing black, to fail checks, not crash).
    std::vector<std::vector<std::uint8_t>> makeMovie(const std::string& name, CITextLayer* text, int w, int h)
    {
        const std::size_t images = list.imageFiles().size();
        MovieRun movie(settings, list, ports, ports);
        movie.setCompletionSound([] {});
        movie.setTextLayer(text);
        movie.moviePath = dir / name;
        movie.movieName = fs::path(name).stem().string();
        EXPECT_TRUE(movie.createCommand());
        movie.waitForWorker();
        EXPECT_TRUE(movie.wasWritten());
        auto frames = decodeFrames(movie.outputPath(), w, h);
        EXPECT_EQ(frames.size(), images);
        frames.resize(images, std::vector<std::uint8_t>(std::size_t(w) * h * 3));
        return frames;
    }
};

} // namespace

TEST_F(TextLayerTest, WatermarkLandsWhereItsTableSays)
{
    auto origin = [](unsigned W, unsigned H, std::uint64_t w, std::uint64_t h, double x, double y) {
        const TextOrigin o = watermarkOrigin(W, H, w, h, x, y);
        return std::pair{o.x, o.y};
    };
    EXPECT_EQ(origin(1920, 1080, 200, 40, 1, 1), std::pair(860L, 520L));
    EXPECT_EQ(origin(1920, 1080, 200, 40, 0, 0), std::pair(30L, 1010L));
    EXPECT_EQ(origin(1920, 1080, 200, 40, 2, 2), std::pair(1690L, 30L));
    EXPECT_EQ(origin(300, 200, 500, 20, 2, 1), std::pair(0L, 90L)); // held to W - 30
    // Too tall for the top place: on the bottom edge; taller than the frame:
    // the first line at the top edge.
    EXPECT_EQ(origin(300, 100, 10, 80, 0, 0).second, 0);
    EXPECT_EQ(origin(300, 100, 10, 150, 0, 0).second, -50);

    // Fonts come from fontconfig on the offscreen platform.
    EXPECT_FALSE(CITextLayer::resolvedFamily("Geneva").empty());
    layer.createAttributes();
    EXPECT_FALSE(layer.renderWatermark(nullptr, "x", 100, 100)); // no bitmap before it is sized

    struct Case {
        int W, H;
        double size, posnX, posnY;
        const char* text;
    };
    for (const Case c : {Case{1920, 1080, 36, 1, 1, "Wg centre"},
                         Case{300, 120, 24, 2, 2, "A long watermark wider than the frame"},
                         Case{200, 50, 40, 0, 0, "Wg"}}) {
        SCOPED_TRACE(c.text);
        layer.watermarkText({"Geneva", c.size, ""}, {1, 1, 1, 1}, c.text, c.posnX, c.posnY);
        RgbaBitmap frame = frameOf(c.W, c.H);
        ASSERT_TRUE(layer.renderWatermark(&frame, c.text, c.W, c.H));
        const auto w = static_cast<long>(layer.mWidth()), h = static_cast<long>(layer.mHeight());
        EXPECT_LE(w, c.W - 30);
        const TextOrigin o = watermarkOrigin(c.W, c.H, w, h, c.posnX, c.posnY);
        const Box ink = inkBox(frame);
        EXPECT_THAT(ink.left, within(o.x, o.x + 4)); // side bearing only
        // The descender of "g" or the comma reaches down to the block's edge.
        EXPECT_THAT(ink.bottom, within(o.y, o.y + 4));
        EXPECT_THAT(ink.top, within(o.y + h * 2 / 3, std::min<long>(o.y + h, c.H)));
        if (c.posnX == 1) {
            EXPECT_GE(ink.right, o.x + w - 10 - 4); // the 10-pixel margin is on the right
        } else if (c.posnX == 2) {
            EXPECT_EQ(o.x, 0);
        }
    }

    // The face's style reaches the frame: bold has more ink than regular.
    const auto ink = [&](const std::string& style) {
        layer.watermarkText({"DejaVu Sans", 36, style}, {1, 1, 1, 1}, "Wg", 0, 0);
        RgbaBitmap frame = frameOf(400, 100);
        EXPECT_TRUE(layer.renderWatermark(&frame, "Wg", 400, 100));
        long sum = 0;
        for (std::size_t i = 0; i < frame.pixels.size(); i += 4)
            sum += frame.pixels[i];
        return sum;
    };
    EXPECT_GT(ink("Bold"), ink("") * 5 / 4);
}

// A block larger than any picture can be (a line of 6,000 characters, or
// 20,000 lines) still draws on the frame what fits there, and says it was cut.
TEST_F(TextLayerTest, WatermarkLargerThanAnyPictureDrawsWhatFits)
{
    layer.createAttributes();
    std::string lines;
    for (int i = 0; i < 20000; ++i)
        lines += "Line\n";
    for (const std::string& text : {std::string(6000, 'W'), lines}) {
        SCOPED_TRACE(text.size());
        layer.watermarkText({"Geneva", 12, ""}, {1, 1, 1, 1}, "Wg", 0, 0);
        EXPECT_FALSE(layer.watermarkCut());
        layer.watermarkText({"Geneva", 12, ""}, {1, 1, 1, 1}, text, 0, 0);
        EXPECT_TRUE(layer.watermarkCut());
        RgbaBitmap frame = frameOf(320, 240);
        ASSERT_TRUE(layer.renderWatermark(&frame, text, 320, 240));
        const Box ink = inkBox(frame);
        EXPECT_LE(ink.left, 34);
        if (text.size() == 6000) {
            EXPECT_GT(ink.right, 250); // up to the ellipsis at the right edge
        } else {
            EXPECT_GE(ink.top, 225); // the first line at the top edge
        }
    }
}

TEST_F(TextLayerTest, StampChoosesItsTextAndReportsWhatIsMissing)
{
    listImages(2, true);
    ASSERT_EQ(list.frameLocn().size(), 2u);
    EXPECT_EQ(layer.text(), "Locn: 44\u00B0 29' 00\" N, 63\u00B0 48' 00\" W    2012:03:30 22:00:00");
    RgbaBitmap frame = frameOf(400, 60);
    EXPECT_FALSE(layer.renderText(0, &frame, true, true));
    layer.createAttributes();
    EXPECT_FALSE(layer.renderText(0, &frame, true, true));
    prepare();
    RgbaBitmap empty;
    EXPECT_FALSE(layer.renderText(0, &empty, true, true));
    EXPECT_EQ(verifyText(), std::string(VerifyList::kFirstLine) +
                                "CITextLayer renderText(): ciTextAttributes == nil\n"
                                "CITextLayer renderText(): bitmapImage == nil\n"
                                "CITextLayer renderText(): bitmapContext == nil\n");
    EXPECT_EQ(inkBox(frame).right, -1); // nothing drawn on failure
    EXPECT_GT(layer.width(), layer.height()); // sized for the sample stamp

    // GPS, four blanks, date; the block's lower left at (10, 10).
    ASSERT_TRUE(layer.renderText(1, &frame, true, true));
    EXPECT_EQ(layer.text(), list.frameLocn()[1] + "    " + list.frameDate()[1]);
    EXPECT_NE(layer.text().find("2012:03:30 22:01:00"), std::string::npos);
    const Box ink = inkBox(frame);
    EXPECT_THAT(ink.left, within(10, 12));
    EXPECT_THAT(ink.bottom, within(10, 14));
    ASSERT_TRUE(layer.renderText(0, &frame, false, true));
    EXPECT_EQ(layer.text(), list.frameLocn()[0]);
    // Without a frame the text goes into the renderer's own bitmap.
    ASSERT_TRUE(layer.renderText(0, nullptr, true, false));
    RgbaBitmap own;
    ASSERT_TRUE(layer.stampBitmap(own));
    EXPECT_EQ(own.width, int(layer.width()));
    EXPECT_LE(inkBox(own).left, 2);

    // Only dates: the date alone, without a line.
    list.clearList();
    listImages(2, false);
    const std::string before = verifyText();
    ASSERT_TRUE(layer.renderText(1, &frame, true, true));
    EXPECT_EQ(layer.text(), list.frameDate()[1]);
    EXPECT_EQ(verifyText(), before);

    // Nothing to stamp: a line, no stamp, and the text is gone.
    list.clearList();
    RgbaBitmap untouched = frameOf(400, 60);
    EXPECT_FALSE(layer.renderText(0, &untouched, true, false));
    EXPECT_EQ(layer.text(), "");
    EXPECT_FALSE(layer.renderText(0, &untouched, true, true));
    EXPECT_FALSE(layer.renderText(0, &untouched, false, true));
    EXPECT_FALSE(layer.renderText(0, &untouched, false, false));
    EXPECT_EQ(inkBox(untouched).right, -1);
    EXPECT_EQ(verifyText(), before +
                                "CITextLayer renderText(): dateCount= 0\n"
                                "CITextLayer renderText(): dateCount= 0, gpsCount= 0\n"
                                "CITextLayer renderText(): gpsCount= 0\n"
                                "CITextLayer renderText(): isDate and isGPS are false\n");
}

// Fonts and texts change on the main thread while frames are drawn on a
// worker: each call waits for the other instead of drawing with a bitmap
// that is being replaced.
TEST_F(TextLayerTest, SizingNeverTearsARenderInProgress)
{
    listImages(2, false, 64, 48);
    prepare();
    std::atomic<int> drawn{0};
    std::thread worker([&] {
        RgbaBitmap frame = frameOf(640, 120);
        for (int i = 0; i < 300; ++i) {
            drawn += layer.renderText(i % 2, i % 3 ? &frame : nullptr, true, false);
            drawn += layer.renderWatermark(i % 3 ? &frame : nullptr, "mark", 640, 120);
        }
    });
    for (int i = 0; i < 300; ++i) {
        layer.dateText({"Geneva", 8.0 + i % 40, ""}, {1, 0, 0, 1});
        layer.watermarkText({"DejaVu Serif", 8.0 + i % 30, ""}, {0, 1, 0, 0.5}, std::string(1 + i % 50, 'M'), 2, 0);
    }
    worker.join();
    EXPECT_EQ(drawn, 600);
}

// The frames of a movie carry the watermark and the stamp exactly as the
// renderer draws them alone on the same picture, until the list is built
// again under the running movie: from then on no stamp, and the end says so.
TEST_F(TextLayerTest, MovieFramesCarryTheTextUntilAStampFails)
{
    settings.codec = kCodecTIFF; // lossless, so frames compare exactly
    settings.format = 0;
    settings.scale = 1.0f;
    listImages(4, true);
    const auto plain = makeMovie("plain.mov", nullptr, 320, 96);

    settings.useWatermark = true;
    settings.watermarkStr = "Moirevance";
    settings.wPosnX = 2;
    settings.isDateStamped = settings.isGPS = true;
    prepare();
    layer.watermarkText(settings.watermarkFont, settings.watermarkColor, settings.watermarkStr, 2, 0);
    std::vector<std::vector<std::uint8_t>> expected;
    for (unsigned i = 0; i < 4; ++i) {
        RgbaBitmap frame = frameOf(320, 96, plain[i]);
        ASSERT_TRUE(layer.renderWatermark(&frame, settings.watermarkStr, 320, 96));
        const auto watermarked = rgbOf(frame);
        if (i < 2) {
            ASSERT_TRUE(layer.renderText(i, &frame, true, true));
            EXPECT_GT(maxAbsDiff(rgbOf(frame), watermarked), 100);
        }
        expected.push_back(rgbOf(frame));
    }

    int appended = 0;
    ports.onHighlight = [&] {
        if (++appended == 2)
            list.clearList();
    };
    const auto stamped = makeMovie("stamped.mov", &layer, 320, 96);
    for (unsigned i = 0; i < 4; ++i)
        EXPECT_EQ(maxAbsDiff(stamped[i], expected[i]), 0) << "frame " << i;

    EXPECT_EQ(ports.dateOff, 1); // the window turns the switches off
    EXPECT_EQ(ports.gpsOff, 1);
    int stampAlerts = 0;
    for (const auto& a : ports.alerts())
        stampAlerts += a.title == "Date/Time stamp or GPS Error" && a.message == "See Verify List file";
    EXPECT_EQ(stampAlerts, 1);
    const std::string lines = verifyText();
    EXPECT_NE(lines.find("CITextLayer renderText(): dateCount= 0, gpsCount= 0\n"
                         "Create Movie: img-2.jpg Time stamp overlay failed\n"),
              std::string::npos);
    EXPECT_EQ(lines.find("Time stamp overlay failed"), lines.rfind("Time stamp overlay failed"));
    EXPECT_EQ(lines.find("Watermark overlay failed"), std::string::npos);
}
