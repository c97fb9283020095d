#pragma once
// The keyframe model of the animation editor: keyframes are entered one at a
// time, each carrying the steps of the segment that ends at it, so that the
// frame loop only adds steps.
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "animation/Keyframe.h"
#include "platform/ports/UiPorts.h"
#include "settings/JobSettings.h"

namespace mv {

// What the frame loop and the editor need of the preview.
struct CropViewState {
    bool isCropRect = false; // the user drew a crop rectangle
    Rect cropRect;           // in view units
    Rect frame;              // the view's own frame
    Rect srcRect;            // extent of the first image, in pixels
};

class CropWindow {
public:
    CropWindow(JobSettings& settings, AlertPort& alerts, CropViewState& view);
    ~CropWindow();
    CropWindow(const CropWindow&) = delete;
    CropWindow& operator=(const CropWindow&) = delete;

    // Opening the editor on a list: no keyframe, the window's rate.
    void createCropWindow();
    // Adds a keyframe at `frame` from the preview's rectangle and the main
    // window's values. False (after an alert) when none was added.
    bool enterButtonAction();
    void resetArrays();
    void resetAnim();
    // The editor window was resized: keyframes read from a file no longer
    // fit the preview. They go, and with them the animation they made, so
    // that the movie never runs animated without a keyframe.
    void windowResized();
    void setRateSkip(std::uint16_t rate);
    // Removes keyframe k. The one after it takes its steps from the one
    // before, as Enter computes them; the others keep theirs. The first
    // keyframe goes only as the last one left (the animation starts at the
    // first image). The animation file is written again. False when nothing
    // was removed.
    bool removeKeyframe(std::size_t k);
    // Takes back the last Enter or removal, the animation file with it.
    bool undo();
    bool canUndo() const { return undo_.has_value(); }

    // Called after every keyframe added (the length display follows it).
    void setOnKeyframe(std::function<void(const frameS&, bool first)> f) { onKeyframe_ = std::move(f); }

    // The animation file: the header at the first keyframe, a block at each.
    // Failures are silent: the keyframe stays in the model all the same.
    void writeAnimFile(bool headerOnly);
    // Reads an animation file (the data folder's one when path is empty),
    // replacing the keyframes. False after an alert.
    bool readAnimFile(const std::string& path = {});
    // What the reader takes: a file the editor writes for a list of tens of
    // thousands of images fits (a block is at most 300 bytes), and the read
    // stays short enough for the window to wait for it. A keyframe per
    // image is the most the editor enters.
    static constexpr std::size_t kMaxFileBytes = std::size_t(16) << 20;
    // The editor's window is held to its screen; no screen is wider or
    // taller than this.
    static constexpr double kMaxWindowSide = 16384;
    // A successful Read: the movie will follow the file's keyframes.
    void setReadAnim();
    // Before a Read: the animation so far no longer counts.
    void beginRead();

    // The image the editor shows, and its animation frame rate.
    std::uint32_t frame = 0;
    float sliderFPS = 30.0f;
    // The data folder's animation file, the name of the first listed image
    // (both recorded in the file) and the application's version.
    std::string animFile;
    std::string firstImageName;
    std::string version;

    // The job settings that the last header written or read records; the
    // movie takes them over when it follows a read file.
    std::uint32_t numImages = 0;
    float fps = 0, scale = 0;
    std::uint16_t format = 0, codec = 0, quality = 0;
    bool isDateStamped = false, isGPS = false, isVertical = false;

    std::uint16_t rateSkip() const { return rateSkip_; }
    const std::vector<frameS>& frameArray() const { return frameArray_; }
    const std::vector<std::string>& rectArray() const { return rectArray_; }
    const std::vector<std::string>& fNumArray() const { return fNumArray_; }
    bool isAnimation() const { return isAnimation_; }
    bool isReadAnim() const { return isReadAnim_; }
    bool isRateChange() const { return isRateChange_; }
    std::int32_t frameTotal() const { return frameTotal_; }
    std::uint32_t totalRemain() const { return totalRemain_; }
    std::uint32_t sliderFrame() const { return frame; }
    const Rect& cvRect() const { return cvRect_; }
    // Keyframe rectangles are in the units of the preview the animation was
    // made on (cvRect); a read file's window may be shown smaller, held to
    // the screen. From those units to the preview's as it is now.
    Rect inPreview(const Rect& r) const;
    const Rect& imageRect() const { return imageRect_; }

private:
    // The twelve animated values in record order: saturation, brightness,
    // contrast, sepia, exposure, blur, rotate, fps, mono intensity, red,
    // green, blue.
    using Values = std::array<float, 12>;
    Values currentValues() const;
    // Adds a record; `lastFrame` tells the first keyframe (-1) from later ones.
    void appendRecord(const Rect& rect, const Values& values, const std::array<float, 15>& steps);
    // The animation file's header, and the block of one keyframe (MacRoman).
    std::string animHeader();
    std::string animBlock(const frameS& k);
    // The file made again from the keyframes there are (none: no file).
    void rewriteAnimFile();
    // Where Enter goes on from: the last keyframe, and the counts of frames.
    void continueFromLastKeyframe();

    // What Enter and removal change, kept for Undo.
    struct Keyframes {
        std::vector<frameS> frames;
        std::vector<std::string> rects, fNums;
        std::int32_t lastFrame;
        Rect lastRect, cvRect;
        std::uint16_t prevRateSkip;
        std::array<float, 12> last, orig;
        std::array<float, 15> delta;
        std::int32_t frameTotal;
        std::uint32_t totalRemain;
        bool isAnimation, isReadAnim, isRateChange;
    };
    Keyframes keyframes() const;
    std::optional<Keyframes> undo_;
    bool failRead(const std::string& title, const std::string& message);
    // The preview's rectangle in the animation's units (inPreview undone).
    Rect fromPreview(const Rect& r) const;

    JobSettings& settings_;
    AlertPort& alerts_;
    CropViewState& view_;
    std::function<void(const frameS&, bool)> onKeyframe_;

    std::vector<frameS> frameArray_;
    std::vector<std::string> rectArray_, fNumArray_;
    std::int32_t lastFrame_ = -1;
    Rect lastRect_, cvRect_, imageRect_;
    std::uint16_t rateSkip_ = 1, prevRateSkip_ = 1;
    Values last_{};
    Values orig_{1, 0, 1, 0, 0, 0, 0, 30, 0, 1, 1, 1};
    std::array<float, 15> delta_{}; // steps of the last keyframe
    std::FILE* animFH_ = nullptr;
    std::int32_t frameTotal_ = 0;
    std::uint32_t totalRemain_ = 0;
    bool isAnimation_ = false, isReadAnim_ = false, isRateChange_ = false;
};

// The settings of a read animation become the job's.
void setAnim(JobSettings& settings, const CropWindow& cropWindow);

} // namespace mv
