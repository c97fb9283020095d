#pragma once
// Bitmaps saved as PNG files: charts and other pictures the program makes
// itself, for the user to keep.
#include <string>

#include "platform/picture/Picture.h"

namespace mv {

// Writes the bitmap as an 8-bit PNG (RGB when every pixel is opaque, else
// RGBA). The file appears at `path` only once it is complete and on disk, so
// an interrupted run never leaves a cut picture there. A file already at
// the path is replaced, since callers pass a path the user named for this
// picture (an output option, a save dialog); with `replace` false it is
// kept and the call fails. False, with the reason in `error`, when the
// bitmap is empty or the file cannot be written.
bool writePng(const RgbaBitmap& bitmap, const std::string& path, std::string* error = nullptr,
              bool replace = true);

} // namespace mv
