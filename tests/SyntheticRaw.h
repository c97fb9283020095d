#pragma once
// Small synthetic camera raw files, for the raw formats no Debian package
// ships a real file of: a 16-bit RGGB Bayer mosaic of a picture, in a DNG
// or an uncompressed 14-bit NEF.
#include <cstdint>
#include <string>
#include <vector>

namespace mvtest {

// A picture in linear light, RGB interleaved, 0..65535.
struct LinearPicture {
    int width = 0, height = 0;
    std::vector<std::uint16_t> rgb;
};

// The test pattern (wavePattern) in linear light.
LinearPicture linearPattern(int width, int height);

struct RawShot {
    double ev = 0; // exposure above the picture's, in stops
    std::string date = "2024:06:01 20:15:00";
    std::string exposureTime = "1/125"; // as exiftool takes it
    int orientation = 1;                // EXIF
};

// The camera's space is linear sRGB and its white balance as shot neutral,
// so that the file develops to the picture exposed by `ev` (a stop below
// white at 0). The picture's sides are cut to even numbers.
void writeDng(const std::string& path, const LinearPicture& picture, const RawShot& shot);
// A NEF as Nikon's cameras write them uncompressed: an 8-bit thumbnail in
// the first directory, the mosaic in a sub-directory. Its model is one
// LibRaw has no colour matrix for, which leaves the colours as they are.
void writeNef(const std::string& path, const LinearPicture& picture, const RawShot& shot);

} // namespace mvtest
