#pragma once
// A movie run: opening the movie, the frame loop on a worker thread, and
// finishing the file.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <thread>

#include "animation/CropWindow.h"
#include "imagelist/ImagesList.h"
#include "platform/movie/MovieWriter.h"
#include "platform/ports/UiPorts.h"
#include "render/FrameGeometry.h"
#include "render/Overlay.h"
#include "render/RunningValues.h"
#include "render/FrameMaker.h"
#include "render/MovieParts.h"
#include "render/Smoothing.h"
#include "render/TextOverlay.h"
#include "settings/JobSettings.h"

namespace mv {

struct PictureHeader;

class MovieRun {
public:
    MovieRun(JobSettings& settings, ImagesList& list, AlertPort& alerts, MainWindowPort& window);
    ~MovieRun();
    MovieRun(const MovieRun&) = delete;
    MovieRun& operator=(const MovieRun&) = delete;

    std::string moviePath;
    std::string movieName;
    bool overwriteMovie = false;
    bool hasMovieName = false; // a path was chosen; kept for the next movie

    // Proposes the default name and asks where to save the movie. False
    // when the dialog was cancelled.
    bool setMovieName(FileDialogPort& dialogs);

    // The create command: a running movie is stopped; otherwise the movie
    // gets a name (through the dialog when none was chosen yet), the list is
    // checked, the movie opened and the frame loop started on its worker.
    // True when a movie was started.
    bool createCommand(FileDialogPort* dialogs = nullptr);

    // Opens the movie file at the output path. False after an alert, with
    // nothing left open.
    bool createMovie();
    // The frame loop; runs on the worker thread.
    void createMovieFrames();
    // Finishes the run and writes the movie; from any thread. A frame being
    // appended at that moment is completed first. With the image the window
    // shows as the current one, the movie ends with that image even when
    // later ones were written meanwhile.
    void stopMovie(std::optional<unsigned> shownImage = std::nullopt);
    // Ends the run leaving no file: a part of a movie stopped midway is no
    // part.
    void cancelMovie() { abortRun(); }
    // Waits until the worker has ended.
    void waitForWorker();

    bool isCreatingMovie() const { return isCreatingMovie_; }
    // Stop was asked and the movie is being finished.
    bool isStopping() const { return isCreatingMovie_ && stopAsked_; }
    const std::string& outputPath() const { return outputPath_; }
    // The last run ended with a complete movie file.
    bool wasWritten() const { return written_; }
    unsigned actualImages() const { return actualImages_; }
    // Where the KML copy beside the last movie went; empty when none was made.
    const std::string& kmlCopyPath() const { return kmlCopyPath_; }
    const MovieAttributes& movieAttributesDict() const { return attributes_; }

    // Played when a movie was written (the default plays the system sound).
    void setCompletionSound(std::function<void()> play) { playSound_ = std::move(play); }
    // Render threads that run ahead of the encoder (tests use 1).
    void setRenderThreads(unsigned n) { renderThreads_ = n; }
    // Makes only part K of the N parts of the movie (see MovieParts.h): the
    // part's share of the images, with what it needs of the images before
    // it, tagged for append, over an earlier file of its name.
    void setSegment(std::optional<Segment> segment) { segment_ = std::move(segment); }
    // The keyframe editor and its preview, where the window has them.
    void setAnimationEditor(const CropWindow* cropWindow, const CropViewState* cropView)
    {
        cropWindow_ = cropWindow;
        cropView_ = cropView;
    }
    // The renderer of the watermark and the date/GPS stamp; without one no
    // text is drawn.
    void setTextLayer(CITextLayer* layer) { textLayer_ = layer; }
    // The running values as the last image of the last run left them.
    const RunningValues& runningValues() const { return running_; }

private:
    std::string chooseOutputPath() const;
    // The KML and animation files beside the new movie: their text is taken
    // when the movie is opened and written once the movie is complete, each
    // under a name of its own that replaces no file.
    void copySideFiles();
    void writeSideFiles();
    // Ends the run after a fatal error of the worker: no file is left.
    void abortRun();
    // The run ended, or a stop was asked: the worker appends nothing more.
    bool stopped() const { return !isCreatingMovie_ || stopAsked_; }
    // Returns true when this call ended the run; see stopMovie().
    bool finishRun(std::optional<unsigned> shownImage = std::nullopt);
    void keepUpToImage(unsigned index);

    // The frame loop's parts (createMovieFrames).
    class FirstImageCheck;
    // The alert, and the list cleared: no movie can be made of this list.
    void refuseFirstImage();
    // The first image's size, which sets the frame geometry, after the
    // keyframes read from a file brought their settings; nothing when the
    // run was refused.
    std::optional<std::pair<double, double>> firstImageSize(const PictureHeader& first,
                                                            FirstImageCheck& firstImage);
    struct PlannedJobs {
        std::vector<FrameJob> jobs;
        std::size_t next = 0, end = 0;  // the share handed to the pipeline
        unsigned firstOwnImage = 0;     // a part's first image; those before it prime the smoothing
        unsigned ownImages = 0;         // a part's images
    };
    // Every job made ahead, a part's share chosen and deflicker's gains
    // added; nothing when the run was stopped or refused.
    std::optional<PlannedJobs> planJobs(const std::function<std::optional<FrameJob>()>& nextJob,
                                        const std::vector<std::string>& files);
    struct FrameLoop;
    // One rendered frame into the movie, with its in-between frames, text
    // and duplicates, or its Verify List line; false when the run ends.
    bool writeFrame(RenderedFrame& frame, FrameLoop& loop);

    JobSettings& settings_;
    ImagesList& list_;
    AlertPort& alerts_;
    MainWindowPort& window_;

    std::string outputPath_;
    std::string kmlCopyPath_;
    std::optional<std::string> kmlCopyText_, animCopyText_;
    std::unique_ptr<MovieWriter> mvMovie_;
    MovieAttributes attributes_;
    std::atomic<bool> isCreatingMovie_{false};
    std::atomic<bool> stopAsked_{false}; // from stopMovie, before it has the lock
    // (image index, frames in the movie after it), in the order written.
    std::vector<std::pair<unsigned, std::int64_t>> framesAfterImage_;
    bool runOpen_ = false; // between a successful createMovie and stopMovie
    std::atomic<bool> written_{false};
    std::atomic<unsigned> actualImages_{0};
    std::mutex movieMutex_; // held while a frame is appended and while the file is written
    std::thread worker_;
    std::function<void()> playSound_;
    unsigned renderThreads_ = 2;
    const CropWindow* cropWindow_ = nullptr;
    const CropViewState* cropView_ = nullptr;
    CITextLayer* textLayer_ = nullptr;
    std::optional<TextOverlay> textOverlay_; // this movie's, made when it starts
    RunningValues running_;
    Overlay overlay_; // the layer and mask lists of the run, taken when it starts
    std::optional<Segment> segment_;
    SmoothingPlan smoothingPlan_; // settled when the run starts
    // Settled when the run starts; window 0: chosen from the images.
    bool isDeflicker_ = false;
    unsigned deflickerWindow_ = 0;
};

} // namespace mv
