// The connection step: the credentials read and deciphered, the session opened in the central
// schema, and the console and log lines of a failure.
#include "driver/connect_step.h"

#include <string>
#include <string_view>

#include "config/config_reader.h"
#include "files/process.h"
#include "text/text.h"

namespace zarvelt {

namespace {
// Followed by the status of the connection step.
constexpr std::string_view kConnectionFailed = "\n\nDatenbankverbindung fehlgeschlagen, Fehler: ";

// The program's width in bits: a 64-bit program loads only a 64-bit ODBC driver and Oracle
// client, a 32-bit one only 32-bit ones. The Windows package has each build in its own folder.
constexpr int kProgramBits = static_cast<int>(sizeof(void*) * 8);
constexpr int kOtherBits = kProgramBits == 64 ? 32 : 64;

}  // namespace

std::int32_t connect_step(const std::string& config_path, const Reporter& reporter,
                          db::SessionPtr& session, std::string* backend, ConnectFunction connect) {
  ConfigLookup login = read_config_value("", "LOGIN", 0, config_path);
  ConfigLookup password = read_config_value("", "PASS", 0, config_path);
  ConfigLookup alias = read_config_value("", "NET8", 0, config_path);
  // Its path is relative: a run started from the wrong directory finds no file and no
  // credentials, and the connection failure that follows would not say why.
  if (!login.file_read) {
    reporter.console("Konfigurationsdatei " + config_path +
                     " kann nicht gelesen werden, Arbeitsverzeichnis: " + current_directory() +
                     "\n");
  }
  // A NET8 value longer than its host variable is left empty, so that no alias is resolved.
  if (alias.value.size() > db::kMaxAliasLength) alias.value.clear();
  db::ConnectResult result =
      connect(session, login.value, password.value, alias.value, db::kCentralSchema);
  // The deciphered texts are wiped once the connection is made or has failed; the client
  // libraries' own copies are theirs.
  wipe(login.value);
  wipe(password.value);
  if (backend != nullptr) *backend = result.backend;
  // Success without a session would leave nothing to run the bookings on.
  if (result.status == db::kSuccess && session == nullptr) result.status = db::kNotConnected;
  if (result.status != db::kSuccess) {
    reporter.console(result.message);
    report_connection_failure(reporter, result.status);
  }
  return result.status;
}

void report_connection_failure(const Reporter& reporter, std::int32_t status) {
  reporter.console("Datenbankverbindung fehlgeschlagen, Fehler: " + std::to_string(status) + "\n");
  reporter.log(std::string(kConnectionFailed) + std::to_string(status));
  // The status alone would send an operator looking for a wrong password or alias.
  if (status == db::kArchitectureMismatch) {
    const std::string explanation = architecture_mismatch_text();
    reporter.console(explanation + "\n");
    reporter.log(explanation);
  }
}

std::string architecture_mismatch_text() {
  const std::string bits = std::to_string(kProgramBits) + "-Bit";
  const std::string other = std::to_string(kOtherBits);
  return "Treiber und Programm verschiedener Bitbreite (IM014): dieses Programm ist " + bits +
         ", der Treiber der ODBC-Datenquelle und der Oracle-Client m\xFCssen ebenfalls " + bits +
         " sein; die " + other + "-Bit-Programme liegen im Ordner win" + other +
         " des Windows-Pakets";
}

}  // namespace zarvelt
