#pragma once
// The default movie name, which carries the job's settings, and the
// estimated movie length.
#include <cstdint>
#include <string>
#include <vector>

#include "settings/JobSettings.h"

namespace mv {

// The path itself when nothing is there, else the first free one of
// "name-1.mov", "name-2.mov" ... (with the path's own extension); empty when
// every number is taken.
std::string numberedMoviePath(const std::string& path);

// "MV(30,1080p,H264,Norm,1X)" and its variants.
std::string defaultMovieName(const JobSettings& settings, bool isRateChange);

struct KeyframeMark {
    std::uint32_t frame; // image index
    std::uint16_t rate;
};

// Seconds of the movie; keyframes (two or more) set the pace where given.
float movieLengthSeconds(const JobSettings& settings, const std::vector<KeyframeMark>& keyframes);

// Fills durationHour/Min/Sec and answers "Length:  0m 8.5s".
std::string calcMovieLength(JobSettings& settings, const std::vector<KeyframeMark>& keyframes);

} // namespace mv
