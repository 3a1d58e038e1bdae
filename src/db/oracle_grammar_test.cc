// The Oracle texts of every statement the program runs, parsed by a real Oracle SQL grammar
// (tests/oracle_grammar.py), together with the Oracle DDL in sql/oracle/: no Oracle server
// runs here, so this is where a typo in an Oracle-only text shows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "db/session.h"
#include "db/statements.h"
#include "test_support.h"

namespace zarvelt::db {
namespace {

// Answers every statement with success and, for a query, one row of small numbers; keeps the
// texts it was given.
class RecordingOracleConnection : public Connection {
 public:
  explicit RecordingOracleConnection(std::vector<std::string>& texts) : texts_(texts) {}
  Dialect dialect() const override { return Dialect::kOracle; }
  std::int32_t run(std::string_view text, std::span<const BoundValue>, std::size_t max_rows,
                   std::vector<FetchedRow>& rows) override {
    texts_.emplace_back(text);
    rows.clear();
    if (max_rows > 0) rows.push_back(FetchedRow(8, std::string("1")));
    return kSuccess;
  }
  std::int32_t set_session_schema(std::string_view) override { return kSuccess; }
  std::int32_t commit() override { return kSuccess; }
  bool sends_together() const override { return true; }
  void run_batch(std::span<const BatchedInsert> batch,
                 std::vector<std::int32_t>& statuses) override {
    for (const BatchedInsert& insert : batch) texts_.emplace_back(insert.absorbing_text);
    statuses.resize(statuses.size() + batch.size(), kSuccess);
  }

 private:
  std::vector<std::string>& texts_;
};

std::string grammar_command(const std::vector<std::string>& files) {
  std::string command =
      "/usr/bin/python3 " + std::string(ZARVELT_SOURCE_DIR) + "/tests/oracle_grammar.py";
  for (const std::string& file : files) command += " '" + file + "'";
  return command + " >&2";
}

TEST(OracleGrammarTest, EveryOracleTextParses) {
  if (std::system("/usr/bin/python3 -c 'import sqlglot' 2>/dev/null") != 0) {
    if (std::getenv("CI") != nullptr) FAIL() << "python3-sqlglot is not installed";
    GTEST_SKIP() << "python3-sqlglot is not installed";
  }
  std::vector<std::string> texts;
  Session session{std::make_unique<RecordingOracleConnection>(texts)};
  std::string text;
  std::int32_t number = 0;
  read_server_time(session, text);
  std::string personnel_number, client_schema;
  lookup_badge(session, "4711", "20240305", personnel_number, client_schema);
  lookup_booking_type(session, "K1", text);
  translate_function_code(session, "K1", text);
  lookup_zone(session, "Z1200", number);
  insert_access_record(session, {"T01", 1, "20240305", "20240305143015", "4711", 100, "001"});
  insert_event_record(session,
                      {"T01", 1, "4711", "20240305", "20240305143015", "025", 200, "text"});
  session.set_batch_size(2);  // the inserts' batch forms
  queue_access_record(session, {"T01", 1, "20240305", "20240305143015", "4711", 100, "001"});
  queue_event_record(session, {"T01", 1, "4711", "20240305", "20240305143015", "025", 200, ""});
  ASSERT_EQ(texts.size(), 9u);
  // The grammar passes over hints; the columns they name must be the tables' unique keys.
  std::ifstream ddl(std::string(ZARVELT_SOURCE_DIR) + "/sql/oracle/central.sql");
  const std::string central((std::istreambuf_iterator<char>(ddl)), {});
  const auto unique_key = [&central](const std::string& key) {
    const std::string start = "CONSTRAINT " + key + " UNIQUE (";
    const std::size_t at = central.find(start);
    if (at == std::string::npos) return std::string("(no key ") + key + ")";
    std::string columns = central.substr(at + start.size());
    columns.erase(columns.find(')'));
    std::erase(columns, ' ');
    return columns;
  };
  EXPECT_NE(texts[7].find("IGNORE_ROW_ON_DUPKEY_INDEX(KVS402ZPK(" + unique_key("kvs402zpk_key") +
                          ")) */"),
            std::string::npos)
      << texts[7];
  EXPECT_NE(texts[8].find("IGNORE_ROW_ON_DUPKEY_INDEX(O2009BUCHPROT(" +
                          unique_key("o2009buchprot_key") + ")) */"),
            std::string::npos)
      << texts[8];

  const std::filesystem::path directory = testing::make_temp_dir();
  const std::string statements = (directory / "statements.sql").string();
  std::ofstream out(statements);
  for (const std::string& statement : texts) out << statement << "\n--\n";
  out.close();
  // The checker itself refuses a text with a typo.
  const std::string typo = (directory / "typo.sql").string();
  std::ofstream(typo) << texts.back().substr(0, texts.back().find("values")) << "valus (:b1)\n";

  const std::string sql = std::string(ZARVELT_SOURCE_DIR) + "/sql/oracle/";
  EXPECT_EQ(
      std::system(grammar_command({statements, sql + "central.sql", sql + "client.sql"}).c_str()),
      0);
  EXPECT_NE(std::system(grammar_command({typo}).c_str()), 0);
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace zarvelt::db
