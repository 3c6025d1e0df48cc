#include "report/html_page.h"

#include <algorithm>

#include "report/html_escape.h"

namespace report {
namespace {

constexpr std::string_view kStyle = R"(
body { font-family: "DejaVu Sans", Arial, Helvetica, sans-serif; margin: 24px; color: #1a1a1a;
       background: #ffffff; max-width: 1200px; }
h1 { font-size: 24px; margin: 0 0 4px 0; }
h2 { font-size: 19px; margin: 28px 0 8px 0; border-bottom: 1px solid #bbbbbb; }
h3 { font-size: 16px; margin: 18px 0 6px 0; }
p.subtitle { margin: 0 0 16px 0; color: #444444; }
table { border-collapse: collapse; margin: 6px 0 12px 0; font-size: 13px; }
th, td { border: 1px solid #cccccc; padding: 3px 8px; text-align: left; }
th { background: #eeeeee; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; }
.charts { display: flex; flex-wrap: wrap; gap: 12px; }
figure.good { margin: 0; }
figcaption { font-size: 13px; margin: 2px 0 8px 0; }
svg { background: #ffffff; border: 1px solid #dddddd; }
svg text { font-family: "DejaVu Sans", Arial, Helvetica, sans-serif; font-size: 11px;
           fill: #1a1a1a; }
svg .chart-title { font-size: 13px; font-weight: bold; }
svg .axis-label { font-size: 12px; }
svg .axis { stroke: #333333; stroke-width: 1; }
svg .grid { stroke: #e4e4e4; stroke-width: 1; }
svg .clock { stroke: #555555; stroke-width: 1.5; fill: none; }
svg .clock-unknown { stroke: #999999; stroke-width: 1.5; stroke-dasharray: 4 3; fill: none; }
svg .collision { stroke: #D55E00; stroke-width: 2.5; }
svg .reference { stroke: #777777; stroke-width: 1; stroke-dasharray: 2 3; }
svg .whisker { stroke: #0072B2; stroke-width: 2; }
svg .box { fill: #56B4E9; fill-opacity: 0.25; stroke: #0072B2; stroke-width: 1; }
svg .median { stroke: #0072B2; stroke-width: 2; }
.legend { font-size: 13px; margin: 6px 0; }
.legend span.item { margin-right: 14px; white-space: nowrap; }
.note { color: #444444; font-size: 13px; }
)";

}  // namespace

std::string HtmlPage(std::string_view title, std::string_view subtitle, std::string_view body,
                     std::string_view head) {
  std::string out = "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  // An empty icon, so a browser asks for no favicon.
  out += "<link rel=\"icon\" href=\"data:,\">\n";
  out += "<title>" + EscapeHtml(title) + "</title>\n<style>" + std::string(kStyle) + "</style>\n";
  out += head;
  out += "</head>\n<body>\n";
  out += "<h1>" + EscapeHtml(title) + "</h1>\n";
  out += "<p class=\"subtitle\">" + EscapeHtml(subtitle) + "</p>\n";
  out += body;
  out += "</body>\n</html>\n";
  return out;
}

std::string Heading(std::string_view text) { return "<h2>" + EscapeHtml(text) + "</h2>\n"; }

HtmlTable::HtmlTable(std::string_view cls, const std::vector<std::string>& headers,
                     const std::vector<size_t>& numeric_columns)
    : cls_(cls), headers_(headers), numeric_(numeric_columns) {}

void HtmlTable::AddRow(const std::vector<std::string>& cells, std::string_view row_class,
                       const std::vector<std::pair<std::string, std::string>>& data) {
  rows_ += "<tr";
  if (!row_class.empty()) rows_ += " class=\"" + EscapeHtml(row_class) + "\"";
  for (const auto& [name, value] : data) rows_ += " " + name + "=\"" + EscapeHtml(value) + "\"";
  rows_ += ">";
  for (size_t i = 0; i < cells.size(); ++i) {
    const bool num = std::find(numeric_.begin(), numeric_.end(), i) != numeric_.end();
    rows_ += num ? "<td class=\"num\">" : "<td>";
    rows_ += EscapeHtml(cells[i]) + "</td>";
  }
  rows_ += "</tr>\n";
}

std::string HtmlTable::Html() const {
  std::string out = "<table class=\"" + EscapeHtml(cls_) + "\">\n<thead><tr>";
  for (size_t i = 0; i < headers_.size(); ++i) {
    const bool num = std::find(numeric_.begin(), numeric_.end(), i) != numeric_.end();
    out += (num ? "<th class=\"num\">" : "<th>") + EscapeHtml(headers_[i]) + "</th>";
  }
  out += "</tr></thead>\n<tbody>\n" + rows_ + "</tbody>\n</table>\n";
  return out;
}

}  // namespace report
