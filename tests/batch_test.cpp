#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "TestSupport.h"
#include "animation/CropWindow.h"
#include "app/BatchOptions.h"
#include "settings/Preferences.h"

using namespace mv;
using namespace mvtest;
namespace fs = std::filesystem;

namespace {

MakeRequest parse(std::vector<std::string> args, JobSettings& s) { return parseMakeArguments(args, s); }

std::string usageError(std::vector<std::string> args)
{
    JobSettings s;
    try {
        parseMakeArguments(args, s);
    } catch (const UsageError& e) {
        return e.message;
    }
    return {};
}

} // namespace

// Each option in the units of its setting, the picture adjustments, text,
// watermark and layers included.
TEST(BatchOptions, EachOptionSetsItsSetting)
{
    JobSettings s;
    const MakeRequest r = parse(
        {"-o", "out.mov", "--fps", "29.97", "--size", "50%", "--codec", "animation", "--quality", "max", "--crop",
         "top", "--rate", "3", "--dup=2", "--vertical", "--sort", "date", "--skip-verify", "--kml", "--saturation",
         "1.3", "--brightness", "-0.1", "--contrast", "0.8", "--sepia", "1", "--exposure", "-2", "--blur", "4.5",
         "--sharpen", "0.4", "--rotate", "-0.25", "--mono", "0.6", "--mono-color", "1,0.5,0", "--date-stamp",
         "--gps-stamp", "--text-font", "DejaVu Sans, Mono,18.5", "--text-color", "1,0.5,0,0.25", "--watermark",
         "© Me", "--watermark-pos=2,0", "--watermark-font", "Serif,30", "--watermark-color", "0,0,1,1", "--layers",
         "over/", "--layers", "x.png", "--layer-mode", "Mask", "--masks", "m.png", "a", "b/"},
        s);
    EXPECT_EQ(r.output, "out.mov");
    EXPECT_EQ(r.inputs, (std::vector<std::string>{"a", "b/"}));
    EXPECT_FLOAT_EQ(s.mvFPS, 29.97f);
    EXPECT_EQ(s.format, 0);
    EXPECT_FLOAT_EQ(s.scale, 0.5f);
    EXPECT_EQ(s.codec, kCodecAnimation);
    EXPECT_EQ(s.quality, kQualityMax);
    EXPECT_EQ(s.crop, kCropTop);
    EXPECT_EQ(s.rate, 3);
    EXPECT_EQ(s.dupImages, 2);
    EXPECT_TRUE(s.isVertical && s.isDateSort && s.isSkipVerify && s.isCreateKML);
    EXPECT_FLOAT_EQ(s.saturation, 1.3f);
    EXPECT_FLOAT_EQ(s.brightness, -0.1f);
    EXPECT_FLOAT_EQ(s.contrast, 0.8f);
    EXPECT_FLOAT_EQ(s.sepiaIntensity, 1.0f);
    EXPECT_FLOAT_EQ(s.exposureEV, -2.0f);
    EXPECT_FLOAT_EQ(s.blurRadius, 4.5f);
    EXPECT_FLOAT_EQ(s.sharpenValue, 0.4f);
    EXPECT_FLOAT_EQ(s.rotateAngle, -0.25f);
    EXPECT_FLOAT_EQ(s.monoIntensity, 0.6f);
    EXPECT_FLOAT_EQ(s.ciColor.green, 0.5f);
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

    parse({"--watermark", "W", "--no-watermark", "in/"}, s);
    EXPECT_FALSE(s.useWatermark);
    JobSettings p;
    parse({"-o", "x.mov", "--size", "hd1440P", "--fps", "1000", "x"}, p);
    EXPECT_EQ(p.format, 11);
    EXPECT_FLOAT_EQ(p.mvFPS, 600.0f); // clamped like the window's field
    parse({"-o", "x.mov", "--size", "200", "--", "-odd-name.jpg"}, p);
    EXPECT_EQ(p.format, 0);
    EXPECT_FLOAT_EQ(p.scale, 1.5f);
}

TEST(BatchOptions, DeflickerTakesAnOptionalWindow)
{
    JobSettings s;
    EXPECT_EQ(parse({"--deflicker", "in/"}, s).inputs, (std::vector<std::string>{"in/"}));
    EXPECT_TRUE(s.isDeflicker);
    EXPECT_EQ(s.deflickerWindow, 0); // chosen from the images
    parse({"--deflicker", "31", "in/"}, s);
    EXPECT_EQ(s.deflickerWindow, 31);
    parse({"--deflicker=9", "--no-deflicker", "in/"}, s);
    EXPECT_EQ(s.deflickerWindow, 9);
    EXPECT_FALSE(s.isDeflicker);
    EXPECT_EQ(parse({"--deflicker", "auto", "in/"}, s).inputs, (std::vector<std::string>{"in/"}));
    EXPECT_EQ(s.deflickerWindow, 0);
}

TEST(BatchOptions, BadInputIsAUsageError)
{
    EXPECT_EQ(usageError({"-o", "x.mov", "--frobnicate", "a"}), "unknown option --frobnicate");
    EXPECT_EQ(usageError({"-o", "x.mov", "--fps", "fast", "a"}), "--fps: \"fast\" is not a number");
    EXPECT_EQ(usageError({"-o", "x.mov", "--fps"}), "--fps needs a value");
    EXPECT_EQ(usageError({"--vertical=yes", "-o", "x.mov", "a"}), "--vertical takes no value");
    EXPECT_EQ(usageError({"-o", "x.mov"}), "no images or folders given");

    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--codec", "divx"}, "is not one of jpeg, h264"},
        {{"--rate", "0"}, "from 1 to 65535"},
        {{"--dup", "1.5"}, "from 1 to 65535"},
        {{"--size", "huge"}, "not a number"},
        {{"--deflicker", "2"}, "must be from 3 to 999"},
        {{"--deflicker=7.5"}, "whole number"},
        {{"--blur", "-1"}, "must be from 0 to 1000"},
        {{"--mono-color", "1,2,0"}, "must be from 0 to 1"},
        {{"--mono-color", "1,0"}, "is not R,G,B"},
        {{"--sepia", "nan"}, "not a number"},
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
        {{"--tween", "0"}, "--tween"},
        {{"--tween", "x"}, "--tween"},
        {{"--motion-blur", "1.5"}, "--motion-blur"},
        {{"--motion-frames", "0"}, "--motion-frames"},
        {{"--motion-frames", "11"}, "--motion-frames"},
        {{"--motion-frames", "2.5"}, "--motion-frames"},
        {{"--no-smoothing=1"}, "--no-smoothing"},
    };
    for (const char* bad : {"8:00", "8:00-25:00", "8:61-9:00", "8-", "8:00:00:00-9:00", "a-b"})
        EXPECT_THAT(usageError({"--time-range", bad, "images/"}), HasSubstr("--time-range: \"")) << bad;
    for (auto [args, reason] : cases) {
        args.push_back("images/");
        EXPECT_THAT(usageError(args), HasSubstr(reason)) << args[0];
    }
}

TEST(BatchCommand, ExitStatusAndMessages)
{
    TempDir dir;
    EXPECT_EQ(moirevance(dir, "make --help").status, 0);
    EXPECT_EQ(moirevance(dir, "make --codec divx -o x.mov a").status, 2);
    EXPECT_THAT(readFile(dir / "stderr.txt"), HasSubstr("--codec: \"divx\""));
    EXPECT_EQ(moirevance(dir, "make -o x.mov " + quote(dir / "missing")).status, 2);
    EXPECT_EQ(moirevance(dir, "explode").status, 2);
    EXPECT_THAT(readFile(dir / "stderr.txt"), HasSubstr("unknown command \"explode\""));
    // A path that is not there is named, not taken for a command; nothing opens.
    for (const std::string& path : {dir / "nowhere", std::string("missing.jpg")}) {
        EXPECT_EQ(moirevance(dir, quote(path)).status, 2);
        EXPECT_EQ(readFile(dir / "stderr.txt"), "moirevance: No such file or folder: " + path + "\n");
    }
}

TEST(BatchCommand, SameJobTwiceKeepsTheFirstMovie)
{
    TempDir dir;
    fs::create_directories(dir / "pics/sub");
    writeImage(dir / "pics/1.jpg", 96, 64);
    writeImage(dir / "pics/2.png", 96, 64);
    writeImage(dir / "pics/sub/3.tiff", 96, 64);
    const std::string job = "make --size 50% --codec tiff --fps 25 -o " + quote(dir / "Clip.mov") + " " +
                            quote(dir / "pics");
    auto first = moirevance(dir, job);
    ASSERT_EQ(first.status, 0) << readFile(dir / "stderr.txt");
    EXPECT_EQ(first.out, dir / "Clip.mov\n");
    EXPECT_THAT(readFile(dir / "stderr.txt"), HasSubstr("Complete (0:0.1)"));
    const std::string bytes = readFile(dir / "Clip.mov");
    const auto info = probeStream(dir / "Clip.mov");
    EXPECT_EQ(info.at("nb_read_packets"), "3");
    EXPECT_EQ(info.at("width"), "48");

    auto second = moirevance(dir, job);
    ASSERT_EQ(second.status, 0);
    EXPECT_EQ(second.out, dir / "Clip-1.mov\n");
    EXPECT_EQ(readFile(dir / "Clip.mov"), bytes);
    EXPECT_TRUE(fs::exists(dir / "data/Moirevance")); // the data folder is made on first use

    // The deflicker chart instead of a movie: a PNG, numbered beside one
    // already there.
    const std::string plot = "make --deflicker-plot " + quote(dir / "Clip.png") + " " + quote(dir / "pics");
    for (const char* name : {"Clip.png", "Clip-1.png"}) {
        auto r = moirevance(dir, plot);
        ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
        EXPECT_EQ(r.out, dir / name + "\n");
        EXPECT_EQ(probeStream(dir / name).at("codec_name"), "png");
    }
    EXPECT_FALSE(fs::exists(dir / "Clip-2.mov"));
}

TEST(BatchCommand, DefaultNameAndAnimationFile)
{
    TempDir dir;
    fs::create_directories(dir / "pics");
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) {
        files.push_back(dir / ("pics/" + std::to_string(100 + i) + ".png"));
        writeImage(files.back(), 80, 60);
    }
    // Keyframes entered in an editor for this list: image 1 to 7 at rate 1,
    // then rate 2 to the end.
    JobSettings settings;
    settings.numListImages = 12;
    settings.codec = kCodecTIFF;
    settings.format = 0;
    settings.scale = 0.5f;
    settings.mvFPS = 15;
    RecordingPorts ports;
    CropViewState view;
    view.frame = view.srcRect = view.cropRect = {0, 0, 80, 60};
    CropWindow editor(settings, ports, view);
    editor.animFile = dir / "anim.txt";
    editor.firstImageName = "100.png";
    editor.createCropWindow();
    ASSERT_TRUE(editor.enterButtonAction());
    editor.setRateSkip(2);
    editor.frame = 6;
    view.cropRect = {20, 15, 40, 30};
    ASSERT_TRUE(editor.enterButtonAction());

    // The file's settings win over the options; the name follows them.
    auto r = moirevance(dir, "make --codec h264 --fps 30 --anim " + quote(dir / "anim.txt") + " " + quote(dir / "pics"));
    ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
    const std::string movie = dir / "MV(15,50%,TIFF,Norm,~X).mov"; // the rate changes along the keyframes
    EXPECT_EQ(r.out, movie + "\n");
    const auto info = probeStream(movie);
    EXPECT_EQ(info.at("codec_name"), "tiff");
    EXPECT_EQ(info.at("width"), "40");
    EXPECT_EQ(info.at("nb_read_packets"), "9"); // images 0-5, then 6, 8, 10
    EXPECT_EQ(packetDurations(movie).front(), 40);

    std::ofstream(dir / "bad.txt") << "not an animation";
    EXPECT_EQ(moirevance(dir, "make --anim " + quote(dir / "bad.txt") + " " + quote(dir / "pics")).status, 1);
    EXPECT_THAT(readFile(dir / "stderr.txt"), HasSubstr("This file is not a Moirevance animation file."));
}

TEST(BatchCommand, OptionsNotGivenTakeTheSavedPreferences)
{
    TempDir dir;
    writeImage(dir / "a.png", 64, 48);
    writeImage(dir / "b.png", 64, 48);
    JobSettings saved;
    saved.codec = kCodecAnimation;
    saved.format = 0;
    saved.scale = 0.25f;
    saved.mvFPS = 12;
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    savePrefs(*openUserPreferences(), saved);
    ::unsetenv("XDG_CONFIG_HOME");

    const std::string images = quote(dir / "a.png") + " " + quote(dir / "b.png");
    const auto r = moirevance(dir, "make --fps 24 -o " + quote(dir / "out.mov") + " " + images);
    ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
    const auto info = probeStream(dir / "out.mov");
    EXPECT_EQ(info.at("codec_name"), "qtrle"); // saved
    EXPECT_EQ(info.at("width"), "16");         // saved 25%
    EXPECT_EQ(packetDurations(dir / "out.mov").front(), 25); // given: 24 fps

    // Values no control could have written are held to what the settings
    // accept: not a frame 1e30 times the image.
    std::ofstream(dir / "config/Moirevance/Moirevance.ini", std::ios::trunc)
        << "[General]\nFormatPref=0\nScalePref=1e30\nFPSPref=1e30\nCodecPref=99\nQualityPref=-1\n";
    const auto absurd = moirevance(dir, "make -o " + quote(dir / "absurd.mov") + " " + images, measured(dir));
    ASSERT_EQ(absurd.status, 0) << readFile(dir / "stderr.txt");
    EXPECT_LT(peakKb(dir), 400 * 1024);
    EXPECT_EQ(probeStream(dir / "absurd.mov").at("width"), "96"); // 150%
}

// A folder that cannot be read is named in an alert, a file that cannot be
// read in the Verify List; the rest becomes the movie.
TEST(BatchCommand, UnreadableFolderIsReported)
{
    TempDir dir;
    fs::create_directories(dir / "pics/locked");
    writeImage(dir / "pics/a.png", 32, 24);
    writeImage(dir / "pics/b.png", 32, 24);
    writeImage(dir / "pics/locked/c.png", 32, 24);
    fs::permissions(dir.path(), fs::perms::all); // the data and preferences folders are made there
    fs::permissions(dir / "pics/locked", fs::perms::none);
    writeImage(dir / "pics/c-unreadable.png", 32, 24);
    fs::permissions(dir / "pics/c-unreadable.png", fs::perms::none);
    // Root reads every folder, so the run is made as nobody there.
    const std::string user = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const auto r = moirevance(dir, "make -o " + quote(dir / "out.mov") + " " + quote(dir / "pics"), user);
    fs::permissions(dir / "pics/locked", fs::perms::owner_all);
    const std::string err = readFile(dir / "stderr.txt");
    EXPECT_EQ(r.status, 0) << err;
    EXPECT_THAT(err, HasSubstr("A folder could not be read: Its images are not listed:\n" + dir / "pics/locked"));
    EXPECT_EQ(probeStream(dir / "out.mov").at("nb_frames"), "2");
    EXPECT_THAT(readFile(dir / "data/Moirevance/Moirevance Verify List.txt"), HasSubstr("c-unreadable.png ("));
}

// Messages never send the user to a Verify List that could not be written,
// and a path that could not be printed is not reported as success.
TEST(BatchCommand, MessagesTellWhatReallyHappened)
{
    TempDir dir;
    writeImage(dir / "a.png", 32, 24);
    std::ofstream(dir / "b.png") << "not a picture";
    writeImage(dir / "c.png", 32, 24);
    std::ofstream(dir / "data") << "a file where the data folder would be";
    const std::string job = "make --skip-verify -o " + quote(dir / "out.mov") + " " + quote(dir / "a.png") + " " +
                            quote(dir / "b.png") + " " + quote(dir / "c.png");
    ASSERT_EQ(moirevance(dir, job).status, 0);
    const std::string err = readFile(dir / "stderr.txt");
    EXPECT_THAT(err, HasSubstr("1 images were skipped. The Verify List file could not be written."));
    EXPECT_THAT(err, ::testing::Not(HasSubstr("Verify List:")));
    EXPECT_THAT(err, ::testing::Not(HasSubstr("See Verify List")));

    EXPECT_EQ(moirevance(dir, job + " >/dev/full").status, 1);
    EXPECT_EQ(probeStream(dir / "out-1.mov").at("nb_frames"), "2"); // written all the same
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

    const std::string common = "make --codec jpeg --size 100% --skip-verify -o " + quote(dir / "m.mov") + " ";
    CommandResult r = moirevance(dir, common + "--layers " + quote(layers[0]) + " in");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(readFile(dir / "stderr.txt"), HasSubstr("Number of layer images do not match: Images: 3, Layer images: 1"));
    r = moirevance(dir, common + "--layers over --layer-mode mask --masks " + quote(dir / "big.png") + " in");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(readFile(dir / "stderr.txt"), HasSubstr("Mask image size does not match"));
    EXPECT_FALSE(fs::exists(dir / "m.mov"));

    r = moirevance(dir, common + "--layers over --layer-mode lighten --watermark Moirevance --date-stamp in");
    ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
    // Lightened with full red (and white text on top): red everywhere, within
    // what the JPEG codec changes.
    const auto frames = decodeFrames(dir / "m.mov", 64, 48);
    ASSERT_EQ(frames.size(), 3u);
    for (std::size_t p = 0; p < frames[2].size(); p += 3)
        ASSERT_GT(frames[2][p], 200) << "pixel " << p / 3;
    // PNGs carry no capture date: the stamp fails once and is switched off.
    EXPECT_THAT(readFile(dir / "stderr.txt"), HasSubstr("Date/Time stamp or GPS Error"));
}
