// The program's use of each column decides what a difference means: a column it compares with
// a bound key, the client schema it switches to, a column of the two tables it inserts into,
// or one it only reads.
#include "admin/installation_tables.h"

#include <algorithm>
#include <cctype>

#include "db/status.h"

namespace zarvelt::admin {
namespace {

// The columns the program compares with a text it binds, and what a key that never matches
// does to the bookings.
struct LookupKey {
  std::string_view table;
  std::string_view column;
  std::string_view never_found;
};
constexpr LookupKey kLookupKeys[] = {
    {"KVS301ASW", "ASWNUM",
     "no badge will ever be found: every time booking is refused (\"Schema/Personalnr. nicht "
     "gefunden :\")"},
    {"KVS405ZZS", "ZZSTCD",
     "no zone will ever be found: every 62p access booking is stored with access status code 0"},
    {"KVS131FCD", "FCDNUM",
     "no booking type will ever be found: every time booking is exported with booking type "
     "00000"},
    {"KVS131FCDUEB", "FCDOLD",
     "no translation will ever be found: every time booking keeps its own function code"},
};

const LookupKey* lookup_key(std::string_view table, std::string_view column) {
  for (const LookupKey& key : kLookupKeys) {
    if (key.table == table && key.column == column) return &key;
  }
  return nullptr;
}

// The tables the program inserts into; the rest it only reads.
bool is_inserted(std::string_view table) {
  return table == "KVS402ZPK" || table == "O2009BUCHPROT";
}
// Columns every insert leaves NULL (the event's variable text is always empty).
bool always_null(std::string_view column) {
  return column == "ZPKFCD" || column == "ZPKMLD" || column == "BPRVAR";
}

std::string joined(const std::vector<std::string>& columns) {
  std::string text;
  for (const std::string& column : columns) text += (text.empty() ? "" : ", ") + column;
  return text;
}

bool same_columns(std::vector<std::string> a, std::vector<std::string> b) {
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return a == b;
}

class Comparison {
 public:
  Comparison(const TableFacts& facts, std::vector<TableFinding>& findings)
      : facts_(facts), findings_(findings) {}

  void table(const TableShape& reference, const TableShape& installed) {
    for (const ColumnShape& wanted : reference.columns) {
      const ColumnShape* column = installed.column(wanted.name);
      const std::string name = reference.name + "." + wanted.name;
      if (column == nullptr) {
        refuses(name + " is missing: the program's statements that name it fail with status " +
                std::to_string(db::kInvalidIdentifier) + " (" +
                consequence(db::kInvalidIdentifier) + ")");
      } else {
        this->column(reference.name, name, wanted, *column);
      }
    }
    if (is_inserted(reference.name)) {
      for (const ColumnShape& column : installed.columns) {
        if (reference.column(column.name) == nullptr && !column.nullable) {
          note(reference.name + "." + column.name + ", which " + facts_.reference +
               " does not have, is NOT NULL: unless it has a default, every insert is refused "
               "with status -1400 (the line \"status 0\" shows it)");
        }
      }
    }
    keys(reference, installed);
  }

 private:
  void refuses(std::string text) { findings_.push_back({true, std::move(text)}); }
  void note(std::string text) { findings_.push_back({false, std::move(text)}); }
  std::string has(const ColumnShape& wanted) const {
    return " where " + facts_.reference + " has " + wanted.type;
  }

  void column(const std::string& table, const std::string& name, const ColumnShape& wanted,
              const ColumnShape& column) {
    const bool texts = (wanted.kind == ValueKind::kText || wanted.kind == ValueKind::kFixedText) &&
                       (column.kind == ValueKind::kText || column.kind == ValueKind::kFixedText);
    const LookupKey* key = lookup_key(table, column.name);
    if (!texts && wanted.kind != column.kind) {
      return refuses(name + " is " + column.type + has(wanted) +
                     ": the program's statements bind and read it as the other kind of value; "
                     "the database converts each value or refuses it");
    }
    if (texts && column.kind == ValueKind::kFixedText && wanted.kind == ValueKind::kText) {
      fixed_text(table, name, wanted, column, key);
    }
    if (texts) lengths(table, name, wanted, column, key);
    if (wanted.kind == ValueKind::kNumber && wanted.digits > 0 && column.digits > 0 &&
        column.digits < wanted.digits) {
      const std::string text =
          name + " holds " + std::to_string(column.digits) + " digits" + has(wanted);
      if (is_inserted(table)) {
        refuses(text + ": a booking with a larger number is refused with status -1438");
      } else {
        note(text + ": a larger number cannot be stored there");
      }
    }
    if (wanted.nullable && !column.nullable && is_inserted(table)) {
      const std::string what = table == "KVS402ZPK" ? "access booking" : "event";
      refuses(name + " is NOT NULL" + has(wanted) + " without it: " +
              (always_null(column.name)
                   ? "the program always leaves it NULL, so every " + what +
                         " is refused with status -1400"
                   : "an " + what + " whose value for it is empty is refused with status -1400"));
    }
  }

  // Oracle compares a CHAR value blank-padded only with another CHAR value; the program binds
  // its keys as VARCHAR2.
  void fixed_text(const std::string& table, const std::string& name, const ColumnShape& wanted,
                  const ColumnShape& column, const LookupKey* key) {
    const std::string text = name + " is " + column.type + has(wanted);
    if (facts_.oracle && key != nullptr) {
      return refuses(text +
                     ": the program binds its key as VARCHAR2, which never equals a "
                     "blank-padded CHAR value shorter than the column, so " +
                     std::string(key->never_found));
    }
    if (table == "KVS112MND" && column.name == "MNDSCH") {
      return note(text +
                  ": client schemas are read blank-padded; the program switches to each name "
                  "without its trailing blanks, as the database reads the statement");
    }
    note(text + ": its values are blank-padded, which the program's results do not show");
  }

  void lengths(const std::string& table, const std::string& name, const ColumnShape& wanted,
               const ColumnShape& column, const LookupKey* key) {
    if (wanted.length == 0) return;
    const bool bytes =
        column.byte_length && facts_.oracle && is_multibyte_character_set(facts_.character_set);
    if (bytes) {
      const std::string length = std::to_string(column.length);
      const std::string text = name + " is " + column.type + " in a " + facts_.character_set +
                               " database, where \xE4, \xF6, \xFC and \xDF take 2 bytes and \x80 3";
      if (is_inserted(table)) {
        refuses(text + ": a value of up to " + length +
                " characters is refused with status -12899 once it has more than " + length +
                " bytes (" + length + " characters with one \xFC)");
      } else {
        note(text + ": a value with such letters holds fewer than " + length + " characters");
      }
    }
    if (column.length == 0 || column.length == wanted.length) return;
    const std::string text =
        name + " holds " + std::to_string(column.length) + " characters" + has(wanted);
    if (column.length < wanted.length) {
      if (is_inserted(table)) {
        refuses(text + ": a booking with a longer value (up to " + std::to_string(wanted.length) +
                " characters, which the program takes) is refused with status -12899");
      } else {
        note(text + ": the program is not affected");
      }
    } else if (is_inserted(table)) {
      note(text + ": the program sends at most " + std::to_string(wanted.length));
    } else if (key != nullptr) {
      note(text + ": the program refuses a key longer than " + std::to_string(wanted.length) +
           " characters (status -12899), so such values are never found");
    } else {
      note(text + ": the program reads at most " + std::to_string(wanted.length) +
           " characters of a longer value");
    }
  }

  void keys(const TableShape& reference, const TableShape& installed) {
    const bool inserted = is_inserted(reference.name);
    for (const UniqueKey& wanted : reference.keys) {
      const auto found = std::find_if(
          installed.keys.begin(), installed.keys.end(),
          [&](const UniqueKey& key) { return same_columns(key.columns, wanted.columns); });
      const std::string columns = reference.name + " (" + joined(wanted.columns) + ")";
      if (found == installed.keys.end()) {
        if (inserted) {
          refuses("no unique key on " + columns + ": a booking transferred twice is stored twice" +
                  (facts_.oracle
                       ? ", and the batch inserts' hint names a key that is not there (ORA-38913)"
                       : ""));
        } else {
          note("no unique key on " + columns +
               ": a key held twice makes its lookup fail with status -1422 (that booking is "
               "refused)");
        }
      } else if (wanted.null_is_a_value && !found->null_is_a_value && inserted) {
        refuses("the unique key " + found->name + " on " + columns +
                " takes a NULL for no value: a booking with an empty value in it, transferred "
                "twice, is stored twice");
      }
    }
    if (!inserted) return;
    for (const UniqueKey& key : installed.keys) {
      const bool known = std::any_of(
          reference.keys.begin(), reference.keys.end(),
          [&](const UniqueKey& wanted) { return same_columns(key.columns, wanted.columns); });
      if (known) continue;
      refuses("the unique key " + key.name + " on " + reference.name + " (" + joined(key.columns) +
              "), which the program does not know: a booking that matches a stored one in these "
              "columns only is refused as a duplicate (status -1); an access booking is counted "
              "as stored, an event is not stored" +
              (facts_.oracle ? ", and the batch inserts' hint does not absorb it" : ""));
    }
  }

  const TableFacts& facts_;
  std::vector<TableFinding>& findings_;
};

}  // namespace

std::string consequence(std::int32_t status) {
  switch (db::status_scope(status)) {
    case db::StatusScope::kBooking:
      return "the program refuses that booking alone and goes on";
    case db::StatusScope::kRun:
      return "the program ends the run there (exit status 75, nothing committed)";
    case db::StatusScope::kSessionLost:
      break;
  }
  return "the session counts as lost: the run ends (exit status 75, nothing committed)";
}

bool is_multibyte_character_set(std::string_view character_set) {
  // Oracle's names say the bits per character after the region: WE8..., US7..., AL32UTF8.
  if (character_set.starts_with("UTF") || character_set.find("UTF8") != std::string_view::npos ||
      character_set.find("UTF16") != std::string_view::npos) {
    return true;
  }
  std::size_t at = 0;
  while (at < character_set.size() && std::isalpha(static_cast<unsigned char>(character_set[at]))) {
    ++at;
  }
  std::size_t end = at;
  while (end < character_set.size() &&
         std::isdigit(static_cast<unsigned char>(character_set[end]))) {
    ++end;
  }
  const std::string_view bits = character_set.substr(at, end - at);
  return !bits.empty() && bits != "7" && bits != "8";
}

std::vector<TableFinding> compare_tables(const std::vector<TableShape>& reference,
                                         const std::vector<TableShape>& installed,
                                         const TableFacts& facts) {
  std::vector<TableFinding> findings;
  Comparison comparison(facts, findings);
  for (const TableShape& wanted : reference) {
    const auto found = std::find_if(installed.begin(), installed.end(),
                                    [&](const TableShape& t) { return t.name == wanted.name; });
    if (found == installed.end()) {
      findings.push_back({true, wanted.name +
                                    " is missing: the program's statements that name it "
                                    "fail with status " +
                                    std::to_string(db::kTableMissing) + " (" +
                                    consequence(db::kTableMissing) + ")"});
    } else {
      comparison.table(wanted, *found);
    }
  }
  return findings;
}

}  // namespace zarvelt::admin
