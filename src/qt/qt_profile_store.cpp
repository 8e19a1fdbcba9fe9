#include "qt/qt_profile_store.h"

namespace vandry {

namespace {
QString settingsKey(std::string_view section, std::string_view key)
{
    return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + QLatin1Char('/') +
           QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}
} // namespace

std::optional<std::string> QtProfileStore::readText(std::string_view section, std::string_view key) const
{
    const QVariant value = settings_->value(settingsKey(section, key));
    if (!value.isValid() || !value.canConvert<QString>())
        return std::nullopt;
    return value.toString().toStdString();
}

bool QtProfileStore::writeText(std::string_view section, std::string_view key, std::string_view value)
{
    settings_->setValue(settingsKey(section, key),
                        QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

} // namespace vandry
