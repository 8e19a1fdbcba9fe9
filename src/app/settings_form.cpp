#include "app/settings_form.h"

#include <algorithm>

#include "common/format_size.h"

namespace vandry {

std::string uploadLimitText(int limit)
{
    return limit == -1 ? std::string("不限速") : formatRate(static_cast<std::uint64_t>(limit));
}

SettingsForm::SettingsForm(AppSettings& settings, NeighbourTable& neighbours, Profile& profile,
                           const FileSystemQueries& fs, Autostart& autostart, std::string executablePath)
    : settings_(settings), neighbours_(neighbours), profile_(profile), fs_(fs), autostart_(autostart),
      executablePath_(std::move(executablePath))
{
}

SettingsView SettingsForm::open() const
{
    SettingsView view;
    view.fields.downloadRoot = settings_.downloadRoot;
    view.fields.shareRoot = settings_.shareRoot;
    view.fields.nickname = neighbours_.local().host.nickname();
    if (view.fields.downloadRoot.empty())
        view.fields.downloadRoot = proposedDownloadRoot(fs_);
    // The first step at or above the limit in force.
    view.uploadPosition = kUploadSliderMax;
    for (int step = kUploadSliderMax - 1; step >= 0 && settings_.uploadLimit != -1; --step)
        if (kUploadSteps[step] >= settings_.uploadLimit)
            view.uploadPosition = step;
    view.uploadText = uploadLimitText(settings_.uploadLimit);
    view.autorun = autostart_.enabledSystemWide(executablePath_);
    return view;
}

std::string SettingsForm::moveUploadSlider(int position)
{
    settings_.uploadLimit = kUploadSteps[std::clamp(position, 0, kUploadSliderMax)];
    profile_.setUploadLimit(settings_.uploadLimit);
    return uploadLimitText(settings_.uploadLimit);
}

bool SettingsForm::createDownloadFolder(std::string_view path)
{
    return fs_.makeDirectories(path);
}

void SettingsForm::setAutorun(bool enabled)
{
    autostart_.setForUser(enabled, executablePath_);
}

ApplyOutcome SettingsForm::apply(SettingsFields fields)
{
    ApplyOutcome outcome;
    if (fields.shareRoot.empty()) {
        outcome.result = ApplyOutcome::Result::ShareEmpty;
        outcome.tip = kTipShareEmpty;
        outcome.fields = std::move(fields);
        return outcome;
    }
    if (fields.downloadRoot.empty())
        fields.downloadRoot = proposedDownloadRoot(fs_);
    fields.downloadRoot = withTrailingSeparator(fields.downloadRoot);
    fields.shareRoot = withTrailingSeparator(fields.shareRoot);
    if (!fs_.isDirectory(fields.downloadRoot)) {
        if (fields.downloadRoot != proposedDownloadRoot(fs_) || !fs_.makeDirectories(fields.downloadRoot)) {
            outcome.result = ApplyOutcome::Result::DownloadMissing;
            outcome.fields = std::move(fields);
            return outcome;
        }
    }
    if (!fs_.isWritableDirectory(fields.downloadRoot)) {
        outcome.result = ApplyOutcome::Result::DownloadNotWritable;
        outcome.tip = kTipDownloadNotWritable;
        outcome.fields = std::move(fields);
        return outcome;
    }

    if (HostRecord local = neighbours_.local().host; fields.nickname != local.nickname()) {
        local.setNickname(fields.nickname);
        neighbours_.setLocal(local);
        profile_.setNickname(local.nickname());
        outcome.announce = true;
    }
    if (fields.downloadRoot != settings_.downloadRoot && fields.downloadRoot.size() <= kMaxRootLength) {
        settings_.downloadRoot = fields.downloadRoot;
        profile_.setDownloadRoot(fields.downloadRoot);
    }
    if (fields.shareRoot.size() <= kMaxRootLength && folderValid(fs_, fields.shareRoot)) {
        if (fields.shareRoot != settings_.shareRoot) {
            settings_.shareRoot = fields.shareRoot;
            profile_.setShareRoot(fields.shareRoot);
            outcome.shareChanged = true;
        }
    } else {
        outcome.result = ApplyOutcome::Result::ShareInvalid;
        outcome.tip = kTipShareInvalid;
    }
    outcome.fields = std::move(fields);
    return outcome;
}

} // namespace vandry
