#include "render/TextOverlay.h"

namespace mv {

void TextOverlay::draw(RgbaBitmap& frame, unsigned index, const std::string& fileName)
{
    if (settings_.useWatermark &&
        !layer_.renderWatermark(&frame, settings_.watermarkStr, double(frame.width), double(frame.height)))
        list_.writeVerifyFile("Create Movie: " + fileName + " Watermark overlay failed\n");

    if ((settings_.isDateStamped || settings_.isGPS) &&
        !layer_.renderText(index, &frame, settings_.isDateStamped, settings_.isGPS)) {
        list_.writeVerifyFile("Create Movie: " + fileName + " Time stamp overlay failed\n");
        settings_.isDateStamped = false;
        settings_.isGPS = false;
        window_.setDateEnable(false);
        window_.setGPSEnable(false);
        stampFailed_ = true;
    }
}

} // namespace mv
