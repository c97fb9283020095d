#pragma once
// Capture dates and GPS positions from the images' EXIF data, and the
// file-system dates that stand in for missing capture dates.
#include <optional>
#include <string>
#include <time.h>

namespace mv {

struct CaptureDate {
    bool opened = false;              // the file could be read as an image with metadata
    std::optional<std::string> text;  // EXIF DateTimeOriginal, "YYYY:MM:DD HH:MM:SS"
};

CaptureDate readCaptureDate(const std::string& path);

// What the list needs of an image's metadata, read in one go.
struct ImageMetadata {
    bool opened = false;   // the file could be read as an image with metadata
    bool hasExif = false;  // it carries an EXIF sub-directory (camera settings, dates)
    std::optional<std::string> captureDate; // DateTimeOriginal as stored
    bool hasGPS = false;   // it carries a GPS directory
    // Unsigned magnitudes in decimal degrees (degrees + minutes / 60 +
    // seconds / 3600). Absent when the tag is missing, malformed (a zero
    // denominator) or out of range (above 90 or 180 degrees).
    std::optional<double> latitude, longitude;
    std::string latitudeRef, longitudeRef; // "N"/"S", "E"/"W"; empty when missing
    // The camera's exposure: seconds, f-number and ISO speed, each absent
    // when not recorded or not a positive number.
    std::optional<double> exposureTime, fNumber, isoSpeed;
};

ImageMetadata readImageMetadata(const std::string& path);

// The file's creation (birth) time where the file system records one, else
// its modification time. Zero when the file cannot be examined.
timespec fileCreationTime(const std::string& path);

// The same, but nothing when the file cannot be examined.
std::optional<time_t> fileSystemDate(const std::string& path);

} // namespace mv
