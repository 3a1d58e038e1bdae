// The run record's JSON line, its texts escaped, appended in one write.
#include "driver/run_record.h"

#include <cstdio>
#include <ctime>
#include <memory>

#include "files/file_system.h"
#include "files/process.h"

namespace zarvelt {

namespace {

// Windows-1252's characters 0x80 to 0x9F (0: none there); the others are Latin-1's.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void append_string(std::string& out, std::string_view text) {
  out += '"';
  for (const char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else if (c >= 0x80 && c < 0xA0) {
      const char16_t mapped = kWindows1252High[c - 0x80];
      append_utf8(out, mapped != 0 ? mapped : 0xFFFD);
    } else {
      append_utf8(out, c);
    }
  }
  out += '"';
}

void field(std::string& out, std::string_view name) {
  if (out.size() > 1) out += ',';
  append_string(out, name);
  out += ':';
}

void text_field(std::string& out, std::string_view name, std::string_view value) {
  field(out, name);
  append_string(out, value);
}

void number_field(std::string& out, std::string_view name, std::int64_t value) {
  field(out, name);
  out += std::to_string(value);
}

}  // namespace

std::string run_record_json(const RunRecord& r) {
  std::string out = "{";
  text_field(out, "start", r.start);
  text_field(out, "end", r.end);
  number_field(out, "duration_ms", r.duration_ms);
  field(out, "check");
  out += r.check ? "true" : "false";
  text_field(out, "terminal", r.terminal);
  text_field(out, "source", r.source);
  text_field(out, "target1", r.target1);
  text_field(out, "target2", r.target2);
  text_field(out, "backend", r.backend);
  number_field(out, "lines_read", r.lines_read);
  field(out, "transferred");
  std::string transferred = "{";
  for (std::size_t kind = 0; kind < kBookingKinds.size(); ++kind) {
    number_field(transferred, kBookingKinds[kind].record_label, r.transferred[kind]);
  }
  out += transferred + "}";
  number_field(out, "lines_rejected", r.lines_rejected);
  field(out, "reject_file");
  if (r.reject_file.empty()) {
    out += "null";
  } else {
    append_string(out, r.reject_file);
  }
  number_field(out, "exit_status", r.exit_status);
  text_field(out, "reason", r.reason);
  if (r.duplicate_hint_refused != 0) {
    number_field(out, "duplicate_hint_refused", r.duplicate_hint_refused);
  }
  return out + "}\n";
}

bool append_run_record(const std::string& path, const RunRecord& record) {
  std::unique_ptr<File> file = real_file_system().open(path, OpenMode::kAppend);
  if (file == nullptr) return false;
  // One write of the whole line: appended, the system puts it at the end in one piece.
  const bool written = file->write(run_record_json(record));
  return file->close() && written;
}

std::string local_time_text(bool iso) {
  const std::tm local = local_time(std::time(nullptr));
  char text[32];
  std::strftime(text, sizeof text, iso ? "%Y-%m-%dT%H:%M:%S" : "%Y%m%d-%H%M%S", &local);
  return text;
}

}  // namespace zarvelt
