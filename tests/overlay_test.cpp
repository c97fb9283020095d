#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vips/vips8>

#include "RunFixture.h"
#include "platform/picture/Picture.h"

using namespace mv;
using namespace mvtest;
namespace fs = std::filesystem;

namespace {

Pattern solid(Rgb c)
{
    return [c](int, int) { return c; };
}

// The blend of two colours by a formula on linear values, back in sRGB.
std::array<int, 3> expected(Rgb s, Rgb b, const std::function<double(double, double)>& f)
{
    return {toSrgb(f(toLinear(s.r), toLinear(b.r))), toSrgb(f(toLinear(s.g), toLinear(b.g))),
            toSrgb(f(toLinear(s.b), toLinear(b.b)))};
}

double lighten(double s, double b) { return std::max(s, b); }
double darken(double s, double b) { return std::min(s, b); }
double overlay(double s, double b) { return b <= 0.5 ? 2 * s * b : 1 - 2 * (1 - s) * (1 - b); }
std::function<double(double, double)> maskOf(double m)
{
    return [m](double s, double b) { return b + m * (s - b); };
}

// A 16 x 12 picture of one colour with an alpha channel.
void writeRgba(const std::string& path, Rgb c, std::uint8_t alpha)
{
    vips::VImage::black(16, 12)
        .new_from_image({double(c.r), double(c.g), double(c.b), double(alpha)})
        .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
        .write_to_file(path.c_str());
}

struct OverlayFixture : RunFixture {
    int n = 0;

    OverlayFixture()
    {
        settings.format = 0;
        settings.scale = 1.0f;
        settings.codec = kCodecTIFF; // lossless: decoded frames hold the blended values
        list.setLayerSound([] {});
    }

    std::string picture(const std::string& name, Rgb c, int w = 16, int h = 12)
    {
        writeImage(dir / name, w, h, solid(c));
        return dir / name;
    }

    std::array<int, 3> pixel(const Picture& p, int x = 3, int y = 3)
    {
        RgbaBitmap b;
        EXPECT_TRUE(p.render(b));
        const std::uint8_t* px = &b.pixels[(std::size_t(y) * b.width + x) * 4];
        return {px[0], px[1], px[2]};
    }

    // Main images, then (in layer mode) layers and masks, as the window
    // lists them.
    void listAll(const std::vector<std::string>& mains, const std::vector<std::string>& layers,
                 const std::vector<std::string>& masks = {})
    {
        list.clearList();
        ports.nextChoice = mains;
        list.selectFiles();
        list.setIsLayerImages(true);
        ports.nextChoice = layers;
        list.selectFiles();
        if (!masks.empty()) {
            list.setIsMaskImages(true);
            ports.nextChoice = masks;
            list.selectFiles();
            list.setIsMaskImages(false);
        }
    }

    // Makes the movie; its frames, decoded, one per image (any missing black, to
    // fail checks, not crash), or nothing when it was refused.
    std::vector<std::vector<std::uint8_t>> make(std::uint16_t mode, int w = 16, int h = 12)
    {
        settings.overlayMode = mode;
        if (!startMovie("movie" + std::to_string(++n) + ".mov"))
            return {};
        run->waitForWorker();
        EXPECT_TRUE(run->wasWritten());
        const auto info = probeStream(run->outputPath());
        EXPECT_EQ(info.at("width") + "x" + info.at("height"), std::to_string(w) + "x" + std::to_string(h));
        auto frames = decodeFrames(run->outputPath(), w, h);
        EXPECT_EQ(frames.size(), list.fileCount());
        frames.resize(list.fileCount(), std::vector<std::uint8_t>(std::size_t(w) * h * 3));
        return frames;
    }
};

void expectPixel(const std::vector<std::uint8_t>& frame, int w, int x, int y, std::array<int, 3> want, int tol = 2)
{
    const std::uint8_t* p = &frame[(std::size_t(y) * w + x) * 3];
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(p[k], want[k], tol) << "component " << k << " at " << x << "," << y;
}

} // namespace

TEST_F(OverlayFixture, BlendModesFollowTheirFormulasInLinearLight)
{
    // Each pair has components on both sides of each other and of linear 0.5
    // (sRGB 188), so both branches of every formula are taken.
    const std::pair<Rgb, Rgb> pairs[] = {{{200, 40, 128}, {90, 230, 190}}, {{30, 250, 60}, {220, 20, 187}}};
    struct Case {
        const char* name;
        std::function<Picture(const Picture&, const Picture&)> apply;
        std::function<double(double, double)> formula;
    };
    const std::string grey = picture("grey.png", {150, 150, 150});
    const std::string white = picture("white.png", {255, 255, 255});
    const std::string black = picture("black.png", {0, 0, 0});
    const std::string tinted = picture("tinted.png", {255, 100, 0}); // only green counts
    const std::string halfWhite = dir / "half.png";
    writeRgba(halfWhite, {255, 255, 255}, 128); // green premultiplied: 128 / 255 in linear light
    auto blend = [](Picture::Blend m) { return [m](const Picture& s, const Picture& b) { return s.blended(b, m); }; };
    auto mask = [](const std::string& file) {
        return [file](const Picture& s, const Picture& b) { return s.blendedWithMask(b, *Picture::openMask(file)); };
    };
    const Case cases[] = {
        {"lighten", blend(Picture::Blend::Lighten), lighten},
        {"darken", blend(Picture::Blend::Darken), darken},
        {"maximum", blend(Picture::Blend::Maximum), lighten},
        {"minimum", blend(Picture::Blend::Minimum), darken},
        {"overlay", blend(Picture::Blend::Overlay), overlay},
        {"grey mask", mask(grey), maskOf(toLinear(150))},
        {"white mask shows the frame", mask(white), [](double s, double) { return s; }},
        {"black mask shows the layer", mask(black), [](double, double b) { return b; }},
        {"the mask's green", mask(tinted), maskOf(toLinear(100))},
        {"the mask's alpha", mask(halfWhite), maskOf(128 / 255.0)},
    };
    for (const auto& [s, b] : pairs) {
        const std::string sf = picture("s" + std::to_string(++n) + ".png", s);
        const std::string bf = picture("b" + std::to_string(n) + ".png", b);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            // 8-bit pictures, and a frame already adjusted (in linear light).
            const auto got = pixel(c.apply(*Picture::open(sf), *Picture::open(bf)));
            const auto gotLinear = pixel(c.apply(Picture::open(sf)->exposureAdjust(0.0f), *Picture::open(bf)));
            const auto want = expected(s, b, c.formula);
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(got[k], want[k], 1) << "component " << k;
                EXPECT_NEAR(gotLinear[k], want[k], 1) << "component " << k;
            }
        }
    }
}

TEST_F(OverlayFixture, LayersAreBlendedIntoEveryFrameOfAMovie)
{
    const Rgb mainColour[] = {{200, 40, 128}, {60, 160, 240}, {120, 220, 20}};
    const Rgb layerColour = {90, 230, 190};
    std::vector<std::string> mains, layers;
    for (int i = 0; i < 3; ++i) {
        mains.push_back(picture("m" + std::to_string(i) + ".png", mainColour[i]));
        // The last layer has another size: scaled to cover and cut like the
        // frame, it fills it to the edges.
        layers.push_back(picture("l" + std::to_string(i) + ".png", layerColour, i == 2 ? 40 : 16, i == 2 ? 24 : 12));
    }
    listAll(mains, layers);
    ASSERT_EQ(list.layerFiles().size(), 3u);
    for (const auto& [mode, formula] : std::vector<std::pair<int, std::function<double(double, double)>>>{
             {0, lighten}, {1, darken}, {4, overlay}}) {
        SCOPED_TRACE(mode);
        const auto frames = make(static_cast<std::uint16_t>(mode));
        for (int i = 0; i < 3; ++i)
            for (const auto& [x, y] : {std::pair{0, 0}, {15, 11}, {7, 5}})
                expectPixel(frames[i], 16, x, y, expected(mainColour[i], layerColour, formula));
    }
    // A mode that is not in the table blends nothing.
    const auto plain = make(9);
    expectPixel(plain[1], 16, 4, 4, {mainColour[1].r, mainColour[1].g, mainColour[1].b}, 0);

    // A layer whose data is cut short leaves its frame without a layer, and
    // the run says so: a line naming both files, and an alert at the end.
    EXPECT_TRUE(ports.alerts().empty()) << ports.lastAlert();
    const std::string whole = readFile(layers[1]);
    std::ofstream(layers[1], std::ios::binary | std::ios::trunc) << whole.substr(0, whole.size() / 2);
    const auto frames = make(0);
    expectPixel(frames[1], 16, 4, 4, {mainColour[1].r, mainColour[1].g, mainColour[1].b}, 0);
    expectPixel(frames[2], 16, 4, 4, expected(mainColour[2], layerColour, lighten));
    EXPECT_EQ(run->actualImages(), 3u);
    EXPECT_THAT(readFile(verify.path()), HasSubstr("Create Movie: m1.png Layer overlay failed (l1.png)\n"));
    EXPECT_THAT(ports.lastAlert(), HasSubstr("1 frames have no layer"));
}

TEST_F(OverlayFixture, OneMaskServesEveryFrameAndAListGivesOnePerImage)
{
    const Rgb frameColour = {200, 40, 128}, layerColour = {20, 180, 60};
    const std::array<int, 3> frameShows = {200, 40, 128}, layerShows = {20, 180, 60};
    std::vector<std::string> mains, layers;
    for (int i = 0; i < 4; ++i) {
        mains.push_back(picture("m" + std::to_string(i) + ".png", frameColour));
        layers.push_back(picture("l" + std::to_string(i) + ".png", layerColour));
    }
    // One mask, white on the left half and black on the right.
    writeImage(dir / "split.png", 16, 12, [](int x, int) { return x < 8 ? Rgb{255, 255, 255} : Rgb{0, 0, 0}; });
    listAll(mains, layers, {dir / "split.png"});
    ASSERT_EQ(list.maskFiles().size(), 1u);
    auto frames = make(kMaskBlend);
    for (const auto& f : frames) {
        expectPixel(f, 16, 2, 6, frameShows, 0);
        expectPixel(f, 16, 13, 6, layerShows, 0);
    }

    // One mask per image: image i gets mask i (white, black, grey, black).
    const std::array<int, 4> levels = {255, 0, 100, 0};
    std::vector<std::string> masks;
    for (int i = 0; i < 4; ++i)
        masks.push_back(picture("mask" + std::to_string(i) + ".png",
                                {std::uint8_t(levels[i]), std::uint8_t(levels[i]), std::uint8_t(levels[i])}));
    listAll(mains, layers, masks);
    ASSERT_EQ(list.maskFiles(), masks);
    frames = make(kMaskBlend);
    for (int i = 0; i < 4; ++i)
        expectPixel(frames[i], 16, 5, 5, expected(frameColour, layerColour, maskOf(toLinear(levels[i]))));

    // A mask that is not a picture: the frames have no layer at all.
    listAll(mains, layers, {dir / "split.png"});
    std::ofstream(dir / "split.png", std::ios::trunc) << "not a picture";
    frames = make(kMaskBlend);
    for (const auto& f : frames)
        expectPixel(f, 16, 13, 6, frameShows, 0);
    EXPECT_THAT(readFile(verify.path()), HasSubstr("Create Movie: m3.png Layer overlay failed (split.png)\n"));
    EXPECT_THAT(ports.lastAlert(), HasSubstr("4 frames have no layer"));
    const std::size_t alertsBefore = ports.alerts().size();

    // The mask mode without any mask: nothing to read, plain frames.
    listAll(mains, layers);
    ASSERT_TRUE(list.maskFiles().empty());
    frames = make(kMaskBlend);
    expectPixel(frames[3], 16, 13, 6, frameShows, 0);
    EXPECT_EQ(ports.alerts().size(), alertsBefore) << ports.lastAlert();
}

TEST_F(OverlayFixture, ListsThatNoLongerMatchTheImagesAreRefusedBeforeTheMovie)
{
    std::vector<std::string> mains, layers;
    for (int i = 0; i < 4; ++i) {
        mains.push_back(picture("m" + std::to_string(i) + ".png", {200, 40, 128}));
        layers.push_back(picture("l" + std::to_string(i) + ".png", {20, 180, 60}));
    }
    const std::string extra = picture("m9.png", {1, 2, 3});
    listAll(mains, layers);
    const auto moviesNow = [&] {
        const auto isMovie = [](const fs::directory_entry& e) { return e.path().extension() == ".mov"; };
        return std::count_if(fs::directory_iterator(dir.path()), fs::directory_iterator(), isMovie);
    };

    // The main list grew after the layers were taken (a drop while not in
    // layer mode): the last image would have no layer.
    list.setIsLayerImages(false);
    list.processImageList({extra});
    list.setIsLayerImages(true);
    ASSERT_EQ(list.fileCount(), 5u);
    EXPECT_TRUE(make(0).empty());
    EXPECT_EQ(ports.lastAlert(), "Number of layer images do not match / Images: 5, Layer images: 4");
    EXPECT_EQ(moviesNow(), 0);

    // A layer dropped in too many: the list run refuses it but keeps it, and
    // so does the movie.
    listAll(mains, layers);
    list.processImageList({extra});
    ASSERT_EQ(list.layerFiles().size(), 5u);
    EXPECT_TRUE(make(1).empty());
    EXPECT_EQ(ports.lastAlert(), "Number of layer images do not match / Images: 4, Layer images: 5");

    // Two masks for four images: refused by the list run and by the movie
    // in the mask mode; the other modes do not use the masks.
    listAll(mains, layers, {layers[0], layers[1]});
    EXPECT_EQ(ports.lastAlert(), "Number of mask images do not match / Images: 4, Mask images: 2");
    EXPECT_TRUE(make(kMaskBlend).empty());
    EXPECT_EQ(ports.lastAlert(), "Number of mask images do not match / Images: 4, Mask images: 2");
    EXPECT_EQ(moviesNow(), 0);
    EXPECT_EQ(make(0).size(), 4u);
    EXPECT_EQ(moviesNow(), 1);
}

TEST_F(OverlayFixture, LayerAndMaskFollowAKeyframeZoom)
{
    // The pattern comes only from the layer, or only from the mask: each
    // frame must show it cut as a movie of the pattern itself is.
    writeImage(dir / "pattern.png", 64, 48);
    std::vector<std::string> patterns, blacks, whites;
    for (int i = 0; i < 8; ++i) {
        patterns.push_back(dir / ("p" + std::to_string(i) + ".png"));
        fs::create_symlink(dir / "pattern.png", patterns.back());
        blacks.push_back(picture("k" + std::to_string(i) + ".png", {0, 0, 0}, 64, 48));
        whites.push_back(picture("w" + std::to_string(i) + ".png", {255, 255, 255}, 64, 48));
    }
    settings.scale = 0.5f; // frames of 32 x 24
    settings.crop = kCropCustom;
    view.frame = view.srcRect = {0, 0, 64, 48};
    editor.animFile = dir / "anim.txt";
    ports.nextChoice = patterns;
    list.selectFiles();
    editor.createCropWindow();
    for (const auto& [frame, rect] : {std::pair<std::uint32_t, Rect>{0, {0, 0, 64, 48}}, {7, {16, 12, 32, 24}}}) {
        editor.frame = frame;
        view.cropRect = rect;
        ASSERT_TRUE(editor.enterButtonAction());
    }
    const auto reference = make(0, 32, 24);
    ASSERT_GT(meanAbsDiff(reference[0], reference[7]), 5.0); // the zoom shows

    listAll(blacks, patterns);
    const auto layered = make(0, 32, 24); // lighten over black: the layer alone
    listAll(whites, blacks, {dir / "pattern.png"});
    const auto masked = make(kMaskBlend, 32, 24); // white where the mask is, black elsewhere
    for (int i = 0; i < 8; ++i) {
        EXPECT_LE(maxAbsDiff(layered[i], reference[i]), 2) << "frame " << i;
        std::vector<std::uint8_t> green(reference[i].size());
        for (std::size_t p = 0; p < green.size(); ++p)
            green[p] = reference[i][p / 3 * 3 + 1];
        EXPECT_LE(maxAbsDiff(masked[i], green), 2) << "frame " << i;
    }
}
