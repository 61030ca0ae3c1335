#include "BrindlecoveApp/ViewModels/RescueDestination.hpp"

#include "BrindlecoveApp/PathConversion.hpp"

#include "Tessaline/Volumes/MountPoint.hpp"

#include <QDir>
#include <QStringList>

#include <sys/stat.h>

#include <set>

namespace brindlecove::RescueDestination {

namespace fs = std::filesystem;

MountPointOf systemMountPoints() {
    return [](const QString& folder) -> std::optional<QString> {
        auto mount = tessaline::mountPointFor(fsPath(folder));
        if (!mount) return std::nullopt;
        return qtPath(*mount);
    };
}

namespace {

QStringList components(const QString& path) {
    QStringList parts{QStringLiteral("/")};
    parts += QDir::cleanPath(path).split(u'/', Qt::SkipEmptyParts);
    return parts;
}

bool atOrBelow(const QString& path, const QString& mountPoint) {
    if (mountPoint == QStringLiteral("/")) return path.startsWith(u'/');
    return path == mountPoint || path.startsWith(mountPoint + u'/');
}

}  // namespace

std::optional<QString> commonFolderOfConfirmed(const tessaline::VerificationReport& report,
                                               const MountPointOf& mountPointOf) {
    std::set<QString> folders;
    std::optional<QStringList> prefix;
    for (const auto& result : report.results) {
        if (result.status.kind() != tessaline::MatchStatus::Kind::confirmed) continue;
        const QString folder = QDir::cleanPath(qtPath(result.status.path().parent_path()));
        folders.insert(folder);
        const QStringList parts = components(folder);
        if (!prefix) {
            prefix = parts;
            continue;
        }
        qsizetype agree = 0;
        while (agree < prefix->size() && agree < parts.size() && (*prefix)[agree] == parts[agree]) ++agree;
        prefix->resize(agree);
    }
    if (!prefix || prefix->size() < 3) return std::nullopt;
    QString joined = prefix->join(u'/');
    joined.replace(QStringLiteral("//"), QStringLiteral("/"));

    if (mountPointOf) {
        std::optional<QString> shared;
        for (const QString& folder : folders) {
            auto mount = mountPointOf(folder);
            if (!mount || (shared && *shared != *mount)) return std::nullopt;
            shared = mount;
        }
        if (!shared || !atOrBelow(joined, QDir::cleanPath(*shared))) return std::nullopt;
    }
    return joined;
}

QString unavailableText(const QString& folder) {
    return QStringLiteral("The destination folder %1 isn't available — is the drive connected?").arg(folder);
}

std::optional<tessaline::VolumePin> stillAvailable(const fs::path& folder,
                                                   const std::optional<tessaline::VolumePin>& chosen) {
    struct stat st{};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    auto now = tessaline::VolumePin::of(folder);
    if (!now) return std::nullopt;
    if (!chosen) return now;
    if (chosen->uuid && now->uuid) {
        if (*chosen->uuid != *now->uuid) return std::nullopt;
    } else if (chosen->device != now->device || chosen->mountId != now->mountId) {
        return std::nullopt;
    }
    if (!now->isReachable()) return std::nullopt;
    return now;
}

}  // namespace brindlecove::RescueDestination
