#pragma once
// Capture dates from the images' EXIF data, and the file-system dates that
// stand in for them.
#include <optional>
#include <string>
#include <time.h>

namespace mv {

struct CaptureDate {
    bool opened = false;              // the file could be read as an image with metadata
    std::optional<std::string> text;  // EXIF DateTimeOriginal, "YYYY:MM:DD HH:MM:SS"
};

CaptureDate readCaptureDate(const std::string& path);

// The file's creation (birth) time where the file system records one, else
// its modification time. Zero when the file cannot be examined.
timespec fileCreationTime(const std::string& path);

} // namespace mv
