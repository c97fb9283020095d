#pragma once
// A cheap look at a picture file while a list is checked: its size from the
// header, and whether the file holds all the data the header announces.
// No pixels are decoded.
#include <optional>
#include <string>

namespace mv {

struct PictureHeader {
    int width = 0;
    int height = 0;
    bool deep = false; // more than 8 bits a channel: a raw file, a 16-bit TIFF or PNG
};

// The size a Picture opened from this file will have. Nothing when the file
// is not a picture the program can read, or when it is a JPEG, PNG or TIFF
// that was cut short (a JPEG without its end-of-image marker, a PNG without
// its end chunk, a TIFF whose strips or tiles reach past the end).
std::optional<PictureHeader> probePicture(const std::string& path);

// Whether a JPEG, PNG or TIFF file holds all the data its structure
// announces (any other file passes). Decoders do not all fail on a cut file
// the same way every time; this check does.
bool pictureFileComplete(const std::string& path);

} // namespace mv
