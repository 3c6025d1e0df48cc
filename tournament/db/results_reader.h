// The market's results (engine/results.h), or their JSON document (engine/results_json.h) as
// marketd writes it, as a session record: goods, bids, and each lineup entry's figures summed
// over the auctions. Both forms give the same record.
#ifndef TOURNAMENT_RESULTS_READER_H_
#define TOURNAMENT_RESULTS_READER_H_

#include <string>
#include <string_view>

#include "engine/results.h"
#include "tournament/file/session_record.h"
#include "tournament/file/tournament_file.h"

namespace tournament {

// Fills record.goods, participants (one per lineup entry, in order), bids, revenue, outcome and
// detail from the results.
void ReadResults(const market::Results& results, const Lineup& lineup, SessionRecord& record);

// The same from the JSON document. Fills record.goods, participants (one per lineup entry, in
// order), bids, revenue, outcome and detail. Returns an empty string, or a one-line fault when the
// text is not such a document (the record is then left with outcome "failed").
std::string ReadResults(std::string_view json, const Lineup& lineup, SessionRecord& record);

// Empties the record's figures and gives it one participant row per lineup entry, all zero.
void StartRecord(const Lineup& lineup, SessionRecord& record);

// A good's outcome as the database names it: "pending", "sold", "unsold" or "interrupted".
const char* OutcomeName(market::Outcome outcome);

// Whether a buyer's name belongs to a lineup entry: the name itself, or a numbered member of the
// group it stands for (name1, name2, ...).
bool BelongsTo(std::string_view buyer, std::string_view entry);

}  // namespace tournament

#endif  // TOURNAMENT_RESULTS_READER_H_
