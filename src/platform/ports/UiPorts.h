#pragma once
// The small interfaces through which the logic talks to the user. The Qt
// shell implements them with widgets, the batch mode with stderr, and the
// tests with recording fakes.
#include <optional>
#include <string>
#include <vector>

namespace mv {

enum class AlertButton { OK, Cancel };

// How far a long piece of work is, for a progress bar.
struct Progress {
    double fraction = -1;    // done, 0 to 1; below 0: nothing in progress (no bar)
    double secondsLeft = -1; // below 0: not known yet
};

class AlertPort {
public:
    virtual ~AlertPort() = default;
    // A modal alert with "OK" (and "Cancel" when withCancel); answers the
    // button pressed. A title-only alert passes a single blank as message.
    virtual AlertButton alert(const std::string& title, const std::string& message,
                              bool withCancel = false) = 0;
};

// The scrolling list of image names under the main window.
class ListViewPort {
public:
    virtual ~ListViewPort() = default;
    virtual void setText(const std::string& text) = 0;
    virtual void appendText(const std::string& text) = 0;
    virtual void setLabel(const std::string& label) = 0;
    // Select the characters [offset, offset + length) of the text (bytes).
    virtual void highlight(std::size_t offset, std::size_t length) = 0;
    // Image `index` of the list is now the current one.
    virtual void showImage(unsigned /*index*/) {}
    virtual void scrollTo(double y) = 0;
    // Height of the whole text in view units (0 where nothing is drawn).
    virtual double documentHeight() const { return 0; }
};

// Open and save dialogs.
class FileDialogPort {
public:
    virtual ~FileDialogPort() = default;
    // Several files and folders may be chosen; only files with one of the
    // extensions are offered. Nothing when cancelled.
    virtual std::optional<std::vector<std::string>> chooseFiles(const std::string& title, const std::string& message,
                                                                const std::vector<std::string>& extensions) = 0;

    struct OpenRequest {
        std::string title, message;
        std::vector<std::string> extensions;
        bool multipleFiles = true;
        bool canChooseFolders = true;
    };
    // An open dialog with its own choices; the default is chooseFiles.
    virtual std::optional<std::vector<std::string>> openFiles(const OpenRequest& r)
    {
        return chooseFiles(r.title, r.message, r.extensions);
    }

    struct SaveRequest {
        std::string title, message, proposedName;
        std::vector<std::string> extensions; // empty: any name
        std::string folder;                  // where the dialog opens; empty: where it last was
        bool canCreateFolders = true;
    };
    struct SaveChoice {
        std::string path;
        bool replaceConfirmed = false; // the file exists and the user agreed to replace it
    };
    // A save dialog: the chosen path, or nothing when cancelled.
    virtual std::optional<SaveChoice> saveFile(const SaveRequest&) { return std::nullopt; }
};

// Control enabling and status text of the main window. Every call has a
// do-nothing default so that each implementation shows only what it can.
class MainWindowPort {
public:
    virtual ~MainWindowPort() = default;
    virtual void setCreateEnable(bool) {}
    virtual void setNumList(unsigned) {}
    virtual void setDateEnable(bool) {}
    virtual void setGPSEnable(bool) {}
    virtual void setDateSortEnable(bool) {}
    virtual void enableLayerMenu(bool) {}
    virtual void setCustomCropEnable(bool) {}
    virtual void enableVerifyMenu(bool) {}
    virtual void setResizable(bool) {}
    virtual void setWindowTitle(const std::string&) {}
    virtual void setCreateButtonTitle(const std::string&) {}
    // List-images button and the fps, scale, codec, quality, crop and rate
    // controls, which are locked while a movie is made.
    virtual void setRunControlsEnabled(bool) {}
    virtual void setStatusText(const std::string&) {}
    virtual void setProgress(const Progress&) {}
    // The time-range switch, unchecked when a run turns the filter off.
    virtual void setTimeRangeChecked(bool) {}
};

// The small progress panel of the movie-to-frames tool.
class ConvertPanelPort {
public:
    virtual ~ConvertPanelPort() = default;
    virtual void setImagesText(const std::string&) {}
    virtual void setTimeText(const std::string&) {}
    virtual void setSizeText(const std::string&) {}
    virtual void setConvertProgress(const Progress&) {}
    virtual void show() {}
    virtual void hide() {}
};

} // namespace mv
