// The cost of the text overlays in a movie run: the same images made into a
// 1080p H.264 movie plain, then with the date stamp and a watermark, best of
// three runs each. Built and run by bench/stamp_speed.sh.
#include <algorithm>
#include <chrono>
#include <cstdio>
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

    auto best = [&](bool text) {
        settings.isDateStamped = text;
        settings.useWatermark = text;
        settings.watermarkStr = "Moirevance";
        settings.wPosnX = settings.wPosnY = 1;
        settings.textFont.pointSize = 36;
        settings.watermarkFont.pointSize = 72;
        double b = 1e9;
        for (int i = 0; i < 3; ++i) {
            const std::string path = out + "/stamp-speed.mov";
            std::filesystem::remove(path);
            MovieRun run(settings, list, ports, ports);
            run.setCompletionSound([] {});
            run.setTextLayer(&layer);
            run.moviePath = path;
            run.movieName = "stamp-speed";
            const auto start = std::chrono::steady_clock::now();
            if (!run.createCommand())
                return -1.0;
            run.waitForWorker();
            b = std::min(b, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
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
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i) {
        layer.renderWatermark(&frame, "Moirevance", 1920, 1080);
        layer.renderText(0, &frame, true, false);
    }
    const double perFrame =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / 200;
    std::printf("drawing both texts into a 1080p frame: %.3f ms\n", perFrame);

    const double plain = best(false), stamped = best(true);
    std::printf("%u images -> 1080p H.264\nplain: %.2fs   date stamp + watermark: %.2fs   ratio: %.3f\n",
                list.fileCount(), plain, stamped, stamped / plain);
    return plain > 0 && stamped > 0 ? 0 : 1;
}
