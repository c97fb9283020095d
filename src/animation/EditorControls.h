#pragma once
// The arithmetic of the animation editor's controls: where the frame slider
// points, how the arrow keys change the rate step, the logarithmic FPS
// slider and the window's fixed-aspect geometry. The Qt window only calls
// these.
#include <cstdint>

namespace mv::editor {

// The frame slider runs 0 ... 1000 across the list.
constexpr int kFrameSliderMax = 1000;
// The window is opened this wide; the preview spans its width at the first
// image's aspect, and the controls take kPreviewBottom below it. (The title
// bar above belongs to the window manager.)
constexpr double kOpenWidth = 640;
constexpr double kPreviewBottom = 81;
// The FPS slider moves in steps of this much of its exponent with Alt held.
constexpr double kFineFPSStep = 0.015;
// Highest rate step the keys reach: the largest the step's 16 bits hold.
constexpr std::uint16_t kMaxRateStep = 65535;

// Image index at a slider position for a list of n images.
std::uint32_t frameAtSlider(std::uint32_t n, int sliderValue);
// Slider position that shows image `frame` (0 with one image or none).
int sliderAtFrame(std::uint32_t frame, std::uint32_t n);

// The rate step after Up or Down, with or without Alt. Up stops at
// kMaxRateStep; Down never goes below 1.
std::uint16_t rateAfterUp(std::uint16_t rate, bool option);
std::uint16_t rateAfterDown(std::uint16_t rate, bool option);

// The FPS slider holds the exponent of 1.25: position for a rate, and rate
// for a position (at most 600).
double fpsSliderPosition(float fps);
float fpsAtSlider(double position);

// Height of the window's content for a width: the preview at the first
// image's aspect (height / width) plus the controls below it.
double contentHeightFor(double aspect, double width);

// The preview for a window read from a file, in whole pixels: as the file
// says when the content (controls included) fits the room the screen
// offers, else shrunk at the same shape until it does.
struct PreviewSize {
    double width, height;
    bool operator==(const PreviewSize&) const = default;
};
PreviewSize heldPreviewSize(double width, double height, double roomWidth, double roomHeight);

// The preview is never made lower than this by opening or resizing (a file
// read may ask for less): the crop rectangle has room to be dragged.
constexpr double kMinPreviewHeight = 100;

// The preview of a newly opened window, `width` wide at the first image's
// aspect (height / width) and at least kMinPreviewHeight high, then shrunk
// at the same shape until it and the controls fit the room the screen
// offers.
PreviewSize openPreviewSize(double aspect, double width, double roomWidth, double roomHeight);

// The preview after the user resized the window's content from
// (oldWidth, oldHeight) to (width, height). The side the user dragged sets
// the preview's size, the other follows the image's aspect: a drag of the
// right edge alone sets the width, of the bottom edge alone the height, of
// a corner the smaller of the two; never lower than kMinPreviewHeight.
PreviewSize resizedPreviewSize(double aspect, double oldWidth, double oldHeight, double width, double height);

// The window's content around a preview: at least as wide as the controls
// need (the preview is centred then), with the controls below the preview.
struct ContentSize {
    int width, height;
};
ContentSize contentFor(const PreviewSize& preview, int controlsWidth);

// The top left corner that puts a window frame of w x h at (x, y) inside
// the screen's room; a frame larger than the room keeps its top left corner
// (the title bar) on the screen.
struct Corner {
    int x, y;
};
Corner cornerWithin(int x, int y, int w, int h, int roomX, int roomY, int roomWidth, int roomHeight);

} // namespace mv::editor
