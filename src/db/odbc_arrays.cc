// The ODBC backend's parameter arrays (see odbc_arrays.h).
#include "db/odbc_arrays.h"

#include <algorithm>
#include <cstring>

#include "db/status.h"

namespace zarvelt::db {
namespace {

bool row_done(SQLUSMALLINT state) {
  return state == SQL_PARAM_SUCCESS || state == SQL_PARAM_SUCCESS_WITH_INFO;
}

}  // namespace

ArraySupport array_support(SQLHDBC connection) {
  // A driver that does not know SQL_PARAM_ARRAY_ROW_COUNTS takes no arrays.
  SQLUINTEGER counts = 0;
  if (!succeeded(
          SQLGetInfo(connection, SQL_PARAM_ARRAY_ROW_COUNTS, &counts, sizeof counts, nullptr))) {
    return ArraySupport::kNone;
  }
  if (counts == SQL_PARC_BATCH) return ArraySupport::kCountPerRow;
  if (counts == SQL_PARC_NO_BATCH) return ArraySupport::kTotalCount;
  return ArraySupport::kNone;
}

bool answers_query_arrays(SQLHDBC connection) {
  SQLUINTEGER selects = 0;
  return succeeded(
             SQLGetInfo(connection, SQL_PARAM_ARRAY_SELECTS, &selects, sizeof selects, nullptr)) &&
         selects == SQL_PAS_BATCH;
}

bool ParameterArray::fill(const std::vector<ArrayInsert>& inserts,
                          const std::vector<std::size_t>& rows,
                          const std::vector<std::size_t>& input_of_marker) {
  const std::size_t count = rows.size();
  const std::size_t markers = input_of_marker.size();
  columns_.assign(markers, {});
  for (std::size_t k = 0; k < markers; ++k) {
    Column& column = columns_[k];
    const std::size_t input = input_of_marker[k];
    bool text = false;
    for (const std::size_t row : rows) {
      if (input >= inserts[row].inputs.size()) return false;  // run() tells the status
      const OwnedValue& value = inserts[row].inputs[input];
      if (value.kind == BoundValue::Kind::kInteger) column.integer = true;
      if (value.kind == BoundValue::Kind::kText) {
        text = true;
        column.width = std::max(column.width, static_cast<SQLLEN>(value.text.size()));
      }
    }
    if (column.integer && text) return false;  // one marker, two types: run() binds each
    column.indicators.assign(count, 0);
    if (column.integer) {
      column.integers.assign(count, 0);
    } else {
      column.texts.assign(count * static_cast<std::size_t>(column.width), '\0');
    }
    for (std::size_t r = 0; r < count; ++r) {
      const OwnedValue& value = inserts[rows[r]].inputs[input];
      if (value.kind == BoundValue::Kind::kNull) {
        column.indicators[r] = SQL_NULL_DATA;
      } else if (column.integer) {
        column.integers[r] = value.integer;
      } else {
        std::memcpy(column.texts.data() + r * static_cast<std::size_t>(column.width),
                    value.text.data(), value.text.size());
        column.indicators[r] = static_cast<SQLLEN>(value.text.size());
      }
    }
  }
  row_status_.assign(count, SQL_PARAM_UNUSED);
  processed_ = 0;
  return true;
}

bool ParameterArray::bind(SQLHSTMT handle) {
  const std::size_t count = row_status_.size();
  SQLFreeStmt(handle, SQL_RESET_PARAMS);
  bool bound =
      succeeded(SQLSetStmtAttr(handle, SQL_ATTR_PARAM_BIND_TYPE,
                               reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0)) &&
      succeeded(SQLSetStmtAttr(handle, SQL_ATTR_PARAMSET_SIZE,
                               reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(count)), 0)) &&
      succeeded(SQLSetStmtAttr(handle, SQL_ATTR_PARAM_STATUS_PTR, row_status_.data(), 0)) &&
      succeeded(SQLSetStmtAttr(handle, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed_, 0));
  SQLULEN size = 0;
  bound = bound && succeeded(SQLGetStmtAttr(handle, SQL_ATTR_PARAMSET_SIZE, &size, 0, nullptr)) &&
          size == count;
  for (std::size_t k = 0; bound && k < columns_.size(); ++k) {
    Column& column = columns_[k];
    const auto number = static_cast<SQLUSMALLINT>(k + 1);
    bound =
        succeeded(column.integer
                      ? SQLBindParameter(handle, number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER,
                                         0, 0, column.integers.data(), 0, column.indicators.data())
                      : SQLBindParameter(handle, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                         static_cast<SQLULEN>(column.width), 0, column.texts.data(),
                                         column.width, column.indicators.data()));
  }
  return bound;
}

bool ParameterArray::all_succeeded() const {
  return std::all_of(row_status_.begin(), row_status_.end(), row_done);
}

std::vector<ArrayRowState> ParameterArray::row_states() const {
  std::vector<ArrayRowState> states;
  for (const SQLUSMALLINT state : row_status_) {
    states.push_back(row_done(state)             ? ArrayRowState::kDone
                     : state == SQL_PARAM_ERROR  ? ArrayRowState::kFailed
                     : state == SQL_PARAM_UNUSED ? ArrayRowState::kNotRun
                                                 : ArrayRowState::kUnknown);
  }
  return states;
}

void ParameterArray::release(SQLHSTMT handle) {
  SQLFreeStmt(handle, SQL_CLOSE);
  SQLFreeStmt(handle, SQL_RESET_PARAMS);
  SQLSetStmtAttr(handle, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
  SQLSetStmtAttr(handle, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
}

bool absorbed_rows(SQLHSTMT handle, ArraySupport support, const std::vector<std::size_t>& rows,
                   std::vector<std::int32_t>& answers) {
  SQLLEN stored = 0;
  if (!succeeded(SQLRowCount(handle, &stored))) return false;
  if (stored == static_cast<SQLLEN>(rows.size()) && support == ArraySupport::kTotalCount) {
    return true;  // the total of all rows: each stored one
  }
  if (support != ArraySupport::kCountPerRow) return false;
  // One count per row: the first now, each next one after SQLMoreResults.
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (r > 0) {
      if (!succeeded(SQLMoreResults(handle)) || !succeeded(SQLRowCount(handle, &stored))) {
        return false;
      }
    }
    if (stored != 0 && stored != 1) return false;
    answers[rows[r]] = stored == 1 ? kSuccess : kUniqueConstraint;
  }
  return true;
}

}  // namespace zarvelt::db
