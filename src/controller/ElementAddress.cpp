#include "controller/ElementAddress.h"

ElementAddress::ElementAddress(int32_t kind, const char* id, const char* function)
    : m_kind(kind), m_id(id ? id : ""), m_function(function ? function : "") {}

nlohmann::json ElementAddress::ToJson() const {
    const char* elementClass = "unknown";
    if (m_kind == kNetworkClient) elementClass = "networkClient";
    if (m_kind == kButton) elementClass = "button";
    return nlohmann::json{{"class", elementClass}, {"id", m_id}, {"function", m_function}};
}
