// The cost of the text overlays in a movie run: the same images made into a
// 1080p H.264 movie plain, then with the date stamp and a watermark, best of
// three runs each, in wall time and in the process's CPU time (which other
// load on the machine disturbs less). Built and run by bench/stamp_speed.sh.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "imagelist/ImagesList.h"
#include "platform/Picture.h"
#include "render/MovieRun.h"
#include "textlayer/CITextLayer.h"

using namespace mv;

namespace {
struct QuietPorts : AlertPort, ListViewPort, MainWindowPort, FileDialogPort {
    AlertButton alert(const std::string& t, const std::string& m, bool) override
    {
        std::fprintf(stderr, "alert: %s / %s\n", t.c_str(), m.c_str());
        return AlertButton::OK;
    }
    void setText(const std::string&) override {}
    void appendText(const std::string&) override {}
    void setLabel(const std::string&) override {}
    void highlight(std::size_t, std::size_t) override {}
    void scrollTo(double) override {}
    std::optional<std::vector<std::string>> chooseFiles(const std::string&, const std::string&,
                                                        const std::vector<std::string>&) override
    {
        return files;
    }
    std::vector<std::string> files;
};
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s IMAGE_FOLDER OUT_DIR\n", argv[0]);
        return 2;
    }
    initImageLibrary(argv[0]);
    ensureTextEngine(argc, argv);
    QuietPorts ports;
    for (const auto& e : std::filesystem::directory_iterator(argv[1]))
        ports.files.push_back(e.path().string());
    std::sort(ports.files.begin(), ports.files.end());
    const std::string out = argv[2];

    JobSettings settings;
    const auto& presets = sizePresets();
    for (std::size_t code = 1; code < presets.size(); ++code)
        if (std::string(presets[code].name) == "1080p")
            settings.chooseScale(static_cast<int>(code) + kPresetComboOffset, "1080p");
    settings.codec = kCodecH264;
    settings.quality = kQualityNormal;
    VerifyList verify(out + "/verify.txt");
    ImagesList list(settings, ports, ports, ports, ports, verify);
    list.selectFiles();
    CITextLayer layer(list);
    layer.createAttributes();

    struct Times {
        double wall = 1e9, cpu = 1e9;
    };
    auto best = [&](bool text) {
        settings.isDateStamped = text;
        settings.useWatermark = text;
        settings.watermarkStr = "Moirevance";
        settings.wPosnX = settings.wPosnY = 1;
        settings.textFont.pointSize = 36;
        settings.watermarkFont.pointSize = 72;
        Times b;
        for (int i = 0; i < 3; ++i) {
            const std::string path = out + "/stamp-speed.mov";
            std::filesystem::remove(path);
            MovieRun run(settings, list, ports, ports);
            run.setCompletionSound([] {});
            run.setTextLayer(&layer);
            run.moviePath = path;
            run.movieName = "stamp-speed";
            const auto start = std::chrono::steady_clock::now();
            const std::clock_t cpuStart = std::clock();
            if (!run.createCommand())
                return Times{-1, -1};
            run.waitForWorker();
            b.wall = std::min(b.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            b.cpu = std::min(b.cpu, double(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        }
        return b;
    };
    // The drawing alone, on a 1080p frame.
    layer.watermarkText({"Geneva", 72}, {1, 1, 1, 1}, "Moirevance", 1, 1);
    layer.dateText({"Geneva", 36}, {1, 1, 1, 0.8});
    RgbaBitmap frame;
    frame.width = 1920;
    frame.height = 1080;
    frame.pixels.resizeForOverwrite(1920 * 1080 * 4);
    std::fill_n(frame.pixels.data(), frame.pixels.size(), std::uint8_t(255));
    const std::clock_t t0 = std::clock();
    for (int i = 0; i < 200; ++i) {
        layer.renderWatermark(&frame, "Moirevance", 1920, 1080);
        layer.renderText(0, &frame, true, false);
    }
    std::printf("drawing both texts into a 1080p frame: %.3f ms CPU\n",
                1000.0 * double(std::clock() - t0) / CLOCKS_PER_SEC / 200);

    const Times plain = best(false), stamped = best(true);
    std::printf("%u images -> 1080p H.264\n", list.fileCount());
    std::printf("wall: plain %.2fs   date stamp + watermark %.2fs   ratio %.3f\n", plain.wall, stamped.wall,
                stamped.wall / plain.wall);
    std::printf("CPU:  plain %.2fs   date stamp + watermark %.2fs   ratio %.3f\n", plain.cpu, stamped.cpu,
                stamped.cpu / plain.cpu);
    return plain.wall > 0 && stamped.wall > 0 ? 0 : 1;
}
