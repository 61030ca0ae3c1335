#pragma once
// The application's fixed reverse-domain id (desktop file, autostart entry, daily-sync
// identifier) and display name. The id never changes between launches.

#include <QString>

namespace brindlecove {

inline QString appId() { return QStringLiteral(BRINDLECOVE_APP_ID); }
inline QString appName() { return QStringLiteral("Brindlecove"); }

}  // namespace brindlecove
