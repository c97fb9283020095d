#include "imagelist/ImagesList.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "imagelist/FileSort.h"
#include "platform/system/Localize.h"
#include "platform/picture/PictureProbe.h"
#include "platform/system/Sound.h"

namespace fs = std::filesystem;

namespace mv {

ImagesList::ImagesList(JobSettings& settings, MainWindowPort& window, ListViewPort& view, AlertPort& alerts,
                       FileDialogPort& dialogs, VerifyList& verifyList, std::string kmlFile)
    : settings_(settings), window_(window), view_(view), alerts_(alerts), dialogs_(dialogs),
      verifyList_(verifyList), kmlFile_(std::move(kmlFile))
{
    clearList();
}

const std::array<std::string, 16>& ImagesList::types()
{
    static const std::array<std::string, 16> t{"tiff", "tif", "TIFF", "TIF", "jpeg", "JPEG", "jpg",
                                               "JPG",  "png", "PNG",  "CR2", "cr2", "NEF",  "nef",
                                               // Adobe's raw format, which many cameras and phones write
                                               "DNG",  "dng"};
    return t;
}

bool ImagesList::hasAcceptedExtension(const std::string& path)
{
    const std::string name = fs::path(path).filename().string();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return false;
    const std::string ext = name.substr(dot + 1);
    return std::find(types().begin(), types().end(), ext) != types().end();
}

std::string ImagesList::verifyListAdvice() const
{
    return verifyListFailed() ? "The Verify List file could not be written." : "View the Verify List file for details.";
}

std::string ImagesList::labelWord() const { return windowText("Images:"); }

bool ImagesList::selectFiles()
{
    isSkipChecks_ = settings_.isSkipVerify;
    isKML_ = !kmlFile_.empty() && !isSkipChecks_ && settings_.isCreateKML;
    window_.setDateSortEnable(!isSkipChecks_);
    const char* title = "Image Files";
    const char* message = "Select all the files for the time lapse movie.";
    if (isMaskImages_) {
        title = "Mask File(s)";
        message = "Select one or a list of mask images.";
    } else if (isLayerImages_) {
        title = "Overlay Files";
        message = "Select all the overlay images for the time lapse movie.";
    }
    const auto chosen =
        dialogs_.chooseFiles(windowText(title), windowText(message), {types().begin(), types().end()});
    if (!chosen) {
        window_.setCustomCropEnable(false);
        return false;
    }
    if (isMaskImages_)
        maskFiles_.clear();
    else if (isLayerImages_)
        layerFiles_.clear();
    return processImageList(*chosen);
}

namespace {

// Only regular files (or links to them) are images: a FIFO or device named
// like one would block the listing for ever. Links to folders are not
// followed, so a link loop cannot recurse.
bool isImageFile(const fs::directory_entry& entry)
{
    std::error_code ec;
    return entry.is_regular_file(ec) && ImagesList::hasAcceptedExtension(entry.path().string());
}

void listFolder(const fs::path& folder, std::vector<std::string>& files, std::vector<std::string>& unreadable)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        unreadable.push_back(folder.string());
        return;
    }
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) {
            unreadable.push_back(folder.string());
            return;
        }
        std::error_code sec;
        if (it->is_directory(sec) && !it->is_symlink(sec))
            listFolder(it->path(), files, unreadable);
        else if (isImageFile(*it))
            files.push_back(it->path().string());
    }
}

} // namespace

bool ImagesList::processImageList(const std::vector<std::string>& paths)
{
    std::vector<std::string> files, unreadable;
    for (const std::string& path : paths) {
        std::error_code ec;
        const fs::directory_entry entry(path, ec);
        if (entry.is_directory(ec))
            listFolder(path, files, unreadable);
        else if (isImageFile(entry))
            files.push_back(path);
    }
    if (!unreadable.empty()) {
        // Not an image problem, so not a Verify List line; but the user must
        // know that part of what was chosen is missing from the list.
        const bool one = unreadable.size() == 1;
        std::string message = windowText(one ? "Its images are not listed:" : "Their images are not listed:");
        for (const std::string& folder : unreadable)
            message += "\n" + folder;
        alerts_.alert(one ? windowText("A folder could not be read")
                          : std::to_string(unreadable.size()) + " " + windowText("folders could not be read"),
                      message);
    }
    window_.setResizable(false);
    window_.setCustomCropEnable(true);
    window_.setCreateEnable(true);
    addLinkToFiles(files);
    window_.setResizable(true);

    const double docHeight = view_.documentHeight();
    lineHeight_ = fileCount() ? static_cast<float>(docHeight) / static_cast<float>(fileCount()) : 0.0f;
    maxScroll_ = docHeight + lineHeight_ - 135.0;
    return true;
}

void ImagesList::addLinkToFiles(const std::vector<std::string>& paths)
{
    if (isLayerImages_) {
        addLayerFiles(paths);
        return;
    }
    const std::string word = labelWord();
    imageFiles_.insert(imageFiles_.end(), paths.begin(), paths.end());
    if (settings_.isDateSort)
        dateSort(imageFiles_);
    else
        alphaSort(imageFiles_);

    viewText_.clear();
    view_.setText({});
    isNoEXIF_ = false;
    hasEXIF_ = false;
    frameDate_.clear();
    frameLocn_.clear();
    kmlLocn_.clear();
    kmlLatLon_.clear();
    hasKMLFile_ = false;
    errorCount_ = 0;
    datesFound_ = false;
    gpsFound_ = false;
    window_.enableLayerMenu(false);

    const unsigned count = fileCount();
    char label[64];
    for (unsigned i = 0; i < count; ++i) {
        if (!isSkipChecks_) {
            const Verdict verdict = verifyImage(i);
            if (verdict == Verdict::Abort)
                return;
            if (verdict == Verdict::Skip)
                continue;
            readMetadata(i);
        }
        std::string line = fs::path(imageFiles_[i]).filename().string();
        if (i + 1 != count)
            line += '\n';
        appendViewText(line);
        if (i % 10 == 0) {
            std::snprintf(label, sizeof label, "%u ", i);
            view_.setLabel(label + word);
        }
    }

    decideDatesAndGPS();

    isSkipChecks_ = false;
    window_.setDateSortEnable(true);
    // Set before the window is told: it reads the settings on its own
    // thread as soon as it is.
    settings_.numListImages = count;
    window_.setNumList(count);
    window_.enableLayerMenu(true);
    std::snprintf(label, sizeof label, "%u ", count);
    view_.setLabel(label + word);
    view_.scrollTo(0);

    if (errorCount_ > 0) {
        char title[96];
        std::snprintf(title, sizeof title, "%u images were found with errors", errorCount_);
        alerts_.alert(title, verifyListAdvice());
    }
}

void ImagesList::addLayerFiles(const std::vector<std::string>& paths)
{
    const bool mask = isMaskImages_;
    layerRunPassed_ = false;
    std::vector<std::string>& files = mask ? maskFiles_ : layerFiles_;
    files.insert(files.end(), paths.begin(), paths.end());
    if (!mask || files.size() >= 2) {
        if (settings_.isDateSort)
            dateSort(files);
        else
            alphaSort(files);
    }

    const unsigned count = fileCount();
    char text[96];
    if ((!mask || files.size() >= 2) && files.size() != count) {
        std::snprintf(text, sizeof text, mask ? "Images: %u, Mask images: %u" : "Images: %u, Layer images: %u", count,
                      static_cast<unsigned>(files.size()));
        alerts_.alert(mask ? "Number of mask images do not match" : "Number of layer images do not match", text);
        return;
    }
    // The frame loop then reads capture times from the files themselves.
    hasEXIF_ = false;
    isNoEXIF_ = false;
    const std::string cannot = mask ? "You can not mask with this image(s)." : "You can not layer these images.";
    const auto first = count ? probePicture(imageFiles_[0]) : std::nullopt;
    if (!first) {
        alerts_.alert("Can not process the first image", "You can not layer these images.");
        return;
    }
    const auto layer = files.empty() ? std::nullopt : probePicture(files[0]);
    if (!layer) {
        alerts_.alert(mask ? "Can not process the mask image" : "Can not process the first layer image", cannot);
        return;
    }
    if (layer->width != first->width || layer->height != first->height) {
        alerts_.alert(mask ? "Mask image size does not match" : "Layer image size does not match", cannot);
        return;
    }

    if (!mask) {
        // Each line pairs a frame's image with its layer image.
        viewText_.clear();
        view_.setText({});
        const std::string word = labelWord();
        for (unsigned i = 0; i < count; ++i) {
            std::string line =
                fs::path(imageFiles_[i]).filename().string() + " / " + fs::path(files[i]).filename().string();
            if (i + 1 != count)
                line += '\n';
            appendViewText(line);
            if (i % 100 == 0) {
                std::snprintf(text, sizeof text, "%u ", i);
                view_.setLabel(text + word);
            }
        }
    }
    layerRunPassed_ = true;
    if (layerSound_)
        layerSound_();
    else
        playCompletionSound(false);
}

void ImagesList::resortFiles(bool optionHeld)
{
    isSkipChecks_ = optionHeld;
    // With layer images attached, the main list is sorted again first (as a
    // main-list run), then the layer list, so that the images never end up
    // in the layer list and the pairs stay in step.
    const bool layers = isLayerImages_;
    isLayerImages_ = false;
    std::vector<std::string> copy;
    copy.swap(imageFiles_);
    addLinkToFiles(copy);
    isLayerImages_ = layers;
    if (layers && !layerFiles_.empty()) {
        copy.clear();
        copy.swap(layerFiles_);
        addLayerFiles(copy);
    }
    // One mask per image follows the images' new order too (it was checked
    // when it was listed).
    if (maskFiles_.size() >= 2) {
        if (settings_.isDateSort)
            dateSort(maskFiles_);
        else
            alphaSort(maskFiles_);
    }
}

void ImagesList::clearList()
{
    viewText_.clear();
    view_.setText({});
    imageFiles_.clear();
    frameDate_.clear();
    frameLocn_.clear();
    kmlLocn_.clear();
    kmlLatLon_.clear();
    hasKMLFile_ = false;
    layerFiles_.clear();
    maskFiles_.clear();
    view_.setLabel(" ");
    window_.setCreateEnable(false);
    isMaskImages_ = false;
    isLayerImages_ = false;
    window_.enableLayerMenu(false);
}

void ImagesList::selectFile(unsigned index)
{
    if (index >= fileCount())
        return;
    char label[64];
    std::snprintf(label, sizeof label, "(%u/%u) ", index + 1, fileCount());
    view_.setLabel(label + labelWord());
    view_.showImage(index);
    if (settings_.isElCapitan)
        return;
    const std::string name = fs::path(imageFiles_[index]).filename().string();
    const auto at = viewText_.find(name);
    if (at == std::string::npos)
        return;
    view_.highlight(at, name.size());
    if (index < 9) {
        view_.scrollTo(0);
    } else {
        const double y = (index - 8) * lineHeight_;
        if (y <= maxScroll_)
            view_.scrollTo(y);
    }
}

void ImagesList::appendViewText(const std::string& text)
{
    viewText_ += text;
    view_.appendText(text);
}

} // namespace mv
