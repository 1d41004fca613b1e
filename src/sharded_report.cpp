#include "sharded_report.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>

namespace pairhits {

namespace {

// Report text a chunk holds before it is handed over (one line more at most).
constexpr std::size_t kChunkBytes = 64 * 1024;

// The lines of one record, or of the part of them in one chunk (a record
// with more lines than a chunk holds goes on in the next).
struct piece {
  const char* name;
  std::size_t end;  // where its lines end in the chunk's text
};

struct chunk {
  std::vector<char> text;
  std::size_t used = 0;
  std::vector<piece> pieces;
  bool last = false;  // the shard's last chunk
};

// Formats the records of one read table in name order, a chunk at a time,
// and releases each record's lists once they are formatted.
class ShardFormatter {
 public:
  explicit ShardFormatter(ReadTable& table) : table_(table) {
    kb_walk_first_str(table.index(), walk_);
    kb_walk_first_str(table.index(), ahead_);
    for (int k = 0; k < kAhead; ++k) step_ahead();
  }

  void fill(chunk& c) {
    c.used = 0;
    c.pieces.clear();
    for (; kb_walk_valid(walk_); next_hit_ = 0, kb_walk_next_str(table_.index(), walk_), step_ahead()) {
      elem& r = kb_walk_record(walk_);
      std::string_view name;  // measured at the record's first line in this chunk
      for (; next_hit_ < r.n_hits1; ++next_hit_) {
        const hit& a = r.hits1[next_hit_];
        const std::int32_t j = find_target(r.hits2, r.n_hits2, a.target);
        if (j < 0) continue;
        if (c.used >= kChunkBytes) {
          if (name.data() != nullptr) c.pieces.push_back({r.name, c.used});
          return;
        }
        if (name.data() == nullptr) name = r.name;
        const std::size_t target_length = std::strlen(a.target);
        const std::size_t room = LineFormatter::room(name.size(), target_length);
        if (c.text.size() < c.used + room) c.text.resize(std::max(2 * c.text.size(), c.used + room));
        c.used = static_cast<std::size_t>(format_.line(c.text.data() + c.used, name, a, r.hits2[j], target_length) -
                                          c.text.data());
      }
      if (name.data() != nullptr) c.pieces.push_back({r.name, c.used});
      free_elem(r, table_.memory());
    }
    c.last = true;
    table_.lists_released();
  }

 private:
  static constexpr int kAhead = 16;  // records whose lists are fetched ahead, as walk_ahead does

  void step_ahead() {
    if (!kb_walk_valid(ahead_)) return;
    const elem& r = kb_walk_record(ahead_);
    fetch_lists(r);
    __builtin_prefetch(r.name);
    kb_walk_next_str(table_.index(), ahead_);
  }

  ReadTable& table_;
  kb_walk walk_;
  kb_walk ahead_;
  std::int32_t next_hit_ = 0;  // the record's next mate-1 hit to look at
  LineFormatter format_;
};

// The two chunks of a shard formatted by a member of its own, and whose
// they are: the member's while not full, the caller's while full.
struct shard_chunks {
  std::mutex lock;
  std::condition_variable changed;
  chunk slots[2];
  bool full[2] = {false, false};
};

// The caller's place in a shard's chunks.
struct cursor {
  chunk* c = nullptr;
  int slot = 0;
  std::size_t piece = 0;
  std::size_t from = 0;  // where the piece's text starts
};

class Merge {
 public:
  Merge(std::vector<std::unique_ptr<ReadTable>>& tables, int shards)
      : tables_(tables), shards_(static_cast<std::size_t>(shards)), cursors_(static_cast<std::size_t>(shards)) {}

  // A member's part: formats shard k (k >= 1) into its two chunks by turns.
  void produce(int k) {
    shard_chunks& s = shards_[static_cast<std::size_t>(k)];
    ShardFormatter format(*tables_[static_cast<std::size_t>(k)]);
    for (int slot = 0;; slot ^= 1) {
      {
        std::unique_lock<std::mutex> guard(s.lock);
        s.changed.wait(guard, [&] { return !s.full[slot] || stopped_.load(); });
        if (stopped_.load()) return;
      }
      format.fill(s.slots[slot]);
      const bool last = s.slots[slot].last;
      {
        std::lock_guard<std::mutex> guard(s.lock);
        s.full[slot] = true;
      }
      s.changed.notify_all();
      if (last) break;
    }
    // The caller reads names in the table until it has written the last chunk.
    std::unique_lock<std::mutex> guard(s.lock);
    s.changed.wait(guard, [&] { return (!s.full[0] && !s.full[1]) || stopped_.load(); });
    if (!stopped_.load()) tables_[static_cast<std::size_t>(k)].reset();
  }

  // The caller's part: writes every shard's pieces in name order.
  bool write(ReportWriter& out) {
    ShardFormatter own(*tables_[0]);
    own_ = &own;
    std::vector<int>& heap = heap_;
    const auto later = [this](int a, int b) {
      return std::strcmp(current(a).name, current(b).name) > 0;
    };
    for (int k = 0; k < static_cast<int>(shards_.size()); ++k) {
      if (k == 0) {
        cursors_[0].c = &own_chunk_;
        own.fill(own_chunk_);
      } else {
        take_full(k, 0);
      }
      if (next_piece(k)) heap.push_back(k);
    }
    std::make_heap(heap.begin(), heap.end(), later);
    while (!heap.empty() && !out.failed()) {
      std::pop_heap(heap.begin(), heap.end(), later);
      const int k = heap.back();
      cursor& at = cursors_[static_cast<std::size_t>(k)];
      const piece& p = at.c->pieces[at.piece];
      out.text(at.c->text.data() + at.from, p.end - at.from);
      at.from = p.end;
      ++at.piece;
      if (next_piece(k)) {
        std::push_heap(heap.begin(), heap.end(), later);
      } else {
        heap.pop_back();
      }
    }
    if (out.failed()) stop();
    return !out.failed();
  }

 private:
  const piece& current(int k) const {
    const cursor& at = cursors_[static_cast<std::size_t>(k)];
    return at.c->pieces[at.piece];
  }

  // Waits until shard k's chunk `slot` is full, and reads it from its start.
  void take_full(int k, int slot) {
    shard_chunks& s = shards_[static_cast<std::size_t>(k)];
    {
      std::unique_lock<std::mutex> guard(s.lock);
      s.changed.wait(guard, [&] { return s.full[slot]; });
    }
    cursors_[static_cast<std::size_t>(k)] = {&s.slots[slot], slot, 0, 0};
  }

  // Hands shard k's chunk back to its member.
  void give_back(int k) {
    shard_chunks& s = shards_[static_cast<std::size_t>(k)];
    {
      std::lock_guard<std::mutex> guard(s.lock);
      s.full[cursors_[static_cast<std::size_t>(k)].slot] = false;
    }
    s.changed.notify_all();
  }

  // Moves shard k's cursor to a piece not yet written; false at the shard's end.
  bool next_piece(int k) {
    cursor& at = cursors_[static_cast<std::size_t>(k)];
    while (at.piece == at.c->pieces.size()) {
      const bool last = at.c->last;
      if (k == 0) {
        if (last) {
          tables_[0].reset();
          return false;
        }
        own_->fill(own_chunk_);
        at.piece = 0;
        at.from = 0;
        continue;
      }
      give_back(k);
      if (last) return false;
      take_full(k, at.slot ^ 1);
    }
    return true;
  }

  void stop() {
    for (shard_chunks& s : shards_) {
      {
        std::lock_guard<std::mutex> guard(s.lock);
        stopped_.store(true);
      }
      s.changed.notify_all();
    }
  }

  std::vector<std::unique_ptr<ReadTable>>& tables_;
  std::vector<shard_chunks> shards_;
  std::vector<cursor> cursors_;
  ShardFormatter* own_ = nullptr;
  chunk own_chunk_;
  // Shards with a piece to write, the smallest name first. A member, so
  // that a run ended by SIGPIPE while writing leaves it reachable.
  std::vector<int> heap_;
  std::atomic<bool> stopped_{false};
};

}  // namespace

bool report_shards(std::vector<std::unique_ptr<ReadTable>>& tables, WorkCrew& crew, ReportWriter& out) {
  Merge merge(tables, crew.size());
  bool written = false;
  crew.run([&](int k) {
    if (k == 0) {
      written = merge.write(out);
    } else {
      merge.produce(k);
    }
  });
  if (written) out.flush();
  return written && !out.failed();
}

}  // namespace pairhits
