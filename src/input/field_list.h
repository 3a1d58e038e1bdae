// The field list: the fields of one booking line as owned texts, indexed from 0.
// A list exists only from its first field on; "no list" is a null pointer.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zarvelt {

struct FieldList {
  // fields.size() is the count; fields.capacity() grows in steps of 10 slots (10, 20, 30, ...).
  std::vector<std::string> fields;

  int count() const { return static_cast<int>(fields.size()); }
  // Field i, or the empty text when the list holds fewer fields.
  const std::string& field(int i) const;
};

using FieldListPtr = std::unique_ptr<FieldList>;

// Adds a copy of text as the last field, creating the list if there is none.
// Returns false, with the list left as it was, when storage cannot be obtained.
bool append_field(FieldListPtr& list, std::string_view text);

// Frees the list and every field; a null list is left alone.
void release_field_list(FieldListPtr& list);

}  // namespace zarvelt
