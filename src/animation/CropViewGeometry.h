#pragma once
// The crop rectangle of the editor's preview: where it starts, when it
// shows the picture without enlarging it, and how mouse drags move and
// resize it. All in view units, origin at the lower left, y upwards; the
// rectangle keeps the output frame's aspect.
#include <utility>

#include "animation/CropWindow.h"
#include "settings/JobSettings.h"

namespace mv {

class CropViewGeometry {
public:
    // The rectangle lives in `state`, where Enter and the movie read it.
    explicit CropViewGeometry(CropViewState& state) : state_(state) {}

    // Output frame size in pixels: the preset's, or the scaled first image
    // (before any swap for vertical mode).
    static std::pair<double, double> outputSize(const JobSettings& settings, const Rect& srcRect);

    // A new rectangle across the whole view width (the whole height in
    // vertical mode) at the output's aspect, at the lower left corner.
    void startCropRect(const JobSettings& settings, double viewW, double viewH);

    // The chosen part holds at least as many image pixels across as the
    // output frame: no enlargement (drawn green, else red).
    bool isGreen(double viewW) const;

    // The 100 x 100 move handle centred on the rectangle, and whether a
    // point lies inside the oval drawn in it.
    Rect shiftRect() const;
    bool inHandle(double x, double y) const;

    // One drag event of a move: the rectangle follows (dx, dy) unless that
    // would take it to or past an edge of a view of viewW x viewH; each
    // direction is refused on its own.
    void moveBy(float dx, float dy, float viewW, float viewH);
    // One drag event of a resize by the horizontal movement d: refused below
    // 100 units or at the view's full width (or height); then pushed back
    // inside the view.
    void resizeBy(float d, float viewW, float viewH, bool isVertical);

    // Where the movie's date/GPS stamp, a bitmap of w x h output pixels,
    // shows on the rectangle: the movie draws it kStampInset pixels in from
    // its frame's lower left corner, and the rectangle is that frame at
    // its own scale.
    Rect stampRect(double w, double h) const;

    float scale() const { return scale_; }   // view units per output pixel
    float aspect() const { return aspect_; } // ties the rectangle's sides
    float width() const { return width_; }   // output size, swapped when vertical
    float height() const { return height_; }
    const Rect& cropRect() const { return state_.cropRect; }

private:
    CropViewState& state_;
    float scale_ = 1, aspect_ = 1, width_ = 0, height_ = 0;
};

} // namespace mv
