#include "deck-sim/Outbox.h"

#include <utility>

void Outbox::Append(Outbox other) {
    for (auto& message : other.toPlugin) toPlugin.push_back(std::move(message));
    for (auto& message : other.toInspector) toInspector.push_back(std::move(message));
    for (auto& message : other.toPage) toPage.push_back(std::move(message));
    for (auto& press : other.later) later.push_back(std::move(press));
}

nlohmann::json Outbox::PageLog(const std::string& kind, const std::string& text, const nlohmann::json& say) {
    nlohmann::json line = {{"type", "log"}, {"kind", kind}, {"text", text}};
    if (!say.is_null()) line["say"] = say;
    return line;
}
