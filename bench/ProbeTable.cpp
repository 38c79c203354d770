#include "ProbeTable.h"

#include <algorithm>

ProbeTable::ProbeTable(std::vector<std::string> header) {
    m_rows.push_back(std::move(header));
}

void ProbeTable::Add(std::vector<std::string> cells) {
    cells.resize(m_rows.front().size());
    m_rows.push_back(std::move(cells));
}

std::string ProbeTable::Markdown() const {
    std::vector<size_t> widths(m_rows.front().size(), 3);
    for (const auto& row : m_rows) {
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    auto line = [&widths](const std::vector<std::string>& cells) {
        std::string text = "|";
        for (size_t i = 0; i < cells.size(); ++i)
            text += " " + cells[i] + std::string(widths[i] - cells[i].size(), ' ') + " |";
        return text + "\n";
    };
    std::string text = line(m_rows.front());
    text += "|";
    for (size_t width : widths) text += std::string(width + 2, '-') + "|";
    text += "\n";
    for (size_t i = 1; i < m_rows.size(); ++i) text += line(m_rows[i]);
    return text;
}
