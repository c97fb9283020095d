#pragma once
// The image list: collects the still images of a movie, puts them in frame
// order, shows their names, and keeps per-image data for the frame loop.
#include <array>
#include <string>
#include <vector>

#include "imagelist/VerifyList.h"
#include "platform/UiPorts.h"
#include "settings/JobSettings.h"

namespace mv {

class ImagesList {
public:
    ImagesList(JobSettings& settings, MainWindowPort& window, ListViewPort& view, AlertPort& alerts,
               FileDialogPort& dialogs, VerifyList& verifyList, std::string kmlFile = {});

    // The 14 accepted file-name extensions, compared case-sensitively.
    static const std::array<std::string, 14>& types();
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
    bool isLayerImages() const { return isLayerImages_; }
    bool isMaskImages() const { return isMaskImages_; }
    const std::string& viewText() const { return viewText_; }

    void writeVerifyFile(const std::string& line) { verifyList_.writeVerifyFile(line); }

private:
    void appendViewText(const std::string& text);
    std::string labelWord() const;

    JobSettings& settings_;
    MainWindowPort& window_;
    ListViewPort& view_;
    AlertPort& alerts_;
    FileDialogPort& dialogs_;
    VerifyList& verifyList_;
    std::string kmlFile_;

    std::vector<std::string> imageFiles_, layerFiles_, maskFiles_;
    std::vector<std::string> frameDate_, frameLocn_, kmlLocn_;
    std::vector<double> kmlLatLon_;
    std::string viewText_;
    bool isSkipChecks_ = false;
    bool isNoEXIF_ = false;
    bool hasEXIF_ = false;
    bool isKML_ = false;
    bool isLayerImages_ = false;
    bool isMaskImages_ = false;
    unsigned errorCount_ = 0;
    double lineHeight_ = 0;
    double maxScroll_ = 0;
};

} // namespace mv
