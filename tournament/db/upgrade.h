// Converting a tournament database of an earlier schema version (store.h's kOldestUpgradable on)
// to the current one, in one transaction: the schema made as a new file's (CreateSchema), every
// session's goods and entries packed again (session_codec.h) with the lineups' entries and the
// scenarios' goods kept once, bids kept, and the running totals (totals.h) counted from the
// sessions. A version-3 file's sessions are also renumbered by their place in the canonical order
// (Store::FirstId), which needs each tournament's file: the one recorded in the database, or one
// given whose hash matches.
#ifndef TOURNAMENT_UPGRADE_H_
#define TOURNAMENT_UPGRADE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tournament {

struct UpgradeReport {
  int64_t from = 0;  // the version found; the current one when there was nothing to do
  int64_t tournaments = 0;
  int64_t sessions = 0;
};

// Throws DbError (one line) when the file is not a tournament database of a version it converts,
// a stored session cannot be read, or (version 3) a tournament's file cannot be read or is not
// the one it was run from; the file is then left as it was.
UpgradeReport UpgradeDatabase(const std::string& path, const std::vector<std::string>& files = {});

}  // namespace tournament

#endif  // TOURNAMENT_UPGRADE_H_
