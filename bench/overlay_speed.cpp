// Times movie runs of one image list without a layer, with a layer image per
// frame (lighten) and through one mask, driving the movie run directly.
//   overlay_speed IMAGES_DIR LAYERS_DIR MASK_FILE OUT_DIR [RUNS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sys/resource.h>

#include "imagelist/ImagesList.h"
#include "platform/Picture.h"
#include "render/MovieRun.h"

using namespace mv;

namespace {

// Processor time of all threads so far: less disturbed than wall time on a
// shared machine.
double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Ports : AlertPort, ListViewPort, MainWindowPort, FileDialogPort {
    AlertButton alert(const std::string& t, const std::string& m, bool) override
    {
        std::cerr << "alert: " << t << " / " << m << '\n';
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
        return next;
    }
    std::vector<std::string> next;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::cerr << "usage: overlay_speed IMAGES_DIR LAYERS_DIR MASK_FILE OUT_DIR [RUNS]\n";
        return 2;
    }
    initImageLibrary(argv[0]);
    const int runs = argc > 5 ? std::atoi(argv[5]) : 3;
    const std::string out = argv[4];
    JobSettings settings;
    settings.format = 1; // 1920 x 1080
    settings.crop = kCropMiddle;
    settings.codec = kCodecH264;
    settings.enterFPS("30");
    settings.isSkipVerify = true;
    Ports ports;
    VerifyList verify{out + "/verify.txt"};
    ImagesList list{settings, ports, ports, ports, ports, verify};
    list.setLayerSound([] {});

    struct Job {
        const char* name;
        std::uint16_t mode;
        bool layers, mask;
    };
    for (const Job job : {Job{"plain", 0, false, false}, Job{"lighten", 0, true, false},
                          Job{"mask", kOverlayMask, true, true}}) {
        list.clearList();
        ports.next = {argv[1]};
        list.selectFiles();
        if (job.layers) {
            list.setIsLayerImages(true);
            ports.next = {argv[2]};
            list.selectFiles();
        }
        if (job.mask) {
            list.setIsMaskImages(true);
            ports.next = {argv[3]};
            list.selectFiles();
            list.setIsMaskImages(false);
        }
        settings.overlayMode = job.mode;
        double best = 1e9, bestCpu = 1e9;
        for (int r = 0; r < runs; ++r) {
            MovieRun run(settings, list, ports, ports);
            run.setCompletionSound([] {});
            run.moviePath = out + "/overlay-" + job.name + ".mov";
            run.overwriteMovie = true;
            const auto start = std::chrono::steady_clock::now();
            const double cpu = cpuSeconds();
            if (!run.createCommand())
                return 1;
            run.waitForWorker();
            best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            bestCpu = std::min(bestCpu, cpuSeconds() - cpu);
            if (!run.wasWritten())
                return 1;
        }
        std::printf("%-8s %u images: best of %d %.2f s wall (%.1f frames/s), %.2f s processor\n", job.name,
                    list.fileCount(), runs, best, list.fileCount() / best, bestCpu);
    }
    return 0;
}
