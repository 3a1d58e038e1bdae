// The connection step of a run: the credentials LOGIN, PASS and NET8 from the configuration
// file, the connection, and the central schema as the session schema.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/session.h"
#include "log/reporter.h"

namespace zarvelt {

// How the step connects: db::connect, or a stand-in in tests.
using ConnectFunction = db::ConnectResult (*)(db::SessionPtr& session, std::string_view login,
                                              std::string_view password, std::string_view alias,
                                              std::string_view schema);

// Connects with the credentials of the configuration file at config_path (host path). A
// failure is printed ("Datenbankverbindung fehlgeschlagen, Fehler: %d\n", after the client's
// own line where it has one) and logged with its status, which is returned. A configuration
// file that cannot be read is named on the console first, with the working directory. backend,
// when given, gets the name of the backend the alias chose.
std::int32_t connect_step(const std::string& config_path, const Reporter& reporter,
                          db::SessionPtr& session, std::string* backend = nullptr,
                          ConnectFunction connect = &db::connect);

// Prints and logs a failed connection with its status. A driver of the other width
// (db::kArchitectureMismatch) gets a second line, printed and logged, that says what to
// install or which build to take.
void report_connection_failure(const Reporter& reporter, std::int32_t status);

// That line: the program's width, the rule, and the package folder of the other build.
std::string architecture_mismatch_text();

}  // namespace zarvelt
