#include "config_tool/config_tool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "config/credential_cipher.h"
#include "test_support.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

ToolRun run_tool(const std::vector<std::string>& arguments) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = run_config_tool(arguments, out, err);
  return {status, out.str(), err.str()};
}

class ConfigToolTest : public ::testing::Test {
 protected:
  ~ConfigToolTest() override { fs::remove_all(dir_); }
  fs::path dir_ = testing::make_temp_dir();
  std::string path_ = (dir_ / "velmarion.ini").string();
};

TEST_F(ConfigToolTest, WritesAndReadsTheFile) {
  ASSERT_EQ(run_tool({"write", path_, "LOGIN=kvsystem", "PASS=a;b=c", "NET8=velm"}).status, 0);
  EXPECT_EQ(run_tool({"read", path_, "PASS"}).out, "a;b=c\n");
  EXPECT_EQ(run_tool({"read", path_, "USER"}).out, "\n");
  const ToolRun encrypted = run_tool({"encrypt", "12345678"});
  EXPECT_EQ(encrypted.out, encrypt_text_to_hex("12345678", kCredentialKey) + "\n");
  EXPECT_EQ(run_tool({"decrypt", encrypted.out.substr(0, 16)}).out, "12345678\n");
  // No value of the file can be longer than 96 characters.
  EXPECT_EQ(run_tool({"encrypt", std::string(96, 'v')}).status, 0);
  const ToolRun too_long = run_tool({"encrypt", std::string(97, 'v')});
  EXPECT_EQ(too_long.status, kConfigToolFailure);
  EXPECT_EQ(too_long.out, "");
  EXPECT_EQ(run_tool({"--help"}).status, 0);
}

TEST_F(ConfigToolTest, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> usage_errors = {
      {},
      {"bogus"},
      {"encrypt"},
      {"decrypt", "00", "11"},
      {"read", path_},
      {"write", path_},
      {"write", path_, "USER=x"},
      {"write", path_, "LOGIN"},
      {"write", path_, "LOGIN=a", "LOGIN=b"},
  };
  for (const auto& arguments : usage_errors) {
    const ToolRun run = run_tool(arguments);
    EXPECT_EQ(run.status, kConfigToolUsageError) << ::testing::PrintToString(arguments);
    EXPECT_NE(run.err.find("usage:"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(path_));
}

// A NET8 or connect string the transfer program would drop or refuse is refused here, counting
// the values already in the file; the file stays as it was.
TEST_F(ConfigToolTest, RefusesCredentialsTheProgramCannotConnectWith) {
  const std::string net8_41 = "sqlite3:" + std::string(33, 'd');
  ASSERT_EQ(run_tool({"write", path_, "LOGIN=" + std::string(29, 'u'), "NET8=" + net8_41}).status,
            0);
  const std::string before = testing::read_file(path_).value_or("");
  const ToolRun long_net8 = run_tool({"write", path_, "NET8=" + net8_41 + "x"});
  EXPECT_EQ(long_net8.status, kConfigToolFailure);
  EXPECT_THAT(long_net8.err, HasSubstr("NET8 has 42 characters"));
  // 29 + 1 + 29 + 1 + 41 = 101.
  const ToolRun long_login = run_tool({"write", path_, "PASS=" + std::string(29, 'p')});
  EXPECT_EQ(long_login.status, kConfigToolFailure);
  EXPECT_THAT(long_login.err, HasSubstr("LOGIN/PASS@NET8 has 101 characters"));
  EXPECT_EQ(testing::read_file(path_).value_or(""), before);
  EXPECT_EQ(run_tool({"write", path_, "PASS=" + std::string(28, 'p')}).status, 0);
}

// A new installation's Files/ directory is made on the way; where it cannot be, the message
// gives the system's reason.
TEST_F(ConfigToolTest, WriteCreatesAMissingDirectoryOrSaysWhyItCannot) {
  const std::string nested = (dir_ / "root" / "Files" / "velmarion.ini").string();
  ASSERT_EQ(run_tool({"write", nested, "LOGIN=a"}).status, 0);
  EXPECT_EQ(run_tool({"read", nested, "LOGIN"}).out, "a\n");

  testing::write_file(dir_ / "plain", "");
  const ToolRun blocked =
      run_tool({"write", (dir_ / "plain" / "Files" / "x.ini").string(), "LOGIN=a"});
  EXPECT_EQ(blocked.status, kConfigToolFailure);
  EXPECT_THAT(blocked.err, HasSubstr("cannot create directory"));
  EXPECT_THAT(blocked.err, HasSubstr("Not a directory"));

  // A directory standing where the temporary file goes: the writer names the reason too.
  fs::create_directories(path_ + ".tmp");
  const ToolRun refused = run_tool({"write", path_, "LOGIN=a"});
  EXPECT_EQ(refused.status, kConfigToolFailure);
  EXPECT_THAT(refused.err, HasSubstr(".tmp: Is a directory"));
}

}  // namespace
}  // namespace zarvelt
