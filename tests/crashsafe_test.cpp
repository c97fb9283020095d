// How `moirevance make` ends when it is killed, signalled or loses its
// standard error: a complete movie or none at the movie's name, and a partial
// file that plays up to about the last second.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "TestSupport.h"
#include "platform/system/AtomicFile.h"
#include "platform/movie/MovieWriter.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace mvtest;
namespace fs = std::filesystem;

namespace {

long readFrames(const std::string& movie)
{
    const auto r = run("ffprobe -v quiet -select_streams v:0 -count_frames -show_entries stream=nb_read_frames "
                       "-of csv=p=0 " +
                       quote(movie));
    return r.out.empty() ? -1 : std::stol(r.out);
}

// ffprobe reads the whole movie without a complaint; its frame count.
long completeMovieFrames(const std::string& movie)
{
    if (run("ffmpeg -v error -xerror -i " + quote(movie) + " -f null - 2>&1").out != "")
        return -1;
    return readFrames(movie);
}

struct CrashFixture : ::testing::Test {
    TempDir dir;
    static constexpr int kDup = 24;
    std::vector<std::string> args{"make", "-o", "Garden.mov", "--size", "VGA", "--codec", "jpeg", "--fps", "10",
                                  "--dup", std::to_string(kDup), "images"};

    CrashFixture()
    {
        writeImages(dir / "images", 60, 64, 48, "png", "g",
                    [](int i) { return [i](int x, int y) { return wavePattern(x * 5 + i * 9, y * 5); }; });
    }

    std::vector<std::string> partials() const
    {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().extension() == ".partial")
                found.push_back(e.path().filename());
        std::sort(found.begin(), found.end());
        return found;
    }
};

} // namespace

TEST_F(CrashFixture, KilledAtAnyMomentLeavesACompleteMovieOrNoneAndAPlayablePartialFile)
{
    int boundsChecked = 0;
    // Before the first frame, then 1.05 s and 1.4 s after the first progress
    // line (the lines come at most once a second). The run lasts about 3 s
    // on an idle machine: a shorter one could end before either kill.
    for (const double delay : {-1.0, 1.05, 1.4}) {
        SCOPED_TRACE(delay);
        for (const std::string& p : partials())
            fs::remove(dir / p);
        fs::remove(dir / "Garden.mov");
        Program make(dir, args);
        double killAt = delay < 0 ? 0.2 : 1e9;
        // How long the partial file went without growing while frames came.
        double lastGrowth = -1, longestWait = 0;
        std::uintmax_t lastSize = 0;
        while (make.seconds() < killAt && !make.exited()) {
            if (delay > 0 && killAt > 1e8 && make.imagesDoneBy(1e9) > 0)
                killAt = make.seconds() + delay;
            std::error_code ec;
            if (const auto size = fs::file_size(dir / "Garden.mov.partial", ec); !ec && size != lastSize) {
                if (lastGrowth >= 0)
                    longestWait = std::max(longestWait, make.seconds() - lastGrowth);
                lastGrowth = make.seconds();
                lastSize = size;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (lastGrowth >= 0)
            longestWait = std::max(longestWait, make.seconds() - lastGrowth);
        make.signal(SIGKILL);
        make.wait();
        const unsigned imagesBefore = make.imagesDoneBy(killAt - 1.0);

        const bool ended = fs::exists(dir / "Garden.mov"); // before the kill
        if (ended) {
            EXPECT_EQ(completeMovieFrames(dir / "Garden.mov"), 60 * kDup);
        }
        // No partial file but the movie's own.
        const bool partial = fs::exists(dir / "Garden.mov.partial");
        ASSERT_EQ(partials().size(), partial ? 1u : 0u);
        const long frames = partial ? readFrames(dir / "Garden.mov.partial") : ended ? 60 * kDup : 0;
        EXPECT_GE(frames, long(imagesBefore) * kDup) << "images done a second before the kill: " << imagesBefore;
        boundsChecked += imagesBefore > 0 && !ended;
        if (lastGrowth >= 0 && !ended) {
            EXPECT_LT(longestWait, 1.2); // fragments every half second, with room for a loaded machine
        }
        std::printf("[ killed at %.2f s ] %u images reported a second before; %s %ld frames; the partial file "
                    "grew at least every %.2f s\n", killAt, imagesBefore,
                    ended ? "ended before, the movie has" : "the partial file plays", frames, longestWait);
    }
    EXPECT_GE(boundsChecked, 1); // the run was long enough to test the bound

    // The next run is not pushed aside by the killed one, and keeps its
    // partial file.
    const auto before = partials();
    const auto partialSize = before.empty() ? 0 : fs::file_size(dir / before[0]);
    fs::remove(dir / "Garden.mov");
    Program again(dir, args);
    EXPECT_EQ(again.wait(), 0);
    EXPECT_EQ(completeMovieFrames(dir / "Garden.mov"), 60 * kDup);
    EXPECT_FALSE(fs::exists(dir / "Garden-1.mov"));
    EXPECT_EQ(partials(), before);
    if (!before.empty()) {
        EXPECT_EQ(fs::file_size(dir / before[0]), partialSize);
    }
}

TEST_F(CrashFixture, SignalsAndAClosedStandardErrorStopWithACompleteMovie)
{
    for (const int sig : {SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(sig);
        const std::string name = "Sig" + std::to_string(sig) + ".mov";
        args[2] = name;
        Program make(dir, args);
        while (make.imagesDoneBy(1e9) < 3 && !make.exited())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        make.signal(sig);
        EXPECT_EQ(make.wait(), 0);
        const long frames = completeMovieFrames(dir / name);
        EXPECT_GE(frames, 3 * kDup);
        EXPECT_LE(frames, 60 * kDup);
        EXPECT_TRUE(partials().empty());
    }

    // The reader of the progress goes away after one line: the movie is
    // still made whole, and the status says so.
    const auto r = run("cd " + quote(dir.path()) + " && XDG_DATA_HOME=data XDG_CONFIG_HOME=config bash -c " +
                       quote(quote(MOIREVANCE_BIN) +
                             " make -o Piped.mov --size VGA --codec jpeg --dup 2 images 2>&1 | head -1 >/dev/null; "
                             "echo ${PIPESTATUS[0]}"));
    EXPECT_EQ(r.out, "0\n");
    EXPECT_EQ(completeMovieFrames(dir / "Piped.mov"), 120);
}

// A writer that dies in the middle of a fragment (here when the file may
// not grow, as on a full disk) leaves a partial file that plays its whole
// fragments and has no cut frame at its end, for every codec.
TEST(PartialFile, AFragmentCutShortIsNotPlayed)
{
    for (const char* codec : {"tiff", "apch"}) {
        SCOPED_TRACE(codec);
        TempDir dir;
        const std::string movie = dir / "Cut.mov", partial = movie + ".partial";
        const auto picture = bitmapOf(320, 240, [](int x, int y) { return wavePattern(x * 7, y * 3); });
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            mv::MovieWriter::Error error;
            auto writer = mv::MovieWriter::create(movie, mv::MovieAttributes{codec, 1024, 600}, error);
            // Frames until the first fragment is in the partial file (the
            // encoder may hold a few); the next fragment is cut by the file
            // size limit, in the middle of its first frame.
            for (int i = 0; !fs::exists(partial); ++i) {
                if (i == 200 || !writer || !writer->addImage(picture, {60, 600}))
                    _exit(3);
                for (int waited = 0; waited < 1000 && !fs::exists(partial); waited += 10)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            std::ofstream(dir / "frames") << readFrames(partial);
            const rlimit limit{fs::file_size(partial) + 1000, RLIM_INFINITY};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(4);
            for (int i = 0; i < 40; ++i)
                writer->addImage(picture, {60, 600});
            std::string message;
            writer->update(message);
            _exit(5); // the limit should have stopped it
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
        EXPECT_FALSE(fs::exists(movie));
        const long frames = std::stol(readFile(dir / "frames"));
        EXPECT_GE(frames, 1);
        EXPECT_EQ(completeMovieFrames(partial), frames);
    }
}

// `make --kml`: the list's KML file in the data folder and the movie's copy
// beside it, under a new name where a file is there already; the messages
// name both and the Verify List (c.jpg has no longitude).
TEST(SideFiles, AFileBesideTheMovieIsNeverReplaced)
{
    TempDir dir;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        writeImage(dir / name, 64, 48);
        exif(dir / name, "-DateTimeOriginal='2012:03:30 22:00:00' -GPSLatitude=45 -GPSLatitudeRef=N" +
                             std::string(name[0] == 'c' ? "" : " -GPSLongitude=63 -GPSLongitudeRef=W"));
    }
    std::ofstream(dir / "Garden.kml") << "my own notes";
    const auto r = moirevance(dir, "make --kml --codec jpeg -o Garden.mov a.jpg b.jpg c.jpg");
    const std::string err = readFile(dir / "stderr.txt"), data = dir / "data/Moirevance/";
    ASSERT_EQ(r.status, 0) << err;
    EXPECT_EQ(completeMovieFrames(dir / "Garden.mov"), 3);
    EXPECT_EQ(readFile(dir / "Garden.kml"), "my own notes");
    EXPECT_THAT(readFile(dir / "Garden-1.kml"), HasSubstr("<name>Garden</name>"));
    EXPECT_THAT(readFile(dir / "Garden-1.kml"), HasSubstr("-63.0000000000,45.0000000000"));
    EXPECT_THAT(err, HasSubstr("KML file: " + data + "Moirevance GPS.kml\n"));
    EXPECT_THAT(err, HasSubstr("KML file: " + dir / "Garden-1.kml\n"));
    EXPECT_THAT(err, HasSubstr("Verify List: " + data + "Moirevance Verify List.txt\n"));
}

TEST(AtomicFile, AppearsWholeAtItsNameAndNeverReplacesUnasked)
{
    TempDir dir;
    const auto entries = [&] { return std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()); };
    {
        mv::AtomicFile f;
        ASSERT_TRUE(f.open(dir / "a.txt"));
        ASSERT_TRUE(f.write("half"));
        EXPECT_EQ(entries(), 0); // nothing to see while it is written
        EXPECT_TRUE(f.publish(dir / "a.txt.partial"));
        ASSERT_TRUE(f.write(" and whole"));
        EXPECT_EQ(readFile(dir / "a.txt.partial"), "half and whole");
        ASSERT_TRUE(f.commit());
    }
    EXPECT_EQ(readFile(dir / "a.txt"), "half and whole");
    EXPECT_EQ(entries(), 1); // the published name went with the commit

    EXPECT_FALSE(mv::writeFileAtomically(dir / "a.txt", "other", false));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(readFile(dir / "a.txt"), "half and whole");
    EXPECT_TRUE(mv::writeFileAtomically(dir / "a.txt", "replaced", true));
    EXPECT_EQ(readFile(dir / "a.txt"), "replaced");
    {
        mv::AtomicFile dropped;
        ASSERT_TRUE(dropped.open(dir / "b.txt"));
        ASSERT_TRUE(dropped.write("never seen"));
        EXPECT_TRUE(dropped.publish(dir / "a.txt")); // taken: numbered
        EXPECT_EQ(dropped.publishedName(), dir / "a-1.txt");
    }
    EXPECT_EQ(entries(), 1);
    EXPECT_EQ(mv::numberedFreePath(dir / "a.txt"), dir / "a-1.txt");
    EXPECT_FALSE(mv::AtomicFile().open(dir / "missing/c.txt"));
}

// Needs a small file system of its own (tmpfs, as root); skipped elsewhere.
TEST(FullDisk, EndsLikeAFailureAndLeavesNoFile)
{
    TempDir dir;
    fs::create_directory(dir / "small");
    writeImages(dir / "images", 20, 64, 48);
    if (run("mount -t tmpfs -o size=300k tmpfs " + quote(dir / "small") + " 2>/dev/null").status != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    const auto r = moirevance(dir, "make --size VGA --codec tiff -o small/Full.mov images");
    const bool empty = fs::is_empty(dir / "small");
    run("umount " + quote(dir / "small"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(empty);
    EXPECT_THAT(readFile(dir / "stderr.txt"), HasSubstr("Create movie error"));
}

// Ctrl-C while `append` copies: a complete movie of both, or no file.
TEST(AppendInterrupt, LeavesACompleteMovieOrNone)
{
    TempDir dir;
    writeImage(dir / "a.png", 160, 120);
    writeImage(dir / "b.png", 160, 120, [](int x, int y) { return Rgb{std::uint8_t(x), std::uint8_t(y), 90}; });
    for (const std::string name : {"one.mov", "two.mov"})
        ASSERT_EQ(moirevance(dir, "make --codec tiff --size 100% --dup 300 -o " + name + " a.png b.png").status, 0);
    const auto entries = [&] { return std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}); };
    const auto before = entries();
    for (const char* delay : {"0.005", "0.03", "0.1", "0.4"}) {
        SCOPED_TRACE(delay);
        const std::string interrupt = "timeout -s INT " + std::string(delay) + " ";
        const auto r = moirevance(dir, "append -o joined.mov one.mov two.mov", interrupt);
        if (fs::exists(dir / "joined.mov")) {
            EXPECT_EQ(completeMovieFrames(dir / "joined.mov"), 1200) << readFile(dir / "stderr.txt");
            fs::remove(dir / "joined.mov");
        } else {
            EXPECT_NE(r.status, 0) << readFile(dir / "stderr.txt");
        }
        EXPECT_EQ(entries(), before) << "nothing else is left behind";
    }
}
