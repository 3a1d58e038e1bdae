// How a table is declared, in words every database shares: its columns (what kind of value,
// how long, whether NULL is allowed) and its unique keys. The same shapes describe what a DDL
// script of sql/ creates (table_shapes_of_script) and what an installation's catalogue says
// (read_table_shapes in probes.h), so that an installation can be compared with the tables the
// program's statements were written for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/dialect.h"

namespace zarvelt::admin {

using db::Dialect;

enum class ValueKind { kText, kFixedText, kNumber, kDate, kOther };

struct ColumnShape {
  std::string name;  // upper case
  std::string type;  // as the script or the catalogue spells it, for messages
  ValueKind kind = ValueKind::kOther;
  std::int32_t length = 0;   // texts: the limit; 0 when there is none
  bool byte_length = false;  // texts: the limit counts bytes, not characters
  std::int32_t digits = 0;   // numbers: decimal digits; 0 when not bounded
  bool nullable = true;
};

struct UniqueKey {
  std::string name;  // the index's or constraint's name, lower case
  // Upper case, in the index's order; an expression other than a column stands as written.
  std::vector<std::string> columns;
  // True when rows whose non-NULL key columns agree are duplicates (Oracle's unique indexes,
  // PostgreSQL's NULLS NOT DISTINCT, SQLite's ifnull(column, '')), and always for a key of
  // NOT NULL columns; false when a NULL makes a row differ from every other.
  bool null_is_a_value = true;
};

struct TableShape {
  std::string name;  // upper case
  std::vector<ColumnShape> columns;
  std::vector<UniqueKey> keys;

  const ColumnShape* column(std::string_view name) const;
};

// The tables a DDL script in dialect creates: CREATE TABLE with its columns, their NOT NULL,
// PRIMARY KEY and UNIQUE, a CHECK (length(c) <= n) as c's limit (SQLite) and a CHECK with
// strftime as a date (SQLite); CREATE UNIQUE INDEX. Other statements are passed over; so is
// what does not parse. "--" comments and ";" between statements as sql/ has them.
std::vector<TableShape> table_shapes_of_script(Dialect dialect, std::string_view script);

// The column that a key's expression stands for: a column's name, or the column inside
// ifnull, coalesce or nvl (null_is_a_value then set), in upper case; else the expression.
std::string key_column_of(std::string_view expression, bool& null_is_a_value);

// Sets each key's null_is_a_value for a key whose columns table declares NOT NULL.
void settle_null_keys(TableShape& table);

}  // namespace zarvelt::admin
