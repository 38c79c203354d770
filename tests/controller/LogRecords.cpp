#include "LogRecords.h"

#include <fstream>
#include <random>
#include <sstream>

#include "diagnostics/Log.h"

namespace fs = std::filesystem;

LogRecords::LogRecords() : m_previous(fs::current_path()) {
    std::random_device random;
    m_directory = fs::temp_directory_path() / ("kestrel-controller-log-" + std::to_string(random()));
    fs::create_directories(m_directory);
    fs::current_path(m_directory);
    StartLogging();
}

LogRecords::~LogRecords() {
    StopLogging();
    fs::current_path(m_previous);
    std::error_code ignored;
    fs::remove_all(m_directory, ignored);
}

std::string LogRecords::Contents() const {
    std::ifstream file(m_directory / "logs" / "rotating.txt", std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

size_t LogRecords::Count(const std::string& text) const {
    std::string content = Contents();
    size_t count = 0;
    for (size_t at = content.find(text); at != std::string::npos; at = content.find(text, at + 1)) ++count;
    return count;
}
