// zarvelt_admin's commands, apart from main so that tests can run them in-process: "init" lays
// out an installation's directories, "create" builds the central schema KVSYSTEM and the client
// schemas from sql/<backend>/*.sql, "load" replaces master data with the rows of CSV files,
// "selftest" checks an installation's database as the transfer uses it (selftest.h). The
// database commands go through the program's own database layer, so they reach the database
// exactly as the transfer does.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace zarvelt::admin {

inline constexpr int kAdminSuccess = 0;
inline constexpr int kAdminFailure = 1;  // refused; nothing of the refused part was stored
inline constexpr int kAdminUsageError = 2;

// Runs one command; arguments exclude the program name. Results go to out, messages to err.
// Returns the exit status.
int run_admin_tool(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// The directory of the DDL scripts (sql/<backend>/*.sql): ZARVELT_SQL_DIR, else beside the
// tool's build or install directory, else "sql".
std::string find_sql_directory();

}  // namespace zarvelt::admin
