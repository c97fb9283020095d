#pragma once
// The append-movies tool: several movies written one after another into one
// new self-contained movie.
#include <functional>
#include <string>

#include "platform/ports/UiPorts.h"

namespace mv {

// Result codes of appendMovie; 0 is finished or cancelled.
enum AppendResult : int {
    kAppendDone = 0,
    kAppendFirstUnreadable = 1,
    kAppendOtherUnreadable = 2,
    kAppendRateMismatch = 3, // kept for the message table; never produced
    kAppendSizeMismatch = 4,
    kAppendFailed = 5,
    kAppendWriteFailed = 6,
    kAppendWrongContainer = 7, // the codec and the movie's name do not go together
    kAppendFrameSizeRefused = 8, // the encoder or the file cannot take the frame size
    kAppendPartsRefused = 9,     // parts of a movie, one of them missing, repeated or foreign
};

// The alert message for a result code ("" for 0 and unknown codes).
std::string appendFailureMessage(int code);

class AppendMovies {
public:
    AppendMovies(FileDialogPort& dialogs, MainWindowPort& window, AlertPort& alerts);

    // The menu command: runs appendMovie and shows its failure, if any.
    int appendMoviesCommand();

    // The dialogs, the checks and the write. Runs on the calling thread.
    int appendMovie();

    // The output path of the last run.
    const std::string& outputPath() const { return outputPath_; }
    // How the last write went: movies copied and movies encoded again.
    int copiedMovies() const { return copied_; }
    int encodedMovies() const { return encoded_; }

    void setCompletionSound(std::function<void()> play) { playSound_ = std::move(play); }
    void setBeep(std::function<void()> beep) { beep_ = std::move(beep); }

private:
    FileDialogPort& dialogs_;
    MainWindowPort& window_;
    AlertPort& alerts_;
    std::string outputPath_;
    std::string refusal_; // why the movie was refused, for the last three codes
    int copied_ = 0, encoded_ = 0;
    std::function<void()> playSound_;
    std::function<void()> beep_;
};

} // namespace mv
