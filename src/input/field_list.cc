#include "input/field_list.h"

#include <new>

namespace zarvelt {

namespace {
constexpr size_t kSlotStep = 10;
}  // namespace

const std::string& FieldList::field(int i) const {
  static const std::string empty;
  return i >= 0 && i < count() ? fields[static_cast<size_t>(i)] : empty;
}

bool append_field(FieldListPtr& list, std::string_view text) {
  // Storage failures become a false result here, so that a caller never sees an exception and
  // a list is never left half-grown: the copy and the slots are obtained before anything moves.
  try {
    std::string copy(text);
    if (!list) {
      auto fresh = std::make_unique<FieldList>();
      fresh->fields.reserve(kSlotStep);
      fresh->fields.push_back(std::move(copy));
      list = std::move(fresh);
      return true;
    }
    std::vector<std::string>& fields = list->fields;
    if (fields.size() == fields.capacity()) fields.reserve(fields.size() + kSlotStep);
    fields.push_back(std::move(copy));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void release_field_list(FieldListPtr& list) { list.reset(); }

}  // namespace zarvelt
