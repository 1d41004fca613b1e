// The field splitter: the rules of line_rules.h computed 64 bytes at a time
// from masks (field_masks.h), in one pass. Each function here gives the
// verdict, the mate and the fields that split_hit_line_plain gives for the
// same line; the plain build uses that one instead.
#pragma once

#include <cstddef>
#include <cstdint>

#include "line_rules.h"
#include "read_ahead.h"

namespace pairhits {

// split_hit_line_plain's verdict, mate and fields.
bool split_hit_line(padded_view line, hit_fields& fields, std::int32_t& mate, bool terminate = true);

// split_hit_line under `format`: the masks for the default format, the plain
// rule for the others.
bool split_hit_line(padded_view line, hit_fields& fields, std::int32_t& mate, const line_format& format,
                    bool terminate = true);

// The same verdict and mate, leaving the line as it was, but only the name
// and `marked` are set (the other fields are empty): the fields after the
// first are counted, not located.
bool check_hit_line(padded_view line, hit_fields& fields, std::int32_t& mate);

}  // namespace pairhits
