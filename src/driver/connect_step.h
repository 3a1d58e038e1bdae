// The connection step of a run: the credentials LOGIN, PASS and NET8 from the configuration
// file, the connection, and the central schema as the session schema.
#pragma once

#include <cstdint>
#include <string>

#include "db/session.h"
#include "log/reporter.h"

namespace zarvelt {

// Connects with the credentials of the configuration file at config_path (host path). A
// failure is printed ("Datenbankverbindung fehlgeschlagen, Fehler: %d\n", after the client's
// own line where it has one) and logged with its status, which is returned. A configuration
// file that cannot be read is named on the console first, with the working directory. backend,
// when given, gets the name of the backend the alias chose.
std::int32_t connect_step(const std::string& config_path, const Reporter& reporter,
                          db::SessionPtr& session, std::string* backend = nullptr);

// Prints and logs a failed connection with its status.
void report_connection_failure(const Reporter& reporter, std::int32_t status);

}  // namespace zarvelt
