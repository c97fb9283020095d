#include "animation/EditorControls.h"

#include <algorithm>
#include <cmath>

namespace mv::editor {

std::uint32_t frameAtSlider(std::uint32_t n, int sliderValue)
{
    if (n == 0)
        return 0;
    const int v = std::clamp(sliderValue, 0, kFrameSliderMax);
    // In single precision, as the slider's value is read; never past the last.
    const float f = float(n - 1) * float(v) / float(kFrameSliderMax);
    return std::min(static_cast<std::uint32_t>(f), n - 1);
}

int sliderAtFrame(std::uint32_t frame, std::uint32_t n)
{
    if (n <= 1)
        return 0;
    const std::uint64_t v = std::uint64_t(std::min(frame, n - 1)) * kFrameSliderMax / (n - 1);
    return static_cast<int>(v);
}

std::uint16_t rateAfterUp(std::uint16_t rate, bool option)
{
    const unsigned next = unsigned(rate) + (option ? 100u : 10u);
    return static_cast<std::uint16_t>(std::min(next, unsigned(kMaxRateStep)));
}

std::uint16_t rateAfterDown(std::uint16_t rate, bool option)
{
    if (!option && rate >= 11)
        return static_cast<std::uint16_t>(rate - 10);
    if (option && rate >= 101)
        return static_cast<std::uint16_t>(rate - 100);
    if (rate >= 2)
        return static_cast<std::uint16_t>(rate - 1);
    return rate < 1 ? 1 : rate;
}

double fpsSliderPosition(float fps)
{
    if (!(fps > 0))
        return 0;
    return std::log(double(fps)) / std::log(1.25);
}

float fpsAtSlider(double position)
{
    return std::min(static_cast<float>(std::pow(1.25, position)), 600.0f);
}

double contentHeightFor(double aspect, double width)
{
    const float w = static_cast<float>(width);
    return double(static_cast<float>(aspect * w)) + kPreviewBottom;
}

PreviewSize heldPreviewSize(double width, double height, double roomWidth, double roomHeight)
{
    const double f = std::min({1.0, roomWidth / width, (roomHeight - kPreviewBottom) / height});
    return {std::max(1.0, std::floor(width * f)), std::max(1.0, std::floor(height * f))};
}

PreviewSize openPreviewSize(double aspect, double width, double roomWidth, double roomHeight)
{
    double height = contentHeightFor(aspect, width) - kPreviewBottom;
    if (height > 0 && height < kMinPreviewHeight) { // enlarged at the same shape
        width *= kMinPreviewHeight / height;
        height = kMinPreviewHeight;
    }
    return heldPreviewSize(width, height, roomWidth, roomHeight);
}

PreviewSize resizedPreviewSize(double aspect, double oldWidth, double oldHeight, double width, double height)
{
    const double byHeight = (height - kPreviewBottom) / aspect;
    double previewWidth;
    if (height == oldHeight)
        previewWidth = width;
    else if (width == oldWidth)
        previewWidth = byHeight;
    else
        previewWidth = std::min(width, byHeight);
    // The user's size stands, though larger than the screen.
    return openPreviewSize(aspect, previewWidth, HUGE_VAL, HUGE_VAL);
}

ContentSize contentFor(const PreviewSize& preview, int controlsWidth)
{
    return {std::max(static_cast<int>(std::lround(preview.width)), controlsWidth),
            static_cast<int>(std::lround(preview.height + kPreviewBottom))};
}

Corner cornerWithin(int x, int y, int w, int h, int roomX, int roomY, int roomWidth, int roomHeight)
{
    // Right and bottom edges first, so that a frame too large for the room
    // ends at its left and top edges.
    x = std::max(std::min(x, roomX + roomWidth - w), roomX);
    y = std::max(std::min(y, roomY + roomHeight - h), roomY);
    return {x, y};
}

} // namespace mv::editor
