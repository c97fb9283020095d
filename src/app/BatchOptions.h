#pragma once
// Command-line options of `moirevance make`, one per job setting.
#include <optional>
#include <string>
#include <vector>

#include "render/MovieParts.h"
#include "settings/JobSettings.h"

namespace mv {

struct MakeRequest {
    std::string output;   // empty: the default name in the current folder
    std::string animFile; // keyframes to follow
    std::vector<std::string> inputs;
    std::vector<std::string> layers; // overlay images, files or folders
    std::vector<std::string> masks;  // mask images for the mask blend
    std::string deflickerPlot;       // a chart of the deflicker analysis instead of a movie
    std::optional<Segment> segment;  // only part K of N of the movie
    // The options as given but the output and the part: with the images'
    // names, they tell one job's parts from another's.
    std::vector<std::string> jobTexts;
    bool help = false;
};

struct UsageError {
    std::string message;
};

// Applies the options to the settings. Throws UsageError for an unknown
// option, a missing or bad value, or missing inputs.
MakeRequest parseMakeArguments(const std::vector<std::string>& args, JobSettings& settings);

std::string makeUsage();
std::string mainUsage();

// Prints the paths of what a command wrote, one a line, on stdout. False
// (with a line on stderr) when they could not be printed, such as on a full
// disk: a script that reads them must not take that for success. A reader
// that closed the pipe early is no failure.
bool printWrittenPaths(const std::vector<std::string>& paths);

} // namespace mv
