#pragma once
#include <string>
#include <vector>

namespace mv {

// `moirevance make`: lists the images and makes the movie without a window,
// through the same logic the window uses. Returns the exit status.
int runMake(const std::vector<std::string>& args);

} // namespace mv
