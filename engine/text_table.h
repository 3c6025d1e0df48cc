// A plain text table for the summary: columns padded to their widest cell.
#ifndef ENGINE_TEXT_TABLE_H_
#define ENGINE_TEXT_TABLE_H_

#include <string>
#include <vector>

namespace market {

class TextTable {
 public:
  // The header row; right_aligned holds one flag per column (numbers are aligned right).
  TextTable(std::vector<std::string> header, std::vector<bool> right_aligned);

  // A row with one cell per column.
  void Add(std::vector<std::string> row);

  // Every row, header first, each line starting with `indent`, cells two spaces apart, trailing
  // spaces cut, each ended by a newline.
  std::string Render(const std::string& indent) const;

 private:
  std::vector<std::vector<std::string>> rows_;
  std::vector<bool> right_;
};

}  // namespace market

#endif  // ENGINE_TEXT_TABLE_H_
