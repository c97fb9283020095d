#pragma once
// The text of a frame: the watermark, then the date/GPS stamp on top, drawn
// into the frame's bitmap just before it is appended to the movie.
#include <string>

#include "imagelist/ImagesList.h"
#include "platform/picture/Picture.h"
#include "platform/ports/UiPorts.h"
#include "settings/JobSettings.h"
#include "textlayer/CITextLayer.h"

namespace mv {

class TextOverlay {
public:
    // Made on the main thread when the movie starts: the switches are read
    // there, once, as the window's controls may change them meanwhile. Fonts,
    // colours and the watermark's text and place are the renderer's, which
    // keeps them safe for the frame loop.
    TextOverlay(CITextLayer& layer, const JobSettings& settings, ImagesList& list, MainWindowPort& window)
        : layer_(layer), list_(list), window_(window), watermark_(settings.useWatermark),
          date_(settings.isDateStamped), gps_(settings.isGPS)
    {
    }

    // Draws what the switches ask for into the frame of image `index`
    // (`fileName` names it in the Verify List). A failed watermark leaves the
    // frame without it; a failed stamp also turns stamping off for the rest
    // of this movie, and through the window for the next.
    void draw(RgbaBitmap& frame, unsigned index, const std::string& fileName);
    void draw(RgbaBitmap16& frame, unsigned index, const std::string& fileName);

    // A stamp failed during this movie: the end of the run says so.
    bool stampFailed() const { return stampFailed_; }
    // The watermark or stamp of this movie was too large to draw whole.
    bool textCut() const { return (watermark_ && layer_.watermarkCut()) || ((date_ || gps_) && layer_.stampCut()); }

private:
    CITextLayer& layer_;
    ImagesList& list_;
    MainWindowPort& window_;
    bool watermark_, date_, gps_;
    bool stampFailed_ = false;

    template <typename Bitmap> void drawOn(Bitmap& frame, unsigned index, const std::string& fileName);
};

} // namespace mv
