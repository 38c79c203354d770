#pragma once
// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes.
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

class TemporaryDirectory {
public:
    explicit TemporaryDirectory(const std::string& prefix) {
        std::random_device random;
        m_path = std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(random()));
        std::filesystem::create_directories(m_path);
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};
