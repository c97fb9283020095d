#pragma once
// Pictures for the animation editor's preview, made on a thread of their
// own: the image is decoded at the size the preview shows it (a JPEG is
// shrunk while it is decoded) and kept, so that a change of the adjustments
// runs the chain on the small kept picture without reading the file again.
// The adjustments are the movie's own, so the preview shows what the movie
// gets.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/picture/Picture.h"
#include "render/Adjustments.h"
#include "settings/JobSettings.h"

namespace mv {

// The job's adjustments as the preview applies them. The movie blurs its
// output frame; the preview shows `viewPerOutput` view pixels per output
// pixel, so its blur radius is scaled by that to look the same.
AdjustmentValues previewAdjustments(const JobSettings& settings, float viewPerOutput);

struct PreviewRequest {
    std::string path;
    int width = 0, height = 0; // pixels of the preview; the picture is stretched to them
    AdjustmentValues adjustments;
    bool reload = false; // read the file again even when it is the one kept
};

struct PreviewPicture {
    std::uint64_t serial = 0; // of the request it answers
    std::string path;
    bool ok = false;
    std::string error;
    RgbaBitmap bitmap;
    bool reloaded = false;  // the file was read for this answer
    // The camera's preview embedded in a raw file, shown while the picture
    // is developed; the developed one follows, answering the newest request
    // again, unless another picture was asked for first.
    bool draft = false;
    double loadMs = 0;      // reading and scaling the file
    double adjustMs = 0;    // the adjustment chain and the conversion to 8 bits
};

// Two threads: one answers requests, from the kept picture or the file;
// the other develops raw files, whose camera preview the first shows
// meanwhile, so that a new raw image shows at once and stepping through
// them never waits for a development no longer wanted.
class PreviewLoader {
public:
    // `done` runs on the answering thread, once per answered request and
    // once more for a raw picture developed after its preview.
    explicit PreviewLoader(std::function<void(PreviewPicture)> done);
    ~PreviewLoader();
    PreviewLoader(const PreviewLoader&) = delete;
    PreviewLoader& operator=(const PreviewLoader&) = delete;

    // Queues a request and answers its serial. A request still waiting is
    // replaced: only the newest is worth showing.
    std::uint64_t request(PreviewRequest r);

private:
    // A picture read at a preview size, whole or the camera's preview.
    struct Read {
        std::string path;
        int width = 0, height = 0;
        std::optional<Picture> picture;
        std::string error;
        double ms = 0; // reading it took
    };
    void work();
    void develop();
    PreviewPicture make(const PreviewRequest& r, std::uint64_t serial);
    PreviewPicture answer(const PreviewRequest& r, std::uint64_t serial, double loadMs);
    static Read read(const std::string& path, int w, int h, bool draft);

    std::function<void(PreviewPicture)> done_;
    std::mutex mutex_;
    std::condition_variable wake_, wakeDeveloper_;
    std::optional<PreviewRequest> pending_;
    std::uint64_t serial_ = 0;
    bool quit_ = false;
    std::optional<Read> toDevelop_; // path and size only
    std::optional<Read> developed_;
    // The answering thread's own: the picture last read, at its preview
    // size, and the request last answered.
    std::optional<Read> kept_;
    bool keptDraft_ = false;
    PreviewRequest last_;
    std::uint64_t lastSerial_ = 0;
    std::thread thread_, developer_;
};

} // namespace mv
