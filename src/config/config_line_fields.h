// Text helpers of the configuration reader: bounded line reads and the field rules of the
// section and entry lines. The rules are the reader's, odd corners included, because the files
// already in use were written against them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zarvelt {

// Reads the line of text that starts at position as a line read into a buffer of buffer_size
// bytes would: at most buffer_size - 1 characters, stopping after a line end; moves position
// past it. A CR LF pair counts as one line end "\n" on every platform. A longer line is cut; its
// remainder comes with the next read. The line ends at a zero byte, if it holds one. Returns
// false when nothing could be read (position at the end).
bool read_bounded_line(std::string_view text, std::size_t& position, std::size_t buffer_size,
                       std::string& line);

// The position of the n-th (from 1) occurrence of c in text; the last occurrence when there are
// fewer; -1 when there is none, the text is empty or n is less than 1.
int find_nth_char(std::string_view text, char c, int n);

// Copies length characters of text from start into target. Length 0 copies everything from
// start to the end of the text, line end included. A negative length (or start) leaves target
// as it was. Copying stops at the end of the text.
void copy_substring(std::string_view text, int start, int length, std::string& target);

}  // namespace zarvelt
