#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "TestSupport.h"
#include "platform/picture/PngFile.h"
#include "render/BrightnessPlot.h"
#include "textlayer/CITextLayer.h"

using namespace mv;
using namespace mvtest;

namespace {

const std::uint8_t* at(const RgbaBitmap& b, int x, int y) { return &b.pixels[(std::size_t(y) * b.width + x) * 4]; }
// The curve is orange, the dots grey-blue, the texts dark grey.
bool curveInk(const std::uint8_t* p) { return p[0] > 180 && p[2] < 120 && p[0] - p[2] > 100; }
bool dotInk(const std::uint8_t* p) { return p[2] > 120 && p[2] - p[0] >= 25; }
bool textInk(const std::uint8_t* p) { return p[0] < 140 && p[1] < 140 && p[2] < 140; }

int count(const RgbaBitmap& b, bool (*ink)(const std::uint8_t*), int x0, int y0, int x1, int y1)
{
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += ink(at(b, x, y));
    return n;
}

// Mean row of the curve's pixels in column x; -1 without any.
double curveRow(const RgbaBitmap& b, int x)
{
    double sum = 0;
    int n = 0;
    for (int y = 0; y < b.height; ++y)
        if (curveInk(at(b, x, y))) {
            sum += y;
            ++n;
        }
    return n ? sum / n : -1;
}

// The first and the last column with any of the curve.
std::pair<int, int> curveSpan(const RgbaBitmap& b)
{
    int first = -1, last = -1;
    for (int x = 0; x < b.width; ++x)
        if (curveRow(b, x) >= 0)
            (first < 0 ? first : last) = x;
    return {first, last};
}

} // namespace

// A falling ramp with flicker of alternately +0.2 and -0.2 EV about it.
TEST(BrightnessPlot, CurveAndDotsSitWhereTheirValuesMapAndThePngHoldsTheSamePixels)
{
    ensureTextEngine();
    const int images = 61;
    std::vector<double> measured, curve;
    for (int i = 0; i < images; ++i) {
        curve.push_back(-3.0 * i / (images - 1));
        measured.push_back(curve.back() + (i % 2 ? -0.2 : 0.2));
    }
    const RgbaBitmap plot = brightnessPlot(measured, curve, 600, 300);
    ASSERT_EQ(plot.pixels.size(), 600u * 300 * 4);
    const auto [first, last] = curveSpan(plot);
    ASSERT_GT(first, 0);
    ASSERT_GT(last - first, 400) << "the line spans the plot";
    // In the middle (away from the legend's sample line in a corner) the
    // line falls evenly and is about 2 pixels thick.
    const int x1 = first + (last - first) * 35 / 100, x2 = (first + last) / 2, x3 = first + (last - first) * 65 / 100;
    const double r1 = curveRow(plot, x1), r2 = curveRow(plot, x2), r3 = curveRow(plot, x3);
    EXPECT_LT(r1 + 20, r2);
    EXPECT_NEAR(r2 - r1, r3 - r2, 2.0);
    EXPECT_LE(count(plot, curveInk, x2, 0, x2 + 1, plot.height), 6);
    // The dots lie 0.2 EV above and below the line near the middle image.
    const double rowsPerEv = (r3 - r1) / (3.0 * (x3 - x1) / (last - first));
    const int offset = int(std::lround(0.2 * rowsPerEv));
    const int above = count(plot, dotInk, x2 - 12, int(r2) - offset - 2, x2 + 12, int(r2) - offset + 3);
    const int below = count(plot, dotInk, x2 - 12, int(r2) + offset - 2, x2 + 12, int(r2) + offset + 3);
    EXPECT_GT(above, 4);
    EXPECT_GT(below, 4);
    EXPECT_EQ(count(plot, dotInk, x2 - 12, int(r2) - offset + 5, x2 + 12, int(r2) + offset - 4), 0)
        << "nothing between the flicker's two levels but the line";
    // EV labels on the left, image numbers along the bottom.
    EXPECT_GT(count(plot, textInk, 0, 0, first - 4, plot.height), 30);
    EXPECT_GT(count(plot, textInk, first, plot.height - 20, last, plot.height), 30);

    TempDir dir;
    const std::string path = dir / "plot.png";
    std::string error;
    ASSERT_TRUE(writePng(plot, path, &error)) << error;
    EXPECT_EQ(readPixels(path), rgbOf(plot));
    // The named file is replaced unless the caller keeps it.
    const RgbaBitmap small = brightnessPlot(measured, curve, 200, 120);
    ASSERT_TRUE(writePng(small, path, &error)) << error;
    EXPECT_EQ(Picture::open(path)->width(), 200);
    EXPECT_FALSE(writePng(plot, path, &error, false));
    EXPECT_EQ(Picture::open(path)->width(), 200);
    EXPECT_FALSE(writePng(plot, dir / "missing/plot.png", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no partial file left";
}

TEST(BrightnessPlot, EmptyTinyAndCrowdedSeriesStayInsideTheBitmap)
{
    ensureTextEngine();
    const double nan = std::nan("");
    std::vector<double> many(10000), gappy = {0.5, 0.4, nan, 0.1, 0.2, nan, nan, -0.4, -0.3};
    for (std::size_t i = 0; i < many.size(); ++i)
        many[i] = std::sin(i * 0.37) * 0.4 - 3.0 * i / many.size();
    struct Case {
        std::vector<double> measured, curve;
        int w, h;
    };
    const std::vector<Case> cases = {
        {{nan, nan, nan}, {nan, nan, nan}, 600, 300}, {{1.0}, {1.0}, 50, 30},       {{}, {}, 200, 120},
        {{0.0, 1e300}, {-1e300, 0.0}, 200, 120},      {many, many, 200, 120},       {many, many, 900, 400},
        {gappy, gappy, 360, 200},                     {{0.3}, {nan, 2.0, 0.0}, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << ", " << c.measured.size() << " images");
        const RgbaBitmap plot = brightnessPlot(c.measured, c.curve, c.w, c.h);
        ASSERT_EQ(plot.width, c.w);
        ASSERT_EQ(plot.height, c.h);
        ASSERT_EQ(plot.pixels.size(), std::size_t(c.w) * c.h * 4);
        for (std::size_t i = 0; i < PixelBuffer::kPadding; ++i)
            ASSERT_EQ(plot.pixels.data()[plot.pixels.size() + i], 0) << "written past the end";
        for (std::size_t i = 3; i < plot.pixels.size(); i += 4)
            ASSERT_EQ(plot.pixels[i], 255);
    }
    // Without any measurement: the axes and a note in the middle, no data.
    const RgbaBitmap none = brightnessPlot({nan, nan, nan}, {nan, nan, nan}, 600, 300);
    EXPECT_EQ(count(none, curveInk, 0, 0, 600, 300) + count(none, dotInk, 0, 0, 600, 300), 0);
    EXPECT_GT(count(none, textInk, 200, 130, 400, 170), 50);
    // A gap breaks the line: nothing of it between images 5 and 8 of the
    // gappy series below the legend's height, while it joins images 4 and 5.
    const RgbaBitmap gaps = brightnessPlot({}, gappy, 360, 200);
    const auto [first, last] = curveSpan(gaps);
    const double perImage = (last - first) / 8.0;
    EXPECT_GT(count(gaps, curveInk, int(first + 3.3 * perImage), 0, int(first + 3.7 * perImage), 200), 0);
    EXPECT_EQ(count(gaps, curveInk, int(first + 4.3 * perImage), 50, int(first + 6.7 * perImage), 200), 0);
    EXPECT_TRUE(brightnessPlot({1.0}, {}, 0, 10).pixels.size() == 0);
}
