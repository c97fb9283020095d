#pragma once
// Fixtures and fakes shared by the tests: temporary folders, generated
// pictures, external tools (ffprobe, ffmpeg, exiftool) and recording ports.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "platform/picture/Picture.h"
#include "platform/ports/UiPorts.h"

namespace mvtest {

using ::testing::HasSubstr;

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct Rgb {
    std::uint8_t r, g, b;
};
using Pattern = std::function<Rgb(int x, int y)>;

// A smooth pattern with structure in both directions, so that a shifted or
// mis-scaled frame shows clearly while resampling and lossy codecs stay
// close.
Rgb wavePattern(int x, int y);

// Writes a picture; the format follows the extension (.jpg, .png, .tif ...).
void writeImage(const std::string& path, int w, int h, const Pattern& pattern = wavePattern);

// An opaque w x h bitmap drawn with the pattern, and a bitmap's pixels as
// 8-bit RGB.
mv::RgbaBitmap bitmapOf(int w, int h, const Pattern& pattern);
std::vector<std::uint8_t> rgbOf(const mv::RgbaBitmap& bitmap);

// The picture's pixels as stored (8-bit RGB for the tests' own pictures).
std::vector<std::uint8_t> readPixels(const std::string& path);

// Expected frame: the picture scaled with Lanczos to sw x sh, then the
// w x h region at (left, top) (y down) taken, as 8-bit RGB.
std::vector<std::uint8_t> referenceFrame(const std::string& source, int sw, int sh, int left, int top, int w,
                                         int h);

struct CommandResult {
    int status = -1;
    std::string out;
};
// Runs a shell command; stderr is kept apart unless the command redirects it.
CommandResult run(const std::string& command);
std::string quote(const std::string& s);
// The tests run in a sanitizer build (scripts/sanitize).
bool underSanitizer();
// Why valgrind cannot check the program here ("" when it can): not
// installed, a sanitized build, or an instruction of this processor's
// libraries that valgrind does not emulate.
std::string valgrindLeftOutBecause();

// `moirevance ARGS` run in `dir`, its data and preferences folders there too
// and its standard error in dir/stderr.txt; `wrapper` stands before the
// program (variables, timeout, valgrind ...).
CommandResult moirevance(const TempDir& dir, const std::string& args, const std::string& wrapper = "");
// A wrapper for moirevance(): virtual memory capped at 8 GB (so that a
// runaway decode fails instead of taking the machine; not under the
// sanitizers, which reserve terabytes of address space), the peak resident
// size written to dir/peak.txt for peakKb().
std::string measured(const TempDir& dir);
long peakKb(const TempDir& dir);

// n pictures folder/NAME-i.EXT (i from 0) of w x h, the i-th drawn with
// pattern(i) (the wave pattern by default); the folder is made.
std::vector<std::string> writeImages(const std::string& folder, int n, int w, int h, const std::string& ext = "png",
                                     const std::string& name = "img",
                                     const std::function<Pattern(int)>& pattern = nullptr);
// `moirevance ARGS` running in `dir`, with its data and preferences there too
// and its standard output in dir/stdout.txt; its standard error is read line
// by line, with the time each line arrived.
class Program {
public:
    Program(const TempDir& dir, const std::vector<std::string>& args);
    ~Program() { wait(); }

    double seconds() const;
    void signal(int sig);
    int wait(); // the exit status, or 128 + the signal that ended it
    bool exited();
    std::string errorText();
    // The most images make's progress lines ("(n/N) Images  Time Left: ...")
    // had reported as done by time t.
    unsigned imagesDoneBy(double t);

private:
    bool reap(int options);

    int pid_ = -1;
    int status_ = -1;
    std::chrono::steady_clock::time_point start_;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<std::pair<double, std::string>> lines_;
};

// The real Canon EOS 30D photograph of Debian's rawtran-doc, where
// scripts/setup put it (the package's documentation, or a cache of it on
// systems that leave documentation out); "" when missing.
std::string realCr2();

// exiftool writes the tags into the file in place.
void exif(const std::string& path, const std::string& tags);
// `ffmpeg -v error ARGS OUT`, answering whether it succeeded.
bool ffmpeg(const std::string& args, const std::string& out);

// ffprobe of the first video stream: key=value pairs of -show_streams.
std::map<std::string, std::string> probeStream(const std::string& movie);
// Duration of every packet, in stream time base units.
std::vector<long> packetDurations(const std::string& movie);
// Every frame of the movie decoded to RGB24.
std::vector<std::vector<std::uint8_t>> decodeFrames(const std::string& movie, int w, int h);

// An 8-bit sRGB code (fractions allowed) in linear light, and linear light
// back to the nearest code.
double toLinear(double code);
int toSrgb(double linear);

double meanAbsDiff(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);
int maxAbsDiff(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

std::string readFile(const std::string& path);

// Records everything the logic shows; answers alerts with OK.
class RecordingPorts : public mv::AlertPort,
                       public mv::ListViewPort,
                       public mv::MainWindowPort,
                       public mv::FileDialogPort {
public:
    struct Alert {
        std::string title, message;
    };

    mv::AlertButton alert(const std::string& title, const std::string& message, bool) override;
    void setText(const std::string& text) override;
    void appendText(const std::string& text) override;
    void setLabel(const std::string& label) override;
    void highlight(std::size_t offset, std::size_t length) override;
    void scrollTo(double) override {}
    void setStatusText(const std::string& text) override;
    void setNumList(unsigned n) override;
    void setCreateEnable(bool on) override;
    std::optional<std::vector<std::string>> chooseFiles(const std::string&, const std::string&,
                                                        const std::vector<std::string>&) override;
    std::optional<SaveChoice> saveFile(const SaveRequest& request) override;

    std::vector<Alert> alerts() const;
    std::string lastAlert() const; // "title / message", empty when there was none
    std::vector<std::string> labels() const;
    std::vector<std::string> statusTexts() const;

    std::optional<std::vector<std::string>> nextChoice; // what the open dialog answers
    std::optional<SaveChoice> nextSave;                  // what the save dialog answers
    std::vector<std::string> saveProposals;              // "title|message|name.extension" per save dialog
    std::function<void(const std::string&)> onLabel; // called with each label, on the thread that sets it
    std::string text;
    std::pair<std::size_t, std::size_t> highlighted{0, 0};
    unsigned numList = 0;
    bool createEnabled = false;

private:
    mutable std::mutex mutex_;
    std::vector<Alert> alerts_;
    std::vector<std::string> labels_, status_;
};

} // namespace mvtest
