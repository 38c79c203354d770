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

// _putenv changes both the C runtime's copy (read by getenv) and the process's.
// "NAME=" removes the variable; an empty value therefore cannot be set.
void ScopedEnvironment::Set(const std::string& name, const std::optional<std::string>& value) {
    _putenv((name + "=" + value.value_or("")).c_str());
}
