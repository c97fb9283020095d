#pragma once
// The two orders of the image list: by file name, and by capture date.
#include <string>
#include <vector>

namespace mv {

// Compares two texts case-insensitively, with runs of digits compared by
// value (img9 before img10), full-width forms equal to their ASCII ones,
// and a final literal comparison so that different texts never compare as
// the same. Answers <0, 0 or >0.
int alphaCompare(const std::string& a, const std::string& b);

// Sorts full paths with alphaCompare.
void alphaSort(std::vector<std::string>& paths);

// Sorts by the EXIF capture date of each file; a file without one is placed
// by its file-system creation date against its neighbour, and a neighbour
// that cannot be read at all compares as the same. Each file's metadata is
// read once, and the sort is stable.
void dateSort(std::vector<std::string>& paths);

} // namespace mv
