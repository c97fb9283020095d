#include "render/FrameMaker.h"

#include <algorithm>
#include <cmath>

#include "render/Adjustments.h"

namespace mv {

bool followsKeyframes(const CropWindow* editor, const JobSettings& settings)
{
    return editor && editor->isAnimation() && !editor->frameArray().empty() &&
           (settings.crop == kCropCustom || editor->isReadAnim());
}

Animation animationOf(const CropWindow* editor, const JobSettings& settings)
{
    if (!followsKeyframes(editor, settings))
        return {};
    Animation a{editor->frameArray(), editor->cvRect()};
    if (editor->isReadAnim()) {
        a.sourceW = editor->imageRect().width;
        a.sourceH = editor->imageRect().height;
    }
    return a;
}

FrameMaker::FrameMaker(JobSettings& settings, const Animation& animation, const CropViewState* cropView,
                       double firstW, double firstH, Overlay overlay)
    : settings_(settings), animation_(!animation.keyframes.empty()), keyframes_(animation.keyframes),
      overlay_(std::move(overlay))
{
    const bool isCropRect = cropView && cropView->isCropRect;
    geometry_ = computeFrameGeometry(settings_, firstW, firstH);
    frameW_ = geometry_.frameWidth();
    frameH_ = geometry_.frameHeight();
    running_ = startValues(settings_, isCropRect ? cropView : nullptr);
    if (animation_) {
        settings_.rate = keyframes_[0].rate ? keyframes_[0].rate : 1;
        cvW_ = static_cast<float>(animation.cvRect.width);
        cvH_ = static_cast<float>(animation.cvRect.height);
        running_ = keyframeValues(keyframes_[0], settings_.isVertical);
        if (keyframes_.size() >= 2)
            stepper_.emplace(keyframes_, settings_.isVertical);
    } else if (isCropRect && settings_.crop == kCropCustom) {
        cvW_ = static_cast<float>(cropView->frame.width);
        cvH_ = static_cast<float>(cropView->frame.height);
    }
    if (cvW_ > 0 && cvH_ > 0)
        zoomToRect(geometry_, running_.rawX, running_.rawY, running_.rawW, cvW_, cvH_, settings_.isVertical);
    geometry_.applyScale = geometry_.scale != 1.0f || isCropRect || animation_;
    geometry_.applyCrop = settings_.format != 0 || isCropRect || animation_;
    sharpenGate_ = settings_.sharpenValue > 0.01f; // read once per movie
}

FrameJob FrameMaker::job(unsigned index, MovieTime duration)
{
    if (stepper_) {
        stepper_->step(index, running_, settings_.rate);
        zoomToRect(geometry_, running_.rawX, running_.rawY, running_.rawW, cvW_, cvH_, settings_.isVertical);
    }
    FrameJob job{index,    geometry_.scale, geometry_.cropX, geometry_.cropY, geometry_.applyScale, geometry_.applyCrop,
                 {},       duration};
    AdjustmentValues& a = job.adjustments;
    a.saturation = running_.rawS;
    a.brightness = running_.rawB;
    a.contrast = running_.rawC;
    a.exposure = running_.rawE;
    a.sepia = running_.rawT;
    a.blur = running_.rawP;
    a.rotate = running_.rawR;
    a.monoIntensity = running_.rawMI;
    a.sharpenGate = sharpenGate_;
    a.sharpen = settings_.sharpenValue;
    // The tint colour follows the keyframes only where the tint has just
    // faded out; the filter then runs once at intensity 0.
    if (running_.rawMI == 0 && previousMonoIntensity_ != 0) {
        settings_.ciColor = {running_.rawMR, running_.rawMG, running_.rawMB};
        a.monoForced = true;
    }
    previousMonoIntensity_ = running_.rawMI;
    a.monoColor = settings_.ciColor;
    return job;
}

RenderedFrame FrameMaker::render(const std::string& path, const FrameJob& job, bool planesWanted) const
{
    RenderedFrame out{job.index, RenderedFrame::Status::Ok, {}};
    const double imgW = geometry_.imgW, imgH = geometry_.imgH;
    const int frameW = frameW_, frameH = frameH_;
    // A raw file is decoded at half size where the frame's scale leaves
    // that covering it.
    const double upTo = job.applyScale ? std::min(1.0, double(job.scale)) : 1.0;
    std::optional<Picture> picture = Picture::openForSize(path, static_cast<int>(std::ceil(imgW * upTo)),
                                                          static_cast<int>(std::ceil(imgH * upTo)), nullptr, deep_);
    if (!picture) {
        out.status = RenderedFrame::Status::NoImage;
        return out;
    }
    // The frame, its layer and its mask are all scaled and cut alike.
    const PictureCut jobCut{job.scale, job.cropX, job.cropY, job.applyScale, job.applyCrop};
    const std::uint16_t crop = settings_.crop;
    const auto cutLikeFrame = [&](Picture p) {
        const PictureCut fit = fitToFirstSize(jobCut, p.width(), p.height(), imgW, imgH, crop, frameW, frameH);
        if (fit.applyScale)
            p = p.scaled(fit.scale);
        if (fit.applyCrop)
            p = p.cropped(static_cast<int>(std::clamp(fit.cropX, -1e9, 1e9)),
                          static_cast<int>(std::clamp(fit.cropY, -1e9, 1e9)), frameW, frameH);
        return p;
    };
    picture = cutLikeFrame(*picture);
    if (anyAdjustment(job.adjustments))
        picture = applyAdjustments(*picture, job.adjustments);
    if (overlay_.active())
        picture = overlay_.apply(*picture, job.index, jobCut, cutLikeFrame, out.unreadableOverlay);
    // Only a picture whose scale was held to the largest side can still
    // differ here: stretched to the frame rather than dropped.
    if (picture->width() != frameW || picture->height() != frameH) {
        const double s = double(frameH) / picture->height();
        picture = picture->scaled(s, (double(frameW) / picture->width()) / s);
    }
    if (deep_) {
        if (!picture->render(out.deep))
            out.status = RenderedFrame::Status::NoBitmap;
        else if (out.deep.width != frameW || out.deep.height != frameH)
            out.status = RenderedFrame::Status::NoMemory;
        return out;
    }
    if (planesWanted && picture->renderYuv420(out.planes))
        return out;
    if (!picture->render(out.bitmap))
        out.status = RenderedFrame::Status::NoBitmap;
    else if (out.bitmap.width != frameW || out.bitmap.height != frameH)
        out.status = RenderedFrame::Status::NoMemory;
    return out;
}

} // namespace mv
