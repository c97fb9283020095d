#include <gtest/gtest.h>

#include "render/FrameGeometry.h"

using namespace mv;

// Frame size, scale and cut (y from the lower edge) per preset, crop and
// orientation where rounding decides; the movie tests check every crop of
// the plain cases by their pixels.
TEST(FrameGeometry, PresetsCutAlongTheLongerSideAndPercentagesDoNotCut)
{
    struct Case {
        std::uint16_t crop;
        double w, h;
        bool vertical;
        float scale;
        double W, H, cropX, cropY;
    };
    for (const Case c : {
             // 1920 / 1000 is 1.9199999 in single precision: the cut moves by one.
             Case{kCropTop, 1000, 750, false, 1.92f, 1920, 1080, 0, 359},
             {kCropMiddle, 1000, 750, false, 1.92f, 1920, 1080, 0, 179},
             // Scaled 1920 x 480 at 0.47999999: a negative cut for the letterbox.
             {kCropMiddle, 4000, 1000, false, 0.48f, 1920, 1080, 0, -301},
             {kCropMiddle, 1920, 1920, true, 1.0f, 1080, 1920, 420, 0}}) {
        JobSettings s;
        s.format = 1; // 1080p
        s.crop = c.crop;
        s.isVertical = c.vertical;
        const FrameGeometry g = computeFrameGeometry(s, c.w, c.h);
        SCOPED_TRACE(::testing::Message() << c.w << "x" << c.h << " crop " << c.crop);
        EXPECT_EQ(g.W, c.W);
        EXPECT_EQ(g.H, c.H);
        EXPECT_FLOAT_EQ(g.scale, c.scale);
        EXPECT_FLOAT_EQ(s.scale, c.scale); // written back into the settings
        EXPECT_EQ(g.cropX, c.cropX);
        EXPECT_EQ(g.cropY, c.cropY);
        EXPECT_EQ(g.applyScale, c.scale != 1.0f);
        EXPECT_TRUE(g.applyCrop);
    }

    // A percentage scales the whole picture, without a cut.
    JobSettings s;
    s.format = 0;
    s.scale = 0.333f;
    const FrameGeometry g = computeFrameGeometry(s, 1000, 750);
    EXPECT_FALSE(g.applyCrop);
    EXPECT_TRUE(g.applyScale);
    EXPECT_EQ(g.frameWidth(), 333);
    EXPECT_EQ(g.frameHeight(), 250);
}
