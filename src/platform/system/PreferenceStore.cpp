#include "platform/system/PreferenceStore.h"

#include <QByteArray>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

namespace mv {
namespace {

class QtPreferenceStore : public PreferenceStore {
public:
    // The path is worked out on every open: QSettings' own user scope reads
    // XDG_CONFIG_HOME once per process and would keep a stale folder.
    QtPreferenceStore()
        : settings_(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                        "/Moirevance/Moirevance.ini",
                    QSettings::IniFormat)
    {
    }

    std::optional<std::string> text(const std::string& key) const override
    {
        const QString k = QString::fromStdString(key);
        if (!settings_.contains(k))
            return std::nullopt;
        return settings_.value(k).toString().toStdString();
    }

    std::optional<std::vector<std::uint8_t>> data(const std::string& key) const override
    {
        const QString k = QString::fromStdString(key);
        if (!settings_.contains(k))
            return std::nullopt;
        const QByteArray bytes = settings_.value(k).toByteArray();
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    }

    void setText(const std::string& key, const std::string& value) override
    {
        settings_.setValue(QString::fromStdString(key), QString::fromStdString(value));
    }

    void setData(const std::string& key, const std::vector<std::uint8_t>& value) override
    {
        settings_.setValue(QString::fromStdString(key),
                           QByteArray(reinterpret_cast<const char*>(value.data()), static_cast<qsizetype>(value.size())));
    }

    bool sync() override
    {
        settings_.sync();
        return settings_.status() == QSettings::NoError;
    }

    std::string location() const override { return settings_.fileName().toStdString(); }

private:
    QSettings settings_;
};

} // namespace

std::unique_ptr<PreferenceStore> openUserPreferences() { return std::make_unique<QtPreferenceStore>(); }

} // namespace mv
