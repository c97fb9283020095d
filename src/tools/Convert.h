#pragma once
// The movie-to-frames tool: every frame of a movie saved as a numbered TIFF
// file, written by a worker thread that can be stopped between frames.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ports/UiPorts.h"

namespace mv {

class MovieReader;

// "<base>-<number>.tiff", numbered from 1 without leading zeros.
std::string frameFilePath(const std::string& base, unsigned number);
// "Folder Size: %0.1fM": numFrames times the mean of five file sizes, in
// millions of bytes.
std::string folderSizeText(unsigned numFrames, std::uint64_t fiveFileBytes);
// "Time Left: ..." after `index` frames took `elapsed` seconds.
std::string convertTimeLeftText(double elapsed, unsigned index, unsigned numFrames);

class Convert {
public:
    Convert(FileDialogPort& dialogs, AlertPort& alerts, ConvertPanelPort& panel);
    ~Convert(); // stops a running conversion and waits for it
    Convert(const Convert&) = delete;
    Convert& operator=(const Convert&) = delete;

    const std::vector<std::string> types = {"mov", "mp4", "m4v", "avi"};

    // The tool's command: a stop while the panel is up, else selectMovie.
    void convAction();
    // The panel's stop control.
    void stopConversion() { stopRunning_ = true; }
    // The user closed the panel (it stays up after a failed scan).
    void panelClosed() { panelVisible_ = false; }

    // Asks for the movie and the frames' folder and base name, lists the
    // frame times and starts the worker. True when the worker was started.
    bool selectMovie();
    // Waits until the worker has ended.
    void waitForWorker();

    bool isPanelVisible() const { return panelVisible_; }
    unsigned numFrames() const { return numFrames_; }
    // The frame files written by the last conversion, in order.
    std::vector<std::string> writtenFiles() const;
    // The last conversion saved every frame (not stopped, no failure, no
    // frame of a damaged movie left out).
    bool wasCompleted() const { return completed_; }

    void setCompletionSound(std::function<void()> play) { playSound_ = std::move(play); }

private:
    void createImages();
    void endConversion(bool completed);

    FileDialogPort& dialogs_;
    AlertPort& alerts_;
    ConvertPanelPort& panel_;

    std::string moveURL_;
    std::string imagesURL_;
    std::unique_ptr<MovieReader> convertMovie_;
    std::vector<std::int64_t> qtTimeArray_; // frame start times, in the movie's time units
    unsigned numFrames_ = 0;     // the frames the movie should hold
    unsigned missingFrames_ = 0; // of those, the ones a cut-off file lacks
    std::atomic<bool> stopRunning_{false};
    std::atomic<bool> panelVisible_{false};
    std::atomic<bool> completed_{false};
    std::chrono::steady_clock::time_point startDate_;
    std::vector<std::string> written_;
    std::thread worker_;
    std::function<void()> playSound_;
};

} // namespace mv
