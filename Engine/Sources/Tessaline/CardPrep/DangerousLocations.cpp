#include "Tessaline/CardPrep/DangerousLocations.hpp"

#include "Tessaline/Support/PathText.hpp"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// The account's home and name from the password database, and $HOME and $USER (they may differ).
void addUserPlaces(std::vector<std::string>& out) {
    std::vector<std::string> names;
    if (const char* home = std::getenv("HOME"); home && *home) out.push_back(normalizedPath(home).native());
    if (const char* user = std::getenv("USER"); user && *user) names.push_back(user);
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        if (found->pw_dir && *found->pw_dir) out.push_back(normalizedPath(found->pw_dir).native());
        if (found->pw_name && *found->pw_name) names.push_back(found->pw_name);
    }
    for (const auto& name : names) {
        if (name.find('/') != std::string::npos || name == "." || name == "..") continue;
        out.push_back("/media/" + name);
        out.push_back("/run/media/" + name);
    }
    out.push_back("/run/user/" + std::to_string(getuid()));
}

}  // namespace

std::vector<std::string> DangerousLocations::all() {
    std::vector<std::string> out = {
        "/", "/Volumes", "/Users", "/System", "/Library", "/Applications",  // the macOS names, kept
        "/media", "/run/media", "/mnt", "/home", "/root",
        "/usr", "/etc", "/var", "/boot", "/opt", "/srv", "/proc", "/sys", "/dev", "/run", "/tmp",
        "/boot/efi", "/var/tmp", "/dev/shm", "/snap", "/bin", "/sbin", "/lib", "/lib64",
    };
    addUserPlaces(out);
    return out;
}

bool DangerousLocations::contains(const fs::path& path) {
    if (path.empty()) return true;
    std::vector<std::string> places = all();
    auto listed = [&](const fs::path& p) { return std::find(places.begin(), places.end(), p.native()) != places.end(); };
    fs::path standardized = normalizedPath(path);
    if (listed(standardized)) return true;
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(standardized, ec);
    // A path whose links cannot be resolved cannot be shown to be safe.
    if (ec) return true;
    return listed(normalizedPath(canonical));
}

}  // namespace tessaline
