#include "Tessaline/Support/JsonFields.hpp"

#include <stdexcept>

namespace tessaline {

namespace {

std::invalid_argument fault(const char* key, const char* what) {
    return std::invalid_argument(std::string("\"") + key + "\" " + what);
}

}  // namespace

const nlohmann::json& requiredField(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) throw fault(key, "is missing");
    return *it;
}

std::string requiredString(const nlohmann::json& object, const char* key) {
    const auto& value = requiredField(object, key);
    if (!value.is_string()) throw fault(key, "is not a string");
    return value.get<std::string>();
}

bool requiredBool(const nlohmann::json& object, const char* key) {
    const auto& value = requiredField(object, key);
    if (!value.is_boolean()) throw fault(key, "is not true or false");
    return value.get<bool>();
}

int64_t requiredInteger(const nlohmann::json& object, const char* key) {
    const auto& value = requiredField(object, key);
    if (!value.is_number_integer()) throw fault(key, "is not an integer");
    return value.get<int64_t>();
}

}  // namespace tessaline
