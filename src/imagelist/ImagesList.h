#pragma once
// The image list: collects the still images of a movie, puts them in frame
// order, shows their names, and keeps per-image data for the frame loop.
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "imagelist/VerifyList.h"
#include "platform/ports/UiPorts.h"
#include "settings/JobSettings.h"

namespace mv {

class ImagesList {
public:
    ImagesList(JobSettings& settings, MainWindowPort& window, ListViewPort& view, AlertPort& alerts,
               FileDialogPort& dialogs, VerifyList& verifyList, std::string kmlFile = {});

    // The 14 accepted file-name extensions, compared case-sensitively.
    static const std::array<std::string, 16>& types();
    static bool hasAcceptedExtension(const std::string& path);

    // Runs the open dialog and builds the list from what was chosen. False
    // when the dialog was cancelled.
    bool selectFiles();
    // Expands folders into the image files below them and runs the
    // list-building run on the result. Always true.
    bool processImageList(const std::vector<std::string>& paths);
    // The list-building run: sort, (verification), view lines, count label.
    void addLinkToFiles(const std::vector<std::string>& paths);
    // Sorts and rebuilds the list after the sort option changed; with the
    // Option key held no image is read.
    void resortFiles(bool optionHeld);
    void clearList();
    // Follows the movie: label "(i/N) Images:" and the image's line selected.
    void selectFile(unsigned index);

    unsigned fileCount() const { return static_cast<unsigned>(imageFiles_.size()); }
    const std::vector<std::string>& imageFiles() const { return imageFiles_; }
    const std::vector<std::string>& layerFiles() const { return layerFiles_; }
    const std::vector<std::string>& maskFiles() const { return maskFiles_; }
    const std::vector<std::string>& frameDate() const { return frameDate_; }
    const std::vector<std::string>& frameLocn() const { return frameLocn_; }
    bool hasEXIF() const { return hasEXIF_; }
    bool isKML() const { return isKML_; }
    // The last run wrote the KML file (its images have GPS positions).
    bool hasKMLFile() const { return hasKMLFile_; }
    // The KML document of this list's positions; empty without any.
    std::string kmlText() const;
    bool isLayerImages() const { return isLayerImages_; }
    bool isMaskImages() const { return isMaskImages_; }
    // Runs then fill the layer list (layer mode), or with both set the mask
    // list (mask mode); clearList returns to the main list.
    void setIsLayerImages(bool on) { isLayerImages_ = on; }
    void setIsMaskImages(bool on) { isMaskImages_ = on; }
    // The last layer or mask run passed its count, readability and size checks.
    bool layerRunPassed() const { return layerRunPassed_; }
    // Played when a layer or mask list was taken (the default plays the
    // system sound).
    void setLayerSound(std::function<void()> play) { layerSound_ = std::move(play); }
    const std::string& viewText() const { return viewText_; }

    void writeVerifyFile(const std::string& line) { verifyList_.writeVerifyFile(line); }
    // A problem line could not be written: alerts must not send the user to
    // the file for details.
    bool verifyListFailed() const { return verifyList_.hasFailed(); }
    std::string verifyListAdvice() const;
    // Writes the KML file from the positions of the last run.
    void writeKMLFile();

private:
    enum class Verdict { Keep, Skip, Abort };
    // The per-image checks of a run (readability, size, file size).
    Verdict verifyImage(unsigned index);
    // Capture date, GPS text and KML position of a kept image.
    void readMetadata(unsigned index);
    // After the last image: keeps dates and GPS only when they cover the
    // list, and tells the window whether stamping can be offered.
    void decideDatesAndGPS();
    // The run of layer or mask mode: the counts must agree and the first
    // layer or mask must have the first main image's size.
    void addLayerFiles(const std::vector<std::string>& paths);
    // A problem line of a per-image check, after the run's header when it
    // is the run's first.
    void writeProblem(const std::string& line);

    void appendViewText(const std::string& text);
    std::string labelWord() const;

    JobSettings& settings_;
    MainWindowPort& window_;
    ListViewPort& view_;
    AlertPort& alerts_;
    FileDialogPort& dialogs_;
    VerifyList& verifyList_;
    std::string kmlFile_;
    std::function<void()> layerSound_;

    std::vector<std::string> imageFiles_, layerFiles_, maskFiles_;
    std::vector<std::string> frameDate_, frameLocn_, kmlLocn_;
    bool layerRunPassed_ = false;
    std::vector<double> kmlLatLon_;
    std::string viewText_;
    bool isSkipChecks_ = false;
    bool isNoEXIF_ = false;
    bool hasEXIF_ = false;
    bool isKML_ = false;
    bool isLayerImages_ = false;
    bool isMaskImages_ = false;
    bool hasKMLFile_ = false;
    // Per run.
    unsigned errorCount_ = 0;
    double firstWidth_ = 0, firstHeight_ = 0;
    bool datesFound_ = false;
    bool gpsFound_ = false;
    double lineHeight_ = 0;
    double maxScroll_ = 0;
};

} // namespace mv
