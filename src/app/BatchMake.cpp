#include "app/BatchMake.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "app/BatchOptions.h"
#include "imagelist/ImagesList.h"
#include "platform/system/AtomicFile.h"
#include "platform/system/DataFolder.h"
#include "platform/picture/PictureProbe.h"
#include "platform/picture/PngFile.h"
#include "platform/system/PreferenceStore.h"
#include "platform/system/Sound.h"
#include "render/BrightnessPlot.h"
#include "render/Deflicker.h"
#include "render/MovieRun.h"
#include "render/RunTexts.h"
#include "settings/MovieName.h"
#include "settings/Preferences.h"
#include "textlayer/CITextLayer.h"

namespace fs = std::filesystem;

namespace mv {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;
extern "C" void onInterrupt(int) { gInterrupted = 1; }

// Status on stderr: one line redrawn in place on a terminal, otherwise a
// line per change (at most one a second, results always), with the list's
// "(n/N) Images" label as the window shows it. The worker and the main thread
// (a stop) both report, so every use holds the lock. A failed write (a closed
// pipe) loses the text, never the movie.
class ProgressLine {
public:
    ProgressLine() : tty_(::isatty(STDERR_FILENO)) {}
    ~ProgressLine() { finish(); }

    void setLabel(const std::string& label)
    {
        std::lock_guard lock(mutex_);
        label_ = label;
        if (tty_)
            redraw();
    }
    void setStatus(const std::string& status, bool result)
    {
        std::lock_guard lock(mutex_);
        status_ = status;
        if (tty_) {
            redraw();
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (status_ == " " || (!result && now - lastPrint_ < std::chrono::seconds(1)))
            return;
        lastPrint_ = now;
        std::cerr << (result || label_.empty() ? "" : label_ + "  ") << status_ << '\n' << std::flush;
        std::cerr.clear();
    }
    // Ends the redrawn line so that the next output starts on its own.
    void finish()
    {
        std::lock_guard lock(mutex_);
        endLine();
    }
    // A whole message of its own lines.
    void print(const std::string& text)
    {
        std::lock_guard lock(mutex_);
        endLine();
        std::cerr << text << std::flush;
        std::cerr.clear();
    }

private:
    void endLine()
    {
        if (tty_ && drawn_) {
            std::cerr << '\n';
            std::cerr.clear();
            drawn_ = false;
        }
    }
    void redraw()
    {
        std::cerr << "\r\033[K" << label_ << (label_.empty() || status_.empty() ? "" : "  ") << status_
                  << std::flush;
        std::cerr.clear();
        drawn_ = true;
    }
    std::mutex mutex_;
    bool tty_;
    bool drawn_ = false;
    std::string label_, status_;
    std::chrono::steady_clock::time_point lastPrint_{};
};

class BatchPorts : public AlertPort, public ListViewPort, public MainWindowPort, public FileDialogPort {
public:
    explicit BatchPorts(std::vector<std::string> inputs) : inputs_(std::move(inputs)) {}

    AlertButton alert(const std::string& title, const std::string& message, bool) override
    {
        std::string text = title;
        if (!message.empty() && message != " ")
            text += ": " + message;
        if (message.empty() || message.back() != '\n')
            text += '\n';
        progress_.print(text);
        return AlertButton::OK;
    }

    void setText(const std::string&) override {}
    void appendText(const std::string&) override {}
    void setLabel(const std::string& label) override { progress_.setLabel(label == " " ? "" : label); }
    void highlight(std::size_t, std::size_t) override {}
    void scrollTo(double) override {}

    void setStatusText(const std::string& text) override
    {
        progress_.setStatus(text, text.rfind("Complete", 0) == 0 || text == "Create movie error");
    }

    std::optional<std::vector<std::string>> chooseFiles(const std::string&, const std::string&,
                                                        const std::vector<std::string>&) override
    {
        return inputs_;
    }

    // The proposed name, in the current folder; nobody was asked to replace
    // an existing file, so it is kept.
    std::optional<SaveChoice> saveFile(const SaveRequest& request) override
    {
        const std::string extension = request.extensions.empty() ? "" : "." + request.extensions.front();
        return SaveChoice{(fs::current_path() / (request.proposedName + extension)).string(), false};
    }

    void finish() { progress_.finish(); }

private:
    std::vector<std::string> inputs_;
    ProgressLine progress_;
};

// Every request to end (Ctrl-C, kill, a closed terminal) sets gInterrupted.
void watchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(sig, &action, nullptr);
    // A reader that went away (`make ... 2>&1 | head -1`) makes writes fail
    // instead of ending the program in the middle of its work.
    std::signal(SIGPIPE, SIG_IGN);
}

// The layer list, then the masks, as the window's layer command and mask
// row take them; a run that ends at one of their checks has given its alert.
bool takeLayers(ImagesList& list, const MakeRequest& request)
{
    if (list.fileCount() == 0)
        return true; // the movie run reports the empty list
    list.setLayerSound([] {}); // no sound for a list taken on the command line
    list.setIsLayerImages(true);
    list.processImageList(request.layers);
    if (!list.layerRunPassed())
        return false;
    if (request.masks.empty())
        return true;
    list.setIsMaskImages(true);
    list.processImageList(request.masks);
    list.setIsMaskImages(false);
    return list.layerRunPassed();
}

// The analysis alone, as a chart. Ctrl-C stops it; the chart takes a
// numbered name rather than replace a file.
int saveDeflickerPlot(const std::string& path, const std::vector<std::string>& files, unsigned window,
                      BatchPorts& ports)
{
    if (files.empty())
        return 1; // the list said why
    std::atomic<bool> running{true};
    std::thread watch([&] {
        while (running && !gInterrupted)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        running = false;
    });
    watchInterrupts();
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    const std::optional<BrightnessSeries> series = analyseBrightness(files, threads, running, ports);
    const bool stopped = !running.exchange(false);
    watch.join();
    ports.finish();
    if (!series || stopped)
        return 1;
    ensureTextEngine();
    const RgbaBitmap chart = brightnessPlot(series->brightness, deflickerCurve(*series, window).target, 1000, 450);
    const std::string target = numberedFreePath(fs::absolute(path).string());
    std::string error;
    if (target.empty() || !writePng(chart, target, &error, false)) {
        std::cerr << "moirevance make: " << (error.empty() ? path + ": no free name" : error) << '\n';
        return 1;
    }
    return printWrittenPaths({target}) ? 0 : 1;
}

} // namespace

int runMake(const std::vector<std::string>& args)
{
    JobSettings settings;
    loadPrefs(*openUserPreferences(), settings);
    MakeRequest request;
    try {
        request = parseMakeArguments(args, settings);
    } catch (const UsageError& e) {
        std::cerr << "moirevance make: " << e.message << "\n\n" << makeUsage();
        return 2;
    }
    if (request.help) {
        std::cout << makeUsage();
        return 0;
    }
    if (!request.output.empty()) {
        if (const std::string problem = containerProblem(settings.codec, request.output); !problem.empty()) {
            std::cerr << "moirevance make: " << request.output << ": " << problem << '\n';
            return 2;
        }
    }
    for (const std::string& input : request.inputs) {
        std::error_code ec;
        if (!fs::exists(input, ec)) {
            std::cerr << "moirevance make: " << input << ": no such file or folder\n";
            return 2;
        }
    }
    if (!request.animFile.empty() && !fs::is_regular_file(request.animFile)) {
        std::cerr << "moirevance make: " << request.animFile << ": no such animation file\n";
        return 2;
    }

    const auto workingFiles = prepareDataFolder();
    VerifyList verifyList(workingFiles ? workingFiles->verifyFile : std::string());
    bool verifyWritten = false;
    verifyList.setOnWrite([&] { verifyWritten = true; });
    BatchPorts ports(request.inputs);
    ImagesList list(settings, ports, ports, ports, ports, verifyList, workingFiles ? workingFiles->kmlFile : "");
    list.selectFiles();
    if (!request.layers.empty() && !takeLayers(list, request))
        return 1;

    if (!request.deflickerPlot.empty())
        return saveDeflickerPlot(request.deflickerPlot, list.imageFiles(), settings.deflickerWindow, ports);

    CropViewState view;
    CropWindow editor(settings, ports, view);
    editor.animFile = workingFiles ? workingFiles->animFile : "";
    if (!request.animFile.empty() && list.fileCount() > 0) {
        // As the editor's Read: the file must fit the list and its first image.
        if (const auto first = probePicture(list.imageFiles()[0])) {
            view.srcRect = {0, 0, double(first->width), double(first->height)};
            editor.createCropWindow();
            if (!editor.readAnimFile(request.animFile))
                return 1;
            editor.setReadAnim();
            setAnim(settings, editor);
            settings.crop = kCropCustom;
        }
    }

    MovieRun run(settings, list, ports, ports);
    // Where the side files of this job went, however it ended.
    auto reportSideFiles = [&] {
        if (list.hasKMLFile())
            std::cerr << "KML file: " << workingFiles->kmlFile << '\n';
        if (!run.kmlCopyPath().empty())
            std::cerr << "KML file: " << run.kmlCopyPath() << '\n';
        if (verifyWritten && !verifyList.hasFailed())
            std::cerr << "Verify List: " << verifyList.path() << '\n';
    };
    // The renderer is fed once: nothing changes the fonts during a batch run.
    std::unique_ptr<CITextLayer> text;
    if (settings.useWatermark || settings.isDateStamped || settings.isGPS) {
        ensureTextEngine();
        text = std::make_unique<CITextLayer>(list);
        text->createAttributes();
        text->watermarkText(settings.watermarkFont, settings.watermarkColor, settings.watermarkStr, settings.wPosnX,
                            settings.wPosnY);
        text->dateText(settings.textFont, settings.textColor);
        run.setTextLayer(text.get());
    }
    if (request.segment) {
        // The job's texts with the images' names (not their folders, which
        // may lie elsewhere on another machine).
        std::vector<std::string> texts = request.jobTexts;
        for (const std::string& file : list.imageFiles())
            texts.push_back(fs::path(file).filename().string());
        request.segment->job = jobIdentifier(texts);
        run.setSegment(request.segment);
    }
    run.setCompletionSound([] { playCompletionSound(true); });
    run.setAnimationEditor(&editor, &view);
    if (!request.output.empty()) {
        const fs::path output = fs::absolute(request.output);
        run.moviePath = output.string();
        run.movieName = output.stem().string();
        run.hasMovieName = true;
    } else if (request.segment) {
        // The default name, told apart by the part.
        run.movieName = defaultMovieName(settings, false) + " part " + std::to_string(request.segment->part) +
                        " of " + std::to_string(request.segment->parts);
        run.moviePath = fs::absolute(run.movieName + "." + movieExtension(settings.codec)).string();
        run.hasMovieName = true;
    }

    // A request to end stops the movie as the Stop button does: the frames
    // so far are kept in a complete movie.
    watchInterrupts();

    if (!run.createCommand(&ports)) {
        reportSideFiles();
        return 1;
    }
    while (run.isCreatingMovie()) {
        if (gInterrupted) {
            // A movie stopped keeps its frames; a part stopped is no part.
            request.segment ? run.cancelMovie() : run.stopMovie();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    run.waitForWorker();
    ports.finish();
    reportSideFiles();
    if (!run.wasWritten())
        return 1;
    return printWrittenPaths({run.outputPath()}) ? 0 : 1;
}

} // namespace mv
