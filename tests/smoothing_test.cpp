#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "RunFixture.h"

using namespace mv;
using namespace mvtest;
namespace fs = std::filesystem;

namespace {

// Colours weighted in linear light, back in sRGB.
Rgb mix(const std::vector<std::pair<Rgb, double>>& parts)
{
    double r = 0, g = 0, b = 0;
    for (const auto& [c, w] : parts) {
        r += w * toLinear(c.r);
        g += w * toLinear(c.g);
        b += w * toLinear(c.b);
    }
    return {std::uint8_t(toSrgb(r)), std::uint8_t(toSrgb(g)), std::uint8_t(toSrgb(b))};
}

// Every pixel of the decoded frame within `tol` of the colour.
::testing::AssertionResult flat(const std::vector<std::uint8_t>& frame, Rgb want, int tol = 1)
{
    for (std::size_t i = 0; i + 2 < frame.size(); i += 3)
        if (std::abs(frame[i] - want.r) > tol || std::abs(frame[i + 1] - want.g) > tol ||
            std::abs(frame[i + 2] - want.b) > tol)
            return ::testing::AssertionFailure()
                   << "pixel " << i / 3 << " is " << int(frame[i]) << "," << int(frame[i + 1]) << ","
                   << int(frame[i + 2]) << ", not " << int(want.r) << "," << int(want.g) << "," << int(want.b);
    return ::testing::AssertionSuccess();
}

// Components on both sides of linear 0.5 (sRGB 188), so that a mix of the
// sRGB values shows against one in linear light.
const Rgb kColours[] = {{200, 40, 120}, {30, 230, 60}, {120, 120, 250}, {250, 10, 190}};

struct SmoothingFixture : RunFixture {
    int movies = 0;

    SmoothingFixture()
    {
        settings.format = 0;
        settings.scale = 1.0f;
        settings.codec = kCodecTIFF; // lossless: the decoded frames hold the mixed values
        settings.isSkipVerify = true; // an unreadable image reaches the frame loop
    }

    // Flat pictures of the colours (-1: an unreadable file), pN.png or as named.
    std::vector<std::string> pictures(const std::vector<int>& colours, int w = 16, int h = 12,
                                      const std::vector<std::string>& names = {})
    {
        std::vector<std::string> files;
        for (int c : colours) {
            const std::string name = names.empty() ? "p" + std::to_string(files.size()) : names[files.size()];
            files.push_back(dir / (name + ".png"));
            if (c < 0)
                std::ofstream(files.back()) << "not a picture";
            else
                writeImage(files.back(), w, h, [c](int, int) { return kColours[c]; });
        }
        return files;
    }

    // Makes the movie and gives its frames, decoded; `layers`, if any, are
    // listed as the images' overlay.
    std::vector<std::vector<std::uint8_t>> make(const std::vector<std::string>& files, unsigned threads = 2,
                                                int w = 16, int h = 12, const std::vector<std::string>& layers = {})
    {
        list.clearList();
        ports.nextChoice = files;
        list.selectFiles();
        if (!layers.empty()) {
            list.setLayerSound([] {});
            list.setIsLayerImages(true);
            ports.nextChoice = layers;
            list.selectFiles();
        }
        EXPECT_TRUE(startMovie("movie" + std::to_string(++movies) + ".mov", threads));
        run->waitForWorker();
        EXPECT_TRUE(run->wasWritten());
        return decodeFrames(run->outputPath(), w, h);
    }
};

} // namespace

TEST_F(SmoothingFixture, InBetweenFramesCrossFadeAndAreNeitherRepeatedNorCounted)
{
    const Rgb c0 = kColours[0], c1 = kColours[1], c2 = kColours[2];
    settings.setTweening(true);
    settings.tweenFrames = 3;
    auto frames = make(pictures({0, 1, 2}));
    ASSERT_EQ(frames.size(), 3u + 2 * 3);
    for (std::size_t i = 0; i < frames.size(); ++i) // image i / 4 as it is, then i % 4 quarters of the way on
        EXPECT_TRUE(flat(frames[i], mix({{kColours[i / 4], 1 - i % 4 / 4.0}, {kColours[i / 4 + 1], i % 4 / 4.0}})))
            << "frame " << i;

    // Duplicates repeat the images' own frames only; an unreadable image
    // leaves the fade going from the image before it.
    settings.tweenFrames = 1;
    settings.dupImages = 4;
    frames = make(pictures({0, 1, -1, 2}));
    ASSERT_EQ(frames.size(), 3u * 4 + 2);
    EXPECT_EQ(run->actualImages(), 3u);
    EXPECT_THAT(readFile(verify.path()), HasSubstr("Create Movie: Can not form an image from p2.png\n"));
    const Rgb want[] = {c0, c0, c0, c0, mix({{c0, 0.5}, {c1, 0.5}}), c1, c1, c1, c1, mix({{c1, 0.5}, {c2, 0.5}}),
                        c2, c2, c2, c2};
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_TRUE(flat(frames[i], want[i])) << "frame " << i;

    // A frame large enough to be mixed on two threads.
    frames = make(pictures({1, 2}, 640, 480), 2, 640, 480);
    ASSERT_EQ(frames.size(), 2u * 4 + 1);
    EXPECT_TRUE(flat(frames[4], mix({{c1, 0.5}, {c2, 0.5}})));

    // More than 10 in-between frames are held to 10, and the setting says so.
    settings.tweenFrames = 15;
    settings.dupImages = 1;
    frames = make(pictures({0, 1}));
    EXPECT_EQ(settings.tweenFrames, 10);
    ASSERT_EQ(frames.size(), 2u + 10);
    EXPECT_TRUE(flat(frames[1], mix({{c1, 1 / 11.0}, {c0, 10 / 11.0}})));
    EXPECT_TRUE(flat(frames[10], mix({{c1, 10 / 11.0}, {c0, 1 / 11.0}})));

    // An image left out by the time range (here the first listed) is not in
    // the chain: the first image used is not blended, the fade after it goes
    // to the next image used.
    settings.tweenFrames = 1;
    settings.isTimeRange = true;
    settings.fromTime = 8;
    settings.toTime = 17.5f;
    frames = make(pictures({0, 1, 2}, 16, 12, {"t-120000", "t-070000", "t-120100"}));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_TRUE(flat(frames[0], c0));
    EXPECT_TRUE(flat(frames[1], mix({{c0, 0.5}, {c2, 0.5}})));
    EXPECT_TRUE(flat(frames[2], c2));
}

TEST_F(SmoothingFixture, MotionBlurMixesTheEarlierPicturesByTheirWeights)
{
    const Rgb c0 = kColours[0], c1 = kColours[1], c2 = kColours[2], c3 = kColours[3];
    // A step of 1 would show only the image before: 1 is held to 2 (step 1/2).
    settings.setMotionBlur(true);
    settings.tweenFrames = 1;
    settings.motionFrames = 3;
    auto frames = make(pictures({0, 1, -1, 2, 3}));
    EXPECT_EQ(settings.tweenFrames, 2);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(run->actualImages(), 4u);
    EXPECT_TRUE(flat(frames[0], c0)); // never blended; it fills the store
    EXPECT_TRUE(flat(frames[1], mix({{c0, 0.75}, {c1, 0.25}})));
    // The unreadable image is not in the store: one image back is image 1.
    EXPECT_TRUE(flat(frames[2], mix({{c0, 0.25}, {c1, 0.5}, {c2, 0.25}})));
    EXPECT_TRUE(flat(frames[3], mix({{c1, 0.25}, {c2, 0.5}, {c3, 0.25}})));

    // Step 1/4 with two pictures; a store deeper than 10 is held to 10.
    settings.tweenFrames = 4;
    settings.motionFrames = 2;
    frames = make(pictures({0, 1}));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(flat(frames[1], mix({{c0, 0.25}, {c1, 0.75}})));
    // A frame large enough to be mixed on two threads.
    settings.motionFrames = 3;
    frames = make(pictures({0, 1}, 640, 480), 2, 640, 480);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(flat(frames[1], mix({{c0, 0.25 + 0.75 * 0.25}, {c1, 0.75 * 0.75}})));
    settings.motionFrames = 30;
    frames = make(pictures({0, 1}));
    EXPECT_EQ(settings.motionFrames, 10);
    // Ten slots, nine of them the first image: 0.75^9 of the second remains.
    EXPECT_TRUE(flat(frames[1], mix({{c1, std::pow(0.75, 9)}, {c0, 1 - std::pow(0.75, 9)}})));
}

// The render threads run ahead of the encoder; however many there are, the
// same frames come out: keyframed cuts and adjustments, an overlay and the
// mixed frames together.
TEST_F(SmoothingFixture, SameFramesWhateverTheNumberOfRenderThreads)
{
    // Pictures with detail that changes from image to image, cut and zoomed
    // by keyframes (the rate steps up to 2 from image 6).
    const int w = 32, h = 24, n = 14;
    const auto files = writeImages(dir / "pics", n, w, h, "png", "img", [](int i) -> Pattern {
        return [i](int x, int y) {
            return Rgb{std::uint8_t(x * 8 + i * 20), std::uint8_t(y * 10 + i * 7), std::uint8_t((x + y) * 5 + i * 30)};
        };
    });
    const auto layers = writeImages(dir / "layers", n, w, h, "png", "layer", [](int i) -> Pattern {
        return [i](int x, int) { return Rgb{std::uint8_t(x * 4 + i), 90, 200}; };
    });
    ports.nextChoice = files;
    list.selectFiles(); // the editor works on the listed images
    settings.crop = kCropCustom;
    view.frame = view.srcRect = view.cropRect = {0, 0, double(w), double(h)};
    editor.animFile = dir / "anim.txt";
    editor.createCropWindow();
    settings.exposureEV = 0.4f;
    ASSERT_TRUE(editor.enterButtonAction());
    editor.setRateSkip(2);
    editor.frame = 6;
    view.cropRect = {8, 6, 16, 12};
    settings.saturation = 0.5f; // adjustments too, so pictures come to the mix in linear light
    settings.sepiaIntensity = 0.6f;
    settings.monoIntensity = 0.3f;
    settings.blurRadius = 1.0f;
    ASSERT_TRUE(editor.enterButtonAction());
    settings.overlayMode = kOverlayBlend;
    const std::size_t images = 6 + (n - 6 + 1) / 2;

    settings.tweenFrames = 2;
    settings.motionFrames = 3;
    for (const bool tween : {true, false}) {
        SCOPED_TRACE(tween ? "tweening" : "motion blur");
        tween ? settings.setTweening(true) : settings.setMotionBlur(true);
        const auto one = make(files, 1, w, h, layers);
        ASSERT_EQ(one.size(), tween ? images + (images - 1) * 2 : images);
        EXPECT_GT(meanAbsDiff(one[1], one[2]), 1.0); // the frames do change
        for (const unsigned threads : {2u, 4u}) {
            const auto more = make(files, threads, w, h, layers);
            ASSERT_EQ(more.size(), one.size()) << threads;
            for (std::size_t i = 0; i < one.size(); ++i)
                EXPECT_EQ(more[i], one[i]) << threads << " threads, frame " << i;
        }
    }
}

TEST(SmoothingCommand, OptionsCountsAndFramesWithoutText)
{
    TempDir dir;
    const auto files = writeImages(dir / "pics", 10, 32, 24, "png", "img", [](int i) -> Pattern {
        return [i](int, int) { return Rgb{std::uint8_t(20 * i), 40, 60}; };
    });
    const std::string pics = quote(dir / "pics");
    auto make = [&](const std::string& name, const std::string& options) {
        const auto r = moirevance(dir, "make --codec tiff --size 100% --skip-verify -o " + quote(dir / name) + " " +
                                           options + " " + pics);
        EXPECT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
        return probeStream(dir / name).at("nb_read_packets");
    };
    // The watermark is drawn on the images' own frames, never on the
    // in-between ones.
    EXPECT_EQ(make("t1.mov", "--tween 1 --watermark MMMM --watermark-pos 1,1 --watermark-font 'DejaVu Sans,10'"),
              "19");
    const auto frames = decodeFrames(dir / "t1.mov", 32, 24);
    ASSERT_EQ(frames.size(), 19u);
    EXPECT_FALSE(flat(frames[2], {20, 40, 60}, 8));
    for (int k = 1; k < 19; k += 2)
        EXPECT_TRUE(flat(frames[k], mix({{{std::uint8_t(10 * (k - 1)), 40, 60}, 0.5},
                                         {{std::uint8_t(10 * (k + 1)), 40, 60}, 0.5}})))
            << "frame " << k;
    EXPECT_EQ(make("dup.mov", "--tween 2 --dup 4"), std::to_string(10 * 4 + 9 * 2));
    // The last option wins, and --no-smoothing turns both off.
    EXPECT_EQ(make("mb.mov", "--tween 3 --motion-blur 3 --motion-frames 3"), "10");
    EXPECT_FALSE(flat(decodeFrames(dir / "mb.mov", 32, 24)[1], {20, 40, 60}, 1));
    EXPECT_EQ(make("none.mov", "--tween 3 --no-smoothing"), "10");
}
