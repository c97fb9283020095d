#pragma once
// What a test of the movie run starts from: a job, the recording ports, a
// Verify List, an image list and the keyframe editor, in a folder of its own.
#include <filesystem>
#include <memory>

#include "TestSupport.h"
#include "animation/CropWindow.h"
#include "imagelist/ImagesList.h"
#include "render/MovieRun.h"

namespace mvtest {

struct RunFixture : ::testing::Test {
    TempDir dir;
    mv::JobSettings settings;
    RecordingPorts ports;
    mv::VerifyList verify{dir / "Moirevance Verify List.txt"};
    mv::ImagesList list{settings, ports, ports, ports, ports, verify};
    std::unique_ptr<mv::MovieRun> run;
    mv::CropViewState view;
    mv::CropWindow editor{settings, ports, view};
    int sounds = 0; // completion sounds

    // Starts the movie `name` of what is listed, with the editor's keyframes,
    // on `threads` render threads (0: the run's own number); false when the
    // run refused to start.
    bool startMovie(const std::string& name, unsigned threads = 0)
    {
        run = std::make_unique<mv::MovieRun>(settings, list, ports, ports);
        run->setCompletionSound([this] { ++sounds; });
        run->setAnimationEditor(&editor, &view);
        if (threads)
            run->setRenderThreads(threads);
        run->moviePath = dir / name;
        run->movieName = std::filesystem::path(name).stem().string();
        return run->createCommand();
    }
};

} // namespace mvtest
