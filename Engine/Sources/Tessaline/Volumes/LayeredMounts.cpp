#include "Tessaline/Volumes/LayeredMounts.hpp"

#include "Tessaline/Support/PathText.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// An overlay shown over another overlay over ... : deeper stacks are not followed and count
// as showing the device.
constexpr int maxStackDepth = 8;

bool isOctal(char c) { return c >= '0' && c <= '7'; }

// The kernel's "\ooo" escapes decoded (a space is "\040", a backslash "\134").
std::string unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && isOctal(text[i + 1]) && isOctal(text[i + 2]) &&
            isOctal(text[i + 3])) {
            out.push_back(static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// A "lowerdir=" value split into its layers at the unescaped ':' ("::" before the data-only
// layers gives an empty part, left out). Newer kernels escape a ':' inside a layer's name as
// "\072"; older ones show the "\:" it was given with, its backslash escaped as "\134".
std::vector<std::string> splitLayers(std::string_view value) {
    std::vector<std::string> layers;
    std::string current;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\' && i + 3 < value.size() && isOctal(value[i + 1]) && isOctal(value[i + 2]) && isOctal(value[i + 3])) {
            const char decoded =
                static_cast<char>((value[i + 1] - '0') * 64 + (value[i + 2] - '0') * 8 + (value[i + 3] - '0'));
            i += 3;
            if (decoded == '\\' && i + 1 < value.size() && value[i + 1] == ':') {
                current.push_back(':');
                ++i;
            } else {
                current.push_back(decoded);
            }
        } else if (c == ':') {
            if (!current.empty()) layers.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) layers.push_back(std::move(current));
    return layers;
}

std::vector<std::string_view> fieldsOf(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos) end = line.size();
        if (end > start) fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

}  // namespace

std::vector<std::string> LayeredMounts::layersIn(std::string_view superOptions) {
    std::vector<std::string> layers;
    size_t start = 0;
    while (start <= superOptions.size()) {
        size_t end = superOptions.find(',', start);
        if (end == std::string_view::npos) end = superOptions.size();
        const std::string_view option = superOptions.substr(start, end - start);
        const size_t equals = option.find('=');
        if (equals != std::string_view::npos) {
            const std::string_view key = option.substr(0, equals), value = option.substr(equals + 1);
            if (key == "lowerdir") {
                for (std::string& layer : splitLayers(value)) layers.push_back(std::move(layer));
            } else if (key == "upperdir" || key == "lowerdir+" || key == "datadir+") {
                if (!value.empty()) layers.push_back(unescaped(value));
            }
        }
        start = end + 1;
    }
    return layers;
}

LayeredMounts LayeredMounts::fromMountInfo(std::string_view text) {
    std::vector<Mount> mounts;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::vector<std::string_view> fields = fieldsOf(text.substr(start, end - start));
        start = end + 1;
        // id parent major:minor root mountpoint options [optional fields...] - type source superoptions
        size_t separator = 6;
        while (separator < fields.size() && fields[separator] != "-") ++separator;
        if (separator + 1 >= fields.size()) continue;
        const std::string_view type = fields[separator + 1];
        if (type != "overlay") continue;
        Mount mount;
        mount.id = std::atoi(std::string(fields[0]).c_str());
        mount.mountPoint = withoutTrailingSlash(unescaped(fields[4]));
        if (separator + 3 < fields.size()) mount.layers = layersIn(fields[separator + 3]);
        mounts.push_back(std::move(mount));
    }
    return LayeredMounts(std::move(mounts));
}

LayeredMounts LayeredMounts::current() {
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream text;
    text << in.rdbuf();
    return fromMountInfo(text.str());
}

const LayeredMounts::Mount* LayeredMounts::mountHolding(const fs::path& path) const {
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_MNT_ID, &sx) == 0 && (sx.stx_mask & STATX_MNT_ID)) {
        for (const Mount& mount : mounts_)
            if (static_cast<uint64_t>(mount.id) == sx.stx_mnt_id) return &mount;
        return nullptr;
    }
    // No mount ID from the kernel: the overlay with the longest mount point above the path.
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) return nullptr;
    const fs::path canonical(buffer);
    const Mount* best = nullptr;
    for (const Mount& mount : mounts_)
        if (isSameOrBelow(canonical, mount.mountPoint) &&
            (!best || mount.mountPoint.native().size() >= best->mountPoint.native().size()))
            best = &mount;
    return best;
}

bool LayeredMounts::showsDevice(const fs::path& path, dev_t device) const {
    if (mounts_.empty()) return false;
    return showsDevice(path, device, 0);
}

bool LayeredMounts::showsDevice(const fs::path& path, dev_t device, int depth) const {
    const Mount* mount = mountHolding(path);
    if (!mount) return false;
    if (depth >= maxStackDepth || mount->layers.empty()) return true;
    for (const std::string& layer : mount->layers) {
        struct stat st {};
        if (::stat(layer.c_str(), &st) != 0 || st.st_dev == device) return true;
        if (showsDevice(layer, device, depth + 1)) return true;
    }
    return false;
}

}  // namespace tessaline
