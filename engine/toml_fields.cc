#include "engine/toml_fields.h"

#include <algorithm>

namespace market {
namespace {

std::string Quote(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string Range(int64_t low, int64_t high) {
  return "an integer from " + std::to_string(low) + " to " + std::to_string(high);
}

int64_t IntValue(const toml::node& node, std::string_view key, int64_t low, int64_t high) {
  const auto* value = node.as_integer();
  if (value == nullptr || value->get() < low || value->get() > high) {
    Fail(node, std::string(key) + " must be " + Range(low, high));
  }
  return value->get();
}

std::string TextValue(const toml::node& node, std::string_view key, const TextRule& rule) {
  const auto* value = node.as_string();
  if (value == nullptr || !rule.accepts(value->get())) {
    Fail(node, std::string(key) + " must be " + rule.description);
  }
  return value->get();
}

}  // namespace

int LineOf(const toml::source_region& where) {
  return std::max(1, static_cast<int>(where.begin.line));
}

void Fail(const toml::node& node, std::string what) {
  throw FieldFault{LineOf(node.source()), std::move(what)};
}

TableReader::TableReader(const toml::table& table, std::string where)
    : table_(table), where_(std::move(where)) {}

const toml::node* TableReader::Find(std::string_view key) {
  known_.insert(std::string(key));
  return table_.get(key);
}

const toml::node& TableReader::Require(std::string_view key) {
  const toml::node* node = Find(key);
  if (node == nullptr) Fail(table_, "missing key " + Quote(key) + " in " + where_);
  return *node;
}

int64_t TableReader::Int(std::string_view key, int64_t low, int64_t high, int64_t fallback) {
  const toml::node* node = Find(key);
  return node == nullptr ? fallback : IntValue(*node, key, low, high);
}

int64_t TableReader::RequireInt(std::string_view key, int64_t low, int64_t high) {
  return IntValue(Require(key), key, low, high);
}

std::string TableReader::RequireText(std::string_view key, const TextRule& rule) {
  return TextValue(Require(key), key, rule);
}

std::pair<int64_t, int64_t> TableReader::Pair(std::string_view key, int64_t low_bound,
                                              int64_t high_bound,
                                              std::pair<int64_t, int64_t> fallback) {
  const toml::node* node = Find(key);
  if (node == nullptr) return fallback;
  const std::string fault = std::string(key) + " must be a pair [low, high] of " +
                            Range(low_bound, high_bound) + ", low <= high";
  const toml::array* array = node->as_array();
  if (array == nullptr || array->size() != 2) Fail(*node, fault);
  const auto* low = (*array)[0].as_integer();
  const auto* high = (*array)[1].as_integer();
  if (low == nullptr || high == nullptr) Fail(*node, fault);
  const int64_t l = low->get();
  const int64_t h = high->get();
  if (l < low_bound || h > high_bound || l > h) Fail(*node, fault);
  return {l, h};
}

std::vector<std::string> TableReader::Texts(std::string_view key, std::vector<std::string> fallback,
                                            bool allow_empty, const TextRule& rule) {
  const toml::node* node = Find(key);
  if (node == nullptr) return fallback;
  const toml::array* array = node->as_array();
  if (array == nullptr) Fail(*node, std::string(key) + " must be an array of " + rule.plural);
  if (array->empty() && !allow_empty) Fail(*node, std::string(key) + " must not be empty");
  std::vector<std::string> texts;
  for (const toml::node& item : *array) texts.push_back(TextValue(item, key, rule));
  return texts;
}

std::vector<const toml::table*> TableReader::Tables(std::string_view key) {
  std::vector<const toml::table*> tables;
  const toml::node* node = Find(key);
  if (node == nullptr) return tables;
  const std::string fault = "[[" + std::string(key) + "]] must be an array of tables";
  const toml::array* array = node->as_array();
  if (array == nullptr) Fail(*node, fault);
  for (const toml::node& item : *array) {
    const toml::table* table = item.as_table();
    if (table == nullptr) Fail(item, fault);
    tables.push_back(table);
  }
  return tables;
}

void TableReader::RejectUnknownKeys() const {
  for (auto&& [key, node] : table_) {
    if (known_.count(key.str()) == 0) {
      throw FieldFault{LineOf(key.source()), "unknown key " + Quote(key.str()) + " in " + where_};
    }
  }
}

}  // namespace market
