// zarvelt_admin selftest: what the transfer relies on from an installation's database and its
// driver, checked with the program's own statements in one transaction that is never committed.
// It connects as a run does (the configuration file ..\..\Files\velmarion.ini of the working
// directory, the same backend for the same NET8) and writes only rows of its own terminal
// ZARVELT-SELFTEST into the two protocol tables; master data is only read; no DDL.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace zarvelt::admin {

// The terminal name of the self-test's rows.
inline constexpr const char* kSelfTestTerminal = "ZARVELT-SELFTEST";

// Runs every check from the working directory and prints one line each, "<check>: ok" or what
// differs and what the program does about it. kAdminSuccess only when every check holds,
// kAdminFailure otherwise.
int run_self_test(std::ostream& out);

// What the access insert's duplicate-absorbing form did when run alone on a row already stored:
// its status, and how many rows it stored. holds: the database honours the form (or ignores
// Oracle's hint, which costs time, not statuses); text: what was seen and what the program then
// does. not_sent_because: why the program's batches do not send the form here, empty if they do.
struct AbsorbingFormVerdict {
  bool holds = false;
  std::string text;
};
AbsorbingFormVerdict judge_absorbing_form(std::int32_t status, std::int32_t stored, bool oracle,
                                          const std::string& not_sent_because);

}  // namespace zarvelt::admin
