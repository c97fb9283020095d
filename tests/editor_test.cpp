// The editor's control arithmetic, the crop rectangle's rules and the
// preview's pictures, without a display.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <utility>

#include "SyntheticRaw.h"
#include "TestSupport.h"
#include "animation/CropViewGeometry.h"
#include "animation/CropWindow.h"
#include "animation/EditorControls.h"
#include "render/PreviewLoader.h"

using namespace mv;
using namespace mvtest;

// The window tests step through lists and the rate with the keys; here the
// ends of the ranges, and the window's sizes.
TEST(EditorControls, SlidersAndRateStayInRangeAndTheWindowKeepsTheAspect)
{
    EXPECT_EQ(editor::frameAtSlider(101, 1000), 100u);
    EXPECT_EQ(editor::frameAtSlider(101, 5000), 100u); // out of range: held to the last image
    EXPECT_EQ(editor::frameAtSlider(0, 500), 0u);
    // The arrow keys place the slider by truncation; the last image is at the end.
    EXPECT_EQ(editor::sliderAtFrame(1, 7), 166);
    EXPECT_EQ(editor::sliderAtFrame(70000, 70001), 1000); // no overflow in the product
    EXPECT_EQ(editor::rateAfterDown(11, false), 1);
    EXPECT_EQ(editor::rateAfterDown(0, true), 1); // never a step of 0
    EXPECT_EQ(editor::rateAfterUp(1, true), 101);
    EXPECT_EQ(editor::rateAfterUp(65500, true), 65535); // stops instead of wrapping to a small step
    // The frame rate's slider is logarithmic.
    EXPECT_NEAR(editor::fpsAtSlider(editor::fpsSliderPosition(30)), 30.0f, 1e-3);
    EXPECT_NEAR(editor::fpsSliderPosition(1.25f), 1.0, 1e-6);
    EXPECT_EQ(editor::fpsAtSlider(100), 600.0f);
    // A very wide first image: the window is little more than its controls.
    EXPECT_NEAR(editor::contentHeightFor(0.01, 640), 6.4 + editor::kPreviewBottom, 1e-4);
    EXPECT_NEAR(editor::contentHeightFor(0.75, 800), 600 + editor::kPreviewBottom, 1e-9);
    // A read file's window: as written where the screen has room, else
    // shrunk at its shape until it and the controls fit.
    using editor::PreviewSize;
    EXPECT_EQ(editor::heldPreviewSize(640, 360, 640, 360 + editor::kPreviewBottom), (PreviewSize{640, 360}));
    // 16000 * 969 / 9000, whole pixels.
    EXPECT_EQ(editor::heldPreviewSize(16000, 9000, 1920, 1050), (PreviewSize{1722, 1050 - editor::kPreviewBottom}));
    EXPECT_EQ(editor::heldPreviewSize(4000, 1000, 1000, 1000).width, 1000);
}

namespace {

struct Geometry : ::testing::Test {
    JobSettings settings;
    CropViewState state;
    CropViewGeometry g{state};

    // An HD1080P output of 1920-pixel images in an 800 x 450 view.
    Geometry()
    {
        settings.format = 1;
        state.srcRect = {0, 0, 1920, 1080};
        g.startCropRect(settings, 800, 450);
    }
};

} // namespace

TEST_F(Geometry, StartsAcrossTheViewGreenUntilEnlarged)
{
    EXPECT_EQ(state.cropRect, (Rect{0, 0, 800, 450}));
    EXPECT_NEAR(g.scale(), 0.4167, 1e-4);
    EXPECT_TRUE(state.isCropRect);
    EXPECT_TRUE(g.isGreen(800));
    state.cropRect.width = 400;
    EXPECT_FALSE(g.isGreen(800));
    // Smaller images are enlarged even at full width.
    state.srcRect.width = 1280;
    state.cropRect.width = 800;
    EXPECT_FALSE(g.isGreen(800));

    // Vertical mode: the portrait frame spans the view's height.
    settings.isVertical = true;
    g.startCropRect(settings, 800, 450);
    EXPECT_NEAR(state.cropRect.height, 450, 1e-9);
    EXPECT_NEAR(state.cropRect.width, 450 * 1080.0 / 1920, 1e-3);
    EXPECT_NEAR(g.scale(), 450.0 / 1920, 1e-6);
    // A percentage output follows the image.
    settings = {};
    settings.format = 0;
    settings.scale = 0.5f;
    state.srcRect = {0, 0, 1000, 500};
    g.startCropRect(settings, 800, 450);
    EXPECT_EQ(state.cropRect, (Rect{0, 0, 800, 400}));
}

TEST_F(Geometry, MovingStopsBeforeTheEdgesAndFollowsAgain)
{
    state.cropRect = {100, 100, 400, 225};
    EXPECT_TRUE(g.inHandle(300, 212));
    EXPECT_FALSE(g.inHandle(300 + 45, 212.5 + 45)); // in the square, outside the oval
    // Dragging left 30 at a time: the move that would reach 0 is dropped.
    for (int i = 0; i < 5; ++i)
        g.moveBy(-30, 0, 800, 450);
    EXPECT_EQ(state.cropRect.x, 10);
    g.moveBy(-10, 0, 800, 450);
    EXPECT_EQ(state.cropRect.x, 10);
    g.moveBy(25, 0, 800, 450); // the mouse comes back
    EXPECT_EQ(state.cropRect.x, 35);
    // Each direction on its own: y still follows while x is refused.
    g.moveBy(-100, 20, 800, 450);
    EXPECT_EQ(state.cropRect.x, 35);
    EXPECT_EQ(state.cropRect.y, 120);
    // The top and the right edge.
    g.moveBy(0, 450 - 225 - 1 - 120, 800, 450);
    EXPECT_EQ(state.cropRect.y, 120);
    g.moveBy(800 - 400 - 35, 0, 800, 450);
    EXPECT_EQ(state.cropRect.x, 35);
    g.moveBy(800 - 400 - 36, 0, 800, 450);
    EXPECT_EQ(state.cropRect.x, 399);
}

TEST_F(Geometry, ResizingKeepsTheAspectWithinLimits)
{
    // The full view width cannot grow and cannot reach it again.
    g.resizeBy(10, 800, 450, false);
    EXPECT_EQ(state.cropRect, (Rect{0, 0, 800, 450}));
    g.resizeBy(-200, 800, 450, false);
    g.resizeBy(-200, 800, 450, false);
    EXPECT_EQ(state.cropRect.width, 400);
    EXPECT_NEAR(state.cropRect.height, 225, 1e-3);
    EXPECT_EQ(state.cropRect.x, 0); // the lower left corner stays
    g.resizeBy(-301, 800, 450, false); // below 100
    EXPECT_EQ(state.cropRect.width, 400);
    g.resizeBy(400, 800, 450, false); // to the full width
    EXPECT_EQ(state.cropRect.width, 400);
    // Growing near the right and top edges pushes the rectangle back inside.
    state.cropRect = {500, 300, 200, 112.5};
    g.resizeBy(150, 800, 450, false);
    EXPECT_EQ(state.cropRect.width, 350);
    EXPECT_EQ(state.cropRect.x, 450);
    EXPECT_NEAR(state.cropRect.y + state.cropRect.height, 450, 1e-3);
}

TEST(EditorModel, ResizeAfterAReadDropsTheReadAnimationWhole)
{
    TempDir dir;
    JobSettings settings;
    settings.numListImages = 20;
    RecordingPorts ports;
    CropViewState view;
    view.frame = {0, 81, 640, 480};
    view.srcRect = {0, 0, 1920, 1080};
    CropWindow editor(settings, ports, view);
    editor.animFile = dir / "anim.txt";
    editor.createCropWindow();
    for (const auto& [frame, rect] : {std::pair<std::uint32_t, Rect>{0, {0, 0, 640, 360}}, {10, {100, 50, 320, 180}}}) {
        editor.frame = frame;
        view.cropRect = rect;
        ASSERT_TRUE(editor.enterButtonAction());
    }

    // Entered keyframes stay: the window cannot be resized then anyway.
    editor.windowResized();
    EXPECT_EQ(editor.frameArray().size(), 2u);

    editor.createCropWindow();
    editor.beginRead();
    ASSERT_TRUE(editor.readAnimFile()) << ports.lastAlert();
    editor.setReadAnim();
    ASSERT_EQ(editor.frameArray().size(), 2u);
    editor.windowResized();
    EXPECT_TRUE(editor.frameArray().empty() && editor.rectArray().empty() && editor.frameTotal() == 0);
    EXPECT_FALSE(editor.isAnimation() || editor.isReadAnim());
    editor.frame = 5;
    EXPECT_FALSE(editor.enterButtonAction()); // a new animation starts at the first image again

    // Read into a preview held to half the file's window (a smaller screen):
    // keyframes are shown at half their size, and one entered on it is kept
    // in the file's units like the others.
    editor.createCropWindow();
    editor.beginRead();
    ASSERT_TRUE(editor.readAnimFile()) << ports.lastAlert();
    editor.setReadAnim();
    view.frame = {0, 81, 320, 240};
    EXPECT_EQ(editor.inPreview(editor.frameArray()[1].rect), (Rect{50, 25, 160, 90}));
    editor.frame = 15;
    view.cropRect = {60, 30, 160, 90};
    ASSERT_TRUE(editor.enterButtonAction());
    EXPECT_EQ(editor.frameArray().back().rect, (Rect{120, 60, 320, 180}));
    EXPECT_NEAR(editor.frameArray().back().deltaX, 20.0 / 5, 1e-6);
}

namespace {

// Collects the loader's answers.
struct Answers {
    std::mutex m;
    std::condition_variable cv;
    std::vector<PreviewPicture> got;

    void add(PreviewPicture p)
    {
        std::lock_guard lock(m);
        got.push_back(std::move(p));
        cv.notify_all();
    }
    // Waits for n answers and takes them.
    std::vector<PreviewPicture> take(std::size_t n)
    {
        std::unique_lock lock(m);
        cv.wait_for(lock, std::chrono::seconds(30), [&] { return got.size() >= n; });
        return std::exchange(got, {});
    }
    PreviewPicture waitFor(std::uint64_t serial)
    {
        std::unique_lock lock(m);
        cv.wait_for(lock, std::chrono::seconds(30), [&] { return !got.empty() && got.back().serial >= serial; });
        return got.empty() ? PreviewPicture{} : std::move(got.back());
    }
};

} // namespace

TEST(PreviewLoader, DecodesAtTheViewSizeAndAdjustsWithoutRereading)
{
    TempDir dir;
    const std::string jpeg = dir / "big.jpg", broken = dir / "broken.jpg";
    writeImage(jpeg, 1600, 1200);
    std::ofstream(broken) << "not a picture";
    Answers answers;
    PreviewLoader loader([&](PreviewPicture p) { answers.add(std::move(p)); });

    PreviewRequest r{jpeg, 400, 240, {}, false}; // stretched to the view's shape
    PreviewPicture p = answers.waitFor(loader.request(r));
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_TRUE(p.reloaded);
    ASSERT_EQ(p.bitmap.width * p.bitmap.height, 400 * 240);
    // The same picture the movie's scaler makes of the whole image.
    EXPECT_LT(meanAbsDiff(rgbOf(p.bitmap), referenceFrame(jpeg, 400, 240, 0, 0, 400, 240)), 3.0);

    // New adjustments: the kept picture, the movie's own chain.
    r.adjustments.exposure = 1;
    r.adjustments.saturation = 0;
    p = answers.waitFor(loader.request(r));
    ASSERT_TRUE(p.ok);
    EXPECT_FALSE(p.reloaded);
    Picture expected = applyAdjustments(*Picture::open(jpeg)->scaled(0.2, 400.0 / 1600 / 0.2).decoded(),
                                        r.adjustments);
    RgbaBitmap e;
    ASSERT_TRUE(expected.render(e));
    EXPECT_LE(maxAbsDiff(rgbOf(e), rgbOf(p.bitmap)), 1);
    const std::uint8_t* px = p.bitmap.pixels.data() + 4 * (120 * 400 + 200);
    EXPECT_TRUE(px[0] == px[1] && px[1] == px[2]); // grey: saturation 0

    // A burst of requests: the newest is answered, the waiting ones may be skipped.
    std::uint64_t last = 0;
    for (int i = 0; i < 5; ++i) {
        r.adjustments.exposure = 0.1f * i;
        last = loader.request(r);
    }
    EXPECT_EQ(answers.waitFor(last).serial, last);

    p = answers.waitFor(loader.request({broken, 400, 240, {}, false}));
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.path, broken);
}

// A raw file shows the camera's own preview at once and then the picture
// as the movie develops it, under the same serial; a newer request skips
// the development of a picture no longer wanted, and a raw without a
// preview that covers the view is developed straight away.
TEST(PreviewLoader, ARawShowsTheCamerasPreviewUntilItIsDeveloped)
{
    const std::string cr2 = realCr2();
    if (cr2.empty())
        GTEST_SKIP() << "rawtran-doc's IMG_5952.CR2 is missing: run scripts/setup";
    TempDir dir;
    const std::string dng = dir / "shot.dng";
    writeDng(dng, linearPattern(480, 320), {});
    Answers answers;
    std::function<void(const PreviewPicture&)> onAnswer = [](const PreviewPicture&) {};
    PreviewLoader loader([&](PreviewPicture p) {
        onAnswer(p);
        answers.add(std::move(p));
    });

    const std::uint64_t serial = loader.request({cr2, 600, 400, {}, false});
    auto got = answers.take(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(got[0].ok && got[0].draft && got[0].serial == serial);
    EXPECT_TRUE(got[1].ok && !got[1].draft && got[1].reloaded && got[1].serial == serial);
    const auto developed = Picture::openForSize(cr2, 600, 400);
    ASSERT_TRUE(developed);
    RgbaBitmap expected;
    ASSERT_TRUE(developed->scaled(400.0 / developed->height(), 600.0 / developed->width() / (400.0 / developed->height()))
                    .render(expected));
    EXPECT_LE(maxAbsDiff(rgbOf(expected), rgbOf(got[1].bitmap)), 1);
    // The camera's rendering of the same scene: near, not the same.
    EXPECT_LT(meanAbsDiff(rgbOf(got[0].bitmap), rgbOf(got[1].bitmap)), 40.0);

    AdjustmentValues brighter;
    brighter.exposure = 1;
    loader.request({cr2, 600, 400, brighter, false});
    got = answers.take(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_FALSE(got[0].draft || got[0].reloaded);

    // The next picture asked for while the camera's preview of this one is shown.
    onAnswer = [&](const PreviewPicture& p) {
        if (p.draft && p.reloaded)
            loader.request({dng, 600, 400, {}, false});
    };
    loader.request({cr2, 640, 400, {}, false});
    got = answers.take(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(got[0].draft);
    EXPECT_EQ(got[1].path, dng);
    EXPECT_TRUE(got[1].ok && !got[1].draft);
}
