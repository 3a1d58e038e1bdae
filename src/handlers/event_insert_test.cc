// Event inserts: the rows stored on each backend, duplicates and refused values.
#include "handlers/event_insert.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db/session.h"
#include "db_fixture.h"
#include "test_support.h"

namespace zarvelt {
namespace {

using testing::DbBackend;
using testing::DbInstallation;
using ::testing::ElementsAre;

class EventInsertTest : public ::testing::TestWithParam<DbBackend> {
 protected:
  void SetUp() override {
    db_ = DbInstallation::create(GetParam(), {});
    ZARVELT_REQUIRE_DB(db_);
    ASSERT_EQ(db::connect(session_, db_->login(), db_->password(), db_->connect_alias(), "KVSYSTEM")
                  .status,
              0);
  }

  // A "dta" event line of terminal T01; returns the insert's status.
  std::int32_t insert(const std::string& badge, const std::string& time,
                      const std::string& function_code = "025", const std::string& reader = "2",
                      const std::string& status_number = "200") {
    const BookingLine line({badge, "", "20260107", time, "", "T01", reader, function_code, "", "",
                            "", "", status_number, "", "", "dta"});
    const HandlerResult result = insert(line);
    EXPECT_EQ(result.outcome == Outcome::kDone, result.status == db::kSuccess);
    return result.status;
  }

  std::vector<std::string> rows() {
    EXPECT_EQ(db::commit(*session_), db::kSuccess);
    return db_->query(
        "select BPRTRM, BPRZLS, BPRAWV, BPRDAT, BPRDTE, BPRFCD, BPRERG, BPRVAR "
        "from KVSYSTEM.O2009BUCHPROT order by BPRDTE");
  }

  HandlerResult insert(const BookingLine& line) {
    return testing::handle_at_once(handler_, run_, run_.reporter(), line, *session_);
  }

  std::unique_ptr<DbInstallation> db_;
  db::SessionPtr session_;
  testing::CapturedConsole console_;
  RunContext run_{"T01", Reporter("", console_.file(), false)};
  const EventHandler handler_{};
};

TEST_P(EventInsertTest, OneRowPerEventWithoutVariableText) {
  EXPECT_EQ(insert("4711", "153000"), db::kSuccess);
  EXPECT_EQ(insert("4712", "153001", "1", "-4", "0"), db::kSuccess);
  EXPECT_THAT(rows(),
              ElementsAre("T01|2|4711|2026-01-07 00:00:00|2026-01-07 15:30:00|025|200|<NULL>",
                          "T01|-4|4712|2026-01-07 00:00:00|2026-01-07 15:30:01|1|0|<NULL>"));
}

TEST_P(EventInsertTest, DuplicatesAndOversizedValuesAreRefused) {
  EXPECT_EQ(insert("4711", "153000"), db::kSuccess);
  EXPECT_EQ(insert("4711", "153000"), db::kUniqueConstraint);
  // Badge and function code are refused, not cut, beyond 50 and 5 characters.
  EXPECT_EQ(insert(std::string(51, '4'), "153001"), db::kValueTooLarge);
  EXPECT_EQ(insert(std::string(50, '4'), "153002"), db::kSuccess);
  EXPECT_EQ(insert("4711", "153003", "123456"), db::kValueTooLarge);
  EXPECT_EQ(insert("4711", "153004", "12345"), db::kSuccess);
  // A date that is no date fails as well. Each failure but the duplicate is printed.
  const BookingLine no_date({"4711", "", "20241340", "153005", "", "T01", "2", "025", "", "", "",
                             "", "200", "", "", "dta"});
  const HandlerResult result = insert(no_date);
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  EXPECT_EQ(console_.text(),
            " Insert in O2009BuchProt fehlgeschlagen, Fehler -12899\n"
            " Insert in O2009BuchProt fehlgeschlagen, Fehler -12899\n"
            " Insert in O2009BuchProt fehlgeschlagen, Fehler " +
                std::to_string(result.status) + "\n");
  EXPECT_EQ(rows().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Backends, EventInsertTest,
                         ::testing::ValuesIn(testing::database_backends()),
                         [](const auto& info) { return testing::backend_name(info.param); });

}  // namespace
}  // namespace zarvelt
