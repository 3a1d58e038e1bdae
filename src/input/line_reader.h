// Reading the source file's booking lines.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace zarvelt {

// At most this many characters per read, the line's LF included when it fits; a longer line
// arrives in pieces, each handled as a line of its own.
inline constexpr std::size_t kLinePieceLength = 498;

// Reads the next piece of a line from a binary file as fgets with a 499-byte buffer would:
// up to and including LF, at most kLinePieceLength bytes. Returns false at the end of the
// file or on a read error with nothing read.
bool read_line_piece(std::FILE* file, std::string& piece);

}  // namespace zarvelt
