// A whole HTML document that opens from disk with nothing fetched: the style sheet is inline,
// there is no external script, image, font or link; and HTML tables whose cells are escaped.
#ifndef REPORT_HTML_PAGE_H_
#define REPORT_HTML_PAGE_H_

#include <string>
#include <string_view>
#include <vector>

namespace report {

// The document: <!doctype html>, `title` (escaped) as its title and first heading, `subtitle`
// (escaped) under it, then `body` (HTML as given); `head` (HTML as given) ends the <head>.
std::string HtmlPage(std::string_view title, std::string_view subtitle, std::string_view body,
                     std::string_view head = {});

// <h2> with escaped text.
std::string Heading(std::string_view text);

class HtmlTable {
 public:
  // Header cells are escaped; numeric columns (by index) are right-aligned.
  HtmlTable(std::string_view cls, const std::vector<std::string>& headers,
            const std::vector<size_t>& numeric_columns = {});
  // One row of escaped cell texts; `row_class` and `data` (raw name, value) go on the <tr>.
  void AddRow(const std::vector<std::string>& cells, std::string_view row_class = "",
              const std::vector<std::pair<std::string, std::string>>& data = {});
  std::string Html() const;

 private:
  std::string cls_;
  std::vector<std::string> headers_;
  std::vector<size_t> numeric_;
  std::string rows_;
};

}  // namespace report

#endif  // REPORT_HTML_PAGE_H_
