#include "tools/Convert.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "platform/system/AtomicFile.h"
#include "platform/movie/MovieReader.h"
#include "platform/system/Sound.h"
#include "render/RunTexts.h"

namespace fs = std::filesystem;

namespace mv {
namespace {

const char* kConvertError = "Convert Movie error";

} // namespace

std::string frameFilePath(const std::string& base, unsigned number)
{
    return base + "-" + std::to_string(number) + ".tiff";
}

std::string folderSizeText(unsigned numFrames, std::uint64_t fiveFileBytes)
{
    const float megabytes = float(numFrames) * (float(fiveFileBytes) / 5000000.0f);
    char buf[64];
    std::snprintf(buf, sizeof buf, "Folder Size: %0.1fM", megabytes);
    return buf;
}

std::string convertTimeLeftText(double elapsed, unsigned index, unsigned numFrames)
{
    // The same estimate as a movie run's: seconds per frame so far times the
    // frames still to come, plus one second.
    return timeLeftText("Time Left:", elapsed, index, numFrames);
}

Convert::Convert(FileDialogPort& dialogs, AlertPort& alerts, ConvertPanelPort& panel)
    : dialogs_(dialogs), alerts_(alerts), panel_(panel), playSound_([] { playCompletionSound(false); })
{
}

Convert::~Convert()
{
    stopRunning_ = true;
    waitForWorker();
}

void Convert::waitForWorker()
{
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id())
        worker_.join();
}

std::vector<std::string> Convert::writtenFiles() const
{
    // Filled by the worker; read once it has ended.
    return worker_.joinable() ? std::vector<std::string>{} : written_;
}

void Convert::convAction()
{
    if (panelVisible_)
        stopRunning_ = true;
    else
        selectMovie();
}

bool Convert::selectMovie()
{
    FileDialogPort::OpenRequest open;
    open.title = "Select a Movie";
    open.message = "You can select a mov, m4v, mp4 or avi movie.";
    open.extensions = types;
    open.multipleFiles = false;
    open.canChooseFolders = true;
    const auto files = dialogs_.openFiles(open);
    if (!files || files->empty())
        return false;
    moveURL_ = files->front();

    FileDialogPort::SaveRequest save;
    save.title = "Save Movie Frames";
    save.message = "Select or create a folder to save the movie frames. Then enter a file name.";
    save.canCreateFolders = true;
    const auto base = dialogs_.saveFile(save);
    if (!base)
        return false;
    imagesURL_ = base->path;

    waitForWorker(); // the last conversion has hidden its panel; let it end
    convertMovie_ = MovieReader::open(moveURL_);
    if (!convertMovie_) {
        alerts_.alert(kConvertError, "A movie could not be created from that file.");
        return false;
    }

    panel_.setImagesText("Images: Scanning movie...");
    panel_.setTimeText("Time Left:");
    panel_.setSizeText("Folder Size:");
    panel_.setConvertProgress({0, -1});
    panel_.show();
    panelVisible_ = true;

    qtTimeArray_.clear();
    numFrames_ = 0;
    // A damaged movie gives the frames it holds; the count says how many it
    // should hold, so that the progress and the result tell the truth.
    convertMovie_->scanFrames();
    for (const MovieReader::Frame& f : convertMovie_->frames())
        qtTimeArray_.push_back(f.start);
    missingFrames_ = qtTimeArray_.empty() ? 0 : unsigned(convertMovie_->missingFrames());
    numFrames_ = unsigned(qtTimeArray_.size()) + missingFrames_;
    if (numFrames_ == 0) {
        // The panel stays up with its scanning texts until the user closes it.
        alerts_.alert(kConvertError, "No frames could be found.");
        return false;
    }

    // No file is ever replaced, least of all the movie itself (a movie named
    // clip-1.tiff with the base name clip): refused before anything is written.
    for (unsigned i = 1; i <= numFrames_; ++i) {
        const std::string path = frameFilePath(imagesURL_, i);
        if (pathIsTaken(path)) {
            panel_.hide();
            panelVisible_ = false;
            alerts_.alert(kConvertError, "The folder already holds " + fs::path(path).filename().string() +
                                             ". Choose another name for the frames.");
            convertMovie_.reset();
            return false;
        }
    }

    stopRunning_ = false;
    completed_ = false;
    written_.clear();
    worker_ = std::thread([this] { createImages(); });
    return true;
}

void Convert::createImages()
{
    startDate_ = std::chrono::steady_clock::now();
    std::uint64_t byteTotal = 0;
    // A movie of more than 8 bits gives 16-bit TIFFs.
    const bool deep = convertMovie_->depth() > 8;
    RgbaBitmap picture;
    RgbaBitmap16 deepPicture;
    std::string tiff;
    char text[64];
    unsigned unread = missingFrames_;
    for (unsigned i = 0; i < qtTimeArray_.size(); ++i) {
        if (stopRunning_) {
            endConversion(false);
            return;
        }
        // A frame without a picture is left out; its number stays unused.
        const bool read = deep ? convertMovie_->frameImageAtTime(qtTimeArray_[i], deepPicture, true) &&
                                     tiffData(deepPicture, tiff)
                               : convertMovie_->frameImageAtTime(qtTimeArray_[i], picture, true) && tiffData(picture, tiff);
        if (!read) {
            ++unread;
            continue;
        }
        std::snprintf(text, sizeof text, "Images: %u of %u", i + 1, numFrames_);
        panel_.setImagesText(text);
        panel_.setConvertProgress(progressAt(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - startDate_).count(), i + 1, numFrames_));

        const std::string path = frameFilePath(imagesURL_, i + 1);
        // Whole or not at all, and never over a file that appeared meanwhile.
        if (!writeFileAtomically(path, tiff, false)) {
            // A full disk or a lost folder fails every later frame as well.
            alerts_.alert(kConvertError, "Can not write the frame file " + fs::path(path).filename().string());
            endConversion(false);
            return;
        }
        written_.push_back(path);

        if (i >= 11 && i <= 15)
            byteTotal += tiff.size(); // the size of the file just written
        if (i == 16) {
            panel_.setSizeText(folderSizeText(numFrames_, byteTotal));
        } else if (i >= 20 && i % 10 == 0) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - startDate_).count();
            panel_.setTimeText(convertTimeLeftText(elapsed, i, numFrames_));
        }
    }
    if (unread != 0) {
        std::snprintf(text, sizeof text, "%u of %u frames could not be read: the movie is damaged.", unread,
                      numFrames_);
        alerts_.alert(kConvertError, text);
    }
    endConversion(unread == 0);
}

void Convert::endConversion(bool completed)
{
    convertMovie_.reset(); // closes the movie file
    completed_ = completed;
    if (completed && playSound_)
        playSound_();
    panel_.hide();
    panelVisible_ = false;
}

} // namespace mv
