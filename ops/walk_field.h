// A field of a local table that a repair walks, taken from the open table
// once, where the walk first reads it, and then used on every record.
//
// Where it is taken matters: a table that lacks the field raises
// EFieldNotFound at that read (on the first record, after the progress step
// and whatever the repair does before it), and not at all when the walk
// finds no record, so a damaged table stops a repair at the same point of
// its run, with the same data written before it, whatever field it lacks.
// Make one per opening of the table (see Table::FieldRef).
#pragma once

#include <optional>

#include "data/engine/engine.h"

namespace cg {

class WalkField {
 public:
  WalkField(Table& table, const char* name) : table_(table), name_(name) {}
  WalkField(const WalkField&) = delete;
  WalkField& operator=(const WalkField&) = delete;

  const Table::FieldRef* operator->() {
    if (!field_) field_.emplace(table_.field(name_));
    return &*field_;
  }

 private:
  Table& table_;
  const char* name_;
  std::optional<Table::FieldRef> field_;
};

}  // namespace cg
