#include "read_table.h"

namespace pairhits {

namespace {
constexpr int kNodeBudget = 512;  // bytes a node may take: t = 6
}  // namespace

ReadTable::ReadTable() : ReadTable(&populator_) {}

ReadTable::ReadTable(PagePopulator* shared) : index_(kb_init_str(kNodeBudget)) {
  if (index_ != nullptr) {
    // The names stored come from the record memory and those looked up
    // from the reader's buffer, both readable past their end.
    index_->padded_names = true;
    if (shared != nullptr) index_->nodes.populate_with(shared);
  }
  if (shared != nullptr) memory_.populate_with(shared);
}

ReadTable::~ReadTable() {
  if (index_ == nullptr) return;
  if (!lists_released_) {
    walk_ahead(index_, fetch_lists, [this](elem& r) {
      free_elem(r, memory_);
      return true;
    });
  }
  kb_free_str(index_);
}

}  // namespace pairhits
