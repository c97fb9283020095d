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
};
PreviewSize heldPreviewSize(double width, double height, double roomWidth, double roomHeight);

} // namespace mv::editor
