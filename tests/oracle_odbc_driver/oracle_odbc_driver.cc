// A test-only ODBC driver with the personality of Oracle's ODBC driver and database, so that the
// program's Oracle dialect runs through ODBC in the tests. It is a fixture, never installed: it
// wraps psqlODBC (loaded with dlopen from the path its data source names) and the PostgreSQL
// test database, and presents what Oracle's documentation says its driver and database do.
//
// Data source keys (odbc.ini, scripts/odbc-test-sources.sh writes them): Driver = this library,
// Backend = the psqlODBC data source it connects through, Psqlodbc = psqlODBC's library. The
// PostgreSQL database needs the compatibility schema tests/oracle_compat.sql (dual, Oracle's
// strict to_date with its ORA numbers); names not found in the session schema are looked up
// there next (as Oracle's public synonyms), so views put into it answer unqualified queries.
//
// What it presents, and where each behaviour comes from: [Doc] a document (its title, and a
// part of its address where the title alone is ambiguous), [Recorded] Oracle's documentation as
// recorded when the program's Oracle support was planned, without the page at hand, [Obs] an
// observation made with an earlier driver of this kind, [Switch] what no document here settles.
//   - SQL_DBMS_NAME "Oracle", SQL_DBMS_VER 10.02 (the production client is 10g). Native error =
//     the ORA number; messages "[Oracle][ODBC][Ora]ORA-nnnnn: ..." [Doc: ODBC "Diagnostic
//     Messages", [vendor][ODBC-component][data-source]; Oracle error help, ORA-nnnnn texts].
//   - A failed statement is undone alone, the transaction goes on [Doc: PL/SQL User's Guide
//     and Reference 10g R2, "ROLLBACK Statement": an implicit savepoint before each INSERT,
//     normally just the failed statement rolled back]. Done with a savepoint per statement.
//   - ALTER SESSION SET CURRENT_SCHEMA, ORA-01435 for a schema that does not exist;
//     unqualified names resolve in the schema current when a statement is parsed, and a handle
//     executed again is not parsed again, so it keeps that schema [Recorded].
//   - SYSDATE (the server host's clock) and dual [Recorded]. A zero-length text is
//     NULL [Doc: SQL Reference 10g R2, "Nulls" (b14200/sql_elements005.htm)]: a bound empty
//     text is NULL and no fetched text is empty.
//   - Parameter arrays with a status per row and, per failed row, a diagnostic record naming
//     it (SQL_DIAG_ROW_NUMBER) [Doc: ODBC "Using Arrays of Parameters"]; ORA-24381 "error(s)
//     in array DML" with one further record per failed row [Recorded: OCI
//     batch-error mode; Doc: ORA-24381 with three ORA-00001 in the OracleErrorCollection
//     example of dotConnect for Oracle]. No arrays of queries (SQL_PAS_NO_SELECT).
//   - IGNORE_ROW_ON_DUPKEY_INDEX(table(columns)) or (table, index) absorbs a duplicate of that
//     key (row count 0, no error); ORA-38913 when no unique index has those columns [Doc: SQL
//     Reference, ignore_row_on_dupkey_index syntax diagram; Oracle error help ORA-38913,
//     ORA-38912, ORA-38914, ORA-38915, ORA-38917]; a malformed hint, one naming a schema or
//     another table, is ignored silently and a duplicate raises ORA-00001 [Recorded].
//   - A graceful disconnect commits the open transaction [Doc: OCI Programmer's Guide 9.2,
//     "OCISessionEnd()": the transaction is implicitly committed].
//   - At most OPEN_CURSORS (50) open statements a session, ORA-01000 beyond [Doc: Database
//     Reference 10g R1, "OPEN_CURSORS", default 50]: a handle holds a cursor from its first
//     prepare or execute until freed; a statement in the driver's cache holds one too [Doc:
//     dotConnect for Oracle, "Using OCI Statement Caching": a cached statement is a cursor open
//     in the database].
//   - Oracle's to_date refuses what is no moment, each fault with its own number (ORA-01830 to
//     ORA-01858) [Recorded]: the compatibility schema's to_date raises them, and
//     their numbers are passed on from the message.
//   - psqlODBC sends its parameters untyped, so each "?" is cast here by the C type the
//     application bound ("? IS NOT NULL" fails with 42P18 otherwise); unixODBC asks a driver
//     for its diagnostics only if it exports SQLGetDiagField as well as SQLGetDiagRec [Obs].
// Switches (environment, read at connect; an unknown value fails the connect):
//   ZARVELT_ORA_ARRAY_FIRST_DIAG   summary (default) | row: the first record of a failed array
//                                  is ORA-24381 or the first failed row's own error [Switch].
//   ZARVELT_ORA_ARRAY_ON_ERROR     continue (default) | stop: an array goes on past a failed row
//                                  (batch-error mode) or stops there, the rows before it done
//                                  and the rest unused [Switch].
//   ZARVELT_ORA_ROW_COUNTS         per-row (default) | total: SQL_PARAM_ARRAY_ROW_COUNTS is
//                                  SQL_PARC_BATCH (a count per row, SQLMoreResults steps) or
//                                  SQL_PARC_NO_BATCH (one total) [Switch].
//   ZARVELT_ORA_HINT_REFUSED       no (default) | prepare | execute: every hinted insert is
//                                  refused with ORA-38913 at SQLPrepare, or at SQLExecute with
//                                  row 1 marked failed [Switch].
//   ZARVELT_ORA_ROLLBACK_FAILS     0 (default) | 1: ROLLBACK TO SAVEPOINT and SQLEndTran's
//                                  rollback fail with ORA-01086 / ORA-03113 [Switch].
//   ZARVELT_ORA_LOSE_SESSION_AT    N: the N-th statement the application executes finds the
//                                  session gone (ORA-03113; its transaction rolled back), every
//                                  later call ORA-03114 [Switch].
//   ZARVELT_ORA_STATEMENT_CACHE    0 (default) | size: a statement freed by the application
//                                  stays open in a cache keyed by its text alone, and a later
//                                  prepare of the same text gets it back, still resolving names
//                                  in the schema it was parsed in [Switch; Doc: OCI Programmer's
//                                  Guide 19c, "Statement Caching in OCI": a statement is found
//                                  in the cache by its text].
//   ZARVELT_ORA_OPEN_CURSORS       the limit, 50 by default.
//   ZARVELT_ORA_TRACE              a file: one line per execute ("execute <rows> <text>") and,
//                                  at disconnect, "cursors <most open at once>".
#include <dlfcn.h>
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace {

// ---- psqlODBC, called directly (it is a driver: no driver manager in between).

struct Psql {
  SQLRETURN (*AllocHandle)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
  SQLRETURN (*FreeHandle)(SQLSMALLINT, SQLHANDLE);
  SQLRETURN (*SetEnvAttr)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER);
  SQLRETURN (*SetConnectAttr)(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER);
  SQLRETURN (*GetConnectAttr)(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER, SQLINTEGER*);
  SQLRETURN(*DriverConnect)
  (SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*, SQLUSMALLINT);
  SQLRETURN (*Disconnect)(SQLHDBC);
  SQLRETURN (*GetInfo)(SQLHDBC, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT*);
  SQLRETURN (*EndTran)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT);
  SQLRETURN (*SetStmtAttr)(SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER);
  SQLRETURN (*Prepare)(SQLHSTMT, SQLCHAR*, SQLINTEGER);
  SQLRETURN(*BindParameter)
  (SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLULEN, SQLSMALLINT, SQLPOINTER,
   SQLLEN, SQLLEN*);
  SQLRETURN (*Execute)(SQLHSTMT);
  SQLRETURN (*ExecDirect)(SQLHSTMT, SQLCHAR*, SQLINTEGER);
  SQLRETURN (*NumResultCols)(SQLHSTMT, SQLSMALLINT*);
  SQLRETURN(*DescribeCol)
  (SQLHSTMT, SQLUSMALLINT, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*, SQLSMALLINT*, SQLULEN*,
   SQLSMALLINT*, SQLSMALLINT*);
  SQLRETURN (*Fetch)(SQLHSTMT);
  SQLRETURN (*GetData)(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*);
  SQLRETURN (*RowCount)(SQLHSTMT, SQLLEN*);
  SQLRETURN (*MoreResults)(SQLHSTMT);
  SQLRETURN (*FreeStmt)(SQLHSTMT, SQLUSMALLINT);
  SQLRETURN (*Cancel)(SQLHSTMT);
  SQLRETURN(*GetDiagRec)
  (SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*);
};

// RTLD_DEEPBIND: psqlODBC's own calls of ODBC names stay inside it rather than reaching the
// driver manager, which the process has loaded globally. AddressSanitizer refuses to load a
// library so (its interceptors would be bypassed); in a sanitized program psqlODBC is loaded
// without it, which psqlODBC bears (it calls its own functions by their internal names).
const Psql* load_psql(const std::string& path, std::string& error) {
  static std::mutex mutex;
  static Psql psql;
  static bool loaded = false;
  const std::lock_guard<std::mutex> lock(mutex);
  if (loaded) return &psql;
  const bool sanitized = dlsym(RTLD_DEFAULT, "__asan_init") != nullptr;
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | (sanitized ? 0 : RTLD_DEEPBIND));
  if (library == nullptr) {
    error = std::string("cannot load psqlODBC: ") + dlerror();
    return nullptr;
  }
  bool found = true;
  const auto bind = [&](auto& function, const char* name) {
    void* symbol = dlsym(library, name);
    found = found && symbol != nullptr;
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(symbol);
  };
  bind(psql.AllocHandle, "SQLAllocHandle");
  bind(psql.FreeHandle, "SQLFreeHandle");
  bind(psql.SetEnvAttr, "SQLSetEnvAttr");
  bind(psql.SetConnectAttr, "SQLSetConnectAttr");
  bind(psql.GetConnectAttr, "SQLGetConnectAttr");
  bind(psql.DriverConnect, "SQLDriverConnect");
  bind(psql.Disconnect, "SQLDisconnect");
  bind(psql.GetInfo, "SQLGetInfo");
  bind(psql.EndTran, "SQLEndTran");
  bind(psql.SetStmtAttr, "SQLSetStmtAttr");
  bind(psql.Prepare, "SQLPrepare");
  bind(psql.BindParameter, "SQLBindParameter");
  bind(psql.Execute, "SQLExecute");
  bind(psql.ExecDirect, "SQLExecDirect");
  bind(psql.NumResultCols, "SQLNumResultCols");
  bind(psql.DescribeCol, "SQLDescribeCol");
  bind(psql.Fetch, "SQLFetch");
  bind(psql.GetData, "SQLGetData");
  bind(psql.RowCount, "SQLRowCount");
  bind(psql.MoreResults, "SQLMoreResults");
  bind(psql.FreeStmt, "SQLFreeStmt");
  bind(psql.Cancel, "SQLCancel");
  bind(psql.GetDiagRec, "SQLGetDiagRec");
  if (!found) {
    error = "psqlODBC lacks an entry point";
    return nullptr;
  }
  loaded = true;
  return &psql;
}

bool ok(SQLRETURN result) { return result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO; }

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}
std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// ---- Diagnostics as Oracle's driver gives them.

struct Record {
  std::string state;
  SQLINTEGER native = 0;
  std::string message;
  SQLLEN row = SQL_NO_ROW_NUMBER;
};

Record oracle_error(int number, std::string_view text, std::string state = "HY000",
                    SQLLEN row = SQL_NO_ROW_NUMBER) {
  char head[40];
  std::snprintf(head, sizeof head, "[Oracle][ODBC][Ora]ORA-%05d: ", number);
  return {std::move(state), number, head + std::string(text), row};
}

// Oracle's texts (Error Messages) and SQLSTATEs for the numbers this driver gives.
struct OracleText {
  int number;
  const char* state;
  const char* text;
};
constexpr OracleText kOracleTexts[] = {
    {1, "23000", "unique constraint violated"},
    {54, "HY000", "resource busy and acquire with NOWAIT specified or timeout expired"},
    {60, "40001", "deadlock detected while waiting for resource"},
    {18, "HY000", "maximum number of sessions exceeded"},
    {600, "HY000", "internal error code"},
    {900, "42000", "invalid SQL statement"},
    {904, "42S22", "invalid identifier"},
    {942, "42S02", "table or view does not exist"},
    {1000, "HY000", "maximum open cursors exceeded"},
    {1008, "07002", "not all variables bound"},
    {1013, "HY008", "user requested cancel of current operation"},
    {1017, "28000", "invalid username/password; logon denied"},
    {1031, "42000", "insufficient privileges"},
    {1086, "HY000", "savepoint never established in this session or is invalid"},
    {1400, "23000", "cannot insert NULL"},
    {1427, "21000", "single-row subquery returns more than one row"},
    {1435, "HY000", "user does not exist"},
    {1438, "22003", "value larger than specified precision allowed for this column"},
    {1476, "22012", "divisor is equal to zero"},
    {1653, "HY000", "unable to extend table"},
    {1722, "22018", "invalid number"},
    {1861, "22008", "literal does not match format string"},
    {2290, "23000", "check constraint violated"},
    {2291, "23000", "integrity constraint violated - parent key not found"},
    {2421, "42000", "missing or invalid schema authorization identifier"},
    {3113, "HY000", "end-of-file on communication channel"},
    {3114, "HY000", "not connected to ORACLE"},
    {4030, "HY001", "out of process memory"},
    {8177, "40001", "can't serialize access for this transaction"},
    {12154, "08001", "TNS:could not resolve the connect identifier specified"},
    {12170, "HYT00", "TNS:Connect timeout occurred"},
    {12541, "08001", "TNS:no listener"},
    {12899, "22001", "value too large for column"},
    {16000, "HY000", "database open for read-only access"},
    {24381, "HY000", "error(s) in array DML"},
    {29275, "HY000", "partial multibyte character"},
    {38913, "HY000", "Index specified in the index hint is invalid"},
};

Record oracle_error(int number, SQLLEN row = SQL_NO_ROW_NUMBER, std::string detail = "") {
  for (const OracleText& known : kOracleTexts) {
    if (known.number == number) {
      return oracle_error(number, known.text + (detail.empty() ? "" : " (" + detail + ")"),
                          known.state, row);
    }
  }
  return oracle_error(number, detail.empty() ? "error" : detail, "HY000", row);
}

// A PostgreSQL error as the ORA number the same fault has on Oracle. An "ORA-nnnnn" in the
// message (the compatibility schema's functions raise those) is taken as it is.
int oracle_number_of(const std::string& state, const std::string& message) {
  for (std::size_t at = message.find("ORA-"); at != std::string::npos;
       at = message.find("ORA-", at + 1)) {
    if (at + 9 <= message.size() && std::all_of(message.begin() + static_cast<long>(at) + 4,
                                                message.begin() + static_cast<long>(at) + 9,
                                                [](char c) { return c >= '0' && c <= '9'; })) {
      return std::atoi(message.substr(at + 4, 5).c_str());
    }
  }
  static const std::pair<const char*, int> kMapped[] = {
      {"23505", 1},     {"23502", 1400},  {"22001", 12899}, {"22003", 1438},  {"22P02", 1722},
      {"22021", 29275}, {"22P05", 29275}, {"22007", 1861},  {"22008", 1861},  {"42P01", 942},
      {"42703", 904},   {"42883", 904},   {"42601", 900},   {"42P10", 38913}, {"42501", 1031},
      {"25006", 16000}, {"53100", 1653},  {"53200", 4030},  {"53300", 18},    {"57014", 1013},
      {"55P03", 54},    {"40P01", 60},    {"40001", 8177},  {"21000", 1427},  {"23514", 2290},
      {"23503", 2291},  {"22012", 1476},  {"3F000", 1435},  {"08", 3113},     {"57P", 3113},
  };
  for (const auto& [prefix, number] : kMapped) {
    if (state.rfind(prefix, 0) == 0) return number;
  }
  return 600;
}

bool is_lost(int number) { return number == 3113 || number == 3114 || number == 28; }

// ---- The switches.

struct Switches {
  bool summary_first = true;
  bool stop_at_failure = false;
  bool counts_per_row = true;
  enum class Hint { kHonoured, kAtPrepare, kAtExecute } hint = Hint::kHonoured;
  bool rollback_fails = false;
  long lose_session_at = 0;
  std::size_t statement_cache = 0;
  int open_cursors = 50;
  std::string trace;
};

// False (and error says which) for a value the switch does not know.
bool read_switches(Switches& switches, std::string& error) {
  const auto value = [](const char* name) {
    const char* set = std::getenv(name);
    return std::string(set != nullptr ? set : "");
  };
  const auto choose = [&](const char* name, std::initializer_list<const char*> values) {
    const std::string set = value(name);
    if (set.empty()) return 0;
    int index = 0;
    for (const char* known : values) {
      if (set == known) return index;
      ++index;
    }
    error = std::string("unknown value of ") + name + ": " + set;
    return 0;
  };
  switches.summary_first = choose("ZARVELT_ORA_ARRAY_FIRST_DIAG", {"summary", "row"}) == 0;
  switches.stop_at_failure = choose("ZARVELT_ORA_ARRAY_ON_ERROR", {"continue", "stop"}) == 1;
  switches.counts_per_row = choose("ZARVELT_ORA_ROW_COUNTS", {"per-row", "total"}) == 0;
  switches.hint =
      static_cast<Switches::Hint>(choose("ZARVELT_ORA_HINT_REFUSED", {"no", "prepare", "execute"}));
  switches.rollback_fails = choose("ZARVELT_ORA_ROLLBACK_FAILS", {"0", "1"}) == 1;
  switches.lose_session_at = std::atol(value("ZARVELT_ORA_LOSE_SESSION_AT").c_str());
  switches.statement_cache =
      static_cast<std::size_t>(std::atol(value("ZARVELT_ORA_STATEMENT_CACHE").c_str()));
  if (!value("ZARVELT_ORA_OPEN_CURSORS").empty()) {
    switches.open_cursors = std::atoi(value("ZARVELT_ORA_OPEN_CURSORS").c_str());
  }
  switches.trace = value("ZARVELT_ORA_TRACE");
  return error.empty();
}

// ---- Statement texts.

// What a statement text is to this driver.
struct Parsed {
  enum class Kind { kPlain, kSchemaSwitch, kSavepoint, kRollbackTo, kRelease, kCommit, kRollback };
  Kind kind = Kind::kPlain;
  std::string name;      // the schema or savepoint named
  std::string body;      // the text without its hint
  std::string conflict;  // what a honoured hint becomes
  bool hinted = false;   // a well-formed IGNORE_ROW_ON_DUPKEY_INDEX hint
};

Parsed parse(const std::string& text) {
  using std::regex;
  constexpr auto icase = std::regex::icase | std::regex::ECMAScript;
  static const regex kSwitch(R"(^\s*alter\s+session\s+set\s+current_schema\s*=\s*([\s\S]*?)\s*$)",
                             icase);
  static const regex kSavepoint(R"(^\s*savepoint\s+(\w+)\s*$)", icase);
  static const regex kRollbackTo(R"(^\s*rollback\s+(?:work\s+)?to\s+(?:savepoint\s+)?(\w+)\s*$)",
                                 icase);
  static const regex kRelease(R"(^\s*release\s+savepoint\s+(\w+)\s*$)", icase);
  static const regex kCommit(R"(^\s*commit(?:\s+work)?\s*$)", icase);
  static const regex kRollback(R"(^\s*rollback(?:\s+work)?\s*$)", icase);
  static const regex kHinted(R"(^(\s*insert\s*)/\*\+([\s\S]*?)\*/([\s\S]*)$)", icase);
  static const regex kTarget(R"(^\s*into\s+(?:\w+\.)?(\w+))", icase);
  static const regex kHint(
      R"(^\s*ignore_row_on_dupkey_index\s*\(\s*(\w+)\s*(?:\(\s*(\w+(?:\s*,\s*\w+)*)\s*\)|,\s*(\w+))\s*\)\s*$)",
      icase);
  Parsed parsed;
  parsed.body = text;
  std::smatch match;
  if (std::regex_match(text, match, kSwitch)) {
    parsed.kind = Parsed::Kind::kSchemaSwitch;
    parsed.name = match[1];
  } else if (std::regex_match(text, match, kSavepoint)) {
    parsed.kind = Parsed::Kind::kSavepoint;
    parsed.name = upper(match[1]);
  } else if (std::regex_match(text, match, kRollbackTo)) {
    parsed.kind = Parsed::Kind::kRollbackTo;
    parsed.name = upper(match[1]);
  } else if (std::regex_match(text, match, kRelease)) {
    parsed.kind = Parsed::Kind::kRelease;
  } else if (std::regex_match(text, match, kCommit)) {
    parsed.kind = Parsed::Kind::kCommit;
  } else if (std::regex_match(text, match, kRollback)) {
    parsed.kind = Parsed::Kind::kRollback;
  } else if (std::regex_match(text, match, kHinted)) {
    // The hint follows the statement's first keyword; anything in it but a well-formed
    // IGNORE_ROW_ON_DUPKEY_INDEX on the insert's own table is ignored.
    const std::string hint = match[2];
    const std::string rest = match[3];
    parsed.body = std::string(match[1]) + rest;
    std::smatch target;
    std::smatch named;
    if (std::regex_search(rest, target, kTarget) && std::regex_match(hint, named, kHint) &&
        upper(named[1]) == upper(target[1])) {
      parsed.hinted = true;
      parsed.conflict = named[2].matched ? " ON CONFLICT (" + std::string(named[2]) + ") DO NOTHING"
                                         : " ON CONFLICT ON CONSTRAINT " +
                                               lower(std::string(named[3])) + " DO NOTHING";
    }
  }
  return parsed;
}

// The PostgreSQL text of an Oracle text: each "?" cast to the type the application bound
// ('T' text, 'I' integer), SYSDATE the session's local time (the server host's clock).
std::string postgresql_text(const Parsed& parsed, const std::string& kinds) {
  const std::string& text = parsed.body;
  std::string out;
  std::size_t marker = 0;
  char quote = '\0';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != '\0') {
      if (c == quote) quote = '\0';
      out += c;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
      out += c;
      continue;
    }
    if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      const std::size_t end = text.find("*/", i + 2);
      const std::size_t stop = end == std::string::npos ? text.size() : end + 2;
      out += text.substr(i, stop - i);
      i = stop - 1;
      continue;
    }
    if (c == '?') {
      const char kind = marker < kinds.size() ? kinds[marker] : 'T';
      ++marker;
      out += kind == 'I' ? "CAST(? AS integer)" : "CAST(? AS varchar)";
      continue;
    }
    const bool word_start =
        i == 0 || !(std::isalnum(static_cast<unsigned char>(text[i - 1])) || text[i - 1] == '_');
    if (word_start && text.size() - i >= 7 && upper(text.substr(i, 7)) == "SYSDATE" &&
        (i + 7 == text.size() ||
         !(std::isalnum(static_cast<unsigned char>(text[i + 7])) || text[i + 7] == '_'))) {
      out += "localtimestamp(0)";
      i += 6;
      continue;
    }
    out += c;
  }
  return out + parsed.conflict;
}

// An Oracle schema name as PostgreSQL spells the same schema: unquoted names fold to upper case
// in Oracle and to lower case in PostgreSQL.
std::string postgresql_schema(const std::string& oracle_name) {
  return oracle_name == upper(oracle_name) ? lower(oracle_name) : oracle_name;
}

std::string quoted(const std::string& name, char quote) {
  std::string out(1, quote);
  for (const char c : name) {
    out += c;
    if (c == quote) out += c;
  }
  return out + quote;
}

// ---- Handles.

struct Handle {
  std::vector<Record> diagnostics;
  void clear() { diagnostics.clear(); }
  SQLRETURN fail(Record record) {
    diagnostics.push_back(std::move(record));
    return SQL_ERROR;
  }
};

struct Env : Handle {
  SQLHENV inner = SQL_NULL_HENV;
  SQLINTEGER version = SQL_OV_ODBC3;
};

struct Stmt;

// A statement the application freed, kept open in the driver's statement cache.
struct Cached {
  std::string text;
  std::string schema;
  SQLHSTMT inner;
  std::string inner_kinds;
};

struct Dbc : Handle {
  explicit Dbc(Env* owner) : env(owner) {}
  Env* env;
  const Psql* psql = nullptr;
  SQLHDBC inner = SQL_NULL_HDBC;
  SQLHSTMT control = SQL_NULL_HSTMT;             // the driver's own statements
  std::atomic<SQLHSTMT> active{SQL_NULL_HSTMT};  // the inner statement running, for SQLCancel
  bool connected = false;
  bool lost = false;
  Switches switches;
  std::string data_source;
  // Attributes set before the connect, applied once psqlODBC's connection exists.
  SQLULEN login_timeout = 0;
  SQLULEN connection_timeout = 0;
  bool autocommit = true;
  std::string schema;          // the session's CURRENT_SCHEMA, as Oracle spells it
  std::string path_schema;     // the schema PostgreSQL's search_path holds now ("" not known)
  bool own_savepoint = false;  // the per-statement savepoint stands
  std::vector<std::string> savepoints;  // the application's, in the order set
  long statements = 0;
  int cursors = 0;
  int most_cursors = 0;
  std::list<Cached> cache;  // most recently freed first

  void trace(const std::string& line) const {
    if (switches.trace.empty()) return;
    if (std::FILE* out = std::fopen(switches.trace.c_str(), "a")) {
      std::fprintf(out, "%s\n", line.c_str());
      std::fclose(out);
    }
  }
  void open_cursor() {
    ++cursors;
    most_cursors = std::max(most_cursors, cursors);
  }
};

struct Binding {
  SQLSMALLINT c_type = SQL_C_CHAR;
  SQLPOINTER data = nullptr;
  SQLLEN buffer_length = 0;
  SQLLEN* indicator = nullptr;
};

struct Stmt : Handle {
  explicit Stmt(Dbc* owner) : dbc(owner) {}
  Dbc* dbc;
  SQLHSTMT inner = SQL_NULL_HSTMT;
  std::string inner_kinds;  // the kinds the inner statement is prepared for ("" not prepared)
  std::string text;
  Parsed parsed;
  std::string schema;       // where its unqualified names resolve
  std::size_t markers = 0;  // its "?"
  bool prepared = false;
  bool from_prepare = false;  // SQLPrepare, not SQLExecDirect
  bool cursor = false;        // holds one of the session's open cursors
  bool has_result = false;
  SQLUSMALLINT data_column = 0;  // the column SQLGetData last read
  std::map<SQLUSMALLINT, Binding> bindings;
  SQLULEN paramset_size = 1;
  SQLUSMALLINT* status_ptr = nullptr;
  SQLULEN* processed_ptr = nullptr;
  SQLULEN query_timeout = 0;
  std::vector<SQLLEN> counts;
  std::size_t count_at = 0;
};

// ---- Talking to psqlODBC.

// The first diagnostic record of an inner call, as Oracle's.
Record inner_error(const Dbc& dbc, SQLSMALLINT type, SQLHANDLE handle, SQLLEN row) {
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLCHAR message[1024] = {};
  SQLSMALLINT length = 0;
  if (!ok(dbc.psql->GetDiagRec(type, handle, 1, state, &native, message,
                               static_cast<SQLSMALLINT>(sizeof message), &length))) {
    return oracle_error(3113, row, "no diagnostics from psqlODBC");
  }
  const std::string sqlstate(reinterpret_cast<char*>(state));
  const std::string text(reinterpret_cast<char*>(message));
  // psqlODBC reports a connection it found broken with its own states (08S01, HY000 "could not
  // send"), and the server's shutdown with 57P01.
  const bool broken =
      text.find("connection") != std::string::npos &&
      (text.find("closed") != std::string::npos || text.find("terminat") != std::string::npos ||
       text.find("could not send") != std::string::npos ||
       text.find("no connection") != std::string::npos);
  const int number = broken ? 3113 : oracle_number_of(sqlstate, text);
  return oracle_error(number, row, sqlstate + " " + text);
}

// The session is gone and with it the transaction: the rest of the run sees ORA-03114.
void lose(Dbc& dbc) {
  if (dbc.lost) return;
  dbc.lost = true;
  if (dbc.inner != SQL_NULL_HDBC) dbc.psql->EndTran(SQL_HANDLE_DBC, dbc.inner, SQL_ROLLBACK);
}

// One statement of the driver's own (no inputs, no rows) on the control handle.
bool control(Dbc& dbc, const std::string& text, Record& error) {
  dbc.active = dbc.control;
  const SQLRETURN result = dbc.psql->ExecDirect(
      dbc.control, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS);
  dbc.active = SQL_NULL_HSTMT;
  const bool done = ok(result) || result == SQL_NO_DATA;
  if (!done) {
    error = inner_error(dbc, SQL_HANDLE_STMT, dbc.control, SQL_NO_ROW_NUMBER);
    if (is_lost(error.native)) lose(dbc);
  }
  dbc.psql->FreeStmt(dbc.control, SQL_CLOSE);
  return done;
}

// The application's savepoints and the driver's meet only where the driver's is out of the way.
bool release_own_savepoint(Dbc& dbc, Record& error) {
  if (!dbc.own_savepoint) return true;
  dbc.own_savepoint = false;
  return control(dbc, "RELEASE SAVEPOINT zarvelt_oracle_driver", error);
}

// One value of one row of the application's bound parameters.
struct Value {
  bool null = true;
  bool integer = false;
  std::string text;
  SQLINTEGER number = 0;
};

bool value_of(const Stmt& stmt, SQLUSMALLINT parameter, std::size_t row, Value& value) {
  const auto found = stmt.bindings.find(parameter);
  if (found == stmt.bindings.end()) return false;
  const Binding& b = found->second;
  const SQLLEN* indicator = b.indicator != nullptr ? b.indicator + row : nullptr;
  value = Value();
  value.integer = b.c_type != SQL_C_CHAR;
  if ((indicator != nullptr && *indicator == SQL_NULL_DATA) || b.data == nullptr) return true;
  switch (b.c_type) {
    case SQL_C_CHAR: {
      const char* text =
          static_cast<const char*>(b.data) + row * static_cast<std::size_t>(b.buffer_length);
      const std::size_t length = indicator == nullptr || *indicator == SQL_NTS
                                     ? std::strlen(text)
                                     : static_cast<std::size_t>(*indicator);
      value.text.assign(text, length);
      value.null = length == 0;  // Oracle: a zero-length text is NULL
      return true;
    }
    case SQL_C_SLONG:
    case SQL_C_LONG:
      value.number = static_cast<const SQLINTEGER*>(b.data)[row];
      break;
    case SQL_C_SSHORT:
    case SQL_C_SHORT:
      value.number = static_cast<const SQLSMALLINT*>(b.data)[row];
      break;
    default:
      return false;
  }
  value.null = false;
  return true;
}

std::size_t markers_of(const Parsed& parsed) {
  std::size_t markers = 0;
  const std::string probe = postgresql_text(parsed, "");
  for (std::size_t at = probe.find("CAST(? AS "); at != std::string::npos;
       at = probe.find("CAST(? AS ", at + 1)) {
    ++markers;
  }
  return markers;
}

struct RowOutcome {
  bool done = false;
  SQLLEN count = 0;
  Record error;
};

// Before each statement: names resolve in the schema it was parsed in, and a savepoint of the
// driver's own stands, so that a failure undoes the statement alone.
bool before_statement(Stmt& stmt, Record& error) {
  Dbc& dbc = *stmt.dbc;
  if (dbc.path_schema != stmt.schema) {
    const std::string path = "SET search_path TO " + quoted(postgresql_schema(stmt.schema), '"') +
                             ", oracle_compat, pg_catalog";
    if (!control(dbc, path, error)) return false;
    dbc.path_schema = stmt.schema;
  }
  if (!dbc.autocommit) {
    const std::string set =
        std::string(dbc.own_savepoint ? "RELEASE SAVEPOINT zarvelt_oracle_driver;" : "") +
        "SAVEPOINT zarvelt_oracle_driver";
    if (!control(dbc, set, error)) return false;
    dbc.own_savepoint = true;
  }
  return true;
}

// The inner statement, prepared for the kinds of its inputs.
bool inner_prepared(Stmt& stmt, const std::string& kinds, Record& error) {
  Dbc& dbc = *stmt.dbc;
  const Psql& psql = *dbc.psql;
  if (stmt.inner == SQL_NULL_HSTMT) {
    if (!ok(psql.AllocHandle(SQL_HANDLE_STMT, dbc.inner, &stmt.inner))) {
      error = inner_error(dbc, SQL_HANDLE_DBC, dbc.inner, SQL_NO_ROW_NUMBER);
      return false;
    }
    if (stmt.query_timeout > 0) {
      psql.SetStmtAttr(stmt.inner, SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(stmt.query_timeout), 0);
    }
    stmt.inner_kinds.clear();
  }
  if (stmt.inner_kinds == kinds && !kinds.empty()) return true;
  const std::string text = postgresql_text(stmt.parsed, kinds);
  if (!ok(psql.Prepare(stmt.inner, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())),
                       SQL_NTS))) {
    error = inner_error(dbc, SQL_HANDLE_STMT, stmt.inner, SQL_NO_ROW_NUMBER);
    stmt.inner_kinds.clear();
    return false;
  }
  stmt.inner_kinds = kinds;
  return true;
}

// After a failed statement: undone alone, or the session is gone.
void undo_statement(Dbc& dbc, const Record& error) {
  if (is_lost(error.native)) {
    lose(dbc);
  } else if (!dbc.autocommit) {
    Record ignored;
    if (!control(dbc, "ROLLBACK TO SAVEPOINT zarvelt_oracle_driver", ignored)) lose(dbc);
  }
}

// One row of the statement's parameters, as one statement undone alone when it fails.
RowOutcome run_row(Stmt& stmt, std::size_t row) {
  Dbc& dbc = *stmt.dbc;
  const Psql& psql = *dbc.psql;
  RowOutcome outcome;
  const std::size_t markers = stmt.markers;
  std::vector<Value> values(markers);
  std::string kinds;
  for (std::size_t k = 0; k < markers; ++k) {
    if (!value_of(stmt, static_cast<SQLUSMALLINT>(k + 1), row, values[k])) {
      outcome.error = oracle_error(1008, static_cast<SQLLEN>(row + 1));
      return outcome;
    }
    kinds += values[k].integer ? 'I' : 'T';
  }
  if (!before_statement(stmt, outcome.error) || !inner_prepared(stmt, kinds, outcome.error)) {
    return outcome;
  }
  psql.FreeStmt(stmt.inner, SQL_RESET_PARAMS);
  std::vector<SQLLEN> indicators(markers);
  for (std::size_t k = 0; k < markers; ++k) {
    Value& v = values[k];
    indicators[k] = v.null ? SQL_NULL_DATA : v.integer ? 0 : static_cast<SQLLEN>(v.text.size());
    const auto number = static_cast<SQLUSMALLINT>(k + 1);
    if (v.integer) {
      psql.BindParameter(stmt.inner, number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                         &v.number, 0, &indicators[k]);
    } else {
      psql.BindParameter(stmt.inner, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                         std::max<SQLULEN>(v.text.size(), 1), 0, v.text.data(),
                         static_cast<SQLLEN>(v.text.size()), &indicators[k]);
    }
  }
  dbc.active = stmt.inner;
  const SQLRETURN executed = psql.Execute(stmt.inner);
  dbc.active = SQL_NULL_HSTMT;
  if (ok(executed) || executed == SQL_NO_DATA) {
    SQLSMALLINT columns = 0;
    psql.NumResultCols(stmt.inner, &columns);
    stmt.has_result = columns > 0;
    if (!stmt.has_result) psql.RowCount(stmt.inner, &outcome.count);
    outcome.done = true;
    return outcome;
  }
  outcome.error = inner_error(dbc, SQL_HANDLE_STMT, stmt.inner, SQL_NO_ROW_NUMBER);
  psql.FreeStmt(stmt.inner, SQL_CLOSE);
  undo_statement(dbc, outcome.error);
  return outcome;
}

// An array of inserts in one call to psqlODBC (a round trip per chunk of rows) under one
// savepoint: true when every row ran, with each row's count. Anything else is undone, and the
// caller runs the rows one by one, each undone alone when it fails: what the array would have
// done row by row, only slower.
bool run_inserts_at_once(Stmt& stmt, std::size_t rows) {
  Dbc& dbc = *stmt.dbc;
  const Psql& psql = *dbc.psql;
  if (dbc.autocommit || stmt.markers == 0) return false;
  struct Column {
    bool integer = false;
    std::vector<SQLINTEGER> numbers;
    std::vector<char> texts;
    SQLLEN width = 1;
    std::vector<SQLLEN> indicators;
  };
  std::vector<Column> columns(stmt.markers);
  std::vector<std::vector<Value>> values(stmt.markers, std::vector<Value>(rows));
  std::string kinds;
  for (std::size_t k = 0; k < stmt.markers; ++k) {
    Column& column = columns[k];
    for (std::size_t row = 0; row < rows; ++row) {
      Value& v = values[k][row];
      if (!value_of(stmt, static_cast<SQLUSMALLINT>(k + 1), row, v)) return false;
      if (row > 0 && v.integer != column.integer) return false;
      column.integer = v.integer;
      if (!v.integer) column.width = std::max(column.width, static_cast<SQLLEN>(v.text.size()));
    }
    kinds += column.integer ? 'I' : 'T';
    column.indicators.assign(rows, SQL_NULL_DATA);
    if (column.integer) {
      column.numbers.assign(rows, 0);
    } else {
      column.texts.assign(rows * static_cast<std::size_t>(column.width), '\0');
    }
    for (std::size_t row = 0; row < rows; ++row) {
      const Value& v = values[k][row];
      if (v.null) continue;
      if (column.integer) {
        column.numbers[row] = v.number;
        column.indicators[row] = 0;
      } else {
        std::memcpy(column.texts.data() + row * static_cast<std::size_t>(column.width),
                    v.text.data(), v.text.size());
        column.indicators[row] = static_cast<SQLLEN>(v.text.size());
      }
    }
  }
  Record error;
  if (!before_statement(stmt, error) || !inner_prepared(stmt, kinds, error)) return false;
  std::vector<SQLUSMALLINT> statuses(rows, SQL_PARAM_UNUSED);
  SQLULEN processed = 0;
  psql.FreeStmt(stmt.inner, SQL_RESET_PARAMS);
  psql.SetStmtAttr(stmt.inner, SQL_ATTR_PARAM_BIND_TYPE,
                   reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0);
  psql.SetStmtAttr(stmt.inner, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0);
  psql.SetStmtAttr(stmt.inner, SQL_ATTR_PARAM_STATUS_PTR, statuses.data(), 0);
  psql.SetStmtAttr(stmt.inner, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
  for (std::size_t k = 0; k < stmt.markers; ++k) {
    Column& column = columns[k];
    const auto number = static_cast<SQLUSMALLINT>(k + 1);
    if (column.integer) {
      psql.BindParameter(stmt.inner, number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                         column.numbers.data(), 0, column.indicators.data());
    } else {
      psql.BindParameter(stmt.inner, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                         static_cast<SQLULEN>(column.width), 0, column.texts.data(), column.width,
                         column.indicators.data());
    }
  }
  dbc.active = stmt.inner;
  const SQLRETURN executed = psql.Execute(stmt.inner);
  dbc.active = SQL_NULL_HSTMT;
  bool done = ok(executed) && processed == rows &&
              std::all_of(statuses.begin(), statuses.end(),
                          [](SQLUSMALLINT state) { return state == SQL_PARAM_SUCCESS; });
  std::vector<SQLLEN> counts(rows, 0);
  for (std::size_t row = 0; done && row < rows; ++row) {
    done = (row == 0 || ok(psql.MoreResults(stmt.inner))) &&
           ok(psql.RowCount(stmt.inner, &counts[row])) && (counts[row] == 0 || counts[row] == 1);
  }
  if (!done && !ok(executed)) {
    error = inner_error(dbc, SQL_HANDLE_STMT, stmt.inner, SQL_NO_ROW_NUMBER);
  }
  psql.FreeStmt(stmt.inner, SQL_CLOSE);
  psql.FreeStmt(stmt.inner, SQL_RESET_PARAMS);
  psql.SetStmtAttr(stmt.inner, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  psql.SetStmtAttr(stmt.inner, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
  psql.SetStmtAttr(stmt.inner, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
  if (!done) {
    undo_statement(dbc, error);  // the whole array, from its savepoint
    return false;
  }
  stmt.counts = std::move(counts);
  return true;
}

SQLRETURN not_connected(Handle& handle) { return handle.fail(oracle_error(3114)); }

// ALTER SESSION SET CURRENT_SCHEMA=name.
SQLRETURN switch_schema(Stmt& stmt) {
  Dbc& dbc = *stmt.dbc;
  static const std::regex kPlainName(R"(^[A-Za-z][A-Za-z0-9_$#]{0,29}$)");
  static const std::regex kQuotedName(R"re(^"([^"]{1,30})"$)re");
  std::smatch match;
  std::string name;
  if (std::regex_match(stmt.parsed.name, kPlainName)) {
    name = upper(stmt.parsed.name);
  } else if (std::regex_match(stmt.parsed.name, match, kQuotedName)) {
    name = match[1];
  } else {
    return stmt.fail(oracle_error(2421));
  }
  Record error;
  if (!release_own_savepoint(dbc, error)) return stmt.fail(error);
  const std::string exists = "SELECT 1/count(*) FROM pg_namespace WHERE nspname = " +
                             quoted(postgresql_schema(name), '\'');
  // A failed probe would abort PostgreSQL's transaction: it runs under the driver's savepoint.
  if (!dbc.autocommit && !control(dbc, "SAVEPOINT zarvelt_oracle_driver", error)) {
    return stmt.fail(error);
  }
  dbc.own_savepoint = !dbc.autocommit;
  if (!control(dbc, exists, error)) {
    if (dbc.lost) return stmt.fail(error);
    Record ignored;
    if (!dbc.autocommit && !control(dbc, "ROLLBACK TO SAVEPOINT zarvelt_oracle_driver", ignored)) {
      lose(dbc);
    }
    return stmt.fail(oracle_error(1435));
  }
  dbc.schema = name;
  return SQL_SUCCESS;
}

SQLRETURN savepoint_statement(Stmt& stmt) {
  Dbc& dbc = *stmt.dbc;
  const std::string& name = stmt.parsed.name;
  Record error;
  if (!release_own_savepoint(dbc, error)) return stmt.fail(error);
  const auto known = std::find(dbc.savepoints.begin(), dbc.savepoints.end(), name);
  if (stmt.parsed.kind == Parsed::Kind::kSavepoint) {
    // Oracle erases an earlier savepoint of the same name; PostgreSQL would hide it.
    const std::string text =
        (known != dbc.savepoints.end() ? "RELEASE SAVEPOINT " + name + ";" : "") + "SAVEPOINT " +
        name;
    if (!control(dbc, text, error)) return stmt.fail(error);
    if (known != dbc.savepoints.end()) dbc.savepoints.erase(known, dbc.savepoints.end());
    dbc.savepoints.push_back(name);
    return SQL_SUCCESS;
  }
  if (dbc.switches.rollback_fails || known == dbc.savepoints.end()) {
    return stmt.fail(oracle_error(1086, SQL_NO_ROW_NUMBER, name));
  }
  if (!control(dbc, "ROLLBACK TO SAVEPOINT " + name, error)) return stmt.fail(error);
  dbc.savepoints.erase(known + 1, dbc.savepoints.end());
  dbc.path_schema.clear();  // a search_path set since then is undone too
  return SQL_SUCCESS;
}

SQLRETURN end_transaction(Dbc& dbc, SQLSMALLINT completion) {
  if (dbc.lost) return not_connected(dbc);
  if (completion == SQL_ROLLBACK && dbc.switches.rollback_fails) {
    lose(dbc);
    return dbc.fail(oracle_error(3113));
  }
  dbc.own_savepoint = false;
  dbc.savepoints.clear();
  if (completion == SQL_ROLLBACK) dbc.path_schema.clear();
  if (!ok(dbc.psql->EndTran(SQL_HANDLE_DBC, dbc.inner, completion))) {
    Record error = inner_error(dbc, SQL_HANDLE_DBC, dbc.inner, SQL_NO_ROW_NUMBER);
    if (is_lost(error.native)) lose(dbc);
    return dbc.fail(error);
  }
  return SQL_SUCCESS;
}

// Executes the prepared statement: every row of its parameter array, each undone alone when it
// fails; the array's records and statuses as the switches say.
SQLRETURN execute(Stmt& stmt) {
  Dbc& dbc = *stmt.dbc;
  stmt.clear();
  stmt.counts.clear();
  stmt.count_at = 0;
  stmt.has_result = false;
  if (dbc.lost) return not_connected(stmt);
  if (!stmt.prepared) return stmt.fail({"HY010", 0, "[Oracle][ODBC]Function sequence error", 0});
  ++dbc.statements;
  if (dbc.switches.lose_session_at > 0 && dbc.statements == dbc.switches.lose_session_at) {
    lose(dbc);
    return stmt.fail(oracle_error(3113));
  }
  switch (stmt.parsed.kind) {
    case Parsed::Kind::kSchemaSwitch:
      return switch_schema(stmt);
    case Parsed::Kind::kSavepoint:
    case Parsed::Kind::kRollbackTo:
      return savepoint_statement(stmt);
    case Parsed::Kind::kRelease:  // Oracle has no RELEASE SAVEPOINT
      return stmt.fail(oracle_error(900));
    case Parsed::Kind::kCommit:
      return end_transaction(dbc, SQL_COMMIT) == SQL_SUCCESS ? SQL_SUCCESS
                                                             : stmt.fail(dbc.diagnostics.back());
    case Parsed::Kind::kRollback:
      return end_transaction(dbc, SQL_ROLLBACK) == SQL_SUCCESS ? SQL_SUCCESS
                                                               : stmt.fail(dbc.diagnostics.back());
    case Parsed::Kind::kPlain:
      break;
  }
  const std::size_t rows = std::max<SQLULEN>(stmt.paramset_size, 1);
  const bool array = rows > 1;
  dbc.trace("execute " + std::to_string(rows) + " " + stmt.text);
  if (stmt.status_ptr != nullptr)
    std::fill(stmt.status_ptr, stmt.status_ptr + rows, SQL_PARAM_UNUSED);
  if (stmt.processed_ptr != nullptr) *stmt.processed_ptr = 0;
  if (stmt.parsed.hinted && dbc.switches.hint == Switches::Hint::kAtExecute) {
    if (stmt.status_ptr != nullptr) stmt.status_ptr[0] = SQL_PARAM_ERROR;
    if (stmt.processed_ptr != nullptr) *stmt.processed_ptr = 1;
    return stmt.fail(oracle_error(38913, 1));
  }
  // Inserts go in one call where nothing fails; otherwise row by row, as below.
  static const std::regex kInsert(R"(^\s*insert\b)", std::regex::icase);
  if (array && std::regex_search(stmt.parsed.body, kInsert) && run_inserts_at_once(stmt, rows)) {
    if (stmt.status_ptr != nullptr)
      std::fill(stmt.status_ptr, stmt.status_ptr + rows, SQL_PARAM_SUCCESS);
    if (stmt.processed_ptr != nullptr) *stmt.processed_ptr = rows;
    if (!dbc.switches.counts_per_row) {
      SQLLEN total = 0;
      for (const SQLLEN count : stmt.counts) total += count;
      stmt.counts.assign(1, total);
    }
    return SQL_SUCCESS;
  }
  if (dbc.lost) return stmt.fail(oracle_error(3113));  // gone during the call
  std::vector<Record> failures;
  std::size_t processed = 0;
  for (std::size_t row = 0; row < rows; ++row) {
    RowOutcome outcome = run_row(stmt, row);
    ++processed;
    stmt.counts.push_back(outcome.done ? outcome.count : 0);
    if (stmt.status_ptr != nullptr) {
      stmt.status_ptr[row] = outcome.done ? SQL_PARAM_SUCCESS : SQL_PARAM_ERROR;
    }
    if (outcome.done) continue;
    if (dbc.lost || !array) {
      // The statement as a whole failed: its own error, no row named.
      if (stmt.processed_ptr != nullptr) *stmt.processed_ptr = processed;
      return stmt.fail(outcome.error);
    }
    outcome.error.row = static_cast<SQLLEN>(row + 1);
    failures.push_back(outcome.error);
    if (dbc.switches.stop_at_failure) break;
  }
  if (stmt.processed_ptr != nullptr) *stmt.processed_ptr = processed;
  if (!dbc.switches.counts_per_row) {
    SQLLEN total = 0;
    for (const SQLLEN count : stmt.counts) total += count;
    stmt.counts.assign(1, total);
  }
  if (failures.empty()) return SQL_SUCCESS;
  if (dbc.switches.summary_first) stmt.diagnostics.push_back(oracle_error(24381));
  for (Record& failure : failures) stmt.diagnostics.push_back(std::move(failure));
  if (!dbc.switches.summary_first) stmt.diagnostics.push_back(oracle_error(24381));
  return SQL_ERROR;
}

// Gives the statement a cursor (the limit counted) and, from the statement cache, the statement
// prepared earlier with the same text.
SQLRETURN prepare(Stmt& stmt, const std::string& text, bool from_prepare) {
  Dbc& dbc = *stmt.dbc;
  stmt.clear();
  if (dbc.lost) return not_connected(stmt);
  Parsed parsed = parse(text);
  if (from_prepare && parsed.hinted && dbc.switches.hint == Switches::Hint::kAtPrepare) {
    return stmt.fail(oracle_error(38913));
  }
  if (stmt.inner != SQL_NULL_HSTMT) {
    dbc.psql->FreeStmt(stmt.inner, SQL_CLOSE);
  }
  stmt.has_result = false;
  const auto cached = std::find_if(dbc.cache.begin(), dbc.cache.end(),
                                   [&](const Cached& c) { return c.text == text; });
  if (from_prepare && cached != dbc.cache.end()) {
    if (stmt.inner != SQL_NULL_HSTMT) dbc.psql->FreeHandle(SQL_HANDLE_STMT, stmt.inner);
    stmt.inner = cached->inner;
    stmt.inner_kinds = cached->inner_kinds;
    stmt.schema = cached->schema;    // parsed then, in the schema of then
    if (stmt.cursor) --dbc.cursors;  // the cached statement's cursor serves it
    stmt.cursor = true;
    dbc.cache.erase(cached);
  } else {
    if (!stmt.cursor) {
      if (dbc.cursors >= dbc.switches.open_cursors) return stmt.fail(oracle_error(1000));
      dbc.open_cursor();
      stmt.cursor = true;
    }
    stmt.inner_kinds.clear();
    stmt.schema = dbc.schema;
  }
  stmt.text = text;
  stmt.markers = markers_of(parsed);
  stmt.parsed = std::move(parsed);
  stmt.prepared = true;
  stmt.from_prepare = from_prepare;
  return SQL_SUCCESS;
}

void free_statement(Stmt* stmt) {
  Dbc& dbc = *stmt->dbc;
  const bool cacheable = dbc.switches.statement_cache > 0 && stmt->prepared && stmt->from_prepare &&
                         stmt->parsed.kind == Parsed::Kind::kPlain &&
                         stmt->inner != SQL_NULL_HSTMT && !dbc.lost;
  if (cacheable) {
    dbc.psql->FreeStmt(stmt->inner, SQL_CLOSE);
    dbc.psql->FreeStmt(stmt->inner, SQL_RESET_PARAMS);
    for (auto same = dbc.cache.begin(); same != dbc.cache.end(); ++same) {
      if (same->text == stmt->text) {
        dbc.psql->FreeHandle(SQL_HANDLE_STMT, same->inner);
        --dbc.cursors;
        dbc.cache.erase(same);
        break;
      }
    }
    dbc.cache.push_front({stmt->text, stmt->schema, stmt->inner, stmt->inner_kinds});
    while (dbc.cache.size() > dbc.switches.statement_cache) {
      dbc.psql->FreeHandle(SQL_HANDLE_STMT, dbc.cache.back().inner);
      --dbc.cursors;
      dbc.cache.pop_back();
    }
  } else {
    if (stmt->inner != SQL_NULL_HSTMT && dbc.psql != nullptr) {
      dbc.psql->FreeHandle(SQL_HANDLE_STMT, stmt->inner);
    }
    if (stmt->cursor) --dbc.cursors;
  }
  delete stmt;
}

SQLRETURN copy_text(const std::string& text, SQLPOINTER out, SQLINTEGER size, SQLSMALLINT* length) {
  if (length != nullptr) *length = static_cast<SQLSMALLINT>(text.size());
  if (out == nullptr || size <= 0) return SQL_SUCCESS;
  const std::size_t copied = std::min(text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(out, text.data(), copied);
  static_cast<char*>(out)[copied] = '\0';
  return copied < text.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

// The connection string's pairs, braces taken off.
std::vector<std::pair<std::string, std::string>> attributes_of(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t equals = text.find('=', at);
    if (equals == std::string::npos) break;
    std::string key = text.substr(at, equals - at);
    std::string value;
    std::size_t end = equals + 1;
    if (end < text.size() && text[end] == '{') {
      for (++end; end < text.size(); ++end) {
        if (text[end] == '}') {
          if (end + 1 < text.size() && text[end + 1] == '}') {
            value += '}';
            ++end;
            continue;
          }
          ++end;
          break;
        }
        value += text[end];
      }
      end = text.find(';', end);
    } else {
      const std::size_t semicolon = text.find(';', end);
      value =
          text.substr(end, semicolon == std::string::npos ? std::string::npos : semicolon - end);
      end = semicolon;
    }
    while (!key.empty() && key.front() == ' ') key.erase(0, 1);
    pairs.emplace_back(upper(key), value);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return pairs;
}

std::string braced(const std::string& value) {
  if (value.find_first_of(";{}= ") == std::string::npos) return value;
  std::string out = "{";
  for (const char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

// A failed connect as Oracle's client reports it.
Record connect_error(const Dbc& dbc) {
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLCHAR message[1024] = {};
  SQLSMALLINT length = 0;
  dbc.psql->GetDiagRec(SQL_HANDLE_DBC, dbc.inner, 1, state, &native, message,
                       static_cast<SQLSMALLINT>(sizeof message), &length);
  const std::string text(reinterpret_cast<char*>(message));
  int number = 12154;
  if (text.find("password authentication failed") != std::string::npos) {
    number = 1017;
  } else if (text.find("No such file or directory") != std::string::npos ||
             text.find("Connection refused") != std::string::npos) {
    number = 12541;
  } else if (text.find("timeout") != std::string::npos) {
    number = 12170;
  } else if (text.find("too many") != std::string::npos) {
    number = 18;
  }
  return oracle_error(number, SQL_NO_ROW_NUMBER, text);
}

SQLRETURN driver_connect(Dbc& dbc, const std::string& in) {
  dbc.clear();
  std::string error;
  if (!read_switches(dbc.switches, error))
    return dbc.fail(oracle_error(12154, SQL_NO_ROW_NUMBER, error));
  std::string backend;
  std::string library;
  std::string login;
  std::string rest;
  for (const auto& [key, value] : attributes_of(in)) {
    if (key == "DSN") {
      dbc.data_source = value;
    } else if (key == "DRIVER") {
      continue;
    } else {
      if (key == "UID") login = value;
      rest += key + "=" + braced(value) + ";";
    }
  }
  char buffer[1024] = {};
  SQLGetPrivateProfileString(dbc.data_source.c_str(), "Backend", "", buffer, sizeof buffer,
                             "odbc.ini");
  backend = buffer;
  SQLGetPrivateProfileString(dbc.data_source.c_str(), "Psqlodbc", "", buffer, sizeof buffer,
                             "odbc.ini");
  library = buffer;
  if (backend.empty() || library.empty()) {
    return dbc.fail(oracle_error(12154, SQL_NO_ROW_NUMBER,
                                 "data source " + dbc.data_source + " lacks Backend or Psqlodbc"));
  }
  dbc.psql = load_psql(library, error);
  if (dbc.psql == nullptr) return dbc.fail(oracle_error(12154, SQL_NO_ROW_NUMBER, error));
  const Psql& psql = *dbc.psql;
  if (dbc.env->inner == SQL_NULL_HENV) {
    if (!ok(psql.AllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &dbc.env->inner))) {
      return dbc.fail(oracle_error(12154, SQL_NO_ROW_NUMBER, "no psqlODBC environment"));
    }
    psql.SetEnvAttr(dbc.env->inner, SQL_ATTR_ODBC_VERSION,
                    reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  }
  if (!ok(psql.AllocHandle(SQL_HANDLE_DBC, dbc.env->inner, &dbc.inner))) {
    return dbc.fail(oracle_error(12154, SQL_NO_ROW_NUMBER, "no psqlODBC connection"));
  }
  if (dbc.login_timeout > 0) {
    psql.SetConnectAttr(dbc.inner, SQL_ATTR_LOGIN_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(dbc.login_timeout), 0);
  }
  if (dbc.connection_timeout > 0) {
    psql.SetConnectAttr(dbc.inner, SQL_ATTR_CONNECTION_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(dbc.connection_timeout), 0);
  }
  std::string text = "DSN=" + braced(backend) + ";" + rest;
  const SQLRETURN connected =
      psql.DriverConnect(dbc.inner, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS,
                         nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  std::fill(text.begin(), text.end(), '\0');
  if (!ok(connected)) {
    Record failure = connect_error(dbc);
    psql.FreeHandle(SQL_HANDLE_DBC, dbc.inner);
    dbc.inner = SQL_NULL_HDBC;
    return dbc.fail(failure);
  }
  Record failure;
  const bool set_up = ok(psql.AllocHandle(SQL_HANDLE_STMT, dbc.inner, &dbc.control)) &&
                      // The client's character set: the booking files' Windows-1252.
                      control(dbc, "SET client_encoding TO 'WIN1252'", failure);
  if (!set_up) {
    psql.Disconnect(dbc.inner);
    psql.FreeHandle(SQL_HANDLE_DBC, dbc.inner);
    dbc.inner = SQL_NULL_HDBC;
    return dbc.fail(failure.native != 0 ? failure : oracle_error(12154));
  }
  if (!dbc.autocommit) {
    psql.SetConnectAttr(dbc.inner, SQL_ATTR_AUTOCOMMIT,
                        reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  }
  dbc.schema = upper(login);  // a session starts in the user's own schema
  dbc.path_schema.clear();
  dbc.connected = true;
  return SQL_SUCCESS;
}

SQLRETURN disconnect(Dbc& dbc) {
  dbc.clear();
  if (!dbc.connected) return SQL_SUCCESS;
  const Psql& psql = *dbc.psql;
  for (const Cached& cached : dbc.cache) psql.FreeHandle(SQL_HANDLE_STMT, cached.inner);
  dbc.cursors -= static_cast<int>(dbc.cache.size());
  dbc.cache.clear();
  dbc.trace("cursors " + std::to_string(dbc.most_cursors));
  // A session that ends gracefully commits its open transaction.
  if (!dbc.lost && !dbc.autocommit) psql.EndTran(SQL_HANDLE_DBC, dbc.inner, SQL_COMMIT);
  if (dbc.lost) psql.EndTran(SQL_HANDLE_DBC, dbc.inner, SQL_ROLLBACK);
  psql.FreeHandle(SQL_HANDLE_STMT, dbc.control);
  dbc.control = SQL_NULL_HSTMT;
  psql.Disconnect(dbc.inner);
  psql.FreeHandle(SQL_HANDLE_DBC, dbc.inner);
  dbc.inner = SQL_NULL_HDBC;
  dbc.connected = false;
  return SQL_SUCCESS;
}

Handle* handle_of(SQLSMALLINT type, SQLHANDLE handle) {
  switch (type) {
    case SQL_HANDLE_ENV:
      return static_cast<Env*>(handle);
    case SQL_HANDLE_DBC:
      return static_cast<Dbc*>(handle);
    case SQL_HANDLE_STMT:
      return static_cast<Stmt*>(handle);
    default:
      return nullptr;
  }
}

}  // namespace

// ---- The entry points the driver manager calls.

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  switch (type) {
    case SQL_HANDLE_ENV:
      *output = new Env();
      return SQL_SUCCESS;
    case SQL_HANDLE_DBC:
      *output = new Dbc(static_cast<Env*>(input));
      return SQL_SUCCESS;
    case SQL_HANDLE_STMT: {
      Dbc* dbc = static_cast<Dbc*>(input);
      if (!dbc->connected) return dbc->fail({"08003", 0, "[Oracle][ODBC]Connection not open", 0});
      *output = new Stmt(dbc);
      return SQL_SUCCESS;
    }
    default:
      return SQL_ERROR;
  }
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  switch (type) {
    case SQL_HANDLE_ENV: {
      Env* env = static_cast<Env*>(handle);
      delete env;  // psqlODBC's environment stays with the process
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
      Dbc* dbc = static_cast<Dbc*>(handle);
      if (dbc->connected) disconnect(*dbc);
      delete dbc;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT:
      free_statement(static_cast<Stmt*>(handle));
      return SQL_SUCCESS;
    default:
      return SQL_ERROR;
  }
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT handle, SQLUSMALLINT option) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  stmt->clear();
  if (option == SQL_DROP) {
    free_statement(stmt);
    return SQL_SUCCESS;
  }
  if (option == SQL_RESET_PARAMS) {
    stmt->bindings.clear();
    return SQL_SUCCESS;
  }
  if (option == SQL_CLOSE) stmt->has_result = false;
  if (stmt->inner != SQL_NULL_HSTMT) stmt->dbc->psql->FreeStmt(stmt->inner, option);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER) {
  Env* env = static_cast<Env*>(handle);
  if (attribute == SQL_ATTR_ODBC_VERSION) {
    env->version = static_cast<SQLINTEGER>(reinterpret_cast<SQLLEN>(value));
  }
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER,
                                SQLINTEGER* length) {
  Env* env = static_cast<Env*>(handle);
  if (attribute != SQL_ATTR_ODBC_VERSION || value == nullptr) return SQL_ERROR;
  *static_cast<SQLINTEGER*>(value) = env->version;
  if (length != nullptr) *length = sizeof(SQLINTEGER);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER length) {
  Dbc* dbc = static_cast<Dbc*>(handle);
  dbc->clear();
  const auto number = static_cast<SQLULEN>(reinterpret_cast<SQLLEN>(value));
  switch (attribute) {
    case SQL_ATTR_LOGIN_TIMEOUT:
      dbc->login_timeout = number;
      break;
    case SQL_ATTR_CONNECTION_TIMEOUT:
      dbc->connection_timeout = number;
      break;
    case SQL_ATTR_AUTOCOMMIT:
      dbc->autocommit = number == SQL_AUTOCOMMIT_ON;
      break;
    default:
      break;
  }
  if (!dbc->connected) return SQL_SUCCESS;
  if (dbc->lost) return not_connected(*dbc);
  if (!ok(dbc->psql->SetConnectAttr(dbc->inner, attribute, value, length))) {
    return dbc->fail(inner_error(*dbc, SQL_HANDLE_DBC, dbc->inner, SQL_NO_ROW_NUMBER));
  }
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER size, SQLINTEGER* length) {
  Dbc* dbc = static_cast<Dbc*>(handle);
  dbc->clear();
  if (attribute == SQL_ATTR_AUTOCOMMIT && value != nullptr) {
    *static_cast<SQLUINTEGER*>(value) = dbc->autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    return SQL_SUCCESS;
  }
  if (!dbc->connected) return SQL_ERROR;
  return dbc->psql->GetConnectAttr(dbc->inner, attribute, value, size, length);
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC handle, SQLHWND, SQLCHAR* in, SQLSMALLINT in_length,
                                   SQLCHAR* out, SQLSMALLINT out_size, SQLSMALLINT* out_length,
                                   SQLUSMALLINT) {
  Dbc* dbc = static_cast<Dbc*>(handle);
  const std::string text = in_length == SQL_NTS ? std::string(reinterpret_cast<char*>(in))
                                                : std::string(reinterpret_cast<char*>(in),
                                                              static_cast<std::size_t>(in_length));
  const SQLRETURN result = driver_connect(*dbc, text);
  if (ok(result)) copy_text("DSN=" + dbc->data_source + ";", out, out_size, out_length);
  return result;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC handle) { return disconnect(*static_cast<Dbc*>(handle)); }

SQLRETURN SQL_API SQLGetInfo(SQLHDBC handle, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT size,
                             SQLSMALLINT* length) {
  Dbc* dbc = static_cast<Dbc*>(handle);
  dbc->clear();
  const auto number = [&](SQLUINTEGER n) {
    if (value != nullptr) *static_cast<SQLUINTEGER*>(value) = n;
    if (length != nullptr) *length = sizeof(SQLUINTEGER);
    return SQL_SUCCESS;
  };
  switch (type) {
    case SQL_DBMS_NAME:
      return copy_text("Oracle", value, size, length);
    case SQL_DBMS_VER:
      return copy_text("10.02.0040", value, size, length);
    case SQL_DRIVER_NAME:
      return copy_text("libzarvelt_oracle_odbc.so", value, size, length);
    case SQL_PARAM_ARRAY_ROW_COUNTS:
      return number(dbc->switches.counts_per_row ? SQL_PARC_BATCH : SQL_PARC_NO_BATCH);
    case SQL_PARAM_ARRAY_SELECTS:
      return number(SQL_PAS_NO_SELECT);
    default:
      break;
  }
  if (!dbc->connected) return SQL_ERROR;
  return dbc->psql->GetInfo(dbc->inner, type, value, size, length);
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
  if (type != SQL_HANDLE_DBC) return SQL_ERROR;
  Dbc* dbc = static_cast<Dbc*>(handle);
  dbc->clear();
  return end_transaction(*dbc, completion);
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  stmt->clear();
  const auto number = static_cast<SQLULEN>(reinterpret_cast<SQLLEN>(value));
  switch (attribute) {
    case SQL_ATTR_PARAMSET_SIZE:
      stmt->paramset_size = std::max<SQLULEN>(number, 1);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_STATUS_PTR:
      stmt->status_ptr = static_cast<SQLUSMALLINT*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAMS_PROCESSED_PTR:
      stmt->processed_ptr = static_cast<SQLULEN*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_TYPE:
      return number == SQL_PARAM_BIND_BY_COLUMN
                 ? SQL_SUCCESS
                 : stmt->fail({"HYC00", 0, "[Oracle][ODBC]Optional feature not implemented", 0});
    case SQL_ATTR_QUERY_TIMEOUT:
      stmt->query_timeout = number;
      if (stmt->inner != SQL_NULL_HSTMT) {
        stmt->dbc->psql->SetStmtAttr(stmt->inner, SQL_ATTR_QUERY_TIMEOUT, value, 0);
      }
      return SQL_SUCCESS;
    default:
      return stmt->fail({"HYC00", 0, "[Oracle][ODBC]Optional feature not implemented", 0});
  }
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER, SQLINTEGER* length) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  stmt->clear();
  if (value == nullptr) return SQL_ERROR;
  switch (attribute) {
    case SQL_ATTR_PARAMSET_SIZE:
      *static_cast<SQLULEN*>(value) = stmt->paramset_size;
      break;
    case SQL_ATTR_QUERY_TIMEOUT:
      *static_cast<SQLULEN*>(value) = stmt->query_timeout;
      break;
    default:
      return stmt->fail({"HYC00", 0, "[Oracle][ODBC]Optional feature not implemented", 0});
  }
  if (length != nullptr) *length = sizeof(SQLULEN);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT handle, SQLCHAR* text, SQLINTEGER length) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  const std::string statement = length == SQL_NTS ? std::string(reinterpret_cast<char*>(text))
                                                  : std::string(reinterpret_cast<char*>(text),
                                                                static_cast<std::size_t>(length));
  return prepare(*stmt, statement, true);
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT handle, SQLUSMALLINT number, SQLSMALLINT direction,
                                   SQLSMALLINT c_type, SQLSMALLINT, SQLULEN, SQLSMALLINT,
                                   SQLPOINTER data, SQLLEN buffer_length, SQLLEN* indicator) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  stmt->clear();
  if (direction != SQL_PARAM_INPUT) {
    return stmt->fail({"HYC00", 0, "[Oracle][ODBC]Optional feature not implemented", 0});
  }
  stmt->bindings[number] = {c_type, data, buffer_length, indicator};
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT handle) { return execute(*static_cast<Stmt*>(handle)); }

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT handle, SQLCHAR* text, SQLINTEGER length) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  const std::string statement = length == SQL_NTS ? std::string(reinterpret_cast<char*>(text))
                                                  : std::string(reinterpret_cast<char*>(text),
                                                                static_cast<std::size_t>(length));
  const SQLRETURN prepared = prepare(*stmt, statement, false);
  return ok(prepared) ? execute(*stmt) : prepared;
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT handle, SQLSMALLINT* columns) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  stmt->clear();
  if (!stmt->has_result) {
    *columns = 0;
    return SQL_SUCCESS;
  }
  return stmt->dbc->psql->NumResultCols(stmt->inner, columns);
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT handle, SQLUSMALLINT column, SQLCHAR* name,
                                 SQLSMALLINT size, SQLSMALLINT* length, SQLSMALLINT* type,
                                 SQLULEN* column_size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  stmt->clear();
  if (!stmt->has_result) return stmt->fail({"07005", 0, "[Oracle][ODBC]No result set", 0});
  return stmt->dbc->psql->DescribeCol(stmt->inner, column, name, size, length, type, column_size,
                                      digits, nullable);
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT handle) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  stmt->clear();
  if (stmt->dbc->lost) return not_connected(*stmt);
  if (!stmt->has_result) return stmt->fail({"24000", 0, "[Oracle][ODBC]Invalid cursor state", 0});
  stmt->data_column = 0;
  stmt->dbc->active = stmt->inner;
  const SQLRETURN fetched = stmt->dbc->psql->Fetch(stmt->inner);
  stmt->dbc->active = SQL_NULL_HSTMT;
  if (ok(fetched) || fetched == SQL_NO_DATA) return fetched;
  Record error = inner_error(*stmt->dbc, SQL_HANDLE_STMT, stmt->inner, SQL_NO_ROW_NUMBER);
  if (is_lost(error.native)) lose(*stmt->dbc);
  return stmt->fail(error);
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT c_type,
                             SQLPOINTER value, SQLLEN size, SQLLEN* indicator) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  stmt->clear();
  if (!stmt->has_result) return stmt->fail({"24000", 0, "[Oracle][ODBC]Invalid cursor state", 0});
  const bool first_piece = stmt->data_column != column;
  stmt->data_column = column;
  const SQLRETURN result =
      stmt->dbc->psql->GetData(stmt->inner, column, c_type, value, size, indicator);
  if (result == SQL_SUCCESS && first_piece && c_type == SQL_C_CHAR && indicator != nullptr &&
      *indicator == 0) {
    *indicator = SQL_NULL_DATA;  // Oracle holds no empty text
  }
  if (ok(result) || result == SQL_NO_DATA) return result;
  return stmt->fail(inner_error(*stmt->dbc, SQL_HANDLE_STMT, stmt->inner, SQL_NO_ROW_NUMBER));
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT handle, SQLLEN* count) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  stmt->clear();
  *count = stmt->count_at < stmt->counts.size() ? stmt->counts[stmt->count_at] : -1;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT handle) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  stmt->clear();
  if (stmt->count_at + 1 >= stmt->counts.size()) return SQL_NO_DATA;
  ++stmt->count_at;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLCancel(SQLHSTMT handle) {
  Stmt* stmt = static_cast<Stmt*>(handle);
  const SQLHSTMT running = stmt->dbc->active.load();
  if (running != SQL_NULL_HSTMT) stmt->dbc->psql->Cancel(running);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT number,
                                SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                                SQLSMALLINT size, SQLSMALLINT* length) {
  Handle* owner = handle_of(type, handle);
  if (owner == nullptr || number < 1) return SQL_ERROR;
  if (static_cast<std::size_t>(number) > owner->diagnostics.size()) return SQL_NO_DATA;
  const Record& record = owner->diagnostics[static_cast<std::size_t>(number - 1)];
  if (state != nullptr) copy_text(record.state, state, 6, nullptr);
  if (native != nullptr) *native = record.native;
  return copy_text(record.message, message, size, length);
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT number,
                                  SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT size,
                                  SQLSMALLINT* length) {
  Handle* owner = handle_of(type, handle);
  if (owner == nullptr) return SQL_ERROR;
  if (field == SQL_DIAG_NUMBER) {
    if (value != nullptr)
      *static_cast<SQLINTEGER*>(value) = static_cast<SQLINTEGER>(owner->diagnostics.size());
    return SQL_SUCCESS;
  }
  if (field == SQL_DIAG_RETURNCODE) {
    if (value != nullptr) {
      *static_cast<SQLRETURN*>(value) = owner->diagnostics.empty() ? SQL_SUCCESS : SQL_ERROR;
    }
    return SQL_SUCCESS;
  }
  if (field == SQL_DIAG_ROW_COUNT || field == SQL_DIAG_CURSOR_ROW_COUNT) {
    if (value != nullptr) *static_cast<SQLLEN*>(value) = 0;
    return SQL_SUCCESS;
  }
  if (number < 1) return SQL_ERROR;
  if (static_cast<std::size_t>(number) > owner->diagnostics.size()) return SQL_NO_DATA;
  const Record& record = owner->diagnostics[static_cast<std::size_t>(number - 1)];
  switch (field) {
    case SQL_DIAG_SQLSTATE:
      return copy_text(record.state, value, size, length);
    case SQL_DIAG_NATIVE:
      if (value != nullptr) *static_cast<SQLINTEGER*>(value) = record.native;
      return SQL_SUCCESS;
    case SQL_DIAG_MESSAGE_TEXT:
      return copy_text(record.message, value, size, length);
    case SQL_DIAG_ROW_NUMBER:
      if (value != nullptr) *static_cast<SQLLEN*>(value) = record.row;
      return SQL_SUCCESS;
    case SQL_DIAG_COLUMN_NUMBER:
      if (value != nullptr) *static_cast<SQLINTEGER*>(value) = SQL_NO_COLUMN_NUMBER;
      return SQL_SUCCESS;
    case SQL_DIAG_CLASS_ORIGIN:
      return copy_text(record.state.rfind("IM", 0) == 0 ? "ODBC 3.0" : "ISO 9075", value, size,
                       length);
    case SQL_DIAG_SUBCLASS_ORIGIN:
      return copy_text("ODBC 3.0", value, size, length);
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
      return copy_text("", value, size, length);
    default:
      return SQL_ERROR;
  }
}

}  // extern "C"
