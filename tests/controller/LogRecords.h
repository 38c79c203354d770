#pragma once
// Opens the process log in a fresh working directory for one test and reads
// it back, so tests can check the lines that the controller link writes.

#include <filesystem>
#include <string>

class LogRecords {
public:
    LogRecords();
    ~LogRecords();
    std::string Contents() const;
    size_t Count(const std::string& text) const;

private:
    std::filesystem::path m_previous;
    std::filesystem::path m_directory;
};
