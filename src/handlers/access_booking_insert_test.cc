// Access booking inserts on each backend: the access status code by access result and by
// record kind, duplicates counted and failures printed.
#include "handlers/access_booking_insert.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/session.h"
#include "db_fixture.h"
#include "test_support.h"

namespace zarvelt {
namespace {

using ::testing::ElementsAre;

TEST(AccessStatusCodeTest, ByFirstCharacterOfTheAccessResult) {
  struct Case {
    std::string_view access_result;
    std::int32_t code;
  };
  const Case cases[] = {
      {"1", 100}, {"9", 204}, {"B", 202}, {"Z", 202},  {"S", 203},  {"U", 201}, {"A", 200},
      {"G", 200}, {"P", 200}, {"b", 200}, {"U3", 201}, {"19", 100}, {"2", 200}, {"", 200},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(access_status_code_for_result(c.access_result), c.code) << c.access_result;
  }
}

using testing::DbBackend;
using testing::DbInstallation;

// Zone key Z1200 has one zone number (stored twice), Z2200 two different ones.
constexpr const char* kZones = R"sql(
insert into KVSYSTEM.KVS405ZZS values ('Z1200', 7);
insert into KVSYSTEM.KVS405ZZS values ('Z1200', 7);
insert into KVSYSTEM.KVS405ZZS values ('Z2200', 8);
insert into KVSYSTEM.KVS405ZZS values ('Z2200', 9);
)sql";

class AccessBookingInsertTest : public ::testing::TestWithParam<DbBackend> {
 protected:
  void SetUp() override {
    db_ = DbInstallation::create(GetParam(), {});
    ZARVELT_REQUIRE_DB(db_);
    ASSERT_TRUE(db_->execute(kZones));
    ASSERT_EQ(db::connect(session_, db_->login(), db_->password(), db_->connect_alias(), "KVSYSTEM")
                  .status,
              0);
  }

  // A booking line of terminal T01 on 5 March 2024; time and badge tell the rows apart.
  void insert(const std::string& record_kind, const std::string& time,
              const std::string& access_result, const std::string& status_number,
              const std::string& zone_prefix = "", const std::string& badge = "4711",
              const std::string& reader_number = "3", const std::string& date = "20240305") {
    const BookingLine line({badge, "", date, time, "", "T01", reader_number, "025", "", "", "",
                            access_result, status_number, zone_prefix, "", record_kind});
    if (master_data_ == nullptr) {
      master_data_ = std::make_unique<SessionMasterData>(*session_, false);
      run_.use(master_data_.get(), nullptr);
    }
    last_ = testing::handle_at_once(handler_, run_, run_.reporter(), line, *session_);
    if (last_.outcome == Outcome::kDone) ++done_;
  }

  std::vector<std::string> rows() {
    EXPECT_EQ(db::commit(*session_), db::kSuccess);
    return db_->query(
        "select ZpkTrm, ZpkLes, ZpkDtm, ZpkUhr, ZpkAsw, ZpkZus, ZpkFcd, ZpkMld, ZpkLfd, "
        "case when ZpkDat is null then 'no server time' else 'server time' end "
        "from KVSYSTEM.KVS402ZPK order by ZpkUhr");
  }

  std::unique_ptr<DbInstallation> db_;
  db::SessionPtr session_;
  testing::CapturedConsole console_;
  RunContext run_{"T01", Reporter("", console_.file(), false)};
  const AccessBookingHandler handler_{};
  std::unique_ptr<MasterData> master_data_;
  HandlerResult last_;
  int done_ = 0;
};

TEST_P(AccessBookingInsertTest, AccessStatusCodeByRecordKind) {
  insert("40p", "080001", "U3", "");
  insert("40p", "080002", "b", "");
  insert("62p", "080003", "", "200", "Z1");
  EXPECT_EQ(last_.status, db::kSuccess);
  insert("62p", "080004", "", "200", "Z9");  // no zone row
  insert("62p", "080005", "", "200", "Z2");  // two zone numbers for the key
  insert("dta", "080006", "", "100");
  insert("dta", "080007", "", "");
  insert("dta", "080008", "", "-7x");
  insert("50p", "080009", "1", "100");
  insert("40p", "080010", "1", "", "", "4711", "x");  // reader number not numeric
  EXPECT_EQ(done_, 10);
  EXPECT_EQ(console_.text(), "");
  const std::string prefix = "T01|3|2024-03-05 00:00:00|2024-03-05 08:00:";
  const std::string suffix = "|<NULL>|<NULL>|001|server time";
  EXPECT_THAT(rows(),
              ElementsAre(prefix + "01|4711|201" + suffix, prefix + "02|4711|200" + suffix,
                          prefix + "03|4711|7" + suffix, prefix + "04|4711|0" + suffix,
                          prefix + "05|4711|0" + suffix, prefix + "06|4711|100" + suffix,
                          prefix + "07|4711|0" + suffix, prefix + "08|4711|-7" + suffix,
                          prefix + "09|4711|0" + suffix,
                          "T01|0|2024-03-05 00:00:00|2024-03-05 08:00:10|4711|100" + suffix));
}

TEST_P(AccessBookingInsertTest, DuplicatesCountAndFailuresArePrinted) {
  insert("40p", "080001", "1", "");
  insert("40p", "080001", "1", "");
  EXPECT_EQ(last_.status, db::kUniqueConstraint);
  EXPECT_EQ(done_, 2);
  EXPECT_EQ(console_.text(), "");

  // A badge of 20 characters does not fit the insert: refused, never cut.
  insert("40p", "080002", "1", "", "", std::string(20, '7'));
  EXPECT_EQ(last_.status, db::kValueTooLarge);
  EXPECT_EQ(console_.text(), " Insert in Kvs402Zpk fehlgeschlagen, Fehler -12899\n");
  insert("40p", "080003", "1", "", "", std::string(19, '7'));
  insert("40p", "080004", "1", "", "", "4711", "3", "20241305");  // no such month
  EXPECT_LT(last_.status, 0);
  EXPECT_EQ(done_, 3);
  // The rows before a failed insert stay in the transaction.
  EXPECT_EQ(rows().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Backends, AccessBookingInsertTest,
                         ::testing::ValuesIn(testing::database_backends()),
                         [](const auto& info) { return testing::backend_name(info.param); });

}  // namespace
}  // namespace zarvelt
