#include "Tessaline/Format/JsonField.hpp"

#include <nlohmann/json.hpp>

#include <charconv>

namespace tessaline {

namespace {

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

void collectItems(const nlohmann::json& list, std::vector<nlohmann::json>& out) {
    if (!list.is_array()) return;
    for (const auto& item : list) {
        if (!item.is_object()) continue;
        out.push_back(item);
        if (auto children = item.find("children"); children != item.end()) collectItems(*children, out);
    }
}

}  // namespace

std::optional<std::vector<nlohmann::json>> treeItems(std::string_view text, const char* key) {
    nlohmann::json root = nlohmann::json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object()) return std::nullopt;
    auto list = root.find(key);
    if (list == root.end() || !list->is_array()) return std::nullopt;
    std::vector<nlohmann::json> out;
    collectItems(*list, out);
    return out;
}

std::optional<std::string> textField(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = member(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

std::optional<bool> flagField(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = member(object, key);
    if (!value) return std::nullopt;
    if (value->is_boolean()) return value->get<bool>();
    if (value->is_number_integer()) {
        auto n = value->get<int64_t>();
        if (n == 0 || n == 1) return n == 1;
        return std::nullopt;
    }
    if (value->is_string()) {
        const auto& s = value->get_ref<const std::string&>();
        if (s == "0") return false;
        if (s == "1") return true;
    }
    return std::nullopt;
}

std::optional<int64_t> integerField(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = member(object, key);
    if (!value) return std::nullopt;
    if (value->is_number_unsigned()) {
        auto n = value->get<uint64_t>();
        if (n > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<int64_t>(n);
    }
    if (value->is_number_integer()) {
        auto n = value->get<int64_t>();
        if (n < 0) return std::nullopt;
        return n;
    }
    if (value->is_string()) {
        const auto& s = value->get_ref<const std::string&>();
        int64_t n = 0;
        auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
        if (ec == std::errc() && end == s.data() + s.size() && !s.empty() && n >= 0) return n;
    }
    return std::nullopt;
}

}  // namespace tessaline
