#pragma once
// Small synthetic camera raw files: a DNG holding a 16-bit RGGB Bayer
// mosaic of the shared photograph, for the raw formats no Debian package
// ships a real file of.
#include <string>

namespace mvtest {

struct RawShot {
    int width = 480, height = 320; // even
    double ev = 0;                  // exposure above the photograph's, in stops
    std::string date = "2024:06:01 20:15:00";
    std::string exposureTime = "1/125"; // as exiftool takes it
};

// Writes the DNG; its camera space is linear sRGB, its white balance as
// shot neutral, so that it develops to the photograph exposed by `ev`.
void writeDng(const std::string& path, const RawShot& shot);

} // namespace mvtest
