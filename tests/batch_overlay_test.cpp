#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"
#include "app/BatchOptions.h"

using namespace mv;
using namespace mvtest;
namespace fs = std::filesystem;

namespace {

std::string usageError(std::vector<std::string> args)
{
    JobSettings s;
    args.push_back("images/");
    try {
        parseMakeArguments(args, s);
    } catch (const UsageError& e) {
        return e.message;
    }
    return {};
}

CommandResult make(const TempDir& dir, const std::string& args) { return moirevance(dir, "make " + args); }

} // namespace

TEST(BatchOverlayOptions, TextAndLayerOptionsSetTheirSettings)
{
    JobSettings s;
    const MakeRequest r = parseMakeArguments(
        {"--date-stamp", "--gps-stamp", "--text-font", "DejaVu Sans, Mono,18.5", "--text-color", "1,0.5,0,0.25",
         "--watermark", "© Me", "--watermark-pos=2,0", "--watermark-font", "Serif,30", "--watermark-color",
         "0,0,1,1", "--layers", "over/", "--layers", "x.png", "--layer-mode", "Mask", "--masks", "m.png", "in/"},
        s);
    EXPECT_TRUE(s.isDateStamped && s.isGPS && s.useWatermark);
    EXPECT_EQ(s.textFont.family, "DejaVu Sans, Mono");
    EXPECT_DOUBLE_EQ(s.textFont.pointSize, 18.5);
    EXPECT_DOUBLE_EQ(s.textColor.green, 0.5);
    EXPECT_DOUBLE_EQ(s.textColor.alpha, 0.25);
    EXPECT_EQ(s.watermarkStr, "© Me");
    EXPECT_EQ(s.wPosnX, 2);
    EXPECT_EQ(s.wPosnY, 0);
    EXPECT_EQ(s.watermarkFont.family, "Serif");
    EXPECT_DOUBLE_EQ(s.watermarkColor.blue, 1);
    EXPECT_EQ(s.overlayMode, kMaskBlend);
    EXPECT_EQ(r.layers, (std::vector<std::string>{"over/", "x.png"}));
    EXPECT_EQ(r.masks, (std::vector<std::string>{"m.png"}));
    EXPECT_EQ(r.inputs, (std::vector<std::string>{"in/"}));

    parseMakeArguments({"--watermark", "W", "--no-watermark", "in/"}, s);
    EXPECT_FALSE(s.useWatermark);
}

TEST(BatchOverlayOptions, BadValuesAreRefusedWithTheirReason)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--text-font", "Serif"}, "is not FAMILY,SIZE"},
        {{"--text-font", ",12"}, "is not FAMILY,SIZE"},
        {{"--watermark-font", "Serif,0"}, "must be from 1 to 1000"},
        {{"--text-color", "1,1,1"}, "is not R,G,B,A"},
        {{"--watermark-color", "1,1,1,2"}, "must be from 0 to 1"},
        {{"--watermark-pos", "3,0"}, "must be from 0 to 2"},
        {{"--watermark-pos", "1.5,0"}, "two whole numbers from 0 to 2"},
        {{"--layer-mode", "screen"}, "is not one of lighten, darken, maximum, minimum, overlay, mask"},
        {{"--masks", "m.png"}, "--masks needs --layers and --layer-mode mask"},
        {{"--layers", "l/", "--layer-mode", "mask"}, "--layer-mode mask needs --masks"},
        {{"--date-stamp=yes"}, "takes no value"},
    };
    for (const auto& [args, reason] : cases)
        EXPECT_NE(usageError(args).find(reason), std::string::npos) << args[0] << " gave: " << usageError(args);
}

// The whole command: a layer run that ends at a check gives its alert and
// writes no movie; a good one makes a movie with the overlay and the texts.
TEST(BatchOverlayCommand, LayerChecksDecideAndAGoodRunWritesTheMovie)
{
    TempDir dir;
    writeImages(dir / "in", 3, 64, 48);
    const auto layers = writeImages(dir / "over", 3, 64, 48, "png", "b",
                                    [](int) -> Pattern { return [](int, int) { return Rgb{255, 0, 0}; }; });
    writeImage(dir / "big.png", 80, 48);

    const std::string common = "--codec jpeg --size 100% --skip-verify -o " + quote(dir / "m.mov") + " ";
    CommandResult r = make(dir, common + "--layers " + quote(layers[0]) + " in");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(readFile(dir / "stderr.txt").find("Number of layer images do not match: Images: 3, Layer images: 1"),
              std::string::npos)
        << readFile(dir / "stderr.txt");
    r = make(dir, common + "--layers over --layer-mode mask --masks " + quote(dir / "big.png") + " in");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(readFile(dir / "stderr.txt").find("Mask image size does not match"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "m.mov"));

    r = make(dir, common + "--layers over --layer-mode lighten --watermark Moirevance --date-stamp in");
    ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
    EXPECT_EQ(probeStream(dir / "m.mov")["nb_frames"], "3");
    // Lightened with full red (and white text on top): red everywhere, within
    // what the JPEG codec changes.
    const auto frames = decodeFrames(dir / "m.mov", 64, 48);
    ASSERT_EQ(frames.size(), 3u);
    for (std::size_t p = 0; p < frames[2].size(); p += 3)
        ASSERT_GT(frames[2][p], 200) << "pixel " << p / 3;
    // PNGs carry no capture date: the stamp fails once and is switched off.
    EXPECT_NE(readFile(dir / "stderr.txt").find("Date/Time stamp or GPS Error"), std::string::npos);
}
