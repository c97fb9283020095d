#include "platform/system/DataFolder.h"

#include <QStandardPaths>
#include <filesystem>

namespace mv {

std::optional<WorkingFiles> prepareDataFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return std::nullopt;
    const std::string folder = base.toStdString() + "/Moirevance";
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        // On a fresh account ~/.local/share may not exist yet, so missing
        // parents are created too (mode 0777 less the umask).
        std::filesystem::create_directories(folder, ec);
        if (ec || !std::filesystem::is_directory(folder, ec))
            return std::nullopt;
    }
    return WorkingFiles{folder, folder + "/Moirevance Animation.txt", folder + "/Moirevance GPS.kml",
                        folder + "/Moirevance Verify List.txt"};
}

} // namespace mv
