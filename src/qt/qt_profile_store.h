#pragma once
// The profile on QSettings: section "Settings" becomes the settings group of that name.

#include <QSettings>
#include <memory>

#include "app/profile.h"

namespace vandry {

class QtProfileStore final : public ProfileStore {
public:
    explicit QtProfileStore(std::unique_ptr<QSettings> settings) : settings_(std::move(settings)) {}
    std::optional<std::string> readText(std::string_view section, std::string_view key) const override;
    bool writeText(std::string_view section, std::string_view key, std::string_view value) override;

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace vandry
