#pragma once
// The program's data folder and the working files in it.
#include <optional>
#include <string>

namespace mv {

struct WorkingFiles {
    std::string folder;
    std::string animFile;   // "Moirevance Animation.txt"
    std::string kmlFile;    // "Moirevance GPS.kml"
    std::string verifyFile; // "Moirevance Verify List.txt"
};

// The per-user data folder ("$XDG_DATA_HOME/Moirevance", by default
// ~/.local/share/Moirevance), created when missing. Nothing when it cannot
// be created: then no side file is written.
std::optional<WorkingFiles> prepareDataFolder();

} // namespace mv
