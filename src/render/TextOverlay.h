#pragma once
// The text of a frame: the watermark, then the date/GPS stamp on top, drawn
// into the frame's bitmap just before it is appended to the movie.
#include <string>

#include "imagelist/ImagesList.h"
#include "platform/Picture.h"
#include "platform/UiPorts.h"
#include "settings/JobSettings.h"
#include "textlayer/CITextLayer.h"

namespace mv {

class TextOverlay {
public:
    TextOverlay(CITextLayer& layer, JobSettings& settings, ImagesList& list, MainWindowPort& window)
        : layer_(layer), settings_(settings), list_(list), window_(window)
    {
    }

    // Draws what the settings ask for into the frame of image `index`
    // (`fileName` names it in the Verify List). A failed watermark leaves the
    // frame without it; a failed stamp also turns stamping off, in the
    // settings and the window, for the rest of this movie and the next.
    void draw(RgbaBitmap& frame, unsigned index, const std::string& fileName);

    // A stamp failed during this movie: the end of the run says so.
    bool stampFailed() const { return stampFailed_; }

private:
    CITextLayer& layer_;
    JobSettings& settings_;
    ImagesList& list_;
    MainWindowPort& window_;
    bool stampFailed_ = false;
};

} // namespace mv
