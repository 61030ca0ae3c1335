#include "Tessaline/Sync/SyncConfiguration.hpp"

#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/DataFolder.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/JsonText.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/ReadFile.hpp"
#include "Tessaline/Support/RenameAside.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <cerrno>

namespace tessaline {

namespace fs = std::filesystem;

SyncConfigurationError::SyncConfigurationError(fs::path path, const std::string& detail)
    : std::runtime_error("The sync pairs in " + toDisplayUtf8(path) + " can't be read: " + detail + "."),
      path_(std::move(path)) {}

SyncConfiguration SyncConfiguration::fallback() { return SyncConfiguration{{}, 3.0, 120.0}; }

fs::path SyncConfiguration::defaultURL() { return dataFilePath("sync-config.json"); }

std::string SyncConfiguration::jsonText() const {
    nlohmann::json object;
    object["pairs"] = nlohmann::json::array();
    for (const auto& pair : pairs) object["pairs"].push_back(pair.toJson());
    object["settleQuietSeconds"] = settleQuietSeconds;
    object["settleTimeoutSeconds"] = settleTimeoutSeconds;
    // nlohmann sorts object keys by bytes, which is the order the file is written in.
    // "/" only occurs inside strings in JSON text, so escaping it afterwards is safe.
    std::string text = tessaline::jsonText(object, 2);
    std::string escaped;
    escaped.reserve(text.size() + 16);
    for (char c : text) {
        if (c == '/') escaped.push_back('\\');
        escaped.push_back(c);
    }
    return escaped;
}

SyncConfiguration SyncConfiguration::fromJsonText(const std::string& text, const fs::path& url) {
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception&) {
        throw SyncConfigurationError(url, "it is not valid JSON");
    }
    if (!root.is_object()) throw SyncConfigurationError(url, "it is not a JSON object");
    auto number = [&](const char* key) {
        auto it = root.find(key);
        if (it == root.end()) throw SyncConfigurationError(url, std::string("\"") + key + "\" is missing");
        if (!it->is_number()) throw SyncConfigurationError(url, std::string("\"") + key + "\" is not a number");
        return it->get<double>();
    };
    SyncConfiguration config;
    auto pairs = root.find("pairs");
    if (pairs == root.end()) throw SyncConfigurationError(url, "\"pairs\" is missing");
    if (!pairs->is_array()) throw SyncConfigurationError(url, "\"pairs\" is not a list");
    try {
        for (const auto& item : *pairs) config.pairs.push_back(SyncPair::fromJson(item));
    } catch (const std::invalid_argument& e) {
        throw SyncConfigurationError(url, e.what());
    }
    config.settleQuietSeconds = number("settleQuietSeconds");
    config.settleTimeoutSeconds = number("settleTimeoutSeconds");
    return config;
}

SyncConfiguration SyncConfiguration::load(const fs::path& url) {
    return fromJsonText(readWholeFile(url), url);
}

void SyncConfiguration::save(const fs::path& url) const {
    std::error_code ec;
    if (url.has_parent_path()) {
        fs::create_directories(url.parent_path(), ec);
        if (ec) throw FileWriteError(url.parent_path(), ec.value());
    }
    writeFileAtomically(url, jsonText());
}

std::optional<fs::path> SyncConfiguration::preserveUnreadable(const fs::path& url) {
    return renameAsideUnreadable(url);
}

std::vector<SyncPair> SyncConfiguration::pairsForMountedLabel(std::string_view label) const {
    std::vector<SyncPair> selected;
    for (const auto& pair : pairs)
        if (pair.enabled && equalsIgnoringCase(pair.sourceVolumeLabel, label)) selected.push_back(pair);
    return selected;
}

}  // namespace tessaline
