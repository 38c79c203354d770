#pragma once
// Sets (or removes) one environment variable of the test process for the
// lifetime of the object and restores the previous value afterwards. Not
// thread-safe: use it on the test thread while no other thread reads the
// environment.

#include <optional>
#include <string>

class ScopedEnvironment {
public:
    // |value| empty (std::nullopt) removes the variable.
    ScopedEnvironment(std::string name, std::optional<std::string> value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    static void Set(const std::string& name, const std::optional<std::string>& value);

    std::string m_name;
    std::optional<std::string> m_previous;
};
