#pragma once
// The logic of the settings dialog ("参数配置"), apart from its widgets so that it runs and is
// tested without a display. The dialog shows what open() gives and hands apply() the fields.

#include <iterator>
#include <string>
#include <string_view>

#include "app/app_settings.h"
#include "app/autostart.h"
#include "app/file_system.h"
#include "app/profile.h"
#include "discovery/neighbour_table.h"

namespace vandry {

// The upload slider's steps, in bytes per second; the right end means unlimited.
inline constexpr int kUploadSteps[] = {64 << 10, 128 << 10, 256 << 10, 512 << 10, 1 << 20,   2 << 20,
                                       5 << 20,  10 << 20,  20 << 20,  50 << 20,  100 << 20, -1};
inline constexpr int kUploadSliderMax = static_cast<int>(std::size(kUploadSteps)) - 1;
inline constexpr int kChannelSliderMin = 6;
inline constexpr int kChannelSliderMax = 128;

inline constexpr std::string_view kTipShareEmpty = "<b><ct=0x00AA00><al_c>请选出要共享的目录。</b></ct>";
inline constexpr std::string_view kTipShareInvalid =
    "<b><ct=0x00AA00><al_c>共享目录位置不正确，请用目录浏览按钮来选定。</b></ct>";
inline constexpr std::string_view kTipDownloadNotWritable =
    "<b><ct=0x00AA00><al_c>下载目录无法写入，请另选一个目录。</b></ct>";
inline constexpr std::string_view kTipDownloadNotCreated =
    "<b><ct=0x00AA00><al_c>下载目录无法创建，请另选一个目录。</b></ct>";
inline constexpr std::string_view kPickShareTitle = "选择目标文件夹(资源共享)";
inline constexpr std::string_view kPickDownloadTitle = "选择目标文件夹(下载保存)";

// "不限速" for -1, else the limit as a rate ("200 KB/s").
std::string uploadLimitText(int limit);

struct SettingsFields {
    std::string nickname;
    std::string shareRoot;
    std::string downloadRoot;
};

struct SettingsView {
    SettingsFields fields;
    bool autorun = false;
    int uploadPosition = kUploadSliderMax;
    std::string uploadText;
};

struct ApplyOutcome {
    enum class Result {
        Closed,
        ShareEmpty,
        ShareInvalid,
        DownloadMissing,     // the typed download folder does not exist: ask, then createDownloadFolder
        DownloadNotWritable, // the download folder is not the user's to write
    };
    Result result = Result::Closed;
    std::string_view tip;      // the mark-up to show beside the share or download field when not closed
    SettingsFields fields;     // the fields as normalised (separators appended, default root)
    bool announce = false;     // the nickname changed: announce the new record
    bool shareChanged = false; // the share root changed: rebuild the share index
};

class SettingsForm {
public:
    SettingsForm(AppSettings& settings, NeighbourTable& neighbours, Profile& profile, const FileSystemQueries& fs,
                 Autostart& autostart, std::string executablePath);

    SettingsView open() const;
    // Takes effect at once and is saved: sets the upload limit of a slider step and gives the text
    // to show. A limit given on the command line holds until the slider moves.
    std::string moveUploadSlider(int position);
    // Takes effect at once: writes or removes the per-user autostart entry.
    void setAutorun(bool enabled);
    // Nothing is saved while the download folder is missing or not writable. The proposed folder
    // is created without asking; a typed one only through createDownloadFolder.
    ApplyOutcome apply(SettingsFields fields);
    // The user agreed to create the typed download folder; false when it could not be made.
    bool createDownloadFolder(std::string_view path);

private:
    AppSettings& settings_;
    NeighbourTable& neighbours_;
    Profile& profile_;
    const FileSystemQueries& fs_;
    Autostart& autostart_;
    std::string executablePath_;
};

} // namespace vandry
