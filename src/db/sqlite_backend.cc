// The embedded backend: alias "sqlite3:<path>". The file at <path> holds the central schema
// KVSYSTEM; a client schema S is the file <S>.db beside it (S in upper case), opened on the
// first switch to it. SQLite has no current schema, so statements qualify unprefixed tables with
// "{S}." (kSqliteSessionSchema) and get one prepared statement per schema file.
//
// Defaults: busy timeout 5000 ms, rollback journal (no WAL: the central file is the only one
// written, and a rollback journal keeps the file self-contained), a 2 MiB page cache for the
// central file, at most 32 client files open at once. Dates are converted by a function of the
// backend's own (kSqliteDateFunction), registered on every file it opens. A client file is read
// in one read transaction from its first read to the commit, so a program that writes to it
// meanwhile waits for the run's end (as writers to the central file do).
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/connection.h"
#include "text/text.h"

namespace zarvelt::db {
namespace {

constexpr int kBusyTimeoutMs = 5000;

// One table from SQLite's result codes (and, where the code alone is too coarse, a part of the
// message) to the production database's error numbers. First match wins. The named CHECK
// constraints are those of sql/sqlite/*.sql.
struct ErrorMapping {
  int code;  // extended code, or primary code matching all its extended codes
  std::string_view message_part;
  std::int32_t status;
};
constexpr ErrorMapping kErrorTable[] = {
    {SQLITE_CONSTRAINT_UNIQUE, "", kUniqueConstraint},
    {SQLITE_CONSTRAINT_PRIMARYKEY, "", kUniqueConstraint},
    {SQLITE_CONSTRAINT_NOTNULL, "", kNullIntoNotNull},
    {SQLITE_CONSTRAINT_CHECK, "failed: length_", kValueTooLarge},
    {SQLITE_CONSTRAINT_CHECK, "failed: date_", kDateFormat},
    {SQLITE_CONSTRAINT_CHECK, "failed: range_", kPrecisionTooLarge},
    {SQLITE_CONSTRAINT_CHECK, "", kCheckConstraint},
    {SQLITE_CONSTRAINT_FOREIGNKEY, "", kParentKeyMissing},
    {SQLITE_CONSTRAINT, "", kCheckConstraint},
    {SQLITE_ERROR, "no such table", kTableMissing},
    {SQLITE_ERROR, "no such column", kInvalidIdentifier},
    {SQLITE_ERROR, "has no column named", kInvalidIdentifier},
    {SQLITE_ERROR, "unknown database", kSchemaMissing},
    {SQLITE_ERROR, "syntax error", kInvalidSql},
    {SQLITE_CANTOPEN, "", kCannotResolveAlias},
    {SQLITE_NOTADB, "", kCannotResolveAlias},
    {SQLITE_BUSY, "", kResourceBusy},  // another writer past the busy timeout
    {SQLITE_LOCKED, "", kResourceBusy},
    {SQLITE_READONLY, "", kReadOnly},    // read-only file, or PRAGMA query_only
    {SQLITE_FULL, "", kUnableToExtend},  // disk or max_page_count full
    {SQLITE_IOERR, "", kIoError},
    {SQLITE_CORRUPT, "", kBlockCorrupted},
    {SQLITE_TOOBIG, "", kValueTooLarge},
    {SQLITE_NOMEM, "", kOutOfProcessMemory},
    {SQLITE_AUTH, "", kInsufficientPrivileges},
    {SQLITE_PERM, "", kInsufficientPrivileges},
    {SQLITE_INTERRUPT, "", kCancelled},
    {SQLITE_MISMATCH, "", kInvalidNumber},
};

std::int32_t map_error(int extended_code, std::string_view message) {
  for (const ErrorMapping& mapping : kErrorTable) {
    const bool code_matches =
        mapping.code == extended_code || mapping.code == (extended_code & 0xff);
    if (code_matches && message.find(mapping.message_part) != std::string_view::npos) {
      return mapping.status;
    }
  }
  return kInternalError;
}

std::int32_t map_error(sqlite3* db) {
  return map_error(sqlite3_extended_errcode(db), sqlite3_errmsg(db));
}

// Errors of the database file rather than of one statement's values.
bool is_file_fault(int extended_code) {
  switch (extended_code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_NOMEM:
    case SQLITE_CORRUPT:
      return true;
    default:
      return false;
  }
}

// A "file:" URI for path, opened read-write only: a missing file is an error, never a new one.
std::string read_write_uri(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // An absolute path gets an empty authority ("file:///..."), so that a path beginning with
  // "//" is not taken for a host name.
  std::string uri = path.starts_with('/') ? "file://" : "file:";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '/' || c == '.' || c == '-' || c == '_' || c == '~') {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xf];
    }
  }
  return uri + "?mode=rw";
}

// One open SQLite file with its prepared statements, kept for the whole run.
class DatabaseFile {
 public:
  explicit DatabaseFile(sqlite3* db) : db_(db) {}
  DatabaseFile(const DatabaseFile&) = delete;
  DatabaseFile& operator=(const DatabaseFile&) = delete;
  ~DatabaseFile() {
    for (auto& [text, statement] : statements_) sqlite3_finalize(statement);
    sqlite3_close_v2(db_);  // an open transaction is rolled back: only a commit keeps work
  }

  sqlite3* db() const { return db_; }

  // The statement for text as the client layer gives it; "{S}" becomes this file's "main" when
  // it is prepared. Found again without copying the text: a lookup runs for every statement.
  std::int32_t prepared(std::string_view text, sqlite3_stmt*& statement) {
    if (const auto cached = statements_.find(text); cached != statements_.end()) {
      statement = cached->second;
      return kSuccess;
    }
    std::string final_text(text);
    for (std::size_t at = final_text.find(kSqliteSessionSchema); at != std::string::npos;
         at = final_text.find(kSqliteSessionSchema, at)) {
      final_text.replace(at, kSqliteSessionSchema.size(), "main");
    }
    if (sqlite3_prepare_v3(db_, final_text.c_str(), static_cast<int>(final_text.size()),
                           SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
      return map_error(db_);
    }
    statements_.emplace(text, statement);
    return kSuccess;
  }

 private:
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };

  sqlite3* db_;
  // By the text as given, "{S}" not yet replaced.
  std::unordered_map<std::string, sqlite3_stmt*, TextHash, std::equal_to<>> statements_;
};

// kSqliteDateFunction, for the SQL that names it: sqlite_date_text of the text, NULL for NULL.
void date_function(sqlite3_context* context, int, sqlite3_value** arguments) {
  if (sqlite3_value_type(arguments[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(arguments[0]));
  if (bytes == nullptr) {
    sqlite3_result_error_nomem(context);
    return;
  }
  const std::string date = sqlite_date_text(
      std::string_view(bytes, static_cast<std::size_t>(sqlite3_value_bytes(arguments[0]))));
  sqlite3_result_text(context, date.data(), static_cast<int>(date.size()), SQLITE_TRANSIENT);
}

// Opens an existing file read-write (never creates one) with the backend's settings.
std::unique_ptr<DatabaseFile> open_file(const std::string& path, std::int32_t& status) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(read_write_uri(path).c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // For the statements only: DIRECTONLY keeps it out of schemas, so that the files stay
    // readable without this program.
    rc = sqlite3_create_function(db, std::string(kSqliteDateFunction).c_str(), 1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY, nullptr,
                                 date_function, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) {
    // journal_mode reads the file, so a file that is no database fails here already.
    rc = sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    const int code = (db != nullptr ? sqlite3_extended_errcode(db) : rc) & 0xff;
    status = code == SQLITE_CANTOPEN || code == SQLITE_NOTADB ? kCannotResolveAlias
                                                              : map_error(code, "");
    sqlite3_close_v2(db);
    return nullptr;
  }
  status = kSuccess;
  return std::make_unique<DatabaseFile>(db);
}

// The central file carries the run's one transaction and every write. A client schema's file
// is opened as a connection of its own when the session first switches to it: client schemas
// are only read, and SQLite's ATTACH would allow 10 files at most and could not let go of a
// file read inside the open transaction. Statements whose text holds "{S}" run on the session
// schema's file (central or client), the others on the central file.
class SqliteConnection : public Connection {
 public:
  SqliteConnection(std::unique_ptr<DatabaseFile> central, std::filesystem::path directory)
      : central_(std::move(central)), directory_(std::move(directory)) {}

  Dialect dialect() const override { return Dialect::kSqlite; }

  std::int32_t run(std::string_view text, std::span<const BoundValue> inputs, std::size_t max_rows,
                   std::vector<FetchedRow>& rows) override {
    rows.clear();
    if (transaction_lost_) return kConnectionLost;
    DatabaseFile* file = central_.get();
    if (session_schema_ != nullptr && text.find(kSqliteSessionSchema) != std::string_view::npos) {
      file = session_schema_->file.get();
    }
    const bool central = file == central_.get();
    if (central) {
      const std::int32_t status = begin_transaction();
      if (status != kSuccess) return status;
    }
    sqlite3_stmt* statement = nullptr;
    std::int32_t status = file->prepared(text, statement);
    if (status != kSuccess) return status;
    if (!central && !sqlite3_stmt_readonly(statement)) return kReadOnly;
    // A client file is only read. Outside a transaction every read would take and drop the
    // file's lock again (several system calls each, most of a lookup's time); one read
    // transaction kept until the commit takes it once. Opened again after an error ended it.
    if (!central && sqlite3_get_autocommit(file->db())) {
      sqlite3_exec(file->db(), "BEGIN", nullptr, nullptr, nullptr);
    }

    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const int position = static_cast<int>(i) + 1;
      switch (inputs[i].kind) {
        case BoundValue::Kind::kNull:
          sqlite3_bind_null(statement, position);
          break;
        case BoundValue::Kind::kText:
          sqlite3_bind_text(statement, position, inputs[i].text.data(),
                            static_cast<int>(inputs[i].text.size()), SQLITE_TRANSIENT);
          break;
        case BoundValue::Kind::kInteger:
          sqlite3_bind_int(statement, position, inputs[i].integer);
          break;
      }
    }
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW && rows.size() < max_rows) {
      FetchedRow row;
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        const auto* value = sqlite3_column_text(statement, column);
        if (value == nullptr) {
          row.emplace_back(std::nullopt);
        } else {
          row.emplace_back(std::string(reinterpret_cast<const char*>(value),
                                       sqlite3_column_bytes(statement, column)));
        }
      }
      rows.push_back(std::move(row));
    }
    // SQLITE_ROW here: more rows than asked for, which is all the caller needs to know.
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
      rows.clear();
      status = map_error(file->db());
      if (central) note_lost_transaction();
      // Another writer kept the lock for the whole busy timeout, or the file itself failed:
      // every later write would wait as long again or fail alike, so the session counts as
      // lost and the run ends without a commit.
      if (central && is_file_fault(sqlite3_extended_errcode(file->db()))) transaction_lost_ = true;
    }
    if (status == kSuccess && central && !sqlite3_stmt_readonly(statement)) has_writes_ = true;
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return status;
  }

  std::int32_t set_session_schema(std::string_view schema) override {
    if (transaction_lost_) return kConnectionLost;
    const std::string name = upper_case(schema);
    if (name == kCentralSchema) {
      session_schema_ = nullptr;
      return kSuccess;
    }
    auto found = std::find_if(client_schemas_.begin(), client_schemas_.end(),
                              [&](const ClientSchema& c) { return c.schema == name; });
    if (found == client_schemas_.end()) {
      std::int32_t status = kSuccess;
      std::unique_ptr<DatabaseFile> file =
          open_file((directory_ / (name + ".db")).string(), status);
      // A client schema without its file is a schema that does not exist.
      if (file == nullptr) return status == kCannotResolveAlias ? kSchemaMissing : status;
      if (client_schemas_.size() >= kMaxOpenClientFiles) close_least_recently_used();
      client_schemas_.push_back({name, std::move(file), 0});
      found = client_schemas_.end() - 1;
    }
    found->last_use = ++use_counter_;
    session_schema_ = &*found;
    return kSuccess;
  }

  std::int32_t commit() override {
    if (transaction_lost_) return kConnectionLost;
    // The client files' read transactions end with the run's unit of work, so that work after
    // a commit sees their changes.
    for (ClientSchema& client : client_schemas_) {
      if (!sqlite3_get_autocommit(client.file->db())) {
        sqlite3_exec(client.file->db(), "COMMIT", nullptr, nullptr, nullptr);
      }
    }
    if (!in_transaction_) return kSuccess;
    if (sqlite3_exec(central_->db(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      const std::int32_t status = map_error(central_->db());
      note_lost_transaction();
      return status;
    }
    in_transaction_ = false;
    has_writes_ = false;
    return kSuccess;
  }

 private:
  // Open client files beyond this are closed, least recently used first (never the session
  // schema's); reopening one later costs a file open.
  static constexpr std::size_t kMaxOpenClientFiles = 32;

  struct ClientSchema {
    std::string schema;  // upper case, the file's name without ".db"
    std::unique_ptr<DatabaseFile> file;
    std::uint64_t last_use = 0;
  };

  std::int32_t begin_transaction() {
    if (in_transaction_) return kSuccess;
    // IMMEDIATE takes the write lock now, waiting up to the busy timeout for another writer.
    // A deferred transaction would take it at the first insert, after its reads, where SQLite
    // gives up at once instead of waiting (waiting there could deadlock).
    if (sqlite3_exec(central_->db(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
      const std::int32_t status = map_error(central_->db());
      if (is_file_fault(sqlite3_extended_errcode(central_->db()))) transaction_lost_ = true;
      return status;
    }
    in_transaction_ = true;
    return kSuccess;
  }

  // SQLite gives up the whole transaction on some errors (full disk, I/O, out of memory). The
  // production database never does that to a failed statement, so once inserts are gone every
  // later statement and the commit report the session as lost instead of running on in a new
  // transaction and committing a partial run.
  void note_lost_transaction() {
    if (!in_transaction_ || !sqlite3_get_autocommit(central_->db())) return;
    in_transaction_ = false;
    if (has_writes_) transaction_lost_ = true;
  }

  void close_least_recently_used() {
    auto victim = client_schemas_.end();
    for (auto it = client_schemas_.begin(); it != client_schemas_.end(); ++it) {
      if (&*it == session_schema_) continue;
      if (victim == client_schemas_.end() || it->last_use < victim->last_use) victim = it;
    }
    if (victim == client_schemas_.end()) return;
    const std::string current = session_schema_ != nullptr ? session_schema_->schema : "";
    client_schemas_.erase(victim);
    // Erasing moved the elements; find the session schema again.
    session_schema_ = nullptr;
    for (ClientSchema& c : client_schemas_) {
      if (c.schema == current) session_schema_ = &c;
    }
  }

  std::unique_ptr<DatabaseFile> central_;
  std::filesystem::path directory_;  // where the client schema files are
  std::vector<ClientSchema> client_schemas_;
  ClientSchema* session_schema_ = nullptr;  // null: the central schema
  std::uint64_t use_counter_ = 0;
  bool in_transaction_ = false;
  bool has_writes_ = false;
  bool transaction_lost_ = false;
};

}  // namespace

std::unique_ptr<Connection> connect_sqlite(std::string_view target, std::string_view,
                                           std::string_view, std::int32_t& status) {
  if (target.empty()) {
    status = kCannotResolveAlias;
    return nullptr;
  }
  const std::string path(target);
  std::unique_ptr<DatabaseFile> central = open_file(path, status);
  if (central == nullptr) return nullptr;
  // Only the central file is written; its page cache is most of the program's memory, which
  // must stay flat however long the booking file. Spilling the run's dirty pages early costs
  // nothing measurable: 1M booking lines took as long with 2 MiB as with 16 MiB (6.2 s).
  sqlite3_exec(central->db(), "PRAGMA cache_size=-2048", nullptr, nullptr, nullptr);
  return std::make_unique<SqliteConnection>(std::move(central),
                                            std::filesystem::path(path).parent_path());
}

}  // namespace zarvelt::db
