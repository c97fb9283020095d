#include <gtest/gtest.h>

#include "render/RunTexts.h"
#include "settings/JobSettings.h"

using namespace mv;

TEST(JobSettings, FrameRateIsClampedAndShown)
{
    JobSettings s;
    // A text field reads the leading number.
    for (auto [text, fps] : {std::pair{"0", 0.01f}, {"-5", 0.01f}, {"abc", 0.01f}, {"", 0.01f}, {"1000", 600.0f},
                             {"12fps", 12.0f}, {"29.97", 29.97f}}) {
        s.enterFPS(text);
        EXPECT_FLOAT_EQ(s.mvFPS, fps) << text;
    }
    EXPECT_EQ(s.fpsText(), "29.97");
    s.enterFPS("30.0");
    EXPECT_EQ(s.fpsText(), "30");
}

TEST(JobSettings, ScaleComboTakesPresetsOrClampedPercentages)
{
    JobSettings s;
    s.chooseScale(-1, "200%");
    EXPECT_EQ(s.format, 0);
    EXPECT_FLOAT_EQ(s.scale, 1.5f);
    s.chooseScale(-1, "1%");
    EXPECT_FLOAT_EQ(s.scale, 0.05f);
    s.chooseScale(-1, "75");
    EXPECT_FLOAT_EQ(s.scale, 0.75f);
    EXPECT_EQ(s.scaleText(), "75.0%");
    s.chooseScale(7, "");
    EXPECT_EQ(s.format, 2);
    EXPECT_FLOAT_EQ(s.scale, 0.75f); // untouched by a preset
    EXPECT_EQ(s.presetSize(), std::make_pair(1280, 720));
    s.chooseScale(20, "");
    EXPECT_EQ(s.format, 15);
    s.isVertical = true;
    EXPECT_EQ(s.presetSize(), std::make_pair(2160, 4096));
}

TEST(JobSettings, RateWithOptionKeyBecomesDuplicates)
{
    JobSettings s;
    s.enterRate("3", true);
    EXPECT_EQ(s.dupImages, 3);
    EXPECT_EQ(s.rate, 1);
    s.enterRate("3", false);
    EXPECT_EQ(s.rate, 3);
    EXPECT_EQ(s.dupImages, 1);
    s.enterRate("0", false); // 0 would never advance the list
    EXPECT_EQ(s.rate, 1);
    s.enterRate("65537", false); // 16-bit field
    EXPECT_EQ(s.rate, 1);
}

TEST(JobSettings, SmoothingOptionsExcludeEachOther)
{
    JobSettings s;
    s.isTweening = s.isMotionBlur = true; // as stored preferences may hold them
    s.setMotionBlur(true);
    EXPECT_FALSE(s.isTweening);
    s.setTweening(true);
    EXPECT_FALSE(s.isMotionBlur);
    EXPECT_TRUE(s.isTweening);
}

TEST(TimeTexts, TimesOfDayLengthsAndTimeLeft)
{
    EXPECT_EQ(timeText(7.5f), "7:30:00");
    EXPECT_EQ(timeText(7.9999f), "8:00:00");
    EXPECT_EQ(timeText(0.0f), "0:00:00");
    EXPECT_FLOAT_EQ(parseTime("7:30"), 7.5f);
    EXPECT_NEAR(parseTime("7:30:36"), 7.51f, 1e-5);
    EXPECT_FLOAT_EQ(parseTime(""), 0.0f);
    EXPECT_FLOAT_EQ(parseTime("30"), 30.0f); // no upper limit
    EXPECT_FLOAT_EQ(parseTime("1:30:00:99"), 1.5f);
    // Fewer than 10 appended and more than expected: LoopControls tests the clock built on this.
    EXPECT_EQ(timeLeftText("Time Left:", 10.0, 10, 10), "Time Left: 1s");
    EXPECT_EQ(timeLeftText("Time Left:", 36.0, 10, 1010), "Time Left: 1h 0m 1s");
    EXPECT_EQ(lengthText(95.5f), " (1:35.5)");
    EXPECT_EQ(lengthText(3725.3f), " (1:2:5.3)");
    EXPECT_EQ(lengthText(0.5f), " (0:0.5)");
}

TEST(RunTexts, FrameDurationsAndTimeScales)
{
    struct Case {
        float fps;
        long value;
        int scale;
        int movieScale;
    };
    for (const Case c : {Case{30, 20, 600, 0}, {25, 24, 600, 0}, {24, 25, 600, 0}, {7, 85, 600, 0},
                         {29.97f, 1001, 30000, 30000}, {59.94f, 100, 5994, 5994}, {600, 1, 600, 0},
                         {0.01f, 60000, 600, 0}}) {
        const FrameTiming t = frameTiming(c.fps, false);
        EXPECT_EQ(t.duration.value, c.value) << c.fps;
        EXPECT_EQ(t.duration.scale, c.scale) << c.fps;
        EXPECT_EQ(t.movieTimeScale, c.movieScale) << c.fps;
    }
    EXPECT_EQ(frameTiming(30, true).duration.value, 1001); // variable frame rate
    EXPECT_EQ(frameTiming(30, true).movieTimeScale, 30000);
}

// Each codec's type shows in the movies' codec names (MovieFixture); a code
// no codec has falls back to JPEG at normal quality.
TEST(RunTexts, UnknownCodecAndQualityFallBack)
{
    JobSettings s;
    for (std::uint16_t code : {0, 9}) {
        s.codec = code;
        s.quality = code;
        EXPECT_EQ(movieAttributes(s).codecType, "jpeg") << code;
        EXPECT_EQ(movieAttributes(s).quality, 512) << code;
    }
}
