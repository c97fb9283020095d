#pragma once
// What a test of the movie run starts from: a job, the recording ports, a
// Verify List, an image list and the keyframe editor, in a folder of its own.
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
};

} // namespace mvtest
