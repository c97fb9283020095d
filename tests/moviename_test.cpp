#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "render/MovieRun.h"
#include "settings/MovieName.h"

using namespace mv;
using namespace mvtest;

TEST(MovieName, TokensAndFormats)
{
    struct Case {
        float fps;
        std::uint16_t format;
        float scale;
        std::uint16_t codec, quality, rate;
        bool variableFps, rateChanges;
        const char* name;
    };
    for (const Case c : {Case{30, 1, 1, kCodecH264, kQualityNormal, 1, false, false, "MV(30,1080p,H264,Norm,1X)"},
                         {29.97f, 0, 0.5f, kCodecAnimation, kQualityLossless, 1, false, true,
                          "MV(29.97,50%,Anim,NLoss,~X)"},
                         {12.5f, 0, 0.333f, 0, 0, 3, false, false, "MV(12.50,33.30%,JPEG,Norm,3X)"},
                         {0, 0, 0.3333f, 0, 0, 3, false, false, "MV(0.01,33.33%,JPEG,Norm,3X)"},
                         {0, 15, 1, 0, 0, 3, true, false, "MV(~FPS,F4096X2160,JPEG,Norm,3X)"},
                         {0, 15, 1, 0, 0, 3, true, true, "MV(~FPS,F4096X2160,JPEG,Norm,~X)"},
                         {25, 1, 1, kCodecHEVC, kQualityHigh, 1, false, false, "MV(25,1080p,HEVC,High,1X)"},
                         {25, 1, 1, kCodecProRes, kQualityMax, 1, false, false, "MV(25,1080p,ProRes,Max,1X)"},
                         {25, 1, 1, kCodecAV1, kQualityLow, 1, false, false, "MV(25,1080p,AV1,Low,1X)"}}) {
        JobSettings s;
        s.mvFPS = c.fps;
        s.format = c.format;
        s.scale = c.scale;
        s.codec = c.codec;
        s.quality = c.quality;
        s.rate = c.rate;
        s.isVariableFPS = c.variableFps;
        EXPECT_EQ(defaultMovieName(s, c.rateChanges), c.name);
    }
}

TEST(MovieLength, KeyframesTweeningAndPlainRate)
{
    JobSettings s;
    s.numListImages = 100;
    s.mvFPS = 10;
    EXPECT_EQ(calcMovieLength(s, {{0, 1}, {29, 1}, {59, 2}}), "Length:  0m 8.5s");
    EXPECT_FLOAT_EQ(s.durationSec, 8.5f);

    s.numListImages = 10;
    s.isTweening = true;
    s.tweenFrames = 2;
    s.mvFPS = 1;
    EXPECT_FLOAT_EQ(movieLengthSeconds(s, {}), 28.0f); // 3 * 10 - 2 frames
    s.isTweening = false;
    s.numListImages = 7200;
    s.rate = 2;
    EXPECT_EQ(calcMovieLength(s, {{0, 1}}), "Length:  1h 0m 0.0s"); // one keyframe: the plain rate

    // No images with tweening on would be -2 frames.
    s.numListImages = 0;
    s.isTweening = true;
    EXPECT_EQ(calcMovieLength(s, {}), "Length:  0m 0.0s");
    EXPECT_EQ(s.durationHour, 0);
}

TEST(MovieName, SaveDialogIsAskedOnceAndCanBeCancelled)
{
    TempDir dir;
    JobSettings settings;
    RecordingPorts ports;
    VerifyList verify;
    ImagesList list(settings, ports, ports, ports, ports, verify);
    MovieRun run(settings, list, ports, ports);
    settings.format = 3;
    settings.mvFPS = 25;

    EXPECT_FALSE(run.setMovieName(ports)); // cancelled
    EXPECT_FALSE(run.hasMovieName);
    EXPECT_EQ(ports.saveProposals.back(), "Movie Name|Enter the movie name.|MV(25,VGA,H264,Norm,1X).mov");

    // A name the movie's file cannot have is refused there, as on the
    // command line; the dialog is asked again next time.
    ports.nextSave = FileDialogPort::SaveChoice{dir / "Garden.jpg", false};
    EXPECT_FALSE(run.setMovieName(ports));
    EXPECT_FALSE(run.hasMovieName);
    EXPECT_EQ(ports.lastAlert(), "Create movie error / H264 movies are written as .mov or .mp4 files. Choose a "
                                 "name ending in .mov or .mp4.");

    std::ofstream(dir / "Garden.mov") << "old";
    ports.nextSave = FileDialogPort::SaveChoice{dir / "Garden.mov", true};
    EXPECT_TRUE(run.setMovieName(ports));
    EXPECT_EQ(run.moviePath, dir / "Garden.mov");
    EXPECT_EQ(run.movieName, "Garden");
    EXPECT_TRUE(run.overwriteMovie);

    const auto asked = ports.saveProposals.size();
    EXPECT_TRUE(run.setMovieName(ports)); // a name is known: no dialog
    EXPECT_EQ(ports.saveProposals.size(), asked);
    EXPECT_FALSE(run.overwriteMovie);
    // Save As proposes the settings' name again, in the last movie's folder.
    run.hasMovieName = false;
    ports.nextSave.reset();
    EXPECT_FALSE(run.setMovieName(ports));
    EXPECT_EQ(ports.saveProposals.back(),
              "Movie Name|Enter the movie name.|MV(25,VGA,H264,Norm,1X).mov in " + dir.path());
}

TEST(SetAnim, FrameRateShownAsTheFileHadItAndTooSmallAScaleIsTheWholeImage)
{
    JobSettings s;
    RecordingPorts ports;
    CropViewState view;
    CropWindow w(s, ports, view);
    w.fps = 59.939999f;
    w.format = 0;
    w.scale = 0.01f; // below the smallest size: the whole image
    setAnim(s, w);
    EXPECT_EQ(s.fpsText(), "59.94");
    EXPECT_FLOAT_EQ(s.scale, 1.0f);
}
