#include <gtest/gtest.h>

#include "render/FrameGeometry.h"

using namespace mv;

namespace {
FrameGeometry geometry(std::uint16_t format, std::uint16_t crop, double w, double h, bool vertical = false,
                       float scale = 1.0f)
{
    JobSettings s;
    s.format = format;
    s.crop = crop;
    s.isVertical = vertical;
    s.scale = scale;
    return computeFrameGeometry(s, w, h);
}
} // namespace

TEST(FrameGeometry, PresetCutsVertically)
{
    const FrameGeometry top = geometry(1, kCropTop, 3840, 2880);
    EXPECT_EQ(top.W, 1920);
    EXPECT_EQ(top.H, 1080);
    EXPECT_FLOAT_EQ(top.scale, 0.5f);
    EXPECT_EQ(top.cropX, 0);
    EXPECT_EQ(top.cropY, 360); // scaled height 1440; y is the lower edge
    EXPECT_EQ(geometry(1, kCropMiddle, 3840, 2880).cropY, 180);
    EXPECT_EQ(geometry(1, kCropBottom, 3840, 2880).cropY, 0);
    EXPECT_TRUE(top.applyScale);
    EXPECT_TRUE(top.applyCrop);
}

TEST(FrameGeometry, SinglePrecisionScaleMovesTheCutByOne)
{
    // 1920 / 1000 is stored as 1.9199999 in single precision.
    const FrameGeometry top = geometry(1, kCropTop, 1000, 750);
    EXPECT_FLOAT_EQ(top.scale, 1.92f);
    EXPECT_EQ(top.cropY, 359);
    EXPECT_EQ(geometry(1, kCropMiddle, 1000, 750).cropY, 179);
}

TEST(FrameGeometry, VerticalPresetCutsHorizontally)
{
    const FrameGeometry top = geometry(1, kCropTop, 1920, 1920, true);
    EXPECT_EQ(top.W, 1080);
    EXPECT_EQ(top.H, 1920);
    EXPECT_FLOAT_EQ(top.scale, 1.0f);
    EXPECT_FALSE(top.applyScale);
    EXPECT_EQ(top.cropX, 0);
    EXPECT_EQ(geometry(1, kCropMiddle, 1920, 1920, true).cropX, 420);
    EXPECT_EQ(geometry(1, kCropBottom, 1920, 1920, true).cropX, 840);
    EXPECT_EQ(geometry(1, kCropBottom, 1920, 1920, true).cropY, 0);
}

TEST(FrameGeometry, PercentageHasNoCut)
{
    const FrameGeometry g = geometry(0, kCropTop, 1000, 750, false, 0.5f);
    EXPECT_EQ(g.W, 500);
    EXPECT_EQ(g.H, 375);
    EXPECT_FALSE(g.applyCrop);
    EXPECT_TRUE(g.applyScale);
    EXPECT_EQ(g.frameWidth(), 500);
    EXPECT_EQ(g.frameHeight(), 375);
    const FrameGeometry odd = geometry(0, kCropMiddle, 1000, 750, false, 0.333f);
    EXPECT_EQ(odd.frameWidth(), 333);
    EXPECT_EQ(odd.frameHeight(), 250);
}

TEST(FrameGeometry, ScaleIsWrittenBackIntoTheSettings)
{
    JobSettings s;
    s.format = 2; // 1280 x 720
    s.scale = 6.0f;
    computeFrameGeometry(s, 2560, 1440);
    EXPECT_FLOAT_EQ(s.scale, 0.5f);
}

TEST(FrameGeometry, WideImageLeavesNegativeCutForLetterbox)
{
    // 4000 x 1000 at 1080p: scaled 1920 x 480, smaller than the frame; the
    // single-precision scale (0.47999999) puts the cut at -301, not -300.
    const FrameGeometry g = geometry(1, kCropMiddle, 4000, 1000);
    EXPECT_EQ(g.cropY, -301);
}
