// The self-test's own reads: one text per dialect, as the program's statements have them.
#include "admin/probes.h"

#include <algorithm>
#include <cctype>

#include "db/client_operations.h"
#include "db/dialect.h"
#include "db/postgresql_errors.h"

namespace zarvelt::admin {

using namespace db;

namespace {

// Enough for every client schema of an installation, and a bound on what one read holds.
constexpr std::size_t kMaxClientSchemas = 10000;

// "<schema>." before a client table: the session schema by its own name (checked by the
// switch as a plain identifier), so that the text differs from the program's lookups and
// resolves in no other schema. SQLite's placeholder is its session schema's file.
std::string named_schema(const Session& session, Dialect dialect) {
  if (dialect == Dialect::kSqlite) return std::string(kSqliteSessionSchema) + ".";
  // Without the blanks a name read from a CHAR column carries, as the switch has it.
  std::string name = session.schema();
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (dialect == Dialect::kPostgresql) {
    // Appended rather than "\"" + name: g++ 12 warns of an overlap that is not there
    // (-Wrestrict) for a literal added to a temporary string.
    std::string quoted = "\"";
    quoted += postgresql_folded_name(name);
    return quoted += "\".";
  }
  return name += '.';
}

struct CodeColumns {
  std::string_view table;
  std::string_view key;
  std::string_view value;
};

CodeColumns code_columns(CodeTable table) {
  if (table == CodeTable::kBookingTypes) return {"KVS131FCD", "FCDNUM", "FCDTYP"};
  return {"KVS131FCDUEB", "FCDOLD", "FCDNEW"};
}

// One text for every dialect (they differ only in their placeholders and schema prefix).
std::int32_t run_text(Session& session, const std::string& text,
                      std::span<const InputVariable> inputs, std::size_t max_rows,
                      std::vector<FetchedRow>& rows) {
  std::vector<OwnedValue> owned;
  const std::int32_t status = own_inputs(inputs, owned);
  if (status != kSuccess) return status;
  std::vector<BoundValue> bound;
  for (const OwnedValue& value : owned) bound.push_back(value.bound());
  return session.connection().run(text, bound, max_rows, rows);
}

// The first column's values of up to max_rows rows of a query without inputs (NULLs left out).
std::int32_t first_column(Session& session, const std::string& text, std::size_t max_rows,
                          std::vector<std::string>& values) {
  std::vector<FetchedRow> rows;
  const std::int32_t status = run_text(session, text, {}, max_rows, rows);
  if (status != kSuccess) return status;
  for (const FetchedRow& row : rows) {
    if (!row.empty() && row[0]) values.push_back(*row[0]);
  }
  return kSuccess;
}

std::string upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

std::int32_t number_of(const std::optional<std::string>& value) {
  if (!value || value->empty() || value->size() > 9) return 0;
  for (const char c : *value) {
    if (c < '0' || c > '9') return 0;
  }
  return std::stoi(*value);
}

// The catalogue's rows of one table (owner and table bound) by text.
std::int32_t rows_of_table(Session& session, const std::string& text, const std::string& owner,
                           const std::string& table, std::vector<FetchedRow>& rows) {
  const InputVariable inputs[] = {text_input(owner, 129), text_input(table, 129)};
  return run_text(session, text, inputs, 1000, rows);
}

// Oracle's data dictionary. A CHAR_USED of 'B' is a length in bytes.
std::int32_t read_oracle_table(Session& session, const std::string& owner, TableShape& table) {
  std::vector<FetchedRow> rows;
  std::int32_t status = rows_of_table(
      session,
      "select COLUMN_NAME,DATA_TYPE,CHAR_LENGTH,CHAR_USED,DATA_PRECISION,NULLABLE from "
      "SYS.ALL_TAB_COLUMNS where OWNER=:1 and TABLE_NAME=:2 order by COLUMN_ID",
      owner, table.name, rows);
  if (status != kSuccess) return status;
  for (const FetchedRow& row : rows) {
    ColumnShape column;
    column.name = row[0].value_or("");
    const std::string type = row[1].value_or("");
    column.nullable = row[5] != "N";
    if (type == "VARCHAR2" || type == "NVARCHAR2" || type == "VARCHAR" || type == "CHAR" ||
        type == "NCHAR") {
      column.kind = type == "CHAR" || type == "NCHAR" ? ValueKind::kFixedText : ValueKind::kText;
      column.length = number_of(row[2]);
      column.byte_length = row[3] == "B";
      // Piece by piece: g++ 12 warns falsely (-Wrestrict) of "(" + a temporary.
      column.type = type;
      column.type += '(';
      column.type += std::to_string(column.length);
      column.type += column.byte_length ? " BYTE)" : " CHAR)";
    } else if (type == "NUMBER" || type == "FLOAT") {
      column.kind = ValueKind::kNumber;
      column.digits = number_of(row[4]);
      column.type = type;
      if (column.digits > 0) {
        column.type += '(';
        column.type += std::to_string(column.digits);
        column.type += ')';
      }
    } else {
      column.kind = type == "DATE" || type.starts_with("TIMESTAMP") ? ValueKind::kDate
                    : type == "CLOB"                                ? ValueKind::kText
                                                                    : ValueKind::kOther;
      column.type = type;
    }
    table.columns.push_back(std::move(column));
  }
  if (table.columns.empty()) return kSuccess;
  status = rows_of_table(
      session,
      "select c.INDEX_NAME,c.COLUMN_NAME from SYS.ALL_IND_COLUMNS c,SYS.ALL_INDEXES i where "
      "i.OWNER=c.INDEX_OWNER and i.INDEX_NAME=c.INDEX_NAME and i.UNIQUENESS='UNIQUE' and "
      "c.TABLE_OWNER=:1 and c.TABLE_NAME=:2 order by c.INDEX_NAME,c.COLUMN_POSITION",
      owner, table.name, rows);
  if (status != kSuccess) return status;
  for (const FetchedRow& row : rows) {
    std::string name = row[0].value_or("");
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (table.keys.empty() || table.keys.back().name != name)
      table.keys.push_back({name, {}, true});
    table.keys.back().columns.push_back(row[1].value_or(""));
  }
  return kSuccess;
}

// PostgreSQL's information_schema and pg_index (names folded to lower case there).
std::int32_t read_postgresql_table(Session& session, const std::string& schema, TableShape& table) {
  const SqlDialect& sql = sql_dialect(Dialect::kPostgresql);
  const auto text = [&](std::string_view head, std::string_view schema_column,
                        std::string_view table_column, std::string_view tail) {
    return std::string(head) + std::string(schema_column) + "=" + sql.placeholder(1) + " and " +
           std::string(table_column) + "=" + sql.placeholder(2) + std::string(tail);
  };
  const std::string name = postgresql_folded_name(table.name);
  std::vector<FetchedRow> rows;
  std::int32_t status = rows_of_table(
      session,
      text("select upper(column_name),data_type,character_maximum_length,numeric_precision,"
           "is_nullable from information_schema.columns where ",
           "table_schema", "table_name", " order by ordinal_position"),
      schema, name, rows);
  if (status != kSuccess) return status;
  for (const FetchedRow& row : rows) {
    ColumnShape column;
    column.name = row[0].value_or("");
    const std::string type = row[1].value_or("");
    column.nullable = row[4] != "NO";
    column.type = type;
    if (type == "character varying" || type == "character" || type == "text") {
      column.kind = type == "character" ? ValueKind::kFixedText : ValueKind::kText;
      column.length = number_of(row[2]);
      if (column.length > 0) {
        column.type += '(';  // piece by piece: g++ 12 warns falsely (-Wrestrict) of "(" + temporary
        column.type += std::to_string(column.length);
        column.type += ')';
      }
    } else if (type == "integer" || type == "smallint" || type == "bigint" || type == "numeric") {
      column.kind = ValueKind::kNumber;
      column.digits = type == "integer"    ? 10
                      : type == "smallint" ? 5
                      : type == "bigint"   ? 19
                                           : number_of(row[3]);
    } else if (type.starts_with("timestamp") || type == "date") {
      column.kind = ValueKind::kDate;
    }
    table.columns.push_back(std::move(column));
  }
  if (table.columns.empty()) return kSuccess;
  status = rows_of_table(
      session,
      text("select ic.relname,pg_get_indexdef(i.indexrelid,k.n,true),"
           "i.indnullsnotdistinct::text from pg_index i join pg_class ic on ic.oid=i.indexrelid "
           "join pg_class tc on tc.oid=i.indrelid join pg_namespace s on s.oid=tc.relnamespace "
           "cross join generate_series(1,i.indnkeyatts) k(n) where i.indisunique and ",
           "s.nspname", "tc.relname", " order by ic.relname,k.n"),
      schema, name, rows);
  if (status != kSuccess) return status;
  // A key reads a NULL as a value when it says NULLS NOT DISTINCT, or when each nullable column
  // in it stands inside coalesce (as the SQLite tables' ifnull).
  std::vector<bool> nulls_not_distinct;
  std::vector<std::vector<std::string>> wrapped;
  for (const FetchedRow& row : rows) {
    const std::string index = row[0].value_or("");
    if (table.keys.empty() || table.keys.back().name != index) {
      table.keys.push_back({index, {}, false});
      nulls_not_distinct.push_back(row[2] == "true");
      wrapped.emplace_back();
    }
    bool null_is_a_value = false;
    table.keys.back().columns.push_back(key_column_of(row[1].value_or(""), null_is_a_value));
    if (null_is_a_value) wrapped.back().push_back(table.keys.back().columns.back());
  }
  for (std::size_t k = 0; k < table.keys.size(); ++k) {
    UniqueKey& key = table.keys[k];
    key.null_is_a_value =
        nulls_not_distinct[k] ||
        std::all_of(key.columns.begin(), key.columns.end(), [&](const std::string& name) {
          const ColumnShape* column = table.column(name);
          return (column != nullptr && !column->nullable) ||
                 std::find(wrapped[k].begin(), wrapped[k].end(), name) != wrapped[k].end();
        });
  }
  return kSuccess;
}

// SQLite keeps each table's and index's CREATE text: read as a script of its own.
std::int32_t read_sqlite_table(Session& session, bool central, TableShape& table) {
  const std::string text = "select sql from " +
                           (central ? std::string("main") : std::string(kSqliteSessionSchema)) +
                           ".sqlite_master where tbl_name=?1 collate nocase and sql is not null";
  std::vector<FetchedRow> rows;
  const InputVariable inputs[] = {text_input(table.name, 129)};
  const std::int32_t status = run_text(session, text, inputs, 1000, rows);
  if (status != kSuccess) return status;
  std::string script;
  for (const FetchedRow& row : rows) script += row[0].value_or("") + ";\n";
  for (TableShape& shape : table_shapes_of_script(Dialect::kSqlite, script)) {
    if (shape.name == table.name) table = std::move(shape);
  }
  return kSuccess;
}

// A date column as yyyymmddhh24miss.
std::string digits_of_date(Dialect dialect, std::string_view column) {
  if (dialect == Dialect::kSqlite) return "strftime('%Y%m%d%H%M%S'," + std::string(column) + ")";
  return "to_char(" + std::string(column) + ",'yyyymmddhh24miss')";
}

}  // namespace

std::string_view database_product(const Session& session) {
  const std::string_view product = sql_dialect(session.connection().dialect()).odbc_product();
  return product.empty() ? "SQLite" : product;
}

ParameterArrays parameter_arrays(const Session& session) {
  return session.connection().parameter_arrays();
}

db::BatchRoute last_batch_route(const db::Session& session, std::size_t batch_size) {
  if (batch_size <= 1) return {BatchRoute::Way::kOneByOne, false, "a batch size of 1 asks"};
  return session.connection().last_batch_route();
}

std::int32_t read_client_schemas(Session& session, std::vector<std::string>& schemas) {
  schemas.clear();
  const Dialect dialect = session.connection().dialect();
  const SqlDialect& sql = sql_dialect(dialect);
  const std::string text = "select distinct MNDSCH from " + sql.central_table("KVS112MND") +
                           " where MNDSCH is not null order by MNDSCH";
  return first_column(session, text, kMaxClientSchemas, schemas);
}

std::int32_t sample_function_codes(Session& session, CodeTable table, std::size_t count,
                                   std::vector<std::string>& codes) {
  codes.clear();
  const Dialect dialect = session.connection().dialect();
  const CodeColumns columns = code_columns(table);
  const std::string text = "select " + std::string(columns.key) + " from " +
                           named_schema(session, dialect) + std::string(columns.table) +
                           " order by " + std::string(columns.key);
  return first_column(session, text, count, codes);
}

void read_function_codes_by_name(Session& session, CodeTable table,
                                 std::span<const std::string> codes,
                                 std::vector<TextAnswer>& answers) {
  answers.assign(codes.size(), {});
  const Dialect dialect = session.connection().dialect();
  const SqlDialect& sql = sql_dialect(dialect);
  const CodeColumns columns = code_columns(table);
  const std::string text = "select " + std::string(columns.value) + " from " +
                           named_schema(session, dialect) + std::string(columns.table) + " where " +
                           std::string(columns.key) + "=" + sql.placeholder(1);
  for (std::size_t i = 0; i < codes.size(); ++i) {
    // The program's host variables: the key of 20 bytes, a 16-bit type or a code of 3.
    const InputVariable key[] = {text_input(codes[i], 20)};
    std::int16_t booking_type = 0;
    std::string code;
    const OutputVariable outputs[] = {table == CodeTable::kBookingTypes ? int16_output(booking_type)
                                                                        : text_output(code, 4)};
    answers[i].status = select_one_row(session.connection(), text, outputs, key);
    if (answers[i].status == kSuccess) {
      answers[i].text = table == CodeTable::kBookingTypes ? std::to_string(booking_type) : code;
    }
  }
}

std::int32_t read_back_access(Session& session, std::string_view terminal,
                              std::int32_t reader_number, AccessReadBack& row) {
  const Dialect dialect = session.connection().dialect();
  const SqlDialect& sql = sql_dialect(dialect);
  const std::string text = "select " + digits_of_date(dialect, "ZpkDtm") + "," +
                           digits_of_date(dialect, "ZpkUhr") + ",ZpkAsw from " +
                           sql.central_table("KVS402ZPK") + " where ZpkTrm=" + sql.placeholder(1) +
                           " and ZpkLes=" + sql.placeholder(2);
  const InputVariable key[] = {text_input(terminal, 256), int32_input(reader_number)};
  AccessReadBack read;
  std::int16_t indicator = 0;
  const OutputVariable outputs[] = {text_output(read.date, 15), text_output(read.date_time, 15),
                                    text_output(read.badge, 20)};
  const std::int32_t status = select_one_row(session.connection(), text, outputs, key, &indicator);
  if (status == kSuccess) row = std::move(read);
  return status;
}

std::int32_t read_back_access_null_column(Session& session, std::string_view terminal,
                                          std::int32_t reader_number) {
  const Dialect dialect = session.connection().dialect();
  const SqlDialect& sql = sql_dialect(dialect);
  const std::string text = "select ZpkFcd from " + sql.central_table("KVS402ZPK") +
                           " where ZpkTrm=" + sql.placeholder(1) +
                           " and ZpkLes=" + sql.placeholder(2);
  const InputVariable key[] = {text_input(terminal, 256), int32_input(reader_number)};
  std::string function_code;
  const OutputVariable outputs[] = {text_output(function_code, 6)};
  return select_one_row(session.connection(), text, outputs, key);
}

std::int32_t read_back_event(Session& session, std::string_view terminal,
                             std::int32_t reader_number, std::string& date,
                             std::string& date_time) {
  const Dialect dialect = session.connection().dialect();
  const SqlDialect& sql = sql_dialect(dialect);
  const std::string text =
      "select " + digits_of_date(dialect, "BPRDAT") + "," + digits_of_date(dialect, "BPRDTE") +
      " from " + sql.central_table("O2009BUCHPROT") + " where BPRTRM=" + sql.placeholder(1) +
      " and BPRZLS=" + sql.placeholder(2);
  const InputVariable key[] = {text_input(terminal, 256), int32_input(reader_number)};
  std::string read_date;
  std::string read_date_time;
  std::int16_t indicator = 0;
  const OutputVariable outputs[] = {text_output(read_date, 15), text_output(read_date_time, 15)};
  const std::int32_t status = select_one_row(session.connection(), text, outputs, key, &indicator);
  if (status == kSuccess) {
    date = read_date;
    date_time = read_date_time;
  }
  return status;
}

std::int32_t count_rows_of_terminal(Session& session, std::string_view terminal,
                                    std::int32_t& count) {
  const Dialect dialect = session.connection().dialect();
  const SqlDialect& sql = sql_dialect(dialect);
  const std::string input = sql.placeholder(1);
  const std::string text = "select (select count(*) from " + sql.central_table("KVS402ZPK") +
                           " where ZpkTrm=" + input + ")+(select count(*) from " +
                           sql.central_table("O2009BUCHPROT") + " where BPRTRM=" + input + ")" +
                           (dialect == Dialect::kOracle ? " from dual" : "");
  const InputVariable key[] = {text_input(terminal, 256)};
  std::int32_t counted = 0;
  const OutputVariable outputs[] = {int32_output(counted)};
  const std::int32_t status = select_one_row(session.connection(), text, outputs, key);
  if (status == kSuccess) count = counted;
  return status;
}

std::int32_t sample_valid_badges(Session& session, std::string_view date, std::size_t count,
                                 std::vector<BadgeSample>& badges) {
  badges.clear();
  const SqlDialect& sql = sql_dialect(session.connection().dialect());
  const std::string day = sql.placeholder(1);
  const std::string text =
      "select ASWNUM,ASWPNR,MNDSCH from " + sql.central_table("KVS301ASW") + "," +
      sql.central_table("KVS112MND") +
      " where ASWLIZ=MNDLIZ and ASWMND=MNDNUM and (ASWGVO is not null or ASWGBI is not null) and "
      "(ASWGVO is null or " +
      sql.date_digits("ASWGVO") + "<=" + day + ") and (ASWGBI is null or " +
      sql.date_digits("ASWGBI") + ">=" + day + ") order by ASWNUM";
  const InputVariable inputs[] = {text_input(date, 20)};
  std::vector<FetchedRow> rows;
  const std::int32_t status = run_text(session, text, inputs, count, rows);
  if (status != kSuccess) return status;
  for (const FetchedRow& row : rows) {
    badges.push_back({row[0].value_or(""), row[1].value_or(""), row[2].value_or("")});
  }
  return kSuccess;
}

std::string_view script_directory(const Session& session) {
  switch (session.connection().dialect()) {
    case Dialect::kOracle:
      return "oracle";
    case Dialect::kPostgresql:
      return "postgresql";
    case Dialect::kSqlite:
      break;
  }
  return "sqlite";
}

std::vector<TableShape> tables_of_script(const Session& session, std::string_view script) {
  return table_shapes_of_script(session.connection().dialect(), script);
}

std::size_t open_statement_bound(const Session& session) {
  return session.connection().parameter_arrays() == ParameterArrays::kNoDriver
             ? 0
             : kOdbcOpenStatements;
}

std::int32_t read_table_shapes(Session& session, bool central, std::span<const std::string> names,
                               std::vector<TableShape>& tables) {
  tables.clear();
  const Dialect dialect = session.connection().dialect();
  const std::string schema = central ? std::string(kCentralSchema) : session.schema();
  for (const std::string& name : names) {
    TableShape table;
    table.name = name;
    const std::int32_t status =
        dialect == Dialect::kOracle ? read_oracle_table(session, upper(schema), table)
        : dialect == Dialect::kPostgresql
            ? read_postgresql_table(session, postgresql_folded_name(schema), table)
            : read_sqlite_table(session, central, table);
    if (status != kSuccess) return status;
    if (table.columns.empty()) continue;
    settle_null_keys(table);
    tables.push_back(std::move(table));
  }
  return kSuccess;
}

std::int32_t read_character_set(Session& session, std::string& character_set) {
  const Dialect dialect = session.connection().dialect();
  const std::string text =
      dialect == Dialect::kOracle
          ? "select VALUE from SYS.NLS_DATABASE_PARAMETERS where PARAMETER='NLS_CHARACTERSET'"
      : dialect == Dialect::kPostgresql ? "select current_setting('server_encoding')"
                                        : "select encoding from pragma_encoding";
  std::vector<std::string> values;
  const std::int32_t status = first_column(session, text, 2, values);
  if (status != kSuccess) return status;
  if (values.size() != 1) return values.empty() ? kNoRow : kTooManyRows;
  character_set = values[0];
  return kSuccess;
}

std::int32_t read_open_cursor_limit(Session& session, std::int32_t& limit) {
  if (session.connection().dialect() != Dialect::kOracle) return kFeatureNotEnabled;
  std::vector<std::string> values;
  const std::int32_t status = first_column(
      session, "select VALUE from SYS.V_$PARAMETER where NAME='open_cursors'", 2, values);
  if (status != kSuccess) return status;
  if (values.size() != 1) return values.empty() ? kNoRow : kTooManyRows;
  limit = number_of(values[0]);
  return kSuccess;
}

}  // namespace zarvelt::admin
