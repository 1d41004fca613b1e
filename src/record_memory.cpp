#include "record_memory.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "alloc.h"
#include "blast_parser.h"
#include "hashing.h"

namespace pairhits {

namespace {
constexpr std::size_t kMaxBlockBytes = 256 * 1024;
constexpr std::size_t kBlockAlign = 16;  // for any record
constexpr std::size_t kFirstTargetSlots = 64;
constexpr std::size_t kTextSlack = 7;  // readable bytes after a text's zero

// Lists with room for this many hits or more carry, after their hits, a
// table of 2 x room slots: open addressing on the targets' hashes, each slot
// 0 (empty) or a hit's position + 1. A duplicate target is then found in
// constant time however long the list, and so is a target's partner in the
// report: a mate with 100 000 targets costs no 10^10 comparisons.
constexpr std::uint32_t kIndexedRoom = 64;

std::uint32_t room_of(std::int32_t count) {
  return count == 0 ? 0 : std::bit_ceil(static_cast<std::uint32_t>(count));
}

// log2 of the room of a list holding `count` hits (a list of none has room for one).
int capacity_class(std::int32_t count) { return std::bit_width(room_of(count == 0 ? 1 : count)) - 1; }

std::uint32_t* slots_of(const hit* list, std::uint32_t room) {
  return reinterpret_cast<std::uint32_t*>(const_cast<hit*>(list) + room);
}

// Targets in lists are kept texts, one pointer per distinct text, so a
// list's table hashes and compares the pointers. Heap pointers' low bits
// are alignment: the slot comes from the product's upper bits.
std::uint64_t hash_pointer(const char* target) {
  return (reinterpret_cast<std::uintptr_t>(target) * kGoldenMultiplier) >> 20;
}

// Where a target is in a list's table, or the empty slot where it would go.
std::uint32_t* probe(const hit* list, std::uint32_t room, const char* target) {
  std::uint32_t* slots = slots_of(list, room);
  const std::uint64_t mask = 2 * std::uint64_t{room} - 1;
  for (std::uint64_t at = hash_pointer(target) & mask;; at = (at + 1) & mask) {
    if (slots[at] == 0 || list[slots[at] - 1].target == target) return &slots[at];
  }
}
}  // namespace

RecordMemory::~RecordMemory() { mem_free(targets_); }

// ----------------------------------------------------------------- blocks --

void* RecordMemory::carve(region& r, std::size_t bytes, std::size_t align) {
  std::size_t pad = (align - reinterpret_cast<std::uintptr_t>(r.next) % align) % align;
  if (r.next == nullptr || pad + bytes > r.room) {
    // Something too large for a quarter of a block gets a block of its own,
    // so that the current block's room stays usable.
    const bool own_block = bytes > next_block_bytes_ / 4;
    const std::size_t size = own_block ? bytes : next_block_bytes_;
    auto* data = static_cast<char*>(arena_.take(size, kBlockAlign));
    if (data == nullptr) return nullptr;
    if (own_block) return data;
    next_block_bytes_ = std::min(2 * next_block_bytes_, kMaxBlockBytes);
    r.next = data;
    r.room = size;
    pad = 0;
  }
  char* place = r.next + pad;
  r.next = place + bytes;
  r.room -= pad + bytes;
  return place;
}

const char* RecordMemory::copy(std::string_view text) {
  // Room for 7 bytes more, which the next text may take: a name can be
  // read in words through its terminating zero.
  auto* place = static_cast<char*>(carve(text_, text.size() + 1 + kTextSlack, 1));
  if (place == nullptr) return nullptr;
  if (text_.next == place + text.size() + 1 + kTextSlack) {
    text_.next -= kTextSlack;
    text_.room += kTextSlack;
  }
  std::memcpy(place, text.data(), text.size());
  place[text.size()] = '\0';
  return place;
}

// ---------------------------------------------------------- kept targets --

const char* RecordMemory::keep_target(std::string_view text, std::uint64_t head) {
  if (2 * (target_count_ + 1) > target_slots_ && !grow_targets()) return nullptr;
  // A short text is all in its head word.
  const std::uint64_t full_hash =
      text.size() <= 8 ? finish_hash(head ^ (text.size() << 56)) : hash_bytes(text);
  const auto hash = static_cast<std::uint32_t>(full_hash >> 32);
  const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), UINT32_MAX));
  const std::size_t mask = target_slots_ - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    kept_target& k = targets_[at];
    if (k.text == nullptr) {
      const char* kept = copy(text);
      if (kept == nullptr) return nullptr;
      k = {kept, head, hash, length};
      ++target_count_;
      return kept;
    }
    if (k.hash == hash && k.length == length && k.head == head &&
        (length <= 8 || (length < UINT32_MAX ? std::memcmp(k.text + 8, text.data() + 8, length - 8) == 0
                                             : std::string_view(k.text) == text))) {
      return k.text;
    }
  }
}

bool RecordMemory::grow_targets() {
  const std::size_t slots = target_slots_ == 0 ? kFirstTargetSlots : 2 * target_slots_;
  auto* fresh = static_cast<kept_target*>(mem_calloc(slots, sizeof(kept_target)));
  if (fresh == nullptr) return false;
  for (std::size_t i = 0; i < target_slots_; ++i) {
    const kept_target& k = targets_[i];
    if (k.text == nullptr) continue;
    std::size_t at = k.hash & (slots - 1);
    while (fresh[at].text != nullptr) at = (at + 1) & (slots - 1);
    fresh[at] = k;
  }
  mem_free(targets_);
  targets_ = fresh;
  target_slots_ = slots;
  return true;
}

// ------------------------------------------------------------------ lists --

std::size_t RecordMemory::list_bytes(int cls) {
  const std::size_t room = std::size_t{1} << cls;
  return room * sizeof(hit) + (room >= kIndexedRoom ? 2 * room * sizeof(std::uint32_t) : 0);
}

// A list with room for twice `count` hits (one if count is 0) holding the
// `count` hits of the full list `list`, which is released. Null, with `list`
// untouched, if memory ran out.
hit* RecordMemory::grow_list(hit* list, std::int32_t count) {
  const int cls = count == 0 ? 0 : capacity_class(count) + 1;
  const std::size_t bytes = list_bytes(cls);
  hit* bigger;
  if (cls > kPooledClasses) {
    bigger = static_cast<hit*>(mem_alloc(bytes));
  } else if (free_lists_[cls] != nullptr) {
    bigger = free_lists_[cls];
    std::memcpy(&free_lists_[cls], static_cast<const void*>(bigger), sizeof(hit*));
  } else {
    bigger = static_cast<hit*>(carve(lists_, bytes, alignof(hit)));
  }
  if (bigger == nullptr) return nullptr;
  if (count > 0) std::memcpy(bigger, list, static_cast<std::size_t>(count) * sizeof(hit));
  const std::uint32_t room = std::uint32_t{1} << cls;
  if (room >= kIndexedRoom) {
    std::memset(slots_of(bigger, room), 0, 2 * std::size_t{room} * sizeof(std::uint32_t));
    for (std::int32_t i = 0; i < count; ++i) {
      *probe(bigger, room, bigger[i].target) = static_cast<std::uint32_t>(i) + 1;
    }
  }
  release_list(list, count);
  return bigger;
}

bool RecordMemory::append(hit*& list, std::int32_t& count, const hit& h) {
  if (count == INT32_MAX) return false;
  // A list is full when its count is 0 or a power of two (a test without
  // the popcount call that has_single_bit is on processors that may lack it).
  if ((count & (count - 1)) == 0) {
    hit* bigger = grow_list(list, count);
    if (bigger == nullptr) return false;
    list = bigger;
  }
  const std::uint32_t room = room_of(count + 1);
  if (room >= kIndexedRoom) *probe(list, room, h.target) = static_cast<std::uint32_t>(count) + 1;
  list[count++] = h;
  return true;
}

add_result RecordMemory::add(hit*& list, std::int32_t& count, const hit& h) {
  const std::uint32_t room = room_of(count);
  if (room >= kIndexedRoom) {
    // One probe finds a duplicate or the slot of the new hit.
    std::uint32_t* slot = probe(list, room, h.target);
    if (*slot != 0) return add_result::duplicate;
    if (static_cast<std::uint32_t>(count) < room) {
      *slot = static_cast<std::uint32_t>(count) + 1;
      list[count++] = h;
      return add_result::added;
    }
  } else if (find_target(list, count, h.target) >= 0) {
    return add_result::duplicate;
  }
  return append(list, count, h) ? add_result::added : add_result::alloc_failed;
}

void RecordMemory::release_unpooled(hit* list, std::int32_t count) {
  if (list != nullptr && capacity_class(count) > kPooledClasses) mem_free(list);
}

void RecordMemory::release_list(hit* list, std::int32_t count) {
  if (list == nullptr) return;
  const int cls = capacity_class(count);
  if (cls > kPooledClasses) {
    mem_free(list);
    return;
  }
  // A released list's first bytes link it to the next one of its class.
  std::memcpy(static_cast<void*>(list), &free_lists_[cls], sizeof(hit*));
  free_lists_[cls] = list;
}

std::int32_t find_target(const hit* list, std::int32_t count, const char* target) {
  const std::uint32_t room = room_of(count);
  if (room >= kIndexedRoom) {
    const std::uint32_t slot = *probe(list, room, target);
    return static_cast<std::int32_t>(slot) - 1;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    if (list[i].target == target) return i;
  }
  return -1;
}

}  // namespace pairhits
