#include "render/FramePreview.h"

#include <chrono>
#include <utility>

#include "platform/picture/PictureProbe.h"
#include "render/LoopControls.h"

namespace mv {

FramePreviewRequest framePreviewRequest(const JobSettings& settings, const ImagesList& list,
                                        const CropWindow* editor, const CropViewState* cropView, unsigned index)
{
    FramePreviewRequest r;
    r.settings = settings;
    if (editor && editor->isReadAnim()) {
        setAnim(r.settings, *editor);
        r.settings.crop = kCropCustom;
    }
    r.animation = animationOf(editor, r.settings);
    if (cropView)
        r.cropView = *cropView;
    r.files = std::make_shared<const std::vector<std::string>>(list.imageFiles());
    std::optional<OverlayProblem> problem;
    r.overlay = Overlay::forRun(list, settings.overlayMode, problem);
    if (problem)
        r.overlay = Overlay(); // the run would refuse to start; the picture is shown without
    r.index = index;
    return r;
}

FramePreview::FramePreview(std::function<void(FramePreviewPicture)> done)
    : done_(std::move(done)), thread_([this] { work(); })
{
}

FramePreview::~FramePreview()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::uint64_t FramePreview::request(FramePreviewRequest r)
{
    std::uint64_t serial;
    {
        std::lock_guard lock(mutex_);
        pending_ = std::move(r);
        serial = ++serial_;
    }
    wake_.notify_all();
    return serial;
}

void FramePreview::work()
{
    for (;;) {
        FramePreviewRequest r;
        std::uint64_t serial;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || pending_; });
            if (quit_)
                return;
            r = std::move(*std::exchange(pending_, std::nullopt));
            serial = serial_;
        }
        FramePreviewPicture p = make(std::move(r));
        p.serial = serial;
        done_(std::move(p));
    }
}

FramePreviewPicture FramePreview::make(FramePreviewRequest r)
{
    const auto start = std::chrono::steady_clock::now();
    FramePreviewPicture out;
    out.index = r.index;
    const std::vector<std::string>& files = *r.files;
    if (r.index >= files.size()) {
        out.error = "no such image";
        return out;
    }
    // As the movie run: the first image sets the geometry, or the picture
    // size a read animation file records.
    double firstW = r.animation.sourceW, firstH = r.animation.sourceH;
    if (!(firstW > 0 && firstH > 0)) {
        const std::optional<PictureHeader> first = probePicture(files[0]);
        if (!first) {
            out.error = "the first image can not be read";
            return out;
        }
        firstW = first->width;
        firstH = first->height;
    }
    FrameMaker maker(r.settings, r.animation, &r.cropView, firstW, firstH, r.overlay);
    // The keyframe values are stepped image by image as the movie steps
    // them (a tint's colour depends on the images before).
    ImageSelection selection(static_cast<unsigned>(files.size()));
    while (const std::optional<unsigned> i = selection.current()) {
        if (*i >= r.index)
            break;
        maker.job(*i);
        selection.advance(r.settings.rate);
    }
    FrameJob job = maker.job(r.index);
    job.adjustments.deflickerEV = r.deflickerEV;
    RenderedFrame frame = maker.render(files[r.index], job, false);
    out.ok = frame.status == RenderedFrame::Status::Ok && frame.bitmap.width > 0;
    if (!out.ok)
        out.error = "the image can not be made into a frame";
    out.bitmap = std::move(frame.bitmap);
    out.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return out;
}

} // namespace mv
