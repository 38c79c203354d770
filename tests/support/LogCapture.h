#pragma once
// Runs the log in a fresh working directory for one test and reads back its
// records. The previous working directory is restored afterwards.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/Log.h"
#include "support/TemporaryDirectory.h"

class LogCapture {
public:
    LogCapture() : m_previous(std::filesystem::current_path()), m_directory("kestrel-log-capture") {
        std::filesystem::current_path(m_directory.Path());
        StartLogging();
    }
    ~LogCapture() {
        StopLogging();
        std::filesystem::current_path(m_previous);
    }

    // The records at critical level, each line as written.
    std::vector<std::string> CriticalLines() const { return LinesContaining("[critical]"); }

    // The lines that contain |text|, without their line ends.
    std::vector<std::string> LinesContaining(const std::string& text) const {
        std::ifstream file(m_directory.Path() / "logs" / "rotating.txt", std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find(text) != std::string::npos) lines.push_back(line);
        }
        return lines;
    }

private:
    std::filesystem::path m_previous;
    TemporaryDirectory m_directory;
};
