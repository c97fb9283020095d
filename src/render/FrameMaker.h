#pragma once
// How the images of a list become the movie's frames: the frame's geometry
// from the first image and the crop rectangle or keyframes, the job of each
// image (the keyframe values stepped to it), and the picture of a job,
// scaled, cut, adjusted and overlaid. The movie run and the main window's
// preview make their frames alike through it.
#include <optional>
#include <string>
#include <vector>

#include "animation/CropWindow.h"
#include "render/FrameGeometry.h"
#include "render/FramePipeline.h"
#include "render/Overlay.h"
#include "render/RunningValues.h"

namespace mv {

// Whether a movie made now follows the editor's keyframes, whose
// adjustments then win over the window's: keyframes entered or read, and
// the Custom crop chosen (a file read brings it).
bool followsKeyframes(const CropWindow* editor, const JobSettings& settings);

// The keyframes a movie follows, as values that another thread may keep.
struct Animation {
    std::vector<frameS> keyframes; // none: no animation
    Rect cvRect;                   // the preview the rectangles are in
    double sourceW = 0, sourceH = 0; // the picture size a read animation file records
};
Animation animationOf(const CropWindow* editor, const JobSettings& settings);

class FrameMaker {
public:
    // The first image (or a read animation file) gives the source size.
    // `settings` are the run's own: the preset's scale, the keyframes' first
    // rate and the tint colour where a tint fades out are written to them.
    FrameMaker(JobSettings& settings, const Animation& animation, const CropViewState* cropView, double firstW,
               double firstH, Overlay overlay = {});
    // Frames of 16 bits a channel from here on: pictures of more than 8
    // bits keep them (8-bit ones are widened).
    void setDeep(bool deep) { deep_ = deep; }
    bool deep() const { return deep_; }
    FrameMaker(const FrameMaker&) = delete; // the stepper holds on to the keyframes
    FrameMaker& operator=(const FrameMaker&) = delete;

    int frameWidth() const { return frameW_; }
    int frameHeight() const { return frameH_; }
    bool animation() const { return animation_; }
    const RunningValues& running() const { return running_; }

    // The job of image `index`, the keyframe values stepped to it; indexes
    // never go back.
    FrameJob job(unsigned index, MovieTime duration = {});
    // The frame of a job, from the image at `path`: 16-bit when deep, as
    // 4:2:0 planes when `planesWanted` and nothing needs RGB, else as a
    // bitmap. Safe to call from several threads at once.
    RenderedFrame render(const std::string& path, const FrameJob& job, bool planesWanted) const;

private:
    JobSettings& settings_;
    bool animation_ = false;
    std::vector<frameS> keyframes_;
    std::optional<KeyframeStepper> stepper_;
    FrameGeometry geometry_;
    int frameW_ = 0, frameH_ = 0;
    float cvW_ = 0, cvH_ = 0;
    RunningValues running_;
    bool sharpenGate_ = false;
    float previousMonoIntensity_ = 0;
    Overlay overlay_;
    bool deep_ = false;
};

} // namespace mv
