#include "Tessaline/Sync/SyncPair.hpp"

#include "Tessaline/Support/JsonFields.hpp"

#include <stdexcept>

namespace tessaline {

namespace fs = std::filesystem;

CopyEngine::Options SyncPair::copyOptions() const {
    return CopyEngine::Options{preserveStructure, verifyAfterCopy, true, 8388608};
}

std::optional<fs::path> SyncPair::sourceFolder(const fs::path& sourceRoot) const {
    auto relative = sourceRelativeFolder();
    if (!relative) return std::nullopt;
    if (relative->empty()) return sourceRoot;
    return sourceRoot / *relative;
}

std::optional<fs::path> SyncPair::sourceRelativeFolder() const {
    if (!sourceSubpath || sourceSubpath->empty()) return fs::path();
    const std::string& sub = *sourceSubpath;
    if (sub.front() == '/' || sub.find('\0') != std::string::npos) return std::nullopt;
    fs::path relative;
    size_t start = 0;
    while (start <= sub.size()) {
        size_t end = sub.find('/', start);
        if (end == std::string::npos) end = sub.size();
        std::string part = sub.substr(start, end - start);
        if (part == "." || part == "..") return std::nullopt;
        if (!part.empty()) relative /= part;
        start = end + 1;
    }
    return relative;
}

nlohmann::json SyncPair::toJson() const {
    nlohmann::json object = {
        {"id", id.text()},
        {"name", name},
        {"sourceVolumeLabel", sourceVolumeLabel},
        {"destinationPath", destinationPath},
        {"preserveStructure", preserveStructure},
        {"verifyAfterCopy", verifyAfterCopy},
        {"enabled", enabled},
    };
    if (sourceSubpath) object["sourceSubpath"] = *sourceSubpath;
    return object;
}

SyncPair SyncPair::fromJson(const nlohmann::json& object) {
    if (!object.is_object()) throw std::invalid_argument("a pair is not a JSON object");
    SyncPair pair;
    auto id = Uuid::parse(requiredString(object, "id"));
    if (!id) throw std::invalid_argument("a pair's \"id\" is not a UUID");
    pair.id = *id;
    pair.name = requiredString(object, "name");
    pair.sourceVolumeLabel = requiredString(object, "sourceVolumeLabel");
    if (auto it = object.find("sourceSubpath"); it != object.end() && !it->is_null()) {
        if (!it->is_string()) throw std::invalid_argument("\"sourceSubpath\" is not a string");
        pair.sourceSubpath = it->get<std::string>();
    }
    pair.destinationPath = requiredString(object, "destinationPath");
    pair.preserveStructure = requiredBool(object, "preserveStructure");
    pair.verifyAfterCopy = requiredBool(object, "verifyAfterCopy");
    pair.enabled = requiredBool(object, "enabled");
    return pair;
}

}  // namespace tessaline
