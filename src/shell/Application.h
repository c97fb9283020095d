#pragma once
#include <string>
#include <vector>

class QIcon;

namespace mv::shell {

// The program's icon from its resources (PNG: no image plugin needed).
QIcon appIcon();

// Runs the desktop application: the main window, with `paths` (files and
// folders) listed as a drop would list them. Returns the exit status.
int runWindow(int& argc, char** argv, const std::vector<std::string>& paths);

} // namespace mv::shell
