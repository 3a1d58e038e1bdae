// Master data as zarvelt_admin loads it: the CSV files of a directory, each checked whole
// against its table (header, field count, numbers and their range, dates, lengths) before any
// database is touched, so that a faulty file changes nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zarvelt::admin {

enum class ColumnKind { kInteger, kSmallInteger, kText, kDate };

struct ColumnLayout {
  const char* csv_name;
  const char* column;
  ColumnKind kind;
  std::size_t max_length;  // texts only
  bool required;           // an empty field is refused rather than stored as NULL
};

struct TableLayout {
  const char* file;
  const char* table;
  bool central;  // KVSYSTEM, else a client schema
  std::vector<ColumnLayout> columns;
};

// The five tables that take master data, central ones first.
const std::vector<TableLayout>& table_layouts();

// A row ready to store: integers as decimal text, dates as "YYYY-MM-DD HH:MM:SS", NULL as
// nullopt.
using Row = std::vector<std::optional<std::string>>;

// One checked CSV file, ready to replace its table's rows.
struct TableLoad {
  const TableLayout* layout;
  std::string schema;  // "KVSYSTEM" or the client schema, upper case
  std::string path;
  std::vector<Row> rows;
};

// A CSV record with the line it started on.
struct CsvRecord {
  int line;
  std::vector<std::string> fields;
};

// Splits CSV text into records: "," separates, '"' quotes (a doubled '"' inside quotes is one,
// and quotes may span lines), CR LF or LF ends a record; a leading UTF-8 byte order mark and
// blank lines are skipped. False with error set when a quote is not closed.
bool parse_csv(const std::string& text, std::vector<CsvRecord>& records, std::string& error);

// Schema names become file names and SQL identifiers, so only plain names pass: a letter, then
// letters, digits and "_", at most 20 characters (the width of the client table's column), and
// not the central schema's name.
bool is_schema_name(const std::string& name);

std::string upper_case(std::string text);

// The whole file at path, read as bytes; false when it cannot be read.
bool read_text_file(const std::string& path, std::string& text);

// Reads and checks one CSV file against its table. Errors name the file and line.
bool read_table_file(const TableLayout& layout, const std::string& schema, const std::string& path,
                     TableLoad& load, std::string& error);

// Every table file of a CSV directory: the central ones, then one subdirectory per client
// schema (sorted). A subdirectory whose name is no schema name is refused, not skipped, so that
// a typo does not go unnoticed; so is a directory without any table file.
bool read_csv_directory(const std::string& directory, std::vector<TableLoad>& loads,
                        std::string& error);

}  // namespace zarvelt::admin
