#include "config_tool/config_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/config_reader.h"
#include "config/credential_cipher.h"
#include "files/failing_file_system.h"
#include "test_support.h"

namespace zarvelt {
namespace {

class ConfigWriterTest : public ::testing::Test {
 protected:
  ConfigWriterTest() : dir_(testing::make_temp_dir()), path_((dir_ / "velmarion.ini").string()) {}
  ~ConfigWriterTest() override { std::filesystem::remove_all(dir_); }

  std::string read_back(std::string_view key) { return read_config_value("", key, 0, path_).value; }
  std::string content() { return testing::read_file(path_).value_or("<missing>"); }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(ConfigWriterTest, WrittenValuesReadBackUnchanged) {
  const std::vector<ConfigAssignment> assignments = {
      {"LOGIN", "kvsystem"},         // exactly one block
      {"PASS", "pa;ss;w0rd"},        // ";" inside the value
      {"NET8", "velmarion_prod_1"},  // exactly two blocks
      {"LONGEST", std::string(kMaxPlainValueLength, 'v')},
      {"EMPTY", ""},
  };
  ASSERT_TRUE(write_config_values(path_, assignments).ok);
  for (const ConfigAssignment& assignment : assignments) {
    EXPECT_EQ(read_back(assignment.key), assignment.plain_value) << assignment.key;
  }
}

TEST_F(ConfigWriterTest, NewFileHasOneNumberedRecordPerKey) {
  ASSERT_TRUE(write_config_values(path_, {{"LOGIN", "a"}, {"PASS", "b"}, {"NET8", "c"}}).ok);
  EXPECT_EQ(content(),
            format_config_record(1, "LOGIN", encrypt_text_to_hex("a", kCredentialKey)) +
                format_config_record(2, "PASS", encrypt_text_to_hex("b", kCredentialKey)) +
                format_config_record(3, "NET8", encrypt_text_to_hex("c", kCredentialKey)));
  EXPECT_EQ(format_config_record(7, "KEY", "ABCD"), "0;DB;\n7;KEY;ABCD\n");
}

TEST_F(ConfigWriterTest, UpdateKeepsOtherRecordsAndReplacesPresentKeys) {
  const std::string other = "0;APP;\n9;OTHER;0123456789ABCDEF\n";
  testing::write_file(
      path_, other + "0;DB;\r\n4;LOGIN;" + encrypt_text_to_hex("old", kCredentialKey) + "\r\n");
  ASSERT_TRUE(write_config_values(path_, {{"LOGIN", "new"}, {"PASS", "secret"}}).ok);
  EXPECT_EQ(content(),
            other + format_config_record(4, "LOGIN", encrypt_text_to_hex("new", kCredentialKey)) +
                format_config_record(10, "PASS", encrypt_text_to_hex("secret", kCredentialKey)));
  EXPECT_EQ(read_back("LOGIN"), "new");
  EXPECT_EQ(read_back("PASS"), "secret");
}

TEST_F(ConfigWriterTest, PresentKeyWithNumberZeroGetsANumber) {
  testing::write_file(path_, "0;DB;\n0;LOGIN;00\n0;DB;\n2;PASS;00\n");
  ASSERT_TRUE(write_config_values(path_, {{"LOGIN", "scott"}}).ok);
  EXPECT_EQ(read_back("PASS"), decrypt_hex_to_text("00", kCredentialKey));
  EXPECT_EQ(read_config_value("", "LOGIN", 0, path_).number, 3);
}

TEST_F(ConfigWriterTest, RefusesBadInputAndLeavesTheFileAlone) {
  const std::string original = "0;DB;\n1;LOGIN;00\n";
  testing::write_file(path_, original);
  const std::vector<std::vector<ConfigAssignment>> refused = {
      {{"", "x"}},
      {{"LO;GIN", "x"}},
      {{"LOGIN\n", "x"}},
      {{"LOGIN", std::string("a\0b", 3)}},
      {{"LOGIN", std::string(kMaxPlainValueLength + 1, 'v')}},
      {{std::string(201, 'K'), "x"}},
  };
  for (const auto& assignments : refused) {
    EXPECT_FALSE(write_config_values(path_, assignments).ok) << assignments[0].key;
  }
  testing::write_file(path_, original + "0;DB;\n");
  const ConfigWriteResult odd = write_config_values(path_, {{"PASS", "x"}});
  EXPECT_FALSE(odd.ok);
  EXPECT_NE(odd.error.find("two-line records"), std::string::npos);
  EXPECT_EQ(content(), original + "0;DB;\n");
  EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp"));
}

// Whatever step fails, the file keeps its old content and no temporary file stays.
TEST_F(ConfigWriterTest, FailedWriteLeavesTheFileAlone) {
  const std::string original = "0;DB;\n1;LOGIN;00\n";
  const struct {
    FileOp op;
    const char* path_part;
  } kFaults[] = {
      {FileOp::kRead, "velmarion.ini"},        {FileOp::kOpen, "velmarion.ini.tmp"},
      {FileOp::kWrite, "velmarion.ini.tmp"},   {FileOp::kClose, "velmarion.ini.tmp"},
      {FileOp::kReplace, "velmarion.ini.tmp"},
  };
  for (const auto& fault : kFaults) {
    SCOPED_TRACE(static_cast<int>(fault.op));
    testing::write_file(path_, original);
    FailingFileSystem file_system;
    file_system.fail(fault.op, fault.path_part);
    EXPECT_FALSE(write_config_values(path_, {{"PASS", "x"}}, file_system).ok);
    EXPECT_EQ(content(), original);
    EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp"));
  }
}

TEST_F(ConfigWriterTest, RefusesEntryLinesLongerThanTheReaderTakes) {
  const std::string key(200, 'K');
  const std::string value(kMaxPlainValueLength, 'v');
  ASSERT_TRUE(write_config_values(path_, {{key, value}}).ok);
  EXPECT_EQ(read_back(key), value);
  // A ten-digit number makes the same record one line too long.
  testing::write_file(path_, "0;DB;\n1000000000;LOGIN;00\n");
  EXPECT_FALSE(write_config_values(path_, {{key, value}}).ok);
  testing::write_file(path_, "0;DB;\n2147483647;LOGIN;00\n");
  EXPECT_FALSE(write_config_values(path_, {{"PASS", "x"}}).ok);
}

}  // namespace
}  // namespace zarvelt
