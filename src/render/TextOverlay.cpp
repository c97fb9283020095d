#include "render/TextOverlay.h"

namespace mv {

void TextOverlay::draw(RgbaBitmap& frame, unsigned index, const std::string& fileName)
{
    drawOn(frame, index, fileName);
}

void TextOverlay::draw(RgbaBitmap16& frame, unsigned index, const std::string& fileName)
{
    drawOn(frame, index, fileName);
}

// The layer takes an 8-bit frame by pointer (none: its own bitmap), a
// 16-bit one by reference.
static RgbaBitmap* target(RgbaBitmap& frame) { return &frame; }
static RgbaBitmap16& target(RgbaBitmap16& frame) { return frame; }

template <typename Bitmap> void TextOverlay::drawOn(Bitmap& frame, unsigned index, const std::string& fileName)
{
    if (watermark_ &&
        !layer_.renderWatermark(target(frame), layer_.watermarkString(), double(frame.width), double(frame.height)))
        list_.writeVerifyFile("Create Movie: " + fileName + " Watermark overlay failed\n");

    if ((date_ || gps_) && !layer_.renderText(index, target(frame), date_, gps_)) {
        list_.writeVerifyFile("Create Movie: " + fileName + " Time stamp overlay failed\n");
        date_ = gps_ = false;
        // The window unchecks and disables both switches, which clears them
        // in the settings.
        window_.setDateEnable(false);
        window_.setGPSEnable(false);
        stampFailed_ = true;
    }
}

} // namespace mv
