// The self-test's comparison of an installation's tables, as its database's catalogue declares
// them, with the tables of sql/<backend>/*.sql that the program's statements were written for:
// each difference named with what the program will then do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "admin/catalogue.h"

namespace zarvelt::admin {

// What the program does when a statement gives status where a run expects success.
std::string consequence(std::int32_t status);

// True for an Oracle character set that takes more than one byte for some character
// (AL32UTF8, UTF8, ZHS16GBK, ...); false for the single-byte ones (WE8MSWIN1252, US7ASCII, ...).
bool is_multibyte_character_set(std::string_view character_set);

struct TableFacts {
  bool oracle = false;  // CHAR and byte lengths behave as Oracle has them
  std::string character_set;
  std::string reference;  // the script the reference tables come from, for messages
};

struct TableFinding {
  bool refuses = false;  // the program refuses bookings or gives wrong results because of it
  std::string text;
};

// The differences between the installation's tables and the reference tables of one schema.
std::vector<TableFinding> compare_tables(const std::vector<TableShape>& reference,
                                         const std::vector<TableShape>& installed,
                                         const TableFacts& facts);

}  // namespace zarvelt::admin
