#pragma once
// The text drawn on frames: the per-image stamp (GPS position and capture
// date) in the lower left corner, and the watermark at one of nine places.
// Each text is measured, and its bitmap made, only when its font, colour or
// text changes; a frame then only clears the bitmap and draws the text.
// Coordinates follow the frame's lower-left origin, y upwards.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/picture/Picture.h"
#include "settings/JobSettings.h"

class QImage;

namespace mv {

class ImagesList;

// Lower-left corner of a watermark block of w x h on a frame of W x H, for
// the position codes x (0 left, 1 centre, 2 right) and y (0 top, 1 middle,
// 2 bottom). w is first held to the frame's limit of W - 30, so a block too
// wide for its place starts at x = 0 on the right. A block too tall for the
// top place sits on the bottom edge, and one taller than the frame keeps its
// first line at the top edge.
struct TextOrigin {
    long x = 0, y = 0;
};
TextOrigin watermarkOrigin(unsigned frameW, unsigned frameH, std::uint64_t w, std::uint64_t h, double posnX,
                           double posnY);

// The stamp's block starts this many pixels in from the frame's lower left
// corner, in both directions.
constexpr double kStampInset = 10;

class CITextLayer {
public:
    // The list gives each image's date and position texts, and takes the
    // Verify List lines of failed stamps.
    explicit CITextLayer(ImagesList& list);
    ~CITextLayer();
    CITextLayer(const CITextLayer&) = delete;
    CITextLayer& operator=(const CITextLayer&) = delete;

    void createAttributes();
    // Font and colour of the stamp; sizes the stamp bitmap to the last stamp.
    void dateText(const FontSpec& font, const RGBAColor& color);
    // Font, colour, text and position codes of the watermark; sizes its bitmap.
    void watermarkText(const FontSpec& font, const RGBAColor& color, const std::string& text, double posnX,
                       double posnY);

    // Draws the stamp of image `index` into `frame` with the block's lower
    // left corner at (kStampInset, kStampInset). Without a frame the text
    // goes into the renderer's own bitmap at its lower left (stampBitmap),
    // for a caller that places it itself. False, with a Verify List line, when there is nothing
    // to draw or nothing to draw it with; then nothing is drawn.
    bool renderText(unsigned index, RgbaBitmap* frame, bool isDate, bool isGPS);
    bool renderText(unsigned index, RgbaBitmap16& frame, bool isDate, bool isGPS);
    // Draws `text` at the watermark position of a frame of frameW x frameH
    // into `frame` (without one, into the renderer's own bitmap at its lower
    // left). False when the watermark has no bitmap yet.
    bool renderWatermark(RgbaBitmap* frame, const std::string& text, double frameW, double frameH);
    bool renderWatermark(RgbaBitmap16& frame, const std::string& text, double frameW, double frameH);

    // Bitmap sizes in pixels (widths include the 10-pixel margin), and the
    // last stamp drawn (the sample stamp until then, empty after a failure).
    std::uint64_t width() const;
    std::uint64_t height() const;
    std::uint64_t mWidth() const;
    std::uint64_t mHeight() const;
    std::string text() const;
    // The stamp or the watermark was sized larger than any picture can be:
    // only the part that fits is drawn.
    bool stampCut() const;
    bool watermarkCut() const;
    // The watermark text last measured: the frame loop draws this one, so
    // that a text typed while a movie is written is never read half-changed.
    std::string watermarkString() const;
    // Copies of the two bitmaps (premultiplied RGBA, rows top to bottom, no
    // padding); false when there is none.
    bool stampBitmap(RgbaBitmap& out) const;
    bool watermarkBitmap(RgbaBitmap& out) const;

    // The family that is really drawn for a requested one: fontconfig's
    // stand-in when the requested family is not installed.
    static std::string resolvedFamily(const std::string& requested);

private:
    // The same on a frame's pixels as an image (null: the own bitmap).
    bool renderTextOn(unsigned index, QImage* frame, bool isDate, bool isGPS);
    bool renderWatermarkOn(QImage* frame, const std::string& text, double frameW, double frameH);
    struct Impl;
    std::unique_ptr<Impl> d_;
    // Sizing calls come from the main thread while a render thread draws.
    mutable std::mutex mutex_;
};

// Text drawing needs a GUI application object; a program without a window
// gets one on Qt's offscreen platform. Call on the main thread before the
// first renderer is used; does nothing when one exists.
void ensureTextEngine(int argc = 0, char** argv = nullptr);

} // namespace mv
