#pragma once
// One movie made in parts (make --segment K/N), on as many machines, and
// joined by copying (append): which images a part makes, the tag that tells
// a part's job and place, and the order of a set of parts.
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mv {

struct Segment {
    unsigned part = 1, parts = 1; // part K of N, from 1
    std::string job;              // the same text in every part of one job
};

// "K/N" with 1 <= K <= N; nothing for any other text.
std::optional<Segment> parseSegment(const std::string& text);

// The part's share [first, end) of `count` images in movie order: as even
// as whole images allow, in order, with no gap and no overlap.
std::pair<std::size_t, std::size_t> segmentRange(std::size_t count, unsigned part, unsigned parts);

// The metadata key of a part, and its text: "JOB K/N".
inline const char* const kPartTagKey = "com.moirevance.part";
std::string partTag(const Segment& s);
std::optional<Segment> parsePartTag(const std::string& text);

// A job's identifier: a hash of the texts that make the movie (the options
// but the output's name and the part, and the images' names in order),
// the same on every machine that runs a part.
std::string jobIdentifier(const std::vector<std::string>& texts);

// The order in which a set of movies (their names and part tags) joins:
// not parts (no movie is tagged) leaves the order as it is; a complete set
// of the parts of one job is ordered by part; any other set is refused with
// a text that names the part missing, repeated or foreign.
struct PartOrder {
    bool parts = false;
    std::vector<std::size_t> order; // indexes into the given movies
    std::string refusal;
};
PartOrder orderParts(const std::vector<std::string>& names, const std::vector<std::string>& tags);

} // namespace mv
