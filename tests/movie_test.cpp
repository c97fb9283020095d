#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "RunFixture.h"

using namespace mv;
using namespace mvtest;
namespace fs = std::filesystem;

namespace {

Pattern solid(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return [=](int, int) { return Rgb{r, g, b}; };
}

struct MovieFixture : RunFixture {
    MovieFixture()
    {
        settings.format = 0; // frames the size of the images unless a test says otherwise
        settings.scale = 1.0f;
    }

    // Lists the files and makes the movie, waiting for the worker: its path.
    std::string make(const std::vector<std::string>& files, const std::string& name = "movie.mov")
    {
        ports.nextChoice = files;
        list.selectFiles();
        EXPECT_TRUE(startMovie(name));
        run->waitForWorker();
        return run->outputPath();
    }

    // Makes the movie of what is listed, waiting for the worker: whether it
    // was written.
    bool makeListed(const std::string& name = "movie.mov", unsigned threads = 0)
    {
        if (!startMovie(name, threads))
            return false;
        run->waitForWorker();
        return run->wasWritten();
    }

    // img-i.EXT of one colour each, red i * 20.
    std::vector<std::string> images(int n, int w, int h, const std::string& ext = "png")
    {
        return writeImages(dir.path(), n, w, h, ext, "img",
                           [](int i) { return solid(std::uint8_t(i * 20), 100, std::uint8_t(250 - i * 20)); });
    }
};

} // namespace

// Every codec with its time base and durations, at an odd frame size (33 x
// 25), which the 4:2:0 codecs round up to even and which must still play.
TEST_F(MovieFixture, EachCodecWithItsTimeBaseDurationsAndOddSizes)
{
    struct Case {
        std::uint16_t codec;
        const char* codecName;
        const char* fps;
        const char* timeBase;
        long duration;
        bool even;
    };
    const std::vector<std::string> files = {dir / "a.jpg", dir / "b.png", dir / "c.tif", dir / "d.jpg"};
    for (const auto& f : files)
        writeImage(f, 66, 50);
    settings.scale = 0.5f;
    int n = 0;
    for (const Case c : {Case{kCodecJPEG, "mjpeg", "30", "1/600", 20, false},
                         {kCodecH264, "h264", "25", "1/600", 24, true},
                         {kCodecTIFF, "tiff", "7", "1/600", 85, false},
                         {kCodecMP4, "mpeg4", "29.97", "1/30000", 1001, true},
                         {kCodecAnimation, "qtrle", "59.94", "1/5994", 100, false}}) {
        SCOPED_TRACE(c.codecName);
        settings.codec = c.codec;
        settings.enterFPS(c.fps);
        list.clearList();
        const std::string movie = make(files, "movie" + std::to_string(n++) + ".mov");
        ASSERT_TRUE(run->wasWritten());
        const auto info = probeStream(movie);
        EXPECT_EQ(info.at("codec_name"), c.codecName);
        EXPECT_EQ(info.at("time_base"), c.timeBase);
        EXPECT_EQ(info.at("width") + "x" + info.at("height"), c.even ? "34x26" : "33x25");
        EXPECT_EQ(packetDurations(movie), std::vector<long>(4, c.duration)); // the last frame keeps its length
        EXPECT_EQ(mvtest::run("ffmpeg -v error -i " + quote(movie) + " -f null -").status, 0);
    }
    EXPECT_EQ(sounds, 5);
}

TEST_F(MovieFixture, RateSkipsImagesAndDuplicatesRepeatThem)
{
    settings.codec = kCodecTIFF;
    settings.rate = 3;
    const auto files = images(10, 32, 24);
    auto frames = decodeFrames(make(files), 32, 24);
    ASSERT_EQ(frames.size(), 4u); // images 0, 3, 6, 9
    EXPECT_EQ(frames[1][0], 60);  // red of image 3
    EXPECT_EQ(frames[3][0], 180); // red of image 9
    EXPECT_EQ(run->actualImages(), 4u);

    settings.rate = 1;
    settings.dupImages = 3;
    list.clearList();
    frames = decodeFrames(make({files[0], files[1]}, "dup.mov"), 32, 24);
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[0], frames[2]);
    EXPECT_NE(frames[2], frames[3]);
    EXPECT_EQ(frames[3], frames[5]);
    EXPECT_EQ(run->actualImages(), 2u); // a picture counts once however often it stands
}

// A preset's frame is the picture scaled with Lanczos to cover it and cut
// along the longer side as the crop says.
TEST_F(MovieFixture, PresetFramesAreScaledAndCutLikeTheReference)
{
    writeImage(dir / "big.tif", 3840, 2880);
    writeImage(dir / "square.png", 1920, 1920);
    settings.format = 1;
    struct Case {
        const char* src;
        bool vertical;
        std::uint16_t crop;
        int scaledW, scaledH, left, top; // y down
        int maxDiff;                     // only the two Lanczos implementations differ; none when unscaled
    };
    std::vector<std::vector<std::uint8_t>> cuts;
    for (const Case c : {Case{"big.tif", false, kCropTop, 1920, 1440, 0, 0, 6},
                         {"big.tif", false, kCropMiddle, 1920, 1440, 0, 180, 6},
                         {"big.tif", false, kCropBottom, 1920, 1440, 0, 360, 6},
                         {"square.png", true, kCropTop, 1920, 1920, 0, 0, 0},
                         {"square.png", true, kCropMiddle, 1920, 1920, 420, 0, 0},
                         {"square.png", true, kCropBottom, 1920, 1920, 840, 0, 0}}) {
        SCOPED_TRACE(::testing::Message() << c.src << " crop " << c.crop);
        settings.crop = c.crop;
        settings.isVertical = c.vertical;
        settings.codec = c.vertical ? kCodecAnimation : kCodecTIFF; // lossless
        list.clearList();
        const std::string movie = make({dir / c.src, dir / c.src}, "cut" + std::to_string(cuts.size()) + ".mov");
        const int w = c.vertical ? 1080 : 1920, h = c.vertical ? 1920 : 1080;
        const auto decoded = decodeFrames(movie, w, h);
        ASSERT_EQ(decoded.size(), 2u);
        const auto expected = referenceFrame(dir / c.src, c.scaledW, c.scaledH, c.left, c.top, w, h);
        EXPECT_LT(meanAbsDiff(decoded[1], expected), 0.5);
        EXPECT_LE(maxAbsDiff(decoded[1], expected), c.maxDiff);
        cuts.push_back(decoded[1]);
    }
    // The cuts differ clearly, so a wrong offset cannot pass.
    for (std::size_t i : {0, 1, 3, 4})
        EXPECT_GT(meanAbsDiff(cuts[i], cuts[i + 1]), 10.0) << i;
}

TEST_F(MovieFixture, LossyCodecsStayCloseToTheSource)
{
    const std::string src = dir / "photo.png";
    writeImage(src, 640, 480);
    settings.scale = 0.5f;
    settings.quality = kQualityHigh;
    const auto expected = referenceFrame(src, 320, 240, 0, 0, 320, 240);
    for (const auto codec : {kCodecJPEG, kCodecH264, kCodecMP4}) {
        settings.codec = codec;
        list.clearList();
        const auto decoded = decodeFrames(make({src, src}, "lossy" + std::to_string(codec) + ".mov"), 320, 240);
        ASSERT_EQ(decoded.size(), 2u) << codec;
        EXPECT_LT(meanAbsDiff(decoded[0], expected), 3.0) << codec;
    }
}

TEST_F(MovieFixture, UnreadableFirstImageLeavesNoMovie)
{
    auto files = images(3, 16, 16);
    std::ofstream(files[0], std::ios::trunc) << "garbage";
    settings.isSkipVerify = true;
    make(files);
    EXPECT_FALSE(fs::exists(dir / "movie.mov"));
    EXPECT_FALSE(run->wasWritten());
    EXPECT_EQ(ports.alerts().size(), 1u);
    EXPECT_EQ(ports.lastAlert(), "Can not process the first image / You can not create a movie from this image list.");
    EXPECT_EQ(list.fileCount(), 0u);
    EXPECT_EQ(ports.numList, 0u);
    EXPECT_EQ(ports.statusTexts().back(), "Create movie error");
    EXPECT_EQ(sounds, 0);
}

TEST_F(MovieFixture, StopFromAnotherThreadKeepsAFinishedMovie)
{
    settings.codec = kCodecH264;
    const auto files = images(60, 320, 240);
    list.processImageList(files);
    // Stop pressed while the window, behind the run, still showed the sixth
    // image: the movie ends with it, although twelve were written.
    std::thread stopper;
    ports.onLabel = [&](const std::string& label) {
        if (label.rfind("(12/60) ", 0) != 0)
            return;
        stopper = std::thread([&] { run->stopMovie(5); });
        while (!run->isStopping() && run->isCreatingMovie())
            std::this_thread::yield();
    };
    ASSERT_TRUE(startMovie("movie.mov"));
    run->waitForWorker();
    ASSERT_TRUE(stopper.joinable());
    stopper.join(); // the stop writes the movie on its own thread
    ASSERT_TRUE(run->wasWritten());
    EXPECT_EQ(probeStream(run->outputPath()).at("nb_read_packets"), "6");
    EXPECT_EQ(run->actualImages(), 6u);
    EXPECT_EQ(ports.statusTexts().back().rfind("Complete (0:", 0), 0u);
    EXPECT_TRUE(ports.alerts().empty()); // no end-of-run alerts after a stop
    EXPECT_EQ(sounds, 1);
}

TEST_F(MovieFixture, RefusalsLeaveNothingBehind)
{
    const auto files = images(2, 16, 16);
    list.processImageList({files[0]});
    EXPECT_FALSE(startMovie("one.mov"));
    EXPECT_EQ(ports.alerts().back().title, "No images selected.");

    list.processImageList({files[1]});
    EXPECT_FALSE(startMovie("no-such-folder/movie.mov"));
    EXPECT_EQ(ports.alerts().back().title, "Create movie error");
    EXPECT_NE(ports.alerts().back().message.find("could not be created"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "one.mov"));
    EXPECT_FALSE(run->isCreatingMovie());
}

TEST_F(MovieFixture, ExistingMovieGetsANumberedSibling)
{
    const auto files = images(2, 16, 16);
    settings.codec = kCodecTIFF;
    const std::string first = make(files);
    const std::string bytes = readFile(first);
    EXPECT_EQ(make(files), dir / "movie-1.mov");
    EXPECT_EQ(make(files), dir / "movie-2.mov");
    EXPECT_EQ(readFile(first), bytes);

    run = std::make_unique<MovieRun>(settings, list, ports, ports);
    run->moviePath = first;
    run->overwriteMovie = true; // the user agreed to replace it
    ASSERT_TRUE(run->createCommand());
    run->waitForWorker();
    EXPECT_EQ(run->outputPath(), first);
    EXPECT_FALSE(run->overwriteMovie);
}

TEST_F(MovieFixture, NeutralAdjustmentsLeaveTheFrameOnTheScaleAndCropPath)
{
    const std::string src = dir / "photo.png";
    writeImage(src, 320, 240);
    settings.format = 4; // QVGA: scale and crop, nothing else
    settings.codec = kCodecTIFF;
    const std::string plain = readFile(make({src, src}, "plain.mov"));

    settings.sharpenValue = 0.005f; // below the sharpen gate
    settings.saturation = 1.0f;
    settings.contrast = 1.0f;
    list.clearList();
    EXPECT_EQ(readFile(make({src, src}, "neutral.mov")), plain);

    settings.brightness = 0.02f;
    list.clearList();
    EXPECT_NE(readFile(make({src, src}, "brighter.mov")), plain);
}

TEST_F(MovieFixture, KeyframesPanZoomAndChangeRateAsEntered)
{
    const std::string src = dir / "pattern.png";
    writeImage(src, 400, 300);
    std::vector<std::string> files;
    for (int i = 0; i < 90; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "img-%02d.png", i);
        fs::create_symlink(src, dir / name);
        files.push_back(dir / name);
    }
    list.processImageList(files);
    settings.scale = 0.5f; // frames of 200 x 150
    settings.codec = kCodecTIFF;
    settings.crop = kCropCustom;

    // The preview shows the whole image at one unit per pixel.
    view.frame = view.srcRect = {0, 0, 400, 300};
    editor.animFile = dir / "anim.txt";
    editor.createCropWindow();
    auto enter = [&](std::uint32_t frame, Rect rect) {
        editor.frame = frame;
        view.cropRect = rect;
        ASSERT_TRUE(editor.enterButtonAction());
    };
    enter(0, {0, 0, 400, 300});
    editor.setRateSkip(3);
    enter(30, {100, 75, 200, 150});
    enter(60, {50, 50, 300, 225});
    ASSERT_EQ(editor.frameTotal(), 30 + 10 + 10);

    settings.isSaveAnim = true; // keyframes from the editor get their copy beside the movie
    ASSERT_TRUE(makeListed());
    EXPECT_EQ(readFile(dir / "movie.txt"), readFile(editor.animFile));
    const auto frames = decodeFrames(run->outputPath(), 200, 150);
    ASSERT_EQ(frames.size(), std::size_t(editor.frameTotal()));

    // A frame matches the keyframe's cut when some offset within a pixel of
    // it (float rounding before the floor) reproduces it.
    auto matches = [&](const std::vector<std::uint8_t>& frame, int scaledW, int scaledH, int left, int top) {
        double best = 1e9;
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                best = std::min(best, meanAbsDiff(frame, referenceFrame(src, scaledW, scaledH, left + dx, top + dy, 200, 150)));
        return best;
    };
    // Each keyframe's image shows exactly its cut: image 0 the whole picture,
    // image 30 (frame 30) keyframe 1, zoom 1.0 at (100, 75), and image 60
    // (frame 40, at rate 3) keyframe 2, zoom 2/3 (267 x 200) at (33, 33), y up.
    EXPECT_LT(matches(frames[0], 200, 150, 0, 0), 0.5);
    EXPECT_LT(matches(frames[30], 400, 300, 100, 300 - 75 - 150), 0.5);
    EXPECT_LT(matches(frames[40], 267, 200, 33, 200 - 33 - 150), 0.6);
    EXPECT_GT(meanAbsDiff(frames[1], frames[0]), 0.1); // and moves on at once
    EXPECT_EQ(frames[40], frames[49]); // held after the last keyframe
    EXPECT_EQ(run->runningValues().rawW, float(editor.frameArray()[2].rect.width));

    // The animation file that the editor wrote makes the same movie.
    CropWindow reader(settings, ports, view);
    ASSERT_TRUE(reader.readAnimFile(editor.animFile));
    reader.setReadAnim();
    run = std::make_unique<MovieRun>(settings, list, ports, ports);
    run->setAnimationEditor(&reader, &view);
    run->moviePath = dir / "from-file.mov";
    ASSERT_TRUE(run->createCommand());
    run->waitForWorker();
    ASSERT_TRUE(run->wasWritten());
    EXPECT_EQ(decodeFrames(run->outputPath(), 200, 150), frames);
    EXPECT_FALSE(fs::exists(dir / "from-file.txt")); // a read file is not copied
}

TEST_F(MovieFixture, TintColourIsTakenOverWhereTheTintFadesOut)
{
    const auto files = images(4, 16, 16);
    list.processImageList(files);
    settings.crop = kCropCustom;
    settings.codec = kCodecTIFF;
    view.frame = view.cropRect = {0, 0, 16, 16};
    editor.createCropWindow();
    settings.monoIntensity = 0.5f;
    settings.ciColor = {1, 0, 0};
    ASSERT_TRUE(editor.enterButtonAction());
    settings.monoIntensity = 0;
    settings.ciColor = {0, 0, 1};
    editor.frame = 2;
    ASSERT_TRUE(editor.enterButtonAction());
    settings.ciColor = {0.5f, 0.5f, 0.5f}; // the window's colour when the movie starts
    ASSERT_TRUE(makeListed());
    // Intensity 0.5 at image 0, exactly 0 at image 2: there the keyframed
    // colour (0, 0, 1) becomes the tint colour.
    EXPECT_EQ(settings.ciColor.red, 0.0f);
    EXPECT_EQ(settings.ciColor.blue, 1.0f);
}

// However many render threads run ahead of the encoder, the same frames
// come out; here for frames that go from the JPEG decoder's planes straight
// to a 4:2:0 encoder: a keyframed pan and zoom, so that the cut's corner is odd
// and even.
TEST_F(MovieFixture, AnyNumberOfRenderThreadsMakesTheSameFramesFromJpegPlanes)
{
    list.processImageList(writeImages(dir.path(), 8, 240, 180, "jpg"));
    settings.scale = 0.5f;
    settings.codec = kCodecH264;
    settings.crop = kCropCustom;
    view.frame = view.srcRect = {0, 0, 240, 180};
    editor.animFile = dir / "anim.txt";
    editor.createCropWindow();
    view.cropRect = {0, 0, 240, 180};
    ASSERT_TRUE(editor.enterButtonAction());
    editor.frame = 7;
    view.cropRect = {21, 13, 200, 150};
    ASSERT_TRUE(editor.enterButtonAction());

    std::vector<std::vector<std::vector<std::uint8_t>>> movies;
    for (unsigned threads : {1u, 3u}) {
        ASSERT_TRUE(makeListed("threads" + std::to_string(threads) + ".mov", threads));
        movies.push_back(decodeFrames(run->outputPath(), 120, 90));
    }
    ASSERT_EQ(movies[0].size(), 8u);
    EXPECT_TRUE(movies[0] == movies[1]);
    EXPECT_NE(movies[0][0], movies[0][7]);
    EXPECT_EQ(probeStream(run->outputPath())["color_space"], "smpte170m");
}
