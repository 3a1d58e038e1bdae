// The ODBC backend's parameter arrays: a batch of inserts (or of one query with many keys)
// bound column-wise to one prepared statement and sent in one SQLExecute, which psqlODBC sends
// as one round trip per chunk of rows. What the driver tells back decides whether each row's
// outcome is certain: every row marked done and, for inserts in their absorbing form, a row
// count per row (or a total equal to the rows) telling stored rows from absorbed duplicates.
// A failed array tells each failed row's own status where the driver names its rows (see
// judge_array_failure); when anything leaves a doubt the caller undoes the array and runs its
// rows one by one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/odbc_calls.h"
#include "db/odbc_translation.h"

namespace zarvelt::db {

// Whether the driver takes arrays of parameters, and how it counts the rows they store: one
// total for the array, or one count per row (SQL_PARAM_ARRAY_ROW_COUNTS).
enum class ArraySupport { kNone, kTotalCount, kCountPerRow };
ArraySupport array_support(SQLHDBC connection);

// True when the driver answers a parameter array of a query with one result set per row.
bool answers_query_arrays(SQLHDBC connection);

// One statement of a batch as an array row: its text and its own inputs.
struct ArrayInsert {
  std::string text;
  std::vector<OwnedValue> inputs;
};

enum class ArrayOutcome { kAnswered, kOneByOne, kLost };

// The column-wise buffers of one array, one per marker of the statement: integers, or texts
// in slots of the longest one. Bound by address, so it stays where it was made.
class ParameterArray {
 public:
  ParameterArray() = default;
  ParameterArray(const ParameterArray&) = delete;
  ParameterArray& operator=(const ParameterArray&) = delete;

  // Fills the buffers with inserts[rows]; input_of_marker[k] is the input bound to marker k.
  // False when a row lacks an input or one marker has values of two types: then the caller
  // runs the rows one by one, which binds (or refuses) each.
  bool fill(const std::vector<ArrayInsert>& inserts, const std::vector<std::size_t>& rows,
            const std::vector<std::size_t>& input_of_marker);
  // Binds the buffers to handle; false when the driver refuses, or changed the array's size
  // (SQL_SUCCESS_WITH_INFO, 01S02) and so takes no array of it.
  bool bind(SQLHSTMT handle);
  // After the execute: whether the driver processed every row, and marked every row done.
  bool processed_all() const { return processed_ == row_status_.size(); }
  bool all_succeeded() const;
  // After the execute: each row as the driver marked it (psqlODBC marks every row of a failed
  // array failed).
  std::vector<ArrayRowState> row_states() const;
  // Leaves nothing of handle bound to the buffers of an array.
  static void release(SQLHSTMT handle);

 private:
  struct Column {
    bool integer = false;
    std::vector<SQLINTEGER> integers;
    std::vector<char> texts;
    SQLLEN width = 1;
    std::vector<SQLLEN> indicators;
  };
  std::vector<Column> columns_;
  std::vector<SQLUSMALLINT> row_status_;
  SQLULEN processed_ = 0;
};

// Marks the rows an insert array stored none of (their key was taken) kUniqueConstraint in
// answers[rows[r]]. False when the driver cannot tell which rows those were.
bool absorbed_rows(SQLHSTMT handle, ArraySupport support, const std::vector<std::size_t>& rows,
                   std::vector<std::int32_t>& answers);

}  // namespace zarvelt::db
