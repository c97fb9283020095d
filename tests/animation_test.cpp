#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "TestSupport.h"
#include "animation/CropWindow.h"
#include "render/RunningValues.h"

using namespace mv;
using namespace mvtest;

namespace {

struct Editor : ::testing::Test {
    JobSettings settings;
    RecordingPorts ports;
    CropViewState view;
    CropWindow window{settings, ports, view};

    Editor()
    {
        settings.numListImages = 100;
        view.frame = {0, 0, 400, 300};
        view.cropRect = {0, 0, 400, 300};
        window.createCropWindow();
    }

    // Enter at image `frame` with the given rectangle.
    bool enter(std::uint32_t frame, Rect rect = {0, 0, 400, 300})
    {
        window.frame = frame;
        view.cropRect = rect;
        return window.enterButtonAction();
    }
};

} // namespace

TEST_F(Editor, FirstEnterMustBeAtTheFirstImageAndFramesMustAdvance)
{
    EXPECT_FALSE(enter(1));
    EXPECT_EQ(ports.lastAlert(), "Frame Error. / First enter must be at frame 1.");
    EXPECT_TRUE(window.frameArray().empty());
    EXPECT_FALSE(window.isAnimation());

    EXPECT_TRUE(enter(0));
    EXPECT_TRUE(window.isAnimation());
    EXPECT_EQ(window.frameTotal(), 0);
    EXPECT_FALSE(enter(0));
    EXPECT_EQ(ports.alerts().back().message, "Frames must advance for each enter.");
    EXPECT_EQ(window.frameArray().size(), 1u);
    EXPECT_EQ(window.rectArray(), std::vector<std::string>{"{{0, 0}, {400, 300}}"});
    EXPECT_EQ(window.fNumArray(), std::vector<std::string>{"1"});
}

TEST_F(Editor, KeyframesSnapToTheRateGrid)
{
    struct Case {
        std::uint16_t step;
        std::uint32_t n, frame, snapped;
    };
    for (const Case c : {Case{4, 100, 5, 4}, {4, 100, 6, 4}, {4, 100, 7, 8}, {3, 100, 4, 3}, {3, 100, 5, 3},
                         {2, 100, 3, 2}, {4, 7, 6, 6}, {1, 100, 37, 37}}) {
        settings.numListImages = c.n;
        settings.rate = c.step;
        window.createCropWindow();
        ASSERT_TRUE(enter(0));
        ASSERT_TRUE(enter(c.frame)) << c.step << " " << c.frame;
        EXPECT_EQ(window.frameArray().back().frame, c.snapped) << "step " << c.step << " frame " << c.frame;
        EXPECT_EQ(window.fNumArray().back(), std::to_string(c.snapped + 1));
    }
}

// A keyframe that snaps back onto the last one adds nothing; the total
// counts each span at its rate.
TEST_F(Editor, FrameTotalFollowsSpansAndRates)
{
    settings.rate = 2;
    window.createCropWindow();
    ASSERT_TRUE(enter(0));
    ASSERT_TRUE(enter(10));
    EXPECT_FALSE(enter(11)); // snaps back to 10
    EXPECT_EQ(ports.alerts().back().title, "Frame Error.");
    EXPECT_EQ(window.frameArray().size(), 2u);
    EXPECT_EQ(window.frameTotal(), 5 + 45);
    for (const frameS& k : window.frameArray())
        EXPECT_TRUE(std::isfinite(k.deltaX) && std::isfinite(k.deltaW) && std::isfinite(k.deltaS));
    EXPECT_TRUE(enter(12));

    // A rate change applies from the keyframe entered after it.
    settings.rate = 1;
    window.createCropWindow();
    ASSERT_TRUE(enter(0));
    window.setRateSkip(3);
    EXPECT_TRUE(window.isRateChange());
    ASSERT_TRUE(enter(30)); // segment 0-30 at rate 1, then rate 3
    EXPECT_EQ(window.frameArray()[1].rate, 3);
    EXPECT_EQ(window.frameTotal(), 30 + 70 / 3);
    ASSERT_TRUE(enter(60));
    EXPECT_EQ(window.frameTotal(), 30 + 10 + 40 / 3);
    window.setRateSkip(0);
    EXPECT_EQ(window.rateSkip(), 1); // never 0
}

TEST_F(Editor, StepsAreTheDifferencePerOutputFrame)
{
    settings.saturation = 1.5f;
    ASSERT_TRUE(enter(0, {0, 0, 400, 300}));
    ASSERT_TRUE(enter(20, {0, 0, 400, 300}));
    const frameS same = window.frameArray()[1];
    for (float d : {same.deltaX, same.deltaY, same.deltaW, same.deltaS, same.deltaB, same.deltaC, same.deltaT,
                    same.deltaE, same.deltaP, same.deltaR, same.deltaF, same.deltaMI, same.deltaMR, same.deltaMG,
                    same.deltaMB})
        EXPECT_EQ(d, 0.0f);

    settings.saturation = 0.5f;
    settings.ciColor = {1, 0.5f, 0};
    window.sliderFPS = 10;
    ASSERT_TRUE(enter(40, {40, 20, 200, 150}));
    const frameS k = window.frameArray()[2];
    EXPECT_FLOAT_EQ(k.deltaX, 2.0f);
    EXPECT_FLOAT_EQ(k.deltaY, 1.0f);
    EXPECT_FLOAT_EQ(k.deltaW, -10.0f);
    EXPECT_FLOAT_EQ(k.deltaS, -0.05f);
    EXPECT_FLOAT_EQ(k.deltaMG, -0.025f);
    EXPECT_FLOAT_EQ(k.deltaF, -1.0f);

    settings.isVertical = true; // now the heights give the zoom step
    ASSERT_TRUE(enter(60, {40, 20, 300, 50}));
    EXPECT_FLOAT_EQ(window.frameArray()[3].deltaW, -5.0f);
}

// The frame loop's values over spans of thousands of images: each lands
// exactly on its keyframe's image (a blur that fades out ends at 0, never a
// little below, which the filter would refuse), stays between its two
// keyframes on the way, and holds after the last.
TEST(KeyframeValues, EveryValueLandsExactlyOnItsKeyframe)
{
    auto key = [](std::uint32_t frame, float base, std::uint16_t rate) {
        frameS k;
        k.frame = frame;
        k.rate = rate;
        k.rect = {base * 3, base * 5, 400 - base * 7, 300 - base * 11};
        float* values[] = {&k.saturation, &k.brightness, &k.contrast,  &k.sepiaIntensity, &k.exposureEV,
                           &k.blurRadius, &k.rotateAngle, &k.fps,      &k.monoIntensity,  &k.monoRed,
                           &k.monoGreen,  &k.monoBlue};
        for (std::size_t i = 0; i < std::size(values); ++i)
            *values[i] = base * 0.1f * float(i + 1) - 0.3f;
        return k;
    };
    auto fields = [](const RunningValues& v) {
        return std::array<float, 15>{v.rawX, v.rawY, v.rawW, v.rawS, v.rawB, v.rawC, v.rawT, v.rawE,
                                     v.rawP, v.rawR, v.rawMI, v.rawMR, v.rawMG, v.rawMB, v.rawF};
    };
    for (const bool vertical : {false, true}) {
        SCOPED_TRACE(vertical);
        std::vector<frameS> keys{key(0, 1.7f, 1), key(4000, 0.3f, 3), key(9001, 2.9f, 2)};
        keys[0].blurRadius = 1;
        keys[1].blurRadius = 0;
        keys[2].blurRadius = 0;
        KeyframeStepper stepper(keys, vertical);
        RunningValues v;
        std::uint16_t rate = keys[0].rate;
        std::size_t reached = 0, k = 0;
        for (std::uint32_t index = 0; index < 12000; index += rate) {
            stepper.step(index, v, rate);
            ASSERT_GE(v.rawP, 0.0f) << index;
            while (k + 1 < keys.size() && index >= keys[k + 1].frame)
                ++k;
            const auto here = fields(keyframeValues(keys[k], vertical));
            if (index == keys[k].frame) {
                EXPECT_EQ(fields(v), here) << index;
                EXPECT_EQ(rate, keys[k].rate);
                ++reached;
            } else if (k + 1 < keys.size()) {
                const auto next = fields(keyframeValues(keys[k + 1], vertical));
                for (std::size_t i = 0; i < here.size(); ++i)
                    ASSERT_TRUE(fields(v)[i] >= std::min(here[i], next[i]) && fields(v)[i] <= std::max(here[i], next[i]))
                        << "value " << i << " at image " << index;
            } else {
                EXPECT_EQ(fields(v), here) << index;
            }
        }
        EXPECT_EQ(reached, keys.size());
    }
}

// The editor's rectangle for the movie at an image: the keyframe's own at
// a keyframe, between them on the way, held after the last, in their shape.
TEST(KeyframeValues, TheMoviesRectangleBetweenKeyframes)
{
    frameS a, b;
    a.rect = {0, 0, 400, 300};
    b.frame = 40;
    b.rect = {100, 60, 200, 150};
    const std::vector<frameS> keys{a, b};
    EXPECT_EQ(keyframedRect(keys, 0, false), a.rect);
    EXPECT_EQ(keyframedRect(keys, 10, false), (Rect{25, 15, 350, 262.5}));
    EXPECT_EQ(keyframedRect(keys, 10, true), (Rect{25, 15, 350, 262.5}));
    EXPECT_EQ(keyframedRect(keys, 40, false), b.rect);
    EXPECT_EQ(keyframedRect(keys, 90, false), b.rect);
    EXPECT_EQ(keyframedRect({a}, 5, false), a.rect);
    EXPECT_EQ(keyframedRect({}, 5, false), Rect{});
}
