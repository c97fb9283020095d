#pragma once
// The per-user preference store: texts and raw bytes by key, kept between
// runs. Typed reading and the registered defaults are the settings' own.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mv {

class PreferenceStore {
public:
    virtual ~PreferenceStore() = default;
    virtual std::optional<std::string> text(const std::string& key) const = 0;
    virtual std::optional<std::vector<std::uint8_t>> data(const std::string& key) const = 0;
    virtual void setText(const std::string& key, const std::string& value) = 0;
    virtual void setData(const std::string& key, const std::vector<std::uint8_t>& value) = 0;
    // Writes what was set to disk; false when the store could not be
    // written (a read-only file, say).
    virtual bool sync() = 0;
    // Where the store is kept, for messages.
    virtual std::string location() const { return {}; }
};

// The user's store ($XDG_CONFIG_HOME/Moirevance/Moirevance.ini).
std::unique_ptr<PreferenceStore> openUserPreferences();

} // namespace mv
