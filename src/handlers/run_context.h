// Everything one run works with once its files are open and its session connected: the
// terminal, the reporter, the two export files, and the run's master data and insert queue over
// its session. The driver sets it up; each handler takes the parts it uses.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "db/session.h"
#include "files/export_file.h"
#include "handlers/insert_queue.h"
#include "handlers/master_data.h"
#include "log/reporter.h"

namespace zarvelt {

class RunContext {
 public:
  // terminal_name: at most 255 characters (the driver refuses longer ones).
  RunContext(std::string terminal_name, Reporter reporter)
      : terminal_name_(std::move(terminal_name)), reporter_(std::move(reporter)) {}
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  const std::string& terminal_name() const { return terminal_name_; }
  const Reporter& reporter() const { return reporter_; }
  ExportFile& time_export() { return time_export_; }                // target file 1
  ExportFile& cost_centre_export() { return cost_centre_export_; }  // target file 2

  // Puts the run's lookups and inserts on session. Where the backend sends statements together
  // and batch_size is above 1, the inserts are sent batch_size at a time and the master data of
  // the lines read ahead is asked for at once; otherwise every statement runs on its own, each
  // insert answered before the next line. Until end_session(), session must outlive the run's
  // use of it.
  void use_session(db::Session& session, std::size_t batch_size) {
    const bool together = batch_size > 1 && db::sends_together(session);
    own_master_data_.emplace(session, together);
    own_inserts_.emplace(session, together ? batch_size : 1);
    use(&*own_master_data_, &*own_inserts_);
  }
  // The same over lookups and a queue of the caller's (either may be null where nothing of the
  // run asks for it).
  void use(MasterData* master_data, InsertQueue* inserts) {
    master_data_ = master_data;
    inserts_ = inserts;
  }
  // Lets go of the session's lookups and queue, before the session ends.
  void end_session() {
    use(nullptr, nullptr);
    own_inserts_.reset();
    own_master_data_.reset();
  }

  MasterData* master_data() const { return master_data_; }  // the run's lookups
  InsertQueue* inserts() const { return inserts_; }         // where the run's inserts wait

 private:
  std::string terminal_name_;
  Reporter reporter_;
  ExportFile time_export_;
  ExportFile cost_centre_export_;
  std::optional<SessionMasterData> own_master_data_;
  std::optional<InsertQueue> own_inserts_;
  MasterData* master_data_ = nullptr;
  InsertQueue* inserts_ = nullptr;
};

}  // namespace zarvelt
