#pragma once
// Where this machine mounts removable cards and drives for the current user, so the panels
// that pick a card or a drive open there. Any thread.

#include <QString>

namespace brindlecove::RemovableMounts {

// "/run/media/<user>" when that folder exists, else "/media/<user>" when it exists, else
// "/media" when it exists, else an empty text (the panel then opens in the home folder).
QString parentFolder();

}  // namespace brindlecove::RemovableMounts
