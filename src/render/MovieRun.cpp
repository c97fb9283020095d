#include "render/MovieRun.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <system_error>

#include "platform/system/AtomicFile.h"
#include "platform/system/Localize.h"
#include "platform/system/MacRoman.h"
#include "platform/movie/MovieWriter.h"
#include "platform/picture/Picture.h"
#include "platform/picture/PictureProbe.h"
#include "platform/system/Sound.h"
#include "render/Deflicker.h"
#include "render/FrameMaker.h"
#include "render/FramePipeline.h"
#include "render/LoopControls.h"
#include "render/RunTexts.h"
#include "render/Smoothing.h"
#include "textlayer/CITextLayer.h"
#include "settings/MovieName.h"

namespace fs = std::filesystem;

namespace mv {
namespace {

bool fileExists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

std::string fileName(const std::string& path) { return fs::path(path).filename().string(); }

// The path with its extension replaced (only the last one: a folder whose
// name contains ".mov" stays as it is).
std::string withExtension(const std::string& path, const char* ext)
{
    return fs::path(path).replace_extension(ext).string();
}

// The frame size of the run, known before the movie is opened: from the
// first image's header, or the picture size of a read animation file. Empty
// when neither gives one (the frame loop then meets the first image).
std::optional<std::pair<int, int>> plannedFrameSize(JobSettings settings, const std::vector<std::string>& files,
                                                    const CropWindow* cropWindow)
{
    double w = 0, h = 0;
    if (cropWindow && cropWindow->isReadAnim()) {
        setAnim(settings, *cropWindow);
        w = cropWindow->imageRect().width;
        h = cropWindow->imageRect().height;
    }
    if (!(w > 0 && h > 0)) {
        const auto header = files.empty() ? std::nullopt : probePicture(files[0]);
        if (!header)
            return std::nullopt;
        w = header->width;
        h = header->height;
    }
    const FrameGeometry g = computeFrameGeometry(settings, w, h);
    return std::pair{g.frameWidth(), g.frameHeight()};
}

const char* kRejectedImage = "The movie encoder has rejected the image. Select a different codec or smaller scale.";
const char* kCannotWrite =
    "The movie writer can not write the movie file. Try selecting a different location for the movie.";

} // namespace

MovieRun::MovieRun(JobSettings& settings, ImagesList& list, AlertPort& alerts, MainWindowPort& window)
    : settings_(settings), list_(list), alerts_(alerts), window_(window),
      playSound_([] { playCompletionSound(false); })
{
}

MovieRun::~MovieRun()
{
    if (isCreatingMovie_)
        stopMovie();
    waitForWorker();
}

void MovieRun::waitForWorker()
{
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id())
        worker_.join();
}

bool MovieRun::setMovieName(FileDialogPort& dialogs)
{
    overwriteMovie = false;
    settings_.mvFPS = std::clamp(settings_.mvFPS, 0.01f, 600.0f);
    movieName = defaultMovieName(settings_, cropWindow_ && cropWindow_->isRateChange());
    if (hasMovieName)
        return true;
    FileDialogPort::SaveRequest request;
    request.title = windowText("Movie Name");
    request.message = windowText("Enter the movie name.");
    request.proposedName = movieName;
    // Next to the last movie: a series of movies usually goes to one folder.
    const std::string lastMovie = !outputPath_.empty() ? outputPath_ : moviePath;
    if (!lastMovie.empty())
        request.folder = fs::path(lastMovie).parent_path().string();
    // The codec's own file type first; H.264 and HEVC may go into either.
    request.extensions = {movieExtension(settings_.codec)};
    if (settings_.codec == kCodecH264 || settings_.codec == kCodecHEVC)
        request.extensions.push_back("mp4");
    const auto choice = dialogs.saveFile(request);
    if (!choice)
        return false;
    // The dialog adds the extension only to a name without one.
    if (const std::string problem = containerProblem(settings_.codec, choice->path); !problem.empty()) {
        alerts_.alert(windowText("Create movie error"), problem);
        return false;
    }
    moviePath = choice->path;
    movieName = fs::path(moviePath).stem().string();
    overwriteMovie = choice->replaceConfirmed && fileExists(moviePath);
    hasMovieName = true;
    return true;
}

bool MovieRun::createCommand(FileDialogPort* dialogs)
{
    if (isCreatingMovie_) {
        stopMovie();
        return false;
    }
    if (dialogs && !hasMovieName && !setMovieName(*dialogs))
        return false;
    if (list_.fileCount() < 2) {
        alerts_.alert(windowText("No images selected."), " ");
        return false;
    }
    // The text is measured again with the settings the movie is made with.
    if (textLayer_ && settings_.useWatermark)
        textLayer_->watermarkText(settings_.watermarkFont, settings_.watermarkColor, settings_.watermarkStr,
                                  settings_.wPosnX, settings_.wPosnY);
    if (textLayer_ && (settings_.isDateStamped || settings_.isGPS))
        textLayer_->dateText(settings_.textFont, settings_.textColor);
    // A stopped run's worker may still be finishing its last image; it must
    // be gone before a new movie exists.
    waitForWorker();
    if (!createMovie())
        return false;
    textOverlay_.reset();
    if (textLayer_)
        textOverlay_.emplace(*textLayer_, settings_, list_, window_);
    window_.setCreateButtonTitle(windowText("Stop Movie"));
    worker_ = std::thread([this] { createMovieFrames(); });
    return true;
}

std::string MovieRun::chooseOutputPath() const
{
    // When every numbered name is taken the result is empty: refused rather
    // than overwritten.
    return overwriteMovie || segment_ ? moviePath : numberedMoviePath(moviePath);
}

// The movie's name as XML text in an ASCII-only form: the KML file says it
// is UTF-8 but is kept in Mac OS Roman, so anything beyond ASCII goes in as a
// character reference, and markup characters are escaped.
static std::string kmlName(const std::string& name)
{
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        const char32_t c = nextCodePoint(name, i);
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else if (c >= 0x20 || c == '\t')
            out += "&#" + std::to_string(static_cast<unsigned long>(c)) + ";";
    }
    return out;
}

void MovieRun::copySideFiles()
{
    kmlCopyPath_.clear();
    kmlCopyText_.reset();
    animCopyText_.reset();
    auto read = [](const std::string& path, std::string& text) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream buf;
        buf << in.rdbuf();
        text = buf.str();
        return bool(in);
    };
    // The positions of this list, made anew: the data folder's file may be
    // another list's, or could not be written there.
    std::string text = list_.isKML() && settings_.isCreateKML ? list_.kmlText() : std::string();
    if (!text.empty()) {
        const std::string from = "MV Location", to = kmlName(movieName);
        for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
            text.replace(at, from.size(), to);
        kmlCopyText_ = toMacRoman(text);
    }
    // Keyframes entered in the editor are kept beside their movie; a read
    // file exists already.
    if (cropWindow_ && cropWindow_->isAnimation() && !cropWindow_->isReadAnim() && settings_.isSaveAnim &&
        read(cropWindow_->animFile, text))
        animCopyText_ = text;
}

// A file beside the movie is never replaced: a name that is taken (a file the
// person keeps there) gives "NAME-1.kml" and so on, as movies are numbered.
static std::string writeBeside(const std::string& path, const std::string& bytes)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string free = numberedFreePath(path);
        if (free.empty())
            return {};
        if (writeFileAtomically(free, bytes, false))
            return free;
        if (errno != EEXIST)
            return {};
    }
    return {};
}

void MovieRun::writeSideFiles()
{
    if (kmlCopyText_)
        kmlCopyPath_ = writeBeside(withExtension(outputPath_, ".kml"), *kmlCopyText_);
    if (animCopyText_)
        writeBeside(withExtension(outputPath_, ".txt"), *animCopyText_);
    kmlCopyText_.reset();
    animCopyText_.reset();
}

bool MovieRun::createMovie()
{
    // Layers are paired with the images by index: lists that no longer
    // match the image list are refused before anything is written.
    std::optional<OverlayProblem> overlayProblem;
    overlay_ = Overlay::forRun(list_, settings_.overlayMode, overlayProblem);
    if (overlayProblem) {
        alerts_.alert(overlayProblem->title, overlayProblem->message);
        return false;
    }
    // A frame that the encoder cannot take is refused before anything is
    // written.
    if (const auto size = plannedFrameSize(settings_, list_.imageFiles(), cropWindow_)) {
        const std::string problem = frameSizeProblem(movieAttributes(settings_).codecType, size->first, size->second);
        if (!problem.empty()) {
            alerts_.alert(windowText("Create movie error"), problem);
            return false;
        }
    }
    if (const std::string problem = containerProblem(settings_.codec, moviePath); !problem.empty()) {
        alerts_.alert(windowText("Create movie error"), problem);
        return false;
    }
    outputPath_ = chooseOutputPath();
    MovieWriter::Options options;
    // The user agreed to replace the file; a part made again replaces
    // itself.
    options.replace = overwriteMovie || segment_;
    overwriteMovie = false;
    if (segment_)
        options.tags = {{kPartTagKey, partTag(*segment_)}};
    if (outputPath_.empty()) {
        alerts_.alert(windowText("Create movie error"), windowText("Unable to initialize movie."));
        return false;
    }
    copySideFiles();

    mvMovie_.reset();
    attributes_ = movieAttributes(settings_);
    MovieWriter::Error error;
    mvMovie_ = MovieWriter::create(outputPath_, attributes_, error, options);
    if (!mvMovie_) {
        alerts_.alert(windowText("Create movie error"), error.description);
        if (error.code == kEncoderUnavailable)
            alerts_.alert("The movie encoder failed to initialize.", "Please contact Quenbrook.");
        return false;
    }

    // Held to what a movie can use, here on the thread that starts the run.
    smoothingPlan_ = settleSmoothing(settings_);
    isDeflicker_ = settings_.isDeflicker;
    deflickerWindow_ = settings_.deflickerWindow;
    window_.setWindowTitle(fileName(outputPath_));
    written_ = false;
    actualImages_ = 0;
    {
        std::lock_guard lock(movieMutex_);
        runOpen_ = true;
        stopAsked_ = false;
        framesAfterImage_.clear();
        isCreatingMovie_ = true;
    }
    window_.setResizable(false);
    window_.setRunControlsEnabled(false);
    return true;
}

void MovieRun::abortRun()
{
    {
        std::lock_guard lock(movieMutex_);
        isCreatingMovie_ = false; // so that stopMovie writes nothing
        if (mvMovie_)
            mvMovie_->discard();
    }
    stopMovie();
}

// The first image's pixels, decoded beside the rendering of the first
// frames (the whole picture, as long as a frame takes): the answer is
// awaited before anything that the user sees or that outlasts the run.
class MovieRun::FirstImageCheck {
public:
    explicit FirstImageCheck(std::string path) : path_(std::move(path))
    {
        try {
            future_ = std::async(std::launch::async, [this] { return check(); });
        } catch (const std::system_error&) { // no thread to spare: checked here
            answer_ = check();
        }
    }
    bool decodes()
    {
        if (!answer_)
            answer_ = future_.get();
        return *answer_;
    }

private:
    bool check() const
    {
        try {
            return Picture::decodes(path_);
        } catch (...) { // out of memory: not a picture to make a movie of
            return false;
        }
    }
    const std::string path_;
    std::optional<bool> answer_;
    std::future<bool> future_;
};

void MovieRun::refuseFirstImage()
{
    alerts_.alert("Can not process the first image", "You can not create a movie from this image list.");
    settings_.numListImages = 0;
    window_.setNumList(0);
    list_.clearList();
    abortRun();
}

std::optional<std::pair<double, double>> MovieRun::firstImageSize(const PictureHeader& first,
                                                                  FirstImageCheck& firstImage)
{
    // Keyframes read from a file bring their own job settings.
    if (cropWindow_ && cropWindow_->isReadAnim()) {
        if (!firstImage.decodes()) {
            refuseFirstImage();
            return std::nullopt;
        }
        setAnim(settings_, *cropWindow_);
        settings_.crop = kCropCustom;
    }
    const bool readSize = cropWindow_ && cropWindow_->isReadAnim() && cropWindow_->imageRect().width > 0 &&
                          cropWindow_->imageRect().height > 0;
    const double width = readSize ? cropWindow_->imageRect().width : first.width;
    const double height = readSize ? cropWindow_->imageRect().height : first.height;
    // Refused before the movie was opened; this holds when the first image
    // changed since.
    const FrameGeometry sized = computeFrameGeometry(settings_, width, height);
    if (const std::string problem = frameSizeProblem(attributes_.codecType, sized.frameWidth(), sized.frameHeight());
        !problem.empty()) {
        if (!firstImage.decodes())
            refuseFirstImage();
        else {
            alerts_.alert(windowText("Create movie error"), problem);
            abortRun();
        }
        return std::nullopt;
    }
    return std::pair{width, height};
}

// What the frame loop keeps from frame to frame.
struct MovieRun::FrameLoop {
    const std::vector<std::string>& files;
    FramePipeline& pipeline;
    Smoothing smoothing;
    DeepSmoothing deepSmoothing;
    unsigned dupImages = 1;
    unsigned firstOwnImage = 0; // a part's: the pictures before it only prime the smoothing
    unsigned skipped = 0, overlayFailed = 0;
};

std::optional<MovieRun::PlannedJobs> MovieRun::planJobs(const std::function<std::optional<FrameJob>()>& nextJob,
                                                        const std::vector<std::string>& files)
{
    PlannedJobs plan;
    while (std::optional<FrameJob> job = nextJob())
        plan.jobs.push_back(std::move(*job));
    if (!isCreatingMovie_)
        return std::nullopt;
    plan.end = plan.jobs.size();
    if (segment_) {
        if (plan.jobs.size() < segment_->parts) {
            alerts_.alert(windowText("Create movie error"), "The movie has " + std::to_string(plan.jobs.size()) +
                                                                " images, too few for " +
                                                                std::to_string(segment_->parts) + " parts.");
            abortRun();
            return std::nullopt;
        }
        const auto [first, end] = segmentRange(plan.jobs.size(), segment_->part, segment_->parts);
        // In-between frames need the picture before the part's first;
        // motion blur the pictures it mixes in.
        const std::size_t primers = smoothingPlan_.mode == SmoothingPlan::Mode::Tween        ? 1
                                    : smoothingPlan_.mode == SmoothingPlan::Mode::MotionBlur ? smoothingPlan_.motionFrames - 1
                                                                                             : 0;
        plan.next = first - std::min(first, primers);
        plan.end = end;
        plan.firstOwnImage = plan.jobs[first].index;
        plan.ownImages = static_cast<unsigned>(end - first);
    }
    if (isDeflicker_ &&
        !addDeflickerGains(plan.jobs, files, deflickerWindow_, renderThreads_, isCreatingMovie_, window_))
        return std::nullopt; // stopped: no frame was written, so no movie is left
    return plan;
}

void MovieRun::createMovieFrames()
{
    if (!isCreatingMovie_)
        return;

    const std::vector<std::string> files = list_.imageFiles();
    const auto numListImages = static_cast<unsigned>(files.size());
    // The layer lists were checked against the image list when the movie
    // was opened; a list changed since then is not paired with the wrong images.
    const Overlay overlay = overlay_.layerCount() == numListImages ? overlay_ : Overlay();
    settings_.numListImages = numListImages;
    TimeRangeFilter timeRange(settings_, alerts_, window_, files, list_.frameDate(), list_.hasEXIF());
    TimeLeftClock timeLeft;
    window_.setStatusText(" ");

    // The first image sets the frame geometry. Its size comes from the
    // header (a raw picture is developed only at the size its frame needs,
    // with the others), but its pixels must decode too.
    const std::optional<PictureHeader> first = files.empty() ? std::nullopt : probePicture(files[0]);
    if (!first)
        return refuseFirstImage();
    FirstImageCheck firstImage(files[0]);
    const std::optional<std::pair<double, double>> size = firstImageSize(*first, firstImage);
    if (!size)
        return;
    FrameMaker maker(settings_, animationOf(cropWindow_, settings_), cropView_, size->first, size->second, overlay);
    // A first picture of more than 8 bits makes the whole run 16-bit: a
    // 10-bit codec keeps 10 of them, an 8-bit one gets them dithered.
    maker.setDeep(first->deep);
    running_ = maker.running();

    const FrameTiming timing = frameTiming(settings_.mvFPS, settings_.isVariableFPS);
    if (timing.movieTimeScale)
        mvMovie_->setMovieTimeScale(timing.movieTimeScale);
    unsigned expectedImages = maker.animation() ? static_cast<unsigned>(std::max(0, cropWindow_->frameTotal()))
                                                : numListImages / (settings_.rate ? settings_.rate : 1u);

    // Jobs are made one after the other, in list order: the keyframe values
    // step per image and the rate a keyframe sets applies to the next step.
    // An image outside the time range has had its step, so the keyframes keep
    // their place in the list, and is never rendered.
    ImageSelection selection(numListImages);
    auto nextJob = [&]() -> std::optional<FrameJob> {
        while (const std::optional<unsigned> index = selection.current()) {
            if (!isCreatingMovie_)
                return std::nullopt;
            FrameJob job = maker.job(*index, timing.duration);
            running_ = maker.running();
            selection.advance(settings_.rate);
            if (!timeRange.use(*index))
                continue;
            if (settings_.isVariableFPS)
                job.duration = variableFrameDuration(running_.rawF);
            return job;
        }
        return std::nullopt;
    };
    // The time range asks and deflicker measures before the first frame.
    if ((settings_.isTimeRange || isDeflicker_) && !firstImage.decodes())
        return refuseFirstImage();
    timeRange.begin(); // asks at image 0, before anything is rendered
    // Deflicker needs the brightness of every image the movie uses before
    // the first frame, and a part of a movie its place among them: the jobs
    // are made ahead (the keyframes stepped through every image), measured,
    // and then handed to the pipeline with their gains. Every part measures
    // the whole list, so that all reach the same curve without a file to
    // share.
    std::optional<PlannedJobs> plan;
    if (isDeflicker_ || segment_) {
        if (!(plan = planJobs(nextJob, files)))
            return;
        if (segment_)
            expectedImages = plan->ownImages;
    }
    auto takeJob = [&]() -> std::optional<FrameJob> {
        if (!plan)
            return nextJob();
        if (!isCreatingMovie_ || plan->next == plan->end)
            return std::nullopt;
        return plan->jobs[plan->next++];
    };
    // Smoothing works on the frames in list order, so the same frames come
    // out however many threads render them. It mixes frames and the text
    // overlay draws on them, both in RGB; without them, a JPEG that is only
    // scaled and cut goes from its decoder's Y'CbCr to a 4:2:0 encoder
    // without a round trip through RGB.
    const bool planesWanted =
        mvMovie_->takesYuv420() && smoothingPlan_.mode == SmoothingPlan::Mode::None && !textOverlay_;
    auto render = [&](const FrameJob& job) { return maker.render(files[job.index], job, planesWanted); };
    // A picture waiting for the encoder besides one on each render thread;
    // from 4 megapixels up (33 MB a frame) none waits.
    const bool largeFrames = std::int64_t(maker.frameWidth()) * maker.frameHeight() >= 4'000'000;
    FramePipeline pipeline(takeJob, render, renderThreads_, renderThreads_ + (largeFrames ? 0 : 1));
    if (!firstImage.decodes()) {
        pipeline.cancel();
        return refuseFirstImage();
    }

    FrameLoop loop{files, pipeline, Smoothing(smoothingPlan_), DeepSmoothing(smoothingPlan_),
                   appendCount(settings_.dupImages), plan ? plan->firstOwnImage : 0u};
    const std::string timeLeftLabel = windowText("Time Left:");
    while (std::optional<RenderedFrame> frame = pipeline.pop()) {
        if (!writeFrame(*frame, loop))
            return; // stopped by the user (the movie is, or is being, written) or failed
        if (frame->index < loop.firstOwnImage || frame->status != RenderedFrame::Status::Ok)
            continue;
        const std::string left = timeLeft.afterAppend(timeLeftLabel, actualImages_, expectedImages);
        if (!left.empty())
            window_.setStatusText(left);
        window_.setProgress(timeLeft.progress(actualImages_, expectedImages));
        list_.selectFile(frame->index);
    }
    if (!finishRun())
        return; // the user stopped the movie at the very end
    endOfRunAlerts(alerts_, {actualImages_, loop.skipped, timeRange.skipped(),
                             textOverlay_ && textOverlay_->stampFailed(), list_.verifyListFailed(),
                             loop.overlayFailed, textOverlay_ && textOverlay_->textCut()});
}

bool MovieRun::writeFrame(RenderedFrame& frame, FrameLoop& loop)
{
    if (stopped())
        return false;
    const MovieTime frameDuration = frame.duration; // this image's in-between frames, own frame and duplicates
    const std::string name = fileName(loop.files[frame.index]);
    const bool deep = frame.deep.width > 0;
    if (frame.index < loop.firstOwnImage) { // the part before this one's: only primes the smoothing
        if (frame.status == RenderedFrame::Status::Ok && loop.smoothing.active()) {
            const auto none = [](const auto&) { return true; };
            deep ? loop.deepSmoothing.apply(frame.deep, none) : loop.smoothing.apply(frame.bitmap, none);
        }
        return true;
    }
    const char* problem = nullptr;
    switch (frame.status) {
    case RenderedFrame::Status::NoImage: problem = "Create Movie: Can not form an image from %s\n"; break;
    case RenderedFrame::Status::NoBitmap: problem = "Create Movie: Can not form a bitmap from %s\n"; break;
    case RenderedFrame::Status::NoMemory: problem = "Create Movie: Can not allocate memory for %s\n"; break;
    case RenderedFrame::Status::Ok: break;
    }
    if (problem) {
        std::vector<char> line(std::strlen(problem) + name.size() + 1);
        std::snprintf(line.data(), line.size(), problem, name.c_str());
        list_.writeVerifyFile(line.data());
        ++loop.skipped;
        return true;
    }
    if (!frame.unreadableOverlay.empty()) {
        list_.writeVerifyFile("Create Movie: " + name + " Layer overlay failed (" + fileName(frame.unreadableOverlay) +
                              ")\n");
        ++loop.overlayFailed;
    }
    const auto fail = [&](const std::string& message) {
        loop.pipeline.cancel();
        alerts_.alert(windowText("Create movie error"), message);
        abortRun();
        return false;
    };
    // In-between frames go before the image's own frame; they and the
    // mixes are made from the pictures without their text.
    const auto appendTween = [&](const auto& tween) {
        std::lock_guard lock(movieMutex_);
        return !stopped() && mvMovie_->addImage(tween, frameDuration);
    };
    if (loop.smoothing.active() && !(deep ? loop.deepSmoothing.apply(frame.deep, appendTween)
                                          : loop.smoothing.apply(frame.bitmap, appendTween)))
        return stopped() ? false : fail(kCannotWrite);
    // Here, in list order, so that a stamp failure stops the stamps of
    // exactly the later frames.
    if (textOverlay_ && deep)
        textOverlay_->draw(frame.deep, frame.index, name);
    else if (textOverlay_)
        textOverlay_->draw(frame.bitmap, frame.index, name);

    bool appended = true;
    {
        std::lock_guard lock(movieMutex_);
        if (stopped())
            return false;
        ++actualImages_;
        for (unsigned d = 0; d < loop.dupImages && appended; ++d)
            appended = deep                    ? mvMovie_->addImage(frame.deep, frameDuration)
                       : frame.planes.width > 0 ? mvMovie_->addImage(frame.planes, frameDuration)
                                                : mvMovie_->addImage(frame.bitmap, frameDuration);
        framesAfterImage_.emplace_back(frame.index, mvMovie_->frameCount());
    }
    if (actualImages_ == 1) { // the first picture, image 0 unless the time range left it out
        std::unique_lock lock(movieMutex_);
        const bool hasPicture = mvMovie_->hasPicture(), canUpdate = mvMovie_->canUpdate();
        lock.unlock();
        if (!hasPicture || !canUpdate)
            return fail(hasPicture ? kCannotWrite : kRejectedImage);
    } else if (!appended) {
        return fail(kCannotWrite);
    }
    return true;
}

bool MovieRun::finishRun(std::optional<unsigned> shownImage)
{
    std::string error;
    bool written = false, writeFailed = false;
    {
        std::lock_guard lock(movieMutex_);
        if (!runOpen_)
            return false;
        runOpen_ = false;
        if (mvMovie_ && isCreatingMovie_) {
            if (shownImage)
                keepUpToImage(*shownImage);
            if (!mvMovie_->hasPicture()) {
                mvMovie_->discard(); // a movie without a single frame is not kept
            } else if (mvMovie_->update(error)) {
                written = true;
                outputPath_ = mvMovie_->path(); // numbered when the name was taken meanwhile
            } else {
                mvMovie_->discard();
                writeFailed = true;
            }
        }
        isCreatingMovie_ = false;
        written_ = written;
    }
    if (written)
        writeSideFiles();
    window_.setResizable(true);
    if (writeFailed)
        alerts_.alert(windowText("Create movie error"), "Movie write data error.");
    window_.setCreateButtonTitle(windowText("Create Movie"));

    if (written) {
        const float seconds = static_cast<float>(mvMovie_->durationSeconds());
        settings_.durationHour = static_cast<std::uint16_t>(seconds / 3600);
        settings_.durationMin = static_cast<std::uint16_t>((seconds - settings_.durationHour * 3600) / 60);
        settings_.durationSec = seconds - settings_.durationHour * 3600 - settings_.durationMin * 60;
        window_.setStatusText(windowText("Complete") + lengthText(seconds));
    } else {
        window_.setStatusText(windowText("Create movie error"));
    }
    window_.setRunControlsEnabled(true);
    window_.setProgress({});
    if (written && playSound_)
        playSound_();
    return true;
}

void MovieRun::stopMovie(std::optional<unsigned> shownImage)
{
    // Asked before the lock: the worker, with frames rendered ahead, could
    // otherwise take the lock again and again while this waits for it, and
    // the movie would run on for several images after Stop.
    stopAsked_ = true;
    finishRun(shownImage);
}

// Called with movieMutex_ held. The window shows the images a little after
// they were written: the movie ends with the one that was on screen.
void MovieRun::keepUpToImage(unsigned index)
{
    auto after = std::upper_bound(framesAfterImage_.begin(), framesAfterImage_.end(), index,
                                  [](unsigned i, const auto& entry) { return i < entry.first; });
    if (after == framesAfterImage_.begin() || after == framesAfterImage_.end())
        return; // nothing shown yet, or the last image written is the one shown
    mvMovie_->keepFirstFrames(std::prev(after)->second);
    actualImages_ = static_cast<unsigned>(after - framesAfterImage_.begin());
}

} // namespace mv
