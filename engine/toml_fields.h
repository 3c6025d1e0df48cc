// Reading a TOML document table by table: keys never asked for are refused (a misspelt setting
// is an error, not a silent default), values are checked against their range or rule. A fault is
// thrown as a FieldFault naming the line it is on.
#ifndef ENGINE_TOML_FIELDS_H_
#define ENGINE_TOML_FIELDS_H_

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <toml++/toml.h>

namespace market {

// A fault in a document, thrown by the readers and caught where the document is loaded.
struct FieldFault {
  int line = 1;  // 1-based
  std::string what;
};

// The line a node or key starts on (1 when the parser did not record one).
int LineOf(const toml::source_region& where);

// Throws a FieldFault on the node's line.
[[noreturn]] void Fail(const toml::node& node, std::string what);

// Which strings a text value may hold, and how faults describe them: "KEY must be DESCRIPTION",
// "KEY must be an array of PLURAL".
struct TextRule {
  bool (*accepts)(std::string_view text);
  std::string description;  // e.g. "a string of 1 to 15 printable characters without spaces"
  std::string plural;       // e.g. "names"
};

class TableReader {
 public:
  // `where` names the table in faults: "missing key 'x' in WHERE". The table must outlive the
  // reader.
  TableReader(const toml::table& table, std::string where);

  // The value under `key`, or null; the key counts as known either way.
  const toml::node* Find(std::string_view key);
  // The value under `key`; missing, it is a fault on the table's line.
  const toml::node& Require(std::string_view key);

  // An integer in [low, high]; absent: fallback.
  int64_t Int(std::string_view key, int64_t low, int64_t high, int64_t fallback);
  int64_t RequireInt(std::string_view key, int64_t low, int64_t high);

  // A string the rule accepts.
  std::string RequireText(std::string_view key, const TextRule& rule);

  // A pair [low, high] of integers within [low_bound, high_bound], low <= high; absent: fallback.
  std::pair<int64_t, int64_t> Pair(std::string_view key, int64_t low_bound, int64_t high_bound,
                                   std::pair<int64_t, int64_t> fallback);

  // An array of strings the rule accepts, empty only when allowed; absent: fallback.
  std::vector<std::string> Texts(std::string_view key, std::vector<std::string> fallback,
                                 bool allow_empty, const TextRule& rule);

  // The tables of an array of tables ("[[key]]"); absent: none.
  std::vector<const toml::table*> Tables(std::string_view key);

  // A fault on the first key of the table that was never asked for.
  void RejectUnknownKeys() const;

 private:
  const toml::table& table_;
  std::string where_;
  std::set<std::string, std::less<>> known_;
};

}  // namespace market

#endif  // ENGINE_TOML_FIELDS_H_
