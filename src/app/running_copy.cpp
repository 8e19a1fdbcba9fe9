#include "app/running_copy.h"

#include "app/host_environment.h"

namespace vandry {

RunningCopy::RunningCopy(CopyPlatform platform)
    : platform_(platform), profile_(platform.profileStore), neighbours_(platform.clock, HostRecord{})
{
}

void RunningCopy::refreshLocalRecord()
{
    NeighbourRecord local = neighbours_.local();
    buildLocalRecord(local, settings_, platform_.network, platform_.host, profile_.nickname());
    neighbours_.setLocal(local.host);
}

void RunningCopy::takeNetworkSnapshot()
{
    networkChanged(settings_, platform_.network, true);
}

MissingRoot RunningCopy::loadSettings()
{
    settings_.downloadRoot = profile_.downloadRoot();
    settings_.shareRoot = profile_.shareRoot();
    loadLogging(profile_, settings_);
    settings_.uploadLimit = profile_.uploadLimit();
    if (settings_.shareRoot.empty() || !folderValid(platform_.fileSystem, settings_.shareRoot))
        return MissingRoot::ShareRoot;
    if (settings_.downloadRoot.empty())
        return MissingRoot::DownloadRoot;
    return MissingRoot::None;
}

bool RunningCopy::pollNetworkChange()
{
    if (!networkChanged(settings_, platform_.network, false))
        return false;
    refreshLocalRecord();
    return true;
}

} // namespace vandry
