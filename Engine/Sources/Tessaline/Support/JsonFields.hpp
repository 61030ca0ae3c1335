#pragma once
// Strict reading of the program's own JSON files: a field must be present with its JSON
// type (no 0/1 for booleans, no strings for numbers). Each throws std::invalid_argument
// whose text names the key ("\"name\" is missing", "\"enabled\" is not true or false").

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace tessaline {

const nlohmann::json& requiredField(const nlohmann::json& object, const char* key);
std::string requiredString(const nlohmann::json& object, const char* key);
bool requiredBool(const nlohmann::json& object, const char* key);
int64_t requiredInteger(const nlohmann::json& object, const char* key);

}  // namespace tessaline
