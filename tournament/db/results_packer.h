// A virtual-time session's results packed for the database in one pass: the same PackedSession,
// byte for byte, as Pack (packed_session.h) of the record ReadResults (results_reader.h) fills,
// without the record's per-good and per-entry rows of strings in between. This is the runner's
// hot path: a session of built-in bidders ends every few microseconds.
#ifndef TOURNAMENT_RESULTS_PACKER_H_
#define TOURNAMENT_RESULTS_PACKER_H_

#include "engine/results.h"
#include "tournament/db/packed_session.h"
#include "tournament/file/tournament_file.h"

namespace tournament {

// Fills packed.record's revenue, measures, outcome, detail and bids, packed.participants,
// packed.goods and packed.plan (reusing their memory), goods_total and goods_sold. The record's
// identity (key, scenario hash, clock, start, duration) is the caller's and left as it is; its
// goods and participants stay empty. Entries that are processes get no status: that is the process
// runner's to tell.
void PackResults(const market::Results& results, const Lineup& lineup, PackedSession& packed);

}  // namespace tournament

#endif  // TOURNAMENT_RESULTS_PACKER_H_
