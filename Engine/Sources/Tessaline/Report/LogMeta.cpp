#include "Tessaline/Report/LogMeta.hpp"

#include <stdexcept>

namespace tessaline {

namespace {

const nlohmann::json& required(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) throw std::invalid_argument(std::string("\"") + key + "\" is missing");
    return *it;
}

std::string requiredString(const nlohmann::json& object, const char* key) {
    const auto& value = required(object, key);
    if (!value.is_string()) throw std::invalid_argument(std::string("\"") + key + "\" is not a string");
    return value.get<std::string>();
}

}  // namespace

nlohmann::ordered_json LogMeta::toJson() const {
    nlohmann::ordered_json object;
    object["kind"] = std::string(logKindText(kind));
    object["date"] = formatIso8601(date);
    object["title"] = title;
    object["subtitle"] = subtitle;
    object["summary"] = summary;
    object["counts"] = nlohmann::ordered_json::object();
    for (const auto& [key, value] : counts) object["counts"][key] = value;
    object["hasProblem"] = hasProblem;
    object["primaryFileName"] = primaryFileName;
    if (project) object["project"] = *project;
    return object;
}

LogMeta LogMeta::fromJson(const nlohmann::json& object) {
    if (!object.is_object()) throw std::invalid_argument("meta.json is not a JSON object");
    LogMeta meta;
    auto kind = logKindFromText(requiredString(object, "kind"));
    if (!kind) throw std::invalid_argument("\"kind\" is not a log kind");
    meta.kind = *kind;
    auto date = parseIso8601WholeSeconds(requiredString(object, "date"));
    if (!date) throw std::invalid_argument("\"date\" is not an ISO-8601 date");
    meta.date = *date;
    meta.title = requiredString(object, "title");
    meta.subtitle = requiredString(object, "subtitle");
    meta.summary = requiredString(object, "summary");
    const auto& counts = required(object, "counts");
    if (!counts.is_object()) throw std::invalid_argument("\"counts\" is not an object");
    for (const auto& [key, value] : counts.items()) {
        if (!value.is_number_integer()) throw std::invalid_argument("a count is not an integer");
        meta.counts[key] = value.get<int64_t>();
    }
    const auto& hasProblem = required(object, "hasProblem");
    if (!hasProblem.is_boolean()) throw std::invalid_argument("\"hasProblem\" is not true or false");
    meta.hasProblem = hasProblem.get<bool>();
    meta.primaryFileName = requiredString(object, "primaryFileName");
    if (auto it = object.find("project"); it != object.end() && !it->is_null()) {
        if (!it->is_string()) throw std::invalid_argument("\"project\" is not a string");
        meta.project = it->get<std::string>();
    }
    return meta;
}

}  // namespace tessaline
