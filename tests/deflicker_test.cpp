#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>

#include "RunFixture.h"
#include "render/BrightnessAnalysis.h"
#include "render/Deflicker.h"

using namespace mv;
using namespace mvtest;
namespace fs = std::filesystem;

namespace {

// The spread of got - light about its mean: what deflicker left of the
// flicker, whatever the level.
double rmsAgainst(const std::vector<double>& got, const std::vector<double>& light = {})
{
    const auto e = [&](std::size_t i) { return got[i] - (light.empty() ? 0.0 : light[i]); };
    double mean = 0, sum = 0;
    for (std::size_t i = 0; i < got.size(); ++i)
        mean += e(i) / got.size();
    for (std::size_t i = 0; i < got.size(); ++i)
        sum += (e(i) - mean) * (e(i) - mean);
    return std::sqrt(sum / got.size());
}

// The wave pattern one stop down (room for brighter shots), then `ev` stops
// in linear light.
Pattern exposed(double ev, Pattern base = wavePattern)
{
    return [=](int x, int y) {
        const Rgb c = base(x, y);
        const double k = std::exp2(ev - 1);
        return Rgb{std::uint8_t(toSrgb(toLinear(c.r) * k)), std::uint8_t(toSrgb(toLinear(c.g) * k)),
                   std::uint8_t(toSrgb(toLinear(c.b) * k))};
    };
}

// log2 of the mean linear luminance of an RGB24 frame.
double level(const std::vector<std::uint8_t>& rgb)
{
    double sum = 0;
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
        sum += 0.2126 * toLinear(rgb[i]) + 0.7152 * toLinear(rgb[i + 1]) + 0.0722 * toLinear(rgb[i + 2]);
    return std::log2(sum / (rgb.size() / 3));
}

// What the images come out at: measured plus gain.
std::vector<double> deflickered(const BrightnessSeries& series, unsigned window)
{
    const std::vector<float> gains = deflickerGains(series, deflickerCurve(series, window));
    std::vector<double> out(series.brightness.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = series.brightness[i] + gains[i];
    return out;
}

} // namespace

// The curve on numbers, with the window chosen from the data: flicker on a
// ramp and on a sunset that bends within 40 images is removed (a fixed
// straight window of 51 cannot bend with the sunset), a ramp alone and a
// single dark shot among steady ones are left alone.
TEST(DeflickerCurve, FollowsBendingLightAndIgnoresOneOddImage)
{
    const int n = 150;
    std::mt19937 random(23);
    std::uniform_real_distribution<double> jitter(-0.15, 0.15);
    std::vector<double> ramp(n), sunset(n);
    BrightnessSeries onRamp, atSunset;
    for (int i = 0; i < n; ++i) {
        ramp[i] = -2.0 * i / (n - 1);
        sunset[i] = -3 / (1 + std::exp(-(i - 75) / 6.0));
        onRamp.brightness.push_back(ramp[i] + 2 * jitter(random));
        atSunset.brightness.push_back(sunset[i] + jitter(random));
    }
    std::vector<double> out = deflickered(onRamp, 0);
    EXPECT_LT(rmsAgainst(out, ramp), 0.04); // the flicker's own: 0.17
    for (int i : {0, 1, 2, n - 3, n - 2, n - 1}) // the window is one-sided there
        EXPECT_NEAR(out[i] - ramp[i], out[n / 2] - ramp[n / 2], 0.15) << i;
    EXPECT_LT(rmsAgainst(deflickered(atSunset, 0), sunset), 0.05); // the flicker's own: 0.09
    EXPECT_GT(rmsAgainst(deflickered(atSunset, 51), sunset), 0.08);

    // A ramp without flicker, with one image that could not be measured.
    BrightnessSeries clean{ramp, {}};
    clean.brightness[10] = std::nan("");
    for (unsigned window : {0u, 51u}) {
        const std::vector<float> gains = deflickerGains(clean, deflickerCurve(clean, window));
        for (int i = 0; i < n; ++i)
            EXPECT_NEAR(gains[i], 0.0, 0.01) << i;
    }

    // One shot four stops dark: lifted as far as gains go, its neighbours
    // untouched.
    BrightnessSeries steady{std::vector<double>(n, -1.0), {}};
    steady.brightness[60] = -5.0;
    const std::vector<float> gains = deflickerGains(steady, deflickerCurve(steady, 0));
    EXPECT_FLOAT_EQ(gains[60], kDeflickerMaxGain);
    for (int i = 0; i < n; ++i)
        EXPECT_NEAR(i == 60 ? 0.0f : gains[i], 0.0, 0.02) << i;
}

// The light falls while the photographer lengthens the shutter a third of
// a stop each time it has fallen another third: with the recorded exposure
// the steps are levelled exactly and the result is smooth; the gains stay
// small, since the photographer's ramp is kept. Without it the steps are
// taken for light; pictures that do not show the recorded steps are taken
// as they are.
TEST(DeflickerCurve, LevelsTheCameraExposureStepsItIsGiven)
{
    const int n = 150;
    std::mt19937 random(41);
    std::uniform_real_distribution<double> jitter(-0.05, 0.05);
    BrightnessSeries series;
    for (int i = 0; i < n; ++i) {
        const double light = -3.0 * i / (n - 1) - 0.5 * std::sin(3.14159 * i / n);
        const double shutter = std::floor(-light * 3 + 1e-9) / 3;
        series.exposure.push_back(shutter);
        series.brightness.push_back(light + shutter + jitter(random));
    }
    auto largestStep = [](const std::vector<double>& v) {
        double most = 0;
        for (std::size_t i = 1; i < v.size(); ++i)
            most = std::max(most, std::abs(v[i] - v[i - 1]));
        return most;
    };
    EXPECT_LT(largestStep(deflickered(series, 0)), 0.02); // the input's: 0.4
    const DeflickerCurve curve = deflickerCurve(series, 0);
    EXPECT_TRUE(curve.levelsExposure);
    const std::vector<float> gains = deflickerGains(series, curve);
    EXPECT_LT(*std::max_element(gains.begin(), gains.end()) - *std::min_element(gains.begin(), gains.end()), 0.5);
    const std::vector<double> recorded = series.exposure;
    series.exposure.clear();
    EXPECT_GT(largestStep(deflickered(series, 0)), 0.03);

    // Pictures whose steps were evened out before, with the camera's
    // record kept: the record is not followed.
    for (int i = 0; i < n; ++i)
        series.brightness[i] -= recorded[i];
    const std::vector<double> plain = deflickered(series, 0);
    series.exposure = recorded;
    EXPECT_EQ(deflickered(series, 0), plain);
    EXPECT_FALSE(deflickerCurve(series, 0).levelsExposure);
}

// Exposure steps are read from files through content that moves, a clipped
// region that stays white whatever the exposure, and a file that does not
// decode (no level, the others unaffected).
TEST(DeflickerAnalysis, MeasuresStepsPastMovingContentAndClippingAndSkipsBadFiles)
{
    TempDir dir;
    const std::vector<double> ev{0, 0.25, -0.3, 0.1, -0.5, 0.2, 0, -0.2};
    std::vector<std::string> files;
    for (std::size_t i = 0; i < ev.size(); ++i) {
        files.push_back(dir / ("shot-" + std::to_string(i) + ".png"));
        const Pattern scene = exposed(ev[i]);
        const int blockX = 12 * int(i);
        writeImage(files.back(), 96, 64, [&](int x, int y) {
            if (x >= 80)
                return Rgb{255, 255, 255}; // burnt out
            if (x >= blockX && x < blockX + 24 && y >= 20 && y < 44)
                return Rgb{10, 10, 10}; // something passing by
            return scene(x, y);
        });
    }
    std::ofstream(files[5], std::ios::trunc) << "not a picture";

    unsigned reported = 0;
    auto series = measureSequence(files, 2, [] { return true; }, [&](unsigned done) { reported = done; });
    ASSERT_TRUE(series);
    EXPECT_EQ(reported, files.size());
    const std::vector<double>& levels = series->brightness;
    EXPECT_TRUE(std::isnan(levels[5]));
    for (std::size_t i = 0; i < ev.size(); ++i)
        EXPECT_NEAR(i == 5 ? 0.0 : levels[i] - levels[0] - (ev[i] - ev[0]), 0.0, 0.03) << i;
    EXPECT_TRUE(series->exposure.empty()); // nothing recorded
    EXPECT_FALSE(measureSequence(files, 2, [] { return false; }, nullptr));

    // The camera's settings as recorded: a setting that one image lacks
    // (here the ISO of the last) counts for none, and an image that does
    // not decode does not count.
    const std::vector<std::string> shots = writeImages(dir / "exif", 4, 64, 48, "jpg");
    exif(shots[0], "-ExposureTime=1/100 -FNumber=8 -ISO=100");
    exif(shots[1], "-ExposureTime=1/50 -FNumber=5.6 -ISO=400");
    exif(shots[2], "-ExposureTime=1/200 -FNumber=8 -ISO=200");
    exif(shots[3], "-ExposureTime=0.8 -FNumber=11");
    series = measureSequence(shots, 2, [] { return true; }, nullptr);
    ASSERT_TRUE(series);
    ASSERT_EQ(series->exposure.size(), 4u);
    const double expected[] = {0, 1 - 2 * std::log2(5.6 / 8), -1, std::log2(80) - 2 * std::log2(11 / 8.0)};
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(series->exposure[i] - series->exposure[0], expected[i], 1e-9) << i;
}

namespace {

struct DeflickerFixture : RunFixture {
    DeflickerFixture()
    {
        settings.format = 0;
        settings.scale = 1.0f;
        settings.codec = kCodecTIFF; // lossless: the frames' levels are the pipeline's
        settings.isSkipVerify = true;
        settings.isDeflicker = true;
    }
    void start(const std::vector<std::string>& files)
    {
        list.processImageList(files);
        // What the listing said about the images; the run adds to it.
        verifyBefore = fs::exists(verify.path()) ? readFile(verify.path()) : "";
        alertsBefore = ports.alerts().size();
        ASSERT_TRUE(startMovie("movie.mov"));
    }
    bool analysing()
    {
        const auto texts = ports.statusTexts();
        return std::find(texts.begin(), texts.end(), "Analysing brightness") != texts.end();
    }
    std::string verifyBefore;
    std::size_t alertsBefore = 0;
};

} // namespace

// Flickering shots on a ramp, with an unreadable one among them and the
// exposure control at +0.5: the frames follow the ramp, half a stop up, and
// the bad image is reported once, by the frame loop.
TEST_F(DeflickerFixture, FramesFollowTheRampWithTheExposureAddedOn)
{
    const int n = 30;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    std::vector<double> ramp(n);
    std::vector<std::string> files;
    for (int i = 0; i < n; ++i) {
        ramp[i] = -1.0 * i / (n - 1);
        files.push_back(dir / ("img-" + std::to_string(i) + ".png"));
        writeImage(files.back(), 48, 32, exposed(ramp[i] + jitter(random)));
    }
    std::ofstream(files[10], std::ios::trunc) << "not a picture";
    const std::string base = dir / "base.png";
    writeImage(base, 48, 32, exposed(0));
    settings.exposureEV = 0.5f;

    start(files);
    run->waitForWorker();
    ASSERT_TRUE(run->wasWritten());
    const auto frames = decodeFrames(run->outputPath(), 48, 32);
    ASSERT_EQ(frames.size(), std::size_t(n - 1));
    const double baseLevel = level(readPixels(base));
    std::vector<double> error;
    double offset = 0;
    for (int i = 0, f = 0; i < n; ++i) {
        if (i == 10)
            continue;
        error.push_back(level(frames[f++]) - baseLevel - ramp[i]);
        offset += error.back() / (n - 1);
    }
    EXPECT_LT(rmsAgainst(error), 0.05); // the shots' own: about 0.17
    EXPECT_NEAR(offset, 0.5, 0.1);
    EXPECT_EQ(readFile(verify.path()), verifyBefore + "Create Movie: Can not form an image from img-10.png\n");
    EXPECT_TRUE(analysing());
}

// A stop while the brightness is analysed: no movie, no alert, and no line
// about the unreadable image (the frame loop never met it).
TEST_F(DeflickerFixture, StopWhileAnalysingLeavesNoMovieAndNoVerifyLines)
{
    std::vector<std::string> files = writeImages(dir.path(), 120, 320, 240, "jpg");
    std::ofstream(files[60], std::ios::trunc) << "not a picture";
    start(files);
    while (!analysing() && run->isCreatingMovie())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    run->stopMovie();
    run->waitForWorker();
    EXPECT_EQ(run->actualImages(), 0u);
    EXPECT_FALSE(run->wasWritten());
    EXPECT_FALSE(fs::exists(dir / "movie.mov") || fs::exists(dir / "movie.mov.partial"));
    EXPECT_EQ(fs::exists(verify.path()) ? readFile(verify.path()) : "", verifyBefore);
    EXPECT_EQ(ports.alerts().size(), alertsBefore);
}

// The window's analysis: measures on its own thread with progress, fits
// again for another window without measuring, and a stop ends it with
// nothing; answers carry the serial of their request.
TEST(BrightnessAnalysisTest, MeasuresRefitsAndStops)
{
    TempDir dir;
    const std::vector<std::string> files = writeImages(dir.path(), 12, 96, 64, "png");
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<std::uint64_t, std::optional<BrightnessAnalysis::Result>>> answers;
    unsigned lastDone = 0;
    bool stopNow = false;
    BrightnessAnalysis analysis(
        [&](std::uint64_t, unsigned done, unsigned total) {
            std::unique_lock lock(mutex);
            lastDone = done;
            changed.notify_all();
            EXPECT_EQ(total, files.size());
            // The third run is stopped from within, once it is under way.
            changed.wait(lock, [&] { return !stopNow || done < 3; });
        },
        [&](std::uint64_t serial, std::optional<BrightnessAnalysis::Result> r) {
            std::lock_guard lock(mutex);
            answers.emplace_back(serial, std::move(r));
            changed.notify_all();
        });
    auto answer = [&](std::size_t k) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return answers.size() > k; });
        return answers[k];
    };
    auto stopAtThird = [&](bool on) {
        std::lock_guard lock(mutex);
        stopNow = on;
        changed.notify_all();
    };
    const std::uint64_t first = analysis.start(files, 0, 2);
    auto [serial, result] = answer(0);
    EXPECT_EQ(serial, first);
    ASSERT_TRUE(result);
    EXPECT_EQ(lastDone, files.size());
    EXPECT_EQ(result->series.brightness.size(), files.size());
    EXPECT_EQ(result->curve.target.size(), files.size());

    const auto refit = analysis.refit(5);
    ASSERT_TRUE(refit);
    std::tie(serial, result) = answer(1);
    EXPECT_EQ(serial, *refit);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->curve.window, 5u);
    EXPECT_EQ(result->curve.degree, 1u);

    stopAtThird(true);
    const std::uint64_t third = analysis.start(files, 0, 1);
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return lastDone >= 3 && lastDone < files.size(); });
    }
    analysis.stop();
    stopAtThird(false);
    std::tie(serial, result) = answer(2);
    EXPECT_EQ(serial, third);
    EXPECT_FALSE(result);
    EXPECT_FALSE(analysis.refit(0)); // nothing measured to fit
}
