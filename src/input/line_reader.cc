#include "input/line_reader.h"

namespace zarvelt {

bool read_line_piece(std::FILE* file, std::string& piece) {
  piece.clear();
  int c;
  while (piece.size() < kLinePieceLength && (c = std::getc(file)) != EOF) {
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !piece.empty();
}

}  // namespace zarvelt
