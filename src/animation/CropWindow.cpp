#include "animation/CropWindow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

#include "platform/system/Localize.h"

namespace mv {
namespace {

// A rectangle in the units of the `from` frame taken to those of `to`;
// unchanged when the sizes agree, as for keyframes entered on this preview.
Rect rescaled(const Rect& r, const Rect& from, const Rect& to)
{
    const bool sized = from.width > 0 && from.height > 0 && to.width > 0 && to.height > 0;
    if (!sized || (from.width == to.width && from.height == to.height))
        return r;
    const double fx = to.width / from.width, fy = to.height / from.height;
    return {r.x * fx, r.y * fy, r.width * fx, r.height * fy};
}

} // namespace

std::string rectText(const Rect& r)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, "{{%g, %g}, {%g, %g}}", r.x, r.y, r.width, r.height);
    return buf;
}

CropWindow::CropWindow(JobSettings& settings, AlertPort& alerts, CropViewState& view)
    : settings_(settings), alerts_(alerts), view_(view)
{
}

CropWindow::~CropWindow()
{
    if (animFH_)
        std::fclose(animFH_);
}

void CropWindow::setReadAnim()
{
    isReadAnim_ = true;
    isAnimation_ = true;
}

void CropWindow::beginRead()
{
    isReadAnim_ = false;
    isAnimation_ = false;
}

void setAnim(JobSettings& s, const CropWindow& w)
{
    // A file without an FPS line leaves the job's rate; never 0.
    if (w.fps > 0)
        s.mvFPS = std::clamp(w.fps, 0.01f, 600.0f);
    s.format = w.format;
    if (w.format == 0)
        s.scale = w.scale >= 0.05f ? std::min(w.scale, 1.5f) : 1.0f;
    s.rate = w.rateSkip();
    s.codec = w.codec;
    s.quality = w.quality;
}

void CropWindow::createCropWindow()
{
    lastFrame_ = -1;
    isAnimation_ = false;
    isRateChange_ = false;
    frame = 0;
    rateSkip_ = settings_.rate ? settings_.rate : 1;
    resetArrays();
}

void CropWindow::resetArrays()
{
    frameArray_.clear();
    rectArray_.clear();
    fNumArray_.clear();
}

void CropWindow::resetAnim()
{
    isRateChange_ = false;
    isAnimation_ = false;
}

void CropWindow::windowResized()
{
    if (!isReadAnim_)
        return;
    resetArrays();
    isReadAnim_ = false;
    resetAnim();
    // The next Enter starts a new animation at the first image.
    lastFrame_ = -1;
    frameTotal_ = 0;
    totalRemain_ = 0;
}

void CropWindow::setRateSkip(std::uint16_t rate)
{
    rateSkip_ = rate ? rate : 1; // a step of 0 would never advance
    if (isAnimation_)
        isRateChange_ = true;
}

Rect CropWindow::inPreview(const Rect& r) const { return rescaled(r, cvRect_, view_.frame); }

Rect CropWindow::fromPreview(const Rect& r) const { return rescaled(r, view_.frame, cvRect_); }

CropWindow::Values CropWindow::currentValues() const
{
    const JobSettings& s = settings_;
    return {s.saturation,     s.brightness,  s.contrast,      s.sepiaIntensity,  s.exposureEV,     s.blurRadius,
            s.rotateAngle,    sliderFPS,     s.monoIntensity, s.ciColor.red,     s.ciColor.green,  s.ciColor.blue};
}

CropWindow::Keyframes CropWindow::keyframes() const
{
    return {frameArray_, rectArray_,    fNumArray_,  lastFrame_,   lastRect_,     cvRect_,     prevRateSkip_,
            last_,       orig_,         delta_,      frameTotal_,  totalRemain_,  isAnimation_, isReadAnim_,
            isRateChange_};
}

bool CropWindow::undo()
{
    if (!undo_)
        return false;
    const Keyframes k = std::move(*undo_);
    undo_.reset();
    frameArray_ = k.frames;
    rectArray_ = k.rects;
    fNumArray_ = k.fNums;
    lastFrame_ = k.lastFrame;
    lastRect_ = k.lastRect;
    cvRect_ = k.cvRect;
    prevRateSkip_ = k.prevRateSkip;
    last_ = k.last;
    orig_ = k.orig;
    delta_ = k.delta;
    frameTotal_ = k.frameTotal;
    totalRemain_ = k.totalRemain;
    isAnimation_ = k.isAnimation;
    isReadAnim_ = k.isReadAnim;
    isRateChange_ = k.isRateChange;
    rewriteAnimFile();
    return true;
}

bool CropWindow::removeKeyframe(std::size_t k)
{
    if (k >= frameArray_.size() || (k == 0 && frameArray_.size() > 1))
        return false;
    Keyframes before = keyframes();
    frameArray_.erase(frameArray_.begin() + std::ptrdiff_t(k));
    if (k < rectArray_.size())
        rectArray_.erase(rectArray_.begin() + std::ptrdiff_t(k));
    if (k < fNumArray_.size())
        fNumArray_.erase(fNumArray_.begin() + std::ptrdiff_t(k));
    if (k < frameArray_.size()) {
        // The next keyframe's segment now starts at the one before: its
        // steps as Enter works them out over the longer span.
        const frameS& from = frameArray_[k - 1];
        frameS& to = frameArray_[k];
        const float f = float(from.rate ? from.rate : 1) / float(to.frame - from.frame);
        const bool vertical = settings_.isVertical;
        to.deltaX = static_cast<float>((to.rect.x - from.rect.x) * f);
        to.deltaY = static_cast<float>((to.rect.y - from.rect.y) * f);
        to.deltaW = static_cast<float>(vertical ? (to.rect.height - from.rect.height) * f
                                                : (to.rect.width - from.rect.width) * f);
        const auto values = [](const frameS& r) {
            return std::array<float, 12>{r.saturation, r.brightness,   r.contrast,      r.sepiaIntensity,
                                         r.exposureEV, r.blurRadius,   r.rotateAngle,   r.fps,
                                         r.monoIntensity, r.monoRed,   r.monoGreen,     r.monoBlue};
        };
        const auto a = values(from), b = values(to);
        float* steps[] = {&to.deltaS, &to.deltaB, &to.deltaC,  &to.deltaT,  &to.deltaE,  &to.deltaP,
                          &to.deltaR, &to.deltaF, &to.deltaMI, &to.deltaMR, &to.deltaMG, &to.deltaMB};
        for (std::size_t i = 0; i < a.size(); ++i)
            *steps[i] = (b[i] - a[i]) * f;
    }
    continueFromLastKeyframe();
    isReadAnim_ = false;
    undo_ = std::move(before);
    rewriteAnimFile();
    return true;
}

void CropWindow::continueFromLastKeyframe()
{
    frameTotal_ = 0;
    totalRemain_ = 0;
    if (frameArray_.empty()) {
        lastFrame_ = -1;
        isAnimation_ = false;
        isRateChange_ = false;
        return;
    }
    // As the Enters counted them: each segment's images over the rate of
    // the keyframe that starts it, then the rest of the list at the last
    // keyframe's rate.
    for (std::size_t i = 1; i < frameArray_.size(); ++i) {
        const std::uint16_t step = frameArray_[i - 1].rate ? frameArray_[i - 1].rate : 1;
        frameTotal_ += static_cast<std::int32_t>((frameArray_[i].frame - frameArray_[i - 1].frame) / step);
    }
    const frameS& last = frameArray_.back();
    const std::uint32_t n = settings_.numListImages;
    if (frameArray_.size() > 1)
        totalRemain_ = (n > last.frame ? n - last.frame : 0) / (last.rate ? last.rate : 1);
    frameTotal_ += static_cast<std::int32_t>(totalRemain_);
    lastFrame_ = static_cast<std::int32_t>(last.frame);
    lastRect_ = last.rect;
    prevRateSkip_ = last.rate ? last.rate : 1;
    last_ = {last.saturation, last.brightness, last.contrast,      last.sepiaIntensity,
             last.exposureEV, last.blurRadius, last.rotateAngle,   last.fps,
             last.monoIntensity, last.monoRed, last.monoGreen,     last.monoBlue};
    orig_ = last_;
    delta_ = {last.deltaX, last.deltaY,  last.deltaW,  last.deltaS,  last.deltaB,  last.deltaC,  last.deltaT, last.deltaE,
              last.deltaP, last.deltaR,  last.deltaF,  last.deltaMI, last.deltaMR, last.deltaMG, last.deltaMB};
}

bool CropWindow::enterButtonAction()
{
    Keyframes before = keyframes();
    isReadAnim_ = false;
    const std::uint32_t n = settings_.numListImages;
    const Values orig = currentValues();
    std::array<float, 15> delta{}; // x, y, width, then the twelve values
    const bool first = lastFrame_ < 0;
    Rect cr = view_.cropRect;

    if (first) {
        if (frame != 0) {
            alerts_.alert(windowText("Frame Error."), windowText("First enter must be at frame 1."));
            return false;
        }
        lastFrame_ = 0;
        lastRect_ = view_.cropRect;
        cvRect_ = view_.frame;
        prevRateSkip_ = rateSkip_;
        isAnimation_ = true;
        frameTotal_ = 0;
        totalRemain_ = 0;
        last_ = orig;
        rectArray_ = {rectText(lastRect_)};
        fNumArray_ = {"1"};
        std::remove(animFile.c_str());
        writeAnimFile(true);
    } else {
        if (frame <= std::uint32_t(lastFrame_)) {
            alerts_.alert(windowText("Frame Error."), windowText("Frames must advance for each enter."));
            return false;
        }
        const std::uint32_t step = prevRateSkip_, last = std::uint32_t(lastFrame_);
        std::uint32_t target = frame;
        std::uint32_t span = target - last;
        if (span % step != 0) {
            // Snap to the rate grid, so that the frame loop meets the keyframe.
            const std::uint32_t q = span / step, r = span % step;
            const std::uint32_t lower = last + q * step;
            const std::uint32_t upperEnd = std::min(last + (q + 1) * step + 1, n);
            target = (r - 1 < upperEnd - target) ? lower : upperEnd - 1;
            span = target - last;
        }
        if (span == 0) {
            // Snapped back onto the last keyframe: its steps would divide by 0.
            alerts_.alert(windowText("Frame Error."),
                          windowText("Frames must advance by at least the rate step for each enter."));
            return false;
        }
        frame = target;
        frameTotal_ -= static_cast<std::int32_t>(totalRemain_);
        totalRemain_ = (n > frame ? n - frame : 0) / rateSkip_;
        frameTotal_ += static_cast<std::int32_t>(span / step + totalRemain_);
        const float f = float(step) / float(span);
        prevRateSkip_ = rateSkip_;

        cr = fromPreview(view_.cropRect); // continuing a read file shown smaller
        delta[0] = static_cast<float>((cr.x - lastRect_.x) * f);
        delta[1] = static_cast<float>((cr.y - lastRect_.y) * f);
        delta[2] = static_cast<float>(settings_.isVertical ? (cr.height - lastRect_.height) * f
                                                           : (cr.width - lastRect_.width) * f);
        lastRect_ = cr;
        lastFrame_ = static_cast<std::int32_t>(frame);

        for (std::size_t k = 0; k < orig.size(); ++k)
            delta[3 + k] = (orig[k] - last_[k]) * f;
        last_ = orig;
        rectArray_.push_back(rectText(cr));
        fNumArray_.push_back(std::to_string(frame + 1));
    }

    orig_ = orig;
    appendRecord(cr, orig, delta);
    undo_ = std::move(before);
    writeAnimFile(false);
    if (onKeyframe_)
        onKeyframe_(frameArray_.back(), first);
    return true;
}

void CropWindow::appendRecord(const Rect& rect, const Values& values, const std::array<float, 15>& steps)
{
    frameS rec;
    rec.rect = rect;
    rec.frame = frame;
    rec.rate = rateSkip_;
    std::tie(rec.saturation, rec.brightness, rec.contrast, rec.sepiaIntensity, rec.exposureEV, rec.blurRadius,
             rec.rotateAngle, rec.fps, rec.monoIntensity, rec.monoRed, rec.monoGreen, rec.monoBlue) =
        std::tuple_cat(values);
    std::tie(rec.deltaX, rec.deltaY, rec.deltaW, rec.deltaS, rec.deltaB, rec.deltaC, rec.deltaT, rec.deltaE,
             rec.deltaP, rec.deltaR, rec.deltaF, rec.deltaMI, rec.deltaMR, rec.deltaMG, rec.deltaMB) =
        std::tuple_cat(steps);
    delta_ = steps;
    frameArray_.push_back(rec);
}

} // namespace mv
