// One movie made in parts (make --segment K/N) and joined by append: the
// same frames as the movie made whole, and a set of parts that is not
// whole refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "render/MovieParts.h"

using namespace mvtest;
namespace fs = std::filesystem;

namespace {

constexpr int W = 160, H = 120, kImages = 14;

// Keyframes from the whole picture to its middle half: a pan and a zoom.
std::string panAndZoom()
{
    std::string text = "*** Moirevance 06 Dec 2026 07:00:00 ***\n\nVersion: 0.1\n\nImage: img-0.jpg (160X120)\n"
                       "Window: 160X120\nImages: 14\nFPS: 10.00\nScale: NOFORMAT (50.0%)\nCodec: Animation\n"
                       "Quality: High\nDateStamp: Yes\nGPS: No\nVertical: No\n\n*** Animation Sequence ***\n";
    for (const auto& [frame, rect] : {std::pair{1, "(0.000000, 0.000000, 160.000000, 120.000000)"},
                                      {kImages, "(60.000000, 20.000000, 80.000000, 60.000000)"}})
        text += "\nFrame: " + std::to_string(frame) + "\nRate: 1X\ncropRect: " + rect +
                "\nSaturation: 1.200\nBrightness: 0.000\nContrast: 1.000\nExposure: 0.200\nMonoI: 0.000\n"
                "MonoColor: 1 1 1 1\nSepia: 0.000\nBlur: 0.000\nRotate: 0.000\nAnimFPS: 10.0\n";
    return text;
}

// Images whose brightness flickers, with a capture date for the stamp.
void writeShots(const TempDir& dir)
{
    writeImages(dir / "shots", kImages, W, H, "jpg", "img", [](int i) {
        const int lift = (i % 3) * 12;
        return Pattern([lift](int x, int y) {
            const Rgb c = wavePattern(x, y);
            auto up = [lift](int v) { return std::uint8_t(std::min(255, v + lift)); };
            return Rgb{up(c.r), up(c.g), up(c.b)};
        });
    });
    const auto r = run("exiftool -q -overwrite_original '-DateTimeOriginal=2024:05:01 18:30:00' " +
                       quote(dir / "shots") + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
}

// Makes the parts in the order given and joins them, named so that
// alphabetical order is not part order. The joined movie's path.
std::string madeInParts(const TempDir& dir, const std::string& job, unsigned parts, const std::string& ext,
                        const std::string& tag)
{
    std::string list;
    for (unsigned k = parts; k >= 1; --k) {
        const std::string part = tag + "-" + char('a' + parts - k) + "." + ext;
        const auto r = moirevance(dir, job + " --segment " + std::to_string(k) + "/" + std::to_string(parts) +
                                           " -o " + part + " shots");
        EXPECT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
        list += " " + part;
    }
    const std::string joined = tag + "-joined." + ext;
    const auto r = moirevance(dir, "append -o " + joined + list);
    EXPECT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
    return dir / joined;
}

double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    double sq = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sq += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return sq == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (sq / a.size()));
}

} // namespace

TEST(MovieParts, RangesTagsAndTheOrderOfASet)
{
    // Every image in exactly one part, in order, the parts as even as can be.
    for (const std::size_t count : {7u, 10u, 100u})
        for (const unsigned parts : {1u, 3u, 7u}) {
            std::size_t next = 0;
            for (unsigned k = 1; k <= parts; ++k) {
                const auto [first, end] = mv::segmentRange(count, k, parts);
                EXPECT_EQ(first, next);
                EXPECT_GE(end - first, count / parts);
                EXPECT_LE(end - first, count / parts + 1);
                next = end;
            }
            EXPECT_EQ(next, count);
        }
    EXPECT_EQ(mv::parseSegment("3/7")->part, 3u);
    for (const char* bad : {"0/3", "4/3", "3", "a/b", "1/", "/2", "-1/2", "1/2/3"})
        EXPECT_FALSE(mv::parseSegment(bad)) << bad;
    const mv::Segment s{2, 5, "0123abcd"};
    EXPECT_EQ(mv::parsePartTag(mv::partTag(s))->job, "0123abcd");
    EXPECT_NE(mv::jobIdentifier({"a", "bc"}), mv::jobIdentifier({"ab", "c"}));

    const auto tag = [](unsigned k, unsigned n, const char* job = "j1") { return mv::partTag({k, n, job}); };
    const std::vector<std::string> names = {"x.mov", "y.mov", "z.mov"};
    EXPECT_EQ(mv::orderParts(names, {tag(3, 3), tag(1, 3), tag(2, 3)}).order, (std::vector<std::size_t>{1, 2, 0}));
    EXPECT_FALSE(mv::orderParts(names, {"", "", ""}).parts);
    EXPECT_EQ(mv::orderParts(names, {"", "", ""}).order, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_THAT(mv::orderParts(names, {tag(2, 3, "j2"), tag(1, 3), tag(3, 3)}).refusal,
                HasSubstr("x.mov is not a part of the movie that y.mov"));
    EXPECT_THAT(mv::orderParts(names, {"", tag(1, 2), tag(2, 2)}).refusal, HasSubstr("x.mov is not a part"));
    EXPECT_THAT(mv::orderParts(names, {tag(1, 3), tag(2, 2), tag(3, 3)}).refusal, HasSubstr("y.mov is not a part"));
}

// A job with keyframed pan and zoom, adjustments, deflicker, a date stamp,
// a watermark and in-between frames (or motion blur), made whole and in 1,
// 2, 3 and 7 parts: the joined movies are the whole one frame for frame,
// with the same durations.
TEST(Segments, LosslessPartsJoinIntoTheWholeMovieFrameForFrame)
{
    TempDir dir;
    writeShots(dir);
    std::ofstream(dir / "anim.txt") << panAndZoom();
    const std::string common = "make --anim anim.txt --deflicker --date-stamp --watermark Dusk --skip-verify";
    for (const std::string smoothing : {"--tween 1", "--no-smoothing --motion-blur 3 --motion-frames 3"}) {
        SCOPED_TRACE(smoothing);
        const std::string job = common + " " + smoothing;
        const bool tween = smoothing == "--tween 1";
        const std::string wholeMovie = tween ? "tweened.mov" : "blurred.mov";
        ASSERT_EQ(moirevance(dir, job + " -o " + wholeMovie + " shots").status, 0) << readFile(dir / "stderr.txt");
        const auto whole = decodeFrames(dir / wholeMovie, W / 2, H / 2);
        const std::vector<long> durations = packetDurations(dir / wholeMovie);
        ASSERT_EQ(whole.size(), tween ? std::size_t(2 * kImages - 1) : std::size_t(kImages));
        for (const unsigned parts : {1u, 2u, 3u, 7u}) {
            SCOPED_TRACE(parts);
            const std::string joined = madeInParts(dir, job, parts, "mov", wholeMovie + std::to_string(parts));
            EXPECT_EQ(packetDurations(joined), durations);
            const auto frames = decodeFrames(joined, W / 2, H / 2);
            ASSERT_EQ(frames.size(), whole.size());
            for (std::size_t i = 0; i < frames.size(); ++i)
                EXPECT_EQ(frames[i], whole[i]) << "frame " << i;
        }
    }
}

// The inter-frame codecs: each part starts with a key frame, so the join is
// a copy; its frames are within 45 dB of the whole movie's.
TEST(Segments, LossyPartsJoinWithTheWholeMoviesTimingAndPictures)
{
    TempDir dir;
    writeShots(dir);
    for (const std::string codec : {"h264", "hevc", "prores"}) {
        SCOPED_TRACE(codec);
        const std::string job = "make --codec " + codec + " --size 100% --fps 12 --quality max --tween 1 --skip-verify";
        const std::string whole = dir / (codec + ".mov");
        ASSERT_EQ(moirevance(dir, job + " -o " + codec + ".mov shots").status, 0) << readFile(dir / "stderr.txt");
        const std::string joined = madeInParts(dir, job, 3, "mov", codec);
        const auto a = probeStream(whole), b = probeStream(joined);
        for (const char* key : {"nb_read_packets", "time_base", "codec_name", "pix_fmt"})
            EXPECT_EQ(a.at(key), b.at(key)) << key;
        EXPECT_EQ(packetDurations(joined), packetDurations(whole));
        const auto wholeFrames = decodeFrames(whole, W, H), frames = decodeFrames(joined, W, H);
        ASSERT_EQ(frames.size(), wholeFrames.size());
        for (std::size_t i = 0; i < frames.size(); ++i)
            EXPECT_GE(psnr(frames[i], wholeFrames[i]), 45.0) << "frame " << i;
        // It plays from start to end: every packet decodes.
        EXPECT_EQ(run("ffmpeg -v error -i " + quote(joined) + " -f null - 2>&1").out, "");
    }
}

// A set with a part missing, given twice or of another job is refused by
// name and nothing is written; a part stopped midway leaves no file, and
// made again it replaces an earlier one.
TEST(Segments, IncompleteSetsAreRefusedAndAPartIsWholeOrAbsent)
{
    TempDir dir;
    writeShots(dir);
    const std::string job = "make --codec tiff --size 50% --skip-verify";
    for (const std::string part : {"1/3 -o part1", "2/3 -o part2", "3/3 -o part3", "2/3 --fps 12 -o other2"})
        ASSERT_EQ(moirevance(dir, job + " --segment " + part + ".mov shots").status, 0) << part;
    fs::copy_file(dir / "part1.mov", dir / "again1.mov");
    struct Case {
        const char* movies;
        const char* says;
    } cases[] = {{"part1.mov part3.mov", "Part 2 of 3 of the movie of part1.mov is missing."},
                 {"part1.mov part2.mov part3.mov again1.mov", "again1.mov and part1.mov are both part 1 of 3."},
                 {"part1.mov other2.mov part3.mov",
                  "other2.mov is not a part of the movie that part1.mov is part 1 of 3 of."}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.movies);
        EXPECT_EQ(moirevance(dir, std::string("append -o joined.mov ") + c.movies).status, 1);
        EXPECT_THAT(readFile(dir / "stderr.txt"), HasSubstr(c.says));
        EXPECT_FALSE(fs::exists(dir / "joined.mov"));
    }

    // Killed while it writes: nothing at the part's name.
    const std::string slow = "make --codec h264 --size F4096X2160 --dup 50 --skip-verify --segment 1/2 -o slow.mov shots";
    run("cd " + quote(dir.path()) + " && (XDG_DATA_HOME=data XDG_CONFIG_HOME=config timeout -s INT 1 " +
        quote(MOIREVANCE_BIN) + " " + slow + " >/dev/null 2>&1; true)");
    EXPECT_FALSE(fs::exists(dir / "slow.mov"));
    // Made twice: the second replaces the first, bit for bit the same.
    ASSERT_EQ(moirevance(dir, job + " --segment 1/3 -o part1.mov shots").status, 0);
    EXPECT_EQ(readFile(dir / "part1.mov"), readFile(dir / "again1.mov"));
    EXPECT_FALSE(fs::exists(dir / "part1-1.mov"));
}

// The recipe for several machines, run here: GNU Parallel starts the parts
// (on one machine, as --sshlogin would on several) and append joins them.
TEST(Segments, PartsUnderGnuParallelJoinIntoTheWholeMovie)
{
    ASSERT_EQ(run("command -v parallel").status, 0) << "GNU Parallel (Debian's parallel) is missing: scripts/setup";
    TempDir dir;
    writeShots(dir);
    const std::string job = "make --codec tiff --size 50% --tween 1 --deflicker --skip-verify";
    ASSERT_EQ(moirevance(dir, job + " -o whole.mov shots").status, 0);
    const auto r = run("cd " + quote(dir.path()) + " && XDG_DATA_HOME=data XDG_CONFIG_HOME=config parallel -j 2 " +
                       quote(MOIREVANCE_BIN) + " " + job + " --segment {}/4 -o part{}.mov shots ::: 1 2 3 4 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(moirevance(dir, "append -o joined.mov part4.mov part2.mov part1.mov part3.mov").status, 0);
    EXPECT_EQ(decodeFrames(dir / "joined.mov", W / 2, H / 2), decodeFrames(dir / "whole.mov", W / 2, H / 2));
}
