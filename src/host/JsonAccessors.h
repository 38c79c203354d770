#pragma once
// Tolerant readers of host messages and settings: wrong types or missing
// members give the default instead of an exception.

#include <nlohmann/json.hpp>
#include <string>

// The string member |key| of |object|, or |defaultValue| when |object| is not
// an object, has no such member, or the member is not a string.
std::string GetJsonString(const nlohmann::json& object, const std::string& key,
                          const std::string& defaultValue = "");

// Copies the object member |key| of |object| into |out| and returns true; when
// there is no such object member, leaves |out| unchanged and returns false.
bool GetJsonObject(const nlohmann::json& object, const std::string& key, nlohmann::json& out);
