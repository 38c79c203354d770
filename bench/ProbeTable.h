#pragma once
// One table of plugin_probe's figures, printed as Markdown with each column
// padded to one width, so that it reads in a terminal and pastes as it is
// into docs/performance.md. Not thread-safe.

#include <string>
#include <vector>

class ProbeTable {
public:
    explicit ProbeTable(std::vector<std::string> header);
    // Cells beyond the header's count are dropped, missing ones left empty.
    void Add(std::vector<std::string> cells);
    std::string Markdown() const;

private:
    std::vector<std::vector<std::string>> m_rows;  // the header first
};
