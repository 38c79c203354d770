#include <cstdlib>

#include "support/ScopedEnvironment.h"

ScopedEnvironment::ScopedEnvironment(std::string name, std::optional<std::string> value)
    : m_name(std::move(name)) {
    if (const char* previous = std::getenv(m_name.c_str())) m_previous = previous;
    Set(m_name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    Set(m_name, m_previous);
}

void ScopedEnvironment::Set(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}
