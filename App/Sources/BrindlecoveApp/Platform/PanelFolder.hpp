#pragma once
// Where a folder or save panel opens: at the folder the user works with when there is one,
// else in the home folder; never in the process's working directory (the source tree when
// the program was started from it), which is what a panel given no folder shows. Any thread.

#include <QString>

namespace brindlecove::PanelFolder {

// `folder` when it names an existing folder, else the user's home folder.
QString orHome(const QString& folder);

}  // namespace brindlecove::PanelFolder
