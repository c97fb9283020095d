#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <thread>
#include <vips/vips8>

#include "TestSupport.h"
#include "platform/movie/MovieReader.h"
#include "platform/movie/MovieWriter.h"
#include "tools/AppendMovies.h"
#include "tools/Convert.h"

using namespace mv;
using namespace mvtest;
namespace fs = std::filesystem;

namespace {

// Dialog answers and the convert panel, recorded.
struct ToolPorts : RecordingPorts, ConvertPanelPort {
    std::optional<std::string> saveAnswer;
    std::vector<OpenRequest> opens;
    std::vector<SaveRequest> saves;
    std::function<void(const std::string&)> onImagesText;
    std::mutex m;
    std::vector<std::string> images, times, sizes;
    std::vector<double> progress; // the fractions shown, -1 when the bar went
    std::atomic<bool> shown{false};
    std::atomic<int> hides{0};

    std::optional<std::vector<std::string>> openFiles(const OpenRequest& r) override
    {
        opens.push_back(r);
        return FileDialogPort::openFiles(r);
    }
    std::optional<SaveChoice> saveFile(const SaveRequest& r) override
    {
        saves.push_back(r);
        return saveAnswer ? std::optional<SaveChoice>(SaveChoice{*saveAnswer}) : std::nullopt;
    }
    void setImagesText(const std::string& t) override
    {
        record(images, t);
        if (onImagesText)
            onImagesText(t);
    }
    void setTimeText(const std::string& t) override { record(times, t); }
    void setSizeText(const std::string& t) override { record(sizes, t); }
    void setProgress(const Progress& p) override
    {
        std::lock_guard lock(m);
        progress.push_back(p.fraction);
    }
    void setConvertProgress(const Progress& p) override { setProgress(p); }
    void show() override { shown = true; }
    void hide() override { shown = false; ++hides; }
    void record(std::vector<std::string>& to, const std::string& t)
    {
        std::lock_guard lock(m);
        to.push_back(t);
    }
};

// Frame i of a generated movie: the wave pattern moved i pixels.
Pattern movingWave(int i)
{
    return [i](int x, int y) { return wavePattern(x + 7 * i, y + 3 * i); };
}

// A movie written with the project's writer, durations in 1/`scale` s,
// frame i drawn with pattern(i).
void writeMovie(const std::string& path, const std::string& codec, int w, int h, const std::vector<long>& durations,
                int quality = 512, int scale = 600, const std::function<Pattern(int)>& pattern = movingWave)
{
    MovieWriter::Error error;
    auto writer = MovieWriter::create(path, {codec, quality, scale}, error);
    ASSERT_TRUE(writer) << error.description;
    for (std::size_t i = 0; i < durations.size(); ++i)
        ASSERT_TRUE(writer->addImage(bitmapOf(w, h, pattern(int(i))), {durations[i], scale}));
    std::string message;
    ASSERT_TRUE(writer->update(message)) << message;
}

std::vector<std::string> packetHashes(const std::string& movie)
{
    std::istringstream in(run("ffprobe -v error -select_streams v:0 -show_data_hash MD5 -show_entries "
                              "packet=data_hash -of csv=p=0 " + quote(movie)).out);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

double probeDuration(const std::string& movie)
{
    return std::stod(probeStream(movie).at("duration"));
}

template <class T>
std::vector<T> concat(std::vector<T> a, const std::vector<T>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Both tools, on one set of ports.
struct ToolFixture : ::testing::Test {
    TempDir dir;
    ToolPorts ports;
    AppendMovies tool{ports, ports, ports};
    std::unique_ptr<Convert> convert = std::make_unique<Convert>(ports, ports, ports);
    std::atomic<int> sounds{0}, beeps{0};

    ToolFixture()
    {
        tool.setCompletionSound([this] { ++sounds; });
        tool.setBeep([this] { ++beeps; });
        convert->setCompletionSound([this] { ++sounds; });
    }

    int append(const std::string& output, const std::vector<std::string>& movies)
    {
        ports.saveAnswer = output;
        ports.nextChoice = movies;
        return tool.appendMoviesCommand();
    }
    bool start(const std::string& movie, const std::string& base)
    {
        ports.nextChoice = std::vector<std::string>{movie};
        ports.saveAnswer = base;
        return convert->selectMovie();
    }
    // The frame files of a conversion that has to complete.
    std::vector<std::string> convertWhole(const std::string& movie, const std::string& base)
    {
        EXPECT_TRUE(start(movie, base));
        convert->waitForWorker();
        EXPECT_TRUE(convert->wasCompleted());
        return convert->writtenFiles();
    }
};
// Named after the tool that their tests are about.
using AppendFixture = ToolFixture;
using ConvertFixture = ToolFixture;

} // namespace

TEST_F(AppendFixture, ProjectMoviesOfOneFormatAreCopiedPacketForPacket)
{
    // Two movies made by the program with the same settings.
    const std::vector<std::string> movies{dir / "A.mov", dir / "B.mov"};
    for (int m = 0; m < 2; ++m) {
        writeImages(dir / ("m" + std::to_string(m)), 3 + m, 64, 48, "png", "img", [m](int i) -> Pattern {
            return [=](int x, int y) { return wavePattern(x + 9 * i, y + 40 * m); };
        });
        const std::string folder = " m" + std::to_string(m);
        ASSERT_EQ(moirevance(dir, "make --size 100% --codec h264 --fps 25 -o " + quote(movies[m]) + folder).status, 0)
            << readFile(dir / "stderr.txt");
    }

    // The dialog's answer in another order: the names decide.
    const std::string joined = dir / "Joined.mov";
    ASSERT_EQ(append(joined, {movies[1], movies[0]}), kAppendDone);
    EXPECT_EQ(tool.copiedMovies(), 2);
    EXPECT_EQ(tool.encodedMovies(), 0);
    const auto info = probeStream(joined);
    EXPECT_EQ(info.at("codec_name"), "h264");
    EXPECT_EQ(info.at("time_base"), "1/600");
    EXPECT_NEAR(probeDuration(joined), probeDuration(movies[0]) + probeDuration(movies[1]), 1e-9);
    EXPECT_EQ(packetHashes(joined), concat(packetHashes(movies[0]), packetHashes(movies[1])));
    EXPECT_EQ(packetDurations(joined), std::vector<long>(7, 24)); // the last frame included
    EXPECT_EQ(decodeFrames(joined, 64, 48).size(), 7u);

    EXPECT_EQ(sounds, 1);
    EXPECT_EQ(beeps, 0);
    EXPECT_TRUE(ports.alerts().empty());
    ASSERT_EQ(ports.opens.size(), 1u);
    EXPECT_FALSE(ports.opens[0].canChooseFolders);
    EXPECT_EQ(ports.saves.size(), 1u);
    EXPECT_EQ(ports.statusTexts(), (std::vector<std::string>{"Appending movies...", "Writing movie...", " "}));
    // The bar from 0 to the whole, never back, then gone.
    ASSERT_GE(ports.progress.size(), 4u);
    EXPECT_EQ(ports.progress.front(), 0.0);
    EXPECT_TRUE(std::is_sorted(ports.progress.begin(), ports.progress.end() - 1));
    EXPECT_EQ(ports.progress.end()[-2], 1.0);
    EXPECT_LT(ports.progress.back(), 0.0);
}

TEST_F(AppendFixture, OtherCodecsAreEncodedInTheFirstMoviesCodec)
{
    // A lossless first movie at 10 fps, then JPEG at 25 fps and 29.97 fps.
    writeMovie(dir / "1.mov", "tiff", 48, 32, {60, 60, 60});
    writeMovie(dir / "2.mov", "jpeg", 48, 32, {24, 24});
    writeMovie(dir / "3.mov", "jpeg", 48, 32, {1001, 1001}, 768, 30000, [](int i) { return movingWave(5 + i); });
    ASSERT_EQ(append(dir / "out.mov", {dir / "1.mov", dir / "2.mov", dir / "3.mov"}), kAppendDone);
    EXPECT_EQ(tool.copiedMovies(), 1);
    EXPECT_EQ(tool.encodedMovies(), 2);
    const auto info = probeStream(dir / "out.mov");
    EXPECT_EQ(info.at("codec_name"), "tiff");
    EXPECT_EQ(info.at("time_base"), "1/30000"); // every frame length is a whole number in it
    EXPECT_EQ(packetDurations(dir / "out.mov"), (std::vector<long>{3000, 3000, 3000, 1200, 1200, 1001, 1001}));

    const auto out = decodeFrames(dir / "out.mov", 48, 32);
    const auto first = decodeFrames(dir / "1.mov", 48, 32);
    const auto second = decodeFrames(dir / "2.mov", 48, 32);
    ASSERT_EQ(out.size(), 7u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(out[i], first[i]) << "frame " << i; // copied, untouched
    EXPECT_EQ(packetHashes(dir / "out.mov")[0], packetHashes(dir / "1.mov")[0]);
    for (int i = 0; i < 2; ++i)
        EXPECT_LT(meanAbsDiff(out[3 + i], second[i]), 3.0) << "frame " << 3 + i;

    // H.264 first: a copied H.264 stream and one encoded here would need two
    // codec headers, so either the parts agree or all is encoded once.
    writeMovie(dir / "0h.mov", "avc1", 48, 32, {24, 24, 24}, 768);
    ASSERT_EQ(append(dir / "h264.mov", {dir / "0h.mov", dir / "2.mov"}), kAppendDone);
    EXPECT_EQ(tool.encodedMovies(), tool.copiedMovies() == 1 ? 1 : 2);
    EXPECT_EQ(probeStream(dir / "h264.mov").at("codec_name"), "h264");
    EXPECT_EQ(packetDurations(dir / "h264.mov"), (std::vector<long>{24, 24, 24, 24, 24}));
    // ffmpeg 5.1's command line reads BT.709 as BT.601, so compare with the
    // reader, which honours the tag.
    auto reader = MovieReader::open(dir / "h264.mov");
    ASSERT_TRUE(reader && reader->scanFrames());
    ASSERT_EQ(reader->frames().size(), 5u);
    RgbaBitmap last;
    ASSERT_TRUE(reader->frameImageAtTime(reader->frames()[4].start, last));
    EXPECT_LT(meanAbsDiff(rgbOf(last), second[1]), 3.0) << "copied " << tool.copiedMovies();
    EXPECT_EQ(run("ffmpeg -v error -xerror -i " + quote(dir / "h264.mov") + " -f null - 2>&1").out, "");

    // Movies alike but for their colour matrix (which MPEG-4's codec header
    // does not hold) cannot share one track's colour description as they are.
    for (const std::string matrix : {"bt709", "smpte170m"})
        ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=48x32:rate=25 -frames:v 2 -c:v mpeg4 -q:v 2 -pix_fmt yuv420p "
                           "-color_range tv -color_primaries bt709 -color_trc bt709 -colorspace " + matrix,
                           dir / (matrix + ".mov")));
    ASSERT_EQ(append(dir / "matrices.mov", {dir / "bt709.mov", dir / "smpte170m.mov"}), kAppendDone);
    EXPECT_GE(tool.encodedMovies(), 1);
}

TEST_F(AppendFixture, FailuresLeaveNoFile)
{
    const std::string big = dir / "big.mov", small = dir / "small.mov";
    ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=red:size=1920x1080 -frames:v 1 -c:v mjpeg", big));
    ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=red:size=1280x720 -frames:v 1 -c:v mjpeg", small));
    std::ofstream(dir / "text.mov") << "not a movie";
    fs::copy_file(dir / "text.mov", dir / "0-text.mov"); // sorts before the others

    // An AV1 movie made elsewhere at a size SVT-AV1 does not encode.
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=32x32 -frames:v 1 -c:v libaom-av1 -cpu-used 8", dir / "aom.mp4"));
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=32x32 -frames:v 1 -c:v mjpeg", dir / "jpeg32.mov"));

    struct Case {
        std::vector<std::string> movies;
        std::string output;
        int code;
        std::string message;
    };
    for (const Case& c :
         {Case{{big, small}, "out.mov", kAppendSizeMismatch, "Movie frame sizes do not match"},
          Case{{big, dir / "0-text.mov"}, "out.mov", kAppendFirstUnreadable, "Can not read first movie"},
          Case{{big, dir / "text.mov"}, "out.mov", kAppendOtherUnreadable, "Can not read a secondary movie"},
          // The rules of a new movie, before anything is written: for the
          // name alone, then for the first movie's codec.
          Case{{small}, "out.jpg", kAppendWrongContainer, "A movie's name ends in .mov or .mp4."},
          Case{{small}, "out.mp4", kAppendWrongContainer, "An .mp4 movie holds H.264, HEVC or AV1 only, not JPEG."},
          Case{{dir / "aom.mp4", dir / "jpeg32.mov"}, "out.mp4", kAppendFrameSizeRefused,
               "The frame size 32X32 is too small for the chosen codec, which takes at least 64 pixels a side."}}) {
        SCOPED_TRACE(c.output + " " + c.message);
        const std::size_t before = ports.alerts().size();
        EXPECT_EQ(append(dir / c.output, c.movies), c.code);
        ASSERT_EQ(ports.alerts().size(), before + 1);
        EXPECT_THAT(ports.lastAlert(), HasSubstr("Append movies has failed. / " + c.message));
        EXPECT_EQ(ports.statusTexts().back(), " ");
        EXPECT_FALSE(fs::exists(dir / c.output));
    }
    EXPECT_EQ(sounds, 0);

    // Cancelling either dialog ends quietly.
    const std::size_t alerts = ports.alerts().size();
    ports.saveAnswer.reset();
    ports.nextChoice = {big};
    EXPECT_EQ(tool.appendMoviesCommand(), kAppendDone);
    ports.saveAnswer = dir / "out.mov";
    ports.nextChoice.reset();
    EXPECT_EQ(tool.appendMoviesCommand(), kAppendDone);
    EXPECT_EQ(ports.alerts().size(), alerts);
    EXPECT_FALSE(fs::exists(dir / "out.mov"));

    // An output folder that cannot be written: code 6, nothing left.
    EXPECT_EQ(append(dir / "missing/out.mov", {small}), kAppendWriteFailed);
    EXPECT_EQ(ports.alerts().back().message, "Can not write the appended movie");
}

TEST_F(AppendFixture, ExistingNamesAreNumberedAndSlowMoviesBeep)
{
    // 0.5 frames per second: a beep, and the append goes on.
    writeMovie(dir / "slow.mov", "jpeg", 32, 32, {1200, 600});
    std::ofstream(dir / "Clip.mov") << "keep";
    ASSERT_EQ(append(dir / "Clip.mov", {dir / "slow.mov"}), kAppendDone);
    EXPECT_EQ(tool.outputPath(), dir / "Clip-1.mov");
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(readFile(dir / "Clip.mov"), "keep");
    EXPECT_EQ(packetDurations(dir / "Clip-1.mov"), (std::vector<long>{1200, 600})); // a flattened copy
    ASSERT_EQ(append(dir / "Clip.mov", {dir / "slow.mov"}), kAppendDone);
    EXPECT_EQ(tool.outputPath(), dir / "Clip-2.mov");
}

TEST_F(ConvertFixture, TiffMovieBecomesNumberedFramesWithEqualPixels)
{
    writeMovie(dir / "m.mov", "tiff", 40, 30, std::vector<long>(40, 15));
    fs::create_directory(dir / "out");
    const auto written = convertWhole(dir / "m.mov", dir / "out/Frames");
    const auto frames = decodeFrames(dir / "m.mov", 40, 30);
    ASSERT_EQ(frames.size(), 40u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 40);
    for (unsigned i = 0; i < 40; ++i)
        ASSERT_EQ(readPixels(dir / ("out/Frames-" + std::to_string(i + 1) + ".tiff")), frames[i]) << "frame " << i;
    ASSERT_EQ(written.size(), 40u);
    EXPECT_EQ(written.front(), dir / "out/Frames-1.tiff");

    // Folder size from files 12 to 16, time left at indexes 20 and 30.
    std::uint64_t five = 0;
    for (int n = 12; n <= 16; ++n)
        five += fs::file_size(dir / ("out/Frames-" + std::to_string(n) + ".tiff"));
    EXPECT_EQ(ports.sizes, (std::vector<std::string>{"Folder Size:", folderSizeText(40, five)}));
    ASSERT_EQ(ports.times.size(), 3u);
    EXPECT_EQ(ports.times[1].rfind("Time Left: ", 0), 0u);
    EXPECT_EQ(ports.images.front(), "Images: Scanning movie...");
    EXPECT_EQ(ports.images.back(), "Images: 40 of 40");
    EXPECT_EQ(ports.progress.size(), 41u); // 0, then a step a frame
    EXPECT_TRUE(std::is_sorted(ports.progress.begin(), ports.progress.end()));
    EXPECT_EQ(ports.progress.back(), 1.0);
    EXPECT_EQ(sounds, 1);
    EXPECT_FALSE(ports.shown);
    EXPECT_FALSE(convert->isPanelVisible());
    ASSERT_EQ(ports.opens.size(), 1u);
    EXPECT_EQ(ports.opens[0].extensions, (std::vector<std::string>{"mov", "mp4", "m4v", "avi"}));
    EXPECT_FALSE(ports.opens[0].multipleFiles);
}

TEST_F(ConvertFixture, VariableFramesOfH264AreFoundAtTheirStartTimes)
{
    // Distinct solid frames, the fourth held three times as long.
    const std::vector<long> durations = {20, 20, 20, 60, 20, 20, 20, 20, 20, 20, 20, 20};
    const Rgb colours[] = {{250, 20, 20}, {20, 250, 20}, {20, 20, 250}, {250, 250, 20}, {20, 250, 250},
                           {250, 20, 250}, {128, 128, 128}, {250, 250, 250}, {10, 10, 10}, {200, 100, 0},
                           {0, 100, 200}, {100, 0, 200}};
    writeMovie(dir / "0h.mov", "avc1", 32, 32, durations, 1023, 600, [&](int i) {
        return [c = colours[i]](int, int) { return c; };
    });
    ASSERT_TRUE(start(dir / "0h.mov", dir / "F"));
    convert->waitForWorker();
    ASSERT_EQ(convert->numFrames(), durations.size());
    for (std::size_t i = 0; i < durations.size(); ++i) {
        const auto px = readPixels(dir / ("F-" + std::to_string(i + 1) + ".tiff"));
        ASSERT_EQ(px.size(), 32u * 32 * 3);
        EXPECT_NEAR(px[16 * 96 + 48], colours[i].r, 4) << "frame " << i;
        EXPECT_NEAR(px[16 * 96 + 49], colours[i].g, 4) << "frame " << i;
        EXPECT_NEAR(px[16 * 96 + 50], colours[i].b, 4) << "frame " << i;
    }
    // 12 frames: no folder size (index 16) and no time left (from 20).
    EXPECT_EQ(ports.sizes, std::vector<std::string>{"Folder Size:"});
    EXPECT_EQ(ports.times, std::vector<std::string>{"Time Left:"});

    // An .mp4 with B-frames (decoding order differs from display order),
    // untagged BT.601: the frames are ffmpeg's own decode, byte for byte.
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=96x64:rate=25 -frames:v 24 -c:v libx264 -bf 3 -pix_fmt yuv420p",
                       dir / "b.mp4"));
    ASSERT_TRUE(start(dir / "b.mp4", dir / "B"));
    convert->waitForWorker();
    const auto decoded = decodeFrames(dir / "b.mp4", 96, 64);
    ASSERT_EQ(convert->numFrames(), 24u);
    ASSERT_EQ(decoded.size(), 24u);
    for (unsigned i = 0; i < 24; ++i)
        EXPECT_EQ(readPixels(dir / ("B-" + std::to_string(i + 1) + ".tiff")), decoded[i]) << "frame " << i;
}

TEST_F(ConvertFixture, StoppingKeepsExactlyTheFilesWritten)
{
    writeMovie(dir / "m.mov", "jpeg", 16, 16, std::vector<long>(40, 20));
    // The stop comes while frame 5's picture is being saved.
    ports.onImagesText = [this](const std::string& t) {
        if (t == "Images: 5 of 40")
            convert->stopConversion();
    };
    ASSERT_TRUE(start(dir / "m.mov", dir / "S"));
    convert->waitForWorker();
    EXPECT_FALSE(convert->wasCompleted());
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path().extension() == ".tiff")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"S-1.tiff", "S-2.tiff", "S-3.tiff", "S-4.tiff", "S-5.tiff"}));
    EXPECT_EQ(convert->writtenFiles().size(), 5u);
    EXPECT_EQ(sounds, 0);
    EXPECT_EQ(ports.hides, 1);
}

TEST_F(ConvertFixture, RefusalsAndUnwritableFoldersLeaveEveryFileAsItWas)
{
    std::ofstream(dir / "notes.mov") << "no movie here";
    EXPECT_FALSE(start(dir / "notes.mov", dir / "F"));
    ASSERT_EQ(ports.alerts().size(), 1u);
    EXPECT_EQ(ports.lastAlert(), "Convert Movie error / A movie could not be created from that file.");
    EXPECT_FALSE(ports.shown);

    ports.saveAnswer.reset(); // cancelled save dialog
    ports.nextChoice = std::vector<std::string>{dir / "notes.mov"};
    EXPECT_FALSE(convert->selectMovie());
    EXPECT_EQ(ports.alerts().size(), 1u);

    // A frame file that is there already, and a movie named like its own
    // first frame: nothing is written.
    writeMovie(dir / "m.mov", "jpeg", 16, 16, {20, 20, 20});
    std::ofstream(dir / "F-3.tiff") << "keep";
    EXPECT_FALSE(start(dir / "m.mov", dir / "F"));
    EXPECT_EQ(ports.alerts().back().message, "The folder already holds F-3.tiff. Choose another name for the frames.");
    EXPECT_EQ(readFile(dir / "F-3.tiff"), "keep");
    EXPECT_FALSE(fs::exists(dir / "F-1.tiff"));
    EXPECT_FALSE(convert->isPanelVisible());
    fs::copy_file(dir / "m.mov", dir / "clip-1.tiff");
    const std::string movie = readFile(dir / "clip-1.tiff");
    EXPECT_FALSE(start(dir / "clip-1.tiff", dir / "clip"));
    EXPECT_EQ(readFile(dir / "clip-1.tiff"), movie);
    EXPECT_FALSE(fs::exists(dir / "clip-2.tiff"));

    // A folder that is gone: the alert, the conversion ends, no sound.
    const std::size_t alerts = ports.alerts().size();
    ASSERT_TRUE(start(dir / "m.mov", dir / "gone/F"));
    convert->waitForWorker();
    EXPECT_FALSE(convert->wasCompleted());
    ASSERT_EQ(ports.alerts().size(), alerts + 1);
    EXPECT_EQ(ports.alerts().back().message, "Can not write the frame file F-1.tiff");
    EXPECT_EQ(sounds, 0);
    EXPECT_FALSE(convert->isPanelVisible());
}

// A fast-start movie copied in part: its index lists 30 frames, the file
// holds some. Neither tool may pass it off as whole.
TEST_F(ConvertFixture, ACutOffMovieIsReportedAndCountedHonestly)
{
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=160x120:rate=30 -frames:v 30 -c:v mjpeg -movflags faststart",
                       dir / "full.mov"));
    const std::string whole = readFile(dir / "full.mov");
    std::ofstream(dir / "cut.mov", std::ios::binary) << whole.substr(0, whole.size() / 2);

    ASSERT_TRUE(start(dir / "cut.mov", dir / "F"));
    convert->waitForWorker();
    EXPECT_FALSE(convert->wasCompleted());
    EXPECT_EQ(convert->numFrames(), 30u);
    const std::size_t saved = convert->writtenFiles().size();
    EXPECT_GT(saved, 5u);
    EXPECT_LT(saved, 20u);
    ASSERT_EQ(ports.alerts().size(), 1u);
    EXPECT_EQ(ports.alerts()[0].message,
              std::to_string(30 - saved) + " of 30 frames could not be read: the movie is damaged.");
    EXPECT_EQ(ports.images.back(), "Images: " + std::to_string(saved) + " of 30");
    EXPECT_EQ(sounds, 0);

    EXPECT_EQ(append(dir / "joined.mov", {dir / "cut.mov"}), kAppendFirstUnreadable);
    fs::copy_file(dir / "cut.mov", dir / "zcut.mov");
    EXPECT_EQ(append(dir / "joined.mov", {dir / "full.mov", dir / "zcut.mov"}), kAppendFailed);
    EXPECT_FALSE(fs::exists(dir / "joined.mov"));
}

TEST(ConvertTexts, FolderSizeAndTimeLeft)
{
    // 100 frames, files 12 to 16 of 2,000,000 bytes each.
    EXPECT_EQ(folderSizeText(100, 5 * 2000000ull), "Folder Size: 200.0M");
    EXPECT_EQ(folderSizeText(3000, 5 * 6220938ull), "Folder Size: 18662.8M");
    // Index 20 after 10 s of 100 frames: 1 + 0.5 * 80.
    EXPECT_EQ(convertTimeLeftText(10.0, 20, 100), "Time Left: 41s");
    EXPECT_EQ(convertTimeLeftText(100.0, 20, 1000), "Time Left: 1h 21m 41s");
    EXPECT_EQ(frameFilePath("/x/Frames", 12), "/x/Frames-12.tiff");
}

TEST(ToolCommands, AppendAndFramesFromTheCommandLine)
{
    TempDir dir;
    writeMovie(dir / "b.mov", "tiff", 24, 16, {20, 20});
    writeMovie(dir / "a.mov", "tiff", 24, 16, {30});

    auto r = moirevance(dir, "append -o " + quote(dir / "ab.mov") + " " + quote(dir / "b.mov") + " " +
                                 quote(dir / "a.mov"));
    ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
    EXPECT_EQ(r.out, dir / "ab.mov\n");
    EXPECT_EQ(packetDurations(dir / "ab.mov"), (std::vector<long>{30, 20, 20})); // a.mov first
    EXPECT_EQ(moirevance(dir, "append " + quote(dir / "a.mov")).status, 2);
    EXPECT_EQ(moirevance(dir, "append -o x.mov " + quote(dir / "missing.mov")).status, 2);

    r = moirevance(dir, "frames " + quote(dir / "ab.mov") + " " + quote(dir / "Pic"));
    ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
    EXPECT_EQ(r.out, dir / "Pic-1.tiff\n" + dir / "Pic-2.tiff\n" + dir / "Pic-3.tiff\n");
    EXPECT_EQ(moirevance(dir, "frames " + quote(dir / "ab.mov")).status, 2);
    EXPECT_EQ(moirevance(dir, "frames " + quote(dir / "ab.mov") + " " + quote(dir / "nowhere/Pic")).status, 2);
    std::ofstream(dir / "bad.mov") << "x";
    EXPECT_EQ(moirevance(dir, "frames " + quote(dir / "bad.mov") + " " + quote(dir / "Q")).status, 1);
    EXPECT_THAT(readFile(dir / "stderr.txt"),
                HasSubstr("Convert Movie error: A movie could not be created from that file."));
}

TEST(ToolCommands, InterruptStopsFramesAndKeepsWhatWasWritten)
{
    TempDir dir;
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=160x120:rate=25 -frames:v 300 -c:v libx264", dir / "long.mov"));
    Program frames(dir, {"frames", "long.mov", "L"});
    while (!fs::exists(dir / "L-3.tiff") && !frames.exited())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    frames.signal(SIGINT);
    EXPECT_EQ(frames.wait(), 1);
    unsigned n = 0;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        n += entry.path().extension() == ".tiff";
    EXPECT_GE(n, 3u);
    EXPECT_LT(n, 300u);
    const std::string listed = readFile(dir / "stdout.txt");
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), long(n));
    for (unsigned k = 1; k <= n; ++k) // numbered without gaps, each one whole
        EXPECT_EQ(readPixels(dir / ("L-" + std::to_string(k) + ".tiff")).size(), 160u * 120 * 3);
    EXPECT_THAT(frames.errorText(), HasSubstr("Stopped: " + std::to_string(n) + " of 300 frames saved"));
}

// Widths that leave 8 over 16 (4:2:0 H.264) made the scalers write past a
// buffer of exactly 4 * width * height bytes; an odd width is encoded one
// column wider and must still append to a movie of the same pictures.
TEST_F(AppendFixture, AwkwardWidthsConvertAndAppend)
{
    auto scratchFolders = [] {
        std::set<std::string> found;
        for (const auto& e : fs::directory_iterator(fs::temp_directory_path()))
            if (e.path().filename().string().rfind("moirevance-append-", 0) == 0)
                found.insert(e.path());
        return found;
    };
    const auto scratchBefore = scratchFolders();
    writeMovie(dir / "a25.mov", "avc1", 200, 150, {24, 24, 24});
    writeMovie(dir / "b10.mov", "avc1", 200, 150, {60, 60});
    writeMovie(dir / "c.mov", "jpeg", 200, 150, {24, 24});
    ASSERT_EQ(append(dir / "rates.mov", {dir / "a25.mov", dir / "b10.mov", dir / "c.mov"}), kAppendDone);
    EXPECT_EQ(packetDurations(dir / "rates.mov"), (std::vector<long>{24, 24, 24, 60, 60, 24, 24}));
    EXPECT_EQ(decodeFrames(dir / "rates.mov", 200, 150).size(), 7u);

    writeMovie(dir / "o1.mov", "jpeg", 201, 150, {24, 24});
    writeMovie(dir / "o2.mov", "avc1", 201, 150, {24, 24});
    EXPECT_EQ(probeStream(dir / "o2.mov").at("sample_aspect_ratio"), "201:202");
    ASSERT_EQ(append(dir / "odd.mov", {dir / "o1.mov", dir / "o2.mov"}), kAppendDone);
    EXPECT_EQ(probeStream(dir / "odd.mov").at("width"), "201");
    EXPECT_EQ(decodeFrames(dir / "odd.mov", 201, 150).size(), 4u);
    fs::copy_file(dir / "o2.mov", dir / "o0.mov"); // H.264 first
    ASSERT_EQ(append(dir / "odd2.mov", {dir / "o0.mov", dir / "o1.mov"}), kAppendDone);
    EXPECT_EQ(probeStream(dir / "odd2.mov").at("sample_aspect_ratio"), "201:202");

    // The frames of the padded movie come out at the picture's width.
    const auto frames = convertWhole(dir / "o2.mov", dir / "F");
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(vips::VImage::new_from_file(frames[0].c_str()).width(), 201);
    EXPECT_EQ(convertWhole(dir / "rates.mov", dir / "W").size(), 7u);
    EXPECT_EQ(scratchFolders(), scratchBefore);
    // 9 movies and 9 frames, nothing else.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 18);
}
