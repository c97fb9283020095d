#pragma once
// Encoder settings and the status texts of a movie run.
#include <string>

#include "platform/movie/MovieWriter.h"
#include "platform/ports/UiPorts.h"
#include "settings/JobSettings.h"

namespace mv {

// Codec, quality and track time scale of every picture of a movie.
MovieAttributes movieAttributes(const JobSettings& settings);

struct FrameTiming {
    MovieTime duration;      // of every frame
    int movieTimeScale = 0;  // set on the movie when not 0
};
FrameTiming frameTiming(float fps, bool isVariableFPS);

// A movie's name ends in .mov (a QuickTime movie) or .mp4. An .mp4 file holds
// H.264, HEVC and AV1; a QuickTime movie every codec but AV1. The message
// that says why the codec and the movie's name do not go together, or empty
// when they do. Codec 0 (not known yet) checks the name only.
std::string containerProblem(std::uint16_t codec, const std::string& path);
// The codec code of a MovieAttributes codecType; 0 for another codec.
std::uint16_t codecOfType(const std::string& codecType);
// The extension a new movie of the codec gets.
const char* movieExtension(std::uint16_t codec);

// Empty when a movie of the codec (a MovieAttributes codecType) takes frames
// of w x h, else the message that says which limit they pass.
std::string frameSizeProblem(const std::string& codecType, int w, int h);

// "Time Left: ..." once 10 or more pictures were appended, else empty.
std::string timeLeftText(const std::string& label, double secondsSinceStart, unsigned actualImages,
                         unsigned expectedImages);

// The progress after `done` of `total` pieces of work; the time left is
// estimated from the third piece on, the first ones being the slowest.
Progress progressAt(double secondsSinceStart, unsigned done, unsigned total);

// What a progress bar says: "42 %", then "42 %  ·  1m 20s left" once the
// time left is known.
std::string progressText(const Progress& p);

// " (m:s.s)" or " (h:m:s.s)" for a movie length in seconds.
std::string lengthText(float seconds);

} // namespace mv
