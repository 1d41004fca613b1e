// The threaded report: the shards' records formatted on the crew's threads
// and merged in name order on the caller's.
//
// Each member formats its shard's records in name order into chunks of
// report text (two per shard, one filled while the other is read), noting
// where each record's lines end. The caller, member 0, formats shard 0
// itself as its lines are needed, and writes the records of all shards in
// name order: a name lies in one shard only, so a merge of the shards'
// records by name gives the one report of the whole table, the records in
// byte-wise name order and each one's lines in the order of its mate-1
// list, as one thread writes it. A member releases its shard's lists as it
// formats them, and its read table once the caller has read its last chunk.
#pragma once

#include <memory>
#include <vector>

#include "read_table.h"
#include "report_writer.h"
#include "work_crew.h"

namespace pairhits {

// Writes the report of the shards in tables[0 .. crew.size()) to `out`;
// false on a write error. The tables are released as their lines are written.
bool report_shards(std::vector<std::unique_ptr<ReadTable>>& tables, WorkCrew& crew, ReportWriter& out);

}  // namespace pairhits
