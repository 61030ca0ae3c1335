#include "Tessaline/Report/LogMeta.hpp"

#include "Tessaline/Support/JsonFields.hpp"

#include <stdexcept>

namespace tessaline {

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
    if (wasStopped) object["wasStopped"] = true;
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
    const auto& counts = requiredField(object, "counts");
    if (!counts.is_object()) throw std::invalid_argument("\"counts\" is not an object");
    for (const auto& [key, value] : counts.items()) {
        if (!value.is_number_integer()) throw std::invalid_argument("a count is not an integer");
        meta.counts[key] = value.get<int64_t>();
    }
    meta.hasProblem = requiredBool(object, "hasProblem");
    if (auto it = object.find("wasStopped"); it != object.end()) {
        if (!it->is_boolean()) throw std::invalid_argument("\"wasStopped\" is not a Boolean");
        meta.wasStopped = it->get<bool>();
    }
    meta.primaryFileName = requiredString(object, "primaryFileName");
    if (auto it = object.find("project"); it != object.end() && !it->is_null()) {
        if (!it->is_string()) throw std::invalid_argument("\"project\" is not a string");
        meta.project = it->get<std::string>();
    }
    return meta;
}

}  // namespace tessaline
