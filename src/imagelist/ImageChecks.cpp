// The checks of the list-building run: every image must be readable and of
// the first image's size, and its capture date and GPS position are read for
// the stamps and the KML file.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <locale.h>

#include "imagelist/ImagesList.h"
#include "imagelist/KmlFile.h"
#include "platform/picture/Metadata.h"
#include "platform/picture/Picture.h"
#include "platform/picture/PictureProbe.h"

namespace fs = std::filesystem;

namespace mv {
namespace {

std::string localTimeText(std::time_t t, const char* format)
{
    // Month names in English whatever the user's locale.
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    std::tm tm {};
    if (!localtime_r(&t, &tm))
        return {};
    char buf[64];
    const std::size_t n = c ? strftime_l(buf, sizeof buf, format, &tm, c) : std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

struct Dms {
    unsigned degrees, minutes, seconds;
};

// Seconds are rounded half up without carrying into the minutes, so a
// remainder of 59.5 s or more shows as 60.
Dms toDms(double value)
{
    const auto degrees = static_cast<std::uint16_t>(value);
    const double m = (value - degrees) * 60.0;
    const auto minutes = static_cast<unsigned>(m);
    const auto seconds = static_cast<unsigned>((m - minutes) * 60.0 + 0.5);
    return {degrees, minutes, seconds};
}

std::string gpsText(double latitude, const std::string& latitudeRef, double longitude,
                    const std::string& longitudeRef)
{
    const Dms lat = toDms(latitude), lon = toDms(longitude);
    char buf[160];
    std::snprintf(buf, sizeof buf, "GPS: %u\u00B0 %u' %u\" %s, %u\u00B0 %u' %u\" %s", lat.degrees, lat.minutes,
                  lat.seconds, latitudeRef.c_str(), lon.degrees, lon.minutes, lon.seconds, longitudeRef.c_str());
    return buf;
}

} // namespace

void ImagesList::writeProblem(const std::string& line)
{
    if (errorCount_ == 0)
        writeVerifyFile("\n" + localTimeText(std::time(nullptr), "%d %b %Y %H:%M:%S") + " *** New Image List ***\n");
    writeVerifyFile(line);
}

ImagesList::Verdict ImagesList::verifyImage(unsigned index)
{
    const std::string& path = imageFiles_[index];
    const std::string name = fs::path(path).filename().string();
    char line[512];

    if (index == 0) {
        // The first image gives the size every other image is checked
        // against and, later, the movie's frame: its pixels must decode, not
        // only its header.
        const auto header = probePicture(path);
        if (!header || !Picture::decodes(path)) {
            alerts_.alert("Can not process the first image", "You can not create a movie from this image list.");
            settings_.numListImages = 0; // before the window reads it
            window_.setNumList(0);
            clearList();
            writeProblem(name + " (first image format error, can not create an image)\n");
            return Verdict::Abort;
        }
        firstWidth_ = header->width;
        firstHeight_ = header->height;
        return Verdict::Keep;
    }

    // Before decoding: a file this small cannot hold a picture, and is only
    // skipped rather than ending the run as an unreadable one would.
    std::error_code ec;
    const auto bytes = fs::file_size(path, ec);
    if (!ec && bytes <= 9) {
        std::snprintf(line, sizeof line, " (file size error: %d Bytes)\n", static_cast<int>(bytes));
        writeProblem(name + line);
        ++errorCount_;
        return Verdict::Skip;
    }

    // An unreadable image is skipped like one of another size, and the
    // images after it are still checked: the movie uses every listed file,
    // so ending the run here would leave the rest unchecked (any size, any
    // damage) while the list showed none of them.
    const auto header = probePicture(path);
    if (!header) {
        writeProblem(name + " (image format error, can not create an image)\n");
        ++errorCount_;
        return Verdict::Skip;
    }
    if (header->width != firstWidth_ || header->height != firstHeight_) {
        std::snprintf(line, sizeof line, " (size %dX%d does not match first image size %dX%d)\n", header->width,
                      header->height, static_cast<int>(firstWidth_), static_cast<int>(firstHeight_));
        writeProblem(name + line);
        ++errorCount_;
        return Verdict::Skip;
    }
    return Verdict::Keep;
}

void ImagesList::readMetadata(unsigned index)
{
    const std::string& path = imageFiles_[index];
    const ImageMetadata meta = readImageMetadata(path);

    isNoEXIF_ = true;
    if (meta.opened && meta.hasExif) {
        if (meta.captureDate) {
            frameDate_.push_back(*meta.captureDate);
            datesFound_ = true;
            hasEXIF_ = true;
            isNoEXIF_ = false;
        } else {
            writeProblem(fs::path(path).filename().string() + " (EXIF Date error, no date/time in metadata)\n");
            ++errorCount_;
        }
    }

    if (!isNoEXIF_) {
        // Positions only for images with a capture date.
        if (!meta.hasGPS) {
            frameLocn_.push_back("GPS: ---");
        } else if (!meta.latitude || !meta.longitude) {
            frameLocn_.push_back("GPS: ---");
            writeProblem(fs::path(path).filename().string() +
                         " (EXIF GPS error, no latitude/longitude in metadata)\n");
            ++errorCount_;
        } else {
            const double lat = *meta.latitude, lon = *meta.longitude;
            if (isKML_) {
                kmlLocn_.push_back(kmlCoordinateLine(meta.longitudeRef == "W" ? -lon : lon,
                                                     meta.latitudeRef == "S" ? -lat : lat));
                kmlLatLon_.push_back(lat + lon);
            }
            frameLocn_.push_back(gpsText(lat, meta.latitudeRef, lon, meta.longitudeRef));
            gpsFound_ = true;
        }
        return;
    }

    const auto date = fileSystemDate(path);
    frameDate_.push_back(date ? localTimeText(*date, "%Y/%m/%d %H:%M:%S") : "No Date");
    isNoEXIF_ = false;
    datesFound_ = true;
}

void ImagesList::decideDatesAndGPS()
{
    const std::size_t n = imageFiles_.size();

    const bool gps = frameLocn_.size() == n && gpsFound_;
    if (!gps) {
        frameLocn_.clear();
        kmlLocn_.clear();
        kmlLatLon_.clear();
    } else if (isKML_) {
        writeKMLFile();
    }
    window_.setGPSEnable(gps);

    bool dates = false;
    if (!isSkipChecks_) {
        if (frameDate_.size() != n || !datesFound_) {
            char line[160];
            std::snprintf(line, sizeof line, "addLinkToFiles: %s, frame= %u, dateCount= %u\n",
                          datesFound_ ? "date count mismatch" : "date/time error", static_cast<unsigned>(n),
                          static_cast<unsigned>(frameDate_.size()));
            writeVerifyFile(line);
            frameDate_.clear();
            // Not counted: the alert counts images with problems, and this
            // line follows from theirs (or from an empty list).
        } else {
            dates = true;
        }
    }
    window_.setDateEnable(dates);
}

void ImagesList::writeKMLFile()
{
    hasKMLFile_ = !kmlLocn_.empty() && writeKmlDocument(kmlFile_, kmlLocn_, kmlLatLon_);
    // The movie's copy is still made from the positions; the person is told
    // where the working file is missing.
    if (!kmlLocn_.empty() && !hasKMLFile_)
        alerts_.alert("KML file error", "The GPS positions could not be written to " + kmlFile_ + ".");
}

std::string ImagesList::kmlText() const { return kmlLocn_.empty() ? std::string() : kmlDocument(kmlLocn_, kmlLatLon_); }

} // namespace mv
