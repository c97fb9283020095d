#include "render/Smoothing.h"

#include <algorithm>
#include <cstring>

#include "platform/picture/BitmapMix.h"

namespace mv {
namespace {

template <typename Bitmap> void copyBitmap(const Bitmap& from, Bitmap& to)
{
    to.width = from.width;
    to.height = from.height;
    to.pixels.resizeForOverwrite(from.pixels.size());
    if (from.pixels.size())
        std::memcpy(to.pixels.data(), from.pixels.data(), from.pixels.size());
}

} // namespace

SmoothingPlan settleSmoothing(JobSettings& s)
{
    SmoothingPlan plan;
    if (!s.isTweening && !s.isMotionBlur)
        return plan;
    s.tweenFrames = std::clamp<std::uint16_t>(s.tweenFrames, 1, kMaxTweenFrames);
    if (s.isTweening) {
        plan.mode = SmoothingPlan::Mode::Tween;
        plan.tweenFrames = s.tweenFrames;
        plan.step = static_cast<float>(1.0 / (s.tweenFrames + 1));
        return plan;
    }
    // A step of 1 would replace each frame by the one before it.
    s.tweenFrames = std::max<std::uint16_t>(s.tweenFrames, 2);
    // The store has room for so many pictures; a larger count is held to it
    // like the counts above.
    s.motionFrames = std::min(s.motionFrames, kMotionStoreSize);
    plan.tweenFrames = s.tweenFrames;
    plan.motionFrames = s.motionFrames;
    plan.step = static_cast<float>(1.0 / s.tweenFrames);
    // With one picture or none in the store there is nothing to mix.
    if (plan.motionFrames >= 2)
        plan.mode = SmoothingPlan::Mode::MotionBlur;
    return plan;
}

template <typename Bitmap>
BasicSmoothing<Bitmap>::BasicSmoothing(const SmoothingPlan& plan)
    : plan_(plan), active_(plan.mode != SmoothingPlan::Mode::None)
{
}

template <typename Bitmap> bool BasicSmoothing<Bitmap>::apply(Bitmap& frame, const AppendFrame& append)
{
    if (plan_.mode == SmoothingPlan::Mode::Tween)
        return tween(frame, append);
    if (plan_.mode == SmoothingPlan::Mode::MotionBlur)
        blur(frame);
    return true;
}

template <typename Bitmap> bool BasicSmoothing<Bitmap>::tween(Bitmap& frame, const AppendFrame& append)
{
    if (hasPrevious_) {
        for (unsigned k = 1; k <= plan_.tweenFrames; ++k) {
            const float weight = static_cast<float>(k) * plan_.step;
            // A frame that cannot be mixed is left out.
            if (mixBitmaps(previous_, {{&frame, weight}}, mixed_) && !append(mixed_))
                return false;
        }
    }
    copyBitmap(frame, previous_);
    hasPrevious_ = true;
    return true;
}

template <typename Bitmap> void BasicSmoothing<Bitmap>::blur(Bitmap& frame)
{
    const std::size_t m = plan_.motionFrames;
    if (store_.empty()) {
        auto first = std::make_shared<Bitmap>();
        copyBitmap(frame, *first);
        store_.assign(m, first);
        return;
    }
    // The oldest slot's memory takes the newest picture when no other slot
    // shares it.
    std::shared_ptr<Bitmap> newest = std::move(store_.front());
    store_.erase(store_.begin());
    if (newest.use_count() != 1)
        newest = std::make_shared<Bitmap>();
    copyBitmap(frame, *newest);
    store_.push_back(std::move(newest));
    // From the current picture, each older one laid over it with the step,
    // the oldest first: the image just before weighs the step, each older
    // one (1 - step) times less, the current one (1 - step)^(m - 1).
    std::vector<MixLayerOf<Bitmap>> layers;
    for (std::size_t k = 0; k + 1 < m; ++k)
        layers.push_back({store_[k].get(), plan_.step});
    mixBitmaps(*store_.back(), layers, frame);
}

template class BasicSmoothing<RgbaBitmap>;
template class BasicSmoothing<RgbaBitmap16>;

} // namespace mv
