#include "render/MovieParts.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace mv {

namespace {

std::optional<unsigned> wholeNumber(const std::string& text)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
}

} // namespace

std::optional<Segment> parseSegment(const std::string& text)
{
    const auto slash = text.find('/');
    if (slash == std::string::npos)
        return std::nullopt;
    const auto k = wholeNumber(text.substr(0, slash)), n = wholeNumber(text.substr(slash + 1));
    if (!k || !n || *k < 1 || *k > *n)
        return std::nullopt;
    return Segment{*k, *n, {}};
}

std::pair<std::size_t, std::size_t> segmentRange(std::size_t count, unsigned part, unsigned parts)
{
    if (parts == 0 || part == 0 || part > parts)
        return {0, 0};
    return {count * (part - 1) / parts, count * part / parts};
}

std::string partTag(const Segment& s)
{
    return s.job + " " + std::to_string(s.part) + "/" + std::to_string(s.parts);
}

std::optional<Segment> parsePartTag(const std::string& text)
{
    const auto space = text.rfind(' ');
    if (space == std::string::npos || space == 0)
        return std::nullopt;
    std::optional<Segment> s = parseSegment(text.substr(space + 1));
    if (s)
        s->job = text.substr(0, space);
    return s;
}

std::string jobIdentifier(const std::vector<std::string>& texts)
{
    // FNV-1a over the texts, each ended by a zero byte so that ("ab", "c")
    // and ("a", "bc") differ.
    std::uint64_t h = 14695981039346656037ull;
    for (const std::string& t : texts) {
        for (const char c : t)
            h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        h *= 1099511628211ull; // the zero byte
    }
    char out[17];
    std::snprintf(out, sizeof out, "%016" PRIx64, h);
    return out;
}

PartOrder orderParts(const std::vector<std::string>& names, const std::vector<std::string>& tags)
{
    PartOrder result;
    std::vector<std::optional<Segment>> parsed;
    std::optional<std::size_t> firstTagged;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        parsed.push_back(parsePartTag(tags[i]));
        if (parsed.back() && !firstTagged)
            firstTagged = i;
    }
    if (!firstTagged) {
        for (std::size_t i = 0; i < names.size(); ++i)
            result.order.push_back(i);
        return result;
    }
    result.parts = true;
    // The movie most of them are parts of is the one being joined; the
    // others are foreign.
    std::size_t reference = *firstTagged, most = 0;
    for (std::size_t i = *firstTagged; i < parsed.size(); ++i) {
        if (!parsed[i])
            continue;
        const auto same = std::count_if(parsed.begin(), parsed.end(), [&](const std::optional<Segment>& s) {
            return s && s->job == parsed[i]->job && s->parts == parsed[i]->parts;
        });
        if (std::size_t(same) > most)
            most = std::size_t(same), reference = i;
    }
    firstTagged = reference;
    const Segment& job = *parsed[reference];
    std::vector<std::optional<std::size_t>> byPart(job.parts);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::optional<Segment>& s = parsed[i];
        if (!s || s->job != job.job || s->parts != job.parts) {
            result.refusal = names[i] + " is not a part of the movie that " + names[*firstTagged] + " is part " +
                             std::to_string(job.part) + " of " + std::to_string(job.parts) + " of.";
            return result;
        }
        if (std::optional<std::size_t>& at = byPart[s->part - 1]) {
            result.refusal = names[*at] + " and " + names[i] + " are both part " + std::to_string(s->part) + " of " +
                             std::to_string(job.parts) + ".";
            return result;
        }
        byPart[s->part - 1] = i;
    }
    for (unsigned k = 0; k < job.parts; ++k) {
        if (!byPart[k]) {
            result.refusal = "Part " + std::to_string(k + 1) + " of " + std::to_string(job.parts) +
                             " of the movie of " + names[*firstTagged] + " is missing.";
            return result;
        }
        result.order.push_back(*byPart[k]);
    }
    return result;
}

} // namespace mv
