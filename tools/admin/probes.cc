// The self-test's own reads: one text per dialect, as the program's statements have them.
#include "admin/probes.h"

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
  if (dialect == Dialect::kPostgresql) {
    // Appended rather than "\"" + name: g++ 12 warns of an overlap that is not there
    // (-Wrestrict) for a literal added to a temporary string.
    std::string quoted = "\"";
    quoted += postgresql_folded_name(session.schema());
    return quoted += "\".";
  }
  return session.schema() + ".";
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

}  // namespace zarvelt::admin
