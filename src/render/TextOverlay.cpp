#include "render/TextOverlay.h"

namespace mv {

void TextOverlay::draw(RgbaBitmap& frame, unsigned index, const std::string& fileName)
{
    if (watermark_ &&
        !layer_.renderWatermark(&frame, layer_.watermarkString(), double(frame.width), double(frame.height)))
        list_.writeVerifyFile("Create Movie: " + fileName + " Watermark overlay failed\n");

    if ((date_ || gps_) && !layer_.renderText(index, &frame, date_, gps_)) {
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
