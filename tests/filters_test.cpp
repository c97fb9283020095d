#include <gtest/gtest.h>

#include <cmath>

#include "TestSupport.h"
#include "platform/picture/Picture.h"
#include "render/Adjustments.h"

using namespace mv;
using namespace mvtest;

namespace {

struct Lin {
    double r, g, b;
};

// A 4 x 4 picture of one colour, through one filter, read back.
struct FilterCase : ::testing::Test {
    TempDir dir;

    // Each picture opened from a file renders once, so tests open anew.
    std::string solid(Rgb c, int w = 4, int h = 4)
    {
        const std::string path = dir / ("solid" + std::to_string(++n) + ".png");
        writeImage(path, w, h, [c](int, int) { return c; });
        return path;
    }
    static Picture open(const std::string& path) { return *Picture::open(path); }

    std::array<int, 3> pixel(const Picture& p, int x = 1, int y = 1)
    {
        RgbaBitmap b;
        EXPECT_TRUE(p.render(b));
        const std::uint8_t* px = &b.pixels[(std::size_t(y) * b.width + x) * 4];
        EXPECT_EQ(px[3], 255);
        return {px[0], px[1], px[2]};
    }

    void expectPixel(const Picture& p, Rgb want, int x = 1, int y = 1)
    {
        const auto got = pixel(p, x, y);
        EXPECT_NEAR(got[0], want.r, 1);
        EXPECT_NEAR(got[1], want.g, 1);
        EXPECT_NEAR(got[2], want.b, 1);
    }

    // Compares a filtered pixel with the formula applied in linear light.
    void expectFormula(Rgb in, const Picture& filtered, const std::function<Lin(Lin)>& formula)
    {
        const Lin out = formula({toLinear(in.r), toLinear(in.g), toLinear(in.b)});
        auto c = [](double l) { return static_cast<std::uint8_t>(toSrgb(l)); };
        expectPixel(filtered, {c(out.r), c(out.g), c(out.b)});
    }

    int n = 0;
};

constexpr Rgb kColours[] = {{200, 120, 40}, {30, 60, 220}, {128, 128, 128}, {250, 250, 5}};

} // namespace

// The colour filters' formulas in linear light.
Lin colourControls(Lin v, double S, double B, double C)
{
    const double w[3] = {0.2126, 0.7152, 0.0722};
    double x[3] = {v.r, v.g, v.b};
    for (double& k : x)
        k = (k + B - 0.5) * C + 0.5;
    const double g = w[0] * x[0] + w[1] * x[1] + w[2] * x[2];
    return Lin{g + S * (x[0] - g), g + S * (x[1] - g), g + S * (x[2] - g)};
}

Lin exposure(Lin v, double ev)
{
    const double f = std::exp2(ev);
    return Lin{v.r * f, v.g * f, v.b * f};
}

Lin sepia(Lin v, double I)
{
    const Lin s{0.3588 * v.r + 0.7044 * v.g + 0.1368 * v.b, 0.2990 * v.r + 0.5870 * v.g + 0.1140 * v.b,
                0.2392 * v.r + 0.4696 * v.g + 0.0912 * v.b};
    return Lin{v.r + I * (s.r - v.r), v.g + I * (s.g - v.g), v.b + I * (s.b - v.b)};
}

Lin monochrome(Lin v, Rgb colour, double I)
{
    const double L = 0.2125 * v.r + 0.7154 * v.g + 0.0721 * v.b;
    const double K[3] = {toLinear(colour.r), toLinear(colour.g), toLinear(colour.b)};
    double m[3];
    for (int i = 0; i < 3; ++i)
        m[i] = L < 0.5 ? 2 * L * K[i] : 1 - 2 * (1 - L) * (1 - K[i]);
    return Lin{v.r + I * (m[0] - v.r), v.g + I * (m[1] - v.g), v.b + I * (m[2] - v.b)};
}

TEST_F(FilterCase, FiltersFollowTheirFormulasAndNeutralValuesChangeNothing)
{
    const Rgb tint{230, 153, 51}; // 0.9, 0.6, 0.2
    for (const Rgb c : kColours) {
        SCOPED_TRACE(::testing::Message() << int(c.r) << "," << int(c.g) << "," << int(c.b));
        const std::string p = solid(c);
        // Neutral values of every filter leave the pixels as they were.
        for (const Picture& q : {open(p).colorControls(1, 0, 1), open(p).exposureAdjust(0), open(p).sepiaTone(0),
                                 open(p).colorMonochrome(0.3f, 0.5f, 0.9f, 0), open(p).sharpenLuminance(0),
                                 open(p).gaussianBlur(0.0001f)})
            expectPixel(q, c);
        expectFormula(c, open(p).colorControls(1.4f, 0.05f, 1.2f), [](Lin v) { return colourControls(v, 1.4, 0.05, 1.2); });
        expectFormula(c, open(p).exposureAdjust(-1.5f), [](Lin v) { return exposure(v, -1.5); });
        expectFormula(c, open(p).sepiaTone(0.7f), [](Lin v) { return sepia(v, 0.7); });
        expectFormula(c, open(p).colorMonochrome(0.9f, 0.6f, 0.2f, 0.8f),
                      [&](Lin v) { return monochrome(v, tint, 0.8); });

        // The movie runs them as one pass, in this order, after the
        // deflicker gain.
        AdjustmentValues a;
        a.deflickerEV = -0.25f;
        a.saturation = 1.3f, a.brightness = -0.02f, a.contrast = 1.1f, a.exposure = 0.3f, a.sepia = 0.4f;
        expectFormula(c, applyAdjustments(open(p), a), [](Lin v) {
            return sepia(exposure(colourControls(exposure(v, -0.25), 1.3, -0.02, 1.1), 0.3), 0.4);
        });
        a.monoIntensity = 0.5f, a.monoColor = {0.9f, 0.6f, 0.2f};
        expectFormula(c, applyAdjustments(open(p), a), [&](Lin v) {
            return sepia(monochrome(exposure(colourControls(exposure(v, -0.25), 1.3, -0.02, 1.1), 0.3), tint, 0.5),
                         0.4);
        });
    }
}

TEST_F(FilterCase, BlurAndSharpenKeepSizeAndFlatAreas)
{
    const std::string flat = solid({90, 160, 30}, 40, 30);
    for (const Picture& q : {open(flat).gaussianBlur(10), open(flat).sharpenLuminance(2)}) {
        EXPECT_EQ(q.width(), 40);
        EXPECT_EQ(q.height(), 30);
        // Borders are extended, so even the corner keeps its colour.
        for (auto [x, y] : {std::pair{0, 0}, {39, 29}, {20, 15}})
            expectPixel(q, {90, 160, 30}, x, y);
    }

    // An edge: blur softens it, sharpening steepens it (luma only).
    const std::string path = dir / "edge.png";
    writeImage(path, 40, 8, [](int x, int) { return x < 20 ? Rgb{60, 60, 60} : Rgb{180, 180, 180}; });
    const int before = pixel(open(path), 18, 4)[1];
    EXPECT_GT(pixel(open(path).gaussianBlur(3), 18, 4)[1], before + 5);
    const auto sharpened = pixel(open(path).sharpenLuminance(1), 18, 4);
    EXPECT_LT(sharpened[1], before - 5);
    EXPECT_EQ(sharpened[0], sharpened[2]); // grey stays grey
}

TEST_F(FilterCase, StraightenFillsEveryCornerAndKeepsSize)
{
    const std::string path = dir / "wide.png";
    writeImage(path, 96, 48, [](int x, int y) { return Rgb{static_cast<std::uint8_t>(100 + x), static_cast<std::uint8_t>(100 + y), 200}; });
    for (const float angle : {0.3f, -0.3f, 1.2f}) {
        const Picture r = open(path).straighten(angle);
        EXPECT_EQ(r.width(), 96);
        EXPECT_EQ(r.height(), 48);
        for (auto [x, y] : {std::pair{0, 0}, {95, 0}, {0, 47}, {95, 47}})
            EXPECT_GT(pixel(r, x, y)[2], 150) << angle << " corner " << x << "," << y;
    }
    // Red grows to the right, green downwards. Turned counter-clockwise, the
    // top-left corner shows a point further right on the top edge; turned
    // clockwise, one further down the left edge.
    const auto ccw = pixel(open(path).straighten(0.3f), 0, 0);
    EXPECT_GT(ccw[0], 115);
    EXPECT_NEAR(ccw[1], 100, 3);
    const auto cw = pixel(open(path).straighten(-0.3f), 0, 0);
    EXPECT_GT(cw[1], 110);
    EXPECT_LT(cw[0], ccw[0]);
}

TEST(AdjustmentChain, NeutralValuesAndTheSharpenGate)
{
    AdjustmentValues v;
    EXPECT_FALSE(anyAdjustment(v));
    v.sharpen = 0.5f; // the value alone does nothing: the gate decides
    EXPECT_FALSE(anyAdjustment(v));
    v.sharpenGate = true;
    EXPECT_TRUE(anyAdjustment(v));
    v = {};
    v.monoForced = true;
    EXPECT_TRUE(anyAdjustment(v));
    for (auto set : std::initializer_list<void (*)(AdjustmentValues&)>{
             [](AdjustmentValues& a) { a.saturation = 0.999f; }, [](AdjustmentValues& a) { a.brightness = 1e-6f; },
             [](AdjustmentValues& a) { a.contrast = 1.001f; }, [](AdjustmentValues& a) { a.exposure = -0.1f; },
             [](AdjustmentValues& a) { a.monoIntensity = 0.2f; }, [](AdjustmentValues& a) { a.sepia = 1; },
             [](AdjustmentValues& a) { a.blur = 0.5f; }, [](AdjustmentValues& a) { a.rotate = -0.01f; }}) {
        AdjustmentValues a;
        set(a);
        EXPECT_TRUE(anyAdjustment(a));
    }
}
