#include "host/JsonAccessors.h"

std::string GetJsonString(const nlohmann::json& object, const std::string& key, const std::string& defaultValue) {
    if (!object.is_object()) return defaultValue;
    auto member = object.find(key);
    if (member == object.end() || !member->is_string()) return defaultValue;
    return member->get<std::string>();
}

bool GetJsonObject(const nlohmann::json& object, const std::string& key, nlohmann::json& out) {
    if (!object.is_object()) return false;
    auto member = object.find(key);
    if (member == object.end() || !member->is_object()) return false;
    out = *member;
    return true;
}
