#pragma once
// The main window's preview: the frame the movie makes of one image, with
// the same geometry, keyframes, adjustments, deflicker gain and layers,
// made on a thread of its own from a copy of what it needs. Only the
// newest request is worth answering. The text (stamp, watermark) is drawn
// by the caller, which owns the list the stamps are read from.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/picture/Picture.h"
#include "imagelist/ImagesList.h"
#include "render/FrameMaker.h"

namespace mv {

struct FramePreviewRequest {
    JobSettings settings;
    Animation animation;
    CropViewState cropView;
    std::shared_ptr<const std::vector<std::string>> files;
    Overlay overlay;
    unsigned index = 0;
    float deflickerEV = 0; // the gain of this image, once deflicker has measured the list
};

// What the movie would use now for image `index`: the job's settings (a
// read animation file's where the movie takes them), the keyframes it
// follows, the crop rectangle and the layers. Made on the thread that owns
// the list and the editor.
FramePreviewRequest framePreviewRequest(const JobSettings& settings, const ImagesList& list,
                                        const CropWindow* editor, const CropViewState* cropView, unsigned index);

struct FramePreviewPicture {
    std::uint64_t serial = 0;
    unsigned index = 0;
    bool ok = false;
    std::string error;
    RgbaBitmap bitmap; // the frame, at the movie's size
    double ms = 0;     // making it took
};

class FramePreview {
public:
    // `done` runs on the preview's thread, once per answered request.
    explicit FramePreview(std::function<void(FramePreviewPicture)> done);
    ~FramePreview();
    FramePreview(const FramePreview&) = delete;
    FramePreview& operator=(const FramePreview&) = delete;

    std::uint64_t request(FramePreviewRequest r);

    // The frame of one request, on the caller's thread.
    static FramePreviewPicture make(FramePreviewRequest r);

private:
    void work();

    std::function<void(FramePreviewPicture)> done_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<FramePreviewRequest> pending_;
    std::uint64_t serial_ = 0;
    bool quit_ = false;
    std::thread thread_;
};

} // namespace mv
