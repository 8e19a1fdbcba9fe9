#pragma once

#include <QHash>
#include <QTreeWidgetItem>

namespace vandry {

// Deletes the shown items whose keys are no longer listed, and forgets them: lists that keep
// their items across updates (the user may have sorted or opened them) match them by key.
template <typename Key, typename Listed> void dropUnlisted(QHash<Key, QTreeWidgetItem*>& shown, const Listed& listed)
{
    for (auto it = shown.begin(); it != shown.end();) {
        if (listed.contains(it.key())) {
            ++it;
            continue;
        }
        delete it.value();
        it = shown.erase(it);
    }
}

} // namespace vandry
