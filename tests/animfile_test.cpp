#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "animation/CropWindow.h"

using namespace mv;
using namespace mvtest;

namespace {

struct AnimFile : ::testing::Test {
    TempDir dir;
    JobSettings settings;
    RecordingPorts ports;
    CropViewState view;
    CropWindow editor{settings, ports, view};

    AnimFile()
    {
        settings.numListImages = 90;
        settings.format = 0;
        settings.scale = 0.5f;
        settings.codec = kCodecAnimation;
        settings.quality = kQualityHigh;
        view.frame = {0, 0, 400, 300};
        view.srcRect = {0, 0, 400, 300};
        editor.animFile = dir / "Moirevance Animation.txt";
        editor.firstImageName = "img-00.png";
        editor.version = "0.1";
        editor.createCropWindow();
    }

    bool enter(std::uint32_t frame, Rect rect, CropWindow* into = nullptr)
    {
        into = into ? into : &editor;
        into->frame = frame;
        view.cropRect = rect;
        return into->enterButtonAction();
    }

    // Reads `text` as an animation file into a fresh editor; answers the
    // result and leaves the alerts in `ports`.
    bool read(const std::string& text, CropWindow& reader)
    {
        const std::string path = dir / "crafted.txt";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return reader.readAnimFile(path);
    }

    static std::string header(const std::string& imageLine = "Image: img-00.png (400X300)\n")
    {
        return "*** Moirevance 06 Dec 2026 07:00:00 ***\n\nVersion: 0.1\n\n" + imageLine +
               "Window: 400X300\nImages: 90\nFPS: 25.00\nScale: HD720P\nCodec: H264\nQuality: Low\n"
               "DateStamp: No\nGPS: Yes\nVertical: No\n\n*** Animation Sequence ***\n";
    }

    static std::string block(int frame, int rate = 1, const std::string& rect = "(0.000000, 0.000000, 400.000000, 300.000000)")
    {
        return "\nFrame: " + std::to_string(frame) + "\nRate: " + std::to_string(rate) + "X\ncropRect: " + rect +
               "\nSaturation: 1.000\nBrightness: 0.000\nContrast: 1.000\nExposure: 0.000\nMonoI: 0.000\n"
               "MonoColor: 1 1 1 1\nSepia: 0.000\nBlur: 0.000\nRotate: 0.000\nAnimFPS: 30.0\n";
    }
};

} // namespace

// The codec line names the five first codecs as files written before the
// later ones did; the later ones have names of their own.
TEST_F(AnimFile, EveryCodecIsReadBackByItsName)
{
    const char* const names[] = {"JPEG", "H264", "TIFF", "MP4", "Animation", "HEVC", "ProRes", "AV1"};
    for (std::uint16_t code = kCodecJPEG; code <= kLastCodec; ++code) {
        SCOPED_TRACE(names[code - 1]);
        std::string text = header() + block(1) + block(3);
        text.replace(text.find("Codec: H264"), 11, std::string("Codec: ") + names[code - 1]);
        JobSettings other;
        other.numListImages = 90;
        CropWindow reader(other, ports, view);
        ASSERT_TRUE(read(text, reader)) << ports.lastAlert();
        EXPECT_EQ(reader.codec, code);
    }
    settings.codec = kCodecProRes;
    ASSERT_TRUE(enter(0, {0, 0, 400, 300}));
    EXPECT_NE(readFile(editor.animFile).find("\nCodec: ProRes\n"), std::string::npos);
}

TEST_F(AnimFile, WrittenAsKeyframesAreEnteredAndReadBackEqual)
{
    settings.saturation = 1.25f;
    ASSERT_TRUE(enter(0, {0, 0, 400, 300}));
    settings.saturation = 0.5f;
    settings.monoIntensity = 0.3f;
    settings.ciColor = {1, 0.5f, 0.25f};
    editor.sliderFPS = 12.5f;
    ASSERT_TRUE(enter(30, {100.25, 75, 200, 150}));
    settings.rotateAngle = kStraightenRange.low; // written as -3.142
    ASSERT_TRUE(enter(60, {50, 50, 300, 225}));

    const std::string text = readFile(editor.animFile);
    EXPECT_EQ(text.rfind("*** Moirevance ", 0), 0u);
    EXPECT_NE(text.find(" ***\n\nVersion: 0.1\n\nImage: img-00.png (400X300)\nWindow: 400X300\nImages: 90\n"
                        "FPS: 30.00\nScale: NOFORMAT (50.0%)\nCodec: Animation\nQuality: High\nDateStamp: No\n"
                        "GPS: No\nVertical: No\n\n*** Animation Sequence ***\n\nFrame: 1\nRate: 1X\n"
                        "cropRect: (0.000000, 0.000000, 400.000000, 300.000000)\nSaturation: 1.250\n"),
              std::string::npos);
    EXPECT_NE(text.find("\nFrame: 31\nRate: 1X\ncropRect: (100.250000, 75.000000, 200.000000, 150.000000)\n"
                        "Saturation: 0.500\nBrightness: 0.000\nContrast: 1.000\nExposure: 0.000\nMonoI: 0.300\n"
                        "MonoColor: 1 0.5 0.25 1\nSepia: 0.000\nBlur: 0.000\nRotate: 0.000\nAnimFPS: 12.5\n"),
              std::string::npos);
    EXPECT_EQ(text.back(), '\n');

    JobSettings other;
    other.numListImages = 90;
    CropWindow reader(other, ports, view);
    ASSERT_TRUE(reader.readAnimFile(editor.animFile)) << ports.lastAlert();
    const auto& entered = editor.frameArray();
    const auto& got = reader.frameArray();
    ASSERT_EQ(got.size(), entered.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(got[k].frame, entered[k].frame);
        EXPECT_EQ(got[k].rate, entered[k].rate);
        EXPECT_EQ(got[k].rect, entered[k].rect);
        EXPECT_NEAR(got[k].saturation, entered[k].saturation, 5e-4);
        EXPECT_NEAR(got[k].monoIntensity, entered[k].monoIntensity, 5e-4);
        EXPECT_NEAR(got[k].rotateAngle, entered[k].rotateAngle, 5e-4);
        EXPECT_NEAR(got[k].fps, entered[k].fps, 0.05);
        EXPECT_NEAR(got[k].monoGreen, entered[k].monoGreen, 1e-6);
        if (k > 0) { // the first block's span counts from before image 0; its steps are zero either way
            EXPECT_NEAR(got[k].deltaX, entered[k].deltaX, 1e-5);
            EXPECT_NEAR(got[k].deltaW, entered[k].deltaW, 1e-5);
            EXPECT_NEAR(got[k].deltaS, entered[k].deltaS, 1e-4);
        }
    }
    EXPECT_EQ(reader.frameTotal(), editor.frameTotal() + 1);
    EXPECT_EQ(reader.codec, kCodecAnimation);
    EXPECT_EQ(reader.quality, kQualityHigh);
    EXPECT_EQ(reader.format, 0);
    EXPECT_FLOAT_EQ(reader.scale, 0.5f);
    EXPECT_EQ(reader.cvRect(), (Rect{0, 0, 400, 300}));
    EXPECT_EQ(reader.rectArray(), editor.rectArray());
    EXPECT_EQ(reader.fNumArray(), editor.fNumArray());

    // The same text with the line ends of another system reads the same.
    std::string crlf = text;
    for (std::size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2)
        crlf.replace(at, 1, "\r\n");
    CropWindow second(other, ports, view);
    ASSERT_TRUE(read(crlf, second)) << ports.lastAlert();
    ASSERT_EQ(second.frameArray().size(), got.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
        const frameS& c = second.frameArray()[k];
        EXPECT_TRUE(c.rect == got[k].rect && c.rotateAngle == got[k].rotateAngle && c.monoGreen == got[k].monoGreen);
    }
    EXPECT_TRUE(second.scale == reader.scale && second.codec == reader.codec);
}

TEST_F(AnimFile, HeaderSettingsBecomeTheJobs)
{
    CropWindow reader(settings, ports, view);
    ASSERT_TRUE(read(header() + block(1) + block(11, 2) + block(21, 2), reader)) << ports.lastAlert();
    EXPECT_TRUE(settings.isGPS); // passed on at once
    EXPECT_TRUE(reader.isRateChange()); // blocks after the first change the rate
    reader.setReadAnim();
    setAnim(settings, reader);
    EXPECT_FLOAT_EQ(settings.mvFPS, 25.0f);
    EXPECT_EQ(settings.format, 2);
    EXPECT_EQ(settings.codec, kCodecH264);
    EXPECT_EQ(settings.quality, kQualityLow);
    EXPECT_EQ(settings.rate, 2); // the last block's rate

    // No FPS line: the job keeps its frame rate rather than 0.
    std::string noFps = header();
    noFps.erase(noFps.find("FPS: 25.00\n"), 11);
    CropWindow second(settings, ports, view);
    settings.mvFPS = 12;
    ASSERT_TRUE(read(noFps + block(1) + block(5), second)) << ports.lastAlert();
    setAnim(settings, second);
    EXPECT_FLOAT_EQ(settings.mvFPS, 12.0f);
}

// Every problem of a file ends its reading with the alert that names it;
// a rate of 0, a repeated frame number and a keyframe on every image are
// read.
TEST_F(AnimFile, EachProblemEndsInItsAlert)
{
    const std::string kNot = "The animation file could not be processed / ";
    auto withValue = [](std::string text, const std::string& line, const std::string& value) {
        const auto at = text.find("\n" + line) + 1;
        return text.replace(at, text.find('\n', at) - at, line + value);
    };
    const std::string good = header() + block(1) + block(3);
    std::string keyframePerImage = header();
    for (int k = 0; k < 90; ++k)
        keyframePerImage += block(1);
    const std::pair<std::string, std::string> cases[] = {
        {header() + block(1), kNot + "The animation file has less than two frames."},
        {"just some\ntext file\nwith lines\n", kNot + "This file is not a Moirevance animation file."},
        {header("Image: img-00.png (640X480)\n") + block(1) + block(2),
         kNot + "Current image size does not match animation image size."},
        {header("Image: photo (1).png (400X300)\n") + block(1) + block(2),
         kNot + "Current image size does not match animation image size."},
        {header() + block(0) + block(2), kNot + "Frame number is larger than the number of images."},
        {header() + block(91) + block(2), kNot + "Frame number is larger than the number of images."},
        {header() + block(10) + block(5), kNot + "Frame sequence is out of order."},
        {header() + block(1) + block(11).substr(0, 40), kNot + "The animation file ends in the middle of its text."},
        {header().substr(0, 120), kNot + "The animation file ends in the middle of its text."},
        {"abc", kNot + "This file is not a Moirevance animation file."},
        {"", kNot + "This file is not a Moirevance animation file."},
        {withValue(good, "Images: ", "45"), kNot + "Number of images do not match the current list."},
        // 90 when cut to 16 bits.
        {withValue(good, "Images: ", "65626"), kNot + "Number of images do not match the current list."},
        {keyframePerImage + block(1), kNot + "The animation file has more keyframes than the list has images."},
        {withValue(good, "Blur: ", "1e9"), kNot + "Frame 1: the Blur value 1e+09 is outside 0 ... 1000."},
        {withValue(good, "Blur: ", "-2"), kNot + "Frame 1: the Blur value -2 is outside 0 ... 1000."},
        {withValue(good, "Sepia: ", "1.5"), kNot + "Frame 1: the Sepia value 1.5 is outside 0 ... 1."},
        {header() + block(1) + block(3, 1, "(0.000000, 0.000000, 1e30, 300.000000)"),
         kNot + "Frame 3: the crop rectangle (0, 0, 1e+30, 300) does not lie inside the 400X300 window."},
        {header() + block(1, 1, "(-100.000000, 0.000000, 40.000000, 30.000000)") + block(3),
         kNot + "Frame 1: the crop rectangle (-100, 0, 40, 30) does not lie inside the 400X300 window."},
        {withValue(good, "FPS: ", "0"), kNot + "The frame rate 0 is outside 0.01 ... 600."},
        {withValue(good, "Window: ", "0X1000000"), kNot + "The window size 0X1e+06 is not valid."},
        {withValue(good, "Window: ", "20000X15000"), kNot + "The window size 20000X15000 is not valid."},
        // What the Straighten slider cannot set, and numbers beyond a float.
        {withValue(good, "Rotate: ", "1e6"), kNot + "Frame 1: the Rotate value 1e+06 is outside -3.1421 ... 3.1421."},
        {withValue(good, "Rotate: ", "-3.2"), kNot + "Frame 1: the Rotate value -3.2 is outside -3.1421 ... 3.1421."},
        {withValue(good, "Rotate: ", "1e39"), kNot + "Frame 1: the Rotate value inf is outside -3.1421 ... 3.1421."},
        {header() + block(1, 1, "(1e39, 0.000000, 40.000000, 30.000000)") + block(3),
         kNot + "Frame 1: the crop rectangle (inf, 0, 40, 30) does not lie inside the 400X300 window."},
        {withValue(good, "Scale: ", "NOFORMAT (1e30%)"), "Could not find scale value /  "},
    };
    for (const auto& [text, alert] : cases) {
        CropWindow reader(settings, ports, view);
        EXPECT_FALSE(read(text, reader)) << alert;
        EXPECT_EQ(ports.lastAlert(), alert);
        EXPECT_FALSE(reader.isAnimation());
    }
    CropWindow missing(settings, ports, view);
    EXPECT_FALSE(missing.readAnimFile(dir / "no-such-file.txt"));
    EXPECT_EQ(ports.lastAlert(), "Could not read animation file /  ");

    CropWindow zeroRate(settings, ports, view);
    ASSERT_TRUE(read(header() + block(1, 0) + block(3, 0), zeroRate)) << ports.lastAlert();
    EXPECT_EQ(zeroRate.frameArray()[1].rate, 1);
    EXPECT_EQ(zeroRate.frameTotal(), 91); // spans 1 and 2, then 88 images, all at rate 1
    // A repeated frame number becomes an extra record without list entries.
    CropWindow repeated(settings, ports, view);
    ASSERT_TRUE(read(header() + block(1) + block(11) + block(11), repeated)) << ports.lastAlert();
    EXPECT_EQ(repeated.frameArray().size(), 3u);
    EXPECT_EQ(repeated.rectArray().size(), 2u);
    CropWindow perImage(settings, ports, view);
    ASSERT_TRUE(read(keyframePerImage, perImage)) << ports.lastAlert();
    EXPECT_EQ(perImage.frameArray().size(), 90u);

    // Past the size limit nothing more is read (the file is sparse: no
    // disk is filled); a file at the limit is read.
    const std::string path = dir / "huge.txt";
    std::ofstream(path, std::ios::binary) << good;
    std::filesystem::resize_file(path, CropWindow::kMaxFileBytes + 1);
    CropWindow huge(settings, ports, view);
    EXPECT_FALSE(huge.readAnimFile(path));
    EXPECT_EQ(ports.lastAlert(), kNot + "The file is larger than 16 MB, more than any animation file.");
    std::string atLimit = good + "\n";
    atLimit.resize(CropWindow::kMaxFileBytes, 'x'); // one stray line
    CropWindow full(settings, ports, view);
    EXPECT_TRUE(read(atLimit, full)) << ports.lastAlert();
}

// Removing the middle of three keyframes leaves the keyframes, the frame
// count and the animation file that entering the outer two gives (the
// header's date aside); Undo brings back the three, file and all. The first
// keyframe goes only as the last one left.
TEST_F(AnimFile, RemovingAKeyframeIsAsIfItWasNeverEnteredAndUndoTakesItBack)
{
    const auto body = [](const std::string& text) { return text.substr(text.find('\n')); };
    // The two outer keyframes alone, in a file of their own.
    CropWindow outer(settings, ports, view);
    outer.animFile = dir / "outer.txt";
    outer.firstImageName = editor.firstImageName;
    outer.version = editor.version;
    outer.createCropWindow();
    for (CropWindow* w : {&outer, &editor}) {
        settings.saturation = 1.25f;
        settings.ciColor = {1, 1, 1};
        ASSERT_TRUE(enter(0, {0, 0, 400, 300}, w));
        w->setRateSkip(2);
        settings.saturation = 0.5f;
        if (w == &editor) {
            ASSERT_TRUE(enter(30, {100, 75, 200, 150}));
        }
        settings.saturation = 1.5f;
        settings.ciColor = {1, 0.5f, 0.25f};
        ASSERT_TRUE(enter(60, {50, 50, 300, 225}, w));
    }
    const std::string three = readFile(editor.animFile);
    EXPECT_FALSE(editor.removeKeyframe(0));
    EXPECT_FALSE(editor.removeKeyframe(3));
    ASSERT_TRUE(editor.removeKeyframe(1));
    EXPECT_EQ(body(readFile(editor.animFile)), body(readFile(outer.animFile)));
    EXPECT_EQ(editor.frameTotal(), outer.frameTotal());
    EXPECT_EQ(editor.fNumArray(), outer.fNumArray());
    const frameS& got = editor.frameArray().back();
    const frameS& want = outer.frameArray().back();
    for (auto [a, b] : {std::pair{got.deltaX, want.deltaX}, {got.deltaW, want.deltaW}, {got.deltaS, want.deltaS},
                        {got.deltaMG, want.deltaMG}})
        EXPECT_FLOAT_EQ(a, b);

    ASSERT_TRUE(editor.undo());
    EXPECT_EQ(body(readFile(editor.animFile)), body(three));
    EXPECT_EQ(editor.frameArray().size(), 3u);
    EXPECT_FALSE(editor.undo()); // one step back only

    // Removed again, Enter goes on from the last keyframe as it would have,
    // and its Undo takes back only the Enter.
    ASSERT_TRUE(editor.removeKeyframe(1));
    settings.saturation = 1;
    ASSERT_TRUE(enter(80, {0, 0, 400, 300}));
    ASSERT_TRUE(enter(80, {0, 0, 400, 300}, &outer));
    EXPECT_EQ(body(readFile(editor.animFile)), body(readFile(outer.animFile)));
    EXPECT_EQ(editor.frameTotal(), outer.frameTotal());
    ASSERT_TRUE(editor.undo());
    EXPECT_EQ(editor.frameArray().size(), 2u);

    for (std::size_t k : {1, 0})
        ASSERT_TRUE(editor.removeKeyframe(k)) << k;
    EXPECT_FALSE(editor.isAnimation());
    EXPECT_FALSE(std::filesystem::exists(editor.animFile));
    editor.frame = 0;
    EXPECT_TRUE(editor.enterButtonAction()); // a new animation from the first image
}
