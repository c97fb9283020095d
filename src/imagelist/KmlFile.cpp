#include "imagelist/KmlFile.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/system/AtomicFile.h"
#include "platform/system/MacRoman.h"

namespace mv {
namespace {

const char* const kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n";

const char* const kPlacemarkHead = " <Placemark>\n"
                                   "  <name>MV Location</name>\n"
                                   "  <description>Moirevance placemark location</description>\n"
                                   "  <Point>\n"
                                   "   <coordinates>\n";
const char* const kPlacemarkTail = "   </coordinates>\n"
                                   "  </Point>\n"
                                   " </Placemark>\n"
                                   "</kml>";

const char* const kPathHead = " <Document>\n"
                              "  <name>MV Location</name>\n"
                              "  <description>Moirevance path list.</description>\n"
                              "  <Style id=\"yellowLine\">\n"
                              "   <LineStyle>\n"
                              "    <color>7f00ffff</color>\n"
                              "    <width>4</width>\n"
                              "   </LineStyle>\n"
                              "  </Style>\n"
                              "  <Placemark>\n"
                              "   <name>MV Paths</name>\n"
                              "   <description>yellow lines</description>\n"
                              "   <styleUrl>#yellowLine</styleUrl>\n"
                              "   <LineString>\n"
                              "    <coordinates>\n";
const char* const kPathTail = "    </coordinates>\n"
                              "   </LineString>\n"
                              "  </Placemark>\n"
                              " </Document>\n"
                              "</kml>";

bool samePlace(const std::vector<double>& sums)
{
    for (std::size_t k = 1; k < sums.size(); ++k)
        if (std::fabs(sums[k] - sums[0]) > 0.0001)
            return false;
    return true;
}

void appendFixed(std::string& out, double v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 10);
    out.append(buf, r.ptr);
}

} // namespace

std::string kmlCoordinateLine(double signedLongitude, double signedLatitude)
{
    std::string line;
    appendFixed(line, signedLongitude);
    line += ',';
    appendFixed(line, signedLatitude);
    line += '\n';
    return line;
}

std::string kmlDocument(const std::vector<std::string>& coordinateLines, const std::vector<double>& latLonSums)
{
    std::string doc = kHeader;
    if (samePlace(latLonSums)) {
        doc += kPlacemarkHead;
        if (!coordinateLines.empty())
            doc += "    " + coordinateLines.front();
        doc += kPlacemarkTail;
    } else {
        doc += kPathHead;
        for (const std::string& line : coordinateLines)
            doc += "     " + line;
        doc += kPathTail;
    }
    return doc;
}

bool writeKmlDocument(const std::string& path, const std::vector<std::string>& coordinateLines,
                      const std::vector<double>& latLonSums)
{
    if (path.empty())
        return false;
    // The working file is replaced by each list, in one step: never a
    // truncated document, whenever the program stops.
    return writeFileAtomically(path, toMacRoman(kmlDocument(coordinateLines, latLonSums)), true);
}

} // namespace mv
