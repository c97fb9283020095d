#pragma once
// Camera raw files (CR2, NEF, DNG) through LibRaw, every picture of a
// sequence developed alike.
#include <optional>
#include <string>
#include <vips/vips8>

#include "platform/picture/PictureProbe.h"

namespace mv {

// The size of the developed picture, from the header alone. Nothing when
// LibRaw does not take the file or its sensor is larger than the limit.
std::optional<PictureHeader> probeRaw(const std::string& path);

// The developed picture, 8-bit sRGB, or 16-bit with `deep`; at half size
// (no demosaic) when that still covers fitW x fitH (0: the whole picture is
// wanted).
std::optional<vips::VImage> developRaw(const std::string& path, std::string* error, int fitW = 0, int fitH = 0,
                                       bool deep = false);

// The preview the camera embedded in the file, when it covers w x h and has
// the developed picture's shape: decoded in a few milliseconds where the
// development takes hundreds. The camera's rendering, not ours.
std::optional<vips::VImage> embeddedRawPreview(const std::string& path, int w, int h);

} // namespace mv
