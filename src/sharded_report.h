// The threaded report: the names cut into ranges, each range formatted by
// one member of the crew from every shard, the ranges written in order.
//
// Names at one depth of the largest shard's tree cut the names into ranges
// of about kRangeRecords records over all shards: a name's shard comes from
// a hash, so each shard's names spread over the name order as the largest
// one's do. The members, the caller among them, take the ranges in order,
// one at a time. For a range, a member gathers each shard's records in it (a
// walk from the range's first name to the next range's), merges them by
// name, and formats their lines into one of a few slots of text. The caller
// writes the slots' texts in range order. A name lies in one shard only, so
// the ranges, in order, hold every record of the whole table once, in
// byte-wise name order, and each record's lines in the order of its mate-1
// list: the report one thread writes. A slot is taken for a new range only
// once the caller has written the one before, so the text held at once is a
// few ranges' worth, whatever the table.
#pragma once

#include <memory>
#include <vector>

#include "read_table.h"
#include "report_writer.h"
#include "work_crew.h"

namespace pairhits {

// Writes the report of the shards in tables[0 .. crew.size()) to `out`;
// false on a write error. The tables are released once it is written.
bool report_shards(std::vector<std::unique_ptr<ReadTable>>& tables, WorkCrew& crew, ReportWriter& out);

}  // namespace pairhits
