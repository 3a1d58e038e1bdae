#include "config/config_reader.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>

#include "config/config_line_fields.h"
#include "config/credential_cipher.h"
#include "files/failing_file_system.h"
#include "test_support.h"

namespace zarvelt {
namespace {

std::string hex(std::string_view plain) { return encrypt_text_to_hex(plain, kCredentialKey); }

class ConfigReaderTest : public ::testing::Test {
 protected:
  ConfigReaderTest() : dir_(testing::make_temp_dir()) {}
  ~ConfigReaderTest() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& content) {
    const std::filesystem::path path = dir_ / "velmarion.ini";
    testing::write_file(path, content);
    return path.string();
  }

  std::string lookup(const std::string& content, std::string_view key) {
    return read_config_value("", key, 0, write(content)).value;
  }

  std::filesystem::path dir_;
};

const std::string kWellFormed = "0;DB;\n1;LOGIN;" + hex("scott") + "\n0;DB;\n2;PASS;" +
                                hex("tiger") + "\n0;DB;\n3;NET8;" + hex("orcl") + "\n";
const std::string kPassRecord = "0;DB;\n2;PASS;" + hex("tiger") + "\n";

TEST_F(ConfigReaderTest, FindsEachKeyOfAWellFormedFile) {
  const std::string path = write(kWellFormed);
  EXPECT_EQ(read_config_value("", "LOGIN", 0, path).value, "scott");
  EXPECT_EQ(read_config_value("", "NET8", 0, path).value, "orcl");
  const ConfigLookup pass = read_config_value("", "PASS", 0, path);
  EXPECT_EQ(pass.value, "tiger");
  EXPECT_EQ(pass.section, "DB");
  EXPECT_EQ(pass.key, "PASS");
  EXPECT_EQ(pass.number, 2);
}

TEST_F(ConfigReaderTest, MissingFileOrKeyGivesEmptyResults) {
  const ConfigLookup missing =
      read_config_value("", "PASS", 0, (dir_ / "no-such-file.ini").string());
  EXPECT_EQ(missing.value, "");
  EXPECT_FALSE(missing.file_read);
  const ConfigLookup unknown = read_config_value("", "USER", 0, write(kWellFormed));
  EXPECT_TRUE(unknown.file_read);
  EXPECT_EQ(unknown.value, "");
  EXPECT_EQ(unknown.section, "");
  EXPECT_EQ(unknown.key, "");
  EXPECT_EQ(unknown.number, 0);
}

// Each case is a file and the value a lookup of PASS gives.
struct LookupCase {
  const char* name;
  std::string content;
  std::string expected;
};

class ConfigReaderCaseTest : public ConfigReaderTest,
                             public ::testing::WithParamInterface<LookupCase> {};

TEST_P(ConfigReaderCaseTest, LooksUpPass) {
  EXPECT_EQ(lookup(GetParam().content, "PASS"), GetParam().expected);
}

const std::string kLoginEntry = "1;LOGIN;" + hex("scott") + "\n";

INSTANTIATE_TEST_SUITE_P(
    Files, ConfigReaderCaseTest,
    ::testing::Values(
        LookupCase{"EmptyFile", "", ""}, LookupCase{"OneLine", "0;DB;\n", ""},
        LookupCase{"LastRecordWithoutEntryLine", "0;DB;\n" + kLoginEntry + "0;DB;\n", ""},
        LookupCase{"WrongCase", "0;DB;\n1;pass;" + hex("tiger") + "\n", ""},
        // The empty section matches the empty section argument, whatever the key.
        LookupCase{"SectionLineWithoutSemicolon", "[DB]\n" + kLoginEntry + kPassRecord, "scott"},
        LookupCase{"BlankSectionLine", "\n" + kLoginEntry + kPassRecord, "scott"},
        LookupCase{"SectionLineWithOneSemicolon", "0;DB\n" + kLoginEntry + kPassRecord, "scott"},
        // ";;" gives the rest of the line as section, which is not empty.
        LookupCase{"AdjacentSemicolonsInSection", "0;;DB\n" + kLoginEntry + kPassRecord, "tiger"},
        // Number 0, empty or no number matches the number argument 0.
        LookupCase{"NumberZero", "0;DB;\n0;LOGIN;" + hex("scott") + "\n" + kPassRecord, "scott"},
        LookupCase{"NumberEmpty", "0;DB;\n;LOGIN;" + hex("scott") + "\n" + kPassRecord, "scott"},
        LookupCase{"NumberNotANumber", "0;DB;\nx1;LOGIN;" + hex("scott") + "\n" + kPassRecord,
                   "scott"},
        LookupCase{"NumberWithBlanks", "0;DB;\n  7;LOGIN;" + hex("scott") + "\n" + kPassRecord,
                   "tiger"},
        // The number field is cut at 11 characters.
        LookupCase{"NumberOfElevenCharacters",
                   "0;DB;\n00000000001;LOGIN;" + hex("scott") + "\n" + kPassRecord, "tiger"},
        LookupCase{"NumberOfTwelveCharacters",
                   "0;DB;\n000000000001;LOGIN;" + hex("scott") + "\n" + kPassRecord, "scott"},
        // ";;" in the entry line makes the key the rest of the line: no key matches.
        LookupCase{"EmptyKeyField", "0;DB;\n1;;PASS;" + hex("scott") + "\n" + kPassRecord, "tiger"},
        LookupCase{"FirstOfTwoRecordsWins", kPassRecord + "0;DB;\n5;PASS;" + hex("lion") + "\n",
                   "tiger"},
        LookupCase{
            "CrLfLineEnds",
            "0;DB;\r\n1;LOGIN;" + hex("scott") + "\r\n0;DB;\r\n2;PASS;" + hex("tiger") + "\r\n",
            "tiger"},
        LookupCase{"LastLineWithoutLineEnd", "0;DB;\n2;PASS;" + hex("tiger"), "tiger"},
        LookupCase{"EmptyValue", "0;DB;\n2;PASS;\n" + kPassRecord, ""},
        LookupCase{"EmptyValueWithoutLineEnd", "0;DB;\n2;PASS;", ""},
        // 198 characters and the line end fit the section line; one more and the line end is
        // read as the entry line, which has number 0 and so matches.
        LookupCase{"SectionLineAtItsLimit",
                   "0;DB;" + std::string(193, 'x') + "\n" + kLoginEntry + kPassRecord, "tiger"},
        LookupCase{"SectionLineBeyondItsLimit",
                   "0;DB;" + std::string(194, 'x') + "\n" + kLoginEntry + kPassRecord,
                   decrypt_hex_to_text("\n", kCredentialKey)},
        // Likewise 398 characters and the line end for the entry line; beyond, the line end
        // becomes a section line (empty section: matches) and the next section line "0;DB;"
        // its entry line, with an empty value.
        LookupCase{"EntryLineAtItsLimit",
                   "0;DB;\n1;LOGIN;" + std::string(390, 'A') + "\n" + kPassRecord, "tiger"},
        LookupCase{"EntryLineBeyondItsLimit",
                   "0;DB;\n1;LOGIN;" + std::string(391, 'A') + "\n" + kPassRecord, ""}),
    [](const ::testing::TestParamInfo<LookupCase>& info) { return info.param.name; });

TEST_F(ConfigReaderTest, EntryLineWithOneSemicolonHasAnEmptyKey) {
  const ConfigLookup lookup =
      read_config_value("", "", 0, write("0;DB;\n1;" + hex("scott") + "\n" + kPassRecord));
  EXPECT_EQ(lookup.key, "");
  EXPECT_EQ(lookup.number, 1);
  EXPECT_EQ(lookup.value, "scott");
}

TEST_F(ConfigReaderTest, EntryLineWithoutSemicolonReadsItsNumberFromTheWholeLine) {
  // A number at the start makes it a non-matching record; otherwise it matches with the whole
  // line, line end included, as its value.
  EXPECT_EQ(lookup("0;DB;\n12AB\n" + kPassRecord, "PASS"), "tiger");
  const ConfigLookup lookup =
      read_config_value("", "PASS", 0, write("0;DB;\nABCD\n" + kPassRecord));
  EXPECT_EQ(lookup.key, "");
  EXPECT_EQ(lookup.value, decrypt_hex_to_text("ABCD\n", kCredentialKey));
}

TEST_F(ConfigReaderTest, SemicolonsAfterTheKeyBelongToTheValue) {
  const std::string value = hex("scott").substr(0, 8) + ";" + hex("scott").substr(9);
  EXPECT_EQ(lookup("0;DB;\n1;LOGIN;" + value + "\n", "LOGIN"),
            decrypt_hex_to_text(value, kCredentialKey));
}

TEST_F(ConfigReaderTest, MatchesBySectionOrNumberArgumentToo) {
  const std::string path = write("0;APP;\n4;USER;" + hex("alice") + "\n" + kWellFormed);
  EXPECT_EQ(read_config_value("APP", "", 9, path).value, "alice");
  EXPECT_EQ(read_config_value("", "", 3, path).value, "orcl");
}

TEST_F(ConfigReaderTest, OverlongFieldsAreCutAtTheirLimits) {
  const std::string long_plain(104, 'p');  // 208 hex digits: cut to 200
  const std::string value = lookup("0;DB;\n1;LOGIN;" + hex(long_plain) + "\n", "LOGIN");
  EXPECT_EQ(value.substr(0, 96), long_plain.substr(0, 96));
  EXPECT_NE(value.substr(96, 8), long_plain.substr(96, 8));

  const ConfigLookup long_key =
      read_config_value("", std::string(200, 'K'), 0,
                        write("0;DB;\n1;" + std::string(201, 'K') + ";" + hex("x") + "\n"));
  EXPECT_EQ(long_key.value, "x");
}

TEST(FindNthCharTest, PositionOfTheNthOccurrence) {
  struct Case {
    const char* text;
    int n;
    int position;
  };
  const Case kCases[] = {
      {"", 1, -1},     {"abc", 1, -1},  {"a;b;c", 1, 1},
      {"a;b;c", 2, 3}, {"a;b;c", 3, 3},  // fewer than n: the last one
      {"a;b", 2, 1},   {";;", 2, 1},    {"a;b", 0, -1},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(find_nth_char(c.text, ';', c.n), c.position) << c.text << " " << c.n;
  }
}

TEST(CopySubstringTest, LengthRules) {
  struct Case {
    int start;
    int length;
    const char* expected;
  };
  const Case kCases[] = {
      {1, 2, "bc"},       {1, 0, "bc;d\n"},  // 0: to the end, line end included
      {0, 99, "abc;d\n"}, {6, 0, ""},       {9, 3, ""}, {2, -1, "kept"}, {-1, 2, "kept"},
  };
  for (const Case& c : kCases) {
    std::string target = "kept";
    copy_substring("abc;d\n", c.start, c.length, target);
    EXPECT_EQ(target, c.expected) << c.start << " " << c.length;
  }
}

TEST(ReadBoundedLineTest, CutsLongLinesAndTreatsCrLfAsOneLineEnd) {
  const std::string text = "abcdef\r\nxy\rz";
  std::size_t position = 0;
  std::string line;
  std::vector<std::string> lines;
  while (read_bounded_line(text, position, 4, line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"abc", "def", "\n", "xy\r", "z"}));
  EXPECT_EQ(position, text.size());
}

// The reader goes through a FileSystem: a file that cannot be read is a missing file.
TEST_F(ConfigReaderTest, UnreadableFileGivesEmptyResultsLikeAMissingOne) {
  const std::string path = write(kWellFormed);
  FailingFileSystem file_system;
  EXPECT_EQ(read_config_value("", "PASS", 0, path, file_system).value, "tiger");
  file_system.fail(FileOp::kRead, "velmarion.ini");
  const ConfigLookup failed = read_config_value("", "PASS", 0, path, file_system);
  EXPECT_EQ(failed.value, "");
  EXPECT_EQ(failed.key, "");
  EXPECT_FALSE(failed.file_read);
  EXPECT_EQ(read_config_value("", "PASS", 0, (dir_ / "missing.ini").string(), file_system).value,
            "");
}

}  // namespace
}  // namespace zarvelt
