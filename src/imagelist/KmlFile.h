#pragma once
// The KML file of the last list's GPS positions: one placemark when all
// images were taken at one place, else a path through every position.
#include <string>
#include <vector>

namespace mv {

// One coordinate line, "longitude,latitude\n", signed (west and south
// negative), ten decimals, independent of the process locale.
std::string kmlCoordinateLine(double signedLongitude, double signedLatitude);

// The whole document. Positions count as one place when every
// latitude + longitude sum lies within 0.0001 of the first one.
std::string kmlDocument(const std::vector<std::string>& coordinateLines, const std::vector<double>& latLonSums);

// Replaces the file at path with the document, in Mac OS Roman. False when
// the file could not be written.
bool writeKmlDocument(const std::string& path, const std::vector<std::string>& coordinateLines,
                      const std::vector<double>& latLonSums);

} // namespace mv
