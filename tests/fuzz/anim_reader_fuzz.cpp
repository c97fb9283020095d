// libFuzzer target for the animation file reader: any text must end in a
// result (true or an alert and false), never in a crash, a read outside the
// text or undefined behaviour, and what it reads must carry finite steps.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "animation/CropWindow.h"

namespace {

struct QuietAlerts : mv::AlertPort {
    mv::AlertButton alert(const std::string&, const std::string&, bool) override { return mv::AlertButton::OK; }
};

const std::string& scratchPath()
{
    static const std::string path = "/tmp/moirevance-fuzz-" + std::to_string(::getpid()) + ".txt";
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(scratchPath().c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    mv::JobSettings settings;
    settings.numListImages = 90;
    QuietAlerts alerts;
    mv::CropViewState view;
    view.srcRect = {0, 0, 400, 300};
    mv::CropWindow window(settings, alerts, view);
    if (window.readAnimFile(scratchPath())) {
        for (const mv::frameS& k : window.frameArray()) {
            const float steps[] = {k.deltaX, k.deltaY, k.deltaW, k.deltaS, k.deltaB, k.deltaC, k.deltaT, k.deltaE,
                                   k.deltaP, k.deltaR, k.deltaF, k.deltaMI, k.deltaMR, k.deltaMG, k.deltaMB};
            for (float s : steps)
                if (!std::isfinite(s))
                    std::abort();
            if (k.rate == 0 || k.frame >= settings.numListImages)
                std::abort();
        }
        mv::setAnim(settings, window);
        if (!(settings.mvFPS >= 0.01f && settings.mvFPS <= 600.0f) || settings.rate == 0)
            std::abort();
    }
    return 0;
}
