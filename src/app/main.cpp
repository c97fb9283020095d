#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/BatchMake.h"
#include "app/BatchOptions.h"
#include "app/BatchTools.h"
#include "platform/picture/Picture.h"
#include "shell/Application.h"

static const char* const kWindowUsage =
    "\nWithout a command, or with image files and folders, the window opens:\n"
    "       moirevance [IMAGE_OR_FOLDER...]\n";

int main(int argc, char** argv)
{
    mv::initImageLibrary(argv[0]);
    // SVT-AV1 prints its settings for every movie; only its errors are wanted.
    // Set before any thread starts.
    setenv("SVT_LOG", "1", 0);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return mv::shell::runWindow(argc, argv, {});
    const std::string& command = args[0];
    if (command == "make")
        return mv::runMake({args.begin() + 1, args.end()});
    if (command == "append")
        return mv::runAppend({args.begin() + 1, args.end()});
    if (command == "frames")
        return mv::runFrames({args.begin() + 1, args.end()});
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << mv::mainUsage() << mv::toolsUsage() << kWindowUsage;
        return 0;
    }
    // Files and folders: the window opens with them listed. A path that is
    // not there is named and left out rather than listed as an unreadable
    // image; when none is left, nothing opens. A first word that is not there
    // is a path when it looks like one (a "/" or an extension), else a
    // mistyped command.
    std::error_code ec;
    const bool looksLikePath = command[0] != '-' && command.find_first_of("/.") != std::string::npos;
    if (looksLikePath || std::filesystem::exists(command, ec)) {
        std::vector<std::string> paths;
        for (const std::string& a : args) {
            if (std::filesystem::exists(a, ec))
                paths.push_back(a);
            else
                std::cerr << "moirevance: No such file or folder: " << a << '\n';
        }
        if (paths.empty())
            return 2;
        return mv::shell::runWindow(argc, argv, paths);
    }
    std::cerr << "moirevance: unknown command \"" << command << "\"\n\n" << mv::mainUsage() << mv::toolsUsage() << kWindowUsage;
    return 2;
}
