#include "diagnostics/BoundedJson.h"

namespace BoundedJson {

bool ExceedsDepth(const std::string& text, size_t limit) {
    size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return true;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

bool Parse(const std::string& text, nlohmann::json& out, std::string& reason) {
    out = nullptr;
    if (ExceedsDepth(text)) {
        reason = "nested deeper than " + std::to_string(kMaxDepth) + " levels";
        return false;
    }
    try {
        out = nlohmann::json::parse(text);
        return true;
    } catch (const nlohmann::json::exception& error) {
        reason = error.what();
        out = nullptr;
        return false;
    }
}

}  // namespace BoundedJson
