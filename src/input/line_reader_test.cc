#include "input/line_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zarvelt {
namespace {

using ::testing::ElementsAre;

TEST(ReadLinePieceTest, ReadsAsFgetsWithA499ByteBuffer) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const std::string bytes = std::string(497, 'a') + "\n" +  // 498 with its LF: one piece
                            std::string(498, 'b') + "\n" +  // the LF comes as a piece alone
                            std::string(1000, 'c') + "\r\n" + "end";
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  std::vector<std::string> pieces;
  for (std::string piece; read_line_piece(file, piece);) pieces.push_back(piece);
  std::fclose(file);
  EXPECT_THAT(pieces, ElementsAre(std::string(497, 'a') + "\n", std::string(498, 'b'), "\n",
                                  std::string(498, 'c'), std::string(498, 'c'), "cccc\r\n", "end"));
}

}  // namespace
}  // namespace zarvelt
