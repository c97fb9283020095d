#pragma once
// Renders the pictures of later images on other cores while the frame loop
// appends earlier ones: jobs are taken in list order, rendered in parallel,
// and handed back in the order they were taken.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/movie/MovieWriter.h"
#include "platform/picture/Picture.h"
#include "render/Adjustments.h"

namespace mv {

// What one image needs to become a picture; taken in order, so keyframe
// values are stepped sequentially.
struct FrameJob {
    unsigned index = 0;
    float scale = 1.0f;
    double cropX = 0, cropY = 0;
    bool applyScale = false;
    bool applyCrop = false;
    AdjustmentValues adjustments;
    MovieTime duration; // of the image's frames (variable frame rate sets it per image)
};

struct RenderedFrame {
    enum class Status { Ok, NoImage, NoBitmap, NoMemory };
    RenderedFrame(unsigned i = 0, Status st = Status::Ok, RgbaBitmap b = {})
        : index(i), status(st), bitmap(std::move(b))
    {
    }
    unsigned index;
    Status status;
    RgbaBitmap bitmap;
    // Instead of the bitmap, when the frame went straight to the encoder's
    // pixel format (planes.width > 0), or when the run keeps 16 bits a
    // channel (deep.width > 0).
    Yuv420Bitmap planes;
    RgbaBitmap16 deep;
    MovieTime duration; // the job's, handed on by the pipeline
    std::string unreadableOverlay; // a layer or mask that could not be read: the frame has none
};

class FramePipeline {
public:
    using NextJob = std::function<std::optional<FrameJob>()>;
    using Render = std::function<RenderedFrame(const FrameJob&)>;

    // At most `depth` pictures are rendered or waiting at any time, so memory
    // does not grow with the list.
    FramePipeline(NextJob next, Render render, unsigned threads = 2, unsigned depth = 3);
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // The next picture in job order; nothing when all jobs are done or the
    // pipeline was cancelled.
    std::optional<RenderedFrame> pop();
    void cancel();

private:
    void work();

    NextJob next_;
    Render render_;
    unsigned depth_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool cancelled_ = false;
    bool exhausted_ = false;
    std::uint64_t taken_ = 0;  // jobs handed to workers
    std::uint64_t popped_ = 0; // results handed back
    std::map<std::uint64_t, RenderedFrame> done_;
    std::vector<std::thread> threads_;
};

} // namespace mv
