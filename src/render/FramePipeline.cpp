#include "render/FramePipeline.h"

namespace mv {

FramePipeline::FramePipeline(NextJob next, Render render, unsigned threads, unsigned depth)
    : next_(std::move(next)), render_(std::move(render)), depth_(depth ? depth : 1)
{
    for (unsigned t = 0; t < (threads ? threads : 1); ++t)
        threads_.emplace_back([this] { work(); });
}

FramePipeline::~FramePipeline()
{
    cancel();
    for (auto& t : threads_)
        t.join();
}

void FramePipeline::cancel()
{
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
}

void FramePipeline::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return cancelled_ || exhausted_ || taken_ - popped_ < depth_; });
        if (cancelled_ || exhausted_)
            return;
        std::optional<FrameJob> job = next_();
        if (!job) {
            exhausted_ = true;
            changed_.notify_all();
            return;
        }
        const std::uint64_t seq = taken_++;
        lock.unlock();
        RenderedFrame result;
        try {
            result = render_(*job);
        } catch (const std::bad_alloc&) {
            result = RenderedFrame{job->index, RenderedFrame::Status::NoMemory, {}};
        } catch (const std::exception&) {
            result = RenderedFrame{job->index, RenderedFrame::Status::NoBitmap, {}};
        }
        result.duration = job->duration;
        lock.lock();
        done_.emplace(seq, std::move(result));
        changed_.notify_all();
    }
}

std::optional<RenderedFrame> FramePipeline::pop()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return cancelled_ || done_.count(popped_) || (exhausted_ && popped_ == taken_); });
    auto it = done_.find(popped_);
    if (cancelled_ || it == done_.end())
        return std::nullopt;
    RenderedFrame frame = std::move(it->second);
    done_.erase(it);
    ++popped_;
    changed_.notify_all();
    return frame;
}

} // namespace mv
