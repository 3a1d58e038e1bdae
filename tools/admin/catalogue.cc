// Reading table shapes out of DDL text: a small tokenizer and a parser of just the statements
// and clauses that sql/*/*.sql and SQLite's stored CREATE texts use.
#include "admin/catalogue.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace zarvelt::admin {

using namespace db;
namespace {

struct Token {
  enum class Kind { kWord, kNumber, kString, kSymbol } kind;
  std::string text;  // words in upper case unless quoted
};

bool is_word_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$' || c == '#';
}

std::string upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

std::vector<Token> tokens_of(std::string_view sql) {
  std::vector<Token> tokens;
  std::size_t at = 0;
  while (at < sql.size()) {
    const char c = sql[at];
    if (std::isspace(static_cast<unsigned char>(c)) != 0) {
      ++at;
    } else if (sql.compare(at, 2, "--") == 0) {
      at = sql.find('\n', at);
      if (at == std::string_view::npos) break;
    } else if (c == '\'' || c == '"') {
      std::string text;
      for (++at; at < sql.size(); ++at) {
        if (sql[at] != c) {
          text += sql[at];
        } else if (at + 1 < sql.size() && sql[at + 1] == c) {
          text += sql[++at];
        } else {
          break;
        }
      }
      ++at;
      tokens.push_back({c == '"' ? Token::Kind::kWord : Token::Kind::kString, text});
    } else if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
      const std::size_t end = std::min(sql.find_first_not_of("0123456789", at), sql.size());
      tokens.push_back({Token::Kind::kNumber, std::string(sql.substr(at, end - at))});
      at = end;
    } else if (is_word_char(c)) {
      std::size_t end = at;
      while (end < sql.size() && is_word_char(sql[end])) ++end;
      tokens.push_back({Token::Kind::kWord, upper(sql.substr(at, end - at))});
      at = end;
    } else {
      std::size_t length = 1;
      for (const std::string_view pair : {"<=", ">=", "<>", "!=", "::", "||"}) {
        if (sql.compare(at, 2, pair) == 0) length = 2;
      }
      tokens.push_back({Token::Kind::kSymbol, std::string(sql.substr(at, length))});
      at += length;
    }
  }
  return tokens;
}

using Tokens = std::vector<Token>;

// A number token's value; one beyond 9 digits counts as 999999999 (no limit of a column here).
std::int32_t number_of(const Token& token) {
  return token.text.size() > 9 ? 999999999 : std::stoi(token.text);
}

bool is(const Tokens& tokens, std::size_t at, std::string_view text) {
  return at < tokens.size() && tokens[at].kind != Token::Kind::kString && tokens[at].text == text;
}

// The index of the ")" closing the "(" at open (or the end).
std::size_t closing(const Tokens& tokens, std::size_t open) {
  int depth = 0;
  for (std::size_t at = open; at < tokens.size(); ++at) {
    if (is(tokens, at, "(")) ++depth;
    if (is(tokens, at, ")") && --depth == 0) return at;
  }
  return tokens.size();
}

// The parts of tokens[from, to) between commas outside parentheses.
std::vector<Tokens> split_at_commas(const Tokens& tokens, std::size_t from, std::size_t to) {
  std::vector<Tokens> parts(1);
  int depth = 0;
  for (std::size_t at = from; at < to; ++at) {
    if (is(tokens, at, "(")) ++depth;
    if (is(tokens, at, ")")) --depth;
    if (depth == 0 && is(tokens, at, ",")) {
      parts.emplace_back();
    } else {
      parts.back().push_back(tokens[at]);
    }
  }
  return parts;
}

std::string spelt(const Tokens& tokens) {
  std::string text;
  for (const Token& token : tokens) {
    const bool tight = text.empty() || token.text == "(" || token.text == ")" ||
                       token.text == "," || text.back() == '(';
    if (!tight) text += ' ';
    text += token.kind == Token::Kind::kString ? "'" + token.text + "'" : token.text;
  }
  return text;
}

std::string key_column_of_tokens(const Tokens& tokens, bool& null_is_a_value) {
  null_is_a_value = false;
  if (tokens.size() == 1 && tokens[0].kind == Token::Kind::kWord) return upper(tokens[0].text);
  if (tokens.size() >= 4 && tokens[0].kind == Token::Kind::kWord && is(tokens, 1, "(") &&
      tokens[2].kind == Token::Kind::kWord && is(tokens, 3, ",") &&
      (tokens[0].text == "IFNULL" || tokens[0].text == "COALESCE" || tokens[0].text == "NVL")) {
    null_is_a_value = true;
    return upper(tokens[2].text);
  }
  return spelt(tokens);
}

// A column's type from its words and the arguments in parentheses after them.
void set_type(Dialect dialect, const Tokens& words, const Tokens& arguments, ColumnShape& column) {
  std::string name;
  for (const Token& word : words) name += (name.empty() ? "" : " ") + word.text;
  column.type = spelt(words);
  if (!arguments.empty()) {
    // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) of "(" + a temporary.
    column.type += '(';
    column.type += spelt(arguments);
    column.type += ')';
  }
  std::optional<std::int32_t> size;
  for (const Token& argument : arguments) {
    if (argument.kind == Token::Kind::kNumber && !size) size = number_of(argument);
    if (argument.text == "BYTE") column.byte_length = true;
  }
  const bool sqlite = dialect == Dialect::kSqlite;
  const bool oracle = dialect == Dialect::kOracle;
  if (name == "VARCHAR2" || name == "VARCHAR" || name == "NVARCHAR2" ||
      name == "CHARACTER VARYING" || name == "TEXT" || name == "CLOB") {
    column.kind = ValueKind::kText;
    column.length = size.value_or(0);
  } else if (name == "CHAR" || name == "CHARACTER" || name == "NCHAR" || name == "BPCHAR") {
    // SQLite compares any text as it is, whatever its declared type.
    column.kind = sqlite ? ValueKind::kText : ValueKind::kFixedText;
    column.length = sqlite ? 0 : size.value_or(1);
  } else if (name == "NUMBER" || name == "NUMERIC" || name == "DECIMAL") {
    column.kind = ValueKind::kNumber;
    column.digits = size.value_or(0);
  } else if (name == "INTEGER" || name == "INT" || name == "SMALLINT" || name == "BIGINT") {
    column.kind = ValueKind::kNumber;
    // SQLite's integers have 64 bits whatever the name; Oracle's INTEGER is NUMBER(38).
    column.digits = sqlite   ? 0
                    : oracle ? 38
                             : (name == "SMALLINT" ? 5
                                : name == "BIGINT" ? 19
                                                   : 10);
  } else if (name == "DATE" || name.starts_with("TIMESTAMP")) {
    column.kind = ValueKind::kDate;
  }
}

// A key from its column list (tokens between its parentheses).
UniqueKey key_of(std::string name, const Tokens& tokens, std::size_t open,
                 std::vector<std::string>& wrapped) {
  UniqueKey key;
  key.name = std::move(name);
  for (const Tokens& part : split_at_commas(tokens, open + 1, closing(tokens, open))) {
    bool null_is_a_value = false;
    key.columns.push_back(key_column_of_tokens(part, null_is_a_value));
    if (null_is_a_value) wrapped.push_back(key.columns.back());
  }
  return key;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A key's columns that read a NULL as a value (ifnull), and NULLS NOT DISTINCT, until the
// table's columns are known.
struct PendingKey {
  std::string table;
  UniqueKey key;
  std::vector<std::string> wrapped;
  bool nulls_not_distinct = false;
};

void parse_table(Dialect dialect, const Tokens& tokens, std::size_t at,
                 std::vector<TableShape>& tables, std::vector<PendingKey>& keys) {
  if (is(tokens, at, "IF")) at += 3;  // IF NOT EXISTS
  TableShape table;
  for (; at < tokens.size() && !is(tokens, at, "("); ++at) {
    if (tokens[at].kind == Token::Kind::kWord) table.name = upper(tokens[at].text);
  }
  if (at == tokens.size()) return;
  for (const Tokens& item : split_at_commas(tokens, at + 1, closing(tokens, at))) {
    if (item.empty()) continue;
    std::size_t i = 0;
    std::string constraint;
    if (is(item, 0, "CONSTRAINT") && item.size() > 2) {
      constraint = lower(item[1].text);
      i = 2;
    }
    if (is(item, i, "PRIMARY") || is(item, i, "UNIQUE")) {
      PendingKey pending{table.name, {}, {}, dialect == Dialect::kOracle || is(item, i, "PRIMARY")};
      std::size_t open = i + 1;
      while (open < item.size() && !is(item, open, "(")) {
        if (is(item, open, "NOT") && is(item, open + 1, "DISTINCT"))
          pending.nulls_not_distinct = true;
        ++open;
      }
      pending.key = key_of(constraint, item, open, pending.wrapped);
      keys.push_back(std::move(pending));
      continue;
    }
    if (i > 0 || is(item, 0, "CHECK") || is(item, 0, "FOREIGN")) continue;

    // A column: its name, its type's words and arguments, then its constraints.
    ColumnShape column;
    column.name = upper(item[0].text);
    static const std::vector<std::string_view> kConstraintWords = {
        "NOT",     "NULL",   "CONSTRAINT", "CHECK",  "DEFAULT",
        "PRIMARY", "UNIQUE", "REFERENCES", "COLLATE"};
    Tokens words;
    Tokens arguments;
    for (i = 1; i < item.size() && item[i].kind == Token::Kind::kWord &&
                std::find(kConstraintWords.begin(), kConstraintWords.end(), item[i].text) ==
                    kConstraintWords.end();
         ++i) {
      words.push_back(item[i]);
    }
    if (is(item, i, "(")) {
      const std::size_t end = closing(item, i);
      arguments.assign(item.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                       item.begin() + static_cast<std::ptrdiff_t>(std::min(end, item.size())));
      i = end + 1;
    }
    set_type(dialect, words, arguments, column);
    for (; i < item.size(); ++i) {
      if (is(item, i, "NOT") && is(item, i + 1, "NULL")) column.nullable = false;
      if (is(item, i, "PRIMARY")) column.nullable = false;
      if (is(item, i, "PRIMARY") || is(item, i, "UNIQUE")) {
        keys.push_back({table.name,
                        {"", {column.name}, true},
                        {},
                        is(item, i, "PRIMARY") || dialect == Dialect::kOracle});
      }
      if (is(item, i, "LENGTH") && is(item, i + 1, "(") && i + 5 < item.size() &&
          is(item, i + 3, ")") && (is(item, i + 4, "<=") || is(item, i + 4, "<")) &&
          item[i + 5].kind == Token::Kind::kNumber) {
        column.length = number_of(item[i + 5]) - (is(item, i + 4, "<") ? 1 : 0);
      }
      if (is(item, i, "STRFTIME")) column.kind = ValueKind::kDate;
    }
    table.columns.push_back(std::move(column));
  }
  tables.push_back(std::move(table));
}

void parse_index(const Tokens& tokens, std::size_t at, std::vector<PendingKey>& keys) {
  // CREATE UNIQUE INDEX [IF NOT EXISTS] name ON table (expressions)
  if (is(tokens, at, "IF")) at += 3;
  if (at >= tokens.size()) return;
  PendingKey pending;
  std::string name = lower(tokens[at].text);
  for (++at; at < tokens.size() && !is(tokens, at, "ON"); ++at) {
    if (is(tokens, at, ".") && at + 1 < tokens.size()) name = lower(tokens[at + 1].text);
  }
  for (++at; at < tokens.size() && !is(tokens, at, "("); ++at) {
    if (tokens[at].kind == Token::Kind::kWord && tokens[at].text != "USING" &&
        tokens[at].text != "ONLY") {
      if (pending.table.empty() || is(tokens, at - 1, ".")) pending.table = upper(tokens[at].text);
    }
  }
  if (at == tokens.size()) return;
  pending.key = key_of(name, tokens, at, pending.wrapped);
  const std::size_t end = closing(tokens, at);
  pending.nulls_not_distinct = is(tokens, end + 1, "NULLS") && is(tokens, end + 2, "NOT");
  keys.push_back(std::move(pending));
}

}  // namespace

const ColumnShape* TableShape::column(std::string_view wanted) const {
  for (const ColumnShape& shape : columns) {
    if (shape.name == wanted) return &shape;
  }
  return nullptr;
}

std::string key_column_of(std::string_view expression, bool& null_is_a_value) {
  return key_column_of_tokens(tokens_of(expression), null_is_a_value);
}

void settle_null_keys(TableShape& table) {
  for (UniqueKey& key : table.keys) {
    key.null_is_a_value =
        key.null_is_a_value ||
        std::all_of(key.columns.begin(), key.columns.end(), [&](const std::string& name) {
          const ColumnShape* column = table.column(name);
          return column != nullptr && !column->nullable;
        });
  }
}

std::vector<TableShape> table_shapes_of_script(Dialect dialect, std::string_view script) {
  const Tokens tokens = tokens_of(script);
  std::vector<TableShape> tables;
  std::vector<PendingKey> keys;
  std::size_t start = 0;
  for (std::size_t end = 0; end <= tokens.size(); ++end) {
    if (end < tokens.size() && !is(tokens, end, ";")) continue;
    const Tokens statement(tokens.begin() + static_cast<std::ptrdiff_t>(start),
                           tokens.begin() + static_cast<std::ptrdiff_t>(end));
    start = end + 1;
    if (!is(statement, 0, "CREATE")) continue;
    if (is(statement, 1, "TABLE")) parse_table(dialect, statement, 2, tables, keys);
    if (is(statement, 1, "UNIQUE") && is(statement, 2, "INDEX")) parse_index(statement, 3, keys);
  }
  for (PendingKey& pending : keys) {
    auto table = std::find_if(tables.begin(), tables.end(),
                              [&](const TableShape& t) { return t.name == pending.table; });
    if (table == tables.end()) continue;
    // A NULL reads as a value where the dialect or the key says so, or the column is wrapped.
    pending.key.null_is_a_value =
        pending.nulls_not_distinct ||
        std::all_of(pending.key.columns.begin(), pending.key.columns.end(),
                    [&](const std::string& name) {
                      const ColumnShape* column = table->column(name);
                      return (column != nullptr && !column->nullable) ||
                             std::find(pending.wrapped.begin(), pending.wrapped.end(), name) !=
                                 pending.wrapped.end();
                    });
    table->keys.push_back(std::move(pending.key));
  }
  return tables;
}

}  // namespace zarvelt::admin
