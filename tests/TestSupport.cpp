#include "TestSupport.h"

#include <array>
#include <cctype>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips8>

namespace mvtest {

TempDir::TempDir()
{
    char pattern[] = "/tmp/mvtest-XXXXXX";
    path_ = ::mkdtemp(pattern);
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

Rgb wavePattern(int x, int y)
{
    const double pi = 3.14159265358979;
    return {static_cast<std::uint8_t>(128 + 100 * std::sin(2 * pi * y / 300.0)),
            static_cast<std::uint8_t>(128 + 100 * std::cos(2 * pi * x / 260.0)),
            static_cast<std::uint8_t>((x + y) % 256 / 2 + 64)};
}

mv::RgbaBitmap bitmapOf(int w, int h, const Pattern& pattern)
{
    mv::RgbaBitmap b;
    b.width = w;
    b.height = h;
    b.pixels.resizeForOverwrite(std::size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb c = pattern(x, y);
            std::uint8_t* px = &b.pixels[(std::size_t(y) * w + x) * 4];
            px[0] = c.r, px[1] = c.g, px[2] = c.b, px[3] = 255;
        }
    return b;
}

std::vector<std::uint8_t> rgbOf(const mv::RgbaBitmap& bitmap)
{
    std::vector<std::uint8_t> rgb;
    rgb.reserve(std::size_t(bitmap.width) * bitmap.height * 3);
    for (std::size_t i = 0; i < std::size_t(bitmap.width) * bitmap.height * 4; i += 4)
        rgb.insert(rgb.end(), &bitmap.pixels[i], &bitmap.pixels[i] + 3);
    return rgb;
}

void writeImage(const std::string& path, int w, int h, const Pattern& pattern)
{
    std::vector<std::uint8_t> buf(std::size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb c = pattern(x, y);
            std::uint8_t* p = &buf[(std::size_t(y) * w + x) * 3];
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
        }
    vips::VImage img = vips::VImage::new_from_memory(buf.data(), buf.size(), w, h, 3, VIPS_FORMAT_UCHAR);
    const std::string ext = std::filesystem::path(path).extension().string();
    if (ext == ".jpg" || ext == ".jpeg" || ext == ".JPG")
        img.jpegsave(path.c_str(), vips::VImage::option()->set("Q", 95));
    else
        img.write_to_file(path.c_str());
}

static std::vector<std::uint8_t> pixels(const vips::VImage& img)
{
    std::size_t size = 0;
    void* data = img.write_to_memory(&size);
    std::vector<std::uint8_t> out(static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
    g_free(data);
    return out;
}

std::vector<std::uint8_t> referenceFrame(const std::string& source, int sw, int sh, int left, int top, int w,
                                         int h)
{
    vips::VImage img = vips::VImage::new_from_file(source.c_str());
    if (img.width() != sw || img.height() != sh)
        img = img.resize(double(sw) / img.width(), vips::VImage::option()
                                                       ->set("vscale", double(sh) / img.height())
                                                       ->set("kernel", VIPS_KERNEL_LANCZOS3)
                                                       ->set("gap", 0.0));
    return pixels(img.embed(-left, -top, w, h, vips::VImage::option()->set("extend", VIPS_EXTEND_BLACK)));
}

std::vector<std::uint8_t> readPixels(const std::string& path)
{
    return pixels(vips::VImage::new_from_file(path.c_str()));
}

std::string quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool underSanitizer() { return std::getenv("ASAN_OPTIONS") || std::getenv("TSAN_OPTIONS"); }

static std::string memoryCap() { return underSanitizer() ? "" : "ulimit -v 8000000; "; }

CommandResult run(const std::string& command)
{
    CommandResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 65536> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0)
        result.out.append(buf.data(), n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string valgrindLeftOutBecause()
{
    static const std::string why = []() -> std::string {
        if (underSanitizer())
            return "valgrind cannot run a sanitized program";
        if (run("command -v valgrind >/dev/null").status != 0)
            return "valgrind is not installed";
        // The libraries pick their code for the processor when they load; on
        // some processors valgrind's emulation of it stops at once (for
        // example at rdtscp, which its model of the processor offers but
        // cannot execute where the host lacks it).
        const CommandResult r =
            run("valgrind -q --error-exitcode=99 " + quote(MOIREVANCE_BIN) + " --help 2>&1 >/dev/null");
        if (r.status == 0 || r.status == 99) // 99: it ran, and found an error the test will report
            return "";
        // The first frame of valgrind's stack: "==pid==    at 0x...: function (in library)".
        std::string where = "the program's start";
        if (const auto at = r.out.find("   at 0x"); at != std::string::npos) {
            const auto from = r.out.find(": ", at), to = r.out.find('\n', at);
            if (from < to)
                where = r.out.substr(from + 2, to - from - 2);
        }
        return "valgrind cannot run the program on this processor (exit " + std::to_string(r.status) + ", stopped in " +
               where + ")";
    }();
    return why;
}

CommandResult moirevance(const TempDir& dir, const std::string& args, const std::string& wrapper)
{
    return run("cd " + quote(dir.path()) + " && XDG_DATA_HOME=" + quote(dir / "data") + " XDG_CONFIG_HOME=" +
               quote(dir / "config") + " " + wrapper + quote(MOIREVANCE_BIN) + " " + args + " 2>" +
               quote(dir / "stderr.txt"));
}

std::string measured(const TempDir& dir)
{
    return "/usr/bin/time -f %M -o " + quote(dir / "peak.txt") + " sh -c " +
           quote(memoryCap() + "exec \"$0\" \"$@\"") + " ";
}

long peakKb(const TempDir& dir)
{
    long kb = -1; // the last line; one before it tells a failed status
    std::istringstream in(readFile(dir / "peak.txt"));
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
            kb = std::stol(line);
    return kb;
}

Program::Program(const TempDir& dir, const std::vector<std::string>& args)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    const std::string data = dir / "data", config = dir / "config", out = dir / "stdout.txt";
    std::vector<char*> argv{const_cast<char*>(MOIREVANCE_BIN)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    start_ = std::chrono::steady_clock::now();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(fds[1], STDERR_FILENO);
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        if (::chdir(dir.path().c_str()) != 0)
            ::_exit(127);
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        ::execv(MOIREVANCE_BIN, argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    reader_ = std::thread([this, fd = fds[0]] {
        std::string pending;
        char buf[4096];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
            pending.append(buf, std::size_t(n));
            for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos; pending.erase(0, eol + 1)) {
                std::lock_guard lock(mutex_);
                lines_.push_back({seconds(), pending.substr(0, eol)});
            }
        }
        ::close(fd);
    });
}

double Program::seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Program::signal(int sig)
{
    if (pid_ > 0) // never -1: that would signal every process
        ::kill(pid_, sig);
}

int Program::wait()
{
    reap(0);
    if (reader_.joinable())
        reader_.join();
    return status_;
}

bool Program::exited() { return reap(WNOHANG); }

bool Program::reap(int options)
{
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, options) != pid_)
        return false;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return true;
}

std::string Program::errorText()
{
    std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& [at, line] : lines_)
        text += line + "\n";
    return text;
}

unsigned Program::imagesDoneBy(double t)
{
    std::lock_guard lock(mutex_);
    unsigned done = 0;
    for (const auto& [at, line] : lines_)
        if (at <= t && line.size() > 1 && line[0] == '(')
            done = std::max(done, unsigned(std::stoul(line.substr(1))));
    return done;
}

std::vector<std::string> writeImages(const std::string& folder, int n, int w, int h, const std::string& ext,
                                     const std::string& name, const std::function<Pattern(int)>& pattern)
{
    std::filesystem::create_directories(folder);
    std::vector<std::string> paths;
    for (int i = 0; i < n; ++i) {
        paths.push_back(folder + "/" + name + "-" + std::to_string(i) + "." + ext);
        writeImage(paths.back(), w, h, pattern ? pattern(i) : Pattern(wavePattern));
    }
    return paths;
}

std::string realCr2()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    for (const std::string& path :
         {std::string("/usr/share/doc/rawtran/IMG_5952.CR2"),
          (cache ? std::string(cache) : std::string(home ? home : "") + "/.cache") +
              "/moirevance/rawtran/usr/share/doc/rawtran/IMG_5952.CR2"})
        if (std::filesystem::is_regular_file(path))
            return path;
    return "";
}

void exif(const std::string& path, const std::string& tags)
{
    const auto r = run("exiftool -q -overwrite_original " + tags + " " + quote(path) + " 2>&1");
    EXPECT_EQ(r.status, 0) << tags << ": " << r.out;
}

bool ffmpeg(const std::string& args, const std::string& out)
{
    return run("ffmpeg -v error " + args + " " + quote(out)).status == 0;
}

std::map<std::string, std::string> probeStream(const std::string& movie)
{
    std::map<std::string, std::string> info;
    const auto r = run("ffprobe -v error -select_streams v:0 -count_packets -show_streams -of default=nw=1 " +
                       quote(movie));
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (auto eq = line.find('='); eq != std::string::npos)
            info.emplace(line.substr(0, eq), line.substr(eq + 1));
    return info;
}

std::vector<long> packetDurations(const std::string& movie)
{
    std::vector<long> d;
    const auto r = run("ffprobe -v error -select_streams v:0 -show_entries packet=duration -of csv=p=0 " +
                       quote(movie));
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            d.push_back(std::stol(line));
    return d;
}

std::vector<std::vector<std::uint8_t>> decodeFrames(const std::string& movie, int w, int h)
{
    const auto r = run("ffmpeg -v error -i " + quote(movie) + " -f rawvideo -pix_fmt rgb24 -vsync passthrough -");
    const std::size_t frameSize = std::size_t(w) * h * 3;
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t at = 0; at + frameSize <= r.out.size(); at += frameSize)
        frames.emplace_back(r.out.begin() + at, r.out.begin() + at + frameSize);
    return frames;
}

double toLinear(double code)
{
    const double c = code / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

int toSrgb(double l)
{
    l = std::clamp(l, 0.0, 1.0);
    const double c = l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
    return static_cast<int>(std::lround(c * 255));
}

double meanAbsDiff(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / a.size();
}

int maxAbsDiff(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    if (a.size() != b.size())
        return 1 << 30;
    int m = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        m = std::max(m, std::abs(int(a[i]) - int(b[i])));
    return m;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

mv::AlertButton RecordingPorts::alert(const std::string& title, const std::string& message, bool)
{
    std::lock_guard lock(mutex_);
    alerts_.push_back({title, message});
    return mv::AlertButton::OK;
}
void RecordingPorts::setText(const std::string& t) { text = t; }
void RecordingPorts::appendText(const std::string& t) { text += t; }
void RecordingPorts::setLabel(const std::string& label)
{
    {
        std::lock_guard lock(mutex_);
        labels_.push_back(label);
    }
    if (onLabel)
        onLabel(label);
}
void RecordingPorts::highlight(std::size_t offset, std::size_t length) { highlighted = {offset, length}; }
void RecordingPorts::setStatusText(const std::string& t)
{
    std::lock_guard lock(mutex_);
    status_.push_back(t);
}
void RecordingPorts::setNumList(unsigned n) { numList = n; }
void RecordingPorts::setCreateEnable(bool on) { createEnabled = on; }
std::optional<std::vector<std::string>> RecordingPorts::chooseFiles(const std::string&, const std::string&,
                                                                    const std::vector<std::string>&)
{
    return nextChoice;
}
std::optional<mv::FileDialogPort::SaveChoice> RecordingPorts::saveFile(const SaveRequest& r)
{
    saveProposals.push_back(r.title + "|" + r.message + "|" + r.proposedName + "." +
                            (r.extensions.empty() ? "" : r.extensions.front()) +
                            (r.folder.empty() ? "" : " in " + r.folder));
    return nextSave;
}
std::vector<RecordingPorts::Alert> RecordingPorts::alerts() const
{
    std::lock_guard lock(mutex_);
    return alerts_;
}
std::string RecordingPorts::lastAlert() const
{
    std::lock_guard lock(mutex_);
    return alerts_.empty() ? "" : alerts_.back().title + " / " + alerts_.back().message;
}
std::vector<std::string> RecordingPorts::labels() const
{
    std::lock_guard lock(mutex_);
    return labels_;
}
std::vector<std::string> RecordingPorts::statusTexts() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

} // namespace mvtest

#include <gtest/gtest.h>

#include "platform/picture/Picture.h"

namespace {
struct ImageLibraryEnvironment : ::testing::Environment {
    void SetUp() override { mv::initImageLibrary("mv_tests"); }
};
[[maybe_unused]] auto* const gImageLibrary = ::testing::AddGlobalTestEnvironment(new ImageLibraryEnvironment);
} // namespace
