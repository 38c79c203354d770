#pragma once
// The address of the element on whose behalf a controller message is sent:
// the controller client itself (kind 0) or a button (kind 1). Immutable, so
// one address may be shared as the source of many messages.

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

class ElementAddress {
public:
    static constexpr int32_t kNetworkClient = 0;
    static constexpr int32_t kButton = 1;

    ElementAddress(int32_t kind, const char* id, const char* function);

    int32_t Kind() const { return m_kind; }
    const std::string& Id() const { return m_id; }
    const std::string& Function() const { return m_function; }

    // {"class": "networkClient" | "button" | "unknown", "function": ..., "id": ...}
    nlohmann::json ToJson() const;

private:
    const int32_t m_kind;
    const std::string m_id;
    const std::string m_function;
};
