#pragma once
// `moirevance append` and `moirevance frames`: the two movie tools without a
// window. Each returns the exit status: 0 done, 1 failed, 2 usage error.
#include <string>
#include <vector>

namespace mv {

struct ToolRequest {
    std::string output;              // append: -o PATH
    std::vector<std::string> inputs; // append: the movies; frames: MOVIE BASE
    bool help = false;
};

// Throws UsageError (BatchOptions.h) for bad arguments.
ToolRequest parseAppendArguments(const std::vector<std::string>& args);
ToolRequest parseFramesArguments(const std::vector<std::string>& args);

int runAppend(const std::vector<std::string>& args);
int runFrames(const std::vector<std::string>& args);

std::string appendUsage();
std::string framesUsage();
// The lines the main usage text gains for the two tools.
std::string toolsUsage();

} // namespace mv
