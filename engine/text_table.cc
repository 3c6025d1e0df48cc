#include "engine/text_table.h"

#include <algorithm>
#include <utility>

namespace market {

TextTable::TextTable(std::vector<std::string> header, std::vector<bool> right_aligned)
    : right_(std::move(right_aligned)) {
  rows_.push_back(std::move(header));
}

void TextTable::Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }

std::string TextTable::Render(const std::string& indent) const {
  std::vector<size_t> widths(rows_[0].size(), 0);
  for (const auto& row : rows_) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string text;
  for (const auto& row : rows_) {
    std::string line = indent;
    for (size_t c = 0; c < row.size(); ++c) {
      if (c > 0) line += "  ";
      const std::string pad(widths[c] - row[c].size(), ' ');
      line += right_[c] ? pad + row[c] : row[c] + pad;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    text += line + "\n";
  }
  return text;
}

}  // namespace market
