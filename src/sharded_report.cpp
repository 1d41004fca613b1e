#include "sharded_report.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>

namespace pairhits {

namespace {

// Records of all shards in a range: a range's text is then about 180 KiB on
// typical tables, enough that handing it over costs little beside it.
constexpr std::size_t kRangeRecords = 2048;
// Slots of text: one being formatted by each member, and this many more,
// formatted and waiting to be written. A few are enough to keep the
// members busy however many there are; each takes a range's text.
constexpr std::size_t kWaitingSlots = 2;
// Records whose lists are fetched ahead of their formatting: enough to
// cover a cache miss.
constexpr std::size_t kAhead = 16;

struct slot {
  std::vector<char> text;
  std::size_t used = 0;
  bool full = false;  // formatted and not yet written
};

// Formats ranges of names, gathered from every shard, into slots.
class RangeFormatter {
 public:
  explicit RangeFormatter(const std::vector<std::unique_ptr<ReadTable>>& tables) : tables_(tables) {}

  // Formats the records whose names lie in [low, high) (null: unbounded),
  // releasing their lists as it goes.
  void format(const char* low, const char* high, slot& s) {
    gather(low, high);
    merge();
    s.used = 0;
    for (std::size_t k = 0; k < order_.size(); ++k) {
      if (k + kAhead < order_.size()) fetch_lists(*order_[k + kAhead]);
      elem& r = *order_[k];
      std::string_view name;  // measured at the first pair (no data until then)
      for_each_pair(r, [&](const hit& a, const hit& b) {
        if (name.data() == nullptr) name = r.name;
        const std::size_t target_length = std::strlen(a.target);
        const std::size_t room = LineFormatter::room(name.size(), target_length);
        if (s.text.size() < s.used + room) s.text.resize(std::max(2 * s.text.size(), s.used + room));
        s.used =
            static_cast<std::size_t>(format_.line(s.text.data() + s.used, name, a, b, target_length) - s.text.data());
      });
      // Lists carved from a shard's blocks go with its memory; the others
      // are released here, where no other thread touches this record.
      RecordMemory::release_unpooled(r.hits1, r.n_hits1);
      RecordMemory::release_unpooled(r.hits2, r.n_hits2);
      r.hits1 = r.hits2 = nullptr;
      r.n_hits1 = r.n_hits2 = 0;
    }
  }

 private:
  // Each shard's records in the range, in name order, one run after another.
  void gather(const char* low, const char* high) {
    found_.clear();
    runs_.clear();
    for (const auto& table : tables_) {
      runs_.push_back(found_.size());
      const read_index* index = table->index();
      // The range ends at the first record of the next one.
      const elem* end = nullptr;
      if (high != nullptr) {
        kb_walk_seek_str(index, high, walk_);
        if (kb_walk_valid(walk_)) end = &kb_walk_record(walk_);
      }
      if (low != nullptr) {
        kb_walk_seek_str(index, low, walk_);
      } else {
        kb_walk_first_str(index, walk_);
      }
      for (; kb_walk_valid(walk_) && &kb_walk_record(walk_) != end; kb_walk_next_str(index, walk_)) {
        elem& r = kb_walk_record(walk_);
        __builtin_prefetch(r.name);  // the merge reads it
        found_.push_back(&r);
      }
    }
    runs_.push_back(found_.size());
  }

  // The runs merged by name into order_.
  void merge() {
    order_.clear();
    heads_.clear();
    for (std::size_t k = 0; k + 1 < runs_.size(); ++k) {
      if (runs_[k] < runs_[k + 1]) heads_.push_back({runs_[k], runs_[k + 1]});
    }
    const auto later = [this](const run& a, const run& b) { return std::strcmp(name_of(a), name_of(b)) > 0; };
    std::make_heap(heads_.begin(), heads_.end(), later);
    while (heads_.size() > 2) {
      std::pop_heap(heads_.begin(), heads_.end(), later);
      run& r = heads_.back();
      order_.push_back(found_[r.next++]);
      if (r.next < r.end) {
        std::push_heap(heads_.begin(), heads_.end(), later);
      } else {
        heads_.pop_back();
      }
    }
    // The last two runs by one comparison a record, as two shards always are.
    if (heads_.size() == 2) {
      run& a = heads_[0];
      run& b = heads_[1];
      while (a.next < a.end && b.next < b.end) {
        order_.push_back(found_[std::strcmp(name_of(a), name_of(b)) < 0 ? a.next++ : b.next++]);
      }
    }
    for (const run& r : heads_) order_.insert(order_.end(), found_.begin() + static_cast<std::ptrdiff_t>(r.next),
                                              found_.begin() + static_cast<std::ptrdiff_t>(r.end));
  }

  struct run {
    std::size_t next;
    std::size_t end;
  };
  const char* name_of(const run& r) const { return found_[r.next]->name; }

  const std::vector<std::unique_ptr<ReadTable>>& tables_;
  kb_walk walk_;
  std::vector<elem*> found_;
  std::vector<std::size_t> runs_;  // run k is found_[runs_[k] .. runs_[k + 1])
  std::vector<run> heads_;
  std::vector<elem*> order_;
  LineFormatter format_;
};

// The first names of the ranges after the first, from the largest shard.
std::vector<const char*> range_starts(const std::vector<std::unique_ptr<ReadTable>>& tables) {
  std::size_t total = 0;
  const read_index* largest = tables.front()->index();
  for (const auto& t : tables) {
    total += static_cast<std::size_t>(t->index()->total_records);
    if (t->index()->total_records > largest->total_records) largest = t->index();
  }
  const std::size_t ranges = total / kRangeRecords;
  if (ranges <= 1) return {};
  const std::vector<const char*> names = kb_depth_names_str(largest, ranges);
  std::vector<const char*> starts;
  for (std::size_t k = 1; k < ranges; ++k) {
    const char* name = names[k * names.size() / ranges];
    if (starts.empty() || starts.back() != name) starts.push_back(name);
  }
  return starts;
}

class RangeReport {
 public:
  RangeReport(const std::vector<std::unique_ptr<ReadTable>>& tables, int members)
      : tables_(tables), starts_(range_starts(tables)), slots_(static_cast<std::size_t>(members) + kWaitingSlots) {}

  // A member's part (k >= 1): formats ranges while there are any.
  void produce() {
    RangeFormatter format(tables_);
    for (;;) {
      const std::size_t j = next_range_.fetch_add(1);
      if (j >= ranges()) return;
      {
        std::unique_lock<std::mutex> guard(lock_);
        freed_.wait(guard, [&] { return slot_free(j) || stopped_; });
        if (stopped_) return;
      }
      fill(format, j);
    }
  }

  // The caller's part: formats ranges too, and writes them all in order.
  bool write(ReportWriter& out) {
    RangeFormatter format(tables_);
    for (;;) {
      const std::size_t j = next_range_.fetch_add(1);
      if (j >= ranges()) break;
      while (!slot_free(j)) {
        if (!write_next(out, true)) return false;
      }
      fill(format, j);
      while (written_ < j + 1) {
        if (!write_next(out, false)) break;
      }
      if (out.failed()) return stop();
    }
    while (written_ < ranges()) {
      if (!write_next(out, true)) return false;
    }
    return true;
  }

 private:
  std::size_t ranges() const { return starts_.size() + 1; }
  slot& slot_of(std::size_t j) { return slots_[j % slots_.size()]; }
  // Range j's slot is free once the range before it in that slot is written.
  bool slot_free(std::size_t j) const { return j < written_ + slots_.size(); }

  void fill(RangeFormatter& format, std::size_t j) {
    slot& s = slot_of(j);
    format.format(j == 0 ? nullptr : starts_[j - 1], j < starts_.size() ? starts_[j] : nullptr, s);
    {
      std::lock_guard<std::mutex> guard(lock_);
      s.full = true;
    }
    filled_.notify_all();
  }

  // Writes the next range, waiting for it if `wait`; false if it was not
  // ready (without waiting) or the writing failed.
  bool write_next(ReportWriter& out, bool wait) {
    slot& s = slot_of(written_);
    {
      std::unique_lock<std::mutex> guard(lock_);
      if (!s.full && !wait) return false;
      filled_.wait(guard, [&] { return s.full; });
    }
    out.text(s.text.data(), s.used);
    if (out.failed()) return stop();
    {
      std::lock_guard<std::mutex> guard(lock_);
      s.full = false;
      ++written_;
    }
    freed_.notify_all();
    return true;
  }

  bool stop() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stopped_ = true;
    }
    freed_.notify_all();
    return false;
  }

  const std::vector<std::unique_ptr<ReadTable>>& tables_;
  const std::vector<const char*> starts_;
  std::vector<slot> slots_;
  std::atomic<std::size_t> next_range_{0};
  std::mutex lock_;
  std::condition_variable filled_;  // the caller waits for a slot's text
  std::condition_variable freed_;   // members wait for a slot
  std::size_t written_ = 0;         // ranges written; the caller's, read under lock_
  bool stopped_ = false;
};

}  // namespace

bool report_shards(std::vector<std::unique_ptr<ReadTable>>& tables, WorkCrew& crew, ReportWriter& out) {
  bool written = false;
  {
    RangeReport report(tables, crew.size());
    crew.run([&](int k) {
      if (k == 0) {
        written = report.write(out);
      } else {
        report.produce();
      }
    });
  }
  if (!written) return false;
  out.flush();
  // Every list is released or lies in its shard's blocks: each table goes
  // without a walk, on a thread of its own.
  crew.run([&](int k) {
    tables[static_cast<std::size_t>(k)]->lists_released();
    tables[static_cast<std::size_t>(k)].reset();
  });
  return !out.failed();
}

}  // namespace pairhits
