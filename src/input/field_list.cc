#include "input/field_list.h"

namespace zarvelt {

const std::string& FieldList::field(int i) const {
  static const std::string empty;
  return i >= 0 && i < count() ? fields[static_cast<size_t>(i)] : empty;
}

bool append_field(FieldListPtr& list, std::string_view text) {
  if (!list) list = std::make_unique<FieldList>();
  if (list->fields.size() == list->fields.capacity()) list->fields.reserve(list->fields.size() + 10);
  list->fields.emplace_back(text);
  return true;
}

void release_field_list(FieldListPtr& list) { list.reset(); }

}  // namespace zarvelt
